// Catalog searches of a volume judged by hfsutils and sleuthkit listings, the
// file search dialog's criteria and cap, hit selection by id, and the name
// truncation prompt through a real copy onto an HFS volume.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "IO/bigendian.h"
#include "compiler/projectsearch.h"
#include "gui/search/catalog_search.h"
#include "gui/search/file_search.h"
#include "gui/search/hit_selection.h"
#include "gui/volume/truncation_prompt.h"
#include "hfs/alloc.h"
#include "hfs/lookup.h"
#include "hfs/mount.h"
#include "hfs/volume_fixture.h"
#include "macfiles/extract.h"
#include "macfiles/import.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

// Names (folders and files) an outside listing gives, filtered in Python by
// a glob of the pattern ("*" alone a wildcard), case ignored.
std::multiset<std::string> python_filter(const std::string& listing_cmd, const std::string& pattern) {
  TempDir d;
  write_text(d.path() / "f.py",
             "import re, sys\n"
             "pat = sys.argv[1].upper()\n"
             "rx = re.compile('.*'.join(re.escape(part) for part in pat.split('*')), re.S)\n"
             "def match(n):\n"
             "    return rx.fullmatch(n.upper()) is not None\n"
             "for line in sys.stdin.read().splitlines():\n"
             "    if match(line): print(line)\n");
  RunResult r = run(listing_cmd + " | python3 " + quote(d.str("f.py")) + " " + quote(pattern));
  std::multiset<std::string> out;
  size_t at = 0;
  while (at < r.out.size()) {
    size_t e = r.out.find('\n', at);
    out.insert(r.out.substr(at, e - at));
    at = e == std::string::npos ? r.out.size() : e + 1;
  }
  return out;
}

std::multiset<std::string> hit_names(const std::vector<ProjectSearchHit>& hits) {
  std::multiset<std::string> s;
  for (const ProjectSearchHit& h : hits) s.insert(h.pc_name);
  return s;
}

const char* k_names[] = {"ReadMe.txt", "readme2.TXT", "notes.txt", "Picture.pict", "a.txt.bak", "Other"};

}  // namespace

TEST(CatalogSearch, HfsNamesAndSignaturesAgreeWithHls) {
  REQUIRE_TOOL("hformat");
  REQUIRE_TOOL("python3");
  TempDir dir;
  std::string img = dir.str("v.hfs");
  ASSERT_EQ(run("dd if=/dev/zero of=" + quote(img) + " bs=1M count=4 2>/dev/null && hformat -l Vol " + quote(img)).rc, 0);
  std::string cmds = "hmount " + quote(img) + " >/dev/null && hmkdir :Docs && hmkdir :Docs:Deep";
  for (const char* n : k_names) {
    write_text(dir.path() / n, "x");
    cmds += " && hcopy -r " + quote(dir.str(n)) + " :" + " && hcopy -r " + quote(dir.str(n)) + " :Docs:Deep:";
  }
  cmds += " && hattrib -t TEXT -c ttxt :notes.txt && hattrib -t PICT -c TEXT :Picture.pict";
  RunResult made = run(cmds);
  ASSERT_EQ(made.rc, 0) << made.err;
  ASSERT_EQ(testvol::open_volume(img, false, true), 0);
  std::string listing = "hmount " + quote(img) + " >/dev/null && hls -1aR | grep -v ':$' | grep -v '^$'";
  std::vector<ProjectSearchHit> hits;
  for (std::string p : {"readme*", "*txt", "doc*", "*", "picture"}) {
    find_by_name(normalise_search_pattern(prepare_name_criterion(p)), hits);
    std::string np = normalise_search_pattern(prepare_name_criterion(p));
    std::multiset<std::string> expected = python_filter(listing, np);
    if (match_name_pattern("Vol", np)) expected.insert("Vol");  // the root folder's own record
    EXPECT_EQ(hit_names(hits), expected) << p;
  }
  // Signatures: TEXT is a type or a creator; hcopy -r gives TEXT/UNIX... ask hls.
  EXPECT_EQ(find_by_signature("PICT", hits), 1);
  EXPECT_EQ(hits[0].pc_name, "Picture.pict");
  find_by_signature("TEXT", hits);
  RunResult types = run("hmount " + quote(img) + " >/dev/null && hls -laR | grep -c -E ' (TEXT/|[A-Za-z?]{4}/TEXT)'");
  EXPECT_EQ(hits.size(), size_t(std::stoi(types.out)));
  // Every hit sits in the folder it says, and its id finds it again.
  std::vector<HitRow> rows = volume_hit_rows(hits);
  EXPECT_EQ(rows.size(), hits.size());
  EXPECT_TRUE(hits_in_one_folder(hits, int(hits.size())));  // both in the root
  find_by_name("notes*", hits);
  EXPECT_FALSE(hits_in_one_folder(hits, int(hits.size())));
  EXPECT_TRUE(hits_in_one_folder(hits, 0));
  testvol::close_volume();
}

