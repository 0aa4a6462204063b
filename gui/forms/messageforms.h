// The four message forms, the modal runner every form goes through, and the
// help the forms open.
#pragma once

#include <wx/dialog.h>
#include <wx/timer.h>

#include <functional>
#include <vector>
#include <string>

class wxCheckBox;

// Called (on the GUI thread, once the form is up) for every modal form while
// it is set: the window tests answer and photograph the forms through it.
extern std::function<void(wxDialog&)> g_modal_driver;
// Forms currently shown modally.
extern int g_modal_depth;
// Shows the form modally (the busy cursor is stopped around it, no tooltip
// left floating as it opens and as it closes) and returns its result.
int run_modal(wxDialog& dialog);
// Hides every tooltip the toolkit shows now.
void hide_shown_tooltips();

// Opens the help book at the topic (the language offset added here).
void show_help_topic(int topic);
// The help book's index, and its search for a text (the results listed).
void show_help_index();
void show_help_search(const std::string& text);
// The page the help window shows, "" before any help was opened.
std::string shown_help_page();
// The form's help: its help button (hint 2329, named "Aide"), F1, the context
// menu and a help request on any of its windows all open topic. The button is
// returned for the form to place.
wxWindow* add_help_button(wxDialog& form, int topic);

// The common frame: title line, centred text, help button (hint 2329) whose topic is given.
class MessageForm : public wxDialog {
 public:
  enum Kind { ok, yes_no, yes_no_remember, announcement };
  MessageForm(wxWindow* owner, Kind kind, const std::string& text, int timeout_ms);
  bool ticked() const;

 private:
  Kind kind_;
  wxCheckBox* remember_ = nullptr;
  wxTimer timer_;
  bool pending_ = false, pending_yes_ = false;
  void end_with(bool yes);
};

// The members' results.
void show_message_form(wxWindow* owner, const std::string& text, int timeout_ms);
bool ask_yes_no_form(wxWindow* owner, const std::string& text);
int ask_yes_no_remember_form(wxWindow* owner, const std::string& text);  // -4..-1
bool announcement_form(wxWindow* owner, const std::string& text);
