// HFS+ file hard links, read and copied to the PC as their targets. The volume
// is laid out the way Mac OS X makes hard links: the file itself is "iNode<N>"
// in the private folder "\0\0\0\0HFS+ Private Data", and each link is a record
// typed hlnk/hfs+, dated like that folder, whose BSD special field holds N.
// sleuthkit follows such links and is the judge of their contents.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "IO/bigendian.h"
#include "hfs/alloc.h"
#include "hfs/catinsert.h"
#include "hfs/engine.h"
#include "hfs/lookup.h"
#include "hfs/mount.h"
#include "hfs/newimage.h"
#include "hfs/voledit.h"
#include "macfile_fixtures.h"
#include "macfiles/extract.h"
#include "macfiles/import.h"
#include "macfiles/macbinary.h"
#include "support/recording_ui.h"

using namespace testkit;

namespace {

HFSUniStr255 units_of(const std::u16string& s) {
  HFSUniStr255 u;
  u.length = uint16_t(s.size());
  std::memcpy(u.unicode, s.data(), 2 * s.size());
  return u;
}

std::vector<uint8_t> raw_key(uint32_t parent, const std::u16string& name) {
  std::vector<uint16_t> units(name.begin(), name.end());
  return hfsplus_raw_key(parent, units);
}

struct OpenVolume {
  int fd = -1;
  PartitionListEntry list[k_max_partitions];
  int rc = -1;
  bool write = false;
  OpenVolume(const std::string& img, bool write_access) : write(write_access) {
    EXPECT_EQ(init_volume_engine(), 0);
    fd = ::open(img.c_str(), write ? O_RDWR : O_RDONLY);
    rc = open_image_volume(fd, 0, list);
    if (rc == 0 && write) rc = load_allocation_bitmap();
  }
  ~OpenVolume() {
    if (rc == 0 && write && !g_volume.read_only) { EXPECT_EQ(flush_volume_structures(), 0); }
    close_image_volume();
    if (fd >= 0) ::close(fd);
  }
};

// A partitioned HFS+ image holding one file with both forks, reached through
// "link.txt" in the root and "Sub/second link", beside "impostor", which has
// the link signature but not the date.
struct LinkedVolume {
  TempDir dir;
  std::string img;
  MacFile target = sample_mac_file("target", 5000, 900, 61);
  uint32_t target_id = 0;
  bool ok = false;

