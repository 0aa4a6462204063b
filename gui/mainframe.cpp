// The main window: its controls, menus and tool bars, working modes, the
// commands it runs itself, start-up and shut-down, and the forms of the
// engine's user-interface hooks.
#include "gui/mainframe.h"

#include <sys/stat.h>
#include <unistd.h>

#include <wx/accel.h>
#include <wx/app.h>
#include <wx/artprov.h>
#include <wx/dcclient.h>
#include <wx/gauge.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/splitter.h>
#include <wx/statusbr.h>
#include <wx/toolbar.h>
#include <wx/utils.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <filesystem>

#include "IO/busycursor.h"
#include "IO/fileio.h"
#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/additems.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "gui/commandline.h"
#include "gui/commands.h"
#include "gui/compile/compileworker.h"
#include "gui/compile/logfiledialog.h"
#include "gui/compile/progressdialog.h"
#include "gui/compile/progresslogic.h"
#include "gui/forms/form_kit.h"
#include "gui/forms/formframe.h"
#include "gui/forms/messageforms.h"
#include "gui/forms/tr.h"
#include "gui/guithread.h"
#include "gui/mainframe_parts.h"
#include "gui/recent.h"
#include "gui/signatures/sigtable_offer_form.h"
#include "gui/statuspanels.h"
#include "gui/views/mode_views.h"
#include "gui/views/type_icon_theme.h"
#include "gui/window_backends.h"
#include "hfs/engine.h"
#include "hfs/volume.h"
#include "macfiles/extract.h"
#include "macfiles/signatures.h"

MainFrame* g_main_frame = nullptr;

namespace {

const int* const k_status_widths = k_status_design_widths;

// The main window's status bar: each panel as wide as its text needs, so a
// count of any size, in either language, is shown whole.
class PanelStatusBar : public wxStatusBar {
 public:
  explicit PanelStatusBar(wxWindow* parent) : wxStatusBar(parent, wxID_ANY, wxSTB_DEFAULT_STYLE, "Barre") {
    SetFieldsCount(k_status_panels, k_status_widths);
  }
  void SetFieldsCount(int number, const int* widths) override {
    wxStatusBar::SetFieldsCount(number, widths);
    fit();
  }

 protected:
  void DoUpdateStatusText(int number) override {
    fit();
    wxStatusBar::DoUpdateStatusText(number);
  }

 private:
  void fit() {
    if (GetFieldsCount() != k_status_panels) return;  // the one panel of a copy's progress
    int text[k_status_panels];
    for (int i = 0; i < k_status_panels; ++i) text[i] = GetStatusText(i).empty() ? 0 : GetTextExtent(GetStatusText(i)).x;
    // The time of long work takes room only while there is one: the text panel has it otherwise.
    int design[k_status_panels];
    std::copy(k_status_design_widths, k_status_design_widths + k_status_panels, design);
    if (text[1] == 0) design[1] = 4 * GetBorderX();  // its borders only
    std::vector<int> widths = fit_status_widths(design, text, 2 * GetBorderX() + 12);
    bool same = true;
    for (int i = 0; i < k_status_panels; ++i) same = same && GetStatusWidth(i) == widths[size_t(i)];
    if (!same) SetStatusWidths(k_status_panels, widths.data());
  }
};

wxString hint_text(int id) {
  if (id == 0) return wxString();
  std::string shown;
  hint_to_status_bar(ui_text(id), shown);
  return wxString::FromUTF8(shown);
}

// A menu item's text: its caption, and its key after a tab (the toolkit shows
// the key and takes it).
wxString item_label(int caption, const char* command) {
  wxString label = tr(caption);
  if (*command_shortcut(command)) label << "\t" << command_shortcut(command);
  return label;
}

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


// The journal's chooser, for a journal asked for at start-up with no path saved.
void choose_log_file(std::string& path) { path = choose_log_file_path(g_main_frame, path); }

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

bool is_one_of(const std::string& name, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (name == n) return true;
  return false;
}

}  // namespace

