// Whatever is typed into a dialog, of any length or bytes, is either refused
// or stored within its field: random texts through every check and apply
// step, then the records and the header through their codecs and back.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>

#include "IO/charsets.h"
#include "IO/unicode.h"
#include "compiler/project.h"
#include "gui/compile/compile_options.h"
#include "gui/forms/name_checks.h"
#include "gui/project/iso_descriptor.h"
#include "gui/project/item_properties.h"
#include "gui/project/long_names.h"
#include "gui/project/project_labels.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

namespace {

// Texts of every kind a user (or a paste) can give: empty, plain, accented,
// beyond Latin-1 and beyond the BMP, with separators, and invalid UTF-8.
std::vector<std::string> typed_texts() {
  std::mt19937 rng(20261209);
  const std::vector<std::string> pieces = {"a", "Z", " ", ":", "/", "é", "É", "ß", "€", "中", "🙂", "\xff", "\xc3",
                                           "\x80", std::string(1, '\0'), "*", ".", "\t"};
  std::vector<std::string> out = {"", std::string(300, 'x'), std::string(62, 'n'), std::string(63, 'n'),
                                  std::string(31, 'h'), std::string(32, 'h')};
  for (int i = 0; i < 400; ++i) {
    std::string s;
    size_t n = rng() % 90;
    for (size_t k = 0; k < n; ++k) s += pieces[rng() % pieces.size()];
    out.push_back(s);
  }
  return out;
}

size_t units_of(const std::string& utf8) {
  size_t n = 0;
  for (char32_t c : hfs_decompose(utf8_to_u32(utf8))) n += utf16_length(c);
  return n;
}

// The record written and read back is the record: nothing spilled past a field.
void expect_round_trip(const ProjectRecord& r) {
  std::array<uint8_t, k_project_record_size> bytes{};
  encode_project_record(r, bytes);
  ProjectRecord back;
  decode_project_record(bytes, back);
  EXPECT_EQ(back.long_name, r.long_name);
  EXPECT_EQ(back.hfs_name, r.hfs_name);
  EXPECT_EQ(std::memcmp(back.type_creator, r.type_creator, 8), 0);
  EXPECT_EQ(back.pc_name, r.pc_name);
}

}  // namespace

TEST(TypedTexts, EveryNameFieldRefusesOrHoldsIt) {
  const NameField fields[] = {NameField::pc_name,           NameField::iso_name,        NameField::hfs_name,
                              NameField::hfsplus_name,      NameField::hfsplus_volume_item, NameField::hfs_volume_name,
                              NameField::hfsplus_volume_name, NameField::iso_label,     NameField::isoplus_label,
                              NameField::signature_half};
  for (const std::string& typed : typed_texts()) {
    for (NameField field : fields) {
      std::string stored;
      int rc = check_dialog_name(field, typed, stored);
      if (rc != 0) {
        EXPECT_TRUE(rc == k_text_name_empty || rc == k_text_name_too_long) << rc;
        continue;
      }
      size_t limit = name_field_limit(field);
      if (field == NameField::hfsplus_volume_item) EXPECT_LE(units_of(stored), limit);
      else EXPECT_LE(stored.size(), limit) << int(field);
    }
  }
}

TEST(TypedTexts, ItemDialogsWriteRecordsThatHoldTheirNames) {
  ProjectRecord file;
  file.parent_id = 1;
  file.id = -3;
  file.pc_folder = "/pc/";
  file.pc_name = file.long_name = "old.txt";
  file.hfs_name = "old.txt";
  std::memcpy(file.type_creator, "TEXTttxt", 8);
  set_iso_view(file, 1);
  set_hfs_view(file, 1);
  for (const std::string& typed : typed_texts()) {
    for (bool plus : {false, true}) {
      ItemPropertiesModel m;
      init_item_properties(file, plus, false, m);
      m.iso_name = m.hfs_name = typed;
      m.type = m.creator = typed.substr(0, 6);
      NameField field;
      ProjectRecord r = file;
      if (check_item_properties(m, field) != 0) continue;
      (void)apply_item_properties(m, r);  // what it changed is not the point here: the sizes are
      EXPECT_LE(r.long_name.size(), k_iso_name_limit);
      EXPECT_LE(r.hfs_name.size(), plus ? k_hfsplus_name_limit : k_hfs_name_limit);
      expect_round_trip(r);
    }
    ItemsPropertiesModel several;
    several.type = typed.substr(0, 5);
    several.creator = typed;
    ProjectRecord r = file;
    if (check_items_properties(several) == 0) {
      apply_items_properties(several, r);
      expect_round_trip(r);
    }
    LongNameModel l;
    init_long_name(LongNameKind::hfs, typed, 31, l);
    l.truncated = typed;
    std::string name;
    if (apply_long_name(l, name) == 1) {
      EXPECT_LE(utf8_to_macroman(name).size(), 31u);
    }
  }
}

TEST(TypedTexts, HeaderDialogsWriteHeadersThatHoldTheirTexts) {
  testkit::TempDir dir;
  std::string path = dir.str("p.cvpr");
  ASSERT_EQ(create_project_file(path, 0), 0);
  FILE* f = std::fopen(path.c_str(), "r+b");
  for (const std::string& typed : typed_texts()) {
    IsoDescriptorModel d;
    ProjectHeader h;
    ASSERT_TRUE(read_project_header(f, h));
    init_iso_descriptor(h, d);
    d.system_id = d.volume_label = d.volume_set_id = d.publisher_id = d.bibliographic_file_id = typed;
    int index = -1;
    if (check_iso_descriptor(d, index) == 0) {
      apply_iso_descriptor(d, h);
      ASSERT_TRUE(write_project_header(f, h));
      ProjectHeader back;
      ASSERT_TRUE(read_project_header(f, back));
      EXPECT_EQ(back.system_id, h.system_id);
      EXPECT_EQ(back.bibliographic_file_id, h.bibliographic_file_id);
      EXPECT_EQ(back.last_folder_id, h.last_folder_id);
    }
    ProjectLabelsModel labels;
    init_project_labels(f, false, labels);
    project_label_typed(labels, typed);
    if (apply_project_labels(f, labels) == 1) {
      ProjectHeader back;
      ASSERT_TRUE(read_project_header(f, back));
      EXPECT_LE(back.volume_label.size(), 16u);
      EXPECT_LE(back.hfs_volume_name.size(), k_hfs_volume_name_limit);
    }
    CompileOptionsModel c;
    init_compile_options(f, CompileDialogKind::hybrid, "/o.iso", c);
    c.label = c.hfs_name = typed;
    int field = 0;
    CompileSettings s;
    if (check_compile_options(f, c, field) == 0) {
      apply_compile_options(f, c, s);
      EXPECT_LE(s.volume_label.size(), 16u);
      EXPECT_LE(s.hfs_volume_name.size(), k_hfs_volume_name_limit);
    }
  }
  std::fclose(f);
}
