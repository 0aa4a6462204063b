// The store's check and its searches: the rules of the records read in one
// pass (runs, order, ids, parents, counts, loops), what a user is told of a
// damaged project, the counters taken from a sound one, and the searches of
// the records by name.
#include "compiler/project_internal.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "IO/charsets.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"

using namespace project_store;

// --- searches -------------------------------------------------------------------------------------------------

bool match_name_pattern(std::string_view name, std::string_view pattern) {
  std::string n = upper_latin1(name), p = upper_latin1(pattern);
  size_t star = p.find('*');
  if (star == std::string::npos) return n == p;
  if (n.size() < star || n.compare(0, star, p, 0, star) != 0) return false;
  size_t at = star;        // in the name
  size_t from = star + 1;  // in the pattern
  for (;;) {
    size_t next = p.find('*', from);
    if (next == std::string::npos) {  // what follows the last star ends the name
      size_t tail = p.size() - from;
      return n.size() - at >= tail && n.compare(n.size() - tail, tail, p, from, tail) == 0;
    }
    size_t found = n.find(p.substr(from, next - from), at);  // each middle part, in order
    if (found == std::string::npos) return false;
    at = found + (next - from);
    from = next + 1;
  }
}

namespace {
int search_by_name(FILE* f, std::string_view pattern, std::vector<ProjectSearchHit>& hits, bool pc_only) {
  hits.clear();
  ProjectHeader h;
  if (!read_project_header(f, h)) return 0;
  bool mac_roman = !h.hfsplus_target();
  ProjectRecord r;
  while (hits.size() < k_max_search_hits && read_project_record(f, r)) {
    std::string name;
    if (pc_only || g_name_view == k_name_view_pc) name = r.pc_name;
    else if (g_name_view == k_name_view_iso) name = r.long_name;
    else name = mac_roman ? macroman_to_utf8(r.hfs_name) : r.hfs_name;
    if (match_name_pattern(name, pattern)) hits.push_back({r.parent_id, r.pc_name, r.id});
  }
  return int(hits.size());
}
}  // namespace

int search_project_by_name(FILE* f, std::string_view pattern, std::vector<ProjectSearchHit>& hits) {
  return search_by_name(f, pattern, hits, false);
}
int search_isoplus_project_by_name(FILE* f, std::string_view pattern, std::vector<ProjectSearchHit>& hits) {
  return search_by_name(f, pattern, hits, true);
}

// --- checking --------------------------------------------------------------------------------------------------------

