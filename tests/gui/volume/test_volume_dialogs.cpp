// The property dialogs' models against what hfsutils and sleuthkit read of the
// same items, their Write rules, the PC browser's listing, order, placement and
// room check, and the two prompts of a copy to the PC.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <fstream>

#include "IO/fileio.h"
#include "IO/prompts.h"
#include "IO/settings.h"
#include "IO/uitext.h"
#include "gui/browser/pc_browser.h"
#include "gui/forms/name_checks.h"
#include "gui/volume/transfer_dialogs.h"
#include "gui/volume/volume_properties.h"
#include "hfs/alloc.h"
#include "hfs/voledit.h"
#include "platform/settings_store.h"
#include "support/recording_ui.h"
#include "support/volume_images.h"

using namespace volkit;
using testkit::TempDir;

namespace {

// "%x %X" of a time given as "YYYY-MM-DD HH:MM:SS" local time, as the dialogs show dates.
std::string shown_date(const std::string& local) {
  struct tm tm {};
  strptime(local.c_str(), "%Y-%m-%d %H:%M:%S", &tm);
  tm.tm_isdst = -1;
  time_t t = mktime(&tm);
  localtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%x %X", &tm);
  return buf;
}

}  // namespace

TEST(VolumeDialogs, HfsPlusFilePropertiesAreWhatSleuthkitReads) {
  REQUIRE_TOOL("istat");
  REQUIRE_TOOL("tobin");
  TempDir dir;
  PcInputs in = make_pc_inputs(dir);
  std::string img = hfsplus_image(dir);
  ASSERT_EQ(testvol::open_volume(img, true), 0);
  fill_volume(in);
  VolumeItemProperties m;
  ASSERT_EQ(load_volume_item_properties(2, item_id(2, "MBFILE"), m), 0);
  testvol::close_volume();

  auto id = run("ifind -f hfsp -o 64 -n /MBFILE " + quote(img));
  std::string st = run("istat -f hfsp -o 64 " + quote(img) + " " + id.out.substr(0, id.out.find('\n'))).out;
  EXPECT_EQ(m.name, "MBFILE");
  EXPECT_EQ(m.type, "APPL");
  EXPECT_EQ(m.creator, "ABCD");
  EXPECT_EQ(m.data_size, 3000u);
  EXPECT_EQ(m.rsrc_size, 700u);
  EXPECT_EQ(std::to_string(m.id), id.out.substr(0, id.out.find('\n')));
  EXPECT_FALSE(m.alias_button);
  // Dates converted once from universal time: as istat shows them in the zone.
  size_t at = st.find("Created:\t");
  ASSERT_NE(at, std::string::npos) << st;
  EXPECT_EQ(m.created, shown_date(st.substr(at + 9, 19)));
  at = st.find("Content Modified:\t");
  EXPECT_EQ(m.modified, shown_date(st.substr(at + 18, 19)));
  // Extents: sleuthkit's block runs as sectors of the image (volume at 64, 4 sectors a block).
  auto runs = [&st](const std::string& title) {
    std::vector<std::string> lines;
    size_t p = st.find(title);
    if (p == std::string::npos) return lines;
    std::istringstream in(st.substr(p + title.size()));
    std::string tok;
    while (in >> tok && std::isdigit(static_cast<unsigned char>(tok[0]))) {
      uint64_t a = std::stoull(tok), b = tok.find('-') == std::string::npos ? a : std::stoull(tok.substr(tok.find('-') + 1));
      lines.push_back(format_text(ui_text(1215).c_str(), 64 + a * 4, (b - a + 1) * 4));
    }
    return lines;
  };
  EXPECT_EQ(m.data_extents, runs("Data Fork Blocks:\n"));
  EXPECT_EQ(m.rsrc_extents, runs("Resource Fork Blocks:\n"));
}

