#include "platform/imagefile.h"

#include <gif_lib.h>
#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/byteorder.h"
#include "platform/jpegread.h"

namespace {

constexpr int k_max_side = k_max_picture_side;  // pictures wider or taller are refused
constexpr long k_max_pixels = k_max_picture_pixels;  // and larger ones (a few bytes may claim any size)

bool sane_size(long w, long h) {
  return w > 0 && h > 0 && w <= k_max_side && h <= k_max_side && w * h <= k_max_pixels;
}

// A picture whose header declares a size past the bounds: refused with that size.
[[nodiscard]] int too_large(RasterImage& out, long w, long h) {
  out = RasterImage{};
  if (w <= 0 || h <= 0) return -1;  // no size at all: damaged
  out.width = int(std::min<long>(w, INT_MAX));
  out.height = int(std::min<long>(h, INT_MAX));
  return k_picture_too_large;
}

struct FileCloser {
  void operator()(FILE* f) const { if (f) std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// The size comes from the frame header and is bounded (with what a
// progressive picture keeps of it and the scans it may have) before libjpeg
// takes memory for it.
[[nodiscard]] int load_jpeg(FILE* f, RasterImage& out) {
  JpegBounds bounds;
  bounds.max_side = k_max_side;
  bounds.max_pixels = uint64_t(k_max_pixels);
  JpegRows rows;
  rows.begin = [&](uint32_t w, uint32_t h) {
    out.width = int(w);
    out.height = int(h);
    out.rgb.assign(size_t(w) * h * 3, 0);
    return true;
  };
  rows.row = [&](uint32_t y, const uint8_t* rgb) {
    std::memcpy(out.rgb.data() + size_t(y) * size_t(out.width) * 3, rgb, size_t(out.width) * 3);
  };
  uint32_t w = 0, h = 0;
  int rc = decode_jpeg_rows(f, bounds, rows, w, h);
  if (rc == 0) return 0;
  out = RasterImage{};
  if (rc != k_jpeg_too_large) return -1;
  // Said with the size the header claims.
  out.width = int(std::min<uint32_t>(w, INT_MAX));
  out.height = int(std::min<uint32_t>(h, INT_MAX));
  return k_picture_too_large;
}

[[nodiscard]] int load_png(FILE* f, RasterImage& out) {
  // Made before the jump point: an error jumps back over nothing that owns memory.
  std::vector<png_bytep> rows;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return -1;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return -1;
  }
  png_init_io(png, f);
  png_read_info(png, info);
  png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  if (!sane_size(long(w), long(h))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return too_large(out, long(w), long(h));
  }
  // Everything becomes 8-bit RGB; transparency is laid over white.
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_color_16 white{0, 255, 255, 255, 255};
  png_set_background(png, &white, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t(w) * 3) {
    png_destroy_read_struct(&png, &info, nullptr);
    return -1;
  }
  out.width = int(w);
  out.height = int(h);
  out.rgb.assign(size_t(w) * h * 3, 0);
  rows.assign(h, nullptr);
  for (png_uint_32 y = 0; y < h; ++y) rows[y] = out.rgb.data() + size_t(y) * w * 3;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return 0;
}

// Only the first frame is shown: the records are read up to it, and its size
// (any frame may declare up to 65535 x 65535, whatever the screen's) is
// bounded before room is made for its pixels. The frames after it are never read.
[[nodiscard]] int read_first_gif_frame(GifFileType* gif, RasterImage& out) {
  int transparent = -1;
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif, &type) != GIF_OK) return -1;
    if (type == TERMINATE_RECORD_TYPE) return -1;  // no frame at all
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif, &code, &block) != GIF_OK) return -1;
      GraphicsControlBlock gcb;
      // The last control block before the frame is the frame's.
      if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4 &&
          DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_OK)
        transparent = gcb.TransparentColor;
      while (block)
        if (DGifGetExtensionNext(gif, &block) != GIF_OK) return -1;
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE || DGifGetImageDesc(gif) != GIF_OK) return -1;
    const GifImageDesc& d = gif->Image;
    if (!sane_size(d.Width, d.Height)) return too_large(out, d.Width, d.Height);
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    if (!map || d.Left < 0 || d.Top < 0 || d.Left > gif->SWidth - d.Width || d.Top > gif->SHeight - d.Height)
      return -1;
    std::vector<GifPixelType> pixels(size_t(d.Width) * size_t(d.Height));
    // An interlaced frame sends every 8th row from 0, every 8th from 4, every 4th from 2, then the odd ones.
    static const int k_first[] = {0, 4, 2, 1}, k_step[] = {8, 8, 4, 2};
    for (int pass = 0; pass < (d.Interlace ? 4 : 1); ++pass)
      for (int y = d.Interlace ? k_first[pass] : 0; y < d.Height; y += d.Interlace ? k_step[pass] : 1)
        if (DGifGetLine(gif, pixels.data() + size_t(y) * size_t(d.Width), d.Width) != GIF_OK) return -1;
    out.width = gif->SWidth;
    out.height = gif->SHeight;
    out.rgb.assign(size_t(out.width) * size_t(out.height) * 3, 255);
    for (int y = 0; y < d.Height; ++y)
      for (int x = 0; x < d.Width; ++x) {
        int index = pixels[size_t(y) * size_t(d.Width) + size_t(x)];
        if (index == transparent || index >= map->ColorCount) continue;
        uint8_t* p = &out.rgb[(size_t(d.Top + y) * size_t(out.width) + size_t(d.Left + x)) * 3];
        p[0] = map->Colors[index].Red;
        p[1] = map->Colors[index].Green;
        p[2] = map->Colors[index].Blue;
      }
    return 0;
  }
}

