#include "runtime/datatypes/char.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <string_view>

#include "runtime/core/error_raise.h"
#include "runtime/core/memory.h"
#include "runtime/core/series.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/vector.h"
#include "runtime/mold.h"
#include "runtime/unicode.h"

namespace kiv::char_ {
namespace {

[[noreturn]] void raise_bad_to(const Cell& spec) {
  error::raise(error_id::script::bad_to_arg, datatype::make(TypeId::char_), spec);
}

// Hand-over to vector!: a char! with a vector! right operand is the
// vector's scalar operation, answering a vector (a char! scalar is not
// one it takes: internal/not-done).
void vector_math(Val left, Val right, MathOp op) { vector::op_scalar(left, right, op); }

// The character at the index of a string (or file!, url!, ...).
uint32_t from_text(const Cell& spec) {
  if (series::length_from(spec) == 0) raise_bad_to(spec);
  const SeriesBuf* buffer = memory::buffer(series::node_of(spec));
  uint32_t code_point = 0;
  std::memcpy(&code_point, buffer->head_ptr() + size_t{series::index_of(spec)} * buffer->unit(), buffer->unit());
  return code_point;
}

// The code point of the UTF-8 sequence at the index of a binary. Bytes
// that do not start a well-formed sequence raise script/bad-to-arg.
uint32_t from_binary(const Cell& spec) {
  const uint32_t count = std::min(series::length_from(spec), 4u);
  const uint8_t* bytes = memory::buffer(series::node_of(spec))->head_ptr() + series::index_of(spec);
  uint32_t code_point = 0;
  const int length = unicode::decode_utf8_strict(std::string_view(reinterpret_cast<const char*>(bytes), count), code_point);
  if (length <= 0) raise_bad_to(spec);
  return code_point;
}

// A number as a code point; out of range raises script/out-of-range with
// the number.
uint32_t from_number(const Cell& spec, double number) {
  if (!(number >= 0.0 && number <= max_code_point)) error::raise(error_id::script::out_of_range, spec);
  return static_cast<uint32_t>(number);
}

// `make` and `to` of char!.
void to_value(Val result, Val spec, TypeId) {
  const TypeId from = cell::type_of(*spec);
  uint32_t code_point = 0;
  if (type_traits::is_any_string(from)) {
    code_point = from_text(*spec);
  } else {
    switch (from) {
      case TypeId::char_:
      case TypeId::integer:
        code_point = from_number(*spec, integer::get(*spec));
        break;
      case TypeId::float_:
      case TypeId::percent:
        code_point = from_number(*spec, std::trunc(cell::get_double(*spec)));
        break;
      case TypeId::binary:
        code_point = from_binary(*spec);
        break;
      default:
        raise_bad_to(*spec);
    }
  }
  *result = make(code_point);
}

// Appends the character itself, widening the string's units when it needs
// more room. Written as a unit, not through UTF-8, so that a surrogate
// survives. May collect.
int32_t form(Val value, Val out, int32_t part) {
  const uint32_t code_point = get(*value);
  const NodeId node = series::node_of(*out);
  string::widen(node, code_point <= 0xFF ? 1 : code_point <= 0xFFFF ? 2 : 4);
  const uint32_t unit = memory::buffer(node)->unit();
  const uint32_t offset = series::reserve_tail(node, unit);
  std::memcpy(memory::buffer(node)->data() + offset, &code_point, unit);  // little-endian: low bytes first
  return part - 1;
}

// #"x", the character escaped as inside a string ("^/", "^(1F600)" with
// /all). The budget drops by the characters actually written. May collect.
int32_t mold_value(Val value, Val out, const MoldOptions& options, int32_t part) {
  const uint32_t code_point = get(*value);
  const NodeId node = series::node_of(*out);
  const uint32_t before = memory::buffer(node)->length();
  string::append_latin1(out, "#\"");
  string::mold_char(out, code_point, options.all);
  string::append_latin1(out, "\"");
  return part - static_cast<int32_t>(memory::buffer(node)->length() - before);
}

// A char! equals the integer! of its code point, except under strict
// equality, sameness and key lookup.
int compare(const Cell& a, const Cell& b, CmpOp op) {
  const TypeId other = cell::type_of(b);
  if ((op == CmpOp::strict_equal || op == CmpOp::same || op == CmpOp::lookup) && other != TypeId::char_) return 1;
  if (other != TypeId::char_ && other != TypeId::integer) return -2;
  const int32_t x = integer::get(a);
  const int32_t y = integer::get(b);
  return (x > y) - (x < y);
}

// The arithmetic behind add, subtract, multiply, divide, remainder, and~,
// or~ and xor~: the integer operation on the code points, with division
// kept whole. A result outside the code points, or past 32 bits, raises
// math/overflow; the left value stays char!.
void do_math(Val left, Val right, MathOp op) {
  int32_t b = 0;
  switch (cell::type_of(*right)) {
    case TypeId::char_:
    case TypeId::integer:
      b = integer::get(*right);
      break;
    case TypeId::float_: {
      const double truncated = std::trunc(cell::get_double(*right));
      // No code point lies that far: the result could not be one either.
      if (integer::float_overflows(truncated)) error::raise(error_id::math::overflow);
      b = static_cast<int32_t>(truncated);
      break;
    }
    case TypeId::vector:
      vector_math(left, right, op);
      return;
    default:
      error::raise(error_id::script::invalid_type, datatype::make(cell::type_of(*right)));
  }
  int32_t result = 0;
  if (!integer::do_math_op(integer::get(*left), b, op, result) || result < 0 ||
      static_cast<uint32_t>(result) > max_code_point)
    error::raise(error_id::math::overflow);
  left->w2 = static_cast<uint32_t>(result);
}

template <MathOp op>
void math(Val left, Val right) {
  do_math(left, right, op);
}

}  // namespace

void register_types() {
  datatype::register_type({TypeId::char_, TypeId::integer, "char!",
                           {.make = to_value,
                            .random = inherit,
                            .to = to_value,
                            .form = form,
                            .mold = mold_value,
                            .compare = compare,
                            .absolute = inherit,
                            .add = math<MathOp::add>,
                            .divide = math<MathOp::divide>,
                            .multiply = math<MathOp::multiply>,
                            .remainder = math<MathOp::remainder>,
                            .subtract = math<MathOp::subtract>,
                            .even_q = inherit,
                            .odd_q = inherit,
                            .and_ = math<MathOp::and_>,
                            .or_ = math<MathOp::or_>,
                            .xor_ = math<MathOp::xor_>}});
}

}  // namespace kiv::char_
