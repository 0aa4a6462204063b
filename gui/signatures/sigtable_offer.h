// The signature table offered at the program's first start (while the setting
// "Sign" has never been written): the table of common Mac types and creators
// installed with the program, first and chosen, then the ".sig" files of the
// current folder; another file may be browsed to, or none taken.
#pragma once

#include <string>
#include <vector>

struct SignatureOffer {
  std::string default_table;        // the installed table, "" when there is none
  std::vector<std::string> tables;  // full paths, the installed table first
  int selected = -1;                // row of tables, -1 for none
};

// The installed table (<data>/default.sig), "" when the program is not installed.
std::string installed_signature_table();
// What the offer lists. Nothing (tables empty) when no table is installed:
// then nothing is offered and the setting stays unwritten.
SignatureOffer make_signature_offer(const std::string& default_table, const std::string& folder);
// A row of the list: the installed table says so; the others show their name.
std::string signature_offer_row(const SignatureOffer& o, size_t row);
// The line under the list: where the selected table lies ("" for none).
std::string signature_offer_path_text(const SignatureOffer& o);
// The table the OK button takes: the selected row, "" for none.
std::string signature_offer_choice(const SignatureOffer& o);
