// The refresh review window: the changes of a project's PC files on three
// tabs, accepted into the project or dismissed item by item, tab by tab or all
// at once, and printed.
#pragma once

#include <cstdio>
#include <string>

class wxWindow;
class wxDC;
class wxRect;
struct RefreshReview;

// The window's menu items (menus File and Edit, and the lists' pop-up menu).
enum RefreshCommand {
  k_refresh_print = 6440,     // Pr1
  k_refresh_quit,             // Qu1
  k_refresh_accept_all,       // AT1
  k_refresh_accept_tab,       // A11 (Edit menu)
  k_refresh_dismiss_all,      // RT1
  k_refresh_dismiss_tab,      // R11 (Edit menu)
  k_refresh_accept_tab_pop,   // A1
  k_refresh_dismiss_tab_pop,  // R1
  k_refresh_accept_item,      // AA1
  k_refresh_dismiss_item,     // RA1
};

// Shows the change list (an open stream, read from its start) over owner and
// writes each accepted change into project. hfsplus: the project's target;
// isoplus: an ISO+ project. Returns when the window is closed.
void run_refresh_review(wxWindow* owner, FILE* change_list, FILE* project, const std::string& project_path,
                        bool hfsplus, bool isoplus);

// The printed report: the window caption, the project and the date as a header
// on every page, then for each tab its title, the column titles and one line a
// change (name, project folder, length, access path), each column as wide as
// given (pixels) and its text clipped to it.
// page 0 draws nothing. Returns the number of pages.
int draw_review_page(wxDC& dc, const wxRect& area, int page, const RefreshReview& review,
                     const std::string& project_path, const std::string& date_time, const int widths[4]);