MainFrame::MainFrame(InstanceChannel* channel)
    : wxFrame(nullptr, wxID_ANY, "Corvane", wxDefaultPosition, wxSize(760, 520)), channel_(channel),
      handover_timer_(this) {
  SetName("Corvex");
  g_main_frame = this;
  g_main_views = this;
  auto* top = new wxBoxSizer(wxVERTICAL);
  for (int m = 0; m < 3; ++m) {
    tools_[m] = new wxToolBar(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTB_HORIZONTAL | wxTB_FLAT);
    tools_[m]->SetName(k_tool_bar_names[m]);
    top->Add(tools_[m], 0, wxEXPAND);
  }
  build_tool_bars();
  build_views();
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
  SetStatusBar(new PanelStatusBar(this));
  SetStatusBarPane(4);  // menu hints go to the status text panel
  SetMinSize(wxSize(480, 320));
  Bind(wxEVT_MENU, &MainFrame::on_menu, this);
  register_command_families();
  // F5: the views read again; Ctrl+M: the next working mode. The keys of the
  // menu commands are their items' own (command_shortcut): a text being edited
  // in the list or the tree keeps them.
  wxAcceleratorEntry keys[2];
  keys[0].Set(wxACCEL_NORMAL, WXK_F5, k_id_refresh);
  keys[1].Set(wxACCEL_CTRL, 'M', k_id_change_mode);
  SetAcceleratorTable(wxAcceleratorTable(2, keys));
  Bind(wxEVT_CLOSE_WINDOW, &MainFrame::on_close, this);
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { poll_handover(); });
  build_menus();
  show_menu_title_hints(*this, [this](size_t position) {
    int hint = 0;
    for_each_shown(GetMenuBar(), ui_state(), [&](const CommandDef& c, int at, wxMenuItem*) {
      if (at == int(position)) hint = c.hint;
    });
    return hint;
  });
}

MainFrame::~MainFrame() {
  remove_window_backends(this);
  if (list_) remove_type_icons(list_->GetImageList(wxIMAGE_LIST_SMALL));
  if (g_main_frame == this) g_main_frame = nullptr;
  if (g_main_views == this) g_main_views = nullptr;
  if (g_gui_forms == this) g_gui_forms = nullptr;
}

int MainFrame::mode_index() const { return g_working_mode >= 0 && g_working_mode <= 2 ? g_working_mode : 0; }

UiState MainFrame::ui_state() const {
  UiState s;
  s.mode = mode_index();
  s.has_document = s.mode == 1 ? image_.fd >= 0 && g_volume.mounted : project_stream(s.mode) != nullptr;
  s.is_scratch = s.mode != 1 && is_scratch_project(doc_path_[s.mode], s.mode);
  s.compile_running = !compile_idle();
  for (int m = 0; m < 3; ++m) s.recent[m] = !recent_[m].empty();
  s.name_view = g_name_view;
  s.copy_method = g_copy_method;
  s.read_only = s.mode == 1 ? image_.read_only || g_volume.read_only : project_read_only_[s.mode];
  // A GPT disk or an MBR volume has no partition map an ISO image could take over.
  s.can_hybridise = image_.kind != 6 && image_.kind != 7;
  s.list_selected = list_ ? list_->GetSelectedItemCount() : 0;
  wxTreeItemId node = tree_ ? tree_->GetSelection() : wxTreeItemId();
  s.tree_selected = node.IsOk();
  s.tree_root_selected = node.IsOk() && node == tree_->GetRootItem();
  s.popup_source = g_popup_source;
  s.at_root = current_folder() <= mode_root_folder(s.mode);
  return s;  // the clipboard is asked only where a menu opens
}

