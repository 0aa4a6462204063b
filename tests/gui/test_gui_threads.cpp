// The threads of the GUI program without a window: the compile on its worker
// with every hook carried to this (the GUI) thread, and the hand-over socket.
// These tests also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "gui/compile/compileworker.h"
#include "gui/compile/progresslogic.h"
#include "gui/guiforms.h"
#include "gui/guithread.h"
#include "gui/instance.h"
#include "support/testkit.h"

namespace {

const std::string k_quorvel = QUORVEL_PATH;

// The GUI thread's event queue, as the framework's CallAfter would fill it.
std::mutex g_queue_lock;
std::condition_variable g_queue_wake;
std::deque<std::function<void()>> g_queue;

std::atomic<int> g_posted{0};  // work posted to the GUI thread, ever

void post(std::function<void()> work) {
  std::lock_guard<std::mutex> l(g_queue_lock);
  ++g_posted;
  g_queue.push_back(std::move(work));
  g_queue_wake.notify_one();
}

// Runs posted work until done() holds (or the time is up); done() is asked
// after each piece of work and at least every 5 ms, as a timer would.
bool run_queue(const std::function<bool()>& done, int ms = 120000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    std::function<void()> work;
    {
      std::unique_lock<std::mutex> l(g_queue_lock);
      auto tick = std::min(end, std::chrono::steady_clock::now() + std::chrono::milliseconds(5));
      if (!g_queue_wake.wait_until(l, tick, [] { return !g_queue.empty(); })) {
        if (std::chrono::steady_clock::now() >= end) return false;
        continue;
      }
      work = std::move(g_queue.front());
      g_queue.pop_front();
    }
    work();
  }
  return true;
}

// Forms that record what they are asked, and on which thread.
struct RecordingForms : GuiForms {
  std::thread::id gui = std::this_thread::get_id();
  bool off_thread = false;
  std::vector<std::string> messages;
  void check() { off_thread = off_thread || std::this_thread::get_id() != gui; }
  void message(const std::string& t, int) override { check(); messages.push_back(t); }
  int questions = 0;
  bool yes_no(const std::string&) override { check(); ++questions; return false; }
  int yes_no_remember(const std::string&) override { check(); return -1; }
  bool announcement(const std::string&) override { check(); return false; }
  void status_text(const std::string&) override { check(); }
  void simple_status_text(const std::string&) override { check(); }
  void elapsed_time(const std::string&) override { check(); }
  void progress_bar(int, int) override { check(); }
  void end_program(int) override {}
};

// A project of one big file, one of 2000 bytes and `small` more of 100 bytes.
std::string make_project(const testkit::TempDir& dir, size_t big, int small = 0) {
  testkit::fs::create_directories(dir.path() / "src");
  testkit::write_file(dir.path() / "src" / "a.bin", testkit::random_bytes(big, 4));
  testkit::write_file(dir.path() / "src" / "b.txt", testkit::random_bytes(2000, 5));
  for (int i = 0; i < small; ++i)
    testkit::write_file(dir.path() / "src" / ("s" + std::to_string(i) + ".txt"), testkit::random_bytes(100, 6 + i));
  std::string project = dir.str("p.cvpr");
  std::string q = testkit::quote(k_quorvel) + " ";
  EXPECT_EQ(testkit::run(q + "-f " + testkit::quote(project) + " x").rc, 0);
  EXPECT_EQ(testkit::run(q + "-i " + testkit::quote(project) + " " + testkit::quote(dir.str("src"))).rc, 0);
  return project;
}

class GuiThreads : public ::testing::Test {
 protected:
  RecordingForms forms;
  void SetUp() override {
    set_gui_thread(post);
    g_gui_forms = &forms;
    g_command_mode = false;
  }
  void TearDown() override {
    g_gui_forms = nullptr;
    clear_gui_thread();
  }
};

}  // namespace

// The worker counts without waiting: this thread reads the counts as the
// progress dialog's timer does, while nothing but the end of the compile is
// posted to it, however many files go by.
TEST_F(GuiThreads, CompileOnTheWorkerCountsWhileTheGuiThreadReads) {
  testkit::TempDir dir;
  std::string project = make_project(dir, 5 << 20, 300);
  int result = 99;
  CompileRequest r;
  r.project_path = project;
  int posted = g_posted;
  ASSERT_TRUE(start_compile(r, [&](int rc) { result = rc; }));
  EXPECT_FALSE(start_compile(r, nullptr)) << "a second compile while one runs";
  uint32_t serial = 0, labels = 0, files = 0;
  uint64_t sectors = 0;
  bool backwards = false;
  ASSERT_TRUE(run_queue([&] {
    ProgressReading p = g_compile_progress.read(serial);
    if (p.label_changed) ++labels;
    serial = p.label_serial;
    backwards = backwards || p.files < files || p.sectors < sectors || p.bar_position > p.bar_maximum;
    files = p.files;
    sectors = p.sectors;
    return result != 99;
  }));
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(compile_idle());
  EXPECT_FALSE(forms.off_thread) << "a form was touched off the GUI thread";
  EXPECT_FALSE(backwards) << "a reading went back, or the file bar passed its end";
  EXPECT_LE(g_posted - posted, 2) << "the worker waited on the GUI thread as it went";
  EXPECT_GT(labels, 0u);
  EXPECT_EQ(g_compile_progress.files(), 302u);
  // Every file's sectors, the big one by its chunks, the small ones when done.
  EXPECT_EQ(g_compile_progress.sectors(), uint64_t((5 << 20) / 2048 + 1 + 300));
  ASSERT_TRUE(testkit::fs::exists(dir.str("p.iso")));
  EXPECT_EQ(testkit::run("isovfy " + testkit::quote(dir.str("p.iso"))).rc, 0);
}

