#include "iconasm/core/icon_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "IO/settings.h"
#include "IO/uitext.h"
#include "iconasm/core/icns.h"
#include "iconasm/core/icon_resources.h"
#include "iconasm/core/icon_texts.h"
#include "iconasm/core/pictures.h"
#include "iconasm/core/winicons.h"
#include "macfiles/applesingle.h"
#include "macfiles/macbinary.h"
#include "platform/files.h"
#include "platform/replacefile.h"
#include "platform/settings_store.h"

namespace {

const char* const k_extensions[] = {
    ".ico", ".bmp", ".icns", ".icn#", ".icl8", ".icl4", ".icm#", ".icm8", ".icm4", ".ics#",
    ".ics8", ".ics4", ".ich#", ".ich8", ".ich4", ".ict8", ".ict4", ".im32", ".is32", ".il32",
    ".ih32", ".it32", ".m8mk", ".s8mk", ".l8mk", ".h8mk", ".t8mk", ".jpg", ".jpeg"};
const int k_extension_kinds[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 16, 17,
                                 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 28};
// Kinds 3-27 as element types.
const char* const k_kind_elements[] = {
    "ICN#", "icl8", "icl4", "icm#", "icm8", "icm4", "ics#", "ics8", "ics4", "ich#", "ich8",
    "ich4", nullptr, "ict8", "ict4", "im32", "is32", "il32", "ih32", "it32", "m8mk", "s8mk",
    "l8mk", "h8mk", "t8mk"};

bool read_whole(const std::string& path, std::vector<uint8_t>& out, bool& too_large) {
  too_large = false;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  if (st.st_size > k_max_icon_file) {
    ::close(fd);
    too_large = true;
    return false;
  }
  out.resize(size_t(st.st_size));
  int64_t got = read_full(fd, out.data(), out.size());
  ::close(fd);
  out.resize(got < 0 ? 0 : size_t(got));
  return true;
}

std::string recent_key() { return open_setting_key("MRU1"); }

}  // namespace

int detect_icon_kind(std::span<const uint8_t> head, int64_t size) {
  if (head.size() >= 4 && std::memcmp(head.data(), "icns", 4) == 0) return k_kind_icns;
  if (head.size() >= 26 && is_applesingle_header(head)) return k_kind_applesingle;
  if (head.size() >= 26 && is_appledouble_header(head)) return k_kind_appledouble;
  if (head.size() >= 128 && is_macbinary_header(head.data(), size)) return k_kind_macbinary;
  if (head.size() >= 2 && head[0] == 'M' && head[1] == 'Z') return k_kind_exe;
  // Windows pictures carry their own marks too.
  if (head.size() >= 6 && head[0] == 0 && head[1] == 0 && head[2] == 1 && head[3] == 0 && (head[4] | head[5]))
    return k_kind_ico;
  if (head.size() >= 2 && head[0] == 'B' && head[1] == 'M') return k_kind_bmp;
  if (is_jpeg_data(head)) return k_kind_jpeg;
  if (is_png_data(head)) return k_kind_png;
  return k_kind_unknown;
}

int detect_icon_file_kind(const std::string& path) {
  FILE* fp = std::fopen(path.c_str(), "rb");
  if (!fp) return k_kind_unknown;
  uint8_t head[128];
  size_t n = std::fread(head, 1, sizeof head, fp);
  std::fseek(fp, 0, SEEK_END);
  long size = std::ftell(fp);
  std::fclose(fp);
  return detect_icon_kind(std::span<const uint8_t>(head, n), size);
}

int icon_kind_by_extension(const std::string& path) {
  size_t dot = path.rfind('.');
  size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return k_kind_unknown;
  std::string ext = path.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  for (size_t i = 0; i < std::size(k_extensions); ++i)
    if (ext.compare(0, std::strlen(k_extensions[i]), k_extensions[i]) == 0) return k_extension_kinds[i];
  return k_kind_unknown;
}

int element_index_of_kind(int kind) {
  if (kind < 3 || kind > 27 || !k_kind_elements[kind - 3]) return -1;
  return icon_element_index(reinterpret_cast<const uint8_t*>(k_kind_elements[kind - 3]));
}

