// The signature forms driven through their own controls and menus: the
// signature editor keeping the rest of its file whole, the signature replace
// over the open project and the file-by-file review of generic signatures,
// each photographed; judged by the files written and hfsutils' reading of
// the compiled image.
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
#include "form_steps.h"
#include "gui/dsstore/dsstore_editor.h"
#include "gui/dsstore/dsstore_form.h"
#include "gui/forms/messageforms.h"
#include "gui/mainframe.h"
#include "gui/mainviews.h"
#include "gui/preferences/preferences.h"
#include "gui/preferences/preferences_form.h"
#include "gui/refresh/refresh_form.h"
#include "gui/refresh/refresh_review.h"
#include "gui/signatures/sigreplace.h"
#include "gui/signatures/sigreplace_form.h"
#include "gui/signatures/sigtable_edit.h"
#include "gui/signatures/sigtable_form.h"
#include "gui/special/special_logic.h"
#include "gui_fixture.h"
#include "hfs/volume_fixture.h"
#include "macfiles/dsstore.h"
#include "macfiles/signatures.h"
#include "support/inclusion_kit.h"
#include "support/volume_images.h"

using namespace guitest;
using namespace formsteps;
using testkit::fs::path;

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

TEST(SignatureWindows, SignatureEditorEditsOneSectionAndKeepsTheRest) {
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
  // The comment over the gif row goes with it.
  EXPECT_EQ(text, "# Signature table\r\n# kept by hand\r\n# pictures\r\ngif,GIFfogle,GIF picture\r\n"
                  "HTML,ab  ????,Web page\r\ntxt,TEXTttxt,Plain text\r\ntxt,TEXTttxt,Plain text\r\n" + k_sig_french);
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
                                     "txt,TEXTttxt,Texte brut\r\n# images\r\ngif,GIFfogle,Image GIF anim\xC3\xA9""e\r\n");
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
TEST(SignatureWindows, SignatureEditorClickAfterAnEditSelectsOneRow) {
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

TEST(SignatureWindows, SignatureReplaceRewritesTheOpenProject) {
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
TEST(SignatureWindows, GenericSignaturesAreReviewedFileByFile) {
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
