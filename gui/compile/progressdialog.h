// The compile progress window: modeless, no close box, over the main window.
#pragma once

#include <wx/dialog.h>
#include <wx/timer.h>

#include <cstdint>
#include <string>

class wxGauge;
class wxStaticText;
class wxStaticBox;

class ProgressDialog : public wxDialog {
 public:
  explicit ProgressDialog(wxWindow* owner);
  // Prepares the shown dialog (general range, image description, captions)
  // and starts reading the compile's progress from its timer.
  void start(int general_range, const std::string& description);
  int general_range() const { return range_; }
  const std::string& description() const { return description_; }
  // Shows what the compile has done since the last reading; only what changed
  // is set, so a file that takes longer than a reading costs the widgets nothing.
  void update();
  // The compile has ended: a last reading, the timer stopped, the files panel emptied.
  void finish();

 private:
  int range_ = 1;
  std::string description_;
  uint32_t shown_serial_ = 0;
  wxTimer timer_;
  wxStaticBox *gb1_, *gb2_;
  wxStaticText *image_, *file_;
  wxGauge *general_, *single_;
  wxStaticText *elapsed_, *files_;
};
