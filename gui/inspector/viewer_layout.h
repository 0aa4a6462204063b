// How a structure viewer lays out what its decoder found: the pages of the
// viewer frame, each a column of lines (a caption text_x beside its value
// cont_x, and the go buttons go_x that show the sector they name), a list or
// the B-tree display, and the side buttons. Names and captions are those of
// each viewer; the frame's window code only places what this gives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gui/inspector/inspect.h"
#include "gui/inspector/sectorkind.h"

// What a button does.
enum : int {
  k_button_go = 0,           // shows its sector in the dump window, closes the viewer
  k_button_gpt_entries = 1,  // shows its sector and opens the partition entries viewer on it
  k_button_display_tree = 2, // starts the walk of the whole B-tree
};

struct LayoutButton {
  std::string name;      // "go_racine"
  std::string caption;   // ">>"
  int64_t sector = -1;   // -1: no target (the button is disabled)
  int action = k_button_go;
  bool enabled() const { return action == k_button_display_tree || sector >= 0; }
};

// A caption and its value. A caption alone (a heading, a note) has no value name.
struct LayoutPair {
  std::string caption_name, caption;
  std::string value_name, value;
  bool valid = true;  // false: the decoder could not trust the value
};

struct LayoutLine {
  std::vector<LayoutPair> pairs;
  std::vector<LayoutButton> buttons;
};

struct LayoutList {
  std::string name;  // "ListeFichiers"
  std::vector<std::string> columns;
  std::vector<int> widths;
  std::vector<bool> right_aligned;
  bool images = false;  // each row's first cell is its image index, not a column
  std::vector<ViewRow> rows;
};

struct LayoutPage {
  std::string name, caption;  // "TabHPP1", "General"
  bool shown = true;          // a hidden page (the B-tree display before the walk)
  std::vector<LayoutLine> lines;
  bool has_list = false;
  LayoutList list;
  bool btree_display = false;  // the page holds the walk's tree view "TVB"
};

struct ViewerLayout {
  std::string form_name;     // "TSectHPP"
  std::string title;
  std::string pages_name;    // the page control ("Classeur"), or the panel of a single page
  std::vector<LayoutPage> pages;
  std::vector<LayoutButton> side_buttons;
  std::vector<std::string> messages;
  int help_topic = 3003;
  // The first go button of each page in turn takes the focus when its page is
  // shown (names; "" for none).
  std::vector<std::string> page_focus;
};

// The layout of the viewer of kind (access_mode picks the partition map
// viewers as the dispatch does) for the view its decoder returned.
ViewerLayout viewer_layout(SectorKind kind, int access_mode, const StructureView& view);
// The partition entries viewer that the GPT header's button opens.
ViewerLayout gpt_entries_layout(const StructureView& view);

// Every button of the layout, pages and side column, in order.
std::vector<const LayoutButton*> layout_buttons(const ViewerLayout& layout);
// The value of the field named value_name ("cont_racine"), "" when absent.
std::string layout_value(const ViewerLayout& layout, const std::string& value_name);
const LayoutButton* layout_button(const ViewerLayout& layout, const std::string& name);
