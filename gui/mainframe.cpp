#include "gui/mainframe.h"

#include <sys/stat.h>
#include <unistd.h>

#include <wx/accel.h>
#include <wx/app.h>
#include <wx/artprov.h>
#include <wx/dcclient.h>
#include <wx/filedlg.h>
#include <wx/gauge.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/splitter.h>
#include <wx/statusbr.h>
#include <wx/button.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/toolbar.h>
#include <wx/treectrl.h>
#include <wx/utils.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "IO/fileio.h"
#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/additems.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "gui/commandline.h"
#include "gui/commands.h"
#include "gui/compileworker.h"
#include "gui/dialogs/logfiledialog.h"
#include "gui/dialogs/messageforms.h"
#include "gui/dialogs/progressdialog.h"
#include "gui/guithread.h"
#include "gui/progresslogic.h"
#include "gui/recent.h"
#include "hfs/engine.h"
#include "macfiles/extract.h"

MainFrame* g_main_frame = nullptr;

namespace {

wxString tr(int id) { return wxString::FromUTF8(ui_text(id)); }

wxString hint_text(int id) {
  if (id == 0) return wxString();
  std::string shown;
  hint_to_status_bar(ui_text(id), shown);
  return wxString::FromUTF8(shown);
}

constexpr int k_first_recent_id = k_first_command_id + 2000;  // R11..R35: + mode * 10 + index
const char* const k_tool_bar_names[3] = {"ToolProj", "ToolPart", "ToolIsop"};
const wxColour k_mode_colours[3] = {wxColour(0xFE, 0xFC, 0xF6), wxColour(0xF4, 0xFE, 0xF4), wxColour(0xF4, 0xFE, 0xFF)};

bool path_exists(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0;
}

wxArtID tool_art(const std::string& name) {
  if (name.rfind("Del", 0) == 0) return wxART_DELETE;
  if (name.rfind("Pere", 0) == 0) return wxART_GO_DIR_UP;
  if (name == "ModeVue") return wxART_LIST_VIEW;
  if (name.rfind("Comp", 0) == 0) return wxART_CDROM;
  if (name.rfind("Rech", 0) == 0) return wxART_FIND;
  if (name.rfind("Help", 0) == 0) return wxART_HELP;
  if (name.rfind("MkDir", 0) == 0) return wxART_NEW_DIR;
  if (name.rfind("Wiz", 0) == 0) return wxART_REPORT_VIEW;
  if (name == "Mac2PC") return wxART_GO_BACK;
  if (name == "PC2Mac") return wxART_GO_FORWARD;
  return wxART_MISSING_IMAGE;
}

// The switches a command from the command line leaves behind; a handed-over
// command must not change how the running window behaves afterwards.
struct CommandSwitches {
  bool iso = g_auto_truncate_iso, hfsplus = g_auto_truncate_hfsplus, hfs = g_auto_truncate_hfs;
  int macbinary = g_answer_macbinary, appledouble = g_answer_appledouble, executable = g_answer_executable;
  int name_view = g_name_view, mode = g_working_mode;
  void restore() const {
    g_auto_truncate_iso = iso;
    g_auto_truncate_hfsplus = hfsplus;
    g_auto_truncate_hfs = hfs;
    g_answer_macbinary = macbinary;
    g_answer_appledouble = appledouble;
    g_answer_executable = executable;
    g_name_view = name_view;
    g_working_mode = mode;
    g_command_mode = false;
  }
};

FILE*& project_stream(int mode) { return mode == 2 ? g_isoplus_file : g_project_file; }

// The journal's chooser, for a journal asked for at start-up with no path saved.
void choose_log_file(std::string& path) {
  wxFileDialog choose(g_main_frame, tr(1554), wxString::FromUTF8(gui_data_folder()), "corvane.log", "*.log",
                      wxFD_SAVE);
  path = run_modal(choose) == wxID_OK ? choose.GetPath().utf8_string() : std::string();
}

// Calls fn(command, position, item) for every command shown in this mode: a
// menu of the bar comes with its position and no item, any other with its item
// (null when it is missing from the bar).
template <class F>
void for_each_shown(wxMenuBar* bar, const UiState& s, F fn) {
  int position = 0;
  for (const CommandDef& c : menu_commands()) {
    if (!command_visible(c, s) || c.kind == ItemKind::separator) continue;
    if (!c.parent) fn(c, position++, static_cast<wxMenuItem*>(nullptr));
    else fn(c, -1, bar->FindItem(command_id(c.name)));
  }
}

}  // namespace

