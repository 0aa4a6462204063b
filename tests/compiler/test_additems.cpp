// Adding PC items to a project: names in the three views, encodings, signatures,
// sizes and dates of a generated tree, read back from the project file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <regex>
#include <set>

#include "IO/bigendian.h"
#include "IO/charsets.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "IO/windowutil.h"
#include "compiler/additems.h"
#include "compiler/commands.h"
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

constexpr int64_t k_winter = 1579089600;  // 2020-01-15 12:00 UTC
constexpr int64_t k_summer = 1594814400;  // 2020-07-15 12:00 UTC
constexpr uint32_t k_mac_epoch = 2082844800u;

void set_mtime(const fs::path& p, int64_t t) {
  struct timespec ts[2] = {{t, 0}, {t, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), ts, AT_SYMLINK_NOFOLLOW), 0);
}

MacFile mac_file(const std::string& name, const char* type, const char* creator, size_t data, size_t rsrc,
                 uint32_t seed) {
  return sample_mac_file(name, type, creator, data, rsrc, seed, 3000000000u, 3100000000u);
}

struct Project {
  ProjectHeader header;
  std::vector<ProjectRecord> records;

  explicit Project(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    EXPECT_NE(f, nullptr);
    if (!f) return;
    EXPECT_TRUE(read_project_header(f, header));
    ProjectRecord r;
    std::fseek(f, long(k_project_record_size), SEEK_SET);
    while (read_project_record(f, r)) records.push_back(r);
    std::fclose(f);
  }
  const ProjectRecord* by_pc_name(const std::string& name) const {
    for (const auto& r : records)
      if (r.pc_name == name) return &r;
    return nullptr;
  }
  std::vector<const ProjectRecord*> children(uint32_t parent) const {
    std::vector<const ProjectRecord*> out;
    for (const auto& r : records)
      if (r.parent_id == parent) out.push_back(&r);
    return out;
  }
};

std::string sig(const ProjectRecord& r) { return std::string(r.type_creator, 8); }

std::vector<std::string> invariants(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  auto v = check_project_invariants(f);
  std::fclose(f);
  return v;
}

struct AddItems : ::testing::Test {
  ConsoleInclusion console;
  TempDir dir;
  std::string project;
  void SetUp() override {
    recorded_ui().clear();
    g_name_view = k_name_view_pc;
    project = dir.str("disc.cvpr");
  }
  fs::path tree() const { return dir.path() / "tree"; }
  void put(const std::string& rel, const std::vector<uint8_t>& bytes, int64_t mtime = k_winter) {
    fs::path p = tree() / rel;
    fs::create_directories(p.parent_path());
    write_file(p, bytes);
    set_mtime(p, mtime);
  }
  void put_text(const std::string& rel, const std::string& text) {
    put(rel, std::vector<uint8_t>(text.begin(), text.end()));
  }
  void make_hfsplus_project() {
    ASSERT_EQ(create_project_file(project, k_pref_hfsplus_default), 0);
  }
};

}  // namespace

