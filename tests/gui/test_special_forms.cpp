// The forms of the Special and Options commands driven through their own
// controls and menus: preferences that survive a restart, the signature
// editor's file kept whole, the signature replace, the refresh review and the
// .DS_Store editor, each photographed; their results judged by the settings
// store, the files written and the outside readers of the compiled images.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/clipbrd.h>
#include <wx/dataobj.h>
#include <wx/choice.h>
#include <wx/dcmemory.h>
#include <wx/filedlg.h>
#include <wx/image.h>
#include <wx/listctrl.h>
#include <wx/notebook.h>
#include <wx/slider.h>
#include <wx/spinbutt.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <regex>

#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/additems.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "macfiles/dsstore.h"
#include "gui/dialogs/dsstore_editor.h"
#include "gui/dialogs/dsstore_form.h"
#include "gui/dialogs/messageforms.h"
#include "gui/dialogs/preferences.h"
#include "gui/dialogs/preferences_form.h"
#include "gui/dialogs/refresh_form.h"
#include "gui/dialogs/refresh_review.h"
#include "gui/dialogs/sigreplace.h"
#include "gui/dialogs/sigreplace_form.h"
#include "gui/dialogs/sigtable_edit.h"
#include "gui/dialogs/sigtable_form.h"
#include "gui/logic/volume_images.h"
#include "gui/mainframe.h"
#include "gui/mainviews.h"
#include "gui/special_logic.h"
#include "gui_fixture.h"
#include "support/inclusion_kit.h"
#include "hfs/volume_fixture.h"
#include "macfiles/signatures.h"

using namespace guitest;
using testkit::fs::path;

namespace {

// Each modal form shown, in the order they come up, is handed to the next
// step once it is drawn; a step that leaves its form open has it cancelled.
std::deque<std::function<void(wxDialog&)>> g_steps;
int g_unexpected_forms = 0;

void drive(std::vector<std::function<void(wxDialog&)>> steps) {
  g_steps.assign(steps.begin(), steps.end());
  g_unexpected_forms = 0;
  g_modal_driver = [](wxDialog& d) {
    std::function<void(wxDialog&)> step;
    if (g_steps.empty()) {
      ++g_unexpected_forms;
      ADD_FAILURE() << "a form nobody expected: " << d.GetTitle().utf8_string();
    } else {
      step = g_steps.front();
      g_steps.pop_front();
    }
    auto* timer = new wxTimer;
    timer->Bind(wxEVT_TIMER, [&d, step, timer](wxTimerEvent&) {
      if (step) step(d);
      if (d.IsModal()) d.EndModal(wxID_CANCEL);
      wxTheApp->CallAfter([timer] { delete timer; });
    });
    timer->StartOnce(300);
  };
}

// Between the steps a form nobody expected fails the test and is cancelled,
// instead of waiting for an answer that never comes.
void done_driving() {
  EXPECT_TRUE(g_steps.empty()) << g_steps.size() << " forms expected did not come";
  drive({});
}

template <class T = wxWindow>
T* child(wxWindow& form, const char* name) {
  wxWindow* w = form.FindWindow(name);
  EXPECT_NE(w, nullptr) << "no control " << name;
  auto* t = dynamic_cast<T*>(w);
  EXPECT_TRUE(!w || t) << name << " is not of the kind expected";
  return t;
}

void click(wxWindow* b) {
  ASSERT_NE(b, nullptr);
  wxCommandEvent e(wxEVT_BUTTON, b->GetId());
  e.SetEventObject(b);
  b->GetEventHandler()->ProcessEvent(e);
}

void menu(wxWindow& form, int item) {
  wxCommandEvent e(wxEVT_MENU, item);
  e.SetEventObject(&form);
  form.GetEventHandler()->ProcessEvent(e);
}

void choose(wxChoice* c, int index) {
  c->SetSelection(index);
  wxCommandEvent e(wxEVT_CHOICE, c->GetId());
  e.SetEventObject(c);
  e.SetInt(index);
  c->GetEventHandler()->ProcessEvent(e);
}

void select_row(wxListCtrl* list, long row) {
  for (long i = 0; i < list->GetItemCount(); ++i)
    list->SetItemState(i, i == row ? wxLIST_STATE_SELECTED : 0, wxLIST_STATE_SELECTED);
}

std::string cell(wxListCtrl* list, long row, int column) { return list->GetItemText(row, column).utf8_string(); }

// A step that answers a file dialog with a path (or cancels it with "").
std::function<void(wxDialog&)> file_answer(const std::string& chosen, std::string* proposed = nullptr) {
  return [chosen, proposed](wxDialog& d) {
    auto* fd = dynamic_cast<wxFileDialog*>(&d);
    ASSERT_NE(fd, nullptr) << "a file dialog was expected, not " << d.GetTitle().utf8_string();
    if (proposed) *proposed = fd->GetFilename().utf8_string();
    if (chosen.empty()) {
      fd->EndModal(wxID_CANCEL);
      return;
    }
    fd->SetPath(wxString::FromUTF8(chosen));
    // An open dialog's chooser selects the file once it has read its folder.
    pump(3000, [&] { return fd->GetPath().utf8_string() == chosen; });
    EXPECT_EQ(fd->GetPath().utf8_string(), chosen);
    fd->EndModal(wxID_OK);
  };
}

// A step that notes a message form's text and closes it.
std::function<void(wxDialog&)> note_message(std::string& text, const char* button = "MessFermer") {
  return [&text, button](wxDialog& d) {
    if (auto* t = dynamic_cast<wxStaticText*>(d.FindWindow("MessText"))) text = t->GetLabel().utf8_string();
    click(d.FindWindow(button));
  };
}

// A message's text as the form shows it has its lines wrapped: compared without line ends.
std::string unwrapped(const std::string& text) { return std::regex_replace(text, std::regex("\n"), " "); }

void shoot(wxWindow& form, const std::string& name) {
  pump(250);  // the last changes drawn (check marks come in with a short animation)
  EXPECT_TRUE(screenshot(form, name)) << name << " was not shown or blank";
}

// A page of a printed document drawn as a picture, saved beside the screenshots.
template <class Draw>
int picture_of_page(const std::string& name, Draw draw) {
  wxBitmap sheet(827, 1169);  // A4 at 100 pixels an inch
  wxMemoryDC dc(sheet);
  dc.SetBackground(*wxWHITE_BRUSH);
  dc.Clear();
  int pages = draw(dc, wxRect(0, 0, 827, 1169));
  dc.SelectObject(wxNullBitmap);
  EXPECT_TRUE(sheet.ConvertToImage().SaveFile(wxString::FromUTF8(screenshot_path(name)), wxBITMAP_TYPE_PNG));
  return pages;
}

struct SavedGlobals {
  uint32_t preferences = g_preferences, options = g_options;
  int size_project = g_reference_size_project, size_isoplus = g_reference_size_isoplus;
  int language = g_language_offset, mode = g_working_mode;
  ~SavedGlobals() {
    g_preferences = preferences;
    g_options = options;
    g_reference_size_project = size_project;
    g_reference_size_isoplus = size_isoplus;
    g_language_offset = language;
    g_working_mode = mode;
    set_auto_truncate_names(false);
  }
};

}  // namespace

