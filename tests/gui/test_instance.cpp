// The program as the user starts it: one instance per user, the hand-over
// from a second start, a command on the command line, the close box.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include <chrono>
#include <memory>
#include <thread>

#include "IO/uitext.h"
#include "gui_fixture.h"
#include "x11probe.h"

namespace {

const std::string k_corvane = CORVANE_PATH;
const std::string k_quorvel = QUORVEL_PATH;

// The folders one user of the program keeps.
struct UserFolders {
  testkit::TempDir dir;
  UserFolders() {
    for (const char* leaf : {"config", "data", "run"}) testkit::fs::create_directories(dir.path() / leaf);
    ::chmod(dir.str("run").c_str(), 0700);
  }
};

// The program as the user starts it, in a process group of its own; ended
// with all it started when the test leaves the scope.
std::unique_ptr<testkit::Started> start(const UserFolders& u, const std::vector<std::string>& args,
                                        const std::string& data_home = "", const std::string& folder = "") {
  std::vector<std::string> argv{k_corvane};
  argv.insert(argv.end(), args.begin(), args.end());
  return std::make_unique<testkit::Started>(
      argv, testkit::Started::Options{{"CORVANE_CONFIG_DIR=" + u.dir.str("config"),
                                       "XDG_DATA_HOME=" + (data_home.empty() ? u.dir.str("data") : data_home),
                                       "XDG_RUNTIME_DIR=" + u.dir.str("run")},
                                      folder, "", ""});
}

std::string shot(const std::string& name) { return guitest::screenshot_path(name); }

}  // namespace

TEST(Instance, SecondStartHandsItsDocumentOverAndCloseEndsTheProgram) {
  UserFolders u;
  std::string project = u.dir.str("p.cvpr");
  ASSERT_EQ(testkit::run(testkit::quote(k_quorvel) + " -f " + testkit::quote(project) + " a").rc, 0);
  auto first = start(u, {});
  ProbeWindow w;
  ASSERT_TRUE(wait_for_window(first->pid(), "cvpr.cvpr [Corvane]", 15000, &w));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(save_window_png(w, shot("instance_first_start")));
  EXPECT_GT(picture_variety(w), 0.02);

  auto t0 = std::chrono::steady_clock::now();
  auto second = start(u, {project});
  EXPECT_EQ(second->wait_exit(10000), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
  EXPECT_TRUE(wait_for_window(first->pid(), "p.cvpr [Corvane]", 3000, &w)) << "the first window did not open the project";
  EXPECT_TRUE(save_window_png(w, shot("instance_handed_over")));

  // An argument far beyond any path: refused in the running window, which stays.
  auto third = start(u, {std::string(10000, 'x') + ".cvpr"});
  ProbeWindow refusal;
  EXPECT_TRUE(wait_for_window(first->pid(), ui_text(2900), 5000, &refusal));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(save_window_png(refusal, shot("instance_refused_argument")));
  EXPECT_EQ(third->wait_exit(10000), 1);
  EXPECT_EQ(first->wait_exit(0), -1) << "the first instance ended";
  EXPECT_TRUE(wait_for_window(first->pid(), "p.cvpr [Corvane]", 1000, &w));

  // The close box ends the process.
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));  // the refusal closes itself
  ASSERT_TRUE(request_close(w));
  EXPECT_EQ(first->wait_exit(10000), 0);
  first->end();
  EXPECT_FALSE(testkit::fs::exists(u.dir.path() / "data" / "corvane" / "cvpr.cvpr"));
}

TEST(Instance, CommandWithNoInstanceRunningCompilesAndEnds) {
  UserFolders u;
  std::string project = u.dir.str("p.cvpr");
  testkit::write_file(u.dir.path() / "f.txt", testkit::random_bytes(5000, 7));
  ASSERT_EQ(testkit::run(testkit::quote(k_quorvel) + " -f " + testkit::quote(project) + " a").rc, 0);
  ASSERT_EQ(testkit::run(testkit::quote(k_quorvel) + " -i " + testkit::quote(project) + " " +
                         testkit::quote(u.dir.str("f.txt"))).rc, 0);
  auto program = start(u, {"-c", project});
  EXPECT_EQ(program->wait_exit(60000), 0);
  program->end();
  EXPECT_TRUE(testkit::fs::exists(u.dir.str("p.iso")));
  EXPECT_EQ(testkit::run("isovfy " + testkit::quote(u.dir.str("p.iso"))).rc, 0);
  // The same with "/c": a slash option, as no file of that name exists.
  testkit::fs::remove(u.dir.str("p.iso"));
  program = start(u, {"/c", project});
  EXPECT_EQ(program->wait_exit(60000), 0);
  program->end();
  EXPECT_TRUE(testkit::fs::exists(u.dir.str("p.iso")));
}

