// The main window's menus as a user meets them: the keys shown beside the
// items and pressed on the keyboard (from outside the program, the X server's
// test extension) with the focus in the list or the tree, the help topics, the
// copy methods asked for before they are taken, and the new image's help.
#include <gtest/gtest.h>
#include <unistd.h>

#include <wx/app.h>
#include <wx/clipbrd.h>
#include <wx/dataobj.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/treectrl.h>

#include <set>
#include <sstream>

#include "IO/uitext.h"
#include "gui/forms/messageforms.h"
#include "gui/mainframe.h"
#include "gui/menumodel.h"
#include "gui_fixture.h"
#include "hfs/volume.h"
#include "macfiles/extract.h"
#include "support/volume_images.h"
#include "x11probe.h"

using namespace guitest;
using testkit::quote;
using testkit::run;

namespace {

// Keysyms of the keys pressed.
constexpr const char* k_delete = "0xffff";
constexpr const char* k_ctrl_a = "0xffe3,0x61";
constexpr const char* k_ctrl_v = "0xffe3,0x76";
constexpr const char* k_ctrl_n = "0xffe3,0x6e";
constexpr const char* k_f1 = "0xffbe";

// Presses keys with the pointer over the window w (the key goes to the
// window under the pointer, and there to its focus), then lets them arrive.
void press(wxWindow* w, const char* keys, int ms = 400) {
  wxRect at = w->GetScreenRect();
  std::string cmd = "python3 " + quote(std::string(CORVANE_SOURCE_DIR) + "/tests/gui/press_key.py") + " " + keys +
                    " --at " + std::to_string(at.x + at.width / 2) + " " + std::to_string(at.y + at.height / 2);
  testkit::RunResult r = run(cmd);
  ASSERT_EQ(r.rc, 0) << r.err;
  pump(ms);
}

std::string label_of(MainFrame* f, const char* command) {
  wxMenuItem* it = f->GetMenuBar()->FindItem(command_id(command));
  return it ? it->GetItemLabel().utf8_string() : std::string();
}

wxTreeItemId child_named(wxTreeCtrl* tree, const std::string& text) {
  wxTreeItemIdValue cookie;
  for (wxTreeItemId c = tree->GetFirstChild(tree->GetRootItem(), cookie); c.IsOk();
       c = tree->GetNextChild(tree->GetRootItem(), cookie))
    if (tree->GetItemText(c).utf8_string() == text) return c;
  return wxTreeItemId();
}

// The help window opened by ask: the page it shows, its picture taken, then closed.
std::string help_page_opened(const std::function<void()>& ask, const std::string& picture) {
  ask();
  pump(600);
  std::string page = shown_help_page();
  for (wxWindow* w : wxTopLevelWindows) {
    auto* help = dynamic_cast<wxTopLevelWindow*>(w);
    if (!help || help->GetName() == "Corvex" || !help->IsShown()) continue;
    if (!picture.empty() && !screenshot(help->GetTitle().utf8_string(), picture))
      ADD_FAILURE() << "the help window was not shown or blank";
    help->Close(true);
  }
  pump(300);
  size_t slash = page.rfind('/');
  return slash == std::string::npos ? page : page.substr(slash + 1);
}

}  // namespace

