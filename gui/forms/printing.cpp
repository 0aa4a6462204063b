#include "gui/forms/printing.h"

#include <wx/dcps.h>
#include <wx/printdlg.h>

#include <algorithm>

#include "IO/prompts.h"
#include "IO/uitext.h"
#include "gui/forms/messageforms.h"

std::function<bool(wxWindow*, wxPrintout&)> g_print_hook;

namespace {

// The settings of the last job or printer set-up.
wxPrintData& kept_print_data() {
  static wxPrintData data;
  return data;
}

}  // namespace

int print_job(wxWindow* owner, wxPrintout& printout) {
  if (g_print_hook) return g_print_hook(owner, printout) ? 0 : -1;
  wxPrintDialogData data(kept_print_data());
  data.SetAllPages(true);
  wxPrinter printer(&data);
  if (printer.Print(owner, &printout, true)) {
    kept_print_data() = printer.GetPrintDialogData().GetPrintData();
    return 0;
  }
  if (wxPrinter::GetLastError() == wxPRINTER_CANCELLED) return 1;
  show_message_form(owner, ui_text(6414), 0);
  return -1;
}

void printer_setup(wxWindow* owner) {
  wxPrintDialogData data(kept_print_data());
  wxPrintDialog d(owner, &data);
  if (d.ShowModal() == wxID_OK) kept_print_data() = d.GetPrintDialogData().GetPrintData();
}

bool print_to_file(wxPrintout& printout, const std::string& path) {
  wxPrintData data;
  data.SetFilename(wxString::FromUTF8(path));
  data.SetPrintMode(wxPRINT_MODE_FILE);
  data.SetOrientation(wxPORTRAIT);
  data.SetPaperId(wxPAPER_A4);
  wxPostScriptDC dc(data);
  if (!dc.IsOk()) return false;
  // What the printing framework tells a printout of its printer, told here of the file.
  int w = 0, h = 0;
  dc.GetSize(&w, &h);
  wxSize ppi = dc.GetPPI();
  wxSize screen = wxGetDisplayPPI();
  printout.SetDC(&dc);
  printout.SetPPIPrinter(ppi.x, ppi.y);
  printout.SetPPIScreen(screen.x > 0 ? screen.x : 96, screen.y > 0 ? screen.y : 96);
  printout.SetPageSizePixels(w, h);
  printout.SetPaperRectPixels(wxRect(0, 0, w, h));
  printout.SetPageSizeMM(210, 297);
  printout.OnPreparePrinting();
  int from = 1, to = 1, low = 1, high = 1;
  printout.GetPageInfo(&low, &high, &from, &to);
  bool done = printout.OnBeginDocument(from, to);
  if (done) {
    for (int page = from; page <= to && printout.HasPage(page); ++page) {
      dc.StartPage();
      printout.OnPrintPage(page);
      dc.EndPage();
    }
    printout.OnEndDocument();
  }
  printout.SetDC(nullptr);
  return done;
}

PagePrintout::PagePrintout(const wxString& title, DrawPage draw) : wxPrintout(title), draw_(std::move(draw)) {}

bool PagePrintout::HasPage(int page) { return page >= 1 && page <= pages_; }

void PagePrintout::GetPageInfo(int* min_page, int* max_page, int* from, int* to) {
  if (GetDC()) {
    MapScreenSizeToPage();
    pages_ = std::max(1, draw_(*GetDC(), GetLogicalPageRect(), 0));
  }
  *min_page = *from = 1;
  *max_page = *to = pages_;
}

bool PagePrintout::OnPrintPage(int page) {
  wxDC* dc = GetDC();
  if (!dc) return false;
  MapScreenSizeToPage();
  draw_(*dc, GetLogicalPageRect(), page);
  return true;
}

LinesPrintout::LinesPrintout(const std::string& title, std::vector<std::string> lines)
    : wxPrintout(wxString::FromUTF8(title)), title_(title), lines_(std::move(lines)) {}

void LinesPrintout::paginate(wxDC& dc, const wxSize& size, int ppi) {
  // Half an inch of margin; 12-point Courier-like type.
  margin_ = std::max(1, ppi / 2);
  font_ = wxFont(wxFontInfo(wxSize(0, std::max(6, ppi * 12 / 72))).Family(wxFONTFAMILY_TELETYPE));
  dc.SetFont(font_);
  line_height_ = std::max(1, dc.GetCharHeight());
  int usable = size.y - 2 * margin_ - 2 * line_height_;  // the title and the line after it
  starts_ = text_page_starts(lines_.size(), line_height_, std::max(usable, line_height_));
  if (starts_.empty()) starts_.push_back(0);
}

void LinesPrintout::draw(wxDC& dc, int page) const {
  if (page < 1 || page > page_count()) return;
  dc.SetFont(font_);
  dc.SetTextForeground(*wxBLACK);
  int y = margin_;
  dc.DrawText(wxString::FromUTF8(title_), margin_, y);
  y += 2 * line_height_;
  size_t end = size_t(page) < starts_.size() ? starts_[size_t(page)] : lines_.size();
  for (size_t i = starts_[size_t(page) - 1]; i < end; ++i, y += line_height_)
    dc.DrawText(wxString::FromUTF8(lines_[i]), margin_, y);
}

void LinesPrintout::OnPreparePrinting() {
  wxDC* dc = GetDC();
  if (!dc) return;
  int w = 0, h = 0, px = 0, py = 0;
  GetPageSizePixels(&w, &h);
  GetPPIPrinter(&px, &py);
  if (w <= 0 || h <= 0) dc->GetSize(&w, &h);
  paginate(*dc, wxSize(w, h), py > 0 ? py : 72);
}

bool LinesPrintout::HasPage(int page) { return page >= 1 && page <= page_count(); }

void LinesPrintout::GetPageInfo(int* min_page, int* max_page, int* from, int* to) {
  *min_page = *from = 1;
  *max_page = *to = std::max(1, page_count());
}

bool LinesPrintout::OnPrintPage(int page) {
  if (!GetDC()) return false;
  draw(*GetDC(), page);
  return true;
}
