#include "gui/forms/messageforms.h"

#include <dlfcn.h>

#include <wx/artprov.h>
#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/filename.h>
#include <wx/html/helpctrl.h>
#include <wx/intl.h>
#include <wx/toolbar.h>
#include <wx/treectrl.h>
#include <wx/tooltip.h>
#include <wx/translation.h>
#include <wx/weakref.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/stdpaths.h>
#include <wx/utils.h>

#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "gui/compile/progresslogic.h"
#include "gui/forms/accessibility.h"
#include "gui/forms/tr.h"
#include "gui/menumodel.h"
#include "platform/files.h"

std::function<void(wxDialog&)> g_modal_driver;
int g_modal_depth = 0;

namespace {
// The forms shown modally, innermost last.
std::vector<wxDialog*> g_modal_stack;
}  // namespace

namespace {

wxHtmlHelpController* g_help = nullptr;
int g_help_language = -1;  // the language offset the help window was made in

// The toolkit's own texts (the help window's tabs and buttons, the stock
// dialogs) in the language of the string table.
void apply_toolkit_language(int language_offset) {
  // Installed, the toolkit's catalogues come with the program too.
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

}  // namespace

// GTK hides a tooltip as the pointer leaves its widget, and shows it again as
// the pointer crosses into it, which a form opening or closing over the widget
// does too: a tooltip of the window under a form floats over the form, and
// one of a form that closes may stay. The toolkit offers no call that hides a
// tooltip, so its tooltip windows are found among its top-level windows and
// hidden; the next time the pointer rests on a widget its tooltip shows again.
void hide_shown_tooltips() {
  struct GList {
    void* data;
    GList* next;
    GList* prev;
  };
  using Toplevels = GList* (*)();
  using OfWindow = int (*)(void*);
  using Act = void (*)(void*);
  using FreeList = void (*)(GList*);
  static const auto toplevels = reinterpret_cast<Toplevels>(dlsym(RTLD_DEFAULT, "gtk_window_list_toplevels"));
  static const auto type_hint = reinterpret_cast<OfWindow>(dlsym(RTLD_DEFAULT, "gtk_window_get_type_hint"));
  static const auto hide = reinterpret_cast<Act>(dlsym(RTLD_DEFAULT, "gtk_widget_hide"));
  static const auto free_list = reinterpret_cast<FreeList>(dlsym(RTLD_DEFAULT, "g_list_free"));
  constexpr int k_tooltip_hint = 10;  // GDK_WINDOW_TYPE_HINT_TOOLTIP
  if (!toplevels || !type_hint || !hide || !free_list) return;
  GList* all = toplevels();
  for (GList* l = all; l; l = l->next)
    if (l->data && type_hint(l->data) == k_tooltip_hint) hide(l->data);
  free_list(all);
}

namespace {

// The tooltips of the windows a modal form covers, taken off while it is up
// and given back once it has closed.
class CoveredTooltips {
 public:
  explicit CoveredTooltips(const wxWindow& form) {
    for (wxWindow* top : wxTopLevelWindows)
      if (top != &form) take(top);
    hide_shown_tooltips();
  }
  ~CoveredTooltips() {
    hide_shown_tooltips();
    for (auto it = tools_.rbegin(); it != tools_.rend(); ++it)
      if (wxWindow::FindWindowById(it->bar->GetId()) == it->bar) it->bar->SetToolShortHelp(it->id, it->text);
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) it->window->SetToolTip(it->text);
  }

 private:
  struct Tool {
    wxToolBar* bar;
    int id;
    wxString text;
  };
  struct Window {
    wxWindowRef window;  // null once the window is gone
    wxString text;
  };
  void take(wxWindow* w) {
    if (auto* bar = dynamic_cast<wxToolBar*>(w)) {
      for (size_t i = 0; i < bar->GetToolsCount(); ++i) {
        const wxToolBarToolBase* tool = bar->GetToolByPos(int(i));
        if (!tool || tool->GetShortHelp().empty()) continue;
        tools_.push_back({bar, tool->GetId(), tool->GetShortHelp()});
        bar->SetToolShortHelp(tool->GetId(), wxString());
      }
    }
    if (wxToolTip* tip = w->GetToolTip()) {
      // A tree's tooltip is the name of the item the pointer was on (a name
      // cut by the tree's width): it is made again as the pointer moves over
      // an item, and given back it would float wherever the pointer is now.
      if (!dynamic_cast<wxTreeCtrl*>(w)) windows_.push_back({wxWindowRef(w), tip->GetTip()});
      w->UnsetToolTip();
    }
    for (wxWindow* child : w->GetChildren())
      if (!child->IsTopLevel()) take(child);  // a form is its owner's child too; each top level is taken on its own
  }
  std::vector<Tool> tools_;
  std::vector<Window> windows_;
};

}  // namespace

