// The INFLATE decoder.
//
// Bit reader: a 64-bit buffer refilled 8 bytes at a time while 8 input
// bytes remain (the bits above the count then hold the start of the next
// byte, which the next refill ORs in again unchanged), byte by byte near the
// end. Taking more bits than the input holds fails the stream.
//
// Code tables: canonical Huffman codes built from code lengths after a check
// that they form a prefix code. Codes of up to 10 bits decode through one
// lookup in a 1,024-entry table indexed by the next 10 input bits; longer
// codes walk the canonical counts bit by bit.
//
// Output: a window of the caller's buffer or a growing vector. Past the end
// of a fixed buffer, bytes are counted but not stored, so a decode into
// nothing measures; a copy never reads a byte that was not stored, since
// once the capacity is passed nothing is stored or read again.
#include "runtime/io/inflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "runtime/io/deflate_tables.h"

namespace kiv::compress {
namespace {

static_assert(std::endian::native == std::endian::little, "the bit reader loads input words little-endian");

constexpr uint32_t max_code_bits = 15;
constexpr uint32_t fast_bits = 10;
constexpr uint32_t literal_symbols = 288;
constexpr uint32_t distance_symbols = 32;
constexpr uint32_t code_length_symbols = 19;

using tables::distance_base;
using tables::distance_extra;
using tables::length_base;
using tables::length_extra;
constexpr std::array<uint8_t, code_length_symbols> code_length_order = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                                        11, 4,  12, 3, 13, 2, 14, 1, 15};

// Which incomplete codes a table accepts. A literal/length or distance
// code may have a single code of one bit (a stream with one distance); the
// code-length code must be complete.
enum class CodeKind { code_lengths, data };

struct Huffman {
  // (symbol << 4) | code length, for codes of up to fast_bits bits, at
  // every index whose low bits are the code in input order; 0 elsewhere.
  std::array<uint16_t, 1u << fast_bits> fast{};
  std::array<uint16_t, max_code_bits + 1> count{};
  std::array<uint16_t, literal_symbols> symbols{};  // in canonical order
};

// Builds `table` from the code lengths; false when they form no prefix
// code this decoder accepts.
bool build(Huffman& table, const uint8_t* lengths, uint32_t n, CodeKind kind) {
  table.count.fill(0);
  table.fast.fill(0);
  for (uint32_t s = 0; s < n; ++s) ++table.count[lengths[s]];
  table.count[0] = 0;
  int32_t left = 1;
  uint32_t codes = 0;
  for (uint32_t len = 1; len <= max_code_bits; ++len) {
    left = 2 * left - table.count[len];
    if (left < 0) return false;  // over-subscribed
    codes += table.count[len];
  }
  if (left > 0) {
    const bool lone_code = codes == 1 && table.count[1] == 1;
    if (!(codes == 0 || (lone_code && kind == CodeKind::data))) return false;  // incomplete
  }

  std::array<uint16_t, max_code_bits + 2> offset{};
  for (uint32_t len = 1; len <= max_code_bits; ++len) offset[len + 1] = offset[len] + table.count[len];
  std::array<uint32_t, max_code_bits + 1> next_code{};
  uint32_t code = 0;
  for (uint32_t len = 1; len <= max_code_bits; ++len) {
    code = (code + table.count[len - 1]) << 1;
    next_code[len] = code;
  }
  for (uint32_t s = 0; s < n; ++s) {
    const uint32_t len = lengths[s];
    if (len == 0) continue;
    table.symbols[offset[len]++] = static_cast<uint16_t>(s);
    const uint32_t canonical = next_code[len]++;
    if (len > fast_bits) continue;
    uint32_t reversed = 0;
    for (uint32_t i = 0; i < len; ++i) reversed |= ((canonical >> i) & 1u) << (len - 1 - i);
    for (uint32_t at = reversed; at < table.fast.size(); at += 1u << len)
      table.fast[at] = static_cast<uint16_t>((s << 4) | len);
  }
  return true;
}

struct FixedTables {
  Huffman literals;
  Huffman distances;
  FixedTables() {
    std::array<uint8_t, literal_symbols> lengths{};
    for (uint32_t s = 0; s < literal_symbols; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    build(literals, lengths.data(), literal_symbols, CodeKind::data);
    std::array<uint8_t, distance_symbols> distance_lengths{};
    distance_lengths.fill(5);
    build(distances, distance_lengths.data(), distance_symbols, CodeKind::data);
  }
};

const FixedTables& fixed_tables() {
  static const FixedTables tables;
  return tables;
}

// A failed step: the result to report.
struct Failure {
  Result result;
};

class Decoder {
 public:
  Decoder(std::span<const uint8_t> input, uint8_t* out, uint64_t capacity, uint64_t start,
          ByteBuffer* sink, uint64_t limit)
      : in_(input.data()), end_(input.data() + input.size()), begin_(input.data()), out_(out),
        capacity_(capacity), position_(start), start_(start), sink_(sink), limit_(limit) {}

