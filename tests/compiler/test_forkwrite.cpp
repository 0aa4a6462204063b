// Fork writing for the compiler: every source encoding gives exactly its decoded
// forks at the cursor's blocks, shared data is not written twice, and no fork
// passes the reserve.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "IO/bigendian.h"
#include "IO/ui_services.h"
#include "compiler/additems.h"
#include "compiler/forkwrite.h"
#include "compiler/project.h"
#include "macfiles/applesingle.h"
#include "macfiles/binhex.h"
#include "macfiles/macbinary.h"
#include "macfiles/namedstreams.h"
#include "platform/streams.h"
#include "support/inclusion_kit.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

constexpr uint32_t k_base_sector = 5;  // the data area's first 2048-byte sector
constexpr uint32_t k_first_block = 7;  // its volume block number

MacFile mac_file(const char* name, size_t data, size_t rsrc, uint32_t seed) {
  MacFile f = sample_mac_file(name, "TEST", "CRVN", data, rsrc, seed);
  f.finder_flags = 0x4100;
  return f;
}

struct ForkWriting : ::testing::Test {
  ConsoleInclusion console;
  TempDir dir;
  int image = -1;
  std::vector<ProjectRecord> records;

  void SetUp() override {
    recorded_ui().clear();
    fs::create_directories(dir.path() / "src");
    image = ::open(dir.str("image").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(image, 0);
    ASSERT_TRUE(ensure_compile_buffer());
    compile_target_fd = image;
    compile_block_size = 4096;
    hfs_partition_sector = k_base_sector;
    first_data_block = k_first_block;
    next_data_block = 0;
    compile_data_blocks = 64;
    compile_bitmap.assign(16, 0);
  }
  void TearDown() override {
    ::close(image);
    compile_target_fd = -1;
    compile_bitmap.clear();
  }
  fs::path src(const std::string& name) const { return dir.path() / "src" / name; }
  // The project records of the source folder, as an inclusion makes them.
  void include_sources() {
    std::string project = dir.str("p.cvpr");
    ASSERT_EQ(cli_include_items(project.c_str(), (dir.path() / "src").c_str()), 0);
    FILE* f = std::fopen(project.c_str(), "rb");
    std::fseek(f, long(k_project_record_size), SEEK_SET);
    ProjectRecord r;
    while (read_project_record(f, r))
      if (!r.is_folder()) records.push_back(r);
    std::fclose(f);
  }
  const ProjectRecord& record(const std::string& pc_name) const {
    for (const auto& r : records)
      if (r.pc_name == pc_name) return r;
    ADD_FAILURE() << "no record " << pc_name;
    return records.front();
  }
  // The bytes of an extent as the image holds them, padding included.
  std::vector<uint8_t> blocks(const ForkExtent& e) const {
    auto img = read_file(dir.str("image"));
    size_t start = size_t(k_base_sector) * 2048 + size_t(e.start_block - k_first_block) * compile_block_size;
    size_t n = size_t(e.block_count) * compile_block_size;
    if (start + n > img.size()) return {};
    return std::vector<uint8_t>(img.begin() + start, img.begin() + start + n);
  }
  void expect_fork(const ForkExtent& e, const std::vector<uint8_t>& want) const {
    EXPECT_EQ(e.length, want.size());
    EXPECT_EQ(e.block_count, (want.size() + compile_block_size - 1) / compile_block_size);
    auto got = blocks(e);
    ASSERT_EQ(got.size(), size_t(e.block_count) * compile_block_size);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin())) << "fork bytes differ";
    EXPECT_TRUE(std::all_of(got.begin() + want.size(), got.end(), [](uint8_t b) { return b == 0; }));
  }
  bool marked(uint32_t block) const { return compile_bitmap[block / 8] & (0x80 >> (block % 8)); }
};

}  // namespace