// --- menus, tool bars, captions ---------------------------------------------------------------
wxMenu* MainFrame::build_menu(const char* parent) {
  auto* menu = new wxMenu;
  UiState s = ui_state();
  for (const CommandDef& c : menu_commands()) {
    if (!c.parent || std::strcmp(c.parent, parent) != 0 || !command_visible(c, s)) continue;
    int id = command_id(c.name);
    wxString label = item_label(command_caption(c, s), c.name);
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
    int id = k_id_recent + mode * 10 + int(i);
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
    wxBitmap image = wxArtProvider::GetBitmap(tool_art(t.name), wxART_TOOLBAR, wxSize(24, 24));
    // A disabled button is drawn grey, whatever colours its image has.
    wxBitmap grey = image.IsOk() ? image.ConvertToDisabled() : image;
    // The hint is the button's name too: what the accessibility bus announces.
    bar->AddTool(tool_id(t), tr(t.hint), image, grey, wxITEM_NORMAL, tr(t.hint));
  }
  for (wxToolBar* bar : tools_) bar->Realize();
  // One bar shows until the start-up sets the mode (what it asks first, the
  // signature table offered, opens over the window as it stands then).
  for (int m = 1; m < 3; ++m) tools_[m]->Hide();
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
      it->SetItemLabel(item_label(command_caption(c, s), c.name));
      it->SetHelp(hint_text(c.hint));
    }
  });
  for (const ToolDef& t : tool_buttons()) {
    wxToolBarToolBase* tool = tools_[t.mode]->FindById(tool_id(t));
    if (tool) tool->SetLabel(tr(t.hint));
    tools_[t.mode]->SetToolShortHelp(tool_id(t), tr(t.hint));
  }
  for (int i = 0; i < k_list_columns; ++i) {
    wxListItem col;
    col.SetMask(wxLIST_MASK_TEXT);
    col.SetText(tr(g_list_columns[size_t(i)].caption_text));
    list_->SetColumn(i, col);
    // A column the user has not resized takes the width its caption needs in this language.
    if (list_->GetColumnWidth(i) == shown_widths_[i]) {
      shown_widths_[i] = shown_column_width(i);
      list_->SetColumnWidth(i, shown_widths_[i]);
    }
  }
  list_->Refresh();  // the Type column's "Folder" is a text of the table too
  set_status_panels();
  fit_to_contents();  // captions of the other language may be wider
}

void MainFrame::update_commands() {
  commands_pending_ = false;
  settle_project_locks();  // a command's writes are whole: other programs may read the project again
  wxMenuBar* bar = GetMenuBar();
  UiState s = ui_state();
  // The paste stays enabled for its key: a menu shows the clipboard's state
  // while it is open, and the command asks the clipboard again.
  s.clipboard_files = s.has_document && (menus_open_ == 0 || clipboard_has_files());
  for_each_shown(bar, s, [&](const CommandDef& c, int position, wxMenuItem* it) {
    if (position >= 0) {
      bar->EnableTop(size_t(position), command_enabled(c, s));
      return;
    }
    if (!it) return;
    it->Enable(command_enabled(c, s));
    if (c.kind == ItemKind::radio && command_checked(c, s)) it->Check(true);
    if (std::strcmp(c.name, "CachBarre") == 0) it->Check((g_options & k_option_hide_toolbar) != 0);
    wxString caption = item_label(command_caption(c, s), c.name);
    if (it->GetItemLabel() != caption) it->SetItemLabel(caption);
  });
  for (const ToolDef& t : tool_buttons()) tools_[t.mode]->EnableTool(tool_id(t), tool_enabled(t, s));
  tree_->Enable(!s.compile_running);
  list_->Enable(!s.compile_running);
  SetTitle(wxString::FromUTF8(main_caption(doc_path_[s.mode])));
  apply_drop_targets();
  gauge_->Refresh();
}

// Selections come by the row; the commands are brought up to date once they have settled.
void MainFrame::schedule_update_commands() {
  if (commands_pending_) return;
  commands_pending_ = true;
  CallAfter([this] {
    if (commands_pending_) update_commands();
  });
}

void MainFrame::set_working_mode(int mode) {
  if (mode < 0 || mode > 2) return;
  g_working_mode = mode;
  build_menus();
  bool hide = (g_options & k_option_hide_toolbar) != 0;
  for (int m = 0; m < 3; ++m) tools_[m]->Show(m == mode && !hide);
  tree_->SetBackgroundColour(k_mode_colours[mode]);
  list_->SetBackgroundColour(k_mode_colours[mode]);
  // Partition Mode drags out of the list by hand; the project modes as they come.
  gauge_->Show(mode != 1);
  if (mode != 1) progression_->Hide();
  Layout();
  set_status_panels();
  update_commands();
}

// Leaves the current mode (its document closed, a scratch project with items
// offered a name first) and enters mode.
void MainFrame::change_mode(int mode) {
  if (mode == mode_index() && started_) return;
  close_document(false);
  set_working_mode(mode);
  if (mode != 1) make_scratch_project(mode);
  fill_tree(mode_root_folder(mode));
  update_commands();
}

// Project Mode's name views: the tree and the list show the names of the
// view, the folder shown moving up to the nearest one the view holds.
void MainFrame::set_name_view(int view) {
  if (view < 0 || view > 2) return;
  g_name_view = view;
  set_status_panels();
  if (mode_index() == 0 && g_project_file) {
    wxBusyCursor busy;
    fill_tree(visible_ancestor(g_selected_folder));
  }
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
  // The command runs once the event that brought it has returned. A menu item
  // or a tool activated over the accessibility bus comes inside the bus's
  // call: long work that lets the pending events run would wait on it forever.
  const int id = e.GetId();
  CallAfter([this, id] { run_menu_item(id); });
}

