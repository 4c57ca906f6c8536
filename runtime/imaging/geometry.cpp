#include "runtime/imaging/geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kiv::image_geom {
namespace {

struct Vec {
  double x, y;
};

double cross(Vec a, Vec b) { return a.x * b.y - a.y * b.x; }
double wide(float value) { return static_cast<double>(value); }
Vec minus(Corner a, Corner b) { return {wide(a.x) - wide(b.x), wide(a.y) - wide(b.y)}; }

// Every coordinate finite and well inside the 32-bit range, so that the
// bounding box truncates to integers without overflow.
bool usable(const Quad& corners) {
  constexpr double limit = 1e9;
  for (const Corner& c : corners)
    if (!std::isfinite(c.x) || !std::isfinite(c.y) || std::fabs(wide(c.x)) > limit || std::fabs(wide(c.y)) > limit) return false;
  return true;
}

}  // namespace

std::optional<Mapped> transform(const uint32_t* source, int32_t width, int32_t height, const Quad& corners) {
  if (width <= 0 || height <= 0 || !usable(corners)) return std::nullopt;
  float min_x = std::numeric_limits<float>::max(), min_y = min_x;
  float max_x = -min_x, max_y = -min_x;
  for (const Corner& c : corners) {
    min_x = std::min(min_x, c.x), min_y = std::min(min_y, c.y);
    max_x = std::max(max_x, c.x), max_y = std::max(max_y, c.y);
  }
  const auto box_width = static_cast<int64_t>(wide(max_x) - wide(min_x));
  const auto box_height = static_cast<int64_t>(wide(max_y) - wide(min_y));
  if (box_width > image_os::max_side || box_height > image_os::max_side ||
      static_cast<uint64_t>(box_width * box_height) > image_os::max_pixels)
    return std::nullopt;
  // The edges as unit vectors: top, right, bottom, left.
  Vec edge[4];
  for (int k = 0; k < 4; ++k) {
    const Vec v = minus(corners[(k + 1) % 4], corners[k]);
    const double length = std::hypot(v.x, v.y);
    if (length == 0) return std::nullopt;
    edge[k] = {v.x / length, v.y / length};
  }
  Mapped out;
  out.x = static_cast<int32_t>(min_x);
  out.y = static_cast<int32_t>(min_y);
  out.width = static_cast<uint32_t>(box_width);
  out.height = static_cast<uint32_t>(box_height);
  out.pixels.assign(size_t{out.width} * out.height, 0);
  for (uint32_t row = 0; row < out.height; ++row) {
    for (uint32_t column = 0; column < out.width; ++column) {
      const Corner p{static_cast<float>(out.x + static_cast<int64_t>(column)),
                     static_cast<float>(out.y + static_cast<int64_t>(row))};
      double d[4];
      bool inside = true;
      for (int k = 0; k < 4 && inside; ++k) {
        const double side = cross(minus(p, corners[k]), edge[k]);
        inside = side <= 0;  // a point on an edge is inside
        d[k] = std::fabs(side);
      }
      if (!inside) continue;
      const double across = d[3] + d[1], down = d[0] + d[2];  // left + right, top + bottom
      if (across == 0 || down == 0) continue;
      const double u = d[3] / across * width, v = d[0] / down * height;
      const auto ix = static_cast<int64_t>(u), iy = static_cast<int64_t>(v);
      if (ix < 0 || ix >= width || iy < 0 || iy >= height) continue;
      const int64_t ix1 = ix + 1 < width ? ix + 1 : ix, iy1 = iy + 1 < height ? iy + 1 : iy;
      const double fx = std::max(u - static_cast<double>(ix), 0.0), fy = std::max(v - static_cast<double>(iy), 0.0);
      const uint32_t p00 = source[iy * width + ix], p10 = source[iy * width + ix1];
      const uint32_t p01 = source[iy1 * width + ix], p11 = source[iy1 * width + ix1];
      uint32_t result = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        const auto byte = [shift](uint32_t pixel) { return static_cast<double>((pixel >> shift) & 0xFF); };
        const double mixed = (1 - fx) * (1 - fy) * byte(p00) + fx * (1 - fy) * byte(p10) + (1 - fx) * fy * byte(p01) +
                             fx * fy * byte(p11);
        result |= static_cast<uint32_t>(std::clamp(mixed, 0.0, 255.0)) << shift;
      }
      out.pixels[size_t{row} * out.width + column] = result;
    }
  }
  return out;
}

void mirror_x(Quad& corners, float extent) {
  for (Corner& c : corners) c.x = extent - c.x;
}

void mirror_y(Quad& corners, float extent) {
  for (Corner& c : corners) c.y = extent - c.y;
}

std::unique_ptr<image_os::Bitmap> flip_vertical(const image_os::Bitmap& source) {
  auto flipped = image_os::new_bitmap(source.width, source.height, 0);
  for (uint32_t row = 0; row < source.height; ++row)
    std::copy_n(source.pixels.data() + size_t{source.height - 1 - row} * source.width, source.width,
                flipped->pixels.data() + size_t{row} * source.width);
  return flipped;
}

}  // namespace kiv::image_geom
