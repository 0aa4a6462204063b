#include "gui/commandline.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "compiler/commands.h"
#include "compiler/project.h"
#include "hfs/partition.h"
#include "hfs/volume.h"

ArgumentKind classify_argument(const std::string& arg, bool (*file_exists)(const std::string&)) {
  if (arg.empty()) return ArgumentKind::empty;
  if (arg.size() > k_max_gui_argument) return ArgumentKind::too_long;
  if (arg[0] != '-' && arg[0] != '/') return ArgumentKind::document;
  size_t letters = 0;
  while (1 + letters < arg.size() && std::isalpha(static_cast<unsigned char>(arg[1 + letters]))) ++letters;
  bool word = letters >= 1 && letters <= 3 && 1 + letters == arg.size();
  if (!word) return ArgumentKind::document;
  if (arg[0] == '/' && file_exists && file_exists(arg)) return ArgumentKind::document;
  return ArgumentKind::command;
}

std::string command_word(const std::string& arg) {
  std::string w = arg;
  if (!w.empty() && w[0] == '/') w[0] = '-';
  return w;
}

std::vector<std::string> handover_arguments(const std::vector<std::string>& args, const std::string& cwd,
                                            bool (*file_exists)(const std::string&)) {
  std::vector<std::string> out = args;
  if (args.empty() || cwd.empty() || cwd[0] != '/') return out;
  auto absolute = [&](std::string& a) {
    if (a.empty() || a[0] == '/' || a.size() > k_max_gui_argument) return;
    a = (cwd.back() == '/' ? cwd : cwd + "/") + a;
  };
  if (classify_argument(args[0], file_exists) != ArgumentKind::command) {
    for (std::string& a : out) absolute(a);
    return out;
  }
  std::string word = command_word(args[0]);
  char letter = char(word.size() > 1 ? (word[1] | 0x20) : 0);
  for (size_t i = 1; i < out.size(); ++i) {
    if (i == 2 && (letter == 'l' || letter == 'f')) continue;  // a label, a folder chain inside the project
    if (letter == 'i' && !out[i].empty() && out[i][0] == '$') {  // "$" and the path of a list file
      std::string list = out[i].substr(1);
      absolute(list);
      out[i] = "$" + list;
      continue;
    }
    absolute(out[i]);
  }
  return out;
}

int document_kind(const std::string& path) {
  int kind = get_file_kind(path.c_str());
  if (kind >= 0) return kind;
  // Only a regular file is read: a device or a pipe named so is no document.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) {
    ::close(fd);
    return -1;
  }
  if (FILE* f = ::fdopen(::dup(fd), "rb")) {
    int magic = check_project_magic(f);
    std::fclose(f);
    if (magic != 0) {
      ::close(fd);
      return 0;
    }
  }
  // The scan reads through the engine's volume state: the state of the volume
  // that is open now is put back whole once it has looked.
  const VolumeState open_volume = g_volume;
  g_volume.image_file = fd;
  g_volume.sector_io = image_sector_io;
  PartitionListEntry list[k_max_partitions];
  int found = scan_partitions(list);
  g_volume = open_volume;
  ::close(fd);
  return found >= 0 || found == k_scan_no_map ? 1 : -1;
}

std::string main_caption(const std::string& document_path) {
  if (document_path.empty()) return "Corvane";
  size_t slash = document_path.rfind('/');
  std::string name = slash == std::string::npos ? document_path : document_path.substr(slash + 1);
  return name + " [Corvane]";
}

std::string gui_data_folder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg == '/') return std::string(xdg) + "/corvane";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.local/share/corvane";
  return std::string();
}

std::string scratch_project_path(int mode) {
  std::string folder = gui_data_folder();
  if (folder.empty()) return std::string();
  return folder + (mode == 2 ? "/cvso.cvso" : "/cvpr.cvpr");
}

bool is_scratch_project(const std::string& path, int mode) {
  std::string scratch = scratch_project_path(mode);
  return !scratch.empty() && path == scratch;
}

namespace {

void put_u32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += char((v >> (8 * i)) & 0xFF);
}

uint32_t get_u32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t(uint8_t(s[at + size_t(i)])) << (8 * i);
  return v;
}

}  // namespace

std::string encode_handover(const std::vector<std::string>& args) {
  std::string out = "CVH1";
  put_u32(out, uint32_t(args.size()));
  for (const std::string& a : args) {
    put_u32(out, uint32_t(a.size()));
    out += a;
  }
  return out;
}

void HandoverDecoder::finish_argument() {
  if (skipping_) refused_.push_back(length_);
  else args_.push_back(current_);
  current_.clear();
  skipping_ = false;
  have_length_ = false;
  header_.clear();
  ++done_;
  if (done_ == count_) state_ = complete;
}

HandoverDecoder::State HandoverDecoder::feed(const uint8_t* data, size_t size) {
  size_t i = 0;
  while (state_ == reading && i < size) {
    if (!have_count_) {
      header_ += char(data[i++]);
      if (header_.size() == 8) {
        if (header_.compare(0, 4, "CVH1") != 0) return state_ = malformed;
        count_ = get_u32(header_, 4);
        if (count_ == 0 || count_ > k_max_handover_arguments) return state_ = malformed;
        have_count_ = true;
        header_.clear();
      }
      continue;
    }
    if (!have_length_) {
      header_ += char(data[i++]);
      if (header_.size() == 4) {
        length_ = get_u32(header_, 0);
        taken_ = 0;
        have_length_ = true;
        skipping_ = length_ > k_max_gui_argument;
        if (length_ == 0) finish_argument();
      }
      continue;
    }
    size_t n = size - i;
    if (uint64_t(n) > length_ - taken_) n = size_t(length_ - taken_);
    if (skipping_) {
      if (refused_head_.empty() && refused_.empty())
        refused_head_.assign(reinterpret_cast<const char*>(data + i), n < 60 ? n : 60);
    } else {
      current_.append(reinterpret_cast<const char*>(data + i), n);
    }
    i += n;
    taken_ += n;
    if (taken_ == length_) finish_argument();
  }
  if (state_ == complete && i < size) state_ = malformed;  // bytes after the last argument
  return state_;
}
