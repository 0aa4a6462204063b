// User settings. Each setting is the default value of a key of its own,
// HKEY_CURRENT_USER\Software\Veltron\<product word>\<name>, written as text
// (numbers as decimal text), in the settings store of platform/settings_store.h.
// The GUI program reads them at start-up and saves them at its end; the console
// program only reads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Root hive: 0 until init_settings_root, then k_current_user.
constexpr int k_current_user = 1;
extern int g_settings_root;
// Product word of the keys: "Corvane" (the icon program sets "Facetor").
extern std::string g_settings_product_key;

// The vocabulary: entry 0 is the root "Software\Veltron\", then the setting names.
extern const char* const k_settings_table[];
extern const int k_settings_table_size;

// Option bits of "Options" (g_options) and "CX-Options" (g_preferences).
enum OptionFlags : uint32_t {
  k_option_existing_mask = 0x7,  // what to do when an extracted name exists (2 = ask for a name)
  k_option_shorten_auto = 0x08,
  k_option_shorten_auto_crc = 0x10,
  k_option_hide_toolbar = 0x80,
  k_option_show_hidden = 0x100,
  k_option_delete_unasked = 0x400,
  k_option_default_extension = 0x2000,
};
enum PreferenceFlags : uint32_t {
  k_pref_remember_mode = 0x1,
  k_pref_shorten_names = 0x2,
  k_pref_no_backup = 0x4,
  k_pref_open_root_window = 0x8,
  k_pref_hfsplus_default = 0x10,
  k_pref_mode_mask = 0xC0,  // the remembered working mode, bits 6-7
  k_pref_hfsplus_target = 0x100,
  k_pref_refresh_project = 0x200,
  k_pref_open_journal = 0x400,
};

// Sets the root hive; creates the product key and deletes it again, which
// removes it only when it holds no setting key (not while read-only).
void init_settings_root();
// The console program reads its settings and never writes them: once this is
// set, every save and every key a reader would create is left out, and the
// settings file is never created or replaced.
void set_settings_read_only(bool read_only);

// The key of a setting; "HKEY_CURRENT_USER\Software\Veltron\Corvane\Lang".
std::string setting_key_path(const char* name);
// Opens (creating when missing) the setting's key: its path, or "" when it
// cannot be had (no root hive yet, store not writable).
std::string open_setting_key(const char* name);
int count_key_values(const std::string& key);   // 0 when the key is missing
int count_key_subkeys(const std::string& key);

// Reads the value named value_name of key into out when it fits in limit bytes
// with its terminator (a longer value counts as empty). 0 read (maybe empty),
// -1 key or value missing.
[[nodiscard]] int read_key_value(const std::string& key, const char* value_name, std::string& out, size_t limit);
[[nodiscard]] int write_key_value(const std::string& key, const char* value_name, const std::string& value);

uint32_t read_options();
void save_options(uint32_t flags);
uint32_t read_preference_flags();
void save_preference_flags(uint32_t flags);
// 10000 (French) when "Lang" holds a non-zero number, 0 when zero; an empty
// value keeps the current g_language_offset; no key: 0.
int read_language_choice();
void save_language_choice(int offset);
// "Ext" cut to 4 characters; when empty, "TXT" (stored back). buf: 5 bytes or more.
char* read_default_extension(char* buf);
void save_default_extension(const char* ext);
char* read_log_path(char* buf);  // "Journal", 256 bytes
void save_log_path(const char* path);
// "Reper"; when empty, the documents folder followed by "/". buf: 256 bytes.
char* get_work_folder(char* buf);
void remember_work_folder(const char* path);  // the folder part, through its last "/"
char* read_work_folder(char* buf);            // as stored, 512 bytes, no default
void write_work_folder(const char* folder);
// "DProj" / "DComp"; when empty, the documents folder (no "/"). buf: 256 bytes.
char* get_project_folder(char* buf);
char* get_output_folder(char* buf);
void remember_project_folder(const char* path);
void remember_output_folder(const char* path);
// "Sign" into path_buf (256); the table opened "r+b", or null (no path, or it
// cannot be opened).
FILE* open_signature_table(char* path_buf);
void save_signature_table_path(const char* path);
int read_font_size();  // "Corps", 8 when empty
void save_font_size(int size);
char* read_vlv_layout(char* buf);  // "WinVLV", 256 bytes
void save_vlv_layout(const char* text);
char* read_vlv_folder(char* buf);  // "WReper", 512 bytes
void save_vlv_folder(const char* folder);
char* read_setting_text(const char* name, char* buf);  // 256 bytes, emptied first
void write_setting_text(const char* name, const char* text);
int read_setting_number(const char* name);  // 0 when empty or missing
// A stored number: text that is whole decimal (an optional sign, then digits)
// and lies in low..high, else fallback (a missing or damaged value).
long long parse_setting_number(const std::string& text, long long low, long long high, long long fallback);
void write_setting_number(const char* name, int value);

// Main window placement "Rect": left, top, width, height, left panel width,
// each limited as it is read (panel 0: the left panel is hidden).
struct WindowPlacement {
  int left = 50, top = 50, width = 700, height = 450, panel = 120;
};
WindowPlacement read_window_placement();
// Whether "Rect" holds a placement (none at a first start).
bool window_placement_saved();
void save_window_placement(const WindowPlacement& r);

// Registers a document type: files ending in extension (".cvpr") are of class
// class_name ("Corvane.proj"), shown with icon icon_index and opened by this
// program. 0 success, -1 failure.
[[nodiscard]] int register_file_type(const char* extension, const char* class_name, int icon_index);
// The three types of the file-type dialog: ".cvpr", ".hfs", ".cvso".
[[nodiscard]] int register_project_file_type();
[[nodiscard]] int register_partition_file_type();
[[nodiscard]] int register_isoplus_file_type();
