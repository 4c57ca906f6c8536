// tuple!: a sequence of 3 to 12 bytes written with dots: versions
// (1.2.3), IP addresses (192.168.0.1) and colours (255.0.0, with a fourth
// byte for transparency).
//
// Cell layout: header 39 with the byte count (3-12) in bits 19-22; the
// bytes in w1-w3, the first in the lowest-addressed byte of w1. Bytes past
// the count are 0: every writer clears them, so readers may take all 12.
//
// Arithmetic works byte by byte and clamps every result to 0-255; a
// missing byte of the shorter operand counts as 0, in arithmetic and in
// comparison alike (1.2.3 equals 1.2.3.0).
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/datatypes/actions.h"

namespace kiv::tuple {

inline constexpr uint32_t count_shift = 19;
inline constexpr uint32_t count_mask = 0xF;
inline constexpr int max_count = 12;
inline constexpr int min_count = 3;

using Bytes = std::array<uint8_t, 12>;

inline int count_of(const Cell& value) { return static_cast<int>((value.header >> count_shift) & count_mask); }
inline Bytes bytes_of(const Cell& value) {
  Bytes bytes{};
  std::memcpy(bytes.data(), &value.w1, 12);
  return bytes;
}
// A tuple! of the first `count` bytes (3-12; the rest are cleared).
Cell make(const Bytes& bytes, int count);

// True when every byte is 0.
bool is_zero(const Cell& value);

// `number op tuple` with a number on the left: subtract and divide raise
// script/not-related, the others are `tuple op number`. Result into
// `left`.
void swapped_math(Val left, Val right, MathOp op);

// max and min of a tuple and a scalar (clamped to 0-255, for every byte)
// or a tuple of the same length (byte by byte); nothing for other values.
std::optional<Cell> max_min(const Cell& tuple, const Cell& other, bool max);

void register_types();

}  // namespace kiv::tuple
