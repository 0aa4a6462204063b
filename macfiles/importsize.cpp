#include "macfiles/importsize.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <vector>

#include "IO/paths.h"
#include "macfiles/applesingle.h"
#include "macfiles/binhex.h"
#include "macfiles/macbinary.h"
#include "macfiles/namedstreams.h"
#include "platform/files.h"
#include "platform/streams.h"

namespace {

uint64_t rounded(uint64_t bytes, uint32_t block) {
  if (block == 0) return bytes;
  return (bytes + block - 1) / block * block;
}

uint64_t file_allocation(const std::string& path, uint64_t size, uint32_t block) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  std::array<uint8_t, 512> head{};
  int64_t n = fd >= 0 ? pread_full(fd, head.data(), head.size(), 0) : -1;
  if (fd >= 0) ::close(fd);
  if (n >= int64_t(k_macbinary_header_size) && is_macbinary_header(head.data(), int64_t(size))) {
    MacBinaryHeader h;
    decode_macbinary_header(head.data(), h);
    return rounded(h.data_length, block) + rounded(h.resource_length, block);
  }
  if (n >= 4 && is_applesingle_header({head.data(), size_t(n)})) {
    AppleSingleHeader h;
    if (decode_apple_header({head.data(), size_t(n)}, size, h) == 0) {
      uint64_t total = 0;
      for (uint32_t id : {uint32_t(k_entry_data_fork), uint32_t(k_entry_resource_fork)})
        if (const AppleEntryDescriptor* e = find_apple_entry(h, id)) total += rounded(e->length, block);
      return total;
    }
  }
  if (n > 0 && has_binhex_banner({head.data(), size_t(n)})) return rounded(size, block) + block;
  uint64_t resource = 0;
  if (has_appledouble_sidecar(path)) {
    uint32_t offset = 0;
    resource = appledouble_resource_entry(appledouble_path(path), offset);
  } else {
    int64_t stream = named_stream_size(path, k_resource_stream);
    if (stream > 0) resource = uint64_t(stream);
  }
  return rounded(size, block) + rounded(resource, block);
}

uint64_t item_allocation(const std::string& path, uint32_t block, int depth) {
  struct stat st;
  if (depth > 256 || ::lstat(path.c_str(), &st) != 0) return 0;
  if (S_ISREG(st.st_mode)) {
    if (is_appledouble_companion(path)) return 0;
    return file_allocation(path, uint64_t(st.st_size), block);
  }
  if (!S_ISDIR(st.st_mode)) return 0;
  std::vector<FolderEntry> entries;
  if (list_folder(path, entries) != 0) return 0;
  uint64_t total = 0;
  std::string base = path.empty() || path.back() == '/' ? path : path + "/";
  for (const FolderEntry& e : entries)
    if (e.kind == EntryKind::file || e.kind == EntryKind::folder) total += item_allocation(base + e.name, block, depth + 1);
  return total;
}

}  // namespace

uint64_t import_allocation(const std::string& path, uint32_t block_size) {
  return item_allocation(path, block_size, 0);
}