TEST(MenuKeys, KeysShowInTheirItemsAndActFromTheListAndTheTree) {
  REQUIRE_TOOL("hformat");
  testkit::TempDir dir;
  std::string img = dir.str("keys.hfs");
  testkit::fs::rename(volkit::hformat_image(dir, "Keys Vol", "8M"), img);
  for (const char* name : {"one.txt", "two.txt", "three.txt"}) testkit::write_text(dir.str(name), name);
  testkit::write_text(dir.str("pasted.txt"), "pasted with the keyboard\n");
  auto r = run("hmount " + quote(img) + " >/dev/null && hmkdir :Doomed && hmkdir :Kept && hcopy " +
               quote(dir.str("one.txt")) + " :one.txt && hcopy " + quote(dir.str("two.txt")) + " :two.txt && hcopy " +
               quote(dir.str("three.txt")) + " :three.txt && humount >/dev/null");
  ASSERT_EQ(r.rc, 0) << r.err;
  auto* f = new MainFrame(nullptr);
  f->Show();
  f->start_up({img});
  pump(400);
  ASSERT_TRUE(g_volume.mounted);
  f->Raise();

  // The items carry their keys, in both languages.
  for (int language : {0, 10000}) {
    f->run_command(language ? "Fr1" : "En2");
    EXPECT_EQ(label_of(f, "Supp1"), ui_text(2046) + "\tDel");
    EXPECT_EQ(label_of(f, "SAll"), ui_text(2057) + "\tCtrl+A");
    EXPECT_EQ(label_of(f, "DrExpl"), ui_text(2055) + "\tCtrl+V");
    EXPECT_EQ(label_of(f, "MD"), ui_text(2051) + "\tCtrl+N");
    EXPECT_EQ(label_of(f, "AideUtil1"), ui_text(2103) + "\tF1");
  }
  f->run_command("En2");
  // As shown: the File menu opened from the keyboard (F10, then the next
  // menu), and the list's pop-up menu over a selected row.
  f->file_list()->SetFocus();
  pump(200);
  press(f->file_list(), "0xffc7", 300);
  press(f->file_list(), "0xff53", 500);
  EXPECT_TRUE(save_window_png(screen_window(), screenshot_path("file_menu_keys")));
  press(f->file_list(), "0xff1b", 200);
  press(f->file_list(), "0xff1b", 300);
  f->file_list()->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  pump(200);
  {
    wxTimer shot;
    shot.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
      EXPECT_TRUE(save_window_png(screen_window(), screenshot_path("list_popup_keys")));
      press(f->file_list(), "0xff1b", 0);
    });
    shot.StartOnce(500);
    wxContextMenuEvent menu(wxEVT_CONTEXT_MENU, f->file_list()->GetId(), wxGetMousePosition());
    menu.SetEventObject(f->file_list());
    f->file_list()->GetEventHandler()->ProcessEvent(menu);
    pump(300);
  }
  f->file_list()->SetItemState(-1, 0, wxLIST_STATE_SELECTED);

  // Ctrl+A in the list selects every row; Del deletes them but the folders kept.
  wxListCtrl* list = f->file_list();
  list->SetFocus();
  pump(200);
  press(list, k_ctrl_a);
  EXPECT_EQ(list->GetSelectedItemCount(), list->GetItemCount());
  EXPECT_EQ(list->GetItemCount(), 5);
  list->SetItemState(-1, 0, wxLIST_STATE_SELECTED);
  for (long i = 0; i < list->GetItemCount(); ++i)
    if (list->GetItemText(i).utf8_string() == "two.txt") list->SetItemState(i, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
  pump(200);
  answer_forms({{"MessOui", "", ""}});
  press(list, k_delete);
  // Del in the tree deletes the folder it shows.
  wxTreeCtrl* tree = f->folder_tree();
  wxTreeItemId doomed = child_named(tree, "Doomed");
  ASSERT_TRUE(doomed.IsOk());
  tree->SelectItem(doomed);
  tree->SetFocus();
  pump(200);
  press(tree, k_delete);
  answer_forms({});

  // Ctrl+V pastes the files of the clipboard into the folder shown.
  tree->SelectItem(tree->GetRootItem());
  list->SetFocus();
  pump(200);
  {
    wxClipboardLocker lock;
    auto* files = new wxFileDataObject;
    files->AddFile(wxString::FromUTF8(dir.str("pasted.txt")));
    ASSERT_TRUE(wxTheClipboard->SetData(files));
  }
  press(list, k_ctrl_v, 800);
  // Ctrl+N asks for the new folder's name.
  int prompts = 0;
  g_modal_driver = [&](wxDialog& d) {
    ++prompts;
    auto* name = dynamic_cast<wxTextCtrl*>(d.FindWindow("Nom"));
    if (name) name->SetValue("Typed Folder");
    wxWindow* ok = d.FindWindow(wxID_OK);
    if (ok) {
      wxCommandEvent click(wxEVT_BUTTON, ok->GetId());
      click.SetEventObject(ok);
      ok->GetEventHandler()->ProcessEvent(click);
    }
    if (d.IsModal()) d.EndModal(wxID_CANCEL);
  };
  press(list, k_ctrl_n, 1000);
  g_modal_driver = nullptr;
  EXPECT_EQ(prompts, 1);

  f->run_command("Fermer2");
  pump(200);
  EXPECT_EQ(volkit::hls_names(img), (std::set<std::string>{"Kept", "one.txt", "three.txt", "pasted.txt", "Typed Folder"}));

  // A text being edited keeps the keys: Del and Ctrl+A edit the name, delete nothing.
  ASSERT_TRUE(f->open_document(img, 1));
  pump(300);
  list = f->file_list();
  long row = -1;
  for (long i = 0; i < list->GetItemCount(); ++i)
    if (list->GetItemText(i).utf8_string() == "one.txt") row = i;
  ASSERT_GE(row, 0);
  wxTextCtrl* editor = list->EditLabel(row);
  ASSERT_NE(editor, nullptr);
  pump(200);
  editor->SetFocus();
  editor->SetInsertionPoint(0);
  pump(100);
  press(editor, k_delete, 200);
  EXPECT_EQ(editor->GetValue().utf8_string(), "ne.txt");
  press(editor, k_ctrl_a, 200);
  long from = 0, to = 0;
  editor->GetSelection(&from, &to);
  EXPECT_EQ(to - from, editor->GetLastPosition());
  list->EndEditLabel(true);  // cancelled
  pump(200);
  f->run_command("Fermer2");
  pump(200);
  EXPECT_EQ(volkit::hls_names(img).count("one.txt"), 1u);
  f->Close(true);
  pump(300);
}