// --- preferences ---------------------------------------------------------------------------------
TEST(SpecialForms, EveryPreferenceSetInTheDialogIsThereAfterARestart) {
  SavedGlobals keep;
  g_preferences = 0;
  g_options = 0;
  g_reference_size_project = g_reference_size_isoplus = 700;
  int result = 0;
  std::string help_page, button_page;
  drive({[&](wxDialog& d) {
    auto* pages = child<wxNotebook>(d, "PageTab");
    ASSERT_TRUE(pages);
    EXPECT_EQ(pages->GetPageCount(), 4u);
    shoot(d, "preferences_general");
    for (int i = 0; i < k_pref_check_count; ++i) {
      auto* box = child<wxCheckBox>(d, k_pref_checks[i].control);
      ASSERT_TRUE(box);
      EXPECT_FALSE(box->GetValue());
      box->SetValue(true);
    }
    pages->SetSelection(1);
    child<wxTextCtrl>(d, "EdMaxProj")->SetValue("1,000");
    shoot(d, "preferences_project");
    pages->SetSelection(2);
    shoot(d, "preferences_partition");
    // Two steps up from 700 on the ISO+ page.
    pages->SetSelection(3);
    auto* up = child<wxSpinButton>(d, "UpMaxIsop");
    for (int i = 0; i < 2; ++i) {
      wxSpinEvent e(wxEVT_SPIN_UP, up->GetId());
      e.SetEventObject(up);
      up->GetEventHandler()->ProcessEvent(e);
    }
    EXPECT_EQ(child<wxTextCtrl>(d, "EdMaxIsop")->GetValue(), "800");
    // F1 and the help button open the form's own topic.
    help_page = help_page_of(d, [&] {
      wxKeyEvent f1(wxEVT_CHAR_HOOK);
      f1.m_keyCode = WXK_F1;
      f1.SetEventObject(&d);
      d.GetEventHandler()->ProcessEvent(f1);
    });
    button_page = help_page_of(d, [&] { click(d.FindWindow("Aide")); });
    click(d.FindWindow("OK"));
  }});
  result = run_preferences_dialog(nullptr);
  done_driving();
  EXPECT_EQ(result, -2) << "\"Show hidden files\" changed";
  EXPECT_NE(help_page.find("t144.html"), std::string::npos) << help_page;
  EXPECT_NE(button_page.find("t144.html"), std::string::npos) << button_page;

  // A restart: the globals come from the store again.
  g_preferences = g_options = 0;
  g_reference_size_project = g_reference_size_isoplus = 0;
  if (g_log_file) std::fclose(g_log_file);
  g_log_file = nullptr;
  write_setting_text("Journal", testkit::TempDir().str("x.log").c_str());
  int mode = g_working_mode;
  load_startup_settings();
  g_working_mode = mode;
  for (int i = 0; i < k_pref_check_count; ++i) {
    const PrefCheck& c = k_pref_checks[i];
    uint32_t word = c.word == k_word_preferences ? g_preferences : g_options;
    EXPECT_TRUE(word & c.bit) << c.control;
  }
  EXPECT_EQ(g_reference_size_project, 1000);
  EXPECT_EQ(g_reference_size_isoplus, 800);
  if (g_log_file) std::fclose(g_log_file);
  g_log_file = nullptr;

  // Damaged settings: the defaults, in the program and in the dialog.
  write_setting_text("CX-Options", "12abc");
  write_setting_text("Options", "0x400");
  write_setting_text("szProj", "99999");
  write_setting_text("szIsop", "-3");
  load_startup_settings();
  g_working_mode = mode;
  EXPECT_EQ(g_preferences, 0u);
  EXPECT_EQ(g_options, 0u);
  EXPECT_EQ(g_reference_size_project, 700);
  EXPECT_EQ(g_reference_size_isoplus, 700);
  std::string shown_size;
  bool any_ticked = false;
  drive({[&](wxDialog& d) {
    for (int i = 0; i < k_pref_check_count; ++i) any_ticked |= child<wxCheckBox>(d, k_pref_checks[i].control)->GetValue();
    shown_size = child<wxTextCtrl>(d, "EdMaxProj")->GetValue().utf8_string();
    child<wxCheckBox>(d, "ValDel")->SetValue(true);
    click(d.FindWindow("Cancel"));
  }});
  EXPECT_EQ(run_preferences_dialog(nullptr), 0);
  done_driving();
  EXPECT_FALSE(any_ticked);
  EXPECT_EQ(shown_size, "700");
  EXPECT_EQ(g_options, 0u) << "Cancel changes nothing";
  char buf[k_text_size];
  EXPECT_STREQ(read_setting_text("Options", buf), "0x400");
}

// --- signature editor ----------------------------------------------------------------------------
namespace {

const std::string k_sig_english =
    "# Signature table\r\n"
    "# kept by hand\r\n"
    "txt,TEXTttxt,Plain text\r\n"
    "# pictures\r\n"
    "gif,GIFfogle,GIF picture\r\n";
const std::string k_sig_french =
    "#[1] Section fran\xC3\xA7""aise\r\n"
    "# commentaire\r\n"
    "txt,TEXTttxt,Texte brut\r\n"
    "# images\r\n"
    "gif,GIFfogle,Image GIF\r\n";

}  // namespace