TEST(Instance, UnwritableDataFolderGivesAMessageNotACrash) {
  UserFolders u;
  testkit::fs::create_directories(u.dir.path() / "locked");
  ::chmod(u.dir.str("locked").c_str(), 0500);
  bool root = ::geteuid() == 0;
  // root writes everywhere: a file in the way of the folder does the same.
  std::string data_home = u.dir.str("locked");
  if (root) {
    testkit::write_text(u.dir.path() / "blocker", "x");
    data_home = u.dir.str("blocker");
  }
  auto program = start(u, {}, data_home);
  ProbeWindow message;
  EXPECT_TRUE(wait_for_window(program->pid(), ui_text(2900), 15000, &message));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(save_window_png(message, shot("instance_unwritable_data")));
  EXPECT_EQ(program->wait_exit(0), -1) << "the program ended";
  ProbeWindow w;
  EXPECT_TRUE(wait_for_window(program->pid(), "Corvane", 3000, &w));
  program->end();
  ::chmod(u.dir.str("locked").c_str(), 0700);
}

TEST(Instance, SecondStartWithoutArgumentsEndsWithOne) {
  UserFolders u;
  auto first = start(u, {});
  ASSERT_TRUE(wait_for_window(first->pid(), "cvpr.cvpr [Corvane]", 15000));
  auto second = start(u, {});
  EXPECT_TRUE(wait_for_window(second->pid(), ui_text(2900), 5000));
  EXPECT_EQ(second->wait_exit(10000), 1);
  EXPECT_EQ(first->wait_exit(0), -1);
  first->end();
}

TEST(Instance, FailedCommandIsTakenForADocumentAndNamed) {
  UserFolders u;
  auto program = start(u, {"-x"});
  ProbeWindow message;
  EXPECT_TRUE(wait_for_window(program->pid(), ui_text(2900), 15000, &message)) << "no message naming the argument";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(save_window_png(message, shot("instance_unknown_option")));
  EXPECT_EQ(program->wait_exit(0), -1) << "the program ended instead of staying open";
  program->end();
}

TEST(Instance, AHandedOverPathNamesTheFileInTheSecondStartsFolder) {
  UserFolders u;
  testkit::fs::create_directories(u.dir.path() / "A");
  testkit::fs::create_directories(u.dir.path() / "B");
  ASSERT_EQ(testkit::run(testkit::quote(k_quorvel) + " -f " + testkit::quote(u.dir.str("B/rel.cvpr")) + " b").rc, 0);
  auto first = start(u, {}, "", u.dir.str("A"));
  ASSERT_TRUE(wait_for_window(first->pid(), "cvpr.cvpr [Corvane]", 15000));
  // From B, "rel.cvpr" is B's; the first instance, started in A (which has none), opens it.
  auto second = start(u, {"rel.cvpr"}, "", u.dir.str("B"));
  EXPECT_EQ(second->wait_exit(10000), 1);
  ProbeWindow w;
  EXPECT_TRUE(wait_for_window(first->pid(), "rel.cvpr [Corvane]", 5000, &w)) << "the first instance took another file";
  EXPECT_FALSE(wait_for_window(first->pid(), ui_text(2900), 300)) << "a message instead of the document";
  first->end();
}

TEST(Instance, AFormOfTheRunningWindowOrAnIdleClientHoldsNoLaterStartBack) {
  UserFolders u;
  std::string project = u.dir.str("p.cvpr");
  ASSERT_EQ(testkit::run(testkit::quote(k_quorvel) + " -f " + testkit::quote(project) + " a").rc, 0);
  auto first = start(u, {});
  ASSERT_TRUE(wait_for_window(first->pid(), "cvpr.cvpr [Corvane]", 15000));
  // A file of no kind of the program: the running window says so in a form,
  // and the start that handed it over has its answer before that form opens.
  auto t0 = std::chrono::steady_clock::now();
  auto second = start(u, {u.dir.str("notes.txt")});
  EXPECT_EQ(second->wait_exit(10000), 1);
  ProbeWindow box;
  ASSERT_TRUE(wait_for_window(first->pid(), ui_text(2900), 5000, &box));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  // While the form waits, a later start is told so at once instead of waiting for it.
  t0 = std::chrono::steady_clock::now();
  testkit::RunResult third = testkit::run("XDG_RUNTIME_DIR=" + testkit::quote(u.dir.str("run")) + " XDG_DATA_HOME=" +
                                          testkit::quote(u.dir.str("data")) + " CORVANE_CONFIG_DIR=" +
                                          testkit::quote(u.dir.str("config")) + " " + testkit::quote(k_corvane) + " " +
                                          testkit::quote(project));
  EXPECT_EQ(third.rc, 1);
  EXPECT_NE(third.err.find(ui_text(2909)), std::string::npos) << third.err;
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  ASSERT_TRUE(request_close(box));
  // A client that connects and sends nothing: the window stays with the user,
  // and the next start is taken at once.
  int idle = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::string sock = u.dir.str("run/corvane/instance.sock");
  std::memcpy(addr.sun_path, sock.c_str(), sock.size() + 1);
  ASSERT_EQ(::connect(idle, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  t0 = std::chrono::steady_clock::now();
  auto fourth = start(u, {project});
  EXPECT_EQ(fourth->wait_exit(10000), 1);
  ProbeWindow w;
  EXPECT_TRUE(wait_for_window(first->pid(), "p.cvpr [Corvane]", 5000, &w));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1800)) << "held up by the idle client";
  EXPECT_TRUE(save_window_png(w, shot("instance_after_idle_client")));
  ::close(idle);
  first->end();
}
