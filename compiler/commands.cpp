// The command-line dispatcher and the operations on labels and folder chains.
#include "compiler/commands.h"

#include "IO/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/project.h"
#include "macfiles/extract.h"
#include "macfiles/signatures.h"
#include "platform/settings_store.h"

uint32_t g_options = 0;
uint32_t g_preferences = 0;
std::string g_default_extension = "TXT";

namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; }

std::string current_folder() {
  std::vector<char> buf(4096);
  if (!getcwd(buf.data(), buf.size())) return std::string();
  std::string s(buf.data());
  if (s.empty() || s.back() != '/') s += '/';
  return s;
}

// The components of a folder path, split at "/" or "\"; empty ones dropped.
std::vector<std::string> split_folder_path(const char* path) {
  std::vector<std::string> parts;
  std::string cur;
  for (const char* p = path; *p; ++p) {
    if (*p == '/' || *p == '\\') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += *p;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

// The folder child of parent whose PC name equals name (case-insensitive), or 0.
int32_t find_child_folder(FILE* f, const std::string& name, uint32_t parent) {
  int32_t id = find_child_id_by_pc_name(f, name, parent);
  return id > 0 ? id : 0;
}

int create_folders(const char* project_path, const char* folder_path, int mode) {
  FILE* f = nullptr;
  int rc = open_command_project(project_path, f);
  if (rc != 0) return rc;
  g_working_mode = mode;
  bool hfsplus = get_project_hfs_format(f) != 0;
  std::string here = current_folder();
  uint32_t parent = k_root_folder_id;
  rc = 0;
  for (const std::string& part : split_folder_path(folder_path)) {
    int32_t id = find_child_folder(f, part, parent);
    if (id == 0) {
      ProjectRecord rec;
      // A folder that has no PC folder behind it exists only in the project
      // (".."), so that a refresh never takes it, and what it holds, for gone.
      std::string source = !here.empty() && folder_exists(here + part) ? here : std::string("..");
      id = make_folder_record(f, rec, part, parent, source, hfsplus);
      if (id == 0) { rc = -1; break; }
      add_folder_counts(f, int32_t(parent), 1, 0);
    }
    parent = uint32_t(id);
    here = here.empty() || !folder_exists(here + part) ? std::string() : here + part + "/";
  }
  // The counters go back into the header, so that a later run hands out new ids.
  write_project_totals(f, mode == k_mode_isoplus);
  rc = end_project_edit(f, rc);
  if (close_project_stream(f) != 0) rc = -1;
  return rc;
}

// Both programs' settings start-up; the GUI program stores defaults and asks.
void load_settings(bool interactive) {
  g_language_offset = read_language_choice();
  char buf[k_text_size];
  if (interactive) {
    g_default_extension = read_default_extension(buf);
  } else {
    std::string ext = read_setting_text("Ext", buf);  // no write-back of the default
    g_default_extension = ext.empty() ? "TXT" : ext.substr(0, 4);
  }
  // The signature table types every PC file that inclusion adds; with no
  // table named ("Sign"), or one that cannot be read, files get "TEXT????".
  std::string table = read_setting_text("Sign", buf);
  std::string never;
  if (interactive && table.empty() && g_offer_signature_table &&
      store_read_value(setting_key_path("Sign"), "", never) != 0) {
    std::string chosen;
    if (g_offer_signature_table(chosen) == 0) {
      save_signature_table_path(chosen.c_str());
      table = chosen;
    }
  }
  // A table that cannot be read leaves every file typed by the default row.
  if (!table.empty()) (void)load_signature_table(table, g_default_extension, g_language_offset);
  g_options = read_options();
  g_extract_options = g_options;  // the copies' name rules and the automatic HFS name cut
  g_preferences = read_preference_flags();
  if ((g_preferences & k_pref_open_journal) && !g_log_file) {
    read_log_path(buf);
    std::string path = buf;
    if (path.empty() && interactive && g_choose_log_file) {
      g_choose_log_file(path);
      if (!path.empty()) save_log_path(path.c_str());
    }
    if (!path.empty()) g_log_file = std::fopen(path.c_str(), "a+b");
  }
  if ((g_preferences & k_pref_remember_mode) && g_working_mode == k_mode_none) {
    uint32_t m = g_preferences & k_pref_mode_mask;
    g_working_mode = m == 0x40 ? k_mode_partition : m == 0x80 ? k_mode_isoplus : k_mode_project;
  }
  if (g_preferences & k_pref_shorten_names) set_auto_truncate_names(true);
  read_reference_size_project();
  read_reference_size_isoplus();
}

}  // namespace

void (*g_choose_log_file)(std::string& path) = nullptr;
int (*g_offer_signature_table)(std::string& path) = nullptr;

void load_startup_settings() { load_settings(true); }
void load_command_settings() { load_settings(false); }

int get_file_kind(const char* path) {
  if (!path) return -1;
  const char* dot = std::strrchr(path, '.');
  const char* slash = std::strrchr(path, '/');
  if (!dot || (slash && dot < slash)) return -1;
  std::string ext;
  for (const char* p = dot; *p; ++p) ext += char(*p >= 'A' && *p <= 'Z' ? *p + 32 : *p);
  if (ext == ".cvpr" || ext == ".cat") return 0;
  if (ext == ".hfs" || ext == ".iso" || ext == ".dmg") return 1;
  if (ext == ".cvso") return 2;
  return -1;
}

void report_project_unopened(const char* path, int rc) {
  if (rc != k_project_in_use && rc != k_project_unrestored) {
    report_open_error(path ? path : "");
    return;
  }
  std::string text =
      rc == k_project_in_use ? format_text(ui_text(6601).c_str(), path ? path : "") : g_refused_project_text;
  show_message(text.c_str());
  write_log_line(text.c_str());
}

int open_command_project(const char* path, FILE*& f, bool* made) {
  f = nullptr;
  if (made) *made = false;
  if (!path) return -1;
  // A missing project is made by this run alone: created only when no file is
  // there yet, and locked before its header is written.
  int fd = ::open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0) {
    ::unlink(project_undo_path(path).c_str());  // a removed project's: nothing of this one

    FILE* p = ::fdopen(fd, "r+b");
    // A run that found the new file still empty lets go at once: wait for it.
    if (!p || lock_project_stream(p, FileLock::exclusive, true) != 0 ||
        !write_new_project_header(p, g_preferences, "quorvel")) {
      if (p) (void)close_project_stream(p);  // the new file is removed next
      else ::close(fd);
      ::unlink(path);
      report_open_error(path);
      return -1;
    }
    begin_project_edit(p);
    f = p;
    if (made) *made = true;
    return 0;
  }
  if (errno != EEXIST) {
    report_open_error(path);
    return -1;
  }
  FILE* p = nullptr;
  int rc = open_project_stream(path, "r+b", FileLock::exclusive, false, p);
  if (rc != 0) {
    report_project_unopened(path, rc);  // another run edits it, or a window has it open
    return rc == k_project_in_use ? rc : -1;
  }
  // A file that is not a project of this format is never written to.
  if (check_project_magic(p) != 1 || project_record_count(p) < 1) {
    (void)close_project_stream(p);  // refused before anything was written
    return 1;
  }
  // A damaged project is refused as it is: an edit would only add to the damage.
  if (verify_opened_project(p, path) != 0) {
    (void)close_project_stream(p);  // refused before anything was written
    return -1;
  }
  begin_project_edit(p);
  f = p;
  return 0;
}

