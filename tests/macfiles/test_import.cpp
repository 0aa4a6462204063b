// Copying a mixed PC tree onto HFS (checked by hfsutils) and HFS+ (checked by
// sleuthkit) volumes: names, signatures, sizes, dates and every fork.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "hfs/alloc.h"
#include "hfs/engine.h"
#include "hfs/lookup.h"
#include "IO/bigendian.h"
#include "IO/charsets.h"
#include "hfs/mount.h"
#include "hfs/newimage.h"
#include "macfile_fixtures.h"
#include "macfiles/applesingle.h"
#include "macfiles/binhex.h"
#include "macfiles/extract.h"
#include "macfiles/import.h"
#include "macfiles/macbinary.h"
#include "macfiles/namedstreams.h"
#include "support/recording_ui.h"

using namespace testkit;

namespace {

// Opens an image for writing, runs the import of each path into the root and writes back.
int import_into(const std::string& img, const std::vector<std::string>& paths) {
  EXPECT_EQ(init_volume_engine(), 0);
  int fd = ::open(img.c_str(), O_RDWR);
  PartitionListEntry list[k_max_partitions];
  int rc = open_image_volume(fd, 0, list);
  if (rc == 0) rc = load_allocation_bitmap();
  if (rc == 0)
    for (const std::string& p : paths) {
      rc = import_pc_item(p, 2, 1);
      if (rc < 0) break;
    }
  int flushed = flush_volume_structures();
  close_image_volume();
  ::close(fd);
  return rc != 0 ? rc : (flushed < 0 ? flushed : 0);
}

// A new partitioned image of ours (bare volumes are opened read-only).
std::string new_image(const TempDir& dir, bool plus, uint32_t mb) {
  std::string img = dir.str(plus ? "plus.img" : "hfs.img");
  int fd = ::open(img.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  NewImageRequest req;
  req.image = fd;
  req.volume_name = plus ? "Plus" : "Classic";
  req.size_mb = mb;
  int rc = plus ? create_hfsplus_image(req) : create_hfs_image(req);
  ::close(fd);
  return rc == 0 ? img : "";
}

// A PC tree of every kind the import knows.
struct Tree {
  TempDir dir;
  MacFile mb = sample_mac_file("FromMacBinary", 5000, 1500, 41);
  MacFile hqx = sample_mac_file("FromBinHex", 777, 333, 42);
  MacFile single = sample_mac_file("single", 1200, 64, 43);
  MacFile pair = sample_mac_file("pair", 900, 200, 44);
  std::vector<uint8_t> plain = random_bytes(70000, 45);
  std::string long_name = "A name much longer than thirty-one bytes.txt";
  Tree() {
    fs::create_directories(dir.path() / "src" / "Sub folder");
    write_file(dir.path() / "src" / "notes.txt", plain);
    write_file(dir.path() / "src" / "mb.bin", encode_macbinary(mb));
    write_text(dir.path() / "src" / "hqx.hqx", encode_binhex(hqx));
    write_file(dir.path() / "src" / "Sub folder" / "single", encode_applesingle(single));
    write_file(dir.path() / "src" / "Sub folder" / "pair", pair.data);
    write_file(dir.path() / "src" / "Sub folder" / "._pair", encode_appledouble(pair));
    write_file(dir.path() / "src" / "Sub folder" / long_name, random_bytes(10, 46));
  }
  std::string src() const { return dir.str("src"); }
};

}  // namespace

TEST(Import, MixedTreeOntoHfs) {
  REQUIRE_TOOL("hls");
  Tree t;
  std::string img = new_image(t.dir, false, 8);
  recorded_ui().clear();
  recorded_ui().answers = {1, 1, 1, 1};  // unpack the MacBinary and BinHex files
  ASSERT_EQ(import_into(img, {t.src()}), 0);
  RunResult l = run("hmount " + quote(img) + " >/dev/null && hls -laRN");
  ASSERT_EQ(l.rc, 0) << l.err;
  const std::string& o = l.out;
  EXPECT_NE(o.find("d          4 items"), std::string::npos) << o;  // src: 3 files + 1 folder
  EXPECT_NE(o.find("TEXT/????         0     70000"), std::string::npos) << o;
  EXPECT_NE(o.find("APPL/ABCD      1500      5000") , std::string::npos) << o;
  EXPECT_NE(o.find("APPL/ABCD       333       777 "), std::string::npos) << o;
  EXPECT_NE(o.find("APPL/ABCD        64      1200"), std::string::npos) << o;
  EXPECT_NE(o.find("APPL/ABCD       200       900"), std::string::npos) << o;
  EXPECT_NE(o.find("FromMacBinary"), std::string::npos) << o;
  // The long name took the automatic cut of the truncation prompt, asked once.
  EXPECT_NE(o.find("A name much longer than thirty-\n"), std::string::npos) << o;
  ASSERT_EQ(recorded_ui().truncation_prompts.size(), 1u);
  EXPECT_EQ(recorded_ui().truncation_prompts[0].first, t.long_name);
  EXPECT_EQ(o.find("._pair"), std::string::npos) << o;  // the companion is no file of its own
  // Every fork read back by hfsutils equals its source.
  RunResult c = run("hmount " + quote(img) + " >/dev/null && hcopy -m :src:FromMacBinary " +
                    quote(t.dir.str("mb.out")) + " && hcopy -m ':src:Sub folder:pair' " + quote(t.dir.str("pair.out")) +
                    " && hcopy -r :src:notes.txt " + quote(t.dir.str("notes.out")));
  ASSERT_EQ(c.rc, 0) << c.err;
  MacFile m, p;
  ASSERT_EQ(decode_macbinary(read_file(t.dir.path() / "mb.out"), m), 0);
  EXPECT_EQ(m.data, t.mb.data);
  EXPECT_EQ(m.resource, t.mb.resource);
  ASSERT_EQ(decode_macbinary(read_file(t.dir.path() / "pair.out"), p), 0);
  EXPECT_EQ(p.data, t.pair.data);
  EXPECT_EQ(p.resource, t.pair.resource);
  EXPECT_EQ(read_file(t.dir.path() / "notes.out"), t.plain);
}

// Files given one by one in a batch, as a paste gives them: their folder is
// listed once, and a file whose "._" companion it holds still takes its
// resource fork and signature from it (read back by hfsutils).
TEST(Import, FilesGivenOneByOneInABatchKeepTheirCompanions) {
  REQUIRE_TOOL("hls");
  Tree t;
  std::string img = new_image(t.dir, false, 8);
  recorded_ui().clear();
  const std::string sub = t.src() + "/Sub folder/";
  {
    ImportBatch batch;
    ASSERT_EQ(import_into(img, {sub + "single", sub + "._pair", sub + "pair"}), 0);
  }
  RunResult c = run("hmount " + quote(img) + " >/dev/null && hls -aN && hcopy -m :pair " + quote(t.dir.str("pair.out")));
  ASSERT_EQ(c.rc, 0) << c.err;
  EXPECT_EQ(c.out.find("._pair"), std::string::npos) << c.out;
  MacFile p;
  ASSERT_EQ(decode_macbinary(read_file(t.dir.path() / "pair.out"), p), 0);
  EXPECT_EQ(p.data, t.pair.data);
  EXPECT_EQ(p.resource, t.pair.resource);
  EXPECT_EQ(std::string(p.type.begin(), p.type.end()), "APPL");
}

// An AppleSingle file under a PC name of its own ("x.sit.as") holds the file's
// real name in entry 3, in Mac Roman: the file on the volume takes that name,
// cut as HFS cuts it, as it takes a MacBinary file's. lsar reads the entry as
// the file's name, and genisoimage (--single) names the file alike on its HFS
// volume; hfsutils then lists the same bytes on an hformat volume we copied to.
TEST(Import, AppleSingleTakesTheNameItHolds) {
  REQUIRE_TOOL("hformat");
  REQUIRE_TOOL("lsar");
  REQUIRE_TOOL("genisoimage");
  TempDir dir;
  const std::string real = utf8_to_macroman("Résumé of the long archive name.sit");  // 35 bytes
  const std::vector<uint8_t> data = random_bytes(3000, 47);
  std::vector<uint8_t> as;
  auto be32 = [&as](uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) as.push_back(uint8_t(v >> s));
  };
  be32(k_applesingle_magic);
  be32(k_apple_version);
  as.resize(as.size() + 16);
  as.push_back(0);
  as.push_back(3);  // entries: the name, the Finder's data, the data fork
  const uint32_t name_at = 26 + 3 * 12, info_at = name_at + uint32_t(real.size()), data_at = info_at + 32;
  for (uint32_t e : {3u, name_at, uint32_t(real.size()), 9u, info_at, 32u, 1u, data_at, uint32_t(data.size())}) be32(e);
  as.insert(as.end(), real.begin(), real.end());
  for (char c : std::string("SITDSIT!")) as.push_back(uint8_t(c));
  as.resize(as.size() + 24);
  as.insert(as.end(), data.begin(), data.end());
  fs::create_directories(dir.path() / "src");
  write_file(dir.path() / "src" / "x.sit.as", as);

