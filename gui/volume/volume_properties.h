// What the File, Folder and volume property dialogs of the open volume show,
// and what their Write changes: the catalog record of one item (or the volume's
// header and root folder) read into a model, the user's edits checked and
// turned into the changes to make. The caller makes them (volume_commands).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Finder flags the dialogs name.
constexpr uint16_t k_flag_hidden = 0x4000;
constexpr uint16_t k_flag_custom_icon = 0x0400;
constexpr uint16_t k_flag_inited = 0x0100;
constexpr uint16_t k_flag_folder_icon_cached = 0x0020;  // cleared with Custom Icon on HFS+ folders

// The sixteen flag boxes in the order the form lays them out (high byte first),
// with their bits and their captions on a file and on a folder.
struct FinderFlagBox {
  uint16_t bit;
  const char* file_caption;
  const char* folder_caption;
};
const std::array<FinderFlagBox, 16>& finder_flag_boxes();

struct VolumeItemProperties {
  bool hfsplus = false;
  bool is_folder = false;
  bool read_only = false;      // nothing may be written: Write disabled, fields read-only
  bool link = false;           // an HFS+ hard link: its target's data; the signature is left alone
  uint32_t id = 0;             // the item's CNID
  uint32_t parent_id = 0;
  std::string stored_name;     // HFS: the Mac Roman name as stored
  std::u16string units;        // HFS+: the name's units
  std::string name;            // the name as text
  size_t name_limit = 31;      // characters the name field takes
  std::string type, creator;   // files: four bytes each as text (four_char_code_text)
  std::string comment;         // files: the signature's comment
  std::string created, modified;  // dates as text
  uint64_t data_size = 0, rsrc_size = 0;
  uint32_t valence = 0;
  uint16_t flags = 0;          // the Finder flags as stored
  std::vector<std::string> data_extents, rsrc_extents;  // one line per extent
  bool alias_button = false;   // HFS files of type "adrp"
  std::vector<uint8_t> record; // the record's data, for the alias dialog

  // What the user changes.
  std::string new_name;
  std::string new_type, new_creator;
  bool hidden = false;
  bool custom_icon = false;
  bool flag_editing = false;   // "Enable Flag Editing"
  uint16_t flag_boxes = 0;
};

// Reads the item shown as a row with id (a folder's CNID, minus a file's) in
// the volume folder parent_id. 0, or -1 when no such item is there.
[[nodiscard]] int load_volume_item_properties(uint32_t parent_id, int32_t id, VolumeItemProperties& m);
// The extent lines of an HFS or HFS+ extent record: text 1215 with the
// absolute sector (partition start + start block x sectors per block) and the
// length in sectors, up to the first empty extent.
std::vector<std::string> extent_lines(const std::vector<std::pair<uint32_t, uint32_t>>& extents);

// What Write changes.
struct VolumeItemEdit {
  std::string name;            // the new name as text; empty: kept
  bool finder = false;         // flags (and signature) to write
  uint16_t flags = 0;
  bool signature = false;
  char type_creator[8] = {};
};
// The flags after the edits: the boxes when flag editing is on, else the
// stored flags; then Hidden, and Custom Icon (which also clears 0x0100, and
// 0x0020 on an HFS+ folder) where they changed.
uint16_t edited_finder_flags(const VolumeItemProperties& m);
// Checks the edits and gives the changes: 0, or the id of the text refusing
// them (an empty name, a name another item of the folder has, a name too long,
// a type or creator of more than four bytes). ':' in a name becomes '_'; a
// type or creator shorter than four characters is padded with blanks, and one
// left as shown keeps its bytes whole.
constexpr int k_text_bad_code = 6650;
[[nodiscard]] int volume_item_edit(const VolumeItemProperties& m, VolumeItemEdit& e);

// --- the volume -----------------------------------------------------------------------------
struct VolumePropertiesModel {
  bool hfsplus = false;
  bool read_only = false;
  std::string name;            // the volume's name as text
  size_t name_limit = 27;
  // Texts of the figures, in the order the form shows them.
  std::string last_modified, volume_size, free_space, files, folders, next_id, offset, partitions, cluster,
      sectors, extents_offset, extents_size, catalog_offset, catalog_size, file_system, last_driver;
  uint16_t root_flags = 0;     // the root folder's Finder flags
  // What the user changes.
  std::string new_name;
  bool custom_icon = false;
};
// Reads the mounted volume's header and root folder. 0, or -1 with no volume.
[[nodiscard]] int load_volume_properties(VolumePropertiesModel& m);

struct VolumeEdit {
  std::string name;            // the volume's new name as text (cut to its field); empty: kept
  bool icon = false;           // the root folder's flags change
  uint16_t root_flags = 0;
};
// 0 with the changes, or the id of the text refusing them.
[[nodiscard]] int volume_properties_edit(const VolumePropertiesModel& m, VolumeEdit& e);

// A volume name as the volume stores it: ':' becomes '_'; HFS: Mac Roman cut to
// 27 bytes, trailing blanks and no-break spaces removed; HFS+: at most 255
// units. The text of that name, or "" when nothing is left of it.
std::string volume_name_to_store(const std::string& typed, bool hfsplus);
// An item name as the volume stores it: the same with 31 bytes on HFS.
std::string item_name_to_store(const std::string& typed, bool hfsplus);
