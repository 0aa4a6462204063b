// Fork writing for the image compiler: a project file's data and resource forks,
// read from whatever the PC file is (plain, named streams, AppleDouble companion,
// AppleSingle, MacBinary, BinHex), written at the compile cursor, then entered in
// the HFS or HFS+ catalog being built.
//
// Where the PC file itself is the data fork (plain, named streams, AppleDouble)
// and the ISO view already carries its copy, the HFS data extent points at that
// copy: the data is in the image once.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "compiler/compilecursor.h"
#include "compiler/project.h"
#include "hfs/ondisk.h"

// One fork of a PC file: length bytes of fd from offset.
struct ForkSpan {
  int fd = -1;
  uint64_t offset = 0;
  uint64_t length = 0;
};

// Both forks of a project file, opened by open_fork_sources; closes its files on
// destruction (a decoded BinHex or a resource stream lives in an unlinked
// temporary file, so nothing is ever left beside the user's files).
struct ForkSources {
  ForkSpan data;
  ForkSpan rsrc;
  uint16_t finder_flags = 0;     // from a MacBinary or BinHex header
  bool header_flags = false;     // finder_flags came from such a header
  bool data_is_pc_file = false;  // the data fork is the whole PC file (may share the ISO copy)
  std::string path;              // the PC path, for progress and messages

  ForkSources() = default;
  ForkSources(const ForkSources&) = delete;
  ForkSources& operator=(const ForkSources&) = delete;
  ~ForkSources();
  void close_all();

 private:
  friend int open_fork_sources(const ProjectRecord& r, const std::string& path, ForkSources& out);
// The same for the record's PC file at path (pc_folder + pc_name).
[[nodiscard]] int open_fork_sources(const ProjectRecord& r, const std::string& path, ForkSources& out);
  int own_fds[3] = {-1, -1, -1};
};

// Opens the forks of a file record by its SourceEncoding. The fork lengths are
// those of the source as it is now (checked against its size), not the record's.
// 0; 1 when the encoding gives no fork to write (AppleDouble/AppleSingle without
// either flag); -1 when the source cannot be opened or does not hold the forks its
// header claims (a message was shown).
[[nodiscard]] int open_fork_sources(const ProjectRecord& r, ForkSources& out);
// The same for the record's PC file at path (pc_folder + pc_name).
[[nodiscard]] int open_fork_sources(const ProjectRecord& r, const std::string& path, ForkSources& out);

// Where the two forks of a file went.
struct WrittenForks {
  ForkExtent data;
  ForkExtent rsrc;
  uint16_t finder_flags = 0;  // Finder flags for the catalog record
};

// Writes the file's forks at the cursor. iso_data, when given, is the extent of the
// ISO copy of the PC file: a data fork that is the PC file takes that extent and is
// not written again (the other encodings write their decoded data fork anew).
// 0; 1 nothing written (see open_fork_sources); negative as write_fork_at_cursor
// (-2 aborted) or -1.
[[nodiscard]] int write_file_forks(const ProjectRecord& r, const ForkExtent* iso_data, WrittenForks& out);
// The same for the record's PC file found by folder and name (both texts kept
// as they are until the copies are finished), measured at length bytes: a plain
// file is then copied whole by whoever copies it, without being opened here.
struct PcFileRef {
  const std::string* folder;
  const std::string* name;
  uint64_t length;
};
[[nodiscard]] int write_file_forks(const ProjectRecord& r, const PcFileRef& file, const ForkExtent* iso_data, WrittenForks& out);

// Finder flags of a file's catalog record from its record and source header.
uint16_t catalog_finder_flags(const ProjectRecord& r, const ForkSources& src);

// --- catalog entries -------------------------------------------------------------

// An HFS file's catalog key and its 102-byte record.
struct HfsFileEntry {
  HfsCatalogKey key;
  std::array<uint8_t, HfsCatalogFile::k_size> data{};
};
// An HFS+ file's key and 248-byte record, and its thread (key: the file id and
// an empty name; data: type 4, the parent id and the name).
struct HfsPlusFileEntry {
  HfsPlusCatalogKey key;
  std::array<uint8_t, HfsPlusCatalogFile::k_size> data{};
  HfsPlusCatalogKey thread_key;
  std::vector<uint8_t> thread;
};

// Builds the entry of a file whose forks went where forks says. HFS: the record's
// hfs_name holds Mac Roman bytes and its dates are local; HFS+: hfs_name is text,
// stored decomposed, and the dates are made universal. -1 when a name or an
// extent cannot be stored (an HFS extent passes 16 bits, an HFS fork reaches 2 GB), else 0.
[[nodiscard]] int build_hfs_file_entry(const ProjectRecord& r, uint32_t parent_id, uint32_t file_id, const WrittenForks& forks,
                         uint32_t block_size, HfsFileEntry& out);
[[nodiscard]] int build_hfsplus_file_entry(const ProjectRecord& r, uint32_t parent_id, uint32_t file_id,
                             const WrittenForks& forks, uint32_t block_size, HfsPlusFileEntry& out);
// The file record alone (HFS 102 bytes, HFS+ 248), as in the entry. 0 or -1.
[[nodiscard]] int build_hfs_file_data(const ProjectRecord& r, uint32_t file_id, const WrittenForks& forks, uint32_t block_size,
                        std::array<uint8_t, HfsCatalogFile::k_size>& out);
[[nodiscard]] int build_hfsplus_file_data(const ProjectRecord& r, uint32_t file_id, const WrittenForks& forks, uint32_t block_size,
                            std::array<uint8_t, HfsPlusCatalogFile::k_size>& out);


// --- the per-file writers of the compile ------------------------------------------

// Writes the file's forks at the cursor (sharing the ISO copy given by iso_data,
// null when the file is not in the ISO view) and enters it in the HFS or HFS+
// catalog of the volume being compiled (g_volume), under parent_id, with the next
// catalog id; the volume's file counts grow. 1 entered; 0 nothing to enter; a
// negative result stops the compile (-2 when the user aborted).
[[nodiscard]] int write_file_hfs(const ProjectRecord& r, uint32_t parent_id, const ForkExtent* iso_data);
[[nodiscard]] int write_file_hfsplus(const ProjectRecord& r, uint32_t parent_id, const ForkExtent* iso_data);
