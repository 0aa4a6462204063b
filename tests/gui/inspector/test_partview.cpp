// MBR, boot sector and GPT decoders, judged by mmls, fsstat, file and sgdisk on
// images sfdisk, mkfs.fat, mkntfs and sgdisk made.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>

#include "IO/uitext.h"
#include "gui/inspector/decoders.h"
#include "gui/inspector/image_fixture.h"
#include "gui/inspector/sectorkind.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

// "Key: value" of a tool's report (the first match), trailing blanks cut.
std::string report_value(const std::string& text, const std::string& key) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) {
      std::string v = line.substr(key.size());
      while (!v.empty() && v.back() == ' ') v.pop_back();
      return v;
    }
  return "?";
}

// "A - B" ranges of fsstat.
int64_t range_start(const std::string& v) { return std::stoll(v.substr(0, v.find(' '))); }

std::string file_field(const std::string& text, const std::string& re) {
  std::smatch m;
  return std::regex_search(text, m, std::regex(re)) ? std::string(m[1]) : "?";
}

TEST(PcStructures, MbrAndFat16AgreeWithMmlsFsstatAndFile) {
  REQUIRE_TOOL("sfdisk");
  REQUIRE_TOOL("mkfs.fat");
  REQUIRE_TOOL("mmls");
  TempDir tmp;
  std::string img_path = tmp.str("m.img");
  ASSERT_EQ(run("truncate -s 32M " + quote(img_path)).rc, 0);
  ASSERT_EQ(run("printf 'label: dos\\nstart=2048, size=32768, type=6\\nstart=34816, size=8192, type=af\\n"
                "start=43008, size=2048, type=83\\n' | sfdisk -q " + quote(img_path)).rc, 0);
  ASSERT_EQ(run("mkfs.fat -F 16 --offset 2048 -n LABEL16 " + quote(img_path) + " 16384 2>/dev/null").rc, 0);
  ImageFixture img(read_file(img_path));

  InspectorContext ctx = img.ctx;
  ASSERT_EQ(identify_sector(img.sector(0), 0, ctx), k_kind_mbr);
  StructureView mbr = decode_sector(k_kind_mbr, 3, img.sector(0), 0, ctx, img.read);
  EXPECT_EQ(field_value(mbr, 3713), "0xAA55");
  std::string mm = run("mmls -t dos " + quote(img_path)).out;
  std::regex row(R"(^\d+:\s+000:\d+\s+(\d+)\s+\d+\s+(\d+)\s+.*$)");
  std::istringstream in(mm);
  std::string line;
  size_t i = 0;
  while (std::getline(in, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, row)) continue;
    ASSERT_LT(i, mbr.rows.size());
    uint64_t start = std::stoull(m[1]), length = std::stoull(m[2]);
    EXPECT_EQ(mbr.rows[i].cells[1], std::to_string(start));
    char len[40];
    std::snprintf(len, sizeof len, "%llu (0x%llx)", (unsigned long long)length, (unsigned long long)length);
    EXPECT_EQ(mbr.rows[i].cells[2], len);
    EXPECT_EQ(mbr.rows[i].go_sector, int64_t(start));
    ++i;
  }
  EXPECT_EQ(i, 3u);
  ASSERT_EQ(mbr.rows.size(), 3u);
  EXPECT_EQ(mbr.rows[0].cells[0], ui_text(3735));
  EXPECT_EQ(mbr.rows[1].cells[0], ui_text(3740));
  EXPECT_EQ(mbr.rows[2].cells[0], "???? (0x83)");

  // The FAT16 boot sector of the first partition.
  ASSERT_EQ(identify_sector(img.sector(2048), 2048, ctx), k_kind_boot_sector);
  StructureView b = decode_sector(k_kind_boot_sector, 3, img.sector(2048), 2048, ctx, img.read);
  std::string fss = run("fsstat -o 2048 " + quote(img_path)).out;
  std::string fil = run("dd if=" + quote(img_path) + " bs=512 skip=2048 count=1 2>/dev/null | file -").out;
  int64_t root = range_start(report_value(fss, "** Root Directory: "));
  EXPECT_EQ(field_value(b, 3752), std::to_string(2048 + root));
  EXPECT_EQ(go_sector(b, 3752), 2048 + root);
  EXPECT_EQ(field_value(b, 3748), file_field(fil, R"(, sectors (\d+))"));
  EXPECT_EQ(field_value(b, 3751), file_field(fil, R"(sectors/FAT (\d+))"));
  // fsstat drops the serial's leading zeros: compare the numbers.
  EXPECT_EQ(std::stoul(field_value(b, 3753)), std::stoul(report_value(fss, "Volume ID: "), nullptr, 16));
  EXPECT_EQ(field_value(b, 3754), "LABEL16");
  EXPECT_EQ(field_value(b, 3755), report_value(fss, "File System Type Label: "));
  EXPECT_EQ(field_value(b, 3756), report_value(fss, "OEM Name: "));
  EXPECT_EQ(field_value(b, 3757), file_field(fil, R"(sectors/cluster (\d+))"));
  EXPECT_EQ(field_value(b, 3759), file_field(fil, R"(root entries (\d+))"));
  EXPECT_EQ(field_value(b, 3760), file_field(fil, R"(Media descriptor (0x[0-9a-f]+))"));
  EXPECT_EQ(field_value(b, 3761), file_field(fil, R"(heads (\d+))"));
  EXPECT_EQ(field_value(b, 3762), file_field(fil, R"(sectors/track (\d+))"));
  EXPECT_EQ(b.fields.size(), 16u);
}

