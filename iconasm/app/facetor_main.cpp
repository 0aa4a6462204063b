// facetor: the one window of the icon assembler. It binds the core's slots,
// readers, writers and operations to menus, image controls and dialogs.
#include <cstdio>
#include <fstream>
#include <sstream>

#include <wx/clipbrd.h>
#include <wx/fileconf.h>
#include <wx/filename.h>
#include <wx/html/helpctrl.h>
#include <wx/notebook.h>
#include <wx/print.h>
#include <wx/printdlg.h>
#include <wx/sstream.h>
#include <wx/stdpaths.h>
#include <wx/translation.h>
#include <wx/uiaction.h>
#include <wx/wx.h>

#include "IO/paths.h"
#include "IO/settings.h"
#include "IO/uitext.h"
#include "IO/version.h"
#include "gui/forms/accessible_name.h"
#include "iconasm/app/message_form.h"
#include "iconasm/app/screen_grab.h"
#include "iconasm/core/help_topics.h"
#include "iconasm/core/icns.h"
#include "iconasm/core/icon_files.h"
#include "iconasm/core/icon_resources.h"
#include "iconasm/core/icon_texts.h"
#include "iconasm/core/image_ops.h"
#include "iconasm/core/pictures.h"
#include "iconasm/core/winicons.h"
#include "platform/files.h"
#include "platform/programs.h"

namespace {

wxString T(int id) { return wxString::FromUTF8(ui_text(id)); }
// Hints beginning with "." go to the status bar, without the dot.
wxString H(int id) {
  std::string t = ui_text(id);
  return wxString::FromUTF8(t.size() && t[0] == '.' ? t.substr(1) : t);
}

// The help topics the program asks for, by number (plus the language offset).
constexpr int k_contents_topic = 998;
constexpr int k_about_topic = 1006;

enum MenuId {
  id_import = wxID_HIGHEST + 1, id_save, id_data_only, id_resource_only, id_both_forks, id_windows_icon,
  id_print_setup, id_print, id_reopen, id_recent0, id_quit = id_recent0 + 5, id_cut, id_copy, id_paste,
  id_all_masks, id_mask, id_wipe, id_language, id_english, id_french, id_help_topics, id_help_search,
  id_help_index, id_support, id_about, id_pcut, id_pcopy, id_ppaste, id_depth, id_b32, id_b8, id_b4, id_b1,
  id_rotation, id_r180, id_r90g, id_r90d, id_flip_h, id_flip_v, id_colours, id_premult, id_mult, id_demult,
  id_save_as, id_s_bmp, id_s_jpg, id_s_icns, id_s_res, id_s_custom, id_s_ico, id_pmask,
};

// An image control of the window: a slot, a pasteboard tab or a palette.
struct ImageRef {
  int kind = 0;  // 0 slot, 1 pasteboard, 2 palette
  int index = 0;
};

IconImage g_palettes[3];

void draw_palettes() {
  const int w = k_pasteboard_width;
  auto draw = [&](IconImage& img, const uint32_t* table, int n) {
    int rows = (n * 20 + w - 1) / w + 1;
    img = make_image(w, rows * 20, 0xFFFFFFFF);
    int x = 0, y = 0;
    for (int i = 0; i < n; ++i) {
      for (int dy = 0; dy < 20; ++dy)
        for (int dx = 0; dx < 20; ++dx)
          if (x + dx < w && y + dy < img.height) set_pixel(img, x + dx, y + dy, table[i]);
      x += 20;
      if (x + 20 >= w) { x = 0; y += 20; }
    }
  };
  draw(g_palettes[0], k_mac_palette16, 16);
  draw(g_palettes[1], k_icon_palette, 34);
  draw(g_palettes[2], mac_palette256(), 256);
}

IconImage* image_of(const ImageRef& r) {
  if (r.kind == 0) return &g_family.slots[r.index].picture;
  if (r.kind == 1) return &g_family.pasteboard[r.index].image;
  return &g_palettes[r.index];
}
int mark_of(const ImageRef& r) {
  if (r.kind == 0) return g_family.slots[r.index].mark;
  if (r.kind == 1) return g_family.pasteboard[r.index].mark;
  return k_code_24bit;
}

wxBitmap bitmap_over_white(const IconImage& img) {
  wxImage wi(img.width, img.height);
  unsigned char* d = wi.GetData();
  for (size_t i = 0; i < size_t(img.width) * img.height; ++i) {
    const uint8_t* p = img.rgba.data() + i * 4;
    for (int k = 0; k < 3; ++k) d[i * 3 + k] = uint8_t((p[k] * p[3] + 255 * (255 - p[3])) / 255);
  }
  return wxBitmap(wi);
}

class IconFrame;
wxBitmap grab(wxWindow* w);

class ImageView : public wxPanel {
 public:
  ImageView(wxWindow* parent, IconFrame* frame, ImageRef ref, wxSize size);
  ImageRef ref;
  bool selected = false;

 private:
  IconFrame* frame_;
  void OnPaint(wxPaintEvent&);
  void OnClick(wxMouseEvent&);
  void OnRight(wxMouseEvent&);
};

class IconFrame : public wxFrame {
 public:
  IconFrame();
  void select(ImageView* v);
  void popup(ImageView* v, wxPoint at);
  void open_file(const std::string& path);
  void load_captions();
  void run_script(const std::string& path);

 private:
  wxNotebook* pages_ = nullptr;
  wxNotebook* pasteboard_ = nullptr;
  wxNotebook* palettes_ = nullptr;
  wxPanel* tab_mac_ = nullptr;
  wxPanel* tab_pb_ = nullptr;
  wxPanel* tab_pal_ = nullptr;
  std::vector<ImageView*> views_;
  std::vector<wxStaticBoxSizer*> row_boxes_;
  ImageView* selected_ = nullptr;
  ImageView* popup_view_ = nullptr;
  wxMenu* recent_menu_ = nullptr;
  wxHtmlHelpController* help_ = nullptr;
  wxString help_book_;  // the project file of the book help_ holds
  wxPrintData print_data_;
  std::vector<std::string> script_;
  size_t script_at_ = 0;
  bool capture_due_ = false;
  wxTimer timer_;
  wxDialog* about_ = nullptr;  // the About box while it is open

