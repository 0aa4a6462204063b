// The project record store: the exact layout of a new file, the codecs, the order
// of runs, deletion, and randomised sequences checked against the store's rules.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <random>

#include "IO/bigendian.h"
#include "IO/uitext.h"
#include "compiler/project.h"
#include "hfs/voledit.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using testkit::TempDir;

namespace {

struct OpenProject {
  explicit OpenProject(const std::string& path, uint32_t prefs = 0) {
    EXPECT_EQ(create_project_file(path, prefs), 0);
    f = std::fopen(path.c_str(), "r+b");
  }
  ~OpenProject() {
    if (f) std::fclose(f);
  }
  FILE* f = nullptr;
};

ProjectRecord file_record(uint32_t parent, const std::string& name, uint32_t size = 100) {
  ProjectRecord r;
  r.parent_id = parent;
  r.id = next_file_id();
  r.pc_folder = "/src/";
  r.pc_name = name;
  r.pc_short_name = name;
  r.long_name = name;
  r.hfs_name = name;
  r.data_size = size;
  set_iso_view(r, 1);
  set_hfs_view(r, 1);
  return r;
}

std::vector<ProjectRecord> all_records(FILE* f) {
  std::vector<ProjectRecord> v;
  std::fseek(f, long(k_project_record_size), SEEK_SET);
  ProjectRecord r;
  while (read_project_record(f, r)) v.push_back(r);
  return v;
}

void expect_sound(FILE* f) {
  std::vector<std::string> faults = check_project_invariants(f);
  for (const std::string& s : faults) ADD_FAILURE() << s;
}

}  // namespace

TEST(ProjectFile, NewProjectIsOneRecordLaidOutExactly) {
  TempDir dir;
  ASSERT_EQ(create_project_file(dir.str("a.cvpr"), 0), 0);
  std::vector<uint8_t> b = testkit::read_file(dir.str("a.cvpr"));
  ASSERT_EQ(b.size(), 756u);
  std::vector<uint8_t> want(756, 0);
  std::memcpy(want.data(), "CVNZ", 4);
  put_le32(&want[4], 1);
  put_le32(&want[8], 17);
  want[12] = 1;  // the root is in the ISO view
  std::memcpy(&want[624], "Untitled", 8);
  std::memcpy(&want[692], "Untitled", 8);
  EXPECT_EQ(b, want);

  // HFS+ by default, refresh and open-root preferences land in bytes 13 and 14.
  ASSERT_EQ(create_project_file(dir.str("b.cvpr"), 0x10 | 0x200 | 0x8, "quorvel"), 0);
  b = testkit::read_file(dir.str("b.cvpr"));
  EXPECT_EQ(b[13], 1);
  EXPECT_EQ(b[14], 0x21);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[624])), "quorvel");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[692])), "quorvel");
}

TEST(ProjectFile, MagicTellsProjectsOlderProjectsAndOtherFiles) {
  TempDir dir;
  auto magic_of = [&](const std::string& bytes) {
    testkit::write_text(dir.str("m"), bytes);
    FILE* f = std::fopen(dir.str("m").c_str(), "rb");
    std::fseek(f, 2, SEEK_SET);
    int m = check_project_magic(f);
    EXPECT_EQ(std::ftell(f), 2) << "position restored";
    std::fclose(f);
    return m;
  };
  EXPECT_EQ(magic_of("CVNZ" + std::string(752, '\0')), 1);
  EXPECT_EQ(magic_of("CVNY" + std::string(752, '\0')), -1);
  EXPECT_EQ(magic_of("XVNZ" + std::string(752, '\0')), 0);
  EXPECT_EQ(magic_of("CV"), 0);
}

