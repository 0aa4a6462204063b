// GUID Partition Table: the header and the entries of the array's first sectors.
#include <cstdio>
#include <cstring>
#include <string>

#include "IO/gpt.h"
#include "IO/names.h"
#include "IO/uitext.h"
#include "gui/inspector/decoders.h"
#include "gui/inspector/viewfields.h"

using namespace inspect;

namespace {

// Entries shown: the first six, as many as two sectors hold.
constexpr size_t k_shown_entries = 6;
constexpr uint32_t k_entry_sectors = 2;

std::string guid_text(const GUID& g) {
  char buf[40];
  return format_guid(buf, &g);
}

// The clear-text type of an Apple partition type GUID: its first field as four
// characters, most significant byte first ("HFS" for 48465300-...), or empty.
std::string apple_type_text(const GUID& g) {
  if (!match_apple_type_guid(&g)) return "";
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    char c = char(g.data1 >> shift);
    if (c == 0) break;
    text += (static_cast<uint8_t>(c) < 0x20 || static_cast<uint8_t>(c) > 0x7E) ? '.' : c;
  }
  return text;
}

std::string entry_name(const EFI_PARTITION_ENTRY& e) {
  std::u16string units;
  for (uint16_t u : e.partition_name) {
    if (!u) break;
    units += char16_t(u);
  }
  return wide_to_ansi(units);
}

}  // namespace

StructureView decode_gpt_header_view(std::span<const uint8_t> sector, int64_t, const InspectorContext& ctx,
                                     const SectorReader&) {
  StructureView view;
  view.title_id = 3780;
  EFI_PARTITION_TABLE_HEADER h;
  if (!decode(sector, h)) {
    add_message(view, 3765);
    return view;
  }
  if (std::memcmp(h.signature.data(), "EFI PART", 8) != 0) add_message(view, 3768);  // shown all the same
  add_field(view, 3781, pc_field_text(Bytes(reinterpret_cast<const uint8_t*>(h.signature.data()), 8)));
  add_field(view, 3782, dec(h.revision));
  add_field(view, 3783, dec(h.header_size));
  add_field(view, 3784, hex(h.header_crc32, 4));
  add_field(view, 3785, dec(h.my_lba));
  add_field(view, 3786, dec(h.first_usable_lba));
  add_field(view, 3787, dec(h.last_usable_lba));
  add_field(view, 3788, guid_text(h.disk_guid));
  add_field(view, 3789, dec(h.partition_entry_lba));
  add_field(view, 3790, dec(h.number_of_partition_entries));
  add_field(view, 3791, dec(h.size_of_partition_entry));
  add_field(view, 3792, hex(h.partition_entry_array_crc32, 4));
  // The whole 64-bit LBA from the header, not the text read back.
  if (h.partition_entry_lba <= uint64_t(INT64_MAX)) add_go(view, 3789, int64_t(h.partition_entry_lba), ctx);
  else add_message(view, 3766);
  return view;
}

StructureView decode_gpt_entries_view(std::span<const uint8_t> sector, int64_t sector_number,
                                      const InspectorContext& ctx, const SectorReader& read) {
  StructureView view;
  view.title_id = 3793;
  std::vector<uint8_t> bytes = read_from_sector(view, sector, sector_number, k_entry_sectors, read);
  std::span<const uint8_t> array(bytes);
  for (size_t k = 0; k < k_shown_entries; ++k) {
    EFI_PARTITION_ENTRY e;
    if ((k + 1) * EFI_PARTITION_ENTRY::k_size > array.size()) break;  // only what the buffer holds
    decode(array.subspan(k * EFI_PARTITION_ENTRY::k_size, EFI_PARTITION_ENTRY::k_size), e);
    if (is_null_guid(&e.partition_type_guid)) break;
    char title[32];
    std::snprintf(title, sizeof title, ui_text(3800).c_str(), int(k + 1));
    ViewTreeNode node{title, -1, {}};
    auto line = [&](int caption, const std::string& value, int64_t go = -1) {
      node.children.push_back(ViewTreeNode{ui_text(caption) + " " + value, go, {}, caption, value});
    };
    line(3794, guid_text(e.partition_type_guid));
    line(3795, guid_text(e.unique_partition_guid));
    int64_t first = e.starting_lba <= uint64_t(INT64_MAX) ? target_in_image(int64_t(e.starting_lba), ctx) : -1;
    if (first < 0) add_message(view, 3766);
    line(3796, dec(e.starting_lba), first);
    line(3797, dec(e.ending_lba));
    line(3798, entry_name(e));
    std::string clear = apple_type_text(e.partition_type_guid);
    if (!clear.empty()) line(3799, clear);
    view.tree.push_back(std::move(node));
  }
  return view;
}