TEST_F(AddItems, GeneratedTreeGetsItsNamesEncodingsSizesAndDates) {
  // Deep folders, names that collide after 8, 31 and 64 characters, accents,
  // other scripts, empty files and a file of exactly one block.
  put_text("a/b/c/d/e/f/g/h/deep.txt", "deep");
  put_text("longname-one.txt", "1");
  put_text("longname-two.txt", "2");
  std::string base31(35, 'k');
  put_text(base31 + "-first.txt", "a");
  put_text(base31 + "-second.txt", "b");
  std::string base64(66, 'j');
  put_text(base64 + "-first.txt", "a");
  put_text(base64 + "-second.txt", "b");
  put_text("café crème.txt", "accents");
  put_text("日本語のファイル.txt", "cjk");
  put("empty.bin", {});
  put("block.dat", random_bytes(2048, 7), k_summer);
  put_text("photo.exe.txt", "not a program, named like one");

  // Macintosh encodings.
  MacFile mb = mac_file("Mac Binary File", "APPL", "ABCD", 1000, 300, 11);
  put("tool.bin", encode_macbinary(mb));
  MacFile bh = mac_file("Hex Name", "TEXT", "R*ch", 5000, 77, 21);
  std::string hex = encode_binhex(bh);
  put("notes.hqx", std::vector<uint8_t>(hex.begin(), hex.end()));
  MacFile as = mac_file("single", "PICT", "8BIM", 4096, 123, 31);
  put("picture.as", encode_applesingle(as));
  MacFile ad = mac_file("doc.txt", "TEXT", "ttxt", 0, 512, 41);
  ad.finder_flags = k_finder_has_custom_icon;
  put_text("doc.txt", "the data fork of doc");
  put("._doc.txt", encode_appledouble(ad));

  ASSERT_EQ(cli_include_items(project.c_str(), tree().c_str()), 0);
  Project p(project);
  EXPECT_TRUE(invariants(project).empty());

  // The folder itself comes under the root, its contents under it.
  auto top = p.children(1);
  ASSERT_EQ(top.size(), 1u);
  EXPECT_EQ(top[0]->pc_name, "tree");
  uint32_t tree_id = uint32_t(top[0]->id);

  // ISO level-1 names: valid and unique in every folder; all three views unique too.
  std::regex level1(R"(^[A-Z0-9_]{1,8}(\.[A-Z0-9_]{0,3})?$)");
  std::map<uint32_t, std::set<std::string>> l1, iso, hfs;
  for (const auto& r : p.records) {
    EXPECT_TRUE(std::regex_match(r.pc_short_name, level1)) << r.pc_name << " -> " << r.pc_short_name;
    if (r.is_folder()) { EXPECT_EQ(r.pc_short_name.find('.'), std::string::npos) << r.pc_short_name; }
    EXPECT_TRUE(l1[r.parent_id].insert(r.pc_short_name).second) << r.pc_short_name;
    EXPECT_LE(r.long_name.size(), k_iso_name_limit);
    EXPECT_LE(r.hfs_name.size(), k_hfs_name_limit) << r.pc_name;
    if (iso_view(r)) { EXPECT_TRUE(iso[r.parent_id].insert(r.long_name).second) << r.long_name; }
    if (hfs_view(r)) { EXPECT_TRUE(hfs[r.parent_id].insert(r.hfs_name).second) << r.hfs_name; }
    EXPECT_EQ(r.pc_folder.back(), '/');
    EXPECT_LE(r.create_date, r.modify_date);
  }
  EXPECT_EQ(p.by_pc_name("longname-one.txt")->pc_short_name, "LONGNAME.TXT");
  EXPECT_NE(p.by_pc_name("longname-two.txt")->pc_short_name, "LONGNAME.TXT");
  EXPECT_EQ(p.by_pc_name("café crème.txt")->pc_short_name.substr(0, 4), "CAFE");
  EXPECT_EQ(p.by_pc_name("café crème.txt")->long_name, "café crème.txt");
  EXPECT_EQ(p.by_pc_name("café crème.txt")->hfs_name, "caf\x8E cr\x8Fme.txt");  // Mac Roman
  EXPECT_EQ(p.by_pc_name("日本語のファイル.txt")->long_name, "日本語のファイル.txt");
  const ProjectRecord* k1 = p.by_pc_name(base31 + "-first.txt");
  EXPECT_EQ(k1->hfs_name.size(), 31u);
  EXPECT_EQ(k1->hfs_name.substr(k1->hfs_name.size() - 4), ".txt");

  // Deep folders: the chain holds, each folder counts its children.
  const ProjectRecord* deep = p.by_pc_name("deep.txt");
  ASSERT_NE(deep, nullptr);
  int depth = 0;
  for (uint32_t id = deep->parent_id; id != tree_id && depth < 20; ++depth) {
    auto it = std::find_if(p.records.begin(), p.records.end(), [&](auto& r) { return uint32_t(r.id) == id; });
    ASSERT_NE(it, p.records.end());
    id = it->parent_id;
  }
  EXPECT_EQ(depth, 8);
  for (const auto& r : p.records) {
    if (!r.is_folder()) continue;
    uint32_t folders = 0, files = 0;
    for (auto* c : p.children(uint32_t(r.id))) (c->is_folder() ? folders : files)++;
    EXPECT_EQ(r.subfolder_count(), folders) << r.pc_name;
    EXPECT_EQ(r.file_count(), files) << r.pc_name;
  }

  // Plain files: size, signature by extension, both views, dates through the local bias.
  const ProjectRecord* empty = p.by_pc_name("empty.bin");
  EXPECT_EQ(empty->data_size, 0u);
  EXPECT_EQ(empty->pc_size, 0u);
  const ProjectRecord* block = p.by_pc_name("block.dat");
  EXPECT_EQ(block->data_size, 2048u);
  EXPECT_EQ(source_encoding(*block), SourceEncoding::plain);
  EXPECT_EQ(iso_view(*block), 1);
  EXPECT_EQ(hfs_view(*block), 1);
  EXPECT_EQ(block->modify_date, uint32_t(k_summer) + k_mac_epoch + 7200);  // Paris, summer
  EXPECT_EQ(p.by_pc_name("doc.txt")->modify_date, uint32_t(k_winter) + k_mac_epoch + 3600);
  EXPECT_EQ(sig(*p.by_pc_name("café crème.txt")), "TEXT????");

  // MacBinary: decoded fork sizes, header name and signature; the ISO view carries the file.
  const ProjectRecord* t = p.by_pc_name("tool.bin");
  EXPECT_EQ(source_encoding(*t), SourceEncoding::macbinary);
  EXPECT_EQ(t->data_size, 1000u);
  EXPECT_EQ(t->rsrc_size, 300u);
  EXPECT_EQ(t->pc_size, encode_macbinary(mb).size());
  EXPECT_EQ(sig(*t), "APPLABCD");
  EXPECT_EQ(t->hfs_name, "Mac Binary File");
  EXPECT_EQ(t->long_name, "tool.bin");
  EXPECT_EQ(t->modify_date, 3100000000u);
  EXPECT_EQ(iso_view(*t), 1);  // always-yes answers of the command line
  EXPECT_EQ(hfs_view(*t), 1);

  const ProjectRecord* n = p.by_pc_name("notes.hqx");
  EXPECT_EQ(source_encoding(*n), SourceEncoding::binhex);
  EXPECT_EQ(n->data_size, 5000u);
  EXPECT_EQ(n->rsrc_size, 77u);
  EXPECT_EQ(n->pc_size, hex.size());
  EXPECT_EQ(sig(*n), "TEXTR*ch");
  EXPECT_EQ(n->hfs_name, "Hex Name");

  const ProjectRecord* s = p.by_pc_name("picture.as");
  EXPECT_EQ(source_encoding(*s), SourceEncoding::apple_double);
  EXPECT_TRUE(s->hfs_flags & k_hfs_applesingle);
  EXPECT_EQ(s->data_size, 4096u);
  EXPECT_EQ(s->rsrc_size, 123u);
  EXPECT_EQ(sig(*s), "PICT8BIM");
  EXPECT_NE(s->modify_date, 0u);  // PC times, not 1904

  const ProjectRecord* d = p.by_pc_name("doc.txt");
  EXPECT_EQ(source_encoding(*d), SourceEncoding::apple_double);
  EXPECT_TRUE(d->hfs_flags & k_hfs_appledouble);
  EXPECT_EQ(d->data_size, 20u);
  EXPECT_EQ(d->rsrc_size, 512u);
  EXPECT_EQ(sig(*d), "TEXTttxt");
  EXPECT_TRUE(d->src_flags & k_src_custom_icon);
  EXPECT_EQ(p.by_pc_name("._doc.txt"), nullptr);  // companions are never items

  // ".exe" anywhere makes an executable; the command line's yes puts it in both views.
  EXPECT_EQ(hfs_view(*p.by_pc_name("photo.exe.txt")), 1);

  // Including the same folder again adds nothing.
  size_t before = p.records.size();
  ASSERT_EQ(cli_include_items(project.c_str(), tree().c_str()), 0);
  EXPECT_EQ(Project(project).records.size(), before);
  EXPECT_TRUE(invariants(project).empty());
}

