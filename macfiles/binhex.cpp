#include "macfiles/binhex.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>

#include "IO/bigendian.h"
#include "macfiles/macbinary.h"
#include "platform/files.h"

const char k_binhex_banner[] = "This file must be converted with BinHex 4.0";

namespace {

const char k_alphabet[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";

struct AlphabetIndex {
  int8_t v[256];
  AlphabetIndex() {
    std::memset(v, -1, sizeof v);
    for (int i = 0; i < 64; ++i) v[uint8_t(k_alphabet[i])] = int8_t(i);
  }
};
const AlphabetIndex k_index;

uint16_t crc16_update(uint16_t crc, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    crc ^= uint16_t(p[i] << 8);
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? uint16_t(crc << 1 ^ 0x1021) : uint16_t(crc << 1);
  }
  return crc;
}

// Text -> 6-bit groups -> bytes -> run-length expansion -> parsed fields.
// Each stage pushes into the next; the parser hands out header and fork bytes.
class BinHexReader {
 public:
  // Called once with the header, then with fork bytes (fork 0 data, 1 resource).
  std::function<int(const BinHexHeader&)> on_header;
  std::function<int(int fork, const uint8_t*, size_t)> on_fork;
  // Set to stop after the header.
  bool header_only = false;

  // 0 go on, negative stop with that code, k_binhex_finished.
  int feed(const uint8_t* text, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      uint8_t c = text[i];
      if (state_ == kDone) return k_binhex_finished;
      if (state_ == kBeforeStart) {
        // The encoded text opens with a ':' at the start of a line; one
        // inside the banner or a mail header line does not count.
        if (c == ':' && line_start_) state_ = kBody;
        line_start_ = c == '\r' || c == '\n';
        continue;
      }
      if (c == ':') {
        if (!seen_chars_) continue;  // ":" right after the opening one
        state_ = kDone;
        return k_binhex_finished;
      }
      if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
      int v = k_index.v[c];
      if (v < 0) return k_format_damaged;
      seen_chars_ = true;
      bits_ = bits_ << 6 | unsigned(v);
      nbits_ += 6;
      if (nbits_ >= 8) {
        nbits_ -= 8;
        int rc = expand(uint8_t(bits_ >> nbits_));
        if (rc) return rc;
        if (done_) { state_ = kDone; return k_binhex_finished; }
      }
    }
    return 0;
  }
  bool started() const { return state_ != kBeforeStart; }
  bool complete() const { return done_; }

 private:
  int expand(uint8_t b) {
    if (marker_) {
      marker_ = false;
      if (b == 0) { last_ = 0x90; have_last_ = true; return parse(0x90); }
      if (!have_last_) return k_format_damaged;
      for (int k = 1; k < b; ++k) {
        int rc = parse(last_);
        if (rc || done_) return rc;
      }
      return 0;
    }
    if (b == 0x90) { marker_ = true; return 0; }
    last_ = b;
    have_last_ = true;
    return parse(b);
  }

  // The decoded byte stream: header, data, CRC, resource, CRC.
  int parse(uint8_t b) {
    switch (part_) {
      case kHeader: {
        hbuf_.push_back(b);
        size_t name_length = hbuf_[0];
        if (name_length > 63) return k_format_damaged;
        if (hbuf_.size() < 1 + name_length + 1 + 4 + 4 + 2 + 4 + 4 + 2) return 0;
        const uint8_t* p = hbuf_.data() + 1 + name_length;
        header_.name.assign(reinterpret_cast<const char*>(hbuf_.data() + 1), name_length);
        header_.version = p[0];
        std::memcpy(header_.type.data(), p + 1, 4);
        std::memcpy(header_.creator.data(), p + 5, 4);
        header_.finder_flags = get_be16(p + 9);
        header_.data_length = get_be32(p + 11);
        header_.resource_length = get_be32(p + 15);
        header_.header_crc = get_be16(p + 19);
        if (crc16_update(0, hbuf_.data(), hbuf_.size() - 2) != header_.header_crc) return k_format_damaged;
        int rc = on_header ? on_header(header_) : 0;
        if (rc) return rc;
        if (header_only) { done_ = true; return 0; }
        part_ = kFork;
        fork_ = 0;
        remaining_ = header_.data_length;
        crc_ = 0;
        return remaining_ ? 0 : end_fork();
      }
      case kFork: {
        // Bytes arrive one at a time from the expander; gather them.
        chunk_.push_back(b);
        crc_ = crc16_update(crc_, &b, 1);
        --remaining_;  // counted for every byte, also the one that fills a chunk
        if (chunk_.size() >= 65536 || remaining_ == 0) {
          int rc = flush_chunk();
          if (rc) return rc;
          if (remaining_ == 0) return end_fork();
        }
        return 0;
      }
      case kCrc: {
        crc_bytes_[crc_count_++] = b;
        if (crc_count_ < 2) return 0;
        if (get_be16(crc_bytes_) != crc_) return k_format_damaged;
        if (fork_ == 0) {
          fork_ = 1;
          remaining_ = header_.resource_length;
          crc_ = 0;
          part_ = kFork;
          return remaining_ ? 0 : end_fork();
        }
        done_ = true;
        return 0;
      }
    }
    return 0;
  }
  int flush_chunk() {
    int rc = on_fork && !chunk_.empty() ? on_fork(fork_, chunk_.data(), chunk_.size()) : 0;
    chunk_.clear();
    return rc;
  }
  int end_fork() {
    int rc = flush_chunk();
    part_ = kCrc;
    crc_count_ = 0;
    return rc;
  }

