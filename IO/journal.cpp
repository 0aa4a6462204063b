#include <chrono>
#include <cstring>
#include <ctime>

#include "IO/ui_services.h"

FILE* g_log_file = nullptr;
std::atomic<int> g_compile_state{1};
std::atomic<bool> g_command_mode{false};

char* format_log_time_stamp(char* buf, size_t size) {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  std::tm lt{};
  localtime_r(&t, &lt);
  int hundredths = int(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000 / 10);
  std::snprintf(buf, size, "%d/%d/%d - %2d:%02d:%02d:%02d", lt.tm_year + 1900, lt.tm_mon + 1,
                lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec, hundredths);
  return buf;
}

void write_log_line(const char* text) {
  if (!g_log_file) return;
  char stamp[64];
  std::fprintf(g_log_file, "%s\t%s\r\n", format_log_time_stamp(stamp, sizeof stamp), text);
  std::fflush(g_log_file);
}

void write_dash_log_line(const char* text) {
  if (!g_log_file) return;
  char stamp[64];
  std::fprintf(g_log_file, "%s - %s\r\n", format_log_time_stamp(stamp, sizeof stamp), text);
  std::fflush(g_log_file);
}

void write_compile_log_line(const char* text) {
  if (!g_log_file) return;
  char stamp[64];
  std::fprintf(g_log_file, "%s - COMPIL : %s\n", format_log_time_stamp(stamp, sizeof stamp), text);
}
