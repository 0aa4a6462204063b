#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "IO/fileio.h"
#include "IO/uitext.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using testkit::TempDir;

namespace {

struct Language {
  int saved = g_language_offset;
  explicit Language(int offset) { g_language_offset = offset; }
  ~Language() { g_language_offset = saved; }
};

std::string size_text(uint64_t n) {
  char buf[k_size_text];
  return format_size_mb(n, buf);
}

int open_file(const std::string& p, int flags = O_RDWR) { return open(p.c_str(), flags | O_CLOEXEC, 0644); }

}  // namespace

TEST(SizeTexts, MegabytesInBothLanguages) {
  Language en(0);
  EXPECT_EQ(size_text(0), "0.000MB");
  EXPECT_EQ(size_text(1), "0.001MB");  // non-zero never shows as zero
  EXPECT_EQ(size_text(1572864), "1.512MB");
  EXPECT_EQ(size_text(5ull << 30), "5,120.000MB");
  EXPECT_EQ(size_text((1ull << 20) - 1), "0.999MB");  // 1023 KiB is capped at 999
  EXPECT_EQ(size_text(UINT64_MAX), "17,592,186,044,415.999MB");
  Language fr(10000);
  EXPECT_EQ(size_text(1572864), "1,512 Mo");
  EXPECT_EQ(size_text(5ull << 30), "5 120,000 Mo");
}

TEST(SizeTexts, GroupedDigits) {
  char buf[k_size_text];
  {
    Language en(0);
    EXPECT_STREQ(format_grouped_u32(1234567, buf), "1,234,567");
    EXPECT_STREQ(format_grouped_u32(999, buf), "999");
    EXPECT_STREQ(format_grouped_u32(1000, buf), "1,000");
    EXPECT_STREQ(format_grouped_u32(0, buf), "0");
    EXPECT_STREQ(format_grouped_u64(18446744073709551615ull, buf), "18,446,744,073,709,551,615");
  }
  Language fr(10000);
  EXPECT_STREQ(format_grouped_u32(1234567, buf), "1 234 567");
  EXPECT_STREQ(format_hex_grouped(74565, buf), "1 2345");
  EXPECT_STREQ(format_hex_grouped(0xabcd, buf), "abcd");
  EXPECT_STREQ(format_hex_grouped(0, buf), "0");
  EXPECT_STREQ(format_hex_grouped(UINT64_MAX, buf), "ffff ffff ffff ffff");
}

TEST(SystemError, TextAndReport) {
  char buf[k_text_size];
  EXPECT_EQ(std::string(format_system_error(ENOENT, buf)),
            "Err. 2 [0x2] : " + std::string(strerror(ENOENT)));
  EXPECT_STREQ(format_system_error(123456, buf), "Err. 123456 [0x1e240]");
  recorded_ui().clear();
  errno = 0;
  EXPECT_EQ(show_system_error(0), 0u);
  EXPECT_TRUE(recorded_ui().messages.empty());
  errno = ENOSPC;
  EXPECT_EQ(show_system_error(0), static_cast<uint32_t>(ENOSPC));
  ASSERT_EQ(recorded_ui().messages.size(), 1u);
  EXPECT_EQ(recorded_ui().messages[0].rfind("Err. 28 [0x1c] : ", 0), 0u);
}

TEST(LineReading, EveryLineEndAndNoOverrun) {
  TempDir dir;
  testkit::write_text(dir.str("t"), "one\r\ntwo\nthree\rfour\n\rfive\n\nsix\n");
  int fd = open_file(dir.str("t"), O_RDONLY);
  ASSERT_GE(fd, 0);
  std::vector<std::string> lines;
  char buf[64];
  while (io_read_line(buf, sizeof buf, fd)) lines.push_back(buf);
  EXPECT_EQ(lines, (std::vector<std::string>{"one\r\n", "two\n", "three\r", "four\n\r", "five\n", "\n", "six\n"}));
  EXPECT_EQ(io_read_line(buf, 1, fd), nullptr);
  close(fd);

  // Tight buffers: the terminator always stays inside, nothing is lost but a
  // pair's second byte when there is no room for it.
  testkit::write_text(dir.str("u"), "ab\r\nc");
  fd = open_file(dir.str("u"), O_RDONLY);
  std::vector<char> tight(2);  // exact size, so ASan sees any overrun
  std::vector<std::string> parts;
  while (io_read_line(tight.data(), 2, fd)) parts.push_back(tight.data());
  EXPECT_EQ(parts, (std::vector<std::string>{"a", "b", "\r", "c"}));
  close(fd);
}

