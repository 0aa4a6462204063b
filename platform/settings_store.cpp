#include "platform/settings_store.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "platform/files.h"

namespace {

// Far more than any settings file holds (a few kilobytes).
constexpr size_t k_max_store_bytes = 4u << 20;

struct Key {
  std::string name;                                    // as first spelt
  std::map<std::string, std::pair<std::string, std::string>> values;  // folded name -> (name, value)
};
using Store = std::map<std::string, Key>;  // folded key name -> key

std::string fold(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

bool valid_key(const std::string& key) {
  if (key.empty() || key.front() == '\\' || key.back() == '\\') return false;
  for (unsigned char c : key)
    if (c < 0x20 || c == ']') return false;
  return key.find("\\\\") == std::string::npos;
}

// --- file form ---------------------------------------------------------------
// [key]
// @=default value
// name=value
// Bytes below 0x20, "\" and (in names) "=" are written as escapes.

std::string escape(const std::string& s, bool name) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c < 0x20 || (name && c == '=')) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (name && !out.empty() && (out[0] == '@' || out[0] == '[' || out[0] == '#')) {
    char hex[8];
    snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(out[0]));
    out = hex + out.substr(1);
  }
  return out;
}

std::string unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 >= s.size()) {
      out += s[i];
      continue;
    }
    char c = s[++i];
    if (c == 'n') out += '\n';
    else if (c == 'r') out += '\r';
    else if (c == 'x' && i + 2 < s.size()) {
      out += static_cast<char>(strtol(s.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

Store parse(const std::string& text) {
  Store store;
  Key* current = nullptr;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    pos = nl == std::string::npos ? text.size() : nl + 1;
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      size_t close = line.rfind(']');
      std::string name = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
      if (!valid_key(name)) {
        current = nullptr;
        continue;
      }
      Key& k = store[fold(name)];
      if (k.name.empty()) k.name = name;
      current = &k;
      continue;
    }
    if (!current) continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string name = line.substr(0, eq);
    name = name == "@" ? std::string() : unescape(name);
    current->values[fold(name)] = {name, unescape(line.substr(eq + 1))};
  }
  return store;
}

std::string serialize(const Store& store) {
  std::string out = "# Corvane settings: one [key] a section, @ its default value.\n";
  for (const auto& [folded, key] : store) {
    out += "[" + key.name + "]\n";
    for (const auto& [fname, nv] : key.values)
      out += (nv.first.empty() ? std::string("@") : escape(nv.first, true)) + "=" + escape(nv.second, false) + "\n";
  }
  return out;
}

// The whole file, when it is a regular file of at most k_max_store_bytes; ok
// also when there is none yet (an empty store). Anything else named there (a
// FIFO, a device, a file far too large to be ours) reads as an empty store
// that is never written over.
std::string read_whole(const std::string& path, bool& ok) {
  std::string text;
  int rc = read_regular_file(path, k_max_store_bytes, text);
  ok = rc == k_read_file_ok || (rc == k_read_file_unopened && errno == ENOENT);
  return text;
}

// What identifies one version of the file: every write renames a new file
// over it, so a change of any of these means another content.
struct FileStamp {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  struct timespec mtime {}, ctime {};
  bool operator==(const FileStamp& o) const {
    return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

FileStamp stamp_of(const std::string& path) {
  FileStamp s;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return s;
  s.exists = true;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtime = st.st_mtim;
  s.ctime = st.st_ctim;
  return s;
}

bool g_read_only = false;

// The store as last parsed, kept while the file stays the same version: the
// readers of one run parse it once.
struct CachedStore {
  bool valid = false;
  std::string path;
  FileStamp stamp;
  std::shared_ptr<const Store> store;
};
std::mutex g_cache_mutex;
CachedStore g_cache;

[[nodiscard]] int make_folders(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i != path.size() && path[i] != '/') continue;
    std::string part = path.substr(0, i);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return -1;
  }
  return 0;
}

std::shared_ptr<const Store> load() {
  const std::string path = settings_file_path();
  FileStamp now = stamp_of(path);
  std::lock_guard<std::mutex> lock(g_cache_mutex);
  if (g_cache.valid && g_cache.path == path && g_cache.stamp == now) return g_cache.store;
  bool ok = false;
  std::string text = now.exists ? read_whole(path, ok) : std::string();
  auto store = std::make_shared<const Store>(parse(text));
  // A file that changes while it is read is parsed again next time.
  g_cache = CachedStore{stamp_of(path) == now, path, now, store};
  return store;
}

// Runs change on the store under the lock and writes the result back when
// change returns true. 0 success, -1 failure (nothing written).
[[nodiscard]] int update(const std::function<bool(Store&)>& change) {
  if (g_read_only) return -1;
  const std::string folder = settings_folder();
  if (make_folders(folder) != 0) return -1;
  const std::string lock_path = folder + "/settings.lock";
  int lock = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) return -1;
  while (flock(lock, LOCK_EX) != 0) {
    if (errno != EINTR) {
      close(lock);
      return -1;
    }
  }
  int rc = -1;
  bool ok = false;
  std::string text = read_whole(settings_file_path(), ok);
  if (ok) {
    Store store = parse(text);
    if (!change(store)) {
      rc = 0;
    } else {
      std::string out = serialize(store);
      std::string tmp = folder + "/settings.XXXXXX";
      std::vector<char> name(tmp.begin(), tmp.end());
      name.push_back('\0');
      int fd = mkostemp(name.data(), O_CLOEXEC);
      if (fd >= 0) {
        bool good = write_full(fd, out.data(), out.size()) == 0 && fsync(fd) == 0;
        good = close(fd) == 0 && good;
        if (good && rename(name.data(), settings_file_path().c_str()) == 0) rc = 0;
        else unlink(name.data());
      }
    }
  }
  flock(lock, LOCK_UN);
  close(lock);
  return rc;
}

