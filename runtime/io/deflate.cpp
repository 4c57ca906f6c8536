// The fixed-Huffman DEFLATE writer.
//
// Hash table: 1,024 buckets x 4 slots holding input offsets plus one, so
// that 0 means an empty slot and offset 0 stays a valid candidate. A step at
// position p hashes the three bytes there, looks for the first slot whose
// position lies less than 32,768 bytes back and starts with the same three
// bytes, writes a match or a literal, and then files the step's start in
// its bucket. The slot it replaces is chosen from the three bytes at the
// position after the step, so the replacement order follows the data.
// Bytes past the end of the input read as 0 in both hashes: near the end no
// further match is searched, so their value does not change the stream.
//
// Bit writer: a 64-bit accumulator, least significant bit first, emptied 4
// bytes at a time. Bytes past the capacity are counted but not stored.
#include "runtime/io/deflate.h"

#include <array>
#include <algorithm>
#include <bit>
#include <cstring>

#include "runtime/io/deflate_tables.h"

namespace kiv::compress {
namespace {

static_assert(std::endian::native == std::endian::little, "the bit writer stores its accumulator little-endian");

constexpr uint32_t bucket_count = 1024;
constexpr uint32_t slots_per_bucket = 4;
constexpr uint32_t window = 32768;
constexpr uint32_t min_match = 3;
constexpr uint32_t max_match = 258;

// A code ready to write: `bits` already in the order they go out.
struct Code {
  uint32_t bits;
  uint32_t count;
};

constexpr uint32_t reverse_bits(uint32_t code, uint32_t count) {
  uint32_t reversed = 0;
  for (uint32_t i = 0; i < count; ++i) reversed |= ((code >> i) & 1u) << (count - 1 - i);
  return reversed;
}

// The fixed literal/length code of a symbol 0-287, reversed for writing.
constexpr Code fixed_literal(uint32_t symbol) {
  if (symbol < 144) return {reverse_bits(0x30 + symbol, 8), 8};
  if (symbol < 256) return {reverse_bits(0x190 + symbol - 144, 9), 9};
  if (symbol < 280) return {reverse_bits(symbol - 256, 7), 7};
  return {reverse_bits(0xC0 + symbol - 280, 8), 8};
}

using tables::distance_base;
using tables::distance_extra;
using tables::length_base;
using tables::length_extra;

// Each match length 3-258 as one code: its length symbol's bits followed
// by its extra bits (at most 8 + 5).
constexpr std::array<Code, max_match + 1> length_codes = [] {
  std::array<Code, max_match + 1> table{};
  for (uint32_t index = 0; index < length_base.size(); ++index) {
    const uint32_t first = length_base[index];
    const uint32_t last = index + 1 < length_base.size() ? uint32_t{length_base[index + 1]} - 1 : max_match;
    // 258 has a code of its own (285); 227 + 31 under code 284 is never used.
    for (uint32_t length = first; length <= last && length <= max_match; ++length) {
      if (table[length].count != 0) continue;
      const Code symbol = fixed_literal(257 + index);
      table[length] = {symbol.bits | ((length - first) << symbol.count), symbol.count + length_extra[index]};
    }
  }
  return table;
}();

// The distance code index of distances 1-256 by distance - 1, and of
// 257-32,768 by 256 + ((distance - 1) >> 7).
constexpr std::array<uint8_t, 512> distance_index = [] {
  std::array<uint8_t, 512> table{};
  for (uint32_t index = 0; index < distance_base.size(); ++index) {
    const uint32_t first = distance_base[index];
    const uint32_t last = first + (1u << distance_extra[index]) - 1;
    for (uint32_t distance = first; distance <= last; ++distance) {
      if (distance <= 256) table[distance - 1] = static_cast<uint8_t>(index);
      else table[256 + ((distance - 1) >> 7)] = static_cast<uint8_t>(index);
    }
  }
  return table;
}();

constexpr std::array<uint8_t, 30> distance_symbol_bits = [] {
  std::array<uint8_t, 30> table{};
  for (uint32_t index = 0; index < table.size(); ++index) table[index] = static_cast<uint8_t>(reverse_bits(index, 5));
  return table;
}();

// A distance as one code: 5-bit code then extra bits.
Code distance_code(uint32_t distance) {
  const uint32_t index = distance <= 256 ? distance_index[distance - 1] : distance_index[256 + ((distance - 1) >> 7)];
  return {distance_symbol_bits[index] | ((distance - distance_base[index]) << 5), 5u + distance_extra[index]};
}

constexpr std::array<Code, 256> literal_codes = [] {
  std::array<Code, 256> table{};
  for (uint32_t symbol = 0; symbol < 256; ++symbol) table[symbol] = fixed_literal(symbol);
  return table;
}();

class BitWriter {
 public:
  BitWriter(uint8_t* out, uint64_t capacity) : out_(out), capacity_(capacity) {}