TEST(Positions, SeekSizeAndSetSize) {
  TempDir dir;
  int fd = open_file(dir.str("f"), O_RDWR | O_CREAT);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(io_write_text("hello world", fd), 11u);
  EXPECT_EQ(io_size(fd), 11u);
  EXPECT_EQ(io_seek(fd, 6, 0), 6);
  ASSERT_TRUE(io_set_size(fd, 8ull << 30));  // beyond 4 GiB: 64-bit sizes
  EXPECT_EQ(io_tell(fd), 6);                 // kept: it lay below the new size
  EXPECT_EQ(io_seek(fd, -1, 2), static_cast<int64_t>((8ull << 30) - 1));
  ASSERT_TRUE(io_set_size(fd, 4));
  EXPECT_EQ(io_tell(fd), 4);  // was past the new end: left at the end
  auto r = testkit::run("stat -c %s " + testkit::quote(dir.str("f")));
  EXPECT_EQ(r.out, "4\n");
  EXPECT_EQ(io_rewind(fd), 0);
  char buf[8] = {};
  EXPECT_EQ(io_read(buf, 1, 4, fd), 1u);  // size 1, count 4: "all of it"
  EXPECT_STREQ(buf, "hell");
  EXPECT_EQ(io_read_byte(fd), -1);
  EXPECT_EQ(io_seek(fd, 0, 7), -1);
  close(fd);
  EXPECT_EQ(io_size(-1), UINT64_MAX);
}

TEST(MoveTail, BothDirectionsOverlapping) {
  TempDir dir;
  std::vector<uint8_t> data = testkit::random_bytes(3 << 20, 11);  // several 1 MiB chunks
  for (bool forward : {true, false}) {
    testkit::write_file(dir.path() / "m", data);
    int fd = open_file(dir.str("m"));
    uint64_t from = forward ? 1000 : 700000, to = forward ? 700000 : 1000;
    ASSERT_EQ(io_move_tail(fd, to, from), 0);
    close(fd);
    std::vector<uint8_t> got = testkit::read_file(dir.path() / "m");
    std::vector<uint8_t> tail(data.begin() + from, data.end());
    ASSERT_GE(got.size(), to + tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), got.begin() + to)) << "forward " << forward;
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + std::min(from, to), got.begin()));
  }
}

TEST(FindText, AcrossReadBoundariesAndNotFound) {
  TempDir dir;
  std::string body(200000, 'x');
  body.replace(65530, 6, "<data>");  // straddles the 64 KiB read boundary
  body.replace(150000, 6, "<data>");
  testkit::write_text(dir.str("p"), body);
  int fd = open_file(dir.str("p"), O_RDONLY);
  EXPECT_EQ(io_find_text(fd, "<data>"), 65530);
  EXPECT_EQ(io_tell(fd), 65530);
  ASSERT_EQ(io_seek(fd, 1, 1), 65531);
  EXPECT_EQ(io_find_text(fd, "<data>"), 150000);
  ASSERT_EQ(io_seek(fd, 1, 1), 150001);
  EXPECT_EQ(io_find_text(fd, "<data>"), 0);
  EXPECT_EQ(io_tell(fd), 200000);
  close(fd);
}

TEST(Copy, ShortInputStopsWithSuccessAndCount) {
  TempDir dir;
  std::vector<uint8_t> data = testkit::random_bytes(300000, 5);
  testkit::write_file(dir.path() / "in", data);
  int in = open_file(dir.str("in"), O_RDONLY);
  int out = open_file(dir.str("out"), O_RDWR | O_CREAT | O_TRUNC);
  uint64_t copied = 0;
  EXPECT_EQ(io_copy(in, out, 10u << 20, &copied), 0);
  EXPECT_EQ(copied, data.size());
  close(in);
  close(out);
  EXPECT_EQ(testkit::read_file(dir.path() / "out"), data);
}

