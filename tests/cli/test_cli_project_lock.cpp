// Two runs on one project: edits at once never both write, a run that meets
// another's edit refuses at once (its own exit code and line), a compile waits
// for the edit to end and reads what it left, and the lock of a run that died
// is gone with it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "IO/uitext.h"
#include "compiler/project.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using testkit::quote;
using testkit::TempDir;
namespace fs = std::filesystem;

namespace {

const std::string k_quorvel = QUORVEL_PATH;
constexpr int k_in_use_status = 256 + k_project_in_use;  // -9 as the shell sees it

testkit::RunResult quorvel(const std::string& args) { return testkit::run(quote(k_quorvel) + " " + args); }

void make_files(const fs::path& folder, int n) {
  fs::create_directories(folder);
  for (int i = 0; i < n; ++i) testkit::write_text(folder / ("f" + std::to_string(i) + ".txt"), "text " + std::to_string(i));
}

// Files of the project by the PC name of the folder that holds them.
std::map<std::string, int> files_by_folder(const std::string& project) {
  std::map<std::string, int> out;
  std::map<int32_t, std::string> folders;
  std::vector<ProjectRecord> files;
  FILE* f = std::fopen(project.c_str(), "rb");
  if (!f) return out;
  ProjectHeader h;
  EXPECT_TRUE(read_project_header(f, h));
  ProjectRecord r;
  while (read_project_record(f, r)) {
    if (r.is_folder()) folders[r.id] = r.pc_name;
    else files.push_back(r);
  }
  std::fclose(f);
  for (const ProjectRecord& file : files) ++out[folders.count(int32_t(file.parent_id)) ? folders[int32_t(file.parent_id)] : "?"];
  return out;
}

std::vector<std::string> faults_of(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  std::vector<std::string> faults = check_project_invariants(f);
  std::fclose(f);
  return faults;
}

// Another process holding the project as an edit does: exclusive, until it
// is told to go (then it first adds a folder when asked), or until it is killed.
class LockHolder {
 public:
  LockHolder(const std::string& path, bool add_folder) {
    int ready[2], go[2];
    EXPECT_EQ(::pipe(ready), 0);
    EXPECT_EQ(::pipe(go), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(go[1]);
      FILE* f = nullptr;
      char c = open_project_stream(path, "r+b", FileLock::exclusive, false, f) == 0 ? 'L' : 'X';
      if (::write(ready[1], &c, 1) != 1) ::_exit(2);
      if (::read(go[0], &c, 1) == 1 && add_folder && f) {
        read_project_id_counters(f, g_last_folder_id, g_last_file_serial);
        ProjectRecord r;
        EXPECT_NE(make_folder_record(f, r, "Added while held", uint32_t(k_root_folder_id), "..", false), 0);
        add_folder_counts(f, k_root_folder_id, 1, 0);
        write_project_totals(f);
      }
      ::_exit(f && close_project_stream(f) == 0 ? 0 : 1);
    }
    ::close(ready[1]);
    ::close(go[0]);
    go_ = go[1];
    char c = 0;
    locked_ = ::read(ready[0], &c, 1) == 1 && c == 'L';
    ::close(ready[0]);
  }
  ~LockHolder() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (go_ >= 0) ::close(go_);
  }
  bool locked() const { return locked_; }
  // Lets it finish its edit; its exit status.
  int release() {
    char c = 'g';
    EXPECT_EQ(::write(go_, &c, 1), 1);
    int st = 0;
    ::waitpid(pid_, &st, 0);
    pid_ = -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  void kill_it() {
    ::kill(pid_, SIGKILL);
    int st = 0;
    ::waitpid(pid_, &st, 0);
    EXPECT_TRUE(WIFSIGNALED(st));
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int go_ = -1;
  bool locked_ = false;
};

}  // namespace

TEST(QuorvelLock, TwoInclusionsAtOnceNeverBothWrite) {
  TempDir dir;
  make_files(dir.path() / "A", 300);
  make_files(dir.path() / "B", 300);
  std::string base = dir.str("base.cvpr"), p = dir.str("p.cvpr");
  ASSERT_EQ(quorvel("-f " + quote(base) + " F").rc, 0);
  const int rounds = testkit::k_sanitized ? 4 : 16;
  int refused = 0, both = 0;
  for (int round = 0; round < rounds; ++round) {
    fs::copy_file(base, p, fs::copy_options::overwrite_existing);
    std::string q = quote(k_quorvel), pq = quote(p);
    testkit::RunResult r = testkit::run(q + " -i " + pq + " " + quote(dir.str("A")) + " & a=$!; " + q + " -i " + pq +
                                        " " + quote(dir.str("B")) + " & b=$!; wait $a; echo $?; wait $b; echo $?");
    int ra = -1, rb = -1;
    ASSERT_EQ(std::sscanf(r.out.c_str(), "%d %d", &ra, &rb), 2) << r.out;
    for (int rc : {ra, rb}) EXPECT_TRUE(rc == 0 || rc == k_in_use_status) << "round " << round << ": " << rc;
    for (const std::string& fault : faults_of(p)) ADD_FAILURE() << "round " << round << ": " << fault;
    std::map<std::string, int> files = files_by_folder(p);
    for (auto [rc, name] : {std::pair{ra, "A"}, std::pair{rb, "B"}}) {
      if (rc == 0) {
        EXPECT_EQ(files[name], 300) << "round " << round << ": " << name;
      } else {
        EXPECT_EQ(files.count(name), 0u) << "round " << round << ": the refused run wrote " << name;
      }
    }
    refused += (ra != 0) + (rb != 0);
    both += ra == 0 && rb == 0;
  }
  // Whichever came second either found the first done or was refused.
  EXPECT_EQ(refused + both, rounds);
}

TEST(QuorvelLock, AnEditMetWhileHeldIsRefusedAndTheDeadHoldersLockIsGone) {
  TempDir dir;
  make_files(dir.path() / "A", 3);
  std::string p = dir.str("p.cvpr");
  ASSERT_EQ(quorvel("-f " + quote(p) + " F").rc, 0);
  std::vector<uint8_t> before = testkit::read_file(p);
  {
    LockHolder holder(p, false);
    ASSERT_TRUE(holder.locked());
    // Every edit is refused at once, with its exit code and its own line; nothing is written.
    for (std::string args : {"-i " + quote(p) + " " + quote(dir.str("A")), "-f " + quote(p) + " G/H",
                             "-l " + quote(p) + " Name", "-r " + quote(p)}) {
      testkit::RunResult r = quorvel(args);
      EXPECT_EQ(r.rc, k_in_use_status) << args;
      EXPECT_NE(r.err.find(format_text(ui_text(6601).c_str(), p.c_str())), std::string::npos) << args << ": " << r.err;
      EXPECT_EQ(testkit::read_file(p), before) << args;
    }
    // The holder is killed: the system lets its lock go with it.
    holder.kill_it();
  }
  EXPECT_EQ(quorvel("-i " + quote(p) + " " + quote(dir.str("A"))).rc, 0);
  EXPECT_EQ(files_by_folder(p)["A"], 3);
  for (const std::string& fault : faults_of(p)) ADD_FAILURE() << fault;
}

TEST(QuorvelLock, ACompileWaitsForTheEditAndReadsWhatItLeft) {
  REQUIRE_TOOL("isoinfo");
  TempDir dir;
  make_files(dir.path() / "A", 2);
  std::string p = dir.str("p.cvpr"), iso = dir.str("p.iso");
  ASSERT_EQ(quorvel("-i " + quote(p) + " " + quote(dir.str("A"))).rc, 0);
  LockHolder holder(p, true);
  ASSERT_TRUE(holder.locked());
  // The compile, started while the edit holds the project, has not begun its image.
  testkit::Started compile({k_quorvel, "-ci", p}, {{}, "", "/dev/null", "/dev/null"});
  ::usleep(700 * 1000);
  EXPECT_EQ(compile.wait_exit(0), -1) << "the compile did not wait";
  EXPECT_FALSE(fs::exists(iso));
  EXPECT_EQ(holder.release(), 0);
  ASSERT_EQ(compile.wait_exit(15000), 0);
  // It compiled the project as the edit left it: the folder added while it waited is in the image.
  testkit::RunResult l = testkit::run("isoinfo -J -f -i " + quote(iso));
  EXPECT_NE(l.out.find("/Added while held"), std::string::npos) << l.out;
  EXPECT_NE(l.out.find("/A/f1.txt"), std::string::npos) << l.out;
}
