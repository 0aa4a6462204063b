#include "gui/progresslogic.h"

#include <cstdio>

#include "IO/fileio.h"
#include "IO/strlib.h"
#include "IO/uitext.h"

namespace {

std::string size_mb(uint64_t bytes) {
  char buf[k_size_text];
  return format_size_mb(bytes, buf);
}

}  // namespace

std::string compile_elapsed_text(uint64_t milliseconds) {
  unsigned seconds = unsigned(milliseconds / 1000);
  return format_text("%2u'%02u\"", seconds / 60, seconds % 60);
}

FileStartView file_start_view(int steps, const char* name, int64_t size) {
  FileStartView v;
  if (!name) {
    v.label = ui_text(1396);
  } else if (steps <= 0 || size <= 0) {
    v.label = ui_text(1394);
  } else {
    v.label = format_text(ui_text(1391).c_str(), shorten_path_for_display(name, 65).c_str(),
                          size_mb(uint64_t(size)).c_str());
    v.bar_maximum = steps;
  }
  return v;
}

int general_bar_range(uint64_t total_sectors) {
  uint64_t r = total_sectors >> 9;
  if (r < 1) r = 1;
  if (r > 0x7FFFFFFF) r = 0x7FFFFFFF;
  return int(r);
}

int general_bar_position(uint64_t compiled_sectors, int range) {
  uint64_t p = compiled_sectors >> 9;
  return p > uint64_t(range) ? range : int(p);
}

std::string compile_success_text(const std::string& description) {
  std::string text = description;
  size_t paren = text.find('(');
  if (paren != std::string::npos && paren > 0) text[paren - 1] = '\n';
  return text + ui_text(1295);
}

std::string compile_left_out_text(const std::vector<std::string>& left_out) {
  constexpr size_t k_shown = 10;
  std::string paths;
  for (size_t i = 0; i < left_out.size() && i < k_shown; ++i) paths += (i ? "\n" : "") + left_out[i];
  std::string text = left_out.size() == 1 ? format_text(ui_text(6657).c_str(), paths.c_str())
                                          : format_text(ui_text(6656).c_str(), int(left_out.size()), paths.c_str());
  if (left_out.size() > k_shown) text += "\n" + format_text(ui_text(6658).c_str(), int(left_out.size() - k_shown));
  return text;
}

std::string compile_description(uint64_t sectors, uint32_t folders, uint32_t files) {
  return format_text(ui_text(1293).c_str(), size_mb(sectors * 2048).c_str(), int(folders), int(files));
}

int remember_form_result(bool yes, bool ticked) {
  if (yes) return ticked ? -4 : -3;
  return ticked ? -2 : -1;
}

int ask_yes_no_remember_result(int modal_result) {
  switch (modal_result) {
    case -4: return 2;
    case -3: return 1;
    case -2: return -1;
    default: return 0;
  }
}

int announcement_form_result(bool ticked) { return ticked ? -1 : 1; }
