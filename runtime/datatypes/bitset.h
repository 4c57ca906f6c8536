// bitset!: a set of non-negative integers (in practice code points) kept as
// a bit array, the character classes of find on strings and of parsing.
//
// Payload: w2 the node of a byte series (unit 1, head at offset 0); w1 and
// w3 are 0. Bit i lives in byte i >> 3 under mask 0x80 >> (i & 7), so the
// most significant bit of byte 0 is bit 0. The buffer flag `not_flag`
// gives the membership of every bit beyond the stored bytes: set, all of
// them are members, which lets a short array stand for "every character
// but these".
//
// A bitset holds the bits 0 to `max_bit` (every code point): writing a bit
// beyond raises script/out-of-range rather than growing the buffer without
// bound; reading one answers the not flag.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/datatypes/typeset.h"

namespace kiv::bitset {

inline constexpr uint32_t not_flag = 0x00080000;
inline constexpr int64_t max_bit = 0x10FFFF;

// Whether the bitset is stored complemented (its not flag).
bool is_negated(const Cell& bits);

// Whether `code_point` is a member.
bool has(const Cell& bits, uint32_t code_point);

// A new bitset holding `first` op `second` (or~ and union, and~ and
// intersect, xor~ and difference, exclude; unique answers `first`). The
// result is the exact set the operation names, negated operands included.
// `second` must be a bitset!, else script/invalid-type names its datatype.
// May collect.
Cell set_operation(Val first, Val second, typeset::SetOp op);

void register_types();

}  // namespace kiv::bitset
