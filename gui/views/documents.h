// The documents of the three modes without their windows: projects and ISO+
// projects opened with their backup copy, partition images opened (read-only
// when they cannot be written, expanded when compressed, any HFS partition of
// a map or a GPT), new partition images, Save As, the target image's checks,
// and which buttons and menu items each document state enables.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "compiler/project.h"
#include "hfs/partition.h"

constexpr int k_doc_ok = 0;
constexpr int k_doc_open_failed = -1;   // "Error opening file"
constexpr int k_doc_not_project = -2;   // not a project (or an older one)
constexpr int k_doc_empty = -3;         // "Null length file."
constexpr int k_doc_compressed = -4;    // needs expanding first (expand_compressed_image)
constexpr int k_doc_sparse = -5;        // refused without a message
constexpr int k_doc_no_volume = -6;     // no HFS partition could be mounted
constexpr int k_doc_same_file = -7;     // Save As onto the open file
constexpr int k_doc_too_large = -8;     // more than 4 GiB - 64 KiB on a FAT disk
constexpr int k_doc_no_space = -9;      // not enough free space
constexpr int k_doc_write_failed = -10;
constexpr int k_doc_damaged = -11;     // a damaged project (the message says what is wrong; it may be viewed read-only)
constexpr int k_doc_cannot_expand = -12;  // compressed in a way the expansion cannot undo (said before anything is asked)
constexpr int k_doc_in_use = -13;      // another window or program holds the project (text 6600)

struct ProjectDocument {
  FILE* file = nullptr;
  std::string path;
  std::string backup_path;  // empty when no backup was made
  bool isoplus = false;
  bool read_only = false;   // opened to be looked at only (a damaged project): nothing is written
};

// Opens path "r+b" as a project (isoplus: an ISO+ project, which refuses only
// a file that is no project at all) and makes the backup copy beside it
// (extension "bak") unless no_backup is set or path is that backup itself.
// The stream stays locked shared while it is open (close_project_document);
// a project another program holds is not opened (k_doc_in_use). A refused
// file is never written. The message says what went wrong.
[[nodiscard]] int open_project_document(const std::string& path, bool isoplus, bool no_backup, ProjectDocument& doc,
                                        std::string& message);
// Opens path for reading only, to look at a damaged project: its records as
// they are, no backup, nothing ever written. k_doc_not_project for a file that
// is no project (or an older one, in Project Mode).
[[nodiscard]] int open_project_read_only(const std::string& path, bool isoplus, ProjectDocument& doc, std::string& message);
[[nodiscard]] int create_project_document(const std::string& path, uint32_t preference_flags, bool isoplus,
                                          ProjectDocument& doc, std::string& message);
void close_project_document(ProjectDocument& doc);
// A copy of the open project at target (written beside it, renamed when
// whole; the open file is refused). The project stays the open document.
[[nodiscard]] int copy_project_file(FILE* f, const std::string& path, const std::string& target, std::string& message);
// Moves a closed file to target (copied and removed when they lie on two
// file systems). 0, or k_doc_write_failed with nothing moved.
[[nodiscard]] int move_document_file(const std::string& from, const std::string& target, std::string& message);
// The backup path of a project: its extension replaced by "bak".
std::string project_backup_path(const std::string& path);

// What a Save dialog proposes: name when it names a file, else (empty, or a
// pattern such as "*.cvpr") base with the extension; never a wildcard.
std::string save_dialog_name(const std::string& name, const std::string& base, const std::string& extension);
// Whether the file a Save dialog gave may be written: a name without "*" or "?".
bool writable_file_name(const std::string& path);
// The base name proposed for a project saved under a name of its own: its
// label when it has one of its own, else text 1287 ("Untitled"), made fit
// for a file name.
std::string project_file_base_name(FILE* project);

struct ImageDocument {
  int fd = -1;
  std::string path;           // the file opened (the expansion when expanded)
  std::string shown_path;     // the path the user chose
  bool read_only = false;
  bool expanded_temporary = false;  // path is a temporary expansion, removed at close
  int kind = 0;               // detect_image_kind's value
  int partition = 0;          // which HFS partition is mounted
  std::vector<PartitionListEntry> partitions;  // the HFS partitions found (the chooser's list)
};

// Opens and mounts partition `which` of the image. Falls back to read-only
// access when the file cannot be opened for writing; the mounted volume then
// refuses every edit. k_doc_compressed: call expand_compressed_image, then
// open its result.
[[nodiscard]] int open_image_document(const std::string& path, int which, ImageDocument& doc, std::string& message);
// Expands a compressed image into save_path, or, when it is empty, into a new
// temporary file in $TMPDIR (out_path gets the file's name). Nothing is left
// behind on failure.
[[nodiscard]] int expand_compressed_image(const std::string& path, const std::string& save_path, std::string& out_path,
                                          std::string& message);
void close_image_document(ImageDocument& doc);
// What an edit left in memory (the allocation structures, the nodes it holds,
// the header), written back to the open image. k_doc_ok, also when nothing
// was left; k_doc_write_failed with message set when a write failed.
int write_back_image(const ImageDocument& doc, std::string& message);
// Save: the same, then the image forced to disk. An image open for reading
// only has nothing to save.
int save_image_document(const ImageDocument& doc, std::string& message);

// Writes a copy of the open image to target (through a temporary file beside
// it, renamed when whole). Refuses the open file itself, keeping it intact.
[[nodiscard]] int save_image_as(const ImageDocument& doc, const std::string& target, std::string& message);
// A new partition image of size_mb MiB holding an empty HFS or HFS+ volume;
// zero_all writes zeros over the whole file (else its gaps are left unwritten).
[[nodiscard]] int new_partition_image(const std::string& path, bool hfsplus, uint32_t size_mb, const std::string& volume_name,
                                      std::string& message, bool zero_all = false);

// Checks that a file of bytes can be written at target: the 4 GiB - 64 KiB
// limit of a FAT file system, and the free space of the target's folder.
[[nodiscard]] int check_target_image(const std::string& target, uint64_t bytes, std::string& message);
constexpr uint64_t k_fat_file_limit = 0xFFFF0000ull;

// The splitter moves only while the tree is at most half the window wide.
inline bool splitter_can_resize(int new_tree_width, int form_width) { return new_tree_width <= form_width / 2; }

// A file-dialog filter ("Text|*.a;*.b|...") whose patterns also match the
// upper-case spelling of their names (the dialogs compare case-sensitively).
std::string wildcard_both_cases(const std::string& filter);
