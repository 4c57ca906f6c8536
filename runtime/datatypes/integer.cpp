#include "runtime/datatypes/integer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "runtime/check.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/memory.h"
#include "runtime/core/runtime_error.h"
#include "runtime/core/series.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/random.h"
#include "runtime/mold.h"

namespace kiv::integer {
namespace {

[[noreturn]] void raise_bad_to(const Cell& spec) {
  error::raise(error_id::script::bad_to_arg, datatype::make(TypeId::integer), spec);
}

// Makes `target` a float! of `number`, keeping its header flags: the answer
// of an integer operation whose exact result left 32 bits.
void float_at(Cell& target, double number) {
  cell::set_type(target, TypeId::float_);
  target.w1 = 0;
  cell::set_double(target, number);
}

// Hand-over points to richer datatypes. Each is the one place where an
// integer operation continues in another type's code; until that type
// exists it raises internal/not-done.
namespace hand_over {

// A float!, percent! or time! right operand: the integer becomes a double
// and float arithmetic decides (the result is float! or time!).
void float_math(Val left, Val right, MathOp op) { float_::do_math(left, right, op); }

// A vector!, pair!, point2D!, point3D!, tuple!, date! or money! right
// operand. The combinations that have no meaning are refused here; the
// others continue in the right operand's type: a vector's scalar operation;
// pair and point arithmetic with the operands swapped (a difference adds
// the negated pair or point); tuple arithmetic with the operands swapped; a
// date plus that many days; money arithmetic.
void richer_math(Val left, Val right, MathOp op) {
  if (cell::is(*right, TypeId::date)) {
    if (op != MathOp::add) raise_not_related(TypeId::integer, op_name(op));
    date::add_days_to_date(left, right);
    return;
  }
  float_::math_with_richer(left, right, op);
}

// Float power: the base (as it was given) becomes a double and the result
// is pow(base, exponent) as float!. Used for float! and negative exponents
// and when a product of the integer power leaves 32 bits.
void float_power(Val base, Val exponent) { float_::power(base, exponent); }

// Float rounding, for a /to scale that is neither integer! nor money!: the
// value becomes a double and is rounded with every refinement given; the
// result takes the type the float rounding gives it.
void float_round(Val value, const RoundOptions& options) { float_::round(value, options); }

// Comparison with a float!, percent! or time! (the integer as a double,
// float near-equality) or a money! (the integer as money).
// The money! comparison does not exist yet: internal/not-done.
int compare_richer(const Cell& a, const Cell& b, CmpOp op) {
  if (cell::is(b, TypeId::money)) {
    // money against the integer, read the other way round
    const int answer = money::compare(b, money::from_integer(get(a)), op);
    return answer == -2 ? -2 : -answer;
  }
  return float_::compare(float_::make(get(a)), b, op);
}

// `to integer!` of a date! (its integer form) or money! (its integer part).
// Seconds since 1970 outside the integer range raise script/type-limit.
void richer_to_integer(Val result, Val spec) {
  if (cell::is(*spec, TypeId::money)) {
    *result = make(money::to_integer(*spec));
    return;
  }
  const double seconds = date::to_epoch(*spec);
  if (float_overflows(seconds)) error::raise(error_id::script::type_limit, datatype::make(TypeId::integer));
  *result = make(static_cast<int32_t>(seconds));
}

}  // namespace hand_over

// --- conversions -----------------------------------------------------------

// An issue's text read as hexadecimal: at most 8 digits, giving the 32-bit
// pattern (#FFFFFFFF is -1).
int32_t from_issue(Val spec) {
  const std::string text(symbol::spelling(spec->w2));
  uint32_t bits = 0;
  if (text.empty() || text.size() > 8) error::raise(error_id::script::invalid_data, *spec);
  for (char c : text) {
    uint32_t digit;
    if (c >= '0' && c <= '9') digit = static_cast<uint32_t>(c - '0');
    else if (c >= 'A' && c <= 'F') digit = static_cast<uint32_t>(c - 'A' + 10);
    else if (c >= 'a' && c <= 'f') digit = static_cast<uint32_t>(c - 'a' + 10);
    else error::raise(error_id::script::invalid_data, *spec);
    bits = (bits << 4) | digit;
  }
  return static_cast<int32_t>(bits);
}

// The first (up to) four bytes from the binary's index, big-endian.
int32_t from_binary(const Cell& spec) {
  const uint32_t count = std::min(series::length_from(spec), 4u);
  const uint8_t* bytes = memory::buffer(series::node_of(spec))->head_ptr() + series::index_of(spec);
  uint32_t bits = 0;
  for (uint32_t i = 0; i < count; ++i) bits = (bits << 8) | bytes[i];
  return static_cast<int32_t>(bits);
}

// A double truncated toward zero; out of range raises script/type-limit.
int32_t from_double(double number) {
  if (float_overflows(number)) error::raise(error_id::script::type_limit, datatype::make(TypeId::integer));
  return static_cast<int32_t>(number);
}

void to_value(Val result, Val spec, TypeId) {
  const TypeId from = cell::type_of(*spec);
  int32_t value = 0;
  if (type_traits::is_any_string(from)) {
    const Scan read = scan(string::to_utf8(*spec));
    if (read.status != ScanStatus::ok) raise_bad_to(*spec);
    value = read.value;
  } else {
    switch (from) {
      case TypeId::integer:
      case TypeId::char_:
        value = get(*spec);
        break;
      case TypeId::float_:
      case TypeId::percent:
        value = from_double(cell::get_double(*spec));
        break;
      case TypeId::time:
        // The seconds rounded half away from zero, so that -1.7 s gives -2
        // as 1.7 s gives 2.
        value = from_double(std::round(cell::get_double(*spec)));
        break;
      case TypeId::issue:
        value = from_issue(spec);
        break;
      case TypeId::binary:
        value = from_binary(*spec);
        break;
      case TypeId::date:
      case TypeId::money:
        hand_over::richer_to_integer(result, spec);
        return;
      default:
        raise_bad_to(*spec);
    }
  }
  *result = make(value);
}

// `make integer!`: true and false give 1 and 0; anything else as `to`.
void make_value(Val result, Val spec, TypeId type) {
  if (cell::is(*spec, TypeId::logic)) {
    *result = make(logic::get(*spec) ? 1 : 0);
    return;
  }
  to_value(result, spec, type);
}

// --- actions ----------------------------------------------------------------

// A random integer in 1..n (n..-1 for negative n, 0 for 0). The cell keeps
// its type: char! draws a code point the same way. With /seed the value
// seeds the generator and the result is unset.
void random_value(Val value, bool seed, bool secure, bool) {
  if (seed) {
    random::mt_seed(value->w2);
    *value = unset::make();
    return;
  }
  value->w2 = static_cast<uint32_t>(random::int_range(secure, get(*value)));
}

int32_t form(Val value, Val out, int32_t part) {
  char buffer[12];
  return mold::emit(out, to_text(get(*value), buffer), part);
}

int32_t mold_value(Val value, Val out, const MoldOptions&, int32_t part) { return form(value, out, part); }

int compare(const Cell& a, const Cell& b, CmpOp op) {
  const TypeId other = cell::type_of(b);
  // Strict equality, sameness and key lookup want the same datatype.
  if ((op == CmpOp::strict_equal || op == CmpOp::same || op == CmpOp::lookup) && other != TypeId::integer) return 1;
  switch (other) {
    case TypeId::integer:
    case TypeId::char_: {
      const int32_t x = get(a);
      const int32_t y = get(b);
      return (x > y) - (x < y);
    }
    case TypeId::float_:
    case TypeId::percent:
    case TypeId::time:
    case TypeId::money:
      return hand_over::compare_richer(a, b, op);
    default:
      return -2;
  }
}

// absolute and negate keep the cell's type and flags (char! inherits
// absolute); -2147483648 has no positive twin in 32 bits.
void absolute(Val value) {
  const int32_t n = get(*value);
  if (n == min_value) error::raise(error_id::math::overflow);
  value->w2 = static_cast<uint32_t>(n < 0 ? -n : n);
}

void negate(Val value) {
  const int32_t n = get(*value);
  if (n == min_value) error::raise(error_id::math::overflow);
  value->w2 = static_cast<uint32_t>(-n);
}

void complement(Val value) { value->w2 = ~value->w2; }

bool even(Val value) { return (value->w2 & 1) == 0; }
bool odd(Val value) { return (value->w2 & 1) != 0; }

template <MathOp op>
void math(Val left, Val right) {
  do_math(left, right, op);
}

// Square and multiply in 32 bits. The squaring only counts as an overflow
// when more exponent bits remain to use it.
std::optional<int32_t> integer_power(int32_t base, uint32_t exponent) {
  int32_t result = 1;
  while (exponent != 0) {
    if ((exponent & 1) != 0 && __builtin_mul_overflow(result, base, &result)) return std::nullopt;
    exponent >>= 1;
    if (exponent != 0 && __builtin_mul_overflow(base, base, &base)) return std::nullopt;
  }
  return result;
}

void power(Val base, Val exponent) {
  switch (cell::type_of(*exponent)) {
    case TypeId::integer: {
      const int32_t e = get(*exponent);
      if (e >= 0) {
        if (const auto result = integer_power(get(*base), static_cast<uint32_t>(e))) {
          make_at(*base, *result);
          return;
        }
      }
      hand_over::float_power(base, exponent);
      return;
    }
    case TypeId::float_:
      hand_over::float_power(base, exponent);
      return;
    default:
      check::raise_expect_arg(*exponent, 1);
  }
}

// Rounds n to a multiple of the /to scale (1 without it). The work is done
// on 64-bit magnitudes, so -2147483648 and a scale of -2147483648 need no
// special case: only a result outside 32 bits raises math/overflow.
void round_value(Val value, const RoundOptions& options) {
  int64_t scale = 1;
  if (options.scale) {
    const Cell& given = **options.scale;
    if (cell::is(given, TypeId::money)) raise_not_related(TypeId::money, "round");
    if (!cell::is(given, TypeId::integer)) {
      hand_over::float_round(value, options);
      return;
    }
    scale = std::abs(static_cast<int64_t>(get(given)));
  }
  const int64_t n = get(*value);
  if (scale == 0) return;
  const int64_t m = n < 0 ? -n : n;
  const int64_t r = m % scale;
  if (r == 0) return;
  const int64_t down = m - r;
  const int64_t up = m + (scale - r);
  const int64_t sign = n < 0 ? -1 : 1;

  int64_t rounded;
  if (options.down) {
    rounded = sign * down;
  } else if (options.floor) {
    rounded = n >= 0 ? down : -up;
  } else if (options.ceiling) {
    rounded = n >= 0 ? up : -down;
  } else if (r < scale - r) {
    rounded = sign * down;
  } else if (r > scale - r) {
    rounded = sign * up;
  } else if (options.even) {
    rounded = sign * ((m / scale) % 2 != 0 ? up : down);
  } else if (options.half_down) {
    rounded = sign * down;
  } else if (options.half_ceiling) {
    rounded = n >= 0 ? up : -down;
  } else {
    rounded = sign * up;  // half away from zero
  }
  if (rounded < min_value || rounded > max_value) error::raise(error_id::math::overflow);
  make_at(*value, static_cast<int32_t>(rounded));
}

}  // namespace

std::string_view to_text(int32_t value, char (&buffer)[12]) {
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  return {buffer, static_cast<size_t>(end - buffer)};
}

bool float_overflows(double number) { return !(number >= -2147483648.0 && number <= 2147483647.0); }

Scan scan(std::string_view text) {
  size_t at = 0;
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    at = 1;
  }
  constexpr int64_t limit = int64_t{1} << 31;  // the magnitude of -2147483648
  int64_t magnitude = 0;
  bool digits = false;
  bool too_big = false;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '\'') continue;
    if (c < '0' || c > '9') return {ScanStatus::bad_text, 0};
    digits = true;
    if (!too_big) {
      magnitude = magnitude * 10 + (c - '0');
      too_big = magnitude > limit;
    }
  }
  if (!digits) return {ScanStatus::bad_text, 0};
  if (too_big || (!negative && magnitude == limit)) return {ScanStatus::overflow, 0};
  return {ScanStatus::ok, static_cast<int32_t>(negative ? -magnitude : magnitude)};
}

