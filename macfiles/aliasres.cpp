#include "macfiles/aliasres.h"

#include <unistd.h>

#include <string>

#include "hfs/extents.h"
#include "hfs/ondisk.h"
#include "hfs/volume.h"
#include "macfiles/resfork.h"
#include "platform/files.h"
#include "platform/tempfile.h"

namespace {
// An alias file's resource fork is small; a larger one is not read into memory.
constexpr uint64_t k_alias_fork_limit = 16u << 20;
}

int hfs_read_alias_resource(std::span<const uint8_t> file_record, std::vector<uint8_t>& out) {
  uint8_t raw[80] = {};
  uint64_t length = 0;
  uint32_t file_id = 0;
  if (g_volume.is_hfsplus) {
    HfsPlusCatalogFile f;
    if (!decode(file_record, f)) return k_alias_unreadable;
    encode(f.resource_fork, MutByteSpan(raw, 80));
    length = f.resource_fork.logical_size;
    file_id = f.file_id;
  } else {
    HfsCatalogFile f;
    if (!decode(file_record, f)) return k_alias_unreadable;
    encode(f.rsrc_extents, MutByteSpan(raw, 12));
    length = f.rsrc_logical_size;
    file_id = f.file_id;
  }
  if (length < 16 || length > k_alias_fork_limit) return k_alias_unreadable;
  std::string tmp;
  int fd = make_temp_file("adrp", tmp);
  if (fd < 0) return k_alias_unreadable;
  ::unlink(tmp.c_str());
  std::vector<uint8_t> fork(static_cast<size_t>(length));
  int rc = g_volume.is_hfsplus ? hfsplus_copy_fork_to_file(fd, raw, length, file_id, k_fork_resource)
                               : hfs_copy_fork_to_file(fd, raw, uint32_t(length), file_id, k_fork_resource);
  bool read = rc == 0 && pread_full(fd, fork.data(), fork.size(), 0) == int64_t(fork.size());
  ::close(fd);
  if (!read) return k_alias_unreadable;
  ResourceMap map;
  if (decode_resource_fork(fork, map) != 0) return k_alias_unreadable;
  const ResourceType* alis = map.find("alis");
  if (!alis || alis->refs.empty()) return k_alias_unreadable;
  const ResourceRef& ref = alis->refs.front();
  if (ref.length > k_alias_resource_limit) return k_alias_too_long;
  std::span<const uint8_t> bytes = resource_bytes(fork, ref);
  out.assign(bytes.begin(), bytes.end());
  return 0;
}
