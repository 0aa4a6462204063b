#include "gui/dsstore/dsstore_layout.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "IO/bigendian.h"
#include "IO/bytes.h"
#include "IO/names.h"
#include "IO/uitext.h"
#include "compiler/additems.h"
#include "hfs/macdate.h"
#include "platform/files.h"
#include "platform/replacefile.h"

const int k_ds_icon_sizes[8] = {16, 32, 48, 64, 80, 96, 112, 128};
const int k_ds_text_sizes[4] = {10, 12, 14, 16};
const int k_ds_spacing_values[8] = {1, 15, 29, 44, 58, 72, 86, 100};

namespace {

// One loaded text with one string in place of its %s.
std::string ui_format(int id, const char* arg) { return format_text(ui_text(id).c_str(), arg); }

// Per text size and icon size: x0 by spacing, column step by spacing, y0, row
// step by spacing.
const int16_t k_icon_grid[4][8][25] = {
  {
      {27, 35, 44, 51, 58, 67, 75, 84, 48, 64, 80, 96, 110, 128, 144, 160, 15, 38, 38, 50, 50, 50, 50, 50, 50},  // text 10, icon 16
      {27, 35, 44, 52, 60, 68, 75, 84, 48, 64, 80, 96, 112, 128, 144, 160, 24, 56, 56, 68, 68, 68, 68, 68, 68},  // text 10, icon 32
      {31, 38, 46, 53, 62, 68, 75, 84, 56, 70, 86, 100, 116, 130, 144, 160, 33, 74, 74, 86, 86, 86, 86, 86, 86},  // text 10, icon 48
      {41, 47, 52, 59, 65, 70, 78, 84, 74, 86, 98, 110, 122, 134, 148, 160, 42, 92, 92, 104, 104, 104, 104, 104, 104},  // text 10, icon 64
      {49, 54, 60, 63, 68, 74, 78, 84, 92, 102, 112, 120, 130, 140, 150, 160, 51, 110, 110, 122, 122, 122, 122, 122, 122},  // text 10, icon 80
      {59, 61, 66, 70, 72, 77, 80, 84, 110, 116, 124, 132, 138, 146, 152, 160, 60, 128, 128, 140, 140, 140, 140, 140, 140},  // text 10, icon 96
      {67, 69, 71, 74, 77, 78, 80, 84, 128, 132, 136, 142, 146, 150, 154, 160, 69, 146, 146, 158, 158, 158, 158, 158, 158},  // text 10, icon 112
      {77, 78, 79, 80, 81, 82, 83, 84, 146, 148, 150, 152, 154, 156, 158, 160, 78, 164, 164, 164, 164, 164, 164, 164, 164},  // text 10, icon 128
  },
  {
      {29, 40, 49, 57, 67, 76, 85, 94, 52, 72, 90, 108, 126, 144, 162, 180, 15, 42, 42, 56, 56, 56, 56, 56, 56},  // text 12, icon 16
      {29, 38, 47, 58, 67, 76, 84, 94, 52, 70, 88, 108, 126, 144, 162, 180, 24, 60, 60, 74, 74, 74, 74, 74, 74},  // text 12, icon 32
      {31, 41, 48, 59, 67, 75, 84, 94, 56, 74, 90, 110, 126, 144, 162, 180, 33, 78, 78, 92, 92, 92, 92, 92, 92},  // text 12, icon 48
      {40, 49, 55, 64, 70, 78, 85, 94, 74, 90, 104, 120, 134, 150, 164, 180, 42, 96, 96, 110, 110, 110, 110, 110, 110},  // text 12, icon 64
      {50, 57, 63, 69, 75, 81, 87, 94, 92, 106, 118, 130, 142, 154, 166, 180, 51, 114, 114, 128, 128, 128, 128, 128, 128},  // text 12, icon 80
      {59, 63, 68, 73, 79, 83, 88, 94, 110, 120, 130, 140, 150, 160, 166, 180, 60, 132, 132, 146, 146, 146, 146, 146, 146},  // text 12, icon 96
      {68, 71, 72, 79, 83, 86, 90, 94, 128, 134, 145, 150, 158, 164, 172, 180, 69, 150, 150, 164, 164, 164, 164, 164, 164},  // text 12, icon 112
      {76, 79, 80, 83, 85, 88, 90, 94, 146, 150, 154, 160, 164, 170, 174, 180, 78, 168, 168, 182, 182, 182, 182, 182, 182},  // text 12, icon 128
  },
  {
      {31, 41, 52, 62, 72, 82, 92, 104, 56, 76, 98, 118, 138, 158, 178, 200, 15, 44, 44, 60, 60, 60, 60, 60, 60},  // text 14, icon 16
      {31, 42, 52, 62, 73, 82, 93, 104, 56, 76, 96, 118, 138, 158, 180, 200, 24, 62, 62, 78, 78, 78, 78, 78, 78},  // text 14, icon 32
      {31, 41, 51, 62, 72, 82, 92, 104, 56, 76, 96, 118, 138, 158, 178, 200, 33, 80, 80, 96, 96, 96, 96, 96, 96},  // text 14, icon 48
      {40, 50, 59, 67, 76, 86, 95, 104, 74, 92, 110, 128, 146, 164, 182, 200, 42, 98, 98, 114, 114, 114, 114, 114, 114},  // text 14, icon 64
      {49, 57, 64, 72, 80, 87, 95, 104, 92, 108, 122, 138, 154, 168, 184, 200, 51, 116, 116, 132, 132, 132, 132, 132, 132},  // text 14, icon 80
      {59, 66, 71, 77, 85, 91, 98, 104, 110, 124, 136, 148, 162, 174, 188, 200, 60, 134, 134, 150, 150, 150, 150, 150, 150},  // text 14, icon 96
      {67, 72, 77, 82, 87, 92, 98, 104, 128, 138, 148, 158, 168, 178, 190, 200, 69, 152, 152, 168, 168, 168, 168, 168, 168},  // text 14, icon 112
      {77, 81, 85, 88, 92, 96, 100, 104, 146, 154, 162, 168, 176, 184, 192, 200, 78, 170, 170, 186, 186, 186, 186, 186, 186},  // text 14, icon 128
  },
  {
      {35, 49, 60, 73, 87, 99, 111, 124, 64, 90, 114, 140, 166, 190, 216, 240, 15, 46, 46, 64, 64, 64, 64, 64, 64},  // text 16, icon 16
      {35, 49, 62, 73, 87, 99, 111, 124, 64, 90, 116, 140, 166, 190, 216, 240, 24, 64, 64, 82, 82, 82, 82, 82, 82},  // text 16, icon 32
      {35, 49, 60, 73, 87, 99, 110, 124, 64, 90, 114, 140, 166, 190, 214, 240, 33, 82, 82, 100, 100, 100, 100, 100, 100},  // text 16, icon 48
      {40, 54, 65, 76, 88, 99, 112, 124, 74, 100, 122, 146, 170, 192, 216, 240, 42, 100, 100, 118, 118, 118, 118, 118, 118},  // text 16, icon 64
      {49, 61, 71, 81, 92, 103, 112, 124, 92, 114, 134, 156, 176, 198, 218, 240, 51, 118, 118, 136, 136, 136, 136, 136, 136},  // text 16, icon 80
      {58, 67, 77, 86, 95, 104, 113, 124, 110, 128, 148, 166, 184, 202, 220, 240, 60, 136, 136, 154, 154, 154, 154, 154, 154},  // text 16, icon 96
      {67, 76, 84, 92, 100, 108, 115, 124, 128, 144, 160, 176, 192, 208, 224, 240, 69, 154, 154, 172, 172, 172, 172, 172, 172},  // text 16, icon 112
      {77, 83, 90, 96, 104, 109, 116, 124, 146, 160, 174, 186, 200, 212, 226, 240, 78, 172, 172, 190, 190, 190, 190, 190, 190},  // text 16, icon 128
  },
};

constexpr const char* k_ds_store_name = ".DS_Store";

// The catalog name the compile gives an item.
std::u16string catalog_name(const ProjectRecord& r) {
  HFSUniStr255 n = utf8_to_unistr(r.hfs_name.empty() ? hfsplus_name_for_pc_name(r.pc_name) : r.hfs_name);
  return unistr_units(n);
}

// The root's items in file order.
std::vector<ProjectRecord> root_items(FILE* f) {
  std::vector<ProjectRecord> out;
  if (!f || fseeko(f, off_t(k_project_record_size), SEEK_SET) != 0) return out;
  ProjectRecord r;
  bool in_run = false;
  while (read_project_record(f, r)) {
    if (r.parent_id == uint32_t(k_root_folder_id)) {
      in_run = true;
      out.push_back(r);
    } else if (in_run) {
      break;
    }
  }
  return out;
}

void put_u16_units(std::vector<uint8_t>& v, const std::u16string& s) {
  for (char16_t u : s) {
    v.push_back(uint8_t(u >> 8));
    v.push_back(uint8_t(u));
  }
}

DsStoreRecord blob(const std::u16string& name, const char (&code)[5], std::vector<uint8_t> value) {
  DsStoreRecord r;
  r.name = name;
  r.code = fourcc(code);
  r.type = fourcc("blob");
  r.value = std::move(value);
  return r;
}

DsStoreRecord number(const std::u16string& name, const char (&code)[5], const char (&type)[5], uint32_t v) {
  DsStoreRecord r;
  r.name = name;
  r.code = fourcc(code);
  r.type = fourcc(type);
  r.value = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
  return r;
}

void be16_into(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(uint8_t(x >> 8));
  v.push_back(uint8_t(x));
}
void be32_into(std::vector<uint8_t>& v, uint32_t x) {
  be16_into(v, uint16_t(x >> 16));
  be16_into(v, uint16_t(x));
}
void text_into(std::vector<uint8_t>& v, std::string_view s) { v.insert(v.end(), s.begin(), s.end()); }

int index_of(const int* values, int n, int v) {
  for (int i = 0; i < n; ++i)
    if (values[i] == v) return i;
  return -1;
}

int32_t parse_position(const std::string& s) { return int32_t(std::strtol(s.c_str(), nullptr, 10)); }

// The records of the window itself (".") that the editor makes from its layout.
bool is_layout_code(uint32_t code) {
  static const uint32_t codes[] = {fourcc("BKGD"), fourcc("fwi0"), fourcc("fwvh"), fourcc("icgo"),
                                   fourcc("icvo"), fourcc("icvt"), fourcc("pict"), fourcc("vstl")};
  return std::find(std::begin(codes), std::end(codes), code) != std::end(codes);
}

bool read_whole_file(const std::string& path, std::vector<uint8_t>& out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    out.insert(out.end(), buf, buf + n);
    if (out.size() > (64u << 20)) break;  // far beyond any such file
  }
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// Through a temporary file beside it, renamed over the old one once whole: a
// write cut short leaves the file that was there as it was.
bool write_whole_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  ReplacementFile r;
  if (begin_replacement(path, r) != 0) return false;
  if (write_full(r.fd, bytes.data(), bytes.size()) != 0) {
    abandon_replacement(r);
    return false;
  }
  return commit_replacement(r) == 0;
}

}  // namespace

