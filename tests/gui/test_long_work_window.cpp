// Long work in the main window: the busy cursor the screen shows while it
// lasts, and the Esc key pressed from outside the program (the X server's
// test extension, as a keyboard would) stopping a copy onto a volume and off
// it, the volume left sound for our checker and for hfsutils.
#include <gtest/gtest.h>
#include <unistd.h>

#include <wx/app.h>
#include <wx/clipbrd.h>
#include <wx/dataobj.h>
#include <wx/listctrl.h>
#include <wx/statusbr.h>
#include <wx/timer.h>
#include <wx/treectrl.h>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "IO/busycursor.h"
#include "IO/strlib.h"
#include "IO/uitext.h"
#include "gui/mainframe.h"
#include "gui/volume/transfer_dialogs.h"
#include "gui/volume/volume_commands.h"
#include "gui/window_backends.h"
#include "gui_fixture.h"
#include "hfs/volcheck.h"
#include "hfs/volume.h"
#include "support/volume_images.h"
#include "x11probe.h"

using namespace guitest;
using testkit::quote;
using testkit::run;

namespace {

constexpr unsigned long k_escape = 0xff1b;

// A PC folder of count small files, each holding its own name.
void make_folder(const std::string& folder, int count) {
  testkit::fs::create_directories(folder);
  std::string body(4000, '.');
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%05d.txt", i);
    testkit::write_text(folder + "/" + name, std::string(name) + body);
  }
}

// The key pressed from another program once the copy runs (when_files: once
// that folder holds so many entries), with the pointer over the list.
std::vector<std::string> escape_presser(MainFrame* f, const std::string& when_files = "", int count = 0) {
  wxRect at = f->file_list()->GetScreenRect();
  std::vector<std::string> argv{"python3", std::string(CORVANE_SOURCE_DIR) + "/tests/gui/press_key.py",
                                std::to_string(k_escape), "--at", std::to_string(at.x + at.width / 2),
                                std::to_string(at.y + at.height / 2)};
  if (!when_files.empty()) argv.insert(argv.end(), {"--when-files", when_files, std::to_string(count)});
  return argv;
}

// Runs command in the window; at the work's first poll the presser starts
// and the cursor the screen shows is noted.
struct StoppedWork {
  unsigned long cursor_during = 0;
  std::unique_ptr<testkit::Started> presser;  // ended, if it still waits, with the test
  // presser_argv empty: it was started before (it waits for the work's files).
  void run_with_escape(MainFrame* f, const std::string& command, const std::vector<std::string>& presser_argv) {
    wxTimer timer;
    bool started = false;
    timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
      if (started || !busy_cursor_running()) return;
      started = true;
      cursor_during = shown_cursor();
      if (!presser_argv.empty()) presser = std::make_unique<testkit::Started>(presser_argv);
    });
    timer.Start(5);
    f->run_command(command);
    timer.Stop();
    EXPECT_TRUE(started) << "the work let no event run";
  }
};

// The files a copy's last status text counts ("Copy stopped ... - Copied: 12 f.
// (...)"), when it begins with the text head; -1 otherwise.
int copied_count(const std::string& status, int head) {
  const std::string counts = ui_text(1122).substr(0, ui_text(1122).find('%'));
  size_t at = status.find(counts);
  if (status.rfind(ui_text(head), 0) != 0 || at == std::string::npos) return -1;
  return std::atoi(status.c_str() + at + counts.size());
}

void paste_folder(const std::string& folder) {
  wxClipboardLocker lock;
  auto* files = new wxFileDataObject;
  files->AddFile(wxString::FromUTF8(folder));
  ASSERT_TRUE(wxTheClipboard->SetData(files));
}

}  // namespace

TEST(LongWork, BusyCursorShowsOverTheWindowWhileTheWorkLasts) {
  auto* f = new MainFrame(nullptr);
  f->Show();
  f->start_up({});
  pump(300);
  wxRect at = f->file_list()->GetScreenRect();
  move_pointer(at.x + at.width / 2, at.y + at.height / 2);
  pump(200);
  const unsigned long idle = shown_cursor();
  ASSERT_NE(idle, 0u);
  start_busy_cursor();
  start_busy_cursor();  // no nesting: one stop ends it
  pump(200);
  const unsigned long busy = shown_cursor();
  EXPECT_NE(busy, idle);
  EXPECT_TRUE(wxIsBusy());
  stop_busy_cursor();
  pump(200);
  EXPECT_FALSE(wxIsBusy());
  EXPECT_EQ(shown_cursor(), idle);
  // The desktop's busy cursor: the one a window asks for with the wait cursor.
  f->file_list()->SetCursor(wxCursor(wxCURSOR_WAIT));
  pump(200);
  EXPECT_NE(shown_cursor(), idle);
  f->file_list()->SetCursor(wxNullCursor);
  f->Close(true);
  pump(300);
}

