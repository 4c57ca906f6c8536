// time!: a signed duration in seconds.
//
// Cell layout: header 43; w2-w3 an IEEE double, low word first (the same
// place as float!). There is no upper bound and no wrap at 24 hours.
//
// time! is a child of float!: it inherits random, compare, absolute, negate
// and remainder, and its arithmetic runs through float::do_math, which keeps
// time! as the result type. Dates use the same seconds for their time of
// day and reuse the fields and the text form here.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"

namespace kiv::time_ {

inline Cell make(double seconds) {
  Cell value{cell::header(TypeId::time), 0, 0, 0};
  cell::set_double(value, seconds);
  return value;
}
inline double get(const Cell& value) { return cell::get_double(value); }
inline Val push(double seconds) { return stack::push(make(seconds)); }
// Makes `target` a time! of `seconds`, keeping its header flags.
inline void make_at(Cell& target, double seconds) {
  const uint32_t flags = target.header & ~cell::type_mask;
  target = make(seconds);
  target.header |= flags;
}

// The field selected by a word (hour 1, minute 2, second 3), or -1.
int field_of_word(const Cell& word);
// Hours truncated toward zero.
double hours(double t);
// The minutes field, 0 to 59, of |t|.
int32_t minutes(double t);
// Field 1 (integer! hours), 2 (integer! minutes) or 3 (float! seconds of t,
// with t's sign).
Cell get_field(double t, int field);
// `t` with field 1, 2 or 3 replaced by `value`: an integer! for the hour
// and minute, an integer! or float! for the second (else
// script/invalid-arg). Setting a field to the value it reads leaves the
// time as it was, for negative times too.
double set_field(double t, int field, const Cell& value);

// The text form: [-]h:mm:ss[.fraction].
std::string text(double t);
int32_t form_value(double t, Val out, int32_t part);

void register_types();

}  // namespace kiv::time_
