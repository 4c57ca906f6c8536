// GIF through giflib: the first image of the file in, one image out.
//
// The encoder needs a palette: the image's own colours when they fit in
// 256 (255 with transparency), else a fixed 6x7x6 colour cube. A pixel
// with alpha below 128 becomes the transparent index; GIF has no partial
// transparency.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "runtime/imaging/codec_formats.h"
#include "runtime/imaging/codecs.h"

namespace kiv::image_codecs {
namespace {

struct Source {
  const uint8_t* data;
  size_t size;
  size_t position;
};

int read_bytes(GifFileType* gif, GifByteType* out, int count) {
  auto* source = static_cast<Source*>(gif->UserData);
  const size_t wanted = count < 0 ? 0 : static_cast<size_t>(count);
  const size_t given = std::min(wanted, source->size - source->position);
  if (given == 0) return 0;  // no data at all may come as a null pointer
  std::memcpy(out, source->data + source->position, given);
  source->position += given;
  return static_cast<int>(given);
}

int write_bytes(GifFileType* gif, const GifByteType* bytes, int count) {
  if (count < 0 || !static_cast<RawSink*>(gif->UserData)->write(bytes, static_cast<size_t>(count))) return 0;
  return count;
}

// Skips an extension's data blocks; the graphic-control block gives the
// transparent index of the image that follows.
bool read_extension(GifFileType* gif, int* transparent) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
  if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
    GraphicsControlBlock control{};
    if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) *transparent = control.TransparentColor;
  }
  while (block) {
    if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
  }
  return true;
}

// The most pixels that LZW data of `bytes` bytes can give. Each code is at
// least one bit, and the string a code stands for grows by at most one
// pixel per code before it, up to the table's 4096 entries. Past this the
// image cannot be whole, so it is refused before its pixels are allocated
// (a header of a few bytes may declare the largest image allowed).
uint64_t most_pixels(uint64_t bytes) {
  constexpr uint64_t table = 4096;
  const uint64_t codes = bytes * 8;
  if (codes <= table) return codes * (codes + 3) / 2;
  return table * (table + 3) / 2 + (codes - table) * (table + 1);
}

BitmapPtr read_image(GifFileType* gif, int transparent) {
  if (DGifGetImageDesc(gif) == GIF_ERROR) return nullptr;
  const GifImageDesc& desc = gif->Image;
  const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
  if (!map || desc.Width <= 0 || desc.Height <= 0) return nullptr;
  const auto width = static_cast<uint32_t>(desc.Width);
  const auto height = static_cast<uint32_t>(desc.Height);
  const auto* source = static_cast<const Source*>(gif->UserData);
  if (uint64_t{width} * height > most_pixels(source->size - source->position)) return nullptr;
  BitmapPtr bitmap = try_bitmap(width, height, 0);
  if (!bitmap) return nullptr;
  uint32_t colours[256];
  for (int i = 0; i < 256; ++i) {
    if (i < map->ColorCount) {
      const GifColorType& c = map->Colors[i];
      colours[i] = 0xFF000000u | (uint32_t{c.Red} << 16) | (uint32_t{c.Green} << 8) | c.Blue;
    } else {
      colours[i] = 0xFF000000u;  // an index past the palette reads black
    }
  }
  if (transparent >= 0 && transparent < 256) colours[transparent] = 0;
  std::vector<GifPixelType> line(width);
  auto read_row = [&](uint32_t y) {
    if (DGifGetLine(gif, line.data(), desc.Width) == GIF_ERROR) return false;
    uint32_t* row = bitmap->pixels.data() + size_t{y} * width;
    for (uint32_t x = 0; x < width; ++x) row[x] = colours[line[x]];
    return true;
  };
  if (desc.Interlace) {
    static constexpr uint32_t start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
      for (uint32_t y = start[pass]; y < height; y += step[pass])
        if (!read_row(y)) return nullptr;
  } else {
    for (uint32_t y = 0; y < height; ++y)
      if (!read_row(y)) return nullptr;
  }
  return bitmap;
}

BitmapPtr first_image(GifFileType* gif) {
  int transparent = -1;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) return nullptr;
    switch (type) {
      case EXTENSION_RECORD_TYPE:
        if (!read_extension(gif, &transparent)) return nullptr;
        break;
      case IMAGE_DESC_RECORD_TYPE:
        return read_image(gif, transparent);
      default:
        return nullptr;  // the end, or a record giflib does not know, before any image
    }
  }
}

// ---- the palette of the encoder ----

struct Palette {
  std::vector<uint32_t> colours;  // 0xRRGGBB
  int transparent = -1;
  bool exact = true;
  std::unordered_map<uint32_t, uint8_t> index;  // colour to index, when exact
};

constexpr bool is_transparent(uint32_t pixel) { return (pixel >> 24) < 128; }

