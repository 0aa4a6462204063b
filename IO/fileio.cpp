#include "IO/fileio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "IO/linereader.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "platform/files.h"

int64_t io_seek(io_handle h, int64_t offset, int origin) {
  int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : -1;
  if (whence < 0) {
    errno = EINVAL;
    return -1;
  }
  off_t r = lseek(h, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

int64_t io_rewind(io_handle h) { return io_seek(h, 0, 0); }

int64_t io_tell(io_handle h) { return io_seek(h, 0, 1); }

uint64_t io_size(io_handle h) {
  int64_t n = descriptor_size(h);
  return n < 0 ? UINT64_MAX : static_cast<uint64_t>(n);
}

uint64_t io_descriptor_size(int fd) { return io_size(fd); }

bool io_flush(io_handle h) { return sync_descriptor(h) == 0; }

uint32_t io_read(void* buf, uint32_t size, uint32_t count, io_handle h) {
  if (count == 0) return 0;
  uint64_t want = static_cast<uint64_t>(size) * count;
  int64_t got = read_full(h, buf, static_cast<size_t>(want));
  if (got <= 0) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(got) / count);
}

uint32_t io_write(const void* buf, uint32_t size, uint32_t count, io_handle h) {
  if (count == 0) return 0;
  uint64_t want = static_cast<uint64_t>(size) * count;
  // A write goes through completely or counts as not done: a partial item
  // count would let a full disk pass for a shorter success.
  if (write_full(h, buf, static_cast<size_t>(want)) != 0) return 0;
  return static_cast<uint32_t>(want / count);
}

int io_read_byte(io_handle h) {
  unsigned char c;
  for (;;) {
    ssize_t r = read(h, &c, 1);
    if (r == 1) return c;
    if (r < 0 && errno == EINTR) continue;
    return -1;
  }
}

char* io_read_line(char* buf, int size, io_handle h) {
  // The byte after a CR that is no LF is stepped back over: a file that gave
  // it can always go back one byte (a pipe cannot, and loses it).
  return read_line_with(buf, size, [h] { return io_read_byte(h); }, [h](int) { (void)io_seek(h, -1, 1); });
}

uint32_t io_write_text(const char* text, io_handle h) {
  size_t n = strlen(text);
  if (n == 0) return 0;
  return write_full(h, text, n) == 0 ? static_cast<uint32_t>(n) : 0;
}

bool io_set_size(io_handle h, uint64_t size) {
  int64_t pos = io_tell(h);
  if (set_file_size(h, size) != 0) return false;
  if (pos >= 0 && static_cast<uint64_t>(pos) < size) return io_seek(h, pos, 0) >= 0;
  return io_seek(h, static_cast<int64_t>(size), 0) >= 0;
}

int io_move_tail(io_handle h, uint64_t to, uint64_t from) {
  if (to == from) return 0;
  int64_t end = descriptor_size(h);
  if (end < 0) return -1;
  if (from >= static_cast<uint64_t>(end)) return 0;
  const size_t chunk = 1 << 20;
  std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[chunk]);
  if (!buf) return -1;
  uint64_t total = static_cast<uint64_t>(end) - from;
  if (to < from) {
    // Towards the start: front to back never overwrites what is still to be read.
    for (uint64_t done = 0; done < total;) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(chunk, total - done));
      if (pread_full(h, buf.get(), n, from + done) != static_cast<int64_t>(n)) return -1;
      if (pwrite_full(h, buf.get(), n, to + done) != 0) return -1;
      done += n;
    }
  } else {
    // Towards the end: back to front, for the same reason.
    for (uint64_t left = total; left > 0;) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(chunk, left));
      left -= n;
      if (pread_full(h, buf.get(), n, from + left) != static_cast<int64_t>(n)) return -1;
      if (pwrite_full(h, buf.get(), n, to + left) != 0) return -1;
    }
  }
  return 0;
}

