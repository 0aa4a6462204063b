#include "gui/special/special_logic.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "IO/names.h"
#include "IO/paths.h"
#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/additems.h"
#include "compiler/hfspart.h"
#include "compiler/project.h"
#include "compiler/refresh.h"
#include "gui/signatures/sigreplace.h"
#include "hfs/alloc.h"
#include "hfs/voledit.h"
#include "hfs/volume.h"
#include "platform/files.h"
#include "platform/programs.h"

std::string g_icon_program_folder;

namespace {

std::string folder_part(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

std::string running_program_folder() { return folder_part(program_path()); }

int start_icon_program(std::string& message) {
  message.clear();
  std::string own = g_icon_program_folder.empty() ? running_program_folder() : g_icon_program_folder;
  const char* path_env = std::getenv("PATH");
  std::string program = find_program(k_icon_program_name, own, path_env ? path_env : "");
  if (program.empty()) {
    message = format_text(ui_text(6400).c_str(), k_icon_program_name, own.c_str());
    return -1;
  }
  int rc = start_detached(program, {});
  if (rc != 0) message = format_text(ui_text(6401).c_str(), program.c_str(), std::strerror(rc));
  return rc;
}

std::string file_manager_folder(const std::string& document_path) {
  std::string folder = folder_part(document_path);
  struct stat st {};
  if (!folder.empty() && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return folder;
  char buf[k_text_size];
  return get_work_folder(buf);
}

std::string support_page_address(int language_offset) {
  int saved = g_language_offset;
  g_language_offset = language_offset;
  std::string address = ui_text(6409);
  g_language_offset = saved;
  return address;
}

int hide_hfs_extensions(FILE* f) {
  if (!f) return -1;
  begin_project_edit(f);
  int changed = 0;
  long n = project_record_count(f);
  ProjectRecord r;
  for (long i = 1; i < n && !project_edit_failed(f); ++i) {
    const off_t at = off_t(i) * off_t(k_project_record_size);
    if (fseeko(f, at, SEEK_SET) != 0 || !read_project_record(f, r)) break;
    if ((r.hfs_flags & 3) == 0 || (r.hfs_flags & k_hfs_hidden_extension)) continue;
    r.hfs_flags |= k_hfs_hidden_extension;
    if (fseeko(f, at, SEEK_SET) != 0 || !write_project_record(f, r)) {
      refuse_project_edit(f);
      break;
    }
    ++changed;
  }
  return end_project_edit(f, changed);
}

FILE* scan_changes_to_temporary(FILE* project, const std::string& project_path) {
  if (!project) return nullptr;
  std::string name;
  FILE* list = create_temp_stream(name, "REF");
  if (!list) return nullptr;
  ::unlink(name.c_str());  // gone with the stream, whatever the review does
  ProjectHeader h;
  bool contents = read_project_header(project, h) && (h.open_flags & 0x20) != 0;
  recount_project_totals(project);
  remember_project_own_files(project_path);
  scan_project_changes(project, list, uint32_t(k_root_folder_id), contents);
  remember_project_own_files(std::string());
  std::fflush(project);
  std::fflush(list);
  std::rewind(list);
  return list;
}

int rebuild_project(FILE* f, const std::string& project_path) {
  if (!f) return -1;
  recount_project_totals(f);
  remember_project_own_files(project_path);
  begin_project_edit(f);
  int changes = refresh_project(f);
  int rc = end_project_edit(f, changes);
  remember_project_own_files(std::string());
  return rc;
}

bool project_needs_label(FILE* project) {
  ProjectHeader h;
  if (!project || !read_project_header(project, h)) return false;
  std::string name = h.hfsplus_target() ? h.hfs_volume_name : mac_roman_to_text(h.hfs_volume_name);
  int saved = g_language_offset;
  bool untitled = false;
  for (int offset : {0, 10000}) {
    g_language_offset = offset;
    untitled = untitled || name.empty() || name == ui_text(1287);
  }
  g_language_offset = saved;
  return untitled;
}

std::string signature_replace_report(const SignatureReplace& values, int count, int found) {
  std::string searched(values.original(), 8);
  if (count > 0 || found > 0) return format_text(ui_text(6402).c_str(), searched.c_str(), count);
  return format_text(ui_text(6403).c_str(), searched.c_str());
}

int check_dehybridise_target(const std::string& path, const std::string& open_image) {
  if (path.empty() || path.size() >= PATH_MAX) return 6407;
  if (!open_image.empty()) {
    struct stat a {}, b {};
    if (::stat(path.c_str(), &a) == 0 && ::stat(open_image.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
        a.st_ino == b.st_ino)
      return 6408;
  }
  return 0;
}

std::string dehybridise_report(int result, const std::string& path) {
  switch (result) {
    case k_dehybridise_done: return format_text(ui_text(6418).c_str(), path.c_str());
    case k_dehybridise_no_partition: return format_text(ui_text(6416).c_str(), path.c_str());
    case k_dehybridise_shared: return format_text(ui_text(6417).c_str(), path.c_str());
    default: return format_text(ui_text(1385).c_str(), path.c_str());
  }
}

ForkSwapOutcome swap_forks_of(const std::vector<FileTableEntry>& entries, uint32_t folder) {
  ForkSwapOutcome out;
  if (!g_volume.mounted || entries.empty()) return out;
  if (g_volume.read_only) {
    out.read_only = true;
    show_message(ui_text(5112).c_str());
    return out;
  }
  std::vector<const FileTableEntry*> files;
  for (const FileTableEntry& e : entries)
    if (e.kind != 1 && e.id < 0) files.push_back(&e);
  if (files.empty()) return out;
  // The forks change places on the volume: asked first, once for the selection.
  std::string question = files.size() == 1 ? format_text(ui_text(6653).c_str(), display_name(*files[0]).c_str())
                                           : format_text(ui_text(6654).c_str(), int(files.size()));
  if (!ask_yes_no(question.c_str())) {
    out.declined = true;
    return out;
  }
  if (load_allocation_bitmap() != 0) return out;
  for (const FileTableEntry* f : files) {
    const FileTableEntry& e = *f;
    int rc;
    if (g_volume.is_hfsplus) {
      HFSUniStr255 name;
      set_unistr_units(name, e.units);
      rc = hfsplus_swap_forks(name, folder);
    } else {
      rc = hfs_swap_forks(e.name, folder);
    }
    if (rc == 0) {
      ++out.swapped;
    } else {
      ++out.refused;
      show_timed_message(format_text(ui_text(6404).c_str(), display_name(e).c_str()).c_str());
    }
  }
  // Each swap wrote the volume back; with none the image stays as it was.
  if (out.swapped > 0 && flush_volume_structures() < 0) show_message(ui_text(6310).c_str());
  free_allocation_bitmap();
  return out;
}
