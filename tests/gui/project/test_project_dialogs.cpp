// The dialog models: result codes of the property dialogs, the limits of every
// name field, and project edits made through them, compiled and judged by
// isoinfo and hfsutils.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <sstream>

#include "IO/version.h"
#include "compiler/commands.h"
#include "compiler/projectsearch.h"
#include "gui/forms/name_checks.h"
#include "gui/project/access_path.h"
#include "gui/project/iso_descriptor.h"
#include "gui/project/item_properties.h"
#include "gui/project/long_names.h"
#include "gui/project/project_labels.h"
#include "gui/signatures/signature_edit.h"
#include "gui/views/new_image.h"
#include "gui/volume/alias_view.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

ProjectRecord file_record() {
  ProjectRecord r;
  r.parent_id = 1;
  r.id = -5;
  r.pc_folder = "/pc/";
  r.pc_name = r.long_name = r.hfs_name = "file.txt";
  std::memcpy(r.type_creator, "TEXTttxt", 8);
  set_iso_view(r, -1);
  set_hfs_view(r, 1);
  return r;
}

std::vector<ProjectRecord> all_records(FILE* f) {
  std::vector<ProjectRecord> v;
  std::fseek(f, long(k_project_record_size), SEEK_SET);
  ProjectRecord r;
  while (read_project_record(f, r)) v.push_back(r);
  return v;
}

const ProjectRecord* by_pc_name(const std::vector<ProjectRecord>& v, const std::string& n) {
  for (const ProjectRecord& r : v)
    if (r.pc_name == n) return &r;
  return nullptr;
}

}  // namespace

TEST(ItemProperties, ResultCodesFollowWhatChanged) {
  ProjectRecord r = file_record();
  ItemPropertiesModel m;
  init_item_properties(r, false, false, m);
  EXPECT_TRUE(m.missing && m.missing_enabled && m.iso_included && m.hfs_included);
  ProjectRecord c = r;
  EXPECT_EQ(apply_item_properties(m, c), 0);
  m.iso_name = "renamed.txt";
  c = r;
  EXPECT_EQ(apply_item_properties(m, c), 1);
  EXPECT_EQ(c.long_name, "renamed.txt");
  m.iso_hidden = true;
  c = r;
  EXPECT_EQ(apply_item_properties(m, c), -1);  // a name and one box
  m.hfs_hidden = true;
  c = r;
  EXPECT_EQ(apply_item_properties(m, c), -2);  // a name and two boxes
  init_item_properties(r, false, false, m);
  m.iso_hidden = true;
  c = r;
  EXPECT_EQ(apply_item_properties(m, c), -2);
  // Unticking "Missing" with the ISO view included makes it 1; the HFS view ticked while missing is -1.
  init_item_properties(r, false, false, m);
  m.missing = false;
  c = r;
  EXPECT_EQ(apply_item_properties(m, c), -2);
  EXPECT_EQ(iso_view(c), 1);
  ProjectRecord out = r;
  set_hfs_view(out, 0);
  init_item_properties(out, false, false, m);
  m.hfs_included = true;
  EXPECT_LT(apply_item_properties(m, out), 0);  // a view changed
  EXPECT_EQ(hfs_view(out), -1);
  // Cancelling the decoding is always written back.
  ProjectRecord mb = file_record();
  mb.attr_flags |= k_attr_macbinary;
  mb.pc_size = 900;
  init_item_properties(mb, false, false, m);
  EXPECT_EQ(m.coding, 1297);
  cancel_item_decoding(m, mb);
  std::memcpy(mb.type_creator, "TEXT????", 8);
  EXPECT_EQ(apply_item_properties(m, mb), -2);
  EXPECT_EQ(mb.data_size, 900u);
  EXPECT_EQ(mb.attr_flags & k_attr_macbinary, 0);
}

