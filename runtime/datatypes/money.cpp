#include "runtime/datatypes/money.h"

#include <cmath>
#include <string>
#include <string_view>

#include "runtime/core/error_raise.h"
#include "runtime/core/memory.h"
#include "runtime/core/series.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/system_settings.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/lexer.h"
#include "runtime/eval/random.h"
#include "runtime/float_text.h"
#include "runtime/mold.h"

namespace kiv::money {
namespace {

// An amount's magnitude in units of 0.00001: 22 decimal digits need 74 bits.
__extension__ typedef __int128 Units;

constexpr int digit_count = 22;
constexpr int fraction_digits = 5;

constexpr Units power10(int n) {
  Units p = 1;
  while (n-- > 0) p *= 10;
  return p;
}
constexpr Units limit = power10(digit_count);  // the first magnitude too large
constexpr Units one = power10(fraction_digits);

// The 12 bytes after the header: the currency, then the 11 digit bytes.
void bytes_of(const Cell& value, uint8_t (&bytes)[12]) { std::memcpy(bytes, &value.w1, sizeof bytes); }

int digit_at(const uint8_t (&bytes)[12], int position) {
  const uint8_t byte = bytes[1 + (position - 1) / 2];
  return position % 2 == 1 ? byte >> 4 : byte & 0x0F;
}

Units magnitude_of(const Cell& value) {
  uint8_t bytes[12];
  bytes_of(value, bytes);
  Units units = 0;
  for (int p = 1; p <= digit_count; ++p) units = units * 10 + digit_at(bytes, p);
  return units;
}

uint8_t currency_of(const Cell& value) { return static_cast<uint8_t>(value.w1 & 0xFF); }
bool sign_bit(const Cell& value) { return (value.header & sign_flag) != 0; }

// A money! cell of a magnitude below `limit`.
Cell make(bool negative, uint8_t currency, Units magnitude) {
  uint8_t bytes[12] = {};
  bytes[0] = currency;
  for (int p = digit_count; p >= 1; --p) {
    const auto digit = static_cast<uint8_t>(magnitude % 10);
    magnitude /= 10;
    uint8_t& byte = bytes[1 + (p - 1) / 2];
    byte = p % 2 == 1 ? static_cast<uint8_t>(byte | (digit << 4)) : static_cast<uint8_t>(byte | digit);
  }
  Cell value{cell::header(TypeId::money) | (negative ? sign_flag : 0u), 0, 0, 0};
  std::memcpy(&value.w1, bytes, sizeof bytes);
  return value;
}

// The signed amount.
Units amount_of(const Cell& value) {
  const Units magnitude = magnitude_of(value);
  return sign_bit(value) ? -magnitude : magnitude;
}

[[noreturn]] void raise_overflow() { error::raise(error_id::script::type_limit, datatype::make(TypeId::money)); }

// A signed amount into a cell, or the overflow error.
Cell make_signed(Units amount, uint8_t currency) {
  const Units magnitude = amount < 0 ? -amount : amount;
  if (magnitude >= limit) raise_overflow();
  return make(amount < 0, currency, magnitude);
}

// Significant digits: 22 less the leading zeros; 1 for zero.
int count_digits(Units magnitude) {
  int n = 0;
  while (magnitude > 0) ++n, magnitude /= 10;
  return n == 0 ? 1 : n;
}

// The currency list: system/locale/currencies/list when the system object
// holds it, else the built-in list.
std::string currency_code(uint8_t index) {
  const Cell list = system_settings::lookup({"locale", "currencies", "list"});
  if (cell::is(list, TypeId::block)) {
    if (index == 0 || index > block::count(list)) return {};
    const Cell code = *block::at(list, index - 1u);
    if (type_traits::is_all_word(cell::type_of(code))) return std::string(symbol::spelling(code.w2));
    return {};
  }
  return std::string(lexer::currency_code(index));
}

}  // namespace

uint8_t currency_index(std::string_view code) {
  const Cell list = system_settings::lookup({"locale", "currencies", "list"});
  if (cell::is(list, TypeId::block)) {
    const uint32_t count = std::min(block::count(list), 255u);
    for (uint32_t i = 0; i < count; ++i) {
      const Cell entry = *block::at(list, i);
      if (type_traits::is_all_word(cell::type_of(entry)) && symbol::equal_caseless(symbol::spelling(entry.w2), code))
        return static_cast<uint8_t>(i + 1);
    }
    return 0;
  }
  const uint32_t index = lexer::currency_index(code);
  return index <= 255 ? static_cast<uint8_t>(index) : 0;
}

Cell with_currency(Cell amount, uint8_t currency) {
  amount.w1 = (amount.w1 & ~0xFFu) | currency;
  return amount;
}

namespace {

// --- conversions -------------------------------------------------------------

[[noreturn]] void raise_bad_make(const Cell& value) {
  error::raise(error_id::script::bad_make_arg, datatype::make(TypeId::money), value);
}
[[noreturn]] void raise_bad_to(const Cell& value) {
  error::raise(error_id::script::bad_to_arg, datatype::make(TypeId::money), value);
}

// Whether a float's shortest digits fit in 5 fraction digits, within range.
bool float_fits(double number) {
  if (!std::isfinite(number)) return false;
  const double magnitude = std::fabs(number);
  if (magnitude >= 1e17 || (magnitude > 0.0 && magnitude < 0.00001)) return false;
  if (magnitude == 0.0) return true;
  const float_text::Digits digits = float_text::digits(number, 0);
  return digits.length - digits.point <= fraction_digits;
}

// Any operand of the arithmetic as money: integer! exactly, float! and
// percent! through their shortest digits (truncated), money! as it is.
Cell operand(const Cell& value) {
  switch (cell::type_of(value)) {
    case TypeId::money: return value;
    case TypeId::integer: return from_integer(integer::get(value));
    case TypeId::float_:
    case TypeId::percent: return from_float(cell::get_double(value), false);
    default: error::raise(error_id::script::invalid_type, datatype::make(cell::type_of(value)));
  }
}

// A text converted by the lexer's money scanner.
Cell from_text(const Cell& spec) {
  Cell made = make(false, 0, 0);
  int32_t error = 0;
  {
    NoGcScope no_gc;  // raw pointer into the string's buffer
    const SeriesBuf* buffer = memory::buffer(series::node_of(spec));
    const uint32_t count = series::length_from(spec);
    const uint8_t* text = buffer->head_ptr() + size_t{series::index_of(spec)} * buffer->unit();
    lexer::scan_money(text, count, buffer->unit(), error, made);
  }
  if (error != 0 || !cell::is(made, TypeId::money)) raise_bad_to(spec);
  return made;
}

void to_value(Val result, Val spec, TypeId) {
  const TypeId from = cell::type_of(*spec);
  if (type_traits::is_any_string(from)) {
    *result = from_text(*spec);
    return;
  }
  switch (from) {
    case TypeId::money: *result = *spec; return;
    case TypeId::integer: *result = from_integer(integer::get(*spec)); return;
    case TypeId::float_:
      *result = from_float(float_::get(*spec), true);
      return;
    default: raise_bad_to(*spec);
  }
}

// make money! 'usd, make money! [usd 12 50] (12.0005 dollars), else as to.
void make_value(Val result, Val spec, TypeId type) {
  const TypeId from = cell::type_of(*spec);
  if (type_traits::is_any_word(from)) {
    const uint8_t currency = currency_index(symbol::spelling(spec->w2));
    if (currency == 0) raise_bad_make(*spec);
    *result = make(false, currency, 0);
    return;
  }
  if (from != TypeId::block) {
    to_value(result, spec, type);
    return;
  }
  const uint32_t count = block::count(*spec);
  if (count < 1 || count > 3) raise_bad_make(*spec);
  uint32_t i = 0;
  uint8_t currency = 0;
  Cell item = *block::at(*spec, 0);
  if (type_traits::is_any_word(cell::type_of(item))) {
    currency = currency_index(symbol::spelling(item.w2));
    if (currency == 0) raise_bad_make(item);
    ++i;
  }
  Units amount = 0;
  if (i < count) {
    item = *block::at(*spec, i++);
    if (cell::is(item, TypeId::integer)) amount = amount_of(from_integer(integer::get(item)));
    else if (cell::is(item, TypeId::float_)) amount = amount_of(from_float(float_::get(item), true));
    else raise_bad_make(item);
    if (i < count) {
      item = *block::at(*spec, i++);
      if (!cell::is(item, TypeId::integer) || integer::get(item) < 0 || integer::get(item) > 99999) raise_bad_make(item);
      amount += (amount < 0 ? -1 : 1) * Units{integer::get(item)};
    }
  }
  if (i < count) raise_bad_make(*block::at(*spec, i));
  *result = make_signed(amount, currency);
}

// --- text --------------------------------------------------------------------

// The fraction digits form shows: system/options/money-digits, 2 without it.
int shown_fraction_digits() {
  const Cell digits = system_settings::lookup({"options", "money-digits"});
  return cell::is(digits, TypeId::integer) ? integer::get(digits) : 2;
}

// [-][CUR]$digits[.fraction]: grouping puts "'" between groups of three
// integer digits; the fraction is cut (not rounded) to its digit count.
std::string text_of(const Cell& value, bool all, bool grouping) {
  std::string out;
  if (signum(value) < 0) out += '-';
  if (currency_of(value) != 0) out += currency_code(currency_of(value));
  out += '$';
  const Units magnitude = magnitude_of(value);
  const std::string digits = [&] {
    std::string text(digit_count, '0');
    Units m = magnitude;
    for (int p = digit_count - 1; p >= 0; --p) text[static_cast<size_t>(p)] = static_cast<char>('0' + static_cast<int>(m % 10)), m /= 10;
    return text;
  }();
  const int whole = count_digits(magnitude) - fraction_digits;
  if (whole <= 0) out += '0';
  for (int p = digit_count - fraction_digits - whole + 1; whole > 0 && p <= 17; ++p) {
    out += digits[static_cast<size_t>(p - 1)];
    if (grouping && p != 17 && (p + 1) % 3 == 0) out += '\'';
  }
  int shown = shown_fraction_digits();
  if (all || shown > fraction_digits) shown = fraction_digits;
  if (shown > 0) {
    out += '.';
    out += digits.substr(17, static_cast<size_t>(shown));
  }
  return out;
}

int32_t form(Val value, Val out, int32_t part) { return mold::emit(out, text_of(*value, false, true), part); }
int32_t mold_value(Val value, Val out, const MoldOptions& options, int32_t part) {
  return mold::emit(out, text_of(*value, options.all, false), part);
}

// --- paths -------------------------------------------------------------------

// 1 code, 2 amount, 0 another selector.
int selected_field(const Cell& selector) {
  if (cell::is(selector, TypeId::integer)) {
    const int32_t index = integer::get(selector);
    return index == 1 || index == 2 ? index : 0;
  }
  if (!type_traits::is_any_word(cell::type_of(selector))) return 0;
  const std::string_view name = symbol::spelling(selector.w2);
  if (symbol::equal_caseless(name, "code")) return 1;
  if (symbol::equal_caseless(name, "amount")) return 2;
  return 0;
}

Cell field_value(const Cell& value, int field) {
  if (field == 2) {
    Cell amount = value;
    amount.w1 &= ~0xFFu;
    return amount;
  }
  if (currency_of(value) == 0) return none::make();
  const std::string code = currency_code(currency_of(value));
  return code.empty() ? none::make() : word::intern(code);
}

void eval_path(PathStep& step) {
  const int field = selected_field(*step.selector);
  if (field == 0) error::raise(error_id::script::invalid_path, step.path, *step.selector);
  if (step.new_value) error::raise(error_id::script::bad_path_set, step.path, *step.selector);
  *step.value = field_value(*step.value, field);
}

void pick(Val value, Val index, int32_t) {
  const int field = selected_field(*index);
  if (field == 0) error::raise(error_id::script::out_of_range, *index);
  *value = field_value(*value, field);
}

// --- arithmetic ----------------------------------------------------------------

void add(Val left, Val right) { do_math(left, right, MathOp::add); }
void subtract(Val left, Val right) { do_math(left, right, MathOp::subtract); }
void multiply(Val left, Val right) { do_math(left, right, MathOp::multiply); }
void divide(Val left, Val right) { do_math(left, right, MathOp::divide); }
void remainder(Val left, Val right) { do_math(left, right, MathOp::remainder); }

void absolute(Val value) { value->header &= ~sign_flag; }
void negate(Val value) { value->header ^= sign_flag; }

bool even(Val value) { return magnitude_of(*value) / one % 2 == 0; }
bool odd(Val value) { return magnitude_of(*value) / one % 2 != 0; }

// round: the magnitude moved to a multiple of the scale's magnitude (1
// without /to). A tie is a remainder of exactly half the scale; /even
// looks at the parity of the multiple below.
void round(Val value, const RoundOptions& options) {
  const Units magnitude = magnitude_of(*value);
  if (magnitude == 0) return;
  Units scale = one;
  if (options.scale) {
    const Cell& given = **options.scale;
    switch (cell::type_of(given)) {
      case TypeId::money: scale = magnitude_of(given); break;
      case TypeId::integer: scale = magnitude_of(from_integer(integer::get(given))); break;
      case TypeId::float_: scale = magnitude_of(from_float(float_::get(given), true)); break;
      default:
        error::raise(error_id::script::not_related, stack::caller_name(), datatype::make(cell::type_of(given)));
    }
  }
  if (scale == 0) return;
  const bool negative = signum(*value) < 0;
  const Units r = magnitude % scale;
  const Units toward = magnitude - r;
  const Units away = toward + (r == 0 ? 0 : scale);
  const bool tie = 2 * r == scale;
  const Units nearest = 2 * r < scale ? toward : away;
  // Toward +infinity: away from zero for a positive value.
  const Units up = negative ? toward : away;
  Units result;
  if (options.down) result = toward;
  else if (options.floor) result = negative ? away : toward;
  else if (options.ceiling) result = up;
  else if (options.even) result = tie ? ((toward / scale) % 2 == 0 ? toward : away) : nearest;
  else if (options.half_down) result = tie ? toward : nearest;
  else if (options.half_ceiling) result = tie ? up : nearest;
  else result = nearest;
  if (result >= limit) raise_overflow();
  const uint32_t flags = value->header & ~(cell::type_mask | sign_flag);
  *value = make(negative, currency_of(*value), result);
  value->header |= flags;
}

// Replaces the digits from the first significant one by random digits, so
// that the amount stays between 0 and the value.
void random_value(Val value, bool seed, bool secure, bool) {
  if (seed) {
    random::mt_seed(value->w1 ^ value->w2 ^ value->w3 ^ (value->header & sign_flag));
    *value = unset::make();
    return;
  }
  const Units magnitude = magnitude_of(*value);
  const int n = count_digits(magnitude);
  std::string digits(static_cast<size_t>(n), '0');
  Units m = magnitude;
  for (int i = n - 1; i >= 0; --i) digits[static_cast<size_t>(i)] = static_cast<char>('0' + static_cast<int>(m % 10)), m /= 10;
  bool free = false;
  for (char& c : digits) {
    const int d = c - '0';
    int r;
    if (free) {
      r = static_cast<int>(random::next31(secure) % 10);
    } else {
      // The top digit itself is drawn less often, so that every amount
      // below the value is about as likely.
      while (true) {
        r = static_cast<int>(random::next31(secure) % static_cast<uint32_t>(d + 1));
        if (r != d || random::next31(secure) % 1000 == random::next31(secure) % 1000) break;
      }
      free = r < d;
    }
    c = static_cast<char>('0' + r);
  }
  Units drawn = 0;
  for (char c : digits) drawn = drawn * 10 + (c - '0');
  const uint32_t flags = value->header & ~cell::type_mask;
  const uint8_t currency = currency_of(*value);
  *value = make(false, currency, drawn);
  value->header |= flags;
}

// The ordering of two currencies for sort: none first, then by code.
int compare_currencies(uint8_t a, uint8_t b) {
  if (a == b) return 0;
  if (a == 0 || b == 0) return a == 0 ? -1 : 1;
  const int order = symbol::compare_spellings(currency_code(a), currency_code(b), false);
  return (order > 0) - (order < 0);
}

int compare_amounts(Units a, Units b) { return (a > b) - (a < b); }

bool is_strict(CmpOp op) { return op == CmpOp::strict_equal || op == CmpOp::same || op == CmpOp::lookup; }

}  // namespace

int signum(const Cell& value) {
  if (magnitude_of(value) == 0) return 0;
  return sign_bit(value) ? -1 : 1;
}

Cell from_integer(int32_t number) {
  const int64_t magnitude = number < 0 ? -static_cast<int64_t>(number) : number;
  return make(number < 0, 0, Units{magnitude} * one);
}

Cell from_float(double number, bool strict) {
  const double magnitude = std::fabs(number);
  if (!std::isfinite(number) || magnitude >= 1e17 || (magnitude > 0.0 && magnitude < 0.00001))
    raise_bad_make(float_::make(number));
  if (magnitude == 0.0) return make(false, 0, 0);
  const float_text::Digits digits = float_text::digits(number, 0);
  if (strict && digits.length - digits.point > fraction_digits) raise_bad_make(float_::make(number));
  // 0.d1d2...dk x 10^point, in units of 10^-5, truncated.
  Units units = 0;
  const int last = digits.point + fraction_digits;  // digits before the cut
  for (int i = 0; i < last; ++i) units = units * 10 + (i < digits.length ? digits.buffer[i] - '0' : 0);
  return make(digits.negative, 0, units);
}

int32_t to_integer(const Cell& value) {
  const Units whole = magnitude_of(value) / one;
  const bool negative = signum(value) < 0;
  if (whole > (negative ? Units{2147483648LL} : Units{2147483647LL}))
    error::raise(error_id::script::type_limit, datatype::make(TypeId::integer));
  return static_cast<int32_t>(negative ? -static_cast<int64_t>(whole) : static_cast<int64_t>(whole));
}

double to_float(const Cell& value) {
  const Units magnitude = magnitude_of(value);
  if (magnitude == 0) return 0.0;
  const std::string text = text_of(value, true, false);
  const size_t dollar = text.find('$');
  const double number = float_text::parse(std::string_view(text).substr(dollar + 1)).value;
  return signum(value) * number;
}

void do_math(Val left, Val right, MathOp op) {
  const bool left_money = cell::is(*left, TypeId::money);
  const bool right_money = cell::is(*right, TypeId::money);
  if (op == MathOp::multiply && left_money && right_money)
    error::raise(error_id::script::invalid_type, datatype::make(TypeId::money));
  if ((op == MathOp::divide || op == MathOp::remainder) && !left_money && right_money)
    error::raise(error_id::script::invalid_type, datatype::make(cell::type_of(*left)));
  if (op != MathOp::add && op != MathOp::subtract && op != MathOp::multiply && op != MathOp::divide &&
      op != MathOp::remainder)
    error::raise(error_id::script::cannot_use, stack::caller_name(), datatype::make(TypeId::money));
  const Cell a = operand(*left);
  const Cell b = operand(*right);
  const uint8_t ca = currency_of(a);
  const uint8_t cb = currency_of(b);
  if (ca != 0 && cb != 0 && ca != cb) error::raise(error_id::script::wrong_denom, *left, *right);
  const uint8_t currency = cb != 0 ? cb : ca;
  const Units x = amount_of(a);
  const Units y = amount_of(b);
  Units result = 0;
  switch (op) {
    case MathOp::add: result = x + y; break;
    case MathOp::subtract: result = x - y; break;
    case MathOp::multiply: {
      if (x == 0 || y == 0) break;
      const Units mx = x < 0 ? -x : x;
      const Units my = y < 0 ? -y : y;
      // 28 significant digits at most keep the product within 128 bits and
      // below 10^28 units of 10^-10.
      if (count_digits(mx) + count_digits(my) > 28) raise_overflow();
      const Units product = mx * my / one;
      if (product == 0) raise_overflow();  // a non-zero product below 0.00001
      result = (x < 0) != (y < 0) ? -product : product;
      break;
    }
    case MathOp::divide:
    case MathOp::remainder: {
      if (y == 0) error::raise(error_id::math::zero_divide);
      if (op == MathOp::remainder) {
        result = x % y;  // the dividend's sign
        break;
      }
      if (x == 0) break;
      const Units mx = x < 0 ? -x : x;
      const Units my = y < 0 ? -y : y;
      const Units quotient = mx * one / my;
      if (quotient == 0 || quotient >= limit) raise_overflow();
      result = (x < 0) != (y < 0) ? -quotient : quotient;
      if (left_money && right_money) {
        *left = float_::make(to_float(make_signed(result, 0)));
        return;
      }
      break;
    }
    default: break;
  }
  // A zero result keeps the sign rule of the operation it came from: the
  // dividend's for a remainder, otherwise positive.
  Cell made = make_signed(result, currency);
  if (result == 0 && op == MathOp::remainder && sign_bit(a)) made.header |= sign_flag;
  if (result == 0 && (op == MathOp::add || op == MathOp::subtract) && y == 0) made.header = (made.header & ~sign_flag) | (a.header & sign_flag);
  const uint32_t flags = left->header & ~(cell::type_mask | sign_flag);
  *left = made;
  left->header |= flags;
}

int compare(const Cell& a, const Cell& b, CmpOp op) {
  const bool strict = op == CmpOp::lookup ? cell::is(b, TypeId::money) && currency_of(b) != 0 : is_strict(op);
  const TypeId other = cell::type_of(b);
  if (other != TypeId::money && strict) return 1;
  const Units x = amount_of(a);
  switch (other) {
    case TypeId::money: {
      const uint8_t ca = currency_of(a);
      const uint8_t cb = currency_of(b);
      const bool lenient_match = ca == 0 || cb == 0 || ca == cb;
      switch (op) {
        case CmpOp::lesser:
        case CmpOp::lesser_or_equal:
        case CmpOp::greater:
        case CmpOp::greater_or_equal:
          if (!lenient_match) error::raise(error_id::script::wrong_denom, a, b);
          break;
        case CmpOp::sort:
        case CmpOp::case_sort:
          if (const int order = compare_currencies(ca, cb)) return order;
          break;
        default:
          if (strict ? ca != cb : !lenient_match) return 1;
          break;
      }
      if (op == CmpOp::same) return x == amount_of(b) && sign_bit(a) == sign_bit(b) ? 0 : 1;
      return compare_amounts(x, amount_of(b));
    }
    case TypeId::integer:
      return compare_amounts(x, amount_of(from_integer(integer::get(b))));
    case TypeId::float_: {
      const double number = float_::get(b);
      if (float_fits(number)) return compare_amounts(x, amount_of(from_float(number, false)));
      // A float no amount equals: never equal; ordered by value.
      if (is_equality(op)) return 1;
      if (std::isnan(number)) return compares_unordered(op) ? 1 : -2;
      const double mine = to_float(a);
      return mine < number ? -1 : 1;
    }
    default:
      return -2;
  }
}

void register_types() {
  datatype::register_type({TypeId::money, TypeId::none_type, "money!",
                           {.make = make_value,
                            .random = random_value,
                            .to = to_value,
                            .form = form,
                            .mold = mold_value,
                            .eval_path = eval_path,
                            .compare = compare,
                            .absolute = absolute,
                            .add = add,
                            .divide = divide,
                            .multiply = multiply,
                            .negate = negate,
                            .remainder = remainder,
                            .round = round,
                            .subtract = subtract,
                            .even_q = even,
                            .odd_q = odd,
                            .pick = pick}});
}

}  // namespace kiv::money
