#include "compiler/compilejob.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <array>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "compiler/compilecursor.h"
#include "compiler/contentwalk.h"
#include "compiler/hfsbuild.h"
#include "compiler/isodesc.h"
#include "compiler/partmap.h"
#include "compiler/project.h"
#include "platform/files.h"
#include "platform/tempfile.h"

namespace {

uint32_t sectors_of(uint64_t bytes) { return uint32_t((bytes + k_iso_sector - 1) / k_iso_sector); }

// Where the ISO part lies (2048-byte sectors).
struct IsoLayout {
  uint32_t iso_pt_sectors = 1, joliet_pt_sectors = 1;
  uint32_t iso_l = 0, iso_m = 0, iso_root = 0;
  uint32_t joliet_l = 0, joliet_m = 0, joliet_root = 0;
  uint32_t end = 0;  // first sector after the Joliet directories
};

IsoLayout compute_iso_layout(const CompileTree& tree) {
  IsoLayout l;
  l.iso_pt_sectors = std::max<uint32_t>(1, sectors_of(tree.iso_path_table_bytes));
  l.joliet_pt_sectors = std::max<uint32_t>(1, sectors_of(tree.joliet_path_table_bytes));
  l.iso_l = 19;
  l.iso_m = l.iso_l + l.iso_pt_sectors;
  l.iso_root = l.iso_m + l.iso_pt_sectors;
  l.joliet_l = l.iso_root + tree.iso_dir_sectors;
  l.joliet_m = l.joliet_l + l.joliet_pt_sectors;
  l.joliet_root = l.joliet_m + l.joliet_pt_sectors;
  l.end = l.joliet_root + tree.joliet_dir_sectors;
  return l;
}

// The six temporary files: L and M path tables and directories of each tree.
struct TempFiles {
  std::array<int, 6> fd{-1, -1, -1, -1, -1, -1};
  std::array<std::string, 6> path;
  enum { iso_l, iso_m, iso_dir, joliet_l, joliet_m, joliet_dir };

  bool create() {
    static const char* prefixes[6] = {"fti", "ftm", "fai", "ftj", "ftk", "faj"};
    for (int i = 0; i < 6; ++i) {
      fd[i] = make_temp_file(prefixes[i], path[i]);
      if (fd[i] < 0) {
        remove_all();
        return false;
      }
    }
    return true;
  }
  void remove_all() {
    for (int i = 0; i < 6; ++i) {
      if (fd[i] >= 0) ::close(fd[i]);
      if (!path[i].empty()) ::unlink(path[i].c_str());
      fd[i] = -1;
      path[i].clear();
    }
  }
  ~TempFiles() { remove_all(); }
};

constexpr size_t k_area_chunk = 256u << 10;

// Copies a temporary file into its area of the image; more than the area holds is an error.
int copy_into_area(int src, int target, uint32_t sector, uint32_t area_sectors) {
  struct stat st {};
  if (::fstat(src, &st) != 0) return -1;
  uint64_t size = uint64_t(st.st_size);
  if (size > uint64_t(area_sectors) * k_iso_sector) {
    show_message(ui_text(4752).c_str());
    return -1;
  }
  uint64_t done = 0;
  uint64_t base = uint64_t(sector) * k_iso_sector;
  // File to file in the kernel where it can; else through a buffer of its own
  // (the data copier may be using the copy buffer).
  std::vector<uint8_t> buffer;
  for (bool kernel = true; done < size;) {
    if (kernel) {
      loff_t in = loff_t(done), out = loff_t(base + done);
      ssize_t k = ::copy_file_range(src, &in, target, &out, size_t(size - done), 0);
      if (k > 0) {
        done += uint64_t(k);
        continue;
      }
      if (k < 0 && errno == EINTR) continue;
      kernel = false;
      continue;
    }
    size_t n = size_t(std::min<uint64_t>(k_area_chunk, size - done));
    if (buffer.empty()) buffer.resize(k_area_chunk);
    if (!pread_exact(src, buffer.data(), n, done) || !pwrite_exact(target, buffer.data(), n, base + done)) {
      show_message(ui_text(4751).c_str());
      return -1;
    }
    done += n;
  }
  return 0;
}

VolumeIdentity identity_of(const ProjectHeader& h, const CompileJob& job) {
  VolumeIdentity id;
  id.system_id = h.system_id;
  id.volume_set_id = h.volume_set_id;
  id.publisher_id = h.publisher_id;
  id.preparer_id = h.preparer_id;
  id.application_id = h.application_id;
  id.copyright_file_id = h.copyright_file_id;
  id.abstract_file_id = h.abstract_file_id;
  id.bibliographic_file_id = h.bibliographic_file_id;
  id.volume_label = job.volume_label;
  return id;
}

struct Compile {
  explicit Compile(CompileJob& j) : job(j) {}
  CompileJob& job;
  WalkTrees trees;
  CompileTree tree;
  ProjectHeader header;
  IsoLayout iso;
  TempFiles temps;
  int64_t now = time(nullptr);
  std::unique_ptr<HfsBuilder> hfs;
  std::unique_ptr<HfsPlusBuilder> hfsplus;
  HfsVolumePlan plan;
  HfsPlusVolumePlan plus_plan;

