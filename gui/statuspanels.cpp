#include "gui/statuspanels.h"

#include <algorithm>

const int k_status_design_widths[k_status_panels] = {120, 90, 90, 90, -1};

std::vector<int> fit_status_widths(std::span<const int> design, std::span<const int> text_widths, int padding) {
  std::vector<int> out(design.begin(), design.end());
  for (size_t i = 0; i < out.size() && i < text_widths.size(); ++i)
    if (out[i] >= 0 && text_widths[i] > 0) out[i] = std::max(out[i], text_widths[i] + padding);
  return out;
}
