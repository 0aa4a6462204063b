#include "compile_fixture.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "compiler/project.h"
#include "hfs/macdate.h"
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace compile_fixture {

static int add_folder_contents(FILE* f, const fs::path& dir, uint32_t parent, bool hfsplus) {
  std::vector<fs::path> entries;
  for (const auto& e : fs::directory_iterator(dir)) entries.push_back(e.path());
  std::sort(entries.begin(), entries.end());
  int added = 0;
  for (const fs::path& p : entries) {
    ProjectRecord r;
    r.parent_id = parent;
    std::string name = p.filename().string();
    bool folder = fs::is_directory(p);
    r.id = folder ? next_folder_id(name) : next_file_id();
    set_iso_view(r, 1);
    set_hfs_view(r, 1);
    r.pc_folder = dir.string() + "/";
    r.pc_name = name;
    set_item_names(r, name, hfsplus);
    if (!folder) {
      r.pc_size = r.data_size = uint32_t(fs::file_size(p));
      std::memcpy(r.type_creator, "TEXTttxt", 8);
      struct stat st {};
      ::stat(p.c_str(), &st);
      r.create_date = r.modify_date = unix_to_mac_date(int64_t(st.st_mtime), true);
    }
    if (insert_record(f, r) != 0) return -1;
    add_folder_counts(f, int32_t(parent), folder ? 1 : 0, folder ? 0 : 1);
    ++added;
    if (folder) {
      int n = add_folder_contents(f, p, uint32_t(r.id), hfsplus);
      if (n < 0) return -1;
      added += n;
    }
  }
  return added;
}

int make_project_from_tree(const std::string& project_path, const std::string& root, bool hfsplus,
                           const std::string& label) {
  if (create_project_file(project_path, hfsplus ? uint32_t(k_pref_hfsplus_default) : 0u, label.c_str()) != 0) return -1;
  FILE* f = std::fopen(project_path.c_str(), "r+b");
  if (!f) return -1;
  read_project_id_counters(f, g_last_folder_id, g_last_file_serial);
  g_auto_truncate_iso = g_auto_truncate_hfs = g_auto_truncate_hfsplus = true;
  int n = add_folder_contents(f, root, k_root_folder_id, hfsplus);
  write_project_totals(f);
  std::fclose(f);
  return n;
}

int make_wide_project(const std::string& project_path, const std::string& pc_file, int items, bool hfsplus) {
  if (create_project_file(project_path, hfsplus ? uint32_t(k_pref_hfsplus_default) : 0u, "Wide") != 0) return -1;
  FILE* f = std::fopen(project_path.c_str(), "r+b");
  if (!f) return -1;
  read_project_id_counters(f, g_last_folder_id, g_last_file_serial);
  fs::path pc(pc_file);
  int folders = (items + 100) / 101, files = items - folders;
  auto item = [&](const std::string& name, uint32_t parent, bool folder) {
    ProjectRecord r;
    r.parent_id = parent;
    r.id = folder ? next_folder_id(name) : next_file_id();
    set_iso_view(r, 1);
    set_hfs_view(r, 1);
    r.pc_folder = folder ? ".." : pc.parent_path().string() + "/";  // folders exist only in the project
    r.pc_name = folder ? name : pc.filename().string();
    set_item_names(r, name, hfsplus);
    if (!folder) std::memcpy(r.type_creator, "TEXTttxt", 8);
    return r;
  };
  // One run per parent, parents in id order, each run in long-name order.
  auto write_run = [&](std::vector<ProjectRecord>& run) {
    std::sort(run.begin(), run.end(), [](const ProjectRecord& a, const ProjectRecord& b) { return a.long_name < b.long_name; });
    for (const ProjectRecord& r : run)
      if (!write_project_record(f, r)) return false;
    return true;
  };
  std::vector<ProjectRecord> run;
  for (int d = 0; d < folders; ++d) {
    run.push_back(item("folder " + std::to_string(d), k_root_folder_id, true));
    run.back().file_count() = uint32_t((files - d + folders - 1) / folders);
  }
  std::vector<ProjectRecord> top = run;
  bool ok = std::fseek(f, long(k_project_record_size), SEEK_SET) == 0 && write_run(run);
  std::sort(top.begin(), top.end(), [](const ProjectRecord& a, const ProjectRecord& b) { return a.id < b.id; });
  for (const ProjectRecord& folder : top) {
    int d = std::stoi(folder.pc_name.substr(7));
    run.clear();
    for (int i = d; i < files; i += folders) {
      run.push_back(item("item number " + std::to_string(i), uint32_t(folder.id), false));
    }
    ok = ok && write_run(run);
  }
  write_project_totals(f);
  ok = std::fclose(f) == 0 && ok;
  return ok ? items : -1;
}

int make_deep_project(const std::string& project_path, int depth, bool hfsplus, const std::string& name) {
  if (create_project_file(project_path, hfsplus ? uint32_t(k_pref_hfsplus_default) : 0u, "Deep") != 0) return -1;
  FILE* f = std::fopen(project_path.c_str(), "r+b");
  if (!f) return -1;
  read_project_id_counters(f, g_last_folder_id, g_last_file_serial);
  // Each folder's run is its one subfolder: parents in id order, as the file keeps them.
  bool ok = std::fseek(f, long(k_project_record_size), SEEK_SET) == 0;
  uint32_t parent = k_root_folder_id;
  for (int level = 0; ok && level < depth; ++level) {
    ProjectRecord r;
    r.parent_id = parent;
    r.id = next_folder_id(name);
    set_iso_view(r, 1);
    set_hfs_view(r, 1);
    r.pc_folder = "..";
    r.pc_name = name;
    set_item_names(r, name, hfsplus);
    r.subfolder_count() = level + 1 < depth ? 1 : 0;
    ok = write_project_record(f, r);
    parent = uint32_t(r.id);
  }
  ProjectHeader h;
  ok = ok && read_project_header(f, h);
  h.subfolder_count = depth > 0 ? 1 : 0;
  ok = ok && write_project_header(f, h);
  write_project_totals(f);
  ok = std::fclose(f) == 0 && ok;
  return ok ? depth : -1;
}

std::vector<std::string> make_awkward_tree(const std::string& root) {
  std::vector<std::string> files;
  auto put = [&](const std::string& rel, const std::vector<uint8_t>& data) {
    fs::path p = fs::path(root) / rel;
    fs::create_directories(p.parent_path());
    testkit::write_file(p, data);
    files.push_back(rel);
  };
  uint32_t seed = 1;
  put("readme.txt", testkit::random_bytes(1000, seed++));
  put("empty.dat", {});
  put("one block.bin", testkit::random_bytes(2048, seed++));
  put("one block plus.bin", testkit::random_bytes(2049, seed++));
  // Collisions after 8 characters (ISO), 31 (HFS) and 64 (Joliet).
  for (int i = 0; i < 3; ++i) put("Collision report number " + std::to_string(i) + ".txt", testkit::random_bytes(300 + i, seed++));
  for (int i = 0; i < 2; ++i) put(std::string(31, 'h') + std::to_string(i) + ".txt", testkit::random_bytes(10, seed++));
  for (int i = 0; i < 2; ++i) put(std::string(58, 'j') + "-" + std::to_string(i) + ".txt", testkit::random_bytes(20, seed++));
  put("Été à Noël/café crème.txt", testkit::random_bytes(5000, seed++));
  put("Привет мир/файл.txt", testkit::random_bytes(70000, seed++));
  put("日本語/テスト.txt", testkit::random_bytes(3, seed++));
  std::string deep;
  for (int i = 0; i < 10; ++i) deep += "level" + std::to_string(i) + "/";
  put(deep + "deep file.bin", testkit::random_bytes(3 * 1024 * 1024 + 17, seed++));
  // Enough files in one folder to cross directory sectors.
  for (int i = 0; i < 90; ++i) put("many/file with a long name " + std::to_string(i) + ".dat", testkit::random_bytes(i * 37, seed++));
  fs::create_directories(fs::path(root) / "empty folder");
  return files;
}

}  // namespace compile_fixture
