// The decoders and encoders behind codecs.h, one pair per file format.
// Each decoder answers null on any failure; each encoder answers false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "runtime/imaging/bitmap.h"

namespace kiv::image_codecs {

using image_os::Bitmap;
using BitmapPtr = std::unique_ptr<Bitmap>;

// A bitmap for a decoder: null (instead of an error) when the allocation
// fails. The caller has checked the size.
BitmapPtr try_bitmap(uint32_t width, uint32_t height, uint32_t fill);

BitmapPtr decode_png(const uint8_t* data, size_t size);
bool encode_png(const Bitmap& bitmap, std::vector<uint8_t>& out);
BitmapPtr decode_jpeg(const uint8_t* data, size_t size);
bool encode_jpeg(const Bitmap& bitmap, std::vector<uint8_t>& out);
BitmapPtr decode_gif(const uint8_t* data, size_t size);
bool encode_gif(const Bitmap& bitmap, std::vector<uint8_t>& out);
BitmapPtr decode_tiff(const uint8_t* data, size_t size);
bool encode_tiff(const Bitmap& bitmap, std::vector<uint8_t>& out);
BitmapPtr decode_bmp(const uint8_t* data, size_t size);
bool encode_bmp(const Bitmap& bitmap, std::vector<uint8_t>& out);

// A growable byte buffer in the C heap, for encoders whose library calls
// back to write and may unwind with longjmp: it owns no C++ object, so an
// unwind past it loses nothing. Free it with `release`.
struct RawSink {
  uint8_t* data = nullptr;
  size_t size = 0;
  size_t capacity = 0;
  size_t position = 0;  // where the next write goes (TIFF seeks)

  // Writes at `position`, growing as needed; false when memory runs out.
  bool write(const void* bytes, size_t count);
  void release() {
    std::free(data);
    *this = RawSink{};
  }
};

}  // namespace kiv::image_codecs