void select_icon_grid(DsStoreLayout& l, int icon, int text, int spacing) {
  if (icon >= 0 && icon < 8) l.icon_size_index = icon;
  if (spacing >= 0 && spacing < 8) l.spacing_index = spacing;
  if (text >= 0 && text < 4) l.text_size_index = text;
  const int16_t* row = k_icon_grid[l.text_size_index][l.icon_size_index];
  l.x0 = row[l.spacing_index];
  l.step_x = row[8 + l.spacing_index];
  l.y0 = row[16];
  l.step_y = row[17 + l.spacing_index];
  l.x_restart = l.x0;
}

void arrange_icons(DsStoreLayout& l) {
  int32_t x = l.x0, y = l.y0;
  for (DsStoreItem& it : l.items) {
    it.x = std::to_string(x);
    it.y = std::to_string(y);
    x += l.step_x;
    if (x > l.width) {
      x = l.x_restart;
      y += l.step_y;
    }
  }
}

void load_default_layout(FILE* project, DsStoreLayout& l) {
  DsStoreLayout d;
  d.background_picture.clear();
  l = d;
  select_icon_grid(l, 4, 2, 6);
  ProjectHeader h;
  bool hfsplus = project && read_project_header(project, h) && h.hfsplus_target();
  for (const ProjectRecord& r : root_items(project)) {
    if (hfs_view(r) == 0) continue;
    std::string name = hfsplus ? r.hfs_name : mac_roman_to_text(r.hfs_name);
    if (name.empty() || name[0] == '.') continue;
    l.items.push_back({name, "*", "*", r.id, {}});
  }
  arrange_icons(l);
}

