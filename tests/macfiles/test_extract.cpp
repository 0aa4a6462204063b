// Copying the files of an HFS volume (made and filled by hfsutils) to the PC
// in every form; the peers read what we write and the dates are the volume's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

#include "hfs/engine.h"
#include "hfs/macdate.h"
#include "hfs/mount.h"
#include "macfile_fixtures.h"
#include "macfiles/applesingle.h"
#include "macfiles/extract.h"
#include "macfiles/macbinary.h"
#include "macfiles/resfork.h"
#include "support/recording_ui.h"

using namespace testkit;

namespace {

struct MountedHfs {
  int fd = -1;
  PartitionListEntry list[k_max_partitions];
  int rc = -1;
  explicit MountedHfs(const std::string& img) {
    EXPECT_EQ(init_volume_engine(), 0);
    fd = ::open(img.c_str(), O_RDONLY);
    rc = open_image_volume(fd, 0, list);
  }
  ~MountedHfs() {
    close_image_volume();
    if (fd >= 0) ::close(fd);
  }
};

// An HFS volume with a file with both forks in the root, one in "Disk 1.2", and
// awkward names, put there by hfsutils from MacBinary files of ours.
struct Fixture {
  TempDir dir;
  std::string img;
  MacFile both = sample_mac_file("Report", 3000, 700, 31);
  MacFile inner = sample_mac_file("inner", 100, 0, 32);
  MacFile slash = sample_mac_file("a/b", 10, 0, 33);
  MacFile con = sample_mac_file("CON", 10, 0, 34);
  bool ok = false;
  Fixture() {
    img = make_hfs_volume(dir, "4M");
    // Within the last months, so that hls shows the time of day.
    both.modify_date = unix_to_mac_date(time(nullptr) - 30 * 86400 - 7 * 3600, true);
    std::memcpy(con.type.data(), "TEXT", 4);
    write_file(dir.path() / "both.bin", encode_macbinary(both));
    write_file(dir.path() / "inner.bin", encode_macbinary(inner));
    write_file(dir.path() / "slash.bin", encode_macbinary(slash));
    write_file(dir.path() / "con.bin", encode_macbinary(con));
    RunResult r = run("hmount " + quote(img) + " >/dev/null && hcopy -m " + quote(dir.str("both.bin")) + " : && hcopy -m " +
                      quote(dir.str("slash.bin")) + " : && hcopy -m " + quote(dir.str("con.bin")) +
                      " : && hmkdir ':Disk 1.2' && hcopy -m " + quote(dir.str("inner.bin")) + " ':Disk 1.2:'");
    ok = r.rc == 0;
  }
};

std::string local_minute(const fs::path& p) {
  struct stat st;
  stat(p.c_str(), &st);
  char buf[32];
  struct tm tm;
  localtime_r(&st.st_mtime, &tm);
  strftime(buf, sizeof buf, "%b %e %H:%M", &tm);
  return buf;
}

int extract_all(const std::string& img, const std::string& to, int method) {
  MountedHfs m(img);
  if (m.rc != 0) return -100;
  g_copy_method = method;
  g_extract = ExtractSession();
  return extract_folder_contents(2, to);
}

}  // namespace

TEST(Extract, DataForksNamesAndDates) {
  REQUIRE_TOOL("hcopy");
  Fixture fx;
  ASSERT_TRUE(fx.ok);
  recorded_ui().clear();
  TempDir out;
  ASSERT_EQ(extract_all(fx.img, out.str(), k_copy_data), 0);
  EXPECT_EQ(read_file(out.path() / "Report"), fx.both.data);
  EXPECT_EQ(read_file(out.path() / "Disk 1_2" / "inner"), fx.inner.data);
  EXPECT_EQ(read_file(out.path() / "a_b"), fx.slash.data);
  EXPECT_EQ(read_file(out.path() / "CON_"), fx.con.data);
  // The PC file's time is the volume's modification time, as hls shows it (local time).
  RunResult l = run("hmount " + quote(fx.img) + " >/dev/null && hls -l");
  std::string minute = local_minute(out.path() / "Report");
  EXPECT_NE(l.out.find(minute + " Report"), std::string::npos) << minute << "\n" << l.out;
}

