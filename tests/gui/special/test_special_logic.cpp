// The Special and Options commands without their windows: other programs
// found and started with nothing of ours, extensions hidden in the HFS view
// only, forks swapped on the open volume (and refused on a read-only one) as
// hfsutils reads them back, and the reports and refusals of the commands.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "IO/uitext.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "gui/signatures/sigreplace.h"
#include "gui/special/special_logic.h"
#include "hfs/voledit.h"
#include "hfs/volume_fixture.h"
#include "support/testkit.h"
#include "support/volume_kit.h"

using namespace testkit;

namespace {

struct PathVariable {
  std::string saved;
  explicit PathVariable(const std::string& value) {
    const char* p = std::getenv("PATH");
    saved = p ? p : "";
    ::setenv("PATH", value.c_str(), 1);
  }
  ~PathVariable() { ::setenv("PATH", saved.c_str(), 1); }
};

}  // namespace

TEST(SpecialLogic, IconProgramStartsOrTellsWhereItWasLookedFor) {
  TempDir dir;
  PathVariable path(dir.str("path"));
  fs::create_directories(dir.path() / "path");
  std::string saved_folder = g_icon_program_folder;
  g_icon_program_folder = dir.str("own");
  fs::create_directories(g_icon_program_folder);
  std::string message;
  EXPECT_EQ(start_icon_program(message), -1);
  EXPECT_NE(message.find("facetor"), std::string::npos) << message;
  EXPECT_NE(message.find(dir.str("own")), std::string::npos) << message;

  // Along the path, then from the program's own folder before the path.
  write_script(dir.str("path/facetor"), "echo path > " + quote(dir.str("ran")) + "\n");
  EXPECT_EQ(start_icon_program(message), 0) << message;
  ASSERT_TRUE(wait_for_file(dir.str("ran")));
  EXPECT_EQ(read_text(dir.str("ran")), "path\n");
  fs::remove(dir.path() / "ran");
  write_script(dir.str("own/facetor"), "echo own > " + quote(dir.str("ran")) + "\n");
  EXPECT_EQ(start_icon_program(message), 0) << message;
  ASSERT_TRUE(wait_for_file(dir.str("ran")));
  EXPECT_EQ(read_text(dir.str("ran")), "own\n");
  g_icon_program_folder = saved_folder;
}