TEST(LongWork, EscapeStopsCopiesOntoAndOffTheVolumeCleanly) {
  REQUIRE_TOOL("hformat");
  testkit::TempDir dir;
  // Enough files that the copy outlasts the start of the key's presser.
  const int n = 4000;
  make_folder(dir.str("kept"), n);
  make_folder(dir.str("stopped"), n);
  std::string img = dir.str("window.hfs");
  testkit::fs::rename(volkit::hformat_image(dir, "Esc Vol", "48M"), img);
  auto* f = new MainFrame(nullptr);
  f->Show();
  f->start_up({img});
  pump(400);
  ASSERT_EQ(g_working_mode, k_mode_partition);
  ASSERT_TRUE(g_volume.mounted);
  const std::string question = ui_text(1124);
  wxRect list_at = f->file_list()->GetScreenRect();
  move_pointer(list_at.x + list_at.width / 2, list_at.y + list_at.height / 2);
  pump(100);
  const unsigned long idle = shown_cursor();

  // Esc, then No: the copy goes on to its end.
  paste_folder(dir.str("kept"));
  answer_forms({{"MessNon", "", "escape_question"}});
  StoppedWork go_on;
  go_on.run_with_escape(f, "DrExpl", escape_presser(f));
  ASSERT_EQ(g_seen_forms.size(), 1u);
  EXPECT_EQ(g_seen_forms[0].text, question);
  EXPECT_NE(go_on.cursor_during, idle) << "no busy cursor during the copy";
  EXPECT_EQ(shown_cursor(), idle);
  // The status bar says how many files went over.
  wxStatusBar* bar = f->GetStatusBar();
  EXPECT_EQ(copied_count(bar->GetStatusText(4).utf8_string(), 1135), n) << bar->GetStatusText(4).utf8_string();

  // Esc, then Yes: the copy stops between two files.
  paste_folder(dir.str("stopped"));
  answer_forms({{"MessOui", "", ""}});
  StoppedWork stop;
  stop.run_with_escape(f, "DrExpl", escape_presser(f));
  ASSERT_EQ(g_seen_forms.size(), 1u);
  EXPECT_EQ(g_seen_forms[0].text, question);
  answer_forms({});
  const std::string stopped_status = bar->GetStatusText(4).utf8_string();
  pump(200);  // the list drawn again before its picture
  EXPECT_TRUE(screenshot(f->GetTitle().utf8_string(), "copy_stopped_onto_volume"));
  std::vector<std::string> faults;
  EXPECT_EQ(check_volume(faults), 0) << (faults.empty() ? "" : faults[0]);
  f->run_command("Fermer2");
  pump(200);

  std::set<std::string> kept = volkit::hls_names(img, ":kept"), stopped = volkit::hls_names(img, ":stopped");
  EXPECT_EQ(int(kept.size()), n);
  EXPECT_GT(stopped.size(), 0u);
  EXPECT_LT(int(stopped.size()), n) << "the copy was not stopped";
  // After Esc, Yes the status bar still says how many files were copied: as many as hfsutils finds.
  EXPECT_EQ(copied_count(stopped_status, 1134), int(stopped.size())) << stopped_status;
  // What was copied is whole: the last file in, read back by hfsutils.
  if (!stopped.empty()) {
    std::string last = *stopped.rbegin();
    auto r = run("hmount " + quote(img) + " >/dev/null && hcopy -r " + quote(":stopped:" + last) + " " +
                 quote(dir.str("back.txt")) + " && humount >/dev/null");
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(testkit::read_text(dir.str("back.txt")), testkit::read_text(dir.str("stopped/" + last)));
  }

  // Off the volume: Esc once a hundred files are out, Yes.
  ASSERT_TRUE(f->open_document(img, 1));
  pump(200);
  std::string out = dir.str("out");
  testkit::fs::create_directories(out);
  auto saved_destination = g_volume_dialogs.destination;
  g_volume_dialogs.destination = [out] {
    g_destination_path = out + "/";
    return true;
  };
  // The tree's "kept" folder is the one copied.
  wxTreeCtrl* tree = f->folder_tree();
  wxTreeItemIdValue cookie;
  for (wxTreeItemId c = tree->GetFirstChild(tree->GetRootItem(), cookie); c.IsOk();
       c = tree->GetNextChild(tree->GetRootItem(), cookie))
    if (tree->GetItemText(c) == "kept") tree->SelectItem(c);
  pump(200);
  g_popup_source = 0;
  answer_forms({{"MessOui", "", ""}});
  StoppedWork off;
  off.presser = std::make_unique<testkit::Started>(escape_presser(f, out + "/kept", 100));
  off.run_with_escape(f, "MPC1", {});
  g_volume_dialogs.destination = saved_destination;
  ASSERT_EQ(g_seen_forms.size(), 1u);
  EXPECT_EQ(g_seen_forms[0].text, question);
  answer_forms({});
  std::vector<std::string> written;
  for (const auto& e : testkit::fs::directory_iterator(out + "/kept")) written.push_back(e.path().filename().string());
  EXPECT_GE(written.size(), 100u);
  EXPECT_LT(int(written.size()), n) << "the copy was not stopped";
  // Off the volume too: the copy's one panel says how many files reached the PC.
  const std::string off_status = bar->GetStatusText(0).utf8_string();
  EXPECT_EQ(copied_count(off_status, 1134), int(written.size())) << off_status;
  EXPECT_TRUE(screenshot(f->GetTitle().utf8_string(), "copy_stopped_off_volume"));
  for (const std::string& name : written)
    EXPECT_EQ(testkit::read_text(out + "/kept/" + name), testkit::read_text(dir.str("kept/" + name))) << name;
  f->Close(true);
  pump(300);
}

