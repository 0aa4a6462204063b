// The volume commands run as the menus run them, on an HFS volume that
// hfsutils formatted and an HFS+ volume the engine made, each step judged by
// the outside readers (hfsutils; sleuthkit) and by the engine's checker.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ctime>

#include "IO/uitext.h"
#include "compiler/additems.h"
#include "compiler/project.h"
#include "gui/forms/name_checks.h"
#include "gui/project/long_names.h"
#include "gui/views/documents.h"
#include "gui/volume/transfer_dialogs.h"
#include "hfs/catinsert.h"
#include "hfs/voledit.h"
#include "macfiles/extract.h"
#include "macfiles/import.h"
#include "support/volume_kit.h"

using namespace volkit;
using testkit::read_file;
using testkit::TempDir;

namespace {

// hcopy -m of an HFS file, decoded: its fields, the forks in base.data/.rsrc.
std::map<std::string, std::string> hfs_file(const std::string& img, const std::string& path, const std::string& base) {
  auto r = run("hmount " + quote(img) + " >/dev/null && hcopy -m " + quote(path) + " " + quote(base + ".bin") + " && " +
               mactool() + "macbinary " + quote(base + ".bin") + " " + quote(base));
  EXPECT_EQ(r.rc, 0) << path << ": " << r.err;
  return fields(r.out);
}

std::string hvol(const std::string& img) { return run("hmount " + quote(img) + " >/dev/null && hvol").out; }

// sleuthkit's catalog id of a path of the HFS+ volume.
std::string hfsplus_inode(const std::string& img, const std::string& path) {
  auto r = run("ifind -f hfsp -o 64 -n " + quote(path) + " " + quote(img));
  EXPECT_EQ(r.rc, 0) << path << ": " << r.out << r.err;
  std::string id = r.out.substr(0, r.out.find_first_of("\r\n"));
  return id;
}
std::string istat(const std::string& img, const std::string& id) {
  return run("istat -f hfsp -o 64 " + quote(img) + " " + id).out;
}
std::vector<uint8_t> icat(const std::string& img, const std::string& id, const TempDir& dir) {
  std::string out = dir.str("icat.out");
  run("icat -f hfsp -o 64 " + quote(img) + " " + id + " > " + quote(out));
  return read_file(out);
}
// What sleuthkit and the bitmap say of the free blocks.
struct FreeCounts {
  uint64_t fsstat = 0, header = 0, bitmap = 0;
};
FreeCounts hfsplus_free(const std::string& img) {
  FreeCounts c;
  auto f = fields(run(mactool() + "hfsplus-free " + quote(img) + " 64").out);
  c.header = std::stoull(f["header_free"]);
  c.bitmap = std::stoull(f["bitmap_free"]);
  auto s = run("fsstat -f hfsp -o 64 " + quote(img));
  size_t at = s.out.find("Free Blocks: ");
  EXPECT_NE(at, std::string::npos) << s.out;
  if (at != std::string::npos) c.fsstat = std::stoull(s.out.substr(at + 13));
  return c;
}

// A folder made by the command, then the five encodings copied onto the root
// through the PC browser. The new folder's id.
uint32_t make_folder_and_copy(CommandBench& bench, const PcInputs& in) {
  bench.names = {"Docs"};
  volume_new_folder_command();
  uint32_t docs = folder_id(2, "Docs");
  EXPECT_EQ(bench.views.shown_item, int32_t(docs));
  bench.browser_paths = {in.plain, in.macbinary, in.binhex, in.applesingle, in.streams};
  volume_copy_from_pc_command();
  EXPECT_TRUE(bench.forms.messages.empty()) << bench.forms.messages.front();
  testvol::expect_sound("after the copy");
  return docs;
}

// Renames through the name prompt: plain.txt from the list (an empty name, then
// clash, another file's name, refused first), the folder docs from the tree,
// and the volume from the tree's root.
void rename_file_folder_and_volume(CommandBench& bench, uint32_t docs, const std::string& clash) {
  bench.select({"plain.txt"});
  bench.names = {"", clash, "A name of forty characters, or a bit mor"};
  volume_rename_command();
  EXPECT_EQ(bench.refused, (std::vector<int>{k_text_name_empty, k_text_name_exists}));
  bench.select_tree(docs);
  bench.names = {"Documents: old"};
  volume_rename_command();
  bench.select_tree(2);
  bench.names = {"Forty characters of a new volume name ok"};
  volume_rename_command();
}

void import_answers() {
  g_macbinary_answer = 2;
  g_binhex_answer = 2;
  g_delete_folder_answer = 0;
}

}  // namespace

