// Project edits cut short: the console's inclusion, folder creation and
// refresh, and changes made as the window makes them, each killed (strace) at
// many of its writes, truncations and syncs. The next open, an edit's or a
// compile's, puts the project back from what the edit kept beside it: the
// project then opens sound and is byte for byte what it was, or, killed once
// the edit was whole, holds everything the edit adds.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "compiler/project.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using testkit::quote;
using testkit::TempDir;
namespace fs = std::filesystem;

namespace {

const std::string k_quorvel = QUORVEL_PATH;
const std::string k_change = CHANGE_PROJECT_PATH;

// What the edits write with: stdio's write, the undo's pwrite, the cut of a
// removal, the syncs (the folder's too) and the undo file's removal.
const char* const k_calls[] = {"write", "pwrite64", "ftruncate", "fdatasync", "fsync", "unlink"};

void make_files(const fs::path& folder, int n, const std::string& stem) {
  fs::create_directories(folder);
  for (int i = 0; i < n; ++i) testkit::write_text(folder / (stem + std::to_string(i) + ".txt"), std::string(size_t(i + 1), 'x'));
}

std::string traced(const std::string& inject, const std::string& log, const std::string& command) {
  // The leak checker of a sanitizer build cannot run under a tracer.
  return "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" strace -f -qq -o " + quote(log) + " " + inject +
         " " + command;
}

// How many times the command makes each call, run whole once.
std::vector<int> count_calls(const std::string& command, const std::string& log) {
  testkit::RunResult r = testkit::run(traced("-e trace=write,pwrite64,ftruncate,fdatasync,fsync,unlink", log, command));
  EXPECT_EQ(r.rc, 0) << r.err;
  std::string text = testkit::read_text(log);
  std::vector<int> counts;
  for (const char* call : k_calls) {
    int n = 0;
    for (size_t at = 0; (at = text.find(std::string(" ") + call + "(", at)) != std::string::npos; ++at) ++n;
    counts.push_back(n);
  }
  return counts;
}

// The record bytes with the dates of the items zeroed (a folder made in the
// project is dated by the clock).
std::vector<uint8_t> without_dates(std::vector<uint8_t> b) {
  for (size_t at = k_project_record_size; at + k_project_record_size <= b.size(); at += k_project_record_size)
    std::fill(b.begin() + long(at + 64), b.begin() + long(at + 72), 0);
  return b;
}

struct Reopened {
  bool opened = false, sound = false, undo_left = false;
  std::vector<uint8_t> bytes;
};

// Opens the project as an edit does (exclusive) or as a compile does (shared,
// read only), then looks at what it holds.
Reopened reopen(const std::string& path, bool as_compile) {
  Reopened o;
  recorded_ui().clear();
  FILE* f = nullptr;
  o.opened = open_project_stream(path, as_compile ? "rb" : "r+b", as_compile ? FileLock::shared : FileLock::exclusive,
                                 false, f) == 0;
  o.undo_left = fs::exists(project_undo_path(path));
  if (!o.opened) return o;
  o.sound = check_project_invariants(f).empty();
  EXPECT_EQ(close_project_stream(f), 0);
  o.bytes = testkit::read_file(path);
  return o;
}

// Kills the command at many points of each call it makes and checks what the
// next open finds. prepare puts the project (and the PC files) back as they
// were before the command.
void kill_at_many_points(const std::string& path, const std::string& command, const std::function<void()>& prepare,
                         const std::string& log) {
  prepare();
  const std::vector<uint8_t> before = testkit::read_file(path);
  std::vector<int> counts = count_calls(command, log);
  const std::vector<uint8_t> whole = without_dates(testkit::read_file(path));
  ASSERT_NE(whole, without_dates(before)) << "the command changed nothing";
  ASSERT_GT(counts[0], 0);
  int runs = 0;
  for (size_t c = 0; c < counts.size(); ++c) {
    // Every point when they are few, else the first ones, the last ones and some between.
    std::vector<int> points;
    for (int n = 1; n <= counts[c]; ++n)
      if (counts[c] <= 8 || n <= 2 || n > counts[c] - 2 || n % (counts[c] / 4 + 1) == 0) points.push_back(n);
    for (int n : points) {
      prepare();
      std::string inject = std::string("-e inject=") + k_calls[c] + ":signal=SIGKILL:when=" + std::to_string(n);
      testkit::RunResult r = testkit::run(traced(inject, log, command));
      if (r.rc != 137) continue;  // a call of this kind the traced whole run did not make here
      ++runs;
      Reopened o = reopen(path, runs % 2 == 0);
      std::string where = std::string(k_calls[c]) + " #" + std::to_string(n);
      ASSERT_TRUE(o.opened) << where;
      EXPECT_FALSE(o.undo_left) << where << ": the undo file is still there";
      EXPECT_TRUE(o.sound) << where << ": the project is damaged";
      EXPECT_TRUE(o.bytes == before || without_dates(o.bytes) == whole)
          << where << ": neither what it was nor all the edit adds";
    }
  }
  EXPECT_GE(runs, 6) << "too few kills landed";
}

// A project of 6 folders of 30 files, made whole, as the PC files are.
struct Fixture {
  TempDir dir;
  std::string project = dir.str("p.cvpr");
  std::string log = dir.str("strace.log");
  fs::path base = dir.path() / "base";
  std::vector<uint8_t> made;

