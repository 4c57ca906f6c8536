// The runtime's LZ block format: hand-built blocks for the decoder's
// rules, and encoder round trips checked by the decoder.
#include "runtime/core/lz.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace kiv {
namespace {

// Builds a block bit by bit, least significant bit first.
class BlockBuilder {
 public:
  BlockBuilder() : bytes_(8) {}

  BlockBuilder& chunk(uint32_t length) {
    flush();
    for (int i = 0; i < 4; ++i) bytes_.push_back(uint8_t(length >> (8 * i)));
    return *this;
  }
  BlockBuilder& bits(uint32_t v, int n) {
    for (int i = 0; i < n; ++i) {
      if (count_ == 0) bytes_.push_back(0);
      bytes_.back() |= uint8_t(((v >> i) & 1) << count_);
      count_ = (count_ + 1) % 8;
    }
    return *this;
  }
  BlockBuilder& literal(uint8_t byte) { return bits(0, 1).bits(byte, 8); }
  // A copy with a short length field (n < 4) and a short distance (b < 8).
  BlockBuilder& copy(uint32_t length, uint32_t distance) {
    return bits(1, 1).bits(1, 1).bits(length - 3, 2).bits(0, 4).bits(distance - 1, 3);
  }
  std::vector<uint8_t> finish(uint32_t uncompressed) {
    flush();
    put32(0, uint32_t(bytes_.size() - 8));
    put32(4, uncompressed);
    return bytes_;
  }

 private:
  void flush() { count_ = 0; }
  void put32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_[at + i] = uint8_t(v >> (8 * i));
  }
  std::vector<uint8_t> bytes_;
  int count_ = 0;
};

TEST(Lz, EmptyPayloadDecodesToNothing) {
  const std::vector<uint8_t> block = {0, 0, 0, 0, 0, 0, 0, 0};
  const auto out = lz::decompress(block);
  ASSERT_TRUE(out);
  EXPECT_TRUE(out->empty());
}

TEST(Lz, OverlappingCopyRepeatsTheLastBytes) {
  // One literal, then 10 bytes from 1 back: n = 7 is "0 1" and 2 bits 3.
  auto block = BlockBuilder()
                   .chunk(11)
                   .literal('z')
                   .bits(1, 1).bits(0b10, 2).bits(3, 2)  // n = 4 + 3: a copy of 10
                   .bits(0, 4).bits(0, 3)                // distance 1
                   .finish(11);
  auto out = lz::decompress(block);
  ASSERT_TRUE(out);
  EXPECT_EQ(std::string(out->begin(), out->end()), std::string(11, 'z'));

  // Two chunks: the second starts on the byte after the first's last bits.
  block = BlockBuilder().chunk(2).literal('a').literal('b').chunk(5)
              .literal('c').literal('d').copy(3, 2).finish(7);
  out = lz::decompress(block);
  ASSERT_TRUE(out);
  EXPECT_EQ(std::string(out->begin(), out->end()), "abcdcdc");
}

TEST(Lz, MalformedBlocksAreRefused) {
  const std::vector<std::pair<const char*, std::vector<uint8_t>>> cases = {
      {"copy reaches before its own chunk",
       BlockBuilder().chunk(1).literal('a').chunk(4).literal('b').copy(3, 2).finish(5)},
      {"copy runs past the chunk's length",
       BlockBuilder().chunk(3).literal('a').copy(3, 1).finish(3)},
      {"more output than the stated size",
       BlockBuilder().chunk(2).literal('a').literal('b').finish(1)},
      {"chunk length 0", BlockBuilder().chunk(0).finish(0)},
      {"chunk length above 1 MiB", BlockBuilder().chunk(0x100001).finish(0x100001)},
      {"bit stream ends early", BlockBuilder().chunk(3).literal('a').finish(3)},
      {"header only half there", {4, 0, 0, 0}},
      {"payload size beyond the input", {9, 0, 0, 0, 1, 0, 0, 0, 1}},
      {"chunk length cut short", {2, 0, 0, 0, 1, 0, 0, 0, 1, 0}},
  };
  for (const auto& [name, block] : cases) EXPECT_FALSE(lz::decompress(block)) << name;
}

TEST(Lz, AFullMegabyteChunkIsAccepted) {
  // 1 MiB of one byte: a literal, then copies of 566 from 1 back.
  BlockBuilder builder;
  builder.chunk(0x100000).literal(7);
  uint32_t left = 0x100000 - 1;
  while (left > 0) {
    const uint32_t n = std::min<uint32_t>(566, left);
    if (n >= 55) {
      builder.bits(1, 1).bits(0, 5).bits(n - 55, 9).bits(0, 4).bits(0, 3);
    } else {
      for (uint32_t i = 0; i < n; ++i) builder.literal(7);
    }
    left -= n;
  }
  const auto out = lz::decompress(builder.finish(0x100000));
  ASSERT_TRUE(out);
  EXPECT_EQ(out->size(), 0x100000u);
  EXPECT_EQ(std::count(out->begin(), out->end(), 7), 0x100000);
}

TEST(Lz, CompressRoundTrips) {
  std::mt19937 random(12345);
  std::vector<std::vector<uint8_t>> inputs;
  std::string text;
  while (text.size() < 50000) text += "the quick brown fox " + std::to_string(random() % 1000) + "\n";
  inputs.emplace_back(text.begin(), text.end());
  inputs.emplace_back(3 * 0x100000 / 2, 0xAB);  // two chunks, long runs
  std::vector<uint8_t> mixed(300000);
  // Repeats far back (beyond 65,536 and within 262,144), with noise.
  for (size_t i = 0; i < mixed.size(); ++i)
    mixed[i] = i >= 100000 && random() % 8 ? mixed[i - 100000 + (i % 3)] : uint8_t(random());
  inputs.push_back(mixed);
  for (const auto& input : inputs) {
    const auto block = lz::compress(input);
    ASSERT_TRUE(block);
    EXPECT_LT(block->size(), input.size());
    const auto back = lz::decompress(*block);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, input);
  }
}

TEST(Lz, CompressDeclinesSmallOrIncompressibleInput) {
  EXPECT_FALSE(lz::compress(std::vector<uint8_t>(127, 'a')));
  EXPECT_TRUE(lz::compress(std::vector<uint8_t>(128, 'a')));
  std::mt19937 random(7);
  std::vector<uint8_t> noise(4096);
  for (auto& byte : noise) byte = uint8_t(random());
  EXPECT_FALSE(lz::compress(noise));
}

}  // namespace
}  // namespace kiv
