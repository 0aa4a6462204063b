// The structure decoders of the inspector, one per viewer. Each takes the
// sector's bytes (untrusted, of any length), its number in the dumped object,
// the inspector's geometry and a bounded reader for further sectors; it shows
// what the bytes hold, marks what it cannot trust, and offers go targets only
// inside the image (all targets are 512-byte sectors of the dumped object).
#pragma once

#include <cstdint>
#include <span>

#include "gui/inspector/inspect.h"

#define CORVANE_DECODER(name)                                                       \
  StructureView name(std::span<const uint8_t> sector, int64_t sector_number,       \
                     const InspectorContext& ctx, const SectorReader& read)

// ISO 9660 (logical block L is dump sector 4 L)
CORVANE_DECODER(decode_iso_descriptor);
CORVANE_DECODER(decode_iso_path_table);   // reads the whole 2048-byte block
CORVANE_DECODER(decode_iso_directory);    // reads the whole extent (at most 16 MiB)

// Macintosh file encodings
CORVANE_DECODER(decode_macbinary_view);
CORVANE_DECODER(decode_applesingle_view);
CORVANE_DECODER(decode_appledouble_view);

// Apple partition map
CORVANE_DECODER(decode_driver_descriptor_view);
CORVANE_DECODER(decode_partition_map_view);
// Four 512-byte blocks of a 2048-byte sector: one tree node per page ("ER",
// "PM 1"...), its children the field lines and the two jumps of each entry.
CORVANE_DECODER(decode_medium_headers);

// PC partitions and boot sectors
CORVANE_DECODER(decode_mbr_view);
// The first eight fields form the "General" page (3746), the other eight the
// "Technical Data" page (3747).
CORVANE_DECODER(decode_boot_sector_view);

// GUID Partition Table
CORVANE_DECODER(decode_gpt_header_view);
// Reads the first two sectors of the entry array and shows up to six entries,
// one tree node per entry ("Part. 1"...), the first LBA line carrying the jump.
CORVANE_DECODER(decode_gpt_entries_view);
