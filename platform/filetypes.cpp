#include "platform/filetypes.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/files.h"

extern char** environ;

namespace {

const char* const k_desktop_name = "corvane.desktop";

[[nodiscard]] int make_folders(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i != path.size() && path[i] != '/') continue;
    if (mkdir(path.substr(0, i).c_str(), 0755) != 0 && errno != EEXIST) return -1;
  }
  return 0;
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Written beside the old file and renamed over it: a reader sees the old or the new.
[[nodiscard]] int write_text(const std::string& path, const std::string& text) {
  std::string tmp = path + ".new";
  int fd = create_file(tmp);
  if (fd < 0) return -1;
  bool ok = write_full(fd, text.data(), text.size()) == 0;
  ok = close(fd) == 0 && ok;
  if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
    unlink(tmp.c_str());
    return -1;
  }
  return 0;
}

std::string xml_escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '"') out += "&quot;";
    else out += c;
  }
  return out;
}

// The program as one quoted argument of an Exec line.
std::string exec_quoted(const std::string& program) {
  std::string q = "\"";
  for (char c : program) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') q += "\\\\";  // quoted for Exec, then for the key file
    q += c;
  }
  return q + "\"";
}

// Replaces or adds "key=value" in [section] of a key file's text.
std::string set_key(const std::string& text, const std::string& section, const std::string& key,
                    const std::string& value) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  const std::string header = "[" + section + "]";
  size_t start = lines.size();
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i] == header) start = i;
  if (start == lines.size()) {
    if (!lines.empty() && !lines.back().empty()) lines.push_back("");
    lines.push_back(header);
    lines.push_back(key + "=" + value);
  } else {
    size_t i = start + 1;
    bool done = false;
    for (; i < lines.size() && !(lines[i].size() > 0 && lines[i][0] == '['); ++i) {
      if (lines[i].compare(0, key.size() + 1, key + "=") == 0) {
        lines[i] = key + "=" + value;
        done = true;
      }
    }
    if (!done) lines.insert(lines.begin() + static_cast<long>(i), key + "=" + value);
  }
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

std::string get_key(const std::string& text, const std::string& section, const std::string& key) {
  std::istringstream in(text);
  bool inside = false;
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l[0] == '[') inside = l == "[" + section + "]";
    else if (inside && l.compare(0, key.size() + 1, key + "=") == 0) return l.substr(key.size() + 1);
  }
  return {};
}

// Runs a desktop cache tool when it is installed; its absence or failure only
// leaves the caches to be rebuilt later.
void run_tool(const char* tool, const std::string& arg) {
  std::vector<char*> argv = {const_cast<char*>(tool), const_cast<char*>(arg.c_str()), nullptr};
  pid_t pid = 0;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  if (posix_spawnp(&pid, tool, &fa, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  posix_spawn_file_actions_destroy(&fa);
}

std::string config_folder() {
  const char* xdg = getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') return xdg;
  const char* home = getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.config";
}

}  // namespace

std::string user_data_folder() {
  const char* xdg = getenv("XDG_DATA_HOME");
  if (xdg && *xdg == '/') return xdg;
  const char* home = getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/share";
}

std::string mime_type_for_class(const std::string& class_name) {
  std::string t = "application/x-";
  for (char c : class_name) {
    if (c >= 'A' && c <= 'Z') t += static_cast<char>(c + 32);
    else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+') t += c;
    else t += '-';
  }
  return t;
}

std::string icon_name_for_type(const std::string& type) {
  std::string name = type;
  for (char& c : name)
    if (c == '/') c = '-';
  return name;
}

int register_desktop_file_type(const std::string& extension, const std::string& class_name, int icon_index,
                               const std::string& program) {
  if (extension.size() < 2 || extension[0] != '.' || class_name.empty() || program.empty()) return -1;
  const std::string type = mime_type_for_class(class_name);
  const std::string data = user_data_folder();
  const std::string packages = data + "/mime/packages", apps = data + "/applications";
  if (make_folders(packages) != 0 || make_folders(apps) != 0) return -1;

  std::string pattern = "*" + extension;
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
      "  <mime-type type=\"" + xml_escape(type) + "\">\n"
      "    <comment>" + xml_escape(class_name) + "</comment>\n"
      "    <icon name=\"" + xml_escape(icon_name_for_type(type)) + "\"/>\n"
      "    <glob pattern=\"" + xml_escape(pattern) + "\"/>\n"
      "  </mime-type>\n"
      "</mime-info>\n";
  std::string file_name = type.substr(type.find('/') + 1);
  if (write_text(packages + "/" + file_name + ".xml", xml) != 0) return -1;

  // The .desktop entry lists every type registered so far.
  const std::string desktop_path = apps + "/" + k_desktop_name;
  std::string desktop = read_text(desktop_path);
  std::string types = get_key(desktop, "Desktop Entry", "MimeType");
  if (types.find(type + ";") == std::string::npos) types += type + ";";
  if (desktop.empty()) desktop = "[Desktop Entry]\n";
  desktop = set_key(desktop, "Desktop Entry", "Type", "Application");
  desktop = set_key(desktop, "Desktop Entry", "Name", "Corvane");
  desktop = set_key(desktop, "Desktop Entry", "Comment", "Macintosh disk images and hybrid CD images");
  desktop = set_key(desktop, "Desktop Entry", "Exec", exec_quoted(program) + " %f");
  desktop = set_key(desktop, "Desktop Entry", "Icon", "corvane");
  desktop = set_key(desktop, "Desktop Entry", "Terminal", "false");
  desktop = set_key(desktop, "Desktop Entry", "Categories", "Utility;");
  desktop = set_key(desktop, "Desktop Entry", "MimeType", types);
  if (write_text(desktop_path, desktop) != 0) return -1;

  // Made the default application, as the open command of the type.
  const std::string config = config_folder();
  if (make_folders(config) != 0) return -1;
  const std::string list_path = config + "/mimeapps.list";
  std::string list = set_key(read_text(list_path), "Default Applications", type, std::string(k_desktop_name) + ";");
  if (write_text(list_path, list) != 0) return -1;

  run_tool("update-mime-database", data + "/mime");
  run_tool("update-desktop-database", apps);
  return 0;
}