[[nodiscard]] int load_gif(const std::string& path, RasterImage& out) {
  int error = 0;
  GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
  if (!gif) return -1;
  int rc = sane_size(gif->SWidth, gif->SHeight) ? read_first_gif_frame(gif, out)
                                                 : too_large(out, gif->SWidth, gif->SHeight);
  if (rc == -1) out = RasterImage{};
  DGifCloseFile(gif, &error);
  return rc;
}

[[nodiscard]] int load_tiff(const std::string& path, RasterImage& out) {
  TIFFSetWarningHandler(nullptr);
  TIFFSetErrorHandler(nullptr);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return -1;
  uint32_t w = 0, h = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  int rc = -1;
  if (!sane_size(long(w), long(h))) {
    rc = too_large(out, long(w), long(h));
  } else {
    std::vector<uint32_t> raster(size_t(w) * h);
    if (TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 0)) {
      out.width = int(w);
      out.height = int(h);
      out.rgb.resize(size_t(w) * h * 3);
      for (size_t i = 0; i < raster.size(); ++i) {
        uint32_t a = TIFFGetA(raster[i]);
        // The RGBA reader gives premultiplied colour: laid over white, as the
        // other readers do.
        auto over = [a](uint32_t c) { return uint8_t(std::min<uint32_t>(255, c + (255 - a))); };
        out.rgb[i * 3] = over(TIFFGetR(raster[i]));
        out.rgb[i * 3 + 1] = over(TIFFGetG(raster[i]));
        out.rgb[i * 3 + 2] = over(TIFFGetB(raster[i]));
      }
      rc = 0;
    }
  }
  TIFFClose(tif);
  return rc;
}

