// One image decoder over bytes from outside; FUZZ_IMAGE_FORMAT names it
// (each fuzz_<format> target builds this file with its own). A file that
// decodes must have a size the decoders accept, and must encode again:
// the lossless formats (PNG, TIFF, GIF, and BMP, which keeps no alpha) must
// decode back to the same pixels; a JPEG must re-encode to an image of the
// same size, and its pixels must survive PNG.
#include <string>
#include <vector>

#include "runtime/imaging/codecs.h"
#include "tests/fuzz/fuzz_runtime.h"

using namespace kiv;
using image_codecs::Format;
using image_os::Bitmap;

namespace {

constexpr Format format = Format::FUZZ_IMAGE_FORMAT;

// Re-encoding costs time in proportion to the pixels, and a small input
// can declare many (a long run of one colour packs well in every format):
// the round trips stop at 4 Mi pixels. Decoding itself has no such limit.
constexpr uint64_t round_trip_pixels = uint64_t{1} << 22;

// The pixels a lossless round trip through `target` must give back.
std::vector<uint32_t> kept_pixels(const Bitmap& bitmap, Format target) {
  std::vector<uint32_t> pixels = bitmap.pixels;
  if (target == Format::bmp)
    for (uint32_t& pixel : pixels) pixel |= 0xFF000000u;  // a 32-bit BMP reads opaque
  return pixels;
}

// Encodes `bitmap` as `target` and decodes it; the result must be
// recognised as `target` and have the same size.
std::unique_ptr<Bitmap> again(const Bitmap& bitmap, Format target, const char* name) {
  std::vector<uint8_t> bytes;
  if (!image_codecs::encode(target, bitmap, bytes)) fuzz::fail(std::string("a decoded image does not encode as ") + name);
  const auto recognised = image_codecs::recognise(bytes.data(), bytes.size());
  if (!recognised || *recognised != target) fuzz::fail(std::string("the encoded data is not recognised as ") + name);
  auto decoded = image_codecs::decode(target, bytes.data(), bytes.size());
  if (!decoded) fuzz::fail(std::string("encoded data does not decode: ") + name);
  if (decoded->width != bitmap.width || decoded->height != bitmap.height)
    fuzz::fail(std::string("the round trip changes the size: ") + name);
  return decoded;
}

void lossless(const Bitmap& bitmap, Format target, const char* name) {
  const auto decoded = again(bitmap, target, name);
  if (decoded->pixels != kept_pixels(bitmap, target)) fuzz::fail(std::string("the round trip changes the pixels: ") + name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> input(data, data + size);  // a read past the end is then reported
  const auto bitmap = image_codecs::decode(format, input.data(), input.size());
  if (!bitmap) return 0;
  if (!image_codecs::acceptable_size(bitmap->width, bitmap->height)) fuzz::fail("a size the decoders refuse");
  if (bitmap->pixels.size() != uint64_t{bitmap->width} * bitmap->height) fuzz::fail("pixels do not match the size");
  if (bitmap->pixels.size() > round_trip_pixels) return 0;
  switch (format) {
    case Format::png: lossless(*bitmap, Format::png, "png"); break;
    case Format::bmp: lossless(*bitmap, Format::bmp, "bmp"); break;
    case Format::gif: lossless(*bitmap, Format::gif, "gif"); break;
    case Format::tiff: lossless(*bitmap, Format::tiff, "tiff"); break;
    case Format::jpeg:
      again(*bitmap, Format::jpeg, "jpeg");
      lossless(*bitmap, Format::png, "png");
      break;
  }
  return 0;
}