// One item checked against the PC inputs: its forks, type and creator as the
// reader decoded them.
void expect_forks(const std::map<std::string, std::string>& f, const std::string& base, const PcInputs& in,
                  const std::string& type, const std::string& creator, const std::string& what) {
  EXPECT_EQ(f.count("type") ? f.at("type") : "", type) << what;
  EXPECT_EQ(f.count("creator") ? f.at("creator") : "", creator) << what;
  EXPECT_EQ(read_file(base + ".data"), in.data) << what;
  EXPECT_EQ(read_file(base + ".rsrc"), in.rsrc) << what;
}

TEST(VolumeCommands, HfsutilsVolumeTakesEveryCommandAndStaysSound) {
  REQUIRE_TOOL("hformat");
  REQUIRE_TOOL("tobin");
  TempDir dir;
  std::string img = hformat_image(dir);
  PcInputs in = make_pc_inputs(dir);
  ASSERT_EQ(testvol::open_volume(img, false), 0);
  CommandBench bench;
  import_answers();

  uint32_t docs = make_folder_and_copy(bench, in);
  testvol::close_volume();
  EXPECT_EQ(testvol::hfs_listing(img), (std::set<std::string>{":Docs", ":plain.txt", ":MBFILE", ":HQXFILE",
                                                               ":single.as", ":streams.doc"}));
  expect_forks(hfs_file(img, ":MBFILE", dir.str("mb")), dir.str("mb"), in, "APPL", "ABCD", "MacBinary");
  expect_forks(hfs_file(img, ":HQXFILE", dir.str("hqx")), dir.str("hqx"), in, "APPL", "BHEX", "BinHex");
  auto single = hfs_file(img, ":single.as", dir.str("as"));
  expect_forks(single, dir.str("as"), in, "TEXT", "ttxt", "AppleSingle");
  EXPECT_EQ(single["flags"], std::to_string(0x0100));
  auto streams = hfs_file(img, ":streams.doc", dir.str("st"));
  expect_forks(streams, dir.str("st"), in, "WDBN", "MSWD", "named streams");
  EXPECT_EQ(streams["flags"], std::to_string(0x2000));
  EXPECT_EQ(read_file(dir.str("plain.data")), std::vector<uint8_t>()) << "not read yet";

  // Renames: a file from the list, a folder from the tree, the volume from the tree's root.
  ASSERT_EQ(testvol::open_volume(img, false), 0);
  rename_file_folder_and_volume(bench, docs, "MBFILE");
  testvol::expect_sound("after the renames");
  testvol::close_volume();
  EXPECT_EQ(testvol::hfs_listing(img), (std::set<std::string>{":Documents_ old", ":A name of forty characters, or", ":MBFILE",
                                                               ":HQXFILE", ":single.as", ":streams.doc"}));
  EXPECT_NE(hvol(img).find("Volume name is \"Forty characters of a new v\""), std::string::npos) << hvol(img);

  // Type, creator and flags through the File Properties dialog; a short type is padded.
  ASSERT_EQ(testvol::open_volume(img, false), 0);
  bench.select({"single.as"});
  bench.edit_item = [](VolumeItemProperties& m) {
    m.new_type = "ABC";
    m.new_creator = "WXYZ";
    m.hidden = true;
    m.flag_editing = true;
    m.flag_boxes = uint16_t(m.flags | 0x1000);  // locked name bit of the Finder
  };
  volume_item_properties_command();
  testvol::close_volume();
  auto edited = hfs_file(img, ":single.as", dir.str("as2"));
  EXPECT_EQ(edited["type"], "ABC ");
  EXPECT_EQ(edited["creator"], "WXYZ");
  EXPECT_EQ(edited["flags"], std::to_string(0x0100 | 0x1000 | 0x4000));
  auto listed = run("hmount " + quote(img) + " >/dev/null && hls -la");
  EXPECT_NE(listed.out.find("fi ABC /WXYZ"), std::string::npos) << listed.out;

  // Swap forks, then delete two files and the folder holding a file.
  ASSERT_EQ(testvol::open_volume(img, false), 0);
  uint32_t documents = folder_id(2, "Documents_ old");
  pc_files_dropped({in.plain}, int32_t(documents));
  EXPECT_EQ(g_partition_folder, documents);
  g_partition_folder = 2;
  EXPECT_EQ(hfs_swap_forks("HQXFILE", 2), 0);
  // "No" to the folder holding a file, with nothing else selected: not one byte of the image changes.
  bench.select({"Documents_ old"});
  bench.forms.answer = false;
  std::vector<uint8_t> before = read_file(img);
  volume_delete_command();
  EXPECT_TRUE(read_file(img) == before) << "the master directory block and its copy untouched";
  bench.forms.answer = true;
  bench.select({"A name of forty characters, or", "streams.doc", "Documents_ old"});
  bench.forms.questions = 0;
  bench.forms.messages.clear();
  volume_delete_command();
  EXPECT_EQ(bench.forms.questions, 3) << "each file, and the folder holding a file, is deleted after a question";
  EXPECT_TRUE(bench.forms.said(format_text(ui_text(6651).c_str(), "streams.doc")));
  EXPECT_TRUE(bench.forms.said(format_text(ui_text(5111).c_str(), "Documents_ old")));
  testvol::expect_sound("after the deletes");
  testvol::close_volume();
  EXPECT_EQ(testvol::hfs_listing(img), (std::set<std::string>{":MBFILE", ":HQXFILE", ":single.as"}));
  auto swapped = hfs_file(img, ":HQXFILE", dir.str("sw"));
  EXPECT_EQ(read_file(dir.str("sw.data")), in.rsrc);
  EXPECT_EQ(read_file(dir.str("sw.rsrc")), in.data);
}

