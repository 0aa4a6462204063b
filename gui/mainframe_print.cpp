// Printing the file list: every row of the folder shown, in the columns of
// the list scaled to the page, a header on every page.
#include <wx/statusbr.h>

#include "IO/uitext.h"
#include "compiler/project.h"
#include "gui/forms/printing.h"
#include "gui/mainframe.h"
#include "gui/mainframe_parts.h"
#include "gui/views/mode_views.h"
#include "hfs/volume.h"

namespace {

wxString utf8(const std::string& s) { return wxString::FromUTF8(s); }

// The name the header and the job carry: the volume's, or the project's.
std::string document_name(int mode) {
  if (mode == 1) return volume_display_name();
  FILE* f = project_stream(mode);
  return f ? get_volume_name(f) : std::string();
}

}  // namespace

// One page of the list on a device context.
class FileListPrintout : public wxPrintout {
 public:
  FileListPrintout(MainFrame* frame, const std::string& title)
      : wxPrintout(utf8(title)), frame_(frame), name_(document_name(frame->mode_index())),
        status_(frame->GetStatusBar()->GetStatusText(0).utf8_string()) {}

  bool HasPage(int page) override { return page >= 1 && page <= pages_; }
  void GetPageInfo(int* min_page, int* max_page, int* from, int* to) override {
    *min_page = *from = 1;
    *max_page = *to = pages_;
  }

  bool OnPrintPage(int page) override {
    wxDC* dc = GetDC();
    if (!dc) return false;
    MapScreenSizeToPage();  // logical units: the screen's pixels, the page's size
    dc->SetFont(normal_);
    int y = plan_.top;
    // The header, right-aligned on the right margin: name, mode text, page number.
    for (const std::string& line : {name_, status_, format_text(ui_text(6131).c_str(), page)}) {
      wxString text = utf8(line);
      dc->DrawText(text, plan_.left + plan_.usable_width - dc->GetTextExtent(text).x, y);
      y += plan_.line_height;
    }
    y += plan_.line_height;
    dc->SetFont(bold_);
    for (int c = 0; c < k_list_columns; ++c)
      if (plan_.width[c] > 0)
        draw_cell(*dc, ui_text(g_list_columns[size_t(c)].caption_text), c, y, false);
    dc->SetFont(normal_);
    y += plan_.line_height;
    const std::vector<FileTableEntry>& rows = frame_->rows();
    size_t first = size_t(page - 1) * size_t(plan_.rows_per_page);
    for (size_t r = first; r < rows.size() && r < first + size_t(plan_.rows_per_page); ++r) {
      std::array<std::string, k_list_columns> cells = list_row_texts(rows[r]);
      for (int c = 0; c < k_list_columns; ++c)
        if (plan_.width[c] > 0)
          draw_cell(*dc, printed_cell(cells, c), c, y, c == k_col_data || c == k_col_resources);
      y += plan_.line_height;
    }
    return true;
  }

  // The layout on the page, in the screen's units mapped onto it.
  void OnPreparePrinting() override {
    wxDC* dc = GetDC();
    int w = 0, h = 0, px = 96, py = 96;
    if (dc) {
      MapScreenSizeToPage();
      wxRect page = GetLogicalPageRect();
      w = page.width;
      h = page.height;
      GetPPIScreen(&px, &py);
    }
    normal_ = wxFont(wxFontInfo(9).Family(wxFONTFAMILY_SWISS));
    bold_ = wxFont(wxFontInfo(9).Family(wxFONTFAMILY_SWISS).Bold().Underlined());
    int line = 12;
    if (dc) {
      // The height of "A" in the list's font, with a little leading.
      dc->SetFont(normal_);
      line = dc->GetTextExtent("A").y * 5 / 4;
    }
    plan_ = plan_printed_list(w, h, px, py, line);
    pages_ = printed_page_count(plan_, frame_->rows().size());
  }

 private:
  MainFrame* frame_;
  std::string name_, status_;
  PrintPlan plan_;
  int pages_ = 1;
  wxFont normal_, bold_;

  // A cell clipped to its column, 50 thousandths of an inch short of the next one.
  void draw_cell(wxDC& dc, const std::string& text, int c, int y, bool right) {
    int px = 96, py = 96;
    GetPPIScreen(&px, &py);
    int gap = px / 12;
    int width = plan_.width[c] - gap;
    if (width <= 0) return;
    wxDCClipper clip(dc, wxRect(plan_.x[c], y, width, plan_.line_height));
    wxString t = utf8(text);
    int x = right ? plan_.x[c] + width - dc.GetTextExtent(t).x : plan_.x[c];
    dc.DrawText(t, x, y);
  }
};

void MainFrame::print_command() {
  FileListPrintout printout(this, format_text(ui_text(6130).c_str(), document_name(mode_index()).c_str()));
  (void)print_job(this, printout);  // a cancelled dialog prints nothing; a failure is told by print_job
}

// A text the engine prints (a journal, a report): its lines, paged as the dump's are.
int MainFrame::print_lines(const std::string& title, const std::vector<std::string>& lines) {
  LinesPrintout printout(title, lines);
  return print_job(this, printout);
}
