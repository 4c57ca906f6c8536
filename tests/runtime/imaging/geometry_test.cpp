// The four-corner transform and its helpers.
#include "runtime/imaging/geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "runtime/imaging/bitmap.h"

namespace kiv::image_geom {
namespace {

TEST(ImageGeometry, TheSourceRectangleMapsOntoItself) {
  const uint32_t source[4] = {0xFF000001, 0xFF000002, 0xFF000003, 0xFF000004};  // 2x2
  const Quad corners = {{0, 0}, {2, 0}, {2, 2}, {0, 2}};
  const auto mapped = transform(source, 2, 2, corners);
  ASSERT_TRUE(mapped);
  EXPECT_EQ(mapped->x, 0);
  EXPECT_EQ(mapped->y, 0);
  EXPECT_EQ(mapped->width, 2u);
  EXPECT_EQ(mapped->height, 2u);
  EXPECT_EQ(mapped->pixels[0], 0xFF000001u) << "the top-left pixel, no neighbour mixed in";
}

TEST(ImageGeometry, PixelsOutsideTheQuadStayTransparent) {
  std::vector<uint32_t> source(16, 0xFFFFFFFFu);
  // A diamond inside a 10x10 box: its corners of the box are outside.
  const Quad corners = {{5, 0}, {10, 5}, {5, 10}, {0, 5}};
  const auto mapped = transform(source.data(), 4, 4, corners);
  ASSERT_TRUE(mapped);
  EXPECT_EQ(mapped->width, 10u);
  EXPECT_EQ(mapped->pixels[0], 0u);
  EXPECT_EQ(mapped->pixels[5 * 10 + 5], 0xFFFFFFFFu);
}

TEST(ImageGeometry, HostileCornersGiveNothing) {
  const uint32_t source[1] = {0xFFFFFFFFu};
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const Quad cases[] = {
      {{0, 0}, {1e9f, 0}, {1e9f, 1e9f}, {0, 1e9f}},  // a box far larger than any image
      {{nan, 0}, {1, 0}, {1, 1}, {0, 1}},
      {{0, 0}, {inf, 0}, {1, 1}, {0, 1}},
      {{0, 0}, {0, 0}, {1, 1}, {0, 1}},  // an edge of length 0
      {{0, 0}, {4e10f, 0}, {1, 1}, {0, 1}},
  };
  for (const Quad& corners : cases) EXPECT_FALSE(transform(source, 1, 1, corners));
  const Quad fine = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  EXPECT_FALSE(transform(source, 0, 1, fine));
}

TEST(ImageGeometry, MirrorsAndFlips) {
  Quad corners = {{1, 2}, {3, 2}, {3, 4}, {1, 4}};
  mirror_x(corners, 10);
  EXPECT_EQ(corners[0].x, 9);
  EXPECT_EQ(corners[1].x, 7);
  mirror_y(corners, 10);
  EXPECT_EQ(corners[2].y, 6);
  image_os::Bitmap bitmap;
  bitmap.width = 1;
  bitmap.height = 3;
  bitmap.pixels = {1, 2, 3};
  EXPECT_EQ(flip_vertical(bitmap)->pixels, (std::vector<uint32_t>{3, 2, 1}));
}

// Scaling takes, for each target pixel, the source pixel its position
// falls in (nearest neighbour, no mixing).
TEST(ImageGeometry, ResizeTakesTheNearestPixel) {
  image_os::Bitmap square;
  square.width = 2;
  square.height = 2;
  square.pixels = {1, 2, 3, 4};
  EXPECT_EQ(image_os::resize(square, 4, 2)->pixels, (std::vector<uint32_t>{1, 1, 2, 2, 3, 3, 4, 4}));
  EXPECT_EQ(image_os::resize(square, 1, 1)->pixels, (std::vector<uint32_t>{1}));
  EXPECT_EQ(image_os::resize(square, 2, 3)->pixels, (std::vector<uint32_t>{1, 2, 1, 2, 3, 4}));
  EXPECT_EQ(image_os::resize(square, 0, 3), nullptr);
}

}  // namespace
}  // namespace kiv::image_geom
