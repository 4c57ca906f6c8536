// Mapping an image through four corner points, for drawing an image into
// any quadrilateral, and the helpers around it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "runtime/imaging/bitmap.h"

namespace kiv::image_geom {

struct Corner {
  float x, y;
};

// Corners in the order top-left, top-right, bottom-right, bottom-left.
using Quad = Corner[4];

struct Mapped {
  int32_t x = 0, y = 0;  // where the buffer's first pixel lies
  uint32_t width = 0, height = 0;
  std::vector<uint32_t> pixels;  // width x height; outside the quad 0 (transparent black)
};

// The source (width x height pixels) mapped into the quadrilateral, with
// bilinear interpolation, over the corners' bounding box. Nothing (no
// result) for an empty source, a corner that is not a finite number, a
// quadrilateral with an edge of length 0, or a bounding box larger than an
// image may be.
std::optional<Mapped> transform(const uint32_t* source, int32_t width, int32_t height, const Quad& corners);

// The corners' x (or y) coordinates mirrored within an extent: c -> extent - c.
void mirror_x(Quad& corners, float extent);
void mirror_y(Quad& corners, float extent);

// A copy of a bitmap upside down.
std::unique_ptr<image_os::Bitmap> flip_vertical(const image_os::Bitmap& source);

}  // namespace kiv::image_geom