  RunResult lsar = run("lsar -j " + quote(dir.str("src/x.sit.as")));
  ASSERT_EQ(lsar.rc, 0) << lsar.err;
  EXPECT_NE(lsar.out.find("\"XADFileName\": \"Résumé of the long archive name.sit\""), std::string::npos) << lsar.out;

  // Each volume's one file, as hls lists it: its name's bytes, then type, creator and data size.
  auto listed = [&](const std::string& img) {
    RunResult l = run("hmount " + quote(img) + " >/dev/null && hls -lN && humount >/dev/null");
    EXPECT_EQ(l.rc, 0) << l.err;
    return l.out;
  };
  RunResult peer = run("genisoimage -quiet -hfs --single -part -o " + quote(dir.str("peer.iso")) + " " +
                       quote(dir.str("src")));
  ASSERT_EQ(peer.rc, 0) << peer.err;
  const std::string peer_listing = listed(dir.str("peer.iso"));
  const std::string cut = real.substr(0, 31);
  ASSERT_NE(peer_listing.find(" " + cut + "\n"), std::string::npos) << peer_listing;

  std::string img = dir.str("hfs.img");
  RunResult made = run("truncate -s 8M " + quote(img) + " && parted -s " + quote(img) +
                       " mklabel mac mkpart p1 hfs 1MiB 100% && hformat -l Vol " + quote(img) + " 1");
  ASSERT_EQ(made.rc, 0) << made.err;
  ASSERT_EQ(import_into(img, {dir.str("src/x.sit.as")}), 0);
  const std::string ours = listed(img);
  EXPECT_NE(ours.find("SITD/SIT!         0      3000"), std::string::npos) << ours;
  EXPECT_NE(ours.find(" " + cut + "\n"), std::string::npos) << ours;
  EXPECT_EQ(ours.find("x.sit"), std::string::npos) << "the PC name is not the file's: " << ours;
  RunResult fork = run("hmount " + quote(img) + " >/dev/null && hcopy -r " + quote(":" + cut) + " " +
                       quote(dir.str("data.out")));
  ASSERT_EQ(fork.rc, 0) << fork.err;
  EXPECT_EQ(read_file(dir.path() / "data.out"), data);
}

