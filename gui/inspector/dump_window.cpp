#include "gui/inspector/dump_window.h"

#include <wx/clipbrd.h>
#include <wx/dcclient.h>
#include <wx/evtloop.h>
#include <wx/menu.h>
#include <wx/settings.h>
#include <wx/simplebook.h>
#include <wx/splitter.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>
#include <wx/treectrl.h>
#include <wx/utils.h>

#include "IO/hexdump.h"
#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "gui/forms/form_kit.h"
#include "gui/forms/messageforms.h"
#include "gui/forms/printing.h"
#include "gui/forms/tr.h"
#include "gui/inspector/btree_view.h"
#include "gui/inspector/decoders.h"
#include "gui/inspector/display_command.h"
#include "gui/inspector/dump_dialogs.h"
#include "gui/inspector/viewer_form.h"
#include "gui/inspector/viewer_layout.h"
#include "gui/volume/volume_forms.h"
#include "gui/volume/volume_properties.h"
#include "hfs/volume.h"
#include "platform/richtext.h"

std::function<void(DumpWindow&)> g_dump_window_driver;

namespace {

wxString u8(const std::string& s) { return wxString::FromUTF8(s); }

const wxColour k_cream(255, 251, 240);

// A hint of the table without its leading dot (the status bar shows it).
wxString hint(int id) {
  std::string h = ui_text(id);
  if (!h.empty() && h[0] == '.') h.erase(0, 1);
  return u8(h);
}

wxColour colour_of(uint32_t c) { return wxColour(colour_red(c), colour_green(c), colour_blue(c)); }

// The dump view as the highlighter sees it.
class TextView : public RichTextControl {
 public:
  explicit TextView(wxTextCtrl* t) : t_(t) {}
  void set_redraw(bool on) override {
    if (on && t_->IsFrozen()) t_->Thaw();
    if (!on) t_->Freeze();
  }
  int line_index(int line) const override {
    if (line < 0 || line >= t_->GetNumberOfLines()) return -1;
    long p = t_->XYToPosition(0, line);
    return p < 0 ? -1 : int(p);
  }
  void set_selection(int start, int end) override { t_->SetSelection(start, end); }
  void colour_selection(uint32_t text, uint32_t background) override {
    long from = 0, to = 0;
    t_->GetSelection(&from, &to);
    t_->SetStyle(from, to, wxTextAttr(colour_of(text), colour_of(background)));
  }

 private:
  wxTextCtrl* t_;
};

wxString joined(const std::vector<std::string>& lines) {
  std::string all;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) all += '\n';
    all += lines[i];
  }
  return u8(all);
}

}  // namespace

