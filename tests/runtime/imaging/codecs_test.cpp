// The image codecs on their own: exact round trips of the lossless
// formats, a tolerance for JPEG, and hostile input. Every prefix of every
// good fixture is decoded (a truncated file must fail cleanly, never read
// past its bytes), and every file of the corpus must be refused.
#include "runtime/imaging/codecs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kiv::image_codecs {
namespace {

using image_os::Bitmap;

const std::filesystem::path fixtures = KIV_FIXTURES_DIR;

std::vector<uint8_t> read_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::unique_ptr<Bitmap> decode_bytes(const std::vector<uint8_t>& bytes) {
  const auto format = recognise(bytes.data(), bytes.size());
  return format ? decode(*format, bytes.data(), bytes.size()) : nullptr;
}

// A 5x3 image with every kind of pixel: opaque, fully transparent and
// half transparent, in distinct colours.
Bitmap sample() {
  Bitmap bitmap;
  bitmap.width = 5;
  bitmap.height = 3;
  for (uint32_t i = 0; i < 15; ++i) {
    const uint32_t alpha = i % 3 == 0 ? 255 : i % 3 == 1 ? 0 : 128;
    bitmap.pixels.push_back(alpha << 24 | (i * 17) << 16 | (255 - i * 9) << 8 | (i * 5));
  }
  return bitmap;
}

Bitmap opaque(Bitmap bitmap) {
  for (uint32_t& pixel : bitmap.pixels) pixel |= 0xFF000000u;
  return bitmap;
}

std::unique_ptr<Bitmap> round_trip(Format format, const Bitmap& bitmap) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(encode(format, bitmap, bytes));
  EXPECT_EQ(recognise(bytes.data(), bytes.size()), format);
  return decode(format, bytes.data(), bytes.size());
}

TEST(ImageCodecs, LosslessFormatsRoundTripExactly) {
  const Bitmap with_alpha = sample();
  for (Format format : {Format::png, Format::tiff}) {
    SCOPED_TRACE(static_cast<int>(format));
    const auto back = round_trip(format, with_alpha);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->width, 5u);
    EXPECT_EQ(back->height, 3u);
    EXPECT_EQ(back->pixels, with_alpha.pixels);
  }
  // BMP keeps the colours; its fourth byte reads back as opaque.
  const auto bmp = round_trip(Format::bmp, with_alpha);
  ASSERT_TRUE(bmp);
  EXPECT_EQ(bmp->pixels, opaque(with_alpha).pixels);
}

TEST(ImageCodecs, GifKeepsFewColoursAndFullTransparency) {
  Bitmap bitmap = sample();
  for (uint32_t& pixel : bitmap.pixels)
    if ((pixel >> 24) == 128) pixel |= 0xFF000000u;  // GIF has no partial transparency
  const auto back = round_trip(Format::gif, bitmap);
  ASSERT_TRUE(back);
  for (size_t i = 0; i < bitmap.pixels.size(); ++i) {
    const bool transparent = (bitmap.pixels[i] >> 24) == 0;
    if (transparent) {
      EXPECT_EQ(back->pixels[i] >> 24, 0u) << i;
    } else {
      EXPECT_EQ(back->pixels[i], bitmap.pixels[i]) << i;
    }
  }
}

TEST(ImageCodecs, GifWithManyColoursStaysClose) {
  Bitmap bitmap;
  bitmap.width = 40;
  bitmap.height = 10;
  for (uint32_t i = 0; i < 400; ++i) bitmap.pixels.push_back(0xFF000000u | (i % 256) << 16 | (i / 2 % 256) << 8 | 77);
  const auto back = round_trip(Format::gif, bitmap);
  ASSERT_TRUE(back);
  for (size_t i = 0; i < bitmap.pixels.size(); ++i)
    for (int shift : {0, 8, 16})
      EXPECT_LE(std::abs(static_cast<int>((back->pixels[i] >> shift) & 0xFF) - static_cast<int>((bitmap.pixels[i] >> shift) & 0xFF)), 26)
          << i;
}

TEST(ImageCodecs, JpegStaysWithinATolerance) {
  Bitmap bitmap;
  bitmap.width = 16;
  bitmap.height = 16;
  bitmap.pixels.assign(256, 0xFFC86432u);  // (200, 100, 50)
  const auto back = round_trip(Format::jpeg, bitmap);
  ASSERT_TRUE(back);
  for (uint32_t pixel : back->pixels) {
    EXPECT_EQ(pixel >> 24, 255u);
    EXPECT_NEAR(static_cast<int>((pixel >> 16) & 0xFF), 200, 4);
    EXPECT_NEAR(static_cast<int>((pixel >> 8) & 0xFF), 100, 4);
    EXPECT_NEAR(static_cast<int>(pixel & 0xFF), 50, 4);
  }
}

