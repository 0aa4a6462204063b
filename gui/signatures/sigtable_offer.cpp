#include "gui/signatures/sigtable_offer.h"

#include "IO/paths.h"
#include "IO/uitext.h"
#include "platform/files.h"

namespace {

constexpr int k_text_default_row = 6822, k_text_path = 6826;

}  // namespace

std::string installed_signature_table() {
  std::string data = installed_data_folder();
  std::string path = data.empty() ? std::string() : data + "/default.sig";
  return !path.empty() && file_exists(path) ? path : std::string();
}

SignatureOffer make_signature_offer(const std::string& default_table, const std::string& folder) {
  SignatureOffer o;
  if (default_table.empty()) return o;
  o.default_table = default_table;
  o.tables.push_back(default_table);
  o.selected = 0;
  std::vector<FolderEntry> entries;
  if (folder.empty() || list_folder(folder, entries) != 0) return o;
  std::string base = folder.back() == '/' ? folder : folder + "/";
  for (const FolderEntry& e : entries) {
    std::string path = base + e.name;
    if (e.kind == EntryKind::file && wildcard_match("*.sig", e.name.c_str()) && path != default_table)
      o.tables.push_back(path);
  }
  return o;
}

std::string signature_offer_row(const SignatureOffer& o, size_t row) {
  if (row >= o.tables.size()) return {};
  if (o.tables[row] == o.default_table) return ui_text(k_text_default_row);
  size_t slash = o.tables[row].rfind('/');
  return slash == std::string::npos ? o.tables[row] : o.tables[row].substr(slash + 1);
}

std::string signature_offer_path_text(const SignatureOffer& o) {
  std::string path = signature_offer_choice(o);
  return path.empty() ? std::string() : format_text(ui_text(k_text_path).c_str(), path.c_str());
}

std::string signature_offer_choice(const SignatureOffer& o) {
  if (o.selected < 0 || size_t(o.selected) >= o.tables.size()) return {};
  return o.tables[size_t(o.selected)];
}