DumpWindow::DumpWindow(wxWindow* owner, DumpFile file, SectorReader medium)
    : wxFrame(owner, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
              wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX | wxFRAME_FLOAT_ON_PARENT),
      session_(std::move(file), std::move(medium)) {
  SetName("TMacDump");
  build_menu();
  auto* bar = CreateStatusBar(5);
  bar->SetName("DumpBar");
  const int widths[] = {75, 75, 75, 50, -1};
  const int styles[] = {wxSB_NORMAL, wxSB_NORMAL, wxSB_NORMAL, wxSB_NORMAL, wxSB_NORMAL};
  SetStatusWidths(5, widths);
  bar->SetStatusStyles(5, styles);
  SetStatusBarPane(4);  // the menu items' hints

  pages_ = new wxSimplebook(this, wxID_ANY);
  pages_->SetName("Pages");
  liste_ = new wxTextCtrl(pages_, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                          wxTE_MULTILINE | wxTE_READONLY | wxTE_RICH2 | wxTE_DONTWRAP | wxTE_NOHIDESEL);
  liste_->SetName("Liste");
  liste_->SetBackgroundColour(k_cream);
  pages_->AddPage(liste_, "Tab1");
  splitter_ = new wxSplitterWindow(pages_, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxSP_LIVE_UPDATE | wxSP_3D);
  splitter_->SetName("Splitter1");
  ress_tv_ = new wxTreeCtrl(splitter_, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                            wxTR_HAS_BUTTONS | wxTR_LINES_AT_ROOT | wxTR_SINGLE);
  ress_tv_->SetName("RessTV");
  ress_tv_->SetBackgroundColour(k_cream);
  list_arb_ = new wxTextCtrl(splitter_, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                             wxTE_MULTILINE | wxTE_READONLY | wxTE_RICH2 | wxTE_DONTWRAP);
  list_arb_->SetName("ListArb");
  list_arb_->SetBackgroundColour(k_cream);
  splitter_->SplitHorizontally(ress_tv_, list_arb_, 200);
  splitter_->SetMinimumPaneSize(60);
  pages_->AddPage(splitter_, "Tab2");

  ress_tv_->Bind(wxEVT_TREE_SEL_CHANGED, [this](wxTreeEvent&) { show_resource(selected_resource()); });
  ress_tv_->Bind(wxEVT_TREE_ITEM_ACTIVATED, [this](wxTreeEvent&) { show_resource(selected_resource()); });
  // The context menu of the tree and of the resource's dump.
  auto popup = [this](wxContextMenuEvent&) {
    wxMenu menu;
    menu.Append(items_.at("SBin"), tr(6502), hint(3140))->Enable(selected_resource() >= 0);
    menu.Append(items_.at("SHex"), tr(6503), hint(3141))->Enable(selected_resource() >= 0);
    PopupMenu(&menu);
  };
  ress_tv_->Bind(wxEVT_CONTEXT_MENU, popup);
  list_arb_->Bind(wxEVT_CONTEXT_MENU, popup);
  // The wheel moves through the sector, then to the next one.
  liste_->Bind(wxEVT_MOUSEWHEEL, [this](wxMouseEvent& e) {
    if (tree_shown_) return e.Skip();
    move_to(e.GetWheelRotation() < 0 ? session_.next_target() : session_.prior_target());
  });
  list_arb_->Bind(wxEVT_MOUSEWHEEL, [this](wxMouseEvent& e) {
    list_arb_->ScrollPages(e.GetWheelRotation() < 0 ? 1 : -1);
  });
  Bind(wxEVT_CHAR_HOOK, &DumpWindow::on_key, this);
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { end_modal(2); });

  g_dump_radix = 10;
  g_dump_charset = 0;
  int size = read_font_size();
  if (size == 0) {
    size = 10;
    save_font_size(size);
  }
  apply_font(size);
}

DumpWindow::~DumpWindow() = default;

void DumpWindow::add_item(wxMenu* menu, const std::string& name, int caption, int hint_id, const char* accel,
                          std::function<void()> action, int kind) {
  wxString label = tr(caption);
  if (accel && *accel) label += "\t" + wxString(accel);
  wxItemKind k = kind == 1 ? wxITEM_CHECK : kind == 2 ? wxITEM_RADIO : wxITEM_NORMAL;
  wxMenuItem* item = menu->Append(wxID_ANY, label, hint(hint_id), k);
  items_[name] = item->GetId();
  Bind(wxEVT_MENU, [action](wxCommandEvent&) { action(); }, item->GetId());
}