  enum { kBeforeStart, kBody, kDone } state_ = kBeforeStart;
  enum { kHeader, kFork, kCrc } part_ = kHeader;
  bool line_start_ = true;
  bool seen_chars_ = false;
  unsigned bits_ = 0;
  int nbits_ = 0;
  bool marker_ = false, have_last_ = false, done_ = false;
  uint8_t last_ = 0;
  std::vector<uint8_t> hbuf_, chunk_;
  BinHexHeader header_;
  int fork_ = 0;
  uint32_t remaining_ = 0;
  uint16_t crc_ = 0;
  uint8_t crc_bytes_[2] = {};
  int crc_count_ = 0;
};

MacFile meta_from_header(const BinHexHeader& h) {
  MacFile m;
  m.name = h.name;
  m.type = h.type;
  m.creator = h.creator;
  m.finder_flags = h.finder_flags;
  return m;
}

}  // namespace

// Writers word the banner in their own ways after this common opening
// ("... with BinHex 4.0)", "...; you knew that already.)"); the encoded text
// then starts with a ':' at the start of a following line.
int has_binhex_banner(std::span<const uint8_t> bytes) {
  static constexpr std::string_view k_opening = "This file must be converted";
  std::string_view hay(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  size_t at = hay.find(k_opening);
  if (at == std::string_view::npos) return 0;
  if (hay.find(k_binhex_banner, at) == at) return 1;
  size_t eol = hay.find_first_of("\r\n", at);
  if (eol == std::string_view::npos) return 0;
  size_t next = hay.find_first_not_of("\r\n", eol);
  return next != std::string_view::npos && hay[next] == ':' ? 1 : 0;
}

int is_binhex_file(int fd) {
  uint8_t buf[128];
  int64_t n = pread_full(fd, buf, sizeof buf, 0);
  if (n <= 0) return 0;
  return has_binhex_banner({buf, size_t(n)});
}

int decode_binhex_file(int in_fd, int out_fd) {
  BinHexReader r;
  std::vector<uint8_t> out;
  uint32_t data_length = 0, resource_length = 0;
  bool failed_write = false;
  auto flush = [&]() {
    if (write_full(out_fd, out.data(), out.size()) != 0) failed_write = true;
    out.clear();
    return failed_write ? -1 : 0;
  };
  r.on_header = [&](const BinHexHeader& h) {
    out.resize(128);
    make_macbinary_header(meta_from_header(h), h.data_length, h.resource_length, out.data());
    data_length = h.data_length;
    resource_length = h.resource_length;
    return 0;
  };
  int current_fork = 0;
  r.on_fork = [&](int fork, const uint8_t* p, size_t n) {
    if (fork == 1 && current_fork == 0) {
      out.resize(out.size() + macbinary_padding(data_length));
      current_fork = 1;
    }
    out.insert(out.end(), p, p + n);
    return out.size() >= (1 << 20) ? flush() : 0;
  };
  std::vector<uint8_t> buf(1 << 16);
  uint64_t pos = 0;
  int rc = 0;
  for (;;) {
    int64_t n = pread_full(in_fd, buf.data(), buf.size(), pos);
    if (n < 0) return -1;
    if (n == 0) break;
    pos += n;
    rc = r.feed(buf.data(), size_t(n));
    if (rc < 0) return rc;
    if (rc == k_binhex_finished) break;
  }
  if (!r.started()) return k_not_this_format;
  if (!r.complete()) return k_format_damaged;
  // Pad the last fork, as MacBinary readers expect.
  out.resize(out.size() + macbinary_padding(current_fork ? resource_length : data_length));
  return flush();
}

int read_binhex_chars(int fd, char* buf, int n) {
  if (n <= 0) return 0;
  int64_t k = pread_full(fd, buf, size_t(n), 0);
  return k < 0 ? 0 : int(k);
}

int decode_binhex_chars(const char* buf, int count, BinHexHeader& out) {
  BinHexReader r;
  r.header_only = true;
  bool got = false;
  r.on_header = [&](const BinHexHeader& h) { out = h; got = true; return 0; };
  int rc = r.feed(reinterpret_cast<const uint8_t*>(buf), count < 0 ? 0 : size_t(count));
  if (rc < 0) return rc;
  if (!r.started()) return k_not_this_format;
  return got ? 0 : k_format_damaged;
}

int decode_binhex(std::span<const uint8_t> text, MacFile& out) {
  BinHexReader r;
  MacFile f;
  r.on_header = [&](const BinHexHeader& h) { f = meta_from_header(h); return 0; };
  r.on_fork = [&](int fork, const uint8_t* p, size_t n) {
    (fork ? f.resource : f.data).insert((fork ? f.resource : f.data).end(), p, p + n);
    return 0;
  };
  int rc = r.feed(text.data(), text.size());
  if (rc < 0) return rc;
  if (!r.started()) return k_not_this_format;
  if (!r.complete()) return k_format_damaged;
  out = std::move(f);
  return 0;
}

std::string encode_binhex(const MacFile& f) {
  // The byte stream before run-length marks.
  std::vector<uint8_t> raw;
  size_t name_length = std::min<size_t>(f.name.size(), 63);
  raw.push_back(uint8_t(name_length));
  raw.insert(raw.end(), f.name.begin(), f.name.begin() + name_length);
  raw.push_back(0);
  raw.insert(raw.end(), f.type.begin(), f.type.end());
  raw.insert(raw.end(), f.creator.begin(), f.creator.end());
  uint8_t tail[10];
  put_be16(tail, f.finder_flags);
  put_be32(tail + 2, uint32_t(f.data.size()));
  put_be32(tail + 6, uint32_t(f.resource.size()));
  raw.insert(raw.end(), tail, tail + 10);
  auto add_crc = [&](size_t from) {
    uint16_t crc = crc16_update(0, raw.data() + from, raw.size() - from);
    raw.push_back(uint8_t(crc >> 8));
    raw.push_back(uint8_t(crc));
  };
  add_crc(0);
  size_t start = raw.size();
  raw.insert(raw.end(), f.data.begin(), f.data.end());
  add_crc(start);
  start = raw.size();
  raw.insert(raw.end(), f.resource.begin(), f.resource.end());
  add_crc(start);

  // Run-length marks: a run of 3 to 255 equal bytes becomes byte, 0x90, count;
  // a 0x90 byte itself becomes 0x90, 0.
  std::vector<uint8_t> rle;
  rle.reserve(raw.size() + raw.size() / 8 + 16);
  for (size_t i = 0; i < raw.size();) {
    uint8_t b = raw[i];
    size_t run = 1;
    while (i + run < raw.size() && raw[i + run] == b && run < 255) ++run;
    if (b == 0x90) {
      rle.push_back(0x90);
      rle.push_back(0);
      i += 1;
    } else if (run >= 3) {
      rle.push_back(b);
      rle.push_back(0x90);
      rle.push_back(uint8_t(run));
      i += run;
    } else {
      rle.push_back(b);
      i += 1;
    }
  }

  std::string text = "(";
  text += k_binhex_banner;
  text += ")\n:";
  size_t column = 1;
  auto put = [&](unsigned v) {
    text += k_alphabet[v & 63];
    if (++column == 64) { text += '\n'; column = 0; }
  };
  size_t i = 0;
  for (; i + 3 <= rle.size(); i += 3) {
    unsigned v = unsigned(rle[i]) << 16 | unsigned(rle[i + 1]) << 8 | rle[i + 2];
    put(v >> 18); put(v >> 12); put(v >> 6); put(v);
  }
  size_t rest = rle.size() - i;
  if (rest) {
    unsigned v = unsigned(rle[i]) << 16 | (rest > 1 ? unsigned(rle[i + 1]) << 8 : 0);
    put(v >> 18);
    put(v >> 12);
    if (rest > 1) put(v >> 6);
  }
  text += ":\n";
  return text;
}
