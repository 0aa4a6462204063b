#include "gui/search/hit_selection.h"

#include <cstring>

#include "IO/charsets.h"
#include "IO/unicode.h"
#include "hfs/lookup.h"
#include "hfs/volume.h"

namespace {
size_t hit_count(const std::vector<ProjectSearchHit>& hits) {
  size_t n = 0;
  while (n < hits.size() && n < k_max_search_hits && !hits[n].pc_name.empty()) ++n;
  return n;
}

std::string project_caption(const ProjectRecord& r, bool isoplus, bool hfsplus_target) {
  if (isoplus || g_name_view == k_name_view_iso) return r.long_name;
  if (g_name_view == k_name_view_pc) return r.pc_name;
  return hfsplus_target ? r.hfs_name : macroman_to_utf8(r.hfs_name);
}
}  // namespace

std::vector<HitRow> project_hit_rows(FILE* f, const std::vector<ProjectSearchHit>& hits, bool isoplus) {
  std::vector<HitRow> rows;
  if (!f) return rows;
  bool hfsplus_target = get_project_hfs_format(f) == 1;
  for (size_t i = 0; i < hit_count(hits); ++i) {
    ProjectRecord r;
    if (hits[i].id == 0 || !find_item_record(f, r, hits[i].id, hits[i].parent_id)) continue;
    HitRow row;
    row.parent_id = r.parent_id;
    row.id = r.id;
    row.is_folder = r.is_folder();
    row.caption = project_caption(r, isoplus, hfsplus_target);
    if (!row.is_folder) {
      row.type_creator.assign(r.type_creator, 8);
      row.data_size = r.data_size;
      row.rsrc_size = r.rsrc_size;
    }
    row.create_date = r.create_date;
    row.modify_date = r.modify_date;
    rows.push_back(row);
  }
  return rows;
}

std::vector<HitRow> volume_hit_rows(const std::vector<ProjectSearchHit>& hits) {
  std::vector<HitRow> rows;
  for (size_t i = 0; i < hit_count(hits); ++i) {
    std::vector<CatalogItem> items;
    (void)list_folder(hits[i].parent_id, items);  // a damaged folder still lists the items it could read
    for (const CatalogItem& item : items) {
      if (int32_t(item.id) != hits[i].id) continue;
      HitRow row;
      row.parent_id = item.parent_id;
      row.id = int32_t(item.id);
      row.is_folder = item.is_folder;
      row.caption = g_volume.is_hfsplus ? utf8_compose(u32_to_utf8(utf16_to_u32(item.units)))
                                        : macroman_to_utf8(item.name);
      if (!item.is_folder) {
        char sig[8];
        for (int k = 0; k < 4; ++k) {
          sig[k] = char(item.type >> (24 - 8 * k));
          sig[4 + k] = char(item.creator >> (24 - 8 * k));
        }
        row.type_creator.assign(sig, 8);
        row.data_size = item.data_size;
        row.rsrc_size = item.rsrc_size;
      }
      row.create_date = item.create_date;
      row.modify_date = item.modify_date;
      rows.push_back(row);
      break;
    }
  }
  return rows;
}

int choose_search_hit(const std::vector<HitRow>& rows, int selected_row, std::vector<ProjectSearchHit>& hits) {
  if (selected_row < 0 || size_t(selected_row) >= rows.size()) return 0;
  const HitRow& row = rows[size_t(selected_row)];
  if (hits.empty()) hits.resize(1);
  hits[0] = ProjectSearchHit{row.parent_id, row.caption, row.id};
  return -int(row.parent_id);
}
