// The Signature File dialog's model: the signature table's file, as the
// setting keeps it, and the one chosen.
#pragma once

#include <string>
#include <string_view>

struct SignatureFileModel {
  bool key_ok = false;        // false: the dialog ends at once with 0
  std::string key_path;       // where the setting lives
  std::string current;        // the stored value, or "Empty registry key"
  std::string chosen;         // the file shown (stored value, or the one browsed to)
};
bool is_full_signature_path(std::string_view value);
void init_signature_file(SignatureFileModel& m);
// OK: a chosen file that differs from the stored one is stored and the
// signature table reloaded: 1; otherwise 0.
int apply_signature_file(SignatureFileModel& m);