int read_ds_store_bytes(FILE* project, const uint8_t* data, size_t size, DsStoreLayout& l, std::string& message) {
  std::vector<DsStoreRecord> records;
  int rc = read_ds_store_records(data, size, records, message);
  if (rc != 0) return -1;
  DsStoreLayout out;
  out.icon_size_index = l.icon_size_index;
  out.text_size_index = l.text_size_index;
  out.spacing_index = l.spacing_index;
  std::vector<ProjectRecord> root = root_items(project);
  for (const DsStoreRecord& r : records) {
    if (r.name == u"." && is_layout_code(r.code)) {
      if (r.code == fourcc("fwi0") && r.value.size() >= 8) {
        out.top = ds_store_value_u16(r, 0);
        out.left = ds_store_value_u16(r, 2);
        out.bottom = ds_store_value_u16(r, 4);
        out.right = ds_store_value_u16(r, 6);
        out.height = out.bottom - out.top;
        out.width = out.right - out.left;
      } else if (r.code == fourcc("icvo") && r.value.size() >= 30) {
        int icon = index_of(k_ds_icon_sizes, 8, ds_store_value_u16(r, 4));
        if (icon >= 0) out.icon_size_index = icon;
        int spacing = index_of(k_ds_spacing_values, 8, int(ds_store_value_u32(r, 26)));
        if (spacing >= 0) out.spacing_index = spacing;
      } else if (r.code == fourcc("icvt") && r.value.size() >= 4) {
        int text = index_of(k_ds_text_sizes, 4, int(ds_store_value_u32(r, 0)));
        if (text >= 0) out.text_size_index = text;
      } else if (r.code == fourcc("pict") && r.value.size() >= 114 && project) {
        uint8_t len = r.value[50];
        if (len <= 63) {
          std::string mac(reinterpret_cast<const char*>(&r.value[51]), len);
          ProjectRecord folder, pic;
          if (find_child_by_hfs_name(project, folder, k_background_folder_name, k_root_folder_id) &&
              folder.is_folder()) {
            // The name in the alias is the Mac Roman form of the picture's HFS name.
            if (fseeko(project, off_t(k_project_record_size), SEEK_SET) == 0) {
              ProjectRecord c;
              while (read_project_record(project, c))
                if (c.parent_id == uint32_t(folder.id) && text_to_mac_roman(c.hfs_name) == mac) {
                  pic = c;
                  break;
                }
            }
            if (pic.id != 0) out.background_picture = pic.pc_folder + pic.pc_name;
          }
        }
      }
      continue;
    }
    // Rows only for items the root holds: a position for a name the CD has not
    // got would place nothing.
    const ProjectRecord* item = nullptr;
    if (r.code == fourcc("Iloc") && r.type == fourcc("blob") && r.value.size() >= 8)
      for (const ProjectRecord& p : root)
        if (catalog_name(p) == r.name) {
          item = &p;
          break;
        }
    if (!item) {
      out.other_records.push_back(r);
      continue;
    }
    out.items.push_back({item->hfs_name, std::to_string(int32_t(ds_store_value_u32(r, 0))),
                         std::to_string(int32_t(ds_store_value_u32(r, 4))), item->id, r.value});
  }
  select_icon_grid(out, out.icon_size_index, out.text_size_index, out.spacing_index);
  l = out;
  return 0;
}

