#include "runtime/imaging/codecs.h"

#include <cstring>
#include <new>

#include "runtime/imaging/codec_formats.h"

namespace kiv::image_codecs {

BitmapPtr try_bitmap(uint32_t width, uint32_t height, uint32_t fill) {
  if (!acceptable_size(width, height)) return nullptr;
  try {
    auto bitmap = std::make_unique<Bitmap>();
    bitmap->width = width;
    bitmap->height = height;
    bitmap->pixels.assign(size_t{width} * height, fill);
    return bitmap;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

bool RawSink::write(const void* bytes, size_t count) {
  if (count > SIZE_MAX - position) return false;
  const size_t end = position + count;
  if (end > capacity) {
    size_t grown = capacity ? capacity : 4096;
    while (grown < end) {
      if (grown > SIZE_MAX / 2) return false;
      grown *= 2;
    }
    auto* bigger = static_cast<uint8_t*>(std::realloc(data, grown));
    if (!bigger) return false;
    data = bigger;
    capacity = grown;
  }
  if (position > size) std::memset(data + size, 0, position - size);  // a seek past the end leaves zeros
  if (count) std::memcpy(data + position, bytes, count);
  position = end;
  if (end > size) size = end;
  return true;
}

std::optional<Format> recognise(const uint8_t* data, size_t size) {
  auto starts = [&](std::initializer_list<uint8_t> signature) {
    return size >= signature.size() && std::equal(signature.begin(), signature.end(), data);
  };
  if (starts({137, 'P', 'N', 'G'})) return Format::png;
  if (starts({255, 216, 255})) return Format::jpeg;
  if (starts({'B', 'M'})) return Format::bmp;
  if (starts({'G', 'I', 'F', '8', '9', 'a'})) return Format::gif;
  if (starts({'I', 'I', '*', 0}) || starts({'M', 'M', 0, '*'})) return Format::tiff;
  return std::nullopt;
}

std::unique_ptr<image_os::Bitmap> decode(Format format, const uint8_t* data, size_t size) {
  switch (format) {
    case Format::bmp: return decode_bmp(data, size);
    case Format::png: return decode_png(data, size);
    case Format::gif: return decode_gif(data, size);
    case Format::jpeg: return decode_jpeg(data, size);
    case Format::tiff: return decode_tiff(data, size);
  }
  return nullptr;
}

bool encode(Format format, const image_os::Bitmap& bitmap, std::vector<uint8_t>& out) {
  out.clear();
  if (bitmap.count() == 0) return true;
  switch (format) {
    case Format::bmp: return encode_bmp(bitmap, out);
    case Format::png: return encode_png(bitmap, out);
    case Format::gif: return encode_gif(bitmap, out);
    case Format::jpeg: return encode_jpeg(bitmap, out);
    case Format::tiff: return encode_tiff(bitmap, out);
  }
  return false;
}

}  // namespace kiv::image_codecs
