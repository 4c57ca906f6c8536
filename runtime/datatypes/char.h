// char!: one Unicode code point.
//
// Cell layout: header 10; w2 the code point, 0 to 0x10FFFF (surrogates
// included: a string can hold them); w1 and w3 carry nothing (0). The layout
// is integer!'s, its parent, so integer::get reads a char! too.
//
// Arithmetic works on the code points as integers and keeps the result a
// char!: a result outside 0..0x10FFFF raises math/overflow, and division
// stays integer division (#"a" / 2 is #"0").
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/stack.h"

namespace kiv::char_ {

inline constexpr uint32_t max_code_point = 0x10FFFF;

inline Cell make(uint32_t code_point) { return Cell{cell::header(TypeId::char_), 0, code_point, 0}; }
inline Val push(uint32_t code_point) { return stack::push(make(code_point)); }
inline uint32_t get(const Cell& value) { return value.w2; }

void register_types();

}  // namespace kiv::char_
