// A compile started from the window: on its worker, its progress carried to
// the window, its image judged by outside tools and, with the clock frozen,
// equal to the console's.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include <wx/listctrl.h>
#include <wx/stattext.h>

#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/project.h"
#include "gui/app.h"
#include "gui/compile/compileworker.h"
#include "gui/compile/progresslogic.h"
#include "gui/forms/messageforms.h"
#include "gui/guiforms.h"
#include "gui/guithread.h"
#include "gui/instance.h"
#include "gui/mainframe.h"
#include "gui/views/mode_views.h"
#include "gui_fixture.h"

using namespace guitest;

namespace {

const std::string k_quorvel = QUORVEL_PATH;
const std::string k_corvane = CORVANE_PATH;

std::string make_project(const testkit::TempDir& dir, size_t big_file_bytes) {
  testkit::fs::create_directories(dir.path() / "src" / "inner");
  testkit::write_file(dir.path() / "src" / "readme.txt", testkit::random_bytes(3000, 1));
  testkit::write_file(dir.path() / "src" / "inner" / "big.bin", testkit::random_bytes(big_file_bytes, 2));
  testkit::write_file(dir.path() / "src" / "inner" / "small.dat", testkit::random_bytes(10, 3));
  std::string project = dir.str("p.cvpr");
  std::string q = testkit::quote(k_quorvel) + " ";
  EXPECT_EQ(testkit::run(q + "-f " + testkit::quote(project) + " docs").rc, 0);
  EXPECT_EQ(testkit::run(q + "-i " + testkit::quote(project) + " " + testkit::quote(dir.str("src"))).rc, 0);
  return project;
}

// While the gate is shut the worker waits as it begins a file, once it has
// begun `pass` files, so a compile is sure to be running (and its progress
// dialog to show those files) whatever events run meanwhile.
std::mutex g_gate_lock;
std::condition_variable g_gate_wake;
bool g_gate_open = true;
void shut_compile_gate(int pass = 0) {
  {
    std::lock_guard<std::mutex> lock(g_gate_lock);
    g_gate_open = false;
  }
  auto begun = std::make_shared<int>(0);
  g_compile_progress.set_file_start_watcher([begun, pass] {
    if ((*begun)++ < pass) return;
    std::unique_lock<std::mutex> lock(g_gate_lock);
    g_gate_wake.wait(lock, [] { return g_gate_open; });
  });
}
void open_compile_gate() {
  {
    std::lock_guard<std::mutex> lock(g_gate_lock);
    g_gate_open = true;
  }
  g_gate_wake.notify_all();
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The compile's Save dialog answered with the image beside the project.
void target_beside(const testkit::TempDir& dir) {
  std::string target = dir.str("p.iso");
  g_file_dialog_answer = [target](const std::string&) { return target; };
}

// The main window on project, its compiles writing p.iso beside it.
MainFrame* window_on(const std::string& project, const testkit::TempDir& dir) {
  auto* f = new MainFrame(nullptr);
  f->Show();
  f->start_up({project});
  pump(300);
  target_beside(dir);
  return f;
}

// The window closed, the forms no longer answered.
void close_compile_window(MainFrame* f) {
  answer_forms({});
  g_file_dialog_answer = nullptr;
  f->Close(true);
  pump(200);
}

// Until the compile has ended and its two forms (the options, the result) have closed.
void wait_for_compile_forms() {
  pump(120000, [] { return compile_idle() && g_seen_forms.size() >= 2 && g_modal_depth == 0; });
}

}  // namespace

TEST(GuiCompile, ImageOfTheWindowPassesOutsideToolsAndEqualsTheConsoles) {
  testkit::TempDir dir;
  std::string project = make_project(dir, 6 << 20);
  MainFrame* f = window_on(project, dir);
  answer_forms({{"OK", "", ""}, {"MessFermer", "", "compile_succeeded"}});
  // Held as its third file begins: the dialog shows the two before it.
  shut_compile_gate(2);
  f->run_command("Compil1");
  EXPECT_FALSE(compile_idle());
  pump(3000, [] { return g_compile_progress.files() >= 2; });
  pump(2 * k_progress_timer_ms);
  EXPECT_TRUE(screenshot(ui_text(1390), "compile_progress"));
  auto* progress = dynamic_cast<wxStaticText*>(wxWindow::FindWindowByName("CorvexBar1") ?
                   wxWindow::FindWindowByName("CorvexBar1")->GetChildren()[1] : nullptr);
  ASSERT_NE(progress, nullptr);
  EXPECT_EQ(progress->GetLabel().utf8_string(), format_text(ui_text(1015).c_str(), 2)) << "the files finished";
  open_compile_gate();
  g_compile_progress.set_file_start_watcher(nullptr);
  wait_for_compile_forms();
  ASSERT_TRUE(compile_idle());
  ASSERT_EQ(g_seen_forms.size(), 2u);
  EXPECT_TRUE(ends_with(g_seen_forms.back().text, "Compilation succeeded.")) << g_seen_forms.back().text;
  close_compile_window(f);

  std::string image = dir.str("p.iso"), gui_image = dir.str("gui.iso");
  ASSERT_TRUE(testkit::fs::exists(image));
  testkit::fs::rename(image, gui_image);
  std::string qi = testkit::quote(gui_image);
  REQUIRE_TOOL("isovfy");
  testkit::RunResult v = testkit::run("isovfy " + qi);
  EXPECT_EQ(v.rc, 0) << v.out << v.err;
  EXPECT_EQ(v.out.find("***"), std::string::npos) << v.out;
  testkit::RunResult j = testkit::run("isoinfo -J -f -i " + qi);
  EXPECT_NE(j.out.find("/src/inner/big.bin"), std::string::npos) << j.out << j.err;
  testkit::RunResult m = testkit::run("mmls -t mac " + qi);
  EXPECT_EQ(m.rc, 0) << m.err;
  EXPECT_NE(m.out.find("Apple_HFS"), std::string::npos) << m.out;
  testkit::RunResult h = testkit::run("hmount " + qi + " >/dev/null && hls -R; rc=$?; humount >/dev/null; exit $rc");
  EXPECT_EQ(h.rc, 0) << h.err;
  EXPECT_NE(h.out.find("big.bin"), std::string::npos) << h.out;

  // The console's compile of the same project and options, the clock frozen for both.
  ASSERT_EQ(testkit::run(testkit::quote(k_quorvel) + " -c " + testkit::quote(project)).rc, 0);
  if (!std::getenv("FAKETIME")) GTEST_SKIP() << "the clock is not frozen: images carry their own times";
  EXPECT_EQ(testkit::run("cmp " + qi + " " + testkit::quote(image)).rc, 0) << "the window's image differs";
}

TEST(GuiCompile, AbortKeepsTheImageMadeBeforeAndTheStateIdle) {
  testkit::TempDir dir;
  std::string project = make_project(dir, 8 << 20);
  MainFrame* f = window_on(project, dir);
  answer_forms({{"OK", "", ""}, {"MessFermer", "", "close_refused"}, {"MessFermer", "", "compile_aborted"}});
  // The compile waits at its third file until it is let go, so its progress
  // (in French) and the refusal are shown, and photographed, with nothing else over them.
  f->run_command("Fr1");
  shut_compile_gate(2);
  f->run_command("Compil1");
  ASSERT_FALSE(compile_idle());
  // The image of an earlier compile, at the target the new one is aborted on.
  std::vector<uint8_t> earlier = testkit::random_bytes(70000, 9);
  testkit::write_file(dir.path() / "p.iso", earlier);
  pump(3000, [] { return g_compile_progress.files() >= 2; });
  pump(2 * k_progress_timer_ms);
  EXPECT_TRUE(screenshot(ui_text(1390), "compile_progress_fr"));
  f->Close();  // refused while the compile runs
  pump(100);
  EXPECT_EQ(g_main_frame, f);
  EXPECT_EQ(g_seen_forms.size(), 2u);
  f->run_command("Compil1");  // now "Abort Compilation"
  f->run_command("Compil1");  // again while the abort is pending: nothing new starts
  open_compile_gate();
  pump(60000, [] { return compile_idle() && g_seen_forms.size() >= 3 && g_modal_depth == 0; });
  EXPECT_TRUE(compile_idle());
  EXPECT_EQ(testkit::read_file(dir.path() / "p.iso"), earlier) << "the aborted compile took the earlier image";
  size_t files = 0;
  for (const auto& e : testkit::fs::directory_iterator(dir.path())) files += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 3u) << "the aborted compile left a file beside its target";  // p.cvpr, p.bak, p.iso
  ASSERT_EQ(g_seen_forms.size(), 3u);
  // The forms wrap their texts, the longer French ones more: compared with their breaks as blanks.
  for (SeenForm& seen : g_seen_forms) std::replace(seen.text.begin(), seen.text.end(), '\n', ' ');
  EXPECT_EQ(g_seen_forms[1].text, ui_text(2902));
  EXPECT_EQ(g_seen_forms[2].text, ui_text(1395));
  f->run_command("En2");
  g_compile_progress.set_file_start_watcher(nullptr);
  answer_forms({});
  g_file_dialog_answer = nullptr;
  f->Close();
  pump(200);
  EXPECT_EQ(g_main_frame, nullptr);
}

