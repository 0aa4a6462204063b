// The prompt for a long ISO, HFS or HFS+ name that does not fit its field.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/project.h"
#include "gui/forms/name_checks.h"

// --- truncation of a long ISO, HFS or HFS+ name (template 130) ---------------------------------
// The project's name setters ask through g_ask_long_name(name, limit) when the
// automatic shortening of that kind is off: name is UTF-8, limit counts bytes
// (Mac Roman bytes for HFS).
enum class LongNameKind { iso, hfs, hfsplus };
struct LongNameModel {
  LongNameKind kind = LongNameKind::iso;
  size_t limit = 0;
  std::string original;   // as given
  std::string truncated;  // the proposal, then what was typed
  bool automatic = false;
};
// The proposal keeps an extension of up to 5 bytes (shorten_name) within the limit.
void init_long_name(LongNameKind kind, std::string_view name, size_t limit, LongNameModel& m);
// A click on "Truncate automatically": switches the engine's automatic shortening
// of that kind on (clearing the box again leaves it on).
void long_name_automatic_clicked(LongNameModel& m);
// 0 when the typed name fits, else a text id.
[[nodiscard]] int check_long_name(const LongNameModel& m);
// OK: 1 with name replaced by the typed name, 0 when it does not fit.
[[nodiscard]] int apply_long_name(const LongNameModel& m, std::string& name);
// The whole dialog for the hook: show lets the user edit the model and says
// whether OK was pressed. True with name replaced; false when cancelled.
bool run_long_name_prompt(std::string& name, size_t limit, LongNameKind kind,
                          const std::function<bool(LongNameModel&)>& show);