TEST(VolumeCommands, EngineHfsPlusVolumeTakesEveryCommandAndStaysSound) {
  REQUIRE_TOOL("fls");
  REQUIRE_TOOL("tobin");
  TempDir dir;
  std::string img = hfsplus_image(dir);
  PcInputs in = make_pc_inputs(dir);
  FreeCounts empty = hfsplus_free(img);
  ASSERT_EQ(testvol::open_volume(img, true), 0);
  CommandBench bench;
  import_answers();

  uint32_t docs = make_folder_and_copy(bench, in);
  testvol::close_volume();
  EXPECT_EQ(testvol::hfsplus_listing(img), (std::set<std::string>{"Docs", "plain.txt", "MBFILE", "HQXFILE", "single.as",
                                                                   "streams.doc"}));
  struct Expected {
    const char* name;
    const char* type;
    const char* creator;
  };
  for (const Expected& e : {Expected{"MBFILE", "APPL", "ABCD"}, Expected{"HQXFILE", "APPL", "BHEX"},
                            Expected{"single.as", "TEXT", "ttxt"}, Expected{"streams.doc", "WDBN", "MSWD"}}) {
    std::string id = hfsplus_inode(img, std::string("/") + e.name);
    std::string st = istat(img, id);
    EXPECT_NE(st.find(std::string("File type:\t") ), std::string::npos);
    EXPECT_NE(st.find(std::string(e.type) + "\n"), std::string::npos) << e.name << st;
    EXPECT_NE(st.find(std::string(e.creator) + "\n"), std::string::npos) << e.name << st;
    EXPECT_EQ(icat(img, id, dir), in.data) << e.name;
    EXPECT_EQ(icat(img, id + "-4353", dir), in.rsrc) << e.name;
  }
  FreeCounts copied = hfsplus_free(img);
  EXPECT_EQ(copied.fsstat, copied.bitmap);
  EXPECT_EQ(copied.header, copied.bitmap);
  EXPECT_LT(copied.bitmap, empty.bitmap);

  // Renames (with a name another item has, and an empty one, refused) and the
  // volume's name typed with forty characters.
  ASSERT_EQ(testvol::open_volume(img, true), 0);
  rename_file_folder_and_volume(bench, docs, "mbfile");  // HFS+ names clash whatever their case
  // Type, creator, the hidden flag and a new name; the volume's root gets a custom icon.
  bench.select({"single.as"});
  bench.edit_item = [](VolumeItemProperties& m) {
    m.new_type = "ABC";
    m.new_creator = "WXYZ";
    m.hidden = true;
    m.new_name = "single: renamed";
  };
  volume_item_properties_command();
  bench.edit_volume = [](VolumePropertiesModel& m) { m.custom_icon = true; };
  volume_properties_command();
  VolumePropertiesModel volume;
  ASSERT_EQ(load_volume_properties(volume), 0);
  EXPECT_TRUE(volume.custom_icon);
  EXPECT_EQ(volume.name, "Forty characters of a new volume name ok");
  testvol::expect_sound("after the renames and properties");
  testvol::close_volume();
  EXPECT_EQ(testvol::hfsplus_listing(img),
            (std::set<std::string>{"Documents_ old", "A name of forty characters, or a bit mor", "MBFILE", "HQXFILE",
                                   "single_ renamed", "streams.doc"}));
  auto fs = run("fsstat -f hfsp -o 64 " + quote(img));
  EXPECT_NE(fs.out.find("Volume Name: Forty characters of a new volume name ok\n"), std::string::npos) << fs.out;
  std::string st = istat(img, hfsplus_inode(img, "/single_ renamed"));
  EXPECT_NE(st.find("File type:\t41424320  ABC \n"), std::string::npos) << st;
  EXPECT_NE(st.find("File creator:\t5758595a  WXYZ\n"), std::string::npos) << st;

  // Swap forks, then delete two files and the folder holding a file: the free
  // blocks come back to what they were before the deleted items came.
  FreeCounts before_drop = hfsplus_free(img);
  ASSERT_EQ(testvol::open_volume(img, true), 0);
  uint32_t documents = folder_id(2, "Documents_ old");
  pc_files_dropped({in.macbinary}, int32_t(documents));
  g_partition_folder = 2;
  HFSUniStr255 hqx = utf8_to_unistr("HQXFILE");
  EXPECT_EQ(hfsplus_swap_forks(hqx, 2), 0);
  bench.select({"A name of forty characters, or a bit mor", "streams.doc", "Documents_ old"});
  // "Delete without asking confirmation": no question for the files, nor for the folder.
  const uint32_t options = g_edit_options;
  g_edit_options |= k_option_delete_folders_unasked;
  bench.forms.questions = 0;
  volume_delete_command();
  g_edit_options = options;
  EXPECT_EQ(bench.forms.questions, 0);
  testvol::expect_sound("after the deletes");
  testvol::close_volume();
  EXPECT_EQ(testvol::hfsplus_listing(img), (std::set<std::string>{"MBFILE", "HQXFILE", "single_ renamed"}));
  std::string hq = hfsplus_inode(img, "/HQXFILE");
  EXPECT_EQ(icat(img, hq, dir), in.rsrc);
  EXPECT_EQ(icat(img, hq + "-4353", dir), in.data);
  FreeCounts after = hfsplus_free(img);
  EXPECT_EQ(after.fsstat, after.bitmap);
  EXPECT_EQ(after.header, after.bitmap);
  uint64_t block = 2048;
  auto blocks = [block](uint64_t n) { return (n + block - 1) / block; };
  // plain.txt (one block) and streams.doc (both forks) gone, and the folder with its copy of the MacBinary file.
  EXPECT_EQ(after.bitmap, before_drop.bitmap + 1 + blocks(in.data.size()) + blocks(in.rsrc.size()));
}

