// CUE sheets as any program or hand may have written them: the reader never
// faults, a sheet it accepts is written back byte for byte, and a move keeps
// every line but the INDEX times of the tracks after the first.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "compiler/cuesheet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  CueSheet sheet;
  if (!parse_cue_sheet(text, sheet)) return 0;
  if (write_cue_sheet(sheet) != text) std::abort();
  CueSheet moved = sheet;
  if (!shift_cue_sheet_tracks(moved, 1150)) return 0;
  if (moved.lines.size() != sheet.lines.size()) std::abort();
  CueSheet again;
  if (!parse_cue_sheet(write_cue_sheet(moved), again) || again.lines.size() != sheet.lines.size()) std::abort();
  for (size_t i = 0; i < sheet.lines.size(); ++i) {
    const CueLine &a = sheet.lines[i], &b = again.lines[i];
    if (a.kind != b.kind || a.ending != b.ending) std::abort();
    if (a.kind != CueLine::index_line && a.text != b.text) std::abort();
    if (a.kind == CueLine::index_line && b.frames != a.frames && b.frames != a.frames + 1150) std::abort();
  }
  return 0;
}