TEST(ImageCodecs, SignaturesAreRecognised) {
  const struct {
    std::string bytes;
    std::optional<Format> format;
  } cases[] = {
      {"\x89PNG\r\n", Format::png},
      {std::string("\xFF\xD8\xFF\xE0", 4), Format::jpeg},
      {"BM", Format::bmp},
      {"GIF89a", Format::gif},
      {"GIF87a", std::nullopt},
      {std::string("II*\0", 4), Format::tiff},
      {std::string("MM\0*", 4), Format::tiff},
      {"GIF8", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(recognise(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()), c.format) << c.bytes;
}

TEST(ImageCodecs, EveryPrefixOfAGoodFileFailsCleanly) {
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(encode(Format::jpeg, opaque(sample()), jpeg));
  std::vector<std::vector<uint8_t>> files = {jpeg};
  for (const char* name : {"rgba.png", "gray.png", "palette.png", "rgb24.bmp", "pal8.bmp", "four.gif", "rgb.tif"})
    files.push_back(read_bytes(fixtures / "images" / name));
  for (const auto& file : files) {
    ASSERT_FALSE(file.empty());
    ASSERT_TRUE(decode_bytes(file)) << "the whole file decodes";
    for (size_t length = 0; length < file.size(); ++length) {
      // A copy of exactly `length` bytes, so that reading past it is caught.
      const std::vector<uint8_t> prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
      const auto bitmap = decode_bytes(prefix);
      if (bitmap) {
        EXPECT_EQ(bitmap->pixels.size(), size_t{bitmap->width} * bitmap->height);
      }
    }
  }
}

TEST(ImageCodecs, AJpegWhoseScanStopsAtAMarkerIsRefused) {
  Bitmap bitmap;
  bitmap.width = bitmap.height = 64;
  for (uint32_t i = 0; i < 64 * 64; ++i) bitmap.pixels.push_back(0xFF000000u | (i * 2654435761u >> 8));
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(encode(Format::jpeg, bitmap, jpeg));
  ASSERT_TRUE(decode(Format::jpeg, jpeg.data(), jpeg.size()));
  // The scan cut in its middle and the file ended there properly, with EOI.
  std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(jpeg.size() * 3 / 4));
  cut.push_back(0xFF);
  cut.push_back(0xD9);
  EXPECT_FALSE(decode(Format::jpeg, cut.data(), cut.size()));
}

TEST(ImageCodecs, FilesPackedAsTightlyAsTheEncodersGoStillDecode) {
  // One colour packs best: the decoders' checks of a declared size against
  // the bytes left must not refuse it.
  Bitmap bitmap;
  bitmap.width = 2048;
  bitmap.height = 1024;
  bitmap.pixels.assign(size_t{2048} * 1024, 0xFF336699u);
  for (const Format format : {Format::png, Format::gif, Format::jpeg, Format::tiff}) {
    const auto back = round_trip(format, bitmap);
    ASSERT_TRUE(back) << int(format);
    EXPECT_EQ(back->width, 2048u);
    if (format != Format::jpeg) {
      EXPECT_EQ(back->pixels, bitmap.pixels) << int(format);
    }
  }
}

TEST(ImageCodecs, NoBytesAtAllAreRefused) {
  // An empty binary! hands its decoder a null pointer.
  for (const Format format : {Format::bmp, Format::png, Format::gif, Format::jpeg, Format::tiff})
    EXPECT_FALSE(decode(format, nullptr, 0)) << int(format);
}

TEST(ImageCodecs, TheCorpusIsRefused) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(fixtures / "images-corpus")) {
    if (entry.path().extension() == ".md") continue;
    SCOPED_TRACE(entry.path().filename().string());
    const std::vector<uint8_t> bytes = read_bytes(entry.path());
    ASSERT_TRUE(recognise(bytes.data(), bytes.size()));
    EXPECT_FALSE(decode_bytes(bytes));
    ++files;
  }
  EXPECT_GT(files, 0);
}

TEST(ImageCodecs, SizesOverTheLimitAreRefusedBeforeAllocating) {
  EXPECT_FALSE(acceptable_size(65535, 65535));
  EXPECT_FALSE(acceptable_size(65536, 1));
  EXPECT_FALSE(acceptable_size(0, 5));
  EXPECT_TRUE(acceptable_size(65535, 1));
  EXPECT_TRUE(acceptable_size(8192, 8192));
}

}  // namespace
}  // namespace kiv::image_codecs
