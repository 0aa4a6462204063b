// Printing: every job of the program goes through print_job (the print dialog
// on the settings of the last job or printer set-up, then the printer), and
// print_to_file lays a job out into a PostScript file as a printer would get
// it. Two printouts serve most windows: pages drawn by a function, and lines
// of text one below the other.
#pragma once

#include <wx/font.h>
#include <wx/print.h>

#include <functional>
#include <string>
#include <vector>

// Where the jobs go instead of the printer while it is set: the window tests
// put a capture here, or print_to_file. Its result: true printed.
extern std::function<bool(wxWindow* owner, wxPrintout& printout)> g_print_hook;
// Runs printout: 0 printed, 1 cancelled, -1 failed (the user told).
[[nodiscard]] int print_job(wxWindow* owner, wxPrintout& printout);
// The printer set-up dialog; its choice is kept for the next job.
void printer_setup(wxWindow* owner);
// Every page of printout into a PostScript file, A4 portrait: false when the
// file could not be written.
bool print_to_file(wxPrintout& printout, const std::string& path);

// The pages of a document drawn on any device context (the printer, or a
// picture for a look at the page).
class PagePrintout : public wxPrintout {
 public:
  // draw(dc, area, page): draws page (1-based) on dc, whose logical units are
  // screen pixels, within area (the whole sheet); page 0 draws nothing. Returns
  // the document's number of pages.
  using DrawPage = std::function<int(wxDC& dc, const wxRect& area, int page)>;
  PagePrintout(const wxString& title, DrawPage draw);
  bool OnPrintPage(int page) override;
  void GetPageInfo(int* min_page, int* max_page, int* from, int* to) override;
  bool HasPage(int page) override;

 private:
  DrawPage draw_;
  int pages_ = 1;
};

// Lines of text: a title line, then the lines one below the other in a
// fixed-pitch font, a new page (under the title again) when the next line
// would pass the bottom margin.
class LinesPrintout : public wxPrintout {
 public:
  LinesPrintout(const std::string& title, std::vector<std::string> lines);
  void OnPreparePrinting() override;
  bool HasPage(int page) override;
  void GetPageInfo(int* min_page, int* max_page, int* from, int* to) override;
  bool OnPrintPage(int page) override;

  // Splits the lines into pages of size (pixels) at ppi dots per inch, for dc.
  void paginate(wxDC& dc, const wxSize& size, int ppi);
  // Draws page (from 1) on dc, as paginate laid it out.
  void draw(wxDC& dc, int page) const;
  int page_count() const { return int(starts_.size()); }

 private:
  std::string title_;
  std::vector<std::string> lines_;
  std::vector<size_t> starts_;
  wxFont font_;
  int margin_ = 0, line_height_ = 0;
};
