#include "runtime/datatypes/vector.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/core/error_raise.h"
#include "runtime/core/memory.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/coordinates.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/float_text.h"
#include "runtime/mold.h"
#include "runtime/ownership.h"

namespace kiv::vector {
namespace {

using ownership::Change;
using ownership::ChangeReport;

bool holds_floats(TypeId element) { return element == TypeId::float_ || element == TypeId::percent; }

uint32_t default_unit(TypeId element) { return holds_floats(element) ? 8 : 4; }

uint32_t unit_of(const Cell& vector) { return memory::buffer(series::node_of(vector))->unit(); }

uint8_t* address(const Cell& vector, uint32_t position) {
  SeriesBuf* buf = memory::buffer(series::node_of(vector));
  return buf->head_ptr() + size_t{position} * buf->unit();
}

// Element reads: narrow integers sign-extended, singles widened.
int32_t read_int(const uint8_t* at, uint32_t unit) {
  switch (unit) {
    case 1: return static_cast<int8_t>(*at);
    case 2: {
      int16_t v;
      std::memcpy(&v, at, 2);
      return v;
    }
    default: {
      int32_t v;
      std::memcpy(&v, at, 4);
      return v;
    }
  }
}

double read_float(const uint8_t* at, uint32_t unit) {
  if (unit == 4) {
    float v;
    std::memcpy(&v, at, 4);
    return v;
  }
  double v;
  std::memcpy(&v, at, 8);
  return v;
}

// Element writes: an integer keeps its low bytes, a float is rounded to
// single precision in 4-byte elements.
void write_int(uint8_t* at, uint32_t unit, int32_t value) {
  const auto bits = static_cast<uint32_t>(value);
  std::memcpy(at, &bits, unit);  // little-endian: the low bytes
}

void write_float(uint8_t* at, uint32_t unit, double value) {
  if (unit == 4) {
    const auto single = static_cast<float>(value);
    std::memcpy(at, &single, 4);
  } else {
    std::memcpy(at, &value, 8);
  }
}

// An integer scalar as a float vector sees it, and a float scalar as an
// integer vector sees it (truncated; out of range saturated, NaN 0).
int32_t truncated(double number) {
  if (std::isnan(number)) return 0;
  if (number <= -2147483648.0) return integer::min_value;
  if (number >= 2147483647.0) return integer::max_value;
  return static_cast<int32_t>(number);
}

// `a op b` on 32-bit integers, wrapping on overflow; division and
// remainder by 0 raise math/zero-divide, the smallest value divided by -1
// math/overflow.
int32_t int_op(int32_t a, int32_t b, MathOp op) {
  const auto ua = static_cast<uint32_t>(a);
  const auto ub = static_cast<uint32_t>(b);
  switch (op) {
    case MathOp::add: return static_cast<int32_t>(ua + ub);
    case MathOp::subtract: return static_cast<int32_t>(ua - ub);
    case MathOp::multiply: return static_cast<int32_t>(ua * ub);
    case MathOp::or_: return static_cast<int32_t>(ua | ub);
    case MathOp::and_: return static_cast<int32_t>(ua & ub);
    case MathOp::xor_: return static_cast<int32_t>(ua ^ ub);
    case MathOp::divide:
    case MathOp::remainder: {
      int32_t result = 0;
      (void)integer::do_math_op(a, b, op, result);  // raises for 0 and overflow
      return result;
    }
  }
  return 0;
}

[[noreturn]] void raise_bad_make(const Cell& spec) {
  error::raise(error_id::script::bad_make_arg, datatype::make(TypeId::vector), spec);
}

// Checks a byte size of `count` elements of `unit` bytes.
void check_size(uint64_t count, uint32_t unit) {
  if (count * unit > uint64_t{INT32_MAX}) error::raise(error_id::internal::no_memory);
}

// Values to write: a single value, or the values of a block, paren or hash
// (up to `part` when it is not negative), each of the element type.
std::vector<Cell> values_to_write(const Cell& vector, const Cell& value, int64_t part, bool paths_too) {
  std::vector<Cell> values;
  const TypeId type = cell::type_of(value);
  const bool many = type == TypeId::block || type == TypeId::paren || type == TypeId::hash ||
                    (paths_too && type_traits::is_any_path(type));
  if (many) {
    uint32_t count = block::count(value);
    if (part >= 0) count = static_cast<uint32_t>(std::min<int64_t>(part, count));
    for (uint32_t i = 0; i < count; ++i) values.push_back(*block::at(value, i));
  } else {
    values.push_back(value);
  }
  for (const Cell& item : values)
    if (cell::type_of(item) != element_type(vector)) error::raise(error_id::script::invalid_arg, item);
  return values;
}

void write_values(const Cell& vector, uint32_t position, const std::vector<Cell>& values) {
  for (size_t i = 0; i < values.size(); ++i) set_value(vector, position + static_cast<uint32_t>(i), values[i]);
}

// --- make ----------------------------------------------------------------

TypeId element_of_word(const Cell& word) {
  const std::string_view name = symbol::spelling(symbol::resolve(word.w2));
  for (TypeId type : {TypeId::char_, TypeId::integer, TypeId::float_, TypeId::percent})
    if (symbol::equal_caseless(name, datatype::info(type).name)) return type;
  return TypeId::none_type;
}

// make vector! [type bits count-or-values ...] or [values ...].
void make_from_block(Val result, Val spec) {
  const Cell given = *spec;
  const uint32_t count = block::count(given);
  if (count == 0) {
    *result = make_new(0, TypeId::integer, 4);
    return;
  }
  const Cell first = *block::at(given, 0);
  TypeId element;
  uint32_t unit;
  std::optional<uint32_t> size;
  std::optional<Cell> values;
  if (cell::is(first, TypeId::word)) {
    element = element_of_word(first);
    if (element == TypeId::none_type || count < 2) raise_bad_make(given);
    uint32_t at = 1;
    const Cell bits = *block::at(given, at);
    if (cell::is(bits, TypeId::integer)) {
      const int32_t n = integer::get(bits);
      if (element == TypeId::percent) unit = 8;
      else if (element == TypeId::float_ && (n == 32 || n == 64)) unit = static_cast<uint32_t>(n / 8);
      else if (element != TypeId::float_ && (n == 8 || n == 16 || n == 32)) unit = static_cast<uint32_t>(n / 8);
      else raise_bad_make(given);
      ++at;
    } else if (element == TypeId::percent) {
      unit = 8;
    } else {
      error::raise(error_id::script::invalid_spec_field, given);
    }
    if (at >= count) error::raise(error_id::script::invalid_spec_field, given);
    const Cell next = *block::at(given, at);
    if (cell::is(next, TypeId::integer)) {
      size = static_cast<uint32_t>(std::max(integer::get(next), 0));
      if (at + 1 < count && cell::is(*block::at(given, at + 1), TypeId::block)) values = *block::at(given, at + 1);
    } else if (cell::is(next, TypeId::block)) {
      values = next;
    } else {
      error::raise(error_id::script::invalid_spec_field, given);
    }
  } else {
    element = cell::type_of(first);
    if (element != TypeId::char_ && element != TypeId::integer && !holds_floats(element))
      error::raise(error_id::script::invalid_type, datatype::make(element));
    unit = default_unit(element);
    values = given;
  }
  const uint32_t given_count = values ? block::count(*values) : 0;
  const uint32_t length = std::max(size.value_or(0), given_count);
  check_size(length, unit);
  *result = make_new(length, element, unit);
  if (values) {
    // Check every value before the first is written.
    const std::vector<Cell> items = values_to_write(*result, *values, -1, false);
    write_values(*result, 0, items);
  }
}

void make_value(Val result, Val spec, TypeId) {
  switch (cell::type_of(*spec)) {
    case TypeId::integer:
    case TypeId::float_: {
      const double n = std::trunc(coordinates::number_of(*spec));
      if (!coordinates::fits_int32(n)) error::raise(error_id::script::out_of_range, *spec);
      *result = make_new(static_cast<uint32_t>(std::max(0.0, n)), TypeId::integer, 4);
      return;
    }
    case TypeId::block:
      make_from_block(result, spec);
      return;
    default:
      error::raise(error_id::internal::not_done);
  }
}

// --- text ------------------------------------------------------------------

// Appends the elements from the head, separated by spaces; chars as the
// escaped character (with `literal`, as a whole char literal).
int32_t write_elements(Val vector, Val out, int32_t part, bool literal) {
  const uint32_t count = length(*vector);
  const TypeId element = element_type(*vector);
  const uint32_t unit = unit_of(*vector);
  const uint32_t head = series_type::head(*vector);
  for (uint32_t i = 0; i < count && part > 0; ++i) {
    if (i > 0) part = mold::emit(out, " ", part);
    const uint8_t* at = address(*vector, head + i);
    switch (element) {
      case TypeId::char_: {
        const uint32_t before = series_type::total(*out);
        if (literal) string::append_latin1(out, "#\"");
        string::mold_char(out, static_cast<uint32_t>(read_int(address(*vector, head + i), unit)), false);
        if (literal) string::append_latin1(out, "\"");
        part -= static_cast<int32_t>(series_type::total(*out) - before);
        break;
      }
      case TypeId::integer: {
        char buffer[12];
        part = mold::emit(out, integer::to_text(read_int(at, unit), buffer), part);
        break;
      }
      case TypeId::percent:
        part = mold::emit(out, float_text::form(read_float(at, unit) * 100.0, float_text::FormKind::percent_value,
                                                float_::options().pretty), part);
        break;
      default: {
        const double x = read_float(at, unit);
        const float_text::Text text = unit == 4 ? float_text::form(x, float_text::FormKind::point_coordinate,
                                                                   float_::options().pretty)
                                                : float_text::form(x, float_text::FormKind::float_value,
                                                                   float_::options().pretty);
        part = mold::emit(out, text, part);
      }
    }
  }
  return part;
}

int32_t form(Val value, Val out, int32_t part) { return write_elements(value, out, part, false); }

// make vector! [1 2] for default sizes; make vector! [integer! 16 [1 2]]
// otherwise (and when empty).
int32_t mold_value(Val value, Val out, const MoldOptions& options, int32_t part) {
  const TypeId element = element_type(*value);
  const uint32_t unit = unit_of(*value);
  const bool plain = memory::buffer(series::node_of(*value))->used_bytes() != 0 && unit == default_unit(element);
  if (!options.only) part = mold::emit(out, "make vector! [", part);
  if (plain) {
    part = write_elements(value, out, part, true);
  } else {
    std::string head(datatype::info(element).name);
    head += ' ';
    head += std::to_string(unit * 8);
    head += " [";
    part = mold::emit(out, head, part);
    part = write_elements(value, out, part, true);
    part = mold::emit(out, "]", part);
  }
  if (!options.only) part = mold::emit(out, "]", part);
  return part;
}

// --- compare ----------------------------------------------------------------

int compare(const Cell& a, const Cell& b, CmpOp op) {
  if (!cell::is(b, TypeId::vector)) return -2;
  if (element_type(a) != element_type(b)) error::raise(error_id::script::not_same_type);
  const bool same_place = series::node_of(a) == series::node_of(b) && series_type::head(a) == series_type::head(b);
  if (op == CmpOp::same) return same_place ? 0 : -1;
  const bool equality = op == CmpOp::equal || op == CmpOp::not_equal || op == CmpOp::strict_equal || op == CmpOp::lookup;
  if (same_place && equality) return 0;
  const uint32_t na = length(a);
  const uint32_t nb = length(b);
  if (na != nb && equality) return 1;
  const uint32_t n = std::min(na, nb);
  const uint32_t ua = unit_of(a);
  const uint32_t ub = unit_of(b);
  const bool floats = holds_floats(element_type(a));
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* pa = address(a, series_type::head(a) + i);
    const uint8_t* pb = address(b, series_type::head(b) + i);
    if (floats) {
      const double x = read_float(pa, ua);
      const double y = read_float(pb, ub);
      if (x != y) return x < y ? -1 : x > y ? 1 : 0;
    } else {
      const int32_t x = read_int(pa, ua);
      const int32_t y = read_int(pb, ub);
      if (x != y) return x < y ? -1 : 1;
    }
  }
  return (na > nb) - (na < nb);
}

// --- arithmetic ------------------------------------------------------------------

// vector op vector: a new vector in the wider unit, as long as the shorter.
void op_vectors(Val left, Val right, MathOp op) {
  if (element_type(*left) != element_type(*right)) error::raise(error_id::script::not_same_type);
  const TypeId element = element_type(*left);
  const uint32_t ua = unit_of(*left);
  const uint32_t ub = unit_of(*right);
  const uint32_t unit = std::max(ua, ub);
  const uint32_t n = std::min(length(*left), length(*right));
  Rooted<Cell> result(make_new(n, element, unit));
  const uint32_t ha = series_type::head(*left);
  const uint32_t hb = series_type::head(*right);
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* pa = address(*left, ha + i);
    const uint8_t* pb = address(*right, hb + i);
    uint8_t* to = address(result.get(), i);
    if (holds_floats(element)) write_float(to, unit, float_::math_op(read_float(pa, ua), read_float(pb, ub), op));
    else write_int(to, unit, int_op(read_int(pa, ua), read_int(pb, ub), op));
  }
  *left = result.get();
}

