// The layout of the CD root's Finder window as the .DS_Store editor keeps it:
// window rectangle, icon and text size, grid spacing, background picture and
// the position of every root item's icon; read from and written into the
// project's root ".DS_Store", with the picture in the root's ".!Background".
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "compiler/project.h"
#include "macfiles/dsstore.h"

struct DsStoreItem {
  std::string name;  // HFS name, UTF-8
  std::string x, y;  // decimal, "*" before the first arrangement
  int32_t id = 0;    // ProjectRecord id: folders > 0, files < 0
  // The "Iloc" value the file held for this item (empty for none): written
  // back with only the position changed.
  std::vector<uint8_t> iloc;
};

struct DsStoreLayout {
  int32_t left = 100, top = 100, right = 450, bottom = 400;
  int32_t width = 350, height = 300;
  int icon_size_index = 4;  // 16, 32 ... 128 pixels
  int text_size_index = 2;  // 10, 12, 14, 16 points
  int spacing_index = 6;    // grid spacing values 1, 15, 29, 44, 58, 72, 86, 100
  int32_t x0 = 0, y0 = 0, step_x = 0, step_y = 0, x_restart = 0;
  std::string background_picture;  // full PC path, empty for none
  std::vector<DsStoreItem> items;
  bool loaded_existing = false;
  uint32_t pict_record_length = 0;
  // The records of the file read that the editor does not make (the Finder's
  // own view settings, records of names without a row): written back as they were.
  std::vector<DsStoreRecord> other_records;
};

// What the editor's lists and slider offer.
extern const int k_ds_icon_sizes[8];
extern const int k_ds_text_sizes[4];
extern const int k_ds_spacing_values[8];

void select_icon_grid(DsStoreLayout& layout, int icon_size_index, int text_size_index, int spacing_index);
void arrange_icons(DsStoreLayout& layout);
// Defaults and one row for each root item of the HFS view not beginning with ".".
void load_default_layout(FILE* project, DsStoreLayout& layout);

// The editor's start: the root ".DS_Store" read when there is a sound one
// (loaded_existing set), else the defaults; message holds why a file was not
// used (empty when there was none).
void open_ds_store_layout(FILE* project, DsStoreLayout& layout, std::string& message);
// Reads a .DS_Store file into the layout: 0, or -1 with the message.
[[nodiscard]] int read_ds_store_file(FILE* project, const std::string& path, DsStoreLayout& layout, std::string& message);
// The same from bytes.
[[nodiscard]] int read_ds_store_bytes(FILE* project, const uint8_t* data, size_t size, DsStoreLayout& layout, std::string& message);

// The records of a layout in key order, with the file's other records that
// the layout does not make again. alias: the "pict" value, empty for none.
std::vector<DsStoreRecord> make_layout_records(FILE* project, const DsStoreLayout& layout,
                                               const std::vector<uint8_t>& alias);

// The alias record of the background picture as it stands on the CD: picture
// is its record in ".!Background", folder_cnid the catalog id that folder gets.
// Empty with message when a name does not fit its field.
std::vector<uint8_t> make_background_alias(const std::string& volume_name, const ProjectRecord& picture,
                                           uint32_t folder_cnid, bool hfsplus, uint32_t now_mac_date,
                                           std::string& message);
// The catalog id the compile gives the root's ".!Background" folder: ids are
// handed out from 16 in the order of the root's items in the HFS view.
uint32_t background_folder_cnid(FILE* project);

// The PC file of the ".DS_Store" the project root already holds ("" for none):
// the editor asks before it replaces it.
std::string project_ds_store_file(FILE* project);

// Writes the layout to target (a file named ".DS_Store") and puts it in the
// project root, with the picture in a new ".!Background"; any ".DS_Store" and
// ".!Background" already in the root are replaced, whether or not they could be
// read. 0, or -1 with the message and the project as it was.
[[nodiscard]] int write_ds_store(FILE* project, DsStoreLayout& layout, const std::string& target, std::string& message);
