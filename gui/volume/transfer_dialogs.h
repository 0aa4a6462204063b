// The two small dialogs of a copy from the volume to the PC: the destination
// folder ("Select the Target Folder") and the long path prompt. What they
// propose, what they accept.
#pragma once

#include <string>

// The destination-path buffer: the folder the last copy to the PC went to
// (ending in "/"), empty before the first one.
extern std::string g_destination_path;

// The folder the destination dialog proposes: the buffer, or when it is empty
// the work folder ("Reper").
std::string destination_proposal();
// "Copy Now" with the typed folder: 0 when it is a folder (the buffer then
// holds it, ending in "/"); otherwise message says why and the dialog stays.
int accept_destination(const std::string& typed, std::string& message);

// The long path prompt's four parts (drive is empty on this system; folder
// ends in "/"; the extension keeps its dot).
struct LongPathModel {
  std::string drive, folder, base, extension;
};
// The accept button is enabled while the parts fit (long_path_fits) and the
// base name is neither empty nor holds a "/".
bool long_path_acceptable(const LongPathModel& m);
// The message shown under the fields while the typed name cannot be accepted
// ("" when it can, or when only its length is at fault).
std::string long_path_problem(const LongPathModel& m);
// Another folder chosen through the browser: it replaces the folder part.
void long_path_folder_chosen(LongPathModel& m, const std::string& folder);
