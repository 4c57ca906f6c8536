// binary!: a series of bytes (unit size 1, never widened), w1 the head
// index in bytes, w2 the node, w3 0.
//
// The type inherits from string! what reads units without caring for their
// meaning (positions, copy, find, select, take, swap, sort) and overrides
// what is about bytes: to, form and mold, compare, the bitwise actions,
// append, insert, change and trim.
//
// The bytes a value writes into a binary (`value_bytes`):
//   char!                   its UTF-8 encoding
//   integer!                one byte, -128 to 255 taken as the low 8 bits
//   binary!                 its bytes from the head
//   any-string              the UTF-8 encoding of its text from the head
//   block!, paren!, hash!   each element in turn by these rules
//   anything else           change: the UTF-8 of its formed text;
//                           append, insert: script/bad-to-arg
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/datatypes/actions.h"

namespace kiv::binary {

// A new binary! holding `bytes`. May collect: root the result before the
// next allocation.
Cell make(std::string_view bytes);

// A copy of the bytes of a binary! from its index to its tail.
std::string bytes_from_index(const Cell& value);

// Appends bytes at the tail of a binary!. `bytes` must not lie in a
// series buffer. May collect.
void append_bytes(Val binary, std::string_view bytes);

// The bytes `value` writes into a binary by append and insert (`for_change`
// false) or by change (true). `limit` (unless negative) bounds the bytes of
// a text or binary value and the elements of a block. May collect.
std::string value_bytes(Val value, int32_t limit, bool for_change);

// The byte that poke stores: an integer! from -128 to 255 (its low 8 bits)
// or a char! up to 255; anything else raises script/invalid-arg.
uint8_t poke_value(const Cell& value);

// Bytewise comparison from both heads under `op`; -2 when `b` is not
// binary! (in match mode, any-string values compare by their units too).
// Never allocates.
int compare_values(const Cell& a, const Cell& b, CmpOp op, bool match);

// The base that mold writes binaries in: system/options/binary-base when
// the system object holds one of 2, 16 or 64, else 16.
int32_t mold_base();

void register_types();

}  // namespace kiv::binary