// A file too short for any Macintosh header is plain without its bytes being
// read; one just long enough for an AppleSingle header is still probed.
TEST_F(AddItems, FilesTooShortForAHeaderArePlain) {
  std::vector<uint8_t> single(k_smallest_encoded_file, 0);
  put_be32(single.data(), k_applesingle_magic);
  put_be32(single.data() + 4, 0x00020000);
  put("header only.as", single);
  put("cut header.as", std::vector<uint8_t>(single.begin(), single.end() - 1));
  std::string banner = std::string("(") + k_binhex_banner;
  put_text("cut banner.hqx", banner.substr(0, k_smallest_encoded_file - 1));
  put("one byte.bin", {0});
  ASSERT_EQ(cli_include_items(project.c_str(), tree().c_str()), 0);
  Project p(project);
  ASSERT_NE(p.by_pc_name("header only.as"), nullptr);
  EXPECT_EQ(source_encoding(*p.by_pc_name("header only.as")), SourceEncoding::apple_double);
  for (const char* plain : {"cut header.as", "cut banner.hqx", "one byte.bin"}) {
    ASSERT_NE(p.by_pc_name(plain), nullptr) << plain;
    EXPECT_EQ(source_encoding(*p.by_pc_name(plain)), SourceEncoding::plain) << plain;
    EXPECT_EQ(p.by_pc_name(plain)->data_size, fs::file_size(tree() / plain)) << plain;
  }
}

