#include "gui/inspector/dump_session.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>

#include "IO/charsets.h"
#include "IO/hexdump.h"
#include "IO/strlib.h"
#include "IO/unicode.h"
#include "IO/uitext.h"
#include "IO/version.h"
#include "hfs/lookup.h"
#include "hfs/ondisk.h"
#include "hfs/partition.h"
#include "hfs/volume.h"
#include "platform/files.h"

DumpSearchState g_dump_search;

namespace {

// The two first extent records of a file record, as the fork mapper takes them.
void map_forks(bool plus, const std::vector<uint8_t>& record, uint32_t fork_id, DumpFile& out) {
  ByteSpan data(record.data(), record.size());
  if (plus) {
    HfsPlusCatalogFile f;
    if (!decode(data, f)) return;
    uint8_t raw[k_hfsplus_extent_record_size];
    encode(f.data_fork.extents, raw);
    out.data_map_rc = map_volume_fork(true, raw, fork_id, k_fork_data, f.data_fork.logical_size, out.data);
    encode(f.resource_fork.extents, raw);
    out.resource_map_rc =
        map_volume_fork(true, raw, fork_id, k_fork_resource, f.resource_fork.logical_size, out.resource);
  } else {
    HfsCatalogFile f;
    if (!decode(data, f)) return;
    uint8_t raw[k_hfs_extent_record_size];
    encode(f.data_extents, raw);
    out.data_map_rc = map_volume_fork(false, raw, fork_id, k_fork_data, f.data_logical_size, out.data);
    encode(f.rsrc_extents, raw);
    out.resource_map_rc = map_volume_fork(false, raw, fork_id, k_fork_resource, f.rsrc_logical_size, out.resource);
  }
}

std::string item_name(const CatalogItem& it, bool plus) {
  if (!plus) return macroman_to_utf8(it.name);
  return u32_to_utf8(utf16_to_u32(it.units));
}

}  // namespace

int open_dump_file(uint32_t parent_id, uint32_t file_id, const std::string& name, const std::u16string& units,
                   DumpFile& out) {
  out = DumpFile{};
  if (!g_volume.mounted) return k_dump_no_volume;
  const bool plus = g_volume.is_hfsplus != 0;
  std::vector<CatalogItem> items;
  (void)list_folder(parent_id, items);  // a damaged catalog still lists what it could read
  const CatalogItem* found = nullptr;
  for (const CatalogItem& it : items)
    if (!it.is_folder && file_id != 0 && it.id == file_id) found = &it;
  if (!found)
    for (const CatalogItem& it : items)
      if (!it.is_folder && (plus ? it.units == units : it.name == name)) {
        found = &it;
        break;
      }
  if (!found) return -1;
  out.hfsplus = plus;
  out.parent_id = parent_id;
  out.file_id = found->id;
  out.name = item_name(*found, plus);
  // An empty fork maps to nothing, whatever the record says.
  out.data.length = out.resource.length = 0;
  map_forks(plus, found->record, found->fork_id, out);
  return 0;
}

int parse_font_size(const std::string& text) {
  std::string t = trim(text);
  if (t.empty() || t.size() > 6 || t.find_first_not_of("0123456789") != std::string::npos) return 0;
  int n = std::stoi(t);
  return n == 0 ? 0 : std::clamp(n, 6, 20);
}

std::string dump_radix_text(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, g_dump_radix == 16 ? "%" PRIx64 : "%" PRIu64, v);
  return buf;
}

DumpSession::DumpSession(DumpFile file, SectorReader medium) : file_(std::move(file)), medium_(std::move(medium)) {}

int DumpSession::initial_fork() const {
  if (file_.data.length != 0) return k_fork_data_view;
  if (file_.resource.length != 0) return k_fork_resource_view;
  return k_fork_none;
}

bool DumpSession::select_fork(int fork) {
  const ForkMap* map = fork == k_fork_data_view ? &file_.data : fork == k_fork_resource_view ? &file_.resource : nullptr;
  if (!map || map->length == 0) return false;
  fork_ = fork;
  current_ = previous_ = k_no_sector;
  inspector = InspectorContext{};
  inspector.image_sectors = int64_t(fork_sector_count(*map));
  return true;
}

const ForkMap& DumpSession::fork_map() const {
  static const ForkMap k_empty;
  return fork_ == k_fork_data_view ? file_.data : fork_ == k_fork_resource_view ? file_.resource : k_empty;
}

uint64_t DumpSession::last_sector() const {
  uint64_t n = fork_sector_count(fork_map());
  return n ? n - 1 : 0;
}

