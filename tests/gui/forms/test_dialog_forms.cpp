// The other dialogs, each opened from its command (or its hook), filled
// through its controls, confirmed, and what it wrote checked: column
// settings, About, signature file, file types, access path, the properties of
// the future CD-ROM, ISO+ items, the PC name of a copy, a long name's
// truncation and the signature of a file.
#include <gtest/gtest.h>

#include <wx/spinctrl.h>

#include <cstring>

#include "IO/settings.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/project.h"
#include "dialog_driver.h"
#include "gui/project/long_names.h"
#include "gui/signatures/signature_forms.h"
#include "gui/views/file_table.h"

using namespace guitest;
using namespace dialogtest;

namespace {

const std::string k_quorvel = QUORVEL_PATH;

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string project_with(const testkit::TempDir& dir, const std::string& name, const std::vector<const char*>& files) {
  for (const char* p : files) {
    testkit::fs::path at = dir.path() / "src" / p;
    testkit::fs::create_directories(at.parent_path());
    testkit::write_text(at, p);
  }
  std::string project = dir.str(name);
  EXPECT_EQ(testkit::run(testkit::quote(k_quorvel) + " -i " + testkit::quote(project) + " " +
                         testkit::quote(dir.str("src")))
                .rc,
            0);
  return project;
}

}  // namespace

TEST(DialogForms, SettingsDialogsOfTheOptionsAndHelpMenus) {
  MainFrame* f = open_window();
  std::string help_page;
  // Column settings: a column hidden, a width typed, the tree narrowed; its help button opens its topic.
  drive({[&](wxDialog& d) {
    control<wxSpinCtrl>(d, "Width7")->SetValue(150);
    EXPECT_FALSE(control<wxWindow>(d, "Column0")->IsEnabled());  // Name and Data are always shown
    EXPECT_FALSE(control<wxWindow>(d, "Column2")->IsEnabled());
    tick(d, "Column1", false);
    control<wxSpinCtrl>(d, "Width6")->SetValue(150);
    help_page = help_page_of(d, [&] { click(d, "Aide"); });
    shot(d, "column_settings");
    click(d, "OK");
  }});
  run_and_wait(f, "Col");
  EXPECT_TRUE(ends_with(help_page, "t133.html")) << help_page;
  EXPECT_EQ(g_list_columns[1].width, 0);
  EXPECT_EQ(g_list_columns[6].width, 150);
  char buf[k_text_size];
  std::string saved = read_setting_text("Col", buf);
  EXPECT_NE(saved.find("150"), std::string::npos) << saved;
  EXPECT_EQ(f->file_list()->GetColumnWidth(1), 0);
  EXPECT_EQ(f->file_list()->GetColumnWidth(6), 150);
  EXPECT_EQ(f->tree_width(), 150);
  // About.
  drive({[](wxDialog& d) {
    EXPECT_EQ(text_of(d, "Version").rfind(ui_text(1032), 0), 0u);
    shot(d, "about");
    click(d, "OK");
  }});
  run_and_wait(f, "Aproposde1");
  // In French, every text of the frame too.
  g_language_offset = 10000;
  drive({[](wxDialog& d) {
    EXPECT_EQ(d.GetTitle().utf8_string(), "Réglage des colonnes");
    EXPECT_EQ(text_of(d, "Column1"), "Type");
    EXPECT_EQ(text_of(d, "Cancel"), "&Annuler");
    EXPECT_EQ(control<wxWindow>(d, "Aide")->GetToolTipText().utf8_string(), ui_text(2329));
    shot(d, "column_settings_french");
    click(d, "Cancel");
  }});
  run_and_wait(f, "Col");
  g_language_offset = 0;
  // The signature file: no file named yet.
  drive({[](wxDialog& d) {
    EXPECT_EQ(text_of(d, "Current"), ui_text(1058));
    shot(d, "signature_file");
    click(d, "OK");
  }});
  run_and_wait(f, "Registre1");
  // File types: two of the three registered with the desktop.
  drive({[](wxDialog& d) {
    tick(d, "Isoplus", false);
    shot(d, "file_types");
    click(d, "OK");
  }});
  run_and_wait(f, "RFT");
  std::string packages = std::string(std::getenv("XDG_DATA_HOME")) + "/mime/packages";
  size_t registered = 0;
  for (const auto& e : testkit::fs::directory_iterator(packages)) registered += e.path().extension() == ".xml";
  EXPECT_EQ(registered, 2u);
  close_window(f);
}

