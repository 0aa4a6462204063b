#include "platform/programs.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

extern char** environ;

std::function<int(const std::string& target)> g_desktop_opener;

namespace {

bool is_executable_file(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string in_folder(const std::string& folder, const std::string& name) {
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

std::string find_program(const std::string& name, const std::string& first_folder, const std::string& path_list) {
  if (name.empty() || name.find('/') != std::string::npos) return std::string();
  if (!first_folder.empty()) {
    std::string p = in_folder(first_folder, name);
    if (is_executable_file(p)) return p;
  }
  size_t start = 0;
  while (start <= path_list.size()) {
    size_t colon = path_list.find(':', start);
    std::string dir = path_list.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    start = colon == std::string::npos ? path_list.size() + 1 : colon + 1;
    if (dir.empty() || dir[0] != '/') continue;  // a relative entry would depend on our current folder
    std::string p = in_folder(dir, name);
    if (is_executable_file(p)) return p;
  }
  return std::string();
}

int start_detached(const std::string& path, const std::vector<std::string>& args) {
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return ENOMEM;
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return rc;
  // Nobody waits for the program: a thread of its own takes its end.
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return 0;
}

int open_with_desktop(const std::string& target) {
  if (g_desktop_opener) return g_desktop_opener(target);
  const char* path_env = std::getenv("PATH");
  std::string opener = find_program("xdg-open", "", path_env ? path_env : "");
  if (opener.empty()) return ENOENT;
  return start_detached(opener, {target});
}