TEST(ProjectFile, RecordCodecPlacesEveryFieldAndClipsLongTexts) {
  ProjectRecord r;
  r.parent_id = 0x11223344;
  r.id = -5;
  r.iso_flags = 3;
  r.hfs_flags = 0x21;
  r.attr_flags = 0x81;
  r.src_flags = 0x34;
  r.data_size = 1000;
  r.rsrc_size = 2000;
  r.pc_size = 3000;
  r.create_date = 0xA0B0C0D0;
  r.modify_date = 0xA1B1C1D1;
  std::memcpy(r.type_creator, "TEXTttxt", 8);
  r.pc_folder = "/home/u/";
  r.pc_name = "name.txt";
  r.pc_short_name = "NAME12345678";  // exactly 12: stored unterminated
  r.long_name = "iso name";
  r.hfs_name = "hfs name";

  std::vector<uint8_t> b(756 + 8, 0xEE);
  encode_project_record(r, std::span<uint8_t>(b.data(), 756));
  EXPECT_EQ(get_le32(&b[0]), 0x11223344u);
  EXPECT_EQ(int32_t(get_le32(&b[4])), -5);
  EXPECT_EQ(b[12], 3);
  EXPECT_EQ(b[15], 0x34);
  EXPECT_EQ(get_le32(&b[24]), 3000u);
  EXPECT_EQ(get_le32(&b[68]), 0xA1B1C1D1u);
  EXPECT_EQ(std::memcmp(&b[102], "TEXTttxt", 8), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(&b[112]), "/home/u/");
  EXPECT_STREQ(reinterpret_cast<char*>(&b[368]), "name.txt");
  EXPECT_EQ(std::memcmp(&b[612], "NAME12345678", 12), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(&b[624]), "iso name");
  EXPECT_STREQ(reinterpret_cast<char*>(&b[692]), "hfs name");
  EXPECT_EQ(b[756], 0xEE) << "nothing written past the record";

  ProjectRecord back;
  decode_project_record(std::span<const uint8_t>(b.data(), 756), back);
  EXPECT_EQ(back.pc_short_name, "NAME12345678");
  EXPECT_EQ(back.hfs_flags, r.hfs_flags);
  EXPECT_EQ(back.modify_date, r.modify_date);
  EXPECT_EQ(iso_view(back), -1);
  EXPECT_EQ(hfs_view(back), 1);
  EXPECT_EQ(source_encoding(back), SourceEncoding::macbinary);

  // Texts far longer than their fields, with a character cut at the boundary.
  std::string e_acute = "\xC3\xA9";
  r.pc_folder = std::string(255, 'f') + e_acute;
  r.pc_name = std::string(2000, 'n');
  r.long_name = std::string(66, 'l') + e_acute;
  r.hfs_name = std::string(500, 'h');
  std::fill(b.begin(), b.end(), 0xEE);
  encode_project_record(r, std::span<uint8_t>(b.data(), 756));
  EXPECT_EQ(b[756], 0xEE);
  decode_project_record(std::span<const uint8_t>(b.data(), 756), back);
  EXPECT_EQ(back.pc_folder, std::string(255, 'f'));
  EXPECT_EQ(back.pc_name.size(), 243u);
  EXPECT_EQ(back.long_name, std::string(66, 'l')) << "never half a character";
  EXPECT_EQ(back.hfs_name.size(), 63u);

  // A damaged record whose texts fill every byte decodes within the record.
  std::vector<uint8_t> full(756, 'x');
  decode_project_record(full, back);
  EXPECT_EQ(back.hfs_name.size(), 64u);
  EXPECT_EQ(back.pc_short_name.size(), 12u);
}

TEST(ProjectFile, HeaderLabelsAreClippedToTheirViews) {
  ProjectHeader h;
  h.target_flags = 0;
  set_header_volume_label(h, std::string(300, 'L'));
  set_header_hfs_volume_name(h, std::string(300, 'H') + ":");
  EXPECT_EQ(h.volume_label.size(), 62u);
  EXPECT_EQ(h.hfs_volume_name.size(), 27u);
  h.target_flags = 1;
  set_header_hfs_volume_name(h, "a:b");
  EXPECT_EQ(h.hfs_volume_name, "a:b");
  h.target_flags = 0;
  set_header_hfs_volume_name(h, "a:b");
  EXPECT_EQ(h.hfs_volume_name, "a_b") << "':' cannot stand in an HFS name";
  std::vector<uint8_t> b(756);
  encode_project_header(h, b);
  ProjectHeader back;
  decode_project_header(b, back);
  EXPECT_EQ(back.volume_label, h.volume_label);
  EXPECT_EQ(back.hfs_volume_name, "a_b");
}

TEST(ProjectFile, IdsStartAt18AndBackgroundFolderIs17) {
  TempDir dir;
  OpenProject p(dir.str("a.cvpr"));
  read_project_id_counters(p.f, g_last_folder_id, g_last_file_serial);
  ProjectRecord r;
  EXPECT_EQ(make_folder_record(p.f, r, "first", 1, "/x/", false), 18);
  EXPECT_EQ(make_folder_record(p.f, r, ".!Background", 1, "/x/", false), 17);
  EXPECT_EQ(make_folder_record(p.f, r, ".!Background", 18, "/x/", false), 19) << "17 is taken";
  EXPECT_EQ(next_file_id(), -1);
  EXPECT_EQ(next_file_id(), -2);
}

