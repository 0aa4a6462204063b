// What the inclusion and fork-writing tests share: sample Macintosh files, and
// the console's way of answering the inclusion questions.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "IO/ui_services.h"
#include "compiler/additems.h"
#include "compiler/project.h"
#include "macfiles/macfile.h"
#include "support/testkit.h"

namespace testkit {

// A Mac file with random forks of the given sizes (seed and seed + 1).
inline MacFile sample_mac_file(const std::string& name, const char* type, const char* creator, size_t data,
                               size_t rsrc, uint32_t seed, uint32_t create_date = 0, uint32_t modify_date = 0) {
  MacFile f;
  f.name = name;
  std::memcpy(f.type.data(), type, 4);
  std::memcpy(f.creator.data(), creator, 4);
  f.data = random_bytes(data, seed);
  f.resource = random_bytes(rsrc, seed + 1);
  f.create_date = create_date;
  f.modify_date = modify_date;
  return f;
}

// For its lifetime, inclusions run as the console runs them: no questions,
// every encoded file taken as what it is, over-long names cut.
struct ConsoleInclusion {
  ConsoleInclusion() {
    g_command_mode = true;
    set_remembered_inclusion_answers(1);
    g_auto_truncate_iso = g_auto_truncate_hfsplus = g_auto_truncate_hfs = true;
  }
  ~ConsoleInclusion() {
    set_remembered_inclusion_answers(0);
    g_command_mode = false;
  }
  ConsoleInclusion(const ConsoleInclusion&) = delete;
  ConsoleInclusion& operator=(const ConsoleInclusion&) = delete;
};

// Every record of a project file but its root, in file order.
inline std::vector<ProjectRecord> project_records(const std::string& path) {
  std::vector<ProjectRecord> out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  long n = project_record_count(f);
  ProjectRecord r;
  for (long i = 1; i < n; ++i) {
    std::fseek(f, i * long(k_project_record_size), SEEK_SET);
    if (read_project_record(f, r)) out.push_back(r);
  }
  std::fclose(f);
  return out;
}

// How many items of the project's root bear that HFS name.
inline int count_root_items(FILE* f, const std::string& hfs_name) {
  int n = 0;
  std::fseek(f, long(k_project_record_size), SEEK_SET);
  ProjectRecord r;
  while (read_project_record(f, r))
    if (r.parent_id == uint32_t(k_root_folder_id) && r.hfs_name == hfs_name) ++n;
  return n;
}

}  // namespace testkit
