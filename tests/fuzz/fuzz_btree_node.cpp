// One B-tree node of any size: the node check of every kind, the view over
// its records (keys, children, data) whether the check passed or not, then
// every record parsed and decoded as a catalog record of both formats.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "hfs/btnode.h"
#include "hfs/catkey.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (uint32_t ns : {512u, 1024u, 2048u, 4096u, 8192u}) {
    if (size < ns) break;
    std::vector<uint8_t> node(data, data + ns);
    for (bool plus : {false, true}) {
      const NodeFormat f{ns, plus};
      for (unsigned kinds : {unsigned(k_want_records), unsigned(k_want_header), unsigned(k_want_map)})
        node_is_sound(node.data(), f, kinds);
      const NodeRef v(node.data(), f);
      for (size_t i = 0; i <= v.count(); ++i) {
        v.record(i);
        v.key_size(i);
        v.child(i);
        v.data(i);
        CatalogRecordView r;
        if (parse_catalog_record(node.data(), int(i), ns, plus, r) && plus && r.name_length) {
          std::vector<uint16_t> units(r.name_length);
          for (uint32_t k = 0; k < r.name_length; ++k) units[k] = uint16_t(r.name[2 * k] << 8 | r.name[2 * k + 1]);
          static const uint16_t star[] = {'a', '*'};
          hfsplus_match_unicode_name(star, 2, units.data(), units.size());
        } else if (r.name && !plus) {
          hfs_match_name("re*", r.name, r.name_length);
        }
        CatalogRecord rec;
        if (r.type != 0) decode_catalog_record(plus, r.data, rec);
      }
    }
  }
  return 0;
}
