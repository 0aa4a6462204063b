// The prompts the copies reach, through a scripted UI: long HFS names, Esc
// between items in both directions, the long-path prompt, the rename rule, the
// progress of each file and of each deleted item; then the record-level
// re-keying and the alias resource. hfsutils and sleuthkit judge the volumes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "IO/bigendian.h"
#include "IO/busycursor.h"
#include "IO/settings.h"
#include "IO/uitext.h"
#include "IO/windowutil.h"
#include "hfs/catinsert.h"
#include "hfs/voledit.h"
#include "hfs/volume_fixture.h"
#include "macfile_fixtures.h"
#include "macfiles/aliasres.h"
#include "macfiles/extract.h"
#include "macfiles/import.h"
#include "macfiles/macbinary.h"
#include "macfiles/resfork.h"
#include "support/recording_ui.h"

using namespace testkit;

namespace {

// Esc "pressed" at the fire_at-th poll.
int g_polls = 0;
int g_fire_at = 0;
int poll_escape_scripted() { return ++g_polls == g_fire_at ? 27 : 0; }
struct EscAt {
  WindowBackend backend;
  explicit EscAt(int at) {
    g_polls = 0;
    g_fire_at = at;
    backend.poll_escape = poll_escape_scripted;
    set_window_backend(&backend);
  }
  ~EscAt() { set_window_backend(nullptr); }
};

void fresh_ui() {
  recorded_ui().clear();
  g_truncation_answer = 0;
  g_extract_options = 0;
  g_import_count = 0;
}

// Imports each path into the root of the open volume and writes it back; the
// result of the last import (or of the one that stopped).
int import_paths(const std::string& img, bool plus, const std::vector<std::string>& paths) {
  if (testvol::open_volume(img, plus) != 0 || load_allocation_bitmap() != 0) return -100;
  int rc = 0;
  for (const std::string& p : paths) {
    rc = import_pc_item(p, 2, 1);
    if (rc < 0) break;
  }
  EXPECT_EQ(flush_volume_structures(), 0);
  testvol::expect_sound("after the import");
  testvol::close_volume();
  return rc;
}

std::string hls(const std::string& img, const std::string& folder = ":") {
  RunResult r = run("hmount " + quote(img) + " >/dev/null && hls -1aN " + quote(folder));
  EXPECT_EQ(r.rc, 0) << r.err;
  return r.out;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < text.size()) {
    size_t nl = text.find('\n', at);
    if (nl == std::string::npos) nl = text.size();
    if (nl > at) out.push_back(text.substr(at, nl - at));
    at = nl + 1;
  }
  return out;
}

const std::string k_long1 = "A name much longer than thirty-one bytes.txt";
const std::string k_long2 = "Another name much longer than thirty-one.txt";
const std::string k_long3 = "Third name that is much longer than the limit";
const std::string k_exact = "Exactly thirty-one bytes long!!";  // 31 bytes

}  // namespace

TEST(TransferPrompts, LongHfsNamesFollowTheTruncationDialogAndItsRememberedRule) {
  REQUIRE_TOOL("hls");
  TempDir dir;
  std::string img = testvol::new_image(dir, false, 4);
  for (const std::string& n : {k_long1, k_long2, k_long3, k_exact}) write_text(dir.path() / n, n);
  fresh_ui();
  int prompt = 0;
  recorded_ui().truncation = [&](std::string& name, uint32_t) {
    if (++prompt == 1) {
      name = "Typed short name";
      return -1;  // the typed name, asked again next time
    }
    name = name.substr(0, 31);
    return -2;  // automatic from now on
  };
  ASSERT_EQ(import_paths(img, false, {dir.str(k_exact), dir.str(k_long1), dir.str(k_long2), dir.str(k_long3)}), 0);
  // 31 bytes pass unasked; the third long name took the remembered rule.
  ASSERT_EQ(recorded_ui().truncation_prompts.size(), 2u);
  EXPECT_EQ(recorded_ui().truncation_prompts[0].first, k_long1);
  EXPECT_EQ(recorded_ui().truncation_prompts[0].second, 2u);
  EXPECT_EQ(recorded_ui().truncation_prompts[1].first, k_long2);
  EXPECT_EQ(g_truncation_answer, 1);
  std::vector<std::string> names = lines_of(hls(img));
  EXPECT_EQ(names, (std::vector<std::string>{"Another name much longer than t", k_exact, "Third name that is much longer",  // blank cut
                                             "Typed short name"}));
  RunResult c = run("hmount " + quote(img) + " >/dev/null && hcopy -r ':Typed short name' -");
  EXPECT_EQ(c.out, k_long1);

  // Refused: nothing is written and the batch stops.
  fresh_ui();
  write_text(dir.path() / "Refused name that is far too long for HFS", "x");
  recorded_ui().truncation = [](std::string&, uint32_t) { return 0; };
  EXPECT_EQ(import_paths(img, false, {dir.str("Refused name that is far too long for HFS")}), -1);
  EXPECT_EQ(lines_of(hls(img)).size(), 4u);
}

