// What the dialog window tests share: a driver that runs one step on each
// modal form as it comes up (once drawn), the control actions a user makes,
// a stand-in for the main window's views, and the outside tools' listings.
#pragma once

#include <wx/app.h>
#include <wx/checkbox.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/listctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include <chrono>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "IO/ui_services.h"
#include "compiler/project.h"
#include "gui/forms/messageforms.h"
#include "gui/mainframe.h"
#include "gui/mainviews.h"
#include "gui_fixture.h"

namespace dialogtest {

using Step = std::function<void(wxDialog&)>;

struct Driver {
  std::vector<Step> steps;
  size_t next = 0;
  std::vector<std::string> forms;  // names of the forms shown, in order
  std::vector<std::string> texts;  // the text of each message form ("" for others)
};
inline Driver g_driver;

// Each modal form gets the next step once it is drawn; a form still up after
// its step is cancelled. A form beyond the steps fails the test.
inline void drive(std::vector<Step> steps) {
  g_driver = Driver{std::move(steps), 0, {}, {}};
  g_modal_driver = [](wxDialog& d) {
    g_driver.forms.push_back(d.GetName().utf8_string());
    auto* text = dynamic_cast<wxStaticText*>(d.FindWindow("MessText"));
    g_driver.texts.push_back(text ? text->GetLabel().utf8_string() : std::string());
    if (g_driver.next >= g_driver.steps.size()) {
      ADD_FAILURE() << "a form nobody expected: " << d.GetName() << " " << d.GetTitle();
      d.EndModal(wxID_CANCEL);
      return;
    }
    Step step = g_driver.steps[g_driver.next++];
    auto* timer = new wxTimer;
    timer->Bind(wxEVT_TIMER, [&d, step, timer](wxTimerEvent&) {
      step(d);
      if (d.IsModal()) d.EndModal(wxID_CANCEL);
      wxTheApp->CallAfter([timer] { delete timer; });
    });
    timer->StartOnce(300);
  };
}
inline void stop_driving() { g_modal_driver = nullptr; }
inline bool all_steps_run() { return g_driver.next == g_driver.steps.size() && g_modal_depth == 0; }

// A message's text as the form shows it may be wrapped: blanks and line breaks count alike.
inline std::string words(const std::string& text) {
  std::string out;
  for (char c : text) {
    bool blank = c == ' ' || c == '\n';
    if (blank && (out.empty() || out.back() == ' ')) continue;
    out.push_back(blank ? ' ' : c);
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

template <class T>
T* control(wxWindow& d, const char* name) {
  auto* w = dynamic_cast<T*>(d.FindWindow(name));
  EXPECT_NE(w, nullptr) << "no control " << name << " in " << d.GetName();
  return w;
}

inline void click(wxWindow& d, const char* name) {
  wxWindow* b = control<wxWindow>(d, name);
  if (!b) return;
  wxCommandEvent e(wxEVT_BUTTON, b->GetId());
  e.SetEventObject(b);
  b->GetEventHandler()->ProcessEvent(e);
}

inline void type(wxWindow& d, const char* name, const std::string& text) {
  if (auto* t = control<wxTextCtrl>(d, name)) t->SetValue(wxString::FromUTF8(text));  // as typed: wxEVT_TEXT follows
}

// Typed key by key: an edit limited in length takes what fits.
inline void keys(wxWindow& d, const char* name, const std::string& text) {
  auto* t = control<wxTextCtrl>(d, name);
  if (!t) return;
  t->Clear();
  wxString all = wxString::FromUTF8(text);
  for (size_t i = 0; i < all.length(); ++i) t->AppendText(all.Mid(i, 1));
}

inline std::string text_of(wxWindow& d, const char* name) {
  wxWindow* w = control<wxWindow>(d, name);
  if (auto* t = dynamic_cast<wxTextCtrl*>(w)) return t->GetValue().utf8_string();
  return w ? w->GetLabel().utf8_string() : std::string();
}

// A box clicked: a two-state box is set, a three-state one moves to its next state.
inline void tick(wxWindow& d, const char* name, bool on) {
  auto* c = control<wxCheckBox>(d, name);
  if (!c) return;
  c->SetValue(on);
  wxCommandEvent e(wxEVT_CHECKBOX, c->GetId());
  e.SetInt(on);
  e.SetEventObject(c);
  c->GetEventHandler()->ProcessEvent(e);
}
inline void click_box(wxWindow& d, const char* name) {
  auto* c = control<wxCheckBox>(d, name);
  if (!c) return;
  wxCommandEvent e(wxEVT_CHECKBOX, c->GetId());
  e.SetEventObject(c);
  c->GetEventHandler()->ProcessEvent(e);
}

inline void select_row(wxWindow& d, const char* list_name, long row) {
  if (auto* l = control<wxListCtrl>(d, list_name)) l->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
}

inline void shot(wxDialog& d, const std::string& name) {
  d.Refresh();
  guitest::pump(250);  // what the steps changed is drawn first
  EXPECT_TRUE(guitest::screenshot(d, name)) << "form " << name << " not shown or blank";
}

// Steps for the message forms.
inline Step close_message(const std::string& picture = "") {
  return [picture](wxDialog& d) {
    if (!picture.empty()) shot(d, picture);
    click(d, "MessFermer");
  };
}
inline Step answer(bool yes) {
  return [yes](wxDialog& d) { click(d, yes ? "MessOui" : "MessNon"); };
}

// The window's own views: rows of folder selected in the list (the last
// selection made there), or folder selected in the tree.
inline void select_rows(MainFrame* f, int32_t folder, const std::vector<int32_t>& ids) {
  f->show_items(folder, ids);
  guitest::pump(50);
}
inline void select_in_tree(MainFrame* f, int32_t folder) {
  f->show_item(folder, 0);
  g_popup_source = 0;
  f->update_commands();
  guitest::pump(50);
}
inline std::vector<int32_t> selected_ids(MainFrame* f) {
  std::vector<int32_t> ids;
  for (const FileTableEntry& e : f->selected_entries()) ids.push_back(e.id);
  return ids;
}

inline MainFrame* open_window(const std::vector<std::string>& args = {}) {
  auto* f = new MainFrame(nullptr);
  f->Show();
  f->start_up(args);
  guitest::pump(300);
  return f;
}

inline void close_window(MainFrame* f) {
  stop_driving();
  f->Close(true);
  guitest::pump(300);
}

// Runs the event loop itself (which wakes at once for work the compile worker
// posts) until done holds or ms have passed.
inline void run_loop_until(int ms, const std::function<bool()>& done) {
  if (done()) return;
  wxGUIEventLoop loop;
  wxTimer timer;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    if (done() || std::chrono::steady_clock::now() > end) loop.Exit();
  });
  timer.Start(50);
  loop.Run();
  timer.Stop();
  guitest::pump(50);  // what was left, windows destroyed included
}

// Runs a command of the window and waits for its forms and its compile to end.
inline void run_and_wait(MainFrame* f, const std::string& command, int ms = 60000) {
  f->run_command(command);
  run_loop_until(ms, [] { return all_steps_run() && g_compile_state.load() == 1; });
  EXPECT_TRUE(all_steps_run()) << command << ": " << g_driver.next << " of " << g_driver.steps.size()
                               << " forms came";
}

// The records of a project file, by id.
inline std::vector<ProjectRecord> project_records(const std::string& path) {
  std::vector<ProjectRecord> v;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return v;
  std::fseek(f, long(k_project_record_size), SEEK_SET);
  ProjectRecord r;
  while (read_project_record(f, r)) v.push_back(r);
  std::fclose(f);
  return v;
}
inline const ProjectRecord* record_named(const std::vector<ProjectRecord>& v, const std::string& pc_name) {
  for (const ProjectRecord& r : v)
    if (r.pc_name == pc_name) return &r;
  return nullptr;
}

// The names of an "isoinfo -l" listing (after the extent column, without the
// version), "." and ".." left out.
inline std::set<std::string> isoinfo_names(const std::string& listing) {
  std::set<std::string> names;
  std::istringstream in(listing);
  std::string line;
  while (std::getline(in, line)) {
    size_t at = line.find("]  ");
    if (at == std::string::npos) continue;
    std::string name = line.substr(at + 3);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\r')) name.pop_back();
    if (name.size() > 2 && name.compare(name.size() - 2, 2, ";1") == 0) name.resize(name.size() - 2);
    if (!name.empty() && name != "." && name != "..") names.insert(name);
  }
  return names;
}

// The names of an "hls -1aR" listing (folder headers and blank lines left out).
inline std::set<std::string> hls_names(const std::string& listing) {
  std::set<std::string> names;
  std::istringstream in(listing);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty() && line[0] != ':') names.insert(line);
  return names;
}

// A shell command with hfsutils on the image's first HFS partition, its
// current volume kept in a folder of its own.
inline std::string on_hfs(const std::string& image, const std::string& home, const std::string& commands) {
  return "export HOME=" + testkit::quote(home) + "; hmount " + testkit::quote(image) + " >/dev/null && { " +
         commands + "; }; rc=$?; humount >/dev/null 2>&1; exit $rc";
}

}  // namespace dialogtest
