#include "gui/compile/progresslogic.h"

#include <algorithm>
#include <cstdio>

#include "IO/fileio.h"
#include "IO/results.h"
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

InclusionCountsView inclusion_counts_view(uint64_t milliseconds, uint32_t folders, uint32_t files) {
  return {format_text(ui_text(1016).c_str(), int(folders)), format_text(ui_text(1015).c_str(), int(files)),
          compile_elapsed_text(milliseconds)};
}

std::string inclusion_done_text(uint64_t milliseconds, uint32_t folders, uint32_t files) {
  unsigned seconds = unsigned(milliseconds / 1000);
  if (seconds / 60 == 0) return std::string();
  return format_text(ui_text(1457).c_str(), int(seconds / 60), int(seconds % 60), int(folders), int(files));
}

bool display_due(uint64_t& last_ms, uint64_t now_ms, uint64_t interval_ms) {
  if (last_ms != 0 && now_ms - last_ms < interval_ms) return false;
  last_ms = now_ms ? now_ms : 1;
  return true;
}

int file_bar_maximum(int steps, const char* name, int64_t size) {
  return name && steps > 0 && size > 0 ? steps : 0;
}

FileStartView file_start_view(int steps, const char* name, int64_t size) {
  FileStartView v;
  v.bar_maximum = file_bar_maximum(steps, name, size);
  if (!name) {
    v.label = ui_text(1396);
  } else if (v.bar_maximum == 0) {
    v.label = ui_text(1394);
  } else {
    v.label = format_text(ui_text(1391).c_str(), shorten_path_for_display(name, 65).c_str(),
                          size_mb(uint64_t(size)).c_str());
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

CompileProgress g_compile_progress;

void CompileProgress::reset() {
  std::lock_guard<std::mutex> hold(lock_);
  sectors_ = 0;
  files_ = 0;
  chunks_ = 0;
  serial_ = 0;
  step_ = named_ = false;
  text_.clear();
  steps_ = 0;
  size_ = 0;
  bar_maximum_ = 0;
}

void CompileProgress::file_started(int steps, const char* name, int64_t size) {
  if (watcher_) watcher_();
  std::lock_guard<std::mutex> hold(lock_);
  step_ = false;
  named_ = name != nullptr;
  text_ = name ? name : "";
  steps_ = steps;
  size_ = size;
  bar_maximum_ = file_bar_maximum(steps, name, size);
  chunks_.store(0, std::memory_order_relaxed);
  ++serial_;
}

void CompileProgress::step_shown(const char* text) {
  std::lock_guard<std::mutex> hold(lock_);
  step_ = true;
  text_ = text ? text : "";
  bar_maximum_ = 0;
  chunks_.store(0, std::memory_order_relaxed);
  ++serial_;
}

void CompileProgress::chunk_copied(int64_t sectors) {
  if (sectors > 0) sectors_.fetch_add(uint64_t(sectors), std::memory_order_relaxed);
  chunks_.fetch_add(1, std::memory_order_relaxed);
}

void CompileProgress::file_finished(int64_t sectors) {
  if (sectors > 0) sectors_.fetch_add(uint64_t(sectors), std::memory_order_relaxed);
  files_.fetch_add(1, std::memory_order_relaxed);
}

ProgressReading CompileProgress::read(uint32_t shown_serial) const {
  ProgressReading r;
  r.sectors = sectors();
  r.files = files();
  bool step = false, named = false;
  int steps = 0;
  int64_t size = 0;
  {
    std::lock_guard<std::mutex> hold(lock_);
    r.label_serial = serial_;
    r.label_changed = r.label_serial != shown_serial;
    r.bar_maximum = bar_maximum_;
    if (r.label_changed) {
      r.label = text_;
      step = step_;
      named = named_;
      steps = steps_;
      size = size_;
    }
  }
  // Made into words here, on the reader's side, and only when it changed.
  if (r.label_changed && !step) r.label = file_start_view(steps, named ? r.label.c_str() : nullptr, size).label;
  r.bar_position = int(std::min<uint32_t>(chunks_.load(std::memory_order_relaxed), uint32_t(r.bar_maximum)));
  return r;
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
  if (yes) return ticked ? k_form_yes_ticked : k_form_yes;
  return ticked ? k_form_no_ticked : k_form_no;
}

int ask_yes_no_remember_result(int modal_result) {
  switch (modal_result) {
    case k_form_yes_ticked: return k_reply_yes_remembered;
    case k_form_yes: return k_reply_yes;
    case k_form_no_ticked: return k_reply_no_remembered;
    default: return k_reply_no;
  }
}

int announcement_form_result(bool ticked) { return ticked ? k_form_ticked : k_form_not_ticked; }
