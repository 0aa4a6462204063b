// .DS_Store files on any bytes: refused or read as far as they are sound; what
// reads whole is laid out again and reads back the same.
#include <cstdint>
#include <cstdlib>

#include "gui/dsstore/dsstore_layout.h"
#include "macfiles/dsstore.h"

// Results below are let go with (void): a fuzz target looks only for crashes and
// sanitizer reports, and any answer to hostile bytes is fine.

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<DsStoreRecord> records;
  std::string error;
  int rc = read_ds_store_records(data, size, records, error);
  if (rc != 0 && error.empty()) std::abort();
  DsStoreLayout layout;
  std::string message;
  (void)read_ds_store_bytes(nullptr, data, size, layout, message);
  if (layout.icon_size_index < 0 || layout.icon_size_index > 7 || layout.text_size_index < 0 ||
      layout.text_size_index > 3 || layout.spacing_index < 0 || layout.spacing_index > 7)
    std::abort();
  if (rc == 0) {
    sort_ds_store_records(records);
    std::vector<uint8_t> again = build_ds_store(records, error);
    if (!again.empty()) {
      std::vector<DsStoreRecord> back;
      if (read_ds_store_records(again.data(), again.size(), back, error) != 0 || back.size() != records.size())
        std::abort();
    }
  }
  return 0;
}