TEST(Copy, FullDiskFails) {
  TempDir dir;
  testkit::write_file(dir.path() / "in", testkit::random_bytes(5 << 20, 9));
  int in = open_file(dir.str("in"), O_RDONLY);
  int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  EXPECT_EQ(io_copy(in, full, 5 << 20), -1);
  // Zeros too: no hole may be faked on a device.
  int zero = open("/dev/zero", O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(io_copy(zero, full, 1 << 20), -1);
  EXPECT_EQ(io_write("abc", 3, 1, full), 0u);
  EXPECT_EQ(io_write_text("abc", full), 0u);
  close(zero);
  close(full);
  close(in);
}

// Every byte of two files, read only where either has data (SEEK_DATA), so a
// sparse file of several GiB compares in well under a second.
const char* k_compare_sparse = R"PY(
import os, sys
a, b = sys.argv[1], sys.argv[2]
fa, fb = os.open(a, os.O_RDONLY), os.open(b, os.O_RDONLY)
size = os.fstat(fa).st_size
assert size == os.fstat(fb).st_size, "sizes differ"
def segments(fd):
    pos = 0
    while pos < size:
        try:
            d = os.lseek(fd, pos, os.SEEK_DATA)
        except OSError:
            return
        h = os.lseek(fd, d, os.SEEK_HOLE)
        yield d, h
        pos = h
for fd in (fa, fb):
    for d, h in list(segments(fd)):
        while d < h:
            n = min(h - d, 1 << 20)
            if os.pread(fa, n, d) != os.pread(fb, n, d):
                sys.exit("differ near %d" % d)
            d += n
)PY";

TEST(Copy, LargeSparseFileComparesEqual) {
  TempDir dir;
  std::string in = dir.str("sparse"), out = dir.str("copy");
  // 4.5 GiB, mostly hole, with data at the start, across 4 GiB and at the end.
  auto r = testkit::run("truncate -s 4608M " + testkit::quote(in) +
                        " && printf start | dd of=" + testkit::quote(in) + " conv=notrunc status=none" +
                        " && head -c 100000 /dev/urandom | dd of=" + testkit::quote(in) +
                        " bs=1 seek=4294917296 conv=notrunc status=none" +
                        " && printf end | dd of=" + testkit::quote(in) + " bs=1 seek=4831838205 conv=notrunc status=none");
  ASSERT_EQ(r.rc, 0) << r.err;
  int fi = open_file(in, O_RDONLY);
  int fo = open_file(out, O_RDWR | O_CREAT | O_TRUNC);
  recorded_ui().clear();
  uint64_t copied = 0;
  ASSERT_EQ(io_copy(fi, fo, 4608ull << 20, &copied), 0);
  EXPECT_EQ(copied, 4608ull << 20);
  EXPECT_EQ(io_tell(fo), static_cast<int64_t>(4608ull << 20));
  close(fi);
  close(fo);
  testkit::write_text(dir.path() / "cmp.py", k_compare_sparse);
  auto c = testkit::run("python3 " + testkit::quote(dir.str("cmp.py")) + " " + testkit::quote(in) + " " + testkit::quote(out));
  EXPECT_EQ(c.rc, 0) << c.out << c.err;
  // cmp over the part that crosses 4 GiB, to the end.
  c = testkit::run("cmp -i 4290000000 " + testkit::quote(in) + " " + testkit::quote(out));
  EXPECT_EQ(c.rc, 0) << c.out << c.err;
}

TEST(Copy, SparseIntoTheMiddleOfAFileWritesZeros) {
  TempDir dir;
  std::string in = dir.str("in"), out = dir.str("out");
  // 40 MiB: data, a 30 MiB hole, data; copied over a file full of 0xFF bytes,
  // where the hole must overwrite, not be skipped.
  auto r = testkit::run("truncate -s 40M " + testkit::quote(in) + " && head -c 1000000 /dev/urandom | dd of=" +
                        testkit::quote(in) + " conv=notrunc status=none && head -c 1000000 /dev/urandom | dd of=" +
                        testkit::quote(in) + " bs=1M seek=35 conv=notrunc status=none" +
                        " && head -c 50M /dev/zero | tr '\\0' '\\377' > " + testkit::quote(out));
  ASSERT_EQ(r.rc, 0) << r.err;
  int fi = open_file(in, O_RDONLY);
  int fo = open_file(out);
  ASSERT_EQ(io_seek(fo, 5 << 20, 0), 5 << 20);
  ASSERT_EQ(io_copy(fi, fo, 40 << 20), 0);
  close(fi);
  close(fo);
  auto c = testkit::run("cmp -i 0:5242880 -n 41943040 " + testkit::quote(in) + " " + testkit::quote(out));
  EXPECT_EQ(c.rc, 0) << c.out << c.err;
  EXPECT_EQ(testkit::run("stat -c %s " + testkit::quote(out)).out, "52428800\n");
}
