#include "runtime/imaging/bitmap.h"

#include <algorithm>
#include <new>

#include "runtime/core/error_raise.h"
#include "runtime/core/handles.h"
#include "runtime/core/image_record.h"

namespace kiv::image_os {
namespace {

uint32_t g_class = 0;  // the "image" handle class

size_t bytes_of(const Bitmap& bitmap) { return bitmap.pixels.size() * sizeof(uint32_t); }

// The handle class's release: the pixels go with the last value that
// reached them.
void release_bitmap(void* pointer) {
  auto* bitmap = static_cast<Bitmap*>(pointer);
  memory::release_external(bytes_of(*bitmap));
  delete bitmap;
}

}  // namespace

std::unique_ptr<Bitmap> new_bitmap(uint32_t width, uint32_t height, uint32_t fill) {
  if (width > max_side || height > max_side || uint64_t{width} * height > max_pixels)
    error::raise(error_id::internal::no_memory);
  auto bitmap = std::make_unique<Bitmap>();
  bitmap->width = width;
  bitmap->height = height;
  try {
    bitmap->pixels.assign(size_t{width} * height, fill);
  } catch (const std::bad_alloc&) {
    error::raise(error_id::internal::no_memory);
  }
  return bitmap;
}

void init() { g_class = handles::register_class("image", release_bitmap); }

NodeId make_node(std::unique_ptr<Bitmap> bitmap) {
  // Counted first: a collection it brings on frees the pixels of images
  // that are gone before these join them.
  memory::note_external(bytes_of(*bitmap));
  const NodeId node = memory::new_byte_series(sizeof(image_record::Record));
  // From here on nothing allocates series memory until the caller roots
  // the image! cell: the new handle is safe from the sweep.
  const uint32_t size = size_word(bitmap->width, bitmap->height);
  const int32_t handle = handles::make(bitmap.release(), g_class);
  SeriesBuf* buf = memory::buffer(node);
  buf->tail = buf->head + sizeof(image_record::Record);
  *image_record::of(node) = {image_record::record_flag::editable, size, handle, 0};
  return node;
}

Bitmap& bitmap_of(NodeId record) {
  return *static_cast<Bitmap*>(handles::entry(image_record::of(record)->handle).pointer);
}

void mark_changed(NodeId record) { image_record::of(record)->flags |= image_record::record_flag::changed; }

std::unique_ptr<Bitmap> clip(const Bitmap& source, int64_t x, int64_t y, int64_t width, int64_t height) {
  const int64_t x0 = std::clamp<int64_t>(x, 0, source.width);
  const int64_t y0 = std::clamp<int64_t>(y, 0, source.height);
  const int64_t x1 = std::clamp<int64_t>(x + std::max<int64_t>(width, 0), 0, source.width);
  const int64_t y1 = std::clamp<int64_t>(y + std::max<int64_t>(height, 0), 0, source.height);
  if (x1 <= x0 || y1 <= y0) return nullptr;
  auto result = new_bitmap(static_cast<uint32_t>(x1 - x0), static_cast<uint32_t>(y1 - y0), 0);
  for (int64_t row = y0; row < y1; ++row) {
    const uint32_t* from = source.pixels.data() + row * source.width + x0;
    std::copy(from, from + (x1 - x0), result->pixels.data() + (row - y0) * result->width);
  }
  return result;
}

std::unique_ptr<Bitmap> resize(const Bitmap& source, uint32_t width, uint32_t height) {
  if (width == 0 || height == 0 || source.count() == 0) return nullptr;
  auto result = new_bitmap(width, height, 0);
  for (uint32_t row = 0; row < height; ++row) {
    const uint64_t sy = uint64_t{row} * source.height / height;
    for (uint32_t column = 0; column < width; ++column) {
      const uint64_t sx = uint64_t{column} * source.width / width;
      result->pixels[size_t{row} * width + column] = source.pixels[sy * source.width + sx];
    }
  }
  return result;
}

bool copy_rect(const Bitmap& source, int64_t sx, int64_t sy, int64_t w, int64_t h, Bitmap& target, int64_t tx,
               int64_t ty) {
  if (sx < 0 || sy < 0 || sx >= source.width || sy >= source.height) return false;
  if (tx < 0 || ty < 0 || tx >= target.width || ty >= target.height) return false;
  const int64_t columns = std::min({w, int64_t{source.width} - sx, int64_t{target.width} - tx});
  const int64_t rows = std::min({h, int64_t{source.height} - sy, int64_t{target.height} - ty});
  for (int64_t row = 0; row < rows; ++row) {
    const uint32_t* from = source.pixels.data() + (sy + row) * source.width + sx;
    std::copy(from, from + columns, target.pixels.data() + (ty + row) * target.width + tx);
  }
  return true;
}

}  // namespace kiv::image_os