void DumpWindow::build_menu() {
  auto* bar = new wxMenuBar;
  auto* file = new wxMenu;
  add_item(file, "Data", 3001, 3101, "", [this] { select_fork(k_fork_data_view); }, 1);
  add_item(file, "Ress", 3002, 3102, "", [this] { select_fork(k_fork_resource_view); }, 1);
  add_item(file, "Arb", 3006, 3106, "", [this] { show_tree(); }, 1);
  file->AppendSeparator();
  add_item(file, "Att1", 3003, 3103, "", [this] { file_properties(); });
  add_item(file, "Imp1", 3005, 3105, "Ctrl+Alt+P", [this] { print(); });
  file->AppendSeparator();
  add_item(file, "Dret1", 3004, 3104, "Alt+Q", [this] { end_modal(1); });
  bar->Append(file, tr(3000));

  auto* nav = new wxMenu;
  add_item(nav, "Go1", 3011, 3111, "Ctrl+G", [this] {
    std::string text;
    if (!run_sector_dialog(this, session_.goto_proposal(), text)) return;
    int64_t target = parse_relative_sector(text, session_.current(), session_.last_sector(), g_dump_radix);
    if (target < 0) wxBell();  // not a number, or outside the fork
    else if (uint64_t(target) != session_.current()) show_dump_sector(uint64_t(target));
  });
  add_item(nav, "Hom", 3015, 3115, "Home", [this] { move_to(session_.home_target()); });
  add_item(nav, "Fin", 3014, 3114, "End", [this] { move_to(session_.end_target()); });
  add_item(nav, "Prec", 3016, 3116, "Alt+Back", [this] { move_to(session_.previous_target()); });
  nav->AppendSeparator();
  add_item(nav, "Ch1", 3012, 3112, "Ctrl+F", [this] { search(false); });
  add_item(nav, "Reb1", 3013, 3113, "F3", [this] { search(true); });
  bar->Append(nav, tr(3010));

  auto* act = new wxMenu;
  add_item(act, "co1", 3023, 3123, "Ctrl+C", [this] { copy(); });
  add_item(act, "Act1", 3021, 3121, "Ctrl+D", [this] { analyze(); });
  add_item(act, "Act2", 3022, 3122, "", [this] { run_data_segment_dialog(this, session_); });
  bar->Append(act, tr(3020));

  auto* opt = new wxMenu;
  auto* chars = new wxMenu;
  add_item(chars, "Mac1", 3031, 3131, "", [this] { g_dump_charset = 0; redraw(); }, 2);
  add_item(chars, "Win1", 3032, 3132, "", [this] { g_dump_charset = 1; redraw(); }, 2);
  add_item(chars, "Dos1", 3033, 3133, "", [this] { g_dump_charset = 2; redraw(); }, 2);
  opt->AppendSubMenu(chars, tr(3030), hint(3130));
  auto* radix = new wxMenu;
  add_item(radix, "Dec1", 3036, 3136, "", [this] { g_dump_radix = 10; redraw(); }, 2);
  add_item(radix, "Hex1", 3037, 3137, "", [this] { g_dump_radix = 16; redraw(); }, 2);
  opt->AppendSubMenu(radix, tr(3035), hint(3135));
  add_item(opt, "Co", 3026, 3126, "", [this] {
    int size = run_font_size_dialog(this, font_size_);
    if (size > 0 && size != font_size_) {
      save_font_size(size);
      apply_font(size);
    }
  });
  bar->Append(opt, tr(3025));
  SetMenuBar(bar);
  show_menu_title_hints(*this, [](size_t position) {
    const int k_title_hints[] = {3100, 3110, 3120, 3125};
    return position < std::size(k_title_hints) ? k_title_hints[position] : 0;
  });

  // The resource tree's context menu.
  items_["SBin"] = NewControlId();
  items_["SHex"] = NewControlId();
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { save_resource(false); }, items_["SBin"]);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { save_resource(true); }, items_["SHex"]);
}

void DumpWindow::update_items() {
  wxMenuBar* bar = GetMenuBar();
  auto set = [&](const char* name, bool enabled) { bar->Enable(items_.at(name), enabled); };
  const ForkMap& data = session_.file().data;
  const ForkMap& res = session_.file().resource;
  set("Data", data.length != 0);
  set("Ress", res.length != 0);
  set("Arb", res.length != 0);
  bar->Check(items_.at("Data"), !tree_shown_ && session_.fork() == k_fork_data_view);
  bar->Check(items_.at("Ress"), !tree_shown_ && session_.fork() == k_fork_resource_view);
  bar->Check(items_.at("Arb"), tree_shown_);
  bar->SetLabel(items_.at("Data"), u8(session_.fork_caption(k_fork_data_view)));
  bar->SetLabel(items_.at("Ress"), u8(session_.fork_caption(k_fork_resource_view)));
  // The tree view moves in no sectors.
  for (const char* name : {"Go1", "Ch1", "Hom", "Fin", "Prec", "Act1", "Act2", "co1", "Imp1"}) set(name, !tree_shown_);
  set("Reb1", !tree_shown_ && g_dump_search.again);
  bar->Check(items_.at(g_dump_charset == 2 ? "Dos1" : g_dump_charset == 1 ? "Win1" : "Mac1"), true);
  bar->Check(items_.at(g_dump_radix == 16 ? "Hex1" : "Dec1"), true);
}

bool DumpWindow::run_item(const std::string& name) {
  auto it = items_.find(name);
  if (it == items_.end()) return false;
  wxMenuItem* item = GetMenuBar()->FindItem(it->second);
  if (item && !item->IsEnabled()) return false;
  if (item && item->IsCheckable() && item->GetKind() == wxITEM_RADIO) item->Check(true);
  wxCommandEvent e(wxEVT_MENU, it->second);
  e.SetEventObject(this);
  ProcessWindowEvent(e);
  return true;
}