TEST_F(AddItems, NamedStreamsAndTheirSignatures) {
  put_text("streamed.pdf", "%PDF-1.4 data fork");
  put_text("lanman.txt", "plain after all");
  fs::path streamed = tree() / "streamed.pdf";
  if (!supports_named_streams(streamed.string())) GTEST_SKIP() << "no extended attributes here";
  MacFile meta = mac_file("", "PDF ", "CARO", 0, 0, 1);
  ASSERT_EQ(write_named_stream(streamed.string(), k_afpinfo_stream, encode_afpinfo(meta)), 0);
  auto rsrc = random_bytes(200, 9);
  ASSERT_EQ(write_named_stream(streamed.string(), k_resource_stream, rsrc), 0);
  MacFile lan = mac_file("", "TEXT", "LMAN", 0, 0, 2);
  ASSERT_EQ(write_named_stream((tree() / "lanman.txt").string(), k_afpinfo_stream, encode_afpinfo(lan)), 0);

  make_hfsplus_project();
  ASSERT_EQ(cli_include_items(project.c_str(), tree().c_str()), 0);
  Project p(project);
  const ProjectRecord* s = p.by_pc_name("streamed.pdf");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(source_encoding(*s), SourceEncoding::ntfs_streams);
  EXPECT_EQ(sig(*s), "PDF CARO");
  EXPECT_EQ(s->data_size, 18u);
  EXPECT_EQ(s->rsrc_size, 200u);
  EXPECT_EQ(s->hfs_name, "streamed.pdf");
  EXPECT_TRUE(s->hfs_flags & k_hfs_wide_name);
  EXPECT_EQ(source_encoding(*p.by_pc_name("lanman.txt")), SourceEncoding::plain);
}

