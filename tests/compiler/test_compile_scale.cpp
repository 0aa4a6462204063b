// Compiled HFS and HFS+ catalogs large enough to need map nodes, listed in full by
// hfsutils (HFS), sleuthkit and 7-Zip (HFS+), and checked by our own volume checker.
#include <gtest/gtest.h>

#include <filesystem>

#include "compile_fixture.h"
#include "compiler/commands.h"
#include "hfs/volume_fixture.h"
#include "support/recording_ui.h"
#include "support/testkit.h"

using namespace testkit;

TEST(CompileScale, LargeHfsCatalogsMountAndListInHfsutils) {
  REQUIRE_TOOL("hls");
  recorded_ui();
  for (int items : {5000, 20000, 60000}) {
    if (testkit::k_sanitized && items > 5000) break;
    TempDir dir;
    write_file(dir.path() / "empty", {});
    std::string project = dir.str("big.cvpr");
    ASSERT_EQ(compile_fixture::make_wide_project(project, dir.str("empty"), items), items);
    ASSERT_EQ(cli_compile_hybrid(project.c_str()), 0) << items;
    std::string img = dir.str("big.iso");
    std::set<std::string> listed = testvol::hfs_listing(img);
    EXPECT_EQ(listed.size(), size_t(items)) << items;
    int folders = (items + 100) / 101, last = items - folders - 1;
    EXPECT_EQ(listed.count(":folder " + std::to_string(last % folders) + ":item number " + std::to_string(last)), 1u);
    ASSERT_EQ(testvol::open_volume(img, false, true), 0) << items;
    testvol::expect_sound(std::to_string(items) + " items");
    testvol::close_volume();
  }
}

// The same on HFS+, listed by sleuthkit and 7-Zip.
TEST(CompileScale, LargeHfsPlusCatalogsListInSleuthkitAnd7Zip) {
  REQUIRE_TOOL("fls");
  REQUIRE_TOOL("7zz");
  recorded_ui();
  for (int items : {5000, 60000}) {
    if (testkit::k_sanitized && items > 5000) break;
    TempDir dir;
    write_file(dir.path() / "one", {1});
    std::string project = dir.str("big.cvpr");
    ASSERT_EQ(compile_fixture::make_wide_project(project, dir.str("one"), items, true), items);
    ASSERT_EQ(cli_compile_hybrid(project.c_str()), 0) << items;
    std::string img = dir.str("big.iso");
    RunResult mm = run("mmls -t mac -b 2048 " + quote(img) + " | awk '/Apple_HFS/ {print $3 * 4}'");
    std::string offset = mm.out.substr(0, mm.out.find('\n'));
    RunResult f = run("fls -f hfsp -r -p -o " + offset + " " + quote(img) + " | grep -v '\\$' | grep -c '^[rd]/[rd]'");
    EXPECT_EQ(std::stoi(f.out), items) << f.err;
    int folders = (items + 100) / 101, last = items - folders - 1;
    std::string last_path = "folder " + std::to_string(last % folders) + "/item number " + std::to_string(last);
    RunResult one = run("fls -f hfsp -r -p -o " + offset + " " + quote(img) + " | grep -c " + quote("\t" + last_path + "$"));
    EXPECT_EQ(one.out, "1\n") << last_path;
    RunResult st = run("fsstat -f hfsp -o " + offset + " " + quote(img));
    EXPECT_NE(st.out.find("Number of files: " + std::to_string(items - folders)), std::string::npos) << st.out;
    // 7-Zip finds a volume only near the start of an image: its partition, taken
    // out by 7-Zip's own partition-map reader, is tested whole.
    std::string part = dir.str("part.hfs");
    RunResult e = run("7zz e -tAPM -so " + quote(img) + " '*.hfs' >" + quote(part));
    ASSERT_EQ(e.rc, 0) << e.err;
    RunResult z = run("7zz t -tHFS " + quote(part));
    EXPECT_NE(z.out.find("Everything is Ok"), std::string::npos) << z.out << z.err;
    EXPECT_NE(z.out.find("Files: " + std::to_string(items - folders) + "\n"), std::string::npos) << z.out;
    EXPECT_NE(z.out.find("Folders: " + std::to_string(folders + 1) + "\n"), std::string::npos) << z.out;
    ASSERT_EQ(testvol::open_volume(img, true, true), 0) << items;
    testvol::expect_sound(std::to_string(items) + " items");
    testvol::close_volume();
  }
}