  void build_menus();
  void fill_recent();
  void refresh_all();
  ImageView* target(bool from_popup);
  std::string ask_save(int title, const char* ext, const char* name, int filter, const char* appended = "");
  void write_out(const std::string& path, const std::vector<uint8_t>& bytes);
  void run_about();
  void open_address(int text_id);
  void set_language(int offset);
  void open_help();
  void show_topic(int topic);
  wxTopLevelWindow* help_frame();
  bool refuse_empty_save();
  void save_family(int id, std::string path);
  wxBitmap window_image();
  void script_step();
  void save_window_shot(const std::string& path);
  void save_menu_texts(const std::string& path);
  void save_help_text(const std::string& path);
  void press_f1();
  void import_command();
  void copy_command(ImageView* t, bool cut);
  void paste_command(ImageView* t);
  void image_command(int id, ImageView* t);
  void on_menu(wxCommandEvent& e);
  void on_menu_open(wxMenuEvent& e);
  void on_page(wxBookCtrlEvent& e);
};

ImageView::ImageView(wxWindow* parent, IconFrame* frame, ImageRef r, wxSize size)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, size + wxSize(8, 8)), ref(r), frame_(frame) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, &ImageView::OnPaint, this);
  Bind(wxEVT_LEFT_DOWN, &ImageView::OnClick, this);
  Bind(wxEVT_RIGHT_DOWN, &ImageView::OnRight, this);
}

void ImageView::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  wxSize s = GetClientSize();
  // Outer panel: the selection colour; inner panel: white with a lowered edge.
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(selected ? wxColour(0xC0, 0xDC, 0xC0) : wxColour(0xFF, 0xFB, 0xF0)));
  dc.DrawRectangle(0, 0, s.x, s.y);
  dc.SetBrush(*wxWHITE_BRUSH);
  dc.SetPen(wxPen(wxColour(0x80, 0x80, 0x80)));
  dc.DrawRectangle(2, 2, s.x - 4, s.y - 4);
  dc.DrawBitmap(bitmap_over_white(*image_of(ref)), 4, 4);
}

void ImageView::OnClick(wxMouseEvent&) { frame_->select(this); }
void ImageView::OnRight(wxMouseEvent& e) {
  frame_->select(this);
  frame_->popup(this, e.GetPosition());
}

IconFrame::IconFrame()
    : wxFrame(nullptr, wxID_ANY, "Facetor", wxDefaultPosition, wxDefaultSize,
              wxDEFAULT_FRAME_STYLE & ~(wxRESIZE_BORDER | wxMAXIMIZE_BOX)) {
  pages_ = new wxNotebook(this, wxID_ANY);
  // Three captions must fit the fixed width of the window.
  pages_->SetFont(pages_->GetFont().Smaller());
  tab_mac_ = new wxPanel(pages_);
  tab_mac_->SetBackgroundColour(wxColour(0xFF, 0xFB, 0xF0));  // cream
  auto* col = new wxBoxSizer(wxVERTICAL);
  const char* captions[4] = {"16*16 - 16*12", "32*32", "48*48", "128*128"};
  const int rows[4][4] = {{k_ic12, k_im12, k_ic16, k_im16}, {k_ic32, k_im32, k_icNB, k_imNB},
                          {k_ic48, k_im48, -1, -1}, {k_ic128, k_im128, -1, -1}};
  for (int r = 0; r < 4; ++r) {
    auto* box = new wxStaticBoxSizer(wxHORIZONTAL, tab_mac_, captions[r]);
    for (int s : rows[r]) {
      if (s < 0) continue;
      auto* v = new ImageView(box->GetStaticBox(), this, ImageRef{0, s},
                              wxSize(k_slot_info[s].width, k_slot_info[s].height));
      v->SetName(k_slot_info[s].name);
      views_.push_back(v);
      box->Add(v, 0, wxALL, 3);
    }
    row_boxes_.push_back(box);
    col->Add(box, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, 4);
  }
  tab_mac_->SetSizer(col);
  tab_pb_ = new wxPanel(pages_);
  pasteboard_ = new wxNotebook(tab_pb_, wxID_ANY);
  const char* pb[4] = {"16*16", "32*32", "48*48", "128*128"};
  for (int t = 0; t < 4; ++t) {
    auto* v = new ImageView(pasteboard_, this, ImageRef{1, t}, wxSize(k_pasteboard_width, k_pasteboard_height));
    views_.push_back(v);
    pasteboard_->AddPage(v, pb[t]);
  }
  auto* pbs = new wxBoxSizer(wxVERTICAL);
  pbs->Add(pasteboard_, 1, wxEXPAND);
  tab_pb_->SetSizer(pbs);
  tab_pal_ = new wxPanel(pages_);
  palettes_ = new wxNotebook(tab_pal_, wxID_ANY);
  draw_palettes();
  for (int t = 0; t < 3; ++t) {
    auto* v = new ImageView(palettes_, this, ImageRef{2, t}, wxSize(g_palettes[t].width, g_palettes[t].height));
    views_.push_back(v);
    palettes_->AddPage(v, "16");
  }
  auto* pls = new wxBoxSizer(wxVERTICAL);
  pls->Add(palettes_, 1, wxEXPAND);
  tab_pal_->SetSizer(pls);
  pages_->AddPage(tab_mac_, "Facetor");
  pages_->AddPage(tab_pb_, "Pasteboard");
  pages_->AddPage(tab_pal_, "Palettes");
  CreateStatusBar(1);
  build_menus();
  SetClientSize(342, 466);
  SetMinClientSize(wxSize(342, 466));
  Centre();
  help_ = new wxHtmlHelpController(wxHF_DEFAULT_STYLE, this);
  timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { script_step(); });
  pages_->Bind(wxEVT_NOTEBOOK_PAGE_CHANGED, &IconFrame::on_page, this);
  Bind(wxEVT_MENU, &IconFrame::on_menu, this);
  Bind(wxEVT_MENU_OPEN, &IconFrame::on_menu_open, this);
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& e) {
    save_language_choice(g_language_offset);
    e.Skip();
  });
  for (ImageView* v : views_)
    if (v->ref.kind == 0 && v->ref.index == k_ic128) select(v);
  fill_recent();
  load_captions();
}