TEST(DialogForms, ProjectWideDialogs) {
  testkit::TempDir dir;
  std::string project = project_with(dir, "p.cvpr", {"one.txt", "inner/two.txt"});
  MainFrame* f = open_window({project});
  // The access path: the project's files moved to another folder, twice, the dialog kept open.
  std::string old_src = dir.str("src") + "/", moved = dir.str("moved") + "/", again = dir.str("again") + "/";
  std::vector<ProjectRecord> before = project_records(project);
  int32_t src_id = record_named(before, "src")->id;
  std::string src_folder = record_named(before, "src")->pc_folder;
  drive({[&](wxDialog& d) {
    EXPECT_EQ(text_of(d, "OldPath"), src_folder);  // the first item is the folder src itself
    EXPECT_FALSE(control<wxWindow>(d, "Previous")->IsEnabled());
    click(d, "Next");
    EXPECT_EQ(text_of(d, "OldPath"), old_src);
    EXPECT_TRUE(control<wxWindow>(d, "Previous")->IsEnabled());
    type(d, "NewPath", moved);
    tick(d, "KeepOpen", true);
    shot(d, "access_path");
    click(d, "OK");
    EXPECT_TRUE(d.IsModal()) << "kept open for the next path";
    EXPECT_EQ(text_of(d, "OldPath"), moved);
    type(d, "NewPath", again);
    tick(d, "KeepOpen", false);
    click(d, "OK");
  }});
  run_and_wait(f, "Path1");
  for (const ProjectRecord& r : project_records(project)) {
    if (r.id == src_id) EXPECT_EQ(r.pc_folder + r.pc_name + "/", again) << "the moved folder itself";
    else EXPECT_EQ(r.pc_folder.rfind(again, 0), 0u) << r.pc_folder;
  }
  // The properties of the future CD-ROM: the real size computed, flags set.
  drive({[](wxDialog& d) {
    EXPECT_EQ(text_of(d, "ProjectFiles"), "2");
    click(d, "Compute");
    EXPECT_TRUE(control<wxWindow>(d, "RealSize")->IsShown());
    EXPECT_FALSE(text_of(d, "RealSize").empty());
    tick(d, "CustomIcon", true);
    tick(d, "OpenRoot", true);
    shot(d, "project_properties");
    click(d, "OK");
  }});
  run_and_wait(f, "Info1");
  FILE* p = std::fopen(project.c_str(), "rb");
  ProjectHeader h;
  ASSERT_TRUE(read_project_header(p, h));
  std::fclose(p);
  EXPECT_EQ(h.icon_flags & 0x04, 0x04);
  EXPECT_EQ(h.open_flags & 0x01, 0x01);
  // From the tree, the root's properties are the project's.
  select_in_tree(f, k_root_folder_id);
  drive({[](wxDialog& d) {
    EXPECT_EQ(d.GetName(), "ProjectProperties");
    click(d, "Cancel");
  }});
  run_and_wait(f, "Prop1");

  // The PC name of a copy to the PC, the truncation of a long HFS name, a
  // file's signature and an unreadable alias: the dialogs of the engine's hooks.
  drive({[](wxDialog& d) {
    EXPECT_EQ(text_of(d, "OldName"), "Mac:name");
    keys(d, "NewName", "a PC name that is longer than thirty characters");
    EXPECT_EQ(text_of(d, "NewName").size(), 30u);
    shot(d, "pc_name");
    click(d, "OK");
  }});
  std::string pc = "Mac:name";
  EXPECT_TRUE(ask_pc_file_name(pc));
  EXPECT_EQ(pc, "a PC name that is longer than ");
  EXPECT_TRUE(all_steps_run());
  g_long_name_kind = 1;
  bool saved_auto = g_auto_truncate_hfs;
  g_auto_truncate_hfs = false;
  std::string proposed;
  drive({[&](wxDialog& d) {
    EXPECT_EQ(d.GetTitle().utf8_string(), ui_text(1282));
    proposed = text_of(d, "NewName");
    tick(d, "Auto", true);
    shot(d, "long_name");
    click(d, "OK");
  }});
  std::string long_name = "A name of more than thirty-one characters.txt";
  EXPECT_TRUE(g_ask_long_name(long_name, 31));
  EXPECT_EQ(long_name, proposed);
  EXPECT_EQ(long_name.size(), 31u);
  EXPECT_TRUE(ends_with(long_name, ".txt")) << "the extension was not kept";
  EXPECT_TRUE(g_auto_truncate_hfs) << "the automatic cut was not switched on";
  g_auto_truncate_hfs = saved_auto;
  char signature[8];
  std::memcpy(signature, "TEXT????", 8);
  drive({[](wxDialog& d) {
    EXPECT_EQ(text_of(d, "OldCreator"), "????");
    type(d, "NewType", "ABCD");
    shot(d, "signature_edit");
    click(d, "ChangeAll");
  }});
  EXPECT_EQ(run_signature_edit_form(nullptr, signature, "file.txt"), 2);
  EXPECT_EQ(std::string(signature, 8), "ABCD????");
  close_window(f);
}