int run_modal(wxDialog& dialog) {
  bool busy = wxIsBusy();
  if (busy) wxEndBusyCursor();
  CoveredTooltips covered(dialog);
  ++g_modal_depth;
  g_modal_stack.push_back(&dialog);
  if (g_modal_driver) dialog.CallAfter([&dialog] {
      if (g_modal_driver && dialog.IsModal()) g_modal_driver(dialog);
    });
  int result = dialog.ShowModal();
  g_modal_stack.pop_back();
  --g_modal_depth;
  if (busy) wxBeginBusyCursor();
  return result;
}

namespace {

// The help book in the interface's language, loaded at its first use; null
// (reported) when it is missing.
wxHtmlHelpController* help_book() {
  if (g_help && g_help_language != g_language_offset) {
    // Made in the other language: its own texts are fixed when it is made, so
    // it is closed and made again in this one.
    g_help->Quit();
    apply_toolkit_language(g_language_offset);
    g_help_language = g_language_offset;
  }
  if (!g_help) {
    apply_toolkit_language(g_language_offset);
    g_help_language = g_language_offset;
    // The book lies beside the program (gui/help in the build tree, which
    // the test programs one folder over reach through "../gui/help").
    wxFileName book(wxStandardPaths::Get().GetExecutablePath());
    book.AppendDir("help");
    book.SetFullName("corvane.hhp");
    if (!book.FileExists()) {
      book.RemoveLastDir();
      book.RemoveLastDir();
      book.AppendDir("gui");
      book.AppendDir("help");
    }
    // Installed, the book is in the data folder (<prefix>/share/corvane/help).
    std::string data = installed_data_folder();
    if (!book.FileExists() && !data.empty()) book.Assign(wxString::FromUTF8(data + "/help/corvane.hhp"));
    if (!book.FileExists()) {
      report_open_error(book.GetFullPath().utf8_string().c_str());
      return nullptr;
    }
    g_help = new wxHtmlHelpController(wxHF_DEFAULT_STYLE);
    g_help->AddBook(book);
  }
  return g_help;
}

}  // namespace

void show_help_topic(int topic) {
  if (wxHtmlHelpController* help = help_book())
    help->Display(wxString::Format("t%d.html", help_topic(topic, g_language_offset)));
}

void show_help_index() {
  if (wxHtmlHelpController* help = help_book()) help->DisplayIndex();
}

void show_help_search(const std::string& text) {
  if (wxHtmlHelpController* help = help_book()) help->KeywordSearch(wxString::FromUTF8(text));
}

std::string shown_help_page() {
  if (!g_help || !g_help->GetHelpWindow() || !g_help->GetHelpWindow()->GetHtmlWindow()) return "";
  return g_help->GetHelpWindow()->GetHtmlWindow()->GetOpenedPage().utf8_string();
}

wxWindow* add_help_button(wxDialog& form, int topic) {
  auto* help = new wxBitmapButton(&form, wxID_HELP, wxArtProvider::GetBitmap(wxART_HELP, wxART_BUTTON));
  help->SetToolTip(tr(2329));
  set_accessible_name(help, tr(2329));  // announced by what it does, as its tooltip says
  help->SetName("Aide");
  help->Bind(wxEVT_BUTTON, [topic](wxCommandEvent&) { show_help_topic(topic); });
  form.Bind(wxEVT_CHAR_HOOK, [topic](wxKeyEvent& e) {
    if (e.GetKeyCode() == WXK_F1) show_help_topic(topic);
    else e.Skip();
  });
  form.Bind(wxEVT_HELP, [topic](wxHelpEvent&) { show_help_topic(topic); });
  form.Bind(wxEVT_CONTEXT_MENU, [topic](wxContextMenuEvent&) { show_help_topic(topic); });
  return help;
}