// The in-place loop over doubles, kept apart so that the common case runs
// without a switch per element.
template <class Fn>
void each_double(uint8_t* at, uint32_t count, Fn fn) {
  for (uint32_t i = 0; i < count; ++i, at += 8) {
    double x;
    std::memcpy(&x, at, 8);
    x = fn(x);
    std::memcpy(at, &x, 8);
  }
}

void scale_doubles(uint8_t* at, uint32_t count, double s, MathOp op) {
  switch (op) {
    case MathOp::add: each_double(at, count, [s](double x) { return x + s; }); return;
    case MathOp::subtract: each_double(at, count, [s](double x) { return x - s; }); return;
    case MathOp::multiply: each_double(at, count, [s](double x) { return x * s; }); return;
    case MathOp::divide: each_double(at, count, [s](double x) { return x / s; }); return;
    default: each_double(at, count, [s, op](double x) { return float_::math_op(x, s, op); }); return;
  }
}

template <MathOp op>
void math(Val left, Val right) {
  if (cell::is(*right, TypeId::vector)) op_vectors(left, right, op);
  else op_scalar(left, right, op);
}

// --- series actions of its own ----------------------------------------------------

// append and insert (one routine): the values go at the tail (append, which
// leaves the vector as it was) or at the head (insert, which answers the
// position after them), repeated `dup` times.
void write_at(Val series, Val value, int32_t part, int32_t dup, bool at_tail) {
  const std::vector<Cell> values = values_to_write(*series, *value, part, false);
  const uint32_t times = dup < 0 ? 1 : static_cast<uint32_t>(dup);
  if (values.empty() || times == 0) return;
  const uint32_t unit = unit_of(*series);
  const uint64_t added = uint64_t{values.size()} * times;
  check_size(added + series_type::total(*series), unit);
  const NodeId node = series::node_of(*series);
  const uint32_t position = at_tail ? series_type::total(*series) : series_type::head(*series);
  ChangeReport report(series, at_tail ? Change::append : Change::insert, position, static_cast<uint32_t>(added), value);
  const uint32_t old_tail = series::reserve_tail(node, static_cast<uint32_t>(added * unit));
  SeriesBuf* buf = memory::buffer(node);
  uint8_t* gap = buf->head_ptr() + size_t{position} * unit;
  const size_t moved = old_tail - buf->head - size_t{position} * unit;
  std::memmove(gap + added * unit, gap, moved);
  write_values(*series, position, values);
  if (times > 1) series::fill_repeat(memory::buffer(node)->head_ptr() + size_t{position} * unit,
                                     static_cast<uint32_t>(values.size() * unit), times);
  report.done(position, static_cast<uint32_t>(added));
  if (!at_tail) series->w1 = position + static_cast<uint32_t>(added);
}