TEST(Import, SameNameTwiceMakesOneEntry) {
  REQUIRE_TOOL("hls");
  TempDir dir;
  std::string img = new_image(dir, false, 4);
  write_text(dir.path() / "same.txt", "first");
  ASSERT_EQ(import_into(img, {dir.str("same.txt")}), 0);
  write_text(dir.path() / "same.txt", "second version");
  recorded_ui().clear();
  recorded_ui().answers = {0};  // keep the old one
  ASSERT_EQ(import_into(img, {dir.str("same.txt")}), 0);
  recorded_ui().answers = {1};  // replace it
  ASSERT_EQ(import_into(img, {dir.str("same.txt")}), 0);
  RunResult l = run("hmount " + quote(img) + " >/dev/null && hls -la && hcopy -r :same.txt -");
  ASSERT_EQ(l.rc, 0) << l.err;
  size_t first = l.out.find("same.txt");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(l.out.find("same.txt", first + 1), std::string::npos) << l.out;
  EXPECT_NE(l.out.find("second version"), std::string::npos) << l.out;
  // The replaced file's blocks came back: the free space is that of one small file.
  RunResult v = run("hmount " + quote(img));
  EXPECT_EQ(v.rc, 0);
}

namespace {

// Fills a volume with 12-block files and frees every other one: free runs of 12 blocks.
bool fragment(const TempDir& dir, const std::string& img) {
  RunResult v = run("hmount " + quote(img) + " | grep free");
  long free_bytes = std::atol(v.out.substr(v.out.find("has ") + 4).c_str());
  int files = int(free_bytes / (12 * 512)) + 2;
  fs::create_directories(dir.path() / "fill");
  std::string names, odd;
  for (int i = 0; i < files; ++i) {
    std::string n = "f" + std::to_string(i);
    write_file(dir.path() / "fill" / n, random_bytes(12 * 512, uint32_t(i)));
    names += " " + quote(dir.str("fill/" + n));
    if (i % 2 == 0) odd += " :" + n;
  }
  run("hmount " + quote(img) + " >/dev/null; hcopy -r" + names + " : ; hdel" + odd);
  return true;
}

}  // namespace

