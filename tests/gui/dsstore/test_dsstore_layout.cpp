// The .DS_Store editor's logic over a real project: defaults, the written file
// and its background folder, a second run over a damaged file, and the compiled
// HFS+ volume as sleuthkit reads it.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "IO/bigendian.h"
#include "compiler/additems.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "gui/dsstore/dsstore_editor.h"
#include "gui/dsstore/dsstore_layout.h"
#include "support/inclusion_kit.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

// A hybrid HFS+ project holding every file of src (in its root).
struct Project {
  TempDir dir;
  std::string path = dir.str("disc.cvpr");
  std::string src = dir.str("src");
  FILE* f = nullptr;

  explicit Project(const std::vector<std::string>& names, const std::vector<std::string>& folders = {}) {
    recorded_ui();
    fs::create_directories(src);
    for (const std::string& n : names) write_text(src + "/" + n, "data of " + n);
    for (const std::string& n : folders) {
      fs::create_directories(src + "/" + n);
      write_text(src + "/" + n + "/inside.txt", "x");
    }
    EXPECT_EQ(create_project_file(path, k_pref_hfsplus_default, "Corvane CD"), 0);
    f = std::fopen(path.c_str(), "r+b");
    read_project_id_counters(f, g_last_folder_id, g_last_file_serial);
    g_auto_truncate_iso = g_auto_truncate_hfs = g_auto_truncate_hfsplus = true;
    g_name_view = k_name_view_pc;
    ProjectRecord buf;
    AddCounts counts;
    if (!names.empty() || !folders.empty()) {
      add_pc_items(f, counts, buf, src + "/*", k_root_folder_id);
      add_folder_counts(f, k_root_folder_id, int32_t(counts.folders_added), int32_t(counts.files_added));
    }
    write_project_totals(f);
  }
  ~Project() {
    if (f) std::fclose(f);
  }
  int count_root(const std::string& hfs_name) { return testkit::count_root_items(f, hfs_name); }
  // The editor's defaults with the background picture, written to target.
  int write_default_with_picture(const std::string& target, std::string& msg) {
    DsStoreLayout l;
    open_ds_store_layout(f, l, msg);
    l.background_picture = picture();
    return write_ds_store(f, l, target, msg);
  }
  std::string picture(int w = 640) {
    std::string p = dir.str("fond.jpg");
    write_text(p, "JPEG stand-in " + std::to_string(w));
    return p;
  }
};

std::vector<std::string> names_for(int n) {
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.push_back("Élément " + std::to_string(100 + i) + ".txt");
  return out;
}

const DsStoreRecord* find(const std::vector<DsStoreRecord>& recs, const std::u16string& name, const char (&code)[5]) {
  for (const DsStoreRecord& r : recs)
    if (r.name == name && r.code == fourcc(code)) return &r;
  return nullptr;
}

}  // namespace

TEST(DsStoreLayout, DefaultsListRootItemsOnTheGrid) {
  Project p({"b.txt", "a.txt", ".hidden", "c.txt", "d.txt"});
  DsStoreLayout l;
  std::string msg;
  open_ds_store_layout(p.f, l, msg);
  EXPECT_TRUE(msg.empty());
  EXPECT_FALSE(l.loaded_existing);
  EXPECT_EQ(l.left, 100);
  EXPECT_EQ(l.bottom, 400);
  EXPECT_EQ(k_ds_icon_sizes[l.icon_size_index], 80);
  EXPECT_EQ(k_ds_text_sizes[l.text_size_index], 14);
  EXPECT_EQ(k_ds_spacing_values[l.spacing_index], 86);
  ASSERT_EQ(l.items.size(), 4u);
  EXPECT_EQ(l.items[0].name, "a.txt");
  EXPECT_EQ(l.items[0].x + "," + l.items[0].y, "95,51");
  EXPECT_EQ(l.items[1].x + "," + l.items[1].y, "279,51");
  EXPECT_EQ(l.items[2].x + "," + l.items[2].y, "95,183");
  // An unknown text size keeps the grid row; a new spacing moves the columns.
  select_icon_grid(l, 4, 9, 0);
  EXPECT_EQ(l.text_size_index, 2);
  EXPECT_EQ(l.x0, 49);
  EXPECT_EQ(l.step_x, 92);
}