TEST(ProjectFile, InsertKeepsOneSortedRunPerParent) {
  TempDir dir;
  OpenProject p(dir.str("a.cvpr"));
  read_project_id_counters(p.f, g_last_folder_id, g_last_file_serial);
  // Runs in the order a batch merge leaves them: 1, 18, 20, 19.
  ProjectRecord f18, f19, f20;
  ASSERT_NE(make_folder_record(p.f, f18, "a", 1, "/x/", true), 0);
  ASSERT_NE(make_folder_record(p.f, f19, "b", 18, "/x/", true), 0);
  ASSERT_NE(make_folder_record(p.f, f20, "c", 18, "/x/", true), 0);
  ASSERT_EQ(insert_record(p.f, file_record(20, "z")), 0);
  std::fseek(p.f, 0, SEEK_END);
  ProjectRecord late = file_record(19, "m");
  ASSERT_TRUE(write_project_record(p.f, late));
  std::fflush(p.f);
  // A single insert for parent 19 must join its run, not start one before run 20.
  ASSERT_EQ(insert_record(p.f, file_record(19, "k")), 0);
  std::vector<ProjectRecord> v = all_records(p.f);
  ASSERT_EQ(v.size(), 6u);
  EXPECT_EQ(v[4].long_name, "k");
  EXPECT_EQ(v[5].long_name, "m");
  // An equal name goes before its sibling.
  ProjectRecord twin = file_record(19, "m");
  twin.pc_name = "second";
  ASSERT_EQ(insert_record(p.f, twin), 0);
  v = all_records(p.f);
  EXPECT_EQ(v[5].pc_name, "second");
  EXPECT_EQ(count_children(p.f, 19), 3u);
  ProjectRecord found;
  ASSERT_TRUE(find_item_record(p.f, found, late.id, 19));
  EXPECT_EQ(found.long_name, "m");
}

TEST(ProjectFile, DeletingANonEmptyFolderAsksAndNoLeavesTheFile) {
  TempDir dir;
  std::string path = dir.str("a.cvpr");
  OpenProject p(path);
  read_project_id_counters(p.f, g_last_folder_id, g_last_file_serial);
  ProjectRecord a, b;
  int32_t ida = make_folder_record(p.f, a, "a", 1, "/x/", true);
  add_folder_counts(p.f, 1, 1, 0);
  int32_t idb = make_folder_record(p.f, b, "b", uint32_t(ida), "/x/", true);
  add_folder_counts(p.f, ida, 1, 0);
  ASSERT_EQ(insert_record(p.f, file_record(uint32_t(idb), "f1")), 0);
  add_folder_counts(p.f, idb, 0, 1);
  ASSERT_EQ(insert_record(p.f, file_record(1, "top")), 0);
  add_folder_counts(p.f, 1, 0, 1);
  write_project_totals(p.f);
  std::fflush(p.f);
  std::string before = testkit::sha256_of(path);

  recorded_ui().clear();
  recorded_ui().answers = {0};
  EXPECT_EQ(delete_item(p.f, ida, 1), 0);
  EXPECT_EQ(recorded_ui().messages.size(), 1u);
  std::fflush(p.f);
  EXPECT_EQ(testkit::sha256_of(path), before);

  recorded_ui().answers = {1};
  EXPECT_EQ(delete_item(p.f, ida, 1), ida);
  std::vector<ProjectRecord> v = all_records(p.f);
  ASSERT_EQ(v.size(), 1u) << "the folder and everything below it are gone";
  EXPECT_EQ(v[0].long_name, "top");
  expect_sound(p.f);
  ProjectHeader h;
  ASSERT_TRUE(read_project_header(p.f, h));
  EXPECT_EQ(h.subfolder_count, 0u);
  EXPECT_EQ(h.file_count, 1u);
}

