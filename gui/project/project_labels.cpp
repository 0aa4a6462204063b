#include "gui/project/project_labels.h"

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

// --- labels -------------------------------------------------------------------------------------------

void init_project_labels(FILE* f, bool isoplus, ProjectLabelsModel& m) {
  m = ProjectLabelsModel{};
  m.isoplus = isoplus;
  ProjectHeader h;
  m.is_project = f && check_project_magic(f) == 1 && read_project_header(f, h);
  if (!m.is_project) {
    m.iso_old = m.iso_new = m.hfs_old = m.hfs_new = ui_text(k_text_untitled);
    return;
  }
  m.hfsplus_target = h.hfsplus_target();
  m.iso_old = m.iso_new = h.volume_label;
  m.hfs_old = m.hfs_new = m.hfsplus_target ? h.hfs_volume_name : mac_roman_to_text(h.hfs_volume_name);
}

void project_label_typed(ProjectLabelsModel& m, std::string_view text) {
  m.iso_new = std::string(text);
  if (!m.isoplus) m.hfs_new = m.iso_new;
}

int check_project_labels(const ProjectLabelsModel& m, NameField& field) {
  if (!m.is_project) return k_text_not_a_project;
  std::string stored;
  field = m.isoplus ? NameField::isoplus_label : NameField::iso_label;
  if (int rc = check_dialog_name(field, m.iso_new, stored)) return rc;
  if (m.isoplus) return 0;
  field = m.hfsplus_target ? NameField::hfsplus_volume_name : NameField::hfs_volume_name;
  return check_dialog_name(field, m.hfs_new, stored);
}

int apply_project_labels(FILE* f, const ProjectLabelsModel& m) {
  NameField field;
  if (check_project_labels(m, field) != 0) return 0;
  ProjectHeader h;
  if (check_project_magic(f) != 1 || !read_project_header(f, h)) return 0;
  h.volume_label = m.iso_new;
  if (!m.isoplus) {
    std::string stored;
    // It fits: check_project_labels said so above.
    (void)check_dialog_name(h.hfsplus_target() ? NameField::hfsplus_volume_name : NameField::hfs_volume_name, m.hfs_new,
                            stored);
    h.hfs_volume_name = stored;
  }
  return write_project_header(f, h) ? 1 : -1;
}
