// Shared by the window tests: the event pump, the private folders every test
// runs in, the form driver, and pictures of what was shown.
#pragma once

#include <wx/dialog.h>

#include <functional>
#include <string>

#include "support/testkit.h"

namespace guitest {

// Runs the event loop for ms milliseconds, or until done() holds.
void pump(int ms, const std::function<bool()>& done = nullptr);
// Saves a picture of this process's window titled title into the screenshot
// folder as name.png; false when no such window shows.
bool screenshot(const std::string& title, const std::string& name);
std::string screenshot_path(const std::string& name);
// The same for the form itself, told from other windows of its title (forms
// stacked over one another) by where it lies and its size.
bool screenshot(const wxWindow& form, const std::string& name);
// Over a modal form the help window holds the input as a modal one: the page
// ask opens is read (its picture taken when named), and the window is closed.
std::string help_page_of(wxDialog& form, const std::function<void()>& ask, const std::string& picture = "");
// The answer the form driver gives: the name of the button to press (or
// "ok" to end a text dialog with its value set to text).
struct FormAnswer {
  std::string button = "MessFermer";
  std::string text;
  std::string picture;  // screenshot name, "" for none
};
// Every modal form is answered with the next answer (the last one repeats);
// each form's title and text are kept in seen.
void answer_forms(const std::vector<FormAnswer>& answers);
struct SeenForm {
  std::string title, text;
};
extern std::vector<SeenForm> g_seen_forms;

// What a print job wrote into a PostScript file: the strings shown, in order,
// and the number of pages (none and 0 for a file that is no PostScript).
struct PrintedFile {
  std::vector<std::string> shown;
  int pages = 0;
  int count(const std::string& s) const;
};
PrintedFile read_printed_file(const std::string& path);

}  // namespace guitest
