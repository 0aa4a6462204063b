// The text sort and the line reader over arbitrary bytes: the sorted stream
// must hold the same lines, in order, at any run length.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "IO/fileio.h"
#include "IO/textsort.h"

namespace {

std::vector<std::string> lines_of(const std::string& s) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < s.size()) {
    size_t nl = s.find('\n', pos);
    size_t end = nl == std::string::npos ? s.size() : nl + 1;
    out.push_back(s.substr(pos, end - pos));
    pos = end;
  }
  return out;
}

std::string text_of(std::string l) {
  if (!l.empty() && l.back() == '\n') l.pop_back();
  if (!l.empty() && l.back() == '\r') l.pop_back();
  return l;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  uint32_t run = data[0] % 8;  // 0: the computed run length
  std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  FILE* f = tmpfile();
  if (!f) return 0;
  fwrite(input.data(), 1, input.size(), f);
  fflush(f);
  int n = sort_text_stream_runs(f, run);
  std::vector<std::string> before = lines_of(input);
  if (n != static_cast<int>(before.size())) abort();
  std::string after;
  rewind(f);
  char buf[4096];
  for (size_t k; (k = fread(buf, 1, sizeof buf, f)) > 0;) after.append(buf, k);
  std::vector<std::string> sorted = lines_of(after);
  if (sorted.size() != before.size()) abort();
  for (size_t i = 1; i < sorted.size(); ++i)
    if (text_of(sorted[i - 1]) > text_of(sorted[i])) abort();
  // The same lines: the unended last one got its end.
  if (!before.empty() && before.back().back() != '\n') before.back() += before.size() > 1 && before[0].size() >= 2 && before[0].compare(before[0].size() - 2, 2, "\r\n") == 0 ? "\r\n" : "\n";
  std::sort(before.begin(), before.end());
  std::sort(sorted.begin(), sorted.end());
  if (before != sorted) abort();

  // The descriptor line reader never writes past its buffer.
  rewind(f);
  int fd = fileno(f);
  lseek(fd, 0, SEEK_SET);
  int room = 2 + data[0] % 6;
  std::vector<char> line(static_cast<size_t>(room));
  size_t total = 0;
  while (io_read_line(line.data(), room, fd)) total += strlen(line.data());
  (void)total;
  fclose(f);
  return 0;
}
