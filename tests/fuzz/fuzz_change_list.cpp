// The refresh review's change list reader over arbitrary bytes: every line it
// takes is written again by the scan's writer and reads back the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gui/refresh/refresh_review.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RefreshReview review;
  std::string text(reinterpret_cast<const char*>(data), size);
  int n = read_change_list_text(text, review);
  size_t listed = 0;
  for (const auto& list : review.lists) {
    listed += list.size();
    for (const ReviewLine& l : list) {
      ReviewLine back;
      if (!parse_review_line(format_review_line(l), back)) std::abort();
      if (back.kind != l.kind || back.parent_id != l.parent_id || back.id != l.id || back.size != l.size ||
          back.pc_folder != l.pc_folder || back.pc_name != l.pc_name)
        std::abort();
    }
  }
  if (listed != size_t(n)) std::abort();
  if (n > 0 && review.active < 0) std::abort();
  return 0;
}
