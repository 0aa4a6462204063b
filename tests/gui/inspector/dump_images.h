// Images stored as files on an open volume, for the dump window and its
// viewers: each is made by an outside tool (or the engine), then copied onto an
// engine-made HFS+ volume, so the dump shows it sector by sector as a fork.
// Recipes:
//   plus.img   engine HFS+ volume, 4 MB, 200 small files in "Many" (a catalog
//              of two levels) and a 3000-byte file
//   hfs.img    hformat -l Inner (2 MB), hcopy -r of three files
//   hyb.iso    genisoimage -J -hfs -part of a folder with a subfolder
//   mbr.img    sfdisk (FAT16 at 2048, an Apple partition at 34816),
//              mkfs.fat -F 16 --offset 2048
//   gpt.img    sgdisk: an HFS+ partition "Mac HD" and an EFI system partition
//   mb.bin     a MacBinary file (both forks) kept as it is
//   hcopy.bin  hcopy -m of hfs.img's ReadMe (MacBinary II), kept as it is
//   rr.iso     genisoimage -R of the same folder as hyb.iso (Rock Ridge)
//   ad.dat     the "._" AppleDouble file unar writes beside MB's data
//              (when unar is there)
//   as         in the root: a file whose data fork is an AppleSingle file of
//              the engine's (as.bin decoded)
//   one.bin (512 bytes), odd.bin (513), empty.txt (0)
//   rsrc       a file with a resource fork alone, in the root: fontforge's font
//              suitcase of the fuzz seeds (rsrc.bin decoded)
#pragma once

#include <map>

#include "gui/inspector/dump_session.h"
#include "gui/inspector/inspect_images.h"
#include "gui/views/file_table.h"
#include "hfs/lookup.h"
#include "macfiles/applesingle.h"
#include "macfiles/import.h"
#include "macfiles/macbinary.h"
#include "macfiles/macfile.h"

namespace dumpimg {

using testkit::quote;
using testkit::run;

inline std::string suitcase_path() {
  return std::string(CORVANE_SOURCE_DIR) + "/tests/fuzz/seeds/fuzz_resfork/fontforge_suitcase.rsrc";
}

struct NestedImages {
  testkit::TempDir dir;
  std::string outer = dir.str("outer.img");
  std::map<std::string, std::vector<uint8_t>> files;  // name on the volume -> its bytes
  std::vector<uint8_t> resource;                      // rsrc.bin's resource fork
  std::vector<uint8_t> applesingle;                   // the data fork of "as"
  int rc = -1;
  std::string why;

