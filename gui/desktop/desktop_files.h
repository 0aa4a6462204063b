// The PC files a desktop's file manager hands over: on the clipboard after a
// copy (or a cut) in it, and in a drop from it. Both offer the same formats
// (gui/desktop/uri_lists.h says how they are read).
#pragma once

#include <wx/dataobj.h>

#include <string>
#include <vector>

// Takes the files of a drop, in whichever of the formats the source offers.
class DesktopFilesData : public wxDataObjectComposite {
 public:
  DesktopFilesData();
  // The local paths of what was received, in order (none when it held none).
  std::vector<std::string> paths() const;
};

// The clipboard offers files in one of the formats.
bool clipboard_offers_files();
// The clipboard's files; when `empty_it`, the clipboard is emptied once they are taken.
std::vector<std::string> clipboard_desktop_files(bool empty_it);
