// The choices the compile commands make before and in their option dialogs:
// the HFS block size or the switch to HFS+, the refusal to go back to HFS,
// the labels of an untitled project, and what OK writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <regex>

#include "IO/charsets.h"
#include "IO/fileio.h"
#include "IO/uitext.h"
#include "IO/unicode.h"
#include "compiler/additems.h"
#include "compiler/commands.h"
#include "compiler/compilejob.h"
#include "gui/compile/compile_options.h"
#include "gui/forms/name_checks.h"
#include "gui/project/long_names.h"
#include "support/inclusion_kit.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

// A project of files at the root with these data fork sizes (no PC files
// behind them: only the sizes count here), in the views given.
struct SizedProject {
  TempDir dir;
  FILE* f = nullptr;
  SizedProject(const std::vector<uint32_t>& sizes, bool hfsplus, bool iso = true, bool hfs = true) {
    std::string path = dir.str("p.cvpr");
    EXPECT_EQ(create_project_file(path, hfsplus ? uint32_t(k_pref_hfsplus_target) : 0u), 0);
    f = std::fopen(path.c_str(), "r+b");
    std::fseek(f, 0, SEEK_END);
    for (size_t i = 0; i < sizes.size(); ++i) {
      ProjectRecord r;
      r.parent_id = 1;
      r.id = -int32_t(i + 1);
      r.pc_folder = "/pc/";
      char name[32];
      std::snprintf(name, sizeof name, "f%06zu", i);
      r.pc_name = r.long_name = r.hfs_name = name;
      r.data_size = r.pc_size = sizes[i];
      set_iso_view(r, iso ? 1 : 0);
      set_hfs_view(r, hfs ? 1 : 0);
      EXPECT_TRUE(write_project_record(f, r));
    }
    ProjectHeader h;
    EXPECT_TRUE(read_project_header(f, h));
    h.file_count = uint32_t(sizes.size());
    h.hfs_volume_name = hfsplus ? "Mac é" : "Mac \x8E";  // Unicode, or Mac Roman
    EXPECT_TRUE(write_project_header(f, h));
    g_last_file_serial = uint32_t(sizes.size());
    write_project_totals(f);
  }
  ~SizedProject() {
    if (f) std::fclose(f);
  }
};

}  // namespace

TEST(CompileOptions, HfsBlockSizeGrowsUntilTheForksFitThenHfsPlus) {
  // Few blocks, but one fork of 100 MB: its block count must stay below 32767.
  SizedProject big({100u << 20, 10}, false);
  EXPECT_EQ(hfs_block_size_for(big.f), 4096u);
  EXPECT_EQ(hfs_refusal(big.f), 0);
  // 40,000 files of 3 KiB: two blocks each at 2048 bytes, one at 4096.
  SizedProject many(std::vector<uint32_t>(40000, 3072), false);
  EXPECT_EQ(hfs_block_size_for(many.f), 4096u);
  // A fork of 4 GB needs more than 32767 blocks even at 63488 bytes: HFS+ only.
  SizedProject huge({0xFFFFFFFFu}, false);
  EXPECT_EQ(hfs_block_size_for(huge.f), 0u);
  EXPECT_EQ(hfs_refusal(huge.f), k_text_hfs_too_many_blocks);
  EXPECT_TRUE(switch_to_hfsplus_when_needed(huge.f));
  EXPECT_EQ(get_project_hfs_format(huge.f), 1);
  ProjectHeader h;
  ASSERT_TRUE(read_project_header(huge.f, h));
  EXPECT_EQ(h.hfs_volume_name, "Mac é");  // the name now Unicode
  EXPECT_FALSE(switch_to_hfsplus_when_needed(big.f));
  EXPECT_EQ(get_project_hfs_format(big.f), 0);
}

TEST(CompileOptions, GoingBackToHfsIsRefusedWhenHfsCannotHoldTheProject) {
  SizedProject crowded(std::vector<uint32_t>(65536, 1), true, false, true);
  CompileOptionsModel m;
  init_compile_options(crowded.f, CompileDialogKind::hfs_only, "/out/c.dmg", m);
  EXPECT_TRUE(m.hfsplus && m.project_hfsplus);
  EXPECT_EQ(m.stats.hfs_files, 65536u);
  m.hfsplus = false;
  int field = -1;
  EXPECT_EQ(check_compile_options(crowded.f, m, field), k_text_hfs_too_many_items);
  EXPECT_EQ(field, 2);
  m.hfsplus = true;
  EXPECT_EQ(check_compile_options(crowded.f, m, field), 0);
  // A project that HFS holds goes back to HFS, its names in Mac Roman again.
  SizedProject small({5000}, true);
  init_compile_options(small.f, CompileDialogKind::hybrid, "/out/s.iso", m);
  m.hfsplus = false;
  m.post_gap = false;
  m.rebuild = true;
  ASSERT_EQ(check_compile_options(small.f, m, field), 0);
  CompileSettings s;
  EXPECT_EQ(apply_compile_options(small.f, m, s), 1 | 2);
  EXPECT_EQ(s.kind, k_compile_hybrid_hfs);
  EXPECT_EQ(get_project_hfs_format(small.f), 0);
  EXPECT_EQ(s.hfs_volume_name, "Mac \x8E");
}

