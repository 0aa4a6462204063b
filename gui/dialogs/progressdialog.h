// The compile progress window: modeless, no close box, over the main window.
#pragma once

#include <wx/dialog.h>

#include <cstdint>
#include <string>

class wxGauge;
class wxStaticText;
class wxStaticBox;

class ProgressDialog : public wxDialog {
 public:
  explicit ProgressDialog(wxWindow* owner);
  // Prepares the shown dialog: general range, image description, captions.
  void start(int general_range, const std::string& description);
  int general_range() const { return range_; }
  const std::string& description() const { return description_; }
  void file_start(const std::string& label, int bar_maximum);
  void advance(int general_position);
  void file_done(int general_position, uint32_t files);
  void step_text(const std::string& text);
  void elapsed();
  void clear_files_panel();

 private:
  int range_ = 1;
  std::string description_;
  wxStaticBox *gb1_, *gb2_;
  wxStaticText *image_, *file_;
  wxGauge *general_, *single_;
  wxStaticText *elapsed_, *files_;
};