TEST(TransferPrompts, AutomaticTruncationAddsACrcOnAClashThenAsks) {
  REQUIRE_TOOL("hls");
  TempDir dir;
  std::string img = testvol::new_image(dir, false, 4);
  const std::string first = "Quarterly report of the northern region.txt";
  const std::string second = "Quarterly report of the northern region (old).txt";
  std::filesystem::create_directories(dir.path() / "again");
  for (const std::string& n : {first, second}) write_text(dir.path() / n, n);
  write_text(dir.path() / "again" / second, "once more");
  fresh_ui();
  g_extract_options = k_option_shorten_auto | k_option_shorten_auto_crc;
  ASSERT_EQ(import_paths(img, false, {dir.str(first), dir.str(second)}), 0);
  EXPECT_TRUE(recorded_ui().truncation_prompts.empty());
  std::string mac_second = second;  // ASCII: the same bytes in Mac Roman
  char crc[8];
  crc16_text(mac_second.c_str(), crc);
  std::vector<std::string> names = lines_of(hls(img));
  EXPECT_EQ(names, (std::vector<std::string>{second.substr(0, 26) + "-" + crc, first.substr(0, 31)}));
  // Both forms taken: question 1154, answered No, and the item is not copied.
  recorded_ui().clear();
  EXPECT_EQ(import_paths(img, false, {dir.str("again/" + second)}), -1);
  ASSERT_EQ(recorded_ui().messages.size(), 1u);
  EXPECT_NE(recorded_ui().messages[0].find("already exists under the form"), std::string::npos);
  EXPECT_EQ(lines_of(hls(img)).size(), 2u);
}