TEST(ProjectFile, RandomisedEditsKeepTheStoreSound) {
  TempDir dir;
  std::mt19937 rng(12345);
  for (int round = 0; round < 6; ++round) {
    std::string path = dir.str("r" + std::to_string(round) + ".cvpr");
    OpenProject p(path, round % 2 ? 0x10 : 0);
    read_project_id_counters(p.f, g_last_folder_id, g_last_file_serial);
    bool hfsplus = round % 2;
    std::vector<int32_t> folders{1};
    auto pick = [&](size_t n) { return size_t(rng() % n); };
    auto name = [&] {
      std::string s;
      int len = 1 + int(pick(rng() % 4 ? 6 : 90));
      for (int i = 0; i < len; ++i) s += char('a' + pick(4));
      return s;
    };
    for (int step = 0; step < 120; ++step) {
      int op = int(pick(10));
      uint32_t parent = uint32_t(folders[pick(folders.size())]);
      if (op < 3) {
        ProjectRecord r;
        int32_t id = make_folder_record(p.f, r, name(), parent, "/x/", hfsplus);
        ASSERT_GT(id, 0);
        add_folder_counts(p.f, int32_t(parent), 1, 0);
        folders.push_back(id);
      } else if (op < 6) {
        ProjectRecord r = file_record(parent, "");
        set_item_names(r, name(), hfsplus);
        r.pc_name = r.long_name;
        ASSERT_EQ(append_item_record(p.f, r), 0);
        add_folder_counts(p.f, int32_t(parent), 0, 1);
      } else if (op < 8) {
        std::vector<ProjectRecord> v = all_records(p.f);
        if (v.empty()) continue;
        const ProjectRecord& victim = v[pick(v.size())];
        recorded_ui().answers = {1};
        ASSERT_EQ(delete_item(p.f, victim.id, victim.parent_id), victim.id);
        if (victim.id > 0) {
          // Forget every folder that is gone with it.
          std::vector<int32_t> left{1};
          for (const ProjectRecord& r : all_records(p.f))
            if (r.id > 0) left.push_back(r.id);
          folders = left;
        }
      } else if (op < 9) {
        std::vector<ProjectRecord> v = all_records(p.f);
        if (v.empty()) continue;
        const ProjectRecord& item = v[pick(v.size())];
        ASSERT_EQ(rename_item(p.f, item.id, item.parent_id, name(), hfsplus), item.id);
      } else {
        ProjectHeader h;
        ASSERT_TRUE(read_project_header(p.f, h));
        set_header_volume_label(h, name());
        set_header_hfs_volume_name(h, name());
        ASSERT_TRUE(write_project_header(p.f, h));
      }
      write_project_totals(p.f);
      std::vector<std::string> faults = check_project_invariants(p.f);
      ASSERT_TRUE(faults.empty()) << "round " << round << " step " << step << ": " << faults[0];
    }
    EXPECT_EQ(recount_project_totals(p.f), g_total_sectors);
    EXPECT_GT(project_record_count(p.f), 10);
  }
}

