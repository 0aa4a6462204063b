#include "compiler/contentwalk.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <deque>
#include <set>
#include <thread>
#include <unordered_map>

#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/forkwrite.h"
#include "compiler/isonames.h"
#include "platform/files.h"

namespace {

constexpr uint64_t k_max_iso_file = 0xFFFFFFFFull;  // one extent holds at most 4 GiB - 1
constexpr uint64_t k_max_hfs_fork = 0x7FFFFFFFull;  // HFS fork lengths are read as signed

// The longest fork an HFS volume is given for the file: the PC file itself where
// it is the data fork, else the decoded lengths the record keeps.
uint64_t largest_hfs_fork(const ProjectRecord& r, uint64_t pc_size) {
  SourceEncoding enc = source_encoding(r);
  bool pc_file_is_data = enc == SourceEncoding::plain || enc == SourceEncoding::ntfs_streams ||
                         (enc == SourceEncoding::apple_double && !(r.hfs_flags & k_hfs_applesingle)) ||
                         uint8_t(enc) > 4;
  uint64_t data = pc_file_is_data ? pc_size : r.data_size;
  return std::max<uint64_t>(data, r.rsrc_size);
}

// A file the compile cannot take: the image would lack it, so the compile stops.
// The journal keeps the text (the console shows none).
void refuse_item(int text_id, const std::string& path) {
  show_logged_message(format_text(ui_text(text_id).c_str(), path.c_str()).c_str());
}


int64_t stat_mtime(const struct stat& st) { return int64_t(st.st_mtim.tv_sec); }

// Gives a text's memory back.
void release(std::string& s) { std::string().swap(s); }

// The project's records after the header, read in large pieces (the stream's
// own position is left alone).
class ProjectChunks {
 public:
  explicit ProjectChunks(FILE* f) : fd_(::fileno(f)), bytes_(k_records * k_project_record_size) {}
  bool next(ProjectRecord& r) {
    if (at_ + k_project_record_size > held_) {
      int64_t got = fd_ < 0 ? -1 : pread_full(fd_, bytes_.data(), bytes_.size(), offset_);
      if (got < int64_t(k_project_record_size)) return false;
      held_ = size_t(got) / k_project_record_size * k_project_record_size;
      offset_ += held_;
      at_ = 0;
    }
    decode_project_record(std::span<const uint8_t>(bytes_.data() + at_, k_project_record_size), r);
    at_ += k_project_record_size;
    return true;
  }

