// What the tests of the commands leave out of the program's forms: the status
// bar, the progress and the end of the program do nothing. A test's forms
// derive from it and take the messages and questions their own way.
#pragma once

#include <string>

#include "gui/guiforms.h"

namespace volkit {

struct QuietForms : GuiForms {
  void status_text(const std::string&) override {}
  void simple_status_text(const std::string&) override {}
  void elapsed_time(const std::string&) override {}
  void progress_bar(int, int) override {}
  void end_program(int) override {}
};

}  // namespace volkit