MessageForm::MessageForm(wxWindow* owner, Kind kind, const std::string& text, int timeout_ms)
    : wxDialog(owner, wxID_ANY, tr(2900), wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE),
      kind_(kind),
      timer_(this) {
  SetName(kind == ok ? "TMessOK" : kind == yes_no ? "TMessON" : kind == yes_no_remember ? "TMessONT" : "TMessAnn");
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(add_help_button(*this, form_help_topic(GetName().utf8_string())), 0, wxALIGN_TOP | wxALL, 6);
  auto* label = new wxStaticText(this, wxID_ANY, wxString::FromUTF8(text), wxDefaultPosition, wxDefaultSize,
                                 wxALIGN_CENTRE_HORIZONTAL);
  label->SetName("MessText");
  label->Wrap(440);
  row->Add(label, 1, wxALIGN_CENTER_VERTICAL | wxALL, 12);
  top->Add(row, 1, wxEXPAND);
  if (kind == yes_no_remember || kind == announcement) {
    remember_ = new wxCheckBox(this, wxID_ANY, tr(1042));
    remember_->SetName("Toujours");
    top->Add(remember_, 0, wxLEFT | wxRIGHT | wxBOTTOM, 12);
  }
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  if (kind == ok || kind == announcement) {
    auto* close = new wxButton(this, wxID_CLOSE, tr(1000));
    close->SetName("MessFermer");
    close->SetDefault();
    buttons->Add(close, 0, wxALL, 6);
    close->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { end_with(true); });
  } else {
    auto* yes = new wxButton(this, wxID_YES, tr(1043));
    auto* no = new wxButton(this, wxID_NO, tr(1044));
    yes->SetName("MessOui");
    no->SetName("MessNon");
    yes->SetDefault();
    buttons->Add(yes, 0, wxALL, 6);
    buttons->Add(no, 0, wxALL, 6);
    yes->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { end_with(true); });
    no->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { end_with(false); });
  }
  top->Add(buttons, 0, wxALIGN_CENTER | wxBOTTOM, 6);
  SetSizerAndFit(top);
  SetMinSize(wxSize(360, -1));
  Fit();
  CentreOnParent();
  // Esc and the close box: "No" for the questions, closed for the others.
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { end_with(kind_ == ok || kind_ == announcement); });
  Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& e) {
    if (e.GetKeyCode() == WXK_ESCAPE) end_with(kind_ == ok || kind_ == announcement);
    else e.Skip();
  });
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { end_with(pending_ ? pending_yes_ : true); });
  if (timeout_ms > 0) timer_.StartOnce(timeout_ms);  // no timer at all for 0
}

bool MessageForm::ticked() const { return remember_ && remember_->IsChecked(); }

void MessageForm::end_with(bool yes) {
  timer_.Stop();
  if (!IsModal()) return;
  // A form shown over this one (a message of the compile's end, say) runs
  // its own loop: this one ends once that one has.
  if (!g_modal_stack.empty() && g_modal_stack.back() != this) {
    pending_ = true;
    pending_yes_ = yes;
    timer_.StartOnce(200);
    return;
  }
  switch (kind_) {
    case ok: EndModal(wxID_CLOSE); break;
    case yes_no: EndModal(yes ? k_answer_yes : k_answer_no); break;
    case yes_no_remember: EndModal(remember_form_result(yes, ticked())); break;
    case announcement: EndModal(announcement_form_result(ticked())); break;
  }
}

void show_message_form(wxWindow* owner, const std::string& text, int timeout_ms) {
  MessageForm f(owner, MessageForm::ok, text, timeout_ms);
  run_modal(f);
}

bool ask_yes_no_form(wxWindow* owner, const std::string& text) {
  MessageForm f(owner, MessageForm::yes_no, text, 0);
  return run_modal(f) == k_answer_yes;
}

int ask_yes_no_remember_form(wxWindow* owner, const std::string& text) {
  MessageForm f(owner, MessageForm::yes_no_remember, text, 0);
  return run_modal(f);
}

bool announcement_form(wxWindow* owner, const std::string& text) {
  MessageForm f(owner, MessageForm::announcement, text, 0);
  return run_modal(f) == k_form_ticked;
}
