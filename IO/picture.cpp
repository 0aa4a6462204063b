#include "IO/picture.h"

#include <unistd.h>

#include "IO/ui_services.h"
#include "IO/uitext.h"
#include "platform/imagefile.h"

int convert_picture_to_bmp(const char* source_path, const char* target_path) {
  RasterImage image;
  int rc = load_image_file(source_path, image);
  if (rc == k_picture_too_large) {
    // The size its header claims, said rather than read.
    show_message(format_text(ui_text(1960).c_str(), source_path, image.width, image.height, k_max_picture_side,
                             k_max_picture_pixels)
                     .c_str());
    return -1;
  }
  if (rc != 0) return -1;
  if (save_bmp_file(target_path, image) != 0) {
    unlink(target_path);
    return -1;
  }
  return 0;
}
