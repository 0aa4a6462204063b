// The main window's views: the folder tree (filled one level at a time as it
// is expanded) and the virtual file list of the folder selected in it, their
// sorting, in-place renames, pop-up menus, navigation and dropped files.
#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/dnd.h>
#include <wx/imaglist.h>
#include <wx/menu.h>
#include <wx/splitter.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <unordered_set>

#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/project.h"
#include "gui/commands.h"
#include "gui/compile/compileworker.h"
#include "gui/desktop/desktop_files.h"
#include "gui/forms/messageforms.h"
#include "gui/forms/tr.h"
#include "gui/mainframe.h"
#include "gui/mainframe_parts.h"
#include "gui/views/mode_views.h"
#include "gui/views/type_icon_theme.h"
#include "gui/volume/volume_commands.h"
#include "hfs/volume.h"
#include "macfiles/signatures.h"

namespace {

wxString utf8(const std::string& s) { return wxString::FromUTF8(s); }

wxString hint_text(int id) {
  std::string shown;
  hint_to_status_bar(ui_text(id), shown);
  return utf8(shown);
}

// The images of the tree and the list, in the order of ViewImage: folders,
// files, the root, and the seven view states of a project item (in both
// views, in the ISO view only, in the HFS view only, in none; then missing
// from the PC disk: in both, ISO only, HFS only).
wxImageList* make_view_images() {
  auto* list = new wxImageList(16, 16, true, k_image_count);
  const wxSize sz(16, 16);
  list->Add(wxArtProvider::GetBitmap(wxART_FOLDER, wxART_OTHER, sz));
  list->Add(wxArtProvider::GetBitmap(wxART_FOLDER_OPEN, wxART_OTHER, sz));
  list->Add(wxArtProvider::GetBitmap(wxART_NORMAL_FILE, wxART_OTHER, sz));
  list->Add(wxArtProvider::GetBitmap(wxART_HARDDISK, wxART_OTHER, sz));
  list->Add(wxArtProvider::GetBitmap(wxART_HARDDISK, wxART_OTHER, sz));
  const wxColour k_states[7] = {wxColour(0x2E, 0x9A, 0x2E), wxColour(0x2A, 0x5D, 0xC8), wxColour(0xE0, 0x8A, 0x10),
                                wxColour(0x99, 0x99, 0x99), wxColour(0xC8, 0x20, 0x20), wxColour(0x90, 0x30, 0xB0),
                                wxColour(0xC8, 0x50, 0x50)};
  for (const wxColour& c : k_states) {
    wxBitmap b(16, 16);
    {
      wxMemoryDC dc(b);
      dc.SetBackground(*wxWHITE_BRUSH);
      dc.Clear();
      dc.SetPen(wxPen(c.ChangeLightness(70)));
      dc.SetBrush(wxBrush(c));
      dc.DrawRoundedRectangle(2, 2, 12, 12, 3);
    }
    list->Add(b, *wxWHITE);
  }
  return list;
}

// PC files dropped on the list or the tree, from a file manager of any desktop.
class ViewDropTarget : public wxDropTarget {
 public:
  ViewDropTarget(MainFrame* frame, bool tree, void (MainFrame::*take)(const std::vector<std::string>&, bool, int, int))
      : wxDropTarget(new DesktopFilesData), frame_(frame), tree_(tree), take_(take) {}
  // The files are copied, never moved: the source keeps them.
  wxDragResult OnDragOver(wxCoord, wxCoord, wxDragResult) override { return wxDragCopy; }
  wxDragResult OnData(wxCoord x, wxCoord y, wxDragResult) override {
    if (!GetData()) return wxDragNone;
    std::vector<std::string> paths = static_cast<DesktopFilesData*>(GetDataObject())->paths();
    if (paths.empty()) return wxDragNone;
    (frame_->*take_)(paths, tree_, x, y);
    return wxDragCopy;
  }

 private:
  MainFrame* frame_;
  bool tree_;
  void (MainFrame::*take_)(const std::vector<std::string>&, bool, int, int);
};

}  // namespace

// --- the controls --------------------------------------------------------------------------------
FileListCtrl::FileListCtrl(wxWindow* parent, MainFrame* frame)
    : wxListCtrl(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT | wxLC_VIRTUAL | wxLC_EDIT_LABELS),
      frame_(frame) {
  SetName("LV");
}

wxString FileListCtrl::OnGetItemText(long item, long column) const { return utf8(frame_->row_text(item, int(column))); }
int FileListCtrl::OnGetItemImage(long item) const { return frame_->row_image_of(item); }

