// The animated busy cursor shown during long work. The engine only starts and
// stops it; a program with windows installs the bodies that draw it (twelve
// frames, one a second, on its user-interface thread). Without them (the console
// program, the tests) only the state below changes.
#pragma once

#include <atomic>
#include <thread>

constexpr int k_busy_cursor_frames = 12;
constexpr int k_busy_cursor_period_ms = 1000;

struct BusyCursorState {
  std::atomic<int> frame{0};            // 1..12 once running
  std::thread::id ui_thread;            // the thread that started it
  std::atomic<bool> running{false};
};
extern BusyCursorState g_busy_cursor;

// Bodies a program with windows provides: begin starts its timer on the
// user-interface thread (each tick calls advance_busy_cursor_frame and draws
// that frame), end stops it and gives the window under the mouse its own cursor
// back. Either member may be null.
struct BusyCursorBackend {
  void (*begin)() = nullptr;
  void (*end)() = nullptr;
};
void set_busy_cursor_backend(const BusyCursorBackend* backend);

// No nesting: a second start while running does nothing, one stop ends it.
void start_busy_cursor();
void stop_busy_cursor();
bool busy_cursor_running();
// One animation step: frame = frame mod 12 + 1; returns the new frame.
int advance_busy_cursor_frame();
