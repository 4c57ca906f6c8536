// vector!: a series of packed numbers of one element type.
//
// Cell layout: w1 the head index in elements, w2 the node, w3 the element
// type id: 10 char!, 11 integer!, 12 float! or 38 percent!. The buffer's
// unit is the element size in bytes:
//   char!, integer!   1, 2 or 4 bytes, signed (default 4)
//   float!            4 bytes (single) or 8 (double; default)
//   percent!          8 bytes, the fraction (50% is 0.5)
// Narrow elements read back sign-extended, singles widened to doubles; a
// stored integer keeps its low bytes, a stored float is rounded to single
// in 4-byte elements.
//
// Arithmetic with a scalar changes the vector in place; with another
// vector it answers a new vector as long as the shorter one, in the wider
// unit. Integer elements wrap on overflow (two's complement).
//
// The series actions come from string! (through series!), which work unit
// by unit; element reads and writes (pick, poke, take) and copies come
// here through `get_value` and `set_value`.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/datatypes/actions.h"

namespace kiv::vector {

inline TypeId element_type(const Cell& vector) { return static_cast<TypeId>(vector.w3); }

// A new vector of `count` zero elements. A byte size beyond 32 bits raises
// internal/no-memory. May collect.
Cell make_new(uint32_t count, TypeId element, uint32_t unit);

// Elements from the head to the tail.
uint32_t length(const Cell& vector);

// The element at `position` (from the buffer's start) as a value of the
// element type.
Cell get_value(const Cell& vector, uint32_t position);
// Stores `value` at `position`; a value of another type than the element
// type raises script/invalid-arg.
void set_value(const Cell& vector, uint32_t position, const Cell& value);

// Appends a 32-bit integer at the tail. May collect.
void append_int32(Val vector, int32_t value);
// Empties the vector from its head on.
void cut_at_head(const Cell& vector);

// Appends one value per element to the block `block`. May collect.
void to_block(Val vector, Val block);

// `vector op scalar` in place (also `scalar op vector`): the scalar must be
// integer!, float! or percent!. The vector is the result, in `left`.
void op_scalar(Val left, Val right, MathOp op);

void register_types();

}  // namespace kiv::vector
