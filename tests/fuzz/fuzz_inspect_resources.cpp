// The resource tree over any bytes taken as a resource fork (or an
// AppleDouble file holding one): the tree, each resource's dump lines and
// export names.
#include <cstddef>
#include <cstdint>
#include <span>

#include "gui/inspector/resource_tree.h"

// Results below are let go with (void): a fuzz target looks only for crashes and
// sanitizer reports, and any answer to hostile bytes is fine.

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> fork(data, size);
  ResourceTree t;
  (void)build_resource_tree(fork, "fuzz", t);
  for (const ResourceEntry& e : t.entries) {
    resource_dump_lines(fork, e);
    resource_export_name(resource_description("a:b", e), "bin");
  }
  return 0;
}