TEST(DsStoreLayout, WrittenFileRoundTripsWithAndWithoutPicture) {
  REQUIRE_TOOL("file");
  REQUIRE_TOOL("python3");
  for (int n : {0, 1, 50}) {
    for (bool with_picture : {false, true}) {
      Project p(names_for(n), n ? std::vector<std::string>{"Dossier été"} : std::vector<std::string>{});
      DsStoreLayout l;
      std::string msg;
      open_ds_store_layout(p.f, l, msg);
      l.icon_size_index = 2;
      l.text_size_index = 3;
      l.spacing_index = 1;
      l.left = 40, l.top = 60, l.right = 640, l.bottom = 500;
      l.width = 600, l.height = 440;
      for (size_t i = 0; i < l.items.size(); ++i) {
        l.items[i].x = std::to_string(10 + i);
        l.items[i].y = std::to_string(300 + 2 * i);
      }
      if (with_picture) l.background_picture = p.picture();
      std::string target = p.dir.str("out/.DS_Store");
      fs::create_directories(p.dir.str("out"));
      ASSERT_EQ(write_ds_store(p.f, l, target, msg), 0) << msg;
      RunResult f = run("file -b " + quote(target));
      EXPECT_NE(f.out.find("Apple Desktop Services Store"), std::string::npos) << f.out;
      std::vector<uint8_t> bytes = read_file(target);
      std::vector<DsStoreRecord> recs;
      ASSERT_EQ(read_ds_store_records(bytes.data(), bytes.size(), recs, msg), 0) << msg;
      // The outside walker finds the same records, the "pict" alias included.
      RunResult walked = run("python3 " + quote(std::string(CORVANE_SOURCE_DIR) + "/tests/macfiles/ds_store_walk.py") +
                             " " + quote(target));
      ASSERT_EQ(walked.rc, 0) << walked.err;
      EXPECT_EQ(size_t(std::count(walked.out.begin(), walked.out.end(), '\n')), recs.size()) << n;
      EXPECT_EQ(walked.out.find(".\tpict\tblob\t") != std::string::npos, with_picture) << walked.out;
      size_t rows = n ? size_t(n) + 1 : 0;
      EXPECT_EQ(recs.size(), 7 + (with_picture ? 1 : 0) + rows + (n ? 1 : 0)) << n;
      EXPECT_EQ(find(recs, u".", "pict") != nullptr, with_picture);
      if (with_picture) {
        EXPECT_EQ(l.pict_record_length, ds_store_record_size(*find(recs, u".", "pict")));
        EXPECT_EQ(ds_store_value_u32(*find(recs, u".", "BKGD"), 4), find(recs, u".", "pict")->value.size());
      }
      if (n) {  // names in the file as HFS+ keeps them: decomposed
        const DsStoreRecord* r = find(recs, u"E\u0301le\u0301ment 100.txt", "Iloc");
        ASSERT_NE(r, nullptr);
        for (const DsStoreItem& it : l.items)
          if (it.name == "Élément 100.txt") {
            EXPECT_EQ(std::to_string(ds_store_value_u32(*r, 4)), it.y);
          }
        EXPECT_NE(find(recs, u"Dossier e\u0301te\u0301", "icgo"), nullptr);
      }
      EXPECT_EQ(p.count_root(".DS_Store"), 1);
      EXPECT_EQ(p.count_root(".!Background"), with_picture ? 1 : 0);
      EXPECT_TRUE(check_project_invariants(p.f).empty()) << check_project_invariants(p.f)[0];

      DsStoreLayout back;
      open_ds_store_layout(p.f, back, msg);
      ASSERT_TRUE(back.loaded_existing) << msg;
      EXPECT_EQ(back.left, 40);
      EXPECT_EQ(back.bottom, 500);
      EXPECT_EQ(back.height, 440);
      EXPECT_EQ(back.icon_size_index, 2);
      EXPECT_EQ(back.text_size_index, 3);
      EXPECT_EQ(back.spacing_index, 1);
      EXPECT_EQ(back.background_picture, with_picture ? p.picture() : "");
      ASSERT_EQ(back.items.size(), l.items.size());
      for (const DsStoreItem& it : l.items) {
        bool same = false;
        for (const DsStoreItem& b : back.items) same |= b.id == it.id && b.name == it.name && b.x == it.x && b.y == it.y;
        EXPECT_TRUE(same) << it.name;
      }
    }
  }
}

