// The test kit's programs started beside a test: nothing they start outlives
// the test, however it ends, and none of them reads the test's input.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "support/testkit.h"

using testkit::quote;

namespace {

// True while pid runs (a zombie has ended).
bool runs(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  size_t close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

bool ends_within(pid_t pid, int ms) {
  for (int i = 0; i < ms / 20 && runs(pid); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return !runs(pid);
}

pid_t pid_in(const std::string& file, int ms = 5000) {
  for (int i = 0; i < ms / 20; ++i) {
    std::string text = testkit::read_text(file);
    if (!text.empty() && text.back() == '\n') return pid_t(std::stol(text));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return 0;
}

}  // namespace

TEST(StartedPrograms, WhatAProgramStartsEndsWithItAndNothingReadsTheTestsInput) {
  testkit::TempDir dir;
  std::string pid_file = dir.str("pid"), input = dir.str("input");
  pid_t behind = 0;
  {
    // The program leaves a program of its own behind, which ignores SIGTERM.
    testkit::Started p({"/bin/sh", "-c",
                        "readlink /proc/self/fd/0 > " + quote(input) + "; (trap '' TERM; exec sleep 60) & echo $! > " +
                            quote(pid_file) + "; read line; sleep 60"});
    behind = pid_in(pid_file);
    ASSERT_GT(behind, 0);
    EXPECT_EQ(p.wait_exit(0), -1);
  }
  EXPECT_TRUE(ends_within(behind, 3000)) << "what the program started outlived it";
  EXPECT_EQ(testkit::read_text(input), "/dev/null\n");

  // A command line run to its end: what it left running is ended with it,
  // and its exit code is its shell's.
  auto t0 = std::chrono::steady_clock::now();
  testkit::RunResult r = testkit::run("sleep 60 & echo $!; exit 3");
  EXPECT_EQ(r.rc, 3);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
  ASSERT_FALSE(r.out.empty());
  EXPECT_TRUE(ends_within(pid_t(std::stol(r.out)), 3000)) << "the command's background job outlived it";

  testkit::Started quick({"/bin/sh", "-c", "exit 7"});
  EXPECT_EQ(quick.wait_exit(5000), 7);
  EXPECT_EQ(quick.end(), 7);
}

TEST(StartedPrograms, ATestProgramThatDiesTakesItsProgramWithIt) {
  testkit::TempDir dir;
  std::string pid_file = dir.str("pid");
  // A test program cut short: no destructor runs, the kernel tells the program.
  pid_t test = ::fork();
  ASSERT_GE(test, 0);
  if (test == 0) {
    auto* p = new testkit::Started({"/bin/sh", "-c", "echo $$ > " + quote(pid_file) + "; exec sleep 60"});
    (void)p;
    if (pid_in(pid_file) <= 0) ::_exit(1);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(test, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  pid_t program = pid_in(pid_file);
  ASSERT_GT(program, 0);
  EXPECT_TRUE(ends_within(program, 3000)) << "the program outlived the test that started it";
}
