#include "IO/uitext.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

int g_language_offset = 0;

namespace {

struct TextEntry {
  int id;
  const char* english;
  const char* french;
};

// Each subsystem keeps its own texts; the table is their union.
const TextEntry k_texts[] = {
#include "IO/texts.inc"
#include "IO/texts_files.inc"
#include "IO/texts_media.inc"
#include "hfs/texts.inc"
#include "hfs/texts_edit.inc"
#include "macfiles/texts.inc"
#include "macfiles/texts_forks.inc"
#include "compiler/texts.inc"
#include "compiler/texts_items.inc"
#include "compiler/texts_image.inc"
#include "compiler/texts_refresh.inc"
#include "cli/texts.inc"
};

const TextEntry* find_text(int id) {
  for (const TextEntry& e : k_texts)
    if (e.id == id) return &e;
  return nullptr;
}

const char* text_for(int id, int language_offset) {
  const TextEntry* e = find_text(id);
  if (!e) return nullptr;
  const char* t = language_offset == 10000 ? e->french : e->english;
  return t && *t ? t : nullptr;
}

}  // namespace

char* load_string(int id, char* buf) {
  const char* t = text_for(id, g_language_offset);
  if (!t) {
    std::fprintf(stderr, "missing text %d\n", id + g_language_offset);
    return buf;
  }
  std::snprintf(buf, k_text_size, "%s", t);
  return buf;
}

std::string ui_text(int id) {
  const char* t = text_for(id, g_language_offset);
  return t ? std::string(t) : std::string();
}

bool has_ui_text(int id, int language_offset) { return text_for(id, language_offset) != nullptr; }

std::string format_text(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  std::string out;
  if (n > 0) {
    out.resize(size_t(n));
    std::vsnprintf(out.data(), size_t(n) + 1, format, ap2);
  }
  va_end(ap2);
  return out;
}