// A ProDOS file's codes ('p' C7 00 00, "pdos"): shown with "\xNN" for the
// zero bytes, kept byte for byte by an OK that changed nothing.
TEST(ItemProperties, CodesWithZeroBytesAreKeptWhole) {
  ProjectRecord r = file_record();
  std::memcpy(r.type_creator, "p\xC7\0\0pdos", 8);
  ItemPropertiesModel m;
  init_item_properties(r, false, false, m);
  EXPECT_EQ(m.type, "p\xC2\xAB\\x00\\x00");
  EXPECT_EQ(m.creator, "pdos");
  ProjectRecord c = r;
  EXPECT_EQ(apply_item_properties(m, c), 0);
  EXPECT_EQ(std::memcmp(c.type_creator, "p\xC7\0\0pdos", 8), 0);
  m.creator = "\\x00dos";
  EXPECT_EQ(apply_item_properties(m, c), 1);
  EXPECT_EQ(std::memcmp(c.type_creator, "p\xC7\0\0\0dos", 8), 0);
  NameField field;
  m.type = "\\x00\\x00\\x00\\x00\\x00";
  EXPECT_EQ(check_item_properties(m, field), k_text_name_too_long);
  EXPECT_EQ(field, NameField::signature_half);
}

TEST(ItemProperties, NamesAreRefusedPastTheirFields) {
  std::string stored;
  EXPECT_EQ(check_dialog_name(NameField::iso_name, "", stored), k_text_name_empty);
  EXPECT_EQ(check_dialog_name(NameField::iso_name, std::string(62, 'a'), stored), 0);
  EXPECT_EQ(check_dialog_name(NameField::iso_name, std::string(63, 'a'), stored), k_text_name_too_long);
  EXPECT_EQ(check_dialog_name(NameField::iso_name, std::string(31, '\xC3'), stored), k_text_name_too_long);  // not UTF-8
  EXPECT_EQ(check_dialog_name(NameField::hfs_name, std::string(30, 'e') + "é", stored), 0);  // 31 Mac Roman bytes
  EXPECT_EQ(stored.size(), 31u);
  EXPECT_EQ(check_dialog_name(NameField::hfs_name, std::string(32, 'e'), stored), k_text_name_too_long);
  EXPECT_EQ(check_dialog_name(NameField::hfs_name, "a:b", stored), 0);
  EXPECT_EQ(stored, "a_b");
  // HFS+ items: decomposed units, so 128 "é" (256 units) do not fit and 127 do.
  std::string e127, e128;
  for (int i = 0; i < 127; ++i) e127 += "é";
  e128 = e127 + "é";
  EXPECT_EQ(check_dialog_name(NameField::hfsplus_volume_item, e127, stored), 0);
  EXPECT_EQ(check_dialog_name(NameField::hfsplus_volume_item, e128, stored), k_text_name_too_long);
  EXPECT_EQ(check_dialog_name(NameField::hfs_volume_name, std::string(28, 'v'), stored), k_text_name_too_long);
  // A signature half over 4 bytes is refused.
  ItemPropertiesModel m;
  init_item_properties(file_record(), false, false, m);
  NameField field;
  m.type = "TEXTX";
  EXPECT_EQ(check_item_properties(m, field), k_text_name_too_long);
}

TEST(ItemsProperties, IndeterminateBoxesAndEmptyHalvesKeepEachItem) {
  ProjectRecord a = file_record(), b = file_record();
  set_iso_view(b, 0);
  std::memcpy(b.type_creator, "PICTttxt", 8);
  ItemsPropertiesModel m;
  init_items_properties({a, b}, false, m);
  EXPECT_EQ(m.iso_included, -1);
  EXPECT_EQ(m.hfs_included, 1);
  EXPECT_TRUE(m.type.empty());
  EXPECT_EQ(cycle_three_state(-1), 0);
  EXPECT_EQ(cycle_three_state(0), 1);
  EXPECT_EQ(cycle_three_state(1), 0);
  m.hfs_hidden = 1;
  m.creator = "8BIM";
  apply_items_properties(m, a);
  apply_items_properties(m, b);
  EXPECT_EQ(iso_view(a), -1);
  EXPECT_EQ(iso_view(b), 0);
  EXPECT_EQ(std::string(a.type_creator, 8), "TEXT8BIM");
  EXPECT_EQ(std::string(b.type_creator, 8), "PICT8BIM");
  EXPECT_NE(a.attr_flags & 0x18, 0);
}