  // At most 32 bits at a time.
  void put(uint32_t bits, uint32_t count) {
    accumulator_ |= uint64_t{bits} << count_;
    count_ += count;
    if (count_ >= 32) {
      store(4);
      accumulator_ >>= 32;
      count_ -= 32;
    }
  }

  // Pads the last byte with 0 bits and stores what is left; the length of
  // the whole stream.
  uint64_t finish() {
    const uint32_t bytes = (count_ + 7) / 8;
    store(bytes);
    accumulator_ = 0;
    count_ = 0;
    return position_;
  }

 private:
  void store(uint32_t bytes) {
    if (position_ + bytes <= capacity_) {
      std::memcpy(out_ + position_, &accumulator_, bytes);
    } else {
      for (uint32_t i = 0; i < bytes; ++i)
        if (position_ + i < capacity_) out_[position_ + i] = static_cast<uint8_t>(accumulator_ >> (8 * i));
    }
    position_ += bytes;
  }

  uint8_t* out_;
  uint64_t capacity_;
  uint64_t position_ = 0;
  uint64_t accumulator_ = 0;
  uint32_t count_ = 0;
};

uint32_t three_bytes_at(const uint8_t* at) { return (uint32_t{at[0]} << 16) | (uint32_t{at[1]} << 8) | at[2]; }

// The three bytes from `at` as one number, bytes past the end read as 0.
uint32_t three_bytes(const uint8_t* data, size_t size, size_t at) {
  if (size >= 3 && at <= size - 3) return three_bytes_at(data + at);
  uint32_t x = 0;
  for (size_t i = 0; i < 3; ++i) x = (x << 8) | (at + i < size ? data[at + i] : 0u);
  return x;
}

uint32_t bucket_of(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x & (bucket_count - 1);
}

uint32_t slot_of(uint32_t x) { return ((x >> 14) - x) & (slots_per_bucket - 1); }

// How far the bytes at `a` and `b` agree, from `start` up to `limit`.
uint32_t match_length(const uint8_t* a, const uint8_t* b, uint32_t start, uint32_t limit) {
  uint32_t length = start;
  while (length + 8 <= limit) {
    uint64_t x = 0, y = 0;
    std::memcpy(&x, a + length, 8);
    std::memcpy(&y, b + length, 8);
    if (x != y) return length + static_cast<uint32_t>(std::countr_zero(x ^ y) / 8);
    length += 8;
  }
  while (length < limit && a[length] == b[length]) ++length;
  return length;
}

}  // namespace

Result deflate(uint8_t* out, uint64_t& length, std::span<const uint8_t> input) {
  const uint8_t* data = input.data();
  const size_t size = input.size();
  if (size >= 0xFFFFFFFFu) return Result::invalid;

  const uint64_t capacity = length;
  std::array<uint32_t, bucket_count * slots_per_bucket> table{};
  BitWriter writer(out, capacity);
  writer.put(1 | (1 << 1), 3);  // BFINAL 1, BTYPE 01

  size_t p = 0;
  uint32_t x = three_bytes(data, size, 0);
  while (p < size) {
    const size_t start = p;
    uint32_t* bucket = &table[bucket_of(x) * slots_per_bucket];
    bool matched = false;
    if (p >= min_match && size - p >= min_match) {
      for (uint32_t slot = 0; slot < slots_per_bucket; ++slot) {
        const uint32_t entry = bucket[slot];
        if (entry == 0) continue;
        const size_t candidate = entry - 1;
        if (candidate >= p || p - candidate >= window) continue;
        if (three_bytes_at(data + candidate) != x) continue;  // candidate + 3 <= p
        const uint32_t limit = static_cast<uint32_t>(std::min<size_t>(max_match, size - p));
        const uint32_t found = match_length(data + candidate, data + p, min_match, limit);
        const Code code = length_codes[found];
        writer.put(code.bits, code.count);
        const Code distance = distance_code(static_cast<uint32_t>(p - candidate));
        writer.put(distance.bits, distance.count);
        p += found;
        matched = true;
        break;
      }
    }
    if (!matched) {
      const Code code = literal_codes[data[p]];
      writer.put(code.bits, code.count);
      ++p;
    }
    x = three_bytes(data, size, p);
    bucket[slot_of(x)] = static_cast<uint32_t>(start + 1);
  }

  writer.put(0, 7);  // end of block
  length = writer.finish();
  return length <= capacity ? Result::done : Result::too_small;
}

}  // namespace kiv::compress
