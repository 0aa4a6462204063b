#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include "IO/ui_services.h"
#include "compiler/additems.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "compiler/refresh.h"
#include "macfiles/macbinary.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> macbinary_of(size_t data_len, size_t rsrc_len) {
  MacFile m;
  m.name = "Doc";
  std::memcpy(m.type.data(), "TEXT", 4);
  std::memcpy(m.creator.data(), "ttxt", 4);
  m.data = testkit::random_bytes(data_len, 5);
  m.resource = testkit::random_bytes(rsrc_len, 6);
  return encode_macbinary(m);
}

struct Tree {
  testkit::TempDir dir;
  fs::path src = dir.path() / "src" / "cd";
  std::string project = dir.str("proj/p.cvpr");

  Tree() {
    fs::create_directories(src / "sub" / "deep");
    fs::create_directories(dir.path() / "proj");
    testkit::write_text(src / "a.txt", "first text");
    testkit::write_text(src / "sub" / "b.txt", "b");
    testkit::write_text(src / "sub" / "deep" / "c.txt", "c");
    testkit::write_file(src / "sub" / "doc.bin", macbinary_of(300, 200));
    recorded_ui().clear();
    EXPECT_EQ(run_command_line_operation("-i", project.c_str(), src.string().c_str()), 0);
  }

  // Every record by PC name (names are unique in this tree).
  std::map<std::string, ProjectRecord> records() {
    std::map<std::string, ProjectRecord> out;
    FILE* f = std::fopen(project.c_str(), "rb");
    long n = project_record_count(f);
    ProjectRecord r;
    for (long i = 1; i < n; ++i) {
      std::fseek(f, i * long(k_project_record_size), SEEK_SET);
      if (read_project_record(f, r)) out[r.pc_name] = r;
    }
    std::fclose(f);
    return out;
  }
  std::vector<std::string> invariant_faults() {
    FILE* f = std::fopen(project.c_str(), "rb");
    auto v = check_project_invariants(f);
    std::fclose(f);
    return v;
  }
};

}  // namespace

TEST(Refresh, DirectRefreshFollowsThePcDisk) {
  Tree t;
  auto before = t.records();
  ASSERT_TRUE(before.count("c.txt") && before.count("doc.bin") && before.count("deep")) << before.size();
  EXPECT_EQ(before["doc.bin"].data_size, 300u);

  // Changes on the PC disk: a folder with a file in it goes, a file grows, an
  // encoded file changes its forks, items appear at two levels.
  fs::remove_all(t.src / "sub" / "deep");
  testkit::write_text(t.src / "a.txt", "a longer text than before");
  testkit::write_file(t.src / "sub" / "doc.bin", macbinary_of(1000, 50));
  testkit::write_text(t.src / "new.txt", "new at the top");
  testkit::write_text(t.src / "sub" / "new2.txt", "new below");

  // The review scan sees them without changing the project.
  std::string sha = testkit::sha256_of(t.project);
  FILE* f = std::fopen(t.project.c_str(), "r+b");
  char* text = nullptr;
  size_t text_size = 0;
  FILE* out = open_memstream(&text, &text_size);
  scan_project_changes(f, out, uint32_t(k_root_folder_id), true);
  std::fclose(out);
  std::fclose(f);
  std::string review(text, text_size);
  free(text);
  EXPECT_EQ(testkit::sha256_of(t.project), sha);
  std::map<std::string, char> kinds;
  std::istringstream lines(review);
  for (std::string line; std::getline(lines, line);) {
    ReviewLine l;
    ASSERT_TRUE(parse_review_line(line, l)) << line;
    kinds[l.pc_name] = l.kind;
  }
  EXPECT_EQ(kinds["deep"], 'D');
  EXPECT_EQ(kinds["a.txt"], 'M');
  EXPECT_EQ(kinds["doc.bin"], 'M');
  EXPECT_EQ(kinds["new.txt"], 'A');
  EXPECT_EQ(kinds["new2.txt"], 'A');
  EXPECT_EQ(kinds.count("b.txt"), 0u);

  testkit::TempDir logs;
  std::string journal = logs.str("refresh.log");
  ASSERT_EQ(run_command_line_operation("-rj", t.project.c_str(), journal.c_str()), 0);
  auto after = t.records();
  EXPECT_FALSE(after.count("deep"));
  EXPECT_FALSE(after.count("c.txt"));  // descendants go with their folder
  EXPECT_EQ(after["a.txt"].pc_size, 25u);
  EXPECT_EQ(after["a.txt"].data_size, 25u);
  // An encoded file's forks are read again: not its file size.
  EXPECT_EQ(after["doc.bin"].data_size, 1000u);
  EXPECT_EQ(after["doc.bin"].rsrc_size, 50u);
  EXPECT_TRUE(after.count("new.txt"));
  EXPECT_TRUE(after.count("new2.txt"));
  EXPECT_TRUE(after.count("b.txt"));
  EXPECT_TRUE(t.invariant_faults().empty()) << t.invariant_faults()[0];

  std::string log = testkit::read_text(journal);
  EXPECT_NE(log.find("Deletion\t" + (t.src / "sub" / "deep").string()), std::string::npos) << log;
  EXPECT_NE(log.find("Modification\t" + (t.src / "a.txt").string()), std::string::npos) << log;
  EXPECT_NE(log.find("Addition\t"), std::string::npos) << log;

  // A second refresh finds nothing left to do.
  f = std::fopen(t.project.c_str(), "r+b");
  g_log_file = std::fopen(journal.c_str(), "wb");
  EXPECT_EQ(refresh_project(f), 0);
  std::fclose(g_log_file);
  g_log_file = nullptr;
  std::fclose(f);
  std::string second = testkit::read_text(journal);
  EXPECT_EQ(second.find("Modification"), std::string::npos) << second;
  EXPECT_EQ(second.find("Deletion"), std::string::npos) << second;
  // The project lies in a folder the refresh takes additions from (the common
  // source folder of the root's items): it never becomes an item of itself.
  EXPECT_FALSE(t.records().count("p.cvpr"));
  EXPECT_EQ(second.find("p.cvpr"), std::string::npos) << second;  // nor is its addition journalled
  EXPECT_TRUE(t.invariant_faults().empty());
}

