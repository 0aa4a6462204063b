// Project items edited through their dialogs from the window's commands, then
// compiled and read back by isoinfo and hfsutils; several items deleted at
// once; the file search against a glob of Python's and the pick of a hit.
#include <gtest/gtest.h>

#include <wx/checkbox.h>
#include <wx/notebook.h>

#include <cstring>
#include <fstream>

#include "IO/uitext.h"
#include "compiler/project.h"
#include "dialog_driver.h"
#include "gui/search/file_search.h"

using namespace guitest;
using namespace dialogtest;

namespace {

const std::string k_quorvel = QUORVEL_PATH;

struct ItemsWindow {
  testkit::TempDir dir;
  std::string project = dir.str("p.cvpr");
  MainFrame* f = nullptr;
  explicit ItemsWindow(const std::vector<const char*>& files) {
    for (const char* p : files) {
      testkit::fs::path at = dir.path() / "src" / p;
      testkit::fs::create_directories(at.parent_path());
      testkit::write_text(at, std::string(p) + "\n");
    }
    EXPECT_EQ(testkit::run(testkit::quote(k_quorvel) + " -i " + testkit::quote(project) + " " +
                           testkit::quote(dir.str("src")))
                  .rc,
              0);
  }
  void open() {
    f = open_window({project});
    g_selected_folder = id("src");
  }
  ~ItemsWindow() {
    if (f) close_window(f);
    g_file_dialog_answer = nullptr;
  }
  // The id of the item of that PC name (the first found).
  int32_t id(const std::string& pc_name) const {
    std::vector<ProjectRecord> v = project_records(project);
    const ProjectRecord* r = record_named(v, pc_name);
    EXPECT_NE(r, nullptr) << pc_name;
    return r ? r->id : 0;
  }
  ProjectRecord record(const std::string& pc_name) const {
    std::vector<ProjectRecord> v = project_records(project);
    const ProjectRecord* r = record_named(v, pc_name);
    return r ? *r : ProjectRecord{};
  }
  void compile(const std::string& image) {
    g_file_dialog_answer = [image](const std::string&) { return image; };
    drive({[](wxDialog& d) { click(d, "OK"); }, close_message()});
    run_and_wait(f, "Compil1");
  }
};

std::string spaced(const std::string& s) { return " " + s + "\n"; }

}  // namespace