int read_ds_store_file(FILE* project, const std::string& path, DsStoreLayout& l, std::string& message) {
  std::vector<uint8_t> bytes;
  if (!read_whole_file(path, bytes)) {
    message = ui_format(1385, path.c_str());
    return -1;
  }
  return read_ds_store_bytes(project, bytes.data(), bytes.size(), l, message);
}

std::string project_ds_store_file(FILE* project) {
  ProjectRecord r;
  if (!project || !find_child_by_hfs_name(project, r, k_ds_store_name, k_root_folder_id) || r.is_folder())
    return std::string();
  return r.pc_folder + r.pc_name;
}

void open_ds_store_layout(FILE* project, DsStoreLayout& l, std::string& message) {
  message.clear();
  ProjectRecord r;
  if (project && find_child_by_hfs_name(project, r, k_ds_store_name, k_root_folder_id) && !r.is_folder()) {
    DsStoreLayout read;
    if (read_ds_store_file(project, r.pc_folder + r.pc_name, read, message) == 0) {
      l = read;
      l.loaded_existing = true;
      return;
    }
  }
  load_default_layout(project, l);
  l.loaded_existing = false;
}

std::vector<DsStoreRecord> make_layout_records(FILE* project, const DsStoreLayout& l,
                                               const std::vector<uint8_t>& alias) {
  std::vector<DsStoreRecord> out;
  const std::u16string dot = u".";
  std::vector<uint8_t> bkgd;
  if (alias.empty()) {
    text_into(bkgd, "DefB");
    bkgd.resize(12, 0);
  } else {
    text_into(bkgd, "PctB");
    be32_into(bkgd, uint32_t(alias.size()));
    bkgd.insert(bkgd.end(), {0x00, 0x00, 0xFF, 0xBF});
  }
  out.push_back(blob(dot, "BKGD", bkgd));
  std::vector<uint8_t> fwi0;
  be16_into(fwi0, uint16_t(l.top));
  be16_into(fwi0, uint16_t(l.left));
  be16_into(fwi0, uint16_t(l.bottom));
  be16_into(fwi0, uint16_t(l.right));
  text_into(fwi0, "icnv");
  fwi0.resize(16, 0);
  out.push_back(blob(dot, "fwi0", fwi0));
  out.push_back(number(dot, "fwvh", "shor", uint32_t(uint16_t(l.bottom - l.top))));
  const std::vector<uint8_t> icgo = {0, 0, 0, 4, 0, 0, 0, 4};
  out.push_back(blob(dot, "icgo", icgo));
  std::vector<uint8_t> icvo;
  text_into(icvo, "icv4");
  be16_into(icvo, uint16_t(k_ds_icon_sizes[l.icon_size_index & 7]));
  text_into(icvo, "gridbotm");
  be32_into(icvo, 0);
  icvo.insert(icvo.end(), {0, 4, 0, 0, 0, 4, 0, 1});
  be32_into(icvo, uint32_t(k_ds_spacing_values[l.spacing_index & 7]));
  icvo.insert(icvo.end(), {0, 1});
  out.push_back(blob(dot, "icvo", icvo));
  out.push_back(number(dot, "icvt", "shor", uint32_t(k_ds_text_sizes[l.text_size_index & 3])));
  if (!alias.empty()) out.push_back(blob(dot, "pict", alias));
  out.push_back(number(dot, "vstl", "type", fourcc("icnv")));
  std::vector<ProjectRecord> root = root_items(project);
  for (const DsStoreItem& it : l.items) {
    const ProjectRecord* p = nullptr;
    for (const ProjectRecord& r : root)
      if (r.id == it.id) p = &r;
    std::u16string name = p ? catalog_name(*p) : unistr_units(utf8_to_unistr(it.name));
    // The position goes into the value the file had; a new one ends as the
    // classic Finder wrote it.
    std::vector<uint8_t> iloc = it.iloc.size() >= 8 ? it.iloc : std::vector<uint8_t>(16, 0xFF);
    if (it.iloc.size() < 8) iloc[14] = iloc[15] = 0;
    put_be32(&iloc[0], uint32_t(parse_position(it.x)));
    put_be32(&iloc[4], uint32_t(parse_position(it.y)));
    out.push_back(blob(name, "Iloc", iloc));
    if (it.id > 0) out.push_back(blob(name, "icgo", icgo));
  }
  // What else the file held, unless the layout makes it again.
  const size_t made = out.size();
  for (const DsStoreRecord& r : l.other_records) {
    bool again = std::any_of(out.begin(), out.begin() + long(made),
                             [&](const DsStoreRecord& m) { return m.name == r.name && m.code == r.code; });
    if (!again) out.push_back(r);
  }
  sort_ds_store_records(out);
  return out;
}