TEST(CatalogSearch, HfsPlusIsCaseInsensitiveAndCapsAt128) {
  REQUIRE_TOOL("fls");
  REQUIRE_TOOL("python3");
  TempDir dir;
  std::string img = dir.str("p.img");
  ASSERT_EQ(testvol::make_image(img, true, 8, "Plus"), 0);
  fs::create_directories(dir.path() / "src" / "Sub");
  for (const char* n : k_names) write_text(dir.path() / "src" / "Sub" / n, "y");
  for (int i = 0; i < 140; ++i) write_text(dir.path() / "src" / ("file" + std::to_string(i) + ".dat"), "z");
  ASSERT_EQ(testvol::open_volume(img, true), 0);
  ASSERT_EQ(load_allocation_bitmap(), 0);
  recorded_ui().clear();
  ASSERT_EQ(import_pc_item(dir.str("src"), 2, 1), 0);
  ASSERT_EQ(flush_volume_structures(), 0);
  testvol::close_volume();
  ASSERT_EQ(testvol::open_volume(img, true, true), 0);
  std::string listing = "fls -r -o 64 " + quote(img) + " | sed -e 's/^[+ ]*[a-z-]\\/[a-z-] [*]* *[0-9]*:\\t//' | grep -v '^\\$'";
  RunResult probe = run("mmls -t mac " + quote(img));
  std::vector<ProjectSearchHit> hits;
  for (std::string p : {"readme*", "*TXT", "sub"}) {
    std::string np = normalise_search_pattern(prepare_name_criterion(p));
    find_by_name(np, hits);
    std::multiset<std::string> expected = python_filter(listing, np);
    if (match_name_pattern("Plus", np)) expected.insert("Plus");
    EXPECT_EQ(hit_names(hits), expected) << p << "\n" << probe.out;
  }
  EXPECT_EQ(find_by_name("file*", hits), int(k_max_search_hits));
  // Through the dialog: the cap is said, and the dialog closes with 128.
  FileSearchModel m;
  init_file_search(m);
  file_search_name_changed(m, "FILE*.DAT");
  EXPECT_EQ(file_search_by_name(m, k_mode_partition, nullptr), int(k_max_search_hits));
  EXPECT_NE(m.message.find("128"), std::string::npos);
  file_search_name_changed(m, "nothing-like-it");
  EXPECT_EQ(file_search_by_name(m, k_mode_partition, nullptr), 0);  // stays open
  EXPECT_NE(m.message.find("nothing-like-it"), std::string::npos);
  file_search_signature_changed(m, "zzzz");
  EXPECT_EQ(file_search_by_signature(m, k_mode_partition, nullptr), -1);
  // A hit picked in the results goes back by its folder and id.
  find_by_name("readme*", hits);
  std::vector<HitRow> rows = volume_hit_rows(hits);
  ASSERT_EQ(rows.size(), 2u);
  uint32_t sub = rows[1].parent_id;
  EXPECT_EQ(choose_search_hit(rows, 1, hits), -int(sub));
  EXPECT_EQ(hits[0].id, rows[1].id);
  EXPECT_EQ(folder_chain(k_mode_partition, nullptr, sub).size(), 3u);  // root, src, Sub
  testvol::close_volume();
}