 private:
  static constexpr size_t k_records = 1024;
  int fd_;
  std::vector<uint8_t> bytes_;
  uint64_t offset_ = k_project_record_size;  // record 0 is the header
  size_t held_ = 0, at_ = 0;
};

// The folder of the items looked up last, opened once for all of them (-1 when
// it cannot be: they are then looked up by path).
class FolderCache {
 public:
  ~FolderCache() {
    if (fd_ >= 0) ::close(fd_);
  }
  int open(const std::string* folder) {
    if (folder != folder_) {
      if (fd_ >= 0) ::close(fd_);
      folder_ = folder;
      fd_ = (!folder || folder->empty()) ? -1 : ::open(folder->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    return fd_;
  }

 private:
  const std::string* folder_ = nullptr;
  int fd_ = -1;
};

// The record ids already taken, one bit each for the ids a project hands out.
class IdSet {
 public:
  bool insert(int32_t id) {
    int64_t v = id;
    std::vector<bool>& bits = v >= 0 ? pos_ : neg_;
    uint64_t at = uint64_t(v >= 0 ? v : -v);
    if (at >= k_bit_limit) return far_.insert(id).second;
    if (at >= bits.size()) bits.resize(std::max<size_t>(size_t(at) + 1, bits.size() * 2), false);
    if (bits[at]) return false;
    bits[at] = true;
    return true;
  }

 private:
  static constexpr uint64_t k_bit_limit = 1u << 26;
  std::vector<bool> pos_, neg_;
  std::set<int32_t> far_;
};

// Every record is an item, in file order; the items a compile takes are linked
// into the tree (their parent and their folder's children) from the root down.
struct TreeLoader {
  TreeLoader(CompileTree& t, const WalkTrees& w, uint32_t bs) : tree(t), trees(w), block_size(bs) {}
  CompileTree& tree;
  const WalkTrees& trees;
  uint32_t block_size;
  // Each parent id's records (item indices), in file order: the runs.
  std::unordered_map<uint32_t, std::vector<uint32_t>> runs;
  int64_t now = time(nullptr);
  bool hfs_classic = false;  // the HFS view is an HFS (not HFS+) volume
  bool refused = false;      // an item was refused: the tree is not to be compiled
  IdSet visited;

  // What looking an item up on the PC found (its size and date go to the item).
  enum : uint8_t { k_not_looked_up, k_missing, k_out_of_reach, k_found_file, k_found_folder, k_found_other };
  std::vector<uint8_t> found_;  // by item, when looked up ahead
  FolderCache folder_cache;

  uint32_t item_index(const WalkItem& item) const { return uint32_t(&item - tree.items.data()); }

  // Looks the item's PC file up within its folder (by its path when the folder
  // itself cannot be opened: the same answer, by the longer way).
  static uint8_t look_up(WalkItem& item, FolderCache& cache) {
    struct stat st {};
    int fd = cache.open(item.pc_folder);
    int rc = fd >= 0 ? ::fstatat(fd, item.rec.pc_name.c_str(), &st, 0) : ::stat(item.pc_path().c_str(), &st);
    if (rc != 0) return (errno == ENOENT || errno == ENOTDIR) ? k_missing : k_out_of_reach;
    item.mtime_utc = stat_mtime(st);
    item.size = uint64_t(st.st_size);
    return S_ISDIR(st.st_mode) ? k_found_folder : S_ISREG(st.st_mode) ? k_found_file : k_found_other;
  }

  // Looks up ahead, on the cores this process may use, every item whose own
  // record is in a view of the compile: the walk from the root then only reads
  // what was found (items it does not take cost a lookup for nothing).
  void look_up_ahead() {
    size_t n = tree.items.size();
    unsigned threads = std::min<unsigned>(usable_cpus(), 4);
    if (n < k_items_for_helpers || threads < 2) return;
    found_.assign(n, k_not_looked_up);
    auto wanted = [&](const WalkItem& it) {
      bool iso = (trees.iso || trees.isoplus) && iso_view(it.rec) != 0, hfs = trees.hfs && hfs_view(it.rec) != 0;
      return (iso || hfs) && !(it.folder && it.project_only());
    };
    auto work = [&](size_t from, size_t to) {
      FolderCache cache;
      for (size_t i = from; i < to; ++i)
        if (wanted(tree.items[i])) found_[i] = look_up(tree.items[i], cache);
    };
    std::vector<std::thread> helpers;
    size_t per = (n - 1 + threads - 1) / threads;
    try {
      for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(work, 1 + t * per, std::min(n, 1 + (t + 1) * per));
    } catch (...) {
      // fewer helpers: what they would have looked up is looked up on the way
    }
    work(1, std::min(n, 1 + per));
    for (std::thread& h : helpers) h.join();
  }

  void leave_out(const std::string& path) {
    tree.left_out.push_back(path);
    write_log_line(format_text(ui_text(6655).c_str(), path.c_str()).c_str());
  }

  // Takes the item when the compile has it: in a view its parent is in, on the
  // PC as the record says. False leaves it out (with its subtree).
  bool take(WalkItem& item, const WalkItem& parent) {
    const ProjectRecord& r = item.rec;
    item.in_iso = (trees.iso || trees.isoplus) && iso_view(r) != 0 && parent.in_iso;
    item.in_hfs = trees.hfs && hfs_view(r) != 0 && parent.in_hfs;
    if (!item.in_iso && !item.in_hfs) return false;
    if (item.folder && item.project_only()) {
      item.mtime_utc = now;
      return true;
    }
    std::string path = item.pc_path();
    uint8_t found = item_index(item) < found_.size() ? found_[item_index(item)] : uint8_t(k_not_looked_up);
    if (found == k_not_looked_up) found = look_up(item, folder_cache);
    if (found == k_out_of_reach) {
      report_open_error(path.c_str());  // there, but out of reach
      refused = true;
      return false;
    }
    // Missing on the PC, or no longer what the project holds: left out, and said so.
    if (found == k_missing || item.folder != (found == k_found_folder) || (!item.folder && found != k_found_file)) {
      leave_out(path);
      return false;
    }
    if (!item.folder && trees.isoplus) {
      // ISO+: the forks of the source (a decoded MacBinary, BinHex, AppleSingle...).
      ForkSources src;
      int rc = open_fork_sources(r, path, src);
      if (rc < 0) {  // message shown
        refused = true;
        return false;
      }
      if (rc == 0) {
        item.size = src.data.length;
        item.rsrc.length = src.rsrc.length;
        item.iso_assoc = src.rsrc.length > 0;
      }
    }
    if (!item.folder && item.in_iso && (item.size > k_max_iso_file || item.rsrc.length > k_max_iso_file)) {
      refuse_item(4753, path);
      refused = true;
      return false;
    }
    if (!item.folder && item.in_hfs && hfs_classic && largest_hfs_fork(r, item.size) > k_max_hfs_fork) {
      refuse_item(4790, path);
      refused = true;
      return false;
    }
    return true;
  }

  // Links the items under the root into the tree, depth first in file order
  // (a folder's subtree before its next sibling), with a stack of its own: a
  // project's folders may lie any number of levels deep.
  void add_children() {
    struct Level {
      uint32_t parent_index;
      const std::vector<uint32_t>* run;
      size_t next;
    };
    std::vector<Level> stack;
    auto enter = [&](uint32_t parent_index, uint32_t parent_id) {
      auto it = runs.find(parent_id);
      if (it != runs.end()) stack.push_back({parent_index, &it->second, 0});
    };
    enter(0, k_root_folder_id);
    while (!stack.empty()) {
      Level& level = stack.back();
      if (level.next == level.run->size()) {
        stack.pop_back();
        continue;
      }
      const uint32_t parent_index = level.parent_index;
      const uint32_t index = (*level.run)[level.next++];
      WalkItem& item = tree.items[index];
      if (item.rec.id == 0 || !visited.insert(item.rec.id)) continue;  // a damaged project may loop
      if (!take(item, tree.items[parent_index])) {
        item.in_iso = item.in_hfs = false;
        continue;
      }
      item.parent = parent_index;
      tree.items[parent_index].children().push_back(index);
      if (item.folder) {
        item.children();  // its lists made now: the sizing passes may then run side by side
        if (item.in_iso) ++tree.iso_folders;
        if (item.in_hfs) ++tree.hfs_folders;
        enter(index, uint32_t(item.rec.id));  // level is not used past this point
      } else {
        if (item.in_iso) {
          ++tree.iso_files;
          tree.iso_data_blocks += (item.size + block_size - 1) / block_size;
          tree.iso_data_blocks += (item.rsrc.length + block_size - 1) / block_size;
        }
        if (item.in_hfs) ++tree.hfs_files;
      }
    }
  }
};

uint8_t hidden_flag(const ProjectRecord& r) { return (r.attr_flags & 0x02) ? k_iso_flag_hidden : 0; }

// The records of one folder in one tree (".", "..", then its children).
void folder_records(const CompileTree& tree, uint32_t index, bool joliet, uint32_t root_sector, DirRecord& dot,
                    DirRecord& dotdot, std::vector<DirRecord>& records) {
  const WalkItem& f = tree.items[index];
  const WalkItem& p = tree.items[index == 0 ? 0 : f.parent];
  auto place = [&](const WalkItem& d, DirRecord& r) {
    r.extent = root_sector + d.directory(joliet).sector;
    r.length = d.directory(joliet).bytes;
    iso_record_date(d.mtime_utc, r.date);
    r.flags = k_iso_flag_directory;
  };
  dot = DirRecord{};
  place(f, dot);
  dot.identifier.assign(1, '\0');
  dotdot = DirRecord{};
  place(p, dotdot);
  dotdot.identifier.assign(1, '\1');
  records.clear();
  for (uint32_t c : joliet ? f.joliet_order() : f.iso_order()) {
    const WalkItem& child = tree.items[c];
    DirRecord r;
    r.identifier = joliet ? child.joliet_id() : child.iso_id();
    iso_record_date(child.mtime_utc, r.date);
    if (child.folder) {
      place(child, r);
      r.flags |= hidden_flag(child.rec);
      records.push_back(std::move(r));
      continue;
    }
    r.flags = hidden_flag(child.rec);
    if (child.iso_assoc) {
      // ISO+: the resource fork first, as an associated file of the same name.
      DirRecord a = r;
      a.flags |= k_iso_flag_associated;
      a.extent = child.rsrc.length ? child.rsrc.image_sector : 0;
      a.length = uint32_t(child.rsrc.length);
      records.push_back(std::move(a));
    }
    r.extent = child.data.length ? child.data.image_sector : 0;
    r.length = uint32_t(child.data.length);
    records.push_back(std::move(r));
  }
}

// Adds the Apple extension field to the file records of an ISO+ folder.
void add_apple_fields(const CompileTree& tree, uint32_t index, bool joliet, std::vector<DirRecord>& records) {
  const WalkItem& f = tree.items[index];
  size_t k = 0;
  for (uint32_t c : joliet ? f.joliet_order() : f.iso_order()) {
    const WalkItem& child = tree.items[c];
    size_t n = child.iso_assoc ? 2 : 1;
    if (!child.folder) {
      std::string aa = make_apple_extension_field(reinterpret_cast<const uint8_t*>(child.rec.type_creator), 0);
      for (size_t i = 0; i < n; ++i) records[k + i].system_use = aa;
    }
    k += n;
  }
}

bool build_folder(const CompileTree& tree, uint32_t index, bool joliet, bool isoplus, uint32_t root_sector,
                  std::vector<uint8_t>& out) {
  DirRecord dot, dotdot;
  std::vector<DirRecord> records;
  folder_records(tree, index, joliet, root_sector, dot, dotdot, records);
  if (isoplus) add_apple_fields(tree, index, joliet, records);
  return build_directory(dot, dotdot, records, out);
}

// Folders of the ISO view in path-table order (breadth first, each tree's order).
std::vector<uint32_t> path_table_order(const CompileTree& tree, bool joliet) {
  std::vector<uint32_t> order{0};
  for (size_t n = 0; n < order.size(); ++n)
    for (uint32_t c : joliet ? tree.items[order[n]].joliet_order() : tree.items[order[n]].iso_order())
      if (tree.items[c].folder) order.push_back(c);
  return order;
}

std::vector<PathTableEntry> path_table_entries(const CompileTree& tree, bool joliet, uint32_t root_sector) {
  std::vector<uint32_t> order = path_table_order(tree, joliet);
  std::unordered_map<uint32_t, uint16_t> number;
  std::vector<PathTableEntry> entries;
  for (size_t n = 0; n < order.size(); ++n) {
    const WalkItem& d = tree.items[order[n]];
    number[order[n]] = uint16_t(n + 1);
    PathTableEntry e;
    e.identifier = n == 0 ? std::string(1, '\0') : std::string(joliet ? d.joliet_id() : d.iso_id());
    e.extent = root_sector + d.directory(joliet).sector;
    e.parent = n == 0 ? 1 : number[d.parent];
    entries.push_back(std::move(e));
  }
  return entries;
}

}  // namespace

bool WalkItem::project_only() const { return folder && pc_folder && !pc_folder->empty() && (*pc_folder)[0] == '.'; }

void WalkItem::set_iso_ids(std::string_view iso, std::string_view joliet) {
  iso_id_length = uint8_t(iso.size());
  iso_ids_.assign(iso);
  iso_ids_.append(joliet);
}

unsigned usable_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  return sched_getaffinity(0, sizeof set, &set) == 0 ? unsigned(CPU_COUNT(&set)) : 1u;
}

std::string WalkItem::pc_path() const {
  if (!pc_folder || project_only()) return std::string();
  std::string p = *pc_folder;
  if (!p.empty() && p.back() != '/') p.push_back('/');
  return p + rec.pc_name;
}

uint64_t CompileTree::iso_blocks_for(uint32_t bs) const {
  uint64_t n = 0;
  for (const WalkItem& it : items)
    if (!it.folder && it.in_iso) n += (it.size + bs - 1) / bs + (it.rsrc.length + bs - 1) / bs;
  return n;
}

int load_compile_tree(FILE* project, const WalkTrees& trees, uint32_t block_size, CompileTree& tree) {
  tree = CompileTree{};
  ProjectHeader header;
  if (!project || !read_project_header(project, header) || check_project_magic(project) != 1) return -1;
  if (std::fseek(project, long(k_project_record_size), SEEK_SET) != 0) return -1;
  TreeLoader loader(tree, trees, block_size ? block_size : 2048);
  // Every item is a record (or the root): the list never grows past this.
  long count = project_record_count(project);
  tree.items.reserve(size_t(std::max<long>(count, 1)));
  WalkItem root;
  root.folder = true;
  root.rec.id = k_root_folder_id;
  root.in_iso = trees.iso || trees.isoplus;
  root.in_hfs = trees.hfs;
  root.mtime_utc = time(nullptr);
  tree.items.push_back(std::move(root));
  // A folder's records share their PC folder: one copy of it serves them all.
  std::unordered_map<std::string, const std::string*> folders;
  ProjectChunks chunks(project);
  for (ProjectRecord r; chunks.next(r);) {
    uint32_t index = uint32_t(tree.items.size());
    loader.runs[r.parent_id].push_back(index);
    WalkItem item;
    item.folder = r.is_folder();
    auto [at, added] = folders.try_emplace(r.pc_folder, nullptr);
    if (added) at->second = &tree.pc_folders.emplace_back(std::move(r.pc_folder));
    item.pc_folder = at->second;
    release(r.pc_folder);
    item.rec = std::move(r);
    tree.items.push_back(std::move(item));
  }
  folders.clear();
  loader.hfs_classic = trees.hfs && !header.hfsplus_target();
  loader.look_up_ahead();
  loader.visited.insert(k_root_folder_id);
  tree.items[0].children();
  loader.add_children();
  loader.found_ = std::vector<uint8_t>();
  // What the compile does not take needs nothing of its record; the ISO names
  // of what it takes for the HFS view only, nor the HFS name of the others.
  for (size_t i = 1; i < tree.items.size(); ++i) {
    WalkItem& it = tree.items[i];
    if (!it.in_iso && !it.in_hfs) it.rec = ProjectRecord{};
    if (!it.in_iso) {
      release(it.rec.long_name);
      release(it.rec.pc_short_name);
    }
    if (!it.in_hfs) release(it.rec.hfs_name);
    if (it.in_hfs && it.rec.hfs_name == it.rec.pc_name) {
      release(it.rec.hfs_name);
      it.hfs_name_is_pc_name = true;
    }
  }
  return loader.refused ? -1 : 0;
}

int size_iso_trees(CompileTree& tree, const WalkTrees& trees, std::string* failure) {
  auto fail = [&](const std::string& text) {
    if (failure) *failure = text;
    else show_message(text.c_str());
    return -1;
  };
  if (!(trees.iso || trees.isoplus)) return 0;
  // Names, unique within each directory, and each tree's order.
  for (WalkItem& f : tree.items) {
    if (!f.folder || !f.in_iso) continue;
    TakenNames iso_used;
    std::set<std::string> joliet_used;
    for (uint32_t c : f.children()) {
      WalkItem& child = tree.items[c];
      if (!child.in_iso) continue;
      std::string level1 = make_unique_level1_name(child.rec.pc_short_name, child.rec.long_name.empty()
                                                                               ? child.rec.pc_name
                                                                               : child.rec.long_name,
                                                   child.folder, iso_used);
      std::string joliet = make_unique_joliet_name(
          child.rec.long_name.empty() ? child.rec.pc_name : child.rec.long_name, child.folder, joliet_used);
      if (level1.empty() || joliet.empty()) {
        return fail(format_text(ui_text(4755).c_str(), child.rec.long_name.c_str()));
      }
      child.set_iso_ids(child.folder ? level1 : level1 + ";1", joliet);
      child.iso_record_flags = uint8_t((child.folder ? k_iso_flag_directory : 0) | hidden_flag(child.rec));
      if (!child.folder) {  // a folder's name is wanted again if its directory cannot be built
        release(child.rec.long_name);
        release(child.rec.pc_short_name);
      }
      f.iso_order().push_back(c);
      f.joliet_order().push_back(c);
    }
    // Each identifier split once, not at every comparison.
    for (bool joliet : {false, true}) {
      std::vector<uint32_t>& order = joliet ? f.joliet_order() : f.iso_order();
      std::vector<std::pair<IdentifierParts, uint32_t>> keyed;
      keyed.reserve(order.size());
      for (uint32_t c : order)
        keyed.emplace_back(joliet ? joliet_identifier_parts(tree.items[c].joliet_id())
                                  : iso_identifier_parts(tree.items[c].iso_id()),
                           c);
      std::stable_sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
        return joliet ? joliet_parts_less(a.first, b.first) : iso_parts_less(a.first, b.first);
      });
      for (size_t i = 0; i < keyed.size(); ++i) order[i] = keyed[i].second;
    }
  }
  // Directory sizes and places (breadth first), then the path tables.
  for (bool joliet : {false, true}) {
    std::vector<uint32_t> order = path_table_order(tree, joliet);
    if (order.size() > 65535) {
      return fail(ui_text(4754));
    }
    uint32_t sector = 0;
    std::vector<uint8_t> bytes;
    for (uint32_t d : order) {
      if (!build_folder(tree, d, joliet, trees.isoplus, 0, bytes)) {
        return fail(format_text(ui_text(4755).c_str(), tree.items[d].rec.long_name.c_str()));
      }
      WalkItem& w = tree.items[d];
      w.directory(joliet) = {sector, uint32_t(bytes.size())};
      sector += uint32_t(bytes.size() / k_iso_sector);
    }
    std::vector<uint8_t> table;
    build_path_table(path_table_entries(tree, joliet, 0), false, table);
    (joliet ? tree.joliet_dir_sectors : tree.iso_dir_sectors) = sector;
    (joliet ? tree.joliet_path_table_bytes : tree.iso_path_table_bytes) = uint32_t(table.size());
  }
  return 0;
}

