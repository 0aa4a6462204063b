// Copying files and folders of the open volume to the PC, in the form the copy
// method chooses: the data fork, the resource fork, MacBinary, the data fork
// plus its AppleDouble companion, AppleSingle, or the data fork with named
// streams. PC names are made legal, an extension can come from the signature
// table, and the PC files get the Macintosh modification date.
#pragma once

#include <cstdint>
#include <string>

#include "hfs/lookup.h"
#include "macfiles/macfile.h"

// Copy method (bits, masked with 0x3F): 1 data fork, 2 resource fork,
// 4 MacBinary, 8 AppleDouble, 16 named streams, 32 AppleSingle; 0x100 convert
// fonts without asking. 1 at start-up.
extern int g_copy_method;
constexpr int k_copy_data = 1, k_copy_resource = 2, k_copy_macbinary = 4, k_copy_appledouble = 8,
              k_copy_streams = 16, k_copy_applesingle = 32;

// The name rule (OptionFlags bits 0-2) and 0x2000 (default extension for
// unknown signatures), set by the caller from the settings.
extern uint32_t g_extract_options;

// State of one copy to the PC: the PC folder written into (no chdir), the
// remembered answer of the replacement question (0 none, 2 yes to all, -1 no
// to all) and the ticks of the missing resource fork notice (HFS, HFS+).
struct ExtractSession {
  std::string folder;
  int replace_answer = 0;
  bool no_rsrc_notice_off[2] = {false, false};
  int files_written = 0;
};
extern ExtractSession g_extract;

// The PC name of a Macintosh name (UTF-8): forbidden characters and control
// characters become '_', device names are escaped, names of dots only are
// escaped, and the extension rule of options is applied with the signature.
std::string pc_name_for_mac_name(const std::string& name, const char* signature, uint32_t options);
// The PC folder name of a Macintosh folder name: the same, and every '.' becomes '_'.
std::string pc_folder_name_for_mac_name(const std::string& name);

// Creates the PC file for a Macintosh name in folder (the replacement question
// when it exists; links are never followed). Name rule 2 asks for the name
// (ask_pc_file_name; a name already taken: 1121 and -1); a path that does not
// fit (long_path_fits) goes through ask_long_path. 0 created (fd, path set),
// 1 the user declined, -1 it cannot be created (reported) or the prompt was
// cancelled.
[[nodiscard]] int create_pc_file_for_mac_name(const std::string& folder, const std::string& name, const char* signature,
                                              int& fd, std::string& path);

// Copies one item (folder or file) of the open volume into g_extract.folder.
// 0 done or skipped, non-zero to stop the batch.
[[nodiscard]] int extract_item(const CatalogItem& item);
[[nodiscard]] int extract_folder(const CatalogItem& folder);
[[nodiscard]] int extract_file(const CatalogItem& file);
// Copies every item of a volume folder into pc_folder; the batch's result.
[[nodiscard]] int extract_folder_contents(uint32_t folder_id, const std::string& pc_folder);

// The Finder's data of a catalog file record, with its dates as local Mac dates.
MacFile mac_meta_of(const CatalogItem& file);
