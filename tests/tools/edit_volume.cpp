// Renames or moves one item of an image's first HFS/HFS+ partition the way the
// window does (one edit: allocation structures loaded, the change, one
// write-back):
//   edit_volume IMAGE rename OLD NEW      an item of the root gets a new name
//   edit_volume IMAGE move NAME FOLDER    an item of the root goes into the root's folder FOLDER
// Names are UTF-8. Exit 0 done; 1 the image cannot be opened or mounted; 2 the
// volume refuses edits (read-only); 3 the edit was refused or failed.
#include <cstdio>
#include <string>

#include "IO/charsets.h"
#include "IO/names.h"
#include "hfs/lookup.h"
#include "hfs/voledit.h"
#include "window_edit.h"

namespace {

constexpr uint32_t k_root = 2;

int edit(const std::string& verb, const std::string& a, const std::string& b) {
  const bool plus = g_volume.is_hfsplus != 0;
  if (verb == "rename")
    return plus ? hfsplus_rename_item(utf8_to_unistr(a), b.c_str(), k_root)
                : hfs_rename_item(utf8_to_macroman(a), utf8_to_macroman(b), k_root);
  if (verb != "move") return 0;
  HFSUniStr255 folder = utf8_to_unistr(b);
  std::vector<CatalogItem> items;
  if (int rc = list_folder(k_root, items); rc != 0) return rc;  // an unreadable catalog fails the edit
  for (const CatalogItem& it : items) {
    bool named = plus ? it.units == std::u16string(folder.unicode, folder.unicode + folder.length)
                      : it.name == utf8_to_macroman(b);
    if (!it.is_folder || !named) continue;
    return plus ? hfsplus_move_item(utf8_to_unistr(a), k_root, it.id) : hfs_move_item(utf8_to_macroman(a), k_root, it.id);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: edit_volume IMAGE rename OLD NEW | edit_volume IMAGE move NAME FOLDER\n");
    return 1;
  }
  return run_window_edit(argv[1], [&] { return edit(argv[2], argv[3], argv[4]) == 1; });
}
