#include "runtime/platform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "runtime/core/arith.h"
#include "runtime/core/state.h"
#include "runtime/core/tracked_memory.h"

namespace kiv {
namespace {

TEST(Platform, ArgumentsAreCopiedAsTrackedUtf8) {
  const char* argv[] = {"kiv", "--cli", "\xC3\xA9t\xC3\xA9.kiv", "\xFF\xFE raw bytes", nullptr};
  runtime::platform_start(4, argv);
  ASSERT_EQ(runtime::state.argc, 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_STREQ(runtime::state.argv[i], argv[i]);
    EXPECT_NE(runtime::state.argv[i], argv[i]) << "a copy, not the system's string";
    EXPECT_TRUE(memory::is_tracked(runtime::state.argv[i]));
  }
  EXPECT_EQ(runtime::state.argv[4], nullptr);
  EXPECT_GT(runtime::stack_remaining(), 0u);
}

TEST(Arith, DegreesToRadians) {
  using math::AngleFold;
  const double pi = std::numbers::pi;
  EXPECT_DOUBLE_EQ(math::degrees_to_radians(270, AngleFold::none), -pi / 2);
  EXPECT_DOUBLE_EQ(math::degrees_to_radians(100, AngleFold::shift_half_turn), -80 * pi / 180);
  EXPECT_DOUBLE_EQ(math::degrees_to_radians(100, AngleFold::mirror), 80 * pi / 180);
  EXPECT_DOUBLE_EQ(math::degrees_to_radians(-100, AngleFold::mirror), -80 * pi / 180);
  EXPECT_DOUBLE_EQ(math::degrees_to_radians(720 + 30, AngleFold::none), 30 * pi / 180);
  EXPECT_DOUBLE_EQ(math::degrees_to_radians(-190, AngleFold::none), 170 * pi / 180);
}

TEST(Arith, Alignment) {
  EXPECT_EQ(align_up(0, 16), 0u);
  EXPECT_EQ(align_up(1, 16), 16u);
  EXPECT_EQ(align_up(16, 16), 16u);
  EXPECT_EQ(align_past(16, 16), 32u);
  EXPECT_EQ(align_past(15, 16), 16u);
  EXPECT_TRUE(cstrings_equal("abc", "abc"));
  EXPECT_FALSE(cstrings_equal("abc", "abcd"));
}

}  // namespace
}  // namespace kiv