namespace {

// The main window's status bar during a paste into the project: the three
// panels of the running counts, read each time the inclusion shows them (the
// window's own forms, watched), once the pending paint has run.
struct CountsSeen {
  std::vector<std::array<std::string, 3>> panels;
  bool picture_taken = false;
};

class WatchedForms : public GuiForms {
 public:
  WatchedForms(GuiForms* inner, std::function<void()> shown) : inner_(inner), shown_(std::move(shown)) {}
  void message(const std::string& text, int timeout_ms) override { inner_->message(text, timeout_ms); }
  bool yes_no(const std::string& text) override { return inner_->yes_no(text); }
  int yes_no_remember(const std::string& text) override { return inner_->yes_no_remember(text); }
  bool announcement(const std::string& text) override { return inner_->announcement(text); }
  void status_text(const std::string& text) override { inner_->status_text(text); }
  void simple_status_text(const std::string& text) override { inner_->simple_status_text(text); }
  void elapsed_time(const std::string& text) override { inner_->elapsed_time(text); }
  void progress_bar(int action, int value) override { inner_->progress_bar(action, value); }
  void status_panel(int panel, const std::string& text) override {
    inner_->status_panel(panel, text);
    if (panel == 3 && !text.empty()) shown_();  // the last of the three counts
  }
  int print_lines(const std::string& title, const std::vector<std::string>& lines) override {
    return inner_->print_lines(title, lines);
  }
  void end_program(int code) override { inner_->end_program(code); }

