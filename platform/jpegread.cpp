#include "platform/jpegread.h"

#include <jpeglib.h>
#include <jerror.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <vector>

namespace {

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

void jpeg_fail(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1); }
void jpeg_quiet(j_common_ptr, int) {}

// Stops a picture that keeps sending scans past what its size allows.
struct ScanLimit {
  jpeg_progress_mgr mgr;
  int allowed;
  bool reached;
};

void jpeg_scan_limit(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  ScanLimit* limit = reinterpret_cast<ScanLimit*>(cinfo->progress);
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > limit->allowed) {
    limit->reached = true;
    jpeg_fail(cinfo);
  }
}

uint64_t round_up(uint64_t n, uint64_t m) { return m ? (n + m - 1) / m * m : n; }

// What the header (read up to the first scan) says the picture costs: the
// blocks each scan may visit, and the bytes of the coefficients kept for the
// whole image when the picture has more than one scan (0 otherwise).
struct HeaderCost {
  uint64_t blocks = 0;
  uint64_t coefficient_bytes = 0;
};

HeaderCost header_cost(const jpeg_decompress_struct& c) {
  HeaderCost cost;
  bool multi_scan = c.progressive_mode || c.comps_in_scan < c.num_components;
  for (int i = 0; i < c.num_components; ++i) {
    const jpeg_component_info& comp = c.comp_info[i];
    cost.blocks += uint64_t(comp.width_in_blocks) * comp.height_in_blocks;
    if (multi_scan)
      cost.coefficient_bytes += round_up(comp.width_in_blocks, uint64_t(comp.h_samp_factor)) *
                                round_up(comp.height_in_blocks, uint64_t(comp.v_samp_factor)) * sizeof(JBLOCK);
  }
  return cost;
}

// What one reading keeps, made by the caller of the function that sets the
// jump point: what libjpeg changes in it is still there after the jump.
struct Reading {
  jpeg_decompress_struct cinfo;
  JpegError err;
  ScanLimit limit{};
  std::vector<uint8_t> row;
};

// The one reading, whichever the source (attach sets it on cinfo).
template <class Attach>
[[nodiscard]] int decode_with(Reading& r, Attach attach, const JpegBounds& bounds, const JpegRows& out, uint32_t& width,
                              uint32_t& height) {
  jpeg_decompress_struct& cinfo = r.cinfo;
  cinfo.err = jpeg_std_error(&r.err.mgr);
  r.err.mgr.error_exit = jpeg_fail;
  r.err.mgr.emit_message = jpeg_quiet;
  if (setjmp(r.err.jump)) {
    // More scans than the size allows, or more memory than the bound: the
    // picture is too large; any other stop is damage.
    int code = r.err.mgr.msg_code;
    bool large = r.limit.reached || code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE;
    jpeg_destroy_decompress(&cinfo);
    return large ? k_jpeg_too_large : k_jpeg_damaged;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.mem->max_memory_to_use = long(std::min<uint64_t>(bounds.max_memory, uint64_t(LONG_MAX)));
  attach(cinfo);
  jpeg_read_header(&cinfo, TRUE);
  width = cinfo.image_width;
  height = cinfo.image_height;
  // The size the header declares, and what holding such a picture costs,
  // refused before the library takes memory or time for it.
  HeaderCost cost = header_cost(cinfo);
  if (width == 0 || height == 0 || cinfo.num_components < 1) {
    jpeg_destroy_decompress(&cinfo);
    return k_jpeg_damaged;
  }
  if (width > bounds.max_side || height > bounds.max_side || uint64_t(width) * height > bounds.max_pixels ||
      cost.coefficient_bytes > bounds.max_memory) {
    jpeg_destroy_decompress(&cinfo);
    return k_jpeg_too_large;
  }
  uint64_t scans = cost.blocks ? bounds.max_scanned_blocks / cost.blocks : uint64_t(bounds.max_scans);
  r.limit.allowed = int(std::clamp<uint64_t>(scans, 1, uint64_t(std::max(bounds.max_scans, 1))));
  r.limit.mgr.progress_monitor = jpeg_scan_limit;
  cinfo.progress = &r.limit.mgr;
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_width != width || cinfo.output_height != height || cinfo.output_components != 3 ||
      (out.begin && !out.begin(width, height))) {
    jpeg_destroy_decompress(&cinfo);
    return k_jpeg_damaged;
  }
  r.row.resize(size_t(width) * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    uint32_t y = cinfo.output_scanline;
    JSAMPROW rows[1] = {r.row.data()};
    if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) break;
    if (out.row) out.row(y, r.row.data());
  }
  jpeg_finish_decompress(&cinfo);  // rows missing: an error, the jump
  jpeg_destroy_decompress(&cinfo);
  return 0;
}

template <class Attach>
[[nodiscard]] int decode(Attach attach, const JpegBounds& bounds, const JpegRows& out, uint32_t& width, uint32_t& height) {
  width = height = 0;
  Reading r;
  return decode_with(r, attach, bounds, out, width, height);
}

}  // namespace

int decode_jpeg_rows(std::span<const uint8_t> data, const JpegBounds& bounds, const JpegRows& out, uint32_t& width,
                     uint32_t& height) {
  if (data.empty()) {
    width = height = 0;
    return k_jpeg_damaged;
  }
  return decode([&](jpeg_decompress_struct& c) { jpeg_mem_src(&c, data.data(), static_cast<unsigned long>(data.size())); },
                bounds, out, width, height);
}

int decode_jpeg_rows(FILE* f, const JpegBounds& bounds, const JpegRows& out, uint32_t& width, uint32_t& height) {
  if (!f) {
    width = height = 0;
    return k_jpeg_damaged;
  }
  return decode([&](jpeg_decompress_struct& c) { jpeg_stdio_src(&c, f); }, bounds, out, width, height);
}