// A volume of each kind holding the five encodings and a folder, ready for the tests below.
std::string filled_image(const TempDir& dir, bool plus, PcInputs& in) {
  std::string img = plus ? hfsplus_image(dir) : hformat_image(dir);
  in = make_pc_inputs(dir);
  EXPECT_EQ(testvol::open_volume(img, plus), 0);
  {
    CommandBench bench;
    import_answers();
    make_folder_and_copy(bench, in);
    pc_files_dropped({in.macbinary}, int32_t(folder_id(2, "Docs")));
  }
  testvol::close_volume();
  return img;
}

TEST(VolumeCommands, EveryCommandIsRefusedOnAVolumeThatMayNotBeWritten) {
  REQUIRE_TOOL("tobin");
  for (bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "HFS+" : "HFS");
    TempDir dir;
    PcInputs in;
    std::string img = filled_image(dir, plus, in);
    const std::string before = testkit::sha256_of(img);
    ASSERT_EQ(testvol::open_volume(img, plus), 0);
    g_volume.read_only = 1;  // as a bare volume, a journaled one or a file opened for reading makes it
    CommandBench bench;
    import_answers();
    bench.edit_item = [](VolumeItemProperties& m) {
      EXPECT_TRUE(m.read_only);
      m.new_name = "other";
      m.hidden = !m.hidden;
      m.new_type = "XXXX";
    };
    bench.edit_volume = [](VolumePropertiesModel& m) {
      EXPECT_TRUE(m.read_only);
      m.new_name = "other";
      m.custom_icon = !m.custom_icon;
    };
    bench.browser_paths = {in.plain};
    uint32_t docs = folder_id(2, "Docs");
    bench.names = {"new name"};
    // The list's rows, then the tree's folder, then the tree's root.
    for (int source : {1, 0, 2}) {
      if (source == 1) bench.select({"MBFILE", "Docs"});
      else bench.select_tree(source == 0 ? docs : 2);
      bench.names = {"new name", "new name"};
      volume_delete_command();
      volume_rename_command();
      volume_item_properties_command();
    }
    volume_properties_command();
    volume_rename_volume_command();
    volume_new_folder_command();
    volume_copy_from_pc_command();
    pc_files_dropped({in.plain}, 2);
    EXPECT_EQ(copy_pc_paths_to_volume({in.plain}, 2), 0);
    HFSUniStr255 mb = utf8_to_unistr("MBFILE");
    EXPECT_EQ(plus ? hfsplus_swap_forks(mb, 2) : hfs_swap_forks("MBFILE", 2), k_edit_read_only);
    EXPECT_LT(plus ? hfsplus_set_volume_name("other") : hfs_set_volume_name("other"), 0);
    EXPECT_LT(plus ? hfsplus_set_finder_info(mb, 2, "XXXXYYYY", 0) : hfs_set_finder_info("MBFILE", 2, "XXXXYYYY", 0), 0);
    EXPECT_LT(set_folder_finder_flags(2, 0x4000), 0);
    // Copying to the PC only reads.
    bench.destination = dir.str("out");
    testkit::fs::create_directories(bench.destination);
    g_extract_options = 4;
    bench.select({"MBFILE"});
    volume_copy_to_pc_command();
    EXPECT_TRUE(testkit::fs::exists(dir.str("out/MBFILE")));
    // Nothing asked the user to name anything: each command stopped before its dialog.
    EXPECT_EQ(bench.names.size(), 2u);
    EXPECT_TRUE(bench.forms.said(ui_text(5112))) << bench.forms.messages.size();
    testvol::close_volume();
    EXPECT_EQ(testkit::sha256_of(img), before);
  }
}

