// Adding PC files and folders to a project.
//
// Each file is classified by how it carries its Macintosh forks (plain, named
// streams, AppleDouble companion, AppleSingle, MacBinary, BinHex), gets its sizes
// (the decoded fork sizes for an encoded file), dates, signature and its names in
// the three views (ISO level-1 name, ISO/Joliet long name, HFS name, each unique in
// its folder), and the views it enters; the new records of one folder are merged
// into the parent's run at once, then each new folder is filled in turn.
// Host paths use "/"; names are UTF-8 (HFS names of an HFS target Mac Roman).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "compiler/project.h"

// The result of an addition: the parent and what was added directly under it.
struct AddCounts {
  uint32_t parent_id = 0;
  uint32_t files_added = 0;
  uint32_t folders_added = 0;
  uint32_t left_out = 0;  // items refused, each reported (unreadable, too long a path, 4 GB or more)
};

// Remembered answers to the three inclusion questions (MacBinary/BinHex,
// AppleDouble/AppleSingle, executable): 0 ask, 1 always yes, -1 always no.
extern int g_answer_macbinary;
extern int g_answer_appledouble;
extern int g_answer_executable;
void set_remembered_inclusion_answers(int value);

// PC items whose name begins with "." count as hidden (off unless set).
extern bool g_hide_dot_files;

// The running counts of the current inclusion, over all its levels: folders
// and files added so far (each one is shown, show_inclusion_counts). Between
// two items an Esc the user confirms (question 1124) stops the inclusion: what
// was added stays, with its folders' counts, and nothing more is added until
// the counts are reset.
extern uint32_t g_folder_count, g_file_count;
extern bool g_inclusion_stopped;
void reset_inclusion_counts();

// Adds every PC item matching path under parent_id, recursively. path is a file
// or folder path (the item itself), or a folder followed by "/*.*" or "/*" (its
// contents). A path without "/" is taken in buf.pc_folder. buf is scratch.
AddCounts add_pc_items(FILE* project, AddCounts& counts, ProjectRecord& buf, const std::string& path,
                       uint32_t parent_id);

// The project's own files beside it: the project, its images (its name with
// ".iso" or ".dmg") and their backups. Walks that follow never take them as items.
void remember_project_own_files(const std::string& project_path);
bool is_project_own_file(const std::string& path);

// A folder that exists only in the project (pc_folder ".."). Returns its id, 0 when not written.
[[nodiscard]] int32_t add_new_folder(FILE* project, ProjectRecord& buf, const std::string& name, uint32_t parent_id);

// Finds or makes the folder records that mirror the folder of item_path below the
// components it shares with project_folder. Returns the deepest folder's id.
uint32_t make_folder_chain(FILE* project, const std::string& project_folder, const std::string& item_path,
                           uint32_t parent_id);

// Moves the text up to the first "/" after the first character into component and
// leaves the rest (from that "/") in path; without one the whole path moves.
void split_first_component(std::string& path, std::string& component);

// Source probes: each fills fields of the record from the PC file at path.
int has_afp_streams(const std::string& path);
[[nodiscard]] int read_appledouble_companion(const std::string& path, ProjectRecord& r);
[[nodiscard]] int read_applesingle_header(const std::string& path, ProjectRecord& r);
// MacBinary header of the open file; 0, or -1 when it is not MacBinary.
[[nodiscard]] int read_macbinary_header_into_record(ProjectRecord& r, int fd, bool hfsplus);
// Decodes the BinHex file's header (the forks' real lengths); 0 or -1.
[[nodiscard]] int read_binhex_header_into_record(ProjectRecord& r, int fd, bool hfsplus);
void read_afp_streams_into_record(ProjectRecord& r, const std::string& path, const std::string& name,
                                  bool hfsplus);

// Classifies an open PC file (plain, named streams, AppleDouble/AppleSingle,
// MacBinary, BinHex) and fills its encoding, fork sizes, signature and dates.
// no_companion: the folder's listing holds no "._" companion for it (not probed).
// fd -1: a file shorter than k_smallest_encoded_file, whose first bytes are not read.
void classify_pc_file(ProjectRecord& r, const std::string& path, int fd, uint64_t size, bool hfsplus,
                      bool no_companion = false);
// The shortest file that can be MacBinary (129 bytes), BinHex (its 27-character
// opening) or AppleSingle (a 26-byte header).
constexpr uint64_t k_smallest_encoded_file = 26;

// Sets the view fields of a new file from its encoding, name and the parent's
// allowed views (0 ISO only, 1 both, 2 HFS only). The item never enters a view its
// parent lacks.
void choose_item_views(ProjectRecord& r, int parent_views);

// The item's full PC path, or "" when it is not there any more.
std::string get_item_unicode_path(const ProjectRecord& r);

// Journal line "Addition\t<folder><name>" when the journal is open.
void log_addition(const std::string& folder, const std::string& name);

// Merges new records (sorted here by long_name) into parent_id's run; new_run: the
// parent has no run yet (a folder just made), so they are appended. positions,
// when given, receives each batch record's file offset, in the batch's sorted
// order. 0 or -1.
[[nodiscard]] int insert_records_sorted(FILE* project, std::vector<ProjectRecord>& batch, uint32_t parent_id, bool new_run = false,
                          std::vector<long>* positions = nullptr);

// Command-line inclusion into a hybrid or ISO+ project: item is a file, a folder,
// or "$" followed by a list file of paths (one a line).
// 0; 1 the file is not a project (left untouched); -1 the project cannot be opened;
// -2 no item (ISO+: list file missing); -3 list file or item missing; -5 items
// were left out (unreadable, a path too long for the record, 4 GB or more), the
// others added. A project the command made is removed again when it fails (items
// left out are no failure: it keeps the others).
[[nodiscard]] int cli_include_items(const char* project_path, const char* item);
[[nodiscard]] int cli_include_isoplus_items(const char* project_path, const char* item);