int DumpSession::read(uint64_t sector, uint8_t* buf, int64_t* absolute) const {
  int64_t abs = -1;
  int rc = fork_ == k_fork_none ? k_sector_refused : read_fork_sector(fork_map(), medium_, sector, buf, &abs);
  if (rc == k_sector_refused && fork_ != k_fork_none) std::memset(buf, 0, 512);
  if (absolute) *absolute = rc == k_sector_refused ? -1 : abs;
  return rc;
}

int DumpSession::show(uint64_t sector, uint8_t* buf, int64_t& absolute) {
  int rc = read(sector, buf, &absolute);
  if (rc == k_sector_refused) return rc;
  if (current_ != k_no_sector) previous_ = current_;
  current_ = sector;
  return rc;
}

int64_t DumpSession::home_target() const { return current_ != 0 ? 0 : -1; }

int64_t DumpSession::end_target() const { return current_ != last_sector() ? int64_t(last_sector()) : -1; }

int64_t DumpSession::previous_target() const {
  return previous_ != k_no_sector && previous_ <= last_sector() ? int64_t(previous_) : -1;
}

int64_t DumpSession::next_target() const {
  return current_ != k_no_sector && current_ < last_sector() ? int64_t(current_ + 1) : -1;
}

int64_t DumpSession::prior_target() const {
  return current_ != k_no_sector && current_ > 0 ? int64_t(current_ - 1) : -1;
}

int64_t DumpSession::goto_target(const std::string& text) const {
  int64_t s = parse_relative_sector(text, current_ == k_no_sector ? 0 : current_, last_sector(), g_dump_radix);
  return s >= 0 && uint64_t(s) != current_ ? s : -1;
}

std::string DumpSession::goto_proposal() const { return dump_radix_text(current_ == k_no_sector ? 0 : current_); }

int DumpSession::search(bool again, uint64_t& sector, const std::function<bool(uint64_t)>& poll) const {
  const DumpSearchState& st = g_dump_search;
  if (st.pattern.empty() || fork_ == k_fork_none) return -1;
  std::atomic<bool> stop{false};
  SectorReader fork = fork_reader();
  // Every sector read goes past poll first, which may stop the search.
  SectorReader polled = [&](int64_t first, uint32_t count, uint8_t* buf) -> int {
    if (poll && !poll(uint64_t(first))) {
      stop = true;
      return -1;
    }
    return fork(first, count, buf);
  };
  uint64_t from = current_ == k_no_sector ? 0 : current_;
  if (st.at_start) return search_sector_starts(st.pattern, polled, last_sector(), sector = from, &stop);
  int start = again ? st.offset + 1 : 0;
  if (again && start > 511) {  // nothing left of this sector
    if (from >= last_sector()) return -1;
    ++from;
    start = 0;
  }
  sector = from;
  return search_anywhere(st.pattern, polled, last_sector(), sector, start, &stop, fork_length());
}

std::string DumpSession::title() const {
  char length[24];
  std::snprintf(length, sizeof length, "%" PRIu64, fork_length());
  return format_text(ui_text(3045).c_str(), file_.name.c_str(), ui_text(fork_ == k_fork_resource_view ? 3047 : 3046).c_str(),
                     length, g_product_name);
}

std::array<std::string, 3> DumpSession::status_texts(uint64_t sector, int64_t absolute) const {
  return {dump_radix_text(sector), absolute >= 0 ? dump_radix_text(uint64_t(absolute)) : std::string(),
          dump_radix_text(sector * 512)};
}

std::string DumpSession::fork_caption(int fork) const {
  uint64_t n = fork == k_fork_data_view ? file_.data.length : file_.resource.length;
  std::string caption = ui_text(fork == k_fork_data_view ? 3001 : 3002);
  if (n != 0) caption += " [" + std::to_string(n) + "]";
  return caption;
}

SectorReader DumpSession::fork_reader() const { return fork_sector_reader(fork_map(), medium_); }

SectorReader DumpSession::fork_reader_for_thread() const {
  return fork_sector_reader(fork_map(), volume_medium_reader_for_thread());
}

SectorReader volume_medium_reader_for_thread() {
  if (g_volume.sector_io != image_sector_io || g_volume.image_file < 0) return volume_medium_reader();
  auto fd = std::shared_ptr<int>(new int(::dup(g_volume.image_file)), [](int* p) {
    if (*p >= 0) ::close(*p);
    delete p;
  });
  const uint64_t sectors = image_sectors();  // the image's, as the engine's reader is bounded
  return [fd, sectors](int64_t first, uint32_t count, uint8_t* buf) -> int {
    if (*fd < 0 || first < 0) return -1;
    if (uint64_t(first) >= sectors || count > sectors - uint64_t(first)) return -1;
    return pread_exact(*fd, buf, size_t(count) * 512, uint64_t(first) * 512) ? 0 : -1;
  };
}
