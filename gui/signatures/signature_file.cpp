#include "gui/signatures/signature_file.h"

#include <cstdio>

#include "IO/settings.h"
#include "IO/uitext.h"
#include "macfiles/signatures.h"

namespace {
constexpr int k_text_empty_key = 1058;
}  // namespace

bool is_full_signature_path(std::string_view value) { return !value.empty() && value[0] == '/'; }

void init_signature_file(SignatureFileModel& m) {
  m = SignatureFileModel{};
  char path[256] = {};
  FILE* table = open_signature_table(path);
  if (table) std::fclose(table);
  m.key_path = open_setting_key("Sign");
  m.key_ok = !m.key_path.empty();
  m.chosen = path;
  m.current = is_full_signature_path(m.chosen) ? m.chosen : ui_text(k_text_empty_key);
}

int apply_signature_file(SignatureFileModel& m) {
  if (!m.key_ok || m.chosen == m.current || m.chosen.empty() || m.chosen.size() > 255) return 0;
  save_signature_table_path(m.chosen.c_str());
  (void)load_signature_table();  // unreadable: the table loaded before stays in use
  m.current = m.chosen;
  return 1;
}
