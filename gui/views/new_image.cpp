#include "gui/views/new_image.h"

#include <sys/statvfs.h>
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "IO/charsets.h"
#include "IO/prompts.h"
#include "IO/strlib.h"
#include "IO/uitext.h"
#include "IO/unicode.h"
#include "IO/version.h"
#include "hfs/btree.h"
#include "hfs/voledit.h"
#include "hfs/volume.h"
#include "macfiles/aliasres.h"
#include "macfiles/signatures.h"

// --- new image -------------------------------------------------------------------------------------

uint32_t new_image_max_mb(bool hfsplus) { return hfsplus ? 1u << 20 : 2047; }

int check_new_image(const NewImageModel& m, const std::string& path, std::string& label, uint32_t& size_mb) {
  std::string typed = m.label.empty() ? ui_text(k_text_untitled) : m.label;
  if (check_dialog_name(NameField::hfs_volume_name, typed, label) != 0) return k_text_name_too_long;
  const std::string& s = m.size_text;
  if (s.empty() || s.size() > 8 || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return k_text_bad_size;
  unsigned long mb = std::stoul(s);
  if (mb < 1 || mb > new_image_max_mb(m.hfsplus)) return k_text_bad_size;
  size_mb = uint32_t(mb);
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) folder = ".";
  struct statvfs st {};
  if (statvfs(folder.c_str(), &st) == 0 && uint64_t(st.f_bavail) * st.f_frsize < uint64_t(size_mb) << 20)
    return k_text_no_free_space;
  return 0;
}
