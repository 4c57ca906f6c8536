// integer!: the 32-bit signed integer.
//
// Cell layout: header 11; w2 the value as a two's-complement int32; w1 and
// w3 carry nothing (0).
//
// Arithmetic never wraps silently. A sum, difference or product that does
// not fit in 32 bits, and a quotient that is not whole, become a float!
// holding the exact double result. Only the operations with no such answer
// raise math/overflow: negating or taking the absolute value of
// -2147483648, and dividing it by -1. Division and remainder by 0 raise
// math/zero-divide.
//
// char! and handle! share this layout (w2) and take some of these actions.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "runtime/core/cell.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/runtime_error.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"

namespace kiv::integer {

inline constexpr int32_t min_value = INT32_MIN;
inline constexpr int32_t max_value = INT32_MAX;

inline Cell make(int32_t value) {
  return Cell{cell::header(TypeId::integer), 0, static_cast<uint32_t>(value), 0};
}
inline Val push(int32_t value) { return stack::push(make(value)); }
inline int32_t get(const Cell& value) { return cell::get_int32(value); }
// Makes `target` an integer! of `value`, keeping its header flags.
inline void make_at(Cell& target, int32_t value) {
  const uint32_t flags = target.header & ~cell::type_mask;
  target = make(value);
  target.header |= flags;
}
// The value into the current call's result slot.
inline void set_result(int32_t value) { stack::set_last(make(value)); }
inline int32_t sign(int32_t value) { return (value > 0) - (value < 0); }

// The decimal text of `value` ("-2147483648" at most) into `buffer`;
// answers the text.
std::string_view to_text(int32_t value, char (&buffer)[12]);

// True when `number` has no int32 truncation: above 2147483647.0, below
// -2147483648.0, or NaN.
bool float_overflows(double number);

// Reads a decimal integer: an optional sign, then digits, with apostrophes
// allowed anywhere as separators ("1'000"). At least one digit is needed.
enum class ScanStatus : uint8_t { ok, bad_text, overflow };
struct Scan {
  ScanStatus status;
  int32_t value;
};
Scan scan(std::string_view text);

// The integer operation `op` on `a` and `b` into `result`: false when a
// sum, difference or product leaves 32 bits. Divide answers the truncated
// quotient (callers decide about inexact quotients). Divide and remainder
// by 0 raise math/zero-divide; -2147483648 divided by -1 raises
// math/overflow (its remainder is 0).
// Inline: the evaluator's operators on integers run it too. The answer
// comes back through a plain out-parameter: an optional return is stored
// and read back through memory on every operation.
inline bool do_math_op(int32_t a, int32_t b, MathOp op, int32_t& result) {
  switch (op) {
    case MathOp::add: return !__builtin_add_overflow(a, b, &result);
    case MathOp::subtract: return !__builtin_sub_overflow(a, b, &result);
    case MathOp::multiply: return !__builtin_mul_overflow(a, b, &result);
    case MathOp::divide:
    case MathOp::remainder:
      if (b == 0) error::raise(error_id::math::zero_divide);
      // The processor faults on -2147483648 / -1; by -1 the quotient is the
      // negation and the remainder always 0.
      if (b == -1) {
        if (op == MathOp::remainder) result = 0;
        else if (a == min_value) error::raise(error_id::math::overflow);
        else result = -a;
        return true;
      }
      result = op == MathOp::divide ? a / b : a % b;
      return true;
    case MathOp::or_: result = a | b; return true;
    case MathOp::and_: result = a & b; return true;
    case MathOp::xor_: result = a ^ b; return true;
  }
  runtime::fatal(runtime::error_no_switch_match, 0);
}

// The arithmetic action behind add, subtract, multiply, divide, remainder,
// and~, or~ and xor~: `left` (integer!) op `right`, result into `left`.
void do_math(Val left, Val right, MathOp op);

// Shared by the number types' arithmetic: the action word of an op, and
// the errors for a pair of operands that do not combine.
const char* op_name(MathOp op);
// script/not-related: `type` and the action named `name` do not combine.
[[noreturn]] void raise_not_related(TypeId type, const char* name);
// script/invalid-type: the type of `value` is refused.
[[noreturn]] void raise_invalid_type(const Cell& value);

void register_types();

}  // namespace kiv::integer