void MainFrame::run_menu_item(int id) {
  // Asked for before long work began, or under a form that waits for its
  // answer: dropped, as the input that comes while they last is held back.
  if ((busy_cursor_running() && compile_idle()) || g_modal_depth > 0) return;
  if (id >= k_id_recent && id < k_id_recent + 30) {
    int mode = (id - k_id_recent) / 10, index = (id - k_id_recent) % 10;
    if (mode == mode_index() && compile_idle()) recent_command(mode, size_t(index));
    return;
  }
  if (!compile_idle() && id >= k_id_open_folder) return;  // the compile owns the engine
  switch (id) {
    case k_id_open_folder: open_selected_folder(); return;
    case k_id_rename_volume: rename_volume_command(); return;
    case k_id_refresh: refresh_document_views(); return;
    case k_id_change_mode: change_mode((mode_index() + 1) % 3); return;
    default: break;
  }
  std::string name = command_name(id);
  if (!name.empty()) run_command(name);
}

void MainFrame::run_command(const std::string& name) {
  UiState s = ui_state();
  // A paste from the keyboard finds the clipboard as the menu would.
  if (name == "DrExpl") s.clipboard_files = s.has_document && clipboard_has_files();
  // While the compile owns the engine only the abort and the help stay; the
  // menus say so too, but a shortcut or a late event must find the same rule.
  // A read-only image refuses every edit the same way.
  int index = command_index(name);
  bool allowed = true;
  if (index >= 0) allowed = command_enabled(menu_commands()[size_t(index)], s);
  for (const ToolDef& t : tool_buttons())
    if (name == t.name) allowed = tool_enabled(t, s);
  if (!allowed) return;
  // A command leaves the one-panel status of the copy before it; every command
  // but the copy to the PC, which shows its last progress text there, leaves it after.
  leave_simple_status();
  struct LeaveSimpleStatus {
    MainFrame* frame;
    bool keep;
    ~LeaveSimpleStatus() {
      if (!keep && g_main_frame == frame) frame->leave_simple_status();
    }
  } leave{this, name == "MPC1" || name == "Mac2PC"};
  if (run_registered_command(name)) return;

  int mode = mode_index();
  if (is_one_of(name, {"Quitter1", "Q21", "Qu1"})) {
    Close();
  } else if (is_one_of(name, {"MProj", "MPart", "MIsop"})) {
    change_mode(name == "MProj" ? 0 : name == "MPart" ? 1 : 2);
  } else if (is_one_of(name, {"VI1", "VH1", "VM1", "ModeVue"})) {
    set_name_view(name == "VI1" ? 0 : name == "VH1" ? 1 : name == "VM1" ? 2 : (g_name_view + 1) % 3);
  } else if (int method = copy_method_of(name)) {
    // Every method but the data fork's is confirmed; No leaves the mark where it was.
    int question = copy_method_question(name, g_copy_method);
    if (method != (g_copy_method & 0x2F) && (!question || ask_yes_no(ui_text(question).c_str())))
      g_copy_method = (g_copy_method & ~0x2F) | method;  // the font conversion's bit stays
    update_commands();
  } else if (name == "En2" || name == "Fr1") {
    switch_language(name == "En2" ? 0 : 10000);
  } else if (name == "Log1") {
    run_log_file_dialog(this);
  } else if (is_one_of(name, {"Nouveau1", "No1"})) {
    new_project_command(mode);
  } else if (is_one_of(name, {"Ouvrir1", "Ouvrir2", "Ou1"})) {
    open_command(mode);
  } else if (is_one_of(name, {"Enregistrer1", "En1"})) {
    save_project_command(mode);
  } else if (is_one_of(name, {"EnregistrerAs1", "Sa1"})) {
    save_project_as_command(mode);
  } else if (is_one_of(name, {"Fermer1", "Fe1"})) {
    close_project_command(mode);
  } else if (name == "Nouvelle1") {
    new_image_command();
  } else if (name == "Enr2") {
    save_image_command();
  } else if (name == "EnrAs2") {
    save_image_as_command();
  } else if (name == "Fermer2") {
    close_image_command();
  } else if (name == "Hybrid1") {
    hybridise_command();
  } else if (is_one_of(name, {"P1", "P2", "P3"})) {
    print_command();
  } else if (is_one_of(name, {"PereProj", "PerePart", "PereIso"})) {
    go_to_parent();
  } else if (name == "SAll" || name == "Inv") {
    select_all_rows(name == "Inv");
  } else if (name == "CachBarre") {
    g_options ^= k_option_hide_toolbar;
    set_working_mode(mode);
  } else if (int topic = help_command_topic(name)) {
    show_help_topic(topic);
  }
  // The other commands belong to the families that register them.
}

