// Writes small UDIF images for the tests (no outside tool writes them): each
// partition of the expanded image becomes one block table, cut into chunks of
// the chosen kinds. Checksums are filled the way outside readers verify them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testkit {

struct UdifChunkSpec {
  uint32_t type;        // zero, raw, ignore, comment, zlib, bzip2, adc
  uint32_t sectors;     // output sectors (0 for a comment)
};

struct UdifPartition {
  std::string name;                  // e.g. "disk image (Apple_HFS : 0)"
  std::vector<uint8_t> data;         // the expanded bytes (a multiple of 512)
  std::vector<UdifChunkSpec> chunks; // must cover data exactly (comments aside)
};

struct UdifOptions {
  bool extra_resources_after_blkx = true;  // "plst" <data> after the block tables
  bool checksums = true;                   // CRC-32s in the tables and the trailer
  bool adc_back_references = false;        // ADC chunks with back references, not literal runs only
  // Changes a finished block table (index, bytes) before it is stored, to make
  // damaged images whose checksums were taken from the sound data.
  std::function<void(size_t, std::vector<uint8_t>&)> edit_table;
};

// Chunk entry i of a block table, and dropping it (the count follows).
uint8_t* table_chunk(std::vector<uint8_t>& table, size_t i);
void drop_table_chunk(std::vector<uint8_t>& table, size_t i);

// The whole .dmg file as bytes.
std::vector<uint8_t> make_udif(const std::vector<UdifPartition>& parts, const UdifOptions& opt = {});

// Chunks of one kind covering n sectors, chunk_sectors at a time.
std::vector<UdifChunkSpec> uniform_chunks(uint32_t type, uint32_t sectors, uint32_t chunk_sectors);

}  // namespace testkit