TEST(CompileOptions, TypedLabelsAreRefusedPastTheirFieldsAndEmptyOnesUntitled) {
  SizedProject p({10}, false);
  CompileOptionsModel m;
  init_compile_options(p.f, CompileDialogKind::hybrid, "/out/p.iso", m);
  int field = -1;
  m.label = std::string(17, 'L');
  EXPECT_EQ(check_compile_options(p.f, m, field), k_text_name_too_long);
  EXPECT_EQ(field, 0);
  m.label = std::string(16, 'L');
  m.hfs_name = std::string(27, 'e') + "é";  // 28 Mac Roman bytes
  EXPECT_EQ(check_compile_options(p.f, m, field), k_text_name_too_long);
  EXPECT_EQ(field, 1);
  m.hfsplus = true;  // HFS+ takes 61 bytes
  EXPECT_EQ(check_compile_options(p.f, m, field), 0);
  m.label = std::string("\xff\xfe", 2);  // no text at all
  EXPECT_EQ(check_compile_options(p.f, m, field), k_text_name_too_long);
  m.label.clear();
  m.hfs_name.clear();
  CompileSettings s;
  EXPECT_EQ(apply_compile_options(p.f, m, s), 1 | 4);
  EXPECT_EQ(s.volume_label, ui_text(k_text_untitled));
  EXPECT_EQ(s.hfs_volume_name, ui_text(k_text_untitled));
  EXPECT_EQ(s.kind, k_compile_hybrid_hfsplus);
  // The ISO-only and ISO+ dialogs take 12 characters.
  init_compile_options(p.f, CompileDialogKind::iso_only, "/out/p.iso", m);
  m.label = std::string(13, 'L');
  EXPECT_EQ(check_compile_options(p.f, m, field), k_text_name_too_long);
}

TEST(CompileOptions, AnUntitledProjectTakesTheTargetsNameCutToItsFields) {
  SizedProject p({10}, false);
  ProjectHeader h;
  ASSERT_TRUE(read_project_header(p.f, h));
  ASSERT_EQ(h.volume_label, ui_text(k_text_untitled));
  EXPECT_TRUE(name_untitled_project(p.f, "/images/Été photos du voyage en Norvège.iso", CompileDialogKind::hybrid));
  ASSERT_TRUE(read_project_header(p.f, h));
  EXPECT_EQ(h.volume_label, clip_utf8("Été photos du voyage en Norvège", 16));
  EXPECT_LE(h.volume_label.size(), 16u);
  EXPECT_EQ(h.hfs_volume_name, utf8_to_macroman("Été photos du voyage en Nor"));  // 27 Mac Roman bytes
  // Named once, it stays named.
  EXPECT_FALSE(name_untitled_project(p.f, "/images/Other.iso", CompileDialogKind::hybrid));
  SizedProject q({10}, false);
  EXPECT_TRUE(name_untitled_project(q.f, "Photos.iso", CompileDialogKind::iso_only));
  ASSERT_TRUE(read_project_header(q.f, h));
  EXPECT_EQ(h.volume_label, "Photos");
  EXPECT_EQ(h.hfs_volume_name, "Mac \x8E");  // the ISO-only compile leaves the HFS name
}

TEST(CompileOptions, ImageCountsAndThePostGap) {
  SizedProject p({4096, 2048, 1}, false);
  CompileOptionsModel m;
  init_compile_options(p.f, CompileDialogKind::iso_only, "/o.iso", m);
  EXPECT_EQ(compile_image_counts(m, 1).sectors, 4u);
  EXPECT_EQ(compile_image_counts(m, 5).sectors, 154u);
  EXPECT_EQ(compile_image_counts(m, 5).files, 3u);
  m.kind = CompileDialogKind::isoplus;
  EXPECT_EQ(compile_image_counts(m, 5).sectors, 4u);  // never with the post-gap
}