namespace {

struct Walker {
  CompileTree& tree;
  const WalkTrees& trees;
  HfsVolumeSide* hfs;

  // ISO+: the resource fork (associated file) first, then the data fork.
  int copy_isoplus_file(WalkItem& item) {
    ForkSources src;
    int rc = open_fork_sources(item.rec, item.pc_path(), src);
    if (rc < 0) return k_data_io_error;
    if (rc == 1) return copy_plain(item);
    if (src.data.length != item.size || src.rsrc.length != item.rsrc.length) {
      show_message(format_text(ui_text(4750).c_str(), item.pc_path().c_str()).c_str());
      return k_data_io_error;
    }
    if (item.rsrc.length) {
      rc = write_fork_at_cursor(src.rsrc.fd, src.rsrc.offset, src.rsrc.length, item.pc_path().c_str(), item.rsrc);
      if (rc < 0) return rc;
    }
    if (item.size)
      return write_fork_at_cursor(src.data.fd, src.data.offset, src.data.length, item.pc_path().c_str(), item.data);
    return 0;
  }

  int copy_iso_file(WalkItem& item) {
    if (trees.isoplus) return copy_isoplus_file(item);
    return copy_plain(item);
  }

  int copy_plain(WalkItem& item) {
    if (item.size == 0) return 0;
    std::string path = item.pc_path();
    return write_file_at_cursor(*item.pc_folder, item.rec.pc_name, item.size, path.c_str(), item.data);
  }

