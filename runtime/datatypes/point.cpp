#include "runtime/datatypes/point.h"

#include <cmath>
#include <string>

#include "runtime/core/error_raise.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/coordinates.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/unset.h"
#include "runtime/eval/random.h"
#include "runtime/float_text.h"
#include "runtime/hashtable.h"
#include "runtime/mold.h"

namespace kiv::point {
namespace {

// A point of `type` with every coordinate `c` (z only for point3D!).
Cell filled(TypeId type, float c) { return type == TypeId::point3d ? make3(c, c, c) : make2(c, c); }

// make and to of both point types (one set of rules).
void to_value(Val result, Val spec, TypeId type) {
  const Cell given = *spec;
  const TypeId from = cell::type_of(given);
  const int count = type == TypeId::point3d ? 3 : 2;
  if (type_traits::is_any_string(from)) {
    const std::optional<Cell> loaded = coordinates::load_one(given);
    if (!loaded || !cell::is(*loaded, type))
      error::raise(error_id::script::bad_to_arg, datatype::make(type), given);
    *result = *loaded;
    cell::clear_new_line(*result);
    return;
  }
  switch (from) {
    case TypeId::integer:
    case TypeId::float_:
      *result = filled(type, number_to_float32(given));
      return;
    case TypeId::pair: {
      const auto x = static_cast<float>(pair::x_of(given));
      const auto y = static_cast<float>(pair::y_of(given));
      *result = type == TypeId::point3d ? make3(x, y, 0.0f) : make2(x, y);
      return;
    }
    case TypeId::block: {
      if (block::count(given) < static_cast<uint32_t>(count)) error::raise(error_id::syntax::malconstruct, given);
      float c[3] = {};
      for (int i = 0; i < count; ++i) {
        const Cell item = *block::at(given, static_cast<uint32_t>(i));
        if (!cell::is(item, TypeId::integer) && !cell::is(item, TypeId::float_))
          error::raise(error_id::syntax::malconstruct, given);
        c[i] = number_to_float32(item);
      }
      *result = type == TypeId::point3d ? make3(c[0], c[1], c[2]) : make2(c[0], c[1]);
      return;
    }
    default:
      break;
  }
  if (from == type) {
    *result = given;
    cell::clear_new_line(*result);
    return;
  }
  if (from == TypeId::point2d && type == TypeId::point3d) {
    *result = make3(get(given, 0), get(given, 1), 0.0f);
    return;
  }
  error::raise(error_id::script::bad_to_arg, datatype::make(type), given);
}

template <MathOp op>
void math(Val left, Val right) {
  do_math(left, right, op);
}

// A random float between 0 and each non-zero coordinate; /seed seeds the
// generator with a hash of the coordinates' bytes.
void random_value(Val value, bool seed, bool secure, bool) {
  const int count = axes(*value);
  if (seed) {
    const uint32_t words[3] = {value->w1, value->w2, value->w3};
    random::mt_seed(hashtable::murmur3(words, sizeof(uint32_t) * static_cast<size_t>(count)));
    *value = unset::make();
    return;
  }
  for (int axis = 0; axis < count; ++axis) {
    const double c = get(*value, axis);
    if (c == 0.0) continue;
    double drawn;
    if (secure) {
      const double r1 = random::crypt_next();
      const double r2 = random::crypt_next();
      drawn = (r2 + r1 / 2147483647.0) / (2147483648.0 / c);
    } else {
      drawn = random::next31(false) / 2147483647.0 * c;
    }
    set(*value, axis, static_cast<float>(drawn));
  }
}

// "(x, y)" or "(x, y, z)", each coordinate in the 7-digit form of singles.
int32_t form(Val value, Val out, int32_t part) {
  std::string text = "(";
  for (int axis = 0; axis < axes(*value); ++axis) {
    if (axis > 0) text += ", ";
    const double c = get(*value, axis);
    text += float_text::form(c, float_text::FormKind::point_coordinate, float_::options().pretty).view();
  }
  text += ')';
  return mold::emit(out, text, part);
}

int32_t mold_value(Val value, Val out, const MoldOptions&, int32_t part) { return form(value, out, part); }

// The coordinate a selector names (0-based), or -1.
int axis_of(const Cell& selector, int count) {
  if (cell::is(selector, TypeId::integer)) {
    const int32_t index = integer::get(selector);
    return index >= 1 && index <= count ? index - 1 : -1;
  }
  return coordinates::axis_of_word(selector, count) - 1;
}

void eval_path(PathStep& step) {
  const int count = axes(*step.value);
  const Cell selector = *step.selector;
  const int axis = axis_of(selector, count);
  if (axis < 0) {
    if (type_traits::is_any_word(cell::type_of(selector)))
      error::raise(error_id::script::cannot_use, selector, *step.value);
    error::raise(error_id::script::invalid_path, step.path, selector);
  }
  if (step.new_value) {
    const Cell& given = *step.new_value;
    if (!cell::is(given, TypeId::integer) && !cell::is(given, TypeId::float_)) integer::raise_invalid_type(given);
    set(*step.value, axis, number_to_float32(given));
    return;
  }
  *step.value = float_::make(get(*step.value, axis));
}

void pick(Val value, Val index, int32_t) {
  const int count = axes(*value);
  const int axis = axis_of(*index, count);
  if (axis < 0) {
    if (type_traits::is_any_word(cell::type_of(*index))) error::raise(error_id::script::cannot_use, *index, *value);
    error::raise(error_id::script::out_of_range, *index);
  }
  *value = float_::make(get(*value, axis));
}

void absolute(Val value) {
  for (int axis = 0; axis < axes(*value); ++axis) set(*value, axis, std::fabs(get(*value, axis)));
}

// 0.0 - c, so that 0.0 stays 0.0.
void negate(Val value) {
  for (int axis = 0; axis < axes(*value); ++axis) set(*value, axis, static_cast<float>(0.0 - static_cast<double>(get(*value, axis))));
}

void reverse(Val value, std::optional<Val>, std::optional<Val>) {
  const int last = axes(*value) - 1;
  const float first = get(*value, 0);
  set(*value, 0, get(*value, last));
  set(*value, last, first);
}

// Each coordinate through float! round with the refinements given. A pair
// or point scale gives each coordinate its own (a point2D! scale leaves z
// of a point3D! a scale of 0.0).
void round_value(Val value, const RoundOptions& options) {
  const int count = axes(*value);
  Cell scales[3] = {};
  if (options.scale) {
    const Cell scale = **options.scale;
    switch (cell::type_of(scale)) {
      case TypeId::money:
        integer::raise_not_related(TypeId::money, "round");
      case TypeId::pair:
        scales[0] = integer::make(pair::x_of(scale));
        scales[1] = integer::make(pair::y_of(scale));
        scales[2] = float_::make(0.0);
        break;
      case TypeId::point2d:
      case TypeId::point3d:
        for (int axis = 0; axis < 3; ++axis)
          scales[axis] = float_::make(axis < axes(scale) ? static_cast<double>(get(scale, axis)) : 0.0);
        break;
      default:
        scales[0] = scales[1] = scales[2] = scale;
    }
  }
  const action::RoundFn round_float = datatype::actions(TypeId::float_).round;
  for (int axis = 0; axis < count; ++axis) {
    Val c = float_::push(get(*value, axis));
    RoundOptions each = options;
    if (options.scale) each.scale = stack::push(scales[axis]);
    round_float(c, each);
    set(*value, axis, static_cast<float>(coordinates::number_of(*c)));
    stack::pop(options.scale ? 2 : 1);
  }
}

}  // namespace

Cell from_pair(const Cell& pair) {
  return make2(static_cast<float>(pair::x_of(pair)), static_cast<float>(pair::y_of(pair)));
}

float number_to_float32(const Cell& number) { return static_cast<float>(coordinates::number_of(number)); }

void do_math(Val left, Val right, MathOp op) {
  const Cell other = *right;
  const int count = axes(*left);
  double operand[3] = {};
  switch (cell::type_of(other)) {
    case TypeId::integer:
      operand[0] = operand[1] = operand[2] = integer::get(other);
      break;
    case TypeId::float_:
    case TypeId::percent: {
      const double s = cell::get_double(other);
      if (op == MathOp::multiply || op == MathOp::divide) {
        // Straight floating point: a division by 0.0 gives infinities.
        for (int axis = 0; axis < count; ++axis) {
          const double c = get(*left, axis);
          set(*left, axis, static_cast<float>(op == MathOp::multiply ? c * s : c / s));
        }
        return;
      }
      operand[0] = operand[1] = operand[2] = s;
      break;
    }
    case TypeId::pair:
      if (count == 3) integer::raise_invalid_type(other);
      operand[0] = pair::x_of(other);
      operand[1] = pair::y_of(other);
      break;
    case TypeId::point2d:
    case TypeId::point3d:
      if (axes(other) != count) integer::raise_invalid_type(other);
      for (int axis = 0; axis < count; ++axis) operand[axis] = get(other, axis);
      break;
    default:
      integer::raise_invalid_type(other);
  }
  for (int axis = 0; axis < count; ++axis)
    set(*left, axis, static_cast<float>(float_::math_op(get(*left, axis), operand[axis], op)));
}

int compare(const Cell& a, const Cell& given, CmpOp op) {
  const Cell b = cell::is(a, TypeId::point2d) && cell::is(given, TypeId::pair) ? from_pair(given) : given;
  if (cell::type_of(b) != cell::type_of(a)) return -2;
  const int count = axes(a);
  switch (op) {
    case CmpOp::equal:
    case CmpOp::not_equal:
      for (int axis = 0; axis < count; ++axis)
        if (!float_::almost_equal32(get(a, axis), get(b, axis))) return 1;
      return 0;
    case CmpOp::strict_equal:
      for (int axis = 0; axis < count; ++axis)
        if (!(get(a, axis) == get(b, axis))) return 1;
      return 0;
    case CmpOp::same:
      return a.w1 == b.w1 && a.w2 == b.w2 && (count == 2 || a.w3 == b.w3) ? 0 : 1;
    default:
      break;
  }
  for (int axis = 0; axis < count; ++axis) {
    const float x = get(a, axis);
    const float y = get(b, axis);
    if (float_::almost_equal32(x, y)) continue;
    const double d = static_cast<double>(x) - static_cast<double>(y);
    return (d > 0) - (d < 0);
  }
  return 0;
}

void register_types() {
  for (const auto& [type, name] : {std::pair{TypeId::point2d, "point2D!"}, std::pair{TypeId::point3d, "point3D!"}}) {
    datatype::register_type({type, TypeId::none_type, name,
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
                              .pick = pick,
                              .reverse = reverse}});
  }
}

}  // namespace kiv::point
