#include "IO/picture.h"

#include <unistd.h>

#include "platform/imagefile.h"

int convert_picture_to_bmp(const char* source_path, const char* target_path) {
  RasterImage image;
  if (load_image_file(source_path, image) != 0) return -1;
  if (save_bmp_file(target_path, image) != 0) {
    unlink(target_path);
    return -1;
  }
  return 0;
}