TEST(ProjectDialogs, EditsThroughTheDialogsReachTheImage) {
  ItemsWindow w({"alpha.txt", "beta.txt", "docs/inner.txt", "docs/deeper/leaf.txt"});
  w.open();
  const std::string iso40 = "An alpha file named with forty letters.t";
  const std::string hfs40 = "The HFS name of alpha is forty chars!!!!";
  const std::string folder40 = "Documents renamed to forty characters ok";
  ASSERT_EQ(iso40.size(), 40u);
  ASSERT_EQ(hfs40.size(), 40u);
  ASSERT_EQ(folder40.size(), 40u);
  int32_t docs = w.id("docs");

  // One file from the list.
  select_rows(w.f, w.id("src"), {w.id("alpha.txt")});
  drive({[&](wxDialog& d) {
           EXPECT_EQ(d.GetName(), "ProjectItem");
           EXPECT_EQ(text_of(d, "PcName"), "alpha.txt");
           std::string accents;
           for (int i = 0; i < 40; ++i) accents += "é";  // 40 characters, 80 bytes: past the field
           type(d, "IsoName", accents);
           click(d, "OK");
           EXPECT_TRUE(d.IsModal()) << "a name past its field was taken";
           type(d, "IsoName", iso40);
           keys(d, "HfsName", hfs40);  // the HFS view holds 31 characters
           EXPECT_EQ(text_of(d, "HfsName"), hfs40.substr(0, 31));
           tick(d, "HfsHidden", true);
           tick(d, "IsoHidden", true);
           type(d, "Type", "ABCD");
           type(d, "Creator", "WXYZ");
           shot(d, "item_properties_file");
           click(d, "OK");
         },
         close_message("item_name_refused")});
  run_and_wait(w.f, "Prop1");
  EXPECT_NE(words(g_driver.texts[1]).find("62"), std::string::npos) << g_driver.texts[1];
  ProjectRecord alpha = w.record("alpha.txt");
  EXPECT_EQ(alpha.long_name, iso40);
  EXPECT_EQ(alpha.hfs_name, hfs40.substr(0, 31));
  EXPECT_EQ(std::string(alpha.type_creator, 8), "ABCDWXYZ");

  // The folder from the tree, through the rename command.
  select_in_tree(w.f, docs);
  drive({[&](wxDialog& d) {
    EXPECT_FALSE(control<wxWindow>(d, "Type")->IsEnabled());  // a folder has no signature
    type(d, "IsoName", folder40);
    keys(d, "HfsName", "Docs Renamed");
    tick(d, "CustomIcon", true);
    shot(d, "item_properties_folder");
    click(d, "OK");
  }});
  run_and_wait(w.f, "Ren");
  EXPECT_EQ(w.id("docs"), docs) << "the renamed folder kept its id";
  EXPECT_NE(w.record("docs").src_flags & k_src_custom_icon, 0);

  // Two files: what differs is shown undecided and left so; an empty creator keeps each one's.
  select_rows(w.f, w.id("src"), {w.id("alpha.txt"), w.id("beta.txt")});
  drive({[](wxDialog& d) {
    EXPECT_EQ(d.GetName(), "ProjectItems");
    EXPECT_EQ(control<wxCheckBox>(d, "HfsHidden")->Get3StateValue(), wxCHK_UNDETERMINED);
    EXPECT_EQ(control<wxCheckBox>(d, "IsoIncluded")->Get3StateValue(), wxCHK_CHECKED);
    EXPECT_EQ(text_of(d, "Type"), "");
    type(d, "Type", "SAME");
    shot(d, "items_properties");
    click(d, "OK");
  }});
  run_and_wait(w.f, "WizProj");
  EXPECT_EQ(std::string(w.record("alpha.txt").type_creator, 8), "SAMEWXYZ");
  EXPECT_EQ(std::string(w.record("beta.txt").type_creator, 4), "SAME");

  // The volume's labels.
  drive({[](wxDialog& d) {
    type(d, "IsoNew", "EDITED");
    click(d, "OK");
  }});
  run_and_wait(w.f, "Label");

  w.compile(w.dir.str("p.iso"));
  std::string image = w.dir.str("p.iso");
  ASSERT_TRUE(testkit::fs::exists(image));
  EXPECT_NE(testkit::run("isoinfo -d -i " + testkit::quote(image)).out.find("Volume id: EDITED\n"), std::string::npos);
  testkit::RunResult found = testkit::run("isoinfo -J -f -i " + testkit::quote(image));
  for (const std::string& path : {"/src/" + iso40 + ";1", "/src/" + folder40 + "/inner.txt;1",
                                  "/src/" + folder40 + "/deeper/leaf.txt;1", std::string("/src/beta.txt;1")})
    EXPECT_NE(found.out.find(path + "\n"), std::string::npos) << path << "\n" << found.out;
  // The ISO-hidden file carries the hidden flag in its directory record.
  testkit::RunResult listed = testkit::run("isoinfo -J -l -i " + testkit::quote(image));
  size_t at = listed.out.find(iso40);
  ASSERT_NE(at, std::string::npos) << listed.out;
  std::string line = listed.out.substr(listed.out.rfind('\n', at) + 1, at - listed.out.rfind('\n', at) - 1);
  EXPECT_NE(line.find(" 01]"), std::string::npos) << line;
  testkit::RunResult h = testkit::run(on_hfs(image, w.dir.str(""),
                                             "hls -la :src; echo ---; hls -1 :src; echo ---; hls -1 ':src:Docs Renamed'; hvol"));
  ASSERT_EQ(h.rc, 0) << h.err;
  std::string all = h.out.substr(0, h.out.find("---"));
  std::string visible = h.out.substr(h.out.find("---"));
  EXPECT_NE(all.find("fi SAME/WXYZ"), std::string::npos) << h.out;  // invisible, with its signature
  EXPECT_NE(all.find(spaced(hfs40.substr(0, 31))), std::string::npos) << h.out;
  EXPECT_EQ(visible.find(hfs40.substr(0, 31)), std::string::npos) << h.out;
  EXPECT_NE(all.find("2 items"), std::string::npos) << h.out;  // the renamed folder's valence
  EXPECT_NE(all.find(spaced("Docs Renamed")), std::string::npos) << h.out;
  EXPECT_NE(h.out.find("deeper\ninner.txt\n"), std::string::npos) << h.out;
  EXPECT_NE(h.out.find("Volume name is \"EDITED\""), std::string::npos) << h.out;
}