TEST(SpecialLogic, ExtensionsAreHiddenInTheHfsViewOnly) {
  TempDir dir;
  fs::create_directories(dir.path() / "src" / "cd" / "sub");
  for (const char* n : {"a.txt", "b.txt", "sub/c.txt"}) write_text(dir.path() / "src" / "cd" / n, n);
  std::string project = dir.str("p.cvpr");
  ASSERT_EQ(run_command_line_operation("-i", project.c_str(), dir.str("src").c_str()), 0);
  FILE* f = std::fopen(project.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  // b.txt leaves the HFS view.
  long n = project_record_count(f);
  ProjectRecord r;
  for (long i = 1; i < n; ++i) {
    std::fseek(f, i * long(k_project_record_size), SEEK_SET);
    ASSERT_TRUE(read_project_record(f, r));
    if (r.pc_name != "b.txt") continue;
    set_hfs_view(r, 0);
    std::fseek(f, i * long(k_project_record_size), SEEK_SET);
    ASSERT_TRUE(write_project_record(f, r));
  }
  EXPECT_EQ(hide_hfs_extensions(f), int(n) - 2);  // every record but the root and b.txt
  EXPECT_EQ(hide_hfs_extensions(f), 0) << "a second run finds nothing left to do";
  for (long i = 1; i < n; ++i) {
    std::fseek(f, i * long(k_project_record_size), SEEK_SET);
    ASSERT_TRUE(read_project_record(f, r));
    EXPECT_EQ((r.hfs_flags & k_hfs_hidden_extension) != 0, r.pc_name != "b.txt") << r.pc_name;
  }
  EXPECT_TRUE(check_project_invariants(f).empty());
  std::fclose(f);

  // The compiled HFS volume: hcopy's MacBinary copy carries the Finder flags'
  // low byte at 101, where 0x10 hides the extension.
  if (!tool_available("hcopy")) return;
  ASSERT_EQ(cli_compile_hybrid(project.c_str()), 0);
  std::string img = dir.str("p.iso");
  auto h = run("hmount " + quote(img) + " 1 >/dev/null && hcopy -m :src:cd:a.txt " + quote(dir.str("a.bin")) +
               " && hcopy -m :src:cd:sub:c.txt " + quote(dir.str("c.bin")) + " && hls :src:cd; humount");
  ASSERT_EQ(h.rc, 0) << h.err;
  EXPECT_EQ(h.out.find("b.txt"), std::string::npos) << h.out;
  for (const char* copy : {"a.bin", "c.bin"}) {
    std::vector<uint8_t> bin = read_file(dir.path() / copy);
    ASSERT_GE(bin.size(), 128u);
    EXPECT_EQ(bin[101] & 0x10, 0x10) << copy;
    EXPECT_EQ(bin[73] & 0x40, 0) << copy << ": no other flag came with it";
  }
}

TEST(SpecialLogic, ReportsAndRefusals) {
  int saved = g_language_offset;
  g_language_offset = 0;
  SignatureReplace v;
  fill_signature_replace(v, "TEX", "ttxt", "MSIE", "TEXT");
  EXPECT_EQ(signature_replace_report(v, 3), "Signature TEX ttxt\nreplaced 3 times.");
  EXPECT_EQ(signature_replace_report(v, 0), "Signature TEX ttxt\nnot found.");
  EXPECT_NE(support_page_address(0), support_page_address(10000));
  EXPECT_EQ(support_page_address(0).rfind("https://", 0), 0u);

  TempDir dir;
  write_text(dir.str("a.iso"), "x");
  fs::create_symlink(dir.str("a.iso"), dir.str("link.iso"));
  EXPECT_EQ(check_dehybridise_target(dir.str("a.iso"), ""), 0);
  EXPECT_EQ(check_dehybridise_target(dir.str("link.iso"), dir.str("a.iso")), 6408) << "the open image, by another name";
  EXPECT_EQ(check_dehybridise_target(std::string(5000, 'x'), ""), 6407);

  // The label: the default name of either language, or none, asks for one.
  for (const char* name : {"Untitled", "Sans titre", "Mon CD"}) {
    std::string p = dir.str(std::string(name) + ".cvpr");
    ASSERT_EQ(create_project_file(p, k_pref_hfsplus_default, name), 0);
    FILE* f = std::fopen(p.c_str(), "rb");
    EXPECT_EQ(project_needs_label(f), std::string(name) != "Mon CD") << name;
    std::fclose(f);
  }
  EXPECT_EQ(file_manager_folder(dir.str("a.iso")), dir.str() + "/");
  g_language_offset = saved;
}

TEST(SpecialLogic, ForksSwapOnTheVolumeAndNotOnAReadOnlyOne) {
  REQUIRE_TOOL("hcopy");
  TempDir dir;
  std::string img = testvol::new_image(dir, false, 4);
  write_file(dir.path() / "data", random_bytes(3000, 1));
  write_file(dir.path() / "more", random_bytes(5000, 2));
  auto r = run("hmount " + quote(img) + " >/dev/null && hcopy -r " + quote(dir.str("data")) + " :one && hcopy -r " +
               quote(dir.str("more")) + " :two && hmkdir :Dir");
  ASSERT_EQ(r.rc, 0) << r.err;

  auto entry = [](const std::string& name, int kind) {
    FileTableEntry e;
    e.name = name;
    e.kind = kind;
    e.id = kind == 1 ? 16 : -20;
    return e;
  };
  std::vector<FileTableEntry> rows = {entry("one", 2), entry("Dir", 1), entry("absent", 2)};
  ASSERT_EQ(testvol::open_volume(img, false, true), 0);
  ForkSwapOutcome refused = swap_forks_of(rows, 2);
  EXPECT_TRUE(refused.read_only);
  EXPECT_EQ(refused.swapped, 0);
  testvol::close_volume();

  // Asked first: "No" leaves every byte of the image as it was.
  volkit::Forms forms;
  GuiForms* saved_forms = g_gui_forms;
  g_gui_forms = &forms;
  ASSERT_EQ(testvol::open_volume(img, false), 0);
  std::vector<uint8_t> before = read_file(img);
  forms.answer = false;
  ForkSwapOutcome declined = swap_forks_of(rows, 2);
  EXPECT_TRUE(declined.declined);
  EXPECT_EQ(declined.swapped, 0);
  EXPECT_TRUE(read_file(img) == before);
  EXPECT_EQ(forms.messages, std::vector<std::string>{format_text(ui_text(6654).c_str(), 2)}) << "two files among the rows";
  forms.answer = true;
  ForkSwapOutcome done = swap_forks_of(rows, 2);
  g_gui_forms = saved_forms;
  EXPECT_FALSE(done.read_only);
  EXPECT_EQ(done.swapped, 1);
  EXPECT_EQ(done.refused, 1) << "the missing file is reported, the others still swapped";
  testvol::expect_sound("after the swap");
  testvol::close_volume();

  // hcopy -r copies the data fork: "one" has none now; its resource fork
  // (inside the MacBinary copy) holds what the data fork held.
  auto back = run("hmount " + quote(img) + " >/dev/null && hcopy -r :one " + quote(dir.str("one.data")) +
                  " && hcopy -m :one " + quote(dir.str("one.bin")) + " && hcopy -r :two " +
                  quote(dir.str("two.data")));
  ASSERT_EQ(back.rc, 0) << back.err;
  EXPECT_EQ(fs::file_size(dir.path() / "one.data"), 0u);
  EXPECT_EQ(read_file(dir.path() / "two.data"), read_file(dir.path() / "more"));
  std::vector<uint8_t> bin = read_file(dir.path() / "one.bin");
  ASSERT_GE(bin.size(), 128u + 3000u);
  uint32_t rsrc = uint32_t(bin[87]) << 24 | uint32_t(bin[88]) << 16 | uint32_t(bin[89]) << 8 | bin[90];
  EXPECT_EQ(rsrc, 3000u);
  EXPECT_EQ(std::vector<uint8_t>(bin.begin() + 128, bin.begin() + 128 + 3000), read_file(dir.path() / "data"));
}
