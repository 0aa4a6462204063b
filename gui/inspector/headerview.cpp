// Headers of the Macintosh file encodings: MacBinary, AppleSingle, AppleDouble.
#include <cstring>
#include <string>

#include "IO/charsets.h"
#include "gui/inspector/decoders.h"
#include "gui/inspector/viewfields.h"
#include "macfiles/applesingle.h"
#include "macfiles/macbinary.h"

using namespace inspect;

namespace {

// Four Mac Roman characters; control bytes (a NUL among them) shown as '.'.
std::string four_chars(const uint8_t* p) {
  std::string raw(reinterpret_cast<const char*>(p), 4);
  for (char& c : raw)
    if (static_cast<uint8_t>(c) < 0x20) c = '.';
  return macroman_to_utf8(raw);
}

// The dump sector holding a byte offset of the file whose first sector is first.
int64_t offset_sector(int64_t first, uint64_t offset) { return first + int64_t(offset / 512); }

void add_offset_field(StructureView& view, int caption, uint64_t offset, int64_t first, const InspectorContext& ctx) {
  add_field(view, caption, dec(offset));
  add_go(view, caption, offset_sector(first, offset), ctx);
}

// n bytes at a byte offset of the file: from the sector in hand when they lie
// there, else read through the reader. False when they cannot be had.
bool bytes_at(std::span<const uint8_t> sector, int64_t first, uint64_t offset, size_t n, const SectorReader& read,
              uint8_t* out) {
  if (offset + n <= sector.size()) {
    std::memcpy(out, sector.data() + offset, n);
    return true;
  }
  uint64_t in_sector = offset % 512;
  uint32_t count = in_sector + n > 512 ? 2 : 1;
  std::vector<uint8_t> buf;
  if (read_run(read, offset_sector(first, offset), count, buf) != count) return false;
  std::memcpy(out, buf.data() + in_sector, n);
  return true;
}

StructureView apple_header_view(std::span<const uint8_t> sector, int64_t first, const InspectorContext& ctx,
                                const SectorReader& read, bool single) {
  StructureView view;
  view.title_id = single ? 3319 : 3318;
  AppleSingleHeader h;
  if (decode_apple_header(sector, 0, h) != 0) {
    add_message(view, 3765);
    return view;
  }
  if (h.magic != (single ? k_applesingle_magic : k_appledouble_magic)) add_message(view, 3768);
  if (sector.size() >= 26 && h.entries.size() < (size_t(sector[24]) << 8 | sector[25])) add_message(view, 3773);

  const AppleEntryDescriptor* info = find_apple_entry(h, k_entry_finder_info);
  uint8_t finder[8];
  if (info && info->length >= 8 && bytes_at(sector, first, info->offset, 8, read, finder)) {
    add_field(view, 3322, four_chars(finder));
    add_field(view, 3323, four_chars(finder + 4));
  } else {
    add_invalid(view, 3322, 3772);
    add_invalid(view, 3323, 3772);
  }
  auto fork = [&](uint32_t id, int offset_caption, int length_caption) {
    const AppleEntryDescriptor* e = find_apple_entry(h, id);
    if (!e) return;
    add_offset_field(view, offset_caption, e->offset, first, ctx);
    add_field(view, length_caption, dec(e->length));
  };
  if (single) fork(k_entry_data_fork, 3324, 3325);
  fork(k_entry_resource_fork, 3326, 3327);
  return view;
}

}  // namespace

StructureView decode_applesingle_view(std::span<const uint8_t> sector, int64_t sector_number,
                                      const InspectorContext& ctx, const SectorReader& read) {
  return apple_header_view(sector, sector_number, ctx, read, true);
}

StructureView decode_appledouble_view(std::span<const uint8_t> sector, int64_t sector_number,
                                      const InspectorContext& ctx, const SectorReader& read) {
  return apple_header_view(sector, sector_number, ctx, read, false);
}

StructureView decode_macbinary_view(std::span<const uint8_t> sector, int64_t sector_number,
                                    const InspectorContext& ctx, const SectorReader&) {
  StructureView view;
  view.title_id = 3320;
  if (sector.size() < k_macbinary_header_size) {
    add_message(view, 3765);
    return view;
  }
  if (!is_macbinary_header(sector.data(), 0)) add_message(view, 3768);
  MacBinaryHeader h;
  decode_macbinary_header(sector.data(), h);  // the name length is clipped to 63
  add_field(view, 3321, macroman_to_utf8(h.meta.name));
  add_field(view, 3322, four_chars(h.meta.type.data()));
  add_field(view, 3323, four_chars(h.meta.creator.data()));
  add_offset_field(view, 3324, k_macbinary_header_size, sector_number, ctx);
  add_field(view, 3325, dec(h.data_length));
  add_offset_field(view, 3326, macbinary_resource_offset(h.data_length), sector_number, ctx);
  add_field(view, 3327, dec(h.resource_length));
  return view;
}
