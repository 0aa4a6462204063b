// The signature table offered at the first start, shown over the main window
// in both languages: the installed table first and taken by OK, a table of the
// current folder taken by a double click, another file browsed to, or none.
#include <gtest/gtest.h>

#include <wx/filedlg.h>
#include <wx/listbox.h>

#include "IO/uitext.h"
#include "dialog_driver.h"
#include "gui/signatures/sigtable_offer.h"
#include "gui/signatures/sigtable_offer_form.h"

using namespace guitest;
using namespace dialogtest;

TEST(SignatureOfferForm, TablesListedAndTakenInBothLanguages) {
  testkit::TempDir dir;
  const std::string installed = CORVANE_SOURCE_DIR "/gui/default.sig";
  testkit::write_text(dir.path() / "mine.sig", "zz,ZZZZzzzz,Mine\n");
  testkit::write_text(dir.path() / "other.sig", "yy,YYYYyyyy,Other\n");
  MainFrame* f = open_window();
  SignatureOffer offer = make_signature_offer(installed, dir.str());
  ASSERT_EQ(offer.tables.size(), 3u);
  std::string chosen, help_page;

  drive({[&](wxDialog& d) {
    auto* list = control<wxListBox>(d, "Tables");
    EXPECT_EQ(list->GetCount(), 3u);
    EXPECT_EQ(list->GetSelection(), 0);
    EXPECT_EQ(list->GetString(0).utf8_string(), "Table of common types (comes with Corvane)");
    EXPECT_EQ(list->GetString(1).utf8_string(), "mine.sig");
    EXPECT_EQ(text_of(d, "Path"), "File: " + installed);
    EXPECT_EQ(words(text_of(d, "Intro")), ui_text(6821));
    help_page = help_page_of(d, [&] { click(d, "Aide"); });
    shot(d, "signature_offer");
    click(d, "OK");
  }});
  EXPECT_EQ(run_signature_offer(f, offer, chosen), 1);
  EXPECT_EQ(chosen, installed);
  EXPECT_NE(help_page.find("t139.html"), std::string::npos) << help_page;

  g_language_offset = 10000;
  drive({[&](wxDialog& d) {
    EXPECT_EQ(d.GetTitle().utf8_string(), "Choisir un fichier de signatures");
    EXPECT_EQ(text_of(d, "Cancel"), "Aucune table");
    EXPECT_EQ(text_of(d, "Other"), "Autre fichier...");
    auto* list = control<wxListBox>(d, "Tables");
    EXPECT_EQ(list->GetString(0).utf8_string(), "Table des types courants (livr\xC3\xA9""e avec Corvane)");
    // A table picked in the list says where it lies.
    list->SetSelection(1);
    wxCommandEvent pick(wxEVT_LISTBOX, list->GetId());
    pick.SetEventObject(list);
    pick.SetInt(1);
    list->GetEventHandler()->ProcessEvent(pick);
    EXPECT_EQ(text_of(d, "Path"), "Fichier : " + dir.str("mine.sig"));
    shot(d, "signature_offer_french");
    wxCommandEvent dclick(wxEVT_LISTBOX_DCLICK, list->GetId());
    dclick.SetEventObject(list);
    dclick.SetInt(1);
    list->GetEventHandler()->ProcessEvent(dclick);
  }});
  EXPECT_EQ(run_signature_offer(f, offer, chosen), 1);
  EXPECT_EQ(chosen, dir.str("mine.sig"));
  g_language_offset = 0;

  // No table: nothing chosen.
  drive({[](wxDialog& d) { click(d, "Cancel"); }});
  EXPECT_EQ(run_signature_offer(f, offer, chosen), 0);
  EXPECT_EQ(chosen, "");

  // Another file: the file chooser's answer is taken; cancelled, the offer stays up.
  offer.selected = 0;
  bool still_up = false;
  drive({[&](wxDialog& d) {
           click(d, "Other");
           still_up = d.IsModal();
           click(d, "OK");
         },
         [](wxDialog& d) {
           EXPECT_NE(dynamic_cast<wxFileDialog*>(&d), nullptr);
           d.EndModal(wxID_CANCEL);
         }});
  EXPECT_EQ(run_signature_offer(f, offer, chosen), 1);
  EXPECT_TRUE(still_up);
  EXPECT_EQ(chosen, installed);
  drive({[](wxDialog& d) { click(d, "Other"); },
         [&](wxDialog& d) {
           auto* choose = dynamic_cast<wxFileDialog*>(&d);
           ASSERT_NE(choose, nullptr);
           choose->SetPath(wxString::FromUTF8(dir.str("other.sig")));
           // An open dialog's chooser selects the file once it has read its folder.
           pump(3000, [&] { return choose->GetPath().utf8_string() == dir.str("other.sig"); });
           d.EndModal(wxID_OK);
         }});
  EXPECT_EQ(run_signature_offer(f, offer, chosen), 1);
  EXPECT_EQ(chosen, dir.str("other.sig"));
  EXPECT_TRUE(all_steps_run());
  close_window(f);
}
