// The main window: menus and tool bars of the three working modes, the folder
// tree and the virtual file list over the mode's document, the status bar, the
// document commands, the compile commands, the hand-over from a second start,
// start-up and shut-down.
//
// The window is the program's MainViews (g_main_views): the commands of the
// other families read its selection and ask it to show what they changed. It
// keeps the view-state globals current: g_selected_folder, g_partition_folder,
// g_isoplus_folder (the folder the list shows in each mode) and g_popup_source
// (1 when the last selection was made in the list, 0 in the tree). PC files
// dropped on the list or the tree go to g_files_dropped, while the document
// takes them (drop_accepted).
//
// The sources: mainframe.cpp (window, menus, modes, commands), mainframe_views.cpp
// (tree, list, pop-ups, navigation), mainframe_documents.cpp (the documents of
// the three modes), mainframe_print.cpp (printing the list).
#pragma once

#include <wx/frame.h>
#include <wx/timer.h>

#include <functional>
#include <string>
#include <vector>

#include "gui/guiforms.h"
#include "gui/instance.h"
#include "gui/mainviews.h"
#include "gui/menumodel.h"
#include "gui/views/documents.h"
#include "gui/views/file_table.h"

class wxGauge;
class wxImageList;
class wxListCtrl;
class wxListEvent;
class wxMenu;
class wxMenuBar;
class wxPanel;
class wxPrintData;
class wxSplitterEvent;
class wxSplitterWindow;
class wxToolBar;
class wxTreeCtrl;
class wxTreeEvent;
class wxTreeItemId;
class FileListCtrl;
class FolderTreeCtrl;
class ProgressDialog;

class MainFrame : public wxFrame, public GuiForms, public MainViews {
 public:
  // channel: the single-instance channel whose hand-overs this window takes (may be null).
  explicit MainFrame(InstanceChannel* channel);
  ~MainFrame() override;

  // Start-up as the window is first shown: settings, arguments, placement,
  // recent lists, scratch project, captions, working mode.
  void start_up(const std::vector<std::string>& args);
  // An argument from the command line or a second start: 1 when it was a command that succeeded.
  int handle_command_argument(const std::vector<std::string>& args);
  void set_captions();
  void set_working_mode(int mode);
  void update_commands();
  // Runs a command by its menu or tool name, when its rule allows it now.
  void run_command(const std::string& name);
  // "kind<TAB>name<TAB>text" lines of every caption and hint shown, for checks.
  std::string dump_texts() const;
  const std::string& document_path() const { return doc_path_[mode_index()]; }
  void poll_handover();
  // Set when the first argument was already run as a command before the window existed.
  bool command_already_run = false;

  // The views, for the window tests.
  wxListCtrl* file_list() const;
  wxTreeCtrl* folder_tree() const;
  const std::vector<FileTableEntry>& rows() const { return rows_; }
  wxSplitterWindow* splitter() const { return split_; }
  // The list's pop-up menu as it would open now (enabled items), for checks:
  // "name<TAB>caption<TAB>0|1" lines.
  std::string popup_state(bool tree);
  // Opens a document of the mode as its Open command does after the dialog.
  bool open_document(const std::string& path, int kind);
  const ImageDocument& image() const { return image_; }

  // MainViews
  std::vector<FileTableEntry> selected_entries() const override;
  int32_t tree_selection() const override;
  void refresh_views() override;
  void show_item(int32_t folder, int32_t item) override;
  void show_items(int32_t folder, const std::vector<int32_t>& items) override;
  void apply_column_widths() override;
  void set_tree_width(int width) override;
  int tree_width() const override;

  // GuiForms
  void message(const std::string& text, int timeout_ms) override;
  bool yes_no(const std::string& text) override;
  int yes_no_remember(const std::string& text) override;
  bool announcement(const std::string& text) override;
  void status_text(const std::string& text) override;
  void simple_status_text(const std::string& text) override;
  // Back from the one-panel status to the panels of the mode and the folder's counts.
  void leave_simple_status();
  void elapsed_time(const std::string& text) override;
  void progress_bar(int action, int value) override;
  void status_panel(int panel, const std::string& text) override;
  int print_lines(const std::string& title, const std::vector<std::string>& lines) override;
  void end_program(int code) override;

  // The list control asks for its rows here.
  std::string row_text(long row, int column) const;
  int row_image_of(long row) const;

