// The windows of the volume commands: the name prompt, the File and Folder
// Properties dialog, the volume properties dialog, the alias view, the
// destination folder dialog, the long path prompt and the PC browser. Each
// binds the model of its logic file; a result of wxID_OK means "do it".
#pragma once

#include <wx/dialog.h>

#include <functional>
#include <string>
#include <vector>

#include "gui/forms/name_checks.h"
#include "gui/project/long_names.h"
#include "gui/volume/volume_properties.h"

class wxWindow;

// A name typed into one field: title and label text ids (old_label: the
// name going in is shown above it under that caption); check gives 0 or the
// id of the text refusing the name (the form then says so and stays open).
bool run_name_prompt(wxWindow* owner, int title, int label, size_t max_length, std::string& text,
                     const std::function<int(const std::string&)>& check, NameField field, int topic,
                     int old_label = 0);

// File or Folder Properties: true when Write was pressed and the edits pass volume_item_edit.
bool run_item_properties(wxWindow* owner, VolumeItemProperties& m);
// The volume's properties: true when Write was pressed.
bool run_volume_properties(wxWindow* owner, VolumePropertiesModel& m);
// The alias record of an HFS file (its catalog record data): read-only view.
void run_alias_view(wxWindow* owner, const std::vector<uint8_t>& record);

// "Select the Target Folder": true on "Copy Now" (g_destination_path set).
bool run_destination_dialog(wxWindow* owner);
// The long path prompt: 0 accepted (the parts edited), -1 cancelled.
int run_long_path_prompt(wxWindow* owner, std::string& drive, std::string& folder, std::string& base,
                         std::string& extension);
// "Copy to the Macintosh Volume": true with the PC paths to copy.
bool run_pc_browser(wxWindow* owner, std::vector<std::string>& paths);

struct HfsTruncationPrompt;
// The HFS name truncation prompt of a copy onto an HFS volume.
bool run_hfs_truncation_form(wxWindow* owner, HfsTruncationPrompt& p);
