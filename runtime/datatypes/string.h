// string!: text in units of 1, 2 or 4 bytes (Latin-1, UCS-2, UCS-4).
//
// Payload: w1 head index, w2 node, w3 0. The buffer's unit size is the
// widest code point ever stored in it.
//
// This is the text layer that every form and mold writes through.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/gc_safety.h"

namespace kiv::string {

// A new empty string with room for `capacity` characters. May collect.
Cell make_new(uint32_t capacity);
Val push_new(uint32_t capacity);

// Appends Latin-1 text (each byte one character). May collect.
void append_latin1(Val out, std::string_view text);
// Appends UTF-8 text, widening the string's units when a code point needs
// it. Ill-formed bytes read as U+FFFD. May collect.
void append_utf8(Val out, std::string_view text);

// Makes the units of the series at `node` at least `unit` bytes wide,
// keeping its characters. Strings widen and never narrow. May collect.
void widen(NodeId node, uint32_t unit);

// Characters from the value's index to the tail.
uint32_t length(const Cell& value);

// The text from the value's index as UTF-8.
std::string to_utf8(const Cell& value);

// Appends one code point as a string's mold writes it: caret escapes for
// control characters, "^^" for the caret; with `all`, every code point
// above 127 as ^(hex).
void mold_char(Val out, uint32_t code_point, bool all);

// Orders two strings from their heads: -1, 0 or 1; letters fold to lower
// case unless `case_sensitive`.
int compare_text(const Cell& a, const Cell& b, bool case_sensitive);

void register_type();

}  // namespace kiv::string