int open_icon_file(IconFamily& f, const std::string& path) {
  std::vector<uint8_t> bytes;
  bool too_large = false;
  if (!read_whole(path, bytes, too_large)) {
    icon_message(icon_text(too_large ? k_txt_too_large : k_txt_open_error, path));
    return k_kind_unknown;
  }
  int kind = detect_icon_kind(std::span<const uint8_t>(bytes.data(), std::min<size_t>(bytes.size(), 128)),
                              int64_t(bytes.size()));
  if (kind == k_kind_unknown) kind = icon_kind_by_extension(path);
  f.report = {};
  // Each reader puts what it met into f.report, said below in one message:
  // their codes add nothing to it.
  switch (kind) {
    case k_kind_icns:
      if (bytes.size() < 8) f.report.frame_damaged = true;
      else (void)read_icns_elements(f, bytes, 0, bytes.size());
      break;
    case k_kind_applesingle:
    case k_kind_appledouble: (void)read_applesingle_icons(f, bytes, path); break;
    case k_kind_macbinary: (void)read_macbinary_icons(f, bytes, path); break;
    case k_kind_exe: (void)read_exe_icons(f, bytes, path); break;
    case k_kind_ico: (void)read_ico_data(f, bytes, path); break;
    case k_kind_bmp: (void)read_bmp_data(f, bytes, path); break;
    case k_kind_jpeg: (void)read_jpeg_data(f, bytes, path); break;
    case k_kind_png: (void)read_png_data(f, bytes, path); break;
    case k_kind_unknown: icon_message(icon_text(k_txt_unsupported, path)); break;
    default:
      if (read_single_element_file(f, element_index_of_kind(kind), bytes) != 0) f.report.frame_damaged = true;
      break;
  }
  // Whatever the read met, in one message.
  std::string said = read_report_text(f.report, path);
  if (!said.empty()) icon_message(said);
  add_recent_file(path);
  return kind;
}

std::string save_target(const std::string& chosen, const std::string& default_ext, const std::string& appended) {
  if (chosen.empty()) return {};
  std::string path = chosen;
  size_t slash = path.rfind('/'), dot = path.rfind('.');
  bool has_ext = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1) && dot + 1 < path.size();
  if (!has_ext) path += (path.back() == '.' ? "" : ".") + default_ext;
  return path + appended;
}

int write_icon_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  ReplacementFile r;
  int err = 0;
  if (begin_replacement(path, r) != 0) {
    err = errno;
  } else {
    if (write_full(r.fd, bytes.data(), bytes.size()) != 0) err = errno ? errno : EIO;
    if (!err && ::fsync(r.fd) != 0) err = errno;
    if (err) abandon_replacement(r);
    else if (commit_replacement(r) != 0) err = errno;
  }
  if (err) icon_message(format_text(ui_text(k_txt_write_failed).c_str(), path.c_str(), std::strerror(err)));
  return err;
}

std::vector<std::string> read_recent_files() {
  std::vector<std::string> out;
  std::string key = recent_key();
  if (key.empty()) return out;
  for (auto& [name, value] : store_list_values(key))
    if (!value.empty() && out.size() < 5) out.push_back(value);
  return out;
}

void add_recent_file(const std::string& path) {
  std::string key = recent_key();
  if (key.empty()) return;
  std::vector<std::pair<std::string, std::string>> values = store_list_values(key);
  if (values.size() > 6) values.resize(6);
  std::vector<std::string> names, paths;
  for (size_t i = 0; i < 5; ++i) {
    names.push_back(i < values.size() && !values[i].first.empty() ? values[i].first : std::to_string(i + 1));
    paths.push_back(i < values.size() ? values[i].second : std::string());
  }
  paths.erase(std::remove(paths.begin(), paths.end(), path), paths.end());
  paths.insert(paths.begin(), path);
  paths.resize(5);
  // The list is a convenience: one that cannot be stored is shown this once.
  for (size_t i = 0; i < 5; ++i) (void)store_write_value(key, names[i], paths[i]);
}

void init_icon_settings() {
  g_settings_product_key = "Facetor";
  init_settings_root();
}
