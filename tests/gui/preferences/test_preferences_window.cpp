// The preferences dialog driven through its own controls: every choice made
// there is in the program and in the settings store after a restart.
#include <gtest/gtest.h>


#include <wx/checkbox.h>
#include <wx/notebook.h>
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

// --- preferences ---------------------------------------------------------------------------------
TEST(PreferencesWindow, EveryPreferenceSetInTheDialogIsThereAfterARestart) {
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