TEST(SpecialForms, SignatureEditorEditsOneSectionAndKeepsTheRest) {
  SavedGlobals keep;
  testkit::TempDir dir;
  std::string sig = dir.str("table.sig");
  testkit::write_text(sig, k_sig_english + k_sig_french);
  save_signature_table_path(sig.c_str());
  g_language_offset = 0;

  std::vector<std::string> rows_shown, after_edits;
  std::string caption;
  auto rows_of = [](wxListCtrl* list) {
    std::vector<std::string> out;
    for (long i = 0; i < list->GetItemCount(); ++i)
      out.push_back(cell(list, i, 0) + "," + cell(list, i, 1) + cell(list, i, 2) + "," + cell(list, i, 3));
    return out;
  };
  drive({
      [&](wxDialog& d) {
        auto* list = child<wxListCtrl>(d, "ListeSign");
        ASSERT_TRUE(list);
        rows_shown = rows_of(list);
        caption = d.GetTitle().utf8_string();
        menu(d, k_sig_add_item);  // the item dialog: the next step
        // Copy the first row, paste it at the end, move it up one place.
        select_row(list, 0);
        menu(d, k_sig_copy);
        menu(d, k_sig_paste);
        select_row(list, list->GetItemCount() - 1);
        menu(d, k_sig_move_up);
        // A click on the extension's title sorts by it, ascending.
        wxListEvent sort(wxEVT_LIST_COL_CLICK, list->GetId());
        sort.m_col = 0;
        sort.SetEventObject(list);
        list->GetEventHandler()->ProcessEvent(sort);
        after_edits = rows_of(list);
        shoot(d, "signature_editor");
        menu(d, k_sig_save);
        menu(d, k_sig_register);  // the registry dialog: the step after the item dialog
        menu(d, k_sig_quit);
      },
      [&](wxDialog& d) {
        EXPECT_EQ(d.GetTitle().utf8_string(), ui_text(5319));
        child<wxTextCtrl>(d, "Extension")->SetValue("HTML5");
        child<wxTextCtrl>(d, "Type")->SetValue("ab");
        child<wxTextCtrl>(d, "Creator")->SetValue("");
        child<wxTextCtrl>(d, "Comment")->SetValue("Web page");
        shoot(d, "signature_item");
        click(d.FindWindow("OK"));
      },
      [&](wxDialog& d) {
        EXPECT_EQ(child<wxStaticText>(d, "File")->GetLabel().utf8_string(), sig);
        shoot(d, "signature_registry");
        click(d.FindWindow(wxID_OK));
      },
  });
  EXPECT_EQ(run_signature_editor(nullptr), -1) << "a file was saved";
  done_driving();
  EXPECT_EQ(caption, ui_text(5418) + " " + sig);
  EXPECT_EQ(rows_shown, (std::vector<std::string>{"txt,TEXTttxt,Plain text", "gif,GIFfogle,GIF picture"}));
  EXPECT_EQ(after_edits, (std::vector<std::string>{"gif,GIFfogle,GIF picture", "HTML,ab  ????,Web page",
                                                   "txt,TEXTttxt,Plain text", "txt,TEXTttxt,Plain text"}));
  std::string text = testkit::read_text(sig);
  EXPECT_EQ(text, "# Signature table\r\n# kept by hand\r\ngif,GIFfogle,GIF picture\r\nHTML,ab  ????,Web page\r\n"
                  "txt,TEXTttxt,Plain text\r\ntxt,TEXTttxt,Plain text\r\n" + k_sig_french);
  // Registering saved the table once more: the backup is the version the first save wrote.
  EXPECT_EQ(testkit::read_text(dir.str("table.bak")), text);
  char buf[k_text_size];
  EXPECT_EQ(std::string(read_setting_text("Sign", buf)), sig);

  // The French interface edits the French section; the English one stays byte for byte.
  const std::string english_now = text.substr(0, text.find("#[1]"));
  g_language_offset = 10000;
  drive({
      [&](wxDialog& d) {
        auto* list = child<wxListCtrl>(d, "ListeSign");
        rows_shown = rows_of(list);
        select_row(list, 1);
        menu(d, k_sig_edit_item);
        shoot(d, "signature_editor_french");
        menu(d, k_sig_save);
        menu(d, k_sig_quit);
      },
      [&](wxDialog& d) {
        EXPECT_EQ(child<wxTextCtrl>(d, "Comment")->GetValue(), "Image GIF");
        child<wxTextCtrl>(d, "Comment")->SetValue(wxString::FromUTF8("Image GIF anim\xC3\xA9""e"));
        click(d.FindWindow("OK"));
      },
  });
  EXPECT_EQ(run_signature_editor(nullptr), -1);
  done_driving();
  EXPECT_EQ(rows_shown, (std::vector<std::string>{"txt,TEXTttxt,Texte brut", "gif,GIFfogle,Image GIF"}));
  EXPECT_EQ(testkit::read_text(sig), english_now + "#[1] Section fran\xC3\xA7""aise\r\n# commentaire\r\n"
                                     "txt,TEXTttxt,Texte brut\r\ngif,GIFfogle,Image GIF anim\xC3\xA9""e\r\n");
  EXPECT_EQ(testkit::read_text(dir.str("table.bak")), text);

  // A target that cannot be written whole (a file size limit stands in for a
  // full disk, which stops the superuser too): refused with a message, the file
  // and its backup as they were.
  g_language_offset = 0;
  std::string before = testkit::read_text(sig), backup = testkit::read_text(dir.str("table.bak")), refusal;
  drive({
      [&](wxDialog& d) {
        // Twenty rows pasted make the text longer than the limit lets through.
        std::string rows;
        for (int i = 0; i < 20; ++i) rows += "e" + std::to_string(i) + "\r\nTYPE\r\nCREA\r\n" + std::string(60, 'x') + "\r\n\r\n";
        if (wxTheClipboard->Open()) {
          wxTheClipboard->SetData(new wxTextDataObject(rows));
          wxTheClipboard->Close();
        }
        menu(d, k_sig_paste);
        EXPECT_EQ(child<wxListCtrl>(d, "ListeSign")->GetItemCount(), 24);
        {
          testkit::FileSizeLimit full(512);
          menu(d, k_sig_save);
        }
        // Quitting asks to save the edits kept; "No" leaves them.
        menu(d, k_sig_quit);
      },
  });
  g_steps.push_back(note_message(refusal));
  g_steps.push_back([](wxDialog& d) { click(d.FindWindow("MessNon")); });
  EXPECT_EQ(run_signature_editor(nullptr), 0);
  done_driving();
  EXPECT_FALSE(refusal.empty());
  EXPECT_EQ(testkit::read_text(sig), before);
  EXPECT_EQ(testkit::read_text(dir.str("table.bak")), backup);
  EXPECT_EQ(std::distance(testkit::fs::directory_iterator(dir.path()), testkit::fs::directory_iterator()), 2)
      << "no temporary file left behind";

  // The printed table: every page with the path and its number.
  SigEditor ed;
  ASSERT_EQ(load_sig_file(ed, sig, 0), 0);
  for (int i = 0; i < 120; ++i) add_sig_row(ed, make_sig_row("e" + std::to_string(i), "TYPE", "CRE8", "row " + std::to_string(i)));
  int pages = picture_of_page("signature_print", [&](wxDC& dc, const wxRect& area) {
    return draw_signature_page(dc, area, 1, ed);
  });
  EXPECT_GE(pages, 2) << "a long table goes on onto further pages";
  picture_of_page("signature_print_last", [&](wxDC& dc, const wxRect& area) {
    return draw_signature_page(dc, area, pages, ed);
  });
  save_signature_table_path("");
}

