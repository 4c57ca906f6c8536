// The bitmap form of a clipboard image (image/bmp): a BMP file of 32-bit
// BGRA pixels with straight alpha, described by a 124-byte V5 info header.
//
// Written: the 14-byte file header, then the V5 header (zero-filled but
// for: size 124, the width, minus the height (rows top to bottom), 1 plane,
// 32 bits, compression 3 (bit fields), the image size width x height x 4,
// the masks red 0x00FF0000, green 0x0000FF00, blue 0x000000FF, alpha
// 0xFF000000, colour space 0x57696E20 and intent 4), then the pixels.
//
// Read: only a file of that pixel format (any info header of at least the
// 56 bytes that hold the four masks); the header's sizes are checked
// against the bytes there before anything is taken, and rows stored
// bottom to top are turned the right way up. Anything else gives nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kiv::clipboard {

inline constexpr uint32_t max_bitmap_side = 65535;

struct Pixels {
  uint32_t width = 0, height = 0;
  std::vector<uint32_t> argb;  // 0xAARRGGBB, rows top to bottom
};

std::string encode_bmp_v5(const Pixels& pixels);
std::optional<Pixels> decode_bmp_v5(std::string_view file);

}  // namespace kiv::clipboard
