#include "compiler/refresh.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/additems.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "macfiles/applesingle.h"

namespace {

struct PcState {
  bool exists = false;
  bool is_folder = false;
  uint64_t size = 0;
};

PcState pc_state(const std::string& path) {
  struct stat st {};
  PcState s;
  if (::stat(path.c_str(), &st) != 0) return s;
  s.exists = S_ISDIR(st.st_mode) || S_ISREG(st.st_mode);
  s.is_folder = S_ISDIR(st.st_mode);
  s.size = uint64_t(st.st_size);
  return s;
}

std::string item_path(const ProjectRecord& r) { return r.pc_folder + r.pc_name; }

bool project_only(const ProjectRecord& r) {
  return r.pc_folder == ".." || r.pc_folder.empty();
}

void journal(int id, const std::string& path) {
  if (g_log_file) write_log_line(format_text(ui_text(id).c_str(), path.c_str()).c_str());
}

// Reads a changed file again as an addition would: its encoding decides what
// the data and resource sizes are (an encoded file's size is not its data fork).
void reprobe_file(ProjectRecord& r, const std::string& path, uint64_t size, bool hfsplus) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ProjectRecord probe = r;
  probe.attr_flags &= uint8_t(~k_attr_macbinary);
  probe.src_flags &= uint8_t(~k_src_binhex);
  probe.hfs_flags &= uint8_t(~(k_hfs_appledouble | k_hfs_applesingle));
  classify_pc_file(probe, path, fd, size, hfsplus);
  ::close(fd);
  // The names and views the user gave stay; what the file holds is new.
  r.data_size = probe.data_size;
  r.rsrc_size = probe.rsrc_size;
  r.src_flags = probe.src_flags;
  r.hfs_flags = uint8_t((r.hfs_flags & ~(k_hfs_appledouble | k_hfs_applesingle)) |
                        (probe.hfs_flags & (k_hfs_appledouble | k_hfs_applesingle)));
  r.attr_flags = uint8_t((r.attr_flags & ~k_attr_macbinary) | (probe.attr_flags & k_attr_macbinary));
  r.modify_date = probe.modify_date;
  if (!(r.attr_flags & k_attr_fixed_hfs_name)) std::memcpy(r.type_creator, probe.type_creator, 8);
}

void add_and_count(FILE* f, const std::string& folder, uint32_t parent_id) {
  AddCounts counts;
  ProjectRecord buf;
  buf.pc_folder = folder;
  std::string pattern = folder;
  if (pattern.empty() || pattern.back() != '/') pattern += '/';
  add_pc_items(f, counts, buf, pattern + "*", parent_id);
  if (counts.files_added || counts.folders_added)
    add_folder_counts(f, int32_t(parent_id), int32_t(counts.folders_added), int32_t(counts.files_added));
}

bool seek_record(FILE* f, long index) { return std::fseek(f, index * long(k_project_record_size), SEEK_SET) == 0; }

std::string escape_field(const std::string& s) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (c == '%' || c == '|' || c == '\r' || c == '\n') {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += char(c);
    }
  }
  return out;
}

std::string unescape_field(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && std::isxdigit((unsigned char)s[i + 1]) &&
        std::isxdigit((unsigned char)s[i + 2])) {
      out += char(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

void emit(FILE* out, char kind, uint32_t parent, int32_t id, uint32_t size, const std::string& folder,
          const std::string& name) {
  ReviewLine l{kind, parent, id, size, folder, name};
  std::string text = format_review_line(l);
  std::fwrite(text.data(), 1, text.size(), out);
}

// New PC items of the folder a run came from: "A" lines.
void scan_additions(FILE* out, FILE* project, uint32_t parent_id, const std::string& source) {
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator d(source, ec), end; !ec && d != end; d.increment(ec))
    names.push_back(d->path().filename().string());
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string path = source + name;
    if (is_appledouble_companion(path)) continue;  // it travels with its file
    if (is_project_own_file(path)) continue;
    if (check_item_in_folder(project, path, parent_id) != 0) continue;
    PcState s = pc_state(path);
    if (!s.exists) continue;
    emit(out, 'A', parent_id, 0, s.is_folder ? 0 : uint32_t(s.size), source, name);
  }
}

