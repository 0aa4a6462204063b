#include "support/testkit.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testkit {

static fs::path temp_root() {
  const char* t = std::getenv("TMPDIR");
  return t && *t ? fs::path(t) : fs::temp_directory_path();
}

TempDir::TempDir() {
  std::string tmpl = (temp_root() / "cvtest-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::vector<uint8_t> read_file(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

std::string read_text(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void write_file(const fs::path& p, const void* data, size_t n) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(static_cast<const char*>(data), std::streamsize(n));
}
void write_file(const fs::path& p, const std::vector<uint8_t>& data) { write_file(p, data.data(), data.size()); }
void write_text(const fs::path& p, const std::string& text) { write_file(p, text.data(), text.size()); }

std::string quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''"; else out += c;
  }
  return out + "'";
}

std::string sha256_of(const fs::path& p) {
  RunResult r = run("sha256sum " + quote(p.string()));
  return r.out.substr(0, 64);
}

static std::string slurp(const fs::path& p) { return read_text(p); }

RunResult run(const std::string& command) {
  TempDir home;
  std::string out = home.str("stdout"), err = home.str("stderr");
  RunResult r;
  {
    Started shell({"/bin/sh", "-c", command}, {{"HOME=" + home.str()}, "", out, err});
    int code = shell.wait_exit(-1);
    r.rc = code >= 0 ? code : -1;
  }
  r.out = slurp(out);
  r.err = slurp(err);
  return r;
}

int traced_writes(const std::vector<std::string>& argv, int kill_at, const std::string& log) {
  // The leak checker of a sanitizer build cannot run under a tracer.
  std::string cmd = "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" strace -qq -f -o " + quote(log) +
                    " -e trace=pwrite64";
  if (kill_at > 0) cmd += " -e inject=pwrite64:signal=SIGKILL:when=" + std::to_string(kill_at);
  for (const std::string& a : argv) cmd += " " + quote(a);
  RunResult r = run(cmd);
  if (kill_at > 0) return r.rc;
  if (r.rc != 0) {
    ADD_FAILURE() << argv.front() << " failed: " << r.rc << " " << r.err;
    return -1;
  }
  int writes = 0;
  std::string text = read_text(log);
  for (size_t at = 0; (at = text.find("pwrite64(", at)) != std::string::npos; ++at) ++writes;
  return writes;
}

namespace {

// Where execve finds name: itself when it holds a slash, else along PATH.
std::string program_path(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  for (size_t start = 0; start <= dirs.size();) {
    size_t colon = dirs.find(':', start);
    if (colon == std::string::npos) colon = dirs.size();
    std::string candidate = (colon == start ? std::string(".") : dirs.substr(start, colon - start)) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = colon + 1;
  }
  return name;
}

// True while a process of group pgid runs; zombies have let go of everything.
bool group_runs(pid_t pgid) {
  DIR* proc = ::opendir("/proc");
  if (!proc) return false;
  bool found = false;
  while (dirent* e = ::readdir(proc)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    std::string stat = slurp(fs::path("/proc") / e->d_name / "stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int ppid = 0, pgrp = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %d %d", &state, &ppid, &pgrp) == 3 && pgrp == pgid &&
        state != 'Z' && state != 'X') {
      found = true;
      break;
    }
  }
  ::closedir(proc);
  return found;
}

