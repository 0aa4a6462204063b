#include "gui/search/catalog_search.h"

#include <algorithm>
#include <functional>
#include <set>

#include "IO/charsets.h"
#include "IO/unicode.h"
#include "hfs/lookup.h"
#include "hfs/volume.h"
#include "macfiles/signatures.h"

namespace {

std::string item_name(const CatalogItem& item) {
  if (g_volume.is_hfsplus) return utf8_compose(u32_to_utf8(utf16_to_u32(item.units)));
  return macroman_to_utf8(item.name);
}

void put_be32(char* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = char(v >> (24 - 8 * i));
}

// Every folder and file of the volume in catalog key order (parent ID, then the
// order of the names within the folder), each offered to take until it has had
// enough. Each folder is listed once, so a damaged catalog cannot loop.
int walk_catalog(const std::function<bool(const CatalogItem&, const std::string&)>& take) {
  struct Entry {
    uint32_t parent;
    size_t seq;
    CatalogItem item;
  };
  std::vector<Entry> all;
  std::set<uint32_t> listed;
  std::vector<uint32_t> pending{1};
  int rc = 0;
  while (!pending.empty()) {
    uint32_t folder = pending.back();
    pending.pop_back();
    if (!listed.insert(folder).second) continue;
    std::vector<CatalogItem> items;
    if (list_folder(folder, items) != 0) rc = -2;
    for (CatalogItem& item : items) {
      if (item.is_folder && item.id != folder) pending.push_back(item.id);
      all.push_back({folder, all.size(), std::move(item)});
    }
  }
  std::sort(all.begin(), all.end(),
            [](const Entry& a, const Entry& b) { return a.parent != b.parent ? a.parent < b.parent : a.seq < b.seq; });
  for (const Entry& e : all)
    if (!take(e.item, item_name(e.item))) break;
  return rc;
}

int search(std::vector<ProjectSearchHit>& hits,
           const std::function<bool(const CatalogItem&, const std::string&)>& match) {
  hits.clear();
  int rc = walk_catalog([&](const CatalogItem& item, const std::string& name) {
    if (match(item, name)) hits.push_back({item.parent_id, name, int32_t(item.id)});
    return hits.size() < k_max_search_hits;
  });
  return rc < 0 && hits.empty() ? rc : int(hits.size());
}

}  // namespace

int find_by_name(std::string_view pattern, std::vector<ProjectSearchHit>& hits) {
  std::string p = utf8_compose(pattern);
  return search(hits, [&p](const CatalogItem&, const std::string& name) { return match_name_pattern(name, p); });
}

int find_by_signature(std::string_view pattern, std::vector<ProjectSearchHit>& hits) {
  return search(hits, [pattern](const CatalogItem& item, const std::string&) {
    if (item.is_folder) return false;
    char sig[8];
    put_be32(sig, item.type);
    put_be32(sig + 4, item.creator);
    return signature_mismatch(pattern, sig) == 0;
  });
}

bool hits_in_one_folder(const std::vector<ProjectSearchHit>& hits, int count) {
  for (int i = 1; i < count && size_t(i) < hits.size(); ++i)
    if (hits[size_t(i)].parent_id != hits[0].parent_id) return false;
  return true;
}
