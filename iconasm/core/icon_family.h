// One Macintosh icon family as the window holds it: twelve picture slots with
// their depth marks, the pasteboard gallery, and the drawing rule every reader
// goes through.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "iconasm/core/icon_image.h"

enum SlotId : int {
  k_ic12, k_im12, k_ic16, k_im16, k_ic32, k_im32,
  k_icNB, k_imNB, k_ic48, k_im48, k_ic128, k_im128,
  k_slot_count,
  k_no_slot = -1,
};

struct SlotInfo {
  const char* name;
  int width, height;  // control size
  bool mask;
};
extern const SlotInfo k_slot_info[k_slot_count];

struct Slot {
  IconImage picture;  // always the control size; transparent white when empty
  int mark = k_code_empty;
  bool whole = false;  // the picture drawn last covers the slot (not one narrower than it)
  bool filled() const { return mark != k_code_empty; }
};

// Pasteboard: one gallery image per tab (16, 32, 48, 128).
constexpr int k_pasteboard_tabs = 4;
constexpr int k_pasteboard_width = 322;
constexpr int k_pasteboard_height = 352;
struct PasteboardCursor {
  int x = 2, y = 2, count = 0, step = 18;
  IconImage image;
  int mark = 0;
};

// What a read met that the user is told about: gathered while a file is read,
// said in one message at its end (read_report_text), however many elements
// it concerns.
struct IconReadReport {
  int damaged = 0;        // elements or resources skipped because their data cannot give a picture
  bool frame_damaged = false;  // the file's own structure is damaged: the rest was not read
  int unknown = 0;        // elements of types this program does not know
  std::vector<std::string> unknown_types;  // the first few of them, each once
  int compressed = 0;     // compressed (System 7) resources, not read
  int undecodable = 0;    // elements in a compression this program does not read (JPEG 2000)
  int families = 0;       // icon families (resource ids) in a resource fork
  int family_id = 0;      // the one read: the lowest id
  int past_cap = 0;       // pictures past the most a file may give, not read
  bool no_resources = false;  // a Macintosh file without usable resources
  int too_large_width = 0, too_large_height = 0;  // a picture larger than the program reads
  int pictures = 0;       // pictures drawn into a slot
  // Pictures of a size no slot takes, passed over: those up to the largest
  // slot's size (the first few sizes, each once), and the larger ones, which
  // are said only when the file gave no picture at all.
  int odd_sizes = 0;
  std::vector<std::string> odd_size_texts;
  int larger = 0;
  std::string larger_size;
  // Elements or images whose picture is larger than the program reads (the first few).
  struct Oversize {
    int where;          // k_txt_where_element, k_txt_where_image or k_txt_where_resource
    std::string name;   // the element's type, the image's or resource's number
    int width, height;
  };
  int oversize = 0;
  std::vector<Oversize> oversize_items;
};

struct IconFamily {
  Slot slots[k_slot_count];
  PasteboardCursor pasteboard[k_pasteboard_tabs];
  IconReadReport report;
  IconFamily();
};

// The message of a report for the file at path; empty when there is nothing to say.
std::string read_report_text(const IconReadReport& r, const std::string& path);
void note_unknown_element(IconReadReport& r, const std::string& type);
// A picture of width x height that no slot takes (passed over).
void note_unplaced(IconReadReport& r, int width, int height);
// A picture larger than the program reads, in an element, image or resource.
void note_oversize(IconReadReport& r, int where, const std::string& name, int width, int height);

// The family the window shows.
extern IconFamily g_family;

// Where readers and writers report: a message for the user. The program sets
// it to its message form; by default it goes to stderr.
using IconMessageSink = void (*)(const std::string& text);
extern IconMessageSink g_icon_message;
void icon_message(const std::string& text);
// The text of id in the current language, formatted with one string argument.
std::string icon_text(int id, const std::string& arg = "");

void clear_slot(IconFamily& f, int slot);
void clear_all_slots(IconFamily& f);
bool any_slot_filled(const IconFamily& f);
void reset_pasteboard(IconFamily& f);
int pasteboard_tab_for_width(int width);  // -1 when no tab takes that width
void append_to_pasteboard(IconFamily& f, const Picture& p);

// The drawing rule: the picture replaces the slot's (drawn at 0,0, clipped to
// the slot, replacing the pixels it covers) only when the slot's mark is
// lower than its code, or when, of the same code, it covers the slot whole
// and the slot's picture is a narrower one (a 24-pixel icon in the 32 slot
// gives way to the file's own 32-pixel icon, whichever comes first); it
// always goes to the pasteboard. A 32-bit picture whose alpha is all 0
// counts as opaque.
void draw_into_slot(IconFamily& f, int slot, Picture p);

// Draws src over dst at (x, y): 32-bit pictures by their alpha, others copied.
void blend_onto(IconImage& dst, const IconImage& src, int x, int y, bool use_alpha);

// What the writers take for one colour slot: its pixels, with the opacity of
// every mask the row holds. An 8-bit mask (from an icns) gives it exactly; else
// the picture's own alpha when it has one (a 32-bit icon: its 8-bit alpha,
// never cut down to the 1-bit mask that came with it); else the row's 1-bit
// mask (for the 32 x 32 row, imNB when im32 is empty: the mask of an "ICN#");
// else the picture is opaque. A mask of zeros only counts as none. masked:
// whether a mask or the picture's alpha said anything.
IconImage picture_with_mask(const IconFamily& f, int colour_slot, bool* masked = nullptr);
// The colour slot the writers take for an icon size (16, 32, 48, 128): the
// row's colour slot, or for 32 the black-and-white icNB when ic32 is empty.
// k_no_slot when the row holds no icon.
int writer_slot_for_size(const IconFamily& f, int n);
// Whether the family's save commands (icns, its resource files, Windows icon)
// have a picture to write: a writer slot of some size is filled.
bool family_has_saved_picture(const IconFamily& f);
// The picture a single-picture save command writes for a slot: a colour slot
// with its row's masks (picture_with_mask), any other as it is.
IconImage picture_to_save(const IconFamily& f, int slot);

// The opacity (0..255) of each pixel of a mask slot, n = width x height bytes:
// 1-bit masks (mark 1) are black where opaque, 8-bit masks carry the opacity as
// their grey value. Empty when the slot is not filled.
std::vector<uint8_t> mask_opacity(const Slot& s);

// The slot that receives a picture of this width in a colour row: 16 -> ic16,
// 24/32 -> ic32, 40/48 -> ic48, 64/72/80/128 -> ic128, else k_no_slot.
int colour_slot_for_width(int width);
int mask_slot_of(int colour_slot);
// The slot of a bitmap or JPEG picture: 16, 32 and 48 their own, any other ic128.
int picture_slot_for_width(int width);  // the mask slot of the same row