void append(Val series, Val value, int32_t part, bool, int32_t dup) { write_at(series, value, part, dup, true); }
void insert(Val series, Val value, int32_t part, bool, int32_t dup) { write_at(series, value, part, dup, false); }

// Replaces elements from the head with the values (or another vector's
// elements), the run repeated `dup` times; /part sets how many are
// replaced. Answers the position after the change.
void change(Val series, Val value, int32_t part, bool, int32_t dup) {
  std::vector<Cell> values;
  if (cell::is(*value, TypeId::vector)) {
    if (element_type(*value) != element_type(*series)) error::raise(error_id::script::invalid_arg, *value);
    for (uint32_t i = 0; i < length(*value); ++i) values.push_back(get_value(*value, series_type::head(*value) + i));
  } else {
    values = values_to_write(*series, *value, -1, true);
  }
  const uint32_t times = dup < 0 ? 1 : static_cast<uint32_t>(dup);
  const uint32_t head = series_type::head(*series);
  const uint32_t after = series_type::total(*series) - head;
  const uint64_t written = uint64_t{values.size()} * times;
  const uint32_t replaced = static_cast<uint32_t>(std::min<uint64_t>(part >= 0 ? static_cast<uint64_t>(part) : written, after));
  const uint32_t unit = unit_of(*series);
  check_size(series_type::total(*series) - replaced + written, unit);
  const NodeId node = series::node_of(*series);
  ChangeReport report(series, Change::change, head, static_cast<uint32_t>(written), value);
  if (written > replaced) {
    series::reserve_tail(node, static_cast<uint32_t>((written - replaced) * unit));
  }
  SeriesBuf* buf = memory::buffer(node);
  uint8_t* at = buf->head_ptr() + size_t{head} * unit;
  const size_t rest = (size_t{after} - replaced) * unit;
  if (written < replaced) {
    std::memmove(at + written * unit, at + size_t{replaced} * unit, rest);
    buf->tail -= static_cast<uint32_t>((replaced - written) * unit);
  } else if (written > replaced) {
    std::memmove(at + written * unit, at + size_t{replaced} * unit, rest);
  }
  write_values(*series, head, values);
  if (times > 1) series::fill_repeat(memory::buffer(node)->head_ptr() + size_t{head} * unit,
                                     static_cast<uint32_t>(values.size() * unit), times);
  report.done(head, static_cast<uint32_t>(written));
  series->w1 = std::min<uint32_t>(head + static_cast<uint32_t>(written), series_type::total(*series));
}

