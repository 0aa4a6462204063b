// Damaged volumes: a fresh HFS or HFS+ image (with a few folders) is changed at
// the byte positions the input names, mounted, checked and edited. Nothing may
// crash, read or write outside its buffers; edits either work or report.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "damaged_image.h"
#include "IO/names.h"
#include "macfiles/import.h"
#include "hfs/alloc.h"
#include "hfs/catinsert.h"
#include "hfs/extents.h"
#include "hfs/engine.h"
#include "hfs/mount.h"
#include "hfs/newimage.h"
#include "hfs/volcheck.h"
#include "hfs/volume.h"
#include "hfs/voledit.h"

// Results below are let go with (void): a fuzz target looks only for crashes and
// sanitizer reports, and any answer to hostile bytes is fine.

namespace {

// A file whose data fork goes on in overflow records: written whole, then its
// extent recorded as one-block extents, those past the catalog record's slots
// in the extents-overflow tree.
void add_scattered_file(bool plus) {
  int src = memfd_create("src", 0);
  std::vector<uint8_t> bytes(size_t(30) * g_volume.block_size, 0x5A);
  bool written = write(src, bytes.data(), bytes.size()) == ssize_t(bytes.size());
  MacFile meta;
  meta.name = "Scattered";
  ImportFork data{src, 0, bytes.size()}, none;
  int rc = written ? write_file_forks(meta, data, none, 2, 1) : -1;
  close(src);
  if (rc != 0) return;
  const std::string name = meta.name;
  std::u16string uname(name.begin(), name.end());
  auto key = plus ? hfsplus_raw_key(2, std::span<const uint16_t>(reinterpret_cast<const uint16_t*>(uname.data()), uname.size()))
                  : hfs_raw_key(2, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(name.data()), name.size()));
  std::vector<uint8_t> rec;
  if (catalog_get(key, rec) != 0) return;
  uint32_t id = 0, start = 0, count = 0, slots = plus ? 8 : 3;
  if (plus) {
    HfsPlusCatalogFile f;
    if (!decode(rec, f) || f.data_fork.extents[1].block_count != 0) return;
    id = f.file_id;
    start = f.data_fork.extents[0].start_block;
    count = f.data_fork.extents[0].block_count;
    for (uint32_t i = 0; i < slots; ++i) f.data_fork.extents[i] = {start + i, 1};
    encode(f, rec);
  } else {
    HfsCatalogFile f;
    if (!decode(rec, f) || f.data_extents[1].block_count != 0) return;
    id = f.file_id;
    start = f.data_extents[0].start_block;
    count = f.data_extents[0].block_count;
    for (uint32_t i = 0; i < slots; ++i) f.data_extents[i] = {uint16_t(start + i), 1};
    encode(f, rec);
  }
  if (count < 20 || catalog_replace(key, rec) != 0) return;
  for (uint32_t b = slots; b < count; ++b) {
    if (plus) (void)hfsplus_insert_overflow_extents({start + b, 1}, id, b, k_fork_data);
    else (void)hfs_insert_overflow_extents({uint16_t(start + b), 1}, id, b, k_fork_data);
  }
}

std::vector<uint8_t> make_template(bool plus) {
  int fd = memfd_create("tpl", 0);
  NewImageRequest req{fd, "Fuzz", 1, 0};
  if (plus) (void)create_hfsplus_image(req); else (void)create_hfs_image(req);
  PartitionListEntry list[k_max_partitions];
  if (open_image_volume(fd, 0, list) == 0 && load_allocation_bitmap() == 0) {
    for (int i = 0; i < 40; ++i) {
      std::string n = "Folder " + std::to_string(i);
      if (plus) (void)hfsplus_create_folder(n.c_str(), 2); else (void)hfs_create_folder(n, 2);
    }
    add_scattered_file(plus);
    (void)flush_volume_structures();
  }
  free_allocation_bitmap();
  close_image_volume();
  return take_memory_file(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = init_volume_engine() == 0;
  static std::vector<uint8_t> templates[2] = {make_template(false), make_template(true)};
  if (!ready || size < 1) return 0;
  bool plus = data[0] & 1;
  std::vector<uint8_t> img = templates[plus];
  if (img.empty()) return 0;
  damage_image(img, data, size);
  int fd = memory_file_of(img);
  if (fd < 0) return 0;
  PartitionListEntry list[k_max_partitions];
  if (open_image_volume(fd, 0, list) == 0) {
    std::vector<std::string> faults;
    check_volume(faults);
    if (load_allocation_bitmap() == 0) {
      if (plus) {
        (void)hfsplus_create_folder("New one", 2);
        (void)hfsplus_delete_item(utf8_to_unistr("Folder 3"), 2);
        (void)hfsplus_delete_item(utf8_to_unistr("Scattered"), 2);
        (void)hfsplus_rename_item(utf8_to_unistr("Folder 7"), "Renamed", 2);
      } else {
        (void)hfs_create_folder("New one", 2);
        (void)hfs_delete_item("Folder 3", 2);
        (void)hfs_delete_item("Scattered", 2);
        (void)hfs_rename_item("Folder 7", "Renamed", 2);
      }
      (void)flush_volume_structures();
    }
    free_allocation_bitmap();
    close_image_volume();
  }
  close(fd);
  return 0;
}
