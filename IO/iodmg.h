// UDIF (.dmg) images: classification of an image file by its first and last
// sectors, and expansion of a UDIF image into a plain sector image.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "IO/results.h"

enum ImageKind {
  k_image_plain = 0,       // none of the below (also a driver descriptor "ER")
  k_image_partition_map = 1,  // "PM"
  k_image_bzip2 = 2,       // "BZ"
  k_image_zlib = 3,        // 'x'
  k_image_udif = 4,        // "koly" trailer
  k_image_sparse = 5,      // "sp"
  k_image_gpt = 6,         // protective MBR (type 0xEE)
  k_image_mbr_hfs = 7,     // MBR with an HFS partition (type 0xAF)
};

// Chunk types of a block table.
constexpr uint32_t k_chunk_zero = 0x00000000;
constexpr uint32_t k_chunk_raw = 0x00000001;
constexpr uint32_t k_chunk_ignore = 0x00000002;
constexpr uint32_t k_chunk_comment = 0x7FFFFFFE;
constexpr uint32_t k_chunk_adc = 0x80000004;
constexpr uint32_t k_chunk_zlib = 0x80000005;
constexpr uint32_t k_chunk_bzip2 = 0x80000006;
constexpr uint32_t k_chunk_end = 0xFFFFFFFF;
// Kinds other makers write that this expansion does not decode.
constexpr uint32_t k_chunk_lzfse = 0x80000007;
constexpr uint32_t k_chunk_lzma = 0x80000008;

constexpr size_t k_koly_size = 512;
constexpr size_t k_mish_header_size = 204;
constexpr size_t k_mish_chunk_size = 40;

// A checksum field of the trailer or of a block table: its kind, its width in
// bits and its first word (where a CRC-32 is kept).
constexpr uint32_t k_checksum_crc32 = 2;
struct UdifChecksum {
  uint32_t type = 0;
  uint32_t bits = 0;
  uint32_t value = 0;
  bool is_crc32() const { return type == k_checksum_crc32 && bits == 32; }
};

struct KolyTrailer {
  uint32_t version = 0;
  uint64_t data_fork_offset = 0;
  uint64_t data_fork_length = 0;
  uint64_t plist_offset = 0;
  uint64_t plist_length = 0;
  uint64_t sector_count = 0;
  UdifChecksum data_checksum;    // over the stored data fork
  UdifChecksum master_checksum;  // over the block tables' CRC-32s, big-endian, in order
};
// 0, or -1 when the 512 bytes are not a trailer.
[[nodiscard]] int decode_koly_trailer(std::span<const uint8_t> bytes, KolyTrailer& out);

struct MishChunk {
  uint32_t type = 0;
  uint32_t comment = 0;
  uint64_t first_sector = 0;   // relative to the table's start sector
  uint64_t sector_count = 0;
  uint64_t compressed_offset = 0;
  uint64_t compressed_length = 0;
};
struct MishTable {
  uint64_t start_sector = 0;
  uint64_t sector_count = 0;
  UdifChecksum checksum;          // over the table's output, ignored areas left out
  std::vector<MishChunk> chunks;  // up to, not including, the terminator
};
// 0; 1 when the bytes are not a block table; -1 when the table is damaged.
[[nodiscard]] int decode_mish_table(std::span<const uint8_t> bytes, MishTable& out);

// Classifies an open image (reads its first sector and its last 512 bytes).
int detect_image_kind(int fd);

// Expands the UDIF image on image_fd into out_fd, written in order from offset 0.
// The block tables must cover exactly the trailer's sector count, each table
// its own, and every CRC-32 present (each table's, the data fork's, the
// master's) must agree with the data.
// 0 on success; -1 no trailer / damaged tables / a checksum that disagrees /
// short write / truncated or corrupt chunk data; a zlib error code; or the
// value of an unknown chunk type.
[[nodiscard]] int expand_udif_image(int image_fd, int out_fd);

// Judges an image before anyone is asked to expand it, reading only its
// trailer and its block tables: 0 when expand_udif_image can take it; 1 when
// a chunk is of a kind it cannot decode (the first such kind in chunk_type);
// -1 when the image has no UDIF trailer or its tables do not hold.
[[nodiscard]] int check_udif_image(int image_fd, uint32_t& chunk_type);
// The name of a chunk kind ("zlib", "LZFSE", ...), "" for a kind of no known maker.
const char* udif_chunk_kind_name(uint32_t type);

// The command form: 1 on success; -2 cannot open, the image is plain, or the
// output is the image itself or exists and is not a regular file; -1 a sparse
// image, no valid UDIF image, or a failed expansion; 6 or 7 for the MBR kinds.
// The output is opened only for a UDIF image whose tables hold: the expansion
// goes to a temporary file beside it, which replaces it only on success.
// Whatever the result, an existing output is otherwise left as it was.
[[nodiscard]] int expand_dmg_file(const char* image_path, const char* output_path);

// How many cores the expansion runs on: the CPUs of this process's affinity
// mask, at most 16. One thread writes the output (and decodes while it would
// wait); the others decode.
unsigned udif_worker_count();

// The base64 text of each <data> element of a property list, in order.
std::vector<std::string> plist_data_elements(std::string_view plist);
std::vector<uint8_t> decode_base64(std::string_view text);
bool is_base64_char(char c);
int base64_value(char c);

// ADC decoding, bounded by both buffers. The number of bytes written, or -1
// when the input breaks its bounds.
int adc_decompress(const uint8_t* in, int in_length, uint8_t* out, int out_capacity);