// An element equal to `value` (of the element type): the first from the
// head; with /last the last one; with /reverse the first before the head.
// /part limits the elements searched, /skip visits every n-th and /match
// tries the head only. Answers the vector at it (after it with /tail, or
// with /match), or none.
void find(Val series, Val value, const FindOptions& options) {
  const uint32_t head = series_type::head(*series);
  const uint32_t total = series_type::total(*series);
  int64_t step = 1;
  if (options.skip) {
    if (!cell::is(**options.skip, TypeId::integer) || integer::get(**options.skip) < 1)
      error::raise(error_id::script::out_of_range, **options.skip);
    step = integer::get(**options.skip);
  }
  int64_t first = head;
  int64_t last = static_cast<int64_t>(total) - 1;  // both inclusive
  if (options.part) last = std::min<int64_t>(last, head + series_type::part_count(*series, **options.part) - 1);
  if (options.reverse) {
    last = static_cast<int64_t>(head) - 1;
    first = 0;
    step = -step;
  } else if (options.last) {
    step = -step;
  }
  if (options.match) last = first = options.reverse ? last : first;
  const Cell wanted = *value;
  const ActionTable& element_actions = datatype::actions(element_type(*series));
  for (int64_t position = step > 0 ? first : last; position >= first && position <= last; position += step) {
    const Cell element = get_value(*series, static_cast<uint32_t>(position));
    if (cell::type_of(wanted) == cell::type_of(element) && element_actions.compare(element, wanted, CmpOp::equal) == 0) {
      series->w1 = static_cast<uint32_t>(options.tail || options.match ? position + 1 : position);
      return;
    }
  }
  *series = none::make();
}

