// BMP, our own code.
//
// Read: the 12-byte core header and the 40-byte header with its longer
// versions; 1, 4 and 8 bits per pixel with a palette, 16 and 32 with bit
// masks (BI_RGB or BI_BITFIELDS), 24 as B, G, R; rows bottom-up or, with a
// negative height, top-down. Run-length compressed files are refused. A
// 32-bit BI_RGB file carries no alpha: its fourth byte is unused and every
// pixel reads opaque. Every offset and length is checked against the data
// before use, and the whole pixel area must be present before the bitmap is
// allocated.
//
// Written: a 14-byte file header and a 40-byte info header, 32 bits per
// pixel BI_RGB, rows bottom-up; the alpha bytes are written but, by the
// format's rule above, not read back.
#include <cstring>
#include <optional>

#include "runtime/imaging/codec_formats.h"
#include "runtime/imaging/codecs.h"

namespace kiv::image_codecs {
namespace {

constexpr uint32_t bi_rgb = 0;
constexpr uint32_t bi_bitfields = 3;
constexpr uint32_t bi_alphabitfields = 6;

struct Reader {
  const uint8_t* data;
  size_t size;

  bool has(size_t offset, size_t count) const { return offset <= size && count <= size - offset; }
  uint32_t u16(size_t offset) const { return data[offset] | uint32_t{data[offset + 1]} << 8; }
  uint32_t u32(size_t offset) const { return u16(offset) | u16(offset + 2) << 16; }
};

// One channel described by a bit mask, scaled to 8 bits.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;

  explicit Channel(uint32_t m) : mask(m) {
    if (!m) return;
    while (!((m >> shift) & 1)) ++shift;
    max = m >> shift;
  }
  uint32_t read(uint32_t word) const {
    if (!mask) return 0;
    const uint64_t value = (word & mask) >> shift;
    return static_cast<uint32_t>((value * 255 + max / 2) / max);
  }
};

struct Header {
  int64_t width = 0, height = 0;
  bool top_down = false;
  uint32_t bits = 0, compression = bi_rgb, colours_used = 0;
  uint32_t masks[4] = {0, 0, 0, 0};  // R, G, B, A
  size_t palette_at = 0, palette_entry = 4;
};

std::optional<Header> read_header(const Reader& in) {
  if (!in.has(0, 18) || in.data[0] != 'B' || in.data[1] != 'M') return std::nullopt;
  const uint32_t header_size = in.u32(14);
  Header h;
  if (header_size == 12) {
    if (!in.has(14, 12)) return std::nullopt;
    h.width = in.u16(18);
    h.height = in.u16(20);
    h.bits = in.u16(24);
    h.palette_entry = 3;
  } else if (header_size >= 40) {
    if (!in.has(14, header_size)) return std::nullopt;
    h.width = static_cast<int32_t>(in.u32(18));
    h.height = static_cast<int32_t>(in.u32(22));
    h.bits = in.u16(28);
    h.compression = in.u32(30);
    h.colours_used = in.u32(46);
    if (h.compression == bi_bitfields || h.compression == bi_alphabitfields) {
      const size_t count = h.compression == bi_alphabitfields ? 4 : 3;
      const size_t at = 54;  // right after the first 40 bytes, inside a longer header or not
      if (!in.has(at, count * 4)) return std::nullopt;
      for (size_t i = 0; i < count; ++i) h.masks[i] = in.u32(at + i * 4);
      if (header_size >= 56) h.masks[3] = in.u32(66);
    }
  } else {
    return std::nullopt;
  }
  h.palette_at = 14 + size_t{header_size};
  if (h.compression == bi_bitfields && header_size == 40) h.palette_at += 12;
  if (h.compression == bi_alphabitfields && header_size == 40) h.palette_at += 16;
  if (h.height < 0) {
    h.top_down = true;
    h.height = -h.height;
  }
  return h;
}

bool valid(const Header& h) {
  switch (h.bits) {
    case 1: case 4: case 8: case 24:
      if (h.compression != bi_rgb) return false;
      break;
    case 16: case 32:
      if (h.compression != bi_rgb && h.compression != bi_bitfields && h.compression != bi_alphabitfields) return false;
      break;
    default:
      return false;
  }
  return h.width > 0 && h.height > 0 && acceptable_size(static_cast<uint64_t>(h.width), static_cast<uint64_t>(h.height));
}

// The palette as pixels (opaque), at most 256 entries, all inside the data.
std::optional<std::vector<uint32_t>> read_palette(const Reader& in, const Header& h) {
  const uint32_t most = 1u << h.bits;
  const uint32_t count = h.colours_used == 0 || h.colours_used > most ? most : h.colours_used;
  if (!in.has(h.palette_at, size_t{count} * h.palette_entry)) return std::nullopt;
  std::vector<uint32_t> palette(most, 0xFF000000u);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* p = in.data + h.palette_at + size_t{i} * h.palette_entry;
    palette[i] = 0xFF000000u | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
  }
  return palette;
}

