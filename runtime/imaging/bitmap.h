// The imaging layer: pixel buffers of image! values and their records.
//
// A bitmap is a C-heap buffer of 32-bit pixels 0xAARRGGBB (in memory the
// bytes B, G, R, A: the order the argb view shows), straight alpha (A 255 is
// opaque), rows top to bottom with no padding. Each bitmap belongs to one
// external handle of the "image" class; the handle's release deletes it, so
// the pixel memory goes when the collector frees the last image! value that
// reaches its record (runtime/core/image_record.h).
//
// Width and height are each at most 65535 (the size word has 16 bits for
// each). A bitmap of zero width or height is never made: such an image has
// no record.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "runtime/core/memory.h"

namespace kiv::image_os {

inline constexpr uint32_t max_side = 65535;
// The most pixels `make image!` or a copy may ask for (1 GiB of pixels);
// above it the request raises internal/no-memory instead of asking the
// system for the memory.
inline constexpr uint64_t max_pixels = uint64_t{1} << 28;

struct Bitmap {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint32_t> pixels;  // width x height words

  uint32_t count() const { return width * height; }
};

inline uint32_t size_word(uint32_t width, uint32_t height) { return (height << 16) | (width & 0xFFFF); }
inline uint32_t width_of(uint32_t size) { return size & 0xFFFF; }
inline uint32_t height_of(uint32_t size) { return size >> 16; }

// A bitmap of the given size, every pixel `fill`. A side above max_side or
// a pixel count above max_pixels raises internal/no-memory; so does a
// failed allocation.
std::unique_ptr<Bitmap> new_bitmap(uint32_t width, uint32_t height, uint32_t fill);

// Registers the "image" handle class (once per runtime start).
void init();

// A new record for `bitmap` (which must have pixels), the bitmap handed to
// a new external handle. May collect: nothing may hold a raw pointer into
// series data across it.
NodeId make_node(std::unique_ptr<Bitmap> bitmap);

// The bitmap of a live record.
Bitmap& bitmap_of(NodeId record);

// Marks the record's pixels as written.
void mark_changed(NodeId record);

// The rectangle (x, y, width, height) of `source`, clipped to it; null when
// nothing is left.
std::unique_ptr<Bitmap> clip(const Bitmap& source, int64_t x, int64_t y, int64_t width, int64_t height);

// `source` scaled to the given size, nearest neighbour; null for a zero
// side.
std::unique_ptr<Bitmap> resize(const Bitmap& source, uint32_t width, uint32_t height);

// Copies the rectangle of `source` whose top-left corner is (sx, sy) and
// size (w, h) into `target` at (tx, ty), clipped to both bitmaps. Answers
// false when an origin lies outside its bitmap.
bool copy_rect(const Bitmap& source, int64_t sx, int64_t sy, int64_t w, int64_t h, Bitmap& target, int64_t tx,
               int64_t ty);

}  // namespace kiv::image_os