TEST_F(ForkWriting, EachEncodingWritesItsDecodedForksAtTheCursor) {
  REQUIRE_TOOL("binhex");
  MacFile mb = mac_file("Binary", 5000, 4096, 1);  // a resource fork of exactly one block
  write_file(src("a.bin"), encode_macbinary(mb));
  MacFile hx = mac_file("Hexed", 777, 3000, 3);
  write_file(src("hx.bin.tmp"), encode_macbinary(hx));  // binhex reads MacBinary
  auto hexed = run("binhex " + quote(src("hx.bin.tmp").string()) + " > " + quote(src("b.hqx").string()));
  ASSERT_EQ(hexed.rc, 0) << hexed.err;
  fs::remove(src("hx.bin.tmp"));
  // macutils writes its own first line; put the usual banner there.
  std::string text = read_text(src("b.hqx"));
  text = "(This file must be converted with BinHex 4.0)" + text.substr(text.find('\n'));
  write_text(src("b.hqx"), text);
  MacFile as = mac_file("Single", 4097, 10, 5);
  write_file(src("c.as"), encode_applesingle(as));
  MacFile ad = mac_file("d.txt", 0, 2500, 7);
  auto d_data = random_bytes(1234, 8);
  write_file(src("d.txt"), d_data);
  write_file(src("._d.txt"), encode_appledouble(ad));
  auto plain = random_bytes(4096, 9);
  write_file(src("e.dat"), plain);
  write_file(src("empty"), std::vector<uint8_t>{});
  include_sources();
  ASSERT_EQ(records.size(), 6u);

  struct Case { const char* name; std::vector<uint8_t> data, rsrc; };
  std::vector<Case> cases = {{"a.bin", mb.data, mb.resource}, {"b.hqx", hx.data, hx.resource},
                             {"c.as", as.data, as.resource}, {"d.txt", d_data, ad.resource},
                             {"e.dat", plain, {}},           {"empty", {}, {}}};
  uint32_t cursor = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WrittenForks w;
    ASSERT_EQ(write_file_forks(record(c.name), nullptr, w), 0);
    if (!c.data.empty()) {
      EXPECT_EQ(w.data.start_block, k_first_block + cursor);
      expect_fork(w.data, c.data);
      cursor += w.data.block_count;
    } else {
      EXPECT_EQ(w.data.block_count, 0u);
    }
    if (!c.rsrc.empty()) {
      EXPECT_EQ(w.rsrc.start_block, k_first_block + cursor);
      expect_fork(w.rsrc, c.rsrc);
      cursor += w.rsrc.block_count;
    } else {
      EXPECT_EQ(w.rsrc.block_count, 0u);
    }
    EXPECT_EQ(next_data_block, cursor);
  }
  for (uint32_t b = 0; b < 128; ++b) EXPECT_EQ(marked(b), b >= k_first_block && b < k_first_block + cursor) << b;
  // MacBinary and BinHex carry their own Finder flags (high byte only).
  WrittenForks again;
  ASSERT_EQ(write_file_forks(record("a.bin"), nullptr, again), 0);
  EXPECT_EQ(again.finder_flags, 0x4100);
  EXPECT_TRUE(recorded_ui().messages.empty());
  // Nothing was left beside the user's files (decoded BinHex, temporaries).
  size_t entries = 0;
  for (auto& e : fs::directory_iterator(dir.path() / "src")) { (void)e; ++entries; }
  EXPECT_EQ(entries, 7u);
}

TEST_F(ForkWriting, SharedDataIsWrittenOnceAndReservesHold) {
  auto data = random_bytes(9000, 11);
  write_file(src("d.txt"), data);
  MacFile ad = mac_file("d.txt", 0, 100, 12);
  write_file(src("._d.txt"), encode_appledouble(ad));
  MacFile as = mac_file("s", 300, 0, 13);
  write_file(src("s.as"), encode_applesingle(as));
  include_sources();

  // The ISO copy of d.txt went first; the HFS side only adds the resource fork.
  ForkExtent iso;
  int fd = ::open(src("d.txt").c_str(), O_RDONLY);
  ASSERT_EQ(write_fork_at_cursor(fd, 0, data.size(), nullptr, iso), 0);
  ::close(fd);
  WrittenForks w;
  ASSERT_EQ(write_file_forks(record("d.txt"), &iso, w), 0);
  EXPECT_EQ(w.data.start_block, iso.start_block);
  EXPECT_EQ(w.data.block_count, iso.block_count);
  EXPECT_EQ(w.rsrc.start_block, iso.start_block + iso.block_count);
  expect_fork(w.rsrc, ad.resource);
  EXPECT_EQ(next_data_block, 4u);

  // AppleSingle in both views: the ISO copy is the encoded file, so the data fork is written anew.
  WrittenForks s;
  ASSERT_EQ(write_file_forks(record("s.as"), &iso, s), 0);
  EXPECT_EQ(s.data.start_block, k_first_block + 4);
  expect_fork(s.data, as.data);

  // A fork that would pass the reserve is refused and nothing moves.
  compile_data_blocks = next_data_block + 2;
  auto before = read_file(dir.str("image"));
  uint32_t cursor = next_data_block;
  WrittenForks big;
  EXPECT_EQ(write_file_forks(record("d.txt"), nullptr, big), k_data_past_reserve);
  EXPECT_EQ(next_data_block, cursor);
  EXPECT_EQ(read_file(dir.str("image")), before);
  EXPECT_EQ(recorded_ui().messages.size(), 1u);
}

TEST_F(ForkWriting, DamagedOrShrunkSourcesAreRefused) {
  MacFile mb = mac_file("Binary", 3000, 500, 21);
  auto bytes = encode_macbinary(mb);
  write_file(src("a.bin"), bytes);
  write_file(src("b.txt"), random_bytes(100, 22));
  include_sources();
  // The MacBinary file lost its tail since it was added: its header no longer fits.
  bytes.resize(2000);
  write_file(src("a.bin"), bytes);
  WrittenForks w;
  EXPECT_EQ(write_file_forks(record("a.bin"), nullptr, w), -1);
  EXPECT_EQ(next_data_block, 0u);
  EXPECT_EQ(recorded_ui().messages.size(), 1u);
  // A source that is gone.
  fs::remove(src("b.txt"));
  EXPECT_EQ(write_file_forks(record("b.txt"), nullptr, w), -1);
  EXPECT_EQ(next_data_block, 0u);
  // AppleDouble/AppleSingle encoding without either flag: nothing to write.
  ProjectRecord odd = record("a.bin");
  set_source_encoding(odd, SourceEncoding::apple_double);
  odd.hfs_flags &= ~(k_hfs_appledouble | k_hfs_applesingle);
  EXPECT_EQ(write_file_forks(odd, nullptr, w), 1);
}

