// The signature search and replace form's values and the project rewrite.
#pragma once

#include <cstdio>
#include <functional>
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
[[nodiscard]] int replace_project_signature(FILE* project, const SignatureReplace& values);

// The generic signature: what the signature table gives a file it cannot type
// (its default row's signature; "TEXT????" without a table).
std::string generic_signature();
// The signature looked for is the generic one: the files that carry it are of
// an undetermined type and are reviewed one by one instead of all replaced.
bool looks_for_generic_signature(const SignatureReplace& values);

// The review of the files of the generic signature, in file order: ask(signature,
// proposal, name) shows the signature editing form (template 119) on a copy of
// the file's signature, its new halves starting from the proposal (the form's
// replacement, none when blank), and answers 1 Change, 2 Change All, 0 Ignore,
// -1 Ignore All. Change All gives the halves it changed to every later file
// without asking; Ignore All asks no more. The changes are written at the end
// as one all-or-nothing edit. found: the files offered or changed; changed: the
// records written (-1 when the project could not be written, left as it was).
struct SignatureReview {
  int found = 0, changed = 0;
};
using SignatureAsk = std::function<int(char signature[8], const char* proposal, const std::string& name)>;
SignatureReview review_generic_signatures(FILE* project, const SignatureReplace& values, const SignatureAsk& ask);
