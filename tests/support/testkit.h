// Helpers shared by the tests: temporary folders, whole-file I/O, and running
// the outside tools that judge what we write.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testkit {

namespace fs = std::filesystem;

// A fresh folder under $TMPDIR, removed with everything in it at scope exit.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  std::string str(const std::string& leaf = "") const { return (leaf.empty() ? path_ : path_ / leaf).string(); }

 private:
  fs::path path_;
};

// A full disk for the length of a scope: files this process writes stop at
// bytes (a write past it fails with EFBIG, SIGXFSZ ignored meanwhile); the
// limit and the signal's handler come back at scope exit. It stops the
// superuser too, which a read-only folder does not.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(uint64_t bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  uint64_t old_limit_ = 0;
  void (*old_handler_)(int) = nullptr;
};

std::vector<uint8_t> read_file(const fs::path& p);
std::string read_text(const fs::path& p);
void write_file(const fs::path& p, const void* data, size_t n);
void write_file(const fs::path& p, const std::vector<uint8_t>& data);
void write_text(const fs::path& p, const std::string& text);
std::string sha256_of(const fs::path& p);  // via sha256sum
// A shell script at path (made executable) running body.
void write_script(const std::string& path, const std::string& body);
// Waits up to 3 s for a file another process writes, and a moment more for it
// to finish its line. True when it is there.
bool wait_for_file(const std::string& path);

struct RunResult {
  int rc = -1;          // exit status (or -1 when it did not exit normally)
  std::string out;      // stdout
  std::string err;      // stderr
};
// Runs a shell command line, reading nothing (standard input is /dev/null), to
// its end; whatever it left running behind it is ended then. HOME is set to a
// private folder (hfsutils keeps its current volume there), so checks may run
// in parallel.
RunResult run(const std::string& command);

// Runs a program (argv[0] and its arguments, quoted here) under strace, which
// follows its writes to files (pwrite64): with kill_at > 0 it is killed
// (SIGKILL) at its kill_at-th write and its exit status comes back (137 when
// killed); with 0 it runs whole and the number of writes it made comes back,
// or -1 when it failed (a test failure, with its error output). The trace
// goes to log.
int traced_writes(const std::vector<std::string>& argv, int kill_at, const std::string& log);

// A program a test starts and keeps running beside it: in a process group of
// its own, reading nothing (standard input is /dev/null), sent SIGTERM should
// the test program die. However the test leaves the scope (a failed assertion
// included), the program and all it started are ended and reaped.
class Started {
 public:
  struct Options {
    std::vector<std::string> env;  // NAME=value, over the test's own environment
    std::string folder;            // the folder it starts in; "" the test's
    std::string out, err;          // files its output goes to; "" the test's own
  };
  // argv[0] without a slash is looked for along PATH.
  explicit Started(const std::vector<std::string>& argv, const Options& options = {});
  ~Started() { end(); }
  Started(const Started&) = delete;
  Started& operator=(const Started&) = delete;
  pid_t pid() const { return pid_; }
  // Its exit code once it has ended, waiting at most timeout_ms (forever when
  // negative): -2 when a signal ended it, -1 while it still runs (or did not start).
  int wait_exit(int timeout_ms);
  // Ends it and its group now: SIGTERM, then SIGKILL for what is left after
  // grace_ms; reaps it. Its exit code as wait_exit gives it.
  int end(int grace_ms = 2000);

 private:
  pid_t pid_ = -1;
  int code_ = -1;
  bool exited_ = false, reaped_ = false;
};
std::string quote(const std::string& s);  // single-quoted for the shell

// True when the tool is on PATH. When it is not: in CI (CI set) the test fails,
// elsewhere it is skipped. Use as: REQUIRE_TOOL("hls"); at the top of a test.
bool tool_available(const std::string& name);
#define REQUIRE_TOOL(name)                                                       \
  do {                                                                           \
    if (!::testkit::tool_available(name)) {                                      \
      if (std::getenv("CI")) FAIL() << "outside tool missing: " << (name);       \
      GTEST_SKIP() << "outside tool missing: " << (name);                        \
    }                                                                            \
  } while (0)

// Runs fn in a child process whose address space is held to limit_mb (0: no
// limit; none under the sanitizers, which reserve more than that); its exit
// code, or 100 + the signal that ended it.
int in_child(size_t limit_mb, const std::function<int()>& fn);

// Deterministic pseudo-random bytes.
std::vector<uint8_t> random_bytes(size_t n, uint32_t seed);

// True in the sanitizer build, which runs ten to a hundred times slower: tests
// at scale keep to their smaller sizes there.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool k_sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool k_sanitized = true;
#else
inline constexpr bool k_sanitized = false;
#endif
#else
inline constexpr bool k_sanitized = false;
#endif

}  // namespace testkit
