#include "runtime/datatypes/time.h"

#include <charconv>
#include <cmath>
#include <string>

#include "runtime/core/error_raise.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/coordinates.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/eval/call_stack.h"
#include "runtime/float_text.h"
#include "runtime/mold.h"

namespace kiv::time_ {
namespace {

[[noreturn]] void raise_bad_to(const Cell& spec) {
  error::raise(error_id::script::bad_to_arg, datatype::make(TypeId::time), spec);
}

// The one value a text loads as, or unset when it is not exactly one value
// (or does not load). May collect.
Cell load_one(const Cell& text_value) { return coordinates::load_one(text_value).value_or(unset::make()); }

// [hours minutes seconds]: integers, the seconds may be a float; only the
// first may be negative, and then the whole time is.
double from_block(const Cell& spec) {
  const uint32_t count = block::count(spec);
  if (count > 3) raise_bad_to(spec);
  double parts[3] = {0.0, 0.0, 0.0};
  bool negative = false;
  for (uint32_t i = 0; i < count; ++i) {
    const Cell part = *block::at(spec, i);
    double number;
    if (cell::is(part, TypeId::integer)) number = integer::get(part);
    else if (i == 2 && cell::is(part, TypeId::float_)) number = float_::get(part);
    else raise_bad_to(spec);
    if (number < 0.0) {
      if (i > 0) raise_bad_to(spec);
      negative = true;
      number = -number;
    }
    parts[i] = number;
  }
  const double total = parts[0] * 3600.0 + parts[1] * 60.0 + parts[2];
  return negative ? -total : total;
}

void to_value(Val result, Val spec, TypeId) {
  const TypeId from = cell::type_of(*spec);
  double seconds = 0.0;
  if (type_traits::is_any_list(from)) {
    seconds = from_block(*spec);
  } else if (type_traits::is_any_string(from)) {
    const Cell loaded = load_one(*spec);
    if (!cell::is(loaded, TypeId::time)) raise_bad_to(*spec);
    seconds = get(loaded);
  } else {
    switch (from) {
      case TypeId::time:
      case TypeId::float_:
      case TypeId::percent: seconds = cell::get_double(*spec); break;
      case TypeId::integer: seconds = integer::get(*spec); break;
      default: raise_bad_to(*spec);
    }
  }
  *result = make(seconds);
}

int32_t form(Val value, Val out, int32_t part) { return form_value(get(*value), out, part); }
int32_t mold_value(Val value, Val out, const MoldOptions&, int32_t part) { return form_value(get(*value), out, part); }

// The field a selector names: 1-3 or a field word; 0 for an integer out of
// range, -1 for any other word, -2 for another type.
int selected_field(const Cell& selector) {
  if (cell::is(selector, TypeId::integer)) {
    const int32_t index = integer::get(selector);
    return index >= 1 && index <= 3 ? index : 0;
  }
  if (type_traits::is_any_word(cell::type_of(selector))) return field_of_word(selector);
  return -2;
}

void eval_path(PathStep& step) {
  const int field = selected_field(*step.selector);
  if (field <= 0) error::raise(error_id::script::invalid_path, step.path, *step.selector);
  if (!step.new_value) {
    *step.value = get_field(get(*step.value), field);
    return;
  }
  make_at(*step.value, set_field(get(*step.value), field, *step.new_value));
}

void pick(Val value, Val index, int32_t) {
  const int field = selected_field(*index);
  if (field == -1) error::raise(error_id::script::cannot_use, *index, *value);
  if (field <= 0) error::raise(error_id::script::out_of_range, *index);
  *value = get_field(get(*value), field);
}

void add(Val left, Val right) {
  if (cell::is(*right, TypeId::date)) {
    date::add_time_to_date(left, right);
    return;
  }
  float_::do_math(left, right, MathOp::add);
}

void subtract(Val left, Val right) {
  if (cell::is(*right, TypeId::date)) integer::raise_not_related(TypeId::time, "subtract");
  float_::do_math(left, right, MathOp::subtract);
}

void multiply(Val left, Val right) {
  if (cell::is(*right, TypeId::time)) integer::raise_not_related(TypeId::time, "multiply");
  float_::do_math(left, right, MathOp::multiply);
}

// A time divided by a time is a plain ratio.
void divide(Val left, Val right) {
  const bool ratio = cell::is(*right, TypeId::time);
  float_::do_math(left, right, MathOp::divide);
  if (ratio) cell::set_type(*left, TypeId::float_);
}

// The float rounding; whatever type it answers, the result is a time!.
void round(Val value, const RoundOptions& options) {
  if (options.scale && cell::is(**options.scale, TypeId::money))
    integer::raise_not_related(TypeId::money, "round");
  const uint32_t flags = value->header & ~cell::type_mask;
  float_::round(value, options);
  const double seconds = cell::is(*value, TypeId::integer) ? integer::get(*value) : cell::get_double(*value);
  *value = make(seconds);
  value->header |= flags;
}

// Only the whole seconds field decides, with a tolerance of a microsecond.
int64_t whole_seconds(double t) {
  const double nudged = t >= 0.0 ? t + 1e-6 : t - 1e-6;
  const double s = std::fmod(nudged, 60.0);
  return std::isfinite(s) ? static_cast<int64_t>(s) : 1;
}
bool even(Val value) { return whole_seconds(get(*value)) % 2 == 0; }
bool odd(Val value) { return whole_seconds(get(*value)) % 2 != 0; }

void append_whole(std::string& out, double whole) {
  char buffer[400];
  const auto done = std::to_chars(buffer, buffer + sizeof buffer, whole, std::chars_format::fixed, 0);
  out.append(buffer, done.ptr);
}

}  // namespace

int field_of_word(const Cell& word) {
  const std::string_view name = symbol::spelling(word.w2);
  if (symbol::equal_caseless(name, "hour")) return 1;
  if (symbol::equal_caseless(name, "minute")) return 2;
  if (symbol::equal_caseless(name, "second")) return 3;
  return -1;
}

double hours(double t) { return std::trunc(t / 3600.0); }

int32_t minutes(double t) { return static_cast<int32_t>(std::floor(std::fmod(std::fabs(t), 3600.0) / 60.0)); }

Cell get_field(double t, int field) {
  switch (field) {
    case 1: {
      const double h = hours(t);
      if (integer::float_overflows(h)) error::raise(error_id::script::type_limit, datatype::make(TypeId::integer));
      return integer::make(static_cast<int32_t>(h));
    }
    case 2: return integer::make(minutes(t));
    default: return float_::make(std::fmod(t, 60.0));
  }
}

// Setting a field moves the time by the difference between the field's
// new and old values. The hour and second read with the time's sign, the
// minute without it, so for a negative time a minute step moves the
// magnitude.
double set_field(double t, int field, const Cell& value) {
  const bool whole = cell::is(value, TypeId::integer);
  if (!whole && !(field == 3 && cell::is(value, TypeId::float_))) error::raise(error_id::script::invalid_arg, value);
  const double wanted = whole ? integer::get(value) : float_::get(value);
  switch (field) {
    case 1: return t - (hours(t) - wanted) * 3600.0;
    case 2: return t - (t < 0.0 ? -1.0 : 1.0) * (minutes(t) - wanted) * 60.0;
    default: return t - (std::fmod(t, 60.0) - wanted);
  }
}

// Non-finite times take the float texts. The seconds are written with six
// significant digits; when that rounds them up to 60 the carry goes into
// the minutes (59.9999999 seconds is a whole minute, not "0:00:60").
std::string text(double t) {
  if (!std::isfinite(t)) return std::string(float_text::mold(t).view());
  std::string out;
  if (t < 0.0) {
    out += '-';
    t = -t;
  }
  double s = std::fmod(t, 60.0);
  std::string seconds;
  if (s >= 1e-6) {
    seconds = std::string(float_text::form(s, float_text::FormKind::time_seconds, float_::options().pretty).view());
    if (float_text::parse(seconds).value >= 60.0) {
      t = std::floor(t / 60.0) * 60.0 + 60.0;
      s = 0.0;
      seconds.clear();
    }
  }
  if (seconds.empty()) seconds = "00";
  else if (seconds.size() == 1 || seconds[1] == '.') seconds.insert(0, "0");
  append_whole(out, std::floor(t / 3600.0));
  out += ':';
  const auto m = static_cast<int>(std::floor(std::fmod(t, 3600.0) / 60.0));
  if (m < 10) out += '0';
  out += std::to_string(m);
  out += ':';
  out += seconds;
  return out;
}

int32_t form_value(double t, Val out, int32_t part) { return mold::emit(out, text(t), part); }

void register_types() {
  datatype::register_type({TypeId::time, TypeId::float_, "time!",
                           {.make = to_value,
                            .random = inherit,
                            .to = to_value,
                            .form = form,
                            .mold = mold_value,
                            .eval_path = eval_path,
                            .compare = inherit,
                            .absolute = inherit,
                            .add = add,
                            .divide = divide,
                            .multiply = multiply,
                            .negate = inherit,
                            .remainder = inherit,
                            .round = round,
                            .subtract = subtract,
                            .even_q = even,
                            .odd_q = odd,
                            .pick = pick}});
}

}  // namespace kiv::time_