wxIMPLEMENT_DYNAMIC_CLASS(FolderTreeCtrl, wxTreeCtrl);

FolderTreeCtrl::FolderTreeCtrl(wxWindow* parent)
    : wxTreeCtrl(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                 wxTR_HAS_BUTTONS | wxTR_SINGLE | wxTR_EDIT_LABELS | wxTR_LINES_AT_ROOT) {
  SetName("TV");
}

int FolderTreeCtrl::OnCompareItems(const wxTreeItemId& a, const wxTreeItemId& b) {
  auto* x = dynamic_cast<FolderData*>(GetItemData(a));
  auto* y = dynamic_cast<FolderData*>(GetItemData(b));
  std::string p = GetItemText(a).utf8_string(), q = GetItemText(b).utf8_string();
  if (!x || !y) return p.compare(q);
  return tree_order(x->key, p, y->key, q) ? -1 : tree_order(y->key, q, x->key, p) ? 1 : 0;
}

int32_t FolderTreeCtrl::id_of(const wxTreeItemId& node) const {
  if (!node.IsOk()) return 0;
  auto* d = dynamic_cast<FolderData*>(GetItemData(node));
  return d ? d->id : 0;
}

wxListCtrl* MainFrame::file_list() const { return list_; }
wxTreeCtrl* MainFrame::folder_tree() const { return tree_; }

void MainFrame::build_views() {
  split_ = new wxSplitterWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxSP_LIVE_UPDATE | wxSP_3D);
  split_->SetName("Splitter1");
  tree_ = new FolderTreeCtrl(split_);
  tree_->AssignImageList(make_view_images());
  list_ = new FileListCtrl(split_, this);
  list_->AssignImageList(make_view_images(), wxIMAGE_LIST_SMALL);
  install_type_icons(list_->GetImageList(wxIMAGE_LIST_SMALL));
  for (int i = 0; i < k_list_columns; ++i) {
    const ListColumnSetting& c = g_list_columns[size_t(i)];
    list_->AppendColumn(tr(c.caption_text), c.right_aligned ? wxLIST_FORMAT_RIGHT : wxLIST_FORMAT_LEFT,
                        shown_column_width(i));
  }
  split_->SplitVertically(tree_, list_, tree_width_);
  split_->SetMinimumPaneSize(40);

  tree_->Bind(wxEVT_TREE_SEL_CHANGED, &MainFrame::on_tree_selected, this);
  tree_->Bind(wxEVT_TREE_ITEM_EXPANDING, &MainFrame::on_tree_expanding, this);
  tree_->Bind(wxEVT_TREE_ITEM_COLLAPSING, &MainFrame::on_tree_collapsing, this);
  tree_->Bind(wxEVT_TREE_BEGIN_LABEL_EDIT, &MainFrame::on_tree_begin_edit, this);
  tree_->Bind(wxEVT_TREE_END_LABEL_EDIT, &MainFrame::on_tree_end_edit, this);
  // A right click selects the node it falls on before the pop-up opens.
  tree_->Bind(wxEVT_TREE_ITEM_RIGHT_CLICK, [this](wxTreeEvent& e) {
    if (e.GetItem().IsOk() && e.GetItem() != tree_->GetSelection()) tree_->SelectItem(e.GetItem());
    show_popup(true);
  });
  list_->Bind(wxEVT_LIST_COL_CLICK, &MainFrame::on_list_column, this);
  list_->Bind(wxEVT_LIST_ITEM_ACTIVATED, &MainFrame::on_list_activated, this);
  list_->Bind(wxEVT_LIST_ITEM_SELECTED, &MainFrame::on_list_selection, this);
  list_->Bind(wxEVT_LIST_ITEM_DESELECTED, &MainFrame::on_list_selection, this);
  list_->Bind(wxEVT_LIST_BEGIN_LABEL_EDIT, &MainFrame::on_list_begin_edit, this);
  list_->Bind(wxEVT_LIST_END_LABEL_EDIT, &MainFrame::on_list_end_edit, this);
  list_->Bind(wxEVT_CONTEXT_MENU, [this](wxContextMenuEvent&) { show_popup(false); });
  split_->Bind(wxEVT_SPLITTER_SASH_POS_CHANGING, &MainFrame::on_splitter_changing, this);
  // Sized by the user: the sizes are theirs from then on.
  split_->Bind(wxEVT_SPLITTER_SASH_POS_CHANGED, [this](wxSplitterEvent& e) {
    e.Skip();
    fit_tree_ = false;
  });
  list_->Bind(wxEVT_LIST_COL_END_DRAG, [this](wxListEvent& e) {
    e.Skip();
    fit_columns_ = false;
  });
  // The paste item follows the clipboard, which is asked only as a menu opens.
  Bind(wxEVT_MENU_OPEN, [this](wxMenuEvent& e) {
    e.Skip();
    ++menus_open_;
    wxMenuBar* bar = GetMenuBar();
    wxMenuItem* paste = bar ? bar->FindItem(command_id("DrExpl")) : nullptr;
    if (!paste) return;
    UiState s = ui_state();
    s.clipboard_files = s.has_document && clipboard_has_files();
    paste->Enable(command_enabled(menu_commands()[size_t(command_index("DrExpl"))], s));
  });
  // Closed again, the paste takes its key whatever the clipboard holds (the command asks it).
  Bind(wxEVT_MENU_CLOSE, [this](wxMenuEvent& e) {
    e.Skip();
    menus_open_ = std::max(menus_open_ - 1, 0);
    if (menus_open_ == 0) schedule_update_commands();
  });
  // The view used last is the one with the focus: the keys of the item
  // commands (Del) act on its selection.
  tree_->Bind(wxEVT_CHILD_FOCUS, [this](wxChildFocusEvent& e) {
    e.Skip();
    g_popup_source = 0;
    schedule_update_commands();
  });
  list_->Bind(wxEVT_CHILD_FOCUS, [this](wxChildFocusEvent& e) {
    e.Skip();
    g_popup_source = 1;
    schedule_update_commands();
  });
}

