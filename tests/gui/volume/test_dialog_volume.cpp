// The window's dialogs on an open HFS volume: the name truncation prompt of a
// copy (the automatic cut with a CRC checked against Python's binascii, its
// answer kept for the rest of that command only), and the file search of
// Partition Mode, which searches the catalog and picks a hit.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

#include "IO/charsets.h"
#include "IO/prompts.h"
#include "IO/uitext.h"
#include "dialog_driver.h"
#include "gui/commands.h"
#include "gui/search/file_search.h"
#include "gui/views/file_table.h"
#include "hfs/alloc.h"
#include "hfs/newimage.h"
#include "hfs/volume.h"
#include "macfiles/import.h"

using namespace guitest;
using namespace dialogtest;

namespace {

// An empty HFS volume made by the engine, opened by a window as its document.
struct OpenVolume {
  testkit::TempDir dir;
  std::string image = dir.str("v.hfs");
  MainFrame* f = nullptr;
  OpenVolume() {
    int made = ::open(image.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    EXPECT_EQ(create_hfs_image(NewImageRequest{made, "Trunc", 4, 0}), 0);
    ::close(made);
    testkit::fs::create_directories(dir.path() / "pc");
    f = open_window({image});
    EXPECT_EQ(g_working_mode, k_mode_partition);
    EXPECT_GE(g_volume.image_file, 0) << "the window did not mount the volume";
  }
  ~OpenVolume() { close_window(f); }
  std::string pc_file(const std::string& name) {
    testkit::write_text(dir.path() / "pc" / name, name);
    return dir.str("pc/" + name);
  }
  // Copies the PC files onto the volume's root as one command of the window.
  void copy(const std::vector<std::string>& paths) {
    register_command("TestCopy", [paths] {
      EXPECT_EQ(load_allocation_bitmap(), 0);
      for (const std::string& p : paths) (void)import_pc_item(p, 2, 1);  // the test reads what reached the volume
      EXPECT_EQ(flush_volume_structures(), 0);
      if (g_main_views) g_main_views->refresh_views();
    }, k_in_partition);
    run_and_wait(f, "TestCopy");
  }
  std::string listing(const std::string& what = "hls -1aR") {
    return testkit::run(on_hfs(image, dir.str(""), what)).out;
  }
};

// CRC-16 of the Mac Roman name by Python, in the suffix's form (four hex
// digits, least significant nibble first).
std::string python_crc_suffix(const std::string& name) {
  testkit::TempDir d;
  testkit::write_text(d.path() / "crc.py",
                      "import binascii, sys\n"
                      "c = binascii.crc_hqx(sys.argv[1].encode('mac_roman'), 0)\n"
                      "print(''.join('0123456789ABCDEF'[(c >> (4 * i)) & 15] for i in range(4)))\n");
  std::string out = testkit::run("python3 " + d.str("crc.py") + " " + testkit::quote(name)).out;
  return out.substr(0, 4);
}

}  // namespace

TEST(VolumeCopyPrompts, TruncationWithCrcAndTheAnswerEndsWithTheCommand) {
  OpenVolume v;
  const std::string one = "A very long file name that goes past the limit, one.txt";
  const std::string two = "A very long file name that goes past the limit, two.txt";
  const std::string three = "Another name far too long for the HFS volume.txt";
  const std::string cut = cut_hfs_name(one);
  ASSERT_EQ(cut, cut_hfs_name(two));  // both cut alike: the second clashes
  // The first command: asked once, the automatic cut with a CRC chosen.
  drive({[&](wxDialog& d) {
    EXPECT_EQ(d.GetName(), "TTronq");
    EXPECT_EQ(text_of(d, "nom_orig"), one);
    EXPECT_EQ(text_of(d, "nom_fich"), cut);
    tick(d, "CB_Auto", true);
    tick(d, "CB_CRC", true);
    shot(d, "truncation_prompt");
    click(d, "TTVal");
  }});
  v.copy({v.pc_file(one), v.pc_file(two)});
  EXPECT_EQ(g_driver.forms.size(), 1u) << "the chosen rule was not kept for the rest of the command";
  std::string crc_name = two.substr(0, 26) + "-" + python_crc_suffix(two);
  std::set<std::string> names = hls_names(v.listing("hls -1a"));
  EXPECT_EQ(names, (std::set<std::string>{cut, crc_name})) << v.listing();
  // The next command asks again. A name already in the folder cannot be confirmed.
  drive({[&](wxDialog& d) {
    type(d, "nom_fich", cut);
    EXPECT_FALSE(control<wxWindow>(d, "TTVal")->IsEnabled());
    type(d, "nom_fich", "Typed by the user.txt");
    EXPECT_TRUE(control<wxWindow>(d, "TTVal")->IsEnabled());
    shot(d, "truncation_prompt_typed");
    click(d, "TTVal");
  }});
  v.copy({v.pc_file(three)});
  EXPECT_EQ(g_driver.forms.size(), 1u) << "the answer of the last command was used";
  names = hls_names(v.listing("hls -1a"));
  EXPECT_EQ(names.count("Typed by the user.txt"), 1u) << v.listing();
  // Cancelled: the item is not copied.
  drive({[](wxDialog& d) { click(d, "Cancel"); }});
  v.copy({v.pc_file("Yet another name that is much too long.txt")});
  EXPECT_EQ(hls_names(v.listing("hls -1a")).size(), 3u);
}

TEST(VolumeCopyPrompts, PartitionSearchFindsInTheCatalogAndPicksAHit) {
  OpenVolume v;
  MainFrame* f = v.f;
  testkit::fs::create_directories(v.dir.path() / "pc" / "Sub");
  testkit::write_text(v.dir.path() / "pc" / "Sub" / "deep.txt", "deep");
  v.copy({v.pc_file("top.txt"), v.pc_file("other.TXT"), v.pc_file("picture.pict"), v.dir.str("pc/Sub")});
  // The hits against a glob of Python's over hls's listing.
  std::string names_file = v.dir.str("names");
  {
    std::ofstream out(names_file);
    for (const std::string& n : hls_names(v.listing())) out << n << '\n';
  }
  for (const char* pattern : {"*.txt", "*o*", "sub", "picture.*"}) {
    FileSearchModel m;
    m.name = pattern;
    file_search_by_name(m, k_mode_partition, nullptr);
    std::set<std::string> found;
    for (const ProjectSearchHit& h : m.hits) found.insert(h.pc_name);
    testkit::RunResult py = testkit::run(
        "python3 -c \"import re, sys\np = sys.argv[1].lower().replace('.*', '*')\np = '*' + p[2:] if p.startswith('*.') "
        "else p\nrx = '.*'.join(re.escape(x) for x in p.split('*'))\n[print(n) for n in open(sys.argv[2]).read()."
        "splitlines() if re.fullmatch(rx, n.lower())]\" " +
        testkit::quote(pattern) + " " + testkit::quote(names_file));
    std::set<std::string> expected;
    std::istringstream in(py.out);
    for (std::string line; std::getline(in, line);) expected.insert(line);
    EXPECT_EQ(found, expected) << pattern << py.err;
  }
  // Through the window: hits in two folders, the one picked opens its folder.
  drive({[](wxDialog& d) {
           type(d, "EditNom", "*.txt");
           click(d, "LanceNom");
         },
         [](wxDialog& d) {
           auto* list = control<wxListCtrl>(d, "ListFound");
           long row = list->FindItem(-1, "deep.txt");
           ASSERT_GE(row, 0);
           select_row(d, "ListFound", row);
           shot(d, "hit_selection_volume");
           click(d, "Valid");
         }});
  run_and_wait(f, "RechPart");
  std::vector<int32_t> picked = selected_ids(f);
  ASSERT_EQ(picked.size(), 1u);
  std::string ids = v.listing("hls -i :Sub; hls -id :Sub");
  uint32_t sub = g_partition_folder;
  EXPECT_NE(sub, 2u);
  EXPECT_EQ(f->tree_selection(), int32_t(sub));
  FileTableEntry row = f->selected_entries()[0];
  EXPECT_EQ(display_name(row), "deep.txt");
  EXPECT_NE(ids.find(std::to_string(sub) + " :Sub"), std::string::npos) << ids;
}

