// The dump window's small dialogs: the sector to show, the string to search
// for, the font size of the dump, and the data segment to save or print.
#pragma once

#include <wx/string.h>

#include <functional>
#include <string>

class wxWindow;
class DumpSession;

// "Select the Sector": the text typed (proposal: the current sector in the
// dump radix); false when cancelled.
bool run_sector_dialog(wxWindow* owner, const std::string& proposal, std::string& text);
// "Search for a Character String": 0 cancelled, 1 anywhere, 2 at sector
// starts; the bytes go into g_dump_search (an empty or malformed string beeps
// and keeps the dialog open).
int run_search_dialog(wxWindow* owner);
// "Font Size Selection": the size chosen (6 to 20), or 0 when cancelled.
int run_font_size_dialog(wxWindow* owner, int current);
// "Saving a Data Segment" over the fork the session shows.
void run_data_segment_dialog(wxWindow* owner, const DumpSession& session);

// Where the inspector's save dialogs get their file: the path chosen, or ""
// when cancelled. The window tests put their own chooser here.
using SaveChooser = std::function<std::string(wxWindow* owner, const wxString& title, const wxString& name,
                                              const wxString& extension, const wxString& filter)>;
extern SaveChooser g_inspector_save_chooser;
std::string choose_save_path(wxWindow* owner, const wxString& title, const wxString& name, const wxString& extension,
                             const wxString& filter);
