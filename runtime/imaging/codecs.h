// Image files: signature recognition, decoding and encoding.
//
// Decoders take untrusted bytes. They answer null for anything they cannot
// decode (a truncated or corrupt file included) and check the declared size
// against `max_decoded_pixels` before allocating pixel memory. Only the first
// frame of a file with several (an animated GIF, a multi-page TIFF) is read.
//
// Encoders write the pixels as they are: straight alpha, kept by PNG, GIF
// (fully transparent pixels only) and TIFF; BMP keeps the alpha bytes but
// marks them unused, and JPEG drops them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "runtime/imaging/bitmap.h"

namespace kiv::image_codecs {

// The codes image/encode takes.
enum class Format : uint8_t { bmp = 0, png = 1, gif = 2, jpeg = 3, tiff = 4 };
inline constexpr int format_count = 5;

// The most pixels a file may declare: 64 Mi (256 MiB of pixel memory).
inline constexpr uint64_t max_decoded_pixels = uint64_t{1} << 26;

// Whether a declared size may be decoded.
inline bool acceptable_size(uint64_t width, uint64_t height) {
  return width > 0 && height > 0 && width <= image_os::max_side && height <= image_os::max_side &&
         width * height <= max_decoded_pixels;
}

// The format whose signature starts the bytes: PNG 137 "PNG", JPEG 255 216
// 255, BMP "BM", GIF "GIF89a" (not "GIF87a"), TIFF "II*" 0 or "MM" 0 "*".
std::optional<Format> recognise(const uint8_t* data, size_t size);

// Decodes bytes of the given format; null on failure.
std::unique_ptr<image_os::Bitmap> decode(Format format, const uint8_t* data, size_t size);

// Encodes a bitmap; false on failure (the output is then unspecified).
bool encode(Format format, const image_os::Bitmap& bitmap, std::vector<uint8_t>& out);

// The JPEG encoder's quality, 0-100.
inline constexpr int jpeg_quality = 90;

}  // namespace kiv::image_codecs