TEST_F(ForkWriting, NamedStreamResourceFork) {
  auto data = random_bytes(3000, 31);
  write_file(src("n.pdf"), data);
  if (!supports_named_streams(src("n.pdf").string())) GTEST_SKIP() << "no extended attributes here";
  auto rsrc = random_bytes(1500, 32);
  MacFile meta = mac_file("", 0, 0, 33);
  ASSERT_EQ(write_named_stream(src("n.pdf").string(), k_afpinfo_stream, encode_afpinfo(meta)), 0);
  ASSERT_EQ(write_named_stream(src("n.pdf").string(), k_resource_stream, rsrc), 0);
  include_sources();
  WrittenForks w;
  ASSERT_EQ(write_file_forks(record("n.pdf"), nullptr, w), 0);
  expect_fork(w.data, data);
  expect_fork(w.rsrc, rsrc);
}

TEST(CatalogEntries, HfsAndHfsPlusFileRecords) {
  ProjectRecord r;
  r.hfs_name = "caf\x8E";  // Mac Roman
  std::memcpy(r.type_creator, "TEXTttxt", 8);
  r.create_date = 3662000000u;  // local dates (winter in Paris)
  r.modify_date = 3662003600u;
  WrittenForks w;
  w.data = {100, 3, 5000, 0};
  w.rsrc = {103, 1, 10, 0};
  w.finder_flags = 0x4000;

  HfsFileEntry e;
  ASSERT_EQ(build_hfs_file_entry(r, 2, 77, w, 2048, e), 0);
  EXPECT_EQ(e.key.key_length, 4 + 6);
  EXPECT_EQ(e.key.parent_id, 2u);
  HfsCatalogFile f;
  ASSERT_TRUE(decode(e.data, f));
  EXPECT_EQ(e.data[0], k_rec_file);
  EXPECT_EQ(f.file_id, 77u);
  EXPECT_EQ(f.user_info.type, 0x54455854u);
  EXPECT_EQ(f.user_info.flags, 0x4000);
  EXPECT_EQ(f.data_logical_size, 5000u);
  EXPECT_EQ(f.data_physical_size, 3u * 2048);
  EXPECT_EQ(f.data_extents[0].start_block, 100);
  EXPECT_EQ(f.data_extents[0].block_count, 3);
  EXPECT_EQ(f.rsrc_extents[0].start_block, 103);
  EXPECT_EQ(f.rsrc_physical_size, 2048u);
  EXPECT_EQ(f.modify_date, r.modify_date);

  // An empty fork has no extent; an extent past 16 bits cannot be an HFS record.
  WrittenForks empty;
  ASSERT_EQ(build_hfs_file_entry(r, 2, 78, empty, 2048, e), 0);
  ASSERT_TRUE(decode(e.data, f));
  EXPECT_EQ(f.data_extents[0].block_count, 0);
  EXPECT_EQ(f.data_physical_size, 0u);
  WrittenForks far;
  far.data = {65530, 10, 20000, 0};
  EXPECT_EQ(build_hfs_file_entry(r, 2, 79, far, 2048, e), -1);

  // HFS+: decomposed name, universal dates, thread record.
  r.hfs_name = "café";
  HfsPlusFileEntry p;
  ASSERT_EQ(build_hfsplus_file_entry(r, 16, 90, w, 2048, p), 0);
  ASSERT_EQ(p.key.name_length, 5);
  EXPECT_EQ(p.key.name[3], u'e');
  EXPECT_EQ(p.key.name[4], 0x0301);
  EXPECT_EQ(p.key.key_length, 2 * 5 + 6);
  HfsPlusCatalogFile pf;
  ASSERT_TRUE(decode(p.data, pf));
  EXPECT_EQ(pf.flags, 2);
  EXPECT_EQ(pf.create_date, r.create_date - 3600);  // Paris is an hour ahead in winter
  EXPECT_EQ(pf.content_mod_date, r.modify_date - 3600);
  EXPECT_EQ(pf.data_fork.logical_size, 5000u);
  EXPECT_EQ(pf.data_fork.total_blocks, 3u);
  EXPECT_EQ(pf.data_fork.extents[0].start_block, 100u);
  EXPECT_EQ(p.thread_key.parent_id, 90u);
  EXPECT_EQ(p.thread_key.name_length, 0);
  EXPECT_EQ(p.thread.size(), 2u * 5 + 10);
  EXPECT_EQ(get_be16(p.thread.data()), k_rec_file_thread);
  EXPECT_EQ(get_be32(p.thread.data() + 4), 16u);
}