void select(Val series, Val value, const FindOptions& options) {
  FindOptions found = options;
  found.tail = true;
  find(series, value, found);
  if (cell::is(*series, TypeId::none)) return;
  *series = series->w1 < series_type::total(*series) ? get_value(*series, series->w1) : none::make();
}

// Sorts the elements from the head in ascending (with /reverse descending)
// order of their values.
void sort(Val series, const SortOptions& options) {
  const uint32_t head = series_type::head(*series);
  const uint32_t count = length(*series);
  const uint32_t unit = unit_of(*series);
  ChangeReport report(series, Change::sort, head, count);
  uint8_t* at = address(*series, head);
  if (holds_floats(element_type(*series))) {
    std::vector<double> items(count);
    for (uint32_t i = 0; i < count; ++i) items[i] = read_float(at + size_t{i} * unit, unit);
    std::stable_sort(items.begin(), items.end(), [&](double a, double b) { return options.reverse ? a > b : a < b; });
    for (uint32_t i = 0; i < count; ++i) write_float(at + size_t{i} * unit, unit, items[i]);
  } else {
    std::vector<int32_t> items(count);
    for (uint32_t i = 0; i < count; ++i) items[i] = read_int(at + size_t{i} * unit, unit);
    std::stable_sort(items.begin(), items.end(), [&](int32_t a, int32_t b) { return options.reverse ? a > b : a < b; });
    for (uint32_t i = 0; i < count; ++i) write_int(at + size_t{i} * unit, unit, items[i]);
  }
  report.done(head, count);
}