// After "Edit item" (here by a double click, as a user opens it) a click on
// another row selects that row only, so the next Cut takes one row: the mouse
// driven through the X server's test extension.
TEST(SpecialForms, SignatureEditorClickAfterAnEditSelectsOneRow) {
  SavedGlobals keep;
  testkit::TempDir dir;
  std::string sig = dir.str("table.sig");
  testkit::write_text(sig, "txt,TEXTttxt,Plain text\r\ngif,GIFfogle,GIF picture\r\njpg,JPEGogle,JPEG picture\r\n"
                           "png,PNGfogle,PNG picture\r\n");
  save_signature_table_path(sig.c_str());
  g_language_offset = 0;
  std::vector<long> selected_after;
  std::string left;
  drive({[&](wxDialog& d) {
           auto* list = child<wxListCtrl>(d, "ListeSign");
           ASSERT_TRUE(list);
           wxUIActionSimulator mouse;
           auto at_row = [&](long row) {
             wxRect r;
             list->GetItemRect(row, r);
             mouse.MouseMove(list->ClientToScreen(wxPoint(r.x + 30, r.y + r.height / 2)));
             pump(100);
           };
           d.Raise();
           pump(200);
           at_row(1);
           mouse.MouseClick();
           pump(200);
           mouse.MouseDblClick();  // the item dialog: the next step answers it
           pump(1500, [&] { return g_steps.empty(); });
           pump(300);
           at_row(3);
           mouse.MouseClick();
           pump(300);
           for (long i = list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); i >= 0;
                i = list->GetNextItem(i, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
             selected_after.push_back(i);
           shoot(d, "signature_editor_after_edit");
           menu(d, k_sig_cut);
           for (long i = 0; i < list->GetItemCount(); ++i) left += cell(list, i, 0) + " ";
           menu(d, k_sig_quit);
         },
         [](wxDialog& d) {
           child<wxTextCtrl>(d, "Comment")->SetValue("GIF image");
           click(d.FindWindow("OK"));
         },
         [](wxDialog& d) { click(d.FindWindow("MessNon")); }});
  run_signature_editor(nullptr);
  done_driving();
  EXPECT_EQ(selected_after, std::vector<long>{3});
  EXPECT_EQ(left, "txt gif jpg ") << "Cut took the clicked row alone";
  save_signature_table_path("");
}

// --- refresh review --------------------------------------------------------------------------------
namespace {

MainFrame* open_main_window(const std::vector<std::string>& args = {}) {
  auto* f = new MainFrame(nullptr);
  f->Show();
  f->start_up(args);
  pump(300);
  return f;
}

void close_main_window(MainFrame* f) {
  f->Close(true);
  pump(300);
}

}  // namespace

TEST(SpecialForms, RefreshReviewAcceptsEachChangeIntoTheOpenProject) {
  SavedGlobals keep;
  testkit::TempDir dir;
  path src = dir.path() / "src" / "cd";
  testkit::fs::create_directories(src / "sub" / "deep");
  testkit::write_text(src / "a.txt", "first text");
  testkit::write_text(src / "sub" / "gone.txt", "going");
  testkit::write_text(src / "sub" / "deep" / "c.txt", "c");
  std::string project = dir.str("p.cvpr");
  ASSERT_EQ(run_command_line_operation("-i", project.c_str(), dir.str("src").c_str()), 0);
  std::set<int32_t> old_ids;
  for (const ProjectRecord& r : testkit::project_records(project)) old_ids.insert(r.id);
  {
    // The project's option to take in what is new in its folders (set by the
    // preference "Rebuild the project" as it is made): additions are reviewed too.
    FILE* p = std::fopen(project.c_str(), "r+b");
    ProjectHeader h;
    ASSERT_TRUE(read_project_header(p, h));
    h.open_flags |= 0x20;
    ASSERT_TRUE(write_project_header(p, h));
    std::fclose(p);
  }

  MainFrame* f = open_main_window({project});
  ASSERT_NE(g_project_file, nullptr);
  // Nothing changed on the PC disk: a message, no window.
  std::string nothing;
  drive({note_message(nothing)});
  f->run_command("Refr");
  done_driving();
  EXPECT_EQ(unwrapped(nothing), ui_text(1338));

  const std::string long_name = std::string(96, 'L') + ".txt";
  testkit::fs::create_directories(src / "sub" / "new|dir");
  testkit::write_text(src / "sub" / "new|dir" / "inner.txt", "inner");
  testkit::write_text(src / "sub" / long_name, "long");
  testkit::write_text(src / "sub" / "pipe|name.txt", "pipe");
  testkit::write_text(src / "a.txt", "a longer text than before");
  testkit::fs::remove(src / "sub" / "gone.txt");
  testkit::fs::remove_all(src / "sub" / "deep");
  g_auto_truncate_iso = g_auto_truncate_hfsplus = g_auto_truncate_hfs = true;  // as the preference does

  std::vector<std::string> tabs_at_start;
  std::string question, close_question;
  std::vector<std::string> pipe_rows, folders_shown;
  drive({
      [&](wxDialog& d) {
        auto* pages = child<wxNotebook>(d, "PageControl");
        ASSERT_TRUE(pages);
        for (size_t i = 0; i < pages->GetPageCount(); ++i) tabs_at_start.push_back(pages->GetPageText(i).utf8_string());
        EXPECT_EQ(pages->GetSelection(), 0) << "the deletions in front";
        // Names and places in the project, not record ids; the commands as buttons.
        auto* deletions = child<wxListCtrl>(d, "ListeDel");
        ASSERT_TRUE(deletions);
        for (long i = 0; i < deletions->GetItemCount(); ++i)
          folders_shown.push_back(cell(deletions, i, 0) + " in " + cell(deletions, i, 1));
        for (const char* b : {"AcceptItem", "DismissItem", "AcceptTab", "DismissTab", "AcceptAll", "Retour"})
          EXPECT_TRUE(child<wxWindow>(d, b) && child<wxWindow>(d, b)->IsShownOnScreen()) << b;
        shoot(d, "refresh_review");
        // The close box with changes listed asks first; "No" keeps the window.
        d.Close();
        pump(100);
        EXPECT_TRUE(d.IsModal());
        for (int t = 0; t < 3; ++t) {
          wxListCtrl* list = child<wxListCtrl>(d, t == 0 ? "ListeDel" : t == 1 ? "ListeMod" : "ListeAdd");
          for (long i = 0; list && i < list->GetItemCount(); ++i)
            if (cell(list, i, 0).find('|') != std::string::npos) pipe_rows.push_back(cell(list, i, 0));
        }
        // Item by item, as "Accept current item" does, until the window closes.
        for (int guard = 0; guard < 20 && d.IsModal(); ++guard) {
          int page = pages->GetSelection();
          auto* list = dynamic_cast<wxListCtrl*>(pages->GetPage(size_t(page)));
          ASSERT_TRUE(list);
          select_row(list, 0);
          if (guard == 2) shoot(d, "refresh_review_later");
          menu(d, k_refresh_accept_item);
        }
        EXPECT_FALSE(d.IsModal()) << "the window closes with its last item";
      },
      note_message(close_question, "MessNon"),
      note_message(question, "MessOui"),  // the folder that still holds files: deleted on "Yes"
  });
  f->run_command("Refr");
  done_driving();
  EXPECT_EQ(unwrapped(close_question), unwrapped(format_text(ui_text(6663).c_str(), 6)));
  std::sort(folders_shown.begin(), folders_shown.end());
  EXPECT_EQ(folders_shown, (std::vector<std::string>{"deep in /src/cd/sub", "gone.txt in /src/cd/sub"}));
  EXPECT_EQ(tabs_at_start, (std::vector<std::string>{ui_text(1561), ui_text(1562), ui_text(1563)}));
  EXPECT_EQ(pipe_rows, (std::vector<std::string>{"new|dir", "pipe|name.txt"}));
  EXPECT_FALSE(question.empty());
  // Another change, the window left by its button with the change listed:
  // asked, in French too, and on "Yes" the project stays as it was, byte for byte.
  testkit::fs::remove(src / "a.txt");
  std::vector<uint8_t> before = testkit::read_file(project);
  g_language_offset = 10000;
  drive({[&](wxDialog& d) {
           shoot(d, "refresh_review_french");
           click(d.FindWindow("Retour"));
         },
         [&](wxDialog& d) {
           shoot(d, "refresh_review_close_french");
           click(d.FindWindow("MessOui"));
         }});
  f->run_command("Refr");
  done_driving();
  g_language_offset = 0;
  EXPECT_TRUE(testkit::read_file(project) == before) << "nothing dismissed is written";
  close_main_window(f);

  FILE* p = std::fopen(project.c_str(), "rb");
  EXPECT_EQ(check_project_invariants(p), std::vector<std::string>{});
  std::fclose(p);
  std::map<std::string, ProjectRecord> by_name;
  std::set<int32_t> ids;
  for (const ProjectRecord& r : testkit::project_records(project)) {
    EXPECT_TRUE(ids.insert(r.id).second) << "id used twice: " << r.id;
    EXPECT_LE(r.hfs_name.size(), k_hfsplus_name_limit) << r.hfs_name;
    EXPECT_LE(r.long_name.size(), k_iso_name_limit) << r.long_name;
    by_name[r.pc_name] = r;
  }
  for (const char* gone : {"gone.txt", "deep", "c.txt"}) EXPECT_FALSE(by_name.count(gone)) << gone;
  for (const std::string& added : {long_name, std::string("pipe|name.txt"), std::string("new|dir"),
                                   std::string("inner.txt")}) {
    ASSERT_TRUE(by_name.count(added)) << added;
    EXPECT_FALSE(old_ids.count(by_name[added].id)) << "a fresh id for " << added;
  }
  EXPECT_FALSE(by_name.count("a.txt") == 0) << "the deletion was dismissed";
  EXPECT_EQ(by_name["a.txt"].pc_size, 25u);

  // The printed report: the header on every page and one line a change.
  RefreshReview review;
  read_change_list_text("D|5|-4|1|/pc/|gone.txt\nM|5|-3|3000000000|/pc/|a file with a rather long name that is clipped.txt\n"
                        "A|5|0|10|/pc/|new|dir\n", review);
  const int widths[4] = {170, 170, 90, 260};
  int pages = picture_of_page("refresh_print", [&](wxDC& dc, const wxRect& area) {
    return draw_review_page(dc, area, 1, review, project, "9-12-2026 10:11:12", widths);
  });
  EXPECT_EQ(pages, 1);
  for (int i = 0; i < 200; ++i) review.lists[k_tab_additions].push_back(review.lists[k_tab_additions][0]);
  int more = picture_of_page("refresh_print_second", [&](wxDC& dc, const wxRect& area) {
    return draw_review_page(dc, area, 2, review, project, "9-12-2026 10:11:12", widths);
  });
  EXPECT_GE(more, 2) << "a long list goes on onto further pages";
}

// --- .DS_Store editor ----------------------------------------------------------------------------
namespace {

// A hybrid project (HFS target, to be switched) of a few root items.
std::string make_layout_project(const testkit::TempDir& dir) {
  path src = dir.path() / "src";
  testkit::fs::create_directories(src / "Dossier \xC3\xA9t\xC3\xA9");
  testkit::write_text(src / "Dossier \xC3\xA9t\xC3\xA9" / "inside.txt", "x");
  for (const char* n : {"Lisez-moi.txt", "Z\xC3\xA8" "bre.txt", "app.txt"}) testkit::write_text(src / n, n);
  std::string project = dir.str("disc.cvpr");
  EXPECT_EQ(create_project_file(project, 0, "Corvane CD"), 0);
  FILE* f = std::fopen(project.c_str(), "r+b");
  read_project_id_counters(f, g_last_folder_id, g_last_file_serial);
  ProjectRecord buf;
  AddCounts counts;
  add_pc_items(f, counts, buf, src.string() + "/*", k_root_folder_id);
  add_folder_counts(f, k_root_folder_id, int32_t(counts.folders_added), int32_t(counts.files_added));
  write_project_totals(f);
  std::fclose(f);
  return project;
}

// A PNG picture of w x h (blue, a yellow patch) for the background.
std::string make_picture(const testkit::TempDir& dir, int w, int h) {
  std::string picture = dir.str("fond.png");
  wxImage image(w, h);
  image.SetRGB(wxRect(0, 0, w, h), 0x30, 0x70, 0xB0);
  image.SetRGB(wxRect(40, 40, 200, 120), 0xF0, 0xC0, 0x30);
  EXPECT_TRUE(image.SaveFile(wxString::FromUTF8(picture), wxBITMAP_TYPE_PNG));
  return picture;
}

}  // namespace

TEST(SpecialForms, DsStoreEditorLaysOutTheRootAndWritesItIntoTheProject) {
  REQUIRE_TOOL("file");
  REQUIRE_TOOL("fls");
  SavedGlobals keep;
  testkit::TempDir dir;
  g_auto_truncate_iso = g_auto_truncate_hfsplus = g_auto_truncate_hfs = true;
  std::string project = make_layout_project(dir);
  std::string picture = make_picture(dir, 640, 480);
  std::string target = dir.str(".DS_Store");
  g_name_view = k_name_view_pc;
  FILE* f = std::fopen(project.c_str(), "r+b");
  ASSERT_NE(f, nullptr);

  std::string switched, proposed;
  std::vector<std::string> names;
  std::string first_place, after_grid, left_after_drag, width_after_picture, height_after_picture;
  bool pane_shown = false, create_off_with_pane = false;
  drive({
      note_message(switched),
      [&](wxDialog& d) {
        auto* list = child<wxListCtrl>(d, "lvi");
        ASSERT_TRUE(list);
        for (long i = 0; i < list->GetItemCount(); ++i) names.push_back(cell(list, i, 0));
        first_place = cell(list, 0, 1) + "," + cell(list, 0, 2);
        EXPECT_EQ(child<wxSpinCtrl>(d, "val_gauche")->GetValue(), 100);
        EXPECT_EQ(child<wxSpinCtrl>(d, "val_bas")->GetValue(), 400);
        choose(child<wxChoice>(d, "liste_taillicon"), 2);  // 48 pixels: the icons go back on the grid
        after_grid = cell(list, 0, 1) + "," + cell(list, 0, 2);
        // A drag of the window inside the preview by (10, 5) preview pixels.
        wxWindow* screen = d.FindWindow("ecran");
        ASSERT_TRUE(screen);
        wxMouseEvent down(wxEVT_LEFT_DOWN), up(wxEVT_LEFT_UP);
        down.m_x = 60, down.m_y = 60;
        up.m_x = 70, up.m_y = 65;
        down.SetEventObject(screen);
        up.SetEventObject(screen);
        screen->GetEventHandler()->ProcessEvent(down);
        screen->GetEventHandler()->ProcessEvent(up);
        left_after_drag = std::to_string(child<wxSpinCtrl>(d, "val_gauche")->GetValue());
        // The picture: the window takes its size (and the icons go back on the grid).
        child<wxTextCtrl>(d, "fichier_fond")->SetValue(wxString::FromUTF8(picture));
        width_after_picture = std::to_string(child<wxSpinCtrl>(d, "val_largeur")->GetValue());
        height_after_picture = std::to_string(child<wxSpinCtrl>(d, "val_hauteur")->GetValue());
        // The first item moves down one row; then its place is typed in the pane.
        select_row(list, 0);
        menu(d, k_ds_move_down);
        menu(d, k_ds_edit_item);
        pane_shown = d.FindWindow("edit")->IsShown();
        create_off_with_pane = !d.FindWindow("valid")->IsEnabled();
        child<wxSpinCtrl>(d, "ed_posh")->SetValue(205);
        child<wxSpinCtrl>(d, "ed_posv")->SetValue(95);
        shoot(d, "ds_store_item_pane");
        click(d.FindWindow("save"));
        click(d.FindWindow("Masquer"));
        EXPECT_EQ(cell(list, 1, 1) + "," + cell(list, 1, 2), "205,95");
        shoot(d, "ds_store_editor");
        click(d.FindWindow("valid"));
      },
      file_answer(target, &proposed),
  });
  EXPECT_EQ(run_ds_store_editor(nullptr, f, project), -1);
  done_driving();
  EXPECT_EQ(unwrapped(switched), unwrapped(ui_text(1542)));
  EXPECT_EQ(get_project_hfs_format(f), 1) << "the project now targets HFS+";
  EXPECT_EQ(names, (std::vector<std::string>{"Dossier \xC3\xA9t\xC3\xA9", "Lisez-moi.txt", "Z\xC3\xA8" "bre.txt",
                                             "app.txt"}));
  EXPECT_EQ(first_place, "95,51");
  EXPECT_EQ(after_grid, "92,33");  // text 14, icon 48, spacing 86
  EXPECT_EQ(left_after_drag, "140") << "moved by 10 quarter-pixels and kept on the grid of 4";
  EXPECT_TRUE(pane_shown && create_off_with_pane);
  EXPECT_EQ(width_after_picture + "x" + height_after_picture, "640x480");
  EXPECT_EQ(proposed, ".DS_Store");

  // The file, as file(1) and our reader see it, and the project's root.
  testkit::RunResult kind = testkit::run("file -b " + testkit::quote(target));
  EXPECT_NE(kind.out.find("Apple Desktop Services Store"), std::string::npos) << kind.out;
  std::vector<uint8_t> bytes = testkit::read_file(target);
  std::vector<DsStoreRecord> records;
  std::string error;
  ASSERT_EQ(read_ds_store_records(bytes.data(), bytes.size(), records, error), 0) << error;
  bool moved = false;
  for (const DsStoreRecord& r : records)
    moved |= r.name == u"Dossier e\u0301te\u0301" && r.code == fourcc("Iloc") && ds_store_value_u32(r, 0) == 205 &&
             ds_store_value_u32(r, 4) == 95;
  EXPECT_TRUE(moved) << "the item placed by hand";
  EXPECT_EQ(testkit::count_root_items(f, ".DS_Store"), 1);
  EXPECT_EQ(testkit::count_root_items(f, ".!Background"), 1);

  // A second run over a damaged file: replaced after a question, one background folder still.
  testkit::write_text(target, "no desktop services store");
  std::string damaged, replace;
  drive({
      note_message(damaged),
      [&](wxDialog& d) {
        child<wxTextCtrl>(d, "fichier_fond")->SetValue(wxString::FromUTF8(picture));
        click(d.FindWindow("valid"));
      },
      note_message(replace, "MessOui"),
      file_answer(target),
  });
  EXPECT_EQ(run_ds_store_editor(nullptr, f, project), -1);
  done_driving();
  EXPECT_NE(damaged.find(".DS_Store"), std::string::npos) << damaged;
  EXPECT_EQ(unwrapped(replace), unwrapped(format_text(ui_text(6665).c_str(), target.c_str())));
  EXPECT_EQ(testkit::count_root_items(f, ".DS_Store"), 1);
  EXPECT_EQ(testkit::count_root_items(f, ".!Background"), 1);
  EXPECT_TRUE(check_project_invariants(f).empty());
  std::fclose(f);

  // Compiled to HFS+: one .DS_Store equal to the project's file, one picture in .!Background.
  ASSERT_EQ(cli_compile_hybrid(project.c_str()), 0);
  std::string img = dir.str("disc.iso");
  testkit::RunResult mm = testkit::run("mmls -t mac -b 2048 " + testkit::quote(img));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(mm.out, m, std::regex("001\\s+0*([0-9]+)\\s+[0-9]+\\s+[0-9]+\\s+Apple_HFS"))) << mm.out;
  std::string offset = std::to_string(std::stoul(m[1]) * 4);
  testkit::RunResult listing = testkit::run("fls -f hfsp -r -p -o " + offset + " " + testkit::quote(img));
  ASSERT_EQ(listing.rc, 0) << listing.err;
  auto count = [&](const std::string& re) {
    std::regex r(re);
    return std::distance(std::sregex_iterator(listing.out.begin(), listing.out.end(), r), std::sregex_iterator());
  };
  EXPECT_EQ(count("\t\\.DS_Store\n"), 1) << listing.out;
  EXPECT_EQ(count("\t\\.!Background\n"), 1) << listing.out;
  EXPECT_EQ(count("\t\\.!Background/fond\\.png\n"), 1) << listing.out;
  std::smatch store;
  ASSERT_TRUE(std::regex_search(listing.out, store, std::regex("r/r ([0-9]+):\t\\.DS_Store\n")));
  testkit::RunResult copy = testkit::run("icat -f hfsp -o " + offset + " " + testkit::quote(img) + " " + store[1].str() +
                                         " > " + testkit::quote(dir.str("copy")));
  ASSERT_EQ(copy.rc, 0) << copy.err;
  EXPECT_EQ(testkit::read_file(dir.str("copy")), testkit::read_file(target));
}

