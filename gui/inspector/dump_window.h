// The dump window: one fork of a file of the open volume, 512-byte sector by
// sector, with its menus (forks, resource tree, file properties, print,
// navigation, search, copy, analyze, data segment, character set, radix, font
// size), its status bar and the structure viewers it opens. It runs modally
// over the main window.
#pragma once

#include <wx/frame.h>
#include <wx/treebase.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gui/inspector/dump_session.h"
#include "gui/inspector/resource_tree.h"
#include "gui/inspector/sectorkind.h"

class wxEventLoopBase;
class wxMenu;
class wxSimplebook;
class wxSplitterWindow;
class wxTextCtrl;
class wxTreeCtrl;
class wxTreeEvent;
class wxKeyEvent;

class DumpWindow : public wxFrame {
 public:
  DumpWindow(wxWindow* owner, DumpFile file, SectorReader medium);
  ~DumpWindow() override;

  // Shows the window until it is closed: 1 closed ("Back to Main Screen",
  // Esc), 2 cancelled (the close box), or 2 at once for a file whose two forks
  // are empty.
  int run_modal();

  // The menu's items by name ("Hom", "Act1"...): run as a click (false when
  // the item is disabled), and their state.
  bool run_item(const std::string& name);
  bool item_enabled(const std::string& name) const;
  bool item_checked(const std::string& name) const;
  std::string item_label(const std::string& name) const;

  // Shows a sector of the fork (where every go button of the viewers ends).
  void show_dump_sector(uint64_t sector);
  // Opens the viewer of kind over the sector shown (the analyze command does
  // so with the kind the sector holds).
  void show_structure(SectorKind kind);

  DumpSession& session() { return session_; }
  wxTextCtrl* dump_view() const { return liste_; }
  wxTextCtrl* resource_view() const { return list_arb_; }
  wxTreeCtrl* resource_tree() const { return ress_tv_; }
  std::string status_text(int panel) const;
  int font_size() const { return font_size_; }

 private:
  DumpSession session_;
  std::map<std::string, int> items_;
  wxSimplebook* pages_ = nullptr;
  wxTextCtrl* liste_ = nullptr;
  wxSplitterWindow* splitter_ = nullptr;
  wxTreeCtrl* ress_tv_ = nullptr;
  wxTextCtrl* list_arb_ = nullptr;
  wxEventLoopBase* loop_ = nullptr;
  int result_ = 1;
  int font_size_ = 10;
  bool tree_shown_ = false;
  std::vector<uint8_t> fork_bytes_;  // the resource fork while its tree is shown
  ResourceTree tree_;
  std::vector<wxTreeItemId> resource_ids_;  // the tree's resource nodes, entry by entry
  int shown_resource_ = -1;
  std::vector<std::string> lines_;  // the dump shown

  void build_menu();
  void add_item(wxMenu* menu, const std::string& name, int caption, int hint, const char* accel,
                std::function<void()> action, int kind = 0);
  void update_items();
  void end_modal(int result);
  void select_fork(int fork);
  void show_tree();
  void show_resource(int index);
  void save_resource(bool hex);
  int selected_resource() const;
  void fill_view(const uint8_t* sector, uint64_t number);
  void update_status(uint64_t sector, int64_t absolute);
  void apply_font(int size);
  void redraw();
  void move_to(int64_t target);
  void search(bool again);
  void analyze();
  void copy();
  void print();
  void file_properties();
  void on_key(wxKeyEvent& e);
};

// Runs while a dump window shows (the window tests drive it through this).
extern std::function<void(DumpWindow&)> g_dump_window_driver;

// Shows the dump window on a file of the open volume; its modal result.
int show_dump_window(wxWindow* owner, DumpFile& file);