TEST(Import, FragmentedHfsRefusesAFourthRun) {
  REQUIRE_TOOL("hcopy");
  TempDir dir;
  std::string img = new_image(dir, false, 1);
  ASSERT_FALSE(img.empty());
  fragment(dir, img);
  std::string before = run("hmount " + quote(img) + " | grep free").out;
  write_file(dir.path() / "big", random_bytes(40 * 512, 2));  // 40 blocks: four runs of 12
  recorded_ui().clear();
  EXPECT_EQ(import_into(img, {dir.str("big")}), -1);
  ASSERT_FALSE(recorded_ui().messages.empty());
  EXPECT_NE(recorded_ui().messages.back().find("too fragmented"), std::string::npos) << recorded_ui().messages.back();
  RunResult l = run("hmount " + quote(img) + " >/dev/null && hls -a");
  EXPECT_EQ(l.out.find("big"), std::string::npos);
  // Nothing of the abandoned file stays taken.
  EXPECT_EQ(run("hmount " + quote(img) + " | grep free").out, before);
}

TEST(Import, MixedTreeOntoHfsPlus) {
  REQUIRE_TOOL("fls");
  Tree t;
  std::string img = new_image(t.dir, true, 8);
  ASSERT_FALSE(img.empty());
  recorded_ui().clear();
  recorded_ui().answers = {1, 1, 1, 1};
  ASSERT_EQ(import_into(img, {t.src()}), 0);
  RunResult l = run("fls -f hfsp -r -p -o 64 " + quote(img));
  ASSERT_EQ(l.rc, 0) << l.err;
  EXPECT_NE(l.out.find("src/Sub folder/" + t.long_name), std::string::npos) << l.out;
  EXPECT_NE(l.out.find("src/FromBinHex"), std::string::npos) << l.out;
  EXPECT_EQ(l.out.find("._pair"), std::string::npos) << l.out;
  auto id_of = [&](const std::string& path) {
    return run("ifind -f hfsp -o 64 -n " + quote(path) + " " + quote(img)).out;
  };
  std::string id = id_of("/src/FromMacBinary");
  id.erase(id.find_last_not_of("\n") + 1);
  ASSERT_FALSE(id.empty());
  RunResult s = run("istat -f hfsp -o 64 " + quote(img) + " " + id);
  EXPECT_NE(s.out.find("File type:\t4150504c  APPL"), std::string::npos) << s.out;  // "APPL"
  EXPECT_NE(s.out.find("Mode:\trrw-r--r--"), std::string::npos) << s.out;  // a regular file
  EXPECT_NE(s.out.find("Resource fork size:\t1500"), std::string::npos) << s.out;
  RunResult d = run("icat -f hfsp -o 64 " + quote(img) + " " + id + " > " + quote(t.dir.str("d.out")));
  EXPECT_EQ(read_file(t.dir.path() / "d.out"), t.mb.data);
  // And back through our own copy to the PC, as MacBinary.
  TempDir out;
  EXPECT_EQ(init_volume_engine(), 0);
  int rfd = ::open(img.c_str(), O_RDONLY);
  PartitionListEntry list[k_max_partitions];
  ASSERT_EQ(open_image_volume(rfd, 0, list), 0);
  g_copy_method = k_copy_macbinary;
  g_extract = ExtractSession();
  EXPECT_EQ(extract_folder_contents(2, out.str()), 0);
  close_image_volume();
  ::close(rfd);
  MacFile back;
  ASSERT_EQ(decode_macbinary(read_file(out.path() / "src" / "Sub folder" / "pair"), back), 0);
  EXPECT_EQ(back.data, t.pair.data);
  EXPECT_EQ(back.resource, t.pair.resource);
}