bool DumpWindow::item_enabled(const std::string& name) const {
  auto it = items_.find(name);
  return it != items_.end() && GetMenuBar()->IsEnabled(it->second);
}

bool DumpWindow::item_checked(const std::string& name) const {
  auto it = items_.find(name);
  return it != items_.end() && GetMenuBar()->IsChecked(it->second);
}

std::string DumpWindow::item_label(const std::string& name) const {
  auto it = items_.find(name);
  return it == items_.end() ? "" : GetMenuBar()->GetLabel(it->second).utf8_string();
}

std::string DumpWindow::status_text(int panel) const { return GetStatusBar()->GetStatusText(panel).utf8_string(); }

int DumpWindow::run_modal() {
  int fork = session_.initial_fork();
  if (fork == k_fork_none) return k_dump_cancelled;  // nothing to show: closed at once
  select_fork(fork);
  CentreOnParent();
  Show();
  Raise();
  int result;
  {
    wxWindowDisabler others(this);
    wxGUIEventLoop loop;
    loop_ = &loop;
    result_ = 1;
    ++g_modal_depth;
    if (g_dump_window_driver) CallAfter([this] {
        if (g_dump_window_driver && loop_) g_dump_window_driver(*this);
      });
    loop.Run();
    --g_modal_depth;
    loop_ = nullptr;
    result = result_;
  }
  Hide();
  return result;
}

void DumpWindow::end_modal(int result) {
  result_ = result;
  if (loop_) loop_->Exit();
}

void DumpWindow::select_fork(int fork) {
  if (!session_.select_fork(fork)) return;
  tree_shown_ = false;
  fork_bytes_.clear();
  pages_->ChangeSelection(0);
  SetTitle(u8(session_.title()));
  update_items();
  show_dump_sector(0);
  int rc = fork == k_fork_data_view ? session_.file().data_map_rc : session_.file().resource_map_rc;
  if (rc != 0) SetStatusText(tr(6513), 4);
}

void DumpWindow::show_dump_sector(uint64_t sector) {
  uint8_t buf[512];
  int64_t absolute = -1;
  int rc = session_.show(sector, buf, absolute);
  if (rc == k_sector_refused) {
    wxBell();  // outside the fork
    return;
  }
  fill_view(buf, sector);
  update_status(sector, absolute);
  if (rc == k_sector_unreadable) SetStatusText(tr(6504), 4);
}

void DumpWindow::fill_view(const uint8_t* sector, uint64_t number) {
  lines_ = dump_sector_lines(sector, number);
  liste_->Freeze();
  liste_->ChangeValue(joined(lines_));
  liste_->SetStyle(0, liste_->GetLastPosition(), wxTextAttr(*wxBLACK, k_cream));
  liste_->SetInsertionPoint(0);
  liste_->ShowPosition(0);
  liste_->Thaw();
}

void DumpWindow::update_status(uint64_t sector, int64_t absolute) {
  auto texts = session_.status_texts(sector, absolute);
  for (int i = 0; i < 3; ++i) SetStatusText(u8(texts[size_t(i)]), i);
}

void DumpWindow::apply_font(int size) {
  font_size_ = size;
  wxFont font(wxFontInfo(size).Family(wxFONTFAMILY_TELETYPE));
  for (wxWindow* w : {static_cast<wxWindow*>(liste_), static_cast<wxWindow*>(list_arb_),
                      static_cast<wxWindow*>(ress_tv_)})
    w->SetFont(font);
  // 79 characters wide, 35 lines high.
  wxClientDC dc(liste_);
  dc.SetFont(font);
  wxSize zero = dc.GetTextExtent("0");
  int scroll = wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, liste_);
  SetClientSize(wxSize(79 * zero.x + scroll + 16, 35 * zero.y + 8));
  if (session_.current() != k_no_sector) redraw();
}

void DumpWindow::redraw() {
  update_items();
  if (tree_shown_) {
    int shown = shown_resource_;
    shown_resource_ = -1;
    show_resource(shown);
    return;
  }
  if (session_.current() == k_no_sector) return;
  uint8_t buf[512];
  int64_t absolute = -1;
  int rc = session_.read(session_.current(), buf, &absolute);
  fill_view(buf, session_.current());
  update_status(session_.current(), absolute);
  if (rc == k_sector_unreadable) SetStatusText(tr(6504), 4);
}

