// The list's file-type icons: asked of the desktop once per extension and
// fetched once per type, the Macintosh side by the signature table's rows.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "compiler/project.h"
#include "gui/views/file_table.h"
#include "gui/views/mode_views.h"
#include "gui/views/type_icons.h"
#include "macfiles/signatures.h"
#include "support/testkit.h"

namespace {

// A desktop that knows a few extensions, counting what it is asked.
struct FakeDesktop {
  std::map<std::string, int> asked_names, added_types;
  std::map<std::string, std::string> types = {{"txt", "text/plain"}, {"TXT", "text/plain"}, {"text", "text/plain"},
                                              {"jpg", "image/jpeg"}, {"pdf", "application/pdf"},
                                              {"README", "text/x-readme"}};
  std::map<std::string, int> icons = {{"text/plain", 20}, {"image/jpeg", 21}, {"text/x-readme", 22}};
  void install() {
    set_type_icon_source({[this](const std::string& name) {
                            ++asked_names[name];
                            size_t dot = name.rfind('.');
                            auto it = types.find(dot == std::string::npos ? name : name.substr(dot + 1));
                            return it == types.end() ? std::string() : it->second;
                          },
                          [this](const std::string& type) {
                            ++added_types[type];
                            auto it = icons.find(type);
                            return it == icons.end() ? -1 : it->second;
                          }});
  }
};

FileTableEntry file(const std::string& name, const char* signature) {
  FileTableEntry e;
  e.name = name;
  e.kind = 2;
  e.id = -5;
  e.utf8_name = true;
  std::memcpy(e.signature, signature, 8);
  return e;
}

}  // namespace

TEST(TypeIcons, OneQuestionPerExtensionAndOneIconPerType) {
  FakeDesktop desk;
  desk.install();
  EXPECT_EQ(extension_icon_index("notes.txt"), 20);
  EXPECT_EQ(extension_icon_index("OTHER.TXT"), 20);  // the same extension, whatever its case
  EXPECT_EQ(extension_icon_index("more.text"), 20);  // another extension of the same type
  EXPECT_EQ(extension_icon_index("photo.jpg"), 21);
  for (int i = 0; i < 1000; ++i) extension_icon_index("file" + std::to_string(i) + ".jpg");
  EXPECT_EQ(desk.asked_names.size(), 3u) << "the desktop is asked once per extension";
  EXPECT_EQ(desk.added_types["text/plain"], 1);
  EXPECT_EQ(desk.added_types["image/jpeg"], 1);
  // A type the theme has no icon of, an unknown type, a name hidden on the Macintosh.
  EXPECT_EQ(extension_icon_index("paper.pdf"), -1);
  EXPECT_EQ(extension_icon_index("paper2.pdf"), -1);
  EXPECT_EQ(desk.added_types["application/pdf"], 1);
  EXPECT_EQ(extension_icon_index("data.zzz"), -1);
  EXPECT_EQ(extension_icon_index(".txt"), -1);
  EXPECT_EQ(desk.asked_names.count(".txt"), 0u);
  // Names without an extension are told apart by themselves.
  EXPECT_EQ(extension_icon_index("README"), 22);
  EXPECT_EQ(extension_icon_index("Makefile"), -1);
  EXPECT_EQ(extension_icon_index("trailing."), -1);
  // Many extensions: past the memory of keys the answers stay right.
  for (int i = 0; i < 5000; ++i) extension_icon_index("x.e" + std::to_string(i));
  EXPECT_EQ(extension_icon_index("again.txt"), 20);
  EXPECT_EQ(extension_icon_index("late.e4999"), -1);
  // No desktop: no icons.
  set_type_icon_source({});
  EXPECT_EQ(extension_icon_index("notes.txt"), -1);
}

TEST(TypeIcons, RowsOfEachModeTakeTheirTypesIcon) {
  testkit::TempDir dir;
  testkit::write_text(dir.str("t.sig"), "TXT,TEXTttxt,Text\nJPG,JPEGogle,JPEG picture\nZZZ,ZZZZzzzz,Unknown\n");
  ASSERT_EQ(load_signature_table(dir.str("t.sig"), "TXT", 0), 0);
  FakeDesktop desk;
  desk.install();
  // The Macintosh side: the signature's row, then the name.
  EXPECT_EQ(signature_or_name_icon("JPEGogle", "no extension"), 21);
  EXPECT_EQ(signature_or_name_icon("TEXTmine", "photo.jpg"), 20) << "the type's row";
  EXPECT_EQ(signature_or_name_icon("ZZZZzzzz", "photo.jpg"), 21) << "a row without an icon: the name's";
  EXPECT_EQ(signature_or_name_icon("????????", "nothing"), -1);
  // A table loaded again gives its rows their icons again.
  testkit::write_text(dir.str("u.sig"), "JPG,TEXTttxt,Now a picture\n");
  ASSERT_EQ(load_signature_table(dir.str("u.sig"), "TXT", 0), 0);
  EXPECT_EQ(signature_or_name_icon("TEXTttxt", "x"), 21);

  FileTableEntry folder;
  folder.kind = 1;
  EXPECT_EQ(row_image(k_mode_partition, folder), k_image_folder);
  EXPECT_EQ(row_image(k_mode_partition, file("a.jpg", "????????")), 21);
  EXPECT_EQ(row_image(k_mode_partition, file("a.zzz", "????????")), k_image_file);
  EXPECT_EQ(row_image(k_mode_isoplus, file("a.txt", "JPEGogle")), 20) << "the ISO side goes by the name";
  g_name_view = k_name_view_iso;
  EXPECT_EQ(row_image(k_mode_project, file(".hidden.jpg", "????????")), k_image_file);
  g_name_view = k_name_view_hfs;
  EXPECT_EQ(row_image(k_mode_project, file("a.zzz", "TEXTttxt")), 21);
  g_name_view = k_name_view_pc;
  FileTableEntry pc = file("a.jpg", "????????");
  pc.view_state = 2;
  EXPECT_EQ(row_image(k_mode_project, pc), k_image_view_state + 2);
  set_type_icon_source({});
  clear_signature_table();
}