TEST(CompileOptions, ProjectPropertiesWriteTheRootFlags) {
  SizedProject p({10, 20}, true);
  ProjectPropertiesModel m;
  init_project_properties(p.f, false, m);
  EXPECT_TRUE(m.hfsplus);
  EXPECT_EQ(m.stats.files, 2u);
  m.custom_icon = m.open_root = m.rebuild = true;
  m.hfsplus = false;
  ASSERT_EQ(check_project_properties(p.f, m), 0);
  EXPECT_EQ(apply_project_properties(p.f, m), 1);
  ProjectHeader h;
  ASSERT_TRUE(read_project_header(p.f, h));
  EXPECT_EQ(h.icon_flags & 0x04, 0x04);
  EXPECT_EQ(h.open_flags & 0x21, 0x21);
  EXPECT_FALSE(h.hfsplus_target());
  compute_real_size(p.f, m);
  char two_blocks[k_size_text];
  EXPECT_EQ(m.real_size, format_size_mb(4096, two_blocks));
}

// Ticking HFS+ keeps the HFS names the user gave (converted from Mac Roman)
// and gives the others again from their PC names; going back to HFS asks
// before it cuts a name the user typed.
TEST(CompileOptions, AChangeOfFormatKeepsTheNamesTheUserGave) {
  SizedProject p({10, 20, 30}, false);
  auto record = [&](int32_t id) {
    ProjectRecord r;
    EXPECT_TRUE(find_record_by_id(p.f, r, id));
    return r;
  };
  auto rename = [&](int32_t id, const std::string& name, const std::string& pc_name = "") {
    ProjectRecord r = record(id);
    long at = std::ftell(p.f);  // the lookup leaves the stream on the record
    r.hfs_name = name;
    if (!pc_name.empty()) r.pc_name = pc_name;
    std::fseek(p.f, at, SEEK_SET);
    ASSERT_TRUE(write_project_record(p.f, r));
  };
  rename(-2, "Caf\x8E du matin");  // typed in the properties dialog (Mac Roman)
  const std::string long_pc = "long file name of the PC that is cut for HFS \xC3\xA9t\xC3\xA9.txt";
  rename(-3, automatic_hfs_name(long_pc, false), long_pc);  // as the PC name gave it, cut for HFS
  EXPECT_EQ(record(-3).hfs_name.size(), 31u);
  EXPECT_TRUE(format_change_question(p.f, true).empty()) << "nothing typed is lost by HFS+";
  set_project_hfs_format(p.f, true);
  EXPECT_EQ(record(-1).hfs_name, "f000000");
  EXPECT_EQ(record(-2).hfs_name, "Caf\xC3\xA9 du matin");
  EXPECT_EQ(record(-3).hfs_name, long_pc) << "the name the PC name gives, now whole";
  // An HFS+ name typed too long for HFS: asked, with the name before and after.
  const std::string typed = "A name typed for HFS+ that is far too long for HFS";
  rename(-1, typed);
  std::string question = format_change_question(p.f, false);
  EXPECT_NE(question.find("\"" + typed + "\" \xE2\x86\x92 \"A name typed for HFS+ that is "), std::string::npos) << question;
  EXPECT_EQ(question.find("Caf"), std::string::npos) << "a name that fits is kept: " << question;
  EXPECT_EQ(question.find("long file name"), std::string::npos) << "the PC name gives it again: " << question;
  EXPECT_TRUE(format_change_question(p.f, true).empty()) << "no change of format, no question";
  set_project_hfs_format(p.f, false);
  EXPECT_EQ(record(-2).hfs_name, "Caf\x8E du matin");
  EXPECT_EQ(record(-1).hfs_name.size(), 31u);
}

