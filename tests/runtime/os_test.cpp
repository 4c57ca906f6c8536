#include "runtime/os.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "runtime/core/exits.h"
#include "runtime/core/pages.h"

namespace kiv::os {
namespace {

TEST(Os, ZoneCodes) {
  struct Case {
    int offset;
    uint32_t hours;
    bool negative;
    uint32_t quarters;
  };
  const Case cases[] = {
      {0, 0, false, 0},    {60, 1, false, 0},   {330, 5, false, 2}, {-210, 3, true, 2},
      {-225, 3, true, 3},  {-45, 0, true, 3},   {840, 14, false, 0}, {-720, 12, true, 0},
  };
  for (const Case& c : cases) {
    const uint32_t zone = zone_code(c.offset);
    EXPECT_EQ((zone >> 2) & 0xF, c.hours) << c.offset;
    EXPECT_EQ((zone & 0x40) != 0, c.negative) << c.offset;
    EXPECT_EQ(zone & 3, c.quarters) << c.offset;
  }
}

TEST(Os, DatePacking) {
  const uint32_t word = pack_date(2026, 12, 10, zone_code(-210));
  EXPECT_EQ(word >> 17, 2026u);
  EXPECT_EQ((word >> 12) & 0xF, 12u);
  EXPECT_EQ((word >> 7) & 0x1F, 10u);
  EXPECT_EQ(word & 0x7F, zone_code(-210));
}

TEST(Os, LocalDateCarriesTheZone) {
  const auto saved = get_env("TZ");
  set_env("TZ", "XYZ3:30");  // POSIX: three and a half hours west of UTC
  ::tzset();
  const uint32_t local = now_date(false);
  EXPECT_EQ(local & 0x7F, zone_code(-210));
  EXPECT_EQ(now_date(true) & 0x7F, 0u);
  set_env("TZ", saved ? saved->c_str() : nullptr);
  ::tzset();
}

TEST(Os, SleepMilliseconds) {
  EXPECT_EQ(sleep_millis(0.0001), 1);
  EXPECT_EQ(sleep_millis(2.5), 2500);
  EXPECT_EQ(sleep_millis(0), 1);
  EXPECT_EQ(sleep_millis(-3), 1);
}

TEST(Os, ClockIsWithinADay) {
  const double seconds = now_seconds(true);
  EXPECT_GE(seconds, 0.0);
  EXPECT_LT(seconds, 86400.0);
  EXPECT_EQ(now_seconds(false), static_cast<double>(static_cast<int64_t>(now_seconds(false))));
}

TEST(Os, EnvironmentAndDirectory) {
  EXPECT_TRUE(set_env("KIV_OS_TEST", "caf\xC3\xA9"));
  EXPECT_EQ(get_env("KIV_OS_TEST"), "caf\xC3\xA9");
  EXPECT_TRUE(set_env("KIV_OS_TEST", nullptr));
  EXPECT_FALSE(get_env("KIV_OS_TEST").has_value());

  const std::string start = current_dir();
  ASSERT_FALSE(start.empty());
  EXPECT_TRUE(set_current_dir("/"));
  EXPECT_EQ(current_dir(), "/");
  EXPECT_FALSE(set_current_dir("/no/such/directory/here"));
  EXPECT_TRUE(set_current_dir(start.c_str()));
}

TEST(Os, PagesAndTheirFailureCodes) {
  auto* block = static_cast<uint8_t*>(pages::allocate(1 << 16));
  EXPECT_EQ(block[0], 0);
  block[(1 << 16) - 1] = 7;
  pages::release(block, 1 << 16);

  try {
    pages::allocate(size_t{1} << 62);
    FAIL() << "an impossible allocation succeeded";
  } catch (const Unwind& unwind) {
    EXPECT_EQ(unwind.code, exit_code::os_alloc_failed);
  }
  try {
    pages::release(reinterpret_cast<void*>(uintptr_t{13}), 4096);  // not page-aligned
    FAIL() << "an impossible release succeeded";
  } catch (const Unwind& unwind) {
    EXPECT_EQ(unwind.code, exit_code::os_free_failed);
  }
  runtime::state.pending = 0;
}

TEST(Os, BuildDateShape) {
  EXPECT_TRUE(::testing::internal::RE::FullMatch(build_date(), "[0-9]+-[A-Z][a-z][a-z]-[0-9]+/[0-9:]+"))
      << build_date();
}

}  // namespace
}  // namespace kiv::os