int cli_set_volume_labels(const char* project_path, const char* label, char second_letter) {
  if (!label) return 1;
  FILE* f = nullptr;
  int rc = open_command_project(project_path, f);
  if (rc != 0) return rc;
  ProjectHeader h;
  // A header that cannot be read is not written over with a new one's fields.
  const bool read = read_project_header(f, h);
  char which = upper(second_letter);
  if (which != 'I') set_header_hfs_volume_name(h, label);
  if (which != 'H') set_header_volume_label(h, label);
  int result = end_project_edit(f, read && write_project_header(f, h) ? 0 : -1);
  if (close_project_stream(f) != 0) result = -1;
  return result;
}

int cli_set_isoplus_label(const char* project_path, const char* label) {
  return cli_set_volume_labels(project_path, label, 'I');
}

int cli_create_folders(const char* project_path, const char* folder_path) {
  if (!folder_path) return 1;
  return create_folders(project_path, folder_path, k_mode_project);
}

int cli_create_isoplus_folders(const char* project_path, const char* folder_path) {
  if (!folder_path) return 1;
  return create_folders(project_path, folder_path, k_mode_isoplus);
}

void set_auto_truncate_names(bool on) {
  g_auto_truncate_iso = on;
  g_auto_truncate_hfsplus = on;
  g_auto_truncate_hfs = on;
}