TEST_F(AddItems, ViewsNeverLeaveTheParentsViews) {
  auto record = [](SourceEncoding e, const char* name) {
    ProjectRecord r;
    r.pc_name = name;
    set_source_encoding(r, e);
    return r;
  };
  set_remembered_inclusion_answers(0);
  g_command_mode = false;
  recorded_ui().answers = {0, 0, 2};  // no, no, yes and remember

  ProjectRecord mb = record(SourceEncoding::macbinary, "a.bin");
  choose_item_views(mb, 0);  // ISO-only parent, "no": the item has no view left
  EXPECT_EQ(iso_view(mb), 0);
  EXPECT_EQ(hfs_view(mb), 0);
  ProjectRecord exe = record(SourceEncoding::plain, "setup.exe");
  choose_item_views(exe, 2);  // HFS-only parent, "no"
  EXPECT_EQ(iso_view(exe), 0);
  EXPECT_EQ(hfs_view(exe), 0);
  ProjectRecord exe2 = record(SourceEncoding::plain, "photo.exe.txt");
  choose_item_views(exe2, 2);  // yes, remembered
  EXPECT_EQ(iso_view(exe2), 0);
  EXPECT_EQ(hfs_view(exe2), 1);
  EXPECT_EQ(recorded_ui().messages.size(), 3u);
  ProjectRecord exe3 = record(SourceEncoding::plain, "run.exe");
  choose_item_views(exe3, 1);  // remembered: no question
  EXPECT_EQ(recorded_ui().messages.size(), 3u);
  EXPECT_EQ(iso_view(exe3), 1);
  EXPECT_EQ(hfs_view(exe3), 1);
  ProjectRecord exe4 = record(SourceEncoding::plain, "run.exe");
  choose_item_views(exe4, 0);  // ISO-only parent: no question
  EXPECT_EQ(hfs_view(exe4), 0);
  ProjectRecord mb2 = record(SourceEncoding::binhex, "b.hqx");
  choose_item_views(mb2, 2);
  EXPECT_EQ(iso_view(mb2), 0);
  EXPECT_EQ(hfs_view(mb2), 1);
  EXPECT_EQ(recorded_ui().messages.size(), 3u);
}

TEST_F(AddItems, CustomIconFilesMarkTheirFolderOrTheVolume) {
  MacFile icon = mac_file("Icon\r", "ICNS", "MACS", 600, 0, 5);
  put("Icon.bin", encode_macbinary(icon));
  put("sub/Icon.bin", encode_macbinary(icon));
  put_text("sub/x.txt", "x");
  ASSERT_TRUE(create_project_file(project, 0) == 0);
  ASSERT_EQ(cli_include_items(project.c_str(), (tree() / "Icon.bin").c_str()), 0);
  ASSERT_EQ(cli_include_items(project.c_str(), (tree() / "sub").c_str()), 0);
  Project p(project);
  EXPECT_TRUE(invariants(project).empty());

  // The icon under the project's root folder chain: the tree folder gets the flag.
  std::vector<const ProjectRecord*> icons;
  for (const auto& r : p.records)
    if (r.pc_name == "Icon.bin") icons.push_back(&r);
  ASSERT_EQ(icons.size(), 2u);
  for (auto* r : icons) EXPECT_EQ(r->hfs_name, "Icon\r");
  for (const auto& r : p.records)
    if (r.is_folder() && (r.pc_name == "tree" || r.pc_name == "sub")) { EXPECT_TRUE(r.src_flags & k_src_custom_icon) << r.pc_name; }

  // Straight under the root: a volume icon twin outside the ISO view, with its own id.
  std::string root_project = dir.str("root.cvpr");
  ASSERT_EQ(create_project_file(root_project, 0), 0);
  FILE* f = std::fopen(root_project.c_str(), "r+b");
  read_project_id_counters(f, g_last_folder_id, g_last_file_serial);
  g_working_mode = k_mode_project;
  ProjectRecord buf;
  AddCounts counts;
  add_pc_items(f, counts, buf, (tree() / "Icon.bin").string(), 1);
  write_project_totals(f);
  std::fclose(f);
  Project q(root_project);
  ASSERT_EQ(q.records.size(), 2u);
  EXPECT_EQ(counts.files_added, 1u);
  const ProjectRecord* twin = nullptr;
  for (const auto& r : q.records)
    if (r.hfs_name == ".VolumeIcon.icns") twin = &r;
  ASSERT_NE(twin, nullptr);
  EXPECT_TRUE(twin->attr_flags & k_attr_fixed_hfs_name);
  EXPECT_EQ(iso_view(*twin), 0);
  EXPECT_NE(q.records[0].id, q.records[1].id);
  EXPECT_TRUE(q.header.icon_flags & k_src_custom_icon);
}

