// What the Special, Options and Help commands do to the documents and to the
// system, without the windows: starting the icon program and the file manager,
// the project maintenance commands, the fork swap on the open volume and the
// texts they report with.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "gui/views/file_table.h"

struct SignatureReplace;

// --- starting other programs (platform/programs.h starts them) ------------------------------
constexpr const char* k_icon_program_name = "facetor";

// The folder the icon program is looked for in first: the running program's
// own, unless this is set (the tests point it elsewhere).
extern std::string g_icon_program_folder;
std::string running_program_folder();

// The icon program, found as find_program does from g_icon_program_folder (or
// the program's own folder) and $PATH, started without arguments. 0 started;
// otherwise message holds why not (it was not found, or could not start).
[[nodiscard]] int start_icon_program(std::string& message);

// The folder the desktop's file manager opens on: the open document's folder,
// else the work folder.
std::string file_manager_folder(const std::string& document_path);

// The maker's on-line support page in the interface language.
std::string support_page_address(int language_offset);

// --- project maintenance ----------------------------------------------------------------------
// Hides the extension in the Finder of every item in the HFS view, as one
// all-or-nothing edit. The number of records changed, or -1 (nothing written).
[[nodiscard]] int hide_hfs_extensions(FILE* project);

// The refresh scan of the whole project into a temporary file (already
// removed from its folder, so that it goes with its last close), rewound. Null
// when no temporary file can be made. project_path: the project's own file,
// which the scan leaves out (with the images compiled beside it).
FILE* scan_changes_to_temporary(FILE* project, const std::string& project_path);
// The refresh applied at once, as one edit. The number of changes, or -1.
[[nodiscard]] int rebuild_project(FILE* project, const std::string& project_path);

// The .DS_Store command needs a project named for the CD: true while the HFS
// volume name is still the default "Untitled" (in either language).
bool project_needs_label(FILE* project);

// The report of a signature replace: "Signature %s\nreplaced %d times." or,
// when no file had it (found 0), "Signature %s\nnot found." with the signature
// searched for. found -1: as many as were replaced.
std::string signature_replace_report(const SignatureReplace& values, int count, int found = -1);

// The image an HFS partition is taken from: 0 when it may be used, else the
// text id of the refusal (a path too long, or the image open in Partition Mode).
[[nodiscard]] int check_dehybridise_target(const std::string& path, const std::string& open_image);
// What the removal of the HFS partition reports, by its result: done, the
// image unopened, no partition docked after its ISO volume, or a compiled
// hybrid whose partition shares the files' data.
std::string dehybridise_report(int result, const std::string& path);

// --- the open volume -------------------------------------------------------------------------
struct ForkSwapOutcome {
  int swapped = 0;
  int refused = 0;           // files whose forks could not change places (each reported)
  bool read_only = false;    // nothing was tried: the volume cannot be written
  bool declined = false;     // nothing was tried: the user answered no
};
// Asks once, then swaps data and resource fork of every file among entries
// (folders are left alone) in folder of the open volume; the volume is written
// back only when a swap was made. A refusal is reported for its file and the
// others go on.
ForkSwapOutcome swap_forks_of(const std::vector<FileTableEntry>& entries, uint32_t folder);
