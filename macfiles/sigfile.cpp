#include "macfiles/sigfile.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>

#include "IO/unicode.h"
#include "macfiles/signatures.h"
#include "platform/files.h"
#include "platform/replacefile.h"

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

// The lines [from, to) that hold one language's rows: the English section
// after the leading comments up to "#[1]" (the whole file when there is none,
// in both languages), or the French one after "#[1]" and its comment lines,
// up to any further "#[1]" line.
struct SigSection {
  size_t from = 0, to = 0;
};

SigSection section_of(const std::vector<std::string>& lines, int language_offset) {
  SigLayout l = layout_of(lines);
  if (language_offset != 10000 || !l.has_french) return {l.lead_end, l.mark};
  SigSection s{l.french_entries, l.french_entries};
  while (s.to < lines.size() && !is_french_mark(lines[s.to])) ++s.to;
  return s;
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

// An entry line (with its end) into a row; false for a comment, a blank line
// or a line without ",". A "#" after leading blanks makes a comment too: as an
// extension it would come back as a comment from the next save.
bool entry_of(const std::string& raw, SigRow& row) {
  std::string line = strip_line_end(raw);
  size_t text_at = skip_blanks(line);
  if (text_at == line.size() || line[text_at] == '#') return false;
  return parse_sig_line(line, row);
}

// The line end the file's lines use: the first one found, CR LF when none.
std::string line_end_of(const std::string& text) {
  size_t nl = text.find('\n');
  return nl != std::string::npos && (nl == 0 || text[nl - 1] != '\r') ? "\n" : "\r\n";
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
  SigSection sec = section_of(lines, language_offset);
  std::vector<SigRow> rows;
  for (size_t i = sec.from; i < sec.to; ++i) {
    SigRow r;
    if (entry_of(lines[i], r)) rows.push_back(r);
  }
  return rows;
}

std::string merge_sig_text(const std::string& source, const std::vector<SigRow>& rows, int language_offset) {
  std::vector<std::string> lines = sig_text_lines(source);
  SigSection sec = section_of(lines, language_offset);
  const std::string eol = line_end_of(source);
  std::string out;
  // Text goes on a line of its own: the last line read may have had no end.
  auto add = [&](const std::string& text) {
    if (!out.empty() && out.back() != '\n') out += eol;
    out += text;
  };
  for (size_t i = 0; i < sec.from; ++i) add(lines[i]);

  // The section's entry lines, each with the lines that are no row before it
  // (comments, blank lines): those stay with the entry, and an entry the rows
  // still hold is written as it stood.
  struct Entry {
    std::string lead, line;
    SigRow row;
    int row_at = -1;  // the row written in its place, -1 when it went or changed
  };
  std::vector<Entry> entries;
  std::string pending;
  for (size_t i = sec.from; i < sec.to; ++i) {
    SigRow r;
    if (entry_of(lines[i], r)) {
      entries.push_back({pending, lines[i], r});
      pending.clear();
    } else {
      pending += lines[i];
    }
  }
  // Lines before each row: the lead of the entry it is, and that of an entry
  // gone or changed at its place (so a heading stays over the group's next row).
  std::vector<std::vector<size_t>> leads(rows.size() + 1);
  std::vector<const Entry*> as_was(rows.size(), nullptr);
  auto key = [](const SigRow& r) { return r.extension + '\0' + r.type + '\0' + r.creator + '\0' + r.comment; };
  std::map<std::string, std::deque<size_t>> untaken;  // entries by their row, in file order
  for (size_t k = 0; k < entries.size(); ++k) untaken[key(entries[k].row)].push_back(k);
  for (size_t r = 0; r < rows.size(); ++r) {
    auto it = untaken.find(key(rows[r]));
    if (it == untaken.end() || it->second.empty()) continue;
    Entry& e = entries[it->second.front()];
    it->second.pop_front();
    e.row_at = int(r);
    as_was[r] = &e;
  }
  for (size_t k = 0; k < entries.size(); ++k)
    leads[entries[k].row_at >= 0 ? size_t(entries[k].row_at) : std::min(k, rows.size())].push_back(k);
  for (size_t r = 0; r <= rows.size(); ++r) {
    std::sort(leads[r].begin(), leads[r].end());
    for (size_t k : leads[r])
      if (!entries[k].lead.empty()) add(entries[k].lead);
    if (r == rows.size()) break;
    if (as_was[r]) {
      add(as_was[r]->line);
    } else {
      std::string line = format_sig_line(rows[r]);
      add(line.substr(0, line.size() - 2) + eol);
    }
  }
  if (!pending.empty()) add(pending);
  for (size_t i = sec.to; i < lines.size(); ++i) add(lines[i]);
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

namespace {

// Starts a file beside path holding text whole, with the mode (and, for root,
// the owner) of like when given. false with errno set; nothing left behind.
bool prepare_replacement(const std::string& path, const std::string& text, const struct stat* like,
                         ReplacementFile& r) {
  if (begin_replacement(path, r) != 0) return false;
  if (like) {
    r.mode = like->st_mode & 07777;
    // Root saving a user's table leaves it that user's.
    if (::geteuid() == 0 && ::fchown(r.fd, like->st_uid, like->st_gid) != 0) r.mode &= ~mode_t(S_ISUID | S_ISGID);
  }
  if (write_full(r.fd, text.data(), text.size()) == 0 && sync_descriptor(r.fd) == 0) return true;
  int e = errno;
  abandon_replacement(r);
  errno = e;
  return false;
}

}  // namespace

int write_sig_file(const std::string& path, const std::vector<SigRow>& rows, int language_offset,
                   std::string* message, const std::string* source) {
  std::string old;
  struct stat st {};
  bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && !read_whole_file(path, old)) {
    fail(message, "Cannot read", path);
    return -1;
  }
  std::string text = merge_sig_text(source ? *source : old, rows, language_offset);
  ReplacementFile table;
  if (!prepare_replacement(path, text, exists ? &st : nullptr, table)) {
    fail(message, "Cannot write", path);
    return -1;
  }
  // Only once the new text is whole does the old one become the backup, and
  // then the new one take its name: at every step the file at path is whole.
  if (exists) {
    ReplacementFile backup;
    if (!prepare_replacement(sig_backup_path(path), old, &st, backup) || commit_replacement(backup) != 0) {
      fail(message, "Cannot keep the backup of", path);
      abandon_replacement(table);
      return -1;
    }
  }
  if (commit_replacement(table) != 0) {
    fail(message, "Cannot write", path);
    return -1;
  }
  return 0;
}
