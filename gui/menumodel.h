// The main window's menus and tool bars as data: every item with its caption,
// hint and help topic (text ids of the string table), the working modes in
// which it is shown, and the rules that enable it. The forms only build
// widgets from these tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int k_first_command_id = 21000;  // window ids of the commands, in table order

enum class ItemKind { menu, item, check, radio, separator };

// Working modes as bits of CommandDef::modes.
constexpr unsigned k_in_project = 1, k_in_partition = 2, k_in_isoplus = 4, k_in_all = 7;

struct CommandDef {
  const char* name;    // component name; the key every rule and test uses
  const char* parent;  // the menu that holds it; null for the menu bar
  ItemKind kind;
  int caption;         // text id; 0 for a separator
  int hint;            // text id, 0 when the item has no hint
  int help;            // help topic, 0 when none (the language offset is added on use)
  unsigned modes;      // modes in which it is visible
};

struct ToolDef {
  const char* name;
  int mode;     // the tool bar: 0 Project, 1 Partition, 2 ISO+
  int hint;     // text id
  const char* command;  // the menu command it runs, or null for its own
};

const std::vector<CommandDef>& menu_commands();
const std::vector<ToolDef>& tool_buttons();
// Position of the command in menu_commands(), or -1.
int command_index(const std::string& name);
// The window id of the command (or of a tool with no menu command), or -1.
int command_id(const std::string& name);
// The name behind a window id, or "" when it is none of ours.
std::string command_name(int id);
int tool_id(const ToolDef& tool);

// What the enabling rules look at.
struct UiState {
  int mode = 0;                 // 0 Project, 1 Partition, 2 ISO+
  bool has_document = false;    // the mode's document is open
  bool is_scratch = false;      // the open project is the scratch project
  bool compile_running = false; // the compile state word is not idle
  bool recent[3] = {false, false, false};  // the mode's recent list has an entry
  int name_view = 1;
  int copy_method = 1;
};

bool command_visible(const CommandDef& c, const UiState& s);
bool command_enabled(const CommandDef& c, const UiState& s);
bool tool_enabled(const ToolDef& t, const UiState& s);
bool command_checked(const CommandDef& c, const UiState& s);
// The caption id in this state (the compile commands read "Abort Compilation" while a compile runs).
int command_caption(const CommandDef& c, const UiState& s);

// Status panel 0 text id by mode and, in Project Mode, by name view; 0 leaves it.
int mode_status_text(int mode, int name_view);
// Menu hints beginning with "." go to the status bar without the dot; others are tooltips.
bool hint_to_status_bar(const std::string& hint, std::string& shown);
// The help topic plus the language offset.
int help_topic(int topic, int language_offset);
// The help topic of a form, by the form's name, for its help button and its
// context help alike; 0 for a form that offers none.
int form_help_topic(const std::string& form_name);

// The seven columns of the file list: caption text id and default width.
struct ColumnDef {
  int caption;
  int width;
  bool right_aligned;
};
const std::vector<ColumnDef>& list_columns();
// "Col": seven widths separated by commas. A missing, damaged or absurd width
// (not a number, below 0, above 2000) takes its column's default.
std::vector<int> parse_column_widths(const std::string& text);
std::string format_column_widths(const std::vector<int>& widths);
