// Compiles started from the window, through their target choice and option
// dialogs, each image judged by outside tools: an ISO-only and an HFS-only
// image hold exactly their view, labels and the ISO descriptor come through,
// a crowded project comes out HFS+ and cannot be sent back to HFS, and a
// cancelled compile leaves no target.
#include <gtest/gtest.h>

#include <wx/checkbox.h>
#include <wx/treectrl.h>

#include <regex>

#include "IO/uitext.h"
#include "IO/version.h"
#include "compiler/project.h"
#include "dialog_driver.h"
#include "gui/compile/compile_options.h"
#include "gui/compile/compileworker.h"

using namespace guitest;
using namespace dialogtest;

namespace {

const std::string k_quorvel = QUORVEL_PATH;

// src/{one.txt, two.txt, deep/three.txt, deep/four five.txt}
void make_sources(const testkit::TempDir& dir) {
  testkit::fs::create_directories(dir.path() / "src" / "deep");
  for (const char* p : {"src/one.txt", "src/two.txt", "src/deep/three.txt", "src/deep/four five.txt"})
    testkit::write_text(dir.path() / p, std::string(p) + "\n");
}

std::string include(const testkit::TempDir& dir, const std::string& project, const char* option = "-i") {
  std::string path = dir.str(project);
  EXPECT_EQ(testkit::run(testkit::quote(k_quorvel) + " " + option + " " + testkit::quote(path) + " " +
                         testkit::quote(dir.str("src")))
                .rc,
            0);
  return path;
}

// The target the Save dialog gives, and the titles of the dialogs asked.
std::vector<std::string> g_asked;
void choose_target(const std::string& path) {
  g_asked.clear();
  g_file_dialog_answer = [path](const std::string& title) {
    g_asked.push_back(title);
    return path;
  };
}

Step compile_options(const std::string& title_expected, const std::function<void(wxDialog&)>& fill,
                     const std::string& picture) {
  return [title_expected, fill, picture](wxDialog& d) {
    EXPECT_EQ(d.GetTitle().utf8_string(), title_expected);
    if (fill) fill(d);
    shot(d, picture);
    click(d, "OK");
  };
}

std::string upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool succeeded() {
  return !g_driver.texts.empty() && words(g_driver.texts.back()).find(words(ui_text(1295))) != std::string::npos;
}

void set_header(const std::string& project, const std::function<void(ProjectHeader&)>& change) {
  FILE* f = std::fopen(project.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  ProjectHeader h;
  ASSERT_TRUE(read_project_header(f, h));
  change(h);
  ASSERT_TRUE(write_project_header(f, h));
  std::fclose(f);
}

}  // namespace

TEST(DialogCompile, IsoOnlyAndHfsOnlyImagesHoldExactlyTheirView) {
  testkit::TempDir dir;
  make_sources(dir);
  std::string iso_project = include(dir, "iso.cvpr", "-ii");
  std::string hfs_project = include(dir, "hfs.cvpr", "-ih");
  MainFrame* f = open_window({iso_project});
  // No HFS view: the ISO-only compile, its own dialog, a label of 12 characters.
  choose_target(dir.str("iso.iso"));
  drive({close_message("compile_iso_only_notice"),
         compile_options(ui_text(1476), [](wxDialog& d) {
           keys(d, "Label", "ISO ONLY LABEL");  // 14 characters: the edit takes 12
           EXPECT_EQ(text_of(d, "Label"), "ISO ONLY LAB");
           type(d, "Label", "ISOONLY");
           EXPECT_EQ(d.FindWindow("HfsName"), nullptr);
           EXPECT_EQ(text_of(d, "IsoFiles"), "4");
         }, "compile_iso_only_options"),
         close_message("compile_iso_only_done")});
  run_and_wait(f, "Compil1");
  ASSERT_TRUE(succeeded());
  EXPECT_EQ(words(g_driver.texts[0]), words(ui_text(1552)));
  EXPECT_EQ(g_asked, std::vector<std::string>{ui_text(1369)});
  std::string image = testkit::quote(dir.str("iso.iso"));
  testkit::RunResult d = testkit::run("isoinfo -d -i " + image);
  EXPECT_NE(d.out.find("Volume id: ISOONLY\n"), std::string::npos) << d.out;
  testkit::RunResult l = testkit::run("isoinfo -l -J -i " + image);
  std::set<std::string> expected;
  for (const ProjectRecord& r : project_records(iso_project))
    if (iso_view(r) != 0) expected.insert(r.long_name);
  EXPECT_EQ(isoinfo_names(l.out), expected) << l.out;
  EXPECT_EQ(expected.size(), 6u);
  EXPECT_NE(testkit::run("mmls -t mac " + image).rc, 0) << "an ISO-only image with a partition map";

  // No ISO view: the HFS-only compile into a .dmg, with its Apple partition map.
  f->handle_command_argument({hfs_project});
  pump(200);
  choose_target(dir.str("hfs.dmg"));
  drive({close_message(),
         compile_options(ui_text(1108), [](wxDialog& d) {
           type(d, "HfsName", "Only the HFS view");
           EXPECT_FALSE(control<wxCheckBox>(d, "HfsPlus")->GetValue());
         }, "compile_hfs_only_options"),
         close_message()});
  run_and_wait(f, "CompProj");
  ASSERT_TRUE(succeeded());
  EXPECT_EQ(words(g_driver.texts[0]), words(ui_text(1551)));
  EXPECT_EQ(g_asked, std::vector<std::string>{ui_text(1369)});
  std::string dmg = dir.str("hfs.dmg");
  testkit::RunResult m = testkit::run("mmls -t mac " + testkit::quote(dmg));
  EXPECT_EQ(m.rc, 0) << m.err;
  EXPECT_NE(m.out.find("Apple_HFS"), std::string::npos) << m.out;
  testkit::RunResult h = testkit::run(on_hfs(dmg, dir.str(""), "hls -1aR; hvol"));
  ASSERT_EQ(h.rc, 0) << h.err;
  expected.clear();
  for (const ProjectRecord& r : project_records(hfs_project))
    if (hfs_view(r) != 0) expected.insert(r.hfs_name);
  std::set<std::string> listed = hls_names(h.out.substr(0, h.out.find("Current volume")));
  EXPECT_EQ(listed, expected) << h.out;
  EXPECT_NE(h.out.find("Volume name is \"Only the HFS view\""), std::string::npos) << h.out;
  close_window(f);
  g_file_dialog_answer = nullptr;
}

TEST(DialogCompile, LabelsAndTheIsoDescriptorReachTheImage) {
  testkit::TempDir dir;
  make_sources(dir);
  std::string project = include(dir, "p.cvpr");
  // Identifiers set before: the dialog shows them all, even with no system identifier.
  set_header(project, [](ProjectHeader& h) {
    h.system_id.clear();
    h.publisher_id = "KEPT PUBLISHER";
    h.copyright_file_id = "COPYRIGHT.TX";
  });
  MainFrame* f = open_window({project});
  drive({[](wxDialog& d) {
    EXPECT_EQ(d.GetName(), "ProjectLabels");
    type(d, "IsoNew", "HYBRIDLABEL");
    EXPECT_EQ(text_of(d, "HfsNew"), "HYBRIDLABEL");  // the new ISO label is copied as it is typed
    type(d, "HfsNew", "Hybrid Mac Name");
    shot(d, "labels_dialog");
    click(d, "OK");
  }});
  run_and_wait(f, "Label");
  EXPECT_EQ(f->folder_tree()->GetItemText(f->folder_tree()->GetRootItem()).utf8_string(), "HYBRIDLABEL")
      << "the tree's root shows the new label";

  choose_target(dir.str("p.iso"));
  drive({compile_options(ui_text(1097), [](wxDialog& d) {
           EXPECT_EQ(text_of(d, "Label"), "HYBRIDLABEL");
           EXPECT_EQ(text_of(d, "HfsName"), "Hybrid Mac Name");
           click(d, "Advanced");
           EXPECT_EQ(text_of(d, "Label"), "HYBRIDLABEL");
         }, "compile_hybrid_options"),
         [](wxDialog& d) {
           EXPECT_EQ(d.GetName(), "IsoDescriptor");
           EXPECT_EQ(text_of(d, "System"), product_version_text());
           EXPECT_EQ(text_of(d, "Publisher"), "KEPT PUBLISHER");
           EXPECT_EQ(text_of(d, "Copyright"), "COPYRIGHT.TX");
           type(d, "Preparer", "DATA PREPARED BY THE DIALOG");
           type(d, "Application", "APPLICATION OF THE DIALOG");
           type(d, "Bibliographic", "BIBLIO123456");  // the whole field
           shot(d, "iso_descriptor_dialog");
           click(d, "OK");
         },
         close_message("compile_hybrid_done")});
  run_and_wait(f, "Compil1");
  ASSERT_TRUE(succeeded());
  std::string image = testkit::quote(dir.str("p.iso"));
  testkit::RunResult d = testkit::run("isoinfo -d -i " + image);
  for (const std::string& line :
       std::vector<std::string>{"Volume id: HYBRIDLABEL", "System id: " + upper(product_version_text()),
        "Publisher id: KEPT PUBLISHER",
        std::string("Data preparer id: DATA PREPARED BY THE DIALOG"),
        std::string("Application id: APPLICATION OF THE DIALOG"), std::string("Copyright File id: COPYRIGHT.TX"),
        std::string("Bibliographic File id: BIBLIO123456")})
    EXPECT_NE(d.out.find(line + "\n"), std::string::npos) << line << "\n" << d.out;
  testkit::RunResult h = testkit::run(on_hfs(dir.str("p.iso"), dir.str(""), "hvol"));
  EXPECT_NE(h.out.find("Volume name is \"Hybrid Mac Name\""), std::string::npos) << h.out << h.err;

  // ISO+ Mode: its label dialog, its compile.
  testkit::fs::rename(project, dir.str("old.cvpr"));
  std::string isoplus = include(dir, "q.cvso");
  f->handle_command_argument({isoplus});
  pump(200);
  ASSERT_EQ(g_working_mode, k_mode_isoplus);
  drive({[](wxDialog& d) {
    EXPECT_EQ(d.GetName(), "IsoplusLabel");
    type(d, "NewName", "ISOPLUS");
    shot(d, "isoplus_label_dialog");
    click(d, "OK");
  }});
  run_and_wait(f, "La1");
  choose_target(dir.str("q.iso"));
  drive({compile_options(ui_text(1477), [](wxDialog& d) {
           EXPECT_EQ(text_of(d, "Label"), "ISOPLUS");
           EXPECT_EQ(d.FindWindow("HfsPlus"), nullptr);
         }, "compile_isoplus_options"),
         close_message()});
  run_and_wait(f, "CompISOP");
  ASSERT_TRUE(succeeded());
  std::string q = testkit::quote(dir.str("q.iso"));
  EXPECT_NE(testkit::run("isoinfo -d -i " + q).out.find("Volume id: ISOPLUS\n"), std::string::npos);
  std::set<std::string> expected;
  for (const ProjectRecord& r : project_records(isoplus)) expected.insert(r.long_name);
  std::set<std::string> listed;
  for (std::string name : isoinfo_names(testkit::run("isoinfo -l -i " + q).out)) {
    for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    listed.insert(name);
  }
  EXPECT_EQ(listed.size(), expected.size()) << testkit::run("isoinfo -l -i " + q).out;
  close_window(f);
  g_file_dialog_answer = nullptr;
}

TEST(DialogCompile, ACrowdedProjectComesOutHfsPlusAndCannotGoBack) {
  testkit::TempDir dir;
  testkit::fs::create_directories(dir.path() / "src");
  // 65,600 files of one byte: more blocks and items than HFS holds.
  ASSERT_EQ(testkit::run("cd " + testkit::quote(dir.str("src")) +
                         " && python3 -c \"[open('f%05d' % i, 'wb').write(b'x') for i in range(65600)]\"")
                .rc,
            0);
  std::string project = include(dir, "c.cvpr", "-ih");
  {
    FILE* p = std::fopen(project.c_str(), "r+b");
    set_project_hfs_format(p, false);  // as an HFS project left it
    std::fclose(p);
  }
  MainFrame* f = open_window({project});
  choose_target(dir.str("c.dmg"));
  drive({close_message(),
         [](wxDialog& d) {
           auto* plus = control<wxCheckBox>(d, "HfsPlus");
           EXPECT_TRUE(plus->GetValue()) << "switched before the dialog";
           tick(d, "HfsPlus", false);
           click(d, "OK");  // refused: the dialog stays, HFS+ ticked again
           EXPECT_TRUE(plus->GetValue());
           EXPECT_TRUE(d.IsModal());
           click(d, "OK");
         },
         close_message("compile_hfs_refused"),
         close_message()});
  run_and_wait(f, "Compil1", 200000);
  ASSERT_TRUE(succeeded());
  ASSERT_GE(g_driver.texts.size(), 3u);
  EXPECT_EQ(words(g_driver.texts[2]), words(ui_text(k_text_hfs_too_many_items)));
  testkit::RunResult m = testkit::run("mmls -t mac " + testkit::quote(dir.str("c.dmg")));
  size_t at = m.out.find("Apple_HFS");
  ASSERT_NE(at, std::string::npos) << m.out;
  std::istringstream row(m.out.substr(m.out.rfind('\n', at) + 1));
  std::string slot, number, start;
  row >> slot >> number >> start;
  testkit::RunResult s = testkit::run("fsstat -o " + std::to_string(std::stoul(start)) + " " +
                                      testkit::quote(dir.str("c.dmg")));
  EXPECT_NE(s.out.find("File System Type: HFS+"), std::string::npos) << s.out << s.err;
  FILE* p = std::fopen(project.c_str(), "rb");
  EXPECT_EQ(get_project_hfs_format(p), 1);
  std::fclose(p);
  close_window(f);
  g_file_dialog_answer = nullptr;
}

TEST(DialogCompile, ACancelledCompileLeavesNoTargetAndUntitledTakesTheName) {
  testkit::TempDir dir;
  make_sources(dir);
  std::string project = include(dir, "p.cvpr");
  set_header(project, [](ProjectHeader& h) {
    h.volume_label = ui_text(1287);
    h.hfs_volume_name = ui_text(1287);
  });
  MainFrame* f = open_window({project});
  // The dialog cancelled: the target it made is gone, the label taken from it stays.
  choose_target(dir.str("Photos.iso"));
  drive({[](wxDialog& d) {
    EXPECT_EQ(text_of(d, "Label"), "Photos");
    EXPECT_EQ(text_of(d, "HfsName"), "Photos");
    click(d, "Cancel");
  }});
  run_and_wait(f, "Compil1");
  EXPECT_FALSE(testkit::fs::exists(dir.str("Photos.iso")));
  FILE* p = std::fopen(project.c_str(), "rb");
  ProjectHeader h;
  ASSERT_TRUE(read_project_header(p, h));
  std::fclose(p);
  EXPECT_EQ(h.volume_label, "Photos");
  // An existing image is overwritten only when confirmed; refused, it stays as it was.
  testkit::write_text(dir.path() / "old.iso", "an older image");
  choose_target(dir.str("old.iso"));
  drive({answer(false)});
  run_and_wait(f, "Compil1");
  EXPECT_EQ(testkit::read_text(dir.path() / "old.iso"), "an older image");
  // The project itself is never a target.
  choose_target(project);
  drive({close_message()});
  run_and_wait(f, "Compil1");
  EXPECT_EQ(words(g_driver.texts[0]), words(ui_text(6115)));
  p = std::fopen(project.c_str(), "rb");
  EXPECT_EQ(check_project_magic(p), 1) << "the project was overwritten";
  std::fclose(p);
  // The Save dialog cancelled: nothing at all.
  choose_target("");
  drive({});
  run_and_wait(f, "Compil1");
  EXPECT_TRUE(compile_idle());
  close_window(f);
  g_file_dialog_answer = nullptr;
}

// What the user typed stays: "Advanced Options" > OK leaves the label and HFS
// name typed in the compile dialog; ticking HFS+ keeps an HFS name given by
// hand (sleuthkit lists it on the HFS+ volume, the window's list shows it);
// going back to HFS asks before it cuts a name typed too long for HFS.
TEST(DialogCompile, TypedLabelsAndNamesOutliveAdvancedOptionsAndAChangeOfFormat) {
  REQUIRE_TOOL("fls");
  testkit::TempDir dir;
  make_sources(dir);
  std::string project = include(dir, "p.cvpr");
  auto edit_hfs_name = [&](const std::string& pc_name, const std::string& name) {
    FILE* p = std::fopen(project.c_str(), "r+b");
    ASSERT_NE(p, nullptr);
    std::fseek(p, long(k_project_record_size), SEEK_SET);
    for (ProjectRecord r; read_project_record(p, r);)
      if (r.pc_name == pc_name) {
        r.hfs_name = name;
        std::fseek(p, -long(k_project_record_size), SEEK_CUR);
        ASSERT_TRUE(write_project_record(p, r));
        break;
      }
    std::fclose(p);
  };
  {
    FILE* p = std::fopen(project.c_str(), "r+b");
    set_project_hfs_format(p, false);
    std::fclose(p);
  }
  edit_hfs_name("two.txt", "Deux \x8Et\x8Es");  // "Deux étés", as the properties dialog stores it (Mac Roman)
  MainFrame* f = open_window({project});
  choose_target(dir.str("p.iso"));
  std::string label_after, name_after;
  drive({compile_options(ui_text(1097), [&](wxDialog& d) {
           type(d, "Label", "TYPEDLABEL");
           type(d, "HfsName", "Typed Mac Name");
           click(d, "Advanced");
           label_after = text_of(d, "Label");
           name_after = text_of(d, "HfsName");
           tick(d, "HfsPlus", true);
         }, "compile_typed_names"),
         [](wxDialog& d) {
           EXPECT_EQ(d.GetName(), "IsoDescriptor");
           EXPECT_EQ(text_of(d, "VolumeName"), "TYPEDLABEL") << "the label typed, not the stored one";
           click(d, "OK");
         },
         close_message()});
  run_and_wait(f, "Compil1");
  ASSERT_TRUE(succeeded());
  EXPECT_EQ(label_after, "TYPEDLABEL");
  EXPECT_EQ(name_after, "Typed Mac Name");
  std::string image = dir.str("p.iso");
  EXPECT_NE(testkit::run("isoinfo -d -i " + testkit::quote(image)).out.find("Volume id: TYPEDLABEL\n"),
            std::string::npos);
  std::vector<ProjectRecord> records = project_records(project);
  const ProjectRecord* two = record_named(records, "two.txt");
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(two->hfs_name, "Deux \xC3\xA9t\xC3\xA9s");
  // The HFS+ volume of the image, read by sleuthkit.
  testkit::RunResult mm = testkit::run("mmls -t mac -b 2048 " + testkit::quote(image));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(mm.out, m, std::regex("\\s0*([0-9]+)\\s+[0-9]+\\s+[0-9]+\\s+Apple_HFS"))) << mm.out;
  testkit::RunResult listing = testkit::run("LC_ALL=C.UTF-8 fls -f hfsp -r -p -o " + std::to_string(std::stoul(m[1]) * 4) +
                                            " " + testkit::quote(image));
  EXPECT_NE(listing.out.find("Deux e\xCC\x81te\xCC\x81s"), std::string::npos) << listing.out << listing.err;
  EXPECT_NE(listing.out.find("/one.txt\n"), std::string::npos) << listing.out;
  // The list in the HFS view shows the name as it now is.
  f->run_command("VM1");
  pump(200);
  select_in_tree(f, int32_t(two->parent_id));
  pump(200);
  bool listed = false;
  for (long i = 0; i < f->file_list()->GetItemCount(); ++i)
    listed |= f->file_list()->GetItemText(i).utf8_string() == "Deux \xC3\xA9t\xC3\xA9s";
  EXPECT_TRUE(listed);