  Fixture() {
    for (int d = 0; d < 6; ++d) make_files(base / ("d" + std::to_string(d)), 30, "f");
    EXPECT_EQ(testkit::run(quote(k_quorvel) + " -i " + quote(project) + " " + quote(base.string())).rc, 0);
    made = testkit::read_file(project);
  }
  void put_back() {
    testkit::write_file(project, made);
    fs::remove(project_undo_path(project));
  }
};

}  // namespace

TEST(ProjectKill, InclusionIntoExistingFolders) {
  Fixture fx;
  // New files among those of two folders, and a new folder: runs merged, tails moved.
  make_files(fx.base / "d1", 10, "g");
  make_files(fx.base / "d4", 10, "g");
  make_files(fx.base / "d6", 10, "f");
  kill_at_many_points(fx.project, quote(k_quorvel) + " -i " + quote(fx.project) + " " + quote(fx.base.string()),
                      [&] { fx.put_back(); }, fx.log);
}

TEST(ProjectKill, FolderChain) {
  Fixture fx;
  kill_at_many_points(fx.project, quote(k_quorvel) + " -f " + quote(fx.project) + " d2/made/deeper",
                      [&] { fx.put_back(); }, fx.log);
}

TEST(ProjectKill, Refresh) {
  Fixture fx;
  // Files gone, grown and new on the PC: the refresh removes, rewrites and adds records.
  for (int i = 0; i < 30; i += 3) fs::remove(fx.base / "d3" / ("f" + std::to_string(i) + ".txt"));
  testkit::write_text(fx.base / "d0" / "f1.txt", std::string(5000, 'y'));
  make_files(fx.base / "d5", 5, "h");
  kill_at_many_points(fx.project, quote(k_quorvel) + " -r " + quote(fx.project), [&] { fx.put_back(); }, fx.log);
}

// The window's changes, as change_project makes them.
struct WindowFixture : Fixture {
  ProjectRecord base_folder, first, folder;
  std::string change = quote(k_change) + " " + quote(project);
  WindowFixture() {
    FILE* f = std::fopen(project.c_str(), "rb");
    EXPECT_NE(find_child_by_name(f, base_folder, "base", uint32_t(k_root_folder_id)), nullptr);
    EXPECT_NE(find_child_by_name(f, first, "d0", uint32_t(base_folder.id)), nullptr);
    EXPECT_NE(find_child_by_name(f, folder, "d3", uint32_t(base_folder.id)), nullptr);
    std::fclose(f);
  }
};

