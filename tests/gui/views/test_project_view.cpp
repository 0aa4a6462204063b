// Project Mode views of a project file in its three name views.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "compiler/project.h"
#include "gui/views/documents.h"
#include "gui/views/project_view.h"
#include "support/testkit.h"

namespace {

ProjectRecord item(int32_t id, uint32_t parent, const char* name, int iso, int hfs) {
  ProjectRecord r;
  r.id = id;
  r.parent_id = parent;
  r.long_name = std::string(name) + ";ISO";
  r.pc_name = name;
  r.hfs_name = std::string(name) + " \x8e";  // Mac Roman e acute
  set_iso_view(r, iso);
  set_hfs_view(r, hfs);
  r.pc_folder = "/src/";
  if (id < 0) {
    r.data_size = uint32_t(-id) * 1000;
    std::memcpy(r.type_creator, "TEXTttxt", 8);
  }
  return r;
}

std::vector<std::string> captions(const std::vector<FileTableEntry>& rows) {
  std::vector<std::string> out;
  for (const FileTableEntry& e : rows) out.push_back(display_name(e));
  return out;
}

}  // namespace

TEST(ProjectView, RowsAndNodesFollowTheNameView) {
  testkit::TempDir dir;
  ProjectDocument doc;
  std::string message;
  ASSERT_EQ(create_project_document(dir.str("p.cvpr"), 0, false, doc, message), 0) << message;
  FILE* f = doc.file;
  // The folder counts are the records' own (the views trust them, the commands keep them).
  ProjectRecord docs = item(20, 1, "Docs", 1, 1);
  docs.subfolder_count() = 1;
  docs.file_count() = 1;
  ASSERT_EQ(append_item_record(f, docs), 0);
  ASSERT_EQ(append_item_record(f, item(21, 20, "Inner", 1, 1)), 0);
  ASSERT_EQ(append_item_record(f, item(-1, 1, "iso only", 1, 0)), 0);
  ASSERT_EQ(append_item_record(f, item(-2, 1, "mac only", 0, 1)), 0);
  ASSERT_EQ(append_item_record(f, item(-3, 20, "inside", 1, 1)), 0);
  int saved = g_name_view;
  std::vector<FileTableEntry> rows;

  g_name_view = k_name_view_iso;
  ASSERT_EQ(fill_project_file_table(f, 1, false, rows), 0);
  EXPECT_EQ(captions(rows), (std::vector<std::string>{"Docs;ISO", "iso only;ISO"}));
  g_name_view = k_name_view_pc;
  EXPECT_EQ(fill_project_file_table(f, 1, false, rows), 0);
  EXPECT_EQ(captions(rows), (std::vector<std::string>{"Docs", "iso only", "mac only"}));
  g_name_view = k_name_view_hfs;
  EXPECT_EQ(fill_project_file_table(f, 1, false, rows), 0);
  // An HFS target keeps Mac Roman names; they are shown in UTF-8.
  EXPECT_EQ(captions(rows), (std::vector<std::string>{"Docs \xc3\xa9", "mac only \xc3\xa9"}));
  EXPECT_EQ(rows[1].data_size, 2000u);
  EXPECT_EQ(list_row_texts(rows[1])[k_col_signature], "TEXTttxt");
  EXPECT_EQ(rows[0].valence, 2u);  // one subfolder, one file

  g_name_view = k_name_view_pc;
  EXPECT_EQ(fill_project_file_table(f, 20, false, rows), 0);
  EXPECT_EQ(captions(rows), (std::vector<std::string>{"Inner", "inside"}));
  std::vector<ProjectTreeNode> nodes;
  ASSERT_EQ(expand_project_tree_node(f, 1, false, nodes), 0);
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0].id, 20);
  EXPECT_TRUE(nodes[0].has_children);
  EXPECT_EQ(expand_project_tree_node(f, 20, false, nodes), 0);
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_FALSE(nodes[0].has_children);
  EXPECT_TRUE(project_tree_root(f, false).has_children);
  // The ISO+ list shows every record, by its long name.
  EXPECT_EQ(fill_project_file_table(f, 1, true, rows), 0);
  EXPECT_EQ(rows.size(), 3u);
  // An empty folder and a folder nobody has.
  EXPECT_EQ(fill_project_file_table(f, 21, false, rows), 0);
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(fill_project_file_table(f, 999, false, rows), 0);
  EXPECT_TRUE(rows.empty());
  g_name_view = saved;
  close_project_document(doc);
}

// The tree lists a folder's subfolders in the order the list shows them, as
// the Mac orders names: capitals and small letters alike.
TEST(ProjectView, TreeFoldersComeInTheListsOrder) {
  testkit::TempDir dir;
  ProjectDocument doc;
  std::string message;
  ASSERT_EQ(create_project_document(dir.str("p.cvpr"), 0, false, doc, message), 0) << message;
  int32_t id = 20;
  for (const char* name : {"beta", "Alpha", "gamma", "Delta", "alpha2"})
    ASSERT_EQ(append_item_record(doc.file, item(id++, 1, name, 1, 1)), 0);
  int saved = g_name_view;
  for (int view : {k_name_view_iso, k_name_view_pc, k_name_view_hfs}) {
    SCOPED_TRACE(view);
    g_name_view = view;
    std::vector<FileTableEntry> rows;
    ASSERT_EQ(fill_project_file_table(doc.file, 1, false, rows), 0);
    std::vector<ProjectTreeNode> nodes;
    ASSERT_EQ(expand_project_tree_node(doc.file, 1, false, nodes), 0);
    std::vector<std::string> tree;
    for (const ProjectTreeNode& n : nodes) tree.push_back(n.text);
    EXPECT_EQ(tree, captions(rows));
    auto at = [&](const char* name) {
      return std::find_if(tree.begin(), tree.end(), [&](const std::string& t) { return t.rfind(name, 0) == 0; }) -
             tree.begin();
    };
    EXPECT_LT(at("beta"), at("Delta")) << "sorted by character codes, capitals would come first";
    EXPECT_LT(at("Delta"), at("gamma"));
  }
  g_name_view = saved;
  close_project_document(doc);
}