// What a refresh leaves compiles, with the files' new bytes.
TEST(Refresh, RefreshedProjectCompiles) {
  REQUIRE_TOOL("isoinfo");
  REQUIRE_TOOL("isovfy");
  Tree t;
  testkit::write_text(t.src / "a.txt", "changed after the project was made");
  fs::remove(t.src / "sub" / "b.txt");
  ASSERT_EQ(run_command_line_operation("-r", t.project.c_str(), nullptr), 0);
  ASSERT_EQ(run_command_line_operation("-ci", t.project.c_str(), nullptr), 0);
  std::string iso = t.dir.str("proj/p.iso");
  auto v = testkit::run("isovfy " + testkit::quote(iso));
  EXPECT_NE(v.out.find("No errors found"), std::string::npos) << v.out << v.err;
  auto list = testkit::run("isoinfo -f -i " + testkit::quote(iso));
  EXPECT_EQ(list.out.find("B.TXT"), std::string::npos) << list.out;
  std::string a;
  std::istringstream paths(list.out);
  for (std::string line; std::getline(paths, line);)
    if (line.find("/A.TXT") != std::string::npos) a = line;
  ASSERT_FALSE(a.empty()) << list.out;
  auto x = testkit::run("isoinfo -i " + testkit::quote(iso) + " -x " + testkit::quote(a));
  EXPECT_EQ(x.out, "changed after the project was made");
}

TEST(Refresh, ReviewLinesCarryAnyName) {
  ReviewLine l{'A', 12, -40, 3000000000u, "/data/odd|folder/", "name|with\r\nbreaks 100%"};
  std::string text = format_review_line(l);
  EXPECT_EQ(std::count(text.begin(), text.end(), '|'), 5);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  ReviewLine back;
  ASSERT_TRUE(parse_review_line(text, back));
  EXPECT_EQ(back.kind, 'A');
  EXPECT_EQ(back.parent_id, 12u);
  EXPECT_EQ(back.id, -40);
  EXPECT_EQ(back.size, 3000000000u);  // sizes past 2 GiB stay positive
  EXPECT_EQ(back.pc_folder, l.pc_folder);
  EXPECT_EQ(back.pc_name, l.pc_name);
  EXPECT_FALSE(parse_review_line("X|1|2|3|a|b", back));
  EXPECT_FALSE(parse_review_line("D|1|2|3|a", back));
}

TEST(Refresh, ANonProjectIsLeftAsItIs) {
  testkit::TempDir dir;
  testkit::write_text(dir.path() / "x.cvpr", "not a project");
  std::string sha = testkit::sha256_of(dir.path() / "x.cvpr");
  EXPECT_NE(run_command_line_operation("-r", dir.str("x.cvpr").c_str(), nullptr), 0);
  EXPECT_EQ(testkit::sha256_of(dir.path() / "x.cvpr"), sha);
}

// Folders made with "-f" have no PC folder behind them: a refresh keeps them.
TEST(Refresh, FoldersMadeInTheProjectStay) {
  testkit::TempDir dir;
  std::string project = dir.str("p.cvpr");
  ASSERT_EQ(run_command_line_operation("-f", project.c_str(), "made/here"), 0);
  ASSERT_EQ(run_command_line_operation("-r", project.c_str(), nullptr), 0);
  FILE* f = std::fopen(project.c_str(), "rb");
  EXPECT_EQ(project_record_count(f), 3);
  std::fclose(f);
}