TEST_F(AddItems, ListFilesChainsAndIsoPlusProjects) {
  put_text("one/two/a.txt", "a");
  put_text("one/b.txt", "b");
  put_text("elsewhere/c.txt", "c");
  std::string list = dir.str("list.txt");
  write_text(list, (tree() / "one/two/a.txt").string() + "\r\n" + (tree() / "elsewhere/c.txt").string() + "\n");
  ASSERT_EQ(cli_include_items(project.c_str(), ("$" + list).c_str()), 0);
  Project p(project);
  EXPECT_TRUE(invariants(project).empty());
  const ProjectRecord* a = p.by_pc_name("a.txt");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(p.by_pc_name("c.txt"), nullptr);
  EXPECT_EQ(p.by_pc_name("b.txt"), nullptr);
  const ProjectRecord* two = p.by_pc_name("two");
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(a->parent_id, uint32_t(two->id));
  EXPECT_EQ(two->file_count(), 1u);

  EXPECT_EQ(cli_include_items(project.c_str(), "$/no/such/list"), -3);
  EXPECT_EQ(cli_include_items(project.c_str(), (tree() / "missing").c_str()), -3);
  EXPECT_EQ(cli_include_items(project.c_str(), ""), -2);
  write_text(dir.str("not-a-project.cvpr"), "hello");
  std::string sum = sha256_of(dir.str("not-a-project.cvpr"));
  EXPECT_EQ(cli_include_items(dir.str("not-a-project.cvpr").c_str(), tree().c_str()), 1);
  EXPECT_EQ(sha256_of(dir.str("not-a-project.cvpr")), sum);

  // ISO+: items straight under the root, the ISO view only, one per name whatever its case.
  put_text("case/Read.me", "1");
  put_text("case/READ.ME", "2");
  std::string iso = dir.str("disc.cvso");
  ASSERT_EQ(cli_include_isoplus_items(iso.c_str(), (tree() / "case").c_str()), 0);
  Project q(iso);
  size_t readmes = 0;
  for (const auto& r : q.records) {
    EXPECT_EQ(hfs_view(r), 0);
    EXPECT_EQ(iso_view(r), 1);
    if (!r.is_folder()) ++readmes;
  }
  EXPECT_EQ(readmes, 1u);
  g_working_mode = k_mode_project;
}