void add_key(Store& store, const std::string& key) {
  // The key and every missing parent, as RegCreateKey makes them.
  for (size_t i = 0; i <= key.size(); ++i) {
    if (i != key.size() && key[i] != '\\') continue;
    std::string part = key.substr(0, i);
    Key& k = store[fold(part)];
    if (k.name.empty()) k.name = part;
  }
}

int direct_subkeys(const Store& store, const std::string& key) {
  std::string prefix = fold(key) + "\\";
  int n = 0;
  for (auto it = store.lower_bound(prefix); it != store.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
    if (it->first.find('\\', prefix.size()) == std::string::npos) ++n;
  return n;
}

}  // namespace

void store_set_read_only(bool read_only) { g_read_only = read_only; }
bool store_read_only() { return g_read_only; }

std::string settings_folder() {
  const char* dir = getenv("CORVANE_CONFIG_DIR");
  if (dir && *dir) return dir;
  const char* xdg = getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') return std::string(xdg) + "/corvane";
  const char* home = getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.config/corvane";
}

std::string settings_file_path() { return settings_folder() + "/settings.reg"; }

bool store_key_exists(const std::string& key) {
  if (!valid_key(key)) return false;
  std::shared_ptr<const Store> loaded = load();
  const Store& s = *loaded;
  return s.count(fold(key)) != 0;
}

int store_create_key(const std::string& key) {
  if (!valid_key(key)) return -1;
  if (store_key_exists(key)) return 0;
  return update([&](Store& s) {
    if (s.count(fold(key))) return false;
    add_key(s, key);
    return true;
  });
}

int store_delete_key(const std::string& key) {
  if (!valid_key(key)) return -1;
  int result = 0;
  int rc = update([&](Store& s) {
    auto it = s.find(fold(key));
    if (it == s.end()) return false;
    if (direct_subkeys(s, key) > 0) {
      result = 1;
      return false;
    }
    s.erase(it);
    return true;
  });
  return rc != 0 ? -1 : result;
}

int store_read_value(const std::string& key, const std::string& name, std::string& out) {
  if (!valid_key(key)) return -1;
  std::shared_ptr<const Store> loaded = load();
  const Store& s = *loaded;
  auto k = s.find(fold(key));
  if (k == s.end()) return -1;
  auto v = k->second.values.find(fold(name));
  if (v == k->second.values.end()) return -1;
  out = v->second.second;
  return 0;
}

int store_write_value(const std::string& key, const std::string& name, const std::string& value) {
  if (!valid_key(key)) return -1;
  return update([&](Store& s) {
    add_key(s, key);
    auto& values = s[fold(key)].values;
    auto it = values.find(fold(name));
    if (it != values.end() && it->second.second == value) return false;  // unchanged
    values[fold(name)] = {it != values.end() ? it->second.first : name, value};
    return true;
  });
}

int store_delete_value(const std::string& key, const std::string& name) {
  if (!valid_key(key)) return -1;
  bool found = false;
  int rc = update([&](Store& s) {
    auto k = s.find(fold(key));
    if (k == s.end()) return false;
    found = k->second.values.erase(fold(name)) != 0;
    return found;
  });
  return rc == 0 && found ? 0 : -1;
}

int store_count_values(const std::string& key) {
  if (!valid_key(key)) return -1;
  std::shared_ptr<const Store> loaded = load();
  const Store& s = *loaded;
  auto k = s.find(fold(key));
  return k == s.end() ? -1 : static_cast<int>(k->second.values.size());
}

int store_count_subkeys(const std::string& key) {
  if (!valid_key(key)) return -1;
  std::shared_ptr<const Store> loaded = load();
  const Store& s = *loaded;
  if (!s.count(fold(key))) return -1;
  return direct_subkeys(s, key);
}

std::vector<std::pair<std::string, std::string>> store_list_values(const std::string& key) {
  std::vector<std::pair<std::string, std::string>> out;
  if (!valid_key(key)) return out;
  std::shared_ptr<const Store> loaded = load();
  const Store& s = *loaded;
  auto k = s.find(fold(key));
  if (k == s.end()) return out;
  for (const auto& [f, nv] : k->second.values) out.push_back(nv);
  return out;
}