void IconFrame::build_menus() {
  auto* file = new wxMenu;
  file->Append(id_import, "Import\tCtrl+I");
  auto* save = new wxMenu;
  auto* mac = new wxMenu;
  mac->Append(id_data_only, "Data Only");
  mac->Append(id_resource_only, "Resource Only");
  mac->Append(id_both_forks, "Both Forks");
  save->AppendSubMenu(mac, "Macintosh Icon");
  save->Append(id_windows_icon, "Windows Icon");
  file->Append(id_save, "Save...", save);
  file->AppendSeparator();
  file->Append(id_print_setup, "Printer Setup");
  file->Append(id_print, "Print\tCtrl+P");
  recent_menu_ = new wxMenu;
  for (int k = 0; k < 5; ++k) recent_menu_->Append(id_recent0 + k, " ");
  file->Append(id_reopen, "Reopen", recent_menu_);
  file->AppendSeparator();
  file->Append(id_quit, "Quit\tAlt+F4");
  auto* edit = new wxMenu;
  edit->Append(id_cut, "Cut\tCtrl+X");
  edit->Append(id_copy, "Copy\tCtrl+C");
  edit->Append(id_paste, "Paste\tCtrl+V");
  edit->AppendSeparator();
  edit->Append(id_all_masks, "Create All Masks");
  edit->Append(id_wipe, "Wipe Out\tCtrl+N");
  auto* opt = new wxMenu;
  auto* lang = new wxMenu;
  lang->AppendRadioItem(id_english, "English");
  lang->AppendRadioItem(id_french, "French");
  opt->Append(id_language, "Language...", lang);
  auto* help = new wxMenu;
  help->Append(id_help_topics, "Help Topics\tF1");
  help->Append(id_help_search, "Help Search");
  help->Append(id_help_index, "Help Index");
  help->Append(id_support, "On-Line Support");
  help->AppendSeparator();
  help->Append(id_about, "About Facetor");
  auto* bar = new wxMenuBar;
  bar->Append(file, "File");
  bar->Append(edit, "Edit");
  bar->Append(opt, "&Options");
  bar->Append(help, "&Help");
  SetMenuBar(bar);
}

void IconFrame::load_captions() {
  wxMenuBar* bar = GetMenuBar();
  bar->SetMenuLabel(0, T(7100));
  bar->SetMenuLabel(1, T(7141));
  bar->SetMenuLabel(2, T(7161));
  bar->SetMenuLabel(3, T(7167));
  struct Cap { int id, text, hint; const char* accel; };
  const Cap caps[] = {
      {id_import, 7102, 7103, "\tCtrl+I"}, {id_save, 7104, 7105, ""}, {id_quit, 7106, 7107, "\tAlt+F4"},
      {id_print, 7108, 7109, "\tCtrl+P"}, {id_print_setup, 7110, 7111, ""}, {id_reopen, 7112, 7113, ""},
      {id_windows_icon, 7115, 0, ""}, {id_data_only, 7116, 0, ""}, {id_resource_only, 7117, 0, ""},
      {id_both_forks, 7118, 0, ""}, {id_cut, 7143, 7146, "\tCtrl+X"}, {id_copy, 7144, 7147, "\tCtrl+C"},
      {id_paste, 7145, 7148, "\tCtrl+V"}, {id_all_masks, 7149, 7152, ""}, {id_wipe, 7151, 7154, "\tCtrl+N"},
      {id_language, 7162, 7164, ""}, {id_english, 7165, 0, ""}, {id_french, 7166, 0, ""},
      {id_help_topics, 7169, 7174, "\tF1"}, {id_help_search, 7171, 7176, ""}, {id_help_index, 7172, 7177, ""},
      {id_support, 7170, 7175, ""}, {id_about, 7168, 0, ""},
  };
  for (const Cap& c : caps) {
    if (wxMenuItem* it = bar->FindItem(c.id)) {
      it->SetItemLabel(T(c.text) + c.accel);
      it->SetHelp(c.hint ? H(c.hint) : wxString());
    }
  }
  // The "Macintosh Icon" submenu item has no id of its own: find it by position.
  if (wxMenuItem* save = bar->FindItem(id_save))
    if (wxMenu* sub = save->GetSubMenu()) sub->FindItemByPosition(0)->SetItemLabel(T(7114));
  pages_->SetPageText(0, T(7155));
  pages_->SetPageText(1, T(7156));
  pages_->SetPageText(2, T(7157));
  palettes_->SetPageText(0, T(7158));
  palettes_->SetPageText(1, T(7159));
  palettes_->SetPageText(2, T(7160));
  bar->Check(g_language_offset ? id_french : id_english, true);
  SetTitle("Facetor");
}

