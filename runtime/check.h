// Argument type checks against typesets.
//
// A typeset's bitmap is in words 1-3 of its cell, 12 bytes in memory order,
// most significant bit first: type t is bit 0x80 >> (t % 8) of byte t / 8.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"

namespace kiv {

namespace typeset {
inline uint32_t& bitmap_word(Cell& set, uint32_t index) { return index == 0 ? set.w1 : index == 1 ? set.w2 : set.w3; }
inline uint32_t bitmap_word(const Cell& set, uint32_t index) {
  return index == 0 ? set.w1 : index == 1 ? set.w2 : set.w3;
}
// The bit of type `t` within its payload word.
inline uint32_t type_bit(uint32_t t) { return (0x80u >> (t % 8)) << (8 * ((t / 8) % 4)); }

inline bool has(const Cell& set, TypeId type) {
  const auto t = static_cast<uint32_t>(type);
  return (bitmap_word(set, t / 32) & type_bit(t)) != 0;
}
// Adds `type` to the set.
inline void add(Cell& set, TypeId type) {
  const auto t = static_cast<uint32_t>(type);
  bitmap_word(set, t / 32) |= type_bit(t);
}
}  // namespace typeset

namespace check {

// Raises script/expect-arg for `value` given as parameter `arg_index` of
// the function being called: its name and the parameter's word come from
// the call stack (stack::caller_arg_word; refinements count, so round's
// /to scale is 2).
[[noreturn]] void raise_expect_arg(const Cell& value, uint32_t arg_index);

// Raises script/expect-arg unless `value`'s type is in `set`.
void arg_type(const Cell& set, const Cell& value, uint32_t arg_index);

// Raises script/expect-arg for an unset! argument.
void not_unset(const Cell& value, uint32_t arg_index);

}  // namespace check
}  // namespace kiv