  // Back to HFS in the project's properties, a name typed for HFS+ too long for HFS.
  const std::string typed = "A name typed for HFS+ that HFS cannot hold";
  edit_hfs_name("one.txt", typed);
  for (int language : {0, 10000}) {
    g_language_offset = language;
    drive({[language](wxDialog& d) {
             tick(d, "HfsPlus", false);
             click(d, "OK");
             EXPECT_TRUE(d.IsModal()) << "the answer No leaves the dialog open";
             EXPECT_TRUE(control<wxCheckBox>(d, "HfsPlus")->GetValue()) << "and HFS+ ticked again";
             if (language) {
               tick(d, "HfsPlus", false);
               click(d, "OK");
             }
           },
           [language](wxDialog& d) {
             shot(d, language ? "format_change_question_french" : "format_change_question");
             click(d, "MessNon");
           },
           [](wxDialog& d) { click(d, "MessOui"); }});
    if (!language) g_driver.steps.pop_back();
    run_and_wait(f, "Info1");
  }
  g_language_offset = 0;
  ASSERT_GE(g_driver.texts.size(), 2u);
  EXPECT_NE(words(g_driver.texts[1]).find(typed), std::string::npos) << g_driver.texts[1];
  FILE* p = std::fopen(project.c_str(), "rb");
  EXPECT_EQ(get_project_hfs_format(p), 0);
  std::fclose(p);
  records = project_records(project);
  ASSERT_NE(record_named(records, "one.txt"), nullptr);
  EXPECT_EQ(record_named(records, "one.txt")->hfs_name, typed.substr(0, 31));
  EXPECT_EQ(record_named(records, "two.txt")->hfs_name, "Deux \x8Et\x8Es");
  close_window(f);
  g_file_dialog_answer = nullptr;
}