// v/2 picks and v/2: x pokes; other selectors are no path of a vector.
void eval_path(PathStep& step) {
  const Cell selector = *step.selector;
  if (!cell::is(selector, TypeId::integer)) error::raise(error_id::script::invalid_path, step.path, selector);
  const ActionTable& actions = datatype::actions(TypeId::vector);
  if (step.new_value) {
    Val new_value = stack::push(*step.new_value);
    actions.poke(step.value, step.selector, cell::get_int32(selector), new_value);
    stack::pop(1);
  } else {
    actions.pick(step.value, step.selector, cell::get_int32(selector));
  }
}

}  // namespace

Cell make_new(uint32_t count, TypeId element, uint32_t unit) {
  check_size(count, unit);
  const NodeId node = memory::new_unit_series(count, unit);
  SeriesBuf* buf = memory::buffer(node);
  std::memset(buf->head_ptr(), 0, size_t{count} * unit);
  buf->tail = buf->head + count * unit;
  Cell value = series::make(TypeId::vector, node);
  value.w3 = static_cast<uint32_t>(element);
  return value;
}

uint32_t length(const Cell& vector) { return series_type::length(vector); }

Cell get_value(const Cell& vector, uint32_t position) {
  const uint8_t* at = address(vector, position);
  const uint32_t unit = unit_of(vector);
  switch (element_type(vector)) {
    case TypeId::char_: return string::make_char(static_cast<uint32_t>(read_int(at, unit)));
    case TypeId::integer: return integer::make(read_int(at, unit));
    case TypeId::percent: return percent::make(read_float(at, unit));
    default: return float_::make(read_float(at, unit));
  }
}

