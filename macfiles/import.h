// Copying PC files and folders onto the open volume. Each PC file is
// classified (plain, MacBinary, BinHex, named streams, AppleSingle, with an
// AppleDouble companion, font), its forks are found, blocks are taken and the
// forks written, and only then is its catalog record inserted. The caller
// writes the volume structures back once after the batch
// (flush_volume_structures).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "macfiles/macfile.h"

enum ImportKind {
  k_import_plain = 0,
  k_import_macbinary = 1,
  k_import_binhex = 2,
  k_import_streams = 3,
  k_import_applesingle = 4,
  k_import_appledouble = 5,
  k_import_font_pfb = 6,
  k_import_font_ttf = 7,
};

// Where the forks of the open PC file lie.
enum ForkSource {
  k_source_resource_only = -1,  // the whole file is the resource fork
  k_source_macbinary = 0,
  k_source_plain = 1,
  k_source_appledouble = 2,     // data: the file; resource: entry 2 of its companion
  k_source_applesingle = 3,
};

// Remembered answers of the MacBinary and BinHex questions: 0 none, -1 no to all, 2 yes to all.
extern int g_macbinary_answer;
extern int g_binhex_answer;

// The kind of a PC file (questions 1258 / 1259 / 1125 asked as needed).
int classify_pc_file(const std::string& path);

// The HFS name (Mac Roman, at most 31 bytes) of a PC name (UTF-8): cut to 31
// bytes keeping the extension of up to 5 characters.
std::string hfs_name_for_pc_name(const std::string& name);

// Names over 31 bytes on an HFS volume. The automatic rule is chosen once: by
// the option bits of g_extract_options (0x08 cut without asking, 0x10 with a CRC
// on a clash), else by g_truncation_answer (1 cut, 2 cut with a CRC; kept until
// the caller clears it: the GUI at the end of each command; 0 ask), else the
// user is asked (ask_hfs_name_truncation).
extern int g_truncation_answer;
// name: the Mac Roman name, replaced by the one to use; its length, or 0 when
// the item is not to be copied.
[[nodiscard]] int resolve_long_hfs_name(std::string& name, uint32_t parent_id);
// Takes candidate for name when nothing of that name is in parent_id; mode 2
// then tries the first 26 bytes, "-" and the CRC-16 text of the full name; a
// clash left asks 1154 and the dialog once more. The length, or 0.
[[nodiscard]] int apply_truncated_name(std::string& name, std::string candidate, uint32_t parent_id, int mode);

// Blocks for a fork: the count, and the physical length; -1 when more than free_blocks.
[[nodiscard]] int64_t hfs_blocks_for_bytes(uint64_t bytes, uint64_t& physical, uint32_t free_blocks);
[[nodiscard]] inline int64_t hfsplus_blocks_for_bytes(uint64_t bytes, uint64_t& physical, uint32_t free_blocks) {
  return hfs_blocks_for_bytes(bytes, physical, free_blocks);
}

// One fork to write: bytes [offset, offset + length) of fd.
struct ImportFork {
  int fd = -1;
  uint64_t offset = 0;
  uint64_t length = 0;
};
struct ImportExtent {
  uint32_t start = 0;
  uint32_t count = 0;
};
// Takes up to max_extents runs for blocks and writes the fork into them.
// 0 done; -1 not enough room or too fragmented (message 1159 / 1073 shown),
// or a read or write failed; the runs taken are given back on failure.
[[nodiscard]] int write_fork_extents(const ImportFork& fork, uint32_t blocks, int max_extents,
                                     std::vector<ImportExtent>& extents);

// Writes a file onto the volume: meta gives name (UTF-8), signature, flags,
// dates (local Mac dates); the forks are copied and the catalog record
// inserted in parent_id. source: the PC path, for the progress (else the name).
// An HFS name over 31 bytes goes through resolve_long_hfs_name first. 0 entered,
// 1 skipped, -1 failed (reported) or the user refused the name.
[[nodiscard]] int write_file_forks(const MacFile& meta, const ImportFork& data, const ImportFork& resource,
                                   uint32_t parent_id, uint32_t parent_parent_id, const std::string& source = {});

// Imports one PC file or folder into the volume folder parent_id (whose parent
// is parent_parent_id). 0 done or skipped; negative: stop the batch (-1 the user
// refused a name, an error; a folder stopped by Esc gives minus the number of
// its files imported, at least 1); 255 a folder that cannot be listed.
// While one lives, the folder of the items given to import_pc_item one by one
// is listed once, when its second item in a row comes, and its "._" names say
// which of the items after that have an AppleDouble companion (a paste of many
// files of a folder looks for none of them one by one). The listing is a
// picture of the folder as the batch found it, and goes with the batch.
struct ImportBatch {
  ImportBatch();
  ~ImportBatch();
  ImportBatch(const ImportBatch&) = delete;
  ImportBatch& operator=(const ImportBatch&) = delete;
};
[[nodiscard]] int import_pc_item(const std::string& path, uint32_t parent_id, uint32_t parent_parent_id);
[[nodiscard]] int import_file(const std::string& path, uint32_t parent_id, uint32_t parent_parent_id);
[[nodiscard]] int import_folder(const std::string& path, uint32_t parent_id, uint32_t parent_parent_id);
// Files entered by the last batch.
extern int g_import_count;