TEST(FileSearch, PatternsAndCommandPlans) {
  EXPECT_EQ(normalise_search_pattern(prepare_name_criterion("  *.TXT ")), "*txt");
  EXPECT_EQ(normalise_search_pattern(prepare_name_criterion("Read Me.*")), "read me*");
  EXPECT_EQ(normalise_search_pattern("*.*"), "*");
  EXPECT_EQ(prepare_name_criterion("ÉTÉ"), "été");
  std::vector<ProjectSearchHit> three = {{5, "a", -1}, {5, "b", -2}, {5, "c", 9}};
  SearchCommandPlan plan = plan_search_command(3, three);
  EXPECT_EQ(plan.action, SearchCommandPlan::select_in_folder);
  EXPECT_EQ(plan.items, (std::vector<int32_t>{-1, -2, 9}));
  three[2].parent_id = 6;
  EXPECT_EQ(plan_search_command(3, three).action, SearchCommandPlan::pick);
  EXPECT_EQ(plan_search_command(-1, three).action, SearchCommandPlan::nothing);
  EXPECT_EQ(plan_search_command(1, three).items, std::vector<int32_t>{-1});
}

TEST(HitSelection, ProjectFileHitsAreFoundByIdAndPickedByTheirFolder) {
  TempDir dir;
  ASSERT_EQ(create_project_file(dir.str("p.cvpr"), 0), 0);
  FILE* f = std::fopen(dir.str("p.cvpr").c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  auto add = [f](uint32_t parent, const std::string& pc, const std::string& iso, bool folder) {
    ProjectRecord r;
    r.parent_id = parent;
    r.id = folder ? next_folder_id(pc) : next_file_id();
    r.pc_folder = "/pc/";
    r.pc_name = pc;
    r.long_name = iso;
    r.hfs_name = iso;
    std::memcpy(r.type_creator, "TEXTttxt", 8);
    set_iso_view(r, 1);
    set_hfs_view(r, 1);
    EXPECT_EQ(insert_record(f, r), 0);
    return r.id;
  };
  int32_t a = add(1, "A", "A", true), b = add(1, "B", "B", true);
  // The same PC name twice in one folder, shown under two ISO names.
  int32_t first = add(uint32_t(a), "same.txt", "same_1.txt", false);
  int32_t second = add(uint32_t(a), "same.txt", "same_2.txt", false);
  add(uint32_t(b), "other.txt", "other.txt", false);
  g_name_view = k_name_view_iso;
  std::vector<ProjectSearchHit> hits;
  ASSERT_EQ(search_project_by_signature(f, "TEXT", hits), 3);
  std::vector<HitRow> rows = project_hit_rows(f, hits, false);
  ASSERT_EQ(rows.size(), 3u);
  std::set<std::string> captions;
  for (const HitRow& r : rows) captions.insert(r.caption);
  EXPECT_EQ(captions, (std::set<std::string>{"same_1.txt", "same_2.txt", "other.txt"}));
  int pick = rows[1].id == second ? 1 : 0;
  ASSERT_EQ(rows[size_t(pick)].id, second);
  EXPECT_EQ(choose_search_hit(rows, pick, hits), -a);  // a file: its folder, not a cancel
  EXPECT_EQ(hits[0].id, second);
  EXPECT_EQ(hits[0].pc_name, "same_2.txt");
  EXPECT_NE(first, second);
  EXPECT_EQ(choose_search_hit(rows, -1, hits), 0);
  EXPECT_EQ(folder_chain(k_mode_project, f, uint32_t(a)), (std::vector<uint32_t>{1, uint32_t(a)}));
  std::fclose(f);
}

// The prompt answers each way; hls judges the names created.
TEST(TruncationPrompt, EachAnswerGivesTheNameHfsutilsLists) {
  REQUIRE_TOOL("hls");
  REQUIRE_TOOL("python3");
  TempDir dir;
  std::string img = dir.str("t.img");
  ASSERT_EQ(testvol::make_image(img, false, 8, "Trunc"), 0);
  const std::string long1 = "A fairly long file name of forty chars1";  // 39
  const std::string long2 = "A fairly long file name of forty chars2";
  const std::string typed = "Typed name";
  fs::create_directories(dir.path() / "a");
  fs::create_directories(dir.path() / "b");
  write_text(dir.path() / "a" / long1, "1");
  write_text(dir.path() / "b" / long1, "2");
  write_text(dir.path() / "b" / long2, "3");
  ASSERT_EQ(testvol::open_volume(img, false), 0);
  ASSERT_EQ(load_allocation_bitmap(), 0);
  recorded_ui().clear();
  g_truncation_answer = 0;
  g_extract_options = 0;
  std::vector<uint32_t> parents;
  std::function<bool(HfsTruncationPrompt&)> script = [&](HfsTruncationPrompt& p) {
    parents.push_back(p.parent);
    p.typed = typed;
    return true;
  };
  recorded_ui().truncation = [&](std::string& name, uint32_t parent) {
    return run_hfs_truncation_prompt(name, parent, script);
  };
  // 1: a typed name. The prompt checks the folder the item goes into.
  ASSERT_EQ(import_pc_item(dir.str("a"), 2, 1), 0);
  ASSERT_EQ(parents.size(), 1u);
  EXPECT_NE(parents[0], 2u);
  // 2: automatic with CRC, remembered: the clash of the two cut names takes the CRC.
  script = [&](HfsTruncationPrompt& p) {
    parents.push_back(p.parent);
    p.automatic = p.crc = true;
    return true;
  };
  ASSERT_EQ(import_pc_item(dir.str("b"), 2, 1), 0);
  EXPECT_EQ(parents.size(), 2u);  // the second long name was not asked
  EXPECT_EQ(g_truncation_answer, 2);
  ASSERT_EQ(flush_volume_structures(), 0);
  testvol::close_volume();
  RunResult l = run("hmount " + quote(img) + " >/dev/null && hls -1 :a && echo --- && hls -1 :b");
  ASSERT_EQ(l.rc, 0) << l.err;
  std::string cut = long1.substr(0, 31);
  // Which of the two came second depends on the PC listing: either takes the CRC.
  std::set<std::string> with_crc;
  for (const std::string& n : {long1, long2}) {
    RunResult crc = run("python3 -c " +
                        quote("import binascii;h='%04X'%binascii.crc_hqx(b'" + n + "',0);print(h[::-1])"));
    with_crc.insert(n.substr(0, 26) + "-" + crc.out.substr(0, 4));
  }
  size_t sep = l.out.find("---\n");
  ASSERT_NE(sep, std::string::npos);
  EXPECT_EQ(l.out.substr(0, sep), typed + "\n");
  std::string b = l.out.substr(sep + 4);
  size_t nl = b.find('\n');
  std::set<std::string> listed = {b.substr(0, nl), b.substr(nl + 1, b.size() - nl - 2)};
  EXPECT_TRUE(listed.count(cut)) << b;
  listed.erase(cut);
  ASSERT_EQ(listed.size(), 1u) << b;
  EXPECT_TRUE(with_crc.count(*listed.begin())) << b;
  // Cancel: the item is skipped.
  g_truncation_answer = 0;
  std::string name = long1;
  EXPECT_EQ(run_hfs_truncation_prompt(name, 2, [](HfsTruncationPrompt&) { return false; }), 0);
  EXPECT_TRUE(name.empty());
  g_extract_options = 0;
}