// Every text shown changes at once: the captions, the counts of the status
// bar and the list's Type column (whose signature comments the table holds
// in each language; it is read again in the new one).
void MainFrame::switch_language(int offset) {
  g_language_offset = offset;
  if (!g_command_mode) save_language_choice(offset);
  (void)load_signature_table();  // unreadable: the table loaded before stays in use
  set_captions();
  // The counts and what the text panel says of the document, in the new words.
  if (shown_folder_) show_counts(shown_folders_, shown_files_);
  else if (!simple_status_) SetStatusText(wxString(), 4);
  update_commands();
}

int MainFrame::handle_command_argument(const std::vector<std::string>& args) {
  if (args.empty()) return 0;
  leave_simple_status();  // a document opened, or a command handed over, starts afresh
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
  int kind = document_kind(arg1);
  if (kind < 0) {
    show_message(format_text(ui_text(1386).c_str(), arg1.c_str()).c_str());
    return 0;
  }
  close_document(false);
  if (kind != mode_index() || !started_) set_working_mode(kind);
  if (!open_document(arg1, kind) && kind != 1) make_scratch_project(kind);
  if (kind != 1 && !mode_document_open(kind)) fill_tree(mode_root_folder(kind));
  update_commands();
  return 0;
}

void MainFrame::poll_handover() {
  // Work under the busy cursor lets the timers run: a hand-over waits until it
  // is done (a form open, or one being handled, is answered at once instead).
  if (!channel_ || busy_cursor_running()) return;
  HandoverDecoder decoder;
  for (int connection; (connection = handovers_.next(*channel_, decoder, 2000)) >= 0;) {
    uint8_t reply = k_handover_done;
    if (decoder.state() != HandoverDecoder::complete) {
      reply = k_handover_refused;
    } else if (!compile_idle()) {
      reply = k_handover_busy;  // the compile owns the engine
    } else if (g_modal_depth > 0 || handling_handover_) {
      reply = k_handover_waiting;  // a form waits for an answer; what it decides must not change under it
    } else if (!decoder.refused_lengths().empty()) {
      reply = k_handover_refused;
    }
    // The sender has its answer before any form of this window opens.
    reply_handover(connection, reply);
    if (reply == k_handover_refused && decoder.state() == HandoverDecoder::complete) {
      show_timed_message(format_text(ui_text(2901).c_str(), int(decoder.refused_lengths()[0]), int(k_max_gui_argument),
                                     decoder.refused_head().c_str()).c_str());
    } else if (reply == k_handover_done) {
      // Handled from the event queue, not inside this timer's call: a form it
      // opens then leaves the timer running, and later starts are answered.
      handling_handover_ = true;
      CallAfter([this, args = decoder.arguments()] {
        handle_command_argument(args);
        Raise();
        handling_handover_ = false;
      });
    }
  }
}

// --- start-up and shut-down -----------------------------------------------------------------------------
void MainFrame::restore_placement() {
  WindowPlacement r = read_window_placement();
  fit_window_ = fit_tree_ = !window_placement_saved();
  fit_columns_ = !list_column_widths_saved();
  SetSize(r.left, r.top, std::max(r.width, 480), std::max(r.height, 320));
  fitted_width_ = GetSize().x;
  set_tree_width(r.panel);  // 0 hides the folder tree
  load_list_column_widths();
  apply_column_widths();
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
  r.panel = tree_width();
  save_window_placement(r);
  // A column still at the width it was shown at keeps its setting (a date
  // column widened for the font stays at its built-in width in "Col").
  for (int i = 0; i < list_->GetColumnCount() && i < k_list_columns; ++i)
    if (list_->GetColumnWidth(i) != shown_column_width(i))
      g_list_columns[size_t(i)].width = std::max(list_->GetColumnWidth(i), 0);
  save_list_column_widths();
  save_language_choice(g_language_offset);
  save_default_extension(g_default_extension.c_str());
  save_options(g_options);
  if (g_preferences & k_pref_open_journal) save_log_path(g_log_path.c_str());
  // The working mode comes back at the next start when the preference asks for it.
  g_preferences &= ~uint32_t(k_pref_mode_mask);
  if (g_preferences & k_pref_remember_mode) g_preferences |= mode_index() == 1 ? 0x40u : mode_index() == 2 ? 0x80u : 0u;
  save_preference_flags(g_preferences);
  write_reference_size_project(g_reference_size_project);
  write_reference_size_isoplus(g_reference_size_isoplus);
}