  // One folder's own items: each file's data and the HFS records of its files
  // and subfolders; hfs_count the items it gave the HFS view.
  int enter_folder(uint32_t index, uint32_t hfs_parent, uint32_t& hfs_count) {
    hfs_count = 0;
    for (uint32_t c : tree.items[index].children()) {
      WalkItem& item = tree.items[c];
      if (item.folder) {
        if (item.in_hfs && hfs) {
          int rc = hfs->add_folder(item, hfs_parent, item.hfs_id);
          if (rc < 0) return rc;
          ++hfs_count;
        }
        continue;
      }
      if (item.in_iso) {
        int rc = copy_iso_file(item);
        if (rc < 0) return rc;
      }
      if (item.in_hfs && hfs) {
        int rc = hfs->add_file(item, hfs_parent, item.in_iso ? &item.data : nullptr);
        if (rc < 0) return rc;
        ++hfs_count;
      }
    }
    return 0;
  }

  // The folder's items, then each subfolder's in turn (its whole subtree before
  // the next), each subfolder's valence set once its items are in. The levels
  // are kept on a stack of their own, however deep the project.
  int walk(uint32_t root, uint32_t hfs_root, uint32_t& root_count) {
    struct Level {
      uint32_t index;
      uint32_t hfs_count;
      size_t next;  // the next child to look at for a subfolder
    };
    std::vector<Level> stack{{root, 0, 0}};
    if (int rc = enter_folder(root, hfs_root, stack.back().hfs_count); rc < 0) return rc;
    while (!stack.empty()) {
      Level& level = stack.back();
      const std::vector<uint32_t>& children = tree.items[level.index].children();
      while (level.next < children.size() && !tree.items[children[level.next]].folder) ++level.next;
      if (level.next == children.size()) {
        Level done = level;
        stack.pop_back();
        if (stack.empty()) {
          root_count = done.hfs_count;
          break;
        }
        const WalkItem& item = tree.items[done.index];
        if (item.in_hfs && hfs) {
          if (int rc = hfs->set_valence(item.hfs_id, done.hfs_count); rc < 0) return rc;
        }
        continue;
      }
      uint32_t c = children[level.next++];
      stack.push_back({c, 0, 0});
      if (int rc = enter_folder(c, tree.items[c].hfs_id, stack.back().hfs_count); rc < 0) return rc;
    }
    return 0;
  }
};

}  // namespace

