#include "gui/dsstore/dsstore_form.h"

#include <sys/stat.h>

#include <wx/accel.h>
#include <wx/bitmap.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dcclient.h>
#include <wx/dialog.h>
#include <wx/filedlg.h>
#include <wx/image.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/spinctrl.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include <wx/log.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/project.h"
#include "gui/dsstore/dsstore_editor.h"
#include "gui/dsstore/dsstore_layout.h"
#include "gui/forms/form_kit.h"
#include "gui/forms/formframe.h"
#include "gui/forms/messageforms.h"
#include "gui/forms/tr.h"
#include "platform/replacefile.h"

namespace {

constexpr int k_help_topic = 151;
constexpr int k_screen_w = 253, k_screen_h = 189;   // the preview of the Mac screen
constexpr int k_picture_w = 210, k_picture_h = 144;  // the background picture's thumbnail

// Controls beside their captions (each caption named as given), as rows of a two-column grid.
struct Captioned {
  int caption;
  const char* name;
  wxWindow* control;
};
void add_captioned(wxWindow* parent, wxFlexGridSizer* grid, std::initializer_list<Captioned> rows) {
  for (const Captioned& r : rows) {
    auto* l = new wxStaticText(parent, wxID_ANY, tr(r.caption));
    l->SetName(r.name);
    grid->Add(l, 0, wxALIGN_CENTER_VERTICAL);
    grid->Add(r.control, 0, wxEXPAND);
  }
}

std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The Mac screen at a quarter of its size, the window on it; the window is
// moved by dragging its inside and resized by its edges and corners.
class ScreenPreview : public wxPanel {
 public:
  ScreenPreview(wxWindow* parent, DsStoreLayout& layout)
      : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxSize(k_screen_w, k_screen_h), wxBORDER_SUNKEN),
        layout_(layout) {
    SetName("ecran");
    SetMinSize(wxSize(k_screen_w, k_screen_h));
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, [this](wxPaintEvent&) { paint(); });
    Bind(wxEVT_MOTION, [this](wxMouseEvent& e) { motion(e); });
    Bind(wxEVT_LEFT_DOWN, [this](wxMouseEvent& e) { down(e); });
    Bind(wxEVT_LEFT_UP, [this](wxMouseEvent& e) { up(e); });
  }
  // Runs after a drag has changed the layout.
  std::function<void()> on_change;

 private:
  DsStoreLayout& layout_;
  int zone_ = 0;
  wxPoint start_;

  wxRect window_rect() const {
    PreviewRect p = preview_rect(layout_);
    return wxRect(p.left, p.top, std::max(p.width, 1), std::max(p.height, 1));
  }

  void paint() {
    wxPaintDC dc(this);
    wxSize sz = GetClientSize();
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(*wxWHITE_BRUSH);
    dc.DrawRectangle(0, 0, sz.x, sz.y);
    dc.SetBrush(wxBrush(wxColour(0x90, 0x90, 0xA0), wxBRUSHSTYLE_CROSSDIAG_HATCH));
    dc.DrawRectangle(0, 0, sz.x, sz.y);
    wxRect w = window_rect();
    dc.SetPen(wxPen(wxColour(0x40, 0x40, 0x40)));
    dc.SetBrush(*wxWHITE_BRUSH);
    dc.DrawRectangle(w);
    // The icons' places, a quarter of their size.
    dc.SetBrush(wxBrush(wxColour(0x5A, 0x7F, 0xC0)));
    dc.SetPen(*wxTRANSPARENT_PEN);
    int icon = std::max(2, k_ds_icon_sizes[layout_.icon_size_index & 7] / 4);
    for (const DsStoreItem& it : layout_.items) {
      int x = std::atoi(it.x.c_str()) / 4, y = std::atoi(it.y.c_str()) / 4;
      if (x >= 0 && y >= 0 && x < w.width && y < w.height)
        dc.DrawRectangle(w.x + x - icon / 2, w.y + y - icon / 2, icon, icon);
    }
  }

  int zone_at(const wxPoint& p) const {
    wxRect w = window_rect();
    if (!w.Contains(p)) return 0;
    return drag_zone(p.x - w.x, p.y - w.y, w.width, w.height);
  }

  void motion(wxMouseEvent& e) {
    if (e.LeftIsDown()) return;
    static const wxStockCursor k_cursors[10] = {wxCURSOR_ARROW,    wxCURSOR_SIZENS,   wxCURSOR_SIZENWSE,
                                                wxCURSOR_SIZENESW, wxCURSOR_SIZENS,   wxCURSOR_SIZENWSE,
                                                wxCURSOR_SIZENESW, wxCURSOR_SIZEWE,   wxCURSOR_SIZEWE,
                                                wxCURSOR_SIZING};
    SetCursor(wxCursor(k_cursors[zone_at(e.GetPosition())]));
  }

  void down(wxMouseEvent& e) {
    zone_ = zone_at(e.GetPosition());
    start_ = e.GetPosition();
    if (zone_ && !HasCapture()) CaptureMouse();
  }

  void up(wxMouseEvent& e) {
    if (HasCapture()) ReleaseMouse();
    if (!zone_) return;
    wxPoint d = e.GetPosition() - start_;
    apply_drag(layout_, zone_, d.x, d.y);
    zone_ = 0;
    Refresh();
    if (on_change) on_change();
  }
};