void IconFrame::fill_recent() {
  std::vector<std::string> files = read_recent_files();
  for (int k = 0; k < 5; ++k) {
    wxMenuItem* it = recent_menu_->FindItem(id_recent0 + k);
    if (k < int(files.size())) {
      it->SetItemLabel(wxString::Format("%d. ", k + 1) + wxString::FromUTF8(files[size_t(k)]));
      it->Enable(true);
    } else {
      it->SetItemLabel(wxString::Format("%d.", k + 1));
      it->Enable(false);
    }
  }
  GetMenuBar()->Enable(id_reopen, !files.empty());
}

void IconFrame::refresh_all() {
  for (ImageView* v : views_) v->Refresh();
}

void IconFrame::select(ImageView* v) {
  if (selected_) {
    selected_->selected = false;
    selected_->Refresh();
  }
  selected_ = v;
  v->selected = true;
  v->Refresh();
}

void IconFrame::open_file(const std::string& path) {
  SetStatusText(wxString::FromUTF8(path));
  (void)open_icon_file(g_family, path);  // the kind read; every failure is said by open_icon_file
  fill_recent();
  refresh_all();
}

ImageView* IconFrame::target(bool from_popup) {
  if (from_popup && popup_view_) return popup_view_;
  int page = pages_->GetSelection();
  if (page == 1) return views_[size_t(k_slot_count + pasteboard_->GetSelection())];
  if (page == 2) return views_[size_t(k_slot_count + 4 + palettes_->GetSelection())];
  return selected_;
}

void IconFrame::popup(ImageView* v, wxPoint at) {
  popup_view_ = v;
  bool has = mark_of(v->ref) != 0 || v->ref.kind == 2;
  bool on_mac = v->ref.kind == 0;
  wxMenu m;
  m.Append(id_pcut, T(7143))->Enable(has && on_mac);
  m.Append(id_pcopy, T(7144))->Enable(has);
  m.Append(id_ppaste, T(7145))->Enable(on_mac && wxTheClipboard->IsSupported(wxDF_BITMAP));
  m.AppendSeparator();
  auto* depth = new wxMenu;
  depth->AppendCheckItem(id_b32, T(7137));
  depth->AppendCheckItem(id_b8, T(7138));
  depth->AppendCheckItem(id_b4, T(7139));
  depth->AppendCheckItem(id_b1, T(7140));
  int mark = mark_of(v->ref);
  depth->Check(mark == 1 ? id_b1 : mark == 2 ? id_b4 : mark == 3 ? id_b8 : id_b32, true);
  m.AppendSubMenu(depth, T(7136))->Enable(has && on_mac);
  auto* rot = new wxMenu;
  rot->Append(id_r180, T(7125));
  rot->Append(id_r90g, T(7126));
  rot->Append(id_r90d, T(7127));
  rot->Append(id_flip_h, T(7128));
  rot->Append(id_flip_v, T(7129));
  m.AppendSubMenu(rot, T(7124))->Enable(has && on_mac);  // slots are square
  m.Append(id_colours, T(7130))->Enable(has);
  auto* pm = new wxMenu;
  pm->Append(id_mult, T(7132));
  pm->Append(id_demult, T(7133));
  m.AppendSubMenu(pm, T(7131))->Enable(on_mac && mark == k_code_32bit);
  auto* save = new wxMenu;
  save->Append(id_s_bmp, T(7121));
  save->Append(id_s_jpg, T(7120));
  save->Append(id_s_icns, T(7122));
  save->Append(id_s_res, T(7134));
  save->Append(id_s_custom, T(7135));
  save->Append(id_s_ico, T(7123));
  bool custom = on_mac && (v->ref.index == k_ic32 || v->ref.index == k_ic48) && g_family.slots[k_ic32].filled() &&
                g_family.slots[k_ic48].filled();
  save->Enable(id_s_custom, custom);
  int w = image_of(v->ref)->width;
  bool icns_size = on_mac && (w == 16 || w == 32 || w == 48 || w == 128) && v->ref.index != k_ic12 &&
                   v->ref.index != k_im12;
  save->Enable(id_s_icns, icns_size);
  save->Enable(id_s_res, icns_size);
  m.AppendSubMenu(save, T(7119))->Enable(has);
  int s = v->ref.index;
  bool mask_ok = on_mac && (((s == k_ic12 || s == k_ic16 || s == k_ic32 || s == k_ic48) && mark) ||
                            s == k_im12 || s == k_im16 || s == k_im32 || s == k_im48);
  m.Append(id_pmask, T(7150))->Enable(mask_ok);
  PopupMenu(&m, v->GetPosition() + at);
}

std::string IconFrame::ask_save(int title, const char* ext, const char* name, int filter, const char* appended) {
  char folder[512];
  read_work_folder(folder);
  wxFileDialog d(this, T(title), wxString::FromUTF8(folder), name, T(filter), wxFD_SAVE);
  if (d.ShowModal() != wxID_OK) return {};
  // The question names the file the command will write.
  std::string path = save_target(d.GetPath().utf8_string(), ext, appended);
  if (wxFileExists(wxString::FromUTF8(path)) && !ask_yes_no(icon_text(k_txt_overwrite, path))) return {};
  return path;
}

void IconFrame::write_out(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (path.empty() || bytes.empty()) return;
  (void)write_icon_file(path, bytes);  // a failure is said by write_icon_file, the old file kept
}

void IconFrame::open_address(int text_id) {
  std::string address = ui_text(text_id);
  if (open_with_desktop(address) != 0) show_message(icon_text(k_txt_no_opener, address));
}