TEST(TransferPrompts, EscDuringAnImportStopsBetweenFilesAndLeavesASoundVolume) {
  REQUIRE_TOOL("hls");
  TempDir dir;
  std::string img = testvol::new_image(dir, false, 4);
  std::filesystem::create_directories(dir.path() / "src");
  write_file(dir.path() / "src" / "a", random_bytes(3000, 1));
  write_file(dir.path() / "src" / "b", random_bytes(5000, 2));
  write_file(dir.path() / "src" / "c", random_bytes(7000, 3));
  fresh_ui();
  start_busy_cursor();
  {
    EscAt esc(2);                     // before the second file
    recorded_ui().answers = {1};      // "Do you really want to abort?" Yes
    EXPECT_EQ(import_paths(img, false, {dir.str("src")}), -1);  // one file in: minus one
  }
  EXPECT_FALSE(busy_cursor_running());
  ASSERT_EQ(recorded_ui().messages.size(), 1u);
  EXPECT_EQ(recorded_ui().messages[0], ui_text(1124));
  ASSERT_EQ(recorded_ui().copies.size(), 1u);
  EXPECT_EQ(recorded_ui().copies[0].target, "a");
  EXPECT_EQ(recorded_ui().copies[0].data_size, 3000u);
  EXPECT_EQ(recorded_ui().copies[0].rsrc_size, 0u);
  EXPECT_NE(recorded_ui().copies[0].source.find("a"), std::string::npos);
  EXPECT_LE(recorded_ui().copies[0].source.size(), 25u);
  EXPECT_EQ(lines_of(hls(img, ":src")), std::vector<std::string>{"a"});
  RunResult c = run("hmount " + quote(img) + " >/dev/null && hcopy -r :src:a -");
  EXPECT_EQ(std::vector<uint8_t>(c.out.begin(), c.out.end()), random_bytes(3000, 1));

  // Esc answered No: the copy goes on and the busy cursor runs again.
  std::string img2 = dir.str("second.img");
  ASSERT_EQ(testvol::make_image(img2, false, 4), 0);
  fresh_ui();
  start_busy_cursor();
  {
    EscAt esc(1);
    recorded_ui().answers = {0};
    EXPECT_EQ(import_paths(img2, false, {dir.str("src")}), 0);
  }
  EXPECT_TRUE(busy_cursor_running());
  stop_busy_cursor();
  EXPECT_EQ(lines_of(hls(img2, ":src")), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(recorded_ui().copies.size(), 3u);
}

TEST(TransferPrompts, EscDuringAnHfsPlusImportKeepsWhatSleuthkitSees) {
  REQUIRE_TOOL("fls");
  TempDir dir;
  std::string img = testvol::new_image(dir, true, 8);
  std::filesystem::create_directories(dir.path() / "src");
  for (const char* n : {"one", "two", "three"}) write_text(dir.path() / "src" / n, n);
  fresh_ui();
  EscAt esc(3);  // files in name order: one, three, then Esc before two
  recorded_ui().answers = {1};
  EXPECT_EQ(import_paths(img, true, {dir.str("src")}), -2);
  RunResult l = run("fls -f hfsp -r -p -o 64 " + quote(img));
  ASSERT_EQ(l.rc, 0) << l.err;
  EXPECT_NE(l.out.find("src/one"), std::string::npos) << l.out;
  EXPECT_NE(l.out.find("src/three"), std::string::npos) << l.out;
  EXPECT_EQ(l.out.find("src/two"), std::string::npos) << l.out;
}

namespace {

struct HfsutilsVolume {
  TempDir dir;
  std::string img;
  MacFile report = sample_mac_file("Report", 3000, 700, 31);
  MacFile notes = sample_mac_file("Notes", 800, 0, 32);
  MacFile tail = sample_mac_file("Tail", 90, 0, 33);
  bool ok = false;
  HfsutilsVolume() {
    img = make_hfs_volume(dir, "4M");
    std::string cmd = "hmount " + quote(img) + " >/dev/null";
    for (const MacFile* m : {&report, &notes, &tail}) {
      write_file(dir.path() / (m->name + ".bin"), encode_macbinary(*m));
      cmd += " && hcopy -m " + quote(dir.str(m->name + ".bin")) + " :";
    }
    ok = run(cmd).rc == 0;
  }
};

int extract_root(const std::string& img, const std::string& to) {
  testvol::close_volume();
  EXPECT_EQ(init_volume_engine(), 0);
  int fd = ::open(img.c_str(), O_RDONLY);
  PartitionListEntry list[k_max_partitions];
  int rc = open_image_volume(fd, 0, list);
  if (rc == 0) {
    g_copy_method = k_copy_data;
    g_extract = ExtractSession();
    rc = extract_folder_contents(2, to);
  } else {
    rc = -100;
  }
  close_image_volume();
  ::close(fd);
  return rc;
}

std::vector<std::string> files_in(const fs::path& folder) {
  std::vector<std::string> v;
  for (const auto& e : fs::directory_iterator(folder)) v.push_back(e.path().filename().string());
  std::sort(v.begin(), v.end());
  return v;
}

}  // namespace

TEST(TransferPrompts, EscDuringAnExtractionLeavesOnlyWholeFiles) {
  REQUIRE_TOOL("hcopy");
  HfsutilsVolume v;
  ASSERT_TRUE(v.ok);
  fs::create_directories(v.dir.path() / "out");
  fresh_ui();
  EscAt esc(2);  // catalog order: Notes, Report, Tail
  recorded_ui().answers = {1};
  EXPECT_NE(extract_root(v.img, v.dir.str("out")), 0);
  EXPECT_EQ(files_in(v.dir.path() / "out"), std::vector<std::string>{"Notes"});
  EXPECT_EQ(read_file(v.dir.path() / "out" / "Notes"), v.notes.data);
  ASSERT_EQ(recorded_ui().copies.size(), 1u);
  EXPECT_EQ(recorded_ui().copies[0].source, "Notes");
  EXPECT_EQ(recorded_ui().copies[0].data_size, 800u);
  EXPECT_EQ(recorded_ui().messages, std::vector<std::string>{ui_text(1124)});
}

TEST(TransferPrompts, LongPcPathsGoThroughThePromptAndItsAnswer) {
  REQUIRE_TOOL("hcopy");
  HfsutilsVolume v;
  ASSERT_TRUE(v.ok);
  // A folder whose path with a trailing "/" is 256 bytes: "Notes" (5) no longer fits, "Tail" (4) does.
  fs::path deep = v.dir.path();
  while (deep.string().size() < 200) deep /= "d123456789";
  deep /= std::string(255 - deep.string().size() - 1, 'x');
  fs::create_directories(deep);
  const std::string where = deep.string() + "/";
  ASSERT_EQ(where.size(), 256u);

  // Cancelled: that file's copy ends the batch with -1 and leaves no file.
  fresh_ui();
  recorded_ui().long_path = [](std::string&, std::string&, std::string&, std::string&) { return -1; };
  EXPECT_EQ(extract_root(v.img, deep.string()), -1);
  ASSERT_EQ(recorded_ui().long_path_prompts.size(), 1u);
  EXPECT_EQ(recorded_ui().long_path_prompts[0], (std::array<std::string, 4>{"", where, "Notes", ""}));
  EXPECT_TRUE(files_in(deep).empty());

  // The user's shorter name is taken; without a script, the automatic cut.
  fresh_ui();
  int n = 0;
  recorded_ui().long_path = [&](std::string&, std::string&, std::string& base, std::string&) {
    base = ++n == 1 ? "N" : base.substr(0, 4);
    return 0;
  };
  EXPECT_EQ(extract_root(v.img, deep.string()), 0);
  EXPECT_EQ(files_in(deep), (std::vector<std::string>{"N", "Repo", "Tail"}));
  EXPECT_EQ(read_file(deep / "Repo"), v.report.data);
  EXPECT_EQ(recorded_ui().long_path_prompts.size(), 2u);  // Tail fits as it is
  fresh_ui();
  fs::remove_all(deep);
  fs::create_directories(deep);
  EXPECT_EQ(extract_root(v.img, deep.string()), 0);
  EXPECT_EQ(files_in(deep), (std::vector<std::string>{"Note", "Repo", "Tail"}));
}

TEST(TransferPrompts, RenameRuleAsksForEachNameAndStopsOnATakenOne) {
  REQUIRE_TOOL("hcopy");
  HfsutilsVolume v;
  ASSERT_TRUE(v.ok);
  fs::create_directories(v.dir.path() / "out");
  fresh_ui();
  g_extract_options = 2;
  recorded_ui().pc_name = [](std::string& name) {
    if (name == "Tail") return false;  // skipped
    name = "renamed " + name + ".dat";
    return true;
  };
  EXPECT_EQ(extract_root(v.img, v.dir.str("out")), 0);
  EXPECT_EQ(recorded_ui().pc_name_prompts, (std::vector<std::string>{"Notes", "Report", "Tail"}));
  EXPECT_EQ(files_in(v.dir.path() / "out"), (std::vector<std::string>{"renamed Notes.dat", "renamed Report.dat"}));
  EXPECT_EQ(read_file(v.dir.path() / "out" / "renamed Report.dat"), v.report.data);
  // A typed name that is taken stops the copy (1121); a '/' typed stays in the folder.
  fresh_ui();
  g_extract_options = 2;
  recorded_ui().pc_name = [](std::string& name) {
    name = name == "Notes" ? "sub/dir" : "renamed Notes.dat";
    return true;
  };
  EXPECT_EQ(extract_root(v.img, v.dir.str("out")), -1);
  EXPECT_EQ(files_in(v.dir.path() / "out"), (std::vector<std::string>{"renamed Notes.dat", "renamed Report.dat", "sub_dir"}));
  ASSERT_EQ(recorded_ui().messages.size(), 1u);
  EXPECT_NE(recorded_ui().messages[0].find("Aborting the copy"), std::string::npos);
  g_extract_options = 0;
}

TEST(TransferPrompts, DeletesShowEveryItemTheyRemove) {
  REQUIRE_TOOL("hls");
  TempDir dir;
  std::string img = testvol::new_image(dir, false, 4);
  fs::create_directories(dir.path() / "tree" / "inner");
  write_text(dir.path() / "tree" / "f1", "1");
  write_text(dir.path() / "tree" / "inner" / "f2", "2");
  fresh_ui();
  ASSERT_EQ(import_paths(img, false, {dir.str("tree")}), 0);
  ASSERT_EQ(testvol::open_volume(img, false), 0);
  recorded_ui().answers = {1};  // delete the non-empty folder
  EXPECT_EQ(hfs_delete_item("tree", 2), 1);
  EXPECT_EQ(flush_volume_structures(), 0);
  testvol::expect_sound("after the delete");
  testvol::close_volume();
  EXPECT_EQ(recorded_ui().deleted, (std::vector<std::string>{"tree", "f1", "inner", "f2"}));
  EXPECT_TRUE(lines_of(hls(img)).empty());
}

TEST(TransferPrompts, RecordLevelRenameKeepsThreadsRightOnBothKinds) {
  REQUIRE_TOOL("hls");
  REQUIRE_TOOL("fls");
  for (bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "HFS+" : "HFS");
    TempDir dir;
    std::string img = testvol::new_image(dir, plus, 8);
    fs::create_directories(dir.path() / "Old" / "Sub");
    write_text(dir.path() / "Old" / "Sub" / "leaf", "leaf");
    fresh_ui();
    ASSERT_EQ(import_paths(img, plus, {dir.str("Old")}), 0);
    ASSERT_EQ(testvol::open_volume(img, plus), 0);
    EXPECT_EQ(g_volume.media_block_size, 512u);
    EXPECT_EQ(g_volume.partition_count, 1);
    ASSERT_EQ(load_allocation_bitmap(), 0);
    std::string old_name = "Old";
    std::vector<uint8_t> key;
    if (plus) {
      std::vector<uint16_t> units(old_name.begin(), old_name.end());
      key = hfsplus_raw_key(2, units);
      EXPECT_EQ(hfsplus_rename_catalog_record(key, "Renamed folder", 2), 0);
      EXPECT_EQ(hfsplus_rename_catalog_record(key, "Again", 2), 1);  // nothing left under the old key
    } else {
      key = hfs_raw_key(2, {reinterpret_cast<const uint8_t*>(old_name.data()), old_name.size()});
      EXPECT_EQ(hfs_rename_catalog_record(key, "Renamed folder", 2), 0);
      EXPECT_EQ(hfs_rename_catalog_record(key, "Again", 2), 1);
    }
    EXPECT_EQ(flush_volume_structures(), 0);
    testvol::expect_sound("after the re-keying");  // threads name the new key
    testvol::close_volume();
    if (plus) {
      RunResult l = run("fls -f hfsp -r -p -o 64 " + quote(img));
      EXPECT_NE(l.out.find("Renamed folder/Sub/leaf"), std::string::npos) << l.out;
      EXPECT_EQ(l.out.find("Old"), std::string::npos) << l.out;
    } else {
      // hfsutils finds a folder's path through its thread records.
      RunResult l = run("hmount " + quote(img) + " >/dev/null && hcd ':Renamed folder:Sub' && hpwd && hls");
      EXPECT_EQ(l.out, "Vol:Renamed folder:Sub:\nleaf\n") << l.err;
    }
  }
}

