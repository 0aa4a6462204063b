// Opens an image as the Partition Mode document and lists one folder through
// the browse view model: view_folder IMAGE [FOLDER_ID]. Prints the access the
// image was opened with, the rows and the time the listing took.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gui/views/documents.h"
#include "gui/views/volume_view.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: view_folder IMAGE [FOLDER_ID]\n");
    return 2;
  }
  uint32_t folder = argc == 3 ? uint32_t(std::strtoul(argv[2], nullptr, 10)) : 2;
  auto t0 = std::chrono::steady_clock::now();
  ImageDocument doc;
  std::string message;
  int rc = open_image_document(argv[1], 0, doc, message);
  if (rc != 0) {
    std::fprintf(stderr, "not opened (%d): %s\n", rc, message.c_str());
    return 1;
  }
  VolumeListing listing;
  rc = fill_volume_file_table(folder, listing);
  auto t1 = std::chrono::steady_clock::now();
  std::printf("%s\n", doc.read_only ? "read-only" : "writable");
  std::printf("%u folders %u files\n", listing.folders, listing.files);
  if (!listing.message.empty()) std::printf("message: %s\n", listing.message.c_str());
  std::printf("seconds %.3f\n", std::chrono::duration<double>(t1 - t0).count());
  close_image_document(doc);
  return rc == 0 ? 0 : 3;
}