// The dates of a PC file: its last-write time as "YYYY-MM-DD HH:MM:SS" in local time.
std::string local_time_text(int64_t t) {
  time_t tt = time_t(t);
  struct tm tm {};
  localtime_r(&tt, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}
int64_t mtime_of(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return int64_t(st.st_mtime);
}

TEST(VolumeCommands, CopiesToThePcInEachMethodDecodeToTheSameForks) {
  REQUIRE_TOOL("macsave");
  REQUIRE_TOOL("tobin");
  for (bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "HFS+" : "HFS");
    TempDir dir;
    PcInputs in;
    std::string img = filled_image(dir, plus, in);
    // The Mac modification date as the outside readers show it, in local time.
    std::string mac_date;
    if (plus) {
      std::string st = istat(img, hfsplus_inode(img, "/MBFILE"));
      size_t at = st.find("Content Modified:\t");
      ASSERT_NE(at, std::string::npos) << st;
      mac_date = st.substr(at + 18, 19);
    }
    ASSERT_EQ(testvol::open_volume(img, plus), 0);
    CommandBench bench;
    g_extract_options = 4;  // PC names as the Mac names stand
    g_extract.replace_answer = 0;
    const int saved_method = g_copy_method;
    struct Method {
      int bits;
      const char* folder;
    };
    for (const Method& m : {Method{k_copy_data, "data"}, Method{k_copy_macbinary, "macbinary"},
                            Method{k_copy_appledouble, "appledouble"}, Method{k_copy_applesingle, "applesingle"},
                            Method{k_copy_streams, "streams"}}) {
      SCOPED_TRACE(m.folder);
      g_copy_method = m.bits;
      std::string out = dir.str(m.folder);
      testkit::fs::create_directories(out);
      bench.destination = out;
      bench.select({"MBFILE"});
      volume_copy_to_pc_command();
      bench.select_tree(folder_id(2, "Docs"));  // a folder from the tree, with what it holds
      volume_copy_to_pc_command();
      std::string file = out + "/MBFILE", base = dir.str(std::string(m.folder) + "-dec");
      ASSERT_TRUE(testkit::fs::exists(file));
      ASSERT_TRUE(testkit::fs::exists(out + "/Docs/MBFILE"));
      std::map<std::string, std::string> f;
      if (m.bits == k_copy_data) {
        EXPECT_EQ(read_file(file), in.data);
      } else if (m.bits == k_copy_macbinary) {
        f = fields(run(mactool() + "macbinary " + quote(file) + " " + quote(base)).out);
        expect_forks(f, base, in, "APPL", "ABCD", "python");
        auto ms = run("mkdir -p " + quote(base + "-ms") + " && cd " + quote(base + "-ms") + " && macsave -3 < " +
                      quote(file) + " && macsave -i < " + quote(file));
        EXPECT_NE((ms.out + ms.err).find("type=APPL, author=ABCD, data=3000, rsrc=700"), std::string::npos)
            << ms.out << ms.err;
        EXPECT_EQ(read_file(base + "-ms/MBFILE.data"), in.data);
        EXPECT_EQ(read_file(base + "-ms/MBFILE.rsrc"), in.rsrc);
        EXPECT_EQ(std::stoll(f["modified"]), mtime_of(file));
      } else if (m.bits == k_copy_appledouble) {
        EXPECT_EQ(read_file(file), in.data);
        f = fields(run(mactool() + "apple " + quote(out + "/._MBFILE") + " " + quote(base)).out);
        EXPECT_EQ(f["kind"], "double");
        EXPECT_EQ(read_file(base + ".rsrc"), in.rsrc);
        EXPECT_EQ(f["type"], "APPL");
        EXPECT_EQ(f["creator"], "ABCD");
        EXPECT_EQ(std::stoll(f["modified"]), mtime_of(file));
      } else if (m.bits == k_copy_applesingle) {
        f = fields(run(mactool() + "apple " + quote(file) + " " + quote(base)).out);
        EXPECT_EQ(f["kind"], "single");
        expect_forks(f, base, in, "APPL", "ABCD", "python");
        EXPECT_EQ(std::stoll(f["modified"]), mtime_of(file));
      } else {
        f = fields(run(mactool() + "streams " + quote(file) + " " + quote(base)).out);
        expect_forks(f, base, in, "APPL", "ABCD", "streams");
      }
      // The PC file carries the Mac modification date.
      if (plus) {
        EXPECT_EQ(local_time_text(mtime_of(file)), mac_date);
      } else {
        auto hls = run("hmount " + quote(img) + " >/dev/null && hls -l :MBFILE");
        EXPECT_NE(hls.out.find(" " + local_time_text(mtime_of(file)).substr(11, 5) + " :MBFILE"), std::string::npos)
            << hls.out << " against " << local_time_text(mtime_of(file));
      }
    }
    g_copy_method = saved_method;
    testvol::close_volume();
  }
}

