#include "gui/desktop/uri_lists.h"

#include <unistd.h>

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool same_letters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Calls take(line) for each line, its CR LF or LF taken off.
template <class F>
void for_each_line(std::string_view text, F take) {
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    take(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

}  // namespace

std::string file_uri_path(std::string_view uri, std::string_view host_name) {
  while (!uri.empty() && (uri.front() == ' ' || uri.front() == '\t')) uri.remove_prefix(1);
  while (!uri.empty() && (uri.back() == ' ' || uri.back() == '\t' || uri.back() == '\0')) uri.remove_suffix(1);
  constexpr std::string_view scheme = "file:";
  if (uri.size() < scheme.size() || !same_letters(uri.substr(0, scheme.size()), scheme)) return std::string();
  uri.remove_prefix(scheme.size());
  if (uri.substr(0, 2) == "//") {
    uri.remove_prefix(2);
    size_t slash = uri.find('/');
    if (slash == std::string_view::npos) return std::string();
    std::string_view host = uri.substr(0, slash);
    if (!host.empty() && !same_letters(host, "localhost") && !(!host_name.empty() && same_letters(host, host_name)))
      return std::string();  // a file of another machine
    uri.remove_prefix(slash);
  }
  if (uri.empty() || uri.front() != '/') return std::string();
  // A "?" or "#" left unescaped is taken as the name's own, as it was meant.
  std::string path;
  path.reserve(uri.size());
  for (size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] != '%') {
      path += uri[i];
      continue;
    }
    int hi = i + 2 < uri.size() ? hex_value(uri[i + 1]) : -1, lo = i + 2 < uri.size() ? hex_value(uri[i + 2]) : -1;
    if (hi < 0 || lo < 0) return std::string();
    char c = char(hi * 16 + lo);
    if (c == '\0' || c == '/') return std::string();  // no name holds them
    path += c;
    i += 2;
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();  // a folder's URI may end with "/"
  return path;
}

std::vector<std::string> uri_list_paths(std::string_view text, std::string_view host_name) {
  std::vector<std::string> paths;
  for_each_line(text, [&](std::string_view line) {
    if (line.empty() || line.front() == '#') return;
    std::string p = file_uri_path(line, host_name);
    if (!p.empty()) paths.push_back(std::move(p));
  });
  return paths;
}

std::vector<std::string> copied_files_paths(std::string_view text, std::string_view host_name, bool* cut) {
  std::vector<std::string> paths;
  bool first = true;
  for_each_line(text, [&](std::string_view line) {
    if (first) {
      first = false;
      if (cut) *cut = line == "cut";
      if (line == "copy" || line == "cut") return;  // a list without its word is taken as it is
    }
    std::string p = file_uri_path(line, host_name);
    if (!p.empty()) paths.push_back(std::move(p));
  });
  return paths;
}

std::string local_host_name() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}