// The lines of a folder's run, each subfolder's lines where it stands in the
// run, then what is new in the folder on the PC. The folders being scanned
// are kept on a stack of their own, however deep the project goes.
void scan_run(FILE* out, const std::map<uint32_t, std::vector<ProjectRecord>>& runs, FILE* project,
              uint32_t top, bool recurse) {
  static const std::vector<ProjectRecord> k_no_run;
  struct Level {
    uint32_t parent_id;
    const std::vector<ProjectRecord>* run;
    size_t next;
    std::string source;  // the PC folder the run came from
  };
  std::vector<Level> stack;
  std::set<uint32_t> entered;  // each folder once, should a damaged file loop
  auto enter = [&](uint32_t parent_id) {
    if (!entered.insert(parent_id).second) return;
    auto it = runs.find(parent_id);
    Level level{parent_id, it == runs.end() ? &k_no_run : &it->second, 0, std::string()};
    for (const ProjectRecord& r : *level.run)
      if (!project_only(r)) {
        level.source = r.pc_folder;
        break;
      }
    stack.push_back(std::move(level));
  };
  enter(top);
  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next == level.run->size()) {
      if (recurse && level.parent_id != uint32_t(k_root_folder_id) && !level.source.empty())
        scan_additions(out, project, level.parent_id, level.source);
      stack.pop_back();
      continue;
    }
    const ProjectRecord& r = (*level.run)[level.next++];
    const uint32_t parent_id = level.parent_id;
    if (r.is_folder() && project_only(r)) {
      enter(uint32_t(r.id));  // its contents may come from the disk
      continue;
    }
    std::string path = item_path(r);
    PcState s = pc_state(path);
    bool missing_mark = iso_view(r) < 0 || hfs_view(r) < 0;
    if (!s.exists || s.is_folder != r.is_folder()) {
      emit(out, 'D', parent_id, r.id, r.pc_size, r.pc_folder, r.pc_name);
    } else if (r.is_folder()) {
      if (missing_mark) emit(out, 'M', parent_id, r.id, r.pc_size, r.pc_folder, r.pc_name);
      enter(uint32_t(r.id));
    } else if (missing_mark) {
      emit(out, 'M', parent_id, r.id, r.pc_size, r.pc_folder, r.pc_name);
    } else if (uint32_t(s.size) != r.pc_size) {
      emit(out, 'M', parent_id, r.id, uint32_t(s.size), r.pc_folder, r.pc_name);
    }
  }
}

// The project file may lie in a folder the refresh takes additions from: it
// never becomes an item of itself.
void drop_project_itself(FILE* f) {
  struct stat self {};
  if (::fstat(fileno(f), &self) != 0) return;
  long n = project_record_count(f);
  ProjectRecord r;
  for (long i = 1; i < n; ++i) {
    if (!seek_record(f, i) || !read_project_record(f, r)) break;
    struct stat st {};
    if (r.is_folder() || ::stat(item_path(r).c_str(), &st) != 0) continue;
    if (st.st_dev != self.st_dev || st.st_ino != self.st_ino) continue;
    seek_record(f, i);
    if (delete_record_here(f, r) != 0) return;  // the edit is failed: its end undoes it
    add_folder_counts(f, int32_t(r.parent_id), 0, -1);
    --n;
    --i;
  }
}

}  // namespace

std::string format_review_line(const ReviewLine& l) {
  return format_text("%c|%d|%d|%u|%s|%s\r\n", l.kind, int(l.parent_id), l.id, l.size,
                     escape_field(l.pc_folder).c_str(), escape_field(l.pc_name).c_str());
}

