// "quorvel -h" on a source whose volume header is sound but whose catalog and
// bitmap are zeros: refused with its line, the ISO image left as it was; the
// same volume whole docks, and hfsutils reads it in the result.
#include <gtest/gtest.h>

#include "IO/uitext.h"
#include "support/testkit.h"

using testkit::quote;
using testkit::TempDir;

namespace {
const std::string k_quorvel = QUORVEL_PATH;
}  // namespace

TEST(QuorvelDocking, ASourceWithZeroedTreesIsRefusedAndSaysWhy) {
  REQUIRE_TOOL("genisoimage");
  REQUIRE_TOOL("hformat");
  TempDir dir;
  std::filesystem::create_directories(dir.str("tree"));
  testkit::write_text(dir.str("tree/a.txt"), "a\n");
  testkit::write_text(dir.str("inside.txt"), "on the Mac side\n");
  std::string iso = quote(dir.str("cd.iso")), hfs = quote(dir.str("vol.hfs")), hollow = quote(dir.str("hollow.hfs"));
  ASSERT_EQ(testkit::run("genisoimage -quiet -o " + iso + " " + quote(dir.str("tree")) + " && truncate -s 2M " + hfs +
                         " && hformat -l Vol " + hfs + " >/dev/null && hmount " + hfs + " >/dev/null && hcopy -r " +
                         quote(dir.str("inside.txt")) + " : && humount >/dev/null && cp " + iso + " " +
                         quote(dir.str("orig.iso")))
                .rc,
            0);
  // The MDB (sector 2) kept, everything from the bitmap on up to the alternate MDB zeroed.
  std::vector<uint8_t> bytes = testkit::read_file(dir.path() / "vol.hfs");
  std::fill(bytes.begin() + 1536, bytes.end() - 1024, 0);
  testkit::write_file(dir.path() / "hollow.hfs", bytes);
  testkit::RunResult r = testkit::run(quote(k_quorvel) + " -h " + hollow + " " + iso);
  EXPECT_EQ(r.rc, 256 - 8);
  EXPECT_NE(r.err.find(ui_text(6604).substr(0, 40)), std::string::npos) << r.err;
  EXPECT_EQ(testkit::run("cmp " + iso + " " + quote(dir.str("orig.iso"))).rc, 0);

  EXPECT_EQ(testkit::run(quote(k_quorvel) + " -h " + hfs + " " + iso).rc, 1);
  testkit::RunResult h = testkit::run("hmount " + iso + " >/dev/null && hcopy -r :inside.txt -; rc=$?; humount >/dev/null; exit $rc");
  EXPECT_EQ(h.rc, 0) << h.err;
  EXPECT_EQ(h.out, "on the Mac side\n");
}
