#include "runtime/io/clipboard_bitmap.h"

#include <cstdint>

namespace kiv::clipboard {
namespace {

constexpr uint32_t file_header_size = 14;
constexpr uint32_t v5_header_size = 124;
constexpr uint32_t masks_end = 56;  // the four masks end here in the info header
constexpr uint32_t bit_fields = 3;

void put16(std::string& out, uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}
void put32(std::string& out, uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}

uint32_t get16(std::string_view in, size_t at) {
  return static_cast<uint8_t>(in[at]) | static_cast<uint32_t>(static_cast<uint8_t>(in[at + 1])) << 8;
}
uint32_t get32(std::string_view in, size_t at) { return get16(in, at) | get16(in, at + 2) << 16; }

}  // namespace

std::string encode_bmp_v5(const Pixels& pixels) {
  const uint64_t image_size = static_cast<uint64_t>(pixels.width) * pixels.height * 4;
  std::string out;
  out.reserve(file_header_size + v5_header_size + image_size);
  out += "BM";
  put32(out, static_cast<uint32_t>(file_header_size + v5_header_size + image_size));
  put32(out, 0);
  put32(out, file_header_size + v5_header_size);

  const size_t info = out.size();
  out.resize(info + v5_header_size, '\0');
  std::string fields;
  put32(fields, v5_header_size);
  put32(fields, pixels.width);
  put32(fields, static_cast<uint32_t>(-static_cast<int32_t>(pixels.height)));
  put16(fields, 1);
  put16(fields, 32);
  put32(fields, bit_fields);
  put32(fields, static_cast<uint32_t>(image_size));
  out.replace(info, fields.size(), fields);
  std::string masks;
  for (const uint32_t mask : {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u}) put32(masks, mask);
  put32(masks, 0x57696E20);  // colour space: the system's own
  out.replace(info + 40, masks.size(), masks);
  std::string intent;
  put32(intent, 4);  // images
  out.replace(info + 108, intent.size(), intent);

  for (const uint32_t pixel : pixels.argb) put32(out, pixel);
  return out;
}

std::optional<Pixels> decode_bmp_v5(std::string_view file) {
  if (file.size() < file_header_size + masks_end || file.substr(0, 2) != "BM") return std::nullopt;
  const uint32_t offset = get32(file, 10);
  const std::string_view info = file.substr(file_header_size);
  const uint32_t header_size = get32(info, 0);
  if (header_size < masks_end || header_size > info.size()) return std::nullopt;
  const auto width = static_cast<int32_t>(get32(info, 4));
  const auto height = static_cast<int32_t>(get32(info, 8));
  if (get16(info, 14) != 32 || get32(info, 16) != bit_fields) return std::nullopt;
  if (get32(info, 40) != 0x00FF0000 || get32(info, 44) != 0x0000FF00 || get32(info, 48) != 0x000000FF ||
      get32(info, 52) != 0xFF000000)
    return std::nullopt;
  if (width <= 0 || height == 0 || height == INT32_MIN) return std::nullopt;
  const bool top_down = height < 0;
  Pixels pixels;
  pixels.width = static_cast<uint32_t>(width);
  pixels.height = static_cast<uint32_t>(top_down ? -height : height);
  if (pixels.width > max_bitmap_side || pixels.height > max_bitmap_side) return std::nullopt;
  const uint64_t bytes = static_cast<uint64_t>(pixels.width) * pixels.height * 4;
  if (offset < file_header_size + header_size || offset > file.size() || file.size() - offset < bytes)
    return std::nullopt;

  pixels.argb.resize(static_cast<size_t>(pixels.width) * pixels.height);
  for (uint32_t row = 0; row < pixels.height; ++row) {
    const uint32_t stored = top_down ? row : pixels.height - 1 - row;
    const size_t from = offset + static_cast<size_t>(stored) * pixels.width * 4;
    for (uint32_t x = 0; x < pixels.width; ++x)
      pixels.argb[static_cast<size_t>(row) * pixels.width + x] = get32(file, from + static_cast<size_t>(x) * 4);
  }
  return pixels;
}

}  // namespace kiv::clipboard
