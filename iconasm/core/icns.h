// icns families: the element table, the run-length scheme of the 32-bit
// channels, reading into the slots and writing from them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "iconasm/core/icon_family.h"

enum ElementDepth { k_el_family, k_el_1bit, k_el_4bit, k_el_8bit, k_el_32bit, k_el_mask8, k_el_png };

struct IconElementType {
  char type[5];
  int width, height;
  ElementDepth depth;
  int slot;           // where the picture goes from an icns (mask half for '#': mask slot)
  bool in_resources;  // also read as a resource of its own
  const char* mask_type;  // 32-bit: the 8-bit mask that carries its alpha
};

// The known element types; index = position. lookup: -1 when unknown.
const std::vector<IconElementType>& icon_element_types();
int icon_element_index(const uint8_t* type4);

// One channel of a 32-bit element. encode: the packets; decode: fills out
// (n bytes) from in starting at pos, returns the bytes consumed, or -1 when
// the packets end before the channel is full (out is then zero-filled).
std::vector<uint8_t> encode_channel(std::span<const uint8_t> in);
long decode_channel(std::span<const uint8_t> in, size_t pos, uint8_t* out, size_t n);

// Reads the elements of an icns family lying at bytes [start, start + total)
// of file into the slots. 0 done (damaged or unknown elements are counted in
// f.report and skipped), k_icon_damaged the family's frame itself is unusable (noted in
// f.report; what came before it was read).
[[nodiscard]] int read_icns_elements(IconFamily& f, std::span<const uint8_t> file, size_t start, size_t total);

// A single element stored as a file of its own (kinds 3-27): the row's
// element type index and the file's bytes.
[[nodiscard]] int read_single_element_file(IconFamily& f, int element_index, std::span<const uint8_t> data);

// Writers. Each appends to out. The 32-bit element of size n and its 8-bit
// mask, which holds the picture's alpha (255 throughout when the alpha is all
// 0): give it picture_with_mask to carry the row's masks.
void write_size_elements(std::vector<uint8_t>& out, const IconImage& picture, int n);
void write_indexed_element(std::vector<uint8_t>& out, const IconImage& picture, int n);
// The family as an icns file: 16, 32, 48 and 128 with their masks.
std::vector<uint8_t> build_icns(const IconFamily& f);
// An icns holding one picture (the popup's icns commands). Empty when the
// picture's width is not 16, 32, 48 or 128.
std::vector<uint8_t> build_single_icns(const IconImage& picture);
// Patches the "icns" header of a family built in out.
void finish_icns(std::vector<uint8_t>& out);