  int fail(int rc) {
    job.result = rc;
    return rc;
  }

  // The trees the job's kind builds (plus: the HFS side is HFS+), its first
  // block size, the project's header and items; the target emptied. 0, or the
  // failure (message shown).
  int load_trees(bool& plus, uint32_t& bs) {
    int kind = job.kind;
    trees.iso = kind == k_compile_hybrid_hfs || kind == k_compile_hybrid_hfsplus || kind == k_compile_iso;
    trees.isoplus = kind == k_compile_isoplus;
    trees.hfs = kind == k_compile_hybrid_hfs || kind == k_compile_hybrid_hfsplus || kind == k_compile_hfs ||
                kind == k_compile_hfsplus;
    plus = kind == k_compile_hybrid_hfsplus || kind == k_compile_hfsplus;
    bs = trees.hfs && !plus ? job.block_size : 2048;
    if (bs == 0 || bs % 2048) bs = 2048;
    if (!job.project || !read_project_header(job.project, header)) {
      report_open_error(job.target_path.c_str());
      return fail(-1);
    }
    if (job.volume_label.empty()) job.volume_label = header.volume_label;
    if (job.hfs_volume_name.empty()) job.hfs_volume_name = header.hfs_volume_name;
    // The driver writes the whole image: emptied first, whatever it leaves
    // unwritten (padding, gaps) reads as zeros. An image already empty is not
    // truncated again (ext4 would then flush the whole image when it is closed).
    struct stat st {};
    compile_target_zeroed = ::fstat(job.target_fd, &st) == 0 && S_ISREG(st.st_mode) &&
                            (st.st_size == 0 || ::ftruncate(job.target_fd, 0) == 0);
    if (load_compile_tree(job.project, trees, bs, tree) != 0) {
      report_open_error(job.target_path.c_str());
      return fail(-1);
    }
    job.left_out = tree.left_out;
    return 0;
  }

  // The ISO trees are sized on a thread of their own while the HFS view's
  // sources are measured and its catalog laid out (each touches its own side
  // of the items); the catalog is the same whatever the block size.
  int size_trees(bool plus, uint32_t bs, HfsCatalogPlan& catalog) {
    std::string iso_failure;
    int iso_rc = 0, hfs_rc = 0;
    std::thread sizing;
    if (trees.hfs && (trees.iso || trees.isoplus) && tree.items.size() >= k_items_for_helpers && usable_cpus() > 1) {
      try {
        sizing = std::thread([&] { iso_rc = size_iso_trees(tree, trees, &iso_failure); });
      } catch (...) {
        // no thread: sized below, in turn
      }
    }
    if (!sizing.joinable()) iso_rc = size_iso_trees(tree, trees);
    if (iso_rc == 0 && trees.hfs)
      hfs_rc = hfs_extra_data_blocks(tree, bs) < 0 || plan_hfs_catalog(tree, plus, job.hfs_volume_name, catalog) != 0;
    if (sizing.joinable()) sizing.join();
    if (iso_rc != 0 && hfs_rc == 0 && !iso_failure.empty()) show_message(iso_failure.c_str());  // one message
    if (iso_rc != 0 || hfs_rc != 0) return fail(-1);
    job.iso_files = tree.iso_files;
    job.iso_folders = tree.iso_folders;
    job.hfs_files = tree.hfs_files;
    job.hfs_folders = tree.hfs_folders;
    job.iso_path_table_bytes = tree.iso_path_table_bytes;
    job.joliet_path_table_bytes = tree.joliet_path_table_bytes;
    job.iso_dir_sectors = tree.iso_dir_sectors;
    job.joliet_dir_sectors = tree.joliet_dir_sectors;
    return 0;
  }