MainFrame::MainFrame(InstanceChannel* channel)
    : wxFrame(nullptr, wxID_ANY, "Corvane", wxDefaultPosition, wxSize(760, 520)), channel_(channel),
      handover_timer_(this) {
  SetName("Corvex");
  g_main_frame = this;
  auto* top = new wxBoxSizer(wxVERTICAL);
  for (int m = 0; m < 3; ++m) {
    tools_[m] = new wxToolBar(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTB_HORIZONTAL | wxTB_FLAT);
    tools_[m]->SetName(k_tool_bar_names[m]);
    top->Add(tools_[m], 0, wxEXPAND);
  }
  build_tool_bars();
  split_ = new wxSplitterWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxSP_LIVE_UPDATE | wxSP_3D);
  tree_ = new wxTreeCtrl(split_, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTR_HAS_BUTTONS | wxTR_SINGLE);
  tree_->SetName("TV");
  list_ = new wxListCtrl(split_, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT);
  list_->SetName("LV");
  const auto& columns = list_columns();
  for (size_t i = 0; i < columns.size(); ++i)
    list_->AppendColumn(tr(columns[i].caption), columns[i].right_aligned ? wxLIST_FORMAT_RIGHT : wxLIST_FORMAT_LEFT,
                        columns[i].width);
  split_->SplitVertically(tree_, list_, 180);
  split_->SetMinimumPaneSize(40);
  top->Add(split_, 1, wxEXPAND);
  progression_ = new wxGauge(this, wxID_ANY, 100, wxDefaultPosition, wxSize(-1, 14));
  progression_->SetName("Progression");
  progression_->Hide();
  top->Add(progression_, 0, wxEXPAND);
  gauge_ = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxSize(-1, 18));
  gauge_->SetName("PB");
  gauge_->Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
    wxPaintDC dc(gauge_);
    int mode = mode_index();
    wxSize sz = gauge_->GetClientSize();
    dc.SetBrush(wxBrush(k_mode_colours[mode]));
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.DrawRectangle(0, 0, sz.x, sz.y);
    int reference = mode == 2 ? g_reference_size_isoplus : g_reference_size_project;
    uint64_t mb = g_total_sectors >> 9;
    if (reference > 0) {
      int limit = reference / 14 * 13;
      double scale = double(sz.x) / reference;
      uint64_t safe = mb <= uint64_t(limit) ? mb : uint64_t(limit);
      dc.SetBrush(wxBrush(mode == 0 ? wxColour(0xFE, 0xCA, 0x01) : wxColour(0x76, 0xFD, 0x01)));
      dc.DrawRectangle(0, 0, int(double(safe) * scale), sz.y);
      if (mb > uint64_t(limit)) {
        dc.SetBrush(wxBrush(wxColour(0xAA, 0x08, 0x2B)));
        dc.DrawRectangle(int(limit * scale), 0, int(double(mb) * scale) - int(limit * scale), sz.y);
      }
    }
    char buf[k_size_text];
    wxString label = wxString::FromUTF8(format_size_mb(g_total_sectors * 2048, buf));
    wxSize t = dc.GetTextExtent(label);
    dc.SetTextForeground(*wxBLACK);
    dc.DrawText(label, (sz.x - t.x) / 2, (sz.y - t.y) / 2);
  });
  top->Add(gauge_, 0, wxEXPAND);
  SetSizer(top);
  CreateStatusBar(5)->SetName("Barre");
  int widths[5] = {120, 90, 90, 90, -1};
  GetStatusBar()->SetStatusWidths(5, widths);
  SetStatusBarPane(4);  // menu hints go to the status text panel
  SetMinSize(wxSize(480, 320));
  Bind(wxEVT_MENU, &MainFrame::on_menu, this);
  register_command_families();
  // F1: the help topic of the mode; Ctrl+N: a new folder, as the tool hint says.
  wxAcceleratorEntry keys[2];
  keys[0].Set(wxACCEL_NORMAL, WXK_F1, command_id(mode_index() == 1 ? "HelpPart" : "HelpProj"));
  keys[1].Set(wxACCEL_CTRL, 'N', command_id("MD"));
  SetAcceleratorTable(wxAcceleratorTable(2, keys));
  Bind(wxEVT_CLOSE_WINDOW, &MainFrame::on_close, this);
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { poll_handover(); });
  build_menus();
}