void IconFrame::run_about() {
  char version[64] = "";
  get_module_version(version, sizeof version);
  wxDialog d(this, wxID_ANY, T(7168));
  d.SetName("About");
  auto* s = new wxBoxSizer(wxVERTICAL);
  s->Add(new wxStaticText(&d, wxID_ANY, T(7178), wxDefaultPosition, wxDefaultSize, wxALIGN_CENTRE_HORIZONTAL), 0,
         wxALL | wxALIGN_CENTRE, 12);
  s->Add(new wxStaticText(&d, wxID_ANY, T(7179) + version), 0, wxALL | wxALIGN_CENTRE, 6);
  auto* links = new wxBoxSizer(wxHORIZONTAL);
  auto* mail = new wxButton(&d, wxID_ANY, T(7180));
  auto* web = new wxButton(&d, wxID_ANY, T(7181));
  mail->SetName("Mail");
  web->SetName("Web");
  links->Add(mail, 0, wxALL, 4);
  links->Add(web, 0, wxALL, 4);
  s->Add(links, 0, wxALIGN_CENTRE | wxLEFT | wxRIGHT, 8);
  auto* foot = new wxBoxSizer(wxHORIZONTAL);
  auto* help = new wxButton(&d, wxID_HELP, "?", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
  help->SetName("Help");
  help->SetToolTip(T(k_txt_help_tooltip));
  // Announced by what it does: "?" alone says nothing to a screen reader.
  set_accessible_name(help, wxStripMenuCodes(T(7167)));
  auto* ok = new wxButton(&d, wxID_OK, T(7182));
  ok->SetDefault();
  foot->Add(help, 0, wxALL, 4);
  foot->AddStretchSpacer();
  foot->Add(ok, 0, wxALL, 4);
  s->Add(foot, 0, wxEXPAND | wxALL, 8);
  mail->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { open_address(k_txt_mail_address); });
  web->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { open_address(k_txt_web_address); });
  // The help button, F1 and a right click all open the box's own topic.
  auto about_help = [this] { show_topic(k_about_topic); };
  help->Bind(wxEVT_BUTTON, [about_help](wxCommandEvent&) { about_help(); });
  d.Bind(wxEVT_HELP, [about_help](wxHelpEvent&) { about_help(); });
  // Not every toolkit makes F1 a help request: the key itself, wherever the focus is in the box.
  d.Bind(wxEVT_CHAR_HOOK, [about_help](wxKeyEvent& e) {
    if (e.GetKeyCode() == WXK_F1 && !e.HasAnyModifiers()) about_help();
    else e.Skip();
  });
  d.Bind(wxEVT_CONTEXT_MENU, [about_help](wxContextMenuEvent&) { about_help(); });
  d.SetSizerAndFit(s);
  d.Centre();
  about_ = &d;
  if (!script_.empty()) CallAfter([this] { script_step(); });
  d.ShowModal();
  about_ = nullptr;
  if (!script_.empty()) CallAfter([this] { script_step(); });
}

void IconFrame::set_language(int offset) {
  if (g_language_offset != offset) g_language_offset = offset;
  load_captions();
  Layout();
}

// The toolkit's own texts (the help window's tabs and buttons) in the
// language of the program's texts; installed, its catalogue lies in the data
// folder.
void apply_toolkit_language(int language_offset) {
  static bool looked = false;
  if (!looked) {
    looked = true;
    std::string data = installed_data_folder();
    if (!data.empty()) wxFileTranslationsLoader::AddCatalogLookupPathPrefix(wxString::FromUTF8(data + "/locale"));
  }
  auto* translations = new wxTranslations;
  translations->SetLanguage(language_offset == 10000 ? wxLANGUAGE_FRENCH : wxLANGUAGE_ENGLISH_US);
  translations->AddStdCatalog();
  wxTranslations::Set(translations);
}

void IconFrame::open_help() {
  apply_toolkit_language(g_language_offset);
  wxFileName exe(wxStandardPaths::Get().GetExecutablePath());
  wxString folder = exe.GetPath();
  // Beside the program in the build tree, in the data folder once installed.
  std::string data = installed_data_folder();
  if (!wxFileName::DirExists(folder + "/facetor_help") && !data.empty()) folder = wxString::FromUTF8(data);
  wxString book = folder + "/facetor_help/" + (g_language_offset ? "fr" : "en") + "/facetor.hhp";
  delete help_;
  help_ = new wxHtmlHelpController(wxHF_DEFAULT_STYLE, this);
  // The tabs of the contents side take their French captions whole.
  static wxStringInputStream layout("[Help]\nhcSashPos=330\nhcW=800\nhcH=500\n");
  static wxFileConfig help_layout(layout);
  help_->UseConfig(&help_layout, "Help");
  help_->AddBook(wxFileName(book));
  help_book_ = book;
}

// The book asks by page: its project file says which page a topic number is.
void IconFrame::show_topic(int topic) {
  open_help();
  std::ifstream in(help_book_.utf8_string());
  std::stringstream text;
  text << in.rdbuf();
  std::string page = help_page_for_topic(text.str(), topic + g_language_offset);
  if (page.empty()) help_->DisplayContents();
  else help_->Display(wxString::FromUTF8(page));
}

// The help window (its frame).
wxTopLevelWindow* IconFrame::help_frame() {
  if (!help_ || !help_->GetHelpWindow()) return nullptr;
  return dynamic_cast<wxTopLevelWindow*>(wxGetTopLevelParent(help_->GetHelpWindow()));
}

// The family's save commands write pictures: with none to write, they say so
// and write nothing (no file is asked for).
bool IconFrame::refuse_empty_save() {
  if (family_has_saved_picture(g_family)) return false;
  show_message(ui_text(k_txt_nothing_to_save));
  return true;
}

// Data Only, Resource Only, Both Forks and Windows Icon: into path, or the file
// the Save dialog gives when path is empty.
void IconFrame::save_family(int id, std::string path) {
  if (refuse_empty_save()) return;
  switch (id) {
    case id_data_only:
      if (path.empty()) path = ask_save(7185, "icns", "*.icns", 7186);
      write_out(path, build_icns(g_family));
      return;
    case id_resource_only:
      if (path.empty()) path = ask_save(7187, "bin", "*.bin", 7189);
      write_out(path, build_resource_only_file(g_family));
      return;
    case id_both_forks:
      if (path.empty()) path = ask_save(7188, "bin", "*.bin", 7189);
      write_out(path, build_both_forks_file(g_family));
      return;
    default:
      if (path.empty()) path = ask_save(7193, "ico", "*.ico", 7194);
      write_out(path, write_ico_family(g_family));
      return;
  }
}

