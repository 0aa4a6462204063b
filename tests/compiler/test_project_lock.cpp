// The store's locks inside one process, as the window holds them: its
// document shared between changes and exclusive for each one, beside another
// open of the same file (a compile reading it) that the change must not write under.
#include <gtest/gtest.h>

#include "IO/uitext.h"
#include "compiler/project.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using testkit::TempDir;

namespace {

int32_t add_folder(FILE* f, const std::string& name) {
  ProjectRecord r;
  return make_folder_record(f, r, name, uint32_t(k_root_folder_id), "..", false);
}

bool can_open(const std::string& path, FileLock kind) {
  FILE* f = nullptr;
  int rc = open_project_stream(path, kind == FileLock::exclusive ? "r+b" : "rb", kind, false, f);
  if (rc == 0) EXPECT_EQ(close_project_stream(f), 0);
  return rc == 0;
}

}  // namespace

TEST(ProjectLock, AChangeUnderAnotherOpensReadWritesNothingAndTheNextOneGoesThrough) {
  TempDir dir;
  std::string path = dir.str("p.cvpr");
  FILE* doc = nullptr;
  ASSERT_EQ(create_project_stream(path, 0, nullptr, FileLock::shared, doc), 0);
  read_project_id_counters(doc, g_last_folder_id, g_last_file_serial);
  // Between changes the document is held shared: another reader may come, no writer.
  EXPECT_TRUE(can_open(path, FileLock::shared));
  EXPECT_FALSE(can_open(path, FileLock::exclusive));
  EXPECT_TRUE(project_locked_elsewhere(path));

  FILE* compile = nullptr;
  ASSERT_EQ(open_project_stream(path, "rb", FileLock::shared, false, compile), 0);
  std::vector<uint8_t> before = testkit::read_file(path);
  uint32_t folder_counter = g_last_folder_id;
  recorded_ui().clear();
  begin_project_edit(doc);
  EXPECT_TRUE(project_edit_failed(doc));
  add_folder(doc, "refused");
  add_folder_counts(doc, k_root_folder_id, 1, 0);
  EXPECT_EQ(end_project_edit(doc, 0), -1);
  EXPECT_EQ(testkit::read_file(path), before) << "the refused change wrote";
  EXPECT_EQ(g_last_folder_id, folder_counter) << "the counters are put back";
  ASSERT_EQ(recorded_ui().messages.size(), 1u);
  EXPECT_EQ(recorded_ui().messages[0], ui_text(6602));
  // Totals are bookkeeping: postponed without a word while the other reads.
  recorded_ui().clear();
  write_project_totals(doc);
  EXPECT_TRUE(recorded_ui().messages.empty());
  EXPECT_EQ(testkit::read_file(path), before);
  EXPECT_EQ(close_project_stream(compile), 0);

  // Alone again: the change goes through, and the document is shared again after it.
  begin_project_edit(doc);
  EXPECT_FALSE(project_edit_failed(doc));
  EXPECT_FALSE(can_open(path, FileLock::shared)) << "a change holds the project exclusive";
  EXPECT_GT(add_folder(doc, "made"), 0);
  EXPECT_EQ(end_project_edit(doc, 0), 0);
  EXPECT_TRUE(can_open(path, FileLock::shared));
  // A write outside a change holds it exclusive until the window settles its locks.
  write_project_totals(doc);
  EXPECT_TRUE(can_open(path, FileLock::shared)) << "a header on its own leaves the project whole";
  ProjectRecord r;
  ASSERT_NE(find_record_by_id(doc, r, 18), nullptr);
  r.hfs_name = "renamed";
  ASSERT_TRUE(write_project_record(doc, r));
  EXPECT_FALSE(can_open(path, FileLock::shared));
  settle_project_locks();
  EXPECT_TRUE(can_open(path, FileLock::shared));
  EXPECT_TRUE(check_project_invariants(doc).empty());
  EXPECT_EQ(close_project_stream(doc), 0);
  EXPECT_TRUE(can_open(path, FileLock::exclusive));
  EXPECT_FALSE(project_locked_elsewhere(path));
}

TEST(ProjectLock, ANewProjectNeverEmptiesAFileAnotherHolds) {
  TempDir dir;
  std::string path = dir.str("p.cvpr");
  ASSERT_EQ(create_project_file(path, 0), 0);
  FILE* other = nullptr;
  ASSERT_EQ(open_project_stream(path, "r+b", FileLock::exclusive, false, other), 0);
  ProjectRecord r;
  read_project_id_counters(other, g_last_folder_id, g_last_file_serial);
  ASSERT_GT(make_folder_record(other, r, "theirs", uint32_t(k_root_folder_id), "..", false), 0);
  std::fflush(other);
  std::vector<uint8_t> theirs = testkit::read_file(path);
  FILE* mine = nullptr;
  EXPECT_EQ(create_project_stream(path, 0, nullptr, FileLock::shared, mine), k_project_in_use);
  EXPECT_EQ(create_project_file(path, 0), k_project_in_use);
  EXPECT_EQ(mine, nullptr);
  EXPECT_EQ(testkit::read_file(path), theirs);
  EXPECT_EQ(close_project_stream(other), 0);
  ASSERT_EQ(create_project_stream(path, 0, nullptr, FileLock::shared, mine), 0);
  EXPECT_EQ(testkit::read_file(path).size(), k_project_record_size);
  EXPECT_EQ(close_project_stream(mine), 0);
}