namespace {

size_t copy_chunk_for(uint64_t count) {
  if (count > 8u << 20) return 3u << 20;
  if (count > 4u << 20) return 2u << 20;
  if (count > 1u << 20) return 1u << 20;
  if (count > 0x80000) return 512u << 10;
  return 256u << 10;
}

bool all_zero(const uint8_t* p, size_t n) {
  if (n == 0) return true;
  if (p[0] != 0) return false;
  return memcmp(p, p + 1, n - 1) == 0;
}

}  // namespace

namespace {

// Bytes from the current position of a plain file that are known to be a hole
// (read as zeros); 0 when data is there or the system cannot tell. The
// position is left where it was.
uint64_t hole_ahead(int fd, uint64_t limit) {
  off_t here = lseek(fd, 0, SEEK_CUR);
  if (here < 0) return 0;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || here >= st.st_size) return 0;
  off_t data = lseek(fd, here, SEEK_DATA);
  uint64_t hole = 0;
  if (data < 0 && errno == ENXIO) hole = static_cast<uint64_t>(st.st_size - here);  // hole to the end
  else if (data > here) hole = static_cast<uint64_t>(data - here);
  lseek(fd, here, SEEK_SET);
  return std::min(hole, limit);
}

}  // namespace

int io_copy(io_handle in, io_handle out, uint64_t count, uint64_t* copied) {
  if (copied) *copied = 0;
  if (count == 0) return 0;
  const size_t chunk = copy_chunk_for(count);
  std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[chunk]);
  if (!buf) return -1;
  int64_t out_pos = io_tell(out);
  int64_t out_end = descriptor_size(out);
  struct stat st {};
  // Holes may only be left in a plain file, where the output has no bytes yet.
  const bool can_skip = out_pos >= 0 && out_end >= 0 && fstat(out, &st) == 0 && S_ISREG(st.st_mode);
  uint64_t pos = can_skip ? static_cast<uint64_t>(out_pos) : 0;
  const uint64_t end = can_skip ? static_cast<uint64_t>(out_end) : 0;
  bool hole_pending = false;
  const bool progress = count / chunk > 10;
  if (progress) show_progress_bar(static_cast<int>(std::min<uint64_t>(count / chunk + 1, INT32_MAX)));
  int result = 0;
  uint64_t remaining = count;
  uint64_t stepped = 0;  // bytes covered by the progress steps shown
  int step = 0;
  while (remaining > 0) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(chunk, remaining));
    size_t n = 0;
    bool zeros = false;
    if (uint64_t hole = hole_ahead(in, remaining); hole > 0) {
      // A hole of the input: no need to read it.
      if (io_seek(in, static_cast<int64_t>(hole), 1) < 0) {
        result = -1;
        break;
      }
      n = static_cast<size_t>(std::min<uint64_t>(hole, SIZE_MAX));
      zeros = true;
    } else {
      int64_t got = read_full(in, buf.get(), want);
      if (got < 0) {
        result = -1;
        break;
      }
      if (got == 0) break;  // end of the input
      n = static_cast<size_t>(got);
      zeros = all_zero(buf.get(), n);
    }
    if (zeros && can_skip && pos >= end) {
      if (io_seek(out, static_cast<int64_t>(n), 1) < 0) {
        result = -1;
        break;
      }
      hole_pending = true;
    } else if (zeros && n > want) {
      // A long hole written out where the output already holds bytes.
      memset(buf.get(), 0, chunk);
      for (size_t left = n; left > 0;) {
        size_t k = std::min(left, chunk);
        if (write_full(out, buf.get(), k) != 0) {
          result = -1;
          break;
        }
        left -= k;
      }
      if (result != 0) break;
      hole_pending = false;
    } else {
      if (zeros && n <= want) memset(buf.get(), 0, n);
      if (write_full(out, buf.get(), n) != 0) {
        result = -1;
        break;
      }
      hole_pending = false;
    }
    pos += n;
    remaining -= n;
    if (copied) *copied += n;
    if (progress) {
      for (stepped += n; stepped >= chunk; stepped -= chunk) step_progress_bar(++step);
    }
    if (!zeros && n < want) break;  // the input ended inside this chunk
  }
  // A copy that ends in a hole must still give the file its full length.
  if (result == 0 && hole_pending && pos > end) {
    if (set_file_size(out, pos) != 0) result = -1;
  }
  if (progress) hide_progress_bar();
  return result;
}

