// What the inclusion and fork-writing tests share: sample Macintosh files, and
// the console's way of answering the inclusion questions.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "IO/ui_services.h"
#include "compiler/additems.h"
#include "compiler/project.h"
#include "macfiles/macfile.h"
#include "support/testkit.h"

namespace testkit {

// A Mac file with random forks of the given sizes (seed and seed + 1).
inline MacFile sample_mac_file(const std::string& name, const char* type, const char* creator, size_t data,
                               size_t rsrc, uint32_t seed, uint32_t create_date = 0, uint32_t modify_date = 0) {
  MacFile f;
  f.name = name;
  std::memcpy(f.type.data(), type, 4);
  std::memcpy(f.creator.data(), creator, 4);
  f.data = random_bytes(data, seed);
  f.resource = random_bytes(rsrc, seed + 1);
  f.create_date = create_date;
  f.modify_date = modify_date;
  return f;
}

// For its lifetime, inclusions run as the console runs them: no questions,
// every encoded file taken as what it is, over-long names cut.
struct ConsoleInclusion {
  ConsoleInclusion() {
    g_command_mode = true;
    set_remembered_inclusion_answers(1);
    g_auto_truncate_iso = g_auto_truncate_hfsplus = g_auto_truncate_hfs = true;
  }
  ~ConsoleInclusion() {
    set_remembered_inclusion_answers(0);
    g_command_mode = false;
  }
  ConsoleInclusion(const ConsoleInclusion&) = delete;
  ConsoleInclusion& operator=(const ConsoleInclusion&) = delete;
};

}  // namespace testkit
