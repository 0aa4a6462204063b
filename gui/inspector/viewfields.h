// Small pieces every decoder of this folder uses to fill a StructureView: value
// texts, fields, go targets kept inside the image, and fixed text fields.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "gui/inspector/inspect.h"

namespace inspect {

using Bytes = std::span<const uint8_t>;

std::string dec(uint64_t v);
std::string hex(uint64_t v, int min_digits);  // upper case, at least min_digits

void add_field(StructureView& view, int caption_id, std::string value, bool valid = true);
// A field the sector does not hold (cut short, or damaged): shown as invalid
// with the reason text.
void add_invalid(StructureView& view, int caption_id, int reason_id);
void add_message(StructureView& view, int text_id);

// The sector when it lies inside the image, else -1 (no target).
int64_t target_in_image(int64_t sector, const InspectorContext& ctx);
// Adds the go target when it lies inside the image; false (and a message) when not.
bool add_go(StructureView& view, int caption_id, int64_t sector, const InspectorContext& ctx);

// A fixed-width text field: bytes up to the first NUL, trailing blanks and
// no-break spaces (0xA0) removed, then shown as UTF-8 from Mac Roman or from
// the ANSI code page.
std::string mac_field_text(Bytes field);
std::string pc_field_text(Bytes field);
std::string trimmed_field(Bytes field);  // the raw bytes, cut and trimmed

// Reads count 512-byte sectors from first: the whole run, or, when it fails,
// the sectors up to the first one that cannot be read. out holds the sectors
// read (a multiple of 512 bytes); returns their count.
uint32_t read_run(const SectorReader& read, int64_t first, uint32_t count, std::vector<uint8_t>& out);
// Reads the run starting with the sector already in hand. When the run cannot
// be read whole, what was read is used (at least the sector in hand) and the
// view says so.
std::vector<uint8_t> read_from_sector(StructureView& view, std::span<const uint8_t> sector, int64_t first,
                                      uint32_t count, const SectorReader& read);

// Unit conversions to 512-byte dump sectors.
inline int64_t iso_block_sector(uint64_t block) { return int64_t(block) * 4; }

}  // namespace inspect
