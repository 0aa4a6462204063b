#include "macfiles/sigfile.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "IO/unicode.h"
#include "macfiles/signatures.h"
#include "platform/files.h"

namespace {

constexpr size_t k_field = 4;
constexpr size_t k_comment_limit = 64;

std::string strip_line_end(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }
bool is_french_mark(const std::string& line) { return starts_with(line, "#[1]"); }
bool is_comment(const std::string& line) { return !line.empty() && line[0] == '#'; }

// Where the parts of a file begin: the leading comment lines end at lead_end,
// the "#[1]" line stands at mark (lines.size() when there is none) and the
// comment lines after it end at french_entries.
struct SigLayout {
  size_t lead_end = 0, mark = 0, french_entries = 0;
  bool has_french = false;
};

SigLayout layout_of(const std::vector<std::string>& lines) {
  SigLayout l;
  size_t n = lines.size();
  while (l.lead_end < n && is_comment(lines[l.lead_end]) && !is_french_mark(lines[l.lead_end])) ++l.lead_end;
  l.mark = l.lead_end;
  while (l.mark < n && !is_french_mark(lines[l.mark])) ++l.mark;
  l.has_french = l.mark < n;
  l.french_entries = l.has_french ? l.mark + 1 : n;
  while (l.french_entries < n && is_comment(lines[l.french_entries]) && !is_french_mark(lines[l.french_entries]))
    ++l.french_entries;
  return l;
}

// Copies lines as they are; a last line without its end gets one only when
// more text follows it.
void append_lines(std::string& out, const std::vector<std::string>& lines, size_t from, size_t to,
                  bool more_follows) {
  for (size_t i = from; i < to; ++i) {
    out += lines[i];
    if (more_follows && i + 1 == to && lines[i].back() != '\n') out += "\r\n";
  }
}

// The file as it is, from a regular file of a signature file's size only.
bool read_whole_file(const std::string& path, std::string& out) {
  return read_regular_file(path, k_max_signature_file_bytes, out) == k_read_file_ok;
}

std::string cut_bytes(const std::string& s, size_t n) { return s.substr(0, std::min(n, s.size())); }

std::string padded(const std::string& s) {
  std::string t = cut_bytes(s, k_field);
  t.resize(k_field, ' ');
  return t;
}

// Leading blanks and non-breaking spaces (one byte, or its UTF-8 form).
size_t skip_blanks(const std::string& text) {
  size_t p = 0;
  for (;;) {
    if (p < text.size() && (text[p] == ' ' || text[p] == '\t' || (unsigned char)text[p] == 0xA0)) {
      ++p;
    } else if (p + 1 < text.size() && (unsigned char)text[p] == 0xC2 && (unsigned char)text[p + 1] == 0xA0) {
      p += 2;
    } else {
      return p;
    }
  }
}

void fail(std::string* message, const std::string& what, const std::string& path) {
  if (message) *message = what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

SigRow make_sig_row(const std::string& extension, const std::string& type, const std::string& creator,
                    const std::string& comment) {
  SigRow r;
  // An extension never holds "," and never begins with a blank or "#": the
  // stored line would read back otherwise.
  std::string ext = extension.substr(0, extension.find(','));
  for (size_t p = skip_blanks(ext); p < ext.size() && ext[p] == '#'; p = skip_blanks(ext)) ext.erase(0, p + 1);
  ext.erase(0, skip_blanks(ext));
  r.extension = cut_bytes(ext, k_field);
  r.type = padded(type);
  r.creator = creator.empty() ? "????" : padded(creator);
  std::string c = comment.substr(0, comment.find_first_of("\r\n"));
  r.comment = clip_utf8(c, k_comment_limit);
  return r;
}

bool parse_sig_line(const std::string& text, SigRow& row) {
  size_t p = skip_blanks(text);
  size_t comma = text.find(',', p);
  if (comma == std::string::npos) return false;
  row.extension = cut_bytes(text.substr(p, comma - p), k_field);
  // As the table's loader reads it: the signature runs to the next ",".
  std::string rest = text.substr(comma + 1);
  size_t second = rest.find(',');
  std::string tc = cut_bytes(rest.substr(0, second), 2 * k_field);
  row.type = cut_bytes(tc, k_field);
  row.creator = tc.size() > k_field ? tc.substr(k_field) : std::string();
  row.comment = second == std::string::npos ? std::string() : clip_utf8(rest.substr(second + 1), k_comment_limit);
  // A CR at the end would be taken for the line end when the row is read again.
  while (!row.comment.empty() && row.comment.back() == '\r') row.comment.pop_back();
  return true;
}

std::string format_sig_line(const SigRow& row) {
  return cut_bytes(row.extension, k_field) + "," + cut_bytes(row.type, k_field) + cut_bytes(row.creator, k_field) +
         "," + row.comment + "\r\n";
}

std::vector<std::string> sig_text_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    size_t end = nl == std::string::npos ? text.size() : nl + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

int read_sig_file(const std::string& path, int language_offset, std::vector<SigRow>& rows) {
  std::string text;
  if (!read_whole_file(path, text)) return -1;
  rows = read_sig_rows(text, language_offset);
  return 0;
}

std::vector<SigRow> read_sig_rows(const std::string& text, int language_offset) {
  std::vector<std::string> lines = sig_text_lines(text);
  SigLayout l = layout_of(lines);
  size_t from = 0, to = l.mark;
  if (language_offset == 10000 && l.has_french) {
    from = l.mark + 1;
    to = lines.size();
  }
  std::vector<SigRow> rows;
  for (size_t i = from; i < to; ++i) {
    std::string line = strip_line_end(lines[i]);
    if (is_french_mark(line)) break;
    // A "#" after leading blanks is a comment too: as an extension it would
    // come back as a comment from the next save.
    size_t text_at = skip_blanks(line);
    if (text_at == line.size() || line[text_at] == '#') continue;
    SigRow r;
    if (parse_sig_line(line, r)) rows.push_back(r);
  }
  return rows;
}

std::string merge_sig_text(const std::string& source, const std::vector<SigRow>& rows, int language_offset) {
  std::vector<std::string> lines = sig_text_lines(source);
  SigLayout l = layout_of(lines);
  std::string out;
  bool french = language_offset == 10000;
  if (french && l.has_french) {
    append_lines(out, lines, 0, l.french_entries, true);  // leading comments, English section, "#[1]" and its comments
  } else {
    append_lines(out, lines, 0, l.lead_end, true);
  }
  for (const SigRow& r : rows) out += format_sig_line(r);
  if (!french && l.has_french) append_lines(out, lines, l.mark, lines.size(), false);
  return out;
}

std::string sig_backup_path(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 == path.size())
    return path + ".bak";
  std::string ext = path.substr(dot + 1);
  if (ext.size() >= 5 || strcasecmp(ext.c_str(), "bak") == 0) return path + ".bak";
  return path.substr(0, dot) + ".bak";
}

int write_sig_file(const std::string& path, const std::vector<SigRow>& rows, int language_offset, std::string* message) {
  std::string source;
  bool exists = ::access(path.c_str(), F_OK) == 0;
  if (exists && !read_whole_file(path, source)) {
    fail(message, "Cannot read", path);
    return -1;
  }
  std::string text = merge_sig_text(source, rows, language_offset);

  std::string temp = path + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());
  if (fd < 0) {
    fail(message, "Cannot create", path);
    return -1;
  }
  temp = name.data();
  bool ok = true;
  for (size_t done = 0; ok && done < text.size();) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) ok = false;
    else done += size_t(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (!ok) {
    fail(message, "Cannot write", path);
    ::unlink(temp.c_str());
    return -1;
  }
  std::string backup = sig_backup_path(path);
  if (exists) {
    ::unlink(backup.c_str());
    if (std::rename(path.c_str(), backup.c_str()) != 0) {
      fail(message, "Cannot keep the backup of", path);
      ::unlink(temp.c_str());
      return -1;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    fail(message, "Cannot write", path);
    if (exists) std::rename(backup.c_str(), path.c_str());
    ::unlink(temp.c_str());
    return -1;
  }
  return 0;
}

