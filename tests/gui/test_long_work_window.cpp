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

#include <set>

#include "IO/busycursor.h"
#include "IO/uitext.h"
#include "gui/dialogs/transfer_dialogs.h"
#include "gui/logic/volume_images.h"
#include "gui/mainframe.h"
#include "gui/volume_commands.h"
#include "gui_fixture.h"
#include "hfs/volcheck.h"
#include "hfs/volume.h"
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
std::string press_escape_command(MainFrame* f, const std::string& when_files = "", int count = 0) {
  wxRect at = f->file_list()->GetScreenRect();
  std::string cmd = "python3 " + quote(std::string(CORVANE_SOURCE_DIR) + "/tests/gui/press_key.py") + " " +
                    std::to_string(k_escape) + " --at " + std::to_string(at.x + at.width / 2) + " " +
                    std::to_string(at.y + at.height / 2);
  if (!when_files.empty()) cmd += " --when-files " + quote(when_files) + " " + std::to_string(count);
  return cmd + " &";
}

// Runs command in the window; at the work's first poll the presser starts
// and the cursor the screen shows is noted.
struct StoppedWork {
  unsigned long cursor_during = 0;
  // presser empty: it was started before (it waits for the work's files).
  void run_with_escape(MainFrame* f, const std::string& command, const std::string& presser) {
    wxTimer timer;
    bool started = false;
    timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
      if (started || !busy_cursor_running()) return;
      started = true;
      cursor_during = shown_cursor();
      if (!presser.empty() && std::system(presser.c_str()) != 0) ADD_FAILURE() << "the key presser did not start";
    });
    timer.Start(5);
    f->run_command(command);
    timer.Stop();
    EXPECT_TRUE(started) << "the work let no event run";
  }
};

std::set<std::string> hls_names(const std::string& img, const std::string& folder) {
  auto r = run("hmount " + quote(img) + " >/dev/null && hls -1 -a " + quote(folder) + " && humount >/dev/null");
  EXPECT_EQ(r.rc, 0) << r.err;
  std::set<std::string> names;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) names.insert(line);
  return names;
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
  const int n = 1500;
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
  go_on.run_with_escape(f, "DrExpl", press_escape_command(f));
  ASSERT_EQ(g_seen_forms.size(), 1u);
  EXPECT_EQ(g_seen_forms[0].text, question);
  EXPECT_NE(go_on.cursor_during, idle) << "no busy cursor during the copy";
  EXPECT_EQ(shown_cursor(), idle);

  // Esc, then Yes: the copy stops between two files.
  paste_folder(dir.str("stopped"));
  answer_forms({{"MessOui", "", ""}});
  StoppedWork stop;
  stop.run_with_escape(f, "DrExpl", press_escape_command(f));
  ASSERT_EQ(g_seen_forms.size(), 1u);
  EXPECT_EQ(g_seen_forms[0].text, question);
  answer_forms({});
  std::vector<std::string> faults;
  EXPECT_EQ(check_volume(faults), 0) << (faults.empty() ? "" : faults[0]);
  f->run_command("Fermer2");
  pump(200);

  std::set<std::string> kept = hls_names(img, ":kept"), stopped = hls_names(img, ":stopped");
  EXPECT_EQ(int(kept.size()), n);
  EXPECT_GT(stopped.size(), 0u);
  EXPECT_LT(int(stopped.size()), n) << "the copy was not stopped";
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
  ASSERT_EQ(std::system(press_escape_command(f, out + "/kept", 100).c_str()), 0);
  off.run_with_escape(f, "MPC1", "");
  g_volume_dialogs.destination = saved_destination;
  ASSERT_EQ(g_seen_forms.size(), 1u);
  EXPECT_EQ(g_seen_forms[0].text, question);
  answer_forms({});
  std::vector<std::string> written;
  for (const auto& e : testkit::fs::directory_iterator(out + "/kept")) written.push_back(e.path().filename().string());
  EXPECT_GE(written.size(), 100u);
  EXPECT_LT(int(written.size()), n) << "the copy was not stopped";
  for (const std::string& name : written)
    EXPECT_EQ(testkit::read_text(out + "/kept/" + name), testkit::read_text(dir.str("kept/" + name))) << name;
  f->Close(true);
  pump(300);
}