wxBitmap IconFrame::window_image() { return grab(this); }

// A window as it is on screen, its menu and status bars included.
wxBitmap grab(wxWindow* w) {
  w->Update();
  return grab_screen(w->GetScreenRect());
}

class WindowPrintout : public wxPrintout {
 public:
  explicit WindowPrintout(const wxBitmap& b) : wxPrintout("Facetor"), bmp_(b) {}
  bool OnPrintPage(int) override {
    wxDC* dc = GetDC();
    int pw, ph;
    GetPageSizePixels(&pw, &ph);
    int scale = (pw - 400) / (bmp_.GetWidth() ? bmp_.GetWidth() : 1);
    if (scale < 1) scale = 1;
    wxImage img = bmp_.ConvertToImage().Scale(bmp_.GetWidth() * scale, bmp_.GetHeight() * scale);
    dc->DrawBitmap(wxBitmap(img), 200, 200);
    return true;
  }
  bool HasPage(int page) override { return page == 1; }
  void GetPageInfo(int* a, int* b, int* c, int* d) override { *a = *c = 1; *b = *d = 1; }

 private:
  wxBitmap bmp_;
};

void IconFrame::on_menu_open(wxMenuEvent& e) {
  wxMenuBar* bar = GetMenuBar();
  bool mac = pages_->GetSelection() == 0;
  bool any = any_slot_filled(g_family);
  bar->Enable(id_save, mac && any);
  bar->Enable(id_cut, mac && selected_);
  bar->Enable(id_copy, pages_->GetSelection() != 0 || selected_);
  bar->Enable(id_paste, mac && wxTheClipboard->IsSupported(wxDF_BITMAP));
  bar->Enable(id_all_masks, mac && any);
  int page = pages_->GetSelection();
  bar->Enable(id_wipe, (mac && any) || (page == 1 && g_family.pasteboard[pasteboard_->GetSelection()].mark != 0));
  bar->Check(g_language_offset ? id_french : id_english, true);
  e.Skip();
}

void IconFrame::on_page(wxBookCtrlEvent& e) {
  if (e.GetEventObject() == pages_ && e.GetSelection() == 2) draw_palettes();
  refresh_all();
  e.Skip();
}

// The slot an image view shows, or -1 for a pasteboard or palette picture.
int slot_of(const ImageView* v) { return v && v->ref.kind == 0 ? v->ref.index : -1; }