Palette make_palette(const Bitmap& bitmap) {
  Palette palette;
  bool any_transparent = false;
  for (uint32_t pixel : bitmap.pixels) {
    if (is_transparent(pixel)) {
      any_transparent = true;
      continue;
    }
    const uint32_t rgb = pixel & 0xFFFFFF;
    if (palette.exact && !palette.index.count(rgb)) {
      if (palette.colours.size() == 256) {
        palette.exact = false;
        continue;
      }
      palette.index.emplace(rgb, static_cast<uint8_t>(palette.colours.size()));
      palette.colours.push_back(rgb);
    }
  }
  if (palette.exact && any_transparent && palette.colours.size() == 256) palette.exact = false;
  if (!palette.exact) {
    palette.colours.clear();
    palette.index.clear();
    for (uint32_t r = 0; r < 6; ++r)
      for (uint32_t g = 0; g < 7; ++g)
        for (uint32_t b = 0; b < 6; ++b) palette.colours.push_back((r * 51) << 16 | (g * 255 / 6) << 8 | (b * 51));
  }
  if (any_transparent) {
    palette.transparent = static_cast<int>(palette.colours.size());
    palette.colours.push_back(0);
  }
  if (palette.colours.empty()) palette.colours.push_back(0);
  return palette;
}

uint8_t index_of(const Palette& palette, uint32_t pixel) {
  if (is_transparent(pixel)) return static_cast<uint8_t>(palette.transparent);
  const uint32_t rgb = pixel & 0xFFFFFF;
  if (palette.exact) return palette.index.at(rgb);
  const uint32_t r = ((rgb >> 16 & 0xFF) + 25) / 51, g = ((rgb >> 8 & 0xFF) * 6 + 127) / 255, b = ((rgb & 0xFF) + 25) / 51;
  return static_cast<uint8_t>((r * 7 + g) * 6 + b);
}

bool write_image(GifFileType* gif, const Bitmap& bitmap, const Palette& palette, ColorMapObject* map) {
  EGifSetGifVersion(gif, true);
  if (EGifPutScreenDesc(gif, static_cast<int>(bitmap.width), static_cast<int>(bitmap.height), map->BitsPerPixel, 0,
                        map) == GIF_ERROR)
    return false;
  if (palette.transparent >= 0) {
    GraphicsControlBlock control{DISPOSAL_UNSPECIFIED, false, 0, palette.transparent};
    GifByteType extension[4];
    EGifGCBToExtension(&control, extension);
    if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension) == GIF_ERROR) return false;
  }
  if (EGifPutImageDesc(gif, 0, 0, static_cast<int>(bitmap.width), static_cast<int>(bitmap.height), false, nullptr) ==
      GIF_ERROR)
    return false;
  std::vector<GifPixelType> line(bitmap.width);
  for (uint32_t y = 0; y < bitmap.height; ++y) {
    const uint32_t* row = bitmap.pixels.data() + size_t{y} * bitmap.width;
    for (uint32_t x = 0; x < bitmap.width; ++x) line[x] = index_of(palette, row[x]);
    if (EGifPutLine(gif, line.data(), static_cast<int>(bitmap.width)) == GIF_ERROR) return false;
  }
  return true;
}

}  // namespace

BitmapPtr decode_gif(const uint8_t* data, size_t size) {
  Source source{data, size, 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&source, read_bytes, &error);
  if (!gif) return nullptr;
  BitmapPtr bitmap = first_image(gif);
  DGifCloseFile(gif, &error);
  return bitmap;
}

bool encode_gif(const Bitmap& bitmap, std::vector<uint8_t>& out) {
  if (bitmap.width > 65535 || bitmap.height > 65535) return false;
  const Palette palette = make_palette(bitmap);
  int bits = 1;
  while ((size_t{1} << bits) < palette.colours.size()) ++bits;
  std::vector<GifColorType> colours(size_t{1} << bits, GifColorType{0, 0, 0});
  for (size_t i = 0; i < palette.colours.size(); ++i)
    colours[i] = {static_cast<GifByteType>(palette.colours[i] >> 16), static_cast<GifByteType>(palette.colours[i] >> 8),
                  static_cast<GifByteType>(palette.colours[i])};
  ColorMapObject* map = GifMakeMapObject(1 << bits, colours.data());
  if (!map) return false;
  RawSink sink;
  int error = 0;
  bool done = false;
  if (GifFileType* gif = EGifOpen(&sink, write_bytes, &error)) {
    done = write_image(gif, bitmap, palette, map);
    done = EGifCloseFile(gif, &error) != GIF_ERROR && done;
  }
  GifFreeMapObject(map);
  if (done) out.assign(sink.data, sink.data + sink.size);
  sink.release();
  return done;
}

}  // namespace kiv::image_codecs
