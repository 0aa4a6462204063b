// Pieces the editor forms share: a row of menu titles with a status bar for
// the hints (a dialog has no menu bar of its own), and the file chooser.
#pragma once

#include <wx/dialog.h>
#include <wx/menu.h>
#include <wx/statusbr.h>

#include <functional>
#include <string>
#include <vector>

class wxBoxSizer;
class wxFrame;
class wxFlexGridSizer;

// Captions beside their controls: a grid of two columns, the second growing.
wxFlexGridSizer* two_column_grid();

// The end of a window with a menu row: the status bar at its foot, the sizer
// set, the menu commands and their shortcuts bound to run.
struct Shortcut {
  int flags;    // wxACCEL_*
  int key;
  int command;  // menu item id
};
void finish_menu_window(wxDialog& form, wxBoxSizer* top, wxStatusBar* status, const std::vector<Shortcut>& keys,
                        std::function<void(int command)> run);

// A row of menu titles across the top of a dialog. Each title is a flat button
// that drops its menu below it; the items' hints (texts beginning with ".") go
// to the status bar while the pointer is on them.
class FormMenuRow {
 public:
  FormMenuRow(wxDialog& form, wxStatusBar* status);
  ~FormMenuRow();
  // Adds a title and its menu (owned by the row). The button is named name;
  // hint: text id shown while the pointer is on the title.
  wxWindow* add(const std::string& name, const wxString& caption, wxMenu* menu, int hint = 0);
  wxBoxSizer* sizer() const { return sizer_; }
  // The hint (text id) of a menu item, by the item's id.
  void hint(int item_id, int text_id) { hints_.emplace_back(item_id, text_id); }
  // Runs before a menu drops (to enable its items), and before a shortcut runs.
  std::function<void(const std::string& name, wxMenu& menu)> on_open;
  wxMenu* menu(const std::string& name) const;
  // Drops the menu of that title (as a click on it does).
  void open(const std::string& name);
  // Shows the hint of text id (the leading "." dropped) in the status bar; 0 clears it.
  void show_hint(int id);

 private:
  wxDialog& form_;
  wxStatusBar* status_;
  wxBoxSizer* sizer_;
  std::vector<std::pair<std::string, wxMenu*>> menus_;
  std::vector<std::pair<int, int>> hints_;
};

// A window's menu bar: while one of its menus is open, the menu's hint (a text
// id from hint_of, given the menu's place on the bar; 0 for none) shows in the
// status bar as an item's hint does, and the text it covered comes back when
// the menu closes.
void show_menu_title_hints(wxFrame& frame, std::function<int(size_t position)> hint_of);

// Open or save dialog; "" when cancelled.
std::string choose_file(wxWindow* owner, const wxString& title, const std::string& folder, const std::string& name,
                        const wxString& wildcard, long style);