// The totals a change writes come from those the stream keeps, not from a walk
// of the file: after every change of a long random sequence (each as one edit,
// some refused and undone, some written by a walk that drops them) they must be
// what a count of the whole file gives, field for field.
TEST(ProjectFile, KeptTotalsAreACountOfTheFileAfterEveryChange) {
  TempDir dir;
  const std::string path = dir.str("t.cvpr");
  ASSERT_EQ(create_project_file(path, 0x10), 0);
  FILE* f = nullptr;
  ASSERT_EQ(open_project_stream(path, "r+b", FileLock::exclusive, false, f), 0);
  ASSERT_EQ(verify_opened_project(f, path.c_str()), 0);
  const uint32_t options = g_edit_options;
  g_edit_options |= k_option_delete_folders_unasked;
  std::mt19937 rng(777);
  auto pick = [&](size_t n) { return size_t(rng() % n); };
  auto name = [&] { return std::string(1, char('a' + pick(3))) + std::string(pick(3), char('a' + pick(3))); };
  auto items = [&] { return all_records(f); };
  auto view = [&] { return int(pick(3)) - 1; };
  auto count_of_file = [&] {
    FILE* g = std::fopen(path.c_str(), "rb");  // a stream that keeps nothing: every record is counted
    ProjectStatistics s;
    (void)compute_project_statistics(g, s);  // the counts are what is compared
    std::fclose(g);
    return s;
  };
  int kept_through = 0;
  for (int step = 0; step < 400; ++step) {
    std::vector<ProjectRecord> v = items();
    std::vector<ProjectRecord> folders{ProjectRecord{}};
    folders[0].id = k_root_folder_id;
    for (const ProjectRecord& r : v)
      if (r.is_folder()) folders.push_back(r);
    const uint32_t parent = uint32_t(folders[pick(folders.size())].id);
    const int op = v.empty() ? 0 : int(pick(10));
    bool accounted = true;
    begin_project_edit(f);
    if (op < 2) {
      ProjectRecord r;
      ASSERT_GT(make_folder_record(f, r, name(), parent, "/x/", true), 0);
      add_folder_counts(f, int32_t(parent), 1, 0);
    } else if (op < 4) {
      // Files of every kind the sector rule tells apart: encoded ones carry their PC size too.
      ProjectRecord r = file_record(parent, name(), uint32_t(pick(9000)));
      r.rsrc_size = uint32_t(pick(2) * pick(5000));
      r.pc_size = uint32_t(pick(20000));
      if (pick(3) == 0) r.attr_flags |= k_attr_macbinary;
      set_iso_view(r, view());
      set_hfs_view(r, view());
      ASSERT_EQ(append_item_record(f, r), 0);
      add_folder_counts(f, int32_t(parent), 0, 1);
    } else if (op == 4) {
      const ProjectRecord& victim = v[pick(v.size())];
      ASSERT_EQ(delete_item(f, victim.id, victim.parent_id), victim.id);
    } else if (op == 5) {
      const ProjectRecord& item = v[pick(v.size())];
      ASSERT_EQ(rename_item(f, item.id, item.parent_id, name(), true), item.id);
    } else if (op == 6) {
      // The properties of one item: its views and sizes changed, its name perhaps.
      ProjectRecord r;
      const ProjectRecord& item = v[pick(v.size())];
      ASSERT_NE(find_item_record(f, r, item.id, item.parent_id), nullptr);
      const long at = long(std::ftell(f) / long(k_project_record_size)) - 1;
      set_iso_view(r, view());
      set_hfs_view(r, view());
      if (!r.is_folder()) r.data_size = uint32_t(pick(70000));
      if (pick(2)) r.long_name = name();
      ASSERT_EQ(replace_record(f, at, r), 0);
    } else if (op == 7) {
      const ProjectRecord& folder = folders[pick(folders.size())];
      if (pick(2)) set_views_recursive(f, uint32_t(folder.id), view(), pick(2) ? view() : k_view_keep);
      else mark_item_and_ancestors_in_views(f, v[pick(v.size())].id, view(), view());
    } else if (op == 8) {
      // A change written by a walk the totals do not follow: they are dropped, and counted again.
      ProjectRecord r;
      const ProjectRecord& item = v[pick(v.size())];
      ASSERT_NE(find_record_by_id(f, r, item.id), nullptr);
      r.pc_size = uint32_t(pick(90000));
      set_iso_view(r, 1);
      ASSERT_TRUE(write_project_record(f, r));
      accounted = false;
    } else {
      // A change refused after writing: every byte and the totals go back.
      const ProjectRecord& victim = v[pick(v.size())];
      ProjectRecord r = file_record(parent, name(), 5000);
      ASSERT_EQ(insert_record(f, r), 0);
      ASSERT_NE(delete_item(f, victim.id, victim.parent_id), 0);
      refuse_project_edit(f);
    }
    ProjectStatistics kept;
    ASSERT_EQ(kept_project_totals(f, kept), accounted) << "step " << step << " op " << op;
    if (accounted) ++kept_through;
    if (op != 9) write_project_totals(f);
    ASSERT_EQ(end_project_edit(f, 0), op == 9 ? -1 : 0);

    ASSERT_TRUE(kept_project_totals(f, kept));
    const ProjectStatistics counted = count_of_file();
    const std::string at = "step " + std::to_string(step) + " op " + std::to_string(op);
    EXPECT_EQ(kept.files, counted.files) << at;
    EXPECT_EQ(kept.iso_files, counted.iso_files) << at;
    EXPECT_EQ(kept.hfs_files, counted.hfs_files) << at;
    EXPECT_EQ(kept.folders, counted.folders) << at;
    EXPECT_EQ(kept.iso_folders, counted.iso_folders) << at;
    EXPECT_EQ(kept.hfs_folders, counted.hfs_folders) << at;
    EXPECT_EQ(kept.data_sectors, counted.data_sectors) << at;
    ASSERT_EQ(kept.all_sectors, counted.all_sectors) << at;
    ProjectHeader h;
    ASSERT_TRUE(read_project_header(f, h));
    if (op != 9) {
      EXPECT_EQ(h.total_sectors, counted.all_sectors) << at;
      EXPECT_EQ(h.iso_item_count, counted.iso_files + counted.iso_folders) << at;
      EXPECT_EQ(h.hfs_item_count, counted.hfs_files + counted.hfs_folders) << at;
    }
    std::vector<std::string> faults = check_project_invariants(f);
    ASSERT_TRUE(faults.empty()) << at << ": " << faults[0];
  }
  EXPECT_GT(kept_through, 300);
  // The walk leaves a project of some size whichever order a compiler draws
  // the arguments of one call in (gcc and clang draw them apart).
  EXPECT_GT(project_record_count(f), 15);
  g_edit_options = options;
  EXPECT_EQ(close_project_stream(f), 0);
}

