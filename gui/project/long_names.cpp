#include "gui/project/long_names.h"

#include <sys/statvfs.h>
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "IO/charsets.h"
#include "IO/prompts.h"
#include "IO/strlib.h"
#include "IO/uitext.h"
#include "IO/unicode.h"
#include "IO/version.h"
#include "hfs/btree.h"
#include "hfs/voledit.h"
#include "hfs/volume.h"
#include "macfiles/aliasres.h"
#include "macfiles/signatures.h"

// --- long names -------------------------------------------------------------------------------------

namespace {
size_t long_name_length(LongNameKind kind, std::string_view text) {
  return kind == LongNameKind::hfs ? utf8_to_macroman(text).size() : text.size();
}
}  // namespace

void init_long_name(LongNameKind kind, std::string_view name, size_t limit, LongNameModel& m) {
  m = LongNameModel{};
  m.kind = kind;
  m.limit = limit;
  m.original = std::string(name);
  size_t cut = limit;
  do {
    m.truncated = shorten_name(name, cut);
  } while (cut-- > 0 && long_name_length(kind, m.truncated) > limit);
}

void long_name_automatic_clicked(LongNameModel& m) {
  m.automatic = !m.automatic;
  if (m.kind == LongNameKind::iso) g_auto_truncate_iso = true;
  else if (m.kind == LongNameKind::hfs) g_auto_truncate_hfs = true;
  else g_auto_truncate_hfsplus = true;
}

int check_long_name(const LongNameModel& m) {
  if (m.truncated.empty()) return k_text_name_empty;
  if (!is_valid_utf8(m.truncated) || long_name_length(m.kind, m.truncated) > m.limit) return k_text_name_too_long;
  return 0;
}

int apply_long_name(const LongNameModel& m, std::string& name) {
  if (check_long_name(m) != 0) return 0;
  name = m.truncated;
  return 1;
}

bool run_long_name_prompt(std::string& name, size_t limit, LongNameKind kind,
                          const std::function<bool(LongNameModel&)>& show) {
  LongNameModel m;
  init_long_name(kind, name, limit, m);
  return show && show(m) && apply_long_name(m, name) == 1;
}