TEST_F(AddItems, ProjectOnlyFoldersAndHfsPlusNames) {
  make_hfsplus_project();
  FILE* f = std::fopen(project.c_str(), "r+b");
  read_project_id_counters(f, g_last_folder_id, g_last_file_serial);
  g_working_mode = k_mode_project;
  ProjectRecord buf;
  EXPECT_EQ(add_new_folder(f, buf, ".!Background", 1), 17);
  int32_t again = add_new_folder(f, buf, ".!Background", 1);  // a second one is an ordinary folder
  EXPECT_GT(again, 17);
  int32_t inner = add_new_folder(f, buf, ".!Background", uint32_t(again));
  EXPECT_GT(inner, again);
  EXPECT_EQ(buf.pc_folder, "..");
  write_project_totals(f);
  std::fclose(f);
  Project p(project);
  for (auto& line : invariants(project)) ADD_FAILURE() << line;
  std::set<std::string> root_names;
  for (auto* r : p.children(1)) EXPECT_TRUE(root_names.insert(r->hfs_name).second) << r->hfs_name;

  // HFS+ target: the HFS name is text, up to 62 bytes, unique after shortening.
  std::string base(70, 'z');
  put_text(base + "-1.txt", "1");
  put_text(base + "-2.txt", "2");
  put_text("été.txt", "summer");
  ASSERT_EQ(cli_include_items(project.c_str(), tree().c_str()), 0);
  Project q(project);
  EXPECT_EQ(q.by_pc_name("été.txt")->hfs_name, "été.txt");
  const ProjectRecord* z1 = q.by_pc_name(base + "-1.txt");
  const ProjectRecord* z2 = q.by_pc_name(base + "-2.txt");
  EXPECT_LE(z1->hfs_name.size(), k_hfsplus_name_limit);
  EXPECT_NE(z1->hfs_name, z2->hfs_name);
  EXPECT_NE(z1->long_name, z2->long_name);
  EXPECT_NE(z1->pc_short_name, z2->pc_short_name);
}

TEST_F(AddItems, IncludeOptionsChooseTheViews) {
  put_text("a.txt", "a");
  put_text("sub/b.txt", "b");
  std::string iso_only = dir.str("iso.cvpr"), hfs_only = dir.str("hfs.cvpr"), both = dir.str("both.cvpr");
  ASSERT_EQ(run_command_line_operation("-ii", iso_only.c_str(), tree().c_str()), 0);
  ASSERT_EQ(run_command_line_operation("-ih", hfs_only.c_str(), tree().c_str()), 0);
  ASSERT_EQ(run_command_line_operation("-i", both.c_str(), (tree() / "a.txt").c_str()), 0);
  g_name_view = k_name_view_pc;
  Project i(iso_only), h(hfs_only), b(both);
  ASSERT_EQ(i.records.size(), 4u);
  ASSERT_EQ(h.records.size(), 4u);
  for (const auto& r : i.records) {
    EXPECT_EQ(iso_view(r), 1) << r.pc_name;
    EXPECT_EQ(hfs_view(r), 0) << r.pc_name;
  }
  for (const auto& r : h.records) {
    EXPECT_EQ(iso_view(r), 0) << r.pc_name;
    EXPECT_EQ(hfs_view(r), 1) << r.pc_name;
  }
  const ProjectRecord* a = b.by_pc_name("a.txt");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(iso_view(*a), 1);
  EXPECT_EQ(hfs_view(*a), 1);
  EXPECT_EQ(b.header.iso_item_count, 2u);  // a.txt and the tree folder
  EXPECT_TRUE(invariants(both).empty());
}

// Names that agree over more than the name limits take "-001", "-002"... in
// listing order, also when a second inclusion adds to a folder that holds some:
// the stored names count as taken, and an item already there is not added again.
TEST_F(AddItems, NamesSharingALongStemTakeTheNextSuffixesAcrossInclusions) {
  std::string stem(70, 's');
  for (int i = 0; i < 3; ++i) put_text("many/" + stem + std::to_string(i) + ".txt", "x");
  ASSERT_EQ(cli_include_items(project.c_str(), (tree() / "many").c_str()), 0);
  for (int i = 3; i < 5; ++i) put_text("many/" + stem + std::to_string(i) + ".txt", "x");
  put_text("many/" + stem + "9.TXT", "x");  // the same name but for its case in the views
  ASSERT_EQ(cli_include_items(project.c_str(), (tree() / "many").c_str()), 0);
  Project p(project);
  EXPECT_TRUE(invariants(project).empty());
  std::map<std::string, std::string> long_names, short_names;
  for (const auto& r : p.records)
    if (!r.is_folder()) {
      long_names[r.pc_name] = r.long_name.substr(50);
      short_names[r.pc_name] = r.pc_short_name;
    }
  ASSERT_EQ(long_names.size(), 6u);
  std::string cut = std::string(8, 's');  // 62 bytes: 50 + 8 + ".txt"
  EXPECT_EQ(long_names[stem + "0.txt"], cut + ".txt");
  EXPECT_EQ(long_names[stem + "1.txt"], std::string(4, 's') + "-001.txt");
  EXPECT_EQ(long_names[stem + "2.txt"], std::string(4, 's') + "-002.txt");
  EXPECT_EQ(long_names[stem + "3.txt"], std::string(4, 's') + "-003.txt");
  EXPECT_EQ(long_names[stem + "4.txt"], std::string(4, 's') + "-004.txt");
  EXPECT_EQ(long_names[stem + "9.TXT"], std::string(4, 's') + "-005.TXT");
  EXPECT_EQ(short_names[stem + "0.txt"], "SSSSSSSS.TXT");
  EXPECT_EQ(short_names[stem + "4.txt"], "SSSSSS_4.TXT");
  EXPECT_EQ(short_names[stem + "9.TXT"], "SSSSSS_5.TXT");
}