TEST(VolumeDialogs, HfsFileAndFolderPropertiesAreWhatHfsutilsReads) {
  REQUIRE_TOOL("hformat");
  REQUIRE_TOOL("tobin");
  TempDir dir;
  PcInputs in = make_pc_inputs(dir);
  std::string img = hformat_image(dir);
  // An alias file, made by hfsutils.
  testkit::write_text(dir.str("alias"), "x");
  ASSERT_EQ(run("hmount " + quote(img) + " >/dev/null && hcopy -r " + quote(dir.str("alias")) +
                " :Alias && hattrib -t adrp -c MACS :Alias").rc, 0);
  ASSERT_EQ(testvol::open_volume(img, false), 0);
  fill_volume(in);
  VolumeItemProperties file, folder, alias;
  ASSERT_EQ(load_volume_item_properties(2, item_id(2, "single.as"), file), 0);
  ASSERT_EQ(load_volume_item_properties(2, item_id(2, "Docs"), folder), 0);
  VolumeItemProperties missing;
  EXPECT_EQ(load_volume_item_properties(2, -99999, missing), -1);
  ASSERT_EQ(load_volume_item_properties(2, item_id(2, "Alias"), alias), 0);
  testvol::close_volume();
  EXPECT_EQ(file.type, "TEXT");
  EXPECT_EQ(file.creator, "ttxt");
  EXPECT_EQ(file.flags, 0x0100);
  EXPECT_FALSE(file.hidden);
  EXPECT_EQ(file.data_extents.size(), 1u);
  EXPECT_TRUE(folder.is_folder);
  EXPECT_EQ(folder.valence, 0u);
  EXPECT_TRUE(alias.alias_button);
  // HFS dates are local already: shown as hls shows them, to the minute.
  auto hls = run("hmount " + quote(img) + " >/dev/null && hls -l :single.as");
  struct tm tm {};
  strptime(file.modified.c_str(), "%x %X", &tm);
  char hm[8];
  std::strftime(hm, sizeof hm, "%H:%M", &tm);
  EXPECT_NE(hls.out.find(std::string(" ") + hm + " :single.as"), std::string::npos) << hls.out << file.modified;
}

TEST(VolumeDialogs, WriteRulesOfTheItemDialog) {
  TempDir dir;
  std::string img = hfsplus_image(dir);
  ASSERT_EQ(testvol::open_volume(img, true), 0);
  ASSERT_EQ(load_allocation_bitmap(), 0);
  ASSERT_GT(hfsplus_create_folder("Docs", 2), 0);
  ASSERT_GT(hfsplus_create_folder("Other", 2), 0);
  ASSERT_EQ(flush_volume_structures(), 0);
  VolumeItemProperties m;
  ASSERT_EQ(load_volume_item_properties(2, item_id(2, "Docs"), m), 0);
  VolumeItemEdit e;
  EXPECT_EQ(volume_item_edit(m, e), 0);
  EXPECT_FALSE(e.finder);
  EXPECT_TRUE(e.name.empty());
  m.new_name = "";
  EXPECT_EQ(volume_item_edit(m, e), k_text_name_empty);
  m.new_name = "other";  // another item's name, in another case
  EXPECT_EQ(volume_item_edit(m, e), k_text_name_exists);
  m.new_name = "DOCS";   // the item's own name in another case
  EXPECT_EQ(volume_item_edit(m, e), 0);
  EXPECT_EQ(e.name, "DOCS");
  m.new_name = "a:b";
  EXPECT_EQ(volume_item_edit(m, e), 0);
  EXPECT_EQ(e.name, "a_b");
  // Custom Icon on an HFS+ folder also clears the icon-cached and inited bits.
  m.new_name = m.name;
  m.flags = m.flag_boxes = 0x0120;
  m.custom_icon = true;
  EXPECT_EQ(volume_item_edit(m, e), 0);
  EXPECT_TRUE(e.finder);
  EXPECT_EQ(e.flags, 0x0400);
  // The sixteen boxes replace the word; Hidden set over them.
  m.custom_icon = false;
  m.flag_editing = true;
  m.flag_boxes = 0x0003;
  m.hidden = true;
  EXPECT_EQ(edited_finder_flags(m), 0x4003);
  testvol::close_volume();

  // A file's signature: short halves padded with blanks; a hard link's is left alone.
  VolumeItemProperties f;
  f.parent_id = 2;
  f.name = f.new_name = "x";
  f.type = f.new_type = "TEXT";
  f.creator = f.new_creator = "ttxt";
  f.new_type = "AB";
  EXPECT_EQ(volume_item_edit(f, e), 0);
  EXPECT_TRUE(e.signature);
  EXPECT_EQ(std::string(e.type_creator, 8), "AB  ttxt");
  f.link = true;
  EXPECT_EQ(volume_item_edit(f, e), 0);
  EXPECT_FALSE(e.signature);
}