TEST(VolumeCommands, ADamagedCatalogRefusesEditsAndSaysSo) {
  REQUIRE_TOOL("tobin");
  for (bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "HFS+" : "HFS");
    TempDir dir;
    PcInputs in;
    std::string img = filled_image(dir, plus, in);
    auto r = run(mactool() + "damage-catalog " + quote(img) + (plus ? " 64" : " 2048"));
    ASSERT_EQ(r.rc, 0) << r.err;
    const std::string before = testkit::sha256_of(img);
    ASSERT_EQ(testvol::open_volume(img, plus), 0);
    CommandBench bench;
    import_answers();
    bench.names = {"Made on a damaged volume"};
    volume_new_folder_command();
    EXPECT_TRUE(bench.forms.said(ui_text(6300))) << (bench.forms.messages.empty() ? "" : bench.forms.messages[0]);
    bench.forms.messages.clear();
    EXPECT_EQ(copy_pc_paths_to_volume({in.plain}, 2), 0);
    EXPECT_FALSE(bench.forms.messages.empty());
    testvol::close_volume();
    EXPECT_EQ(testkit::sha256_of(img), before);
  }
}

TEST(VolumeCommands, ACopyWithoutRoomStopsBeforeTheItemAndLeavesTheVolumeSound) {
  REQUIRE_TOOL("hformat");
  TempDir dir;
  std::string img = hformat_image(dir, "Small", "2M");  // a partition of 1 MiB
  std::vector<std::string> files;
  for (int i = 0; i < 4; ++i) {
    files.push_back(dir.str("big" + std::to_string(i)));
    testkit::write_file(files.back(), testkit::random_bytes(300000, 40 + uint32_t(i)));
  }
  ASSERT_EQ(testvol::open_volume(img, false), 0);
  CommandBench bench;
  EXPECT_EQ(copy_pc_paths_to_volume(files, 2), 3);
  ASSERT_EQ(bench.forms.messages.size(), 1u);
  EXPECT_EQ(bench.forms.messages[0].rfind("Not enough free room on the target drive", 0), 0u) << bench.forms.messages[0];
  testvol::expect_sound("after the refused copy");
  testvol::close_volume();
  EXPECT_EQ(testvol::hfs_listing(img), (std::set<std::string>{":big0", ":big1", ":big2"}));
  auto r = run("hmount " + quote(img) + " >/dev/null && hcopy -r :big2 " + quote(dir.str("back")));
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(read_file(dir.str("back")), read_file(files[2]));
}

