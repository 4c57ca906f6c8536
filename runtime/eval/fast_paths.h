// Fast paths of the commonest operations: integer and float arithmetic,
// the bitwise operations, comparisons, series queries and moves, and
// picking from a block by an integer index.
//
// Each path answers the common case inline, with no call frame, no dispatch
// and no argument copies: it allocates nothing and raises nothing. Every
// other combination of datatypes falls back to the generic action (or
// comparison native, or eval-path entry) in a native call frame named by
// the `name` word the caller gives, so that its result, and any error it
// raises, is the one the evaluator's own call gives: errors only ever come
// from that fallback.
//
// The `try_*` functions are the inline cases alone: true with the answer
// in the out-parameter, false when the caller must take the fallback.
// The entry points combine the two and leave their result on the argument
// stack as each one says. They answer a Flow, as the evaluator does: a
// non-local exit from the fallback leaves both stacks to the exit
// (flow.h). An operation code outside its table ends the process as
// runtime error 101.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/logic.h"
#include "runtime/eval/flow.h"

namespace kiv::fast_paths {

// The operation codes (the numbers are fixed: code generators emit them).
// Arithmetic shares its numbers with MathOp; 3 and 4 are not used.
enum class ArithCode : uint8_t { add = 0, subtract = 1, multiply = 2, or_ = 5, and_ = 6, xor_ = 7 };
// The same numbers as CmpOp's first seven.
enum class CompareCode : uint8_t {
  equal = 0,
  not_equal = 1,
  strict_equal = 2,
  lesser = 3,
  lesser_or_equal = 4,
  greater = 5,
  greater_or_equal = 6,
};
enum class SeriesCode : uint8_t { length_q = 1, index_q = 2, head_q = 3, tail_q = 4, next = 5, back = 6, head = 7, tail = 8 };

// Captures the generic functions the fallbacks call (their specs name the
// arguments in error reports). Once the actions and natives are defined,
// before any user code can rebind their words.
void init();

namespace detail {

// `flags_of` keeps the left operand's header flags (its new-line marker):
// the datatypes' arithmetic writes its result over the left operand.
inline Cell integer_cell(uint32_t flags, int32_t value) {
  return Cell{flags | cell::header(TypeId::integer), 0, static_cast<uint32_t>(value), 0};
}
inline Cell float_cell(uint32_t flags, double value) {
  Cell made{flags | cell::header(TypeId::float_), 0, 0, 0};
  cell::set_double(made, value);
  return made;
}
inline uint32_t flags_of(const Cell& value) { return value.header & ~cell::type_mask; }

// Cells from a block's head index to its tail (0 when the index is past it).
inline uint32_t cells_from_index(const Cell& block) { return series::length_from(block); }
inline uint32_t cell_total(const Cell& block) { return memory::buffer(series::node_of(block))->length(); }

// The fallbacks: out of line, kept off the inline paths' code.
[[gnu::cold, gnu::noinline]] Flow arith_fallback(ArithCode code, const Cell& name, const Cell& left, const Cell& right);
[[gnu::cold, gnu::noinline]] Flow compare_fallback(CompareCode code, const Cell& name, const Cell& left, const Cell& right,
                                                   bool& outcome);
[[gnu::cold, gnu::noinline]] Flow series_fallback(SeriesCode code, const Cell& name, const Cell& value);
[[gnu::cold, gnu::noinline]] Flow pick_fallback(const Cell& value, int32_t index, const Cell& name, const Cell* path);

}  // namespace detail

// ---- the inline cases ----

// Two numbers of one C++ type compared exactly (equal and strict-equal
// alike; a NaN is unequal to everything and neither lesser nor greater).
// False for a code outside the table.
template <typename Number>
inline bool compare_exactly(CompareCode code, Number a, Number b, bool& outcome) {
  switch (code) {
    case CompareCode::equal:
    case CompareCode::strict_equal: outcome = a == b; return true;
    case CompareCode::not_equal: outcome = a != b; return true;
    case CompareCode::lesser: outcome = a < b; return true;
    case CompareCode::lesser_or_equal: outcome = a <= b; return true;
    case CompareCode::greater: outcome = a > b; return true;
    case CompareCode::greater_or_equal: outcome = a >= b; return true;
  }
  return false;
}

// Two integer!s in 32-bit arithmetic: a sum, difference or product that
// leaves 32 bits is the float! of the exact result computed in double from
// the two integers (2147483647 + 1 is 2147483648.0); or, and and xor
// cannot overflow. Two float!s add, subtract and multiply in double.
// Anything else answers false.
inline bool try_arith(ArithCode code, const Cell& left, const Cell& right, Cell& out) {
  const TypeId left_type = cell::type_of(left);
  if (left_type != cell::type_of(right)) return false;
  const uint32_t flags = detail::flags_of(left);
  if (left_type == TypeId::integer) {
    const int32_t a = cell::get_int32(left);
    const int32_t b = cell::get_int32(right);
    int32_t result;
    switch (code) {
      case ArithCode::add:
        if (__builtin_add_overflow(a, b, &result)) [[unlikely]] {
          out = detail::float_cell(flags, static_cast<double>(a) + static_cast<double>(b));
          return true;
        }
        break;
      case ArithCode::subtract:
        if (__builtin_sub_overflow(a, b, &result)) [[unlikely]] {
          out = detail::float_cell(flags, static_cast<double>(a) - static_cast<double>(b));
          return true;
        }
        break;
      case ArithCode::multiply:
        if (__builtin_mul_overflow(a, b, &result)) [[unlikely]] {
          out = detail::float_cell(flags, static_cast<double>(a) * static_cast<double>(b));
          return true;
        }
        break;
      case ArithCode::or_: result = a | b; break;
      case ArithCode::and_: result = a & b; break;
      case ArithCode::xor_: result = a ^ b; break;
      default: return false;
    }
    out = detail::integer_cell(flags, result);
    return true;
  }
  if (left_type == TypeId::float_) {
    const double x = cell::get_double(left);
    const double y = cell::get_double(right);
    switch (code) {
      case ArithCode::add: out = detail::float_cell(flags, x + y); return true;
      case ArithCode::subtract: out = detail::float_cell(flags, x - y); return true;
      case ArithCode::multiply: out = detail::float_cell(flags, x * y); return true;
      default: return false;
    }
  }
  return false;
}

// Two integer!s compared as signed 32-bit integers (equal and strict-equal
// alike). Anything else answers false.
inline bool try_compare(CompareCode code, const Cell& left, const Cell& right, bool& outcome) {
  if (!cell::is(left, TypeId::integer) || !cell::is(right, TypeId::integer)) return false;
  return compare_exactly(code, cell::get_int32(left), cell::get_int32(right), outcome);
}

// A query or move of a block!, from its head index and the cells from
// there to the tail: next at the tail and back at the head leave it as it
// is. Anything else answers false.
inline bool try_series(SeriesCode code, const Cell& value, Cell& out) {
  if (!cell::is(value, TypeId::block)) return false;
  const uint32_t index = series::index_of(value);
  switch (code) {
    case SeriesCode::length_q:
      out = detail::integer_cell(0, static_cast<int32_t>(detail::cells_from_index(value)));
      return true;
    case SeriesCode::index_q: out = detail::integer_cell(0, static_cast<int32_t>(index + 1)); return true;
    case SeriesCode::head_q: out = logic::make(index == 0); return true;
    case SeriesCode::tail_q: out = logic::make(detail::cells_from_index(value) == 0); return true;
    case SeriesCode::next:
      out = value;
      if (detail::cells_from_index(value) > 0) ++out.w1;
      return true;
    case SeriesCode::back:
      out = value;
      if (index > 0) --out.w1;
      return true;
    case SeriesCode::head:
      out = value;
      out.w1 = 0;
      return true;
    case SeriesCode::tail:
      out = value;
      out.w1 = detail::cell_total(value);
      return true;
  }
  return false;
}

// Cell `index` of a block! counted from its head index, as the block's
// path picks it: 1 is the cell at the head index, a negative index counts
// back from there (-1 is the cell before it), and 0 or a position outside
// the block gives none. Anything but a block! answers false.
inline bool try_pick(const Cell& value, int32_t index, Cell& out) {
  if (!cell::is(value, TypeId::block)) return false;
  const int64_t position = static_cast<int64_t>(series::index_of(value)) + (index > 0 ? index - 1 : index);
  if (index == 0 || position < 0 || position >= detail::cell_total(value)) {
    out = Cell{cell::header(TypeId::none), 0, 0, 0};
    return true;
  }
  const SeriesBuf* buf = memory::buffer(series::node_of(value));
  out = reinterpret_cast<const Cell*>(buf->head_ptr())[position];
  return true;
}

// ---- the entry points ----
//
// `name` names the fallback's call frame (errors report it as where they
// were raised). `left` and `right` are read before anything is pushed:
// they may lie anywhere, in a series buffer too. The `_imm` twins take the
// right operand as a machine integer (an integer! on the fallback). The
// `_last` twins take the left operand from the last argument-stack cell,
// which must exist.

// left op right, pushed as a new cell.
inline Flow int_arith(ArithCode code, const Cell& name, const Cell& left, const Cell& right) {
  Cell out;
  if (try_arith(code, left, right, out)) [[likely]] {
    stack::push(out);
    return Flow::normal;
  }
  return detail::arith_fallback(code, name, left, right);
}
inline Flow int_arith_imm(ArithCode code, const Cell& name, const Cell& left, int32_t right) {
  return int_arith(code, name, left, detail::integer_cell(0, right));
}

// last op right: the result replaces the last cell.
inline Flow int_arith_last(ArithCode code, const Cell& name, const Cell& right) {
  Cell& left = *stack::last();
  Cell out;
  if (try_arith(code, left, right, out)) [[likely]] {
    left = out;
    return Flow::normal;
  }
  const Cell operands[2] = {left, right};
  stack::pop(1);
  return detail::arith_fallback(code, name, operands[0], operands[1]);
}
inline Flow int_arith_last_imm(ArithCode code, const Cell& name, int32_t right) {
  return int_arith_last(code, name, detail::integer_cell(0, right));
}

// The comparison as a logic!, pushed as a new cell.
inline Flow int_compare(CompareCode code, const Cell& name, const Cell& left, const Cell& right) {
  bool outcome;
  if (!try_compare(code, left, right, outcome)) [[unlikely]]
    KIV_PROPAGATE(detail::compare_fallback(code, name, left, right, outcome));
  stack::push(logic::make(outcome));
  return Flow::normal;
}
inline Flow int_compare_imm(CompareCode code, const Cell& name, const Cell& left, int32_t right) {
  return int_compare(code, name, left, detail::integer_cell(0, right));
}

// The last cell compared with `right`: the logic! replaces it.
inline Flow int_compare_last(CompareCode code, const Cell& name, const Cell& right) {
  Cell& left = *stack::last();
  bool outcome;
  if (!try_compare(code, left, right, outcome)) [[unlikely]] {
    const Cell operands[2] = {left, right};
    stack::pop(1);
    KIV_PROPAGATE(detail::compare_fallback(code, name, operands[0], operands[1], outcome));
    stack::push(logic::make(outcome));
    return Flow::normal;
  }
  left = logic::make(outcome);
  return Flow::normal;
}
inline Flow int_compare_last_imm(CompareCode code, const Cell& name, int32_t right) {
  return int_compare_last(code, name, detail::integer_cell(0, right));
}

// For a conditional jump: `jump` is the comparison's outcome XOR `negate`.
// The argument stack is left as it was found.
inline Flow int_test(CompareCode code, const Cell& name, const Cell& left, const Cell& right, bool negate, bool& jump) {
  bool outcome;
  if (!try_compare(code, left, right, outcome)) [[unlikely]]
    KIV_PROPAGATE(detail::compare_fallback(code, name, left, right, outcome));
  jump = outcome != negate;
  return Flow::normal;
}
inline Flow int_test_imm(CompareCode code, const Cell& name, const Cell& left, int32_t right, bool negate, bool& jump) {
  return int_test(code, name, left, detail::integer_cell(0, right), negate, jump);
}

// As int_test, and the outcome (before `negate`) also goes into the current
// call's result slot as a logic!: the value of the condition.
inline Flow int_test_keep(CompareCode code, const Cell& name, const Cell& left, const Cell& right, bool negate,
                          bool& jump) {
  bool outcome;
  if (!try_compare(code, left, right, outcome)) [[unlikely]]
    KIV_PROPAGATE(detail::compare_fallback(code, name, left, right, outcome));
  stack::set_last(logic::make(outcome));
  jump = outcome != negate;
  return Flow::normal;
}
inline Flow int_test_keep_imm(CompareCode code, const Cell& name, const Cell& left, int32_t right, bool negate,
                              bool& jump) {
  return int_test_keep(code, name, left, detail::integer_cell(0, right), negate, jump);
}

// The query's answer or the moved series, pushed as a new cell.
inline Flow series_op(const Cell& value, SeriesCode code, const Cell& name) {
  Cell out;
  if (try_series(code, value, out)) [[likely]] {
    stack::push(out);
    return Flow::normal;
  }
  return detail::series_fallback(code, name, value);
}

// value/index, pushed as a new cell. Other datatypes than block! go
// through their eval-path entry; `path` is the path being evaluated, for
// the errors that name it (none when null).
inline Flow path_pick(const Cell& value, int32_t index, const Cell& name, const Cell* path = nullptr) {
  Cell out;
  if (try_pick(value, index, out)) [[likely]] {
    stack::push(out);
    return Flow::normal;
  }
  return detail::pick_fallback(value, index, name, path);
}

}  // namespace kiv::fast_paths
