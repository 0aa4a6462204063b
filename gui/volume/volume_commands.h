// The commands that edit the open volume and copy between the PC and it, and
// the handler of PC files dropped or pasted onto the views: what each command
// does, without a window. The dialogs they open come through g_volume_dialogs
// (the forms in the program, stand-ins in the tests).
//
// Every command that writes checks first that the volume may be written, and
// the engine refuses again where it writes; the selection is taken before the
// first change; items are found by their CNID or their stored name, never by
// the text a view shows; each command loads the allocation structures once and
// writes them back once.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "gui/volume/volume_properties.h"

struct VolumeCommandDialogs {
  // A name prompt: title and label (text ids), the text to start with, the
  // longest text the field takes (0: no limit). check gives 0 for a name it
  // takes, or the id of the text refusing it (the prompt then stays open).
  // true with text set when the user accepted.
  std::function<bool(int title, int label, size_t max_length, std::string& text,
                     const std::function<int(const std::string&)>& check)>
      ask_name;
  // The File or Folder Properties dialog: true when Write was pressed (the
  // model then holds the edits, which volume_item_edit accepts).
  std::function<bool(VolumeItemProperties&)> item_properties;
  // The volume properties dialog: true when Write was pressed.
  std::function<bool(VolumePropertiesModel&)> volume_properties;
  // "Select the Target Folder": true on "Copy Now" (g_destination_path set).
  std::function<bool()> destination;
  // "Copy to the Macintosh Volume": true with the PC paths to copy.
  std::function<bool(std::vector<std::string>&)> pc_browser;
  // The system's beep.
  std::function<void()> bell;
};
extern VolumeCommandDialogs g_volume_dialogs;

// False (after message 5112) when no volume is open or it may not be written.
bool volume_writable();

// Partition Mode's item commands. The list's selected rows are acted on when
// the last selection was made in the list (g_popup_source 1), else the tree's
// selected folder.
void volume_delete_command();           // Supp1
void volume_rename_command();           // Ren; the tree's root renames the volume
void volume_item_properties_command();  // AttrPart; the tree's root opens the volume's
void volume_properties_command();       // PropVol1
void volume_rename_volume_command();    // the volume's name alone
void volume_new_folder_command();       // MD
void volume_copy_to_pc_command();       // MPC1
void volume_copy_from_pc_command();     // PCM1

// Copies PC files and folders into the volume folder, each after a check that
// the volume has room for it (message 6303 and the rest not copied otherwise).
// The number of paths copied.
int copy_pc_paths_to_volume(const std::vector<std::string>& paths, uint32_t folder);
// Adds PC files and folders to the open project of the mode (hybrid or ISO+)
// under folder. The number of paths added.
int add_pc_paths_to_project(const std::vector<std::string>& paths, int32_t folder, bool isoplus);
// PC files dropped or pasted onto a view of the current mode, into folder.
void pc_files_dropped(const std::vector<std::string>& paths, int32_t folder);

// The whole family as the program has it: its windows bound, then the
// handlers registered (gui/volume/volume_command_forms.cpp).
void register_volume_commands();
// Registers the handlers with their working modes (DrExpl, the paste, in all
// three: paste_files gives the clipboard's file list and empties it).
void register_volume_command_handlers(const std::function<std::vector<std::string>()>& paste_files);
