#include "support/testkit.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

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
  std::string full = "HOME=" + quote(home.str()) + " ; export HOME ; ( " + command + " ) >" + quote(out) +
                     " 2>" + quote(err) + " </dev/null";
  int st = std::system(full.c_str());
  RunResult r;
  r.rc = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.out = slurp(out);
  r.err = slurp(err);
  return r;
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

}  // namespace testkit