std::vector<uint8_t> make_background_alias(const std::string& volume_name, const ProjectRecord& picture,
                                           uint32_t folder_cnid, bool hfsplus, uint32_t now, std::string& message) {
  std::string vol_mac = text_to_mac_roman(volume_name);
  std::string file_mac = text_to_mac_roman(picture.hfs_name);
  if (vol_mac.size() > 27 || file_mac.size() > 63 || vol_mac.empty() || file_mac.empty()) {
    message = ui_format(1548, picture.hfs_name.c_str());
    return {};
  }
  std::vector<uint8_t> a;
  be32_into(a, 0);
  be16_into(a, 0);  // length, set at the end
  be16_into(a, 2);
  be16_into(a, 0);
  a.push_back(uint8_t(vol_mac.size()));
  text_into(a, vol_mac);
  a.resize(38, 0);
  be32_into(a, now);
  text_into(a, hfsplus ? "H+" : "BD");
  be16_into(a, 5);
  be32_into(a, folder_cnid);
  a.push_back(uint8_t(file_mac.size()));
  text_into(a, file_mac);
  a.resize(114, 0);
  be32_into(a, 0);
  be32_into(a, picture.create_date);
  a.insert(a.end(), picture.type_creator, picture.type_creator + 8);
  be16_into(a, 0xFFFF);
  be16_into(a, 0xFFFF);
  be32_into(a, 0x902);
  a.resize(150, 0);
  auto extra = [&](uint16_t tag, const std::vector<uint8_t>& data) {
    be16_into(a, tag);
    be16_into(a, uint16_t(data.size()));
    a.insert(a.end(), data.begin(), data.end());
    if (data.size() & 1) a.push_back(0);
  };
  auto bytes = [](std::string_view s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  auto unistr = [](const std::string& text) {
    HFSUniStr255 n = utf8_to_unistr(text);
    std::vector<uint8_t> v;
    be16_into(v, n.length);
    put_u16_units(v, unistr_units(n));
    return v;
  };
  std::vector<uint8_t> id;
  be32_into(id, folder_cnid);
  extra(0, bytes(k_background_folder_name));
  extra(1, id);
  extra(2, bytes(vol_mac + ":" + k_background_folder_name + ":" + file_mac));
  extra(14, unistr(picture.hfs_name));
  extra(15, unistr(volume_name));
  extra(18, bytes(std::string("/") + k_background_folder_name + "/" + ansi_to_utf8(picture.hfs_name)));
  extra(19, bytes("/Volumes/" + ansi_to_utf8(volume_name)));
  extra(0xFFFF, {});
  put_be16(&a[4], uint16_t(a.size()));
  return a;
}

uint32_t background_folder_cnid(FILE* project) {
  uint32_t id = 16;
  for (const ProjectRecord& r : root_items(project)) {
    if (r.is_folder() && r.hfs_name == k_background_folder_name) return id;
    if (hfs_view(r) != 0) ++id;
  }
  return 0;
}

namespace {

// Takes every root item of that HFS name out of the project, contents too.
void remove_root_items(FILE* f, const char* hfs_name) {
  ProjectRecord r;
  for (int guard = 0; guard < 64 && find_child_by_hfs_name(f, r, hfs_name, k_root_folder_id); ++guard) {
    if (delete_record_here(f, r) != 0) return;  // the edit is failed: its end undoes it
    add_folder_counts(f, k_root_folder_id, r.is_folder() ? -1 : 0, r.is_folder() ? 0 : -1);
    if (project_edit_failed(f)) return;
  }
}

int write_steps(FILE* f, DsStoreLayout& l, const std::string& target, std::string& message) {
  ProjectHeader h;
  if (!read_project_header(f, h)) {
    message = ui_format(1385, target.c_str());
    return -1;
  }
  remove_root_items(f, k_ds_store_name);
  remove_root_items(f, k_background_folder_name);
  if (project_edit_failed(f)) return -1;
  // The rows name root items: drop any the removal took away.
  std::vector<ProjectRecord> root = root_items(f);
  std::vector<DsStoreItem> kept;
  for (const DsStoreItem& it : l.items)
    for (const ProjectRecord& r : root)
      if (r.id == it.id) {
        kept.push_back(it);
        break;
      }
  l.items = kept;

  ProjectRecord picture;
  bool with_picture = !l.background_picture.empty();
  if (with_picture) {
    ProjectRecord buf;
    int32_t folder = add_new_folder(f, buf, k_background_folder_name, k_root_folder_id);
    if (folder == 0) return -1;
    AddCounts counts;
    add_pc_items(f, counts, buf, l.background_picture, uint32_t(folder));
    add_folder_counts(f, folder, int32_t(counts.folders_added), int32_t(counts.files_added));
    if (counts.files_added != 1) {
      message = ui_format(1385, l.background_picture.c_str());
      return -1;
    }
    if (fseeko(f, off_t(k_project_record_size), SEEK_SET) != 0 || seek_first_child(f, uint32_t(folder)) < 0) return -1;
    fseeko(f, seek_first_child(f, uint32_t(folder)), SEEK_SET);
    if (!read_project_record(f, picture)) return -1;
  }
  uint32_t now = unix_to_mac_date(int64_t(std::time(nullptr)), !h.hfsplus_target());
  // The alias needs the folder's catalog id, which depends on where the new
  // .DS_Store sorts in the root: lay the file out once, add it, then write it
  // again with the id (the length does not change).
  auto build = [&](uint32_t cnid, std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> alias;
    if (with_picture) {
      alias = make_background_alias(h.hfs_volume_name, picture, cnid, h.hfsplus_target(), now, message);
      if (alias.empty()) return -1;
    }
    l.pict_record_length = alias.empty() ? 0 : uint32_t(ds_store_record_size(blob(u".", "pict", alias)));
    std::string why;
    bytes = build_ds_store(make_layout_records(f, l, alias), why);
    if (bytes.empty()) {
      message = ui_format(1549, why.c_str());
      return -1;
    }
    return 0;
  };
  std::vector<uint8_t> bytes;
  if (build(16, bytes) != 0) return -1;
  if (!write_whole_file(target, bytes)) {
    message = ui_format(1547, target.c_str());
    return -1;
  }
  ProjectRecord buf;
  AddCounts counts;
  add_pc_items(f, counts, buf, target, k_root_folder_id);
  add_folder_counts(f, k_root_folder_id, int32_t(counts.folders_added), int32_t(counts.files_added));
  ProjectRecord added;
  if (counts.files_added != 1 || !find_child_by_hfs_name(f, added, k_ds_store_name, k_root_folder_id)) {
    message = ui_format(1547, target.c_str());
    return -1;
  }
  if (with_picture) {
    std::vector<uint8_t> again;
    if (build(background_folder_cnid(f), again) != 0) return -1;
    if (again.size() != bytes.size() || !write_whole_file(target, again)) {
      message = ui_format(1547, target.c_str());
      return -1;
    }
  }
  write_project_totals(f);
  return project_edit_failed(f) ? -1 : 0;
}

}  // namespace

int write_ds_store(FILE* f, DsStoreLayout& l, const std::string& target, std::string& message) {
  message.clear();
  if (!f) return -1;
  size_t slash = target.find_last_of('/');
  if ((slash == std::string::npos ? target : target.substr(slash + 1)) != k_ds_store_name) {
    message = ui_format(1547, target.c_str());
    return -1;
  }
  int saved_view = g_name_view;
  g_name_view = k_name_view_hfs;
  begin_project_edit(f);
  int rc = write_steps(f, l, target, message);
  if (rc != 0) refuse_project_edit(f);
  rc = end_project_edit(f, rc);
  g_name_view = saved_view;
  return rc;
}
