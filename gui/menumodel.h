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
  // What the views hold.
  bool read_only = false;        // the document refuses every edit (an image that cannot be written, a damaged project)
  bool can_hybridise = false;    // Partition Mode: the image's layout takes an ISO partner (no GPT, no MBR)
  int list_selected = 0;         // rows selected in the list
  bool tree_selected = false;    // a node of the tree is selected
  bool tree_root_selected = false;
  int popup_source = 1;          // where the last selection was made: 1 the list, 0 the tree
  bool at_root = true;           // the mode's folder is its root
  bool clipboard_files = false;  // the clipboard holds PC files
};

bool command_visible(const CommandDef& c, const UiState& s);
bool command_enabled(const CommandDef& c, const UiState& s);
bool tool_enabled(const ToolDef& t, const UiState& s);
bool command_checked(const CommandDef& c, const UiState& s);
// The caption id in this state (the compile commands read "Abort Compilation" while a compile runs).
int command_caption(const CommandDef& c, const UiState& s);

// The copy-method items (Da, Re, Bo, Ad, As): the method each sets (1, 2, 4,
// 8, 32; 0 for any other name), and the question asked before it is set: none
// (0) for the data fork's copy and for the method already in force.
int copy_method_of(const std::string& item);
int copy_method_question(const std::string& item, int current_method);

// The key of a command, shown beside its menu items (the menu's own and the
// pop-ups' twins) and taken by the window wherever its focus is but in a text
// being edited: Del, Ctrl+A, Ctrl+V, Ctrl+N and F1; "" for the others.
const char* command_shortcut(const std::string& name);
// The help topic a help command opens (the language offset is added on use):
// Help on Help 1098, Help Topics and the tool bars' help buttons 1099; 0 for
// any other command.
int help_command_topic(const std::string& name);

// Status panel 0 text id by mode and, in Project Mode, by name view; 0 leaves it.
int mode_status_text(int mode, int name_view);
// Menu hints beginning with "." go to the status bar without the dot; others are tooltips.
bool hint_to_status_bar(const std::string& hint, std::string& shown);
// The help topic plus the language offset.
int help_topic(int topic, int language_offset);
// The help topic of a form, by the form's name, for its help button and its
// context help alike; 0 for a form that offers none.
int form_help_topic(const std::string& form_name);

// Commands that change the open image: refused while the Partition Mode image is read-only.
bool is_edit_command(const std::string& name);
// Commands that change the open project (or ISO+ project), or write from it:
// refused while it is only looked at.
bool is_project_edit_command(const std::string& name);
// The tree and the list take PC files dropped on them: a document is open that
// may be changed, and no compile runs.
bool drop_accepted(const UiState& s);
// The pop-up menus of the list and the tree: each item runs the command named
// `command`. Items of one mode's menu, in order; a null name is a separator.
struct PopupItemDef {
  const char* name;     // the item's own name
  const char* command;  // the command it runs
  int caption;          // text id
  int hint;
};
const std::vector<PopupItemDef>& popup_items(int mode, bool tree);
