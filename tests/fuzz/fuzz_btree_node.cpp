// One B-tree node of any size: the node checks, then every record parsed as a
// catalog record of both formats and the record-area helpers.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "hfs/btree.h"
#include "hfs/catkey.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (uint32_t ns : {512u, 1024u, 2048u, 4096u, 8192u}) {
    if (size < ns) break;
    std::vector<uint8_t> node(data, data + ns);
    for (bool plus : {false, true}) {
      if (!node_is_sound(node.data(), ns, plus)) continue;
      int n = node_record_count(node.data());
      for (int i = 0; i <= n; ++i) {
        btree_record_ptr(node.data(), i, ns);
        btree_record_size(node.data(), i, ns);
        CatalogRecordView v;
        if (parse_catalog_record(node.data(), i, ns, plus, v) && plus && v.name_length) {
          std::vector<uint16_t> units(v.name_length);
          for (uint32_t k = 0; k < v.name_length; ++k) units[k] = uint16_t(v.name[2 * k] << 8 | v.name[2 * k + 1]);
          static const uint16_t star[] = {'a', '*'};
          hfsplus_match_unicode_name(star, 2, units.data(), units.size());
        } else if (v.name && !plus) {
          hfs_match_name("re*", v.name, v.name_length);
        }
      }
      std::vector<uint8_t> copy = node;
      clear_node_free_space(copy.data(), ns);
      move_node_records(0, n > 0 ? 1 : 0, copy.data(), node.data(), ns);
      node_records_span(node.data(), 0, n, ns);
    }
  }
  return 0;
}
