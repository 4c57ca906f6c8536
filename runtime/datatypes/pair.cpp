#include "runtime/datatypes/pair.h"

#include <cmath>
#include <string>

#include "runtime/core/error_raise.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/coordinates.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/unset.h"
#include "runtime/eval/random.h"
#include "runtime/mold.h"

namespace kiv::pair {
namespace {

[[noreturn]] void raise_bad_to(const Cell& spec) {
  error::raise(error_id::script::bad_to_arg, datatype::make(TypeId::pair), spec);
}

// A float component truncated toward zero; NaN, infinities and values
// beyond 32 bits have no pair component and raise script/invalid-arg with
// `culprit`.
int32_t truncate(double number, const Cell& culprit) {
  if (!coordinates::fits_int32(number)) error::raise(error_id::script::invalid_arg, culprit);
  return static_cast<int32_t>(number);
}

// make pair! and to pair! (one set of rules).
void to_value(Val result, Val spec, TypeId) {
  const Cell given = *spec;
  const TypeId from = cell::type_of(given);
  if (type_traits::is_any_string(from)) {
    const std::optional<Cell> loaded = coordinates::load_one(given);
    if (!loaded || !cell::is(*loaded, TypeId::pair)) raise_bad_to(given);
    *result = make(x_of(*loaded), y_of(*loaded));
    return;
  }
  switch (from) {
    case TypeId::pair:
      *result = make(x_of(given), y_of(given));
      return;
    case TypeId::integer:
      *result = make(integer::get(given), integer::get(given));
      return;
    case TypeId::float_: {
      const int32_t n = truncate(float_::get(given), given);
      *result = make(n, n);
      return;
    }
    case TypeId::block: {
      // The first two values, numbers (floats truncated toward zero).
      if (block::count(given) < 2) error::raise(error_id::syntax::malconstruct, given);
      int32_t xy[2];
      for (uint32_t i = 0; i < 2; ++i) {
        const Cell item = *block::at(given, i);
        if (cell::is(item, TypeId::integer)) xy[i] = integer::get(item);
        else if (cell::is(item, TypeId::float_)) xy[i] = truncate(float_::get(item), item);
        else error::raise(error_id::syntax::malconstruct, given);
      }
      *result = make(xy[0], xy[1]);
      return;
    }
    case TypeId::point2d:
      *result = make(truncate(point::get(given, 0), given), truncate(point::get(given, 1), given));
      return;
    default:
      raise_bad_to(given);
  }
}

// --- arithmetic --------------------------------------------------------------

// Redoes `left op right` as point2D! arithmetic: the pair becomes a point
// and so does a pair operand.
void as_point_math(Val left, Val right, MathOp op) {
  *left = point::from_pair(*left);
  if (cell::is(*right, TypeId::pair)) *right = point::from_pair(*right);
  point::do_math(left, right, op);
}

// One component with integer! rules: false when the integer answer would
// be a float! (out of 32 bits, or an inexact quotient).
bool component(int32_t a, int32_t b, MathOp op, int32_t& result) {
  if (!integer::do_math_op(a, b, op, result)) return false;
  return !(op == MathOp::divide && static_cast<int64_t>(result) * b != a);
}

template <MathOp op>
void math(Val left, Val right) {
  do_math(left, right, op);
}

// --- other actions -------------------------------------------------------------

// Each non-zero component becomes a random integer between 1 and it (or
// it and -1); /seed seeds the generator with x xor y.
void random_value(Val value, bool seed, bool secure, bool) {
  if (seed) {
    random::mt_seed(value->w2 ^ value->w3);
    *value = unset::make();
    return;
  }
  const int32_t x = x_of(*value);
  const int32_t y = y_of(*value);
  const int32_t rx = x == 0 ? 0 : random::int_range(secure, x);
  const int32_t ry = y == 0 ? 0 : random::int_range(secure, y);
  make_at(*value, rx, ry);
}

int32_t form(Val value, Val out, int32_t part) {
  char buffer[12];
  std::string text(integer::to_text(x_of(*value), buffer));
  text += 'x';
  text += integer::to_text(y_of(*value), buffer);
  return mold::emit(out, text, part);
}

int32_t mold_value(Val value, Val out, const MoldOptions&, int32_t part) { return form(value, out, part); }

// Which component a selector names (1 or 2), 0 for none.
int component_of(const Cell& selector) {
  if (cell::is(selector, TypeId::integer)) {
    const int32_t index = integer::get(selector);
    return index == 1 || index == 2 ? index : 0;
  }
  return coordinates::axis_of_word(selector, 2);
}

void store(Cell& pair, int which, int32_t value) { (which == 1 ? pair.w2 : pair.w3) = static_cast<uint32_t>(value); }

void eval_path(PathStep& step) {
  const int which = component_of(*step.selector);
  if (which == 0) error::raise(error_id::script::invalid_path, step.path, *step.selector);
  if (step.new_value) {
    if (!cell::is(*step.new_value, TypeId::integer)) integer::raise_invalid_type(*step.new_value);
    store(*step.value, which, integer::get(*step.new_value));
    return;
  }
  *step.value = integer::make(which == 1 ? x_of(*step.value) : y_of(*step.value));
}

void pick(Val value, Val index, int32_t) {
  const int which = component_of(*index);
  if (which == 0) {
    if (type_traits::is_any_word(cell::type_of(*index))) error::raise(error_id::script::cannot_use, *index, *value);
    error::raise(error_id::script::out_of_range, *index);
  }
  *value = integer::make(which == 1 ? x_of(*value) : y_of(*value));
}

int compare(const Cell& a, const Cell& b, CmpOp op) {
  if (cell::is(b, TypeId::point2d)) return point::compare(point::from_pair(a), b, op);
  if (!cell::is(b, TypeId::pair)) return -2;
  if (x_of(a) != x_of(b)) return x_of(a) < x_of(b) ? -1 : 1;
  if (y_of(a) != y_of(b)) return y_of(a) < y_of(b) ? -1 : 1;
  return 0;
}

// -2147483648 has no positive twin in 32 bits: negate and absolute raise
// math/overflow on it rather than answer a negative component.
int32_t negated(int32_t n) {
  if (n == integer::min_value) error::raise(error_id::math::overflow);
  return -n;
}

void absolute(Val value) {
  const int32_t x = x_of(*value);
  const int32_t y = y_of(*value);
  make_at(*value, x < 0 ? negated(x) : x, y < 0 ? negated(y) : y);
}

void negate(Val value) { make_at(*value, negated(x_of(*value)), negated(y_of(*value))); }

void reverse(Val value, std::optional<Val>, std::optional<Val>) { make_at(*value, y_of(*value), x_of(*value)); }

// Each component rounded as an integer! with the same refinements; a
// pair! scale gives each component its own. A result that comes back as a
// float (a float! scale) is truncated.
void round_value(Val value, const RoundOptions& options) {
  std::optional<Cell> scales[2];
  if (options.scale) {
    const Cell scale = **options.scale;
    if (cell::is(scale, TypeId::money)) integer::raise_not_related(TypeId::money, "round");
    if (cell::is(scale, TypeId::pair)) {
      scales[0] = integer::make(x_of(scale));
      scales[1] = integer::make(y_of(scale));
    } else {
      scales[0] = scales[1] = scale;
    }
  }
  const action::RoundFn round_integer = datatype::actions(TypeId::integer).round;
  int32_t rounded[2];
  for (int i = 0; i < 2; ++i) {
    Val part = integer::push(i == 0 ? x_of(*value) : y_of(*value));
    RoundOptions each = options;
    if (scales[i]) each.scale = stack::push(*scales[i]);
    round_integer(part, each);
    rounded[i] = cell::is(*part, TypeId::integer) ? integer::get(*part)
                                                   : truncate(coordinates::number_of(*part), *part);
    stack::pop(scales[i] ? 2 : 1);
  }
  make_at(*value, rounded[0], rounded[1]);
}

}  // namespace

void do_math(Val left, Val right, MathOp op) {
  const Cell other = *right;
  switch (cell::type_of(other)) {
    case TypeId::integer:
    case TypeId::pair:
      break;
    case TypeId::float_:
    case TypeId::percent: {
      const double f = cell::get_double(other);
      if (op == MathOp::multiply || op == MathOp::divide) {
        if (op == MathOp::divide ? std::isnan(f) : !std::isfinite(f)) error::raise(error_id::script::invalid_arg, other);
        *left = point::from_pair(*left);
        point::do_math(left, right, op);
        return;
      }
      if (!coordinates::fits_int32(f)) error::raise(error_id::script::invalid_arg, other);
      *right = integer::make(static_cast<int32_t>(f));
      break;
    }
    case TypeId::point2d:
      as_point_math(left, right, op);
      return;
    default:
      integer::raise_invalid_type(other);
  }
  const bool by_pair = cell::is(*right, TypeId::pair);
  const int32_t bx = by_pair ? x_of(*right) : integer::get(*right);
  const int32_t by = by_pair ? y_of(*right) : integer::get(*right);
  int32_t rx = 0, ry = 0;
  if (!component(x_of(*left), bx, op, rx) || !component(y_of(*left), by, op, ry)) {
    as_point_math(left, right, op);
    return;
  }
  make_at(*left, rx, ry);
}

void swapped_math(Val left, Val right, MathOp op) {
  const TypeId number = cell::type_of(*left);
  if (op == MathOp::divide) integer::raise_not_related(number, integer::op_name(op));
  const Cell scalar = *left;
  *left = *right;
  *right = scalar;
  if (op == MathOp::subtract) {
    // n - composite is -composite + n.
    datatype::actions(cell::type_of(*left)).negate(left);
    op = MathOp::add;
  }
  if (cell::is(*left, TypeId::pair)) do_math(left, right, op);
  else point::do_math(left, right, op);
}

void register_types() {
  datatype::register_type({TypeId::pair, TypeId::none_type, "pair!",
                           {.make = to_value,
                            .random = random_value,
                            .to = to_value,
                            .form = form,
                            .mold = mold_value,
                            .eval_path = eval_path,
                            .compare = compare,
                            .absolute = absolute,
                            .add = math<MathOp::add>,
                            .divide = math<MathOp::divide>,
                            .multiply = math<MathOp::multiply>,
                            .negate = negate,
                            .remainder = math<MathOp::remainder>,
                            .round = round_value,
                            .subtract = math<MathOp::subtract>,
                            .and_ = math<MathOp::and_>,
                            .or_ = math<MathOp::or_>,
                            .xor_ = math<MathOp::xor_>,
                            .pick = pick,
                            .reverse = reverse}});
}

}  // namespace kiv::pair
