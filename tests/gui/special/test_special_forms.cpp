// The Special, Options and Help commands of the main window through their
// forms: the other programs, the help and the support page, the fork swap on
// the open volume, the rebuild, the preferences, the signature table and the
// removal of an image's HFS partition; judged by the settings store, the
// files written and the outside readers of the images.
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
#include "platform/programs.h"
#include "support/inclusion_kit.h"
#include "support/volume_images.h"

using namespace guitest;
using namespace formsteps;
using testkit::fs::path;

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