MainFrame::~MainFrame() {
  if (g_main_frame == this) g_main_frame = nullptr;
  if (g_gui_forms == this) g_gui_forms = nullptr;
}

int MainFrame::mode_index() const { return g_working_mode >= 0 && g_working_mode <= 2 ? g_working_mode : 0; }

UiState MainFrame::ui_state() const {
  UiState s;
  s.mode = mode_index();
  s.has_document = s.mode == 1 ? !doc_path_[1].empty() : project_stream(s.mode) != nullptr;
  s.is_scratch = s.mode != 1 && is_scratch_project(doc_path_[s.mode], s.mode);
  s.compile_running = !compile_idle();
  for (int m = 0; m < 3; ++m) s.recent[m] = !recent_[m].empty();
  s.name_view = g_name_view;
  s.copy_method = g_copy_method;
  return s;
}

// --- menus, tool bars, captions ---------------------------------------------------------------
wxMenu* MainFrame::build_menu(const char* parent) {
  auto* menu = new wxMenu;
  UiState s = ui_state();
  for (const CommandDef& c : menu_commands()) {
    if (!c.parent || std::strcmp(c.parent, parent) != 0 || !command_visible(c, s)) continue;
    int id = command_id(c.name);
    wxString label = tr(command_caption(c, s));
    switch (c.kind) {
      case ItemKind::separator: menu->AppendSeparator(); break;
      case ItemKind::menu: {
        wxMenu* sub = build_menu(c.name);
        menu->Append(id, label, sub, hint_text(c.hint));
        break;
      }
      case ItemKind::item: menu->Append(id, label, hint_text(c.hint)); break;
      case ItemKind::check: menu->AppendCheckItem(id, label, hint_text(c.hint)); break;
      case ItemKind::radio: menu->AppendRadioItem(id, label, hint_text(c.hint)); break;
    }
  }
  return menu;
}

void MainFrame::fill_recent_menu(int mode) {
  static const char* const k_holders[3] = {"Reop1", "Reop2", "Re1"};
  wxMenuBar* bar = GetMenuBar();
  wxMenuItem* holder = bar ? bar->FindItem(command_id(k_holders[mode])) : nullptr;
  if (!holder || !holder->GetSubMenu()) return;
  wxMenu* sub = holder->GetSubMenu();
  while (sub->GetMenuItemCount() > 0) sub->Destroy(sub->FindItemByPosition(0));
  for (size_t i = 0; i < k_recent_count; ++i) {
    int id = k_first_recent_id + mode * 10 + int(i);
    wxMenuItem* it = sub->Append(id, wxString::FromUTF8(recent_menu_caption(i, i < recent_[mode].size() ? recent_[mode][i] : "")));
    it->Enable(i < recent_[mode].size());
  }
}

void MainFrame::build_menus() {
  auto* bar = new wxMenuBar;
  UiState s = ui_state();
  for (const CommandDef& c : menu_commands())
    if (!c.parent && command_visible(c, s)) bar->Append(build_menu(c.name), tr(c.caption));
  wxMenuBar* old = GetMenuBar();
  SetMenuBar(bar);
  delete old;
  fill_recent_menu(s.mode);
}

void MainFrame::build_tool_bars() {
  for (const ToolDef& t : tool_buttons()) {
    wxToolBar* bar = tools_[t.mode];
    bar->AddTool(tool_id(t), t.name, wxArtProvider::GetBitmap(tool_art(t.name), wxART_TOOLBAR, wxSize(24, 24)),
                 tr(t.hint));
  }
  for (wxToolBar* bar : tools_) bar->Realize();
}

void MainFrame::set_status_panels() {
  int id = mode_status_text(g_working_mode, g_name_view);
  if (id && !simple_status_) SetStatusText(tr(id), 0);
}

void MainFrame::set_captions() {
  wxMenuBar* bar = GetMenuBar();
  UiState s = ui_state();
  for_each_shown(bar, s, [&](const CommandDef& c, int position, wxMenuItem* it) {
    if (position >= 0) {
      bar->SetMenuLabel(size_t(position), tr(c.caption));
    } else if (it) {
      it->SetItemLabel(tr(command_caption(c, s)));
      it->SetHelp(hint_text(c.hint));
    }
  });
  for (const ToolDef& t : tool_buttons()) tools_[t.mode]->SetToolShortHelp(tool_id(t), tr(t.hint));
  const auto& columns = list_columns();
  for (size_t i = 0; i < columns.size(); ++i) {
    wxListItem col;
    col.SetMask(wxLIST_MASK_TEXT);
    col.SetText(tr(columns[i].caption));
    list_->SetColumn(int(i), col);
  }
  set_status_panels();
}

