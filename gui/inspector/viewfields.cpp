#include "gui/inspector/viewfields.h"

#include <cstdio>

#include "IO/charsets.h"
#include "IO/uitext.h"

namespace inspect {

std::string dec(uint64_t v) { return std::to_string(v); }

std::string hex(uint64_t v, int min_digits) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%0*llX", min_digits, static_cast<unsigned long long>(v));
  return buf;
}

void add_field(StructureView& view, int caption_id, std::string value, bool valid) {
  view.fields.push_back(ViewField{caption_id, std::move(value), valid});
}

void add_invalid(StructureView& view, int caption_id, int reason_id) {
  view.fields.push_back(ViewField{caption_id, ui_text(reason_id), false});
}

void add_message(StructureView& view, int text_id) {
  std::string t = ui_text(text_id);
  for (const std::string& m : view.messages)
    if (m == t) return;
  view.messages.push_back(std::move(t));
}

int64_t target_in_image(int64_t sector, const InspectorContext& ctx) {
  return sector >= 0 && sector < ctx.image_sectors ? sector : -1;
}

bool add_go(StructureView& view, int caption_id, int64_t sector, const InspectorContext& ctx) {
  if (target_in_image(sector, ctx) < 0) {
    add_message(view, 3766);
    return false;
  }
  view.gos.push_back(GoTarget{caption_id, sector});
  return true;
}

std::string trimmed_field(Bytes field) {
  size_t n = 0;
  while (n < field.size() && field[n] != 0) ++n;
  while (n > 0 && (field[n - 1] == ' ' || field[n - 1] == 0xA0)) --n;
  return std::string(reinterpret_cast<const char*>(field.data()), n);
}

std::string mac_field_text(Bytes field) { return macroman_to_utf8(trimmed_field(field)); }
std::string pc_field_text(Bytes field) { return cp1252_to_utf8(trimmed_field(field)); }

uint32_t read_run(const SectorReader& read, int64_t first, uint32_t count, std::vector<uint8_t>& out) {
  out.clear();
  if (!read || first < 0 || count == 0) return 0;
  out.resize(size_t(count) * 512);
  if (read(first, count, out.data()) == 0) return count;
  uint32_t done = 0;
  while (done < count && read(first + done, 1, out.data() + size_t(done) * 512) == 0) ++done;
  out.resize(size_t(done) * 512);
  return done;
}

std::vector<uint8_t> read_from_sector(StructureView& view, std::span<const uint8_t> sector, int64_t first,
                                      uint32_t count, const SectorReader& read) {
  std::vector<uint8_t> out;
  uint32_t done = read_run(read, first, count, out);
  if (done < count) {
    add_message(view, 3767);
    if (out.size() < sector.size()) out.assign(sector.begin(), sector.end());
  }
  return out;
}

}  // namespace inspect

int64_t run_sector(const std::vector<SectorRun>& runs, uint64_t offset) {
  for (const SectorRun& r : runs) {
    if (r.count <= 0) continue;
    if (offset < uint64_t(r.count)) return r.first + int64_t(offset);
    offset -= uint64_t(r.count);
  }
  return -1;
}

int64_t run_offset(const std::vector<SectorRun>& runs, int64_t sector) {
  int64_t at = 0;
  for (const SectorRun& r : runs) {
    if (r.count <= 0) continue;
    if (sector >= r.first && sector - r.first < r.count) return at + (sector - r.first);
    at += r.count;
  }
  return -1;
}
