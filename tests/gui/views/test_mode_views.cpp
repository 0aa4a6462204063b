// The three modes' views over their documents: folder chains and parents,
// the nearest folder a name view shows, and in-place renames of project
// items and of the volume, the volume's judged by hfsutils.
#include <gtest/gtest.h>

#include <cstring>

#include "compiler/project.h"
#include "gui/views/documents.h"
#include "gui/views/mode_views.h"
#include "hfs/volume.h"
#include "support/testkit.h"

using testkit::quote;
using testkit::run;

namespace {

ProjectRecord folder(int32_t id, uint32_t parent, const char* name, int iso, int hfs) {
  ProjectRecord r;
  r.id = id;
  r.parent_id = parent;
  r.pc_name = r.long_name = r.hfs_name = name;
  r.pc_folder = "/src/";
  set_iso_view(r, iso);
  set_hfs_view(r, hfs);
  return r;
}

ProjectRecord file(int32_t id, uint32_t parent, const char* name) {
  ProjectRecord r = folder(id, parent, name, 1, 1);
  std::memcpy(r.type_creator, "TEXTttxt", 8);
  return r;
}

// The project open as Project Mode's document, closed at the end.
struct OpenProject {
  testkit::TempDir dir;
  ProjectDocument doc;
  int saved_view = g_name_view;
  explicit OpenProject(uint32_t preferences = 0) {
    std::string message;
    EXPECT_EQ(create_project_document(dir.str("p.cvpr"), preferences, false, doc, message), 0) << message;
    g_project_file = doc.file;
  }
  ~OpenProject() {
    g_project_file = nullptr;
    close_project_document(doc);
    g_name_view = saved_view;
  }
  ProjectRecord get(int32_t id) {
    ProjectRecord r;
    EXPECT_NE(find_record_by_id(doc.file, r, id), nullptr) << id;
    return r;
  }
};

FileTableEntry row_of(int32_t folder_id, int32_t id) {
  FolderRows rows;
  EXPECT_EQ(fill_mode_rows(k_mode_project, folder_id, rows), 0);
  for (const FileTableEntry& e : rows.rows)
    if (e.id == id) return e;
  ADD_FAILURE() << "no row " << id;
  return FileTableEntry();
}

}  // namespace

TEST(ModeViews, ChainsAndParentsNeverGoPastTheRoot) {
  OpenProject p;
  FILE* f = p.doc.file;
  ASSERT_EQ(append_item_record(f, folder(20, 1, "A", 1, 1)), 0);
  ASSERT_EQ(append_item_record(f, folder(21, 20, "B", 0, 1)), 0);  // not in the ISO view
  ASSERT_EQ(append_item_record(f, folder(22, 21, "C", 1, 1)), 0);
  EXPECT_EQ(mode_parent_folder(k_mode_project, 22), 21);
  EXPECT_EQ(mode_parent_folder(k_mode_project, 20), 1);
  EXPECT_EQ(mode_parent_folder(k_mode_project, 1), 0) << "the root has no parent in the views";
  EXPECT_EQ(mode_parent_folder(k_mode_project, 99), 0);
  EXPECT_EQ(mode_folder_chain(k_mode_project, 22), (std::vector<int32_t>{1, 20, 21, 22}));
  EXPECT_EQ(mode_folder_chain(k_mode_project, 99), std::vector<int32_t>{1}) << "a missing folder: the root alone";
  // A name view that leaves a folder out shows its nearest ancestor in the view.
  g_name_view = k_name_view_iso;
  EXPECT_EQ(visible_ancestor(22), 22);
  EXPECT_EQ(visible_ancestor(21), 20);
  g_name_view = k_name_view_hfs;
  EXPECT_EQ(visible_ancestor(21), 21);
  // No document: nothing to show, and no volume either.
  g_project_file = nullptr;
  EXPECT_EQ(mode_parent_folder(k_mode_project, 22), 0);
  FolderRows rows;
  EXPECT_EQ(fill_mode_rows(k_mode_project, 1, rows), -1);
  EXPECT_FALSE(mode_document_open(k_mode_partition) && !g_volume.mounted);
  EXPECT_EQ(mode_root_folder(k_mode_partition), 2);
}