// Import: a file chosen from the work folder (else the current one) is opened.
void IconFrame::import_command() {
  char folder[512];
  read_work_folder(folder);
  wxString start = folder[0] ? wxString::FromUTF8(folder) : wxString::FromUTF8(current_folder());
  wxFileDialog d(this, T(7183), start, "", T(7184), wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (d.ShowModal() != wxID_OK) return;
  remember_work_folder(d.GetPath().utf8_string().c_str());
  open_file(d.GetPath().utf8_string());
}

// Cut and Copy: the image over white to the clipboard, a cut slot emptied.
void IconFrame::copy_command(ImageView* t, bool cut) {
  if (!t || (mark_of(t->ref) == 0 && t->ref.kind != 2)) return;
  if (wxTheClipboard->Open()) {
    wxTheClipboard->SetData(new wxBitmapDataObject(bitmap_over_white(*image_of(t->ref))));
    wxTheClipboard->Close();
  }
  if (cut && slot_of(t) >= 0) clear_slot(g_family, slot_of(t));
  refresh_all();
}

// Paste: the clipboard's picture blended onto the slot, and kept on the pasteboard.
void IconFrame::paste_command(ImageView* t) {
  if (slot_of(t) < 0 || !wxTheClipboard->Open()) return;
  wxBitmapDataObject obj;
  if (wxTheClipboard->GetData(obj)) {
    wxImage img = obj.GetBitmap().ConvertToImage();
    Picture p;
    p.code = k_code_pasted;
    p.image = make_image(img.GetWidth(), img.GetHeight(), 0xFFFFFFFF);
    for (int y = 0; y < img.GetHeight(); ++y)
      for (int x = 0; x < img.GetWidth(); ++x)
        set_pixel(p.image, x, y, uint32_t(img.GetRed(x, y)) << 16 | uint32_t(img.GetGreen(x, y)) << 8 | img.GetBlue(x, y),
                  img.HasAlpha() ? img.GetAlpha(x, y) : 255);
    Slot& s = g_family.slots[slot_of(t)];
    blend_onto(s.picture, p.image, 0, 0, false);
    s.mark = k_code_pasted;
    append_to_pasteboard(g_family, p);
  }
  wxTheClipboard->Close();
  refresh_all();
}

// Operations on the popup's image: turns, depths and alpha change a slot's
// picture; the saves write what a slot shows with the masks of its row.
void IconFrame::image_command(int id, ImageView* t) {
  int s = slot_of(t);
  if (!t) return;
  IconImage& img = *image_of(t->ref);
  // What a save command writes: a slot's picture with the masks of its row.
  IconImage saved = s >= 0 ? picture_to_save(g_family, s) : img;
  switch (id) {
    case id_r180: case id_r90g: case id_r90d: case id_flip_h: case id_flip_v:
      if (s >= 0 && img.width == img.height) {
        ImageTurn turn = id == id_r180 ? k_turn_180 : id == id_r90g ? k_turn_left : id == id_r90d ? k_turn_right
                         : id == id_flip_h ? k_flip_horizontal : k_flip_vertical;
        img = transform_image(img, turn);
      }
      break;
    case id_colours: show_message(format_text(ui_text(k_txt_colour_count).c_str(), count_colours(img))); break;
    case id_mult: if (s >= 0) img = premultiply_alpha(img); break;
    case id_demult: if (s >= 0) img = unpremultiply_alpha(img); break;
    case id_b32: case id_b8: case id_b4: case id_b1:
      if (s >= 0) img = convert_depth(img, id == id_b32 ? 7 : id == id_b8 ? 3 : id == id_b4 ? 2 : 1);
      break;
    case id_s_bmp: write_out(ask_save(7197, "bmp", "*.bmp", 7198), write_bmp(saved, mark_of(t->ref))); break;
    case id_s_jpg: write_out(ask_save(7195, "jpg", "*.jpg;*.jpeg", 7196), encode_jpeg(saved)); break;
    case id_s_icns: write_out(ask_save(7185, "icns", "*.icns", 7186), build_single_icns(saved)); break;
    case id_s_res: write_out(ask_save(7190, "icns", "*.icns", 7186, ".bin"), build_single_resource_file(saved)); break;
    case id_s_custom: write_out(ask_save(7191, "bin", "*.bin", 7192), build_custom_icon_file(g_family)); break;
    case id_s_ico: write_out(ask_save(7193, "ico", "*.ico", 7194), write_ico_single(saved)); break;
    default: break;
  }
  refresh_all();
}

void IconFrame::on_menu(wxCommandEvent& e) {
  int id = e.GetId();
  bool from_popup = id >= id_pcut;
  if (id >= id_recent0 && id < id_recent0 + 5) {
    wxString label = recent_menu_->FindItem(id)->GetItemLabelText();
    open_file(label.AfterFirst(' ').utf8_string());
    return;
  }
  ImageView* t = target(from_popup);
  switch (id) {
    case id_import: import_command(); return;
    case id_data_only: case id_resource_only: case id_both_forks: case id_windows_icon: save_family(id, ""); return;
    case id_print_setup: {
      wxPrintDialogData data(print_data_);
      wxPrintDialog d(this, &data);
      if (d.ShowModal() == wxID_OK) print_data_ = d.GetPrintDialogData().GetPrintData();
      return;
    }
    case id_print: {
      print_data_.SetOrientation(wxPORTRAIT);
      wxPrintDialogData data(print_data_);
      wxPrinter printer(&data);
      WindowPrintout out(window_image());
      printer.Print(this, &out, true);
      return;
    }
    case id_quit: Close(); return;
    case id_cut: case id_pcut: case id_copy: case id_pcopy: copy_command(t, id == id_cut || id == id_pcut); return;
    case id_paste: case id_ppaste: paste_command(t); return;
    case id_all_masks: create_all_masks(g_family); refresh_all(); return;
    case id_pmask: {
      int s = slot_of(t);
      int icon = (s == k_im12 || s == k_im16 || s == k_im32 || s == k_im48) ? s - 1 : s;
      create_mask(g_family, icon, icon + 1);
      refresh_all();
      return;
    }
    case id_wipe:
      if (pages_->GetSelection() == 0) clear_all_slots(g_family);
      else reset_pasteboard(g_family);
      refresh_all();
      return;
    case id_english: set_language(0); return;
    case id_french: set_language(10000); return;
    case id_help_topics: show_topic(k_contents_topic); return;
    case id_help_search: open_help(); help_->KeywordSearch("Pondrel"); return;
    case id_help_index: open_help(); help_->DisplayIndex(); return;
    case id_support: open_address(k_txt_support_address); return;
    case id_about: run_about(); return;
    default: image_command(id, t); return;
  }
}

// Test scripts: one command a line, run once the window shows.
void IconFrame::run_script(const std::string& path) {
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) script_.push_back(line);
  CallAfter([this] { script_step(); });
}

// The window's picture into path, and beside it (path.probe) what each slot
// shows: its name, mark, pixels that are not white and the colour at its centre.
void IconFrame::save_window_shot(const std::string& path) {
  wxBitmap bmp = window_image();
  bmp.SaveFile(wxString::FromUTF8(path), wxBITMAP_TYPE_PNG);
  wxImage img = bmp.ConvertToImage();
  std::ofstream out(path + ".probe");
  for (ImageView* v : views_) {
    if (v->ref.kind != 0) continue;
    wxPoint o = v->ClientToScreen(wxPoint(4, 4)) - GetScreenRect().GetTopLeft();
    const SlotInfo& si = k_slot_info[v->ref.index];
    int nonwhite = 0;
    for (int y = 0; y < si.height; ++y)
      for (int x = 0; x < si.width; ++x) {
        int px = o.x + x, py = o.y + y;
        if (px < 0 || py < 0 || px >= img.GetWidth() || py >= img.GetHeight()) continue;
        if (img.GetRed(px, py) != 255 || img.GetGreen(px, py) != 255 || img.GetBlue(px, py) != 255) ++nonwhite;
      }
    int cx = o.x + si.width / 2, cy = o.y + si.height / 2;
    char rgb[8] = "------";
    if (cx >= 0 && cy >= 0 && cx < img.GetWidth() && cy < img.GetHeight())
      std::snprintf(rgb, sizeof rgb, "%02X%02X%02X", img.GetRed(cx, cy), img.GetGreen(cx, cy), img.GetBlue(cx, cy));
    out << si.name << " " << g_family.slots[v->ref.index].mark << " " << nonwhite << " " << rgb << "\n";
  }
}

