// The number fast path of the infix operators.
//
// Arithmetic and comparison operators on two numbers are the bulk of most
// loops. When both operands are numbers and the operation cannot fail, the
// evaluator works it out here, without a call: no frame, no argument
// fetching. Anything else (other types, a division by zero, an integer
// overflow that turns into a float) is left to the operator's call, so
// its errors and results are exactly the call's.
#pragma once

#include <cstdint>

#include "runtime/datatypes/actions.h"
#include "runtime/core/cell.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/eval/compare.h"
#include "runtime/eval/fast_paths.h"

namespace kiv::interpreter {

// What an operator does, learnt once per wrapped function (0: not known
// yet, 1: nothing fast).
inline constexpr uint8_t fast_unknown = 0;
inline constexpr uint8_t fast_none = 1;
inline constexpr uint8_t fast_math = 2;      // + MathOp
inline constexpr uint8_t fast_compare = 16;  // + CmpOp

// The operands of the operators' fast path: integer! and float! (a
// percent! keeps its type through its datatype's arithmetic).
inline bool is_integer_or_float(const Cell& value) {
  return cell::is(value, TypeId::integer) || cell::is(value, TypeId::float_);
}
inline double number_of(const Cell& value) {
  return cell::is(value, TypeId::integer) ? cell::get_int32(value) : cell::get_double(value);
}

// Integer arithmetic that gives an integer and cannot fail: the integer
// datatype's own, without the cases where it raises an error (a zero or -1
// divisor) or where the answer is not whole (an overflow or an inexact
// quotient, which give floats).
inline bool whole_math(int32_t a, int32_t b, MathOp op, int32_t& result) {
  const bool dividing = op == MathOp::divide || op == MathOp::remainder;
  if (dividing && (b == 0 || b == -1)) return false;
  if (!integer::do_math_op(a, b, op, result)) return false;
  return op != MathOp::divide || a % b == 0;
}

// An operator's comparison of two numbers of one C++ type, exactly: the
// fast paths' own; false for CmpOp codes beyond an operator's.
template <typename Number>
inline bool compare_numbers(Number a, Number b, CmpOp op, bool& holds) {
  if (static_cast<uint8_t>(op) > static_cast<uint8_t>(CmpOp::greater_or_equal)) return false;
  return fast_paths::compare_exactly(static_cast<fast_paths::CompareCode>(op), a, b, holds);
}

static_assert(static_cast<int>(CmpOp::equal) == static_cast<int>(fast_paths::CompareCode::equal) &&
              static_cast<int>(CmpOp::greater_or_equal) == static_cast<int>(fast_paths::CompareCode::greater_or_equal));
static_assert(static_cast<int>(MathOp::add) == static_cast<int>(fast_paths::ArithCode::add) &&
              static_cast<int>(MathOp::subtract) == static_cast<int>(fast_paths::ArithCode::subtract) &&
              static_cast<int>(MathOp::multiply) == static_cast<int>(fast_paths::ArithCode::multiply) &&
              static_cast<int>(MathOp::or_) == static_cast<int>(fast_paths::ArithCode::or_) &&
              static_cast<int>(MathOp::and_) == static_cast<int>(fast_paths::ArithCode::and_) &&
              static_cast<int>(MathOp::xor_) == static_cast<int>(fast_paths::ArithCode::xor_));

// Works out `left op right` into `left` (keeping its header flags, as the
// datatypes do); false leaves it to the call.
[[gnu::always_inline]] inline bool fast_operation(uint8_t kind, Cell& left, const Cell& right) {
  const bool whole = cell::is(left, TypeId::integer) && cell::is(right, TypeId::integer);
  if (kind >= fast_compare) {
    const auto op = static_cast<CmpOp>(kind - fast_compare);
    bool holds = false;
    if (whole) {
      if (!compare_numbers(cell::get_int32(left), cell::get_int32(right), op, holds)) return false;
    } else if (cell::is(left, TypeId::float_) && cell::is(right, TypeId::float_) && op != CmpOp::equal &&
               op != CmpOp::not_equal) {
      // Orderings and strict equality; equality of floats is the float
      // datatype's near-equality, asked of the datatype.
      if (!compare_numbers(cell::get_double(left), cell::get_double(right), op, holds)) return false;
    } else {
      holds = compare::test(left, right, op);
    }
    left = logic::make(holds);
    return true;
  }
  const auto op = static_cast<MathOp>(kind - fast_math);
  // Add, subtract, multiply and the bit operations of two integers or two
  // floats: the fast paths' own (an integer overflow gives the exact float
  // there and then). Their codes are the math operations' numbers.
  if (op != MathOp::divide && op != MathOp::remainder &&
      fast_paths::try_arith(static_cast<fast_paths::ArithCode>(op), left, right, left))
    return true;
  if (whole) {
    int32_t result = 0;
    if (!whole_math(cell::get_int32(left), cell::get_int32(right), op, result)) return false;
    integer::make_at(left, result);
    return true;
  }
  const double x = number_of(left);
  const double y = number_of(right);
  switch (op) {
    case MathOp::add: float_::make_at(left, x + y); return true;
    case MathOp::subtract: float_::make_at(left, x - y); return true;
    case MathOp::multiply: float_::make_at(left, x * y); return true;
    case MathOp::divide: float_::make_at(left, x / y); return true;
    default: return false;
  }
}

}  // namespace kiv::interpreter