TEST(MenuKeys, HelpCommandsOpenTheirTopicsInTheLanguage) {
  auto* f = new MainFrame(nullptr);
  f->Show();
  f->start_up({});
  pump(300);
  f->Raise();
  EXPECT_EQ(help_page_opened([&] { f->run_command("HH1"); }, "help_on_help"), "t1098.html");
  EXPECT_EQ(help_page_opened([&] { f->run_command("AideUtil1"); }, "help_topics"), "t1099.html");
  EXPECT_EQ(help_page_opened([&] { f->run_command("HelpProj"); }, ""), "t1099.html");
  f->file_list()->SetFocus();
  pump(100);
  EXPECT_EQ(help_page_opened([&] { press(f->file_list(), k_f1, 100); }, ""), "t1099.html");
  f->run_command("Fr1");
  EXPECT_EQ(help_page_opened([&] { f->run_command("HH1"); }, "help_on_help_french"), "t11098.html");
  EXPECT_EQ(help_page_opened([&] { f->run_command("AideUtil1"); }, "help_topics_french"), "t11099.html");
  f->run_command("En2");
  f->Close(true);
  pump(300);
  for (wxWindow* w : wxTopLevelWindows) w->Destroy();
  pump(300);
}

TEST(MenuKeys, CopyMethodsOtherThanTheDataForkAreConfirmed) {
  auto* f = new MainFrame(nullptr);
  f->Show();
  f->start_up({});
  pump(300);
  f->run_command("MPart");
  auto checked = [&](const char* name) { return f->GetMenuBar()->FindItem(command_id(name))->IsChecked(); };
  ASSERT_EQ(g_copy_method & 0x2F, k_copy_data);
  // No: the method and its mark stay.
  answer_forms({{"MessNon", "", "copy_method_question"}});
  f->run_command("Bo");
  ASSERT_EQ(g_seen_forms.size(), 1u);
  EXPECT_EQ(g_seen_forms[0].text, ui_text(6751));
  EXPECT_EQ(g_copy_method & 0x2F, k_copy_data);
  EXPECT_TRUE(checked("Da"));
  EXPECT_FALSE(checked("Bo"));
  // Yes: taken.
  for (const char* name : {"Re", "Ad", "As"}) {
    answer_forms({{"MessOui", "", std::string(name) == "Ad" ? "copy_method_question_appledouble" : ""}});
    f->run_command(name);
    ASSERT_EQ(g_seen_forms.size(), 1u) << name;
    EXPECT_EQ(g_copy_method & 0x2F, copy_method_of(name));
    EXPECT_TRUE(checked(name));
  }
  // The method in force, and the data fork's copy: nothing asked.
  answer_forms({{"MessOui", "", ""}});
  f->run_command("As");
  f->run_command("Da");
  EXPECT_TRUE(g_seen_forms.empty());
  EXPECT_EQ(g_copy_method & 0x2F, k_copy_data);
  // In French.
  f->run_command("Fr1");
  answer_forms({{"MessNon", "", "copy_method_question_french"}});
  f->run_command("Re");
  ASSERT_EQ(g_seen_forms.size(), 1u);
  EXPECT_EQ(g_seen_forms[0].text, ui_text(6750));
  answer_forms({});
  f->run_command("En2");
  f->run_command("MProj");
  f->Close(true);
  pump(300);
}

TEST(MenuKeys, NewImageDialogOpensItsHelp) {
  testkit::TempDir dir;
  auto* f = new MainFrame(nullptr);
  f->Show();
  f->start_up({});
  pump(300);
  f->run_command("MPart");
  for (int language : {0, 10000}) {
    f->run_command(language ? "Fr1" : "En2");
    std::string page;
    g_file_dialog_answer = [&](const std::string&) { return dir.str("new.hfs"); };
    g_modal_driver = [&](wxDialog& d) {
      if (d.GetName() != "NewImage") {
        d.EndModal(wxID_CANCEL);
        return;
      }
      g_modal_driver = nullptr;
      auto* timer = new wxTimer;
      timer->Bind(wxEVT_TIMER, [&d, &page, language, timer](wxTimerEvent&) {
        if (!screenshot(d, language ? "new_image_french" : "new_image")) ADD_FAILURE() << "new image form not shown";
        wxWindow* help = d.FindWindow("Aide");
        if (!help) {
          ADD_FAILURE() << "no help button";
        } else {
          page = help_page_of(d, [help] {
            wxCommandEvent click(wxEVT_BUTTON, help->GetId());
            click.SetEventObject(help);
            help->GetEventHandler()->ProcessEvent(click);
          });
        }
        d.EndModal(wxID_CANCEL);
        wxTheApp->CallAfter([timer] { delete timer; });
      });
      timer->StartOnce(300);
    };
    f->run_command("Nouvelle1");
    g_modal_driver = nullptr;
    g_file_dialog_answer = nullptr;
    size_t slash = page.rfind('/');
    EXPECT_EQ(slash == std::string::npos ? page : page.substr(slash + 1), language ? "t10111.html" : "t111.html");
    EXPECT_FALSE(testkit::fs::exists(dir.str("new.hfs"))) << "cancelled: nothing made";
  }
  f->run_command("En2");
  f->run_command("MProj");
  f->Close(true);
  pump(300);
  for (wxWindow* w : wxTopLevelWindows) w->Destroy();
  pump(300);
}
