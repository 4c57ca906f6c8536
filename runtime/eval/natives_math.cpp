#include "runtime/eval/natives_math.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/base_encoding.h"
#include "runtime/check.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/memory.h"
#include "runtime/core/series.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/coordinates.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/file.h"
#include "runtime/eval/compare.h"
#include "runtime/eval/native_args.h"
#include "runtime/os.h"
#include "runtime/unicode.h"

namespace kiv::natives {
namespace {

using native_args::answer;
using native_args::arg;
using native_args::refinement_arg;
using native_args::used;

constexpr double pi = std::numbers::pi;
constexpr double double_epsilon = 2.220446049250313e-16;

// An integer!, float! or percent! argument as a double (a percent as its
// fraction: 50% is 0.5).
double number_of(const Cell& value) {
  return cell::is(value, TypeId::integer) ? static_cast<double>(integer::get(value)) : cell::get_double(value);
}

Flow answer_float(double number) { return answer(float_::make(number)); }

// ---- max and min ----

bool is_plain_number(const Cell& value) { return type_traits::is_number(cell::type_of(value)); }

bool is_nan(const Cell& value) {
  return (cell::is(value, TypeId::float_) || cell::is(value, TypeId::percent)) && std::isnan(cell::get_double(value));
}

bool is_composite(TypeId type) {
  return type == TypeId::pair || type == TypeId::point2d || type == TypeId::point3d || type == TypeId::tuple;
}

// The larger or smaller of two floats; a NaN in `b` wins.
float pick_float(float a, float b, bool max) {
  if (std::isnan(b)) return b;
  return max ? (b > a ? b : a) : (b < a ? b : a);
}

// max and min of a pair, point or tuple `first` against `second`, part by
// part; nothing when the two combine no other way than by lesser?.
std::optional<Cell> composite_max_min(Cell first, Cell second, bool max) {
  const TypeId type = cell::type_of(first);
  const TypeId other = cell::type_of(second);
  const bool scalar = other == TypeId::integer || other == TypeId::float_;
  if (type == TypeId::pair && scalar) {
    const double n = number_of(second);
    if (other == TypeId::integer || coordinates::fits_int32(n)) {
      second = pair::make(static_cast<int32_t>(n), static_cast<int32_t>(n));
    } else {
      second = point::make2(static_cast<float>(n), static_cast<float>(n));
    }
  }
  if (type == TypeId::pair && cell::is(second, TypeId::pair)) {
    const auto pick = [max](int32_t a, int32_t b) { return max ? std::max(a, b) : std::min(a, b); };
    return pair::make(pick(pair::x_of(first), pair::x_of(second)), pick(pair::y_of(first), pair::y_of(second)));
  }
  if (type == TypeId::pair && cell::is(second, TypeId::point2d)) first = point::from_pair(first);
  const TypeId point_type = cell::type_of(first);
  if (point_type == TypeId::point2d || point_type == TypeId::point3d) {
    Cell operand = second;
    if (scalar) {
      const float n = point::number_to_float32(second);
      operand = point::make3(n, n, n);
    } else if (cell::is(second, TypeId::pair)) {
      operand = point::from_pair(second);
    } else if (cell::type_of(second) != point_type) {
      return std::nullopt;
    }
    for (int axis = 0; axis < point::axes(first); ++axis)
      point::set(first, axis, pick_float(point::get(first, axis), point::get(operand, axis), max));
    return first;
  }
  if (point_type == TypeId::tuple) return tuple::max_min(first, second, max);
  return std::nullopt;
}

// Between two numbers a NaN wins. Pairs, points and tuples take the larger
// or smaller of each part (a scalar applies to every part). Otherwise the
// values are ordered by lesser?, so on a tie max answers its first argument
// and min its second.
Flow max_min(bool max) {
  const Cell first = *arg(0);
  const Cell second = *arg(1);
  if (is_composite(cell::type_of(first)) || is_composite(cell::type_of(second))) {
    const bool swap = !is_composite(cell::type_of(first));
    if (const auto result = composite_max_min(swap ? second : first, swap ? first : second, max)) return answer(*result);
  }
  if (is_plain_number(first) && is_plain_number(second)) {
    if (is_nan(first)) return answer(first);
    if (is_nan(second)) return answer(second);
  }
  const bool first_lesser = compare::test(first, second, CmpOp::lesser);
  if (max) return answer(first_lesser ? second : first);
  return answer(first_lesser ? first : second);
}

// ---- trigonometry ----

// Which function an angle in degrees is reduced for: each folds the angle
// into the range where its function is most exact, keeping its value.
enum class Fold { tangent, cosine, sine };

// Degrees to radians: the angle is first brought into -180..180, then
// folded into -90..90 where the function allows it (tangent has period
// 180, sine is symmetric about 90; cosine is left as it is). So sine 180
// is exactly 0.0.
double degrees_to_radians(double angle, Fold fold) {
  double x = std::fmod(angle, 360.0);
  if (x > 180.0 || x < -180.0) x += x >= 0.0 ? -360.0 : 360.0;
  if (x > 90.0 || x < -90.0) {
    switch (fold) {
      case Fold::tangent: x += x >= 0.0 ? -180.0 : 180.0; break;
      case Fold::sine: x = x >= 0.0 ? 180.0 - x : -180.0 - x; break;
      case Fold::cosine: break;
    }
  }
  return x * pi / 180.0;
}

enum class TrigRefinement { radians };

// The angle argument in radians.
double angle_arg(const int32_t* refinements, Fold fold) {
  const double angle = number_of(*arg(0));
  return used(refinements, TrigRefinement::radians) ? angle : degrees_to_radians(angle, fold);
}

// A result closer to zero than the double epsilon is the rounding error of
// an exact zero (cosine 90): it is answered as 0.0.
Flow answer_snapped(double number) { return answer_float(std::fabs(number) < double_epsilon ? 0.0 : number); }

// An angle in radians, given in degrees unless radians were asked for.
Flow answer_angle(const int32_t* refinements, double radians) {
  return answer_float(used(refinements, TrigRefinement::radians) ? radians : radians * 180.0 / pi);
}

// ---- conversions ----

// The code points of a string from its index.
std::u32string code_points(const Cell& value) {
  const NodeId node = series::node_of(value);
  const uint32_t tail = memory::buffer(node)->length();
  std::u32string text;
  for (uint32_t i = series_type::head(value); i < tail; ++i) text += static_cast<char32_t>(string::char_at(node, i));
  return text;
}

// Appends code points to a string. May collect.
void append_code_points(Val out, std::u32string_view text) {
  for (const char32_t c : text) string::append_char(out, c);
}

// A new string! of ASCII text.
Cell new_ascii_string(std::string_view text) {
  Val out = string::push_new(static_cast<uint32_t>(text.size()));
  string::append_latin1(out, text);
  const Cell result = *out;
  stack::pop(1);
  return result;
}

// The two classes of series that `as` converts within: the block types
// that share the block layout, and the string types.
enum class SeriesClass { none, block, string };

SeriesClass class_of(TypeId type) {
  switch (type) {
    case TypeId::block:
    case TypeId::paren:
    case TypeId::path:
    case TypeId::lit_path:
    case TypeId::set_path:
    case TypeId::get_path: return SeriesClass::block;
    default:
      if (type_traits::is_any_string(type) && datatype::is_registered(type)) return SeriesClass::string;
      return SeriesClass::none;
  }
}

}  // namespace

// A currency code and an amount (integer! exactly, float! through its
// shortest digits, truncated at the fifth decimal).
Flow native_as_money(const int32_t*) {
  const Cell code = *arg(0);
  const uint8_t currency = money::currency_index(symbol::spelling(code.w2));
  if (currency == 0) error::raise(error_id::script::bad_denom, code);
  const Cell amount = *arg(1);
  const Cell made = cell::is(amount, TypeId::integer) ? money::from_integer(integer::get(amount))
                                                      : money::from_float(cell::get_double(amount), false);
  return answer(money::with_currency(made, currency));
}

Flow native_max(const int32_t*) { return max_min(true); }
Flow native_min(const int32_t*) { return max_min(false); }

enum class ShiftRefinement { left, logical };

// A negative count shifts by 0; a count above 31 shifts every bit out.
Flow native_shift(const int32_t* refinements) {
  const Shift direction = used(refinements, ShiftRefinement::left)      ? Shift::left
                          : used(refinements, ShiftRefinement::logical) ? Shift::logical
                                                                        : Shift::right;
  return answer(integer::make(shift_bits(integer::get(*arg(0)), integer::get(*arg(1)), direction)));
}

enum class ToHexRefinement { size };

// Eight upper-case hexadecimal digits (two's complement), or the last N of
// them with /size N.
Flow native_to_hex(const int32_t* refinements) {
  constexpr std::string_view hex = "0123456789ABCDEF";
  const auto value = static_cast<uint32_t>(integer::get(*arg(0)));
  char digits[8];
  for (int i = 0; i < 8; ++i) digits[7 - i] = hex[(value >> (4 * i)) & 15];
  int32_t count = 8;
  if (used(refinements, ToHexRefinement::size)) {
    const Cell size = *refinement_arg(refinements, ToHexRefinement::size);
    if (integer::get(size) < 1) error::raise(error_id::script::invalid_arg, size);
    count = std::min(count, integer::get(size));
  }
  return answer(word::make_issue(std::string_view(digits + 8 - count, static_cast<size_t>(count))));
}

Flow native_sine(const int32_t* refinements) { return answer_snapped(std::sin(angle_arg(refinements, Fold::sine))); }

Flow native_cosine(const int32_t* refinements) {
  return answer_snapped(std::cos(angle_arg(refinements, Fold::cosine)));
}

// At exactly a right angle the tangent is infinite, with the angle's sign.
Flow native_tangent(const int32_t* refinements) {
  const double radians = angle_arg(refinements, Fold::tangent);
  if (radians == pi / 2) return answer_float(INFINITY);
  if (radians == -pi / 2) return answer_float(-INFINITY);
  return answer_float(std::tan(radians));
}

Flow native_arcsine(const int32_t* refinements) {
  return answer_angle(refinements, std::asin(number_of(*arg(0))));
}

Flow native_arccosine(const int32_t* refinements) {
  return answer_angle(refinements, std::acos(number_of(*arg(0))));
}

Flow native_arctangent(const int32_t* refinements) {
  return answer_angle(refinements, std::atan(number_of(*arg(0))));
}

// The angle of the point (x, y): the arguments come y first.
Flow native_arctangent2(const int32_t* refinements) {
  return answer_angle(refinements, std::atan2(number_of(*arg(0)), number_of(*arg(1))));
}

// The logarithms of zero and of negative numbers are what the C library
// gives (-infinity, NaN): no error.
Flow native_log_2(const int32_t*) { return answer_float(std::log(number_of(*arg(0))) / 0.6931471805599453); }
Flow native_log_10(const int32_t*) { return answer_float(std::log10(number_of(*arg(0)))); }
Flow native_log_e(const int32_t*) { return answer_float(std::log(number_of(*arg(0)))); }
Flow native_exp(const int32_t*) { return answer_float(std::pow(2.718281828459045, number_of(*arg(0)))); }
Flow native_square_root(const int32_t*) { return answer_float(std::sqrt(number_of(*arg(0)))); }

// The same series (buffer and index) under another type of its class; the
// type is given as a datatype or by a value of it.
Flow native_as(const int32_t*) {
  const Cell type = *arg(0);
  const Cell series = *arg(1);
  const TypeId target = cell::is(type, TypeId::datatype) ? datatype::get(type) : cell::type_of(type);
  const TypeId source = cell::type_of(series);
  const SeriesClass target_class = class_of(target);
  if (target_class == SeriesClass::none || target_class != class_of(source))
    error::raise(error_id::script::not_same_class, datatype::make(target), datatype::make(source));
  Cell result = series;
  return answer(cell::set_type(result, target));
}

Flow native_dehex(const int32_t*) {
  const std::u32string text = url::decode(unicode::to_utf8(*arg(0)));
  Val out = string::push_new(static_cast<uint32_t>(text.size()));
  append_code_points(out, text);
  return answer(*out);
}

Flow native_enhex(const int32_t*) {
  const Cell value = *arg(0);
  return answer(new_ascii_string(url::encode(unicode::to_utf8(value), cell::is(value, TypeId::string) ? url::KeptSet::unreserved : url::KeptSet::url)));
}

enum class EnbaseRefinement { base };

// The UTF-8 bytes of a string from its index, in base 64 or the base
// given. (binary! values, encoded from their own bytes, join with their
// datatype.)
// The base of enbase and debase: 64 unless /base gives another one of
// the four.
template <class Refinement>
int32_t base_of(const int32_t* refinements, Refinement which) {
  if (!used(refinements, which)) return 64;
  const Cell given = *refinement_arg(refinements, which);
  const int32_t base = integer::get(given);
  if (!base_encoding::is_supported(base)) error::raise(error_id::script::invalid_arg, given);
  return base;
}

Flow native_enbase(const int32_t* refinements) {
  const Cell value = *arg(0);
  const int32_t base = base_of(refinements, EnbaseRefinement::base);
  // A string is encoded as UTF-8; a binary as its bytes from its index.
  const std::string bytes = cell::is(value, TypeId::binary) ? binary::bytes_from_index(value) : unicode::to_utf8(value);
  if (!base_encoding::encoded_size(base, bytes.size())) error::raise(error_id::script::too_long);
  return answer(new_ascii_string(base_encoding::encode(base, bytes)));
}

enum class DebaseRefinement { base };

// The bytes a string encodes in base 64 (or the /base given), as a new
// binary!; none when the text is not valid in that base.
Flow native_debase(const int32_t* refinements) {
  const int32_t base = base_of(refinements, DebaseRefinement::base);
  const std::optional<std::string> bytes = base_encoding::decode(base, code_points(*arg(0)));
  if (!bytes) return answer(none::make());
  return answer(binary::make(*bytes));
}

enum class ToLocalFileRefinement { full };

// Paths are POSIX paths on this system, so the local form is the path's own
// text (raw bytes of a name stay raw bytes); /full puts the current
// directory in front of a relative path.
Flow native_to_local_file(const int32_t* refinements) {
  const std::u32string path = code_points(*arg(0));
  Val out = string::push_new(static_cast<uint32_t>(path.size()));
  if (used(refinements, ToLocalFileRefinement::full) && (path.empty() || path[0] != '/')) {
    std::string directory = os::current_dir();
    if (!directory.empty() && directory.back() != '/') directory += '/';
    append_code_points(out, file::from_os_bytes(directory));
  }
  append_code_points(out, path);
  return answer(*out);
}

int32_t shift_bits(int32_t value, int32_t bits, Shift direction) {
  bits = std::max(0, bits);
  const auto bits_of_value = static_cast<uint32_t>(value);
  switch (direction) {
    case Shift::left: return bits > 31 ? 0 : static_cast<int32_t>(bits_of_value << bits);
    case Shift::logical: return bits > 31 ? 0 : static_cast<int32_t>(bits_of_value >> bits);
    case Shift::right: return bits > 31 ? (value < 0 ? -1 : 0) : value >> bits;
  }
  return 0;
}

}  // namespace kiv::natives
