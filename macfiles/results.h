// Result codes of the Macintosh file formats and transfers (macfiles/), the
// layer above hfs/. The shared codes (k_ok 0, k_refused 1, k_failed -1) are
// named in platform/results.h, the answers of the prompts in IO/results.h;
// this header adds the codes of the codecs and of the copies. Text ids are
// those the function that meets the failure shows.
#pragma once

#include "IO/results.h"

// --- codecs: MacBinary, BinHex, AppleSingle/AppleDouble, resource forks, AfpInfo --
// The bytes are not of this format, or too short to be (a sniffer's "no").
constexpr int k_not_this_format = k_refused;
// The format's own fields say something the bytes do not hold: an offset or a
// length past the end, a count too large, a CRC that differs, a character
// outside the alphabet, text cut short. Nothing is decoded from it.
constexpr int k_format_damaged = -3;
// BinHexReader::feed: the closing ':' (or the end of the resource fork CRC)
// was met; the bytes after it are not read.
constexpr int k_binhex_finished = 2;

// --- hfs_read_alias_resource (macfiles/aliasres.h) ----------------------------------
constexpr int k_alias_too_long = k_failed;  // the "alis" resource is longer than k_alias_resource_limit
constexpr int k_alias_unreadable = -2;      // no "alis" resource, a damaged fork or a read failure

// --- copies between a volume and the PC (macfiles/extract.h, macfiles/import.h) ----------
// create_pc_file_for_mac_name: the user declined the file (replacement or
// name question answered No), or a folder of that name is there (1121).
// write_file_forks: the item is skipped (make_room_for declined).
constexpr int k_copy_skipped = k_refused;
// import_pc_item, import_folder: a PC folder that cannot be listed. A copy
// stopped by Esc gives minus the number of files imported (at least 1).
constexpr int k_import_folder_unlisted = 255;