// The positions of a file with a background picture come back as the file
// has them and are written again unchanged (records compared by a reader of
// the public format); the project's file is replaced only after a question;
// cancelling the picture chooser keeps the picture.
TEST(SpecialForms, DsStoreEditorKeepsWhatTheFileAndTheUserGave) {
  SavedGlobals keep;
  testkit::TempDir dir;
  g_auto_truncate_iso = g_auto_truncate_hfsplus = g_auto_truncate_hfs = true;
  std::string project = make_layout_project(dir);
  std::string picture = make_picture(dir, 400, 300);
  std::string target = dir.str(".DS_Store");
  FILE* f = std::fopen(project.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(switch_project_to_hfsplus(f), 1);
  auto iloc_records = [&] {
    testkit::RunResult w = testkit::run("python3 " + testkit::quote(std::string(CORVANE_SOURCE_DIR) +
                                        "/tests/macfiles/ds_store_walk.py") + " " + testkit::quote(target));
    EXPECT_EQ(w.rc, 0) << w.out << w.err;
    std::vector<std::string> out;
    std::istringstream in(w.out);
    for (std::string line; std::getline(in, line);)
      if (line.find("\tIloc\t") != std::string::npos) out.push_back(line);
    return out;
  };
  auto place = [](wxDialog& d, int row, int x, int y) {
    auto* list = child<wxListCtrl>(d, "lvi");
    select_row(list, row);
    menu(d, k_ds_edit_item);
    child<wxSpinCtrl>(d, "ed_posh")->SetValue(x);
    child<wxSpinCtrl>(d, "ed_posv")->SetValue(y);
    click(d.FindWindow("Masquer"));
  };
  auto places_of = [](wxDialog& d) {
    std::map<std::string, std::string> out;
    auto* list = child<wxListCtrl>(d, "lvi");
    for (long i = 0; list && i < list->GetItemCount(); ++i) out[cell(list, i, 0)] = cell(list, i, 1) + "," + cell(list, i, 2);
    return out;
  };
  // The first file: a picture, two icons placed by hand.
  std::map<std::string, std::string> placed, reopened;
  drive({[&](wxDialog& d) {
           child<wxTextCtrl>(d, "fichier_fond")->SetValue(wxString::FromUTF8(picture));
           place(d, 0, 205, 95);
           place(d, 2, 40, 210);
           placed = places_of(d);
           click(d.FindWindow("valid"));
         },
         file_answer(target)});
  ASSERT_EQ(run_ds_store_editor(nullptr, f, project), -1);
  done_driving();
  std::vector<std::string> first = iloc_records();
  ASSERT_EQ(first.size(), 4u);

  // Opened again: the rows hold the file's places and the window the picture's
  // size; "No" to replacing the project's file changes nothing; "Yes" writes
  // the same places.
  std::string width, height, refused, asked;
  drive({[&](wxDialog& d) {
           reopened = places_of(d);
           width = std::to_string(child<wxSpinCtrl>(d, "val_largeur")->GetValue());
           height = std::to_string(child<wxSpinCtrl>(d, "val_hauteur")->GetValue());
           click(d.FindWindow("valid"));
           EXPECT_TRUE(d.IsModal()) << "\"No\" keeps the editor open";
           g_language_offset = 10000;
           click(d.FindWindow("valid"));
           g_language_offset = 0;
         },
         [&](wxDialog& d) {
           shoot(d, "ds_store_replace_question");
           note_message(refused, "MessNon")(d);
         },
         [&](wxDialog& d) {
           shoot(d, "ds_store_replace_question_french");
           note_message(asked, "MessOui")(d);
         },
         file_answer(target)});
  EXPECT_EQ(run_ds_store_editor(nullptr, f, project), -1);
  done_driving();
  EXPECT_EQ(reopened, placed);
  EXPECT_EQ(std::count_if(placed.begin(), placed.end(), [](auto& p) { return p.second == "205,95" || p.second == "40,210"; }), 2);
  EXPECT_EQ(width + "x" + height, "400x300");
  EXPECT_FALSE(refused.empty());
  EXPECT_EQ(iloc_records(), first) << "the places written again as the file had them";
  EXPECT_EQ(testkit::count_root_items(f, ".DS_Store"), 1);

  // The picture chooser cancelled: the picture stays.
  std::string kept_picture;
  std::vector<uint8_t> written = testkit::read_file(target);
  drive({[&](wxDialog& d) {
           click(d.FindWindow("browse"));
           kept_picture = child<wxTextCtrl>(d, "fichier_fond")->GetValue().utf8_string();
           click(d.FindWindow("cancel"));
         },
         file_answer("")});
  EXPECT_EQ(run_ds_store_editor(nullptr, f, project), 0);
  done_driving();
  EXPECT_EQ(kept_picture, picture);
  EXPECT_TRUE(testkit::read_file(target) == written) << "Cancel writes nothing";
  EXPECT_TRUE(check_project_invariants(f).empty());
  std::fclose(f);
}

// --- commands of the main window ---------------------------------------------------------------------
TEST(SpecialForms, SignatureReplaceRewritesTheOpenProject) {
  SavedGlobals keep;
  testkit::TempDir dir;
  path src = dir.path() / "src";
  testkit::fs::create_directories(src / "sub");
  testkit::write_text(src / "a.txt", "one");
  testkit::write_text(src / "sub" / "b.txt", "two");
  std::string project = dir.str("p.cvpr");
  ASSERT_EQ(run_command_line_operation("-i", project.c_str(), src.string().c_str()), 0);
  MainFrame* f = open_main_window({project});

  std::string report, again, refused_stays;
  drive({
      [&](wxDialog& d) {
        child<wxTextCtrl>(d, "OrigType")->SetValue("TEXT");
        child<wxTextCtrl>(d, "OrigCreat")->SetValue("????");
        child<wxTextCtrl>(d, "NouvType")->SetValue("TXT");
        child<wxTextCtrl>(d, "NouvCreat")->SetValue("WXYZ");
        shoot(d, "signature_replace");
        // Enter in a field acts as "Replace".
        auto* field = child<wxTextCtrl>(d, "NouvType");
        wxCommandEvent enter(wxEVT_TEXT_ENTER, field->GetId());
        enter.SetEventObject(field);
        field->GetEventHandler()->ProcessEvent(enter);
      },
      // The generic signature: its files are offered one by one; Change All
      // takes the replacement for this one and the next.
      [&](wxDialog& d) { click(d.FindWindow("ChangeAll")); },
      note_message(report),
  });
  f->run_command("RSig");
  done_driving();
  EXPECT_EQ(report, "Signature TEXT????\nreplaced 2 times.");
  for (const ProjectRecord& r : testkit::project_records(project))
    if (!r.is_folder()) {
      EXPECT_EQ(std::string(r.type_creator, 8), "TXT WXYZ") << r.pc_name;
    }

  // The same again finds nothing; an empty original is nothing to look for.
  drive({
      [&](wxDialog& d) {
        child<wxTextCtrl>(d, "OrigType")->SetValue("TEXT");
        child<wxTextCtrl>(d, "OrigCreat")->SetValue("????");
        click(d.FindWindow("Lancer"));
      },
      note_message(again),
      [&](wxDialog& d) {
        click(d.FindWindow("Lancer"));
        refused_stays = d.IsModal() ? "open" : "closed";
        click(d.FindWindow("Cancel"));
      },
  });
  f->run_command("RSig");
  f->run_command("RSig");
  done_driving();
  EXPECT_EQ(again, "Signature TEXT????\nnot found.");
  EXPECT_EQ(refused_stays, "open");
  close_main_window(f);
}

// Files of the generic signature (of a type the signature table could not
// determine) are reviewed one at a time in the signature editing form; the
// compiled image's HFS catalog, read by hfsutils, has what was chosen.
TEST(SpecialForms, GenericSignaturesAreReviewedFileByFile) {
  REQUIRE_TOOL("hls");
  SavedGlobals keep;
  testkit::TempDir dir;
  path src = dir.path() / "src";
  testkit::fs::create_directories(src);
  for (const char* name : {"a.qqq", "b.qqq", "c.qqq", "d.qqq", "e.qqq"}) testkit::write_text(src / name, name);
  std::string project = dir.str("p.cvpr");
  ASSERT_EQ(run_command_line_operation("-i", project.c_str(), src.string().c_str()), 0);
  MainFrame* f = open_main_window({project});
  ASSERT_EQ(generic_signature(), "TEXT????");  // no signature table
  auto look_for_generic = [](const char* new_type, const char* new_creator) {
    return [new_type, new_creator](wxDialog& d) {
      child<wxTextCtrl>(d, "OrigType")->SetValue("TEXT");
      child<wxTextCtrl>(d, "OrigCreat")->SetValue("????");
      child<wxTextCtrl>(d, "NouvType")->SetValue(new_type);
      child<wxTextCtrl>(d, "NouvCreat")->SetValue(new_creator);
      click(d.FindWindow("Lancer"));
    };
  };
  std::vector<std::string> offered;
  auto answer = [&](const char* button, const char* type = nullptr, const char* creator = nullptr,
                    const char* picture = nullptr) {
    return [&offered, button, type, creator, picture](wxDialog& d) {
      EXPECT_EQ(d.GetName(), "SignatureEdit");
      offered.push_back(child<wxStaticText>(d, "FileName")->GetLabel().utf8_string());
      if (type) child<wxTextCtrl>(d, "NewType")->SetValue(type);
      if (creator) child<wxTextCtrl>(d, "NewCreator")->SetValue(creator);
      if (picture) shoot(d, picture);
      click(d.FindWindow(button));
    };
  };
  std::string report;
  // a: the replacement proposed, as it is; b: another one typed; c: ignored;
  // then Ignore All: d and e keep the generic signature.
  drive({look_for_generic("PDF ", "CARO"), answer("Change", nullptr, nullptr, "signature_edit_review"),
         answer("Change", "JPEG", "ogle"), answer("Ignore"), answer("IgnoreAll"), note_message(report)});
  f->run_command("RSig");
  done_driving();
  EXPECT_EQ(offered, (std::vector<std::string>{"a.qqq", "b.qqq", "c.qqq", "d.qqq"}));
  EXPECT_EQ(report, "Signature TEXT????\nreplaced 2 times.");
  // Again, in French: Change All on the first (only its type changed) reaches the rest.
  g_language_offset = 10000;
  f->run_command("Fr1");
  offered.clear();
  drive({look_for_generic("", ""), answer("ChangeAll", "BINA", nullptr, "signature_edit_review_french"),
         note_message(report)});
  f->run_command("RSig");
  done_driving();
  f->run_command("En2");
  EXPECT_EQ(offered, (std::vector<std::string>{"c.qqq"}));
  EXPECT_EQ(report, "Signature TEXT????\nremplacée 3 fois.");
  std::map<std::string, std::string> sig;
  for (const ProjectRecord& r : testkit::project_records(project))
    if (!r.is_folder()) sig[r.pc_name] = std::string(r.type_creator, 8);
  EXPECT_EQ(sig, (std::map<std::string, std::string>{{"a.qqq", "PDF CARO"}, {"b.qqq", "JPEGogle"},
                                                     {"c.qqq", "BINA????"}, {"d.qqq", "BINA????"},
                                                     {"e.qqq", "BINA????"}}));
  close_main_window(f);
  // The image compiled from it: hfsutils lists each file with the signature chosen.
  std::string image = dir.str("p.iso");
  ASSERT_EQ(testkit::run(std::string(QUORVEL_PATH) + " -c " + testkit::quote(project)).rc, 0);
  auto hls = testkit::run("hmount " + testkit::quote(image) + " >/dev/null && hls -l -R : && humount >/dev/null");
  ASSERT_EQ(hls.rc, 0) << hls.err;
  for (const char* line : {"PDF /CARO", "JPEG/ogle", "BINA/????"})
    EXPECT_NE(hls.out.find(line), std::string::npos) << line << " in\n" << hls.out;
}

TEST(SpecialForms, OtherProgramsHelpAndTheSupportPage) {
  SavedGlobals keep;
  testkit::TempDir dir;
  std::string project = dir.str("p.cvpr");
  ASSERT_EQ(create_project_file(project, k_pref_hfsplus_default, "Untitled"), 0);
  MainFrame* f = open_main_window({project});

  // The icon program: from the program's folder when it is there, else a message naming where it was sought.
  std::string saved_folder = g_icon_program_folder;
  const char* path_env = std::getenv("PATH");
  std::string saved_path = path_env ? path_env : "";
  ::setenv("PATH", dir.str("nowhere").c_str(), 1);
  g_icon_program_folder = dir.str("own");
  testkit::fs::create_directories(g_icon_program_folder);
  std::string missing;
  drive({note_message(missing)});
  f->run_command("EdIcon");
  done_driving();
  EXPECT_NE(missing.find("facetor"), std::string::npos) << missing;
  EXPECT_NE(missing.find(dir.str("own")), std::string::npos) << missing;
  testkit::write_text(dir.str("own/facetor"), "#!/bin/sh\necho started > " + testkit::quote(dir.str("ran")) + "\n");
  ::chmod(dir.str("own/facetor").c_str(), 0755);
  drive({});
  f->run_command("EdIcon");
  pump(3000, [&] { return testkit::fs::exists(dir.path() / "ran"); });
  done_driving();
  EXPECT_TRUE(testkit::fs::exists(dir.path() / "ran")) << "facetor was not started";
  ::setenv("PATH", saved_path.c_str(), 1);
  g_icon_program_folder = saved_folder;

  // The file manager on the project's folder, the support page in the language.
  std::vector<std::string> opened;
  g_desktop_opener = [&opened](const std::string& target) {
    opened.push_back(target);
    return 0;
  };
  f->run_command("Explo1");
  f->run_command("WH1");
  f->run_command("Fr1");
  f->run_command("WH1");
  f->run_command("En2");
  g_desktop_opener = nullptr;
  EXPECT_EQ(opened, (std::vector<std::string>{dir.str() + "/", support_page_address(0), support_page_address(10000)}));

  // The .DS_Store of a project still "Untitled": the label is asked for first;
  // without one no file is made.
  std::string ask_label, no_file;
  drive({note_message(ask_label),
         [](wxDialog& d) { EXPECT_EQ(d.GetName(), "ProjectLabels"); },  // the labels dialog, cancelled
         note_message(no_file)});
  f->run_command("dsstor");
  done_driving();
  EXPECT_EQ(unwrapped(ask_label), unwrapped(ui_text(1037)));
  EXPECT_EQ(unwrapped(no_file), ui_text(6406));

  // Help: the index and the search of the book.
  f->run_command("HI");
  pump(800);
  std::string help_title;
  for (wxWindow* w : wxTopLevelWindows)
    if (w != f && w->IsShown() && !dynamic_cast<wxDialog*>(w)) help_title = w->GetLabel().utf8_string();
  ASSERT_FALSE(help_title.empty()) << "no help window";
  EXPECT_TRUE(screenshot(help_title, "help_index"));
  f->run_command("HS");
  pump(800);
  EXPECT_TRUE(screenshot(help_title, "help_search"));
  close_main_window(f);
  for (wxWindow* w : wxTopLevelWindows) w->Destroy();
  pump(300);
}

TEST(SpecialForms, ForkSwapOnTheOpenVolumeAndNoneOnAReadOnlyOne) {
  REQUIRE_TOOL("hcopy");
  SavedGlobals keep;
  drive({});
  testkit::TempDir dir;
  std::string img = dir.str("vol.hfs");
  ASSERT_EQ(testvol::make_image(img, false, 4), 0);
  testkit::write_file(dir.path() / "data", testkit::random_bytes(3000, 1));
  ASSERT_EQ(testkit::run("hmount " + testkit::quote(img) + " >/dev/null && hcopy -r " +
                         testkit::quote(dir.str("data")) + " :one").rc, 0);
  MainFrame* f = open_main_window({img});
  ASSERT_EQ(g_working_mode, k_mode_partition);
  ASSERT_EQ(g_main_views, static_cast<MainViews*>(f));
  int32_t one = volkit::item_id(2, "one");
  ASSERT_NE(one, 0);
  g_partition_folder = 2;
  f->show_item(2, one);
  pump(100);
  ASSERT_EQ(f->selected_entries().size(), 1u);

  // A volume that went read-only: the swap is not offered, nothing is written.
  g_volume.read_only = 1;
  f->run_command("SW1");
  g_volume.read_only = 0;
  auto copy_of = [&](const std::string& name) {
    auto r = testkit::run("hmount " + testkit::quote(img) + " >/dev/null && hcopy -m :one " +
                          testkit::quote(dir.str(name)));
    EXPECT_EQ(r.rc, 0) << r.err;
    return testkit::read_file(dir.path() / name);
  };
  std::vector<uint8_t> before = copy_of("before.bin");
  ASSERT_GE(before.size(), 128u + 3000u);
  EXPECT_EQ(std::vector<uint8_t>(before.begin() + 128, before.begin() + 128 + 3000),
            testkit::read_file(dir.path() / "data"))
      << "still in the data fork";

  // Asked first: "No" leaves the image as it was, byte for byte.
  std::vector<uint8_t> image_before = testkit::read_file(img);
  std::string question;
  drive({[&](wxDialog& d) {
    shoot(d, "swap_forks_question");
    note_message(question, "MessNon")(d);
  }});
  f->run_command("SW1");
  done_driving();
  EXPECT_EQ(unwrapped(question), unwrapped(format_text(ui_text(6653).c_str(), "one")));
  EXPECT_TRUE(testkit::read_file(img) == image_before);
  g_language_offset = 10000;
  drive({[&](wxDialog& d) {
    shoot(d, "swap_forks_question_french");
    click(d.FindWindow("MessOui"));
  }});
  f->run_command("SW1");
  done_driving();
  g_language_offset = 0;
  pump(100);
  testvol::expect_sound("after the swap");
  f->run_command("Fermer2");
  close_main_window(f);
  std::vector<uint8_t> bin = copy_of("after.bin");
  ASSERT_GE(bin.size(), 128u + 3000u);
  uint32_t data = uint32_t(bin[83]) << 24 | uint32_t(bin[84]) << 16 | uint32_t(bin[85]) << 8 | bin[86];
  EXPECT_EQ(data, 0u);
  EXPECT_EQ(std::vector<uint8_t>(bin.begin() + 128, bin.begin() + 128 + 3000), testkit::read_file(dir.path() / "data"))
      << "the data fork went into the resource fork";
}

TEST(SpecialForms, RebuildPreferencesSignatureTableAndPartitionRemoval) {
  SavedGlobals keep;
  drive({});
  testkit::TempDir dir;
  path src = dir.path() / "src";
  testkit::fs::create_directories(src);
  testkit::write_text(src / "keep.txt", "k");
  testkit::write_text(src / "gone.txt", "g");
  std::string project = dir.str("p.cvpr");
  ASSERT_EQ(run_command_line_operation("-i", project.c_str(), src.string().c_str()), 0);
  MainFrame* f = open_main_window({project});

  // Rebuild: what went from the PC disk leaves the project, without a review.
  testkit::fs::remove(src / "gone.txt");
  drive({});
  f->run_command("Clean1");
  done_driving();
  std::set<std::string> names;
  for (const ProjectRecord& r : testkit::project_records(project)) names.insert(r.pc_name);
  EXPECT_TRUE(names.count("keep.txt"));
  EXPECT_FALSE(names.count("gone.txt"));

  // Preferences through the command: kept in the store.
  drive({[](wxDialog& d) {
    child<wxCheckBox>(d, "SavBack")->SetValue(true);
    click(d.FindWindow("OK"));
  }});
  f->run_command("Pref1");
  done_driving();
  EXPECT_TRUE(read_preference_flags() & k_pref_no_backup);

  // The signature editor through the command: a saved table is loaded at once.
  std::string sig = dir.str("t.sig");
  testkit::write_text(sig, "txt,TEXTttxt,Text\r\n");
  save_signature_table_path(sig.c_str());
  drive({
      [](wxDialog& d) {
        menu(d, k_sig_add_item);
        menu(d, k_sig_save);
        menu(d, k_sig_quit);
      },
      [](wxDialog& d) {
        child<wxTextCtrl>(d, "Extension")->SetValue("xyz");
        child<wxTextCtrl>(d, "Type")->SetValue("XYZT");
        child<wxTextCtrl>(d, "Creator")->SetValue("XYZC");
        click(d.FindWindow("OK"));
      },
  });
  f->run_command("Sign1");
  done_driving();
  EXPECT_EQ(type_creator_for_filename("file.xyz"), "XYZTXYZC");

  // Removing the HFS partition: a file that is no such image is refused by the
  // engine with its own message; a cancelled choice does nothing.
  std::string not_an_image = dir.str("plain.iso"), refusal;
  testkit::write_text(not_an_image, std::string(40000, 'x'));
  drive({file_answer(not_an_image), note_message(refusal)});
  f->run_command("Desh1");
  done_driving();
  EXPECT_EQ(unwrapped(refusal), unwrapped(dehybridise_report(-2, not_an_image)));
  EXPECT_EQ(testkit::read_text(not_an_image), std::string(40000, 'x'));
  drive({file_answer("")});
  f->run_command("Desh1");
  done_driving();
  // An ISO image with a partition docked after it: cut back to the ISO image.
  if (testkit::tool_available("genisoimage") && testkit::tool_available("isoinfo")) {
    testkit::fs::create_directories(dir.path() / "iso");
    testkit::write_text(dir.path() / "iso" / "readme.txt", "hello");
    std::string iso = dir.str("cd.iso"), part = dir.str("part.hfs"), done;
    ASSERT_EQ(testkit::run("genisoimage -quiet -o " + testkit::quote(iso) + " " + testkit::quote(dir.str("iso"))).rc, 0);
    std::vector<uint8_t> original = testkit::read_file(iso);
    ASSERT_EQ(testvol::make_image(part, false, 2), 0);
    ASSERT_EQ(cli_hybridise_image(part.c_str(), iso.c_str()), 1);  // docked
    ASSERT_GT(testkit::fs::file_size(iso), original.size());
    drive({file_answer(iso), note_message(done)});
    f->run_command("Desh1");
    done_driving();
    EXPECT_EQ(unwrapped(done), unwrapped(dehybridise_report(0, iso)));
    EXPECT_EQ(testkit::fs::file_size(iso), original.size());
    EXPECT_NE(testkit::run("isoinfo -f -i " + testkit::quote(iso)).out.find("README.TXT"), std::string::npos);
  }
  save_signature_table_path("");
  close_main_window(f);
}