// Create over a .DS_Store the Finder wrote: every record the editor does not
// make (the window's "bwsp", "icvp", "pBBk", a folder's "lsvp"...) comes back
// byte for byte, as the outside walker lists it; an icon moved keeps the rest
// of its "Iloc" value.
TEST(DsStoreLayout, CreateOverAFinderFileKeepsTheRecordsItDoesNotEdit) {
  REQUIRE_TOOL("python3");
  const std::string fixtures = std::string(CORVANE_SOURCE_DIR) + "/tests/macfiles/fixtures/";
  auto walk = [](const std::string& path) {
    RunResult w = run("python3 " + quote(std::string(CORVANE_SOURCE_DIR) + "/tests/macfiles/ds_store_walk.py") +
                      " " + quote(path));
    EXPECT_EQ(w.rc, 0) << w.err;
    std::vector<std::string> lines;
    for (size_t at = 0, nl; (nl = w.out.find('\n', at)) != std::string::npos; at = nl + 1)
      lines.push_back(w.out.substr(at, nl - at));
    return lines;
  };
  struct Case {
    const char* fixture;
    std::vector<std::string> files, folders;
    const char* moved;  // the row the user moves, "" for none
  } cases[] = {
      {"pricey-dmg.DS_Store", {"Pricey-darwin-arm64.zip"}, {"Applications", "Pricey.app", ".background"}, "Pricey.app"},
      {"leicaland-css.DS_Store", {"main.css"}, {"fonts"}, ""},
  };
  for (const Case& c : cases) {
    Project p(c.files, c.folders);
    std::string finder = p.dir.str("finder.DS_Store");
    fs::copy_file(fixtures + c.fixture, finder);
    std::string target = p.src + "/.DS_Store";
    fs::copy_file(finder, target);
    ProjectRecord buf;
    AddCounts counts;
    add_pc_items(p.f, counts, buf, target, k_root_folder_id);
    ASSERT_EQ(counts.files_added, 1u);

    DsStoreLayout l;
    std::string msg;
    open_ds_store_layout(p.f, l, msg);
    ASSERT_TRUE(l.loaded_existing) << c.fixture << msg;
    for (size_t i = 0; i < l.items.size(); ++i)
      if (l.items[i].name == c.moved) set_item_position(l, int(i), 120, 240);
    ASSERT_EQ(write_ds_store(p.f, l, target, msg), 0) << c.fixture << msg;

    std::vector<std::string> before = walk(finder), after = walk(target);
    ASSERT_FALSE(before.empty());
    for (const std::string& line : before) {
      std::string name = line.substr(0, line.find('\t')), code = line.substr(name.size() + 1, 4);
      bool edited = name == "." && std::string("BKGD fwi0 fwvh icgo icvo icvt pict vstl").find(code) != std::string::npos;
      if (edited) continue;
      if (name == c.moved && code == "Iloc") {
        // x 120, y 240; the Finder's last eight bytes as they were.
        std::string value = line.substr(line.rfind('\t') + 1);
        EXPECT_NE(std::find(after.begin(), after.end(),
                            name + "\tIloc\tblob\t00000078000000f0" + value.substr(16)),
                  after.end())
            << line;
        continue;
      }
      EXPECT_NE(std::find(after.begin(), after.end(), line), after.end()) << c.fixture << ": " << line;
    }
  }
}

TEST(DsStoreLayout, SecondRunOverADamagedFileKeepsOneBackgroundFolder) {
  Project p({"a.txt", "b.txt"});
  std::string msg;
  std::string target = p.dir.str(".DS_Store");
  ASSERT_EQ(p.write_default_with_picture(target, msg), 0) << msg;
  write_text(target, "not a desktop file at all");
  DsStoreLayout again;
  open_ds_store_layout(p.f, again, msg);
  EXPECT_FALSE(again.loaded_existing);
  EXPECT_NE(msg.find("not valid"), std::string::npos) << msg;
  again.background_picture = p.picture();
  ASSERT_EQ(write_ds_store(p.f, again, target, msg), 0) << msg;
  EXPECT_EQ(p.count_root(".!Background"), 1);
  EXPECT_EQ(p.count_root(".DS_Store"), 1);
  EXPECT_TRUE(check_project_invariants(p.f).empty());
  ProjectRecord r;
  EXPECT_NE(find_record_by_id(p.f, r, k_background_folder_id), nullptr);
  EXPECT_EQ(count_children(p.f, uint32_t(k_background_folder_id)), 1u);
}

TEST(DsStoreLayout, RefusalsLeaveTheProjectAsItWas) {
  Project p({"a.txt"});
  DsStoreLayout l;
  std::string msg;
  open_ds_store_layout(p.f, l, msg);
  long before = project_record_count(p.f);
  // A target of another name; a target that cannot be created once the
  // background folder is in.
  EXPECT_EQ(write_ds_store(p.f, l, p.dir.str("layout.bin"), msg), -1);
  EXPECT_FALSE(msg.empty());
  l.background_picture = p.picture();
  EXPECT_EQ(write_ds_store(p.f, l, p.dir.str("missing/.DS_Store"), msg), -1);
  EXPECT_NE(msg.find("missing/.DS_Store"), std::string::npos) << msg;
  EXPECT_EQ(project_record_count(p.f), before);
  EXPECT_EQ(p.count_root(".!Background"), 0);
  // A write cut short (a file size limit stands in for a full disk): the file
  // that was there stays whole, no temporary file is left, the project as it was.
  std::string target = p.dir.str(".DS_Store");
  write_text(target, "the file that was there");
  l.background_picture.clear();
  int rc = 0;
  {
    testkit::FileSizeLimit full(1024);
    rc = write_ds_store(p.f, l, target, msg);
  }
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(read_text(target), "the file that was there");
  EXPECT_EQ(project_record_count(p.f), before);
  for (const auto& e : fs::directory_iterator(p.dir.path()))
    EXPECT_EQ(e.path().filename().string().find(".DS_Store."), std::string::npos) << e.path();
}