int64_t io_find_text(io_handle h, const char* text) {
  const size_t len = text ? strlen(text) : 0;
  int64_t start = io_tell(h);
  if (len == 0 || start < 0) return 0;
  const size_t chunk = 64 * 1024;
  std::vector<uint8_t> buf(chunk + len);
  uint64_t base = static_cast<uint64_t>(start);  // file offset of buf[0]
  size_t have = 0;
  for (;;) {
    int64_t got = pread_full(h, buf.data() + have, chunk, base + have);
    if (got < 0) break;
    have += static_cast<size_t>(got);
    auto hit = std::search(buf.begin(), buf.begin() + have, text, text + len);
    if (hit != buf.begin() + have) {
      int64_t at = static_cast<int64_t>(base + (hit - buf.begin()));
      return io_seek(h, at, 0);  // -1 when the position cannot be set there
    }
    if (got == 0) break;
    // Keep the last len - 1 bytes: a match may straddle two reads.
    size_t keep = std::min(have, len - 1);
    memmove(buf.data(), buf.data() + have - keep, keep);
    base += have - keep;
    have = keep;
  }
  // Not found whatever the position: left at the end when it can be.
  (void)io_seek(h, 0, 2);
  return 0;
}

namespace {

std::string grouped(uint64_t value) {
  const char* sep = g_language_offset ? " " : ",";
  std::string digits = std::to_string(value);
  std::string out;
  size_t lead = digits.size() % 3;
  if (lead == 0) lead = 3;
  out.append(digits, 0, lead);
  for (size_t i = lead; i < digits.size(); i += 3) {
    out += sep;
    out.append(digits, i, 3);
  }
  return out;
}

char* copy_out(const std::string& s, char* out) {
  size_t n = std::min(s.size(), static_cast<size_t>(k_size_text - 1));
  memcpy(out, s.data(), n);
  out[n] = '\0';
  return out;
}

}  // namespace

char* format_size_mb(uint64_t bytes, char* out) {
  uint64_t mb = bytes >> 20;
  unsigned long rest = static_cast<unsigned long>((bytes >> 10) & 1023);
  if (rest > 999) rest = 999;
  if (bytes != 0 && mb == 0 && rest == 0) rest = 1;
  std::string format = ui_text(1201);
  if (format.empty()) format = "%s.%03luMB";
  return copy_out(format_text(format.c_str(), grouped(mb).c_str(), rest), out);
}

char* format_grouped_u32(uint32_t value, char* out) { return copy_out(grouped(value), out); }

char* format_grouped_u64(uint64_t value, char* out) { return copy_out(grouped(value), out); }

char* format_hex_grouped(uint64_t value, char* out) {
  char hex[17];
  snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(value));
  std::string digits = hex, s;
  size_t lead = digits.size() % 4;
  if (lead == 0) lead = 4;
  s.append(digits, 0, lead);
  for (size_t i = lead; i < digits.size(); i += 4) {
    s += ' ';
    s.append(digits, i, 4);
  }
  return copy_out(s, out);
}

char* format_system_error(uint32_t code, char* out) {
  char text[200];
  const char* msg = strerror_r(static_cast<int>(code), text, sizeof text);
  std::string s;
  bool known = msg && *msg && strncmp(msg, "Unknown error", 13) != 0;
  if (known) s = format_text("Err. %d [0x%x] : %s", static_cast<int>(code), code, msg);
  else s = format_text("Err. %d [0x%x]", static_cast<int>(code), code);
  size_t n = std::min(s.size(), static_cast<size_t>(k_text_size - 1));
  memcpy(out, s.data(), n);
  out[n] = '\0';
  return out;
}

uint32_t show_system_error(uint32_t code) {
  if (code == 0) code = static_cast<uint32_t>(errno);
  if (code == 0) return 0;
  char text[k_text_size];
  show_message(format_system_error(code, text));
  return code;
}