 private:
  GuiForms* inner_;
  std::function<void()> shown_;
};

CountsSeen paste_into_project(MainFrame* f, const std::string& folder, const std::string& picture) {
  CountsSeen seen;
  paste_folder(folder);
  WatchedForms watched(g_gui_forms, [&] {
    if (!busy_cursor_running()) return;
    yield_while_busy();  // the panels drawn, as the work's own poll lets them be
    wxStatusBar* bar = f->GetStatusBar();
    if (seen.panels.empty()) g_operation_start_ms -= 65000;  // as if it had begun more than a minute ago
    seen.panels.push_back({bar->GetStatusText(1).utf8_string(), bar->GetStatusText(2).utf8_string(),
                           bar->GetStatusText(3).utf8_string()});
    // The counts are shown ten times a second at most, and a few thousand files
    // may take less: until a file is counted (the folders come first), each
    // showing holds the work past that interval.
    const std::string files_shown = seen.panels.back()[2];
    const bool no_file_yet = files_shown.empty() || files_shown.find_first_of("123456789") == std::string::npos;
    if (no_file_yet && seen.panels.size() < 60) std::this_thread::sleep_for(std::chrono::milliseconds(105));
    if (!seen.picture_taken && !no_file_yet && !picture.empty()) {
      for (const ProbeWindow& w : windows_of(::getpid()))
        if (w.title == f->GetTitle().utf8_string()) seen.picture_taken = save_window_png(w, screenshot_path(picture));
    }
  });
  GuiForms* saved = g_gui_forms;
  g_gui_forms = &watched;
  f->run_command("DrExpl");
  g_gui_forms = saved;
  return seen;
}

int count_of(const std::string& text, const std::string& format_head) {
  return text.rfind(format_head, 0) == 0 ? std::atoi(text.c_str() + format_head.size()) : -1;
}

}  // namespace

TEST(LongWork, InclusionShowsItsRunningCountsAndReportsALongOne) {
  testkit::TempDir dir;
  for (int d = 0; d < 20; ++d) make_folder(dir.str("en/set" + std::to_string(d)), 300);
  for (int d = 0; d < 10; ++d) make_folder(dir.str("fr/set" + std::to_string(d)), 150);
  auto* f = new MainFrame(nullptr);
  f->Show();
  f->start_up({});
  pump(300);
  ASSERT_EQ(g_working_mode, k_mode_project);
  for (int language : {0, 10000}) {
    f->run_command(language ? "Fr1" : "En2");
    const std::string pc = dir.str(language ? "fr" : "en");
    answer_forms({{"MessFermer", "", language ? "inclusion_report_french" : "inclusion_report"}});
    CountsSeen seen = paste_into_project(f, pc, language ? "inclusion_counts_french" : "inclusion_counts");
    ASSERT_EQ(g_seen_forms.size(), 1u);
    const std::string report = g_seen_forms[0].text;
    answer_forms({});
    EXPECT_TRUE(seen.picture_taken);
    // The counts only grow, and the last shown is at most what find counts.
    auto peer = run("find " + quote(pc) + " -type f | wc -l; find " + quote(pc) + " -type d | wc -l");
    std::istringstream in(peer.out);
    int files = 0, folders = 0;
    in >> files >> folders;
    ASSERT_EQ(files, language ? 1500 : 6000);
    ASSERT_GE(seen.panels.size(), 1u);
    std::string folder_head = ui_text(1016).substr(0, ui_text(1016).find('%'));
    std::string file_head = ui_text(1015).substr(0, ui_text(1015).find('%'));
    int last_files = 0;
    // The panels of the folder's counts: the time, then the folders and the files.
    for (const auto& p : seen.panels) {
      if (p[2].empty()) continue;
      int n = count_of(p[2], file_head);
      EXPECT_GE(n, last_files) << p[2];
      EXPECT_LE(n, files);
      EXPECT_LE(count_of(p[1], folder_head), folders);
      EXPECT_NE(p[0].find('\''), std::string::npos) << p[0];
      last_files = n;
    }
    if (language == 0) {
      std::string all;
      for (const auto& p : seen.panels) all += "[" + p[0] + "|" + p[1] + "|" + p[2] + "]";
      EXPECT_GT(last_files, 0) << "no running count seen " << all;
    }
    // The report names what was added: every folder (the pasted one too) and file.
    EXPECT_NE(report.find(" " + std::to_string(folders) + " "), std::string::npos) << report;
    EXPECT_NE(report.find(" " + std::to_string(files) + " "), std::string::npos) << report;
    EXPECT_EQ(report.rfind(ui_text(1457).substr(0, ui_text(1457).find('%')), 0), 0u) << report;
    // After it the panels are the folder's again.
    EXPECT_EQ(f->GetStatusBar()->GetStatusText(1).utf8_string(), "");
  }
  f->run_command("En2");
  g_file_dialog_answer = [](const std::string&) { return std::string(); };  // the scratch project is not kept
  f->Close(true);
  pump(300);
  g_file_dialog_answer = nullptr;
}