  Result run() {
    try {
      bool final = false;
      while (!final) {
        final = take(1) == 1;
        switch (take(2)) {
          case 0: stored(); break;
          case 1: codes(fixed_tables().literals, fixed_tables().distances); break;
          case 2: dynamic(); break;
          default: return Result::reserved_block;
        }
      }
    } catch (const Failure& failure) {
      return failure.result;
    }
    return position_ <= capacity_ ? Result::done : Result::too_small;
  }

  uint64_t position() const { return position_; }
  uint64_t capacity() const { return capacity_; }
  // Input bytes taken, the partly read last byte included.
  size_t consumed() const { return static_cast<size_t>(in_ - begin_) - bit_count_ / 8; }

 private:
  [[noreturn]] static void fail(Result result) { throw Failure{result}; }

  void refill() {
    if (end_ - in_ >= 8) {
      uint64_t word = 0;
      std::memcpy(&word, in_, 8);
      bits_ |= word << bit_count_;
      in_ += (63 - bit_count_) >> 3;
      bit_count_ |= 56;
      return;
    }
    while (bit_count_ <= 56 && in_ < end_) {
      bits_ |= uint64_t{*in_++} << bit_count_;
      bit_count_ += 8;
    }
  }

  void drop(uint32_t n) {
    bits_ >>= n;
    bit_count_ -= n;
  }

  // The next n bits (n at most 32); the input ending first fails.
  uint32_t take(uint32_t n) {
    if (bit_count_ < n) {
      refill();
      if (bit_count_ < n) fail(Result::invalid);
    }
    const uint32_t value = static_cast<uint32_t>(bits_ & ((uint64_t{1} << n) - 1));
    drop(n);
    return value;
  }