 private:
  // The width a list column is shown at (a date column made to hold a date,
  // a column at its built-in width made to hold its caption).
  int shown_column_width(int column) const;
  void fit_to_contents();
  int tree_content_width() const;
  int shown_widths_[7] = {-1, -1, -1, -1, -1, -1, -1};  // the widths the window last gave the columns
  // What the status bar's text panel says of the document shown: the text id
  // of why it cannot be changed, 0 when it can.
  int document_state_text() const;
  InstanceChannel* channel_;
  wxTimer handover_timer_;
  HandoverInbox handovers_;
  bool handling_handover_ = false;
  bool started_ = false;
  wxToolBar* tools_[3] = {nullptr, nullptr, nullptr};
  wxSplitterWindow* split_ = nullptr;
  FolderTreeCtrl* tree_ = nullptr;
  FileListCtrl* list_ = nullptr;
  wxImageList* images_ = nullptr;
  wxPanel* gauge_ = nullptr;
  wxGauge* progression_ = nullptr;
  bool simple_status_ = false;
  std::string simple_note_;  // a status text given under the one panel: the text panel's once it is left
  uint32_t shown_folders_ = 0, shown_files_ = 0;  // the counts the panels show
  std::string doc_path_[3];
  std::vector<std::string> recent_[3];
  ImageDocument image_;          // the open partition image
  bool project_read_only_[3] = {false, false, false};  // the mode's project is only looked at (damaged)
  std::vector<FileTableEntry> rows_;  // the file table: row i of the list shows rows_[i]
  int32_t shown_folder_ = 0;     // the folder whose rows the list holds (0: none)
  bool selecting_ = false;       // the tree's selection is being set by the window itself
  bool commands_pending_ = false;
  int menus_open_ = 0;           // menus of the bar shown now (the paste then follows the clipboard)
  bool drop_on_ = false;
  int tree_width_ = 180;
  // A first start (no placement or widths saved): the window, the folder tree
  // and the columns take the room their contents need, until the user sizes them.
  bool fit_window_ = false, fit_tree_ = false, fit_columns_ = false;
  int fitted_width_ = 0;  // the window's width as last fitted

  int mode_index() const;
  UiState ui_state() const;
  // menus and tool bars
  void build_menus();
  wxMenu* build_menu(const char* parent);
  void fill_recent_menu(int mode);
  void build_tool_bars();
  void set_status_panels();
  void on_menu(wxCommandEvent& e);
  void run_menu_item(int id);
  void on_close(wxCloseEvent& e);
  void switch_language(int offset);
  void save_settings();
  void restore_placement();
  void change_mode(int mode);
  void set_name_view(int view);
  void schedule_update_commands();

  // views (mainframe_views.cpp)
  void build_views();
  void clear_views();
  void fill_tree(int32_t folder);
  void show_folder(int32_t folder);
  bool select_tree_folder(int32_t folder);
  wxTreeItemId find_child(const wxTreeItemId& parent, int32_t id);
  int add_children(const wxTreeItemId& node);
  void show_counts(uint32_t folders, uint32_t files);
  void on_tree_selected(wxTreeEvent& e);
  void on_tree_expanding(wxTreeEvent& e);
  void on_tree_collapsing(wxTreeEvent& e);
  void on_tree_begin_edit(wxTreeEvent& e);
  void on_tree_end_edit(wxTreeEvent& e);
  void on_list_column(wxListEvent& e);
  void on_list_activated(wxListEvent& e);
  void on_list_selection(wxListEvent& e);
  void on_list_begin_edit(wxListEvent& e);
  void on_list_end_edit(wxListEvent& e);
  void on_splitter_changing(wxSplitterEvent& e);
  void show_popup(bool tree);
  void go_to_parent();
  void refresh_document_views();
  void select_all_rows(bool invert);
  void rename_volume_command();
  void open_selected_folder();
  void apply_drop_targets();
  void files_dropped(const std::vector<std::string>& paths, bool on_tree, int x, int y);
  bool clipboard_has_files() const;
  int32_t current_folder() const;
  std::vector<long> selected_rows() const;

  // documents (mainframe_documents.cpp)
  bool close_document(bool at_shut_down);
  bool close_project(int mode, bool offer_save);
  void close_image();
  bool make_scratch_project(int mode);
  bool open_project(const std::string& path, int mode);
  bool open_image(const std::string& path);
  bool expand_image(const std::string& path, std::string& opened, bool& temporary);
  int choose_partition(const ImageDocument& doc);
  void document_opened(int mode);
  void new_project_command(int mode);
  void open_command(int mode);
  void save_project_command(int mode);
  bool save_project_as_command(int mode);
  void close_project_command(int mode);
  void new_image_command();
  bool save_image_command();  // false when a write failed (said)
  void save_image_as_command();
  void close_image_command();
  void hybridise_command();
  void recent_command(int mode, size_t index);
  enum class FileChoice { create, open, save_as };
  std::string choose_file(int mode, FileChoice which, const std::string& name);

  // printing (mainframe_print.cpp)
  void print_command();
  friend class FileListPrintout;
};

// The program's main window, or null.
extern MainFrame* g_main_frame;

// When set, the window's file dialogs are not shown: this answers them
// instead, given the dialog's title, with a path or "" for Cancel (the tests).
extern std::function<std::string(const std::string& title)> g_file_dialog_answer;
// The file name the last of those dialogs proposed (a Save dialog's), shown or answered.
extern std::string g_file_dialog_proposed;

// The target image of a compile: a Save dialog proposing the project's name
// with the extension "iso" ("dmg" for an HFS-only compile) in the folder of
// the last compile, then the checks of the target (4 GiB - 64 KiB on a FAT
// disk, free space of its folder for `bytes`, an existing file confirmed, the
// open project itself refused). The chosen path, or "" when refused or cancelled.
std::string choose_target_image(const std::string& project_path, uint64_t bytes, bool hfs_only);