TEST(ProjectFile, NameRulesShortenKeepingShortExtensions) {
  std::string base(58, 'n');
  EXPECT_EQ(shorten_name(base + ".abcd", 62), std::string(57, 'n') + ".abcd");
  EXPECT_EQ(shorten_name(std::string(56, 'n') + ".abcdef", 62), std::string(56, 'n') + ".abcde");
  EXPECT_EQ(shorten_name("short.txt", 62), "short.txt");

  bool saved = g_auto_truncate_hfs;
  g_auto_truncate_hfs = true;
  g_auto_truncate_iso = true;
  ProjectRecord r;
  set_hfs_view(r, 1);
  g_working_mode = k_mode_project;
  set_item_names(r, std::string(31, 'h'), false);
  EXPECT_EQ(r.hfs_name, std::string(31, 'h'));
  set_item_names(r, std::string(28, 'h') + ".txt", false);
  EXPECT_EQ(r.hfs_name, std::string(27, 'h') + ".txt");

  // Shortening off and the console asks no one: the field keeps what it had.
  g_auto_truncate_hfs = false;
  set_item_names(r, std::string(40, 'x'), false);
  EXPECT_EQ(r.hfs_name, std::string(27, 'h') + ".txt");
  EXPECT_EQ(hfs_view(r), 1);

  // A cancelled name dialog: "~" and the item leaves that view.
  g_ask_long_name = [](std::string&, size_t) { return false; };
  set_item_names(r, std::string(40, 'x'), false);
  EXPECT_EQ(r.hfs_name, "~");
  EXPECT_EQ(hfs_view(r), 0);
  g_ask_long_name = nullptr;

  set_hfs_view(r, 1);
  // The HFS limit counts Mac Roman bytes, not UTF-8 bytes.
  std::string accents;
  for (int i = 0; i < 20; ++i) accents += "\xC3\xA9";
  set_item_names(r, accents, false);
  EXPECT_EQ(r.hfs_name, std::string(20, '\x8E'));
  set_item_names(r, accents, true);
  EXPECT_EQ(r.hfs_name, accents) << "an HFS+ name stays UTF-8";

  g_auto_truncate_hfs = saved;
}

TEST(ProjectFile, SearchPatternsAreGlobs) {
  EXPECT_TRUE(match_name_pattern("Report.TXT", "report.txt"));
  EXPECT_FALSE(match_name_pattern("Report.TXT", "report"));  // no star: the whole name
  EXPECT_FALSE(match_name_pattern("Rep", "report"));
  EXPECT_TRUE(match_name_pattern("my report", "*port"));
  EXPECT_FALSE(match_name_pattern("my report.txt", "*port"));  // the tail ends the name
  EXPECT_TRUE(match_name_pattern("report-2024.txt", "rep*.txt"));
  EXPECT_FALSE(match_name_pattern("xreport.txt", "rep*.txt"));
  EXPECT_TRUE(match_name_pattern("Été été", "*É*É*"));
  EXPECT_TRUE(match_name_pattern("aXbXc", "a*b*c"));
  EXPECT_FALSE(match_name_pattern("ab", "a*b*b"));  // parts never overlap
  EXPECT_TRUE(match_name_pattern("", "*"));
  EXPECT_TRUE(match_name_pattern("a*b", "a*b"));
}

TEST(ProjectFile, SourcePrefixIsReplacedOnlyAtTheStart) {
  TempDir dir;
  OpenProject p(dir.str("a.cvpr"));
  ProjectRecord a = file_record(1, "a");
  a.pc_folder = "/data/x/";
  ProjectRecord b = file_record(1, "b");
  b.pc_folder = "/home/u/data/x/";
  ProjectRecord folder;
  folder.parent_id = 1;
  folder.id = 18;
  folder.pc_folder = "/";
  folder.pc_name = "data";
  folder.long_name = "data";
  ASSERT_EQ(insert_record(p.f, a), 0);
  ASSERT_EQ(insert_record(p.f, b), 0);
  ASSERT_EQ(insert_record(p.f, folder), 0);
  EXPECT_EQ(replace_source_path_prefix(p.f, "/data/", "/mnt/new/"), 1);
  std::vector<ProjectRecord> v = all_records(p.f);
  EXPECT_EQ(v[0].pc_folder, "/mnt/new/x/");
  EXPECT_EQ(v[1].pc_folder, "/home/u/data/x/");
  EXPECT_EQ(v[2].pc_folder, "/mnt/");
  EXPECT_EQ(v[2].pc_name, "new");
}

TEST(ProjectFile, ManyHfsItemsSwitchTheTargetToHfsPlus) {
  TempDir dir;
  OpenProject p(dir.str("big.cvpr"));
  std::fseek(p.f, 0, SEEK_END);
  ProjectRecord r = file_record(1, "f");
  for (int i = 0; i < 65536; ++i) {
    r.id = -(i + 1);
    ASSERT_TRUE(write_project_record(p.f, r));
  }
  std::fflush(p.f);
  ProjectStatistics s;
  EXPECT_EQ(compute_project_statistics(p.f, s), 1);
  EXPECT_EQ(s.hfs_files, 65536u);
  EXPECT_EQ(get_project_hfs_format(p.f), 1);
}

