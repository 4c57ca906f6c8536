// The checksum module on inputs that Kiv code cannot make: a megabyte of
// 0xFF bytes, the worst case for every accumulator, and empty ranges with
// no address. Expected values from Python 3's zlib and hmac modules (the
// TCP sum with Python's unbounded integers, folded to 16 bits).
#include "runtime/checksum.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv {
namespace {

std::string hex(checksum::Bytes bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  for (const uint8_t byte : bytes) {
    out += digits[byte >> 4];
    out += digits[byte & 15];
  }
  return out;
}

TEST(Checksum, AccumulatorsHoldAMegabyteOfFFBytes) {
  const std::vector<uint8_t> ones(1 << 20, 0xFF);
  EXPECT_EQ(checksum::adler32(ones), 2391338769u);
  EXPECT_EQ(checksum::crc32(ones), 2506861684u);
  EXPECT_EQ(checksum::tcp(ones), 0u);
  // Odd length: the last byte is added as it is.
  EXPECT_EQ(checksum::tcp(checksum::Bytes(ones).first(ones.size() - 1)), 65280u);
}

TEST(Checksum, EmptyRangesWithoutAnAddress) {
  const checksum::Bytes none;
  const auto md5 = checksum::digest(checksum::Algorithm::md5, none);
  ASSERT_TRUE(md5);
  EXPECT_EQ(hex(md5->view()), "d41d8cd98f00b204e9800998ecf8427e");
  const auto mac = checksum::hmac(checksum::Algorithm::sha1, none, none);
  ASSERT_TRUE(mac);
  EXPECT_EQ(hex(mac->view()), "fbdb1d1b18aa6c08324b7d64b71fb76370690e1d");
}

}  // namespace
}  // namespace kiv
