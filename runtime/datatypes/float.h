// float! and percent!: the IEEE 754 double and the double shown as a
// percentage.
//
// Cell layout: header 12 (float!) or 38 (percent!); w2-w3 the double, low
// word first; w1 carries nothing (0). percent! holds the fraction: 50% is
// stored as 0.5 and only its text is multiplied by 100.
//
// Arithmetic is plain double arithmetic and never raises: division by zero
// and overflow give infinities or NaN ("1.#INF", "-1.#INF", "1.#NaN").
// Equality is a near-equality (`almost_equal`: within 10 representable
// doubles, or closer than the double epsilon); only strict-equal? and same?
// ask for exactly the same double. NaN is never equal to anything and every
// ordering test with it is false.
//
// percent! inherits everything but form and mold from float!.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/float_text.h"

namespace kiv::float_ {

// The switches of system/options/float. They are read by form (pretty?) and
// kept for the library (full?, read by no conversion). Until the system
// object can set them they keep these start-up values; this is their one
// home.
struct FormOptions {
  float_text::Pretty pretty = float_text::Pretty::on;
  bool full = false;
};
FormOptions& options();

// A float! cell of `number` (full header, no flags).
inline Cell make(double number) {
  Cell value{cell::header(TypeId::float_), 0, 0, 0};
  cell::set_double(value, number);
  return value;
}
// A float! from the two 32-bit halves of its bit pattern.
inline Cell from_halves(uint32_t low, uint32_t high) { return Cell{cell::header(TypeId::float_), 0, low, high}; }
inline double get(const Cell& value) { return cell::get_double(value); }
inline Val push(double number) { return stack::push(make(number)); }
// Makes `target` a float! of `number`, keeping its header flags.
inline void make_at(Cell& target, double number) {
  const uint32_t flags = target.header & ~cell::type_mask;
  target = make(number);
  target.header |= flags;
}
// The value into the current call's result slot.
inline void set_result(double number) { stack::set_last(make(number)); }

// Near-equality of doubles: false when either is NaN; true when they are
// equal, closer than 2.220446049250313e-16, or at most 10 representable
// doubles apart.
bool almost_equal(double a, double b);
// The same for 32-bit floats (point coordinates): within 10 representable
// floats; an infinity is near only a float of its sign whose exponent and
// mantissa differ from it by less than 0x100000.
bool almost_equal32(float a, float b);
// +infinity, -infinity or NaN.
bool is_special(double number);
// `number` + 0.49999999999999994 truncated toward zero, saturated to the
// int32 range (NaN gives 0). For window coordinates.
int32_t round_to_int(double number);

// The arithmetic behind add, subtract, multiply, divide and remainder with
// an integer!, float!, percent! or time! `left`: `left` op `right`, result
// into `left`. An integer! left becomes float!; a percent! left stays
// percent! unless `right` is time!; a time! on either side gives time!.
// Raises script/invalid-type for a right operand of no number type (and for
// a char! with a percent! or time! left), script/not-related for a pair or
// point subtracted from or dividing a number, script/cannot-use for the
// bitwise operations.
void do_math(Val left, Val right, MathOp op);

// The arithmetic of a number (integer!, float!, percent!) `left` with a
// right operand of a richer type: money! arithmetic, pair and point or tuple
// arithmetic with the operands swapped, a vector's scalar operation.
void math_with_richer(Val left, Val right, MathOp op);

// `x op y` for add ... remainder in double arithmetic (IEEE results: a
// division by zero gives an infinity or NaN). The bitwise ops raise
// script/cannot-use.
double math_op(double x, double y, MathOp op);

// The compare action of float! and percent!, also used for an integer!
// compared with them (as a float! cell of the integer).
int compare(const Cell& a, const Cell& b, CmpOp op);

// pow(base, exponent) as float!; the base may be integer!, float! or
// percent!, the exponent integer! or float! (else script/expect-arg).
void power(Val base, Val exponent);

// The round action for an integer!, float! or percent! value; see float.cpp
// for the result's type.
void round(Val value, const RoundOptions& options);

void register_types();

}  // namespace kiv::float_

namespace kiv::percent {

inline Cell make(double fraction) {
  Cell value{cell::header(TypeId::percent), 0, 0, 0};
  cell::set_double(value, fraction);
  return value;
}
inline Cell from_halves(uint32_t low, uint32_t high) { return Cell{cell::header(TypeId::percent), 0, low, high}; }
inline double get(const Cell& value) { return cell::get_double(value); }
inline Val push(double fraction) { return stack::push(make(fraction)); }
inline void make_at(Cell& target, double fraction) {
  const uint32_t flags = target.header & ~cell::type_mask;
  target = make(fraction);
  target.header |= flags;
}
inline void set_result(double fraction) { stack::set_last(make(fraction)); }

void register_types();

}  // namespace kiv::percent
