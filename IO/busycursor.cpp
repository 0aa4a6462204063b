#include "IO/busycursor.h"

BusyCursorState g_busy_cursor;

namespace {
std::atomic<const BusyCursorBackend*> g_backend{nullptr};
}

void set_busy_cursor_backend(const BusyCursorBackend* backend) { g_backend = backend; }

void start_busy_cursor() {
  g_busy_cursor.ui_thread = std::this_thread::get_id();
  bool expected = false;
  if (!g_busy_cursor.running.compare_exchange_strong(expected, true)) return;
  g_busy_cursor.frame = 1;
  if (const BusyCursorBackend* b = g_backend.load(); b && b->begin) b->begin();
}

void stop_busy_cursor() {
  bool expected = true;
  if (!g_busy_cursor.running.compare_exchange_strong(expected, false)) return;
  if (const BusyCursorBackend* b = g_backend.load(); b && b->end) b->end();
}

bool busy_cursor_running() { return g_busy_cursor.running; }

int advance_busy_cursor_frame() {
  int f = g_busy_cursor.frame.load() % k_busy_cursor_frames + 1;
  g_busy_cursor.frame = f;
  return f;
}
