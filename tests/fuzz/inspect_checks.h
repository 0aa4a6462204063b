// Shared by the inspector's fuzz targets: an image made of the input, and the
// checks every view must pass (targets inside the image).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "gui/inspector/image_fixture.h"

inline void check_targets(const StructureView& v, const InspectorContext& ctx) {
  auto inside = [&](int64_t s) { return s >= 0 && s < ctx.image_sectors; };
  for (const GoTarget& g : v.gos)
    if (!inside(g.sector)) std::abort();
  for (const ViewRow& r : v.rows)
    if (r.go_sector != -1 && !inside(r.go_sector)) std::abort();
  std::vector<const ViewTreeNode*> todo;
  for (const ViewTreeNode& n : v.tree) todo.push_back(&n);
  while (!todo.empty()) {
    const ViewTreeNode* n = todo.back();
    todo.pop_back();
    if (n->go_sector != -1 && !inside(n->go_sector)) std::abort();
    for (const ViewTreeNode& c : n->children) todo.push_back(&c);
  }
}

// Runs a decoder on every sector of the image, handing it the sector alone
// (cut to what the input holds for the last one) and the reader.
template <typename Decoder>
void decode_every_sector(const ImageFixture& img, size_t input_size, Decoder decoder) {
  for (int64_t s = 0; s < img.ctx.image_sectors; ++s) {
    size_t at = size_t(s) * 512;
    size_t n = input_size > at ? std::min<size_t>(512, input_size - at) : 0;
    std::vector<uint8_t> copy(img.bytes.begin() + at, img.bytes.begin() + at + n);  // exact length, for ASan
    check_targets(decoder(std::span<const uint8_t>(copy), s, img.ctx, img.read), img.ctx);
  }
}