TEST(PcStructures, Fat12AndFat32BootSectorsAgreeWithFsstat) {
  REQUIRE_TOOL("mkfs.fat");
  REQUIRE_TOOL("fsstat");
  TempDir tmp;
  for (int bits : {12, 32}) {
    SCOPED_TRACE(bits);
    std::string path = tmp.str("f" + std::to_string(bits) + ".img");
    ASSERT_EQ(run("truncate -s " + std::string(bits == 12 ? "1440K " : "40M ") + quote(path) + " && mkfs.fat -F " +
                  std::to_string(bits) + " -n VOL" + std::to_string(bits) + " " + quote(path) + " >/dev/null").rc, 0);
    ImageFixture img(read_file(path));
    InspectorContext ctx = img.ctx;
    ASSERT_EQ(identify_sector(img.sector(0), 0, ctx), k_kind_boot_sector);
    StructureView b = decode_boot_sector_view(img.sector(0), 0, img.ctx, img.read);
    std::string fss = run("fsstat " + quote(path)).out;
    std::string root = report_value(fss, bits == 12 ? "** Root Directory: " : "*** Root Directory: ");
    EXPECT_EQ(field_value(b, 3752), std::to_string(range_start(root)));
    EXPECT_EQ(field_value(b, 3754), "VOL" + std::to_string(bits));
    EXPECT_EQ(field_value(b, 3755), "FAT" + std::to_string(bits));
    std::string total = report_value(fss, "Total Range: ");
    EXPECT_EQ(field_value(b, 3748), std::to_string(std::stoll(total.substr(total.rfind(' ') + 1)) + 1));
    // fsstat drops the serial's leading zeros: compare the numbers.
    EXPECT_EQ(std::stoul(field_value(b, 3753)), std::stoul(report_value(fss, "Volume ID: "), nullptr, 16));
  }
}

TEST(PcStructures, NtfsBootSectorAgreesWithFsstat) {
  REQUIRE_TOOL("mkntfs");
  REQUIRE_TOOL("fsstat");
  TempDir tmp;
  std::string path = tmp.str("n.img");
  ASSERT_EQ(run("truncate -s 16M " + quote(path) + " && mkntfs -F -q -f " + quote(path) + " >/dev/null 2>&1").rc, 0);
  ImageFixture img(read_file(path));
  InspectorContext ctx = img.ctx;
  ASSERT_EQ(identify_sector(img.sector(0), 0, ctx), k_kind_boot_sector);
  StructureView b = decode_boot_sector_view(img.sector(0), 0, img.ctx, img.read);
  std::string fss = run("fsstat " + quote(path)).out;
  // The master file table's sector: its cluster times the sectors per cluster.
  int64_t mft = std::stoll(report_value(fss, "First Cluster of MFT: ")) *
                (std::stoll(report_value(fss, "Cluster Size: ")) / 512);
  EXPECT_EQ(field_value(b, 3752), std::to_string(mft));
  EXPECT_EQ(go_sector(b, 3752), mft);
  EXPECT_EQ(field_value(b, 3751), "0");
  EXPECT_EQ(field_value(b, 3754), "");
  // fsstat pads the serial number to 16 digits; the viewer shows it unpadded.
  EXPECT_EQ(std::stoull(field_value(b, 3753), nullptr, 16),
            std::stoull(report_value(fss, "Volume Serial Number: "), nullptr, 16));
  std::string range = report_value(fss, "Total Sector Range: ");
  EXPECT_EQ(field_value(b, 3748), std::to_string(std::stoll(range.substr(range.rfind(' ') + 1)) + 1));
  EXPECT_EQ(field_value(b, 3755), "NTFS");
}

