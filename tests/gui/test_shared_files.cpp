// Files the window shares with other programs: the project it has open is
// refused to a console edit and read by a console compile; a project another
// program holds is not opened; a change the window makes while a compile of
// another program reads the project is refused whole.
#include <gtest/gtest.h>

#include <sstream>

#include <wx/menu.h>

#include "IO/uitext.h"
#include "compiler/project.h"
#include "gui/mainframe.h"
#include "gui/menumodel.h"
#include "gui/views/documents.h"
#include "gui_fixture.h"
#include "hfs/newimage.h"
#include "hfs/ondisk.h"

using namespace guitest;
using testkit::quote;

namespace {

const std::string k_quorvel = QUORVEL_PATH;

MainFrame* open_window(const std::vector<std::string>& args) {
  auto* f = new MainFrame(nullptr);
  f->Show();
  f->start_up(args);
  pump(400);
  return f;
}

// The form wraps long lines: texts are compared word by word.
bool same_words(const std::string& a, const std::string& b) {
  auto words = [](const std::string& s) {
    std::vector<std::string> w;
    std::istringstream in(s);
    for (std::string x; in >> x;) w.push_back(x);
    return w;
  };
  return words(a) == words(b);
}

void close_window(MainFrame* f) {
  answer_forms({});
  f->Close(true);
  pump(300);
}

std::string project_with_files(const testkit::TempDir& dir) {
  testkit::fs::create_directories(dir.path() / "src");
  testkit::fs::create_directories(dir.path() / "more");
  testkit::write_text(dir.path() / "src" / "one.txt", "one");
  testkit::write_text(dir.path() / "more" / "two.txt", "two");
  std::string project = dir.str("p.cvpr");
  EXPECT_EQ(testkit::run(quote(k_quorvel) + " -i " + quote(project) + " " + quote(dir.str("src"))).rc, 0);
  return project;
}

}  // namespace

TEST(SharedProject, AConsoleEditOfTheOpenDocumentIsRefusedAndACompileReadsIt) {
  testkit::TempDir dir;
  std::string project = project_with_files(dir);
  MainFrame* f = open_window({project});
  ASSERT_EQ(f->GetTitle(), "p.cvpr [Corvane]");
  std::vector<uint8_t> before = testkit::read_file(project);
  testkit::fs::copy_file(project, dir.str("as_opened.cvpr"));
  for (std::string args : {"-i " + quote(project) + " " + quote(dir.str("more")), "-f " + quote(project) + " x/y",
                           "-l " + quote(project) + " Other", "-r " + quote(project)}) {
    testkit::RunResult r = testkit::run(quote(k_quorvel) + " " + args);
    EXPECT_EQ(r.rc, 256 + k_project_in_use) << args;
    EXPECT_NE(r.err.find(format_text(ui_text(6601).c_str(), project.c_str())), std::string::npos) << r.err;
    EXPECT_EQ(testkit::read_file(project), before) << args << ": the project changed";
    EXPECT_EQ(testkit::run("cmp " + quote(project) + " " + quote(dir.str("as_opened.cvpr"))).rc, 0) << args;
  }
  // Reading goes on beside the window: the console compiles the open project.
  EXPECT_EQ(testkit::run(quote(k_quorvel) + " -ci " + quote(project)).rc, 0);
  EXPECT_NE(testkit::run("isoinfo -J -f -i " + quote(dir.str("p.iso"))).out.find("/src/one.txt"), std::string::npos);
  // The window's own change goes through, and the console may edit once it is closed.
  answer_forms({{"", "made here", ""}});
  f->run_command("MD");
  pump(200);
  close_window(f);
  EXPECT_EQ(testkit::run(quote(k_quorvel) + " -i " + quote(project) + " " + quote(dir.str("more"))).rc, 0);
  FILE* p = std::fopen(project.c_str(), "rb");
  ProjectRecord r;
  EXPECT_NE(find_child_by_name(p, r, "made here", uint32_t(k_root_folder_id)), nullptr);
  EXPECT_TRUE(check_project_invariants(p).empty());
  std::fclose(p);
}

TEST(SharedProject, AProjectAnotherProgramHoldsIsNotOpened) {
  testkit::TempDir dir;
  std::string project = project_with_files(dir);
  std::vector<uint8_t> before = testkit::read_file(project);
  // Held as an edit holds it (another open of the file: the same lock as another program's).
  FILE* other = nullptr;
  ASSERT_EQ(open_project_stream(project, "r+b", FileLock::exclusive, false, other), 0);
  MainFrame* f = open_window({});
  for (int offset : {0, 10000}) {
    f->run_command(offset ? "Fr1" : "En2");
    answer_forms({{"MessFermer", "", offset ? "project_in_use_french" : "project_in_use"}});
    EXPECT_FALSE(f->open_document(project, 0));
    ASSERT_EQ(g_seen_forms.size(), 1u);
    EXPECT_TRUE(same_words(g_seen_forms[0].text, ui_text(6600))) << g_seen_forms[0].text;
    EXPECT_NE(f->GetTitle(), "p.cvpr [Corvane]") << "opened anyway";
  }
  f->run_command("En2");
  close_window(f);
  EXPECT_EQ(testkit::read_file(project), before);
  EXPECT_FALSE(testkit::fs::exists(dir.str("p.bak"))) << "a backup made of a project being changed";
  EXPECT_EQ(close_project_stream(other), 0);
}