void MainFrame::update_commands() {
  wxMenuBar* bar = GetMenuBar();
  UiState s = ui_state();
  for_each_shown(bar, s, [&](const CommandDef& c, int position, wxMenuItem* it) {
    if (position >= 0) {
      bar->EnableTop(size_t(position), command_enabled(c, s));
      return;
    }
    if (!it) return;
    it->Enable(command_enabled(c, s));
    if (c.kind == ItemKind::radio && command_checked(c, s)) it->Check(true);
    if (std::strcmp(c.name, "CachBarre") == 0) it->Check((g_options & k_option_hide_toolbar) != 0);
    wxString caption = tr(command_caption(c, s));
    if (it->GetItemLabel() != caption) it->SetItemLabel(caption);
  });
  for (const ToolDef& t : tool_buttons()) tools_[t.mode]->EnableTool(tool_id(t), tool_enabled(t, s));
  tree_->Enable(!s.compile_running);
  list_->Enable(!s.compile_running);
  SetTitle(wxString::FromUTF8(main_caption(doc_path_[s.mode])));
  gauge_->Refresh();
}

void MainFrame::set_working_mode(int mode) {
  if (mode < 0 || mode > 2) return;
  g_working_mode = mode;
  build_menus();
  bool hide = (g_options & k_option_hide_toolbar) != 0;
  for (int m = 0; m < 3; ++m) tools_[m]->Show(m == mode && !hide);
  tree_->SetBackgroundColour(k_mode_colours[mode]);
  list_->SetBackgroundColour(k_mode_colours[mode]);
  gauge_->Show(mode != 1);
  if (mode != 1) progression_->Hide();
  Layout();
  set_status_panels();
  update_commands();
}

std::string MainFrame::dump_texts() const {
  std::string out;
  auto line = [&out](const char* kind, const std::string& name, const wxString& text) {
    out += std::string(kind) + "\t" + name + "\t" + text.utf8_string() + "\n";
  };
  wxMenuBar* bar = GetMenuBar();
  for_each_shown(bar, ui_state(), [&](const CommandDef& c, int position, wxMenuItem* it) {
    if (position >= 0) {
      line("menu", c.name, bar->GetMenuLabel(size_t(position)));
    } else if (!it) {
      line("missing", c.name, "");
    } else {
      line("caption", c.name, it->GetItemLabel());
      line("hint", c.name, it->GetHelp());
    }
  });
  for (const ToolDef& t : tool_buttons()) {
    line("tool", t.name, tools_[t.mode]->GetToolShortHelp(tool_id(t)));
    line("tool-enabled", t.name, tools_[t.mode]->GetToolEnabled(tool_id(t)) ? "1" : "0");
  }
  for (int i = 0; i < list_->GetColumnCount(); ++i) {
    wxListItem col;
    col.SetMask(wxLIST_MASK_TEXT);
    list_->GetColumn(i, col);
    line("column", std::to_string(i), col.GetText());
  }
  line("status", "0", GetStatusBar()->GetStatusText(0));
  line("title", "", GetTitle());
  return out;
}

// --- commands ----------------------------------------------------------------------------------
void MainFrame::on_menu(wxCommandEvent& e) {
  int id = e.GetId();
  if (id >= k_first_recent_id && id < k_first_recent_id + 30) {
    int mode = (id - k_first_recent_id) / 10, index = (id - k_first_recent_id) % 10;
    if (mode == mode_index() && size_t(index) < recent_[mode].size()) {
      std::string path = recent_[mode][size_t(index)];
      if (compile_idle()) handle_command_argument({path});
    }
    return;
  }
  std::string name = command_name(id);
  if (!name.empty()) run_command(name);
}

