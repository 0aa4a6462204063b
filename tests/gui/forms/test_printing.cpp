// The print path every window uses: a job of each kind of printout laid out
// into a PostScript file as a printer would get it, and the hook the window
// tests put in the printer's place.
#include <gtest/gtest.h>

#include <wx/dc.h>
#include <wx/font.h>

#include <string>
#include <vector>

#include "gui/forms/printing.h"
#include "gui_fixture.h"

using namespace guitest;

TEST(Printing, LinesGoOnAsManyPagesAsTheyNeedEachUnderTheTitle) {
  testkit::TempDir dir;
  std::vector<std::string> lines;
  for (int i = 1; i <= 300; ++i) lines.push_back("line " + std::to_string(i));
  LinesPrintout job("A long report", lines);
  ASSERT_TRUE(print_to_file(job, dir.str("lines.ps")));
  PrintedFile printed = read_printed_file(dir.str("lines.ps"));
  EXPECT_GE(printed.pages, 3);
  EXPECT_EQ(printed.pages, job.page_count());
  EXPECT_EQ(printed.count("A long report"), printed.pages) << "the title heads every page";
  for (int i = 1; i <= 300; ++i) EXPECT_EQ(printed.count("line " + std::to_string(i)), 1) << i;
  // In order, none lost between two pages.
  std::vector<std::string> body;
  for (const std::string& s : printed.shown)
    if (s != "A long report") body.push_back(s);
  EXPECT_EQ(body, lines);
}

TEST(Printing, DrawnPagesAreCountedFirstThenDrawnOneByOne) {
  testkit::TempDir dir;
  std::vector<int> drawn;
  PagePrintout job("Sheets", [&](wxDC& dc, const wxRect& area, int page) {
    EXPECT_GT(area.width, 0);
    EXPECT_GT(area.height, area.width) << "A4 portrait";
    if (page > 0) {
      drawn.push_back(page);
      dc.SetFont(wxFontInfo(10).Family(wxFONTFAMILY_SWISS));
      dc.DrawText("Sheet " + std::to_string(page), area.x + 20, area.y + 20);
    }
    return 3;
  });
  ASSERT_TRUE(print_to_file(job, dir.str("sheets.ps")));
  PrintedFile printed = read_printed_file(dir.str("sheets.ps"));
  EXPECT_EQ(printed.pages, 3);
  EXPECT_EQ(drawn, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(printed.shown, (std::vector<std::string>{"Sheet 1", "Sheet 2", "Sheet 3"}));
  // A file that cannot be made prints nothing.
  EXPECT_FALSE(print_to_file(job, dir.str("no/such/folder/sheets.ps")));
}

TEST(Printing, TheHookTakesEveryJobInThePrintersPlace) {
  std::string title;
  g_print_hook = [&](wxWindow*, wxPrintout& job) {
    title = job.GetTitle().utf8_string();
    return dynamic_cast<LinesPrintout*>(&job) != nullptr;
  };
  LinesPrintout lines("Lines", {"one"});
  EXPECT_EQ(print_job(nullptr, lines), 0);
  EXPECT_EQ(title, "Lines");
  PagePrintout page("Page", [](wxDC&, const wxRect&, int) { return 1; });
  EXPECT_EQ(print_job(nullptr, page), -1) << "a job the hook refuses has failed";
  EXPECT_EQ(title, "Page");
  g_print_hook = nullptr;
}
