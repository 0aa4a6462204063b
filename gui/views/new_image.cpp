#include "gui/views/new_image.h"

#include <sys/statvfs.h>
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "IO/charsets.h"
#include "IO/fileio.h"
#include "IO/prompts.h"
#include "IO/strlib.h"
#include "IO/uitext.h"
#include "IO/unicode.h"
#include "IO/version.h"
#include "hfs/btree.h"
#include "hfs/newimage.h"
#include "hfs/voledit.h"
#include "hfs/volume.h"
#include "macfiles/aliasres.h"
#include "macfiles/signatures.h"

// --- new image -------------------------------------------------------------------------------------

uint32_t new_image_max_mb(bool hfsplus) { return hfsplus ? k_new_hfsplus_max_mb : k_new_hfs_max_mb; }

namespace {

// The typed size in MB, 0 when it is no size the format takes.
uint32_t typed_size_mb(const NewImageModel& m) {
  std::string s = remove_group_separators(m.size_text);
  if (s.empty() || s.size() > 8 || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return 0;
  unsigned long mb = std::stoul(s);
  return mb >= k_new_image_min_mb && mb <= new_image_max_mb(m.hfsplus) ? uint32_t(mb) : 0;
}

}  // namespace

uint32_t new_image_block_size(uint32_t size_mb, bool hfsplus) {
  return hfsplus ? hfsplus_size_new_volume(size_mb).block_size : hfs_size_new_volume(size_mb).block_size;
}

std::string new_image_block_text(const NewImageModel& m) {
  uint32_t mb = typed_size_mb(m);
  if (mb == 0) return std::string();
  char size[k_size_text], block[k_size_text];
  format_grouped_u32(mb, size);
  format_grouped_u32(new_image_block_size(mb, m.hfsplus), block);
  return format_text(ui_text(6134).c_str(), size, block);
}

int check_new_image(const NewImageModel& m, const std::string& path, std::string& label, uint32_t& size_mb) {
  std::string typed = m.label.empty() ? ui_text(k_text_untitled) : m.label;
  if (check_dialog_name(NameField::hfs_volume_name, typed, label) != 0) return k_text_name_too_long;
  uint32_t mb = typed_size_mb(m);
  if (mb == 0) return k_text_bad_size;
  size_mb = mb;
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) folder = ".";
  struct statvfs st {};
  if (statvfs(folder.c_str(), &st) == 0 && uint64_t(st.f_bavail) * st.f_frsize < uint64_t(size_mb) << 20)
    return k_text_no_free_space;
  return 0;
}