std::string MainFrame::row_text(long row, int column) const {
  if (row < 0 || size_t(row) >= rows_.size() || column < 0 || column >= k_list_columns) return std::string();
  return list_row_texts(rows_[size_t(row)])[size_t(column)];
}

int MainFrame::row_image_of(long row) const {
  if (row < 0 || size_t(row) >= rows_.size()) return -1;
  return row_image(mode_index(), rows_[size_t(row)]);
}

int32_t MainFrame::current_folder() const {
  int mode = mode_index();
  return mode_document_open(mode) ? current_folder_of_mode(mode) : 0;
}

std::vector<long> MainFrame::selected_rows() const {
  std::vector<long> rows;
  for (long i = list_->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); i >= 0;
       i = list_->GetNextItem(i, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
    if (size_t(i) < rows_.size()) rows.push_back(i);
  return rows;
}

bool MainFrame::clipboard_has_files() const { return clipboard_offers_files(); }

// --- filling ------------------------------------------------------------------------------------------
void MainFrame::clear_views() {
  selecting_ = true;
  tree_->DeleteAllItems();
  selecting_ = false;
  tree_->UnsetToolTip();  // the name of an item that is gone
  list_->SetItemState(-1, 0, wxLIST_STATE_SELECTED);
  rows_.clear();
  list_->SetItemCount(0);
  list_->Refresh();
  shown_folder_ = 0;
  g_list_sort_state.fill(0);
  list_->RemoveSortIndicator();
  if (!simple_status_)
    for (int panel : {2, 3, 4}) SetStatusText(wxString(), panel);
}

// The tree of the mode's document, the root and its first level, then the
// folder selected (or the nearest of its ancestors the tree still holds).
void MainFrame::fill_tree(int32_t folder) {
  clear_views();
  int mode = mode_index();
  if (!mode_document_open(mode)) {
    update_commands();
    return;
  }
  TreeNodeInfo r = mode_tree_root(mode);
  selecting_ = true;
  wxTreeItemId root = tree_->AddRoot(utf8(r.text), r.image, r.selected_image, new FolderData(r.id));
  tree_->SetItemHasChildren(root, r.has_children);
  if (r.has_children) {
    add_children(root);
    tree_->Expand(root);
  }
  selecting_ = false;
  select_tree_folder(folder > 0 ? folder : r.id);
}

int MainFrame::add_children(const wxTreeItemId& node) {
  if (tree_->GetChildrenCount(node, false) > 0) return int(tree_->GetChildrenCount(node, false));
  std::vector<TreeNodeInfo> children;
  std::string message;
  (void)expand_mode_node(mode_index(), tree_->id_of(node), children, message);  // damage: in message, said below
  for (const TreeNodeInfo& c : children) {
    wxTreeItemId child = tree_->AppendItem(node, utf8(c.text), c.image, c.selected_image, new FolderData(c.id, c.key));
    tree_->SetItemHasChildren(child, c.has_children);
  }
  // A damaged catalog: the folders that could be read are shown, the status bar says what is wrong.
  if (!message.empty()) status_text(message);
  return int(children.size());
}

wxTreeItemId MainFrame::find_child(const wxTreeItemId& parent, int32_t id) {
  wxTreeItemIdValue cookie;
  for (wxTreeItemId c = tree_->GetFirstChild(parent, cookie); c.IsOk(); c = tree_->GetNextChild(parent, cookie))
    if (tree_->id_of(c) == id) return c;
  return wxTreeItemId();
}

// Opens the tree down to folder, selects it and lists it. False when the
// tree cannot reach it (the deepest node reached is then shown).
bool MainFrame::select_tree_folder(int32_t folder) {
  wxTreeItemId node = tree_->GetRootItem();
  if (!node.IsOk()) return false;
  std::vector<int32_t> chain = mode_folder_chain(mode_index(), folder);
  selecting_ = true;
  for (size_t i = 1; i < chain.size(); ++i) {
    add_children(node);
    tree_->Expand(node);
    wxTreeItemId child = find_child(node, chain[i]);
    if (!child.IsOk()) break;
    node = child;
  }
  tree_->SelectItem(node);
  tree_->EnsureVisible(node);
  selecting_ = false;
  int32_t shown = tree_->id_of(node);
  show_folder(shown);
  return shown == folder;
}

void MainFrame::show_folder(int32_t folder) {
  int mode = mode_index();
  FolderRows r;
  try {
    wxBusyCursor busy;
    (void)fill_mode_rows(mode, folder, r);  // damage: in r.damaged and r.message, said below
  } catch (const std::bad_alloc&) {
    r = FolderRows();
    show_message(ui_text(1082).c_str());
  }
  list_->SetItemState(-1, 0, wxLIST_STATE_SELECTED);
  rows_ = std::move(r.rows);
  shown_folder_ = folder;
  set_folder_of_mode(mode_index(), folder);
  list_->SetItemCount(long(rows_.size()));
  // Every fill comes up sorted by name, ascending.
  list_->ShowSortIndicator(0, true);
  list_->Refresh();
  show_counts(r.folders, r.files);
  fit_to_contents();
  schedule_update_commands();
  if (r.damaged) show_message(format_text(ui_text(6132).c_str(), r.message.c_str()).c_str());
}

// A document that refuses every edit says why as long as it is shown.
int MainFrame::document_state_text() const {
  if (mode_index() != 1) return project_read_only_[mode_index()] ? 6798 : 0;
  if (!image_.read_only && !g_volume.read_only) return 0;
  switch (g_volume.read_only_reason) {
    case k_read_only_file: return 6135;
    case k_read_only_bare_volume: return 6136;
    case k_read_only_journaled: return 6138;
    case k_read_only_damaged_catalog: return 2114;
    case k_read_only_damaged_structures: return 6139;
    case k_read_only_overflow_copy: return 6137;
    default: return 6108;
  }
}

void MainFrame::show_counts(uint32_t folders, uint32_t files) {
  shown_folders_ = folders;
  shown_files_ = files;
  if (simple_status_) return;
  SetStatusText(wxString(), 1);  // the time of the last long work is over
  int state = document_state_text();
  if (folders == 0 && files == 0) {
    // "Empty folder" takes the counts' place when the text panel says why nothing can be changed.
    SetStatusText(state ? tr(1017) : wxString(), 2);
    SetStatusText(wxString(), 3);
    SetStatusText(tr(state ? state : 1017), 4);
  } else {
    SetStatusText(utf8(format_text(ui_text(1016).c_str(), int(folders))), 2);
    SetStatusText(utf8(format_text(ui_text(1015).c_str(), int(files))), 3);
    SetStatusText(state ? tr(state) : wxString(), 4);
  }
  gauge_->Refresh();
}

// --- tree events --------------------------------------------------------------------------------------
void MainFrame::on_tree_selected(wxTreeEvent& e) {
  if (selecting_) return;
  g_popup_source = 0;
  int32_t id = tree_->id_of(e.GetItem());
  if (id > 0 && compile_idle()) {
    show_folder(id);
  } else {
    schedule_update_commands();
  }
}

void MainFrame::on_tree_expanding(wxTreeEvent& e) {
  if (!selecting_) g_popup_source = 0;
  wxTreeItemId node = e.GetItem();
  if (!node.IsOk() || tree_->GetChildrenCount(node, false) > 0) return;
  if (add_children(node) == 0) {
    tree_->SetItemHasChildren(node, false);
    e.Veto();
    return;
  }
  // The new names are measured once the node is open.
  CallAfter([this] { fit_to_contents(); });
}

void MainFrame::on_tree_collapsing(wxTreeEvent& e) {
  g_popup_source = 0;
  if (e.GetItem() == tree_->GetRootItem()) e.Veto();  // the root stays open
}

void MainFrame::on_tree_begin_edit(wxTreeEvent& e) {
  UiState s = ui_state();
  bool root = e.GetItem() == tree_->GetRootItem();
  // The project's root is named by its label command; the volume's by its rename.
  if (!s.has_document || s.compile_running || s.read_only || (root && s.mode != 1)) e.Veto();
}

void MainFrame::on_tree_end_edit(wxTreeEvent& e) {
  if (e.IsEditCancelled()) return;
  e.Veto();  // the node takes the name the document stored, set below
  wxTreeItemId node = e.GetItem();
  std::string text = e.GetLabel().utf8_string();
  std::string message;
  int mode = mode_index();
  if (node == tree_->GetRootItem()) {
    if (mode != 1) return;
    int rc = rename_volume(text, message);
    if (rc < 0) show_message(message.c_str());
    tree_->SetItemText(node, utf8(volume_display_name()));
    return;
  }
  wxTreeItemId parent_node = tree_->GetItemParent(node);
  int32_t parent = tree_->id_of(parent_node), id = tree_->id_of(node);
  FolderRows siblings;
  (void)fill_mode_rows(mode, parent, siblings);  // a damaged folder still gives the rows it could read
  auto it = std::find_if(siblings.rows.begin(), siblings.rows.end(), [id](const FileTableEntry& r) { return r.id == id; });
  if (it == siblings.rows.end()) return;
  int rc = rename_mode_entry(mode, *it, parent, text, message);
  if (rc < 0) {
    show_message(message.c_str());
    return;
  }
  if (rc == 0) return;
  tree_->SetItemText(node, utf8(display_name(*it)));
  if (auto* d = dynamic_cast<FolderData*>(tree_->GetItemData(node))) d->key = *it;
  tree_->SortChildren(parent_node);
  if (shown_folder_ == parent)
    for (FileTableEntry& row : rows_)
      if (row.id == id) row = *it;
  list_->Refresh();
}

// --- list events ---------------------------------------------------------------------------------------
void MainFrame::on_list_column(wxListEvent& e) {
  int column = e.GetColumn();
  if (column < 0 || column >= k_list_columns) return;
  // The selection follows its items, not their places.
  std::unordered_set<int32_t> selected;
  for (long i : selected_rows()) selected.insert(rows_[size_t(i)].id);
  sort_file_table(rows_, column + 1);
  list_->ShowSortIndicator(column, g_list_sort_state[size_t(column + 1)] == 1);
  list_->SetItemState(-1, 0, wxLIST_STATE_SELECTED);
  for (size_t i = 0; i < rows_.size() && !selected.empty(); ++i)
    if (selected.count(rows_[i].id)) list_->SetItemState(long(i), wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  list_->Refresh();
}

void MainFrame::on_list_activated(wxListEvent& e) {
  long row = e.GetIndex();
  if (row < 0 || size_t(row) >= rows_.size() || !compile_idle()) return;
  g_popup_source = 1;
  const FileTableEntry& entry = rows_[size_t(row)];
  if (entry.kind == 1) {
    select_tree_folder(entry.id);
  } else {
    run_command(mode_index() == 1 ? "AttrPart" : "Prop1");
  }
}

void MainFrame::on_list_selection(wxListEvent&) {
  g_popup_source = 1;
  schedule_update_commands();
}

void MainFrame::on_list_begin_edit(wxListEvent& e) {
  UiState s = ui_state();
  if (!s.has_document || s.compile_running || s.read_only || e.GetIndex() < 0 ||
      size_t(e.GetIndex()) >= rows_.size())
    e.Veto();
}

void MainFrame::on_list_end_edit(wxListEvent& e) {
  // The rows live in the file table, not in the control: the edit is never kept as it is typed.
  e.Veto();
  long row = e.GetIndex();
  if (e.IsEditCancelled() || row < 0 || size_t(row) >= rows_.size()) return;
  FileTableEntry& entry = rows_[size_t(row)];
  std::string message;
  int rc = rename_mode_entry(mode_index(), entry, shown_folder_, e.GetLabel().utf8_string(), message);
  if (rc < 0) show_message(message.c_str());
  if (rc == 1 && entry.kind == 1) {
    wxTreeItemId node = find_child(tree_->GetSelection(), entry.id);
    if (node.IsOk()) {
      tree_->SetItemText(node, utf8(display_name(entry)));
      if (auto* d = dynamic_cast<FolderData*>(tree_->GetItemData(node))) d->key = entry;
      tree_->SortChildren(tree_->GetSelection());
    }
  }
  list_->RefreshItem(row);
}

void MainFrame::on_splitter_changing(wxSplitterEvent& e) {
  if (!splitter_can_resize(e.GetSashPosition(), GetClientSize().x)) e.Veto();
}

// --- pop-up menus ----------------------------------------------------------------------------------
namespace {

struct PopupEntry {
  const char* name;  // null: a separator
  int id = 0, caption = 0, hint = 0;
  bool enabled = false;
};

}  // namespace

static std::vector<PopupEntry> popup_entries(const UiState& s, bool tree, bool folder_selected) {
  std::vector<PopupEntry> out;
  for (const PopupItemDef& p : popup_items(s.mode, tree)) {
    PopupEntry e{p.name};
    if (!p.name) {
      out.push_back(e);
      continue;
    }
    e.id = command_id(p.command);
    e.caption = p.caption;
    e.hint = p.hint;
    e.enabled = command_enabled(menu_commands()[size_t(command_index(p.command))], s);
    std::string name = p.name;
    if (name == "AffPart" && folder_selected) {  // a folder is opened, not dumped
      e.id = k_id_open_folder;
      e.caption = 2056;
      e.hint = 2256;
      e.enabled = s.list_selected > 0;
    } else if (name == "TRenPart" && s.tree_root_selected) {  // the root's name is the volume's
      e.id = k_id_rename_volume;
      e.enabled = s.has_document && !s.read_only && !s.compile_running;
    }
    out.push_back(e);
  }
  return out;
}

std::string MainFrame::popup_state(bool tree) {
  g_popup_source = tree ? 0 : 1;
  UiState s = ui_state();
  s.clipboard_files = s.has_document && clipboard_has_files();
  std::vector<long> rows = selected_rows();
  bool folder = !rows.empty() && rows_[size_t(rows.front())].kind == 1;
  std::string out;
  for (const PopupEntry& e : popup_entries(s, tree, folder))
    if (e.name) out += std::string(e.name) + "\t" + ui_text(e.caption) + "\t" + (e.enabled ? "1" : "0") + "\n";
  return out;
}

void MainFrame::show_popup(bool tree) {
  if (!compile_idle()) return;
  g_popup_source = tree ? 0 : 1;
  UiState s = ui_state();
  s.clipboard_files = s.has_document && clipboard_has_files();
  std::vector<long> rows = selected_rows();
  bool folder = !rows.empty() && rows_[size_t(rows.front())].kind == 1;
  wxMenu menu;
  for (const PopupEntry& e : popup_entries(s, tree, folder)) {
    if (!e.name) {
      menu.AppendSeparator();
      continue;
    }
    wxString label = tr(e.caption);
    std::string command = command_name(e.id);
    if (*command_shortcut(command)) label << "\t" << command_shortcut(command);
    wxMenuItem* item = menu.Append(e.id, label, hint_text(e.hint));
    item->Enable(e.enabled);
  }
  PopupMenu(&menu);
}

// --- navigation --------------------------------------------------------------------------------------
void MainFrame::go_to_parent() {
  int mode = mode_index();
  int32_t folder = current_folder();
  int32_t parent = mode_parent_folder(mode, folder);
  // At the root there is no parent: a volume's root is listed again, a project's stays.
  if (parent == 0 && mode != 1) return;
  select_tree_folder(parent ? parent : mode_root_folder(mode));
}

// F5: the document's tree and the folder shown, read again.
void MainFrame::refresh_document_views() {
  if (!mode_document_open(mode_index())) return;
  fill_tree(current_folder());
}

void MainFrame::open_selected_folder() {
  std::vector<long> rows = selected_rows();
  if (!rows.empty() && rows_[size_t(rows.front())].kind == 1) select_tree_folder(rows_[size_t(rows.front())].id);
}

void MainFrame::select_all_rows(bool invert) {
  g_popup_source = 1;
  if (!invert) {
    list_->SetItemState(-1, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  } else {
    for (long i = 0; i < long(rows_.size()); ++i)
      list_->SetItemState(i, list_->GetItemState(i, wxLIST_STATE_SELECTED) ? 0 : wxLIST_STATE_SELECTED,
                          wxLIST_STATE_SELECTED);
  }
  update_commands();
}

// The volume's name, edited in its label form and written at once: the
// volume commands' rename of the volume.
void MainFrame::rename_volume_command() {
  UiState s = ui_state();
  if (s.mode != 1 || !s.has_document || s.read_only || s.compile_running) return;
  volume_rename_volume_command();
  fill_tree(current_folder());
}

// --- dropped files --------------------------------------------------------------------------------------
void MainFrame::apply_drop_targets() {
  bool want = drop_accepted(ui_state());
  if (want == drop_on_) return;
  drop_on_ = want;
  list_->SetDropTarget(want ? new ViewDropTarget(this, false, &MainFrame::files_dropped) : nullptr);
  tree_->SetDropTarget(want ? new ViewDropTarget(this, true, &MainFrame::files_dropped) : nullptr);
}

void MainFrame::files_dropped(const std::vector<std::string>& paths, bool on_tree, int x, int y) {
  if (!drop_accepted(ui_state()) || paths.empty()) return;
  // Onto a folder (a node of the tree, a folder's row of the list): into it;
  // anywhere else: the folder shown (the root, on the tree's empty space).
  int32_t folder = current_folder();
  int flags = 0;
  if (on_tree) {
    wxTreeItemId node = tree_->HitTest(wxPoint(x, y), flags);
    folder = node.IsOk() ? tree_->id_of(node) : mode_root_folder(mode_index());
  } else {
    long row = list_->HitTest(wxPoint(x, y), flags);
    if (row >= 0 && size_t(row) < rows_.size() && rows_[size_t(row)].kind == 1) folder = rows_[size_t(row)].id;
  }
  // The copy asks its questions once the drop has ended. Like a command, it
  // leaves the one-panel status of its progress when it is done.
  CallAfter([this, paths, folder] {
    if (!g_files_dropped || !drop_accepted(ui_state())) return;
    leave_simple_status();
    g_files_dropped(paths, folder);
    if (g_main_frame == this) leave_simple_status();
  });
}

// --- the views as the commands see them ---------------------------------------------------------------
std::vector<FileTableEntry> MainFrame::selected_entries() const {
  std::vector<FileTableEntry> out;
  for (long i : selected_rows()) out.push_back(rows_[size_t(i)]);
  return out;
}

int32_t MainFrame::tree_selection() const { return tree_->id_of(tree_->GetSelection()); }

void MainFrame::refresh_views() {
  if (!mode_document_open(mode_index())) {
    clear_views();
    return;
  }
  fill_tree(current_folder());
}

void MainFrame::show_item(int32_t folder, int32_t item) {
  show_items(folder, item ? std::vector<int32_t>{item} : std::vector<int32_t>{});
}

void MainFrame::show_items(int32_t folder, const std::vector<int32_t>& items) {
  if (!mode_document_open(mode_index())) return;
  fill_tree(folder);  // the tree takes the folders the command made or removed
  if (items.empty()) return;
  std::unordered_set<int32_t> wanted(items.begin(), items.end());
  list_->SetItemState(-1, 0, wxLIST_STATE_SELECTED);
  bool first = true;
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (!wanted.count(rows_[i].id)) continue;
    long state = wxLIST_STATE_SELECTED | (first ? wxLIST_STATE_FOCUSED : 0);
    list_->SetItemState(long(i), state, state);
    if (first) list_->EnsureVisible(long(i));
    first = false;
  }
  if (!first) {
    g_popup_source = 1;
    list_->SetFocus();
  }
  update_commands();
}

// A date column at its built-in width is widened to hold a whole date in the
// list's font, which is larger here than the one those widths were made for.
// A width the user chose (or 0, a hidden column) is kept as it is.
int MainFrame::shown_column_width(int column) const {
  const ListColumnSetting& c = g_list_columns[size_t(column)];
  int width = std::max(c.width, 0);
  if (width != c.default_width) return width;
  wxClientDC dc(list_);
  dc.SetFont(list_->GetFont());
  // The caption whole in the current language, beside the room of the sort arrow.
  width = std::max(width, dc.GetTextExtent(tr(c.caption_text)).x + 40);
  if (column != k_col_creation && column != k_col_modification) return width;
  return std::max(width, dc.GetTextExtent(wxString::FromUTF8(format_mac_date(0xE0000000u, false))).x + 16);
}

namespace {
constexpr int k_widest_fitted_column = 420;  // a 255-character name is not shown whole
constexpr int k_built_in_tree_width = WindowPlacement().panel;
}

// The room the folder tree's shown names take, from the left edge: each level
// is indented by one step more, after the expander's step, the spacing, the
// image and its margin (as the tree lays its items out).
int MainFrame::tree_content_width() const {
  wxTreeItemId root = tree_->GetRootItem();
  if (!root.IsOk()) return 0;
  wxClientDC dc(tree_);
  dc.SetFont(tree_->GetFont());
  const int indent = int(tree_->GetIndent()), lead = int(tree_->GetSpacing()) + 16 + 4;
  int widest = 0;
  std::vector<std::pair<wxTreeItemId, int>> pending{{root, 0}};
  while (!pending.empty()) {
    auto [node, level] = pending.back();
    pending.pop_back();
    widest = std::max(widest, (level + 1) * indent + lead + dc.GetTextExtent(tree_->GetItemText(node)).x);
    if (!tree_->IsExpanded(node)) continue;
    wxTreeItemIdValue cookie;
    for (wxTreeItemId c = tree_->GetFirstChild(node, cookie); c.IsOk(); c = tree_->GetNextChild(node, cookie))
      pending.push_back({c, level + 1});
  }
  return widest + wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, tree_) + 8;
}

void MainFrame::fit_to_contents() {
  if (!fit_window_ && !fit_tree_ && !fit_columns_) return;
  if (fit_window_ && GetSize().x + 8 < fitted_width_) fit_window_ = false;  // made narrower by the user
  if (fit_columns_) {
    wxClientDC dc(list_);
    dc.SetFont(list_->GetFont());
    std::array<int, k_list_columns> need =
        content_column_widths(rows_, [&dc](const std::string& s) { return dc.GetTextExtent(utf8(s)).x; });
    for (int i = 0; i < k_list_columns; ++i) {
      int now = list_->GetColumnWidth(i);
      int want = std::min(need[size_t(i)], k_widest_fitted_column);
      if (now > 0 && want > now) list_->SetColumnWidth(i, want);  // a hidden column stays hidden
    }
  }
  const wxRect screen = wxGetClientDisplayRect();
  const int frame_extra = GetSize().x - GetClientSize().x;
  int columns = 0;
  for (int i = 0; i < list_->GetColumnCount(); ++i) columns += list_->GetColumnWidth(i);
  const int list_need = columns + wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, list_) + 2 * list_->GetWindowBorderSize().x + 4;
  const int sash = split_->IsSplit() ? split_->GetSashSize() : 0;
  int tree = tree_width();
  if (fit_tree_ && split_->IsSplit()) {
    // On a screen too narrow for both, the columns come first: the tree
    // takes what they leave, down to its built-in width.
    const int room = (fit_window_ && !IsMaximized() ? screen.width - frame_extra : GetClientSize().x) - list_need - sash;
    tree = std::max(tree, std::min(tree_content_width(), std::max(room, k_built_in_tree_width)));
  }
  const int client_need = (split_->IsSplit() ? tree + sash : 0) + list_need;
  if (fit_window_ && !IsMaximized() && GetClientSize().x < client_need) {
    const int width = std::min(client_need + frame_extra, screen.width);
    int left = GetPosition().x;
    if (left + width > screen.GetRight() + 1) left = std::max(screen.x, screen.GetRight() + 1 - width);
    SetSize(left, GetPosition().y, width, GetSize().y);
    fitted_width_ = GetSize().x;
  }
  if (tree > tree_width()) set_tree_width(tree);
}

void MainFrame::apply_column_widths() {
  for (int i = 0; i < k_list_columns; ++i) {
    shown_widths_[i] = shown_column_width(i);
    list_->SetColumnWidth(i, shown_widths_[i]);
  }
}

void MainFrame::set_tree_width(int width) {
  if (width <= 0) {
    if (split_->IsSplit()) split_->Unsplit(tree_);
    return;
  }
  tree_width_ = width;
  if (!split_->IsSplit()) split_->SplitVertically(tree_, list_, width);
  else split_->SetSashPosition(width);
}

int MainFrame::tree_width() const { return split_->IsSplit() ? split_->GetSashPosition() : 0; }