TEST(DialogForms, IsoplusItemsAndProperties) {
  testkit::TempDir dir;
  std::string project = project_with(dir, "q.cvso", {"alpha.txt", "beta.txt"});
  MainFrame* f = open_window({project});
  ASSERT_EQ(g_working_mode, k_mode_isoplus);
  std::vector<ProjectRecord> recs = project_records(project);
  int32_t src = record_named(recs, "src")->id, alpha = record_named(recs, "alpha.txt")->id,
          beta = record_named(recs, "beta.txt")->id;
  select_rows(f, src, {alpha});
  drive({[](wxDialog& d) {
    EXPECT_EQ(d.GetName(), "IsoplusItem");
    EXPECT_EQ(d.FindWindow("HfsName"), nullptr);
    type(d, "IsoName", "Renamed on the CD-ROM.txt");
    tick(d, "IsoHidden", true);
    shot(d, "isoplus_item");
    click(d, "OK");
  }});
  run_and_wait(f, "Prop1");
  recs = project_records(project);
  const ProjectRecord* a = record_named(recs, "alpha.txt");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->long_name, "Renamed on the CD-ROM.txt");
  EXPECT_EQ(a->id, alpha);
  EXPECT_EQ(a->attr_flags & 0x06, 0x02);
  // Two items: the mixed hidden box clicked once becomes unticked for both.
  select_rows(f, src, {alpha, beta});
  drive({[](wxDialog& d) {
    EXPECT_EQ(d.GetName(), "IsoplusItems");
    auto* hidden = control<wxCheckBox>(d, "Hidden");
    EXPECT_EQ(hidden->Get3StateValue(), wxCHK_UNDETERMINED);
    click_box(d, "Hidden");
    EXPECT_EQ(hidden->Get3StateValue(), wxCHK_UNCHECKED);
    shot(d, "isoplus_items");
    click(d, "OK");
  }});
  run_and_wait(f, "WizIso");
  recs = project_records(project);
  EXPECT_EQ(record_named(recs, "alpha.txt")->attr_flags & 0x06, 0);
  // The ISO+ properties: the sizes, closed with "Close".
  drive({[](wxDialog& d) {
    EXPECT_EQ(d.GetName(), "IsoplusProperties");
    EXPECT_EQ(d.FindWindow("OK"), nullptr);
    click(d, "Compute");
    shot(d, "isoplus_properties");
    click(d, "Cancel");
  }});
  run_and_wait(f, "In1");
  close_window(f);
}