TEST(TransferPrompts, AliasResourceIsReadFromTheResourceFork) {
  TempDir dir;
  std::string img = testvol::new_image(dir, false, 4);
  std::vector<uint8_t> alias = random_bytes(300, 7), big = random_bytes(1001, 8);
  auto put = [&](const char* name, const std::vector<NewResource>& resources) {
    std::vector<uint8_t> fork = encode_resource_fork(resources);
    std::string path = dir.str(std::string(name) + ".rsrc");
    write_file(path, fork);
    int fd = ::open(path.c_str(), O_RDONLY);
    MacFile meta;
    meta.name = name;
    std::memcpy(meta.type.data(), "fdrp", 4);
    std::memcpy(meta.creator.data(), "MACS", 4);
    EXPECT_EQ(write_file_forks(meta, ImportFork{}, {fd, 0, fork.size()}, 2, 1), 0);
    ::close(fd);
  };
  ASSERT_EQ(testvol::open_volume(img, false), 0);
  ASSERT_EQ(load_allocation_bitmap(), 0);
  fresh_ui();
  put("alias", {{{'i', 'c', 'l', '4'}, 1, "", random_bytes(20, 9)}, {{'a', 'l', 'i', 's'}, 0, "", alias},
                {{'a', 'l', 'i', 's'}, 1, "", big}});
  put("big", {{{'a', 'l', 'i', 's'}, 0, "", big}});
  put("none", {{{'S', 'T', 'R', ' '}, 0, "", alias}});
  auto read_alias = [](const char* name, std::vector<uint8_t>& out) {
    std::vector<uint8_t> data;
    std::string n = name;
    if (catalog_get(hfs_raw_key(2, {reinterpret_cast<const uint8_t*>(n.data()), n.size()}), data) != 0) return -100;
    return hfs_read_alias_resource(data, out);
  };
  std::vector<uint8_t> out;
  EXPECT_EQ(read_alias("alias", out), 0);
  EXPECT_EQ(out, alias);  // the first "alis" only
  std::vector<uint8_t> kept = {1, 2, 3};
  EXPECT_EQ(read_alias("big", kept), -1);
  EXPECT_EQ(read_alias("none", kept), -2);
  EXPECT_EQ(kept, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(flush_volume_structures(), 0);
  testvol::close_volume();
}