void DumpWindow::move_to(int64_t target) {
  if (tree_shown_) return;
  if (target < 0) {
    wxBell();
    return;
  }
  show_dump_sector(uint64_t(target));
}

void DumpWindow::on_key(wxKeyEvent& e) {
  switch (e.GetKeyCode()) {
    case WXK_ESCAPE: end_modal(1); return;
    case WXK_F1: show_help_topic(2170); return;
    // Sectors are one page of 512 bytes: down and up move a sector.
    case WXK_DOWN: case WXK_PAGEDOWN: if (!tree_shown_) { move_to(session_.next_target()); return; } break;
    case WXK_UP: case WXK_PAGEUP: if (!tree_shown_) { move_to(session_.prior_target()); return; } break;
    // The dump view would take them to move its caret: they are the first and
    // last sector, as in the menu.
    case WXK_HOME: case WXK_NUMPAD_HOME: if (!tree_shown_) { move_to(session_.home_target()); return; } break;
    case WXK_END: case WXK_NUMPAD_END: if (!tree_shown_) { move_to(session_.end_target()); return; } break;
    default: break;
  }
  e.Skip();
}

void DumpWindow::search(bool again) {
  if (!again) {
    int r = run_search_dialog(this);
    if (r == 0) return;
    g_dump_search.at_start = r == 2;
  }
  if (g_dump_search.pattern.empty()) return;
  const uint64_t from = session_.current();
  uint64_t polls = 0;
  wxBusyCursor busy;
  uint64_t sector = from;
  int at = session_.search(again, sector, [&](uint64_t s) {
    if (++polls % 64 != 0) return true;
    SetStatusText(u8(format_text(ui_text(6512).c_str(), dump_radix_text(s).c_str())), 4);
    if (!wxGetKeyState(WXK_ESCAPE)) return true;
    return !ask_yes_no_form(this, ui_text(1124));
  });
  SetStatusText("", 4);
  if (at < 0) {
    g_dump_search.again = false;
    show_message_form(this, format_text(ui_text(6501).c_str(), g_dump_search.last_text.c_str()), 0);
    redraw();  // the status shows the sector the search started from
    return;
  }
  g_dump_search.offset = at;
  g_dump_search.again = true;
  if (sector != session_.current()) show_dump_sector(sector);
  TextView view(liste_);
  highlight_dump_bytes(view, at, int(g_dump_search.pattern.size()));
  update_items();
}

void DumpWindow::analyze() {
  if (session_.current() == k_no_sector) return;
  uint8_t buf[512];
  // A sector the image did not give is not analysed as zeros.
  if (session_.read(session_.current(), buf) != 0) {
    show_message_form(this, ui_text(6504), 0);
    return;
  }
  SectorKind kind = identify_sector(std::span<const uint8_t>(buf, 512), int64_t(session_.current()), session_.inspector);
  if (kind == k_kind_unknown) {
    show_message_form(this, ui_text(3200), 0);
    return;
  }
  show_structure(kind);
}

void DumpWindow::show_structure(SectorKind kind) {
  if (session_.current() == k_no_sector) return;
  const int64_t here = int64_t(session_.current());
  uint8_t buf[512];
  if (session_.read(uint64_t(here), buf) != 0) {
    show_message_form(this, ui_text(6504), 0);
    return;
  }
  std::span<const uint8_t> sector(buf, 512);
  const int mode = int(g_volume.access_mode);
  StructureView view = decode_sector(kind, mode, sector, here, session_.inspector, session_.fork_reader());
  ViewerHost host;
  if (kind == k_kind_btree_header) {
    host.walk_setup = btree_walk_setup(sector, here, session_.inspector.node_runs);
    host.walk_reader = session_.fork_reader_for_thread();
  }
  ViewerForm::Choice choice = run_viewer(this, viewer_layout(kind, mode, view), host);
  if (choice.sector < 0) return;
  show_dump_sector(uint64_t(choice.sector));
  if (choice.action != k_button_gpt_entries || session_.current() != uint64_t(choice.sector)) return;
  // The header's button opens the partition entries on the array's first sector.
  if (session_.read(uint64_t(choice.sector), buf) != 0) return;  // shown with 6504 by show_dump_sector
  StructureView entries = decode_gpt_entries_view(sector, choice.sector, session_.inspector, session_.fork_reader());
  ViewerForm::Choice next = run_viewer(this, gpt_entries_layout(entries));
  if (next.sector >= 0) show_dump_sector(uint64_t(next.sector));
}

