// The signature search and replace form's values and the project rewrite.
#pragma once

#include <cstdio>
#include <string>

// The form's result: four 4-character slots, type then creator of the
// signature looked for, then of its replacement, each padded with blanks, and
// a terminator after the 16 characters (17 bytes in all).
struct SignatureReplace {
  char slots[17] = {};
  const char* original() const { return slots; }      // 8 characters: type + creator
  const char* replacement() const { return slots + 8; }
};

// "Replace": the four edit texts (each cut to 4 and padded with blanks) into
// the slots. -1 (do it), or 0 when the original signature is empty (nothing to
// look for; the caller beeps).
int fill_signature_replace(SignatureReplace& out, const std::string& orig_type, const std::string& orig_creator,
                           const std::string& new_type, const std::string& new_creator);

// Every file record of the open project whose type + creator is the original
// becomes the replacement, as one all-or-nothing edit. The number of records
// changed, or -1 when the project could not be written (left as it was).
int replace_project_signature(FILE* project, const SignatureReplace& values);
