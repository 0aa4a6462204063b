// What the window tests of the editors and the Special commands share: a
// driver that hands each modal form to the next step once it is drawn, the
// control actions a user makes, pictures of forms and printed pages, the
// program's globals put back after a test, and the main window started as
// the program starts it.
#pragma once

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/choice.h>
#include <wx/dcmemory.h>
#include <wx/dialog.h>
#include <wx/filedlg.h>
#include <wx/image.h>
#include <wx/listctrl.h>
#include <wx/stattext.h>
#include <wx/timer.h>

#include <deque>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "IO/settings.h"
#include "compiler/commands.h"
#include "compiler/project.h"
#include "gui/forms/messageforms.h"
#include "gui/mainframe.h"
#include "gui_fixture.h"

namespace formsteps {

using namespace guitest;

// Each modal form shown, in the order they come up, is handed to the next
// step once it is drawn; a step that leaves its form open has it cancelled.
inline std::deque<std::function<void(wxDialog&)>> g_steps;
inline int g_unexpected_forms = 0;

inline void drive(std::vector<std::function<void(wxDialog&)>> steps) {
  g_steps.assign(steps.begin(), steps.end());
  g_unexpected_forms = 0;
  g_modal_driver = [](wxDialog& d) {
    std::function<void(wxDialog&)> step;
    if (g_steps.empty()) {
      ++g_unexpected_forms;
      ADD_FAILURE() << "a form nobody expected: " << d.GetTitle().utf8_string();
    } else {
      step = g_steps.front();
      g_steps.pop_front();
    }
    auto* timer = new wxTimer;
    timer->Bind(wxEVT_TIMER, [&d, step, timer](wxTimerEvent&) {
      if (step) step(d);
      if (d.IsModal()) d.EndModal(wxID_CANCEL);
      wxTheApp->CallAfter([timer] { delete timer; });
    });
    timer->StartOnce(300);
  };
}

// Between the steps a form nobody expected fails the test and is cancelled,
// instead of waiting for an answer that never comes.
inline void done_driving() {
  EXPECT_TRUE(g_steps.empty()) << g_steps.size() << " forms expected did not come";
  drive({});
}

template <class T = wxWindow>
T* child(wxWindow& form, const char* name) {
  wxWindow* w = form.FindWindow(name);
  EXPECT_NE(w, nullptr) << "no control " << name;
  auto* t = dynamic_cast<T*>(w);
  EXPECT_TRUE(!w || t) << name << " is not of the kind expected";
  return t;
}

inline void click(wxWindow* b) {
  ASSERT_NE(b, nullptr);
  wxCommandEvent e(wxEVT_BUTTON, b->GetId());
  e.SetEventObject(b);
  b->GetEventHandler()->ProcessEvent(e);
}

inline void menu(wxWindow& form, int item) {
  wxCommandEvent e(wxEVT_MENU, item);
  e.SetEventObject(&form);
  form.GetEventHandler()->ProcessEvent(e);
}

inline void choose(wxChoice* c, int index) {
  c->SetSelection(index);
  wxCommandEvent e(wxEVT_CHOICE, c->GetId());
  e.SetEventObject(c);
  e.SetInt(index);
  c->GetEventHandler()->ProcessEvent(e);
}

inline void select_row(wxListCtrl* list, long row) {
  for (long i = 0; i < list->GetItemCount(); ++i)
    list->SetItemState(i, i == row ? wxLIST_STATE_SELECTED : 0, wxLIST_STATE_SELECTED);
}

inline std::string cell(wxListCtrl* list, long row, int column) { return list->GetItemText(row, column).utf8_string(); }

// A step that answers a file dialog with a path (or cancels it with "").
inline std::function<void(wxDialog&)> file_answer(const std::string& chosen, std::string* proposed = nullptr) {
  return [chosen, proposed](wxDialog& d) {
    auto* fd = dynamic_cast<wxFileDialog*>(&d);
    ASSERT_NE(fd, nullptr) << "a file dialog was expected, not " << d.GetTitle().utf8_string();
    if (proposed) *proposed = fd->GetFilename().utf8_string();
    if (chosen.empty()) {
      fd->EndModal(wxID_CANCEL);
      return;
    }
    fd->SetPath(wxString::FromUTF8(chosen));
    // An open dialog's chooser selects the file once it has read its folder.
    pump(3000, [&] { return fd->GetPath().utf8_string() == chosen; });
    EXPECT_EQ(fd->GetPath().utf8_string(), chosen);
    fd->EndModal(wxID_OK);
  };
}

// A step that notes a message form's text and closes it.
inline std::function<void(wxDialog&)> note_message(std::string& text, const char* button = "MessFermer") {
  return [&text, button](wxDialog& d) {
    if (auto* t = dynamic_cast<wxStaticText*>(d.FindWindow("MessText"))) text = t->GetLabel().utf8_string();
    click(d.FindWindow(button));
  };
}

// A message's text as the form shows it has its lines wrapped: compared without line ends.
inline std::string unwrapped(const std::string& text) { return std::regex_replace(text, std::regex("\n"), " "); }

inline void shoot(wxWindow& form, const std::string& name) {
  pump(250);  // the last changes drawn (check marks come in with a short animation)
  EXPECT_TRUE(screenshot(form, name)) << name << " was not shown or blank";
}

// A page of a printed document drawn as a picture, saved beside the screenshots.
template <class Draw>
int picture_of_page(const std::string& name, Draw draw) {
  wxBitmap sheet(827, 1169);  // A4 at 100 pixels an inch
  wxMemoryDC dc(sheet);
  dc.SetBackground(*wxWHITE_BRUSH);
  dc.Clear();
  int pages = draw(dc, wxRect(0, 0, 827, 1169));
  dc.SelectObject(wxNullBitmap);
  EXPECT_TRUE(sheet.ConvertToImage().SaveFile(wxString::FromUTF8(screenshot_path(name)), wxBITMAP_TYPE_PNG));
  return pages;
}

struct SavedGlobals {
  uint32_t preferences = g_preferences, options = g_options;
  int size_project = g_reference_size_project, size_isoplus = g_reference_size_isoplus;
  int language = g_language_offset, mode = g_working_mode;
  ~SavedGlobals() {
    g_preferences = preferences;
    g_options = options;
    g_reference_size_project = size_project;
    g_reference_size_isoplus = size_isoplus;
    g_language_offset = language;
    g_working_mode = mode;
    set_auto_truncate_names(false);
  }
};

// The main window, started as the program starts it (arguments as its command line).
inline MainFrame* open_main_window(const std::vector<std::string>& args = {}) {
  auto* f = new MainFrame(nullptr);
  f->Show();
  f->start_up(args);
  pump(300);
  return f;
}

inline void close_main_window(MainFrame* f) {
  f->Close(true);
  pump(300);
}

}  // namespace formsteps
