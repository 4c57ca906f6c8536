#include "runtime/core/exits.h"

#include <gtest/gtest.h>

#include "runtime/core/runtime_error.h"
#include "runtime/core/state.h"

namespace kiv {
namespace {

class Exits : public ::testing::Test {
 protected:
  void SetUp() override { runtime::state.pending = 0; }
};

struct ThresholdCase {
  uint32_t threshold;
  uint32_t code;
  bool caught;
};

TEST_F(Exits, ThresholdIsUnsignedUpperBound) {
  const ThresholdCase cases[] = {
      {threshold::loop, exit_code::break_loop, true},
      {threshold::loop, exit_code::continue_loop, true},
      {threshold::loop, exit_code::return_value, true},
      {threshold::loop, exit_code::error, false},
      {threshold::catch_throw, exit_code::user_throw, true},
      {threshold::catch_throw, exit_code::break_loop, false},
      {threshold::catch_throw, exit_code::exit_function, false},
      {threshold::try_error, exit_code::error, true},
      {threshold::try_error, 0x80000000u, false},  // above every signed code
      {threshold::everything, 0xFFFFFFFFu, true},
      {threshold::nothing, exit_code::user_throw, false},
  };
  for (const ThresholdCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.threshold << " / " << c.code);
    EXPECT_EQ(catches(c.threshold, c.code), c.caught);
    bool passed_on = false;
    uint32_t got = 0;
    try {
      got = runtime::catch_exits(c.threshold, [&] { runtime::raise_exit(c.code); });
    } catch (const Unwind& unwind) {
      passed_on = true;
      EXPECT_EQ(unwind.code, c.code);
    }
    EXPECT_EQ(passed_on, !c.caught);
    if (c.caught) {
      EXPECT_EQ(got, c.code);
      EXPECT_EQ(runtime::state.pending, 0u) << "the exit ends where it is caught";
    }
    runtime::state.pending = 0;
  }
}

TEST_F(Exits, ExitStopsAtTheFirstFrameThatHandlesIt) {
  // try [ loop [ catch [ raise ] ] ]: each exit stops at the innermost
  // frame whose threshold is at or above its code; outer frames resume as
  // if nothing happened.
  struct Reached {
    uint32_t at_catch = 0, at_loop = 0, at_try = 0;
  };
  auto nest = [](uint32_t code) {
    Reached reached;
    reached.at_try = runtime::catch_exits(threshold::try_error, [&] {
      reached.at_loop = runtime::catch_exits(threshold::loop, [&] {
        reached.at_catch = runtime::catch_exits(threshold::catch_throw, [&] { runtime::raise_exit(code); });
      });
    });
    return reached;
  };
  const Reached thrown = nest(exit_code::user_throw);
  EXPECT_EQ(thrown.at_catch, exit_code::user_throw);
  EXPECT_EQ(thrown.at_loop, 0u);
  EXPECT_EQ(thrown.at_try, 0u);

  const Reached broken = nest(exit_code::break_loop);
  EXPECT_EQ(broken.at_catch, 0u);
  EXPECT_EQ(broken.at_loop, exit_code::break_loop);
  EXPECT_EQ(broken.at_try, 0u);

  const Reached failed = nest(exit_code::error);
  EXPECT_EQ(failed.at_catch, 0u);
  EXPECT_EQ(failed.at_loop, 0u);
  EXPECT_EQ(failed.at_try, exit_code::error);

  EXPECT_THROW(nest(exit_code::quiet_end | 0x80000000u), Unwind) << "beyond try: on to the top";
  runtime::state.pending = 0;
}

TEST_F(Exits, PendingCodeIsCaughtLikeAThrownOne) {
  // Evaluation code returns normally with the code left pending.
  EXPECT_EQ(runtime::catch_exits(threshold::loop, [] { runtime::state.pending = exit_code::break_loop; }),
            exit_code::break_loop);
  runtime::state.pending = exit_code::error;
  EXPECT_EQ(runtime::catch_exits(threshold::loop, [] {}), 0u) << "a higher code stays pending";
  EXPECT_EQ(runtime::state.pending, exit_code::error);
}

TEST_F(Exits, ThrowPendingReturnsWhenNothingIsPending) {
  runtime::state.pending = 0;
  EXPECT_NO_THROW(runtime::throw_pending());
  runtime::state.pending = exit_code::user_throw;
  EXPECT_THROW(runtime::throw_pending(), Unwind);
}

TEST(ExitsDeath, UncaughtThrowIsRuntimeError95) {
  EXPECT_EXIT(
      {
        try {
          runtime::raise_exit(exit_code::user_throw);
        } catch (const Unwind& unwind) {
          runtime::state.pending = unwind.code;
          runtime::top_handler();
        }
      },
      ::testing::ExitedWithCode(95),
      "^\\*\\*\\* Runtime Error 95: no CATCH for THROW\n\\*\\*\\* at: [0-9A-F]{8,}h\n$");
}

TEST(ExitsDeath, QuietEndCodeEndsWithStatusZeroAndNoText) {
  EXPECT_EXIT(
      {
        runtime::state.pending = exit_code::quiet_end;
        runtime::top_handler();
      },
      ::testing::ExitedWithCode(0), "^$");
}

}  // namespace
}  // namespace kiv