void do_math(Val left, Val right, MathOp op) {
  switch (cell::type_of(*right)) {
    case TypeId::integer:
    case TypeId::char_:
      break;
    case TypeId::float_:
    case TypeId::percent:
    case TypeId::time:
      hand_over::float_math(left, right, op);
      return;
    case TypeId::vector:
    case TypeId::pair:
    case TypeId::point2d:
    case TypeId::point3d:
    case TypeId::tuple:
    case TypeId::date:
    case TypeId::money:
      hand_over::richer_math(left, right, op);
      return;
    default:
      raise_invalid_type(*right);
  }
  const int32_t a = get(*left);
  const int32_t b = get(*right);
  int32_t result = 0;
  const bool whole = do_math_op(a, b, op, result);
  const double x = a;
  const double y = b;
  if (!whole) {
    // Beyond 32 bits: the exact answer as a double (a product of two int32
    // rounds once, like any double product).
    float_at(*left, op == MathOp::add ? x + y : op == MathOp::subtract ? x - y : x * y);
  } else if (op == MathOp::divide && result * b != a) {
    float_at(*left, x / y);  // not a whole quotient
  } else {
    make_at(*left, result);
  }
}

void register_types() {
  datatype::register_type({TypeId::integer, TypeId::none_type, "integer!",
                           {.make = make_value,
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
                            .round = round_value,
                            .subtract = math<MathOp::subtract>,
                            .even_q = even,
                            .odd_q = odd,
                            .and_ = math<MathOp::and_>,
                            .complement = complement,
                            .or_ = math<MathOp::or_>,
                            .xor_ = math<MathOp::xor_>}});
}

const char* op_name(MathOp op) {
  switch (op) {
    case MathOp::add: return "add";
    case MathOp::subtract: return "subtract";
    case MathOp::multiply: return "multiply";
    case MathOp::divide: return "divide";
    case MathOp::remainder: return "remainder";
    case MathOp::or_: return "or~";
    case MathOp::and_: return "and~";
    case MathOp::xor_: return "xor~";
  }
  runtime::fatal(runtime::error_no_switch_match, 0);
}

[[noreturn]] void raise_not_related(TypeId type, const char* name) {
  const Cell action_word = word::intern(name);
  error::raise(error_id::script::not_related, datatype::make(type), action_word);
}

[[noreturn]] void raise_invalid_type(const Cell& value) {
  error::raise(error_id::script::invalid_type, datatype::make(cell::type_of(value)));
}

}  // namespace kiv::integer
