#include "gui/guithread.h"

#include <atomic>
#include <future>
#include <thread>

namespace {

std::atomic<GuiPoster> g_poster{nullptr};
std::thread::id g_gui_thread_id;  // written before any worker starts

}  // namespace

void set_gui_thread(GuiPoster poster) {
  g_gui_thread_id = std::this_thread::get_id();
  g_poster = poster;
}

void clear_gui_thread() { g_poster = nullptr; }

bool have_gui_thread() { return g_poster.load() != nullptr; }

bool on_gui_thread() { return !have_gui_thread() || std::this_thread::get_id() == g_gui_thread_id; }

void run_on_gui_thread(const std::function<void()>& work) {
  GuiPoster poster = g_poster.load();
  if (!poster || std::this_thread::get_id() == g_gui_thread_id) {
    work();
    return;
  }
  std::promise<void> done;
  std::future<void> waited = done.get_future();
  poster([&work, &done] {
    work();
    done.set_value();
  });
  waited.wait();
}

void post_to_gui_thread(std::function<void()> work) {
  GuiPoster poster = g_poster.load();
  if (!poster) {
    work();
    return;
  }
  poster(std::move(work));
}