int creation_volume(CompileTree& tree, const WalkTrees& trees, HfsVolumeSide* hfs, uint32_t hfs_root_id) {
  Walker w{tree, trees, hfs};
  uint32_t count = 0;
  int rc = w.walk(0, hfs_root_id, count);
  if (rc < 0) return rc;
  if (hfs && trees.hfs) return hfs->set_valence(hfs_root_id, count);
  return 0;
}

int write_iso_tree_files(const CompileTree& tree, bool joliet, bool isoplus, uint32_t root_sector, int dir_fd,
                         int l_fd, int m_fd) {
  std::vector<uint32_t> order = path_table_order(tree, joliet);
  std::vector<uint8_t> bytes;
  for (uint32_t d : order) {
    const WalkItem& w = tree.items[d];
    if (!build_folder(tree, d, joliet, isoplus, root_sector, bytes)) return -1;
    uint32_t want = w.directory(joliet).bytes;
    uint32_t at = w.directory(joliet).sector;
    if (bytes.size() != want) {
      show_message(ui_text(4752).c_str());
      return -1;
    }
    if (!pwrite_exact(dir_fd, bytes.data(), bytes.size(), uint64_t(at) * k_iso_sector)) {
      show_message(ui_text(4751).c_str());
      return -1;
    }
  }
  std::vector<PathTableEntry> entries = path_table_entries(tree, joliet, root_sector);
  std::vector<uint8_t> l, m;
  if (!build_path_table(entries, false, l) || !build_path_table(entries, true, m)) return -1;
  uint32_t want = joliet ? tree.joliet_path_table_bytes : tree.iso_path_table_bytes;
  if (l.size() != want || m.size() != want) {
    show_message(ui_text(4752).c_str());
    return -1;
  }
  if (!pwrite_exact(l_fd, l.data(), l.size(), 0) || !pwrite_exact(m_fd, m.data(), m.size(), 0)) {
    show_message(ui_text(4751).c_str());
    return -1;
  }
  return 0;
}
