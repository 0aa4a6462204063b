// The volume header, master directory block and B-tree viewers over an image
// held in memory: every sector shown as each structure, under several node
// sizes, and the bounded walk of the tree the first header node describes;
// then the sectors shown one after the other as the dump's viewers do.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "gui/inspector/btree_view.h"
#include "gui/inspector/fork_dump.h"
#include "gui/inspector/sectorkind.h"
#include "gui/inspector/viewer_layout.h"
#include "gui/inspector/volume_headers.h"

// Results below are let go with (void): a fuzz target looks only for crashes and
// sanitizer reports, and any answer to hostile bytes is fine.

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 512 * 96) return 0;
  std::vector<uint8_t> image((size + 511) / 512 * 512 + 512, 0);
  std::memcpy(image.data(), data, size);
  const int64_t sectors = int64_t(image.size() / 512);
  SectorReader read = [&](int64_t first, uint32_t count, uint8_t* buf) -> int {
    if (first < 0 || first > sectors || count > uint64_t(sectors - first)) return -1;
    std::memcpy(buf, image.data() + first * 512, size_t(count) * 512);
    return 0;
  };
  std::atomic<bool> stop{false};
  for (int64_t s = 0; s < sectors && s < 24; ++s) {
    std::span<const uint8_t> sector(image.data() + s * 512, 512);
    InspectorContext ctx;
    ctx.image_sectors = sectors;
    view_hfsplus_header(sector, s, ctx, read);
    view_master_directory_block(sector, s, ctx);
    view_btree_header(sector, s, ctx);
    for (uint32_t ns : {ctx.node_size, 0u, 512u, 1024u, 4096u}) {
      InspectorContext c = ctx;
      c.node_size = ns;
      c.header_sector = s > 0 ? s - 1 : -1;
      view_index_node(sector, s, c, read);
      view_leaf_node(sector, s, c, read);
    }
    if (image[s * 512 + 8] == 1) {
      std::string message;
      size_t items = 0;
      (void)walk_btree(btree_walk_setup(sector, s), read, stop, [&](const BTreeWalkNode& n) { items += n.items.size(); },
                 message);
    }
  }
  // As the dump's viewers chain: one context through the sectors in turn (a
  // volume header naming the B-tree files, a header node taking their runs),
  // each view laid out for its form, and the walk through those runs.
  InspectorContext chain;
  chain.image_sectors = sectors;
  for (int64_t s = 0; s < sectors && s < 24; ++s) {
    std::span<const uint8_t> sector(image.data() + s * 512, 512);
    SectorKind kind = identify_sector(sector, s, chain);
    viewer_layout(kind, 3, decode_sector(kind, 3, sector, s, chain, read));
    if (kind == k_kind_btree_header) {
      std::string message;
      (void)walk_btree(btree_walk_setup(sector, s, chain.node_runs), read, stop, nullptr, message);
    }
  }
  // The image as one fork of extents given by its first bytes.
  ForkMap map;
  map.length = size;
  map.block_sectors = 1 + data[0] % 8 * (size > 0);
  for (size_t i = 1; i + 2 <= size && i < 33; i += 2) map.extents.push_back({data[i] % 16u, data[i + 1] % 16u});
  uint8_t buf[512];
  for (uint64_t i = 0; i <= fork_sector_count(map); ++i) (void)read_fork_sector(map, read, i, buf);
  std::vector<uint8_t> pattern(data, data + (size < 4 ? size : 4));
  uint64_t at = 0;
  if (!pattern.empty()) (void)search_anywhere(pattern, fork_sector_reader(map, read), fork_sector_count(map), at, 0);
  return 0;
}
