// The volume commands bound to their windows: the dialogs, the prompts of the
// copies, the clipboard's file list for the paste, and the system's beep.
#include <wx/app.h>
#include <wx/dirdlg.h>
#include <wx/utils.h>

#include "IO/uitext.h"
#include "gui/desktop/desktop_files.h"
#include "gui/forms/messageforms.h"
#include "gui/volume/transfer_prompts.h"
#include "gui/volume/volume_commands.h"
#include "gui/volume/volume_forms.h"
#include "hfs/volume.h"

namespace {

wxWindow* owner() { return wxTheApp ? wxTheApp->GetTopWindow() : nullptr; }

// The files of the clipboard, which is emptied once they are taken.
std::vector<std::string> clipboard_files() { return clipboard_desktop_files(true); }

}  // namespace

void register_volume_commands() {
  g_volume_dialogs.ask_name = [](int title, int label, size_t max_length, std::string& text,
                                 const std::function<int(const std::string&)>& check) {
    bool plus = g_volume.is_hfsplus != 0;
    NameField field = plus ? NameField::hfsplus_volume_item : title == 1286 ? NameField::hfs_volume_name : NameField::hfs_name;
    int topic = title == 6314 ? 2036 : 2012;
    // The volume's label shows the name it has above the new one.
    return run_name_prompt(owner(), title, label, max_length, text, check, field, topic, title == 1286 ? 1498 : 0);
  };
  g_volume_dialogs.item_properties = [](VolumeItemProperties& m) { return run_item_properties(owner(), m); };
  g_volume_dialogs.volume_properties = [](VolumePropertiesModel& m) { return run_volume_properties(owner(), m); };
  g_volume_dialogs.destination = [] { return run_destination_dialog(owner()); };
  g_volume_dialogs.pc_browser = [](std::vector<std::string>& paths) { return run_pc_browser(owner(), paths); };
  g_volume_dialogs.bell = [] { wxBell(); };
  g_long_path_prompt = [](std::string& drive, std::string& folder, std::string& base, std::string& extension) {
    return run_long_path_prompt(owner(), drive, folder, base, extension);
  };
  g_folder_browser = [](const std::string& prompt, const FolderBrowserSetup& setup, std::string& chosen) {
    wxDirDialog choose(owner(), wxString::FromUTF8(prompt.empty() ? setup.title : prompt),
                       wxString::FromUTF8(setup.select), wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
    if (run_modal(choose) != wxID_OK) return 0;
    chosen = choose.GetPath().utf8_string();
    return 1;
  };
  register_volume_command_handlers(clipboard_files);
}
