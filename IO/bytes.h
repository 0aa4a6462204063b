// Bounded cursors over byte spans, for encoding and decoding on-disk structures
// field by field. A reader never reads past its span: a read beyond the end sets
// the failed flag and yields zeros; callers check ok() once after decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "IO/bigendian.h"

class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> data) : data_(data) {}
  ByteReader(const void* p, size_t n) : data_(static_cast<const uint8_t*>(p), n) {}

  bool ok() const { return !failed_; }
  size_t pos() const { return pos_; }
  size_t size() const { return data_.size(); }
  size_t remaining() const { return data_.size() - pos_; }

  void seek(size_t pos) {
    if (pos > data_.size()) { failed_ = true; pos_ = data_.size(); } else pos_ = pos;
  }
  void skip(size_t n) {
    if (n > remaining()) { failed_ = true; pos_ = data_.size(); } else pos_ += n;
  }

  uint8_t u8() { const uint8_t* p = take(1); return p ? p[0] : 0; }
  uint16_t be16() { const uint8_t* p = take(2); return p ? get_be16(p) : 0; }
  uint32_t be32() { const uint8_t* p = take(4); return p ? get_be32(p) : 0; }
  uint64_t be64() { const uint8_t* p = take(8); return p ? get_be64(p) : 0; }
  uint16_t le16() { const uint8_t* p = take(2); return p ? get_le16(p) : 0; }
  uint32_t le32() { const uint8_t* p = take(4); return p ? get_le32(p) : 0; }
  uint64_t le64() { const uint8_t* p = take(8); return p ? get_le64(p) : 0; }
  int16_t sbe16() { return int16_t(be16()); }
  int32_t sbe32() { return int32_t(be32()); }

  // Copies n bytes into out (zeros when the span is too short).
  void bytes(void* out, size_t n) {
    if (n == 0) return;
    const uint8_t* p = take(n);
    if (p) std::memcpy(out, p, n); else std::memset(out, 0, n);
  }
  // A view of the next n bytes, or an empty span when they are not there.
  std::span<const uint8_t> view(size_t n) {
    const uint8_t* p = take(n);
    return p ? std::span<const uint8_t>(p, n) : std::span<const uint8_t>();
  }

 private:
  const uint8_t* take(size_t n) {
    if (failed_ || n > remaining()) { failed_ = true; return nullptr; }
    const uint8_t* p = data_.data() + pos_;
    pos_ += n;
    return p;
  }
  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  bool failed_ = false;
};

class ByteWriter {
 public:
  explicit ByteWriter(std::span<uint8_t> data) : data_(data) {}
  ByteWriter(void* p, size_t n) : data_(static_cast<uint8_t*>(p), n) {}

  bool ok() const { return !failed_; }
  size_t pos() const { return pos_; }
  size_t remaining() const { return data_.size() - pos_; }

  void seek(size_t pos) {
    if (pos > data_.size()) { failed_ = true; pos_ = data_.size(); } else pos_ = pos;
  }
  void zeros(size_t n) { if (uint8_t* p = take(n)) std::memset(p, 0, n); }

  void u8(uint8_t v) { if (uint8_t* p = take(1)) p[0] = v; }
  void be16(uint16_t v) { if (uint8_t* p = take(2)) put_be16(p, v); }
  void be32(uint32_t v) { if (uint8_t* p = take(4)) put_be32(p, v); }
  void be64(uint64_t v) { if (uint8_t* p = take(8)) put_be64(p, v); }
  void le16(uint16_t v) { if (uint8_t* p = take(2)) put_le16(p, v); }
  void le32(uint32_t v) { if (uint8_t* p = take(4)) put_le32(p, v); }
  void le64(uint64_t v) { if (uint8_t* p = take(8)) put_le64(p, v); }
  void bytes(const void* src, size_t n) {
    if (uint8_t* p = take(n); p && n) std::memcpy(p, src, n);
  }
  // Writes text into a fixed field of n bytes: clipped to n, the rest zero-filled.
  void fixed_text(std::string_view text, size_t n) {
    if (uint8_t* p = take(n)) {
      size_t k = text.size() < n ? text.size() : n;
      if (k) std::memcpy(p, text.data(), k);
      std::memset(p + k, 0, n - k);
    }
  }

 private:
  uint8_t* take(size_t n) {
    if (failed_ || n > remaining()) { failed_ = true; return nullptr; }
    uint8_t* p = data_.data() + pos_;
    pos_ += n;
    return p;
  }
  std::span<uint8_t> data_;
  size_t pos_ = 0;
  bool failed_ = false;
};
