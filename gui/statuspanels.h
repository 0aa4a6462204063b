// The main window's status bar as data: its five panels (mode, then the
// elapsed time and the counts, then the status text) with their design widths,
// and the rule that widens a panel to hold its text so that no count is cut.
#pragma once

#include <span>
#include <vector>

constexpr int k_status_panels = 5;
// Pixels; -1 takes what the others leave.
extern const int k_status_design_widths[k_status_panels];

// Each panel as wide as its text (text_widths, pixels, plus padding for the
// panel's margins), never narrower than its design width; a panel whose
// design width is -1 keeps -1.
std::vector<int> fit_status_widths(std::span<const int> design, std::span<const int> text_widths, int padding);