  NestedImages() {
    std::string src = dir.str("src");
    testkit::fs::create_directories(src);
    auto step = [&](const std::string& cmd) {
      auto r = run(cmd);
      if (r.rc != 0 && why.empty()) why = cmd + ": " + r.err;
      return r.rc == 0;
    };
    // The inner HFS+ volume.
    std::string many = dir.str("many");
    testkit::fs::create_directories(many);
    for (int i = 0; i < 200; ++i) testkit::write_text(many + "/file" + std::to_string(i) + ".txt", "x\n");
    testkit::write_file(dir.str("three.bin"), testkit::random_bytes(3000, 5));
    if (inspimg::make_engine_image(src + "/plus.img", true, 4, {many, dir.str("three.bin")}) != 0)
      why = "inner HFS+ image";
    // The other images.
    std::string iso_src = dir.str("iso");
    testkit::fs::create_directories(iso_src + "/Docs/Sub");
    testkit::write_text(iso_src + "/Read Me.txt", "hello\n");
    testkit::write_text(iso_src + "/Docs/a.txt", "aaa\n");
    testkit::write_text(iso_src + "/Docs/Sub/b.txt", "bbb\n");
    step("hformat -l Inner " + quote(src + "/hfs.img") + " >/dev/null 2>&1 || (dd if=/dev/zero of=" +
         quote(src + "/hfs.img") + " bs=1k count=2048 2>/dev/null && hformat -l Inner " + quote(src + "/hfs.img") +
         " >/dev/null)");
    step("hmount " + quote(src + "/hfs.img") + " >/dev/null && hcopy -r " + quote(iso_src + "/Read Me.txt") +
         " :ReadMe && hcopy -r " + quote(dir.str("three.bin")) + " :Three && hattrib -t TEXT -c ttxt :ReadMe && "
         "hcopy -m :ReadMe " + quote(src + "/hcopy.bin") + " && humount >/dev/null");

    step("genisoimage -quiet -J -hfs -part -V HYB -o " + quote(src + "/hyb.iso") + " " + quote(iso_src) +
         " 2>/dev/null");
    step("genisoimage -quiet -R -V RR -o " + quote(src + "/rr.iso") + " " + quote(iso_src) + " 2>/dev/null");
    step("truncate -s 24M " + quote(src + "/mbr.img") +
         " && printf 'label: dos\\nstart=2048, size=32768, type=6\\nstart=34816, size=8192, type=af\\n' | sfdisk -q " +
         quote(src + "/mbr.img") + " && mkfs.fat -F 16 --offset 2048 -n LABEL16 " + quote(src + "/mbr.img") +
         " 16384 >/dev/null 2>&1");
    step("truncate -s 8M " + quote(src + "/gpt.img") + " && sgdisk -n 1:2048:+4M -t 1:AF00 -c 1:'Mac HD' " +
         "-n 2:0:+1M -t 2:EF00 " + quote(src + "/gpt.img") + " >/dev/null");
    testkit::write_file(src + "/one.bin", testkit::random_bytes(512, 11));
    testkit::write_file(src + "/odd.bin", testkit::random_bytes(513, 12));
    testkit::write_file(src + "/empty.txt", {});
    MacFile both;
    both.name = "MB";
    std::copy_n("APPL", 4, both.type.begin());
    std::copy_n("ABCD", 4, both.creator.begin());
    both.data = testkit::random_bytes(700, 13);
    both.resource = testkit::random_bytes(300, 14);
    std::vector<uint8_t> mb = encode_macbinary(both);
    testkit::write_file(dir.str("MB.bin"), mb);
    if (testkit::tool_available("unar"))
      step("cd " + quote(dir.str()) + " && mkdir -p unar && unar -q -k hidden -o unar MB.bin >/dev/null && "
           "cp unar/._MB " + quote(src + "/ad.dat"));
    MacFile only;
    only.name = "rsrc";
    resource = only.resource = testkit::read_file(suitcase_path());
    testkit::write_file(dir.str("rsrc.bin"), encode_macbinary(only));
    MacFile single;
    single.name = "Single";
    std::copy_n("TEXTttxt", 4, single.type.begin());
    std::copy_n("ttxt", 4, single.creator.begin());
    single.data = testkit::random_bytes(900, 15);
    single.resource = testkit::random_bytes(200, 16);
    MacFile wrap;
    wrap.name = "as";
    applesingle = wrap.data = encode_applesingle(single);
    testkit::write_file(dir.str("as.bin"), encode_macbinary(wrap));
    if (!why.empty()) return;
    for (const auto& e : testkit::fs::directory_iterator(src))
      files[e.path().filename().string()] = testkit::read_file(e.path().string());
    // The MacBinary file stays one: it goes in under a name the import does not decode.
    testkit::write_file(src + "/mb.dat", mb);
    files["mb.dat"] = mb;
    int saved = g_macbinary_answer;
    g_macbinary_answer = -1;  // the files of src go in as they are
    rc = inspimg::make_engine_image(outer, true, 64, {src});
    if (rc == 0 && inspimg::open_volume(outer, true, true) == 0) {
      g_macbinary_answer = 2;  // rsrc.bin goes in as its forks
      rc = load_allocation_bitmap();
      if (rc == 0) rc = import_pc_item(dir.str("rsrc.bin"), 2, 1) < 0 ? -3 : 0;
      if (rc == 0) rc = import_pc_item(dir.str("as.bin"), 2, 1) < 0 ? -3 : 0;
      if (flush_volume_structures() < 0 && rc == 0) rc = -4;
      inspimg::close_volume();
    }
    g_macbinary_answer = saved;
    if (rc != 0) why = "outer image: " + std::to_string(rc);
  }
};

inline const NestedImages& nested() {
  static NestedImages images;
  return images;
}

// The tests over the nested images: the tools that make them, the images made
// (once), and their volume open for each test.
class NestedImagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"genisoimage", "hformat", "sgdisk", "sfdisk", "mkfs.fat"}) REQUIRE_TOOL(tool);
    ASSERT_EQ(nested().rc, 0) << nested().why;
    ASSERT_EQ(inspimg::open_volume(nested().outer, true), 0);
  }
  void TearDown() override { inspimg::close_volume(); }
};

// The folder the images went into (the source folder "src" in the root).
inline uint32_t src_folder() { return hfsplus_get_folder_id("src", 2); }

// Opens the dump of a file of "src" on the open volume.
inline bool open_file(const std::string& name, DumpFile& out, uint32_t folder = 0) {
  std::u16string units;
  for (char c : name) units += char16_t(c);
  return open_dump_file(folder ? folder : src_folder(), 0, "", units, out) == 0;
}

// The main list's row of an item of folder parent of the open HFS+ volume.
inline FileTableEntry row_of(uint32_t parent, const std::string& name) {
  std::vector<CatalogItem> items;
  EXPECT_EQ(list_folder(parent, items), 0);
  FileTableEntry e;
  for (const CatalogItem& it : items) {
    if (std::string(it.units.begin(), it.units.end()) != name) continue;
    e.units = it.units;
    e.hfsplus = true;
    e.kind = it.is_folder ? 1 : 2;
    e.id = it.is_folder ? int32_t(it.id) : -int32_t(it.id);
    e.data_size = it.data_size;
    e.resource_size = it.rsrc_size;
  }
  return e;
}

}  // namespace dumpimg