TEST(ProjectFile, BackupIsAByteCopy) {
  TempDir dir;
  std::string path = dir.str("a.cvpr"), backup;
  ASSERT_EQ(create_project_file(path, 0), 0);
  ASSERT_EQ(make_project_backup(path, backup), 0);
  EXPECT_EQ(backup, path + ".bak");
  EXPECT_EQ(testkit::read_file(backup), testkit::read_file(path));
  EXPECT_EQ(make_project_backup(dir.str("missing.cvpr"), backup), -1);
}

namespace {

// A small sound project: folders a (18) and b (19, inside a), files in both.
void fill_sound_project(FILE* f) {
  read_project_id_counters(f, g_last_folder_id, g_last_file_serial);
  ProjectRecord a, b;
  ASSERT_NE(make_folder_record(f, a, "a", 1, "/x/", true), 0);
  add_folder_counts(f, 1, 1, 0);
  ASSERT_NE(make_folder_record(f, b, "b", 18, "/x/a/", true), 0);
  add_folder_counts(f, 18, 1, 0);
  for (const char* n : {"m", "c", "x"}) {
    ASSERT_EQ(insert_record(f, file_record(18, n)), 0);
    add_folder_counts(f, 18, 0, 1);
  }
  ASSERT_EQ(insert_record(f, file_record(19, "q")), 0);
  add_folder_counts(f, 19, 0, 1);
  write_project_totals(f);
}

std::vector<uint8_t> bytes_of(FILE* f) {
  std::fflush(f);
  std::vector<uint8_t> b(size_t(project_record_count(f)) * k_project_record_size);
  if (!b.empty()) { EXPECT_EQ(::pread(fileno(f), b.data(), b.size(), 0), ssize_t(b.size())); }
  return b;
}

}  // namespace

TEST(ProjectFile, FailedEditPutsBackEveryByteAndTheCounters) {
  TempDir dir;
  OpenProject p(dir.str("a.cvpr"));
  fill_sound_project(p.f);
  const std::vector<uint8_t> before = bytes_of(p.f);
  const uint32_t serial = g_last_file_serial;

  // Inserts inside the first runs (moving everything behind them), a rename, a
  // delete that cuts the file, count and header changes: then a refusal.
  begin_project_edit(p.f);
  ASSERT_EQ(insert_record(p.f, file_record(18, "d")), 0);
  ASSERT_EQ(insert_record(p.f, file_record(1, "top")), 0);
  ASSERT_EQ(rename_item(p.f, -1, 18, "zz", true), -1);
  ASSERT_NE(delete_item(p.f, -4, 19), 0);
  add_folder_counts(p.f, 18, 0, 1);
  write_project_totals(p.f);
  EXPECT_NE(bytes_of(p.f), before);
  refuse_project_edit(p.f);
  EXPECT_TRUE(project_edit_failed(p.f));
  EXPECT_EQ(end_project_edit(p.f, 0), -1);
  EXPECT_EQ(bytes_of(p.f), before);
  EXPECT_EQ(g_last_file_serial, serial);
  expect_sound(p.f);

  // An edit that goes through keeps its changes.
  begin_project_edit(p.f);
  ASSERT_EQ(insert_record(p.f, file_record(19, "r")), 0);
  add_folder_counts(p.f, 19, 0, 1);
  write_project_totals(p.f);
  EXPECT_EQ(end_project_edit(p.f, 0), 0);
  EXPECT_EQ(project_record_count(p.f), long(before.size() / k_project_record_size) + 1);
  expect_sound(p.f);
}

TEST(ProjectFile, WriteThatFindsNoRoomUndoesTheEdit) {
  TempDir dir;
  OpenProject p(dir.str("a.cvpr"));
  fill_sound_project(p.f);
  const std::vector<uint8_t> before = bytes_of(p.f);
  recorded_ui().clear();

  // Writes past the project's length fail as on a full disk.
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit tight = {rlim_t(before.size()), old.rlim_max};
  begin_project_edit(p.f);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
  int first = insert_record(p.f, file_record(18, "b2"));  // grows the file: refused
  add_folder_counts(p.f, 18, 0, 1);                       // rewrites in place: fits
  int result = end_project_edit(p.f, 0);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_EQ(first, -1);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(bytes_of(p.f), before);
  ASSERT_EQ(recorded_ui().messages.size(), 1u);
  EXPECT_EQ(recorded_ui().messages[0], ui_text(4705));
}