// HFS+ ticked after an HFS compile: the names the HFS rules cut to 31 bytes
// and, where two met, made unique ("-001") are the rules' own, so the HFS+
// volume gets the whole PC names (sleuthkit lists them); a name the user
// typed stays.
TEST(CompileOptions, HfsPlusAfterHfsGivesTheWholeNamesBack) {
  REQUIRE_TOOL("fls");
  REQUIRE_TOOL("mmls");
  REQUIRE_TOOL("hls");
  TempDir dir;
  ConsoleInclusion console;
  fs::create_directories(dir.path() / "src");
  const std::vector<std::string> names = {"google-cloud-cli-app-engine-python",
                                          "google-cloud-cli-app-engine-python-extras",
                                          "google-cloud-cli-app-engine-python-extras.tar.gz", "notes.txt"};
  for (const std::string& n : names) write_text(dir.path() / "src" / n, n + "\n");
  std::string path = dir.str("cloud.cvpr");
  ASSERT_EQ(create_project_file(path, 0, "Cloud"), 0);
  FILE* f = std::fopen(path.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  read_project_id_counters(f, g_last_folder_id, g_last_file_serial);
  ProjectRecord buf;
  AddCounts counts;
  add_pc_items(f, counts, buf, dir.str("src") + "/*", k_root_folder_id);
  add_folder_counts(f, k_root_folder_id, int32_t(counts.folders_added), int32_t(counts.files_added));
  ASSERT_EQ(counts.files_added, names.size());
  std::vector<std::string> hfs_names;
  std::fseek(f, long(k_project_record_size), SEEK_SET);
  for (ProjectRecord r; read_project_record(f, r);) {
    if (r.pc_name == "notes.txt") {  // typed in the properties dialog
      r.hfs_name = "Mes notes";
      std::fseek(f, -long(k_project_record_size), SEEK_CUR);
      ASSERT_TRUE(write_project_record(f, r));
      std::fseek(f, 0, SEEK_CUR);
    }
    hfs_names.push_back(r.hfs_name);
  }
  write_project_totals(f);
  std::fclose(f);
  ASSERT_EQ(std::count(hfs_names.begin(), hfs_names.end(), "google-cloud-cli-app-engine-001"), 1)
      << "two names cut alike: one made unique";

  std::string image = dir.str("cloud.iso");
  ASSERT_EQ(cli_compile_hybrid(path.c_str()), 0);
  RunResult hfs = run("hmount " + quote(image) + " >/dev/null && hls -1a :");
  EXPECT_NE(hfs.out.find("google-cloud-cli-app-engine-001\n"), std::string::npos) << hfs.out << hfs.err;

  f = std::fopen(path.c_str(), "r+b");
  set_project_hfs_format(f, true);
  std::fclose(f);
  std::filesystem::remove(image);
  ASSERT_EQ(cli_compile_hybrid(path.c_str()), 0);
  RunResult mm = run("mmls -t mac -b 2048 " + quote(image));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(mm.out, m, std::regex("\\s0*([0-9]+)\\s+[0-9]+\\s+[0-9]+\\s+Apple_HFS"))) << mm.out;
  RunResult listing = run("fls -f hfsp -p -o " + std::to_string(std::stoul(m[1]) * 4) + " " + quote(image));
  ASSERT_EQ(listing.rc, 0) << listing.err;
  for (const std::string& n : names)
    if (n != "notes.txt") EXPECT_NE(listing.out.find(":\t" + n + "\n"), std::string::npos) << n << "\n" << listing.out;
  EXPECT_EQ(listing.out.find("-001"), std::string::npos) << listing.out;
  EXPECT_NE(listing.out.find(":\tMes notes\n"), std::string::npos) << listing.out;
}

// "Advanced Options" over what is typed: the descriptor dialog shows the label
// typed; the project keeps its own label unless it was changed there.
TEST(CompileOptions, AdvancedOptionsKeepWhatIsTyped) {
  SizedProject p({10}, false);
  CompileOptionsModel m;
  init_compile_options(p.f, CompileDialogKind::hybrid, "/out/x.iso", m);
  const std::string stored = m.label;
  m.label = "TYPED";
  m.hfs_name = "Typed HFS";
  AdvancedOptionsEdit edit;
  ASSERT_TRUE(begin_advanced_options(p.f, m, edit));
  EXPECT_EQ(edit.header.volume_label, "TYPED");
  edit.header.publisher_id = "PUBLISHER";  // changed in the descriptor dialog
  ASSERT_TRUE(finish_advanced_options(p.f, edit, m));
  EXPECT_EQ(m.label, "TYPED");
  EXPECT_EQ(m.hfs_name, "Typed HFS");
  ProjectHeader h;
  ASSERT_TRUE(read_project_header(p.f, h));
  EXPECT_EQ(h.volume_label, stored) << "only typed: it goes into the compile, not into the project";
  EXPECT_EQ(h.publisher_id, "PUBLISHER");
  ASSERT_TRUE(begin_advanced_options(p.f, m, edit));
  edit.header.volume_label = "CHANGED THERE";
  ASSERT_TRUE(finish_advanced_options(p.f, edit, m));
  EXPECT_EQ(m.label, "CHANGED THERE");
  ASSERT_TRUE(read_project_header(p.f, h));
  EXPECT_EQ(h.volume_label, "CHANGED THERE");
}