bool wait_group(pid_t pgid, int ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (group_runs(pgid)) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace

Started::Started(const std::vector<std::string>& argv, const Options& options) {
  if (argv.empty()) return;
  // All the child needs is made here: between fork and exec it may only call
  // what is safe in a copy of a program with threads.
  std::string path = program_path(argv[0]);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> env_text;
  for (char** e = environ; e && *e; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const std::string& o : options.env) {
      size_t name = o.find('=');
      replaced |= name != std::string::npos && entry.compare(0, name + 1, o, 0, name + 1) == 0;
    }
    if (!replaced) env_text.push_back(entry);
  }
  for (const std::string& o : options.env) env_text.push_back(o);
  std::vector<char*> envp;
  for (const std::string& e : env_text) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ == 0) {
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(126);  // the test ended before the line above
    int in = ::open("/dev/null", O_RDONLY);
    if (in < 0 || ::dup2(in, 0) < 0) ::_exit(126);
    if (!options.out.empty()) {
      int fd = ::open(options.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0 || ::dup2(fd, 1) < 0) ::_exit(126);
    }
    if (!options.err.empty()) {
      int fd = ::open(options.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0 || ::dup2(fd, 2) < 0) ::_exit(126);
    }
    if (!options.folder.empty() && ::chdir(options.folder.c_str()) != 0) ::_exit(126);
    ::execve(path.c_str(), args.data(), envp.data());
    ::_exit(127);
  }
  // Set on both sides, so the group is there whichever runs first.
  if (pid_ > 0) ::setpgid(pid_, pid_);
}

int Started::wait_exit(int timeout_ms) {
  if (pid_ <= 0) return -1;
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!exited_) {
    // Seen, not reaped: while it is unreaped its group cannot be another's.
    siginfo_t info{};
    int flags = WEXITED | WNOWAIT | (timeout_ms < 0 ? 0 : WNOHANG);
    if (::waitid(P_PID, id_t(pid_), &info, flags) != 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (info.si_pid == pid_) {
      exited_ = true;
      code_ = info.si_code == CLD_EXITED ? info.si_status : -2;
      break;
    }
    if (std::chrono::steady_clock::now() >= until) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return code_;
}

int Started::end(int grace_ms) {
  if (pid_ <= 0 || reaped_) return code_;
  if (wait_exit(0) == -1) {
    // Unreaped, its group is still its own: the whole group is told to go.
    ::kill(-pid_, SIGTERM);
    if (wait_exit(grace_ms) == -1) ::kill(-pid_, SIGKILL);
  }
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  if (!exited_) code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -2;
  exited_ = reaped_ = true;
  // What it started and left behind keeps the group (and so its number) alive.
  if (::kill(-pid_, 0) == 0 && group_runs(pid_)) {
    ::kill(-pid_, SIGTERM);
    if (!wait_group(pid_, grace_ms)) {
      ::kill(-pid_, SIGKILL);
      wait_group(pid_, 5000);
    }
  }
  return code_;
}

bool tool_available(const std::string& name) {
  return std::system(("command -v " + quote(name) + " >/dev/null 2>&1").c_str()) == 0;
}

FileSizeLimit::FileSizeLimit(uint64_t bytes) {
  struct rlimit old {};
  getrlimit(RLIMIT_FSIZE, &old);
  old_limit_ = old.rlim_cur;
  old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = rlim_t(bytes);
  setrlimit(RLIMIT_FSIZE, &small);
}

FileSizeLimit::~FileSizeLimit() {
  struct rlimit now {};
  getrlimit(RLIMIT_FSIZE, &now);
  now.rlim_cur = rlim_t(old_limit_);
  setrlimit(RLIMIT_FSIZE, &now);
  std::signal(SIGXFSZ, old_handler_);
}

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = uint8_t(gen());
  return v;
}

void write_script(const std::string& path, const std::string& body) {
  write_text(path, "#!/bin/sh\n" + body);
  ::chmod(path.c_str(), 0755);
}

bool wait_for_file(const std::string& path) {
  for (int i = 0; i < 300 && !fs::exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  // The writer may still be at it: give it a moment to finish the line.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return fs::exists(path);
}

int in_child(size_t limit_mb, const std::function<int()>& fn) {
  pid_t pid = fork();
  if (pid == 0) {
    if (limit_mb && !k_sanitized) {
      rlimit lim{limit_mb << 20, limit_mb << 20};
      setrlimit(RLIMIT_AS, &lim);
    }
    _exit(fn());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

}  // namespace testkit
