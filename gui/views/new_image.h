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
// 0 with label (Mac Roman) and size set, k_text_bad_size, k_text_name_too_long,
// or k_text_no_free_space when the folder of path has not the room.
int check_new_image(const NewImageModel& m, const std::string& path, std::string& label, uint32_t& size_mb);