TEST(SmallModels, SignatureEditAliasAndNewImage) {
  char sig[8];
  std::memcpy(sig, "TEXT????", 8);
  SignatureEditModel s;
  init_signature_edit(sig, "x", s);
  EXPECT_EQ(apply_signature_edit(s, k_sig_change_all, sig), 0);
  s.new_creator = "ttxt";
  EXPECT_EQ(apply_signature_edit(s, k_sig_change_all, sig), 2);
  EXPECT_EQ(std::string(sig, 8), "TEXTttxt");
  EXPECT_EQ(apply_signature_edit(s, k_sig_ignore_all, sig), -1);
  // An alias whose tag lengths run past its bytes stops there.
  std::vector<uint8_t> alias(200, 0);
  alias[5] = 200;
  alias[10] = 200;  // volume name length far too long: clamped
  alias[150] = 0; alias[151] = 2; alias[152] = 0x7F; alias[153] = 0xFF;
  AliasView v;
  ASSERT_TRUE(read_alias_view(alias.data(), alias.size(), v));
  EXPECT_EQ(v.volume_name.size(), 27u);
  EXPECT_TRUE(v.access_path.empty());
  EXPECT_FALSE(read_alias_view(alias.data(), 100, v));
  EXPECT_EQ(shorten_alias_path(std::string(250, 'p')).size(), 207u);
  NewImageModel n;
  std::string label;
  uint32_t mb = 0;
  TempDir d;
  n.size_text = "0";
  EXPECT_EQ(check_new_image(n, d.str("x.img"), label, mb), k_text_bad_size);
  n.size_text = "12a";
  EXPECT_EQ(check_new_image(n, d.str("x.img"), label, mb), k_text_bad_size);
  n.size_text = "4";
  n.label = "";
  EXPECT_EQ(check_new_image(n, d.str("x.img"), label, mb), 0);
  EXPECT_EQ(label, "Untitled");
  EXPECT_EQ(mb, 4u);
}

TEST(IsoDescriptor, StoredIdentifiersAreShownAndKept) {
  ProjectHeader h;
  h.publisher_id = "Kept Publisher";
  h.bibliographic_file_id = "BIBLIO";
  h.abstract_file_id = "ABS";
  IsoDescriptorModel m;
  init_iso_descriptor(h, m);
  EXPECT_EQ(m.system_id, product_version_text());
  EXPECT_EQ(m.publisher_id, "Kept Publisher");
  m.bibliographic_file_id = std::string(12, 'B');
  int index = 0;
  EXPECT_EQ(check_iso_descriptor(m, index), 0);
  m.copyright_file_id = std::string(13, 'C');
  EXPECT_EQ(check_iso_descriptor(m, index), k_text_name_too_long);
  EXPECT_EQ(index, 6);
  m.copyright_file_id = "COPY";
  apply_iso_descriptor(m, h);
  EXPECT_EQ(h.publisher_id, "Kept Publisher");
  EXPECT_EQ(h.abstract_file_id, "ABS");  // the field after a full one is untouched
  EXPECT_EQ(h.bibliographic_file_id, std::string(12, 'B'));
  // Full-length values fill their fields with no terminator and leave the next field as it was.
  m.system_id = std::string(32, 'S');
  m.copyright_file_id = std::string(12, 'C');
  m.abstract_file_id = std::string(12, 'D');
  apply_iso_descriptor(m, h);
  h.last_file_serial = 0x01020304;
  std::vector<uint8_t> bytes(k_project_record_size);
  encode_project_header(h, bytes);
  ProjectHeader back;
  decode_project_header(bytes, back);
  EXPECT_EQ(back.system_id, std::string(32, 'S'));
  EXPECT_EQ(back.copyright_file_id, std::string(12, 'C'));
  EXPECT_EQ(back.abstract_file_id, std::string(12, 'D'));
  EXPECT_EQ(back.bibliographic_file_id, std::string(12, 'B'));
  EXPECT_EQ(back.publisher_id, "Kept Publisher");
  EXPECT_EQ(back.last_file_serial, 0x01020304u);
}

