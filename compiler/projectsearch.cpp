#include "compiler/projectsearch.h"

#include "IO/ui_services.h"
#include "macfiles/signatures.h"

namespace {

int search_by_signature(FILE* f, std::string_view pattern, std::vector<ProjectSearchHit>& hits) {
  hits.clear();
  ProjectHeader h;
  if (!f || !read_project_header(f, h)) return 0;
  ProjectRecord r;
  while (hits.size() < k_max_search_hits && read_project_record(f, r))
    if (!r.is_folder() && signature_mismatch(pattern, r.type_creator) == 0) hits.push_back({r.parent_id, r.pc_name, r.id});
  return int(hits.size());
}

}  // namespace

int search_project_by_signature(FILE* f, std::string_view pattern, std::vector<ProjectSearchHit>& hits) {
  return search_by_signature(f, pattern, hits);
}
int search_isoplus_project_by_signature(FILE* f, std::string_view pattern, std::vector<ProjectSearchHit>& hits) {
  return search_by_signature(f, pattern, hits);
}

int edit_item_properties(FILE* f, int32_t id, uint32_t parent_id) {
  ProjectRecord r;
  if (!find_item_record(f, r, id, parent_id)) return k_item_unchanged;
  const off_t at = ftello(f) - off_t(k_project_record_size);
  ProjectRecord edited = r;
  int answer = edit_project_item_dialog(edited, f == g_isoplus_file);
  if (answer == k_item_unchanged) return k_item_unchanged;
  edited.id = r.id;
  edited.parent_id = r.parent_id;
  // Runs stay sorted by ISO name: a new name takes the item where it sorts.
  if (replace_record(f, long(at / off_t(k_project_record_size)), edited) != 0) return k_failed;
  std::fflush(f);
  return answer > 0 ? k_item_names_changed : k_item_views_changed;
}