TEST_F(GuiThreads, AbortMidCompileLeavesNoImage) {
  testkit::TempDir dir;
  std::string project = make_project(dir, 16 << 20);
  int result = 99;
  // Asked for as the worker begins its first file, while this thread waits for it.
  g_compile_progress.set_file_start_watcher([] { request_compile_abort(); });
  CompileRequest r;
  r.project_path = project;
  ASSERT_TRUE(start_compile(r, [&](int rc) { result = rc; }));
  ASSERT_TRUE(run_queue([&] { return result != 99; }));
  g_compile_progress.set_file_start_watcher(nullptr);
  EXPECT_NE(result, 0);
  EXPECT_TRUE(compile_idle());
  EXPECT_FALSE(testkit::fs::exists(dir.str("p.iso")));
  EXPECT_FALSE(forms.off_thread);
  EXPECT_LT(g_compile_progress.files(), 2u) << "the compile went on after the abort";
  // Idle again: the next compile starts and ends well.
  result = 99;
  ASSERT_TRUE(start_compile(r, [&](int rc) { result = rc; }));
  ASSERT_TRUE(run_queue([&] { return result != 99; }));
  EXPECT_EQ(result, 0);
}

TEST_F(GuiThreads, MessagesFromAnotherThreadWaitForTheirAnswer) {
  std::atomic<bool> answer{true};
  std::thread worker([&] {
    show_message("from the worker");
    answer = ask_yes_no("go on?");
  });
  ASSERT_TRUE(run_queue([&] { return forms.messages.size() == 1 && forms.questions == 1; }, 10000));
  worker.join();
  EXPECT_FALSE(answer);
  EXPECT_EQ(forms.messages[0], "from the worker");
  EXPECT_FALSE(forms.off_thread);
}

TEST(GuiInstance, SecondStartHandsOverAndTheFirstAnswers) {
  testkit::TempDir run_dir;
  setenv("XDG_RUNTIME_DIR", run_dir.str().c_str(), 1);
  InstanceChannel first, second;
  std::string error;
  ASSERT_EQ(claim_instance(first, error), 1) << error;
  EXPECT_EQ(testkit::fs::status(first.folder).permissions() & testkit::fs::perms::all, testkit::fs::perms::owner_all);
  EXPECT_EQ(claim_instance(second, error), 0);
  int reply = 0;
  std::thread client([&] { reply = hand_over_arguments(second, {"/x/p.cvpr", std::string(9000, 'y')}, 10000); });
  HandoverInbox inbox;
  HandoverDecoder d;
  int connection = -1;
  for (int i = 0; i < 100 && connection < 0; ++i) {
    connection = inbox.next(first, d, 5000);
    if (connection < 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_GE(connection, 0);
  EXPECT_EQ(d.state(), HandoverDecoder::complete);
  EXPECT_EQ(d.arguments(), std::vector<std::string>{"/x/p.cvpr"});
  EXPECT_EQ(d.refused_lengths().size(), 1u);
  reply_handover(connection, k_handover_refused);
  client.join();
  EXPECT_EQ(reply, k_handover_refused);
  release_instance(first);
  // Once the first has ended, the next start is the first again.
  EXPECT_EQ(claim_instance(second, error), 1);
  release_instance(second);
}

TEST(GuiInstance, AnIdleClientHoldsNothingUpAndIsRefusedInTime) {
  testkit::TempDir run_dir;
  setenv("XDG_RUNTIME_DIR", run_dir.str().c_str(), 1);
  InstanceChannel first, second;
  std::string error;
  ASSERT_EQ(claim_instance(first, error), 1) << error;
  ASSERT_EQ(claim_instance(second, error), 0);
  // A client that connects and sends nothing.
  int idle = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, first.socket_path.c_str(), first.socket_path.size() + 1);
  ASSERT_EQ(::connect(idle, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  HandoverInbox inbox;
  HandoverDecoder d;
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(inbox.next(first, d, 800), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(100)) << "the window waited on it";
  // A second start behind it is read and answered while the idle one waits.
  int reply = 0;
  std::thread client([&] { reply = hand_over_arguments(second, {"/x/p.cvpr"}, 10000); });
  int connection = -1;
  for (int i = 0; i < 200 && connection < 0; ++i) {
    connection = inbox.next(first, d, 800);
    if (connection < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_GE(connection, 0);
  EXPECT_EQ(d.state(), HandoverDecoder::complete);
  EXPECT_EQ(d.arguments(), std::vector<std::string>{"/x/p.cvpr"});
  reply_handover(connection, k_handover_done);
  client.join();
  EXPECT_EQ(reply, k_handover_done);
  // Past its time the idle one is answered "refused" and let go.
  std::this_thread::sleep_for(std::chrono::milliseconds(900));
  EXPECT_EQ(inbox.next(first, d, 800), -1);
  uint8_t answer = 0;
  EXPECT_EQ(::recv(idle, &answer, 1, 0), 1);
  EXPECT_EQ(answer, k_handover_refused);
  EXPECT_EQ(::recv(idle, &answer, 1, 0), 0) << "the connection stays open";
  ::close(idle);
  release_instance(first);
}
