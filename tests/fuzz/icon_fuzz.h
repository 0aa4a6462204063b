// The icon fuzz targets share one family, emptied before each run: making a
// new one each time (its pasteboard is four large pictures) would cost more
// than the reading that is fuzzed.
#pragma once

#include <string>

#include "iconasm/core/icon_family.h"

inline IconFamily& empty_family(int which = 0) {
  static IconFamily families[2];
  IconFamily& f = families[which & 1];
  g_icon_message = [](const std::string&) {};
  clear_all_slots(f);
  bool used = false;
  for (const PasteboardCursor& c : f.pasteboard) used |= c.count != 0;
  if (used) reset_pasteboard(f);
  f.report = {};
  return f;
}