TEST(VolumeCommands, ACopyThatFailsInTheMiddleLeavesNoHalfWrittenFile) {
  REQUIRE_TOOL("hformat");
  TempDir dir;
  std::string img = hformat_image(dir, "Frag", "2M");
  // Free space cut into single blocks: a file of six blocks needs six extents, and HFS takes three.
  testkit::write_file(dir.str("one"), testkit::random_bytes(512, 1));
  std::string cmd = "hmount " + quote(img) + " >/dev/null";
  for (int i = 0; i < 60; ++i) cmd += " && hcopy -r " + quote(dir.str("one")) + " :f" + std::to_string(i);
  for (int i = 0; i < 60; i += 2) cmd += " && hdel :f" + std::to_string(i);
  testkit::write_file(dir.str("fill"), testkit::random_bytes(0, 1));
  ASSERT_EQ(run(cmd).rc, 0);
  uint64_t free_bytes = testvol::hvol_free_bytes(img);
  // Fill the rest of the volume so that only the holes stay free.
  testkit::write_file(dir.str("rest"), testkit::random_bytes(size_t(free_bytes - 30 * 512), 2));
  ASSERT_EQ(run("hmount " + quote(img) + " >/dev/null && hcopy -r " + quote(dir.str("rest")) + " :rest").rc, 0);
  std::set<std::string> listing = testvol::hfs_listing(img);
  testkit::write_file(dir.str("six"), testkit::random_bytes(6 * 512, 3));
  ASSERT_EQ(testvol::open_volume(img, false), 0);
  CommandBench bench;
  EXPECT_EQ(copy_pc_paths_to_volume({dir.str("six")}, 2), 0);
  EXPECT_TRUE(bench.forms.said(ui_text(1159))) << (bench.forms.messages.empty() ? "" : bench.forms.messages[0]);
  testvol::expect_sound("after the failed copy");
  testvol::close_volume();
  EXPECT_EQ(testvol::hfs_listing(img), listing);
  EXPECT_EQ(testvol::hvol_free_bytes(img), 30u * 512);
}

TEST(VolumeCommands, ACopyToAFullPcDiskLeavesNoHalfWrittenFile) {
  REQUIRE_TOOL("tobin");
  TempDir dir;
  PcInputs in;
  std::string img = filled_image(dir, true, in);
  ASSERT_EQ(testvol::open_volume(img, true), 0);
  CommandBench bench;
  g_extract_options = 4;
  const int saved_method = g_copy_method;
  g_copy_method = k_copy_macbinary;
  bench.destination = dir.str("full");
  testkit::fs::create_directories(bench.destination);
  bench.select({"MBFILE", "HQXFILE"});
  // The PC side takes 1000 bytes a file, then refuses: as a disk that is full.
  {
    testkit::FileSizeLimit full(1000);
    volume_copy_to_pc_command();
  }
  g_copy_method = saved_method;
  testvol::close_volume();
  EXPECT_FALSE(bench.forms.messages.empty());
  EXPECT_TRUE(testkit::fs::is_empty(bench.destination)) << "a half-written file was left";
}

