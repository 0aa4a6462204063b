#include "compiler/contentwalk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <deque>
#include <set>
#include <unordered_map>

#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/isonames.h"
#include "macfiles/forkwrite.h"

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

bool is_project_only_folder(const ProjectRecord& r) { return !r.pc_folder.empty() && r.pc_folder[0] == '.'; }

std::string item_path(const ProjectRecord& r) {
  std::string p = r.pc_folder;
  if (!p.empty() && p.back() != '/') p.push_back('/');
  return p + r.pc_name;
}

int64_t stat_mtime(const struct stat& st) { return int64_t(st.st_mtim.tv_sec); }

// The project's records in file order, and the indices of each parent id's
// children among them (the runs). A record moves into its item when it is taken.
struct ProjectRuns {
  std::vector<ProjectRecord> records;
  std::unordered_map<uint32_t, std::vector<uint32_t>> children;
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

struct TreeLoader {
  TreeLoader(CompileTree& t, const WalkTrees& w, ProjectRuns& r, uint32_t bs) : tree(t), trees(w), runs(r), block_size(bs) {}
  CompileTree& tree;
  const WalkTrees& trees;
  ProjectRuns& runs;
  uint32_t block_size;
  int64_t now = time(nullptr);
  bool hfs_classic = false;  // the HFS view is an HFS (not HFS+) volume
  bool refused = false;      // an item was refused: the tree is not to be compiled
  IdSet visited;

  void leave_out(const std::string& path) {
    tree.left_out.push_back(path);
    write_log_line(format_text(ui_text(6655).c_str(), path.c_str()).c_str());
  }

