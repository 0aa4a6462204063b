// A compile: one project into one CD image file. Six drivers, one per kind,
// lay the image out, let the content walk write the file data, finish the HFS
// or HFS+ volume, then put the ISO 9660 and Joliet directories, path tables,
// descriptors and partition map in place. No chdir: paths are whole.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum CompileKind : int {
  k_compile_hybrid_hfs = 0,
  k_compile_hybrid_hfsplus = 1,
  k_compile_isoplus = 2,
  k_compile_iso = 3,
  k_compile_hfs = 4,
  k_compile_hfsplus = 5,
};

constexpr uint32_t k_compile_option_post_gap = 0x4;  // append the 150-sector tail
constexpr uint32_t k_post_gap_sectors = 150;

struct CompileJob {
  FILE* project = nullptr;
  int target_fd = -1;
  std::string target_path;
  int kind = k_compile_iso;
  int result = 0;            // 0 success, -1 failure, -2 aborted, -3 temporary files not created
  uint32_t options = 0;      // k_compile_option_*
  uint32_t block_size = 2048;  // HFS allocation block size (a multiple of 2048)
  uint32_t data_sectors = 0;
  uint32_t files = 0, folders = 0;
  std::string hfs_volume_name;
  uint32_t hfs_files = 0, hfs_folders = 0;
  uint32_t catalog_nodes = 0;
  uint32_t volume_icon = 0;
  uint32_t open_root_window = 0;
  std::string volume_label;
  uint32_t iso_path_table_bytes = 0, joliet_path_table_bytes = 0;
  uint32_t iso_dir_sectors = 0, joliet_dir_sectors = 0;
  uint32_t iso_files = 0, iso_folders = 0;
  uint64_t image_sectors = 0;  // 2048-byte sectors of the finished image
  std::vector<std::string> left_out;  // PC paths of the items no longer on the PC disk, not in the image
};

// The drivers. Each fills job.result and returns it, writing the whole image
// through job.target_fd. The caller owns that file: the console writes into a
// temporary file beside the image and renames it over the image only on success.
[[nodiscard]] int compile_hybrid_hfs_image(CompileJob& job);
[[nodiscard]] int compile_hybrid_hfsplus_image(CompileJob& job);
[[nodiscard]] int compile_isoplus_image(CompileJob& job);
[[nodiscard]] int compile_iso_image(CompileJob& job);
[[nodiscard]] int compile_hfs_image(CompileJob& job);
[[nodiscard]] int compile_hfsplus_image(CompileJob& job);
[[nodiscard]] int run_compile_driver(CompileJob& job);  // by job.kind

// Finishing after a successful compile: the optional tail was laid out by the
// driver; this closes the image and clears its read-only attribute.
void finish_hfs_compile_job(CompileJob& job);
void finish_iso_compile_job(CompileJob& job);