namespace {
int g_polls = 0;  // the work's polls of the Esc key
}  // namespace

// Outside the command line every item shows the running counts of the whole
// inclusion; an Esc confirmed between two items stops it, leaving a project
// whose folders count what they hold.
TEST_F(AddItems, RunningCountsOfTheWholeInclusionAndAStopBetweenTwoItems) {
  for (const char* rel : {"a/1.txt", "a/2.txt", "a/3.txt", "a/b/4.txt", "a/b/5.txt", "c.txt", "d/6.txt", "d/7.txt"})
    put_text(rel, rel);
  auto include = [&](const std::string& path) {
    ASSERT_EQ(create_project_file(path, 0), 0);
    FILE* f = std::fopen(path.c_str(), "r+b");
    read_project_id_counters(f, g_last_folder_id, g_last_file_serial);
    g_working_mode = k_mode_project;
    ProjectRecord buf;
    AddCounts counts;
    reset_inclusion_counts();
    add_pc_items(f, counts, buf, tree().string() + "/*", 1);
    add_folder_counts(f, 1, int32_t(counts.folders_added), int32_t(counts.files_added));
    write_project_totals(f);
    std::fclose(f);
  };
  g_command_mode = false;
  include(project);
  const auto& seen = recorded_ui().inclusion_counts;
  ASSERT_EQ(seen.size(), 11u);  // 3 folders and 8 files, one call each
  for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i].first + seen[i].second, i + 1) << i;
  EXPECT_EQ(seen.back(), std::make_pair(3u, 8u));
  EXPECT_EQ(g_folder_count, 3u);
  EXPECT_EQ(g_file_count, 8u);

  // Esc at the fifth item, No: the inclusion goes on; again at the seventh, Yes: it stops there.
  WindowBackend backend;
  set_window_backend(&backend);
  recorded_ui().clear();
  recorded_ui().answers = {0, 1};
  g_polls = 0;
  std::string stopped = dir.str("stopped.cvpr");
  backend.poll_escape = [] {
    ++g_polls;
    return g_polls == 5 || g_polls == 7 ? 27 : 0;
  };
  include(stopped);
  set_window_backend(nullptr);
  g_command_mode = true;
  EXPECT_TRUE(g_inclusion_stopped);
  EXPECT_EQ(std::count(recorded_ui().messages.begin(), recorded_ui().messages.end(), ui_text(1124)), 2);
  EXPECT_EQ(recorded_ui().inclusion_counts.size(), 6u) << "the items before the confirmed Esc";
  for (auto& line : invariants(stopped)) ADD_FAILURE() << line;
  Project p(stopped);
  EXPECT_EQ(p.records.size(), 6u);
  reset_inclusion_counts();
  EXPECT_FALSE(g_inclusion_stopped);
}