  // The HFS+ volume after the ISO part (at sector 16 without one), its data
  // blocks counted in data_blocks. 0, or the failure.
  int plan_hfsplus_side(HfsCatalogPlan& catalog, bool has_iso, uint32_t bs, uint64_t& data_blocks,
                        uint32_t& data_sector) {
    uint32_t start = has_iso ? iso.end : 16;
    int64_t extra = hfs_extra_data_blocks(tree, bs);
    if (extra < 0) return fail(-1);
    data_blocks += uint64_t(extra);
    if (data_blocks > 0xFFFF0000ull || plan_hfsplus_volume(catalog, start, uint32_t(data_blocks), plus_plan) != 0)
      return fail(-1);
    hfsplus = std::make_unique<HfsPlusBuilder>(plus_plan, std::move(catalog), tree, job.open_root_window != 0,
                                               job.volume_icon != 0);
    first_data_block = plus_plan.first_data_block();
    data_sector = plus_plan.partition_sector + first_data_block;
    compile_bitmap.assign(size_t(plus_plan.allocation_blocks) * 2048, 0);
    // Cannot be refused: the bitmap was just sized from the plan that places the data area.
    (void)mark_allocation_bits(0, first_data_block);
    return 0;
  }

  // The HFS volume: the block size grows by 2048 until every fork, tree and
  // bitmap fits 65535 blocks; the partition follows the Joliet directories on
  // a block boundary (sector 16 without ISO). A tree that does not fit even
  // the largest block (more forks than blocks) is refused at once rather than
  // after trying every size. 0, or the failure.
  int plan_hfs_side(HfsCatalogPlan& catalog, bool has_iso, uint32_t& bs, uint64_t& data_blocks,
                    uint32_t& data_sector) {
    auto fits = [&](uint32_t size) {
      uint32_t per = size / 2048;
      uint32_t start = has_iso ? (iso.end + per - 1) / per * per : 16;
      int64_t extra = hfs_extra_data_blocks(tree, size);
      if (extra < 0) return -1;
      data_blocks = tree.iso_blocks_for(size) + uint64_t(extra);
      return data_blocks < 65536 && plan_hfs_volume(catalog, start, size, uint32_t(data_blocks), plan, true) == 0 ? 1 : 0;
    };
    int largest = fits(64u << 20);
    if (largest < 0) return fail(-1);
    if (largest == 0) {
      show_message(ui_text(4757).c_str());
      return fail(-1);
    }
    for (;;) {
      int fit = fits(bs);
      if (fit < 0) return fail(-1);
      if (fit) break;
      if (bs >= (64u << 20)) {
        show_message(ui_text(4757).c_str());
        return fail(-1);
      }
      bs += 2048;
    }
    job.block_size = bs;
    hfs = std::make_unique<HfsBuilder>(plan, std::move(catalog), tree, job.open_root_window != 0,
                                       job.volume_icon != 0);
    first_data_block = plan.first_data_block();
    data_sector = plan.block0_sector() + first_data_block * (bs / 2048);
    compile_bitmap.assign(size_t(plan.bitmap_sectors) * 512, 0);
    // Cannot be refused: the bitmap was just sized from the plan that places the data area.
    (void)mark_allocation_bits(0, first_data_block);
    return 0;
  }

  // The data area laid out, the walk writes the image: the forks move on the
  // copier's thread while it builds the catalog, then the structures go to
  // their areas. 0, or the failure.
  int write_image(uint32_t bs, uint64_t data_blocks, uint32_t data_sector) {
    compile_target_fd = job.target_fd;
    compile_block_size = bs;
    hfs_partition_sector = data_sector;
    next_data_block = 0;
    compile_data_blocks = uint32_t(data_blocks);
    if (!ensure_compile_buffer()) {
      show_message(ui_text(4751).c_str());
      return fail(-1);
    }
    HfsVolumeSide* side = hfs ? static_cast<HfsVolumeSide*>(hfs.get()) : hfsplus.get();
    // The data area is allocated at once, so that the copies fill it in order
    // rather than growing the image extent by extent (best effort: the copies
    // report a full disk themselves).
    if (compile_target_zeroed && data_blocks)
      (void)::fallocate(job.target_fd, 0, off_t(data_sector) * k_iso_sector, off_t(data_blocks * bs));
    // The data moves on the copier's thread while the walk builds the catalog.
    start_data_copier();
    int rc = creation_volume(tree, trees, side, 2);
    if (rc < 0) {
      stop_data_copier();
      return fail(rc == k_data_aborted ? k_compile_aborted : k_failed);
    }
    // Every fork has its place now: the volume's structures, the partition map and
    // the ISO directories are written while the last copies run, each to its own area.
    if (finish_image() != 0) {
      stop_data_copier();
      return fail(-1);
    }
    if (finish_data_copies() != k_data_ok) return fail(-1);
    return 0;
  }