void MainFrame::run_command(const std::string& name) {
  UiState s = ui_state();
  // While the compile owns the engine only the abort and the help stay; the
  // menus say so too, but a shortcut or a late event must find the same rule.
  int index = command_index(name);
  bool allowed = true;
  if (index >= 0) allowed = command_enabled(menu_commands()[size_t(index)], s);
  for (const ToolDef& t : tool_buttons())
    if (name == t.name) allowed = tool_enabled(t, s);
  if (!allowed) return;
  if (run_registered_command(name)) return;

  if (name == "Quitter1" || name == "Q21" || name == "Qu1") {
    Close();
  } else if (name == "Compil1" || name == "CompProj") {
    compile_command(false);
  } else if (name == "CompISOP" || name == "CompIso") {
    compile_command(true);
  } else if (name == "MProj" || name == "MPart" || name == "MIsop") {
    int mode = name == "MProj" ? 0 : name == "MPart" ? 1 : 2;
    if (mode == mode_index()) return;
    close_document(false);
    set_working_mode(mode);
    if (mode != 1) make_scratch_project(mode);
    set_working_mode(mode);
  } else if (name == "VI1" || name == "VH1" || name == "VM1" || name == "ModeVue") {
    g_name_view = name == "VI1" ? 0 : name == "VH1" ? 1 : name == "VM1" ? 2 : (g_name_view + 1) % 3;
    set_status_panels();
    update_commands();
  } else if (name == "Da" || name == "Re" || name == "Bo" || name == "Ad" || name == "As") {
    g_copy_method = name == "Da" ? 1 : name == "Re" ? 2 : name == "Bo" ? 4 : name == "Ad" ? 0x0C : 0x14;
    update_commands();
  } else if (name == "En2" || name == "Fr1") {
    switch_language(name == "En2" ? 0 : 10000);
  } else if (name == "Log1") {
    run_log_file_dialog(this);
  } else if (name == "MD" || name == "MkDirProj" || name == "MkDirIso") {
    create_folder_command();
  } else if (name == "Ouvrir1" || name == "Ouvrir2" || name == "Ou1") {
    open_command(mode_index());
  } else if (name == "Fermer1" || name == "Fermer2" || name == "Fe1") {
    close_document(false);
    update_commands();
  } else if (name == "CachBarre") {
    g_options ^= k_option_hide_toolbar;
    set_working_mode(mode_index());
  } else if (name == "Aproposde1") {
    show_message(format_text(ui_text(2908).c_str(), CORVANE_VERSION_MAJOR, CORVANE_VERSION_MINOR,
                             CORVANE_VERSION_PATCH).c_str());
  } else if (name == "HelpProj" || name == "HelpPart" || name == "HelpIso") {
    int mode = mode_index();  // F1 comes here whatever the mode
    show_help_topic(mode == 0 ? 2000 : mode == 1 ? 2020 : 2080);
  } else if (index >= 0 && std::strcmp(menu_commands()[size_t(index)].parent ? menu_commands()[size_t(index)].parent : "", "Aide1") == 0) {
    show_help_topic(menu_commands()[size_t(index)].help);
  }
  // The other commands come with the views and documents they act on.
}

void MainFrame::switch_language(int offset) {
  g_language_offset = offset;
  if (!g_command_mode) save_language_choice(offset);
  set_captions();
  update_commands();
}

void MainFrame::compile_command(bool isoplus) {
  if (!compile_idle()) {
    request_compile_abort();
    return;
  }
  int mode = isoplus ? 2 : 0;
  FILE* f = project_stream(mode);
  if (!f || doc_path_[mode].empty()) return;
  std::fflush(f);
  ProjectStatistics stats;
  compute_project_statistics(f, stats);
  ProjectHeader h;
  read_project_header(f, h);
  std::string description = compile_description(h.total_sectors, stats.folders, stats.files);
  CompileRequest request;
  request.project_path = doc_path_[mode];
  request.mode = mode;
  progress_ = new ProgressDialog(this);
  progress_->Show();
  progress_->start(general_bar_range(h.total_sectors), description);
  wxBeginBusyCursor();
  bool started = start_compile(request, [this, description](int result) {
    wxEndBusyCursor();
    if (progress_) progress_->clear_files_panel();
    update_commands();
    if (result == 0) show_message(compile_success_text(description).c_str());
    else show_message(ui_text(1395).c_str());
    if (progress_) progress_->Destroy();
    progress_ = nullptr;
  });
  if (!started) {
    wxEndBusyCursor();
    progress_->Destroy();
    progress_ = nullptr;
  }
  update_commands();
}