  // The next symbol of `table`; the caller has refilled when it could.
  uint32_t decode(const Huffman& table) {
    if (bit_count_ < max_code_bits) refill();
    const uint16_t entry = table.fast[bits_ & ((1u << fast_bits) - 1)];
    if (entry != 0) {
      const uint32_t len = entry & 15u;
      if (len > bit_count_) fail(Result::invalid);
      drop(len);
      return entry >> 4;
    }
    // Longer than fast_bits, or no code at all: walk the canonical code.
    int32_t code = 0, first = 0, index = 0;
    for (uint32_t len = 1; len <= max_code_bits; ++len) {
      code |= static_cast<int32_t>((bits_ >> (len - 1)) & 1u);
      const int32_t count = table.count[len];
      if (code - count < first) {
        if (len > bit_count_) fail(Result::invalid);
        drop(len);
        return table.symbols[static_cast<uint32_t>(index + (code - first))];
      }
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    fail(bit_count_ < max_code_bits ? Result::invalid : Result::bad_code);
  }

  void stored() {
    drop(bit_count_ & 7);
    in_ -= bit_count_ / 8;  // give back the whole bytes still buffered
    bits_ = 0;
    bit_count_ = 0;
    if (end_ - in_ < 4) fail(Result::invalid);
    const uint32_t len = uint32_t{in_[0]} | (uint32_t{in_[1]} << 8);
    const uint32_t nlen = uint32_t{in_[2]} | (uint32_t{in_[3]} << 8);
    in_ += 4;
    if ((len ^ 0xFFFFu) != nlen) fail(Result::bad_code);
    if (static_cast<size_t>(end_ - in_) < len) fail(Result::stored_overrun);
    reserve(len);
    if (len == 0) return;
    if (position_ + len <= capacity_) {
      std::memcpy(out_ + position_, in_, len);
      position_ += len;
    } else {
      for (uint32_t i = 0; i < len; ++i) put(in_[i]);
    }
    in_ += len;
  }

  void dynamic() {
    const uint32_t literal_count = take(5) + 257;
    const uint32_t distance_count = take(5) + 1;
    const uint32_t length_count = take(4) + 4;
    if (literal_count > 286 || distance_count > 30) fail(Result::bad_code);

    std::array<uint8_t, code_length_symbols> length_lengths{};
    for (uint32_t i = 0; i < length_count; ++i) length_lengths[code_length_order[i]] = static_cast<uint8_t>(take(3));
    Huffman& length_code = scratch_[0];
    if (!build(length_code, length_lengths.data(), code_length_symbols, CodeKind::code_lengths)) fail(Result::bad_code);

    std::array<uint8_t, 320> lengths{};
    const uint32_t total = literal_count + distance_count;
    for (uint32_t i = 0; i < total;) {
      const uint32_t symbol = decode(length_code);
      if (symbol < 16) {
        lengths[i++] = static_cast<uint8_t>(symbol);
        continue;
      }
      uint8_t value = 0;
      uint32_t repeat = 0;
      if (symbol == 16) {
        if (i == 0) fail(Result::bad_code);
        value = lengths[i - 1];
        repeat = 3 + take(2);
      } else if (symbol == 17) {
        repeat = 3 + take(3);
      } else {
        repeat = 11 + take(7);
      }
      if (repeat > total - i) fail(Result::bad_code);
      std::fill_n(lengths.begin() + i, repeat, value);
      i += repeat;
    }
    if (lengths[256] == 0) fail(Result::bad_code);  // no end-of-block code

    Huffman& literals = scratch_[0];
    Huffman& distances = scratch_[1];
    if (!build(literals, lengths.data(), literal_count, CodeKind::data)) fail(Result::bad_code);
    if (!build(distances, lengths.data() + literal_count, distance_count, CodeKind::data)) fail(Result::bad_code);
    codes(literals, distances);
  }

  void codes(const Huffman& literals, const Huffman& distances) {
    for (;;) {
      refill();
      const uint32_t symbol = decode(literals);
      if (symbol < 256) {
        if (position_ < capacity_) [[likely]]
          out_[position_++] = static_cast<uint8_t>(symbol);
        else
          put(static_cast<uint8_t>(symbol));
        continue;
      }
      if (symbol == 256) return;
      const uint32_t index = symbol - 257;
      if (index >= length_base.size()) fail(Result::bad_code);
      const uint32_t length = length_base[index] + take(length_extra[index]);
      const uint32_t distance_symbol = decode(distances);
      if (distance_symbol >= distance_base.size()) fail(Result::bad_code);
      const uint32_t distance = distance_base[distance_symbol] + take(distance_extra[distance_symbol]);
      if (distance > position_ - start_) fail(Result::bad_distance);
      copy(length, distance);
    }
  }

  void copy(uint32_t length, uint32_t distance) {
    if (position_ + length + 8 > capacity_) reserve(length + 8);
    if (position_ + length + 8 <= capacity_) {
      uint8_t* to = out_ + position_;
      const uint8_t* from = to - distance;
      if (distance >= 8) {
        // Each 8-byte piece reads only bytes already written.
        for (uint32_t done = 0; done < length; done += 8) std::memcpy(to + done, from + done, 8);
      } else if (distance == 1) {
        std::memset(to, *from, length);
      } else {
        for (uint32_t i = 0; i < length; ++i) to[i] = from[i];
      }
      position_ += length;
      return;
    }
    // A fixed buffer that ends within the copy.
    if (position_ + length > limit_) fail(Result::too_large);
    for (uint32_t i = 0; i < length; ++i) {
      if (position_ < capacity_) out_[position_] = out_[position_ - distance];
      ++position_;
    }
  }

  // One byte past the room at hand.
  void put(uint8_t byte) {
    if (position_ >= capacity_) reserve(1);
    if (position_ < capacity_) out_[position_] = byte;
    else if (position_ + 1 > limit_) fail(Result::too_large);
    ++position_;
  }

  // Grows a vector output to hold `n` more bytes when the limit allows;
  // a fixed buffer stays as it is.
  void reserve(uint64_t n) {
    if (sink_ == nullptr || position_ + n <= capacity_) return;
    if (position_ + n > limit_ + 8) {
      if (position_ + 1 > limit_) fail(Result::too_large);
      n = limit_ + 8 - position_;
    }
    const uint64_t wanted = std::max<uint64_t>({position_ + n, capacity_ * 2, 65536});
    const uint64_t size = std::min<uint64_t>(wanted, limit_ + 8);
    if (!sink_->resize(static_cast<size_t>(size))) fail(Result::too_large);
    out_ = sink_->data();
    capacity_ = sink_->size();
  }

  const uint8_t* in_;
  const uint8_t* end_;
  const uint8_t* begin_;
  uint64_t bits_ = 0;
  uint32_t bit_count_ = 0;
  uint8_t* out_;
  uint64_t capacity_;
  uint64_t position_;
  uint64_t start_;
  ByteBuffer* sink_;
  uint64_t limit_;
  std::array<Huffman, 2> scratch_;
};

}  // namespace

Result inflate(uint8_t* out, uint64_t& length, std::span<const uint8_t> input, size_t* consumed) {
  Decoder decoder(input, out, length, 0, nullptr, max_output);
  const Result result = decoder.run();
  length = decoder.position();
  if (consumed != nullptr) *consumed = decoder.consumed();
  if (result == Result::done && length > max_output) return Result::too_large;
  return result;
}

Inflated inflate_append(ByteBuffer& out, std::span<const uint8_t> input, uint64_t size_hint,
                        uint64_t limit) {
  const uint64_t start = out.size();
  if (start > limit) return {Result::too_large, 0};
  // Without a size from the caller, room for a typical ratio: pages that
  // are never written cost nothing.
  const uint64_t guess = std::max<uint64_t>(size_hint, uint64_t{input.size()} * 4 + 1024);
  const uint64_t room = std::min<uint64_t>(guess, limit - start);
  if (!out.resize(static_cast<size_t>(start + room))) return {Result::too_large, 0};
  Decoder decoder(input, out.data(), out.size(), start, &out, limit);
  Result result = decoder.run();
  // Never grows: the position is within what was stored.
  (void)out.resize(static_cast<size_t>(std::min(decoder.position(), decoder.capacity())));
  if (result == Result::too_small || (result == Result::done && decoder.position() > limit)) result = Result::too_large;
  return {result, decoder.consumed()};
}

}  // namespace kiv::compress
