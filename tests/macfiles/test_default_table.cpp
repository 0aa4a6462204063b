// The signature table that comes with the program: every row is read as
// written, in both languages, and the common extensions get the pairs the Mac
// applications of the time gave them.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "macfiles/signatures.h"

namespace {

const std::string k_table = CORVANE_SOURCE_DIR "/gui/default.sig";

struct Row {
  std::string ext, sig, comment;
};

// The rows of each section as the file writes them.
void read_sections(std::vector<Row>& english, std::vector<Row>& french) {
  std::ifstream in(k_table);
  bool in_french = false;
  for (std::string line; std::getline(in, line);) {
    EXPECT_LE(line.size(), 100u) << line;  // the reader's line length
    if (line.rfind("#[1]", 0) == 0) in_french = true;
    if (line.empty() || line[0] == '#') continue;
    size_t a = line.find(','), b = line.find(',', a + 1);
    ASSERT_NE(b, std::string::npos) << line;
    Row r{line.substr(0, a), line.substr(a + 1, b - a - 1), line.substr(b + 1)};
    EXPECT_LE(r.ext.size(), 4u) << line;
    EXPECT_EQ(r.sig.size(), 8u) << line;
    EXPECT_LE(r.comment.size(), 64u) << line;
    (in_french ? french : english).push_back(r);
  }
}

}  // namespace

TEST(DefaultSignatureTable, EveryRowReadInBothLanguages) {
  std::vector<Row> english, french;
  read_sections(english, french);
  ASSERT_EQ(english.size(), french.size());
  std::set<std::string> seen;
  for (size_t i = 0; i < english.size(); ++i) {
    EXPECT_EQ(english[i].ext, french[i].ext);
    EXPECT_EQ(english[i].sig, french[i].sig) << english[i].ext;
    EXPECT_TRUE(seen.insert(english[i].ext).second) << "twice: " << english[i].ext;
  }

  // The French interface reads its section alone, the English one the whole
  // file (its rows first); no row is dropped.
  ASSERT_EQ(load_signature_table(k_table, "TXT", 10000), 0);
  EXPECT_EQ(g_signature_count, int(1 + french.size()));
  EXPECT_EQ(signature_comment("PDF CARO"), "Document PDF (Acrobat Reader)");
  ASSERT_EQ(load_signature_table(k_table, "TXT", 0), 0);
  EXPECT_EQ(g_signature_count, int(1 + english.size() + french.size()));
  EXPECT_EQ(signature_comment("PDF CARO"), "PDF document (Acrobat Reader)");
  for (const Row& r : english) {
    if (r.ext == "txt") continue;  // the default row's extension (setting "Ext") comes first
    EXPECT_EQ(type_creator_for_filename("file." + r.ext), r.sig) << r.ext;
  }
  clear_signature_table();
}

TEST(DefaultSignatureTable, CommonExtensionsGetTheirMacPairs) {
  ASSERT_EQ(load_signature_table(k_table, "TXT", 0), 0);
  const std::pair<const char*, const char*> pairs[] = {
      {"readme.text", "TEXTttxt"}, {"letter.RTF", "TEXTMSWD"}, {"manual.pdf", "PDF CARO"},
      {"index.html", "TEXTMOSS"},  {"index.htm", "TEXTMOSS"},  {"photo.jpg", "JPEGogle"},
      {"photo.JPEG", "JPEGogle"},  {"logo.png", "PNGfogle"},   {"anim.gif", "GIFfogle"},
      {"scan.tif", "TIFFogle"},    {"song.mp3", "MPG3TVOD"},   {"loop.aif", "AIFFTVOD"},
      {"loop.aiff", "AIFFTVOD"},   {"beep.wav", "WAVETVOD"},   {"clip.mov", "MooVTVOD"},
      {"files.zip", "ZIP SITx"},   {"files.sit", "SIT!SITx"},  {"files.hqx", "TEXTSITx"},
      {"files.bin", "SIT!SITx"},   {"report.doc", "WDBNMSWD"}, {"notes.xyz", "TEXT????"},
  };
  for (auto [name, sig] : pairs) EXPECT_EQ(type_creator_for_filename(name), sig) << name;
  // Back from the Mac: a PNG picture copied to the PC gets its extension again.
  const SignatureEntry* png = find_signature_entry("PNGfogle", false);
  ASSERT_NE(png, nullptr);
  EXPECT_STREQ(png->extension, "png");
  clear_signature_table();
}
