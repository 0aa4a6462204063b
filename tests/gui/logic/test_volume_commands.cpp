// The volume commands run as the menus run them, on an HFS volume that
// hfsutils formatted and an HFS+ volume the engine made, each step judged by
// the outside readers (hfsutils; sleuthkit) and by the engine's checker.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "IO/uitext.h"
#include "compiler/project.h"
#include "gui/dialogs/dialog_models.h"
#include "gui/dialogs/transfer_dialogs.h"
#include "hfs/voledit.h"
#include "macfiles/extract.h"
#include "macfiles/import.h"
#include "volume_kit.h"

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
  bench.select({"plain.txt"});
  bench.names = {"", "MBFILE", "A name of forty characters, or a bit mor"};
  volume_rename_command();
  EXPECT_EQ(bench.refused, (std::vector<int>{k_text_name_empty, k_text_name_exists}));
  bench.select_tree(docs);
  bench.names = {"Documents: old"};
  volume_rename_command();
  bench.select_tree(2);
  bench.names = {"Forty characters of a new volume name ok"};
  volume_rename_command();
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
  bench.select({"A name of forty characters, or", "streams.doc", "Documents_ old"});
  bench.forms.questions = 0;
  volume_delete_command();
  EXPECT_EQ(bench.forms.questions, 1) << "the folder holding a file is deleted after a question";
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
  bench.select({"plain.txt"});
  bench.names = {"", "mbfile", "A name of forty characters, or a bit mor"};
  volume_rename_command();
  EXPECT_EQ(bench.refused, (std::vector<int>{k_text_name_empty, k_text_name_exists}));
  bench.select_tree(docs);
  bench.names = {"Documents: old"};
  volume_rename_command();
  bench.select_tree(2);
  bench.names = {"Forty characters of a new volume name ok"};
  volume_rename_command();
  // Type, creator and the hidden flag.
  bench.select({"single.as"});
  bench.edit_item = [](VolumeItemProperties& m) {
    m.new_type = "ABC";
    m.new_creator = "WXYZ";
    m.hidden = true;
  };
  volume_item_properties_command();
  testvol::expect_sound("after the renames and properties");
  testvol::close_volume();
  EXPECT_EQ(testvol::hfsplus_listing(img),
            (std::set<std::string>{"Documents_ old", "A name of forty characters, or a bit mor", "MBFILE", "HQXFILE",
                                   "single.as", "streams.doc"}));
  auto fs = run("fsstat -f hfsp -o 64 " + quote(img));
  EXPECT_NE(fs.out.find("Volume Name: Forty characters of a new volume name ok\n"), std::string::npos) << fs.out;
  std::string st = istat(img, hfsplus_inode(img, "/single.as"));
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
  volume_delete_command();
  testvol::expect_sound("after the deletes");
  testvol::close_volume();
  EXPECT_EQ(testvol::hfsplus_listing(img), (std::set<std::string>{"MBFILE", "HQXFILE", "single.as"}));
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