// A folder that sorts first in the root: the whole project moves.
TEST(ProjectKill, WindowNewFolder) {
  WindowFixture fx;
  kill_at_many_points(fx.project, fx.change + " folder Made", [&] { fx.put_back(); }, fx.log);
}

// The first folder renamed to sort last in its own: out of its run, and back in.
TEST(ProjectKill, WindowRename) {
  WindowFixture fx;
  kill_at_many_points(fx.project, fx.change + " rename " + std::to_string(fx.first.id) + " zz", [&] { fx.put_back(); },
                      fx.log);
}

// A folder deleted with its files: moves and a cut.
TEST(ProjectKill, WindowDelete) {
  WindowFixture fx;
  kill_at_many_points(fx.project, fx.change + " delete " + std::to_string(fx.folder.id), [&] { fx.put_back(); },
                      fx.log);
}

// A change cut short whose undo file cannot be put back (a write of the project
// fails, or the project cannot be written at all): every open refuses the
// project, saying why and what mends it, and keeps the undo file as it was;
// once the project can be written, the next open puts it back whole.
TEST(ProjectKill, AnUndoThatCannotBePutBackIsKeptAndTheProjectRefused) {
  WindowFixture fx;
  const std::string undo = project_undo_path(fx.project);
  // Killed at each write in turn until the project has changed beside a whole undo file.
  std::vector<uint8_t> torn, kept;
  for (int n = 1; n < 40 && torn.empty(); ++n) {
    fx.put_back();
    std::string inject = "-e inject=write:signal=SIGKILL:when=" + std::to_string(n);
    if (testkit::run(traced(inject, fx.log, fx.change + " folder Made")).rc != 137) break;
    if (fs::exists(undo) && testkit::read_file(fx.project) != fx.made) {
      torn = testkit::read_file(fx.project);
      kept = testkit::read_file(undo);
    }
  }
  ASSERT_FALSE(torn.empty()) << "no kill left the project changed beside its undo file";
  auto refused = [&](const std::string& command, const std::string& what) {
    testkit::RunResult r = testkit::run(command);
    EXPECT_NE(r.rc, 0) << what;
    EXPECT_NE(r.err.find("cannot be put back"), std::string::npos) << what << ": " << r.err;
    EXPECT_NE(r.err.find(undo), std::string::npos) << what << ": the undo file is not named";
    EXPECT_EQ(testkit::read_file(undo), kept) << what << ": the undo file changed";
  };
  const std::string label = quote(k_quorvel) + " -l " + quote(fx.project) + " Label";
  // Writes past the first kilobyte fail (the signal such a write raises is ignored).
  refused("trap '' XFSZ; ulimit -f 1; " + label, "a write that fails");
  // A project that cannot be written at all, where the file system can say so
  // (even to root): an edit and a compile are refused, neither file touched.
  if (testkit::run("chattr +i " + quote(fx.project)).rc == 0) {
    const std::vector<uint8_t> now = testkit::read_file(fx.project);
    refused(label, "an edit of a read-only project");
    refused(quote(k_quorvel) + " -c " + quote(fx.project), "a compile of a read-only project");
    EXPECT_EQ(testkit::read_file(fx.project), now);
    testkit::run("chattr -i " + quote(fx.project));
  }
  // Writable again: put back, then labelled; every record as it was before the change.
  ASSERT_EQ(testkit::run(label).rc, 0);
  EXPECT_FALSE(fs::exists(undo));
  std::vector<uint8_t> after = testkit::read_file(fx.project);
  ASSERT_EQ(after.size(), fx.made.size());
  std::fill(after.begin() + 624, after.begin() + long(k_project_record_size), 0);  // the labels
  std::vector<uint8_t> made = fx.made;
  std::fill(made.begin() + 624, made.begin() + long(k_project_record_size), 0);
  EXPECT_EQ(after, made);
}
