// The signature file reader and the section-keeping rewrite over arbitrary
// bytes: every row keeps its field limits, the rows read merge back into the
// very same bytes, and a rewrite of one section with rows changed reads back
// those rows, the other section as it was.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "macfiles/sigfile.h"

namespace {

bool same_rows(const std::vector<SigRow>& a, const std::vector<SigRow>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].extension != b[i].extension || a[i].type != b[i].type || a[i].creator != b[i].creator ||
        a[i].comment != b[i].comment)
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  int language = (data[0] & 1) ? 10000 : 0;
  int other = language ? 0 : 10000;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<SigRow> rows = read_sig_rows(text, language);
  for (const SigRow& r : rows)
    if (r.extension.size() > 4 || r.extension.find(',') != std::string::npos || r.type.size() > 4 ||
        r.creator.size() > 4 || r.comment.size() > 64)
      std::abort();
  std::vector<SigRow> others = read_sig_rows(text, other);
  if (merge_sig_text(text, rows, language) != text) std::abort();
  // Rows reversed, one gone, one added.
  std::vector<SigRow> changed(rows.rbegin(), rows.rend());
  if (!changed.empty()) changed.pop_back();
  changed.push_back(make_sig_row("new", "TEXT", "ttxt", "added"));
  std::string merged = merge_sig_text(text, changed, language);
  if (!same_rows(read_sig_rows(merged, language), changed)) std::abort();
  // The other section is only kept when the file has both (a line beginning "#[1]").
  bool both = text.rfind("#[1]", 0) == 0 || text.find("\n#[1]") != std::string::npos;
  if (both && !same_rows(read_sig_rows(merged, other), others)) std::abort();
  return 0;
}
