// A multi-line text control whose characters can carry colours: the dump views
// of the structure inspector. The GUI gives its control behind this interface;
// the engine only selects ranges and colours them.
//
// Colours are 0x00BBGGRR values, as the stored colour settings hold them.
#pragma once

#include <cstdint>

struct RichTextControl {
  virtual ~RichTextControl() = default;
  // Stops (false) or resumes (true) repainting while many ranges change.
  virtual void set_redraw(bool on) = 0;
  // Index of the first character of a line, or -1 past the last line.
  virtual int line_index(int line) const = 0;
  // Selects the characters start .. end - 1 (a caret at start when equal).
  virtual void set_selection(int start, int end) = 0;
  // Gives the selected characters this text and background colour.
  virtual void colour_selection(uint32_t text, uint32_t background) = 0;
};

constexpr uint32_t k_colour_black = 0x00000000;
constexpr uint32_t k_highlight_yellow = 0x0040FFFF;

inline uint8_t colour_red(uint32_t c) { return uint8_t(c); }
inline uint8_t colour_green(uint32_t c) { return uint8_t(c >> 8); }
inline uint8_t colour_blue(uint32_t c) { return uint8_t(c >> 16); }
