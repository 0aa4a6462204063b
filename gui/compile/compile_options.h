// The compile option dialogs (hybrid, HFS only, ISO only, ISO+) and the two
// project property dialogs, without a window: what each shows, what it
// accepts, and what its OK writes into the project and the compile. Also the
// choices the compile commands make before a dialog opens: the HFS allocation
// block size (or the switch to HFS+) and the labels of an untitled project.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "compiler/commands.h"
#include "compiler/project.h"

enum class CompileDialogKind { hybrid, hfs_only, iso_only, isoplus };

// Texts of the refusals.
constexpr int k_text_hfs_too_many_items = 1472;   // "You can't select the HFS format with more than 65,535 files or folders."
constexpr int k_text_hfs_too_many_blocks = 6210;  // the forks need more blocks than HFS holds

// The HFS allocation block size for the project's forks: from 2048 bytes up in
// steps of 2048 until they take at most 65535 blocks and the largest fork
// fewer than 32767 blocks; 0 when no size up to 63488 bytes does (HFS+ then).
uint32_t hfs_block_size_for(FILE* project);
// Why the project cannot be compiled as HFS: 0 it can, or the refusal's text.
int hfs_refusal(FILE* project);
// Switches an HFS project to HFS+ (root flag and every HFS name) when its
// forks need more than HFS holds. True when it switched.
bool switch_to_hfsplus_when_needed(FILE* project);
// Sets the target format in the root and rebuilds every HFS name for it. No
// change when the project already has it.
void set_project_hfs_format(FILE* project, bool hfsplus);

// The question OK asks before a change of the project's format to HFS+ (or
// back to HFS) would replace names the user gave, the volume's among them:
// "" when the format stays or nothing the user typed is replaced.
std::string format_change_question(FILE* project, bool hfsplus);

// An untitled project (label equal to text 1287 in the current language)
// takes the target file's base name as its label, and, for the hybrid kinds,
// as its HFS volume name, each cut to what its dialog accepts. True when the
// root was rewritten.
bool name_untitled_project(FILE* project, const std::string& target_path, CompileDialogKind kind);

// The label and HFS name limits of a dialog (bytes; Mac Roman bytes for HFS).
size_t compile_label_limit(CompileDialogKind kind);
size_t compile_hfs_name_limit(bool hfsplus);

struct CompileOptionsModel {
  CompileDialogKind kind = CompileDialogKind::hybrid;
  std::string target_path;
  std::string label;     // ISO label, as text
  std::string hfs_name;  // as text
  bool hfsplus = false;         // "Mac OS Extended (HFS+)"
  bool project_hfsplus = false; // the project's target when the dialog opened
  bool rebuild = false;         // "Rebuild the project"
  bool post_gap = true;         // "Add Postgap"
  ProjectStatistics stats;  // the whole project, its ISO view, its HFS view
  uint64_t payload_bytes = 0;
};
// The dialog's values from the project's root and statistics.
void init_compile_options(FILE* project, CompileDialogKind kind, const std::string& target, CompileOptionsModel& m);
// The label and HFS name of the root, as the dialog shows them.
void reload_compile_labels(FILE* project, CompileOptionsModel& m);
// "Advanced Options" (the ISO descriptor dialog) over the dialog as it stands:
// begin gives the root to edit, showing the label typed in the dialog; done
// writes what the descriptor dialog changed (the stored label only when it was
// changed there) and gives the dialog that label back, the HFS name typed
// staying as it is. false when the root cannot be read or written.
struct AdvancedOptionsEdit {
  ProjectHeader header;
  std::string stored_label, typed_label;
};
bool begin_advanced_options(FILE* project, const CompileOptionsModel& m, AdvancedOptionsEdit& edit);
bool finish_advanced_options(FILE* project, AdvancedOptionsEdit& edit, CompileOptionsModel& m);
// OK: 0, or the id of the text refusing it (field: 0 label, 1 HFS name, 2 the
// HFS+ box, which the form ticks again).
[[nodiscard]] int check_compile_options(FILE* project, const CompileOptionsModel& m, int& field);
// OK after the check: the format into the project (its names rebuilt when it
// changed), the label and name into the compile; the result bits: 1, + 2
// rebuild the project first, + 4 the post-gap.
int apply_compile_options(FILE* project, const CompileOptionsModel& m, CompileSettings& settings);
// The compile kind of a dialog's result and the project's format.
int compile_kind_of(CompileDialogKind kind, bool hfsplus);
// The image's size in 2048-byte sectors (the data, plus the post-gap when
// asked, never for ISO+) and the counts of the view it holds, as the status
// bar and the progress dialog describe it.
struct CompileImageCounts {
  uint64_t sectors = 0;
  uint32_t folders = 0, files = 0;
};
CompileImageCounts compile_image_counts(const CompileOptionsModel& m, int options);

// --- project properties (hybrid) and ISO+ properties ----------------------------------------
struct ProjectPropertiesModel {
  bool isoplus = false;
  std::string label;
  ProjectStatistics stats;
  uint64_t total_bytes = 0;
  bool rebuild = false, hfsplus = false, custom_icon = false, open_root = false;
  bool project_hfsplus = false;
  std::string real_size;  // after "Compute": shown in place of the button
};
void init_project_properties(FILE* project, bool isoplus, ProjectPropertiesModel& m);
// "Compute": the size the files take in allocation blocks (the HFS block size
// that holds them; 2048 bytes for ISO+ and HFS+).
void compute_real_size(FILE* project, ProjectPropertiesModel& m);
// OK: 0, or a refusal text (the HFS+ box ticked again by the form).
[[nodiscard]] int check_project_properties(FILE* project, const ProjectPropertiesModel& m);
// OK: the boxes into the root flags (format change rebuilds the names). 1, or -1 when the write failed.
[[nodiscard]] int apply_project_properties(FILE* project, const ProjectPropertiesModel& m);
