// Apple partition map: the driver descriptor, one map entry, and a 2048-byte
// sector of four 512-byte blocks (a CD's first sector).
#include <string>

#include "IO/uitext.h"
#include "gui/inspector/decoders.h"
#include "gui/inspector/viewfields.h"
#include "hfs/ondisk.h"

using namespace inspect;

namespace {

constexpr size_t k_block = 512;

std::string signature_text(uint16_t sig) {
  const uint8_t b[2] = {uint8_t(sig >> 8), uint8_t(sig)};
  return mac_field_text(Bytes(b, 2));
}

// The map counts blocks of the medium's map block size (512 or 2048 bytes).
int64_t map_block_sector(uint64_t block, const InspectorContext& ctx) {
  uint32_t factor = ctx.media_block_size >= 512 ? ctx.media_block_size / 512 : 1;
  return int64_t(block) * factor;
}

struct FieldLine {
  int caption;
  std::string value;
};

std::vector<FieldLine> driver_lines(const DriverDescriptor& d) {
  return {{3713, signature_text(d.signature)},
          {3714, dec(d.block_size)},
          {3715, dec(d.block_count)},
          {3716, dec(d.driver_count)}};
}

std::vector<FieldLine> entry_lines(const ApmEntry& e) {
  return {{3713, signature_text(e.signature)},
          {3717, dec(e.map_block_count)},
          {3718, dec(e.start_block)},
          {3719, dec(e.data_count)},
          {3720, mac_field_text(Bytes(reinterpret_cast<const uint8_t*>(e.name.data()), e.name.size()))},
          {3721, mac_field_text(Bytes(reinterpret_cast<const uint8_t*>(e.type.data()), e.type.size()))}};
}

void add_lines(StructureView& view, const std::vector<FieldLine>& lines) {
  for (const FieldLine& l : lines) add_field(view, l.caption, l.value);
}

ViewTreeNode page(std::string title, const std::vector<FieldLine>& lines) {
  ViewTreeNode node{std::move(title), -1, {}};
  for (const FieldLine& l : lines)
    node.children.push_back(ViewTreeNode{ui_text(l.caption) + " " + l.value, -1, {}, l.caption, l.value});
  return node;
}

}  // namespace

StructureView decode_driver_descriptor_view(std::span<const uint8_t> sector, int64_t, const InspectorContext&,
                                            const SectorReader&) {
  StructureView view;
  view.title_id = 3710;
  DriverDescriptor d;
  if (!decode(sector, d)) {
    add_message(view, 3765);
    return view;
  }
  if (d.signature != k_sig_driver_descriptor) add_message(view, 3768);
  add_lines(view, driver_lines(d));
  return view;
}

StructureView decode_partition_map_view(std::span<const uint8_t> sector, int64_t sector_number,
                                        const InspectorContext& ctx, const SectorReader&) {
  StructureView view;
  view.title_id = 3711;
  ApmEntry e;
  if (!decode(sector, e)) {
    add_message(view, 3765);
    return view;
  }
  if (e.signature != k_sig_partition_map) add_message(view, 3768);
  add_lines(view, entry_lines(e));
  // An entry shown from the first two sectors offers no jumps (the map's own
  // sectors of a 512-byte map).
  if (sector_number < 2) return view;
  int64_t start = map_block_sector(e.start_block, ctx);
  add_go(view, 3722, start, ctx);
  add_go(view, 3723, start + 2, ctx);  // the master directory block or volume header, 1024 bytes in
  // The alternate header lies 1024 bytes before the end of the data area.
  int64_t alternate = map_block_sector(uint64_t(e.start_block) + e.data_count, ctx) - 2;
  if (alternate >= start) add_go(view, 3724, alternate, ctx);
  return view;
}

StructureView decode_medium_headers(std::span<const uint8_t> sector, int64_t sector_number,
                                    const InspectorContext& ctx, const SectorReader& read) {
  StructureView view;
  view.title_id = 3712;
  std::vector<uint8_t> bytes = read_from_sector(view, sector, sector_number, 4, read);
  std::span<const uint8_t> all(bytes);
  size_t blocks = std::min<size_t>(4, all.size() / k_block);
  if (blocks == 0) {
    add_message(view, 3765);
    return view;
  }
  size_t first = 0;
  DriverDescriptor d;
  if (decode(all.first(k_block), d) && d.signature == k_sig_driver_descriptor) {
    view.tree.push_back(page("ER", driver_lines(d)));
    first = 1;
  }
  for (size_t b = first; b < blocks; ++b) {
    ApmEntry e;
    if (!decode(all.subspan(b * k_block, k_block), e) || e.signature != k_sig_partition_map) continue;
    int n = int(b + 1 - first);
    ViewTreeNode node = page("PM " + std::to_string(n), entry_lines(e));
    // Blocks of 512 bytes, counted from the sector shown.
    int64_t start = sector_number + int64_t(e.start_block);
    node.children.push_back(ViewTreeNode{ui_text(3722), target_in_image(start, ctx), {}, 3722, ""});
    node.children.push_back(ViewTreeNode{ui_text(3723), target_in_image(start + 2, ctx), {}, 3723, ""});
    if (node.children[6].go_sector < 0) add_message(view, 3766);
    view.tree.push_back(std::move(node));
  }
  return view;
}