  int run() {
    bool plus = false;
    uint32_t bs = 2048;
    if (int rc = load_trees(plus, bs); rc != 0) return rc;
    HfsCatalogPlan catalog;
    if (int rc = size_trees(plus, bs, catalog); rc != 0) return rc;

    bool has_iso = trees.iso || trees.isoplus;
    if (has_iso) {
      iso = compute_iso_layout(tree);
      if (!temps.create()) {
        show_message(ui_text(1500).c_str());
        return fail(k_compile_no_temp_files);
      }
    }
    uint32_t spb = bs / 2048;  // 2048-byte sectors per block
    if (tree.iso_data_blocks > 0xFFFFFFFFull / spb) {
      show_message(ui_text(4752).c_str());
      return fail(-1);
    }
    uint64_t data_blocks = tree.iso_data_blocks;
    uint32_t data_sector = 0;
    int rc = 0;
    if (trees.hfs && plus) {
      rc = plan_hfsplus_side(catalog, has_iso, bs, data_blocks, data_sector);
    } else if (trees.hfs) {
      rc = plan_hfs_side(catalog, has_iso, bs, data_blocks, data_sector);
    } else {
      // The data area follows the Joliet directories, on a block boundary.
      data_sector = (iso.end + spb - 1) / spb * spb;
      first_data_block = 0;
      compile_bitmap.clear();
    }
    if (rc == 0) rc = write_image(bs, data_blocks, data_sector);
    if (rc != 0) return rc;
    job.result = 0;
    return 0;
  }

  // After the walk: the HFS volume's structures, the partition map, the ISO
  // part, and the image's size. 0, or -1 (message shown).
  int finish_image() {
    const bool has_iso = trees.iso || trees.isoplus;
    const uint32_t spb = compile_block_size / 2048;
    const uint32_t data_sector = hfs_partition_sector;
    uint64_t end = uint64_t(data_sector) + uint64_t(next_data_block) * spb;
    PartitionMapPlace map;
    if (hfs) {
      uint32_t ps = hfs->finish(job.target_fd, first_data_block + next_data_block);
      if (ps == 0) return fail(-1);
      uint64_t image_512 = uint64_t(plan.partition_sector) * 4 + ps + 2;
      end = image_512 / 4;
      map.device_blocks_512 = uint32_t(image_512 - 2);
      map.hfs_start_512 = plan.partition_sector * 4;
      map.hfs_blocks_512 = ps;
      map.hfs_name = job.hfs_volume_name.empty() ? std::string("Untitled") : job.hfs_volume_name;
    } else if (hfsplus) {
      uint32_t ps = hfsplus->finish(job.target_fd, first_data_block + next_data_block);
      if (ps == 0) return fail(-1);
      uint64_t image_512 = uint64_t(plus_plan.partition_sector) * 4 + ps;
      end = image_512 / 4;
      map.device_blocks_512 = uint32_t(image_512);
      map.hfs_start_512 = plus_plan.partition_sector * 4;
      map.hfs_blocks_512 = ps;
      map.hfs_name = job.hfs_volume_name.empty() ? std::string("Untitled") : job.hfs_volume_name;
    }
    uint64_t total = end + ((job.options & k_compile_option_post_gap) ? k_post_gap_sectors : 0);
    if (total > 0xFFFFFFFFull) {
      show_message(ui_text(4752).c_str());
      return fail(-1);
    }
    int t = job.target_fd;
    if (hfs || hfsplus) {
      std::vector<uint8_t> sector0(k_partition_map_bytes);
      build_partition_map(map, sector0.data());
      if (!pwrite_exact(t, sector0.data(), sector0.size(), 0)) {
        show_message(ui_text(4751).c_str());
        return fail(-1);
      }
    }
    if (has_iso && write_iso_part(total) != 0) return fail(-1);
    // Everything not written (system area, gaps, the tail) reads as zeros.
    if (::ftruncate(t, off_t(total * k_iso_sector)) != 0) {
      show_message(ui_text(4751).c_str());
      return fail(-1);
    }
    job.image_sectors = total;
    return 0;
  }

