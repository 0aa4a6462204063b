#include "gui/desktop/desktop_files.h"

#include <wx/clipbrd.h>

#include "gui/desktop/uri_lists.h"

namespace {

const char* const k_uri_list = "text/uri-list";
const char* const k_copied_files = "x-special/gnome-copied-files";

std::vector<std::string> paths_of(const wxDataFormat& format, const wxCustomDataObject& data) {
  std::string_view text(static_cast<const char*>(data.GetData()), data.GetSize());
  const std::string host = local_host_name();
  return format.GetId() == k_copied_files ? copied_files_paths(text, host) : uri_list_paths(text, host);
}

}  // namespace

DesktopFilesData::DesktopFilesData() {
  Add(new wxCustomDataObject(wxDataFormat(k_uri_list)), true);
  Add(new wxCustomDataObject(wxDataFormat(k_copied_files)));
}

std::vector<std::string> DesktopFilesData::paths() const {
  wxDataFormat format = GetReceivedFormat();
  auto* data = dynamic_cast<wxCustomDataObject*>(GetObject(format));
  if (!data || data->GetSize() == 0) return {};
  return paths_of(format, *data);
}

bool clipboard_offers_files() {
  wxClipboardLocker lock;
  if (!lock) return false;
  for (const char* f : {k_uri_list, k_copied_files})
    if (wxTheClipboard->IsSupported(wxDataFormat(f))) return true;
  return false;
}

std::vector<std::string> clipboard_desktop_files(bool empty_it) {
  wxClipboardLocker lock;
  if (!lock) return {};
  for (const char* f : {k_uri_list, k_copied_files}) {
    wxDataFormat format(f);
    if (!wxTheClipboard->IsSupported(format)) continue;
    wxCustomDataObject data(format);
    if (!wxTheClipboard->GetData(data)) continue;
    std::vector<std::string> paths = paths_of(format, data);
    if (paths.empty()) continue;
    if (empty_it) wxTheClipboard->Clear();
    return paths;
  }
  return {};
}