TEST(ProjectDialogs, SeveralItemsAndNewFoldersThroughTheWindowKeepTheStoreSound) {
  ItemsWindow w({"alpha.txt", "beta.txt", "docs/inner.txt", "docs/deeper/leaf.txt"});
  w.open();
  int32_t src = w.id("src");
  // New folders in the folder shown; an empty name keeps the dialog up.
  auto new_folder = [](const std::string& name, const std::string& picture) {
    return [name, picture](wxDialog& d) {
      type(d, "Name", "");
      click(d, "OK");
      EXPECT_TRUE(d.IsModal());
      type(d, "Name", name);
      if (!picture.empty()) shot(d, picture);
      click(d, "OK");
    };
  };
  drive({new_folder("first", "new_folder")});
  run_and_wait(w.f, "MD");
  drive({new_folder("second", "")});
  run_and_wait(w.f, "MkDirProj");
  ASSERT_EQ(w.record("first").parent_id, uint32_t(src));
  // A non-empty folder and two files from the list, confirmed once.
  select_rows(w.f, src, {w.id("docs"), w.id("alpha.txt"), w.id("beta.txt")});
  drive({[](wxDialog& d) {
    shot(d, "delete_folder_question");
    click(d, "MessOui");
  }});
  run_and_wait(w.f, "Supp1");
  std::vector<ProjectRecord> left = project_records(w.project);
  std::set<std::string> names;
  for (const ProjectRecord& r : left) names.insert(r.pc_name);
  EXPECT_EQ(names, (std::set<std::string>{"src", "first", "second"}));
  EXPECT_TRUE(check_project_invariants(g_project_file).empty());
  // From the tree: the root stays; a folder gives way to the next one.
  select_in_tree(w.f, k_root_folder_id);
  drive({});
  run_and_wait(w.f, "DelProj");
  EXPECT_EQ(project_records(w.project).size(), 3u);
  select_in_tree(w.f, w.id("first"));
  int32_t second = w.id("second");
  run_and_wait(w.f, "Supp1");
  EXPECT_EQ(project_records(w.project).size(), 2u);
  EXPECT_EQ(w.f->tree_selection(), second);
  EXPECT_EQ(g_selected_folder, second);
  close_window(w.f);
  w.f = nullptr;
  // The console's next folders take fresh ids.
  ASSERT_EQ(testkit::run(testkit::quote(k_quorvel) + " -f " + testkit::quote(w.project) + " x/y").rc, 0);
  std::vector<int32_t> ids;
  for (const ProjectRecord& r : project_records(w.project)) ids.push_back(r.id);
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end()) << "an id handed out twice";
  FILE* p = std::fopen(w.project.c_str(), "rb");
  EXPECT_TRUE(check_project_invariants(p).empty());
  std::fclose(p);
}

