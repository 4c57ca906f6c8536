// PNG through libpng.
//
// libpng reports errors by longjmp. Every function below that sets the jump
// point is a leaf that owns no C++ object: the bitmap and the row pointers
// live in its caller's frame, which the jump never crosses.
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "runtime/imaging/codec_formats.h"
#include "runtime/imaging/codecs.h"

namespace kiv::image_codecs {
namespace {

struct Source {
  const uint8_t* data;
  size_t size;
  size_t position;
};

void read_bytes(png_structp png, png_bytep out, png_size_t count) {
  auto* source = static_cast<Source*>(png_get_io_ptr(png));
  if (count > source->size - source->position) png_error(png, "truncated");
  std::memcpy(out, source->data + source->position, count);
  source->position += count;
}

void write_bytes(png_structp png, png_bytep bytes, png_size_t count) {
  if (!static_cast<RawSink*>(png_get_io_ptr(png))->write(bytes, count)) png_error(png, "out of memory");
}

void flush_nothing(png_structp) {}

// Errors unwind to the jump point; warnings are dropped.
void on_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void on_warning(png_structp, png_const_charp) {}

// Reads the header and sets the transformations that give 8-bit BGRA rows.
// `bits` is the bits of a pixel as stored.
bool read_header(png_structp png, png_infop info, uint32_t* width, uint32_t* height, uint32_t* bits) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_user_limits(png, image_os::max_side, image_os::max_side);
  // Every chunk but the five the pixels need is skipped unread: libpng
  // would otherwise allocate what an ancillary chunk's length claims (sPLT
  // up to 2 GiB) before finding the file too short.
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_read_info(png, info);
  *width = png_get_image_width(png, info);
  *height = png_get_image_height(png, info);
  *bits = uint32_t{png_get_bit_depth(png, info)} * png_get_channels(png, info);
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_bgr(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  return png_get_rowbytes(png, info) == size_t{*width} * 4;
}

bool read_rows(png_structp png, png_infop info, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  png_read_end(png, info);
  return true;
}

bool write_image(png_structp png, png_infop info, const Bitmap* bitmap, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_IHDR(png, info, bitmap->width, bitmap->height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
  png_write_image(png, rows);
  png_write_end(png, info);
  return true;
}

// Whether `left` bytes of the file may hold the image's pixels. DEFLATE
// writes at most 1032 bytes a byte (a 258-byte match in two bits), so a
// file whose rest is too short to hold them is refused before its pixels
// are allocated: a header of a few bytes may declare the largest image
// allowed.
bool may_hold(size_t left, uint32_t width, uint32_t height, uint32_t bits) {
  const uint64_t pixel_bytes = (uint64_t{width} * height * bits + 7) / 8;
  return pixel_bytes <= (uint64_t{left} + 1) * 1032;
}

}  // namespace

BitmapPtr decode_png(const uint8_t* data, size_t size) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
  if (!png) return nullptr;
  png_infop info = png_create_info_struct(png);
  Source source{data, size, 0};
  BitmapPtr bitmap;
  uint32_t width = 0, height = 0, bits = 0;
  if (info) {
    png_set_read_fn(png, &source, read_bytes);
    if (read_header(png, info, &width, &height, &bits) && may_hold(size - source.position, width, height, bits))
      bitmap = try_bitmap(width, height, 0);
    if (bitmap) {
      std::vector<png_bytep> rows(height);
      for (uint32_t y = 0; y < height; ++y)
        rows[y] = reinterpret_cast<png_bytep>(bitmap->pixels.data() + size_t{y} * width);
      if (!read_rows(png, info, rows.data())) bitmap.reset();
    }
  }
  png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  return bitmap;
}

bool encode_png(const Bitmap& bitmap, std::vector<uint8_t>& out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  RawSink sink;
  bool done = false;
  if (info) {
    std::vector<png_bytep> rows(bitmap.height);
    for (uint32_t y = 0; y < bitmap.height; ++y)
      rows[y] = reinterpret_cast<png_bytep>(const_cast<uint32_t*>(bitmap.pixels.data()) + size_t{y} * bitmap.width);
    png_set_write_fn(png, &sink, write_bytes, flush_nothing);
    done = write_image(png, info, &bitmap, rows.data());
  }
  png_destroy_write_struct(&png, info ? &info : nullptr);
  if (done) out.assign(sink.data, sink.data + sink.size);
  sink.release();
  return done;
}

}  // namespace kiv::image_codecs