  void add_children(uint32_t parent_index, uint32_t parent_id, int depth) {
    auto it = runs.children.find(parent_id);
    if (it == runs.children.end() || depth > 1000) return;
    for (uint32_t k : it->second) {
      ProjectRecord& r = runs.records[k];
      if (r.id == 0 || !visited.insert(r.id)) continue;  // a damaged project may loop
      const WalkItem& parent = tree.items[parent_index];
      WalkItem item;
      item.folder = r.is_folder();
      item.in_iso = (trees.iso || trees.isoplus) && iso_view(r) != 0 && parent.in_iso;
      item.in_hfs = trees.hfs && hfs_view(r) != 0 && parent.in_hfs;
      if (!item.in_iso && !item.in_hfs) continue;
      item.rec = std::move(r);
      if (item.folder && is_project_only_folder(item.rec)) {
        item.mtime_utc = now;
      } else {
        std::string path = item.pc_path();
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
          if (errno == ENOENT || errno == ENOTDIR) {  // missing on the PC: left out, and said so
            leave_out(path);
            continue;
          }
          report_open_error(path.c_str());  // there, but out of reach
          refused = true;
          continue;
        }
        if (item.folder != S_ISDIR(st.st_mode) || (!item.folder && !S_ISREG(st.st_mode))) {
          leave_out(path);  // no longer what the project holds
          continue;
        }
        item.mtime_utc = stat_mtime(st);
        item.size = uint64_t(st.st_size);
        if (!item.folder && trees.isoplus) {
          // ISO+: the forks of the source (a decoded MacBinary, BinHex, AppleSingle...).
          ForkSources src;
          int rc = open_fork_sources(item.rec, src);
          if (rc < 0) {  // message shown
            refused = true;
            continue;
          }
          if (rc == 0) {
            item.size = src.data.length;
            item.rsrc_size = src.rsrc.length;
            item.iso_assoc = src.rsrc.length > 0;
          }
        }
        if (!item.folder && item.in_iso && (item.size > k_max_iso_file || item.rsrc_size > k_max_iso_file)) {
          refuse_item(4753, path);
          refused = true;
          continue;
        }
        if (!item.folder && item.in_hfs && hfs_classic && largest_hfs_fork(item.rec, item.size) > k_max_hfs_fork) {
          refuse_item(4790, path);
          refused = true;
          continue;
        }
      }
      uint32_t index = uint32_t(tree.items.size());
      item.parent = parent_index;
      tree.items.push_back(std::move(item));
      tree.items[parent_index].children().push_back(index);
      WalkItem& added = tree.items[index];
      if (added.folder) {
        if (added.in_iso) ++tree.iso_folders;
        if (added.in_hfs) ++tree.hfs_folders;
        add_children(index, uint32_t(added.rec.id), depth + 1);
      } else {
        if (added.in_iso) {
          ++tree.iso_files;
          tree.iso_data_blocks += (added.size + block_size - 1) / block_size;
          tree.iso_data_blocks += (added.rsrc_size + block_size - 1) / block_size;
        }
        if (added.in_hfs) ++tree.hfs_files;
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
    r.extent = root_sector + (joliet ? d.joliet_dir_sector : d.iso_dir_sector);
    r.length = joliet ? d.joliet_dir_bytes : d.iso_dir_bytes;
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
    r.identifier = joliet ? child.joliet_id : child.iso_id;
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
    e.identifier = n == 0 ? std::string(1, '\0') : (joliet ? d.joliet_id : d.iso_id);
    e.extent = root_sector + (joliet ? d.joliet_dir_sector : d.iso_dir_sector);
    e.parent = n == 0 ? 1 : number[d.parent];
    entries.push_back(std::move(e));
  }
  return entries;
}

bool write_all_at(int fd, const uint8_t* p, size_t n, uint64_t off) {
  while (n > 0) {
    ssize_t w = ::pwrite(fd, p, n, off_t(off));
    if (w <= 0) return false;
    p += w;
    n -= size_t(w);
    off += uint64_t(w);
  }
  return true;
}

}  // namespace

std::string WalkItem::pc_path() const {
  if (folder && is_project_only_folder(rec)) return std::string();
  return item_path(rec);
}

uint64_t CompileTree::iso_blocks_for(uint32_t bs) const {
  uint64_t n = 0;
  for (const WalkItem& it : items)
    if (!it.folder && it.in_iso) n += (it.size + bs - 1) / bs + (it.rsrc_size + bs - 1) / bs;
  return n;
}

int load_compile_tree(FILE* project, const WalkTrees& trees, uint32_t block_size, CompileTree& tree) {
  tree = CompileTree{};
  ProjectHeader header;
  if (!project || !read_project_header(project, header) || check_project_magic(project) != 1) return -1;
  ProjectRuns runs;
  if (std::fseek(project, long(k_project_record_size), SEEK_SET) != 0) return -1;
  long count = project_record_count(project);
  if (count > 1) runs.records.reserve(size_t(count - 1));
  for (ProjectRecord r; read_project_record(project, r);) {
    runs.children[r.parent_id].push_back(uint32_t(runs.records.size()));
    runs.records.push_back(std::move(r));
  }
  // Every item is a record (or the root): the list never grows past this.
  tree.items.reserve(runs.records.size() + 1);
  WalkItem root;
  root.folder = true;
  root.rec.id = k_root_folder_id;
  root.in_iso = trees.iso || trees.isoplus;
  root.in_hfs = trees.hfs;
  root.mtime_utc = time(nullptr);
  tree.items.push_back(std::move(root));
  TreeLoader loader(tree, trees, runs, block_size ? block_size : 2048);
  loader.hfs_classic = trees.hfs && !header.hfsplus_target();
  loader.visited.insert(k_root_folder_id);
  loader.add_children(0, k_root_folder_id, 0);
  return loader.refused ? -1 : 0;
}

int size_iso_trees(CompileTree& tree, const WalkTrees& trees) {
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
        show_message(format_text(ui_text(4755).c_str(), child.rec.long_name.c_str()).c_str());
        return -1;
      }
      child.iso_id = child.folder ? level1 : level1 + ";1";
      child.joliet_id = joliet;
      child.iso_record_flags = uint8_t((child.folder ? k_iso_flag_directory : 0) | hidden_flag(child.rec));
      f.iso_order().push_back(c);
      f.joliet_order().push_back(c);
    }
    std::stable_sort(f.iso_order().begin(), f.iso_order().end(), [&](uint32_t a, uint32_t b) {
      return iso_identifier_less(tree.items[a].iso_id, tree.items[b].iso_id);
    });
    std::stable_sort(f.joliet_order().begin(), f.joliet_order().end(), [&](uint32_t a, uint32_t b) {
      return joliet_identifier_less(tree.items[a].joliet_id, tree.items[b].joliet_id);
    });
  }
  // Directory sizes and places (breadth first), then the path tables.
  for (bool joliet : {false, true}) {
    std::vector<uint32_t> order = path_table_order(tree, joliet);
    if (order.size() > 65535) {
      show_message(ui_text(4754).c_str());
      return -1;
    }
    uint32_t sector = 0;
    std::vector<uint8_t> bytes;
    for (uint32_t d : order) {
      if (!build_folder(tree, d, joliet, trees.isoplus, 0, bytes)) {
        show_message(format_text(ui_text(4755).c_str(), tree.items[d].rec.long_name.c_str()).c_str());
        return -1;
      }
      WalkItem& w = tree.items[d];
      (joliet ? w.joliet_dir_sector : w.iso_dir_sector) = sector;
      (joliet ? w.joliet_dir_bytes : w.iso_dir_bytes) = uint32_t(bytes.size());
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
    int rc = open_fork_sources(item.rec, src);
    if (rc < 0) return k_data_io_error;
    if (rc == 1) return copy_plain(item);
    if (src.data.length != item.size || src.rsrc.length != item.rsrc_size) {
      show_message(format_text(ui_text(4750).c_str(), item.pc_path().c_str()).c_str());
      return k_data_io_error;
    }
    if (item.rsrc_size) {
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
    return write_file_at_cursor(path, item.size, path.c_str(), item.data);
  }

  int folder(uint32_t index, uint32_t hfs_parent, uint32_t& hfs_count) {
    hfs_count = 0;
    std::vector<uint32_t> children = tree.items[index].children();
    for (uint32_t c : children) {
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
    for (uint32_t c : children) {
      WalkItem& item = tree.items[c];
      if (!item.folder) continue;
      uint32_t count = 0;
      int rc = folder(c, item.hfs_id, count);
      if (rc < 0) return rc;
      if (item.in_hfs && hfs) {
        rc = hfs->set_valence(item.hfs_id, count);
        if (rc < 0) return rc;
      }
    }
    return 0;
  }
};

}  // namespace

int creation_volume(CompileTree& tree, const WalkTrees& trees, HfsVolumeSide* hfs, uint32_t hfs_root_id) {
  Walker w{tree, trees, hfs};
  uint32_t count = 0;
  int rc = w.folder(0, hfs_root_id, count);
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
    uint32_t want = joliet ? w.joliet_dir_bytes : w.iso_dir_bytes;
    uint32_t at = joliet ? w.joliet_dir_sector : w.iso_dir_sector;
    if (bytes.size() != want) {
      show_message(ui_text(4752).c_str());
      return -1;
    }
    if (!write_all_at(dir_fd, bytes.data(), bytes.size(), uint64_t(at) * k_iso_sector)) {
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
  if (!write_all_at(l_fd, l.data(), l.size(), 0) || !write_all_at(m_fd, m.data(), m.size(), 0)) {
    show_message(ui_text(4751).c_str());
    return -1;
  }
  return 0;
}