TEST(ModeViews, ProjectRenamesFollowTheNameView) {
  OpenProject p;
  FILE* f = p.doc.file;
  ProjectRecord docs = folder(20, 1, "Docs", 1, 1);
  docs.file_count() = 2;
  ASSERT_EQ(append_item_record(f, docs), 0);
  ASSERT_EQ(append_item_record(f, file(-1, 20, "one.txt")), 0);
  ASSERT_EQ(append_item_record(f, file(-2, 20, "two.txt")), 0);
  g_last_folder_id = 20;
  g_last_file_serial = 2;
  write_project_totals(f);
  for (const std::string& fault : check_project_invariants(f)) ADD_FAILURE() << "fixture: " << fault;
  std::string message;

  // ISO view: the ISO name alone, cut to its limit.
  g_name_view = k_name_view_iso;
  FileTableEntry e = row_of(20, -1);
  EXPECT_EQ(rename_mode_entry(k_mode_project, e, 20, std::string(80, 'i'), message), 1) << message;
  EXPECT_EQ(p.get(-1).long_name, std::string(k_iso_name_limit, 'i'));
  EXPECT_EQ(p.get(-1).pc_name, "one.txt");
  EXPECT_EQ(display_name(e), std::string(k_iso_name_limit, 'i'));
  // The same text again changes nothing; a sibling's name, an empty one are refused.
  EXPECT_EQ(rename_mode_entry(k_mode_project, e, 20, display_name(e), message), 0);
  FileTableEntry two = row_of(20, -2);
  EXPECT_EQ(rename_mode_entry(k_mode_project, two, 20, std::string(80, 'i'), message), -2);
  EXPECT_EQ(rename_mode_entry(k_mode_project, two, 20, "   ", message), -2);
  EXPECT_EQ(p.get(-2).long_name, "two.txt");

  // HFS view of an HFS target: Mac Roman, 31 bytes, no colon.
  g_name_view = k_name_view_hfs;
  two = row_of(20, -2);
  EXPECT_EQ(rename_mode_entry(k_mode_project, two, 20, "caf\xc3\xa9 " + std::string(40, 'x'), message), 1) << message;
  EXPECT_EQ(p.get(-2).hfs_name, "caf\x8e " + std::string(26, 'x'));
  EXPECT_EQ(rename_mode_entry(k_mode_project, two, 20, "a:b", message), -2);

  // PC (hybrid) view: the ISO and HFS names by the name rules, the PC name and the caption stay.
  g_name_view = k_name_view_pc;
  two = row_of(20, -2);
  EXPECT_EQ(rename_mode_entry(k_mode_project, two, 20, "Renamed.txt", message), 1) << message;
  ProjectRecord r = p.get(-2);
  EXPECT_EQ(r.pc_name, "two.txt");
  EXPECT_EQ(r.long_name, "Renamed.txt");
  EXPECT_EQ(display_name(two), "two.txt");
  // The record keeps its id and its place among its folder's items; the folder keeps its children.
  FolderRows rows;
  ASSERT_EQ(fill_mode_rows(k_mode_project, 20, rows), 0);
  EXPECT_EQ(rows.files, 2u);
  for (const std::string& fault : check_project_invariants(f)) ADD_FAILURE() << fault;
  // An item gone from its folder: nothing happens.
  FileTableEntry gone;
  gone.id = -77;
  gone.kind = 2;
  EXPECT_EQ(rename_mode_entry(k_mode_project, gone, 20, "x", message), 0);
}

TEST(ModeViews, VolumeRenameIsCutAndRefusedWhereItMustBe) {
  REQUIRE_TOOL("hvol");
  testkit::TempDir dir;
  std::string img = dir.str("v.hfs"), message;
  ASSERT_EQ(new_partition_image(img, false, 2, "Before", message), 0) << message;
  ASSERT_EQ(run("hmount " + quote(img) + " 1 >/dev/null && hmkdir :Kept && humount >/dev/null").rc, 0);
  {
    ImageDocument doc;
    ASSERT_EQ(open_image_document(img, 0, doc, message), 0) << message;
    EXPECT_EQ(volume_display_name(), "Before");
    EXPECT_EQ(rename_volume("", message), -2);
    EXPECT_EQ(rename_volume("a:b", message), -2);
    EXPECT_EQ(rename_volume("Before", message), 0);
    EXPECT_EQ(rename_volume("After the rename, a name too long for HFS", message), 1) << message;
    EXPECT_EQ(volume_display_name(), "After the rename, a name to");
    // A read-only volume refuses.
    g_volume.read_only = 1;
    EXPECT_EQ(rename_volume("Never", message), -1);
    EXPECT_FALSE(message.empty());
    g_volume.read_only = 0;
    close_image_document(doc);
  }
  auto r = run("hmount " + quote(img) + " 1 && hls; rc=$?; humount >/dev/null; exit $rc");
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("Volume name is \"After the rename, a name to\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Kept"), std::string::npos) << r.out;
}