// Uncompressed BMP of 24 or 32 bits, bottom-up or top-down.
[[nodiscard]] int load_bmp(FILE* f, RasterImage& out) {
  uint8_t h[54];
  if (std::fread(h, 1, 54, f) != 54) return -1;
  uint32_t offset = get_le32(h + 10);
  int32_t w = int32_t(get_le32(h + 18)), height = int32_t(get_le32(h + 22));
  uint16_t bits = get_le16(h + 28);
  uint32_t compression = get_le32(h + 30);
  bool top_down = height < 0;
  long abs_h = top_down ? -long(height) : long(height);
  if ((bits != 24 && bits != 32) || (compression != 0 && compression != 3)) return -1;
  if (!sane_size(w, abs_h)) return too_large(out, w, abs_h);
  size_t stride = (size_t(w) * (bits / 8) + 3) & ~size_t(3);
  // The rows must be in the file before room is made for them.
  if (std::fseek(f, 0, SEEK_END) != 0) return -1;
  long file_size = std::ftell(f);
  if (file_size < 0 || uint64_t(offset) + uint64_t(stride) * uint64_t(abs_h) > uint64_t(file_size)) return -1;
  std::vector<uint8_t> row(stride);
  out.width = w;
  out.height = int(abs_h);
  out.rgb.assign(size_t(w) * abs_h * 3, 0);
  if (std::fseek(f, long(offset), SEEK_SET) != 0) return -1;
  for (long y = 0; y < abs_h; ++y) {
    if (std::fread(row.data(), 1, stride, f) != stride) return -1;
    uint8_t* dst = &out.rgb[size_t(top_down ? y : abs_h - 1 - y) * w * 3];
    for (int x = 0; x < w; ++x) {
      const uint8_t* px = &row[size_t(x) * (bits / 8)];
      dst[x * 3] = px[2];
      dst[x * 3 + 1] = px[1];
      dst[x * 3 + 2] = px[0];
    }
  }
  return 0;
}

}  // namespace

int load_image_file(const std::string& path, RasterImage& out) {
  FilePtr f(std::fopen(path.c_str(), "rb"));
  if (!f) return -1;
  uint8_t magic[8] = {};
  size_t n = std::fread(magic, 1, sizeof magic, f.get());
  std::rewind(f.get());
  if (n >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF) return load_jpeg(f.get(), out);
  if (n >= 8 && std::memcmp(magic, "\x89PNG\r\n\x1a\n", 8) == 0) return load_png(f.get(), out);
  if (n >= 2 && magic[0] == 'B' && magic[1] == 'M') return load_bmp(f.get(), out);
  if (n >= 6 && (std::memcmp(magic, "GIF87a", 6) == 0 || std::memcmp(magic, "GIF89a", 6) == 0)) {
    f.reset();
    return load_gif(path, out);
  }
  if (n >= 4 && (std::memcmp(magic, "II*\0", 4) == 0 || std::memcmp(magic, "MM\0*", 4) == 0)) {
    f.reset();
    return load_tiff(path, out);
  }
  return -1;
}

int save_bmp_file(const std::string& path, const RasterImage& image) {
  if (!sane_size(image.width, image.height) ||
      image.rgb.size() != size_t(image.width) * image.height * 3)
    return -1;
  size_t stride = (size_t(image.width) * 3 + 3) & ~size_t(3);
  size_t pixels = stride * size_t(image.height);
  uint8_t h[54] = {'B', 'M'};
  put_le32(h + 2, uint32_t(54 + pixels));
  put_le32(h + 10, 54);
  put_le32(h + 14, 40);
  put_le32(h + 18, uint32_t(image.width));
  put_le32(h + 22, uint32_t(image.height));  // bottom-up
  put_le16(h + 26, 1);
  put_le16(h + 28, 24);
  put_le32(h + 34, uint32_t(pixels));
  put_le32(h + 38, 2835);  // 72 dpi
  put_le32(h + 42, 2835);
  FilePtr f(std::fopen(path.c_str(), "wb"));
  if (!f) return -1;
  bool ok = std::fwrite(h, 1, 54, f.get()) == 54;
  std::vector<uint8_t> row(stride, 0);
  for (int y = image.height - 1; ok && y >= 0; --y) {
    const uint8_t* src = &image.rgb[size_t(y) * image.width * 3];
    for (int x = 0; x < image.width; ++x) {
      row[size_t(x) * 3] = src[x * 3 + 2];
      row[size_t(x) * 3 + 1] = src[x * 3 + 1];
      row[size_t(x) * 3 + 2] = src[x * 3];
    }
    ok = std::fwrite(row.data(), 1, stride, f.get()) == stride;
  }
  if (std::fclose(f.release()) != 0) ok = false;
  return ok ? 0 : -1;
}