namespace {

using K = ProjectFaultKind;

// One fault found: listed while the list has room, counted always.
void note(ProjectScan& scan, ProjectFault fault, std::string text) {
  ++scan.fault_count;
  if (scan.faults.size() < k_max_listed_faults) {
    scan.faults.push_back(std::move(text));
    scan.listed.push_back(fault);
  } else {
    scan.more_faults = true;
  }
}

// The header and the file's length. false when nothing further is read: no
// header, or more records than a project can number.
bool check_header_and_length(FILE* f, ProjectScan& scan) {
  ProjectHeader h;
  if (!read_project_header(f, h)) {
    note(scan, ProjectFault{K::header}, "no header");
    return false;
  }
  if (h.magic != k_project_magic) note(scan, ProjectFault{K::header}, "bad magic");
  if (h.id != k_root_folder_id) note(scan, ProjectFault{K::header}, "header id is not 1");
  const off_t size = file_size(f);
  if (size % k_rec != 0) note(scan, ProjectFault{K::length}, "file size is not a whole number of records");
  // More records than a project can number (every folder id and file serial
  // once): a damaged length, refused before a record is read.
  if (uint64_t(size / k_rec) > k_most_project_records) {
    note(scan, ProjectFault{K::not_a_record, {int64_t(size / k_rec)}}, format_text("%lld records", (long long)(size / k_rec)));
    return false;
  }
  return true;
}

// What the read keeps of the records for the rules checked after it.
struct ScanTables {
  struct Folder {
    uint32_t parent;
    uint32_t subfolders, files;  // as stored
    uint8_t reach;               // 0 unknown, 1 on the walk up, 2 reaches the root
    std::string name;            // for the user, should it be at fault
  };
  std::unordered_map<int32_t, Folder> folders;
  std::unordered_set<int32_t> file_ids;
  std::unordered_map<uint32_t, std::pair<uint32_t, uint32_t>> found;  // parent -> (subfolders, files)
  std::unordered_set<uint32_t> closed_runs;
};

// One sequential read, in blocks, keeping per record only what the rules need.
// false when the read stopped at a record that is no item (or could not start):
// the rules that need every record are then not checked.
bool read_scan_records(FILE* f, ProjectScan& scan, ScanTables& t) {
  if (!seek_record(f, 1)) return false;
  constexpr size_t k_block = 512;
  std::vector<uint8_t> block(k_block * k_rec);
  bool have_previous = false;
  uint32_t previous_parent = 0;
  std::string previous_name;
  size_t index = 1;
  for (size_t n; (n = std::fread(block.data(), k_rec, k_block, f)) > 0;) {
    for (size_t k = 0; k < n; ++k, ++index) {
      // A record that is no item: nothing after it is read.
      if (no_item(block.data() + k * k_rec)) {
        note(scan, ProjectFault{K::not_a_record, {0, int64_t(index)}}, format_text("record %zu is no item", index));
        return false;
      }
      ProjectRecord x;
      decode_project_record(std::span<const uint8_t>(block.data() + k * k_rec, k_project_record_size), x);
      if (have_previous && previous_parent != x.parent_id) {
        t.closed_runs.insert(previous_parent);
        if (t.closed_runs.count(x.parent_id))
          note(scan, ProjectFault{K::second_run, {x.parent_id, int64_t(index)}, x.long_name},
               format_text("parent %u has a second run at record %zu", x.parent_id, index));
      } else if (have_previous && previous_name > x.long_name) {
        note(scan, ProjectFault{K::order, {int64_t(index)}, x.long_name}, format_text("record %zu is out of order in its run", index));
      }
      bool unique = x.id != 0 && x.id != k_root_folder_id &&
                    (x.id > 0 ? t.folders.emplace(x.id, ScanTables::Folder{x.parent_id, x.data_size, x.rsrc_size, 0, x.long_name}).second
                              : t.file_ids.insert(x.id).second);
      if (!unique)
        note(scan, ProjectFault{K::duplicate_id, {x.id, int64_t(index)}, x.long_name}, format_text("id %d at record %zu is not unique", x.id, index));
      if (x.id > 0 && x.id != k_background_folder_id) scan.largest_folder_id = std::max(scan.largest_folder_id, x.id);
      if (x.id < 0) scan.largest_file_serial = std::max(scan.largest_file_serial, uint32_t(-int64_t(x.id)));
      auto& c = t.found[x.parent_id];
      if (x.id > 0) ++c.first; else ++c.second;
      count_record(scan.totals, x, 1);
      have_previous = true;
      previous_parent = x.parent_id;
      previous_name = std::move(x.long_name);
    }
    if (n < k_block) break;
  }
  return true;
}

// Every parent a folder of the project, every folder's counts those of its children.
void check_parents_and_counts(ProjectScan& scan, const ScanTables& t) {
  for (const auto& [parent, c] : t.found)
    if (parent != uint32_t(k_root_folder_id) && (int32_t(parent) <= 0 || !t.folders.count(int32_t(parent))))
      note(scan, ProjectFault{K::orphan, {int32_t(parent)}}, format_text("parent %d is not a folder of the project", int32_t(parent)));
  for (const auto& [id, folder] : t.folders) {
    auto it = t.found.find(uint32_t(id));
    uint32_t subfolders = it == t.found.end() ? 0 : it->second.first;
    uint32_t files = it == t.found.end() ? 0 : it->second.second;
    if (folder.subfolders != subfolders || folder.files != files)
      note(scan, ProjectFault{K::counts, {id, folder.subfolders, folder.files, int64_t(subfolders) << 32 | files}, folder.name},
           format_text("folder %d counts %u/%u, has %u/%u", id, folder.subfolders, folder.files, subfolders, files));
  }
}

// Every folder must lead up to the root: a parent loop hides what it holds.
// Each folder is walked once (reach: 0 not yet, 1 on this walk, 2 done).
void check_parent_loops(ProjectScan& scan, ScanTables& t) {
  auto& folders = t.folders;
  std::vector<int32_t> path;
  for (auto& entry : folders) {
    if (entry.second.reach != 0) continue;
    path.clear();
    int32_t at = entry.first;
    bool loop = false;
    for (;;) {
      auto it = folders.find(at);
      if (it == folders.end() || it->second.reach == 2) break;  // the root, a missing parent, or a folder done
      if (it->second.reach == 1) { loop = true; break; }
      it->second.reach = 1;
      path.push_back(at);
      at = int32_t(it->second.parent);
    }
    for (int32_t id : path) folders[id].reach = 2;
    if (loop) note(scan, ProjectFault{K::loop, {at}, folders[at].name}, format_text("folder %d is inside a parent loop", at));
  }
}

}  // namespace

