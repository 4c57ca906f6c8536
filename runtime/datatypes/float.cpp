#include "runtime/datatypes/float.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <initializer_list>
#include <string>

#include "runtime/check.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/memory.h"
#include "runtime/core/runtime_error.h"
#include "runtime/core/series.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/coordinates.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/lexer.h"
#include "runtime/eval/random.h"
#include "runtime/mold.h"

namespace kiv::float_ {
namespace {

using float_text::FormKind;

// The double of a number cell: integer! and char! by value, float!,
// percent! and time! by their stored double.
using coordinates::number_of;

// Makes `target` a `type` cell (float!, percent!, time!) of `number`,
// keeping its header flags.
void store(Cell& target, TypeId type, double number) {
  cell::set_type(target, type);
  target.w1 = 0;
  cell::set_double(target, number);
}

using integer::op_name;
using integer::raise_invalid_type;
using integer::raise_not_related;

[[noreturn]] void raise_bad_to(TypeId type, const Cell& spec) {
  error::raise(error_id::script::bad_to_arg, datatype::make(type), spec);
}

// Hand-over points to datatypes richer than float!. Each is the one place
// where a float operation continues in another type's code; until that
// type exists it raises internal/not-done.
namespace hand_over {

// A float compared with money!: the money comparison, read the other way
// round.
int compare_money(const Cell& a, const Cell& b, CmpOp op) {
  const int answer = money::compare(b, float_::make(cell::get_double(a)), op);
  return answer == -2 ? -2 : -answer;
}

// `to float!` of a money! value: its value as a double.
double from_money(const Cell& spec) { return money::to_float(spec); }

}  // namespace hand_over

// --- arithmetic --------------------------------------------------------------

// `x op y` in double arithmetic: IEEE results throughout (division by zero
// gives an infinity or NaN). The remainder takes the sign of x; by an
// infinity it is x itself when x is finite.
double do_math_op(double x, double y, MathOp op) {
  switch (op) {
    case MathOp::add: return x + y;
    case MathOp::subtract: return x - y;
    case MathOp::multiply: return x * y;
    case MathOp::divide: return x / y;
    case MathOp::remainder:
      if (std::isfinite(y)) return std::fmod(x, y);
      if (std::isnan(y) || !std::isfinite(x)) return float_text::kNaN;
      return x;
    case MathOp::or_:
    case MathOp::and_:
    case MathOp::xor_:
      break;
  }
  error::raise(error_id::script::cannot_use, stack::caller_name(), datatype::make(TypeId::float_));
}

template <MathOp op>
void math(Val left, Val right) {
  do_math(left, right, op);
}

// --- conversions -------------------------------------------------------------

// [mantissa exponent]: mantissa x 10^exponent, the exponent truncated to an
// integer. The mantissa's decimal text is read with the exponent added, so
// the result is the double nearest to the decimal value ([3 -1] is 0.3,
// exactly as the literal 0.3 reads).
double from_block(const Cell& spec, TypeId type) {
  if (block::count(spec) != 2) raise_bad_to(type, spec);
  const Cell mantissa = *block::at(spec, 0);
  const Cell exponent = *block::at(spec, 1);
  for (const Cell* part : {&mantissa, &exponent}) {
    if (!cell::is(*part, TypeId::integer) && !cell::is(*part, TypeId::float_)) raise_bad_to(type, spec);
  }
  const double power = std::trunc(number_of(exponent));
  if (std::isnan(power)) return float_text::kNaN;
  // Any exponent past +-400 already gives an infinity or zero.
  const auto shift = static_cast<int32_t>(std::clamp(power, -100000.0, 100000.0));
  if (cell::is(mantissa, TypeId::integer)) {
    char buffer[12];
    return float_text::parse(integer::to_text(integer::get(mantissa), buffer), shift).value;
  }
  const float_text::Text text = float_text::mold(cell::get_double(mantissa));
  return float_text::parse(text, shift).value;
}

// The percent! of a text: the text must load as one integer!, float! or
// percent! value ("50%", "0.5" and "1" give 0.5, 0.5 and 1.0). May collect.
double percent_from_text(const Cell& spec) {
  const Cell value = coordinates::load_one(spec).value_or(unset::make());
  switch (cell::type_of(value)) {
    case TypeId::integer:
    case TypeId::float_:
    case TypeId::percent:
      return number_of(value);
    default:
      raise_bad_to(TypeId::percent, spec);
  }
}

// The float! of a text: a decimal number, with "," accepted as the decimal
// point, or one of the texts float! forms as ("1.#INF", "-1.#INF",
// "1.#NaN").
double float_from_text(const Cell& spec) {
  {
    NoGcScope no_gc;  // raw pointer into the string's buffer
    const SeriesBuf* buffer = memory::buffer(series::node_of(spec));
    const uint32_t count = series::length_from(spec);
    const uint8_t* text = buffer->head_ptr() + size_t{series::index_of(spec)} * buffer->unit();
    int32_t error = 0;
    const double value = lexer::scan_float(text, count, buffer->unit(), error);
    if (error == 0) return value;
  }
  const std::string text = string::to_utf8(spec);
  const float_text::Scan scan = float_text::parse(text);
  if (scan.ok && scan.used == text.size() && text.find('#') != std::string::npos) return scan.value;
  raise_bad_to(TypeId::float_, spec);
}

// The first (up to) eight bytes from the binary's index as the bit pattern,
// big-endian: #{3FF0000000000000} is 1.0.
double from_binary(const Cell& spec) {
  const uint32_t count = std::min(series::length_from(spec), 8u);
  const uint8_t* bytes = memory::buffer(series::node_of(spec))->head_ptr() + series::index_of(spec);
  uint64_t bits = 0;
  for (uint32_t i = 0; i < count; ++i) bits = (bits << 8) | bytes[i];
  return std::bit_cast<double>(bits);
}

// `make` and `to` of float! and percent! (`type`). May collect (a percent!
// from text loads it).
void to_value(Val result, Val spec, TypeId type) {
  const TypeId from = cell::type_of(*spec);
  double number = 0.0;
  if (type_traits::is_any_list(from)) {
    number = from_block(*spec, type);
  } else if (type_traits::is_any_string(from)) {
    number = type == TypeId::percent ? percent_from_text(*spec) : float_from_text(*spec);
  } else {
    switch (from) {
      case TypeId::char_:
      case TypeId::integer:
      case TypeId::float_:
      case TypeId::percent:
      case TypeId::time:
        number = number_of(*spec);
        break;
      case TypeId::binary:
        number = from_binary(*spec);
        break;
      case TypeId::money:
        number = hand_over::from_money(*spec);
        break;
      default:
        raise_bad_to(type, *spec);
    }
  }
  const Cell made = type == TypeId::percent ? percent::make(number) : make(number);
  *result = made;
}

// --- actions -----------------------------------------------------------------

// A random double from 0 to the value (the cell keeps its type). With
// /seed the generator is seeded from both halves of the double and the
// result is unset.
void random_value(Val value, bool seed, bool secure, bool) {
  if (seed) {
    random::mt_seed(value->w2 ^ value->w3);
    *value = unset::make();
    return;
  }
  const double x = get(*value);
  double drawn;
  if (secure) {
    const double r1 = random::crypt_next();
    const double r2 = random::crypt_next();
    drawn = (r2 + r1 / 2147483647.0) / (2147483648.0 / x);
  } else {
    drawn = random::next31(false) / 2147483647.0 * x;
  }
  cell::set_double(*value, drawn);
}

int32_t form(Val value, Val out, int32_t part) {
  const float_text::Text text = float_text::form(get(*value), FormKind::float_value, options().pretty);
  return mold::emit(out, text, part);
}

int32_t mold_value(Val value, Val out, const MoldOptions&, int32_t part) {
  return mold::emit(out, float_text::mold(get(*value)), part);
}

// percent! forms and molds alike: the value times 100, 13 significant
// digits and "%".
int32_t form_percent(Val value, Val out, int32_t part) {
  const float_text::Text text = float_text::form(get(*value) * 100.0, FormKind::percent_value, options().pretty);
  return mold::emit(out, text, part);
}

int32_t mold_percent(Val value, Val out, const MoldOptions&, int32_t part) { return form_percent(value, out, part); }

void absolute(Val value) { value->w3 &= 0x7FFFFFFFu; }

// 0.0 - x, so that 0.0 and -0.0 both give 0.0.
void negate(Val value) { cell::set_double(*value, 0.0 - get(*value)); }

// Evenness of the value truncated toward zero. Infinities and NaN have no
// whole part: they are neither even nor odd.
bool even(Val value) {
  const double x = get(*value);
  return std::isfinite(x) && std::fmod(std::trunc(x), 2.0) == 0.0;
}
bool odd(Val value) {
  const double x = get(*value);
  return std::isfinite(x) && std::fmod(std::trunc(x), 2.0) != 0.0;
}

// --- round -------------------------------------------------------------------

// The whole number that `e` (the value in units of the scale) rounds to
// under the refinements given; `x` gives the sign of the results formed
// from |e|.
double round_units(double e, double x, const RoundOptions& options) {
  const double t = std::fabs(e);
  const double f = std::floor(t);
  const auto with_sign = [x](double magnitude) { return std::copysign(magnitude, x); };
  if (options.down) return with_sign(f);
  if (options.floor) return std::floor(e);
  if (options.ceiling) return std::ceil(e);
  const double tie = f + 0.5;
  if (t > tie) return with_sign(std::ceil(t));
  if (t < tie) return with_sign(f);
  if (options.even) return with_sign(std::fmod(t, 2.0) >= 1.0 ? std::ceil(t) : f);
  if (options.half_down) return with_sign(f);
  if (options.half_ceiling) return std::ceil(e);
  return with_sign(std::ceil(t));  // half away from zero
}

// x rounded to a multiple of the scale s (s > 0). A scale below 1.0 is
// applied through its reciprocal, which keeps results such as 1.23 for a
// scale of 0.01 exact; for scales near the smallest doubles, whose
// reciprocal would overflow, x is first scaled by a power of two.
double round_to_scale(double x, double s, const RoundOptions& options) {
  if (s >= 1.0) return round_units(x / s, x, options) * s;
  int k = 0;
  const double m = std::frexp(s, &k);
  double divisor = s;
  double scaled = x;
  if (k <= -1022) {
    scaled = std::ldexp(x, -k);
    divisor = m;
  } else {
    k = 0;
  }
  const double c = round_units(scaled * (1.0 / divisor), x, options);
  return std::ldexp(c / (1.0 / divisor), k);
}

}  // namespace

// A tuple!, money! or vector! right operand (tuple, money or the vector's
// scalar arithmetic), or a pair!/point! one to add or multiply (the pair or
// point arithmetic with the operands swapped).
void math_with_richer(Val left, Val right, MathOp op) {
  switch (cell::type_of(*right)) {
    case TypeId::money:
      money::do_math(left, right, op);
      return;
    case TypeId::pair:
    case TypeId::point2d:
    case TypeId::point3d:
      pair::swapped_math(left, right, op);
      return;
    case TypeId::tuple:
      tuple::swapped_math(left, right, op);
      return;
    case TypeId::vector:
      vector::op_scalar(left, right, op);
      return;
    default:
      error::raise(error_id::internal::not_done);
  }
}

double math_op(double x, double y, MathOp op) { return do_math_op(x, y, op); }

FormOptions& options() {
  static FormOptions settings;
  return settings;
}

bool almost_equal(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return false;
  if (a == b) return true;
  if (std::fabs(a - b) < float_text::kPrettyZero) return true;
  // Each pattern as a point on one unsigned line ordered like the doubles:
  // negative values below 2^63, non-negative ones from it upwards.
  const auto ordered = [](double x) {
    const auto bits = std::bit_cast<uint64_t>(x);
    return (bits >> 63) != 0 ? 0 - bits : bits | (uint64_t{1} << 63);
  };
  const uint64_t p = ordered(a);
  const uint64_t q = ordered(b);
  return (p > q ? p - q : q - p) <= 10;
}

bool almost_equal32(float a, float b) {
  if (std::isnan(a) || std::isnan(b)) return false;
  if (a == b) return true;
  const auto bits_a = std::bit_cast<uint32_t>(a);
  const auto bits_b = std::bit_cast<uint32_t>(b);
  if (std::isinf(a) || std::isinf(b)) {
    if ((bits_a >> 31) != (bits_b >> 31)) return false;
    const int64_t difference = static_cast<int64_t>(bits_a & 0x7FFFFFFF) - static_cast<int64_t>(bits_b & 0x7FFFFFFF);
    return std::abs(difference) < 0x100000;
  }
  // Sign and magnitude to a signed line ordered like the floats.
  const auto ordered = [](uint32_t bits) {
    const int64_t magnitude = bits & 0x7FFFFFFF;
    return (bits >> 31) != 0 ? -magnitude : magnitude;
  };
  return std::abs(ordered(bits_a) - ordered(bits_b)) <= 10;
}

bool is_special(double number) { return !std::isfinite(number); }

int32_t round_to_int(double number) {
  if (std::isnan(number)) return 0;
  const double rounded = std::trunc(number + float_text::kBelowHalf);
  if (rounded <= -2147483648.0) return integer::min_value;
  if (rounded >= 2147483647.0) return integer::max_value;
  return static_cast<int32_t>(rounded);
}

void do_math(Val left, Val right, MathOp op) {
  const TypeId first = cell::type_of(*left);
  const TypeId second = cell::type_of(*right);
  switch (second) {
    case TypeId::integer:
    case TypeId::float_:
    case TypeId::percent:
    case TypeId::time:
      break;
    case TypeId::char_:
      if (first == TypeId::time || first == TypeId::percent) raise_invalid_type(*right);
      break;
    case TypeId::tuple:
    case TypeId::money:
    case TypeId::vector:
      math_with_richer(left, right, op);
      return;
    case TypeId::pair:
    case TypeId::point2d:
    case TypeId::point3d:
      if (first == TypeId::time) raise_invalid_type(*right);
      if (op == MathOp::subtract || op == MathOp::divide) raise_not_related(second, op_name(op));
      math_with_richer(left, right, op);
      return;
    default:
      raise_invalid_type(*right);
  }
  const double result = do_math_op(number_of(*left), number_of(*right), op);
  TypeId type = TypeId::float_;
  if (first == TypeId::time || second == TypeId::time) type = TypeId::time;
  else if (first == TypeId::percent) type = TypeId::percent;
  store(*left, type, result);
}

int compare(const Cell& a, const Cell& b, CmpOp op) {
  const TypeId other = cell::type_of(b);
  // Strict equality, sameness and key lookup want the same datatype (a
  // percent! is not strictly equal to the float! of its fraction).
  if ((op == CmpOp::strict_equal || op == CmpOp::same || op == CmpOp::lookup) && other != cell::type_of(a)) return 1;
  switch (other) {
    case TypeId::integer:
    case TypeId::float_:
    case TypeId::percent:
    case TypeId::time:
      break;
    case TypeId::money:
      return hand_over::compare_money(a, b, op);
    default:
      return -2;
  }
  const double x = number_of(a);
  const double y = number_of(b);
  switch (op) {
    case CmpOp::equal:
    case CmpOp::not_equal:
      return almost_equal(x, y) ? 0 : 1;
    case CmpOp::strict_equal:
      return x == y ? 0 : 1;
    case CmpOp::same:
      return a.w2 == b.w2 && a.w3 == b.w3 ? 0 : 1;
    default:
      break;
  }
  if (std::isnan(x) || std::isnan(y)) {
    switch (op) {
      // Every ordering test with NaN is false.
      case CmpOp::lesser:
      case CmpOp::lesser_or_equal:
        return 1;
      case CmpOp::greater:
      case CmpOp::greater_or_equal:
        return -1;
      // A key search finds NaN only under NaN.
      case CmpOp::lookup:
        return std::isnan(x) && std::isnan(y) ? 0 : 1;
      // The sort orders leave NaN where it stands.
      default:
        return 0;
    }
  }
  return (x > y) - (x < y);
}

void power(Val base, Val exponent) {
  switch (cell::type_of(*exponent)) {
    case TypeId::integer:
    case TypeId::float_:
      break;
    default:
      check::raise_expect_arg(*exponent, 1);
  }
  const double result = std::pow(number_of(*base), number_of(*exponent));
  store(*base, TypeId::float_, result);
}

// round (value, /to scale and the mode refinements). The scale is 1 without
// /to (1% for a percent! value); with it, |scale|. For a percent! value a
// number scale counts in percent points (round/to 12.345% 1 is 12%), while
// a percent! scale is a fraction like the value (round/to 12.345% 5% is
// 10%).
//
// The result's type: without /to the value's; with an integer! scale
// integer!, with a float! or time! scale that type, with a percent! scale
// percent!; a percent! value always stays percent!.
//
// A value already whole at the scale's precision (|x| x 2^-53 above the
// scale), an infinity, NaN and a scale of 0 give the value unchanged (in the
// result's type). Raises math/overflow when a finite value rounds to an
// infinity, script/type-limit when an integer! result leaves 32 bits,
// script/not-related for a money! scale and script/expect-arg for a scale
// that is no number.
void round(Val value, const RoundOptions& options) {
  const TypeId type = cell::type_of(*value);
  const bool percent_value = type == TypeId::percent;
  double s = percent_value ? 0.01 : 1.0;
  TypeId result_type = type == TypeId::integer ? TypeId::float_ : type;
  if (options.scale) {
    const Cell& scale = **options.scale;
    const TypeId scale_type = cell::type_of(scale);
    switch (scale_type) {
      case TypeId::money:
        raise_not_related(TypeId::money, "round");
      case TypeId::integer:
      case TypeId::float_:
      case TypeId::percent:
      case TypeId::time:
        break;
      default:
        check::raise_expect_arg(scale, 2);  // round n /to scale
    }
    s = std::fabs(number_of(scale));
    if (percent_value && scale_type != TypeId::percent) s /= 100.0;
    if (!percent_value) result_type = scale_type;
  }
  const double x = number_of(*value);
  double result = x;
  if (s > 0.0 && !(s < std::fabs(x) * 0x1p-53)) {
    result = round_to_scale(x, s, options);
    if (std::isinf(result) && std::isfinite(x)) error::raise(error_id::math::overflow);
  }
  if (result_type == TypeId::integer) {
    if (integer::float_overflows(result)) error::raise(error_id::script::type_limit, datatype::make(TypeId::integer));
    integer::make_at(*value, static_cast<int32_t>(result));
    return;
  }
  store(*value, result_type, result);
}

void register_types() {
  datatype::register_type({TypeId::float_, TypeId::none_type, "float!",
                           {.make = to_value,
                            .random = random_value,
                            .to = to_value,
                            .form = form,
                            .mold = mold_value,
                            .compare = compare,
                            .absolute = absolute,
                            .add = math<MathOp::add>,
                            .divide = math<MathOp::divide>,
                            .multiply = math<MathOp::multiply>,
                            .negate = negate,
                            .power = power,
                            .remainder = math<MathOp::remainder>,
                            .round = round,
                            .subtract = math<MathOp::subtract>,
                            .even_q = even,
                            .odd_q = odd}});
}

}  // namespace kiv::float_

namespace kiv::percent {

void register_types() {
  datatype::register_type({TypeId::percent, TypeId::float_, "percent!",
                           {.make = inherit,
                            .random = inherit,
                            .to = inherit,
                            .form = float_::form_percent,
                            .mold = float_::mold_percent,
                            .compare = inherit,
                            .absolute = inherit,
                            .add = inherit,
                            .divide = inherit,
                            .multiply = inherit,
                            .negate = inherit,
                            .power = inherit,
                            .remainder = inherit,
                            .round = inherit,
                            .subtract = inherit,
                            .even_q = inherit,
                            .odd_q = inherit}});
}

}  // namespace kiv::percent