void MainFrame::start_up(const std::vector<std::string>& args) {
  // Dates are shown in the user's own format (LC_TIME), before the list sizes
  // its date columns for them; everything else keeps the C locale.
  std::setlocale(LC_TIME, "");
  g_project_file = nullptr;
  g_isoplus_file = nullptr;
  g_working_mode = k_mode_none;
  g_name_view = 1;
  g_compile_state = 1;
  g_gui_forms = this;
  install_window_backends(this);
  // Without its work area the engine cannot open a volume: the program ends,
  // as it does on a fatal error, once the message (2110) was shown.
  if (init_volume_engine() != 0) end_program(-1);
  g_choose_log_file = choose_log_file;
  g_offer_signature_table = offer_signature_table;
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
  if (mode != 1 && !project_stream(mode)) {
    make_scratch_project(mode);
    fill_tree(mode_root_folder(mode));
  }
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
  remove_window_backends(this);
  g_gui_forms = nullptr;
  if (g_main_views == this) g_main_views = nullptr;
  list_->SetDropTarget(nullptr);
  tree_->SetDropTarget(nullptr);
  Destroy();
}

// --- forms of the engine's user-interface hooks ---------------------------------------------------------
void MainFrame::message(const std::string& text, int timeout_ms) { show_message_form(this, text, timeout_ms); }
bool MainFrame::yes_no(const std::string& text) { return ask_yes_no_form(this, text); }
int MainFrame::yes_no_remember(const std::string& text) { return ask_yes_no_remember_form(this, text); }
bool MainFrame::announcement(const std::string& text) { return announcement_form(this, text); }

void MainFrame::status_text(const std::string& text) {
  if (simple_status_) simple_note_ = text;
  SetStatusText(wxString::FromUTF8(text), simple_status_ ? 0 : 4);
  // Said while long work holds the window: drawn now, not once the work is over.
  GetStatusBar()->Update();
}

void MainFrame::simple_status_text(const std::string& text) {
  if (!simple_status_) {
    simple_note_.clear();
    simple_status_ = true;
    GetStatusBar()->SetFieldsCount(1);
    SetStatusBarPane(0);  // the one panel left takes the menu hints too
  }
  SetStatusText(wxString::FromUTF8(text), 0);
}

void MainFrame::leave_simple_status() {
  if (!simple_status_) return;
  simple_status_ = false;
  GetStatusBar()->SetFieldsCount(k_status_panels, k_status_widths);
  SetStatusBarPane(4);
  set_status_panels();
  show_counts(shown_folders_, shown_files_);
  // What the work said last (a copy's counts) stays, unless the document has more to say.
  if (!simple_note_.empty() && !document_state_text()) SetStatusText(wxString::FromUTF8(simple_note_), 4);
  simple_note_.clear();
}

void MainFrame::elapsed_time(const std::string& text) {
  if (!simple_status_) SetStatusText(wxString::FromUTF8(text), 1);
  // Pending messages run, the user input waits: no command runs re-entrantly
  // (under the busy cursor an Esc is kept for the work's next poll).
  if (busy_cursor_running()) yield_while_busy();
  else wxSafeYield(nullptr, true);
}

void MainFrame::status_panel(int panel, const std::string& text) {
  wxStatusBar* bar = GetStatusBar();
  if (simple_status_ || !bar || panel < 0 || panel >= bar->GetFieldsCount()) return;
  SetStatusText(wxString::FromUTF8(text), panel);
  bar->Update();
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

void MainFrame::end_program(int code) {
  if (g_log_file) std::fflush(g_log_file);
  std::fflush(nullptr);
  ::_exit(code & 0xFF);
}
