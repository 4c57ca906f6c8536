// point2D! and point3D!: two or three 32-bit float coordinates, the
// floating-point counterparts of pair!.
//
// Cell layout: header 51 (point2D!) or 52 (point3D!); w1 x, w2 y, w3 z
// (point3D! only; 0 in a point2D!), each an IEEE single. Every operation
// widens the coordinates to doubles and narrows its results back to
// singles when it stores them.
//
// Equality is a near-equality of each coordinate (within 10 representable
// floats); strict-equal? asks for equal floats and same? for the same bits.
// Orderings compare x, then y, then z, each step passing over coordinates
// that are nearly equal.
#pragma once

#include <bit>
#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"

namespace kiv::point {

inline float get(const Cell& value, int axis) {
  const uint32_t bits = axis == 0 ? value.w1 : axis == 1 ? value.w2 : value.w3;
  return std::bit_cast<float>(bits);
}
inline void set(Cell& value, int axis, float coordinate) {
  const auto bits = std::bit_cast<uint32_t>(coordinate);
  (axis == 0 ? value.w1 : axis == 1 ? value.w2 : value.w3) = bits;
}
inline int axes(const Cell& value) { return cell::is(value, TypeId::point3d) ? 3 : 2; }

inline Cell make2(float x, float y) {
  return Cell{cell::header(TypeId::point2d), std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y), 0};
}
inline Cell make3(float x, float y, float z) {
  return Cell{cell::header(TypeId::point3d), std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y),
              std::bit_cast<uint32_t>(z)};
}
inline Val push2(float x, float y) { return stack::push(make2(x, y)); }
inline Val push3(float x, float y, float z) { return stack::push(make3(x, y, z)); }

// The point2D! of a pair's two integers.
Cell from_pair(const Cell& pair);

// A number cell (integer!, float!, percent!) as a 32-bit float.
float number_to_float32(const Cell& number);

// The arithmetic of add, subtract, multiply, divide and remainder with a
// point `left`: result into `left`. Raises script/invalid-type for an
// operand the point does not combine with.
void do_math(Val left, Val right, MathOp op);

// The compare action of both point types (a pair is compared as a point2D!).
int compare(const Cell& a, const Cell& b, CmpOp op);

// Registers point2D! and point3D!.
void register_types();

}  // namespace kiv::point