TEST(DsStoreLayout, CompiledVolumeHoldsTheFileAndTheAliasNamesTheFolder) {
  REQUIRE_TOOL("fls");
  REQUIRE_TOOL("icat");
  REQUIRE_TOOL("mmls");
  Project p({"!Lisez-moi.txt", "Zèbre.txt", "readme.txt"}, {"Images"});
  std::string msg;
  std::string target = p.dir.str(".DS_Store");
  ASSERT_EQ(p.write_default_with_picture(target, msg), 0) << msg;
  std::fclose(p.f);
  p.f = nullptr;
  ASSERT_EQ(cli_compile_hybrid(p.path.c_str()), 0) << (recorded_ui().messages.empty() ? "" : recorded_ui().messages[0]);
  std::string img = p.dir.str("disc.iso");
  RunResult mm = run("mmls -t mac -b 2048 " + quote(img));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(mm.out, m, std::regex("001\\s+0*([0-9]+)\\s+[0-9]+\\s+[0-9]+\\s+Apple_HFS"))) << mm.out;
  std::string offset = std::to_string(std::stoul(m[1]) * 4);
  RunResult f = run("fls -f hfsp -r -p -o " + offset + " " + quote(img));
  ASSERT_EQ(f.rc, 0) << f.err;
  std::smatch store, folder;
  std::string listing = f.out;
  auto count = [&](const std::string& re) {
    std::regex r(re);
    return std::distance(std::sregex_iterator(listing.begin(), listing.end(), r), std::sregex_iterator());
  };
  EXPECT_EQ(count("\t\\.DS_Store\n"), 1) << listing;
  EXPECT_EQ(count("\t\\.!Background/fond\\.jpg\n"), 1) << listing;
  EXPECT_EQ(count("\t\\.!Background\n"), 1) << listing;
  ASSERT_TRUE(std::regex_search(listing, store, std::regex("r/r ([0-9]+):\t\\.DS_Store\n"))) << listing;
  ASSERT_TRUE(std::regex_search(listing, folder, std::regex("d/d ([0-9]+):\t\\.!Background\n"))) << listing;
  RunResult c = run("icat -f hfsp -o " + offset + " " + quote(img) + " " + store[1].str() + " > " +
                    quote(p.dir.str("copy")));
  ASSERT_EQ(c.rc, 0) << c.err;
  std::vector<uint8_t> bytes = read_file(target);
  EXPECT_EQ(read_file(p.dir.str("copy")), bytes);
  RunResult st = run("istat -f hfsp -o " + offset + " " + quote(img) + " " + folder[1].str());
  EXPECT_EQ(st.rc, 0) << st.err;
  std::vector<DsStoreRecord> recs;
  ASSERT_EQ(read_ds_store_records(bytes.data(), bytes.size(), recs, msg), 0);
  const DsStoreRecord* pict = find(recs, u".", "pict");
  ASSERT_NE(pict, nullptr);
  EXPECT_EQ(std::to_string(ds_store_value_u32(*pict, 46)), folder[1].str());
  // Tag 1 of the extras carries the same id.
  EXPECT_EQ(ds_store_value_u16(*pict, 150), 0);
  size_t tag1 = 150 + 4 + 12;
  EXPECT_EQ(ds_store_value_u16(*pict, tag1), 1);
  EXPECT_EQ(std::to_string(ds_store_value_u32(*pict, tag1 + 4)), folder[1].str());
}

TEST(DsStoreLayout, AnHfsProjectIsSwitchedToHfsPlus) {
  TempDir dir;
  std::string path = dir.str("old.cvpr");
  ASSERT_EQ(create_project_file(path, 0, "Old CD"), 0);
  FILE* f = std::fopen(path.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(get_project_hfs_format(f), 0);
  EXPECT_EQ(switch_project_to_hfsplus(f), 1);
  EXPECT_EQ(get_project_hfs_format(f), 1);
  EXPECT_EQ(switch_project_to_hfsplus(f), 0);
  std::fclose(f);
}