TEST(Extract, ResourceForksAndMissingForkNotice) {
  REQUIRE_TOOL("hcopy");
  Fixture fx;
  ASSERT_TRUE(fx.ok);
  recorded_ui().clear();
  TempDir out;
  ASSERT_EQ(extract_all(fx.img, out.str(), k_copy_resource), 0);
  EXPECT_EQ(read_file(out.path() / "Report"), fx.both.resource);
  // The files without a resource fork are announced and skipped.
  EXPECT_FALSE(fs::exists(out.path() / "a_b"));
  EXPECT_FALSE(recorded_ui().messages.empty());
}

// One run treats alike every file with an empty fork, whatever the notice's
// box: an empty data fork is an empty PC file, as hcopy -r gives it; a file
// without a resource fork gives no resource file, said until the box is ticked.
TEST(Extract, EmptyForksAreTreatedAlikeForTheWholeRun) {
  REQUIRE_TOOL("hcopy");
  TempDir dir;
  std::string img = make_hfs_volume(dir);
  std::vector<MacFile> files = {sample_mac_file("Tool A", 0, 300, 41), sample_mac_file("Tool B", 0, 200, 42),
                                sample_mac_file("Text A", 50, 0, 43), sample_mac_file("Text B", 60, 0, 44)};
  std::string copy = "hmount " + quote(img) + " >/dev/null";
  for (size_t i = 0; i < files.size(); ++i) {
    std::string bin = dir.str("f" + std::to_string(i) + ".bin");
    write_file(bin, encode_macbinary(files[i]));
    copy += " && hcopy -m " + quote(bin) + " :";
  }
  copy += " && hcopy -r ':Tool A' " + quote(dir.str("peer"));
  ASSERT_EQ(run(copy).rc, 0);
  ASSERT_TRUE(fs::exists(dir.path() / "peer"));

  recorded_ui().clear();
  recorded_ui().answers = {1, 1, 1, 1};  // any notice shown is ticked
  TempDir data;
  ASSERT_EQ(extract_all(img, data.str(), k_copy_data), 0);
  EXPECT_TRUE(recorded_ui().messages.empty());
  for (const char* name : {"Tool A", "Tool B"}) {
    ASSERT_TRUE(fs::exists(data.path() / name)) << name;
    EXPECT_EQ(read_file(data.path() / name), read_file(dir.path() / "peer")) << name << ": an empty file";
  }
  EXPECT_EQ(read_file(data.path() / "Text B"), files[3].data);

  recorded_ui().clear();
  recorded_ui().answers = {1, 1, 1, 1};
  TempDir rsrc;
  ASSERT_EQ(extract_all(img, rsrc.str(), k_copy_resource), 0);
  EXPECT_EQ(recorded_ui().messages.size(), 1u) << "the notice until its box was ticked";
  EXPECT_FALSE(fs::exists(rsrc.path() / "Text A"));
  EXPECT_FALSE(fs::exists(rsrc.path() / "Text B")) << "the ticked box changes nothing of what is copied";
  EXPECT_EQ(read_file(rsrc.path() / "Tool B"), files[1].resource);
}

TEST(Extract, MacBinaryReadByPeers) {
  REQUIRE_TOOL("hcopy");
  REQUIRE_TOOL("macsave");
  Fixture fx;
  ASSERT_TRUE(fx.ok);
  TempDir out;
  ASSERT_EQ(extract_all(fx.img, out.str(), k_copy_macbinary), 0);
  MacFile back;
  ASSERT_EQ(decode_macbinary(read_file(out.path() / "Report"), back), 0);
  EXPECT_EQ(back.data, fx.both.data);
  EXPECT_EQ(back.resource, fx.both.resource);
  EXPECT_EQ(back.finder_flags & 0xFE00, fx.both.finder_flags & 0xFE00);
  RunResult i = run("macsave -i < " + quote(out.str("Report")));
  EXPECT_EQ(i.rc, 0);
  EXPECT_NE((i.out + i.err).find("type=APPL, author=ABCD, data=3000, rsrc=700"), std::string::npos) << i.err;
  // A data-only file ends padded after its data fork (and nothing else).
  EXPECT_EQ(fs::file_size(out.path() / "Disk 1_2" / "inner"), 256u);
}

