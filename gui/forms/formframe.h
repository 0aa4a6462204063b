// The frame every small dialog of the program shares: its texts from the
// string table, centred on the main window, a help button (hint 2329) that
// opens the dialog's topic, F1 and the context menu for its context help, OK
// and Cancel as the standard buttons. Cancel, Esc and the close box end it
// with 0; OK ends it with the result its check gave, or keeps it open.
// Also the row of buttons at the foot of every form of the program.
#pragma once

#include <wx/checkbox.h>
#include <wx/dialog.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <functional>
#include <initializer_list>
#include <string>

#include "gui/forms/tr.h"

inline wxString from_utf8(const std::string& s) { return wxString::FromUTF8(s); }
inline std::string to_utf8(const wxString& s) { return s.utf8_string(); }

// The buttons that end a form, named for the tests: the default one (window id
// wxID_OK) and Cancel (wxID_CANCEL); a text of 0 leaves that button out.
struct EndButtons {
  int ok_text = 1001;
  const char* ok_name = "OK";
  int cancel_text = 1002;
  const char* cancel_name = "Cancel";
};
// The row at the foot of a form: help (add_help_button's, or none when null)
// and the left buttons on the left; the right buttons, then the end buttons,
// on the right. Null buttons are passed over.
wxSizer* form_button_row(wxDialog& form, wxWindow* help, const EndButtons& end = {},
                         std::initializer_list<wxWindow*> left = {}, std::initializer_list<wxWindow*> right = {});

class FormDialog : public wxDialog {
 public:
  // name: the form's name (tests and context help find it by it); title: a
  // text id; topic: its help topic (the language offset is added on use).
  FormDialog(wxWindow* owner, const char* name, int title, int topic);

  // Puts the content above the button row (help, then OK and Cancel), sizes
  // the dialog and centres it.
  void finish(wxSizer* content, const EndButtons& end = {});
  // Shows the dialog modally: the result set by accept, or 0 when cancelled.
  int run();

  // OK pressed: returns true with the result set to end the dialog, false to
  // keep it open (after telling the user why). The default ends with 1.
  std::function<bool(int& result)> on_ok;
  // Ends the dialog at once with result (another button of the dialog).
  void end_with(int result);
  // A refusal message over this dialog.
  void refuse(const std::string& text);

  // Controls, each named for the tests.
  wxStaticText* add_label(wxWindow* parent, int text_id, const char* name = "");
  wxTextCtrl* add_edit(wxWindow* parent, const char* name, const std::string& value, int max_chars = 0,
                       int width = 260, long style = 0);
  wxCheckBox* add_check(wxWindow* parent, const char* name, int text_id, bool value, long style = 0);
  // A labelled edit as one row of a two-column grid.
  wxTextCtrl* add_row(wxFlexGridSizer* grid, wxWindow* parent, int label_id, const char* name,
                      const std::string& value, int max_chars = 0, int width = 260, long style = 0);

  wxButton* ok_button() const { return ok_; }

 private:
  int result_ = 0;
  wxWindow* help_;
  wxButton* ok_ = nullptr;
};

// A three-state box from a model value (-1 indeterminate, 0, 1), and back. A
// click cycles unticked -> ticked -> unticked; an indeterminate box becomes unticked.
void set_three_state(wxCheckBox* box, int value);
int three_state_of(const wxCheckBox* box);