TEST(VolumeCommands, ATreeDroppedOnAVolumeAndOnAProjectGivesTheSameNames) {
  REQUIRE_TOOL("tobin");
  REQUIRE_TOOL("hls");
  TempDir dir;
  PcInputs in = make_pc_inputs(dir, "Tree");
  testkit::fs::create_directories(in.folder + "/Inner");
  testkit::write_text(in.folder + "/Inner/note.txt", "a note\n");

  // Partition Mode: dropped on the root of an HFS volume.
  std::string img = hformat_image(dir);
  ASSERT_EQ(testvol::open_volume(img, false), 0);
  std::set<std::string> volume_names;
  {
    CommandBench bench;
    import_answers();
    pc_files_dropped({in.folder}, 2);
    EXPECT_TRUE(bench.forms.messages.empty()) << bench.forms.messages.front();
    EXPECT_EQ(bench.views.shown_folder, 2);
    testvol::expect_sound("after the drop");
    testvol::close_volume();
    volume_names = testvol::hfs_listing(img);
    EXPECT_EQ(volume_names, (std::set<std::string>{":Tree", ":Tree:plain.txt", ":Tree:MBFILE", ":Tree:HQXFILE",
                                                    ":Tree:single.as", ":Tree:streams.doc", ":Tree:Inner",
                                                    ":Tree:Inner:note.txt"}));
  }

  // Project Mode: dropped on the project's root, then compiled by the console program.
  std::string project = dir.str("drop.cvpr");
  ProjectDocument doc;
  std::string message;
  ASSERT_EQ(create_project_document(project, 0, false, doc, message), 0) << message;
  {
    CommandBench bench;
    g_working_mode = k_mode_project;
    g_project_file = doc.file;
    set_remembered_inclusion_answers(1);
    pc_files_dropped({in.folder}, 1);
    pc_files_dropped({in.folder}, 1);  // the same folder again: refused with a message
    EXPECT_TRUE(bench.forms.said(format_text(ui_text(6301).c_str(), in.folder.c_str())));
    g_project_file = nullptr;
  }
  close_project_document(doc);
  auto c = run(std::string(QUORVEL_PATH) + " -c " + quote(project));
  ASSERT_EQ(c.rc, 0) << c.out << c.err;
  std::string iso = dir.str("drop.iso");
  ASSERT_TRUE(testkit::fs::exists(iso));
  EXPECT_EQ(testvol::hfs_listing(iso), volume_names);
}

TEST(VolumeCommands, TreeDeleteShowsTheNextFolderAndTheRootOnlyBeeps) {
  REQUIRE_TOOL("fls");
  TempDir dir;
  std::string img = hfsplus_image(dir);
  ASSERT_EQ(testvol::open_volume(img, true), 0);
  CommandBench bench;
  for (const char* name : {"A", "B", "C"}) {
    bench.names = {name};
    volume_new_folder_command();
  }
  bench.names = {"Inner"};
  g_partition_folder = folder_id(2, "B");
  volume_new_folder_command();
  bench.select_tree(folder_id(2, "B"));
  volume_delete_command();  // a folder holding a folder: asked, then gone
  EXPECT_EQ(bench.forms.questions, 1);
  EXPECT_EQ(g_partition_folder, folder_id(2, "C"));
  bench.select_tree(folder_id(2, "C"));
  volume_delete_command();  // the last one: the folder before it is shown
  EXPECT_EQ(g_partition_folder, folder_id(2, "A"));
  EXPECT_EQ(bench.forms.questions, 2) << "the empty folder too";
  // "No" from the tree: the folder stays and the image is left as it was.
  bench.forms.answer = false;
  bench.select_tree(folder_id(2, "A"));
  std::vector<uint8_t> before = read_file(img);
  volume_delete_command();
  EXPECT_EQ(bench.forms.questions, 3);
  EXPECT_TRUE(read_file(img) == before);
  bench.forms.answer = true;
  bench.select_tree(2);
  volume_delete_command();
  EXPECT_EQ(bench.bells, 1);
  testvol::expect_sound("after the tree deletes");
  testvol::close_volume();
  EXPECT_EQ(testvol::hfsplus_listing(img), std::set<std::string>{"A"});
}
