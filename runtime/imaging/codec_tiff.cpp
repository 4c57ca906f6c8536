// TIFF through libtiff, over memory: the first directory (page) in, one
// 8-bit RGBA page with LZW compression and unassociated alpha out.
#include <algorithm>
#include <cstring>

#include "runtime/imaging/codec_formats.h"
#include "runtime/imaging/codecs.h"
#include "runtime/imaging/tiff_library.h"

namespace kiv::image_codecs {
namespace {

// libtiff's functions; the codec's entry points check first that it loaded.
const tiff_library::Functions& lib() { return *tiff_library::functions(); }

// The memory a TIFF is read from or written to. Reading: `in`; writing:
// `out`.
struct Stream {
  const uint8_t* in = nullptr;
  size_t in_size = 0;
  RawSink* out = nullptr;
  toff_t position = 0;

  toff_t size() const { return out ? out->size : in_size; }
};

tsize_t read_proc(thandle_t handle, tdata_t buffer, tsize_t count) {
  auto* stream = static_cast<Stream*>(handle);
  if (stream->out || count < 0 || stream->position >= stream->in_size) return 0;
  const size_t given = std::min<size_t>(static_cast<size_t>(count), stream->in_size - stream->position);
  std::memcpy(buffer, stream->in + stream->position, given);
  stream->position += given;
  return static_cast<tsize_t>(given);
}

tsize_t write_proc(thandle_t handle, tdata_t buffer, tsize_t count) {
  auto* stream = static_cast<Stream*>(handle);
  if (!stream->out || count < 0) return -1;
  stream->out->position = stream->position;
  if (!stream->out->write(buffer, static_cast<size_t>(count))) return -1;
  stream->position = stream->out->position;
  return count;
}

toff_t seek_proc(thandle_t handle, toff_t offset, int whence) {
  auto* stream = static_cast<Stream*>(handle);
  toff_t base = 0;
  if (whence == SEEK_CUR) base = stream->position;
  else if (whence == SEEK_END) base = stream->size();
  stream->position = base + offset;
  return stream->position;
}

int close_proc(thandle_t) { return 0; }
toff_t size_proc(thandle_t handle) { return static_cast<Stream*>(handle)->size(); }
int map_proc(thandle_t, tdata_t*, toff_t*) { return 0; }
void unmap_proc(thandle_t, tdata_t, toff_t) {}

TIFF* open(Stream& stream, const char* mode) {
  return lib().ClientOpen("image", mode, &stream, read_proc, write_proc, seek_proc, close_proc, size_proc, map_proc,
                        unmap_proc);
}

// libtiff would print its complaints about bad files on standard error.
void quiet(const char*, const char*, va_list) {}

void silence_once() {
  static const bool silenced = [] {
    lib().SetErrorHandler(quiet);
    lib().SetWarningHandler(quiet);
    return true;
  }();
  (void)silenced;
}

// Whether the page is 8-bit RGB or RGBA in strips, one sample after the
// other: such rows are read as they are, so no alpha rounding creeps in.
bool is_plain_rgb(TIFF* tiff) {
  uint16_t bits = 0, samples = 0, photometric = 0, planar = PLANARCONFIG_CONTIG;
  lib().GetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  lib().GetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  lib().GetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  if (!lib().GetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric)) return false;
  return !lib().IsTiled(tiff) && bits == 8 && (samples == 3 || samples == 4) && photometric == PHOTOMETRIC_RGB &&
         planar == PLANARCONFIG_CONTIG;
}

// Whether the page's fourth sample is premultiplied (associated) alpha.
bool has_associated_alpha(TIFF* tiff) {
  uint16_t count = 0;
  uint16_t* kinds = nullptr;
  return lib().GetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &kinds) && count > 0 && kinds &&
         kinds[0] == EXTRASAMPLE_ASSOCALPHA;
}

uint8_t unpremultiply(uint32_t channel, uint32_t alpha) {
  return alpha == 0 ? 0 : static_cast<uint8_t>(std::min<uint32_t>(255, (channel * 255 + alpha / 2) / alpha));
}

bool read_plain(TIFF* tiff, Bitmap& bitmap) {
  uint16_t samples = 0;
  lib().GetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  if (lib().ScanlineSize64(tiff) != uint64_t{bitmap.width} * samples) return false;
  const bool associated = samples == 4 && has_associated_alpha(tiff);
  std::vector<uint8_t> row(size_t{bitmap.width} * samples);
  for (uint32_t y = 0; y < bitmap.height; ++y) {
    if (lib().ReadScanline(tiff, row.data(), y, 0) != 1) return false;
    uint32_t* out = bitmap.pixels.data() + size_t{y} * bitmap.width;
    for (uint32_t x = 0; x < bitmap.width; ++x) {
      const uint8_t* p = row.data() + size_t{x} * samples;
      const uint32_t a = samples == 4 ? p[3] : 255;
      uint32_t r = p[0], g = p[1], b = p[2];
      if (associated) r = unpremultiply(r, a), g = unpremultiply(g, a), b = unpremultiply(b, a);
      out[x] = a << 24 | r << 16 | g << 8 | b;
    }
  }
  return true;
}