namespace {

// The ids a Python script prints, given "id<TAB>text" lines of the
// project's items (those that have a text) and the pattern.
std::set<int32_t> python_ids(const std::string& project, const std::function<std::string(const ProjectRecord&)>& text,
                             const std::string& script, const std::string& pattern) {
  testkit::TempDir dir;
  std::ofstream listing(dir.str("listing"));
  for (const ProjectRecord& r : project_records(project))
    if (!text(r).empty()) listing << r.id << '\t' << text(r) << '\n';
  listing.close();
  testkit::write_text(dir.path() / "judge.py", script);
  testkit::RunResult r =
      testkit::run("python3 " + dir.str("judge.py") + " " + dir.str("listing") + " " + testkit::quote(pattern));
  std::set<int32_t> ids;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) ids.insert(std::stoi(line));
  return ids;
}

std::set<int32_t> python_glob(const std::string& project, const std::string& pattern) {
  return python_ids(project, [](const ProjectRecord& r) { return r.pc_name; },
                    "import re, sys\n"
                    "p = sys.argv[2].strip().lower().replace('*.*', '*')\n"
                    "p = '*' + p[2:] if p.startswith('*.') else p\n"
                    "p = p.replace('.*', '*', 1)\n"
                    "rx = '.*'.join(re.escape(part) for part in p.split('*'))\n"
                    "for line in open(sys.argv[1], encoding='utf-8'):\n"
                    "    i, name = line.rstrip('\\n').split('\\t')\n"
                    "    if re.fullmatch(rx, name.lower(), re.S): print(i)\n",
                    pattern);
}

// The same for signatures: a pattern of up to 4 characters matches a type or
// a creator beginning with it, a longer one the type and the creator's start.
std::set<int32_t> python_signature(const std::string& project, const std::string& pattern) {
  return python_ids(project, [](const ProjectRecord& r) { return r.id < 0 ? std::string(r.type_creator, 8) : ""; },
                    "import sys\n"
                    "p = sys.argv[2]\n"
                    "for line in open(sys.argv[1], encoding='latin-1'):\n"
                    "    i, sig = line.rstrip('\\n').split('\\t')\n"
                    "    if sig.startswith(p) or (len(p) <= 4 and sig[4:].startswith(p)): print(i)\n",
                    pattern);
}

std::set<int32_t> hit_ids(const std::vector<ProjectSearchHit>& hits) {
  std::set<int32_t> ids;
  for (const ProjectSearchHit& h : hits) ids.insert(h.id);
  return ids;
}

}  // namespace