TEST(Extract, AppleDoubleAndAppleSingleReadByGenisoimage) {
  REQUIRE_TOOL("hcopy");
  REQUIRE_TOOL("genisoimage");
  Fixture fx;
  ASSERT_TRUE(fx.ok);
  for (int method : {k_copy_appledouble, k_copy_applesingle}) {
    TempDir out;
    ASSERT_EQ(extract_all(fx.img, out.str(), method), 0);
    if (method == k_copy_appledouble) {
      EXPECT_EQ(read_file(out.path() / "Report"), fx.both.data);
      // A file without a resource fork still gets its companion with three entries.
      auto companion = read_file(out.path() / "._a_b");
      ASSERT_GE(companion.size(), 26u);
      EXPECT_EQ(companion[25], 3);
    }
    std::string iso = out.str() + ".iso";
    const char* opt = method == k_copy_appledouble ? "--osx-double" : "--single";
    RunResult g = run("genisoimage -quiet -hfs -part " + std::string(opt) + " -o " + quote(iso) + " " +
                      quote(out.str()) + " && hmount " + quote(iso) + " >/dev/null && hls -lR; rm -f " + quote(iso));
    ASSERT_EQ(g.rc, 0) << g.err;
    EXPECT_NE(g.out.find("APPL/ABCD       700      3000"), std::string::npos) << g.out;
    EXPECT_NE(g.out.find("APPL/ABCD         0       100"), std::string::npos) << g.out;
  }
}

TEST(Extract, ExistingFilesAskBeforeReplacing) {
  REQUIRE_TOOL("hcopy");
  Fixture fx;
  ASSERT_TRUE(fx.ok);
  TempDir out;
  write_text(out.path() / "Report", "keep me");
  recorded_ui().clear();
  recorded_ui().answers = {0, 0, 0, 0, 0};  // No
  ASSERT_EQ(extract_all(fx.img, out.str(), k_copy_data), 0);
  EXPECT_EQ(read_text(out.path() / "Report"), "keep me");
  recorded_ui().clear();
  recorded_ui().answers = {1, 1, 1, 1, 1};  // Yes to each
  ASSERT_EQ(extract_all(fx.img, out.str(), k_copy_data), 0);
  EXPECT_EQ(read_file(out.path() / "Report"), fx.both.data);
  // A link in the way is replaced, never written through.
  TempDir other;
  write_text(other.path() / "target", "outside");
  fs::remove(out.path() / "Report");
  fs::create_symlink(other.path() / "target", out.path() / "Report");
  recorded_ui().clear();
  recorded_ui().answers = {1, 1, 1, 1, 1};
  ASSERT_EQ(extract_all(fx.img, out.str(), k_copy_data), 0);
  EXPECT_EQ(read_text(other.path() / "target"), "outside");
  EXPECT_FALSE(fs::is_symlink(out.path() / "Report"));
}

TEST(Extract, PcNames) {
  EXPECT_EQ(pc_name_for_mac_name("a:b*c?", "TEXT????", 0), "a_b_c_");
  EXPECT_EQ(pc_name_for_mac_name("..", "TEXT????", 0), "_..");
  EXPECT_EQ(pc_name_for_mac_name("  padded  ", "TEXT????", 0), "padded");
  EXPECT_EQ(pc_folder_name_for_mac_name("Disk 1.2"), "Disk 1_2");
  EXPECT_EQ(pc_name_for_mac_name("LPT1", "TEXT????", 0), "LPT1_");
}

