// Copies PC files and folders onto an image's first HFS/HFS+ partition the way
// the window's copy command does (one edit: allocation structures loaded,
// each item imported into the root, one write-back):
//   copy_onto_volume IMAGE PATH...
// Exit 0 copied; 1 the image cannot be opened or mounted; 2 the volume refuses
// edits (read-only); 3 an item failed or the write-back did.
#include <cstdio>

#include "macfiles/import.h"
#include "support/recording_ui.h"
#include "window_edit.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: copy_onto_volume IMAGE PATH...\n");
    return 1;
  }
  return run_window_edit(argv[1], [&] {
    ImportBatch batch;
    for (int i = 2; i < argc; ++i) {
      if (import_pc_item(argv[i], 2, 1) < 0) return false;
      // The windows keep no record of the copies they show: neither does this tool.
      recorded_ui().copies.clear();
    }
    return true;
  });
}
