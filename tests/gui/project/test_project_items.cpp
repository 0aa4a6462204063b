// Properties, delete and new folders of project items as the commands make
// them: the store stays sound (its own checker and a later console command
// agree), views pass down only when they change, and answers a command
// remembers end with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "compiler/project.h"
#include "gui/commands.h"
#include "gui/dialoghooks.h"
#include "gui/forms/name_checks.h"
#include "gui/menumodel.h"
#include "gui/project/item_properties.h"
#include "gui/project/long_names.h"
#include "gui/project/projectitems.h"
#include "hfs/voledit.h"
#include "macfiles/import.h"
#include "support/testkit.h"
#include "support/volume_kit.h"

using namespace testkit;

namespace {

const std::string k_quorvel = QUORVEL_PATH;

// src/{a.txt, b.txt, dir1/{c.txt, sub/d.txt}, dir2/e.txt} included by the console.
struct ItemsProject {
  TempDir dir;
  std::string path = dir.str("p.cvpr");
  FILE* f = nullptr;
  uint32_t src = 0;
  ItemsProject() {
    for (const char* p : {"src/dir1/sub", "src/dir2"}) fs::create_directories(dir.path() / p);
    for (const char* p : {"src/a.txt", "src/b.txt", "src/dir1/c.txt", "src/dir1/sub/d.txt", "src/dir2/e.txt"})
      write_text(dir.path() / p, p);
    EXPECT_EQ(run(quote(k_quorvel) + " -i " + quote(path) + " " + quote(dir.str("src"))).rc, 0);
    open();
  }
  void open() {
    f = std::fopen(path.c_str(), "r+b");
    EXPECT_EQ(verify_opened_project(f, path.c_str()), 0);
    src = uint32_t(find_child_id_by_pc_name(f, "src", 1));
    EXPECT_GT(src, 1u);
  }
  void close() {
    std::fclose(f);
    f = nullptr;
  }
  ~ItemsProject() {
    if (f) std::fclose(f);
  }
  ItemRef item(const char* name, uint32_t parent) { return {find_child_id_by_pc_name(f, name, parent), parent}; }
  ProjectRecord record(const ItemRef& i) {
    ProjectRecord r;
    EXPECT_TRUE(find_item_record(f, r, i.id, i.parent)) << i.id;
    return r;
  }
  void rewrite(ProjectRecord r) {
    ProjectRecord old;
    ASSERT_TRUE(find_item_record(f, old, r.id, r.parent_id));
    fseeko(f, -off_t(k_project_record_size), SEEK_CUR);
    ASSERT_TRUE(write_project_record(f, r));
    std::fflush(f);
  }
};

// The property dialog as the tests answer it.
int (*g_answer)(ProjectRecord&) = nullptr;
int answer_dialog(ProjectRecord& r, bool) { return g_answer ? g_answer(r) : 0; }

struct DialogAnswers {
  volkit::Forms forms;  // every question answered "Yes"
  DialogAnswers() {
    g_gui_forms = &forms;
    g_item_properties_form = answer_dialog;
  }
  ~DialogAnswers() {
    g_gui_forms = nullptr;
    g_item_properties_form = nullptr;
    g_answer = nullptr;
  }
};

}  // namespace

