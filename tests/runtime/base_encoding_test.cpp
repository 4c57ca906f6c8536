// The output sizes of the base encoders, which `enbase` checks before it
// encodes: inputs big enough to overflow them cannot be made in a test
// script.
#include "runtime/base_encoding.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

TEST(BaseEncoding, SizesFitOrOverflow) {
  struct Case {
    int32_t base;
    uint64_t bytes;
    std::optional<uint32_t> size;
  };
  const Case cases[] = {
      {64, 0, 0u},
      {64, 1, 4u},
      {64, 3, 4u},
      {64, 4, 8u},
      {16, 5, 10u},
      {2, 5, 40u},
      {58, 5, 10u},
      {2, 268435455, 2147483640u},   // the largest base-2 input
      {2, 268435456, std::nullopt},  // 2^31 characters
      {16, 1073741824, std::nullopt},
      {64, 1610612733, 2147483644u},
      {64, 1610612736, std::nullopt},
      {10, 1, std::nullopt},  // not a base of ours
  };
  for (const Case& c : cases)
    EXPECT_EQ(base_encoding::encoded_size(c.base, c.bytes), c.size) << "base " << c.base << ", " << c.bytes << " bytes";
}

// Base 58 reads the bytes as one number: leading zero bytes become "1"s,
// and a long input carries across many digits.
TEST(BaseEncoding, Base58OfLongAndZeroLedInput) {
  EXPECT_EQ(base_encoding::encode(58, std::string_view("\0\0", 2)), "11");
  EXPECT_EQ(base_encoding::encode(58, std::string(32, '\xFF')), "JEKNVnkbo3jma5nREBBJCDoXFVeKkD56V3xKrvRmWxFG");
}

}  // namespace
}  // namespace kiv