TEST(Extract, NamedStreams) {
  REQUIRE_TOOL("hcopy");
  REQUIRE_TOOL("getfattr");
  Fixture fx;
  ASSERT_TRUE(fx.ok);
  TempDir out;
  ASSERT_EQ(extract_all(fx.img, out.str(), k_copy_streams), 0);
  EXPECT_EQ(read_file(out.path() / "Report"), fx.both.data);
  RunResult g = run("getfattr --only-values -n user.AFP_Resource " + quote(out.str("Report")));
  if (g.rc != 0) GTEST_SKIP() << "no user xattrs here";
  EXPECT_EQ(std::vector<uint8_t>(g.out.begin(), g.out.end()), fx.both.resource);
  RunResult i = run("getfattr --only-values -n user.AFP_AfpInfo " + quote(out.str("Report")) + " | head -c 24 | tail -c 8");
  EXPECT_EQ(i.out, "APPLABCD");
}

TEST(Extract, FontSuitcaseBecomesTrueType) {
  REQUIRE_TOOL("hcopy");
  REQUIRE_TOOL("fontforge");
  REQUIRE_TOOL("fondu");
  TempDir dir;
  write_text(dir.path() / "mk.py",
             "import fontforge\nf = fontforge.font()\nf.fontname = 'TinyMono'; f.familyname = 'Tiny Mono';"
             " f.fullname = 'Tiny Mono'\nf.encoding = 'mac'\nfor c in range(0x41, 0x44):\n    g = f.createChar(c)\n"
             "    p = g.glyphPen(); p.moveTo((100,0)); p.lineTo((100,700)); p.lineTo((500,0)); p.closePath()\n"
             "    g.width = 600\nf.generate('tiny.ttf.bin')\n");
  ASSERT_EQ(run("cd " + quote(dir.str()) + " && fontforge -lang=py -script mk.py && fondu -force tiny.ttf.bin").rc, 0);
  std::string img = make_hfs_volume(dir, "2M");
  ASSERT_EQ(run("hmount " + quote(img) + " >/dev/null && hcopy -m " + quote(dir.str("tiny.ttf.bin")) + " :suitcase").rc, 0);
  TempDir out;
  ASSERT_EQ(extract_all(img, out.str(), k_copy_data | 0x100), 0);
  std::vector<uint8_t> expected;
  for (auto& e : fs::directory_iterator(dir.path()))
    if (e.path().extension() == ".ttf") expected = read_file(e.path());
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(read_file(out.path() / "Tiny Mono.ttf"), expected);
}

// A font whose converted file cannot be written stops the copy and says why
// (here the target is a file, not a folder): it used to count as copied.
TEST(Extract, FontThatCannotBeWrittenStopsTheCopy) {
  REQUIRE_TOOL("hcopy");
  TempDir dir;
  MacFile font = sample_mac_file("Big Font", 0, 0, 35);
  std::memcpy(font.type.data(), "FFIL", 4);
  NewResource sfnt;
  std::memcpy(sfnt.type.data(), "sfnt", 4);
  sfnt.id = 1;
  sfnt.data = random_bytes(4096, 36);
  font.resource = encode_resource_fork({sfnt});
  write_file(dir.path() / "font.bin", encode_macbinary(font));
  std::string img = make_hfs_volume(dir, "2M");
  ASSERT_EQ(run("hmount " + quote(img) + " >/dev/null && hcopy -m " + quote(dir.str("font.bin")) + " :").rc, 0);
  TempDir out;
  write_text(out.path() / "target", "kept");
  recorded_ui().clear();
  EXPECT_NE(extract_all(img, out.str("target"), k_copy_data | 0x100), 0);
  ASSERT_EQ(recorded_ui().messages.size(), 1u);
  EXPECT_EQ(recorded_ui().messages[0].rfind("Err. ", 0), 0u) << recorded_ui().messages[0];
  EXPECT_EQ(read_text(out.path() / "target"), "kept");
}