void MainFrame::create_folder_command() {
  int mode = mode_index();
  FILE* f = mode == 1 ? nullptr : project_stream(mode);
  if (!f) return;
  // The folder name, in a form whose every text comes from the string table.
  wxDialog ask(this, wxID_ANY, tr(2051));
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(new wxStaticText(&ask, wxID_ANY, tr(2904)), 0, wxALL, 8);
  auto* field = new wxTextCtrl(&ask, wxID_ANY, "", wxDefaultPosition, wxSize(320, -1));
  field->SetName("Name");
  top->Add(field, 0, wxEXPAND | wxLEFT | wxRIGHT, 8);
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  auto* ok = new wxButton(&ask, wxID_OK, tr(1001));
  ok->SetDefault();
  buttons->Add(new wxButton(&ask, wxID_CANCEL, tr(1002)), 0, wxALL, 6);
  buttons->Add(ok, 0, wxALL, 6);
  top->Add(buttons, 0, wxALIGN_RIGHT | wxALL, 4);
  ask.SetSizerAndFit(top);
  ask.CentreOnParent();
  field->SetFocus();
  if (run_modal(ask) != wxID_OK) return;
  std::string name = field->GetValue().utf8_string();
  if (name.empty() || name.size() >= k_pc_name_size) return;
  ProjectRecord buf;
  g_working_mode = mode;
  if (add_new_folder(f, buf, name, k_root_folder_id) == 0) show_message(ui_text(2907).c_str());
  std::fflush(f);
  update_commands();
}

void MainFrame::open_command(int mode) {
  static const char* const k_filters[3] = {"*.cvpr;*.CVPR;*.cat;*.CAT", "*.hfs;*.HFS;*.iso;*.ISO;*.dmg;*.DMG",
                                           "*.cvso;*.CVSO"};
  wxFileDialog choose(this, tr(mode == 0 ? 2002 : mode == 1 ? 2017 : 2032), "", "", k_filters[mode],
                      wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (run_modal(choose) != wxID_OK) return;
  handle_command_argument({choose.GetPath().utf8_string()});
}

// --- documents -------------------------------------------------------------------------------------
bool MainFrame::open_document(const std::string& path, int kind) {
  if (kind == 1) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
      report_open_error(path.c_str());
      return false;
    }
    std::fclose(f);
  } else {
    FILE* f = std::fopen(path.c_str(), "r+b");
    if (!f || check_project_magic(f) != 1) {
      if (f) std::fclose(f);
      report_open_error(path.c_str());
      return false;
    }
    read_project_id_counters(f, g_last_folder_id, g_last_file_serial);
    ProjectHeader h;
    if (read_project_header(f, h)) g_total_sectors = h.total_sectors;
    project_stream(kind) = f;
  }
  doc_path_[kind] = path;
  if (!is_scratch_project(path, kind)) recent_[kind] = add_recent_path(kind, path);
  if (kind == mode_index()) fill_recent_menu(kind);
  update_commands();
  return true;
}