TEST(ProjectItems, DeletingSeveralItemsLeavesASoundStoreAndFreshIds) {
  ItemsProject p;
  ItemRef dir1 = p.item("dir1", p.src), dir2 = p.item("dir2", p.src);
  std::vector<ItemRef> items = {dir1, p.item("a.txt", p.src), p.item("b.txt", p.src)};
  DialogAnswers answers;  // "Yes" to the non-empty folder
  begin_project_edit(p.f);
  EXPECT_EQ(delete_project_items(p.f, items), 3);
  EXPECT_EQ(finish_project_command(p.f, false, 0), 0);
  EXPECT_TRUE(check_project_invariants(p.f).empty());
  EXPECT_EQ(project_record_count(p.f), 4);  // header, src, dir2, e.txt
  EXPECT_EQ(p.record({int32_t(p.src), 1}).subfolder_count(), 1u);
  EXPECT_EQ(p.record({int32_t(p.src), 1}).file_count(), 0u);
  // A remembered "No" keeps a non-empty folder whole.
  g_delete_folder_answer = -1;
  begin_project_edit(p.f);
  EXPECT_EQ(delete_project_items(p.f, {dir2, ItemRef{-999, uint32_t(p.src)}, ItemRef{k_root_folder_id, 0}}), 0);
  EXPECT_EQ(finish_project_command(p.f, false, 0), 0);
  g_delete_folder_answer = 0;
  EXPECT_EQ(project_record_count(p.f), 4);
  p.close();
  // The console's next folders take ids never used, not those of the deleted ones.
  ASSERT_EQ(run(quote(k_quorvel) + " -f " + quote(p.path) + " x/y/z").rc, 0);
  p.open();
  EXPECT_TRUE(check_project_invariants(p.f).empty());
  std::fseek(p.f, long(k_project_record_size), SEEK_SET);
  ProjectRecord r;
  std::vector<int32_t> ids;
  while (read_project_record(p.f, r)) ids.push_back(r.id);
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
  EXPECT_GT(p.item("x", 1).id, dir2.id) << "an id at or below one used before handed out again";
}

TEST(ProjectItems, ViewsPassDownOnlyWhenTheyChangeAndLiftTheParents) {
  ItemsProject p;
  DialogAnswers answers;
  ItemRef dir1 = p.item("dir1", p.src);
  ItemRef sub = p.item("sub", uint32_t(dir1.id));
  ItemRef c = p.item("c.txt", uint32_t(dir1.id));
  // Out of the HFS view: the folder and everything below it.
  g_answer = [](ProjectRecord& r) {
    set_hfs_view(r, 0);
    return -2;
  };
  EXPECT_EQ(edit_project_item(p.f, dir1), 2);
  EXPECT_EQ(hfs_view(p.record(c)), 0);
  EXPECT_EQ(hfs_view(p.record(p.item("d.txt", uint32_t(sub.id)))), 0);
  EXPECT_EQ(hfs_view(p.record(p.item("e.txt", uint32_t(p.item("dir2", p.src).id)))), 1);
  // One child back in: hiding the folder afterwards leaves the child as it is.
  ProjectRecord back = p.record(c);
  set_hfs_view(back, 1);
  p.rewrite(back);
  g_answer = [](ProjectRecord& r) {
    r.attr_flags |= 0x08;  // hidden in the HFS view
    return -2;
  };
  EXPECT_EQ(edit_project_item(p.f, dir1), 2);
  EXPECT_EQ(hfs_view(p.record(c)), 1);
  // A file put in the ISO view lifts its folders into it.
  ProjectRecord src = p.record({int32_t(p.src), 1}), d1 = p.record(dir1), cf = p.record(c);
  set_iso_view(src, 0);
  set_iso_view(d1, 0);
  set_iso_view(cf, 0);
  p.rewrite(src);
  p.rewrite(d1);
  p.rewrite(cf);
  g_answer = [](ProjectRecord& r) {
    set_iso_view(r, 1);
    return -2;
  };
  EXPECT_EQ(edit_project_item(p.f, c), 2);
  EXPECT_EQ(iso_view(p.record(dir1)), 1);
  EXPECT_EQ(iso_view(p.record({int32_t(p.src), 1})), 1);
  // Nothing changed, nothing written.
  g_answer = [](ProjectRecord&) { return 0; };
  EXPECT_EQ(edit_project_item(p.f, c), 0);
  EXPECT_TRUE(check_project_invariants(p.f).empty());
}