TEST(Import, CustomIconFiles) {
  REQUIRE_TOOL("fls");
  TempDir dir;
  std::string img = new_image(dir, true, 4);
  ASSERT_FALSE(img.empty());
  MacFile icon = sample_mac_file("Icon\r", 300, 50, 51);
  std::memcpy(icon.type.data(), "ICNS", 4);
  std::memcpy(icon.creator.data(), "MACS", 4);
  fs::create_directories(dir.path() / "Folder");
  write_file(dir.path() / "Folder" / "icon.bin", encode_macbinary(icon));
  write_file(dir.path() / "root-icon.bin", encode_macbinary(icon));
  recorded_ui().clear();
  recorded_ui().answers = {1, 1, 1};
  ASSERT_EQ(import_into(img, {dir.str("Folder"), dir.str("root-icon.bin")}), 0);
  RunResult l = run("fls -f hfsp -r -p -o 64 " + quote(img));
  ASSERT_EQ(l.rc, 0) << l.err;
  // Into a subfolder only "Icon\r"; into the root the volume icon too.
  EXPECT_NE(l.out.find("Folder/Icon^"), std::string::npos) << l.out;  // fls shows the CR as ^
  EXPECT_NE(l.out.find(".VolumeIcon.icns"), std::string::npos) << l.out;
  EXPECT_EQ(l.out.find("icon.bin"), std::string::npos) << l.out;
  // The receiving folder says it has a custom icon (no peer prints folder flags).
  EXPECT_EQ(init_volume_engine(), 0);
  int fd = ::open(img.c_str(), O_RDONLY);
  PartitionListEntry list[k_max_partitions];
  ASSERT_EQ(open_image_volume(fd, 0, list), 0);
  std::vector<CatalogItem> items;
  ASSERT_EQ(list_folder(2, items), 0);
  close_image_volume();
  ::close(fd);
  bool seen = false;
  for (const CatalogItem& it : items)
    if (it.is_folder) {
      HfsPlusCatalogFolder f;
      ASSERT_TRUE(decode(ByteSpan(it.record.data(), it.record.size()), f));
      EXPECT_EQ(get_be16(f.user_info.data() + 8) & 0x0520, 0x0400);
      seen = true;
    }
  EXPECT_TRUE(seen);
}
