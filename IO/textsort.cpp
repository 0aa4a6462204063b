#include "IO/textsort.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <queue>
#include <vector>

#include "IO/paths.h"
#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "platform/files.h"
#include "platform/tempfile.h"

namespace {

constexpr uint32_t k_run_bytes = 0x4FFFFF;
constexpr int k_max_runs = 512;

// Lines of any length, NUL bytes included, through one growing buffer.
class LineReader {
 public:
  LineReader() = default;
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  ~LineReader() { free(buf_); }
  // The next line with its line end; false at the end (or on an error, which
  // ferror tells).
  bool next(FILE* f, std::string& line) {
    ssize_t n = getline(&buf_, &cap_, f);
    if (n < 0) return false;
    line.assign(buf_, static_cast<size_t>(n));
    return true;
  }

 private:
  char* buf_ = nullptr;
  size_t cap_ = 0;
};

bool next_line(FILE* f, std::string& line) {
  thread_local LineReader reader;
  return reader.next(f, line);
}

size_t text_length(const std::string& line) {
  size_t n = line.size();
  if (n > 0 && line[n - 1] == '\n') {
    --n;
    if (n > 0 && line[n - 1] == '\r') --n;
  }
  return n;
}

// Order of the texts without their line ends; whole lines break a tie.
bool line_less(const std::string& a, const std::string& b) {
  size_t na = text_length(a), nb = text_length(b);
  int c = memcmp(a.data(), b.data(), std::min(na, nb));
  if (c != 0) return c < 0;
  if (na != nb) return na < nb;
  return a < b;
}

bool write_lines(FILE* f, const std::vector<std::string>& lines) {
  for (const std::string& l : lines)
    if (fwrite(l.data(), 1, l.size(), f) != l.size()) return false;
  return fflush(f) == 0;
}

// A temporary file that is already unlinked: it disappears with its stream.
FILE* anonymous_run_file() {
  std::string name;
  int fd = make_temp_file(k_temp_prefix, name);
  if (fd < 0) return nullptr;
  unlink(name.c_str());
  FILE* f = fdopen(fd, "w+b");
  if (!f) close(fd);
  return f;
}

struct Scan {
  int lines = 0;
  uint32_t longest = 0;
  bool last_unended = false;
  std::string first_end = "\n";
};

[[nodiscard]] int scan(FILE* f, Scan& s) {
  rewind(f);
  std::string line;
  bool first = true;
  while (next_line(f, line)) {
    ++s.lines;
    s.longest = std::max<uint32_t>(s.longest, static_cast<uint32_t>(std::min<size_t>(line.size(), UINT32_MAX)));
    s.last_unended = line.back() != '\n';
    if (first && line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) s.first_end = "\r\n";
    first = false;
  }
  bool bad = ferror(f);
  rewind(f);
  return bad ? -1 : 0;
}

}  // namespace

int count_lines(FILE* text, uint32_t* longest) {
  Scan s;
  if (scan(text, s) != 0) return -1;
  if (longest) *longest = s.longest;
  return s.lines;
}

int sort_text_stream(FILE* text) { return sort_text_stream_runs(text, 0); }

