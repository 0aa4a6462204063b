#include "gui/search/file_search.h"

#include "IO/strlib.h"
#include "IO/uitext.h"
#include "compiler/projectsearch.h"
#include "gui/search/catalog_search.h"
#include "gui/search/hit_selection.h"
#include "hfs/lookup.h"
#include "hfs/volume.h"

std::string g_last_search_name;
std::string g_last_search_signature;

namespace {
constexpr int k_text_no_file_found = 1173;
constexpr int k_text_hits_capped = 1607;

void erase_all(std::string& s, std::string_view what, std::string_view with) {
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + with.size()))
    s.replace(at, what.size(), with);
}

int finish_search(FileSearchModel& m, int count, int none_result, const std::string& criterion) {
  if (count <= 0) {
    m.message = format_text(ui_text(k_text_no_file_found).c_str(), criterion.c_str());
    return none_result;
  }
  if (size_t(count) >= k_max_search_hits)
    m.message = format_text(ui_text(k_text_hits_capped).c_str(), int(k_max_search_hits));
  return count;
}
}  // namespace

std::string normalise_search_pattern(std::string_view pattern) {
  std::string p(pattern);
  erase_all(p, "*.*", "*");
  if (p.size() >= 2 && p[0] == '*' && p[1] == '.') p.erase(1, 1);
  size_t dot_star = p.find(".*");
  if (dot_star != std::string::npos) p.erase(dot_star, 1);
  return p;
}

std::string prepare_name_criterion(std::string_view typed) {
  std::string s = trim(typed);
  to_lower_latin1(s.data());
  return s;
}

void init_file_search(FileSearchModel& m) {
  m = FileSearchModel{};
  m.name = g_last_search_name;
  m.signature = g_last_search_signature;
}

void file_search_name_changed(FileSearchModel& m, std::string_view text) {
  m.name = std::string(text);
  if (!m.name.empty()) m.name_button = true;
}

void file_search_signature_changed(FileSearchModel& m, std::string_view text) {
  m.signature = std::string(text);
  if (!m.signature.empty()) m.signature_button = true;
}

int run_mode_search(int mode, FILE* project, bool by_name, std::string_view pattern,
                    std::vector<ProjectSearchHit>& hits) {
  hits.clear();
  if (mode == k_mode_partition) {
    if (g_volume.image_file < 0) return 0;
    return by_name ? find_by_name(pattern, hits) : find_by_signature(pattern, hits);
  }
  if (!project) return 0;
  if (mode == k_mode_isoplus)
    return by_name ? search_isoplus_project_by_name(project, pattern, hits)
                   : search_isoplus_project_by_signature(project, pattern, hits);
  return by_name ? search_project_by_name(project, pattern, hits) : search_project_by_signature(project, pattern, hits);
}

int file_search_by_name(FileSearchModel& m, int mode, FILE* project) {
  m.message.clear();
  g_last_search_name = prepare_name_criterion(m.name);
  std::string pattern = normalise_search_pattern(g_last_search_name);
  int count = run_mode_search(mode, project, true, pattern, m.hits);
  return finish_search(m, count, 0, g_last_search_name);
}

int file_search_by_signature(FileSearchModel& m, int mode, FILE* project) {
  m.message.clear();
  g_last_search_signature = trim(m.signature);
  int count = run_mode_search(mode, project, false, g_last_search_signature, m.hits);
  return finish_search(m, count, -1, g_last_search_signature);
}

SearchCommandPlan plan_search_command(int result, const std::vector<ProjectSearchHit>& hits) {
  SearchCommandPlan plan;
  if (result <= 0 || hits.empty()) return plan;
  size_t n = std::min(size_t(result), hits.size());
  plan.folder = hits[0].parent_id;
  if (n == 1) {
    plan.action = SearchCommandPlan::select_one;
    plan.items.push_back(hits[0].id);
    return plan;
  }
  if (!hits_in_one_folder(hits, int(n))) {
    plan.action = SearchCommandPlan::pick;
    return plan;
  }
  plan.action = SearchCommandPlan::select_in_folder;
  for (size_t i = 0; i < n; ++i) plan.items.push_back(hits[i].id);
  return plan;
}

int32_t list_row_id(int mode, const ProjectSearchHit& hit) {
  if (mode != k_mode_partition) return hit.id;
  std::vector<HitRow> rows = volume_hit_rows({hit});
  return rows.empty() || rows[0].is_folder ? hit.id : -hit.id;
}

std::vector<uint32_t> folder_chain(int mode, FILE* project, uint32_t folder) {
  const uint32_t root = mode == k_mode_partition ? 2 : uint32_t(k_root_folder_id);
  std::vector<uint32_t> chain{folder};
  // A chain longer than any real one means a loop in the parent links.
  for (int guard = 0; folder != root && guard < 100000; ++guard) {
    uint32_t parent = mode == k_mode_partition ? (g_volume.is_hfsplus ? hfsplus_get_parent_id(folder)
                                                                       : hfs_get_parent_id(folder))
                                               : get_parent_id(project, int32_t(folder));
    if (parent == 0 || parent == folder) return {};
    chain.insert(chain.begin(), parent);
    folder = parent;
  }
  return folder == root ? chain : std::vector<uint32_t>{};
}