TEST(GuiCompile, HandOverDuringACompileIsRefusedAndTheCompileGoesOn) {
  testkit::TempDir dir;
  std::string project = make_project(dir, 4 << 20);
  std::string other = dir.str("other.cvpr");
  ASSERT_EQ(testkit::run(testkit::quote(k_quorvel) + " -f " + testkit::quote(other) + " x").rc, 0);
  InstanceChannel channel;
  std::string error;
  ASSERT_EQ(claim_instance(channel, error), 1) << error;
  auto* f = new MainFrame(&channel);
  f->Show();
  f->start_up({project});
  pump(300);
  target_beside(dir);
  answer_forms({{"OK", "", ""}, {"MessFermer", "", ""}});
  f->run_command("Compil1");
  ASSERT_FALSE(compile_idle());
  // A second start with a document while the compile runs. Its hand-over is
  // taken here without running the events, so the compile, whose end is only
  // taken on this thread's events, is sure to be running still.
  std::atomic<bool> ended{false};
  testkit::RunResult second;
  std::thread start([&] {
    second = testkit::run(testkit::quote(k_corvane) + " " + testkit::quote(other));
    ended = true;
  });
  for (int i = 0; i < 600 && !ended; ++i) {
    f->poll_handover();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  start.join();
  EXPECT_EQ(second.rc, 1);
  EXPECT_NE(second.err.find(ui_text(2902)), std::string::npos) << "the second start says nothing: " << second.err;
  EXPECT_FALSE(compile_idle());
  EXPECT_EQ(g_modal_depth, 0) << "the refusal opened a form in the running window";
  // The compile runs to its end on the document it began with.
  wait_for_compile_forms();
  ASSERT_TRUE(compile_idle());
  ASSERT_EQ(g_seen_forms.size(), 2u);
  EXPECT_TRUE(ends_with(g_seen_forms[1].text, "Compilation succeeded.")) << g_seen_forms[1].text;
  g_file_dialog_answer = nullptr;
  EXPECT_EQ(f->GetTitle(), "p.cvpr [Corvane]");
  EXPECT_TRUE(testkit::fs::exists(dir.str("p.iso")));
  answer_forms({});
  f->Close();
  pump(200);
  EXPECT_EQ(g_main_frame, nullptr);
}

// PC files gone since they were added: the window names them and says the
// image lacks them, as the console's own result (-5) does; the image, made
// whole without them, is kept, and isoinfo lists what it holds.
TEST(GuiCompile, ItemsGoneFromThePcAreNamedAndTheImageLacksThem) {
  testkit::TempDir dir;
  std::string project = make_project(dir, 1000);
  testkit::fs::remove(dir.path() / "src" / "readme.txt");
  testkit::fs::remove_all(dir.path() / "src" / "inner");
  // The console first: its own result, each item in the journal.
  testkit::RunResult console = testkit::run(testkit::quote(k_quorvel) + " -c " + testkit::quote(project));
  EXPECT_EQ(console.rc, 256 - 5) << console.err;
  testkit::fs::remove(dir.path() / "p.iso");
  auto* f = new MainFrame(nullptr);
  f->Show();
  f->start_up({project});
  pump(300);
  for (int language : {0, 10000}) {
    g_language_offset = language;
    testkit::fs::remove(dir.path() / "p.iso");
    target_beside(dir);
    answer_forms({{"OK", "", ""}, {"MessFermer", "", language ? "compile_left_out_french" : "compile_left_out"}});
    f->run_command("Compil1");
    wait_for_compile_forms();
    ASSERT_TRUE(compile_idle());
    ASSERT_EQ(g_seen_forms.size(), 2u);
    const std::string& said = g_seen_forms.back().text;
    EXPECT_EQ(said.find(ui_text(1295).substr(1)), std::string::npos) << "not a plain success: " << said;
    EXPECT_NE(said.find(dir.str("src") + "/readme.txt"), std::string::npos) << said;
    EXPECT_NE(said.find(dir.str("src") + "/inner"), std::string::npos) << said;
    EXPECT_EQ(said.find("big.bin"), std::string::npos) << "what a folder held goes with it: " << said;
  }
  g_language_offset = 0;
  close_compile_window(f);
  std::string image = dir.str("p.iso");
  ASSERT_TRUE(testkit::fs::exists(image)) << "the image made without them is kept";
  testkit::RunResult j = testkit::run("isoinfo -J -f -i " + testkit::quote(image));
  EXPECT_EQ(j.rc, 0) << j.err;
  EXPECT_NE(j.out.find("/docs"), std::string::npos) << j.out;
  EXPECT_EQ(j.out.find("readme.txt"), std::string::npos) << j.out;
  EXPECT_EQ(j.out.find("/src/inner"), std::string::npos) << j.out;
}

// After a compile that left out what is gone from the PC disk, the list shows
// those items as missing (in the hybrid view and in the ISO view), not as if
// they were in the image; in both languages. Back on the disk, the next
// compile takes them again, as isoinfo lists.
TEST(GuiCompile, ItemsLeftOutShowAsMissingUntilTheyAreBack) {
  testkit::TempDir dir;
  std::string project = make_project(dir, 1000);
  testkit::fs::rename(dir.path() / "src", dir.path() / "away");
  testkit::fs::create_directories(dir.path() / "src");  // the folder stays, what it held is gone
  int32_t src = 0;
  {
    FILE* p = std::fopen(project.c_str(), "rb");
    ASSERT_NE(p, nullptr);
    std::fseek(p, long(k_project_record_size), SEEK_SET);
    ProjectRecord r;
    while (read_project_record(p, r))
      if (r.is_folder() && r.pc_name == "src") src = r.id;
    std::fclose(p);
  }
  ASSERT_GT(src, 0);
  MainFrame* f = window_on(project, dir);
  answer_forms({{"OK", "", ""}, {"MessFermer", "", ""}});
  f->run_command("Compil1");
  wait_for_compile_forms();
  ASSERT_TRUE(compile_idle());
  ASSERT_EQ(g_seen_forms.size(), 2u);
  // The rows of src: "inner" and "readme.txt" are gone.
  auto images = [&] {
    std::map<std::string, int> out;
    for (long row = 0; row < f->file_list()->GetItemCount(); ++row) out[f->row_text(row, 0)] = f->row_image_of(row);
    return out;
  };
  const int missing = k_image_view_state + 4;  // in both views, missing from the PC disk
  for (const char* view : {"VH1", "VI1"}) {
    f->run_command(view);
    f->show_item(src, 0);
    pump(100);
    std::map<std::string, int> shown = images();
    EXPECT_EQ(shown["readme.txt"], missing) << view;
    EXPECT_EQ(shown["inner"], missing) << view;
    for (const char* language : {"En2", "Fr1"}) {
      f->run_command(language);
      pump(300);
      EXPECT_TRUE(screenshot("p.cvpr [Corvane]", std::string("compile_left_out_marked_") + view + "_" + language));
    }
    f->run_command("En2");
  }
  // Back on the disk: compiled again, whole.
  testkit::fs::remove(dir.path() / "src");
  testkit::fs::rename(dir.path() / "away", dir.path() / "src");
  testkit::fs::remove(dir.path() / "p.iso");
  answer_forms({{"OK", "", ""}, {"MessFermer", "", ""}});
  f->run_command("Compil1");
  wait_for_compile_forms();
  ASSERT_EQ(g_seen_forms.size(), 2u);
  EXPECT_TRUE(ends_with(g_seen_forms.back().text, "Compilation succeeded.")) << g_seen_forms.back().text;
  close_compile_window(f);
  testkit::RunResult j = testkit::run("isoinfo -J -f -i " + testkit::quote(dir.str("p.iso")));
  EXPECT_EQ(j.rc, 0) << j.err;
  EXPECT_NE(j.out.find("/src/readme.txt"), std::string::npos) << j.out;
  EXPECT_NE(j.out.find("/src/inner/big.bin"), std::string::npos) << j.out;
}