bool parse_review_line(const std::string& text, ReviewLine& out) {
  std::string t = text;
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
  // The name is the last field and takes the rest of the line, so that a list
  // written before "|" was escaped still reads a name that holds one.
  std::vector<std::string> f;
  size_t start = 0;
  for (;;) {
    size_t bar = f.size() == 5 ? std::string::npos : t.find('|', start);
    f.push_back(t.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  if (f.size() != 6 || f[0].size() != 1 || (f[0][0] != 'D' && f[0][0] != 'M' && f[0][0] != 'A')) return false;
  try {
    out.kind = f[0][0];
    // Each number whole: digits with an optional sign, nothing after them.
    size_t used[3] = {0, 0, 0};
    out.parent_id = uint32_t(std::stol(f[1], &used[0]));
    out.id = int32_t(std::stol(f[2], &used[1]));
    out.size = uint32_t(std::stoul(f[3], &used[2]));
    for (int i = 0; i < 3; ++i)
      if (used[i] != f[size_t(i) + 1].size() || std::isspace((unsigned char)f[size_t(i) + 1][0])) return false;
  } catch (...) {
    return false;
  }
  out.pc_folder = unescape_field(f[4]);
  out.pc_name = unescape_field(f[5]);
  // No PC path holds a NUL byte.
  return out.pc_folder.find('\0') == std::string::npos && out.pc_name.find('\0') == std::string::npos;
}

void refresh_changed_record(ProjectRecord& r, uint64_t size, bool hfsplus) {
  r.pc_size = uint32_t(size);
  reprobe_file(r, item_path(r), size, hfsplus);
}

void scan_project_changes(FILE* project, FILE* out, uint32_t parent_id, bool recurse) {
  std::map<uint32_t, std::vector<ProjectRecord>> runs;
  long n = project_record_count(project);
  ProjectRecord r;
  for (long i = 1; i < n && seek_record(project, i) && read_project_record(project, r); ++i)
    runs[r.parent_id].push_back(r);
  scan_run(out, runs, project, parent_id, recurse);
  std::fflush(out);
}

int refresh_project(FILE* f) {
  bool hfsplus = get_project_hfs_format(f) == 1;
  std::string common;
  bool shared_root = get_common_source_folder(f, common) == 1;
  int changes = 0;

  // A deletion takes the item's descendants too, wherever they stood in the
  // file: the walk then starts again, so that no record is passed over.
  bool again = true;
  while (again) {
    again = false;
    long n = project_record_count(f);
    ProjectRecord r;
    for (long i = 1; i < n; ++i) {
      if (!seek_record(f, i) || !read_project_record(f, r)) break;
      if (project_only(r)) continue;
      std::string path = item_path(r);
      PcState s = pc_state(path);
      if (!s.exists || s.is_folder != r.is_folder()) {
        seek_record(f, i);
        // A deletion that failed fails the edit, whose end undoes the whole
        // refresh; walking again would only meet the same item again.
        if (delete_record_here(f, r) != 0) return changes;
        if (r.is_folder()) add_folder_counts(f, int32_t(r.parent_id), -1, 0);
        else add_folder_counts(f, int32_t(r.parent_id), 0, -1);
        journal(1089, path);
        ++changes;
        again = true;
        break;
      }
      if (!r.is_folder() && uint32_t(s.size) != r.pc_size) {
        journal(1088, path);
        r.pc_size = uint32_t(s.size);
        reprobe_file(r, path, s.size, hfsplus);
        seek_record(f, i);
        (void)write_project_record(f, r);  // a short write fails the open edit, whose end undoes it
        ++changes;
      }
    }
  }

  if (shared_root && !common.empty()) add_and_count(f, common, uint32_t(k_root_folder_id));
  // Every folder that came from the disk takes what is new in it.
  std::vector<std::pair<int32_t, std::string>> folders;
  long n = project_record_count(f);
  ProjectRecord r;
  for (long i = 1; i < n && seek_record(f, i) && read_project_record(f, r); ++i)
    if (r.is_folder() && !project_only(r)) folders.emplace_back(r.id, item_path(r));
  for (const auto& [id, path] : folders) add_and_count(f, path, uint32_t(id));
  drop_project_itself(f);
  write_project_totals(f, g_working_mode == k_mode_isoplus);
  std::fflush(f);
  return changes;
}

int cli_refresh_project(const char* project_path, int kind, const char* journal_path) {
  g_working_mode = kind == 2 ? k_mode_isoplus : k_mode_project;
  if (kind == 0) g_name_view = k_name_view_pc;
  FILE* f = nullptr;
  int opened = project_path ? open_project_stream(project_path, "r+b", FileLock::exclusive, false, f) : -1;
  if (opened != 0) {
    report_project_unopened(project_path, opened);
    return opened == k_project_in_use ? opened : -1;
  }
  if (check_project_magic(f) != 1 || project_record_count(f) < 1) {
    (void)close_project_stream(f);  // refused before anything was written
    return 1;  // not a project: left as it is
  }
  if (verify_opened_project(f, project_path) != 0) {
    (void)close_project_stream(f);  // refused before anything was written
    return -1;  // damaged: left as it is
  }
  bool own_journal = false;
  if (!g_log_file && journal_path) {
    g_log_file = std::fopen(journal_path, "a+b");
    own_journal = g_log_file != nullptr;
  }
  // The images compiled from the project may lie among its items' folders.
  remember_project_own_files(project_path);
  begin_project_edit(f);
  refresh_project(f);
  int result = end_project_edit(f, 0);
  if (close_project_stream(f) != 0) result = -1;
  remember_project_own_files(std::string());
  if (own_journal) {
    std::fclose(g_log_file);
    g_log_file = nullptr;
  }
  return result;
}

int refresh_project_path(const char* project_path) { return cli_refresh_project(project_path, 0, nullptr); }
int refresh_isoplus_path(const char* project_path) { return cli_refresh_project(project_path, 2, nullptr); }
