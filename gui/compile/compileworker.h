// The compile on its own worker thread: the same compile the console runs
// (its public entry, by project kind), with the progress hooks carried to the
// GUI thread. The state word says idle (1), running (0) or abort asked (-1);
// only one compile runs at a time.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "compiler/commands.h"

struct CompileRequest {
  std::string project_path;
  int mode = 0;  // 0 hybrid project, 2 ISO+ project
  bool hfs_only = false, iso_only = false;
  // Set: the compile the window's dialogs chose (target, kind, options, names);
  // the fields above are then not used.
  std::optional<CompileSettings> settings;
};

// The image the compile writes: the chosen target, else the project path with
// "iso" (or "dmg" for HFS only).
std::string compile_target_path(const CompileRequest& r);
// Starts the worker. false (nothing started) when a compile is not idle.
// on_end runs on the GUI thread once the worker has ended, with its result;
// a failed or aborted compile leaves the target as it was (the image made
// before, or nothing), never a partial image.
bool start_compile(const CompileRequest& r, std::function<void(int result)> on_end);
// Asks the running compile to stop at its next progress report.
void request_compile_abort();
bool compile_idle();
