// pair!: two 32-bit signed integers x and y, for sizes, offsets and
// positions.
//
// Cell layout: header 37; w2 x, w3 y (two's complement); w1 carries
// nothing (0).
//
// Arithmetic works component by component with integer! rules, with one
// difference: where an integer result would become a float! (a sum,
// difference or product beyond 32 bits, an inexact quotient) or a
// fractional factor is used, the whole operation is redone on point2D!
// values and answers a point2D!.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"

namespace kiv::pair {

inline Cell make(int32_t x, int32_t y) {
  return Cell{cell::header(TypeId::pair), 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
}
inline Val push(int32_t x, int32_t y) { return stack::push(make(x, y)); }
inline int32_t x_of(const Cell& value) { return static_cast<int32_t>(value.w2); }
inline int32_t y_of(const Cell& value) { return static_cast<int32_t>(value.w3); }
// Makes `target` a pair!, keeping its header flags.
inline void make_at(Cell& target, int32_t x, int32_t y) {
  const uint32_t flags = target.header & ~cell::type_mask;
  target = make(x, y);
  target.header |= flags;
}

// The arithmetic behind add ... xor~ with a pair! `left`: result into
// `left` (a pair!, or a point2D! as said above).
void do_math(Val left, Val right, MathOp op);

// A number (integer!, float!) on the left of a pair or point: `number op
// composite` computed as `composite op number` (a difference as the negated
// composite plus the number). Raises script/not-related where the order
// matters (division). The result replaces `left`.
void swapped_math(Val left, Val right, MathOp op);

void register_types();

}  // namespace kiv::pair
