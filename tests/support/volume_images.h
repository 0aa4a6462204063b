// Images and PC files for the tests of the volume commands and dialogs:
// images made by hfsutils (HFS, in an Apple partition map) and by the engine
// (HFS+), PC files in each encoding made by tools and scripts of their own, and
// mactool, the standard-library reader of those encodings.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "hfs/alloc.h"
#include "hfs/lookup.h"
#include "hfs/voledit.h"
#include "hfs/volume.h"
#include "hfs/volume_fixture.h"
#include "macfiles/import.h"
#include "support/testkit.h"

namespace volkit {

using testkit::quote;
using testkit::run;

inline std::string mactool() { return std::string("python3 ") + CORVANE_SOURCE_DIR + "/tests/support/mactool.py "; }

// key=value lines of mactool.
inline std::map<std::string, std::string> fields(const std::string& out) {
  std::map<std::string, std::string> m;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) m[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return m;
}

// An HFS volume formatted by hfsutils in the first partition of an Apple map made by parted.
inline std::string hformat_image(const testkit::TempDir& dir, const std::string& label = "Form Vol",
                                 const char* size = "8M") {
  std::string img = dir.str("hfs.img");
  auto r = run("truncate -s " + std::string(size) + " " + quote(img) + " && parted -s " + quote(img) +
               " mklabel mac mkpart p1 hfs 1MiB 100% && hformat -l " + quote(label) + " " + quote(img) + " 1");
  EXPECT_EQ(r.rc, 0) << r.err;
  return img;
}
inline std::string hfsplus_image(const testkit::TempDir& dir, uint32_t mb = 16) {
  std::string img = dir.str("hfsplus.img");
  EXPECT_EQ(testvol::make_image(img, true, mb, "Plus Vol"), 0);
  return img;
}

// The names hfsutils lists in a folder of the HFS image (":" the root), hidden ones too.
inline std::set<std::string> hls_names(const std::string& img, const std::string& folder = ":") {
  auto r = run("hmount " + quote(img) + " >/dev/null && hls -1 -a " + quote(folder) + " && humount >/dev/null");
  EXPECT_EQ(r.rc, 0) << r.err;
  std::set<std::string> names;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) names.insert(line);
  return names;
}

// PC files carrying forks in every way the copy onto a volume reads them.
struct PcInputs {
  std::string folder;  // holds everything below
  std::string plain;   // plain text
  std::string macbinary, binhex, applesingle, streams;
  // the forks each encoded file carries
  std::vector<uint8_t> data, rsrc;
};
inline PcInputs make_pc_inputs(const testkit::TempDir& dir, const std::string& sub = "pc") {
  PcInputs in;
  in.folder = dir.str(sub);
  testkit::fs::create_directories(in.folder);
  in.data = testkit::random_bytes(3000, 11);
  in.rsrc = testkit::random_bytes(700, 12);
  std::string work = dir.str(sub + "-work");
  testkit::fs::create_directories(work);
  testkit::write_file(work + "/MBFILE", in.data);
  testkit::write_file(work + "/HQXFILE", in.data);
  testkit::write_file(work + "/R", in.rsrc);
  in.plain = in.folder + "/plain.txt";
  testkit::write_text(in.plain, "plain text\n");
  in.macbinary = in.folder + "/MBFILE.bin";
  in.binhex = in.folder + "/HQXFILE.hqx";
  in.applesingle = in.folder + "/single.as";
  in.streams = in.folder + "/streams.doc";
  std::string w = quote(work);
  auto r = run("cd " + w + " && tobin -res R -type APPL -creator ABCD MBFILE && tobin -res R -type APPL -creator BHEX HQXFILE" +
               " && mv MBFILE.bin " + quote(in.macbinary) + " && binhex HQXFILE.bin > " + quote(in.binhex) + " && " +
               mactool() + "applesingle " + quote(in.applesingle) + " MBFILE R TEXT ttxt 0x0100 && " + mactool() +
               "afp " + quote(in.streams) + " MBFILE R WDBN MSWD 0x2000");
  EXPECT_EQ(r.rc, 0) << r.err;
  return in;
}

// The five encodings copied onto the root of the open volume, and a folder "Docs".
inline void fill_volume(const PcInputs& in) {
  g_macbinary_answer = g_binhex_answer = 2;
  EXPECT_EQ(load_allocation_bitmap(), 0);
  for (const std::string& p : {in.plain, in.macbinary, in.binhex, in.applesingle, in.streams})
    EXPECT_EQ(import_pc_item(p, 2, 1), 0) << p;
  EXPECT_GT(g_volume.is_hfsplus ? hfsplus_create_folder("Docs", 2) : hfs_create_folder("Docs", 2), 0);
  EXPECT_EQ(flush_volume_structures(), 0);
  free_allocation_bitmap();
}

// The id of an item of a folder of the open volume, by its catalog name (ASCII
// names): negative for a file, as the list's rows have it.
inline int32_t item_id(uint32_t folder, const std::string& mac_name) {
  std::vector<CatalogItem> items;
  EXPECT_EQ(list_folder(folder, items), 0);
  for (const CatalogItem& c : items) {
    std::string name = c.name;
    if (g_volume.is_hfsplus) name.assign(c.units.begin(), c.units.end());
    if (name == mac_name) return c.is_folder ? int32_t(c.id) : -int32_t(c.id);
  }
  ADD_FAILURE() << "no item " << mac_name;
  return 0;
}

}  // namespace volkit
