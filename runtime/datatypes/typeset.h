// typeset!: a set of datatypes.
//
// Payload: w1-w3 a 96-bit map read as 12 bytes in memory order, most
// significant bit first: type id t is bit 0x80 >> (t % 8) of byte t / 8
// (check.h has the bit helpers). Only ids 1 up to the highest registered
// type mean anything; the other bits are kept as they are but never shown.
// No node: a typeset is a scalar and copies by value.
//
// Typesets check the arguments of functions and natives and make the
// pseudo-types (number!, series!, ...) that scripts test values against.
#pragma once

#include <cstdint>

#include "runtime/check.h"
#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"

namespace kiv::typeset {

// Set operation codes, shared with the bitwise actions and the set natives:
// or~ and union OR, and~ and intersect AND, xor~ and difference XOR,
// exclude AND NOT, unique answers the first set.
enum class SetOp : uint8_t {
  or_ = 5,
  and_ = 6,
  xor_ = 7,
  unique = 8,
  union_ = 9,
  intersect = 10,
  exclude = 11,
  difference = 12,
};

inline Cell make_empty() { return Cell{cell::header(TypeId::typeset), 0, 0, 0}; }

// Adds a datatype (one bit) or a typeset (all its bits) to `set`; a word!
// is replaced by its value first. Anything else raises script/invalid-arg
// with the value.
void add_value(Cell& set, const Cell& value);

// Number of types present among the ids 1 to the highest registered.
uint32_t count(const Cell& set);

// Appends to `block` the word of every type present, in type id order
// (`to block!` of a typeset). May collect.
void to_block(const Cell& set, Val block);

// `left` op `right`, where `right` is a typeset! or a datatype! (a set of
// one type); anything else raises script/invalid-arg with it.
Cell do_bitwise(const Cell& left, const Cell& right, SetOp op);

void register_types();

}  // namespace kiv::typeset
