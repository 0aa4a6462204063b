// The forms driven through their own controls: the log file form writes the
// journal setting it was given, and help asked for on any of a form's
// controls opens the form's topic in the language.
#include <gtest/gtest.h>

#include <wx/textctrl.h>

#include <cstdio>

#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/commands.h"
#include "dialog_driver.h"
#include "gui/compile/logfiledialog.h"
#include "gui/forms/messageforms.h"
#include "gui_fixture.h"

using namespace dialogtest;
using namespace guitest;

namespace {

// Help asked for as the context menu asks for it (a right click on the control).
void context_menu_on(wxWindow* w) {
  wxContextMenuEvent e(wxEVT_CONTEXT_MENU, w->GetId(), w->GetScreenPosition());
  e.SetEventObject(w);
  w->GetEventHandler()->ProcessEvent(e);
}

// F1 pressed in the form.
void f1_in(wxDialog& d) {
  wxKeyEvent e(wxEVT_CHAR_HOOK);
  e.m_keyCode = WXK_F1;
  e.SetEventObject(&d);
  d.GetEventHandler()->ProcessEvent(e);
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TEST(Forms, LogFileFormOpensTheJournalItIsGivenAndCloseForgetsIt) {
  testkit::TempDir dir;
  std::string journal = dir.str("mine.log");
  testkit::write_text(journal, "before\n");
  if (g_log_file) std::fclose(g_log_file);
  g_log_file = nullptr;
  g_preferences |= k_pref_open_journal;
  save_preference_flags(g_preferences);

  bool open_disabled = false, close_enabled = false, shot = false;
  drive({[&](wxDialog& d) {
    auto* field = dynamic_cast<wxTextCtrl*>(d.FindWindow("Fichier"));
    wxWindow* open = d.FindWindow("Ouvrir");
    ASSERT_TRUE(field && open && d.FindWindow("Fermer"));
    field->SetValue(wxString::FromUTF8(journal));
    click(d, "Ouvrir");
    open_disabled = !open->IsEnabled();
    close_enabled = d.FindWindow("Fermer")->IsEnabled();
    pump(300);  // the buttons redrawn in their new states before the picture
    shot = screenshot(d, "log_file_form");
    click(d, "OK");
  }});
  EXPECT_EQ(run_log_file_dialog(nullptr), 1);
  EXPECT_TRUE(shot) << "the log file form was not shown or blank";
  EXPECT_TRUE(open_disabled && close_enabled) << "Open and Close do not follow the journal";
  ASSERT_NE(g_log_file, nullptr);
  char buf[k_text_size];
  EXPECT_EQ(std::string(read_log_path(buf)), journal);
  std::fflush(g_log_file);
  EXPECT_EQ(testkit::read_text(journal), "before\n**********\r\n") << "the journal is appended to, marked once";

  // The next time the field shows the journal kept; Close ends it and the
  // start-up opening is no longer asked for.
  std::string shown;
  drive({[&](wxDialog& d) {
    shown = dynamic_cast<wxTextCtrl*>(d.FindWindow("Fichier"))->GetValue().utf8_string();
    click(d, "Fermer");
    click(d, "OK");
  }});
  EXPECT_EQ(run_log_file_dialog(nullptr), 1);
  EXPECT_EQ(shown, journal);
  EXPECT_EQ(g_log_file, nullptr);
  EXPECT_EQ(read_preference_flags() & k_pref_open_journal, 0u);
  stop_driving();
}

TEST(Forms, ContextHelpOpensTheFormsTopicInTheLanguage) {
  int saved_offset = g_language_offset;
  std::string by_menu, by_f1_french, by_button;
  g_language_offset = 0;
  drive({[&](wxDialog& d) {
    by_menu = help_page_of(d, [&] { context_menu_on(d.FindWindow("Fichier")); }, "context_help");
    g_language_offset = 10000;
    by_f1_french = help_page_of(d, [&] { f1_in(d); });
    g_language_offset = 0;
    by_button = help_page_of(d, [&] { click(d, "Aide"); });
    click(d, "OK");
  }});
  run_log_file_dialog(nullptr);
  EXPECT_TRUE(ends_with(by_menu, "t152.html")) << by_menu;
  EXPECT_TRUE(ends_with(by_f1_french, "t10152.html")) << by_f1_french;
  EXPECT_TRUE(ends_with(by_button, "t152.html")) << by_button;

  // A message form's own topic, from the context menu on its text.
  std::string by_message;
  drive({[&](wxDialog& d) {
    by_message = help_page_of(d, [&] { context_menu_on(d.FindWindow("MessText")); });
    click(d, "MessOui");
  }});
  EXPECT_TRUE(ask_yes_no_form(nullptr, "Help?"));
  EXPECT_TRUE(ends_with(by_message, "t107.html")) << by_message;
  stop_driving();
  g_language_offset = saved_offset;
}