void set_value(const Cell& vector, uint32_t position, const Cell& value) {
  if (cell::type_of(value) != element_type(vector)) error::raise(error_id::script::invalid_arg, value);
  uint8_t* at = address(vector, position);
  if (holds_floats(element_type(vector))) write_float(at, unit_of(vector), cell::get_double(value));
  else write_int(at, unit_of(vector), cell::get_int32(value));
}

void append_int32(Val vector, int32_t value) {
  const NodeId node = series::node_of(*vector);
  const uint32_t offset = series::reserve_tail(node, 4);
  std::memcpy(memory::buffer(node)->data() + offset, &value, 4);
}

void cut_at_head(const Cell& vector) {
  SeriesBuf* buf = memory::buffer(series::node_of(vector));
  buf->tail = buf->head + series_type::head(vector) * buf->unit();
}

void to_block(Val vector, Val block) {
  const uint32_t count = length(*vector);
  for (uint32_t i = 0; i < count; ++i) block::append(block, get_value(*vector, series_type::head(*vector) + i));
}

void op_scalar(Val left, Val right, MathOp op) {
  if (!cell::is(*left, TypeId::vector)) {
    const Cell scalar = *left;
    *left = *right;
    *right = scalar;
  }
  const Cell scalar = *right;
  const TypeId type = cell::type_of(scalar);
  if (type != TypeId::integer && type != TypeId::float_ && type != TypeId::percent)
    error::raise(error_id::internal::not_done);
  const uint32_t count = length(*left);
  const uint32_t unit = unit_of(*left);
  uint8_t* at = address(*left, series_type::head(*left));
  if (holds_floats(element_type(*left))) {
    const double s = coordinates::number_of(scalar);
    if (((op == MathOp::add || op == MathOp::subtract) && s == 0.0) ||
        ((op == MathOp::multiply || op == MathOp::divide) && s == 1.0))
      return;
    if (unit == 8) {
      scale_doubles(at, count, s, op);
      return;
    }
    for (uint32_t i = 0; i < count; ++i, at += unit) write_float(at, unit, float_::math_op(read_float(at, unit), s, op));
    return;
  }
  const int32_t s = type == TypeId::integer ? integer::get(scalar) : truncated(cell::get_double(scalar));
  if (((op == MathOp::add || op == MathOp::subtract) && s == 0) ||
      ((op == MathOp::multiply || op == MathOp::divide) && s == 1))
    return;
  for (uint32_t i = 0; i < count; ++i, at += unit) write_int(at, unit, int_op(read_int(at, unit), s, op));
}

void register_types() {
  ActionSlots slots = string::inherited_slots();
  slots.make = make_value;
  slots.to = {};
  slots.form = form;
  slots.mold = mold_value;
  slots.eval_path = eval_path;
  slots.compare = compare;
  slots.add = math<MathOp::add>;
  slots.divide = math<MathOp::divide>;
  slots.multiply = math<MathOp::multiply>;
  slots.remainder = math<MathOp::remainder>;
  slots.subtract = math<MathOp::subtract>;
  slots.and_ = math<MathOp::and_>;
  slots.or_ = math<MathOp::or_>;
  slots.xor_ = math<MathOp::xor_>;
  slots.append = append;
  slots.insert = insert;
  slots.change = change;
  slots.find = find;
  slots.select = select;
  slots.sort = sort;
  slots.swap = {};
  slots.trim = {};
  datatype::register_type({TypeId::vector, TypeId::string, "vector!", slots});
}

}  // namespace kiv::vector
