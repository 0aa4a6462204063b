#include "compiler/cuesheet.h"

#include <cstdio>

namespace {

constexpr uint32_t k_last_time = 99u * 4500u + 59u * 75u + 74u;  // 99:59:74

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Words of a line, with where each stands; a word in double quotes may hold
// blanks (the quotes are part of the word).
struct Word {
  size_t at = 0, length = 0;
};

std::vector<Word> split_words(std::string_view line) {
  std::vector<Word> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_blank(line[i])) ++i;
    if (i == line.size()) break;
    size_t start = i;
    if (line[i] == '"') {
      size_t close = line.find('"', i + 1);
      i = close == std::string_view::npos ? line.size() : close + 1;
    }
    while (i < line.size() && !is_blank(line[i])) ++i;
    words.push_back({start, i - start});
  }
  return words;
}

bool same_word(std::string_view a, const char* keyword) {
  size_t n = 0;
  for (; keyword[n]; ++n) {
    if (n == a.size()) return false;
    char c = a[n];
    if (c >= 'a' && c <= 'z') c = char(c - 32);
    if (c != keyword[n]) return false;
  }
  return n == a.size();
}

// A number of 1 to max_digits decimal digits.
bool parse_number(std::string_view s, size_t max_digits, int& out) {
  if (s.empty() || s.size() > max_digits) return false;
  out = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return true;
}

bool parse_time(std::string_view s, uint32_t& frames) {
  size_t a = s.find(':');
  if (a == std::string_view::npos) return false;
  size_t b = s.find(':', a + 1);
  if (b == std::string_view::npos) return false;
  int m, sec, f;
  if (!parse_number(s.substr(0, a), 3, m) || !parse_number(s.substr(a + 1, b - a - 1), 2, sec) ||
      !parse_number(s.substr(b + 1), 2, f) || sec > 59 || f > 74)
    return false;
  frames = uint32_t(m) * 4500u + uint32_t(sec) * 75u + uint32_t(f);
  return true;
}

}  // namespace

std::string cue_time_text(uint32_t frames) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", frames / 4500, frames % 4500 / 75, frames % 75);
  return buf;
}

bool parse_cue_sheet(std::string_view text, CueSheet& sheet) {
  sheet = CueSheet{};
  if (text.size() > k_cue_sheet_max_bytes) {
    sheet.error_line = 1;
    return false;
  }
  int track = 0;            // number of the current track, 0 before the first
  int last_index = -1;      // last index number of the current track
  uint32_t last_time = 0;   // last index time within the current file
  size_t pos = 0;
  while (pos < text.size()) {
    CueLine line;
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    line.text.assign(text.substr(pos, end - pos));
    size_t next = end;
    if (end < text.size()) {
      next = end + 1;
      if (next < text.size() && (text[next] == '\r' || text[next] == '\n') && text[next] != text[end]) ++next;
      line.ending.assign(text.substr(end, next - end));
    }
    pos = next;

    std::string_view view = line.text;
    size_t skip = sheet.lines.empty() && view.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;  // byte-order mark
    std::vector<Word> words = split_words(view.substr(skip));
    for (Word& w : words) w.at += skip;
    auto word = [&](size_t i) { return view.substr(words[i].at, words[i].length); };
    bool ok = true;
    if (!words.empty() && same_word(word(0), "FILE")) {
      line.kind = CueLine::file_line;
      ok = words.size() >= 2;
      if (ok) {
        std::string_view name = word(1);
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
        line.file_name.assign(name);
      }
      ++sheet.file_count;
      last_time = 0;
    } else if (!words.empty() && same_word(word(0), "TRACK")) {
      line.kind = CueLine::track_line;
      int number = 0;
      ok = sheet.file_count > 0 && words.size() >= 3 && parse_number(word(1), 2, number) && number > track;
      track = line.track = number;
      last_index = -1;
      ++sheet.track_count;
    } else if (!words.empty() && same_word(word(0), "INDEX")) {
      line.kind = CueLine::index_line;
      line.track = track;
      ok = track > 0 && words.size() == 3 && parse_number(word(1), 2, line.index) && line.index > last_index &&
           parse_time(word(2), line.frames) && line.frames >= last_time;
      line.time_at = words.size() > 2 ? words[2].at : 0;
      line.time_length = words.size() > 2 ? words[2].length : 0;
      last_index = line.index;
      last_time = line.frames;
    }
    sheet.lines.push_back(std::move(line));
    if (!ok) {
      sheet.error_line = int(sheet.lines.size());
      return false;
    }
  }
  return true;
}

bool shift_cue_sheet_tracks(CueSheet& sheet, uint32_t frames) {
  if (frames > k_last_time) return false;
  int first_track = 0;
  for (const CueLine& l : sheet.lines) {
    if (l.kind == CueLine::track_line && first_track == 0) first_track = l.track;
    if (l.kind == CueLine::index_line && l.track != first_track && l.frames > k_last_time - frames) return false;
  }
  for (CueLine& l : sheet.lines) {
    if (l.kind != CueLine::index_line || l.track == first_track) continue;
    l.frames += frames;
    std::string time = cue_time_text(l.frames);
    l.text.replace(l.time_at, l.time_length, time);
    l.time_length = time.size();
  }
  return true;
}

std::string write_cue_sheet(const CueSheet& sheet) {
  std::string out;
  for (const CueLine& l : sheet.lines) {
    out += l.text;
    out += l.ending;
  }
  return out;
}
