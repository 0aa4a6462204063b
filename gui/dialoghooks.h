// The dialogs that the engine's user-interface bodies open: the forms install
// them when the dialog commands are registered. Until then (or in a program
// without windows) the bodies answer as the console does. Each runs on the
// GUI thread; the bodies carry the call there.
#pragma once

#include <cstddef>
#include <string>

struct HfsTruncationPrompt;
struct ProjectRecord;

// The HFS name truncation prompt: the user fills p; false when cancelled.
extern bool (*g_hfs_truncation_form)(HfsTruncationPrompt& p);
// The PC name of a copy to the PC (the Macintosh name offered): true with name set.
extern bool (*g_pc_name_form)(std::string& name);
// The property dialog of one project item on a copy of its record: its result
// (0 nothing changed or cancelled, 1 names or signature, -1/-2 flags).
extern int (*g_item_properties_form)(ProjectRecord& record, bool isoplus);