TEST(ProjectFile, IdsEndAtTheSignedRangeAndOpeningRaisesLowCounters) {
  TempDir dir;
  OpenProject p(dir.str("a.cvpr"));
  fill_sound_project(p.f);
  recorded_ui().clear();
  begin_project_edit(p.f);
  g_last_file_serial = 0x7FFFFFFE;
  EXPECT_EQ(next_file_id(), -0x7FFFFFFF);
  EXPECT_EQ(next_file_id(), 0);
  EXPECT_EQ(g_last_file_serial, 0x7FFFFFFFu);
  g_last_folder_id = 0xFFFFFFFF;
  EXPECT_EQ(next_folder_id("f"), 0);
  EXPECT_EQ(next_folder_id(k_background_folder_name), k_background_folder_id);
  EXPECT_TRUE(project_edit_failed(p.f));
  EXPECT_EQ(end_project_edit(p.f, 0), -1);
  EXPECT_EQ(recorded_ui().messages.size(), 2u);

  // Counters below the ids present come up to them when the project is opened.
  ProjectHeader h;
  ASSERT_TRUE(read_project_header(p.f, h));
  h.last_folder_id = 0;
  h.last_file_serial = 1;
  ASSERT_TRUE(write_project_header(p.f, h));
  EXPECT_EQ(check_project_invariants(p.f).size(), 2u);
  ASSERT_EQ(verify_opened_project(p.f, "a.cvpr"), 0);
  EXPECT_EQ(g_last_folder_id, 19u);
  EXPECT_EQ(g_last_file_serial, 4u);
}

TEST(ProjectFile, ScanNamesParentLoopsAndLeavesSoundProjectsAlone) {
  TempDir dir;
  OpenProject p(dir.str("a.cvpr"));
  fill_sound_project(p.f);
  EXPECT_TRUE(scan_project_file(p.f).faults.empty());
  recorded_ui().clear();
  // Folder a (18) moved under its own child b (19): both drop out of the tree.
  ProjectRecord a;
  ASSERT_TRUE(find_record_by_id(p.f, a, 18));
  a.parent_id = 19;
  ASSERT_TRUE(write_project_record(p.f, a));
  std::fflush(p.f);
  ProjectScan scan = scan_project_file(p.f);
  bool loop = false;
  for (const std::string& s : scan.faults) loop = loop || s.find("parent loop") != std::string::npos;
  EXPECT_TRUE(loop);
  EXPECT_EQ(verify_opened_project(p.f, "a.cvpr"), -1);
  ASSERT_EQ(recorded_ui().messages.size(), 1u);
  EXPECT_EQ(recorded_ui().messages[0], damaged_project_text(scan, "a.cvpr"));
}

// A damaged project is told in a few lines whatever its faults: one sentence
// by the first fault, how many there are, the first three in words, in the
// language shown.
TEST(ProjectFile, DamagedProjectIsToldInASentenceAndItsFirstFaults) {
  TempDir dir;
  OpenProject p(dir.str("a.cvpr"));
  fill_sound_project(p.f);
  // Every folder's counts wrong: one fault a folder.
  ProjectRecord r;
  for (int32_t id : {18, 19}) {
    ASSERT_TRUE(find_record_by_id(p.f, r, id));
    r.subfolder_count() += 5;
    ASSERT_TRUE(write_project_record(p.f, r));
  }
  std::fflush(p.f);
  ProjectScan scan = scan_project_file(p.f);
  ASSERT_EQ(scan.fault_count, 2u);
  std::string text = damaged_project_text(scan, "/x/a.cvpr");
  EXPECT_EQ(text.rfind(format_text(ui_text(6778).c_str(), "/x/a.cvpr", ui_text(6788).c_str()), 0), 0u) << text;
  EXPECT_NE(text.find(format_text(ui_text(6779).c_str(), 2u)), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 + 2 + 2) << text;  // the frame's, a blank line, two faults
  EXPECT_EQ(text.find(scan.faults[0]), std::string::npos) << "no internal wording: " << text;
  // Many faults: three are told, then the count says the rest.
  for (int i = 0; i < 40; ++i) scan.listed.push_back(ProjectFault(ProjectFaultKind::loop, {100 + i}, "f"));
  scan.fault_count = 42;
  text = damaged_project_text(scan, "/x/a.cvpr");
  EXPECT_NE(text.find(format_text(ui_text(6779).c_str(), 42u)), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 + 2 + 3 + 1) << text;  // three faults and "..."
  int saved = g_language_offset;
  g_language_offset = 10000;
  text = damaged_project_text(scan, "/x/a.cvpr");
  g_language_offset = saved;
  EXPECT_EQ(text.rfind("Le projet", 0), 0u) << text;
  // A file that is no project at all.
  ProjectScan header;
  header.listed.push_back(ProjectFault(ProjectFaultKind::header));
  header.fault_count = 1;
  EXPECT_NE(damaged_project_text(header, "p").find(ui_text(6796)), std::string::npos);
  EXPECT_NE(damaged_project_text(header, "p").find(ui_text(6780)), std::string::npos);
}
