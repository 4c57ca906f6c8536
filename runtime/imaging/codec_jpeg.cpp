// JPEG through libjpeg-turbo.
//
// libjpeg reports errors through its error manager; ours jumps back with
// longjmp. As in the PNG codec, each function that sets the jump point is a
// leaf owning no C++ object. A file that ends before its last scan, or whose
// scan data stops at a marker before the image is whole, counts as corrupt
// (libjpeg would only warn and fill the rest with grey). The first row is
// decoded before the bitmap is allocated, so that a few bytes declaring a
// large image are refused before its pixels are.
#include <cstdio>  // jpeglib.h needs FILE
#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>

#include "runtime/imaging/codec_formats.h"
#include "runtime/imaging/codecs.h"

namespace kiv::image_codecs {
namespace {

struct ErrorManager {
  jpeg_error_mgr base;  // first: libjpeg sees a jpeg_error_mgr*
  jmp_buf jump;
};

void on_error(j_common_ptr info) { longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1); }

// Warnings pass, except those for data that ends too soon.
void on_message(j_common_ptr info, int level) {
  if (level == -1 && (info->err->msg_code == JWRN_JPEG_EOF || info->err->msg_code == JWRN_HIT_MARKER)) on_error(info);
}

void on_output(j_common_ptr) {}

void set_errors(ErrorManager& errors) {
  jpeg_std_error(&errors.base);
  errors.base.error_exit = on_error;
  errors.base.emit_message = on_message;
  errors.base.output_message = on_output;
}

// Reads the header and chooses the output colour space: BGRA, or CMYK for
// files in CMYK or YCCK, converted afterwards.
bool read_header(jpeg_decompress_struct* jpeg, ErrorManager* errors, const uint8_t* data, size_t size,
                 uint32_t* width, uint32_t* height, bool* cmyk) {
  if (setjmp(errors->jump)) return false;
  jpeg_mem_src(jpeg, data, static_cast<unsigned long>(size));
  jpeg_read_header(jpeg, TRUE);
  *cmyk = jpeg->jpeg_color_space == JCS_CMYK || jpeg->jpeg_color_space == JCS_YCCK;
  jpeg->out_color_space = *cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  jpeg_calc_output_dimensions(jpeg);
  *width = jpeg->output_width;
  *height = jpeg->output_height;
  return jpeg->output_components == 4;
}

// Starts decompressing and decodes the first row into `first` (4 bytes a
// pixel).
bool read_first_row(jpeg_decompress_struct* jpeg, ErrorManager* errors, uint8_t* first, uint32_t width,
                    uint32_t height) {
  if (setjmp(errors->jump)) return false;
  jpeg_start_decompress(jpeg);
  if (jpeg->output_width != width || jpeg->output_height != height) return false;
  JSAMPROW row = first;
  return jpeg_read_scanlines(jpeg, &row, 1) == 1;
}

// The rows after the first.
bool read_rows(jpeg_decompress_struct* jpeg, ErrorManager* errors, uint8_t* pixels, uint32_t width) {
  if (setjmp(errors->jump)) return false;
  while (jpeg->output_scanline < jpeg->output_height) {
    JSAMPROW row = pixels + size_t{jpeg->output_scanline} * width * 4;
    if (jpeg_read_scanlines(jpeg, &row, 1) != 1) return false;
  }
  jpeg_finish_decompress(jpeg);
  return true;
}

// CMYK bytes to BGRA words. Files with an Adobe marker store the inks
// inverted, which is how nearly every CMYK JPEG is written.
void cmyk_to_bgra(Bitmap& bitmap, bool inverted) {
  auto* bytes = reinterpret_cast<uint8_t*>(bitmap.pixels.data());
  for (size_t i = 0; i < bitmap.pixels.size(); ++i) {
    uint8_t* p = bytes + i * 4;
    uint32_t c = p[0], m = p[1], y = p[2], k = p[3];
    if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
    const uint32_t r = c * k / 255, g = m * k / 255, b = y * k / 255;
    bitmap.pixels[i] = 0xFF000000u | (r << 16) | (g << 8) | b;
  }
}

bool write_rows(jpeg_compress_struct* jpeg, ErrorManager* errors, const Bitmap* bitmap, unsigned char** buffer,
                unsigned long* size) {
  if (setjmp(errors->jump)) return false;
  jpeg_mem_dest(jpeg, buffer, size);
  jpeg->image_width = bitmap->width;
  jpeg->image_height = bitmap->height;
  jpeg->input_components = 4;
  jpeg->in_color_space = JCS_EXT_BGRX;  // the alpha byte is skipped
  jpeg_set_defaults(jpeg);
  jpeg_set_quality(jpeg, jpeg_quality, TRUE);
  jpeg_start_compress(jpeg, TRUE);
  while (jpeg->next_scanline < jpeg->image_height) {
    auto* row = reinterpret_cast<JSAMPROW>(
        const_cast<uint32_t*>(bitmap->pixels.data() + size_t{jpeg->next_scanline} * bitmap->width));
    jpeg_write_scanlines(jpeg, &row, 1);
  }
  jpeg_finish_compress(jpeg);
  return true;
}

}  // namespace

BitmapPtr decode_jpeg(const uint8_t* data, size_t size) {
  jpeg_decompress_struct jpeg{};
  ErrorManager errors{};
  set_errors(errors);
  jpeg.err = &errors.base;
  jpeg_create_decompress(&jpeg);
  uint32_t width = 0, height = 0;
  bool cmyk = false;
  BitmapPtr bitmap;
  std::vector<uint32_t> first;
  if (read_header(&jpeg, &errors, data, size, &width, &height, &cmyk) && acceptable_size(width, height)) {
    first.resize(width);
    if (read_first_row(&jpeg, &errors, reinterpret_cast<uint8_t*>(first.data()), width, height))
      bitmap = try_bitmap(width, height, 0);
  }
  if (bitmap) {
    std::copy(first.begin(), first.end(), bitmap->pixels.begin());
    if (!read_rows(&jpeg, &errors, reinterpret_cast<uint8_t*>(bitmap->pixels.data()), width)) bitmap.reset();
  }
  if (bitmap && cmyk) cmyk_to_bgra(*bitmap, jpeg.saw_Adobe_marker);
  jpeg_destroy_decompress(&jpeg);
  return bitmap;
}

bool encode_jpeg(const Bitmap& bitmap, std::vector<uint8_t>& out) {
  jpeg_compress_struct jpeg{};
  ErrorManager errors{};
  set_errors(errors);
  jpeg.err = &errors.base;
  jpeg_create_compress(&jpeg);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  const bool done = write_rows(&jpeg, &errors, &bitmap, &buffer, &size);
  jpeg_destroy_compress(&jpeg);
  if (done) out.assign(buffer, buffer + size);
  std::free(buffer);
  return done;
}

}  // namespace kiv::image_codecs
