// An image's pixels live in a bitmap owned by an external handle of the
// "image" class: they stay while an image! value reaches its record, and a
// collection that finds none releases them (once).
#include <gtest/gtest.h>

#include "runtime/core/collector.h"
#include "runtime/core/handles.h"
#include "runtime/core/stack.h"
#include "runtime/core/state.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/tuple.h"
#include "tests/runtime/series_fixture.h"

namespace kiv {
namespace {

using testing::eval_molded;

int bitmaps_alive() {
  uint32_t image_class = 0;
  for (uint32_t c = 1; handles::class_name(c); ++c)
    if (std::string_view(handles::class_name(c)) == "image") image_class = c;
  static int count;
  count = 0;
  handles::each_of_class(image_class, [](void*) { ++count; });
  return count;
}

class ImageLifetime : public testing::RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    saved_ = collector::stress();
    collector::set_stress({.every = 0, .verify = true});
  }
  void TearDown() override {
    collector::set_stress(saved_);
    RuntimeTest::TearDown();
  }

 private:
  collector::StressOptions saved_;
};

TEST_F(ImageLifetime, PixelsGoWithTheLastValue) {
  collector::collect();
  const int before = bitmaps_alive();
  eval_molded("kept: make image! [2x2 1.2.3]  also-kept: next kept  loop 5 [make image! 3x3]");
  EXPECT_EQ(bitmaps_alive(), before + 6);
  collector::collect();
  EXPECT_EQ(bitmaps_alive(), before + 1) << "the dropped images are released, the kept one stays";
  EXPECT_EQ(eval_molded("pick kept 4"), "1.2.3.0");
  eval_molded("kept: none");
  collector::collect();
  EXPECT_EQ(bitmaps_alive(), before + 1) << "another value still reaches the record";
  eval_molded("also-kept: none");
  collector::collect();
  EXPECT_EQ(bitmaps_alive(), before);
}

TEST_F(ImageLifetime, ImagesWithoutPixelsHoldNoBitmap) {
  collector::collect();
  const int before = bitmaps_alive();
  eval_molded("empty: make image! 0x5");
  EXPECT_EQ(bitmaps_alive(), before);
  EXPECT_EQ(eval_molded("length? empty"), "0");
}

TEST_F(ImageLifetime, FromMemoryCopiesRowsByTheirStride) {
  // Two rows of two pixels, each row padded to three words.
  const uint32_t memory[] = {0xFF010203, 0xFF040506, 0xDEADBEEF, 0x80070809, 0xFF0A0B0C, 0xDEADBEEF};
  Val made = stack::push(image::from_memory(2, 2, 12, memory));
  const uint32_t* pixels = image::pixels_of(*made);
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(std::vector<uint32_t>(pixels, pixels + 4), (std::vector<uint32_t>{0xFF010203, 0xFF040506, 0x80070809, 0xFF0A0B0C}));
  EXPECT_EQ(image::width_of(*made), 2u);
  const Cell third = image::pixel_at(*made, 2);
  EXPECT_EQ(tuple::bytes_of(third)[0], 7);
  EXPECT_EQ(tuple::bytes_of(third)[3], 255 - 0x80);
  EXPECT_EQ(image::pixels_of(image::from_memory(0, 3, 0, memory)), nullptr);
  stack::pop(1);
}

}  // namespace
}  // namespace kiv
