#include "IO/settings.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "IO/shellutil.h"
#include "IO/uitext.h"
#include "platform/files.h"
#include "platform/filetypes.h"
#include "platform/settings_store.h"

int g_settings_root = 0;
std::string g_settings_product_key = "Corvane";

const char* const k_settings_table[] = {
    "Software\\Veltron\\", "Rect", "Mode", "Options", "CX-Options", "BList", "Sign", "Buffsz", "Lang",
    "Ext", "MRU1", "MRU2", "MRU3", "Joker", "Col", "Reper", "Corps", "DProj", "DComp", "UAM", "WinVLV",
    "WReper", "Ortho", "Journal"};
const int k_settings_table_size = sizeof k_settings_table / sizeof k_settings_table[0];

namespace {

std::string product_key() {
  return std::string("HKEY_CURRENT_USER\\") + k_settings_table[0] + g_settings_product_key;
}

// The setting's default value as text: "" when missing, too long or unreadable.
std::string read_default(const char* name, size_t limit, bool* key_ok = nullptr) {
  std::string key = open_setting_key(name);
  if (key_ok) *key_ok = !key.empty();
  std::string v;
  if (key.empty() || read_key_value(key, "", v, limit) != 0) return {};
  return v;
}

void write_default(const char* name, const std::string& value) {
  std::string key = open_setting_key(name);
  // Settings are kept as well as the store can: a value it cannot write (the
  // console's store refuses every change by design, a full disk) leaves the
  // one stored before, and the program goes on with the value it holds.
  if (!key.empty()) (void)write_key_value(key, "", value);
}

// Copies at most size - 1 bytes of s into buf, never cutting a UTF-8 character.
char* copy_to(const std::string& s, char* buf, size_t size) {
  size_t n = std::min(s.size(), size - 1);
  while (n > 0 && n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  memcpy(buf, s.data(), n);
  buf[n] = '\0';
  return buf;
}

}  // namespace

long long parse_setting_number(const std::string& text, long long low, long long high, long long fallback) {
  size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0;
  if (text.size() <= i || text.size() > 20 || text.find_first_not_of("0123456789", i) != std::string::npos)
    return fallback;
  errno = 0;
  long long v = strtoll(text.c_str(), nullptr, 10);
  return errno == 0 && v >= low && v <= high ? v : fallback;
}

namespace {

// Decimal text as the registry readers take it: optional sign, digits, the rest ignored.
long long number_of(const std::string& s) { return strtoll(s.c_str(), nullptr, 10); }

// A damaged flag word (not a whole number, or out of the 32 bits) is no word at all.
uint32_t read_flags(const char* name) {
  return static_cast<uint32_t>(parse_setting_number(read_default(name, 12), INT32_MIN, UINT32_MAX, 0));
}

void save_flags(const char* name, uint32_t flags) {
  write_default(name, std::to_string(static_cast<int32_t>(flags)));
}

// Folder part of a path, through its last "/" (the whole path when it has none).
std::string folder_of(const char* path) {
  std::string p = path ? path : "";
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(0, slash + 1);
}

}  // namespace

void init_settings_root() {
  g_settings_root = k_current_user;
  if (store_read_only()) return;
  // The product's key is made sure of, then let go when empty; either step may
  // fail without harm, since every write makes the key it needs.
  (void)store_create_key(product_key());
  (void)store_delete_key(product_key());  // refused while it holds setting keys
}

void set_settings_read_only(bool read_only) { store_set_read_only(read_only); }

std::string setting_key_path(const char* name) { return product_key() + "\\" + (name ? name : ""); }

std::string open_setting_key(const char* name) {
  if (g_settings_root == 0 || !name || !*name) return {};
  std::string key = setting_key_path(name);
  if (store_read_only()) return key;  // read where it is, nothing made
  if (store_create_key(key) != 0) return {};
  return key;
}

int count_key_values(const std::string& key) {
  int n = store_count_values(key);
  return n < 0 ? 0 : n;
}

int count_key_subkeys(const std::string& key) {
  int n = store_count_subkeys(key);
  return n < 0 ? 0 : n;
}

int read_key_value(const std::string& key, const char* value_name, std::string& out, size_t limit) {
  out.clear();
  std::string v;
  if (store_read_value(key, value_name ? value_name : "", v) != 0) return -1;
  if (v.size() + 1 <= limit) out = v;  // a value longer than the reader's room is not read
  return 0;
}

int write_key_value(const std::string& key, const char* value_name, const std::string& value) {
  return store_write_value(key, value_name ? value_name : "", value);
}

uint32_t read_options() { return read_flags("Options"); }
void save_options(uint32_t flags) { save_flags("Options", flags); }
uint32_t read_preference_flags() { return read_flags("CX-Options"); }
void save_preference_flags(uint32_t flags) { save_flags("CX-Options", flags); }

int read_language_choice() {
  bool key_ok = false;
  std::string v = read_default("Lang", 8, &key_ok);
  if (!key_ok) return 0;
  if (v.empty()) return g_language_offset;
  return number_of(v) != 0 ? 10000 : 0;
}

void save_language_choice(int offset) { write_default("Lang", offset ? "1" : "0"); }

char* read_default_extension(char* buf) {
  std::string v = read_default("Ext", 64);
  if (v.empty()) {
    v = "TXT";
    write_default("Ext", v);
  }
  return copy_to(v, buf, 5);
}

void save_default_extension(const char* ext) { write_default("Ext", ext ? ext : ""); }

char* read_log_path(char* buf) { return copy_to(read_default("Journal", 256), buf, 256); }
void save_log_path(const char* path) { write_default("Journal", path ? path : ""); }

char* get_work_folder(char* buf) {
  std::string v = read_default("Reper", 256);
  if (v.empty()) {
    v = documents_folder();
    if (v != "/") v += "/";
  }
  return copy_to(v, buf, 256);
}

void remember_work_folder(const char* path) { write_default("Reper", folder_of(path)); }

char* read_work_folder(char* buf) {
  buf[0] = '\0';
  return copy_to(read_default("Reper", 512), buf, 512);
}

void write_work_folder(const char* folder) { write_default("Reper", folder ? folder : ""); }

char* get_project_folder(char* buf) {
  std::string v = read_default("DProj", 256);
  return copy_to(v.empty() ? documents_folder() : v, buf, 256);
}

char* get_output_folder(char* buf) {
  std::string v = read_default("DComp", 256);
  return copy_to(v.empty() ? documents_folder() : v, buf, 256);
}

void remember_project_folder(const char* path) { write_default("DProj", folder_of(path)); }
void remember_output_folder(const char* path) { write_default("DComp", folder_of(path)); }

FILE* open_signature_table(char* path_buf) {
  bool key_ok = false;
  std::string v = read_default("Sign", 256, &key_ok);
  if (!key_ok) return nullptr;
  copy_to(v, path_buf, 256);
  if (v.empty()) return nullptr;
  // Only a regular file: a FIFO or a device named there would hold the program.
  int reason = 0;
  int fd = open_regular_file(v, reason, true);
  if (fd < 0) return nullptr;
  FILE* f = fdopen(fd, "r+b");
  if (!f) close(fd);
  return f;
}

void save_signature_table_path(const char* path) { write_default("Sign", path ? path : ""); }

int read_font_size() {
  std::string v = read_default("Corps", 12);
  return v.empty() ? 8 : static_cast<int>(number_of(v));
}

void save_font_size(int size) { write_default("Corps", std::to_string(size)); }

char* read_vlv_layout(char* buf) { return copy_to(read_default("WinVLV", 256), buf, 256); }
void save_vlv_layout(const char* text) { write_default("WinVLV", text ? text : ""); }

char* read_vlv_folder(char* buf) {
  buf[0] = '\0';
  return copy_to(read_default("WReper", 512), buf, 512);
}

void save_vlv_folder(const char* folder) { write_default("WReper", folder ? folder : ""); }

char* read_setting_text(const char* name, char* buf) {
  buf[0] = '\0';
  return copy_to(read_default(name, 256), buf, 256);
}

void write_setting_text(const char* name, const char* text) { write_default(name, text ? text : ""); }

int read_setting_number(const char* name) {
  std::string v = read_default(name, 256);
  return v.empty() ? 0 : static_cast<int>(number_of(v));
}

void write_setting_number(const char* name, int value) { write_default(name, std::to_string(value)); }

WindowPlacement read_window_placement() {
  WindowPlacement r;
  std::string v = read_default("Rect", 128);
  if (!v.empty()) {
    int f[5] = {r.left, r.top, r.width, r.height, r.panel};
    const char* p = v.c_str();
    for (int i = 0; i < 5 && *p; ++i) {
      char* end = nullptr;
      long n = strtol(p, &end, 10);
      if (end == p) break;
      f[i] = static_cast<int>(n);
      p = *end == ',' ? end + 1 : end;
    }
    r = {f[0], f[1], f[2], f[3], f[4]};
  }
  if (r.left < 1 || r.left > 2500) r.left = 50;
  if (r.top < 1 || r.top > 2000) r.top = 50;
  if (r.width < 0 || r.width > 2000) r.width = 750;
  if (r.height < 0 || r.height > 2000) r.height = 500;
  if (r.panel < 0 || r.panel > r.width / 2) r.panel = 120;
  return r;
}

bool window_placement_saved() { return !read_default("Rect", 128).empty(); }

void save_window_placement(const WindowPlacement& r) {
  write_default("Rect", std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.width) +
                            "," + std::to_string(r.height) + "," + std::to_string(r.panel));
}

int register_file_type(const char* extension, const char* class_name, int icon_index) {
  if (!extension || !class_name) return -1;
  return register_desktop_file_type(extension, class_name, icon_index, program_path());
}

int register_project_file_type() { return register_file_type(".cvpr", "Corvane.proj", 2); }
int register_partition_file_type() { return register_file_type(".hfs", "Corvane.part", 3); }
int register_isoplus_file_type() { return register_file_type(".cvso", "Corvane.isop", 4); }