// GPT header and entries against sgdisk -p and -i, with Apple types named.
TEST(GuidPartitionTable, HeaderAndEntriesAgreeWithSgdisk) {
  REQUIRE_TOOL("sgdisk");
  TempDir tmp;
  std::string path = tmp.str("g.img");
  ASSERT_EQ(run("truncate -s 20M " + quote(path) + " && sgdisk -n 1:2048:+4M -t 1:AF00 -c 1:'Mac HD' "
                "-n 2:0:+2M -t 2:EF00 -c 2:'EFI sys' -n 3:0:+1M -t 3:8300 -n 4:0:+1M -t 4:AB00 "
                "-n 5:0:+1M -t 5:0700 -c 5:'Données' -n 6:0:+1M -t 6:A800 -n 7:0:+1M " + quote(path) +
                " >/dev/null").rc, 0);
  ImageFixture img(read_file(path));
  std::string p = run("sgdisk -p " + quote(path)).out;
  StructureView h = decode_sector(k_kind_gpt_header, 3, img.sector(1), 1, img.ctx, img.read);
  EXPECT_EQ(h.title_id, 3780);
  EXPECT_EQ(field_value(h, 3781), "EFI PART");
  // The GUIDs in one case, exactly as sgdisk prints them.
  EXPECT_EQ(field_value(h, 3788), "{" + report_value(p, "Disk identifier (GUID): ") + "}");
  EXPECT_EQ(field_value(h, 3790), file_field(p, R"(holds up to (\d+) entries)"));
  EXPECT_EQ(field_value(h, 3789), file_field(p, R"(table begins at sector (\d+))"));
  EXPECT_EQ(field_value(h, 3786), file_field(p, R"(First usable sector is (\d+))"));
  EXPECT_EQ(field_value(h, 3787), file_field(p, R"(last usable sector is (\d+))"));
  EXPECT_EQ(field_value(h, 3791), "128");
  EXPECT_EQ(field_value(h, 3785), "1");
  int64_t entries_at = go_sector(h, 3789);
  ASSERT_EQ(entries_at, 2);

  StructureView e = decode_gpt_entries_view(img.sector(entries_at), entries_at, img.ctx, img.read);
  ASSERT_EQ(e.tree.size(), 6u);  // the first six of seven
  const char* clear[] = {"HFS", nullptr, nullptr, "Boot", nullptr, "UFS"};
  for (int k = 1; k <= 6; ++k) {
    SCOPED_TRACE(k);
    std::string info = run("sgdisk -i " + std::to_string(k) + " " + quote(path)).out;
    const ViewTreeNode& n = e.tree[k - 1];
    EXPECT_EQ(n.text, "Part. " + std::to_string(k));
    ASSERT_GE(n.children.size(), 5u);
    std::string type = report_value(info, "Partition GUID code: ");
    EXPECT_EQ(n.children[0].text, ui_text(3794) + " {" + type.substr(0, 36) + "}");
    EXPECT_EQ(n.children[1].text, ui_text(3795) + " {" + report_value(info, "Partition unique GUID: ") + "}");
    std::string first = report_value(info, "First sector: ");
    first = first.substr(0, first.find(' '));
    EXPECT_EQ(n.children[2].text, ui_text(3796) + " " + first);
    EXPECT_EQ(n.children[2].go_sector, std::stoll(first));
    std::string last = report_value(info, "Last sector: ");
    EXPECT_EQ(n.children[3].text, ui_text(3797) + " " + last.substr(0, last.find(' ')));
    std::string name = report_value(info, "Partition name: ");
    EXPECT_EQ(n.children[4].text, ui_text(3798) + " " + name.substr(1, name.size() - 2));
    if (clear[k - 1]) {
      ASSERT_EQ(n.children.size(), 6u);
      EXPECT_EQ(n.children[5].text, ui_text(3799) + " " + clear[k - 1]);
    } else {
      EXPECT_EQ(n.children.size(), 5u);
    }
  }
}

}  // namespace