TEST(VolumeDialogs, VolumePropertiesAreWhatTheReadersSay) {
  REQUIRE_TOOL("hvol");
  REQUIRE_TOOL("fsstat");
  TempDir dir;
  std::string hfs = hformat_image(dir, "Figures");
  ASSERT_EQ(testvol::open_volume(hfs, false), 0);
  VolumePropertiesModel m;
  ASSERT_EQ(load_volume_properties(m), 0);
  testvol::close_volume();
  EXPECT_EQ(m.name, "Figures");
  EXPECT_EQ(m.file_system, "HFS");
  EXPECT_EQ(m.name_limit, 27u);
  uint64_t free_bytes = testvol::hvol_free_bytes(hfs);
  char mb[k_size_text];
  EXPECT_EQ(m.free_space, format_size_mb(free_bytes, mb));
  // A name typed too long is cut to the MDB's 27 bytes, trailing blanks dropped.
  m.new_name = "Twenty-six characters and  then some";
  VolumeEdit e;
  EXPECT_EQ(volume_properties_edit(m, e), 0);
  EXPECT_EQ(e.name, "Twenty-six characters and");
  m.new_name = "   ";
  EXPECT_EQ(volume_properties_edit(m, e), k_text_name_empty);
  m.new_name = m.name;
  m.custom_icon = true;
  EXPECT_EQ(volume_properties_edit(m, e), 0);
  EXPECT_TRUE(e.icon);
  EXPECT_EQ(e.root_flags & (k_flag_custom_icon | k_flag_inited), k_flag_custom_icon);
  // A Mac Roman name (hformat keeps the bytes it is given) shows in UTF-8, converted once.
  TempDir accented_dir;
  ASSERT_EQ(testvol::open_volume(hformat_image(accented_dir, "R\x8Esum\x8E"), false), 0);
  ASSERT_EQ(load_volume_properties(m), 0);
  testvol::close_volume();
  EXPECT_EQ(m.name, "R\xC3\xA9sum\xC3\xA9");

  std::string plus = hfsplus_image(dir);
  ASSERT_EQ(testvol::open_volume(plus, true), 0);
  ASSERT_EQ(load_volume_properties(m), 0);
  testvol::close_volume();
  auto fs = run("fsstat -f hfsp -o 64 " + quote(plus)).out;
  EXPECT_NE(fs.find("Volume Name: " + m.name + "\n"), std::string::npos) << fs;
  EXPECT_EQ(m.file_system, "HFS+");
  size_t at = fs.find("Number of Free Blocks: ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(m.free_space, format_size_mb(std::stoull(fs.substr(at + 23)) * 2048, mb));
  EXPECT_EQ(m.cluster, "2,048");
}

TEST(VolumeDialogs, PcBrowserPlacementText) {
  int l, t, w, h;
  EXPECT_FALSE(parse_vlv_layout("", l, t, w, h));
  ASSERT_TRUE(parse_vlv_layout("3000,-5,2500,100", l, t, w, h));
  EXPECT_EQ(std::vector<int>({l, t, w, h}), std::vector<int>({50, 50, 700, 100}));
  ASSERT_TRUE(parse_vlv_layout(" 10,+20,0,2000", l, t, w, h));
  EXPECT_EQ(std::vector<int>({l, t, w, h}), std::vector<int>({10, 20, 0, 2000}));
  ASSERT_TRUE(parse_vlv_layout("120,130", l, t, w, h));  // the values it lacks take their defaults
  EXPECT_EQ(std::vector<int>({l, t, w, h}), std::vector<int>({120, 130, 700, 450}));
  ASSERT_TRUE(parse_vlv_layout("a,b,c,d", l, t, w, h));
  EXPECT_EQ(std::vector<int>({l, t, w, h}), std::vector<int>({50, 50, 700, 450}));
  EXPECT_EQ(format_vlv_layout(50, 50, 700, 450), "50,50,700,450");
}

TEST(VolumeDialogs, PcBrowserListsSortsFindsAndClimbs) {
  TempDir dir;
  testkit::fs::create_directories(dir.str("zeta folder"));
  testkit::fs::create_directories(dir.str("Alpha folder"));
  testkit::write_text(dir.str("empty.txt"), "");
  testkit::write_text(dir.str("b.TXT"), "bb");
  testkit::write_text(dir.str(".hidden"), "hhh");
  // Beyond 4 GiB, without the room: a sparse file.
  ASSERT_EQ(truncate((std::ofstream(dir.str("huge.bin")), dir.str("huge.bin")).c_str(), (5ll << 30)), 0);
  PcBrowserState s;
  ASSERT_EQ(pc_browser_enter(s, dir.str()), 0);
  std::vector<std::string> names;
  for (const auto& e : s.entries) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha folder", "zeta folder", ".hidden", "b.TXT", "empty.txt", "huge.bin"}));
  auto row = pc_browser_row(s.entries[4]);
  EXPECT_EQ(row[1], "0.001MB");  // an empty file shows as 1 byte
  EXPECT_EQ(row[2], format_text(ui_text(6312).c_str(), "TXT"));
  EXPECT_EQ(pc_browser_row(s.entries[0])[1], "");
  EXPECT_EQ(pc_browser_row(s.entries[2])[4], "H");
  // Size: ascending, descending, ascending; the 5 GiB file sorts by its whole size.
  pc_browser_sort(s, 1);
  EXPECT_EQ(s.entries.back().name, "huge.bin");
  EXPECT_EQ(s.sort_key, 2);
  pc_browser_sort(s, 1);
  EXPECT_EQ(s.entries.front().name, "huge.bin");
  EXPECT_EQ(s.sort_key, -2);
  pc_browser_sort(s, 1);
  EXPECT_EQ(s.sort_key, 2);
  pc_browser_sort(s, 0);
  EXPECT_EQ(s.column_tags[1], 0);
  // Type-to-find, from a start, wrapping or not.
  int b = pc_browser_find(s, "B.t", 0, false);
  ASSERT_GE(b, 0);
  EXPECT_EQ(s.entries[size_t(b)].name, "b.TXT");
  EXPECT_EQ(pc_browser_find(s, "alpha", b, false), -1);
  EXPECT_GE(pc_browser_find(s, "alpha", b, true), 0);
  EXPECT_EQ(pc_browser_find(s, "nothing", 0, true), -1);
  // Up to the root folder, then to Computer, then nowhere.
  ASSERT_EQ(pc_browser_enter(s, "/"), 0);
  EXPECT_TRUE(pc_browser_up(s));
  EXPECT_EQ(s.folder, "");
  EXPECT_FALSE(pc_browser_can_go_up(s));
  EXPECT_FALSE(pc_browser_up(s));
  EXPECT_EQ(pc_browser_enter(s, dir.str("empty.txt")), -1);
  EXPECT_EQ(s.folder, "");
  EXPECT_NE(std::find(s.visited.begin(), s.visited.end(), dir.str()), s.visited.end());
}

TEST(VolumeDialogs, ComputerListsTheRootTheHomeFolderAndMountedVolumes) {
  TempDir dir;
  testkit::fs::create_directories(dir.str("usb key"));
  std::string mounts = "proc /proc proc rw 0 0\n/dev/vda / ext4 rw 0 0\n/dev/sdb1 " + dir.str("usb\\040key") +
                       " vfat rw 0 0\ntmpfs /run tmpfs rw 0 0\n/dev/sdc1 /gone ext4 rw 0 0\n";
  auto roots = pc_browser_roots(mounts);
  std::vector<std::string> paths;
  for (const auto& e : roots) paths.push_back(e.path);
  ASSERT_GE(paths.size(), 2u);
  EXPECT_EQ(paths.front(), "/");
  EXPECT_NE(std::find(paths.begin(), paths.end(), dir.str("usb key")), paths.end());
  EXPECT_EQ(std::find(paths.begin(), paths.end(), "/run"), paths.end());
  EXPECT_EQ(std::find(paths.begin(), paths.end(), "/gone"), paths.end());
}

TEST(VolumeDialogs, PcBrowserCopyTakesASelectionExactlyAsLargeAsTheRoom) {
  TempDir dir;
  std::string img = hfsplus_image(dir, 4);
  ASSERT_EQ(testvol::open_volume(img, true), 0);
  uint64_t room = volume_free_bytes();
  ASSERT_GT(room, 8192u);
  // Two files whose forks fill the room to the block: one data fork, one with a resource stream.
  const uint64_t blocks = room / 2048, half = blocks / 2;
  testkit::write_file(dir.str("a"), testkit::random_bytes(size_t(half * 2048 - 100), 1));
  testkit::write_file(dir.str("b"), testkit::random_bytes(size_t((blocks - half - 1) * 2048 - 100), 2));
  ASSERT_EQ(run("setfattr -n user.AFP_Resource -v 0x01020304 " + quote(dir.str("b"))).rc, 0);
  PcBrowserState s;
  ASSERT_EQ(pc_browser_enter(s, dir.str()), 0);
  std::vector<int> selected;
  for (size_t i = 0; i < s.entries.size(); ++i)
    if (s.entries[i].name == "a" || s.entries[i].name == "b") selected.push_back(int(i));
  std::vector<std::string> paths;
  std::string message;
  EXPECT_EQ(pc_selection_allocation({dir.str("a"), dir.str("b")}), room);
  EXPECT_EQ(pc_browser_copy(s, selected, paths, message), 0) << message;
  EXPECT_EQ(paths.size(), 2u);
  // One block more than the room: refused, nothing to copy.
  testkit::write_file(dir.str("a"), testkit::random_bytes(size_t(half * 2048 + 1), 1));
  EXPECT_EQ(pc_browser_copy(s, selected, paths, message), -1);
  EXPECT_TRUE(paths.empty());
  EXPECT_EQ(message.rfind("Not enough free space\non the target volume.", 0), 0u) << message;
  testvol::close_volume();
}

TEST(VolumeDialogs, DestinationAndLongPathPrompts) {
  TempDir dir;
  ::setenv("CORVANE_CONFIG_DIR", dir.str("cfg").c_str(), 1);
  init_settings_root();
  g_destination_path.clear();
  write_work_folder((dir.str() + "/").c_str());
  EXPECT_EQ(destination_proposal(), dir.str() + "/");
  std::string message;
  EXPECT_EQ(accept_destination(dir.str("absent"), message), -1);
  EXPECT_NE(message.find(dir.str("absent")), std::string::npos);
  EXPECT_TRUE(g_destination_path.empty()) << "a refused folder is not kept";
  EXPECT_EQ(accept_destination(dir.str(), message), 0);
  EXPECT_EQ(g_destination_path, dir.str() + "/");
  EXPECT_EQ(destination_proposal(), dir.str() + "/");

  // 260 bytes together are accepted, 261 not; a "/" in the name never.
  LongPathModel m{"", "/" + std::string(200, 'f') + "/", std::string(54, 'n'), ".txt"};
  ASSERT_EQ(m.folder.size() + m.base.size() + m.extension.size(), 260u);
  EXPECT_TRUE(long_path_acceptable(m));
  m.base += "n";
  EXPECT_FALSE(long_path_acceptable(m));
  EXPECT_TRUE(long_path_problem(m).empty());
  m.base = "a/b";
  EXPECT_FALSE(long_path_acceptable(m));
  EXPECT_FALSE(long_path_problem(m).empty());
  m.base = "";
  EXPECT_FALSE(long_path_acceptable(m));
  m.base = "ok";
  long_path_folder_chosen(m, "/elsewhere");
  EXPECT_EQ(m.folder, "/elsewhere/");
  EXPECT_TRUE(long_path_acceptable(m));
  ::unsetenv("CORVANE_CONFIG_DIR");
}
