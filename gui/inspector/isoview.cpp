// ISO 9660 volume descriptors, path tables and directory extents.
#include <algorithm>
#include <string>

#include "IO/charsets.h"
#include "IO/names.h"
#include "IO/strlib.h"
#include "IO/uitext.h"
#include "compiler/dirrecord.h"
#include "compiler/isodesc.h"
#include "compiler/pathtable.h"
#include "gui/inspector/decoders.h"
#include "gui/inspector/viewfields.h"

using namespace inspect;

namespace {

constexpr size_t k_block = 2048;
// The most of a directory extent the viewer reads (a hostile length could ask for 4 GiB).
constexpr uint32_t k_max_directory_blocks = 8192;  // 16 MiB

// Big-endian UCS-2 identifier bytes as UTF-8. The identifier is a copy of its
// own, so nothing of the sector is changed and nothing past it is read.
std::string joliet_text(const std::string& raw) {
  return be_wide_to_ansi(reinterpret_cast<const uint8_t*>(raw.data()), raw.size() / 2);
}

// A plain identifier up to its first NUL.
std::string plain_text(const std::string& raw) {
  return cp1252_to_utf8(std::string_view(raw.data(), std::min(raw.find('\0'), raw.size())));
}

std::string identifier_text(const std::string& raw, bool joliet) {
  return joliet ? joliet_text(raw) : plain_text(raw);
}

// A descriptor's 32-byte identifier field. Type 1: up to the first NUL. Type 2:
// the whole field, read as UCS-2 when its first byte is 0, else as bytes.
std::string descriptor_text(const std::string& field, uint8_t type) {
  std::string text;
  if (type == 2 && !field.empty() && field[0] == 0)
    text = joliet_text(field);
  else if (type == 2)
    text = cp1252_to_utf8(field);
  else
    text = plain_text(field);
  return trim(text);
}

void add_block_field(StructureView& view, int caption, uint32_t block, const InspectorContext& ctx) {
  add_field(view, caption, dec(block));
  add_go(view, caption, iso_block_sector(block), ctx);
}

}  // namespace

StructureView decode_iso_descriptor(std::span<const uint8_t> sector, int64_t, const InspectorContext& ctx,
                                    const SectorReader&) {
  StructureView view;
  VolumeDescriptorView d;
  bool decoded = decode_volume_descriptor(sector, d);
  view.title_id = d.type == 2 ? 3274 : 3266;
  const int captions[] = {3267, 3268, 3269, 3270, 3271, 3272, 3273};
  if (sector.size() < 190 || (!decoded && d.type == 0) || (d.type != 1 && d.type != 2)) {
    add_message(view, sector.size() < 190 ? 3765 : 3768);
    for (int c : captions) add_invalid(view, c, 3772);
    return view;
  }
  add_field(view, 3267, descriptor_text(d.system_id, d.type));
  add_field(view, 3268, descriptor_text(d.volume_id, d.type));
  add_field(view, 3269, dec(d.volume_sectors));
  add_field(view, 3270, dec(d.path_table_bytes));
  add_block_field(view, 3271, d.type_l_sector, ctx);
  add_block_field(view, 3272, d.type_m_sector, ctx);
  if (decoded) {
    add_block_field(view, 3273, d.root.extent, ctx);
  } else {
    add_invalid(view, 3273, 3772);
    add_message(view, 3769);
  }
  return view;
}

StructureView decode_iso_path_table(std::span<const uint8_t> sector, int64_t sector_number,
                                    const InspectorContext& ctx, const SectorReader& read) {
  StructureView view;
  std::vector<uint8_t> block = read_from_sector(view, sector, sector_number, 4, read);
  block.resize(std::min(block.size(), k_block));
  std::span<const uint8_t> table(block);
  // Joliet: the second record (after the root's 10 bytes) starts its
  // identifier with the high byte 0 of a UCS-2 character.
  bool joliet = table.size() > 18 && table[0] == 1 && table[18] == 0;
  // The root's parent number is 1 in the table's own byte order.
  bool big_endian = table.size() > 7 && table[6] == 0 && table[7] == 1;
  view.title_id = joliet ? 3330 : 3275;
  view.column_ids = {3282, 3283, 3284};
  size_t at = 0;
  while (at < table.size() && table[at] != 0) {
    PathTableEntry e;
    size_t n = decode_path_table_record(table.subspan(at), big_endian, e);
    if (n == 0) {
      add_message(view, 3769);  // runs past the block
      break;
    }
    std::string name = e.identifier == std::string(1, '\0') ? ui_text(3285) : identifier_text(e.identifier, joliet);
    view.rows.push_back(ViewRow{{name, dec(e.parent), dec(e.extent)},
                                target_in_image(iso_block_sector(e.extent), ctx)});
    at += n;
  }
  return view;
}

StructureView decode_iso_directory(std::span<const uint8_t> sector, int64_t sector_number,
                                   const InspectorContext& ctx, const SectorReader& read) {
  StructureView view;
  DirRecord dot;
  uint32_t length = decode_directory_record(sector, dot) ? dot.length : 0;
  if (length == 0) length = k_block;
  uint64_t blocks = (uint64_t(length) + k_block - 1) / k_block;
  if (blocks > k_max_directory_blocks) {
    blocks = k_max_directory_blocks;
    add_message(view, 3770);
  }
  // Never more than the image holds from here.
  uint64_t sectors = std::min<uint64_t>(blocks * 4, uint64_t(std::max<int64_t>(1, ctx.image_sectors - sector_number)));
  std::vector<uint8_t> bytes = read_from_sector(view, sector, sector_number, uint32_t(sectors), read);
  std::span<const uint8_t> dir(bytes);

  // Joliet: the third record (after "." and "..") has an identifier whose first byte is 0.
  bool joliet = false;
  if (dir.size() > 0 && dir[0] < dir.size()) {
    size_t third = size_t(dir[0]) + dir[dir[0]];
    joliet = dir[dir[0]] != 0 && third + 33 < dir.size() && dir[third] != 0 && dir[third + 32] != 0 &&
             dir[third + 33] == 0;
  }
  view.title_id = joliet ? 3701 : 3700;
  view.column_ids = {3278, 3279, 3280};

  for (size_t block_start = 0; block_start < dir.size(); block_start += k_block) {
    size_t block_end = std::min(dir.size(), block_start + k_block);
    size_t at = block_start;
    while (at < block_end && dir[at] != 0) {
      DirRecord rec;
      size_t n = decode_directory_record(dir.subspan(at, block_end - at), rec);
      if (n == 0) {
        add_message(view, 3769);  // too short, or past its block: go on with the next block
        break;
      }
      at += n;
      if (rec.identifier == std::string(1, '\0')) continue;  // the directory itself
      std::string name = rec.identifier == std::string(1, '\1') ? ui_text(3283) : identifier_text(rec.identifier, joliet);
      view.rows.push_back(ViewRow{{name, dec(rec.length), dec(rec.extent)},
                                  target_in_image(iso_block_sector(rec.extent), ctx)});
    }
  }
  return view;
}