void DumpWindow::copy() {
  if (wxTheClipboard->Open()) {
    wxTheClipboard->SetData(new wxTextDataObject(u8(dump_text(lines_))));
    wxTheClipboard->Close();
  }
}

void DumpWindow::print() {
  LinesPrintout printout(GetTitle().utf8_string(), lines_);
  (void)print_job(this, printout);  // a failure is told by print_job itself
}

void DumpWindow::file_properties() {
  VolumeItemProperties m;
  if (load_volume_item_properties(session_.file().parent_id, -int32_t(session_.file().file_id), m) != 0) {
    wxBell();
    return;
  }
  // Shown, not changed: the dialog and the volume are read-only meanwhile.
  m.read_only = true;
  uint32_t read_only = g_volume.read_only;
  g_volume.read_only = 1;
  run_item_properties(this, m);
  g_volume.read_only = read_only;
}

// --- the resource tree --------------------------------------------------------------------------
void DumpWindow::show_tree() {
  if (!session_.select_fork(k_fork_resource_view)) return;
  tree_shown_ = true;
  shown_resource_ = -1;
  SetTitle(u8(session_.title()));
  ress_tv_->Freeze();
  ress_tv_->DeleteAllItems();
  list_arb_->Clear();
  int rc = load_fork_bytes(session_.fork_map(), session_.medium(), fork_bytes_);
  if (rc != 0) fork_bytes_.clear();
  // A fork that is no resource fork, or a damaged one, still shows its root,
  // and the tree's messages say why there is nothing under it.
  (void)build_resource_tree(fork_bytes_, session_.file().name, tree_);
  wxTreeItemId root = ress_tv_->AddRoot(u8(tree_.tree.empty() ? session_.file().name : tree_.tree[0].text));
  resource_ids_.clear();
  if (!tree_.tree.empty())
    for (const ViewTreeNode& type : tree_.tree[0].children) {
      wxTreeItemId t = ress_tv_->AppendItem(root, u8(type.text));
      // The k-th resource node of the tree is entry k.
      for (const ViewTreeNode& res : type.children) resource_ids_.push_back(ress_tv_->AppendItem(t, u8(res.text)));
    }
  ress_tv_->ExpandAll();
  ress_tv_->Thaw();
  std::string messages;
  for (const std::string& m : tree_.messages) messages += (messages.empty() ? "" : " ") + m;
  if (rc != 0) messages = ui_text(6506);
  // A tree that could not be read says so, and why.
  if (!messages.empty()) messages = format_text(ui_text(6510).c_str(), messages.c_str());
  SetStatusText(u8(messages), 4);
  pages_->ChangeSelection(1);
  update_items();
}

int DumpWindow::selected_resource() const {
  if (!tree_shown_) return -1;
  wxTreeItemId sel = ress_tv_->GetSelection();
  if (!sel.IsOk()) return -1;
  for (size_t k = 0; k < resource_ids_.size() && k < tree_.entries.size(); ++k)
    if (resource_ids_[k] == sel) return int(k);
  return -1;
}

void DumpWindow::show_resource(int index) {
  if (index < 0 || size_t(index) >= tree_.entries.size() || index == shown_resource_) return;
  shown_resource_ = index;
  wxBusyCursor busy;
  list_arb_->ChangeValue(joined(resource_dump_lines(fork_bytes_, tree_.entries[size_t(index)])));
  list_arb_->ShowPosition(0);
}

void DumpWindow::save_resource(bool hex) {
  int index = selected_resource();
  if (index < 0) return;
  const ResourceEntry& e = tree_.entries[size_t(index)];
  std::string description = resource_description(session_.file().name, e);
  std::string ext = ui_text(hex ? 3600 : 3604);
  std::string path = choose_save_path(this, tr(hex ? 3602 : 3606), u8(resource_export_name(description, ext)),
                                      u8(ext), tr(hex ? 3601 : 3605));
  if (path.empty()) return;
  int rc = hex ? save_resource_hex(path, description, fork_bytes_, e) : save_resource_binary(path, fork_bytes_, e);
  if (rc != 0) report_open_error(path.c_str());
}

int show_dump_window(wxWindow* owner, DumpFile& file) {
  DumpWindow* w = new DumpWindow(owner, file, volume_medium_reader());
  int result = w->run_modal();
  w->Destroy();
  return result;
}