uint32_t get_largest_fork_size(FILE* project) {
  uint32_t largest = 0;
  ProjectHeader h;
  if (!read_project_header(project, h)) return 0;
  ProjectRecord r;
  while (read_project_record(project, r))
    if (r.id < 0 && hfs_view(r) != 0) largest = std::max({largest, r.data_size, r.rsrc_size});
  return largest;
}

int run_command_line_operation(const char* option, const char* first, const char* second) {
  g_command_mode = true;
  set_auto_truncate_names(true);
  set_remembered_inclusion_answers(1);
  // An option is a dash, a letter and at most one more letter: "xdh" or "-chx" is none.
  size_t length = option ? std::strlen(option) : 0;
  if (length < 2 || length > 3 || option[0] != '-') return 1;
  char letter = upper(option[1]);
  char second_letter = length == 3 ? upper(option[2]) : 0;
  int kind = get_file_kind(first);
  if (letter < 'C' || letter > 'R') return 1;
  // The second letters each command knows; any other is refused.
  if (second_letter) {
    const char* known = letter == 'C' ? "HI" : letter == 'D' ? "CH" : letter == 'R' ? "J"
                      : (letter == 'F' || letter == 'I' || letter == 'L') ? "HI" : "";
    if (!std::strchr(known, second_letter)) return 1;
  }
  auto views_of = [](char l) { return l == 'H' ? k_name_view_hfs : l == 'I' ? k_name_view_iso : k_name_view_pc; };
  switch (letter) {
    case 'C':
      if (second_letter == 'H') return cli_compile_hfs(first);
      if (second_letter == 'I') return cli_compile_iso(first);
      if (kind == 0) return cli_compile_hybrid(first);
      if (kind == 2) return cli_compile_isoplus(first);
      return 1;  // neither kind of project: the compile does not apply
    case 'D':
      if (second_letter == 'C') return second ? cli_expand_dmg_image(first, second) : 1;
      if (second_letter == 'H') return dehybridise_image(first);
      return 1;
    case 'F':
      g_name_view = views_of(second_letter);
      if (kind == 0) return cli_create_folders(first, second);
      if (kind == 2) return cli_create_isoplus_folders(first, second);
      return 1;
    case 'H':
      return second ? cli_hybridise_image(first, second) : 1;
    case 'I':
      g_name_view = views_of(second_letter);
      if (kind == 0) return cli_include_items(first, second);
      if (kind == 2) return cli_include_isoplus_items(first, second);
      return 1;
    case 'L':
      if (kind == 0) return cli_set_volume_labels(first, second, second_letter);
      if (kind == 2) return cli_set_isoplus_label(first, second);
      return 1;
    case 'R':
      if (kind != 0 && kind != 2) return 1;
      if (second_letter == 'J' && !second) return 1;
      return cli_refresh_project(first, kind, second_letter == 'J' ? second : nullptr);
    default:
      return 1;
  }
}