int sort_text_stream_runs(FILE* text, uint32_t run_length) {
  Scan s;
  if (!text || scan(text, s) != 0) return -1;
  const int n = s.lines;
  if (n == 0) return 0;
  const uint32_t record = s.longest + 1;
  uint32_t k = run_length ? run_length : std::max<uint32_t>(1, k_run_bytes / record);
  // Every run holds a descriptor during the merge: past k_max_runs the runs
  // grow instead (only lists of several gigabytes get there).
  if ((static_cast<uint64_t>(n) + k - 1) / k > k_max_runs) k = static_cast<uint32_t>((n + k_max_runs - 1) / k_max_runs);

  if (s.last_unended) {
    // Sorted into the middle, a line without its end would be glued to the next.
    if (fseeko(text, 0, SEEK_END) != 0 || fputs(s.first_end.c_str(), text) < 0 || fflush(text) != 0) return -1;
    rewind(text);
  }

  std::vector<std::string> lines;
  std::string line;
  if (static_cast<uint32_t>(n) < k) {
    lines.reserve(static_cast<size_t>(n));
    while (next_line(text, line)) lines.push_back(line);
    if (ferror(text) || lines.size() != static_cast<size_t>(n)) return -1;
    std::stable_sort(lines.begin(), lines.end(), line_less);
    rewind(text);
    if (!write_lines(text, lines)) return -1;
    rewind(text);
    return n;
  }

  // Distribute: each run receives the next k lines, sorted.
  const size_t run_count = (static_cast<size_t>(n) + k - 1) / k;
  std::vector<std::unique_ptr<FILE, int (*)(FILE*)>> runs;
  runs.reserve(run_count);
  for (size_t r = 0; r < run_count; ++r) {
    FILE* f = anonymous_run_file();
    if (!f) return -1;
    runs.emplace_back(f, fclose);
  }
  size_t read = 0;
  for (size_t r = 0; r < run_count; ++r) {
    lines.clear();
    while (lines.size() < k && next_line(text, line)) lines.push_back(line);
    if (ferror(text)) return -1;
    read += lines.size();
    std::stable_sort(lines.begin(), lines.end(), line_less);
    if (!write_lines(runs[r].get(), lines)) return -1;
    rewind(runs[r].get());
  }
  if (read != static_cast<size_t>(n)) return -1;
  lines.clear();
  lines.shrink_to_fit();

  // Merge: the smallest head goes out; a tie goes to the earlier run.
  struct Head {
    std::string line;
    size_t run;
  };
  auto later = [](const Head& a, const Head& b) {
    if (line_less(a.line, b.line)) return false;
    if (line_less(b.line, a.line)) return true;
    return a.run > b.run;
  };
  std::priority_queue<Head, std::vector<Head>, decltype(later)> heads(later);
  for (size_t r = 0; r < run_count; ++r)
    if (next_line(runs[r].get(), line)) heads.push({line, r});
  rewind(text);
  size_t written = 0;
  while (!heads.empty()) {
    Head h = heads.top();
    heads.pop();
    if (fwrite(h.line.data(), 1, h.line.size(), text) != h.line.size()) return -1;
    ++written;
    if (next_line(runs[h.run].get(), line)) heads.push({line, h.run});
    else if (ferror(runs[h.run].get())) return -1;
  }
  if (fflush(text) != 0 || written != static_cast<size_t>(n)) return -1;
  rewind(text);
  return n;
}

namespace {

// A name with a line break cannot stand on a line of its own: left out, with a journal line.
bool listable(const std::string& folder, const std::string& name) {
  if (name.find_first_of("\r\n") == std::string::npos) return true;
  write_log_line(format_text(ui_text(1950).c_str(), (folder + "/" + name).c_str()).c_str());
  return false;
}

[[nodiscard]] int collect(FILE* out, const std::string& folder, const std::string& pattern, int depth) {
  std::vector<FolderEntry> entries;
  if (depth > 256 || list_folder(folder, entries) != 0) return 0;
  const std::string prefix = append_slash(folder);
  int count = 0;
  for (const FolderEntry& e : entries) {
    if (e.kind != EntryKind::file || !wildcard_match(pattern.c_str(), e.name.c_str())) continue;
    if (!listable(folder, e.name)) continue;
    std::string l = prefix + e.name + "\r\n";
    if (fwrite(l.data(), 1, l.size(), out) != l.size()) return -1;
    ++count;
  }
  for (const FolderEntry& e : entries) {
    if (e.kind != EntryKind::folder) continue;
    int sub = collect(out, prefix + e.name, pattern, depth + 1);
    if (sub < 0) return -1;
    count += sub;
  }
  return count;
}

}  // namespace

FILE* list_folder_to_stream(const std::string& pattern, const std::string& list_path) {
  FILE* f = fopen(list_path.c_str(), "w+b");
  if (!f) return nullptr;
  size_t slash = pattern.rfind('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : pattern.substr(0, slash);
  std::string name = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  std::vector<FolderEntry> entries;
  if (list_folder(folder, entries) == 0) {
    for (const FolderEntry& e : entries) {
      if (!wildcard_match(name.c_str(), e.name.c_str()) || !listable(folder, e.name)) continue;
      std::string l = e.name + "\r\n";
      if (fwrite(l.data(), 1, l.size(), f) != l.size()) {
        fclose(f);
        return nullptr;
      }
    }
  }
  if (fflush(f) != 0) {
    fclose(f);
    return nullptr;
  }
  rewind(f);
  return f;
}

int collect_files_recursive(FILE* out, const std::string& folder, const std::string& pattern) {
  int n = collect(out, folder, pattern, 0);
  if (n >= 0 && fflush(out) != 0) return -1;
  return n;
}