ProjectScan scan_project_file(FILE* f) {
  ProjectScan scan;
  if (!check_header_and_length(f, scan)) return scan;
  ScanTables tables;
  if (!read_scan_records(f, scan, tables)) return scan;
  check_parents_and_counts(scan, tables);
  check_parent_loops(scan, tables);
  return scan;
}

std::vector<std::string> check_project_invariants(FILE* f) {
  ProjectScan scan = scan_project_file(f);
  ProjectHeader h;
  (void)read_project_header(f, h);  // unread, the scan has said so (no header)
  if (h.last_folder_id < uint32_t(scan.largest_folder_id))
    scan.faults.push_back(format_text("last folder id %u below %d", h.last_folder_id, scan.largest_folder_id));
  if (h.last_file_serial < scan.largest_file_serial)
    scan.faults.push_back(format_text("last file serial %u below %u", h.last_file_serial, scan.largest_file_serial));
  return scan.faults;
}

namespace {

// The sentence's words for the kind of fault (ids 6782-6789, in the order of
// ProjectFaultKind), and one fault in a line.
int fault_kind_text(ProjectFaultKind kind) {
  return kind == ProjectFaultKind::not_a_record ? 6799 : 6782 + int(kind);
}

std::string fault_line(const ProjectFault& x) {
  const char* name = x.name.c_str();
  switch (x.kind) {
    case ProjectFaultKind::header: return ui_text(6796);
    case ProjectFaultKind::length: return ui_text(6797);
    case ProjectFaultKind::second_run:
      return format_text(ui_text(6790).c_str(), name, (unsigned long)x.at[1]);
    case ProjectFaultKind::order: return format_text(ui_text(6791).c_str(), name, (unsigned long)x.at[0]);
    case ProjectFaultKind::duplicate_id:
      return format_text(ui_text(6792).c_str(), name, (unsigned long)x.at[1]);
    case ProjectFaultKind::orphan: return format_text(ui_text(6793).c_str(), int(x.at[0]));
    case ProjectFaultKind::counts:
      return format_text(ui_text(6794).c_str(), name, unsigned(x.at[1]), unsigned(x.at[2]),
                         unsigned(uint64_t(x.at[3]) >> 32), unsigned(uint64_t(x.at[3]) & 0xFFFFFFFFu));
    case ProjectFaultKind::loop: return format_text(ui_text(6795).c_str(), name);
    case ProjectFaultKind::not_a_record:
      if (x.at[0] != 0) return format_text(ui_text(6801).c_str(), (unsigned long long)x.at[0]);
      return format_text(ui_text(6800).c_str(), (unsigned long)x.at[1]);
  }
  return std::string();
}

}  // namespace

std::string damaged_project_text(const ProjectScan& scan, const std::string& path) {
  if (scan.listed.empty()) return std::string();
  std::string text = format_text(ui_text(6778).c_str(), path.c_str(),
                                 ui_text(fault_kind_text(scan.listed.front().kind)).c_str());
  text += "\n\n";
  text += scan.fault_count == 1 ? ui_text(6780) : format_text(ui_text(6779).c_str(), unsigned(scan.fault_count));
  for (size_t i = 0; i < scan.listed.size() && i < k_faults_told; ++i) text += "\n- " + fault_line(scan.listed[i]);
  if (scan.fault_count > k_faults_told) text += "\n- ...";
  return text;
}

void take_project_counters(FILE* f, const ProjectScan& scan) {
  // Counters below the ids in use would hand those ids out again.
  read_project_id_counters(f, g_last_folder_id, g_last_file_serial);
  g_last_folder_id = std::max(g_last_folder_id, uint32_t(scan.largest_folder_id));
  g_last_file_serial = std::max(g_last_file_serial, scan.largest_file_serial);
  // The scan read every record: its totals are kept from here on.
  if (scan.fault_count == 0) set_tally(f, scan.totals);
}

std::string g_refused_project_text;

int verify_opened_project(FILE* f, const char* path) {
  ProjectScan scan = scan_project_file(f);
  if (!scan.faults.empty()) {
    g_refused_project_text = damaged_project_text(scan, path ? path : "");
    show_message(g_refused_project_text.c_str());
    return -1;
  }
  take_project_counters(f, scan);
  return 0;
}