TEST(ProjectDialogs, SearchAgreesWithAGlobAndPicksAHit) {
  ItemsWindow w({"Readme.TXT", "notes.txt", "data.bin", "sub1/a.txt", "sub1/a2.txt", "sub1/b.dat", "sub2/c.txt",
                 "sub2/Readme.md"});
  // Signatures of our own choosing, set in the project before it is opened.
  {
    FILE* p = std::fopen(w.project.c_str(), "r+b");
    for (auto [name, sig] : {std::pair<const char*, const char*>{"notes.txt", "TEXTttxt"}, {"a.txt", "TEXTR*ch"},
                             {"data.bin", "BINAbina"}, {"b.dat", "ttxtTEXT"}, {"c.txt", "textttxt"}}) {
      ProjectRecord r;
      int32_t id = 0;
      for (const ProjectRecord& x : project_records(w.project))
        if (x.pc_name == name) id = x.id, r = x;
      ASSERT_TRUE(find_item_record(p, r, id, r.parent_id));
      std::memcpy(r.type_creator, sig, 8);
      fseeko(p, -off_t(k_project_record_size), SEEK_CUR);
      ASSERT_TRUE(write_project_record(p, r));
    }
    std::fclose(p);
  }
  w.open();
  ASSERT_EQ(g_name_view, k_name_view_pc);
  for (const char* pattern : {"*.txt", "*.TXT", "readme.*", "*a*", "*.*", "b.dat", "nothing*"}) {
    FileSearchModel m;
    m.name = pattern;
    file_search_by_name(m, k_mode_project, g_project_file);
    EXPECT_EQ(hit_ids(m.hits), python_glob(w.project, pattern)) << pattern;
  }
  for (const char* pattern : {"TEXT", "TEXTtt", "text", "ttxt", "R*", "", "TEXTttxtX"}) {
    FileSearchModel m;
    m.signature = pattern;
    file_search_by_signature(m, k_mode_project, g_project_file);
    EXPECT_EQ(hit_ids(m.hits), python_signature(w.project, pattern)) << pattern;
  }

  // Hits in two folders: the pick.
  drive({[](wxDialog& d) {
           EXPECT_EQ(d.GetName(), "RechFich");
           EXPECT_FALSE(control<wxWindow>(d, "LanceNom")->IsEnabled());
           type(d, "EditNom", "*.TXT");
           EXPECT_TRUE(control<wxWindow>(d, "LanceNom")->IsEnabled());
           shot(d, "file_search");
           click(d, "LanceNom");
         },
         [](wxDialog& d) {
           EXPECT_EQ(d.GetName(), "SelFound");
           auto* list = control<wxListCtrl>(d, "ListFound");
           EXPECT_FALSE(control<wxWindow>(d, "Valid")->IsEnabled());
           long row = list->FindItem(-1, "c.txt");
           ASSERT_GE(row, 0);
           EXPECT_EQ(list->GetItemText(row, 6), "textttxt");
           select_row(d, "ListFound", row);
           EXPECT_TRUE(control<wxWindow>(d, "Valid")->IsEnabled());
           shot(d, "hit_selection");
           click(d, "Valid");
         }});
  run_and_wait(w.f, "Rech1");
  EXPECT_EQ(g_selected_folder, w.id("sub2"));
  EXPECT_EQ(w.f->tree_selection(), w.id("sub2"));
  EXPECT_EQ(selected_ids(w.f), std::vector<int32_t>{w.id("c.txt")});
  // One hit: its folder opens with it selected, no pick.
  drive({[](wxDialog& d) {
    EXPECT_EQ(text_of(d, "EditNom"), "*.txt");  // the last criterion, as it was searched
    type(d, "EditNom", "DATA.BIN");
    click(d, "LanceNom");
  }});
  run_and_wait(w.f, "RechProj");
  EXPECT_EQ(g_selected_folder, w.id("src"));
  EXPECT_EQ(selected_ids(w.f), std::vector<int32_t>{w.id("data.bin")});
  // Hits in one folder: all of them selected there.
  drive({[](wxDialog& d) {
    type(d, "EditNom", "a*.txt");
    click(d, "LanceNom");
  }});
  run_and_wait(w.f, "Rech1");
  EXPECT_EQ(g_selected_folder, w.id("sub1"));
  std::vector<int32_t> both = selected_ids(w.f);
  std::sort(both.begin(), both.end());
  std::vector<int32_t> hits = {w.id("a.txt"), w.id("a2.txt")};
  std::sort(hits.begin(), hits.end());
  EXPECT_EQ(both, hits);
  // No hit by name: the dialog stays for another try; by signature it closes.
  drive({[](wxDialog& d) {
           type(d, "EditNom", "Nothing*");
           click(d, "LanceNom");
           EXPECT_TRUE(d.IsModal());
           click(d, "Cancel");
         },
         close_message("search_nothing_found")});
  run_and_wait(w.f, "Rech1");
  EXPECT_EQ(words(g_driver.texts[1]), words(format_text(ui_text(1173).c_str(), "nothing*")));
  drive({[](wxDialog& d) {
           auto* pages = control<wxNotebook>(d, "PageTab");
           pages->SetSelection(1);
           type(d, "EditSign", "ZZZZ");
           click(d, "LanceSign");
         },
         close_message()});
  run_and_wait(w.f, "Rech1");
  EXPECT_EQ(words(g_driver.texts[1]), words(format_text(ui_text(1173).c_str(), "ZZZZ")));
  EXPECT_EQ(g_selected_folder, w.id("sub1")) << "a search without a hit moved the views";
}