  LinkedVolume() {
    img = dir.str("links.img");
    int fd = ::open(img.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    NewImageRequest req;
    req.image = fd;
    req.volume_name = "Links";
    req.size_mb = 4;
    int made = create_hfsplus_image(req);
    ::close(fd);
    if (made != 0) return;
    std::filesystem::create_directories(dir.path() / "pc" / "Sub");
    write_file(dir.path() / "target.bin", encode_macbinary(target));
    write_text(dir.path() / "pc" / "link.txt", "");
    write_text(dir.path() / "pc" / "impostor", "");
    write_text(dir.path() / "pc" / "Sub" / "second link", "");
    ok = build();
  }

  static bool step(int line) {
    ADD_FAILURE() << "building the volume failed at line " << line;
    return false;
  }

  bool build() {
    OpenVolume v(img, true);
    if (v.rc != 0) return step(__LINE__);
    const std::u16string links_name(u"\0\0\0\0HFS+ Private Data", 21);
    int64_t links = hfsplus_create_folder_wide(units_of(links_name), 2, 1);
    if (links <= 0 || hfsplus_create_folder_wide(units_of(u".HFS+ Private Directory Data\r"), 2, 1) <= 0)
      return step(__LINE__);
    recorded_ui().clear();
    recorded_ui().answers = {1, 1, 1, 1};
    if (import_pc_item(dir.str("target.bin"), uint32_t(links), 2) != 0) return step(__LINE__);
    for (const char* name : {"link.txt", "impostor", "Sub"})
      if (import_pc_item((dir.path() / "pc" / name).string(), 2, 1) != 0) return step(__LINE__);
    // The target takes its own catalog number as N, as Mac OS X 10.5 and later do.
    std::vector<CatalogItem> inside;
    if (list_folder(uint32_t(links), inside) != 0 || inside.size() != 1) return step(__LINE__);
    target_id = inside[0].id;
    std::string inode = "iNode" + std::to_string(target_id);
    if (hfsplus_rename_item(units_of(inside[0].units), inode.c_str(), uint32_t(links)) != 1) return step(__LINE__);

    std::vector<uint8_t> folder_data;
    if (catalog_get(raw_key(2, links_name), folder_data) != 0) return step(__LINE__);
    HfsPlusCatalogFolder folder;
    if (!decode(ByteSpan(folder_data.data(), folder_data.size()), folder)) return step(__LINE__);
    uint32_t sub = hfsplus_get_folder_id("Sub", 2);
    struct Link {
      uint32_t parent;
      std::u16string name;
      bool dated;
    };
    for (const Link& l : {Link{2, u"link.txt", true}, Link{sub, u"second link", true}, Link{2, u"impostor", false}}) {
      std::vector<uint8_t> data;
      HfsPlusCatalogFile f;
      if (catalog_get(raw_key(l.parent, l.name), data) != 0 || !decode(ByteSpan(data.data(), data.size()), f))
        return step(__LINE__);
      f.user_info.type = 0x686C6E6B;     // 'hlnk'
      f.user_info.creator = 0x6866732B;  // 'hfs+'
      f.permissions.special = target_id;
      if (l.dated) f.create_date = folder.create_date;
      else f.create_date = folder.create_date + 1;
      if (!encode(f, MutByteSpan(data.data(), data.size())) || catalog_replace(raw_key(l.parent, l.name), data) != 0)
        return step(__LINE__);
    }
    return true;
  }

  // sleuthkit's catalog number and contents of a path.
  std::string icat(const std::string& path) {
    RunResult fls = run("fls -f hfsp -r -p -o 64 " + quote(img));
    for (size_t at = 0; (at = fls.out.find("r/r ", at)) != std::string::npos; ++at) {
      size_t colon = fls.out.find(":\t", at);
      size_t end = fls.out.find('\n', colon);
      if (fls.out.substr(colon + 2, end - colon - 2) == path)
        return run("icat -f hfsp -o 64 " + quote(img) + " " + fls.out.substr(at + 4, colon - at - 4)).out;
    }
    ADD_FAILURE() << path << " not listed by fls:\n" << fls.out;
    return "";
  }
};

const CatalogItem* named(const std::vector<CatalogItem>& items, const std::u16string& name) {
  for (const CatalogItem& it : items)
    if (it.units == name) return &it;
  return nullptr;
}

std::string text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

}  // namespace

TEST(HardLinks, ListedAndReadAsTheirTarget) {
  REQUIRE_TOOL("icat");
  LinkedVolume lv;
  ASSERT_TRUE(lv.ok);
  // The judge: sleuthkit reads both links as the target's data fork, and the
  // impostor as the empty file it is.
  EXPECT_EQ(lv.icat("link.txt"), text(lv.target.data));
  EXPECT_EQ(lv.icat("Sub/second link"), text(lv.target.data));
  EXPECT_EQ(lv.icat("impostor"), "");

  OpenVolume v(lv.img, false);
  ASSERT_EQ(v.rc, 0);
  std::vector<CatalogItem> root;
  ASSERT_EQ(list_folder(2, root), 0);
  std::set<std::u16string> names;
  for (const CatalogItem& it : root) names.insert(it.units);
  // The private folders are no items of the root.
  EXPECT_EQ(names, (std::set<std::u16string>{u"Sub", u"impostor", u"link.txt"}));
  const CatalogItem* link = named(root, u"link.txt");
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->data_size, lv.target.data.size());
  EXPECT_EQ(link->rsrc_size, lv.target.resource.size());
  EXPECT_EQ(link->type, get_be32(lv.target.type.data()));
  EXPECT_EQ(link->creator, get_be32(lv.target.creator.data()));
  EXPECT_EQ(link->fork_id, lv.target_id);
  EXPECT_NE(link->id, lv.target_id);
  const CatalogItem* impostor = named(root, u"impostor");
  ASSERT_NE(impostor, nullptr);
  EXPECT_EQ(impostor->type, 0x686C6E6Bu);
  EXPECT_EQ(impostor->data_size, 0u);
}

TEST(HardLinks, CopiedToThePcAsTheirTarget) {
  REQUIRE_TOOL("icat");
  LinkedVolume lv;
  ASSERT_TRUE(lv.ok);
  TempDir out;
  {
    OpenVolume v(lv.img, false);
    ASSERT_EQ(v.rc, 0);
    g_copy_method = k_copy_data;
    g_extract = ExtractSession();
    recorded_ui().clear();
    ASSERT_EQ(extract_folder_contents(2, out.str()), 0);
  }
  EXPECT_EQ(text(read_file(out.path() / "link.txt")), lv.icat("link.txt"));
  EXPECT_EQ(text(read_file(out.path() / "Sub" / "second link")), lv.icat("Sub/second link"));
  // Only what the user sees: no private folder comes across.
  std::set<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(out.path())) names.insert(e.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"Sub", "impostor", "link.txt"}));
  EXPECT_EQ(text(read_file(out.path() / "impostor")), lv.icat("impostor")) << "the empty file it is, as sleuthkit reads it";

  // MacBinary carries the target's resource fork and signature too.
  TempDir mb;
  {
    OpenVolume v(lv.img, false);
    ASSERT_EQ(v.rc, 0);
    g_copy_method = k_copy_macbinary;
    g_extract = ExtractSession();
    ASSERT_EQ(extract_folder_contents(2, mb.str()), 0);
  }
  MacFile back;
  ASSERT_EQ(decode_macbinary(read_file(mb.path() / "link.txt"), back), 0);
  EXPECT_EQ(back.data, lv.target.data);
  EXPECT_EQ(back.resource, lv.target.resource);
  EXPECT_EQ(std::memcmp(back.type.data(), "APPL", 4), 0);
}
