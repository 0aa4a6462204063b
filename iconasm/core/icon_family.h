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

struct IconFamily {
  Slot slots[k_slot_count];
  PasteboardCursor pasteboard[k_pasteboard_tabs];
  IconFamily();
};

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
// lower than its code; it always goes
// to the pasteboard. A 32-bit picture whose alpha is all 0 counts as opaque.
void draw_into_slot(IconFamily& f, int slot, Picture p);

// Draws src over dst at (x, y): 32-bit pictures by their alpha, others copied.
void blend_onto(IconImage& dst, const IconImage& src, int x, int y, bool use_alpha);

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