// A project another window shows (another user's, marked beside its hold) is
// not opened in this one: the message says it is a window's.
TEST(SharedProject, AProjectAnotherWindowShowsIsNotOpened) {
  testkit::TempDir dir;
  std::string project = project_with_files(dir);
  std::vector<uint8_t> before = testkit::read_file(project);
  FILE* other = nullptr;
  ASSERT_EQ(open_project_stream(project, "r+b", FileLock::shared, false, other), 0);
  ASSERT_EQ(mark_window_project(other), 0);
  MainFrame* f = open_window({});
  for (int offset : {0, 10000}) {
    f->run_command(offset ? "Fr1" : "En2");
    answer_forms({{"MessFermer", "", offset ? "project_in_another_window_french" : "project_in_another_window"}});
    EXPECT_FALSE(f->open_document(project, 0));
    ASSERT_EQ(g_seen_forms.size(), 1u);
    EXPECT_TRUE(same_words(g_seen_forms[0].text, ui_text(6605))) << g_seen_forms[0].text;
  }
  f->run_command("En2");
  close_window(f);
  EXPECT_EQ(close_project_stream(other), 0);
  EXPECT_EQ(testkit::read_file(project), before);
}

TEST(SharedProject, AChangeWhileAnotherProgramReadsIsRefusedWhole) {
  testkit::TempDir dir;
  std::string project = project_with_files(dir);
  MainFrame* f = open_window({project});
  ASSERT_EQ(f->GetTitle(), "p.cvpr [Corvane]");
  std::vector<uint8_t> before = testkit::read_file(project);
  FILE* compile = nullptr;  // a compile of another program, reading
  ASSERT_EQ(open_project_stream(project, "rb", FileLock::shared, false, compile), 0);
  answer_forms({{"", "refused folder", ""}, {"MessFermer", "", "project_being_read"}, {"MessFermer", "", ""}});
  f->run_command("MD");
  pump(300);
  bool said = false;
  for (const SeenForm& s : g_seen_forms) said = said || same_words(s.text, ui_text(6602));
  EXPECT_TRUE(said);
  EXPECT_EQ(testkit::read_file(project), before) << "the refused change wrote";
  EXPECT_EQ(close_project_stream(compile), 0);
  answer_forms({{"", "made after", ""}});
  f->run_command("MD");
  pump(200);
  EXPECT_NE(testkit::read_file(project), before);
  close_window(f);
}

// What a copy cut short during its write-back leaves: the catalog ahead of
// the volume's counts, and the "unmounted cleanly" bit clear.
TEST(SharedVolume, AVolumeLeftByACutCopyOpensReadOnlyAndSaysWhy) {
  REQUIRE_TOOL("hcopy");
  testkit::TempDir dir;
  std::string img = dir.str("cut.hfs"), message;
  ASSERT_EQ(new_partition_image(img, false, 4, "Cut Vol", message), 0) << message;
  testkit::write_text(dir.str("kept.txt"), "kept\n");
  ASSERT_EQ(testkit::run("hmount " + quote(img) + " >/dev/null && hcopy -r " + quote(dir.str("kept.txt")) +
                         " :kept; rc=$?; humount >/dev/null; exit $rc").rc, 0);
  std::vector<uint8_t> bytes = testkit::read_file(img);
  size_t at = size_t(k_hfs_image_volume_start + 2) * 512;
  MasterDirectoryBlock m;
  ASSERT_TRUE(decode(ByteSpan(bytes.data() + at, 512), m));
  ASSERT_NE(m.attributes & 0x0100, 0);
  m.attributes &= ~0x0100;
  m.file_count += 1;
  encode(m, MutByteSpan(bytes.data() + at, 512));
  testkit::write_file(img, bytes);

  MainFrame* f = open_window({});
  f->run_command("MPart");
  std::string head = ui_text(6603).substr(0, 40);
  for (int offset : {0, 10000}) {
    f->run_command(offset ? "Fr1" : "En2");
    head = ui_text(6603).substr(0, 40);
    answer_forms({{"MessFermer", "", offset ? "volume_cut_short_french" : "volume_cut_short"}});
    ASSERT_TRUE(f->open_document(img, 1));
    ASSERT_EQ(g_seen_forms.size(), 1u);
    EXPECT_EQ(g_seen_forms[0].text.substr(0, 10), head.substr(0, 10)) << g_seen_forms[0].text;
    // the fault line inside is in the message's language too
    std::string counts = format_text(ui_text(2437).c_str(), 0u, 0u, unsigned(m.file_count), 1u, 0u, 0u, 1u, 1u);
    EXPECT_NE(g_seen_forms[0].text.find(counts), std::string::npos) << g_seen_forms[0].text;
    if (offset) EXPECT_EQ(g_seen_forms[0].text.find("MDB counts"), std::string::npos) << g_seen_forms[0].text;
    EXPECT_TRUE(f->image().read_only);
    f->update_commands();
    wxMenuItem* copy_in = f->GetMenuBar()->FindItem(command_id("PCM1"));
    ASSERT_NE(copy_in, nullptr);
    EXPECT_FALSE(copy_in->IsEnabled()) << "copying onto the damaged volume stays possible";
    f->run_command("Fermer2");
  }
  f->run_command("En2");
  close_window(f);
  EXPECT_EQ(testkit::read_file(img), bytes) << "the damaged volume was written to";
}
