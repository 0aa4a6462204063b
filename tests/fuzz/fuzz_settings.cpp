// The settings file as a damaged or hand-edited file may hold it: every
// accessor reads it without fault, and a write over it keeps it readable.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "IO/settings.h"
#include "platform/settings_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string folder;
  if (folder.empty()) {
    char tmpl[] = "/tmp/cvfuzzXXXXXX";
    if (!mkdtemp(tmpl)) return 0;
    folder = tmpl;
    setenv("CORVANE_CONFIG_DIR", folder.c_str(), 1);
    g_settings_root = k_current_user;
  }
  FILE* f = fopen(settings_file_path().c_str(), "wb");
  if (!f) return 0;
  fwrite(data, 1, size, f);
  fclose(f);
  char buf[512];
  read_options();
  read_language_choice();
  read_default_extension(buf);
  read_work_folder(buf);
  read_window_placement();
  store_count_subkeys("HKEY_CURRENT_USER\\Software\\Veltron");
  store_list_values(setting_key_path("MRU1"));
  write_setting_text("Fuzz", "value\n=\\x");
  if (read_setting_text("Fuzz", buf) != buf || std::string(buf) != "value\n=\\x") abort();
  return 0;
}