TEST(ProjectItems, SeveralItemsKeepWhatTheDialogLeftMixedOrEmpty) {
  ItemsProject p;
  ItemRef a = p.item("a.txt", p.src), b = p.item("b.txt", p.src), dir1 = p.item("dir1", p.src);
  ProjectRecord rb = p.record(b);
  set_iso_view(rb, 0);
  std::memcpy(rb.type_creator, "TEXTbbbb", 8);
  p.rewrite(rb);
  ProjectRecord ra = p.record(a);
  std::memcpy(ra.type_creator, "TEXTaaaa", 8);
  p.rewrite(ra);
  ItemsPropertiesModel shown;
  auto ask = [&shown](ItemsPropertiesModel& m) {
    shown = m;
    m.type = "ABCD";  // the creators were left empty: each file keeps its own
    m.hfs_included = 0;
    return 1;
  };
  EXPECT_EQ(edit_project_items(p.f, false, {a, b, dir1}, ask), 3);
  EXPECT_EQ(shown.iso_included, -1);  // mixed
  EXPECT_EQ(shown.hfs_included, 1);
  EXPECT_TRUE(shown.type.empty());  // two signatures: none shown
  EXPECT_EQ(std::string(p.record(a).type_creator, 8), "ABCDaaaa");
  EXPECT_EQ(std::string(p.record(b).type_creator, 8), "ABCDbbbb");
  EXPECT_EQ(iso_view(p.record(a)), 1);
  EXPECT_EQ(iso_view(p.record(b)), 0);
  EXPECT_EQ(hfs_view(p.record(p.item("c.txt", uint32_t(dir1.id)))), 0);  // the folder's contents follow it
  EXPECT_EQ(iso_view(p.record(p.item("c.txt", uint32_t(dir1.id)))), 1);  // the ISO view they keep
  // Cancelled: nothing.
  EXPECT_EQ(edit_project_items(p.f, false, {a, b}, [](ItemsPropertiesModel&) { return 0; }), 0);
  EXPECT_TRUE(check_project_invariants(p.f).empty());
}

TEST(ProjectItems, TheTreeShowsTheNextFolderAfterADelete) {
  ItemsProject p;
  int32_t dir1 = p.item("dir1", p.src).id, dir2 = p.item("dir2", p.src).id;
  EXPECT_EQ(folder_after_delete(p.f, false, dir1, p.src), dir2);
  EXPECT_EQ(folder_after_delete(p.f, false, dir2, p.src), dir1);
  int32_t sub = p.item("sub", uint32_t(dir1)).id;
  EXPECT_EQ(folder_after_delete(p.f, false, sub, uint32_t(dir1)), dir1);
}

TEST(ProjectItems, NewFolderNamesFitTheirFieldAndIsoplusFoldersStayIso) {
  std::string stored;
  EXPECT_EQ(check_project_folder_name("", stored), 0);
  EXPECT_EQ(check_project_folder_name("a/b", stored), 1);
  EXPECT_EQ(stored, "a_b");
  EXPECT_EQ(check_project_folder_name(std::string(243, 'n'), stored), 1);
  EXPECT_EQ(check_project_folder_name(std::string(244, 'n'), stored), k_text_name_too_long);
  EXPECT_EQ(check_project_folder_name(std::string("\xc3(", 2), stored), k_text_name_too_long);
  TempDir dir;
  std::string path = dir.str("i.cvso");
  ASSERT_EQ(create_project_file(path, 0), 0);
  FILE* f = std::fopen(path.c_str(), "r+b");
  read_project_id_counters(f, g_last_folder_id, g_last_file_serial);
  int32_t id = make_project_folder(f, true, "Nouveau dossier", 1);
  ASSERT_GT(id, 1);
  ProjectRecord r;
  ASSERT_TRUE(find_item_record(f, r, id, 1));
  EXPECT_EQ(iso_view(r), 1);
  EXPECT_EQ(hfs_view(r), 0);
  EXPECT_EQ(finish_project_command(f, true, 0), 0);
  EXPECT_TRUE(check_project_invariants(f).empty());
  std::fclose(f);
}

TEST(ProjectItems, AnAnswerRememberedForACommandEndsWithIt) {
  int mode = g_working_mode;
  g_working_mode = k_mode_partition;
  int seen = -1;
  register_command("TestRemember", [&seen] {
    seen = g_truncation_answer;
    g_truncation_answer = 2;  // the prompt's "automatic, with a CRC"
  }, k_in_partition);
  g_truncation_answer = 1;  // left over from outside any command
  EXPECT_TRUE(run_registered_command("TestRemember"));
  EXPECT_EQ(seen, 0);
  EXPECT_EQ(g_truncation_answer, 0);
  g_working_mode = mode;
}