bool MainFrame::close_document(bool at_shut_down) {
  int mode = mode_index();
  if (mode == 1) {
    doc_path_[1].clear();
  } else if (FILE*& f = project_stream(mode); f) {
    std::string path = doc_path_[mode];
    if (is_scratch_project(path, mode)) {
      std::fseek(f, 0, SEEK_END);
      long size = std::ftell(f);
      if (size >= 0 && size < long(k_project_record_size + 1)) {
        std::fclose(f);
        ::unlink(path.c_str());  // nothing but its root record
      } else {
        write_project_totals(f, mode == 2);
        std::fclose(f);
        wxFileDialog save(this, tr(mode == 2 ? 2034 : 2004), "", "", mode == 2 ? "*.cvso" : "*.cvpr",
                          wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
        if (run_modal(save) == wxID_OK) {
          std::string target = save.GetPath().utf8_string();
          std::error_code ec;
          std::filesystem::copy_file(path, target, std::filesystem::copy_options::overwrite_existing, ec);
          if (ec) report_open_error(target.c_str());
          else recent_[mode] = add_recent_path(mode, target);
        }
      }
    } else {
      // The id counters live in the header: written back, so the next run hands out new ids.
      write_project_totals(f, mode == 2);
      if (std::fclose(f) != 0) report_open_error(path.c_str());
    }
    f = nullptr;
    doc_path_[mode].clear();
  }
  g_total_sectors = 0;
  if (!at_shut_down) update_commands();
  return true;
}

bool MainFrame::make_scratch_project(int mode) {
  if (project_stream(mode)) return true;
  std::string folder = gui_data_folder();
  std::error_code ec;
  if (folder.empty() || (std::filesystem::create_directories(folder, ec), ec)) {
    show_message(format_text(ui_text(2903).c_str(), folder.c_str()).c_str());
    return false;
  }
  std::string path = scratch_project_path(mode);
  FILE* f = std::fopen(path.c_str(), "w+b");
  if (!f) {
    report_open_error(path.c_str());
    return false;
  }
  if (!write_new_project_header(f, g_preferences)) {
    std::fclose(f);
    ::unlink(path.c_str());
    report_open_error(path.c_str());
    return false;
  }
  std::fflush(f);
  read_project_id_counters(f, g_last_folder_id, g_last_file_serial);
  project_stream(mode) = f;
  doc_path_[mode] = path;
  g_total_sectors = 0;
  return true;
}

int MainFrame::handle_command_argument(const std::vector<std::string>& args) {
  if (args.empty()) return 0;
  const std::string& arg1 = args[0];
  ArgumentKind k = classify_argument(arg1, path_exists);
  if (k == ArgumentKind::empty) return 0;
  if (k == ArgumentKind::too_long) {
    show_timed_message(format_text(ui_text(2901).c_str(), int(arg1.size()), int(k_max_gui_argument),
                                   arg1.substr(0, 60).c_str()).c_str());
    return 0;
  }
  if (k == ArgumentKind::command && !command_already_run) {
    bool fits = true;
    for (size_t i = 1; i < args.size(); ++i) fits = fits && args[i].size() <= k_max_command_operand;
    if (fits) {
      CommandSwitches saved;
      std::string word = command_word(arg1);
      int rc = run_command_line_operation(word.c_str(), args.size() > 1 ? args[1].c_str() : nullptr,
                                          args.size() > 2 ? args[2].c_str() : nullptr);
      saved.restore();
      if (rc == 0) return 1;
    }
  }
  int kind = get_file_kind(arg1.c_str());
  if (kind < 0) {
    show_message(format_text(ui_text(1386).c_str(), arg1.c_str()).c_str());
    return 0;
  }
  close_document(false);
  if (kind != mode_index() || !started_) set_working_mode(kind);
  if (!open_document(arg1, kind) && kind != 1) make_scratch_project(kind);
  update_commands();
  return 0;
}

void MainFrame::poll_handover() {
  if (!channel_ || handling_handover_) return;
  HandoverDecoder decoder;
  int connection = accept_handover(*channel_, decoder, 2000);
  if (connection < 0) return;
  handling_handover_ = true;
  uint8_t reply = k_handover_done;
  if (decoder.state() != HandoverDecoder::complete) {
    reply = k_handover_refused;
  } else if (!compile_idle()) {
    reply = k_handover_busy;  // the compile owns the engine
  } else if (g_modal_depth > 0) {
    reply = k_handover_waiting;  // a form waits for an answer; what it decides must not change under it
  } else if (!decoder.refused_lengths().empty()) {
    reply = k_handover_refused;
    show_timed_message(format_text(ui_text(2901).c_str(), int(decoder.refused_lengths()[0]), int(k_max_gui_argument),
                                   decoder.refused_head().c_str()).c_str());
  } else {
    handle_command_argument(decoder.arguments());
    Raise();
  }
  reply_handover(connection, reply);
  handling_handover_ = false;
}

// --- start-up and shut-down -----------------------------------------------------------------------------
void MainFrame::restore_placement() {
  WindowPlacement r = read_window_placement();
  SetSize(r.left, r.top, std::max(r.width, 480), std::max(r.height, 320));
  if (r.panel > 0) split_->SetSashPosition(r.panel);
  char buf[k_text_size];
  std::vector<int> widths = parse_column_widths(read_setting_text("Col", buf));
  for (size_t i = 0; i < widths.size(); ++i) list_->SetColumnWidth(int(i), widths[i]);
}

void MainFrame::save_settings() {
  WindowPlacement old = read_window_placement();
  WindowPlacement r;
  wxRect rect = GetRect();
  // A position at 0 (no window manager told us one) keeps the one saved before.
  r.left = rect.x != 0 && rect.y != 0 ? rect.x : old.left;
  r.top = rect.x != 0 && rect.y != 0 ? rect.y : old.top;
  r.width = rect.width;
  r.height = rect.height;
  r.panel = split_->GetSashPosition();
  save_window_placement(r);
  std::vector<int> widths;
  for (int i = 0; i < list_->GetColumnCount(); ++i) widths.push_back(list_->GetColumnWidth(i));
  write_setting_text("Col", format_column_widths(widths).c_str());
  save_language_choice(g_language_offset);
  save_options(g_options);
}

void MainFrame::start_up(const std::vector<std::string>& args) {
  g_project_file = nullptr;
  g_isoplus_file = nullptr;
  g_working_mode = k_mode_none;
  g_name_view = 1;
  g_compile_state = 1;
  g_gui_forms = this;
  init_volume_engine();
  g_choose_log_file = choose_log_file;
  load_startup_settings();
  if (g_working_mode == k_mode_none) g_working_mode = k_mode_project;
  g_copy_method = 1;
  restore_placement();
  for (int m = 0; m < 3; ++m) recent_[m] = read_recent_list(m);
  set_working_mode(g_working_mode);
  // The arguments come once the views and lists they fill exist.
  if (!args.empty() && handle_command_argument(args) == 1) {
    Close(true);
    return;
  }
  int mode = mode_index();
  if (mode != 1 && !project_stream(mode)) make_scratch_project(mode);
  started_ = true;
  command_already_run = false;
  set_captions();
  set_working_mode(mode_index());
  if (channel_ && channel_->listen_fd >= 0) handover_timer_.Start(100);
}

void MainFrame::on_close(wxCloseEvent& e) {
  if (!compile_idle() && e.CanVeto()) {
    e.Veto();
    show_timed_message(ui_text(2902).c_str());
    return;
  }
  if (!compile_idle()) {  // the system insists: stop the compile and wait for it to end
    request_compile_abort();
    while (!compile_idle()) wxTheApp->Yield(true);
  }
  handover_timer_.Stop();
  close_document(true);
  if (!g_command_mode) save_settings();
  release_volume_engine();
  if (g_log_file) {
    std::fclose(g_log_file);
    g_log_file = nullptr;
  }
  if (channel_) release_instance(*channel_);
  g_gui_forms = nullptr;
  Destroy();
}

// --- forms of the engine's user-interface hooks ---------------------------------------------------------
void MainFrame::message(const std::string& text, int timeout_ms) { show_message_form(this, text, timeout_ms); }
bool MainFrame::yes_no(const std::string& text) { return ask_yes_no_form(this, text); }
int MainFrame::yes_no_remember(const std::string& text) { return ask_yes_no_remember_form(this, text); }
bool MainFrame::announcement(const std::string& text) { return announcement_form(this, text); }

void MainFrame::status_text(const std::string& text) {
  SetStatusText(wxString::FromUTF8(text), simple_status_ ? 0 : 4);
}

void MainFrame::simple_status_text(const std::string& text) {
  if (!simple_status_) {
    simple_status_ = true;
    GetStatusBar()->SetFieldsCount(1);
  }
  SetStatusText(wxString::FromUTF8(text), 0);
}

void MainFrame::elapsed_time(const std::string& text) {
  if (!simple_status_) SetStatusText(wxString::FromUTF8(text), 2);
  wxSafeYield(nullptr, true);  // pending messages run, the user input waits: no command runs re-entrantly
}

void MainFrame::progress_bar(int action, int value) {
  if (g_working_mode != 1) return;
  if (action == 0) {
    progression_->SetRange(value > 0 ? value : 1);
    progression_->SetValue(0);
    progression_->Show();
  } else if (action == 1) {
    int next = value > 1 ? value : progression_->GetValue() + 1;
    progression_->SetValue(std::min(next, progression_->GetRange()));
  } else {
    progression_->Hide();
  }
  Layout();
}

void MainFrame::progress_file_start(const std::string& label, int bar_maximum) {
  if (progress_) progress_->file_start(label, bar_maximum);
}
void MainFrame::progress_advance(int general_position) {
  if (progress_) progress_->advance(general_position);
}
void MainFrame::progress_file_done(int general_position, uint32_t files) {
  if (progress_) progress_->file_done(general_position, files);
}
void MainFrame::progress_step_text(const std::string& text) {
  if (progress_) progress_->step_text(text);
}
int MainFrame::progress_general_range() { return progress_ ? progress_->general_range() : 1; }

void MainFrame::end_program(int code) {
  if (g_log_file) std::fflush(g_log_file);
  std::fflush(nullptr);
  ::_exit(code & 0xFF);
}