class DsStoreDialog : public wxDialog {
 public:
  DsStoreDialog(wxWindow* owner, FILE* project, const std::string& project_path)
      : wxDialog(owner, wxID_ANY, tr(1510)), project_(project), project_path_(project_path) {
    SetName("TDS_Store");
    std::string message;
    open_ds_store_layout(project, layout_, message);
    if (!message.empty()) show_message_form(owner, message, 0);

    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* columns = new wxBoxSizer(wxHORIZONTAL);
    columns->Add(make_icons_box(), 0, wxEXPAND | wxALL, 4);
    // Right: the window's rectangle and its preview, then the background or the item pane.
    auto* right = new wxBoxSizer(wxVERTICAL);
    right->Add(make_rect_box(), 0, wxEXPAND | wxBOTTOM, 4);
    right->Add(make_background_box(), 1, wxEXPAND);
    right->Add(make_pane(), 1, wxEXPAND);
    columns->Add(right, 1, wxEXPAND | wxALL, 4);
    top->Add(columns, 1, wxEXPAND);

    top->Add(form_button_row(*this, add_help_button(*this, k_help_topic),
                             {.ok_text = 1036, .ok_name = "valid", .cancel_name = "cancel"}), 0, wxEXPAND | wxALL, 4);
    create_ = FindWindow(wxID_OK);
    SetSizer(top);
    top->Hide(pane_, true);
    guidance_->Wrap(260);
    Fit();
    CentreOnParent();
    bind_events();

    // The picture a file read back names comes in as if chosen, the icons
    // staying where the file put them.
    std::string picture = layout_.background_picture;
    show_layout();
    if (!picture.empty()) {
      reading_file_ = true;
      picture_path_->SetValue(wxString::FromUTF8(picture));
      reading_file_ = false;
    }
    select_row(0);
  }

  void command(int id) {
    int row = selected_row();
    switch (id) {
      case k_ds_move_up:
      case k_ds_move_down: {
        if (row < 0 || pane_shown()) return;
        int to = move_item(layout_, row, id == k_ds_move_up ? -1 : 1);
        show_layout();
        select_row(to);
        break;
      }
      case k_ds_edit_item:
        if (row >= 0) show_pane();
        break;
      default: break;
    }
  }

 private:
  FILE* project_;
  std::string project_path_;
  DsStoreLayout layout_;
  bool updating_ = false;
  bool reading_file_ = false;  // the picture of the file read back is being loaded
  bool pane_loaded_ = false;  // the pane's fields hold a row not yet saved
  wxListCtrl* list_ = nullptr;
  wxChoice* icon_size_ = nullptr;
  wxChoice* text_size_ = nullptr;
  wxSlider* spacing_ = nullptr;
  wxSpinCtrl* rect_fields_[6] = {};
  ScreenPreview* preview_ = nullptr;
  wxStaticBoxSizer* background_ = nullptr;
  wxStaticBitmap* picture_ = nullptr;
  wxTextCtrl* picture_path_ = nullptr;
  wxStaticText* picture_size_ = nullptr;
  wxStaticBoxSizer* pane_ = nullptr;
  wxTextCtrl* pane_name_ = nullptr;
  wxSpinCtrl* pane_x_ = nullptr;
  wxSpinCtrl* pane_y_ = nullptr;
  wxStaticText* guidance_ = nullptr;
  wxWindow* create_ = nullptr;

