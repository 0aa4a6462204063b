#include "gui/project/access_path.h"

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

// --- access path -----------------------------------------------------------------------------------

namespace {
bool show_access_record(AccessPathModel& m, long index) {
  ProjectRecord r;
  if (std::fseek(m.project, index * long(k_project_record_size), SEEK_SET) != 0 || !read_project_record(m.project, r))
    return false;
  m.index = index;
  m.old_path = m.new_path = r.pc_folder;
  m.next_enabled = index + 1 < m.count;
  m.previous_enabled = index > 1;
  return true;
}
std::string with_trailing_slash(std::string p) {
  if (p.empty() || p.back() != '/') p += '/';
  return p;
}
}  // namespace

int init_access_path(FILE* f, AccessPathModel& m) {
  m = AccessPathModel{};
  m.project = f;
  if (!f) return 0;
  m.count = project_record_count(f);
  return m.count > 1 && show_access_record(m, 1) ? 1 : 0;
}

void access_path_next(AccessPathModel& m) {
  if (m.index + 1 < m.count) show_access_record(m, m.index + 1);
}

void access_path_previous(AccessPathModel& m) {
  if (m.index > 1) show_access_record(m, m.index - 1);
}

int apply_access_path(AccessPathModel& m, int& text_id) {
  text_id = 0;
  // A path longer than the edit holds is refused, never cut (a cut path names another folder).
  if (m.old_path.size() > k_access_path_limit || m.new_path.size() > k_access_path_limit || m.old_path.empty()) {
    text_id = k_text_path_too_long;
    return 0;
  }
  std::string old_prefix = with_trailing_slash(m.old_path);
  std::string new_prefix = with_trailing_slash(m.new_path);
  // Refused as a whole when one record's folder would not fit its field.
  ProjectRecord r;
  for (long i = 1; i < m.count; ++i) {
    if (std::fseek(m.project, i * long(k_project_record_size), SEEK_SET) != 0 || !read_project_record(m.project, r))
      break;
    if (r.pc_folder.compare(0, old_prefix.size(), old_prefix) == 0 &&
        r.pc_folder.size() - old_prefix.size() + new_prefix.size() >= k_pc_folder_size) {
      text_id = k_text_path_too_long;
      return 0;
    }
  }
  (void)replace_source_path_prefix(m.project, old_prefix, new_prefix);  // the list drawn again shows what changed
  m.count = project_record_count(m.project);
  show_access_record(m, std::min(m.index, m.count - 1));
  return m.keep_open ? 2 : 1;
}
