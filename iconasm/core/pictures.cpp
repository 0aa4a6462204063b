#include "iconasm/core/pictures.h"

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

#include "IO/bigendian.h"
#include "platform/jpegread.h"

namespace {
// What libjpeg may take for one picture: a 4096 x 4096 progressive picture needs
// about 100 MB of coefficients.
constexpr uint64_t k_jpeg_memory = 160ull << 20;
}  // namespace

bool is_png_data(std::span<const uint8_t> d) {
  static const uint8_t sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  return d.size() >= 8 && std::memcmp(d.data(), sig, 8) == 0;
}

bool png_header_size(std::span<const uint8_t> d, int& w, int& h) {
  if (!is_png_data(d) || d.size() < 24 || std::memcmp(d.data() + 12, "IHDR", 4) != 0) return false;
  // Sides past the largest int are as refused as INT_MAX.
  auto side = [&](size_t at) { return int(std::min<uint32_t>(get_be32(d.data() + at), INT_MAX)); };
  w = side(16);
  h = side(20);
  return true;
}

bool is_jpeg2000_data(std::span<const uint8_t> d) {
  static const uint8_t box[12] = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  if (d.size() >= 12 && std::memcmp(d.data(), box, 12) == 0) return true;
  return d.size() >= 4 && d[0] == 0xFF && d[1] == 0x4F && d[2] == 0xFF && d[3] == 0x51;
}

bool is_jpeg_data(std::span<const uint8_t> d) {
  return d.size() >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF;
}

namespace {

struct PngSource {
  std::span<const uint8_t> data;
  size_t at = 0;
};

void png_read_span(png_structp png, png_bytep out, png_size_t n) {
  auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
  if (n > src->data.size() - src->at) png_error(png, "truncated");
  std::memcpy(out, src->data.data() + src->at, n);
  src->at += n;
}

void png_fail(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void png_quiet(png_structp, png_const_charp) {}

}  // namespace

// The stored samples as they are, 8 bits a channel (16-bit samples keep their
// high byte), with no gamma or colour-space conversion: the picture other
// readers of icon files show.
int decode_png(std::span<const uint8_t> data, IconImage& out, int max_side) {
  if (!is_png_data(data)) return k_icon_damaged;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_fail, png_quiet);
  if (!png) return k_icon_damaged;
  png_infop info = png_create_info_struct(png);
  PngSource src{data, 0};
  IconImage img;
  std::vector<png_bytep> rows;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    return k_icon_damaged;
  }
  // Text and other chunks are not kept; what a chunk may take stays small.
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
  png_set_chunk_malloc_max(png, 8 << 20);
  png_set_user_limits(png, png_uint_32(max_side), png_uint_32(max_side));
  png_set_read_fn(png, &src, png_read_span);
  png_read_info(png, info);
  png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  if (w == 0 || h == 0 || w > png_uint_32(max_side) || h > png_uint_32(max_side)) png_error(png, "size");
  int type = png_get_color_type(png, info);
  if (png_get_bit_depth(png, info) == 16) png_set_strip_16(png);
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (type == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);  // RGB without alpha: opaque
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t(w) * 4) png_error(png, "layout");
  img = make_image(int(w), int(h), 0);
  rows.resize(h);
  for (png_uint_32 y = 0; y < h; ++y) rows[y] = img.at(0, int(y));
  png_read_image(png, rows.data());
  png_destroy_read_struct(&png, &info, nullptr);
  out = std::move(img);
  return 0;
}

std::vector<uint8_t> encode_png(const IconImage& img) {
  std::vector<uint8_t> out;
  if (img.empty()) return out;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = uint32_t(img.width);
  image.height = uint32_t(img.height);
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, img.rgba.data(), 0, nullptr)) return out;
  out.resize(size);
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, img.rgba.data(), 0, nullptr)) out.clear();
  else out.resize(size);
  return out;
}

namespace {

struct JpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};

void jpeg_fail(j_common_ptr cinfo) {
  longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

}  // namespace

int decode_jpeg(std::span<const uint8_t> data, IconImage& out, int* width, int* height) {
  JpegBounds bounds;
  bounds.max_side = k_max_picture_side;
  bounds.max_pixels = uint64_t(k_max_picture_side) * k_max_picture_side;
  bounds.max_memory = k_jpeg_memory;
  IconImage img;
  JpegRows rows;
  rows.begin = [&](uint32_t w, uint32_t h) {
    img = make_image(int(w), int(h), 0xFFFFFFFF);
    return true;
  };
  rows.row = [&](uint32_t y, const uint8_t* rgb) {
    for (int x = 0; x < img.width; ++x) {
      uint8_t* p = img.at(x, int(y));
      p[0] = rgb[x * 3];
      p[1] = rgb[x * 3 + 1];
      p[2] = rgb[x * 3 + 2];
    }
  };
  uint32_t w = 0, h = 0;
  int rc = decode_jpeg_rows(data, bounds, rows, w, h);
  // Sides past the largest int are as refused as INT_MAX.
  if (width) *width = int(std::min<uint32_t>(w, INT_MAX));
  if (height) *height = int(std::min<uint32_t>(h, INT_MAX));
  if (rc != 0) return k_icon_damaged;
  out = std::move(img);
  return 0;
}

std::vector<uint8_t> encode_jpeg(const IconImage& img, int quality) {
  std::vector<uint8_t> result;
  if (img.empty()) return result;
  jpeg_compress_struct cinfo;
  JpegError err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = jpeg_fail;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  std::vector<uint8_t> row(size_t(img.width) * 3);
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return {};
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = JDIMENSION(img.width);
  cinfo.image_height = JDIMENSION(img.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    int y = int(cinfo.next_scanline);
    for (int x = 0; x < img.width; ++x) {
      const uint8_t* p = img.at(x, y);
      // Over white, as the picture is shown.
      for (int k = 0; k < 3; ++k) row[x * 3 + k] = uint8_t((p[k] * p[3] + 255 * (255 - p[3])) / 255);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  result.assign(buffer, buffer + size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return result;
}