  // Left: the icons' list, sizes and spacing.
  wxSizer* make_icons_box() {
    auto* icons = new wxStaticBoxSizer(wxVERTICAL, this, tr(1512));
    wxWindow* icons_box = icons->GetStaticBox();
    icons_box->SetName("icopos");
    list_ = new wxListCtrl(icons_box, wxID_ANY, wxDefaultPosition, wxSize(250, 230),
                           wxLC_REPORT | wxLC_SINGLE_SEL);
    list_->SetName("lvi");
    list_->AppendColumn(tr(1525), wxLIST_FORMAT_LEFT, 150);
    list_->AppendColumn(tr(1526), wxLIST_FORMAT_RIGHT, 45);
    list_->AppendColumn(tr(1527), wxLIST_FORMAT_RIGHT, 45);
    icons->Add(list_, 1, wxEXPAND | wxALL, 4);
    auto* sizes = new wxFlexGridSizer(2, 4, 6);
    sizes->AddGrowableCol(1);
    icon_size_ = new wxChoice(icons_box, wxID_ANY);
    icon_size_->SetName("liste_taillicon");
    for (int s : k_ds_icon_sizes) icon_size_->Append(std::to_string(s));
    text_size_ = new wxChoice(icons_box, wxID_ANY);
    text_size_->SetName("liste_corps");
    for (int s : k_ds_text_sizes) text_size_->Append(std::to_string(s));
    spacing_ = new wxSlider(icons_box, wxID_ANY, 0, 0, 7, wxDefaultPosition, wxSize(140, -1),
                            wxSL_HORIZONTAL | wxSL_AUTOTICKS);
    spacing_->SetName("Espacement");
    add_captioned(icons_box, sizes,
                  {{1519, "lab_taillicon", icon_size_}, {1521, "lab_corps", text_size_}, {1520, "lab_espacement", spacing_}});
    icons->Add(sizes, 0, wxEXPAND | wxALL, 4);
    return icons;
  }

  // The window's rectangle: its six figures beside the screen preview, each
  // field an edit of the layout.
  wxSizer* make_rect_box() {
    auto* rect = new wxStaticBoxSizer(wxHORIZONTAL, this, tr(1511));
    wxWindow* rect_box = rect->GetStaticBox();
    rect_box->SetName("fenrac");
    auto* fields = new wxFlexGridSizer(2, 4, 6);
    struct Field {
      DsRectField which;
      int caption;
      const char* name;
    };
    static const Field k_fields[6] = {{k_ds_top, 1514, "val_haut"},    {k_ds_left, 1513, "val_gauche"},
                                      {k_ds_bottom, 1516, "val_bas"},  {k_ds_right, 1515, "val_droite"},
                                      {k_ds_height, 1517, "val_hauteur"}, {k_ds_width, 1518, "val_largeur"}};
    for (int i = 0; i < 6; ++i) {
      fields->Add(new wxStaticText(rect_box, wxID_ANY, tr(k_fields[i].caption)), 0, wxALIGN_CENTER_VERTICAL);
      auto* spin = new wxSpinCtrl(rect_box, wxID_ANY, "", wxDefaultPosition, wxSize(130, -1), wxSP_ARROW_KEYS,
                                  0, k_ds_rect_max, 0);
      spin->SetIncrement(5);
      spin->SetName(k_fields[i].name);
      DsRectField which = k_fields[i].which;
      // Only a value that differs from the layout's is an edit: the events the
      // toolkit sends when a field is set, or when it is drawn, change nothing
      // (and so never put positions read from a file back on the grid).
      auto changed = [this, which, spin] {
        if (updating_ || spin->GetValue() == rect_value(which)) return;
        set_rect_field(layout_, which, spin->GetValue());
        show_layout();
      };
      spin->Bind(wxEVT_SPINCTRL, [changed](wxSpinEvent&) { changed(); });
      spin->Bind(wxEVT_TEXT, [changed](wxCommandEvent&) { changed(); });
      rect_fields_[which] = spin;
      fields->Add(spin, 0);
    }
    rect->Add(fields, 0, wxALL, 4);
    preview_ = new ScreenPreview(rect_box, layout_);
    preview_->on_change = [this] { show_layout(); };
    rect->Add(preview_, 0, wxALL, 4);
    return rect;
  }