// Edits through the models, then a hybrid compile judged by isoinfo and hfsutils.
TEST(ProjectEdits, RenamesFlagsLabelAndDescriptorReachTheImage) {
  REQUIRE_TOOL("isoinfo");
  REQUIRE_TOOL("hls");
  TempDir dir;
  fs::create_directories(dir.path() / "src" / "Folder");
  write_text(dir.path() / "src" / "Folder" / "child.txt", "child");
  write_text(dir.path() / "src" / "Folder" / "other.txt", "other");
  write_text(dir.path() / "src" / "plain.txt", "plain");
  write_text(dir.path() / "src" / "hidden.txt", "hidden");
  std::string project = dir.str("p.cvpr");
  recorded_ui().clear();
  ASSERT_EQ(create_project_file(project, 0), 0);
  ASSERT_EQ(cli_include_items(project.c_str(), (dir.str("src") + "/Folder").c_str()), 0);
  ASSERT_EQ(cli_include_items(project.c_str(), (dir.str("src") + "/plain.txt").c_str()), 0);
  ASSERT_EQ(cli_include_items(project.c_str(), (dir.str("src") + "/hidden.txt").c_str()), 0);
  FILE* f = std::fopen(project.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  std::vector<ProjectRecord> recs = all_records(f);
  ASSERT_TRUE(by_pc_name(recs, "Folder") && by_pc_name(recs, "plain.txt") && by_pc_name(recs, "hidden.txt"));
  const std::string forty_iso = "A forty character name for the ISO view";  // 39 + 1
  const std::string iso40 = forty_iso + "s";
  const std::string hfs40 = "A forty character name in the HFS view!!";
  ASSERT_EQ(iso40.size(), 40u);
  ASSERT_EQ(hfs40.size(), 40u);
  std::function<void(ItemPropertiesModel&)> edit;
  recorded_ui().item_dialog = [&edit](ProjectRecord& r, bool isoplus) {
    ItemPropertiesModel m;
    init_item_properties(r, false, isoplus, m);
    edit(m);
    NameField field;
    if (check_item_properties(m, field) != 0) return 0;
    return apply_item_properties(m, r);
  };
  // The folder: a 40-character ISO name; 40 characters in the HFS view are refused, 31 taken.
  const ProjectRecord folder = *by_pc_name(recs, "Folder");
  edit = [&](ItemPropertiesModel& m) { m.iso_name = "Folder " + iso40.substr(7); m.hfs_name = hfs40; };
  EXPECT_EQ(edit_item_properties(f, folder.id, folder.parent_id), 0);  // refused: nothing written
  edit = [&](ItemPropertiesModel& m) { m.iso_name = iso40; m.hfs_name = hfs40.substr(0, 31); };
  EXPECT_EQ(edit_item_properties(f, folder.id, folder.parent_id), 1);
  const ProjectRecord plain = *by_pc_name(recs, "plain.txt");
  edit = [&](ItemPropertiesModel& m) { m.type = "PICT"; m.creator = "8BIM"; };
  EXPECT_EQ(edit_item_properties(f, plain.id, plain.parent_id), 1);
  const ProjectRecord hidden = *by_pc_name(recs, "hidden.txt");
  edit = [&](ItemPropertiesModel& m) { m.hfs_hidden = true; m.iso_hidden = true; };
  EXPECT_EQ(edit_item_properties(f, hidden.id, hidden.parent_id), 2);
  // Labels and the descriptor.
  ProjectLabelsModel labels;
  init_project_labels(f, false, labels);
  ASSERT_TRUE(labels.is_project);
  project_label_typed(labels, "EDITED_LABEL");
  EXPECT_EQ(labels.hfs_new, "EDITED_LABEL");
  labels.hfs_new = "Edited Mac Volume";
  EXPECT_EQ(apply_project_labels(f, labels), 1);
  ProjectHeader h;
  ASSERT_TRUE(read_project_header(f, h));
  h.preparer_id = "STOREDPREPARER";
  ASSERT_TRUE(write_project_header(f, h));
  IsoDescriptorModel d;
  init_iso_descriptor(h, d);
  d.publisher_id = "THEPUBLISHER";
  d.application_id = std::string(128, 'A');
  d.volume_label = "EDITED_LABEL";
  apply_iso_descriptor(d, h);
  ASSERT_TRUE(write_project_header(f, h));
  // Every child of the renamed folder is still under it, and the folder counts them.
  recs = all_records(f);
  const ProjectRecord* renamed = by_pc_name(recs, "Folder");
  ASSERT_TRUE(renamed);
  EXPECT_EQ(renamed->id, folder.id);
  EXPECT_EQ(renamed->long_name, iso40);
  EXPECT_EQ(renamed->file_count(), 2u);
  EXPECT_EQ(by_pc_name(recs, "child.txt")->parent_id, uint32_t(folder.id));
  EXPECT_EQ(by_pc_name(recs, "other.txt")->parent_id, uint32_t(folder.id));
  std::fclose(f);
  ASSERT_EQ(cli_compile_hybrid(project.c_str()), 0) << (recorded_ui().messages.empty() ? "" : recorded_ui().messages[0]);
  std::string img = dir.str("p.iso");
  RunResult info = run("isoinfo -d -i " + quote(img));
  EXPECT_NE(info.out.find("Volume id: EDITED_LABEL"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Publisher id: THEPUBLISHER"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Data preparer id: STOREDPREPARER"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Application id: " + std::string(128, 'A')), std::string::npos) << info.out;
  RunResult joliet = run("isoinfo -J -f -i " + quote(img));
  EXPECT_NE(joliet.out.find("/" + iso40 + "/child.txt"), std::string::npos) << joliet.out;
  EXPECT_NE(joliet.out.find("/" + iso40 + "/other.txt"), std::string::npos) << joliet.out;
  RunResult hv = run("hmount " + quote(img) + " && hls -l :src && echo --- && hls -1 :src && echo --- && hls -1a :src && hls -l " +
                     quote(":src:" + hfs40.substr(0, 31)));
  EXPECT_NE(hv.out.find("Volume name is \"Edited Mac Volume\""), std::string::npos) << hv.out << hv.err;
  EXPECT_NE(hv.out.find("PICT/8BIM"), std::string::npos) << hv.out;
  EXPECT_NE(hv.out.find(hfs40.substr(0, 31)), std::string::npos) << hv.out;
  size_t first = hv.out.find("---"), second = hv.out.find("---", first + 3);
  std::string visible = hv.out.substr(first, second - first), all = hv.out.substr(second);
  EXPECT_EQ(visible.find("hidden.txt"), std::string::npos) << hv.out;
  EXPECT_NE(all.find("hidden.txt"), std::string::npos) << hv.out;
  EXPECT_NE(all.find("child.txt"), std::string::npos) << hv.out;
  EXPECT_NE(hv.out.find("2 items"), std::string::npos) << hv.out;  // the folder's valence
}

// An HFS+ target takes a 40-character HFS name; sleuthkit lists it, under the
// renamed folder with its children.
TEST(ProjectEdits, HfsPlusViewTakesAFortyCharacterName) {
  REQUIRE_TOOL("fls");
  REQUIRE_TOOL("mmls");
  TempDir dir;
  fs::create_directories(dir.path() / "src" / "Dir");
  write_text(dir.path() / "src" / "Dir" / "inner.txt", "inner");
  std::string project = dir.str("plus.cvpr");
  recorded_ui().clear();
  ASSERT_EQ(create_project_file(project, k_pref_hfsplus_target | k_pref_hfsplus_default), 0);
  ASSERT_EQ(cli_include_items(project.c_str(), (dir.str("src") + "/Dir").c_str()), 0);
  FILE* f = std::fopen(project.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(get_project_hfs_format(f), 1);
  std::vector<ProjectRecord> recs = all_records(f);
  const ProjectRecord folder = *by_pc_name(recs, "Dir");
  const std::string hfs40 = "Forty characters of HFS+ name, no colon!";
  ASSERT_EQ(hfs40.size(), 40u);
  recorded_ui().item_dialog = [&hfs40](ProjectRecord& r, bool isoplus) {
    ItemPropertiesModel m;
    init_item_properties(r, true, isoplus, m);
    m.hfs_name = hfs40;
    m.custom_icon = true;
    NameField field;
    return check_item_properties(m, field) == 0 ? apply_item_properties(m, r) : 0;
  };
  EXPECT_EQ(edit_item_properties(f, folder.id, folder.parent_id), 2);
  recs = all_records(f);
  EXPECT_EQ(by_pc_name(recs, "Dir")->hfs_name, hfs40);
  EXPECT_NE(by_pc_name(recs, "Dir")->src_flags & k_src_custom_icon, 0);
  std::fclose(f);
  ASSERT_EQ(cli_compile_hybrid(project.c_str()), 0) << (recorded_ui().messages.empty() ? "" : recorded_ui().messages[0]);
  std::string img = dir.str("plus.iso");
  RunResult mm = run("mmls -t mac -b 2048 " + quote(img));
  size_t at = mm.out.find("Apple_HFS");
  ASSERT_NE(at, std::string::npos) << mm.out;
  size_t line = mm.out.rfind('\n', at);
  std::istringstream fields(mm.out.substr(line + 1, at - line - 1));
  std::string slot, start;
  fields >> slot >> start >> start;
  RunResult l = run("fls -f hfsp -r -p -o " + std::to_string(std::stoul(start) * 4) + " " + quote(img));
  EXPECT_NE(l.out.find(hfs40 + "/inner.txt"), std::string::npos) << l.out << mm.out;
}

TEST(LongNamePrompt, AnswersTheProjectNameSetters) {
  std::string typed = "typed short name.txt";
  bool shown = false;
  g_auto_truncate_iso = false;
  g_ask_long_name = nullptr;
  auto prompt = [&](std::string& name, size_t limit) {
    return run_long_name_prompt(name, limit, limit == k_hfs_name_limit ? LongNameKind::hfs : LongNameKind::iso,
                                [&](LongNameModel& m) {
                                  shown = true;
                                  EXPECT_LE(m.truncated.size(), limit);
                                  EXPECT_EQ(m.truncated.substr(m.truncated.size() - 4), ".txt");
                                  m.truncated = typed;
                                  return true;
                                });
  };
  static std::function<bool(std::string&, size_t)> hook;
  hook = prompt;
  g_ask_long_name = [](std::string& name, size_t limit) { return hook(name, limit); };
  ProjectRecord r = file_record();
  set_item_names(r, std::string(80, 'n') + ".txt", false);
  EXPECT_TRUE(shown);
  EXPECT_EQ(r.long_name, typed);
  EXPECT_EQ(r.hfs_name, typed);
  g_ask_long_name = nullptr;
  // The HFS proposal counts Mac Roman bytes; the automatic box only ever switches on.
  LongNameModel m;
  init_long_name(LongNameKind::hfs, std::string(40, 'e') + ".txt", 31, m);
  EXPECT_EQ(m.truncated, std::string(27, 'e') + ".txt");
  m.truncated = std::string(32, 'x');
  std::string out;
  EXPECT_EQ(apply_long_name(m, out), 0);
  long_name_automatic_clicked(m);
  long_name_automatic_clicked(m);
  EXPECT_TRUE(g_auto_truncate_hfs);
  g_auto_truncate_hfs = false;
}

TEST(AccessPath, PrefixReplacedWholeOrRefused) {
  TempDir dir;
  ASSERT_EQ(create_project_file(dir.str("p.cvpr"), 0), 0);
  FILE* f = std::fopen(dir.str("p.cvpr").c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  for (const char* folder : {"/old/a/", "/old/b/", "/elsewhere/"}) {
    ProjectRecord r = file_record();
    r.id = next_file_id();
    r.pc_folder = folder;
    r.long_name = r.pc_name = std::string("f") + folder[1] + folder[5];
    ASSERT_EQ(insert_record(f, r), 0);
  }
  AccessPathModel m;
  ASSERT_EQ(init_access_path(f, m), 1);
  EXPECT_FALSE(m.previous_enabled);
  EXPECT_TRUE(m.next_enabled);
  access_path_next(m);
  access_path_next(m);
  EXPECT_FALSE(m.next_enabled);
  access_path_previous(m);
  access_path_previous(m);
  EXPECT_FALSE(m.previous_enabled);
  int text = 0;
  m.old_path = "/old";
  m.new_path = "/" + std::string(250, 'n');
  EXPECT_EQ(apply_access_path(m, text), 0);
  EXPECT_EQ(text, k_text_path_too_long);
  // A prefix that fits the edit but makes one record's folder overflow its field.
  ProjectRecord deep = file_record();
  deep.id = next_file_id();
  deep.pc_folder = "/old/" + std::string(200, 'd') + "/";
  deep.long_name = deep.pc_name = "deep";
  ASSERT_EQ(insert_record(f, deep), 0);
  ASSERT_EQ(init_access_path(f, m), 1);
  m.old_path = "/old";
  m.new_path = "/" + std::string(170, 'n');
  EXPECT_EQ(apply_access_path(m, text), 0);
  EXPECT_EQ(all_records(f).back().pc_folder.substr(0, 5), "/old/");
  m.old_path = "/old";
  m.new_path = "/new/place";
  m.keep_open = true;
  EXPECT_EQ(apply_access_path(m, text), 2);
  std::set<std::string> folders;
  for (const ProjectRecord& r : all_records(f)) folders.insert(r.pc_folder);
  EXPECT_EQ(folders, (std::set<std::string>{"/new/place/a/", "/new/place/b/", "/elsewhere/",
                                            "/new/place/" + std::string(200, 'd') + "/"}));
  std::fclose(f);
}

TEST(Labels, NotAProjectShowsUntitledAndWritesNothing) {
  TempDir dir;
  write_text(dir.path() / "x.bin", std::string(2000, 'x'));
  FILE* f = std::fopen(dir.str("x.bin").c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  ProjectLabelsModel m;
  init_project_labels(f, false, m);
  EXPECT_EQ(m.iso_old, "Untitled");
  m.iso_new = "NEW";
  EXPECT_EQ(apply_project_labels(f, m), 0);
  std::fclose(f);
  EXPECT_EQ(read_text(dir.path() / "x.bin"), std::string(2000, 'x'));
  // An HFS+ volume name over its 64-byte field is refused.
  ASSERT_EQ(create_project_file(dir.str("p.cvpr"), k_pref_hfsplus_target), 0);
  f = std::fopen(dir.str("p.cvpr").c_str(), "r+b");
  init_project_labels(f, false, m);
  EXPECT_TRUE(m.hfsplus_target);
  m.hfs_new = std::string(64, 'h');
  EXPECT_EQ(apply_project_labels(f, m), 0);
  m.hfs_new = std::string(63, 'h');
  EXPECT_EQ(apply_project_labels(f, m), 1);
  EXPECT_EQ(get_volume_name(f).size() <= 68, true);
  std::fclose(f);
}
