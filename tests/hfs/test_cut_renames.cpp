// Renames and moves cut short at each of their writes (the process killed at
// its Nth write by strace), over a root whose records fill several leaves:
// every item is still listed by an outside reader (hfsutils for HFS,
// sleuthkit for HFS+) under its old name or its new one, a folder with all it
// holds, and the next opening says what the cut left.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <set>

#include "IO/uitext.h"
#include "hfs/volcheck.h"
#include "hfs/voledit.h"
#include "macfiles/import.h"
#include "support/recording_ui.h"
#include "support/testkit.h"
#include "volume_fixture.h"

using namespace testkit;

namespace {

const std::string k_edit = EDIT_VOLUME_PATH;

// A volume of ours: 300 files and 40 folders in the root, the folder "Box"
// holding 100 files, the empty folder "Shelf".
std::string base_image(bool plus, const TempDir& dir) {
  std::string img = testvol::new_image(dir, plus, 16);
  fs::create_directories(dir.path() / "pc" / "Box");
  for (int i = 0; i < 100; ++i) write_text(dir.path() / "pc" / "Box" / ("in " + std::to_string(i)), "x");
  EXPECT_EQ(testvol::open_volume(img, plus), 0);
  EXPECT_EQ(load_allocation_bitmap(), 0);
  recorded_ui().clear();
  EXPECT_EQ(import_pc_item(dir.str("pc/Box"), 2, 1), 0);
  char name[32];
  for (int i = 0; i < 300; ++i) {
    std::snprintf(name, sizeof name, "file %03d", i);
    write_text(dir.path() / "pc" / name, name);
    EXPECT_EQ(import_pc_item(dir.str("pc/" + std::string(name)), 2, 1), 0);
  }
  for (int i = 0; i < 40; ++i) {
    std::snprintf(name, sizeof name, "folder %02d", i);
    EXPECT_GT(plus ? hfsplus_create_folder(name, 2) : hfs_create_folder(name, 2), 0);
  }
  EXPECT_GT(plus ? hfsplus_create_folder("Shelf", 2) : hfs_create_folder("Shelf", 2), 0);
  EXPECT_EQ(flush_volume_structures(), 0);
  testvol::expect_sound("the volume before");
  testvol::close_volume();
  return img;
}

// The paths an outside reader lists (HFS: ":Box:in 1"; HFS+: "Box/in 1"),
// read from a copy (hfsutils may write a volume it lets go of).
std::set<std::string> listing(bool plus, const std::string& img) {
  std::string copy = img + ".read";
  fs::copy_file(img, copy, fs::copy_options::overwrite_existing);
  return plus ? testvol::hfsplus_listing(copy) : testvol::hfs_listing(copy);
}

struct Opening {
  bool read_only = false, clean = false;
  std::vector<std::string> faults;
};
Opening open_again(bool plus, const std::string& img) {
  Opening o;
  recorded_ui().clear();
  if (testvol::open_volume(img, plus) != 0) {
    ADD_FAILURE() << "not opened again";
    return o;
  }
  o.read_only = g_volume.read_only != 0;
  o.clean = g_volume.clean_on_disk != 0;
  check_volume(o.faults);
  testvol::close_volume();
  return o;
}

struct Edit {
  std::string what;
  std::vector<std::string> args;
  std::function<std::string(const std::string&)> moved;  // a path before -> the same item's path after
};

void cut_edits_short(bool plus) {
  REQUIRE_TOOL("strace");
  REQUIRE_TOOL(plus ? "fls" : "hls");
  TempDir dir;
  const std::string base = base_image(plus, dir);
  const std::set<std::string> before = listing(plus, base);
  ASSERT_EQ(before.size(), 300u + 40 + 2 + 100);
  const std::string sep = plus ? "/" : ":", top = plus ? "" : ":";
  // A path whose first component is from gets to, the rest kept.
  auto renamed = [&](const std::string& from, const std::string& to) {
    return [=](const std::string& p) {
      std::string head = top + from;
      if (p == head) return top + to;
      if (p.rfind(head + sep, 0) == 0) return top + to + p.substr(head.size());
      return p;
    };
  };
  const std::vector<Edit> edits = {
      {"folder renamed", {"rename", "Box", "zz Box"}, renamed("Box", "zz Box")},
      {"file renamed", {"rename", "file 003", "zz file"}, renamed("file 003", "zz file")},
      {"folder moved", {"move", "Box", "Shelf"}, renamed("Box", "Shelf" + sep + "Box")},
  };
  const std::string img = dir.str("img"), log = dir.str("edit.log");
  for (const Edit& e : edits) {
    SCOPED_TRACE(std::string(plus ? "HFS+, " : "HFS, ") + e.what);
    std::set<std::string> after;
    for (const std::string& p : before) after.insert(e.moved(p));
    fs::copy_file(base, img, fs::copy_options::overwrite_existing);
    std::vector<std::string> argv{k_edit, img};
    argv.insert(argv.end(), e.args.begin(), e.args.end());
    const int writes = traced_writes(argv, 0, log);
    ASSERT_GT(writes, 3);
    EXPECT_EQ(listing(plus, img), after);
    Opening whole = open_again(plus, img);
    EXPECT_TRUE(whole.clean && !whole.read_only && whole.faults.empty()) << "the uncut edit";
    int twice = 0;
    for (int n = 1; n <= writes; ++n) {
      std::string when = "killed at write " + std::to_string(n) + " of " + std::to_string(writes);
      fs::copy_file(base, img, fs::copy_options::overwrite_existing);
      ASSERT_EQ(traced_writes(argv, n, log), 137) << when;
      std::set<std::string> listed = listing(plus, img);
      for (const std::string& p : before)
        EXPECT_TRUE(listed.count(p) || listed.count(e.moved(p))) << when << ": " << p << " is gone";
      for (const std::string& p : listed) EXPECT_TRUE(before.count(p) || after.count(p)) << when << ": " << p;
      // What the opening finds: the item under both its names, said and opened read-only.
      Opening o = open_again(plus, img);
      bool both = listed != before && listed != after;
      twice += both;
      if (both) {
        EXPECT_TRUE(o.read_only) << when;
        bool said = false;
        for (const std::string& f : o.faults) said = said || f.find("stored under two keys") != std::string::npos;
        EXPECT_TRUE(said) << when << ": " << (o.faults.empty() ? "" : o.faults.front());
      } else {
        EXPECT_EQ(o.read_only, !o.faults.empty()) << when;
      }
      if (!o.read_only) {
        EXPECT_TRUE(o.faults.empty()) << when << ": " << o.faults.front();
      }
    }
    EXPECT_GT(twice, 0) << "no cut fell between the new key and the old";
  }
}

}  // namespace

TEST(CutRenames, HfsItemsStayUnderOneOfTheirNames) { cut_edits_short(false); }

TEST(CutRenames, HfsPlusItemsStayUnderOneOfTheirNames) { cut_edits_short(true); }