// Any other page, through libtiff's RGBA reader: it gives premultiplied
// words 0xAABBGGRR (R in the low byte).
bool read_any(TIFF* tiff, Bitmap& bitmap) {
  if (!lib().ReadRGBAImageOriented(tiff, bitmap.width, bitmap.height, bitmap.pixels.data(), ORIENTATION_TOPLEFT, 0))
    return false;
  for (uint32_t& pixel : bitmap.pixels) {
    const uint32_t a = pixel >> 24, r = pixel & 0xFF, g = (pixel >> 8) & 0xFF, b = (pixel >> 16) & 0xFF;
    pixel = a == 255 ? (a << 24 | r << 16 | g << 8 | b)
                     : (a << 24 | uint32_t{unpremultiply(r, a)} << 16 | uint32_t{unpremultiply(g, a)} << 8 |
                        unpremultiply(b, a));
  }
  return true;
}

// Whether the page's first row reads, checked before the bitmap is
// allocated: a few bytes may declare the largest page allowed, and most
// such files are refused here. The other rows are read again from the
// start, which for a page in one strip decodes that strip twice.
bool first_row_reads(TIFF* tiff, uint32_t width) {
  if (is_plain_rgb(tiff)) {
    uint16_t samples = 0;
    lib().GetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    if (lib().ScanlineSize64(tiff) != uint64_t{width} * samples) return false;
    std::vector<uint8_t> row(size_t{width} * samples);
    return lib().ReadScanline(tiff, row.data(), 0, 0) == 1;
  }
  char message[1024];
  TIFFRGBAImage image{};
  if (!lib().RGBAImageOK(tiff, message) || !lib().RGBAImageBegin(&image, tiff, 0, message)) return false;
  image.req_orientation = ORIENTATION_TOPLEFT;
  std::vector<uint32_t> row(width);
  const bool read = lib().RGBAImageGet(&image, row.data(), width, 1) != 0;
  lib().RGBAImageEnd(&image);
  return read;
}

}  // namespace

BitmapPtr decode_tiff(const uint8_t* data, size_t size) {
  if (!tiff_library::functions()) return nullptr;
  silence_once();
  Stream stream;
  stream.in = data;
  stream.in_size = size;
  TIFF* tiff = open(stream, "rm");
  if (!tiff) return nullptr;
  uint32_t width = 0, height = 0;
  BitmapPtr bitmap;
  if (lib().GetField(tiff, TIFFTAG_IMAGEWIDTH, &width) && lib().GetField(tiff, TIFFTAG_IMAGELENGTH, &height) &&
      acceptable_size(width, height) && first_row_reads(tiff, width))
    bitmap = try_bitmap(width, height, 0);
  if (bitmap && !(is_plain_rgb(tiff) ? read_plain(tiff, *bitmap) : read_any(tiff, *bitmap))) bitmap.reset();
  lib().Close(tiff);
  return bitmap;
}

bool encode_tiff(const Bitmap& bitmap, std::vector<uint8_t>& out) {
  if (!tiff_library::functions()) return false;
  silence_once();
  RawSink sink;
  Stream stream;
  stream.out = &sink;
  TIFF* tiff = open(stream, "w");
  if (!tiff) return false;
  const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
  bool done = lib().SetField(tiff, TIFFTAG_IMAGEWIDTH, bitmap.width) &&
              lib().SetField(tiff, TIFFTAG_IMAGELENGTH, bitmap.height) &&
              lib().SetField(tiff, TIFFTAG_BITSPERSAMPLE, 8) && lib().SetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 4) &&
              lib().SetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra) &&
              lib().SetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
              lib().SetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              lib().SetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW) &&
              lib().SetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
              lib().SetField(tiff, TIFFTAG_ROWSPERSTRIP, lib().DefaultStripSize(tiff, 0));
  std::vector<uint8_t> row(size_t{bitmap.width} * 4);
  for (uint32_t y = 0; done && y < bitmap.height; ++y) {
    const uint32_t* pixels = bitmap.pixels.data() + size_t{y} * bitmap.width;
    for (uint32_t x = 0; x < bitmap.width; ++x) {
      const uint32_t p = pixels[x];
      row[x * 4] = static_cast<uint8_t>(p >> 16);
      row[x * 4 + 1] = static_cast<uint8_t>(p >> 8);
      row[x * 4 + 2] = static_cast<uint8_t>(p);
      row[x * 4 + 3] = static_cast<uint8_t>(p >> 24);
    }
    done = lib().WriteScanline(tiff, row.data(), y, 0) == 1;
  }
  done = done && lib().WriteDirectory(tiff);
  lib().Close(tiff);
  if (done) out.assign(sink.data, sink.data + sink.size);
  sink.release();
  return done;
}

}  // namespace kiv::image_codecs
