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

std::optional<std::string> decode(int32_t base, std::u32string_view text) { return base_encoding::decode(base, text); }

TEST(BaseEncoding, DecodesWhatItEncodes) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  for (const int32_t base : {2, 16, 58, 64}) {
    for (const std::string& input : {std::string(), std::string(1, '\0'), std::string("\0\0abc", 5), bytes}) {
      const std::string text = base_encoding::encode(base, input);
      EXPECT_EQ(decode(base, std::u32string(text.begin(), text.end())), input) << "base " << base << ": " << text;
    }
  }
}

// Each row: base, text, and the bytes, or nothing for invalid text.
TEST(BaseEncoding, DecodingSkipsSpacesAndComments) {
  struct Case {
    int32_t base;
    std::u32string_view text;
    std::optional<std::string> bytes;
  };
  const Case cases[] = {
      {16, U"AB", "\xAB"},
      {16, U" a b\n;comment\ncd", "\xAB\xCD"},
      {16, U"ABC", "\xAB"},  // an odd last digit is dropped
      {16, U"AG", std::nullopt},
      {16, U"\u00C1B", std::nullopt},  // Á is no hexadecimal digit
      {2, U"0100 0001 ; A", "A"},
      {2, U"0100001", std::nullopt},  // seven digits
      {2, U"01000012", std::nullopt},
      {64, U"YW\tJ j", "abc"},
      {64, U"YWI=", "ab"},
      {64, U"YQ==", "a"},
      {64, U"YQ=trailing text is not read", "a"},
      {64, U"YWJjZA", "abc"},  // an incomplete group without padding
      {64, U"Y===", std::nullopt},
      {64, U"YWJj=", std::nullopt},  // padding after no digit of a group
      {64, U"YW*j", std::nullopt},
      {64, U"YWJj\u00E9", std::nullopt},
      {58, U"Cn8eVZg", "hello"},
      {58, U"1 1 2", std::string("\0\0\x01", 3)},
      {58, U"Cn8eVZg\u00E9 0", "hello"},  // a code point above 127 ends the text
      {58, U"Cn0", std::nullopt},  // 0 is no digit
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decode(c.base, c.text), c.bytes) << "base " << c.base << " case " << (&c - cases);
  }
}

}  // namespace
}  // namespace kiv