void read_row(const uint8_t* row, uint32_t* out, const Header& h, const std::vector<uint32_t>& palette,
              const Channel* channels) {
  const auto width = static_cast<uint32_t>(h.width);
  switch (h.bits) {
    case 1: case 4: case 8: {
      const uint32_t per_byte = 8 / h.bits, mask = (1u << h.bits) - 1;
      for (uint32_t x = 0; x < width; ++x) {
        const uint32_t shift = 8 - h.bits * (x % per_byte + 1);
        out[x] = palette[(row[x / per_byte] >> shift) & mask];
      }
      return;
    }
    case 24:
      for (uint32_t x = 0; x < width; ++x, row += 3)
        out[x] = 0xFF000000u | uint32_t{row[2]} << 16 | uint32_t{row[1]} << 8 | row[0];
      return;
    default: {
      const uint32_t bytes = h.bits / 8;
      for (uint32_t x = 0; x < width; ++x, row += bytes) {
        const uint32_t word = bytes == 2 ? (row[0] | uint32_t{row[1]} << 8)
                                         : (row[0] | uint32_t{row[1]} << 8 | uint32_t{row[2]} << 16 | uint32_t{row[3]} << 24);
        const uint32_t a = channels[3].mask ? channels[3].read(word) : 255;
        out[x] = a << 24 | channels[0].read(word) << 16 | channels[1].read(word) << 8 | channels[2].read(word);
      }
    }
  }
}

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

}  // namespace

BitmapPtr decode_bmp(const uint8_t* data, size_t size) {
  const Reader in{data, size};
  const std::optional<Header> header = read_header(in);
  if (!header || !valid(*header)) return nullptr;
  const Header& h = *header;
  std::vector<uint32_t> palette;
  if (h.bits <= 8) {
    auto read = read_palette(in, h);
    if (!read) return nullptr;
    palette = std::move(*read);
  }
  uint32_t masks[4] = {h.masks[0], h.masks[1], h.masks[2], h.masks[3]};
  if (h.compression == bi_rgb) {
    if (h.bits == 16) masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F, masks[3] = 0;
    if (h.bits == 32) masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF, masks[3] = 0;
  }
  const Channel channels[4] = {Channel(masks[0]), Channel(masks[1]), Channel(masks[2]), Channel(masks[3])};
  const uint64_t stride = (static_cast<uint64_t>(h.width) * h.bits + 31) / 32 * 4;
  const size_t offset = in.u32(10);
  if (!in.has(offset, 0) || stride * static_cast<uint64_t>(h.height) > size - offset) return nullptr;
  BitmapPtr bitmap = try_bitmap(static_cast<uint32_t>(h.width), static_cast<uint32_t>(h.height), 0);
  if (!bitmap) return nullptr;
  for (uint32_t y = 0; y < bitmap->height; ++y) {
    const uint32_t source_row = h.top_down ? y : bitmap->height - 1 - y;
    read_row(data + offset + source_row * stride, bitmap->pixels.data() + size_t{y} * bitmap->width, h, palette,
             channels);
  }
  return bitmap;
}

bool encode_bmp(const Bitmap& bitmap, std::vector<uint8_t>& out) {
  const uint64_t pixel_bytes = uint64_t{bitmap.count()} * 4;
  if (pixel_bytes > UINT32_MAX - 54) return false;
  out.reserve(54 + pixel_bytes);
  out.push_back('B');
  out.push_back('M');
  put32(out, static_cast<uint32_t>(54 + pixel_bytes));
  put32(out, 0);
  put32(out, 54);
  put32(out, 40);
  put32(out, bitmap.width);
  put32(out, bitmap.height);  // positive: bottom-up
  put16(out, 1);
  put16(out, 32);
  put32(out, bi_rgb);
  put32(out, static_cast<uint32_t>(pixel_bytes));
  put32(out, 2835);  // 72 dots per inch, in dots per metre
  put32(out, 2835);
  put32(out, 0);
  put32(out, 0);
  for (uint32_t y = bitmap.height; y-- > 0;) {
    const auto* row = reinterpret_cast<const uint8_t*>(bitmap.pixels.data() + size_t{y} * bitmap.width);
    out.insert(out.end(), row, row + size_t{bitmap.width} * 4);
  }
  return true;
}

}  // namespace kiv::image_codecs
