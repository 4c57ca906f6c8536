// string!: text in units of 1, 2 or 4 bytes (Latin-1, UCS-2, UCS-4).
//
// Payload: w1 the head index in units from the buffer's head, w2 node, w3 0.
// The buffer's unit only widens, in place, and never narrows: it is the
// widest unit any writer ever needed. Writers differ in when they widen:
//
//   append_char, and append/insert/change of a char!   1 up to 127
//   poke (and swap, the path setter)                   1 up to 255
//   loading text (append_utf8)                         1 up to 255
//   copying a string into another                      the wider unit
//
// and a unit-2 buffer widens to 4 only above U+FFFF. The difference shows
// only in the unit, never in the text.
//
// This is the text layer that every form and mold writes through. tag!,
// email!, ref! (and file!, url!) are strings under another type id; the
// actions here serve them all (type_traits::is_any_string).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/datatypes/actions.h"

namespace kiv::string {

// The char! value of a code point.
inline Cell make_char(uint32_t code_point) { return Cell{cell::header(TypeId::char_), 0, code_point, 0}; }

// The unit a code point needs when appended (1 up to 127) or stored at a
// position (1 up to 255).
inline uint32_t unit_to_append(uint32_t code_point) {
  return code_point < 0x80 ? 1 : code_point <= 0xFFFF ? 2 : 4;
}
inline uint32_t unit_to_store(uint32_t code_point) {
  return code_point <= 0xFF ? 1 : code_point <= 0xFFFF ? 2 : 4;
}

// A new empty string with room for `capacity` characters. May collect.
Cell make_new(uint32_t capacity);
Val push_new(uint32_t capacity);

// Appends Latin-1 text (each byte one character). May collect.
void append_latin1(Val out, std::string_view text);
// Appends UTF-8 text, widening the string's units when a code point needs
// it. Ill-formed bytes read as U+FFFD. May collect.
void append_utf8(Val out, std::string_view text);
// Appends one code point at the tail. May collect.
void append_char(Val out, uint32_t code_point);

// External text encodings of `load`.
enum class Encoding : uint8_t { utf8, utf16le };
// A new string! of external text, in the narrowest unit that holds it.
// Malformed UTF-8 raises access/invalid-utf8. `bytes` must not lie in a
// series buffer. May collect.
Cell load(std::string_view bytes, Encoding encoding);

// Makes the units of the series at `node` at least `unit` bytes wide,
// keeping its characters. Strings widen and never narrow. May collect.
void widen(NodeId node, uint32_t unit);

// Characters from the value's index to the tail.
uint32_t length(const Cell& value);
// The code point at `index` counted from the buffer's head (below its
// length).
uint32_t char_at(NodeId node, uint32_t index);

// The text from the value's index as UTF-8.
std::string to_utf8(const Cell& value);

// Appends one code point as a string's mold writes it: caret escapes for
// control characters, "^^" for the caret; with `all`, every code point
// above 127 as ^(hex).
void mold_char(Val out, uint32_t code_point, bool all);

// Orders two strings from their heads: -1, 0 or 1; letters fold to lower
// case unless `case_sensitive`.
int compare_text(const Cell& a, const Cell& b, bool case_sensitive);

// Compares two any-string values from their heads under `op`: -1, 0 or 1.
// Letters fold to lower case except under strict equality and the
// case-sensitive orders. With `match`, answers 0 when `b` is a prefix of
// `a` (an empty `b` matches, except under CmpOp::lookup). Never allocates.
int compare_values(const Cell& a, const Cell& b, CmpOp op, bool match);

// The set operations over text: records of `skip` units, each known by its
// first unit, visited from the heads.
enum class SetOp : uint8_t { unique, union_, intersect, exclude, difference };
// A new string! holding the result; `second` is not read by unique. A skip
// below 1 raises script/invalid-refine-arg. May collect.
Cell set_operation(Val first, Val second, SetOp op, bool case_sensitive, int32_t skip = 1);

// The registration slots of a child type that takes every action string!
// supports from it (the child then overrides or removes some).
ActionSlots inherited_slots();

// Registers string!. tag!, email! and ref! register from their own files.
void register_types();

}  // namespace kiv::string
