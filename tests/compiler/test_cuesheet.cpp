#include <gtest/gtest.h>

#include "compiler/cuesheet.h"

TEST(CueSheet, MovesOnlyTheLaterTracksTimesAndKeepsEverythingElse) {
  const std::string text =
      "\xEF\xBB\xBFREM GENRE \"Video\"\r\n"
      "FILE \"my disc.bin\" BINARY\r\n"
      "  TRACK 01 MODE2/2352\r\n"
      "    FLAGS DCP\r\n"
      "    INDEX 01 00:00:00\r\n"
      "\r\n"
      "  track 02 mode2/2352\n"
      "    PREGAP 00:02:00\n"
      "    index 00 0:4:0\n"
      "\tINDEX 01 00:06:00\n"
      "    INDEX 02 01:59:74\n"
      "  TRACK 03 MODE2/2352\n"
      "    INDEX 01 02:00:00";
  CueSheet sheet;
  ASSERT_TRUE(parse_cue_sheet(text, sheet));
  EXPECT_EQ(write_cue_sheet(sheet), text);
  EXPECT_EQ(sheet.file_count, 1);
  EXPECT_EQ(sheet.track_count, 3);
  ASSERT_TRUE(shift_cue_sheet_tracks(sheet, 1150));
  EXPECT_EQ(write_cue_sheet(sheet),
            "\xEF\xBB\xBFREM GENRE \"Video\"\r\n"
            "FILE \"my disc.bin\" BINARY\r\n"
            "  TRACK 01 MODE2/2352\r\n"
            "    FLAGS DCP\r\n"
            "    INDEX 01 00:00:00\r\n"
            "\r\n"
            "  track 02 mode2/2352\n"
            "    PREGAP 00:02:00\n"
            "    index 00 00:19:25\n"
            "\tINDEX 01 00:21:25\n"
            "    INDEX 02 02:15:24\n"
            "  TRACK 03 MODE2/2352\n"
            "    INDEX 01 02:15:25");
  EXPECT_EQ(cue_time_text(99 * 4500 + 59 * 75 + 74), "99:59:74");
}

TEST(CueSheet, RefusesMalformedLinesAndMovesPastTheLastAddress) {
  const char* head = "FILE x.bin BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n";
  struct Case {
    std::string text;
    int line;
  } cases[] = {
      {"  TRACK 01 MODE2/2352\n", 1},                              // a track before any file
      {"FILE x.bin BINARY\n    INDEX 01 00:00:00\n", 2},           // an index before any track
      {std::string(head) + "    INDEX 02 00:60:00\n", 4},         // seconds
      {std::string(head) + "    INDEX 02 00:00:75\n", 4},         // frames
      {std::string(head) + "    INDEX 02 00:00\n", 4},            // no frames
      {std::string(head) + "    INDEX 02 00:0x:00\n", 4},
      {std::string(head) + "    INDEX 01 00:01:00\n", 4},         // index numbers must rise
      {std::string(head) + "  TRACK 01 AUDIO\n", 4},              // track numbers must rise
      {std::string(head) + "  TRACK 02 AUDIO\n    INDEX 01 00:00:00 x\n", 5},
      {"FILE x.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:05:00\n  TRACK 02 AUDIO\n    INDEX 01 00:04:00\n", 5},
      {"FILE\n", 1},
  };
  for (const Case& c : cases) {
    CueSheet sheet;
    EXPECT_FALSE(parse_cue_sheet(c.text, sheet)) << c.text;
    EXPECT_EQ(sheet.error_line, c.line) << c.text;
  }
  // Times restart with each file.
  CueSheet two;
  EXPECT_TRUE(parse_cue_sheet(std::string(head) + "FILE y.bin BINARY\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n", two));
  EXPECT_EQ(two.file_count, 2);

  CueSheet sheet;
  std::string text = std::string(head) + "  TRACK 02 MODE2/2352\n    INDEX 01 99:59:00\n";
  ASSERT_TRUE(parse_cue_sheet(text, sheet));
  EXPECT_TRUE(shift_cue_sheet_tracks(sheet, 74));
  EXPECT_FALSE(shift_cue_sheet_tracks(sheet, 1));
  EXPECT_NE(write_cue_sheet(sheet).find("INDEX 01 99:59:74\n"), std::string::npos);
}