  // Directories and path tables into the temporary files, then into place; the descriptors.
  int write_iso_part(uint64_t total) {
    if (write_iso_tree_files(tree, false, trees.isoplus, iso.iso_root, temps.fd[TempFiles::iso_dir],
                             temps.fd[TempFiles::iso_l], temps.fd[TempFiles::iso_m]) != 0 ||
        write_iso_tree_files(tree, true, trees.isoplus, iso.joliet_root, temps.fd[TempFiles::joliet_dir],
                             temps.fd[TempFiles::joliet_l], temps.fd[TempFiles::joliet_m]) != 0)
      return -1;
    int t = job.target_fd;
    if (copy_into_area(temps.fd[TempFiles::iso_l], t, iso.iso_l, iso.iso_pt_sectors) != 0 ||
        copy_into_area(temps.fd[TempFiles::iso_m], t, iso.iso_m, iso.iso_pt_sectors) != 0 ||
        copy_into_area(temps.fd[TempFiles::iso_dir], t, iso.iso_root, tree.iso_dir_sectors) != 0 ||
        copy_into_area(temps.fd[TempFiles::joliet_l], t, iso.joliet_l, iso.joliet_pt_sectors) != 0 ||
        copy_into_area(temps.fd[TempFiles::joliet_m], t, iso.joliet_m, iso.joliet_pt_sectors) != 0 ||
        copy_into_area(temps.fd[TempFiles::joliet_dir], t, iso.joliet_root, tree.joliet_dir_sectors) != 0)
      return -1;
    temps.remove_all();

    // Descriptors, with the final volume size.
    VolumeIdentity id = identity_of(header, job);
    IsoTreePlace iso_place{tree.iso_path_table_bytes, iso.iso_l, iso.iso_m, iso.iso_root,
                           tree.items[0].directory(false).bytes};
    IsoTreePlace joliet_place{tree.joliet_path_table_bytes, iso.joliet_l, iso.joliet_m, iso.joliet_root,
                              tree.items[0].directory(true).bytes};
    std::vector<uint8_t> head(3 * k_iso_sector);
    build_primary_descriptor(id, iso_place, uint32_t(total), now, head.data());
    build_joliet_descriptor(id, joliet_place, uint32_t(total), now, head.data() + k_iso_sector);
    build_set_terminator(head.data() + 2 * k_iso_sector);
    if (!pwrite_exact(t, head.data(), head.size(), 16 * uint64_t(k_iso_sector))) {
      show_message(ui_text(4751).c_str());
      return -1;
    }
    return 0;
  }
};

}  // namespace

int run_compile_driver(CompileJob& job) {
  Compile c(job);
  int rc = c.run();
  stop_data_copier();  // never left running past its compile
  compile_target_fd = -1;
  compile_target_zeroed = false;
  compile_bitmap.clear();
  compile_bitmap.shrink_to_fit();
  release_compile_buffer();
  return rc;
}

int compile_hybrid_hfs_image(CompileJob& job) { job.kind = k_compile_hybrid_hfs; return run_compile_driver(job); }
int compile_hybrid_hfsplus_image(CompileJob& job) { job.kind = k_compile_hybrid_hfsplus; return run_compile_driver(job); }
int compile_isoplus_image(CompileJob& job) { job.kind = k_compile_isoplus; return run_compile_driver(job); }
int compile_iso_image(CompileJob& job) { job.kind = k_compile_iso; return run_compile_driver(job); }
int compile_hfs_image(CompileJob& job) { job.kind = k_compile_hfs; return run_compile_driver(job); }
int compile_hfsplus_image(CompileJob& job) { job.kind = k_compile_hfsplus; return run_compile_driver(job); }

static void finish_compile_job(CompileJob& job) {
  if (job.target_fd >= 0) {
    ::fchmod(job.target_fd, 0644);
    ::close(job.target_fd);
    job.target_fd = -1;
  }
}
void finish_hfs_compile_job(CompileJob& job) { finish_compile_job(job); }
void finish_iso_compile_job(CompileJob& job) { finish_compile_job(job); }
