// Signature searches of a project and the write-back of the property dialog.
#include <gtest/gtest.h>

#include <cstring>

#include "compiler/projectsearch.h"
#include "macfiles/signatures.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using testkit::TempDir;

namespace {

struct Project {
  TempDir dir;
  FILE* f = nullptr;
  Project() {
    EXPECT_EQ(create_project_file(dir.str("p.cvpr"), 0), 0);
    f = std::fopen(dir.str("p.cvpr").c_str(), "r+b");
  }
  ~Project() {
    if (f) std::fclose(f);
  }
};

ProjectRecord item(uint32_t parent, const std::string& name, const char* signature, bool folder = false) {
  ProjectRecord r;
  r.parent_id = parent;
  r.id = folder ? int32_t(next_folder_id(name)) : next_file_id();
  r.pc_folder = "/src/";
  r.pc_name = r.long_name = r.hfs_name = name;
  std::memcpy(r.type_creator, signature, 8);
  set_iso_view(r, 1);
  set_hfs_view(r, 1);
  return r;
}

std::vector<ProjectRecord> records(FILE* f) {
  std::vector<ProjectRecord> v;
  std::fseek(f, long(k_project_record_size), SEEK_SET);
  ProjectRecord r;
  while (read_project_record(f, r)) v.push_back(r);
  return v;
}

}  // namespace

TEST(ProjectSearch, SignaturePatternsMatchTypeOrCreatorPrefixes) {
  EXPECT_EQ(signature_mismatch("TEXT", "TEXTttxt"), 0);
  EXPECT_EQ(signature_mismatch("TEXT", "APPLTEXT"), 0);   // a creator equal to the pattern
  EXPECT_EQ(signature_mismatch("TEXTtt", "TEXTttxt"), 0);
  EXPECT_NE(signature_mismatch("TEXTtt", "TEXTR*ch"), 0);
  EXPECT_NE(signature_mismatch("TEXTtt", "APPLTEXT"), 0);  // over 4: type and creator's start only
  EXPECT_EQ(signature_mismatch("", "APPLMACS"), 0);
  EXPECT_NE(signature_mismatch("text", "TEXTttxt"), 0);    // case counts
  EXPECT_EQ(signature_mismatch("TEXTttxt", "TEXTttxt"), 0);
  EXPECT_NE(signature_mismatch("TEXTttxtX", "TEXTttxt"), 0);
}

TEST(ProjectSearch, SignatureSearchTakesFilesOnlyAndStopsAt128Hits) {
  Project p;
  ASSERT_NE(p.f, nullptr);
  ProjectRecord folder = item(1, "Docs", "TEXTttxt", true);
  ASSERT_EQ(insert_record(p.f, folder), 0);
  ASSERT_EQ(insert_record(p.f, item(uint32_t(folder.id), "a.txt", "TEXTttxt")), 0);
  ASSERT_EQ(insert_record(p.f, item(1, "b.app", "APPLTEXT")), 0);
  ASSERT_EQ(insert_record(p.f, item(1, "c.pict", "PICTttxt")), 0);
  std::vector<ProjectSearchHit> hits;
  EXPECT_EQ(search_project_by_signature(p.f, "TEXT", hits), 2);
  std::vector<std::string> names;
  for (const ProjectSearchHit& h : hits) names.push_back(h.pc_name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.app"}));
  for (const ProjectSearchHit& h : hits)
    EXPECT_EQ(h.parent_id, h.pc_name == "a.txt" ? uint32_t(folder.id) : 1u);
  EXPECT_EQ(search_isoplus_project_by_signature(p.f, "", hits), 3);  // every file, no folder
  EXPECT_EQ(search_project_by_signature(p.f, "MooV", hits), 0);
  for (int i = 0; i < 140; ++i) ASSERT_EQ(insert_record(p.f, item(1, "f" + std::to_string(i), "TEXTttxt")), 0);
  EXPECT_EQ(search_project_by_signature(p.f, "TEXT", hits), int(k_max_search_hits));
}

TEST(ProjectSearch, PropertyEditsAreWrittenBackWithTheirIds) {
  Project p;
  ASSERT_NE(p.f, nullptr);
  for (const char* n : {"alpha", "delta", "kappa"}) ASSERT_EQ(insert_record(p.f, item(1, n, "TEXTttxt")), 0);
  const int32_t delta_id = records(p.f)[1].id;
  recorded_ui().clear();
  // Cancelled, and a missing item: nothing written.
  EXPECT_EQ(edit_item_properties(p.f, delta_id, 1), 0);
  recorded_ui().item_dialog = [](ProjectRecord& r, bool) {
    std::memcpy(r.type_creator, "APPLMACS", 8);
    r.id = 999;  // the dialog never changes ids
    return 1;
  };
  EXPECT_EQ(edit_item_properties(p.f, -12345, 1), 0);
  EXPECT_EQ(edit_item_properties(p.f, delta_id, 7), 0);  // not a child of 7
  // A signature: rewritten in place.
  EXPECT_EQ(edit_item_properties(p.f, delta_id, 1), 1);
  std::vector<ProjectRecord> v = records(p.f);
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(v[1].id, delta_id);
  EXPECT_EQ(v[1].parent_id, 1u);
  EXPECT_EQ(std::string(v[1].type_creator, 8), "APPLMACS");
  // A new ISO name: moved to where it sorts, id kept, the run still sorted.
  bool isoplus = true;
  recorded_ui().item_dialog = [&](ProjectRecord& r, bool plus) {
    isoplus = plus;
    r.long_name = "zeta";
    set_hfs_view(r, 0);
    return -1;
  };
  EXPECT_EQ(edit_item_properties(p.f, delta_id, 1), 2);
  EXPECT_FALSE(isoplus);
  v = records(p.f);
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(v[0].long_name, "alpha");
  EXPECT_EQ(v[1].long_name, "kappa");
  EXPECT_EQ(v[2].long_name, "zeta");
  EXPECT_EQ(v[2].id, delta_id);
  EXPECT_EQ(hfs_view(v[2]), 0);
  write_project_totals(p.f);  // the counters, as a save writes them
  for (const std::string& fault : check_project_invariants(p.f)) ADD_FAILURE() << fault;
  recorded_ui().item_dialog = nullptr;
}
