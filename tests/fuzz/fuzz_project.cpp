// Fuzz target for the project store: any bytes as a project file, read by every
// lookup and then edited, must never read or write outside its buffers.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "compiler/project.h"
#include "support/recording_ui.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  static int fd = memfd_create("project", 0);
  if (fd < 0 || ftruncate(fd, 0) != 0) return 0;
  if (size && pwrite(fd, data, size, 0) != ssize_t(size)) return 0;
  int dup_fd = dup(fd);
  FILE* f = fdopen(dup_fd, "r+b");
  if (!f) return 0;
  recorded_ui().clear();
  recorded_ui().answers = {1, 1, 1};

  // Codec round trip of the first record: once written back, a record reads and
  // writes to the same bytes.
  if (size >= k_project_record_size) {
    std::span<const uint8_t> first(data, k_project_record_size);
    ProjectRecord r;
    ProjectHeader hd;
    std::vector<uint8_t> once(k_project_record_size), twice(k_project_record_size);
    decode_project_record(first, r);
    encode_project_record(r, once);
    decode_project_record(once, r);
    encode_project_record(r, twice);
    if (once != twice) __builtin_trap();
    decode_project_header(first, hd);
    encode_project_header(hd, once);
    decode_project_header(once, hd);
    encode_project_header(hd, twice);
    if (once != twice) __builtin_trap();
  }

  check_project_magic(f);
  ProjectHeader h;
  read_project_header(f, h);
  check_project_invariants(f);
  ProjectRecord buf;
  uint32_t parent = size >= 756 + 4 ? uint32_t(data[756]) | uint32_t(data[757]) << 8 : 1;
  count_children(f, parent);
  find_child_by_name(f, buf, "a", parent);
  find_child_id_by_pc_name(f, "a", parent);
  check_item_in_folder(f, "/x/a", parent);
  get_folder_views(f, int32_t(parent));
  std::vector<ProjectSearchHit> hits;
  search_project_by_name(f, "*a", hits);
  std::string folder;
  get_common_source_folder(f, folder);

  // Edits as a command makes them: only on a project the check lets through,
  // inside an edit that is undone when a byte of the input says so (or an id
  // runs out); an undone edit must give back the input's bytes.
  if (check_project_magic(f) == 1 && verify_opened_project(f, "fuzz") == 0) {
    begin_project_edit(f);
    ProjectRecord r;
    r.parent_id = parent;
    r.id = next_file_id();
    r.long_name = "m";
    if (r.id != 0) insert_record(f, r);
    if (r.id != 0 && find_record_by_id(f, buf, r.id)) rename_item(f, r.id, parent, "n", true);
    std::fseek(f, long(k_project_record_size), SEEK_SET);
    if (read_project_record(f, buf)) delete_item(f, buf.id, buf.parent_id);
    write_project_totals(f);
    if (size > 758 && (data[758] & 1)) refuse_project_edit(f);
    if (end_project_edit(f, 0) != 0) {
      std::vector<uint8_t> back(size + 1);
      if (pread(fd, back.data(), back.size(), 0) != ssize_t(size) || std::memcmp(back.data(), data, size) != 0)
        __builtin_trap();
    }
  }
  std::fclose(f);
  return 0;
}
