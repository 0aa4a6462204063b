// The window's compile timed for bench/gui_compile.sh, which names the project
// (CORVANE_BENCH_PROJECT) and the image (CORVANE_BENCH_TARGET). The time runs
// from the moment the compile starts on its worker, the options form answered,
// to the moment it is idle again with its image written, under the window's
// own event loop. Without the names it is skipped: nothing is timed in a test.
#include <gtest/gtest.h>

#include <wx/evtloop.h>
#include <wx/timer.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "gui/compile/compileworker.h"
#include "gui/forms/messageforms.h"
#include "gui/mainframe.h"
#include "gui_fixture.h"

using namespace guitest;

TEST(GuiCompileTiming, WindowCompileOfTheBenchProject) {
  const char* project = std::getenv("CORVANE_BENCH_PROJECT");
  const char* target = std::getenv("CORVANE_BENCH_TARGET");
  if (!project || !target) GTEST_SKIP() << "run by bench/gui_compile.sh";
  auto* f = new MainFrame(nullptr);
  f->Show();
  f->start_up({project});
  pump(500);
  const std::string image = target;
  g_file_dialog_answer = [image](const std::string&) { return image; };
  answer_forms({{"OK", "", ""}, {"MessFermer", "", ""}});
  using clock = std::chrono::steady_clock;
  clock::time_point started, ended;
  bool running = false, done = false;
  wxGUIEventLoop loop;
  wxTimer watch;
  watch.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    if (!running && !compile_idle()) {
      running = true;
      started = clock::now();
    } else if (running && !done && compile_idle()) {
      done = true;
      ended = clock::now();
    }
    // Left once the success message is answered, from this loop, not from the message's.
    if (done && g_modal_depth == 0 && g_seen_forms.size() >= 2) loop.Exit();
  });
  watch.Start(2);
  f->CallAfter([f] { f->run_command("Compil1"); });
  loop.Run();
  watch.Stop();
  ASSERT_TRUE(done);
  std::printf("window-compile-seconds %.3f\n", std::chrono::duration<double>(ended - started).count());
  answer_forms({});
  g_file_dialog_answer = nullptr;
  f->Close(true);
  pump(300);
}