// The menus' captions and hints, and the tabs', into path.
void IconFrame::save_menu_texts(const std::string& path) {
  std::ofstream out(path);
  wxMenuBar* bar = GetMenuBar();
  for (size_t m = 0; m < bar->GetMenuCount(); ++m) {
    out << "menu " << bar->GetMenuLabelText(m).utf8_string() << "\n";
    for (wxMenuItem* it : bar->GetMenu(m)->GetMenuItems())
      if (!it->IsSeparator()) out << "item " << it->GetItemLabelText().utf8_string() << "|" << it->GetHelp().utf8_string() << "\n";
  }
  for (size_t p = 0; p < pages_->GetPageCount(); ++p) out << "tab " << pages_->GetPageText(p).utf8_string() << "\n";
}

// What the help window shows: its page's name and text, as the window has them.
void IconFrame::save_help_text(const std::string& path) {
  std::ofstream out(path);
  wxTopLevelWindow* frame = help_frame();
  if (frame && frame->IsShown() && help_->GetHelpWindow()->GetHtmlWindow()) {
    wxHtmlWindow* html = help_->GetHelpWindow()->GetHtmlWindow();
    out << "page " << wxFileName(html->GetOpenedPage()).GetFullName().utf8_string() << "\n"
        << "title " << html->GetOpenedPageTitle().utf8_string() << "\n"
        << html->ToText().utf8_string() << "\n";
  }
}

// F1 as a person presses it: through the X server, to the window under the pointer.
void IconFrame::press_f1() {
  wxWindow* over = about_ ? static_cast<wxWindow*>(about_) : this;
  over->Raise();
  over->SetFocus();
  wxUIActionSimulator sim;
  sim.MouseMove(over->GetScreenRect().GetPosition() + wxPoint(20, 40));
  wxYield();
  sim.Char(WXK_F1);
}

void IconFrame::script_step() {
  if (script_at_ >= script_.size()) return;
  std::string line = script_[script_at_++];
  std::string cmd = line.substr(0, line.find(' ')), arg = line.find(' ') == std::string::npos ? "" : line.substr(line.find(' ') + 1);
  if (cmd == "open") {
    open_file(arg);
  } else if (cmd == "lang") {
    set_language(arg == "fr" ? 10000 : 0);
  } else if (cmd == "wipe") {
    clear_all_slots(g_family);
    refresh_all();
  } else if (cmd == "page") {
    pages_->SetSelection(size_t(std::stoi(arg)));
  } else if ((cmd == "shot" || cmd == "shot-help") && !capture_due_) {
    // Let the window paint on screen first.
    --script_at_;
    capture_due_ = true;
    timer_.StartOnce(400);
    return;
  } else if (cmd == "shot" && about_) {
    capture_due_ = false;
    grab(about_).SaveFile(wxString::FromUTF8(arg), wxBITMAP_TYPE_PNG);
  } else if (cmd == "shot") {
    capture_due_ = false;
    save_window_shot(arg);
  } else if (cmd == "menus") {
    save_menu_texts(arg);
  } else if (cmd == "recent") {
    std::ofstream out(arg);
    for (int k = 0; k < 5; ++k) {
      wxMenuItem* it = recent_menu_->FindItem(id_recent0 + k);
      if (it->IsEnabled()) out << it->GetItemLabelText().utf8_string() << "\n";
    }
  } else if (cmd == "save-icns") {
    save_family(id_data_only, arg);
  } else if (cmd == "save-ico") {
    save_family(id_windows_icon, arg);
  } else if (cmd == "save-bin") {
    save_family(id_both_forks, arg);
  } else if (cmd == "key" && arg == "F1") {
    press_f1();
    // The window opens once the key is handled.
    timer_.StartOnce(600);
    return;
  } else if (cmd == "help-text") {
    save_help_text(arg);
  } else if (cmd == "shot-help") {
    capture_due_ = false;
    if (wxTopLevelWindow* frame = help_frame()) grab(frame).SaveFile(wxString::FromUTF8(arg), wxBITMAP_TYPE_PNG);
  } else if (cmd == "close-help") {
    if (wxTopLevelWindow* frame = help_frame()) frame->Close(true);
    // It is destroyed when the program is idle: the script goes on once it is gone.
    timer_.StartOnce(400);
    return;
  } else if (cmd == "about") {
    run_about();  // the script goes on inside the box
    return;
  } else if (cmd == "click" && about_) {
    // A button of the About box, by its name.
    // The script goes on first: what the button opens may run modally.
    CallAfter([this] { script_step(); });
    if (auto* b = dynamic_cast<wxButton*>(about_->FindWindow(wxString::FromUTF8(arg)))) {
      wxCommandEvent click(wxEVT_BUTTON, b->GetId());
      click.SetEventObject(b);
      b->GetEventHandler()->ProcessEvent(click);
    }
    return;
  } else if (cmd == "close-about" && about_) {
    about_->EndModal(wxID_OK);  // the script goes on once the box is gone
    return;
  } else if (cmd == "support") {
    wxCommandEvent e(wxEVT_MENU, id_support);
    on_menu(e);
  } else if (cmd == "quit") {
    Close(true);
    return;
  }
  CallAfter([this] { script_step(); });
}

void message_to_form(const std::string& text) { show_message(text); }

class FacetorApp : public wxApp {
 public:
  bool OnInit() override {
    wxInitAllImageHandlers();
    init_icon_settings();
    g_language_offset = detect_language_offset();
    g_language_offset = read_language_choice();
    g_icon_message = message_to_form;
    auto* f = new IconFrame;
    wxIconBundle icons;  // the installed program's own icon, at each size it comes in
    for (const std::string& file : installed_icon_files("facetor")) icons.AddIcon(wxString::FromUTF8(file));
    if (!icons.IsEmpty()) f->SetIcons(icons);
    f->Show();
    for (int i = 1; i + 1 < argc; ++i)
      if (argv[i] == "--script") f->run_script(argv[i + 1].utf8_string());
    return true;
  }
};

}  // namespace

wxIMPLEMENT_APP(FacetorApp);
