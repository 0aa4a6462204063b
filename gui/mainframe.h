// The main window: menus and tool bars of the three working modes, the
// (still empty) views, the status bar, the documents, the compile commands,
// the hand-over from a second start, start-up and shut-down.
#pragma once

#include <wx/frame.h>
#include <wx/timer.h>

#include <string>
#include <vector>

#include "gui/guiforms.h"
#include "gui/instance.h"
#include "gui/menumodel.h"

class wxGauge;
class wxListCtrl;
class wxMenu;
class wxMenuBar;
class wxPanel;
class wxSplitterWindow;
class wxToolBar;
class wxTreeCtrl;
class ProgressDialog;

class MainFrame : public wxFrame, public GuiForms {
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
  void run_command(const std::string& name);
  // "kind<TAB>name<TAB>text" lines of every caption and hint shown, for checks.
  std::string dump_texts() const;
  const std::string& document_path() const { return doc_path_[mode_index()]; }
  ProgressDialog* progress_dialog() const { return progress_; }
  void poll_handover();
  // Set when the first argument was already run as a command before the window existed.
  bool command_already_run = false;

  // GuiForms
  void message(const std::string& text, int timeout_ms) override;
  bool yes_no(const std::string& text) override;
  int yes_no_remember(const std::string& text) override;
  bool announcement(const std::string& text) override;
  void status_text(const std::string& text) override;
  void simple_status_text(const std::string& text) override;
  void elapsed_time(const std::string& text) override;
  void progress_bar(int action, int value) override;
  void progress_file_start(const std::string& label, int bar_maximum) override;
  void progress_advance(int general_position) override;
  void progress_file_done(int general_position, uint32_t files) override;
  void progress_step_text(const std::string& text) override;
  int progress_general_range() override;
  void end_program(int code) override;

 private:
  InstanceChannel* channel_;
  wxTimer handover_timer_;
  bool handling_handover_ = false;
  bool started_ = false;
  wxToolBar* tools_[3] = {nullptr, nullptr, nullptr};
  wxSplitterWindow* split_ = nullptr;
  wxTreeCtrl* tree_ = nullptr;
  wxListCtrl* list_ = nullptr;
  wxPanel* gauge_ = nullptr;
  wxGauge* progression_ = nullptr;
  ProgressDialog* progress_ = nullptr;
  bool simple_status_ = false;
  std::string doc_path_[3];
  std::vector<std::string> recent_[3];
  int copy_method_ = 1;

  int mode_index() const;
  UiState ui_state() const;
  void build_menus();
  wxMenu* build_menu(const char* parent);
  void fill_recent_menu(int mode);
  void build_tool_bars();
  void set_status_panels();
  void on_menu(wxCommandEvent& e);
  void on_close(wxCloseEvent& e);
  bool close_document(bool at_shut_down);
  bool open_document(const std::string& path, int kind);
  bool make_scratch_project(int mode);
  void compile_command(bool isoplus);
  void create_folder_command();
  void open_command(int mode);
  void switch_language(int offset);
  void save_settings();
  void restore_placement();
};

// The program's main window, or null.
extern MainFrame* g_main_frame;
