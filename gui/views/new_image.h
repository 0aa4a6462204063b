// The size and label of a new partition image, checked before it is made.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/project.h"
#include "gui/forms/name_checks.h"

// --- new partition image (template 111) ------------------------------------------------------
struct NewImageModel {
  std::string label = "Untitled";
  std::string size_text = "1";
  bool zero_fill = false;
  bool hfsplus = false;
};
uint32_t new_image_max_mb(bool hfsplus);
// The allocation block size the volume of a new image gets (HFS: 512 bytes per
// 4 MB of volume, at least 512; HFS+: 2048), as create_hfs_image and
// create_hfsplus_image lay it out.
uint32_t new_image_block_size(uint32_t size_mb, bool hfsplus);
// What the dialog shows beside "Allocation block size chosen for:" as the size
// is typed: text 6134 with the size and its block size ("10 MB: 1,024 bytes");
// empty while the typed size is no size the format takes.
std::string new_image_block_text(const NewImageModel& m);
// 0 with label (Mac Roman) and size set, k_text_bad_size, k_text_name_too_long,
// or k_text_no_free_space when the folder of path has not the room.
[[nodiscard]] int check_new_image(const NewImageModel& m, const std::string& path, std::string& label, uint32_t& size_mb);