  // The background: its picture's thumbnail, path and size.
  wxSizer* make_background_box() {
    background_ = new wxStaticBoxSizer(wxVERTICAL, this, tr(1528));
    wxWindow* bg_box = background_->GetStaticBox();
    bg_box->SetName("fond");
    picture_ = new wxStaticBitmap(bg_box, wxID_ANY, blank_picture(), wxDefaultPosition,
                                  wxSize(k_picture_w, k_picture_h));
    picture_->SetName("image_fond");
    background_->Add(picture_, 0, wxALIGN_CENTER | wxALL, 4);
    auto* pick = new wxBoxSizer(wxHORIZONTAL);
    picture_path_ = new wxTextCtrl(bg_box, wxID_ANY, "");
    picture_path_->SetName("fichier_fond");
    auto* browse = new wxButton(bg_box, wxID_ANY, tr(1060));
    browse->SetName("browse");
    browse->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { browse_picture(); });
    pick->Add(picture_path_, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, 4);
    pick->Add(browse, 0);
    background_->Add(pick, 0, wxEXPAND | wxLEFT | wxRIGHT, 4);
    picture_size_ = new wxStaticText(bg_box, wxID_ANY, "");
    picture_size_->SetName("lab_taille");
    background_->Add(picture_size_, 0, wxALL, 4);
    return background_;
  }

  // The item pane, in the background's place while one row is edited: its
  // name and position, saved or hidden.
  wxSizer* make_pane() {
    pane_ = new wxStaticBoxSizer(wxVERTICAL, this, tr(1534));
    wxWindow* pane_box = pane_->GetStaticBox();
    pane_box->SetName("edit");
    auto* pane_grid = new wxFlexGridSizer(2, 4, 6);
    pane_grid->AddGrowableCol(1);
    pane_name_ = new wxTextCtrl(pane_box, wxID_ANY, "", wxDefaultPosition, wxSize(200, -1), wxTE_READONLY);
    pane_name_->SetName("ed_nom");
    pane_x_ = new wxSpinCtrl(pane_box, wxID_ANY, "", wxDefaultPosition, wxSize(130, -1), wxSP_ARROW_KEYS, 0,
                             k_ds_position_max, 0);
    pane_x_->SetIncrement(5);
    pane_x_->SetName("ed_posh");
    pane_y_ = new wxSpinCtrl(pane_box, wxID_ANY, "", wxDefaultPosition, wxSize(130, -1), wxSP_ARROW_KEYS, 0,
                             k_ds_position_max, 0);
    pane_y_->SetIncrement(5);
    pane_y_->SetName("ed_posv");
    add_captioned(pane_box, pane_grid, {{1535, "lab_nom", pane_name_}, {1537, "lab_posh", pane_x_}, {1536, "lab_posv", pane_y_}});
    pane_->Add(pane_grid, 0, wxEXPAND | wxALL, 4);
    auto* pane_buttons = new wxBoxSizer(wxHORIZONTAL);
    auto* save = new wxButton(pane_box, wxID_ANY, tr(1190));
    save->SetName("save");
    save->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { save_pane(); });
    auto* hide = new wxButton(pane_box, wxID_ANY, tr(1539));
    hide->SetName("Masquer");
    hide->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { hide_pane(); });
    pane_buttons->Add(save, 0, wxRIGHT, 6);
    pane_buttons->Add(hide, 0);
    pane_->Add(pane_buttons, 0, wxALL, 4);
    guidance_ = new wxStaticText(pane_box, wxID_ANY, tr(1543), wxDefaultPosition, wxSize(260, -1));
    guidance_->SetName("modempl");
    pane_->Add(guidance_, 1, wxEXPAND | wxALL, 4);
    return pane_;
  }

  // The grid's settings, the list's double click and menu, Ctrl+Up and
  // Ctrl+Down, the picture's path and the Create button.
  void bind_events() {
    icon_size_->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { regrid(); });
    text_size_->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { regrid(); });
    spacing_->Bind(wxEVT_SLIDER, [this](wxCommandEvent&) { regrid(); });
    list_->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent&) { double_click(); });
    list_->Bind(wxEVT_CONTEXT_MENU, [this](wxContextMenuEvent&) { pop_up(); });
    Bind(wxEVT_MENU, [this](wxCommandEvent& e) { command(e.GetId()); });
    wxAcceleratorEntry keys[2];
    keys[0].Set(wxACCEL_CTRL, WXK_UP, k_ds_move_up);
    keys[1].Set(wxACCEL_CTRL, WXK_DOWN, k_ds_move_down);
    SetAcceleratorTable(wxAcceleratorTable(2, keys));
    picture_path_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { picture_changed(); });
    create_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { create(); });
  }

  static wxBitmap blank_picture() {
    wxImage blank(k_picture_w, k_picture_h);
    blank.SetRGB(wxRect(0, 0, k_picture_w, k_picture_h), 0xF4, 0xF4, 0xF4);
    return wxBitmap(blank);
  }

  int rect_value(DsRectField which) const {
    switch (which) {
      case k_ds_top: return layout_.top;
      case k_ds_left: return layout_.left;
      case k_ds_bottom: return layout_.bottom;
      case k_ds_right: return layout_.right;
      case k_ds_height: return layout_.height;
      case k_ds_width: return layout_.width;
    }
    return 0;
  }

  int selected_row() const { return int(list_->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED)); }
  void select_row(int row) {
    if (row < 0 || row >= list_->GetItemCount()) return;
    list_->SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                        wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    list_->EnsureVisible(row);
  }
  bool pane_shown() const { return pane_->GetStaticBox()->IsShown(); }

  // Every control from the layout.
  void show_layout() {
    updating_ = true;
    const int values[6] = {layout_.top, layout_.left, layout_.bottom, layout_.right, layout_.height, layout_.width};
    for (int i = 0; i < 6; ++i)
      if (rect_fields_[i]->GetValue() != values[i]) rect_fields_[i]->SetValue(values[i]);
    icon_size_->SetSelection(layout_.icon_size_index);
    text_size_->SetSelection(layout_.text_size_index);
    spacing_->SetValue(layout_.spacing_index);
    int keep = selected_row();
    list_->Freeze();
    if (list_->GetItemCount() != int(layout_.items.size())) list_->DeleteAllItems();
    for (size_t i = 0; i < layout_.items.size(); ++i) {
      const DsStoreItem& it = layout_.items[i];
      if (long(i) >= list_->GetItemCount()) list_->InsertItem(long(i), "");
      list_->SetItem(long(i), 0, wxString::FromUTF8(it.name));
      list_->SetItem(long(i), 1, wxString::FromUTF8(it.x));
      list_->SetItem(long(i), 2, wxString::FromUTF8(it.y));
      list_->SetItemData(long(i), long(it.id));
    }
    list_->Thaw();
    if (keep >= 0 && selected_row() < 0) select_row(keep);
    preview_->Refresh();
    updating_ = false;
  }

  void regrid() {
    select_icon_grid(layout_, icon_size_->GetSelection(), text_size_->GetSelection(), spacing_->GetValue());
    arrange_icons(layout_);
    show_layout();
  }

  void pop_up() {
    int row = selected_row();
    wxMenu m;
    m.Append(k_ds_move_up, tr(1545) + "\tCtrl+Up");
    m.Append(k_ds_move_down, tr(1546) + "\tCtrl+Down");
    m.AppendSeparator();
    m.Append(k_ds_edit_item, tr(1533));
    m.Enable(k_ds_move_up, row > 0);
    m.Enable(k_ds_move_down, row >= 0 && row + 1 < list_->GetItemCount());
    m.Enable(k_ds_edit_item, row >= 0);
    PopupMenu(&m);
  }

  void load_pane(int row) {
    const DsStoreItem& it = layout_.items[size_t(row)];
    pane_name_->ChangeValue(wxString::FromUTF8(it.name));
    pane_x_->SetValue(std::atoi(it.x.c_str()));
    pane_y_->SetValue(std::atoi(it.y.c_str()));
    pane_loaded_ = true;
  }

  void show_pane() {
    int row = selected_row();
    if (row < 0) return;
    load_pane(row);
    guidance_->SetLabel(tr(1543));
    guidance_->Wrap(260);
    GetSizer()->Hide(background_, true);
    GetSizer()->Show(pane_, true, true);
    set_icon_group_enabled(false);
    create_->Enable(false);
    Layout();
  }

  void set_icon_group_enabled(bool on) {
    icon_size_->Enable(on);
    text_size_->Enable(on);
    spacing_->Enable(on);
  }

  void double_click() {
    int row = selected_row();
    if (row < 0) {
      wxBell();
      return;
    }
    if (!pane_shown()) show_pane();
    else load_pane(row);
  }

  void save_pane() {
    int row = selected_row();
    if (row >= 0) set_item_position(layout_, row, pane_x_->GetValue(), pane_y_->GetValue());
    pane_loaded_ = false;
    guidance_->SetLabel(tr(1544));
    guidance_->Wrap(260);
    set_icon_group_enabled(true);
    create_->Enable(true);
    show_layout();
    Layout();
  }

  void hide_pane() {
    int row = selected_row();
    if (pane_loaded_ && row >= 0) set_item_position(layout_, row, pane_x_->GetValue(), pane_y_->GetValue());
    pane_loaded_ = false;
    GetSizer()->Hide(pane_, true);
    GetSizer()->Show(background_, true, true);
    set_icon_group_enabled(true);
    create_->Enable(true);
    show_layout();
    Layout();
  }

  void browse_picture() {
    char buf[k_text_size];
    std::string chosen = choose_file(this, tr(1532), get_project_folder(buf), ui_text(1530), tr(1531),
                                     wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    if (chosen.empty()) return;  // cancelled: the picture stays as it was
    picture_path_->SetValue(wxString::FromUTF8(chosen));
  }

  void picture_changed() {
    std::string path = picture_path_->GetValue().utf8_string();
    layout_.background_picture = path;
    picture_->SetBitmap(blank_picture());
    picture_size_->SetLabel("");
    if (path.empty()) return;
    std::string ext = lower(path.substr(std::min(path.size(), path.find_last_of('.'))));
    if (ext != ".jpg" && ext != ".jpeg" && ext != ".bmp" && ext != ".png" && ext != ".tif" && ext != ".tiff") return;
    wxImage image;
    {
      wxLogNull quiet;  // a file that is no picture is simply not shown
      if (!image.LoadFile(wxString::FromUTF8(path)) || !image.IsOk()) return;
    }
    picture_size_->SetLabel(wxString::FromUTF8(format_text(ui_text(6405).c_str(), image.GetWidth(), image.GetHeight())));
    fit_window_to_picture(layout_, image.GetWidth(), image.GetHeight(), reading_file_);
    picture_->SetBitmap(wxBitmap(image.Rescale(k_picture_w, k_picture_h, wxIMAGE_QUALITY_HIGH)));
    show_layout();
  }

  void create() {
    if (pane_shown()) return;
    // The project's own .DS_Store is replaced only when the user wants it.
    const std::string existing = project_ds_store_file(project_);
    if (!existing.empty() && !ask_yes_no_form(this, format_text(ui_text(6665).c_str(), existing.c_str()))) return;
    size_t slash = project_path_.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string() : project_path_.substr(0, slash);
    std::string target = choose_file(this, tr(1523), folder, ".DS_Store", tr(1522), wxFD_SAVE);
    if (target.empty()) return;
    // Another file of that name in the way is not the project's: asked for too.
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && (existing.empty() || !same_file(target, existing)) &&
        !ask_yes_no_form(this, format_text(ui_text(1061).c_str(), target.c_str())))
      return;
    std::string message;
    if (write_ds_store(project_, layout_, target, message) != 0) {
      if (!message.empty()) show_message_form(this, message, 0);
      return;
    }
    EndModal(-1);
  }
};

}  // namespace

int run_ds_store_editor(wxWindow* owner, FILE* project, const std::string& project_path) {
  if (!project) return 0;
  // The Finder reads this file on HFS+ volumes only: the project becomes one.
  if (get_project_hfs_format(project) != 1) {
    show_message_form(owner, ui_text(1542), 0);
    // A project that cannot become HFS+ (its edit put back and said) gets no editor.
    if (switch_project_to_hfsplus(project) < 0) return 0;
  }
  DsStoreDialog d(owner, project, project_path);
  return run_modal(d) == -1 ? -1 : 0;
}
