// Lines of text on the printer: a title line, then the lines one below the
// other in a fixed-pitch font, a new page (under the title again) when the
// next line would pass the bottom margin.
#pragma once

#include <wx/font.h>
#include <wx/print.h>

#include <string>
#include <vector>

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
