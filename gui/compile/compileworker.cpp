#include "gui/compile/compileworker.h"

#include <memory>
#include <thread>

#include "IO/ui_services.h"
#include "compiler/commands.h"
#include "gui/compile/progresslogic.h"
#include "gui/guiforms.h"
#include "gui/guithread.h"

namespace {

std::unique_ptr<std::thread> g_worker;  // touched on the GUI thread only

int run_compile(const CompileRequest& r) {
  if (r.settings) {
    // The window's own document lock is never waited on: were it exclusive
    // now, the compile is refused instead.
    CompileSettings s = *r.settings;
    s.wait_for_edit = false;
    return compile_project_image(s);
  }
  const char* p = r.project_path.c_str();
  if (r.hfs_only) return cli_compile_hfs(p);
  if (r.iso_only) return cli_compile_iso(p);
  return r.mode == 2 ? cli_compile_isoplus(p) : cli_compile_hybrid(p);
}

}  // namespace

std::string compile_target_path(const CompileRequest& r) {
  if (r.settings) return r.settings->target_path;
  const std::string& path = r.project_path;
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  std::string base = (dot != std::string::npos && (slash == std::string::npos || dot > slash)) ? path.substr(0, dot) : path;
  return base + (r.hfs_only ? ".dmg" : ".iso");
}

bool start_compile(const CompileRequest& r, std::function<void(int result)> on_end) {
  int idle = 1;
  // Running from here on, before the worker exists: a second command cannot start another.
  if (!g_compile_state.compare_exchange_strong(idle, 0)) return false;
  g_compile_progress.reset();
  g_operation_start_ms = steady_ms();
  if (g_worker && g_worker->joinable()) g_worker->join();
  g_worker = std::make_unique<std::thread>([r, on_end] {
    int result = run_compile(r);
    post_to_gui_thread([r, on_end, result] {
      if (g_worker && g_worker->joinable()) {
        if (g_worker->get_id() == std::this_thread::get_id()) g_worker->detach();  // no GUI thread to end on
        else g_worker->join();
      }
      g_worker.reset();
      // A failed or aborted compile has written nothing at the target: the
      // engine writes beside it and renames only a whole image, so the image
      // made before stays as it was (one made without items gone from the PC
      // disk is whole).
      g_compile_state = 1;
      if (on_end) on_end(result);
    });
  });
  return true;
}

void request_compile_abort() {
  int running = 0;
  g_compile_state.compare_exchange_strong(running, -1);
}

bool compile_idle() { return g_compile_state.load() == 1; }
