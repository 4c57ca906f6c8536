#include "runtime/datatypes/tuple.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "runtime/core/error_raise.h"
#include "runtime/core/memory.h"
#include "runtime/core/series.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/coordinates.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/random.h"
#include "runtime/mold.h"

namespace kiv::tuple {
namespace {

[[noreturn]] void raise_bad_to(const Cell& spec) {
  error::raise(error_id::script::bad_to_arg, datatype::make(TypeId::tuple), spec);
}

uint8_t clamp_byte(int64_t value) { return static_cast<uint8_t>(std::clamp<int64_t>(value, 0, 255)); }

// The bytes of a block's values: integers, chars or floats (truncated),
// each 0-255, at most 12.
Cell from_block(const Cell& spec) {
  const uint32_t count = block::count(spec);
  if (count > max_count) raise_bad_to(spec);
  Bytes bytes{};
  for (uint32_t i = 0; i < count; ++i) {
    const Cell item = *block::at(spec, i);
    double value;
    switch (cell::type_of(item)) {
      case TypeId::integer:
      case TypeId::char_:
      case TypeId::float_:
        value = coordinates::number_of(item);
        break;
      default:
        raise_bad_to(spec);
    }
    if (!(value >= 0.0 && value < 256.0)) raise_bad_to(spec);
    bytes[i] = static_cast<uint8_t>(value);
  }
  return make(bytes, std::max<int>(static_cast<int>(count), min_count));
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// #F00 (each digit doubled), #FF0000 or #FF000080.
Cell from_hex(const Cell& issue) {
  const std::string text(symbol::spelling(issue.w2));
  Bytes bytes{};
  for (char c : text)
    if (hex_digit(c) < 0) error::raise(error_id::script::invalid_data, issue);
  switch (text.size()) {
    case 3:
      for (int i = 0; i < 3; ++i) bytes[i] = static_cast<uint8_t>(hex_digit(text[i]) * 17);
      return make(bytes, 3);
    case 6:
    case 8: {
      const int count = static_cast<int>(text.size()) / 2;
      for (int i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(hex_digit(text[2 * i]) * 16 + hex_digit(text[2 * i + 1]));
      return make(bytes, count);
    }
    default:
      error::raise(error_id::script::invalid_data, issue);
  }
}

// The first (up to) 12 bytes from the binary's index.
Cell from_binary(const Cell& spec) {
  const uint32_t count = std::min<uint32_t>(series::length_from(spec), max_count);
  Bytes bytes{};
  const uint8_t* data = memory::buffer(series::node_of(spec))->head_ptr() + series::index_of(spec);
  std::copy(data, data + count, bytes.begin());
  return make(bytes, std::max<int>(static_cast<int>(count), min_count));
}

// make tuple! and to tuple! (one set of rules).
void to_value(Val result, Val spec, TypeId) {
  const Cell given = *spec;
  const TypeId from = cell::type_of(given);
  if (type_traits::is_any_string(from)) {
    const std::optional<Cell> loaded = coordinates::load_one(given);
    if (!loaded || !cell::is(*loaded, TypeId::tuple)) raise_bad_to(given);
    *result = make(bytes_of(*loaded), count_of(*loaded));
    return;
  }
  switch (from) {
    case TypeId::tuple: *result = make(bytes_of(given), count_of(given)); return;
    case TypeId::block:
    case TypeId::paren:
    case TypeId::hash: *result = from_block(given); return;
    case TypeId::issue: *result = from_hex(given); return;
    case TypeId::binary: *result = from_binary(given); return;
    default: raise_bad_to(given);
  }
}

// --- arithmetic --------------------------------------------------------------

// One byte op an integer, with integer! rules; a result beyond 32 bits
// becomes 255 when positive and 0 otherwise.
int64_t integer_op(int32_t byte, int32_t n, MathOp op) {
  int32_t result = 0;
  if (integer::do_math_op(byte, n, op, result)) return result;
  const int64_t exact = op == MathOp::add ? int64_t{byte} + n : op == MathOp::subtract ? int64_t{byte} - n : int64_t{byte} * n;
  return exact > 0 ? 255 : 0;
}

// One byte op a float, truncated toward zero (NaN gives 0).
int64_t float_op(int32_t byte, double f, MathOp op) {
  const double result = float_::math_op(byte, f, op);
  if (std::isnan(result)) return 0;
  return static_cast<int64_t>(std::clamp(result, -1.0, 256.0));
}

void do_math(Val left, Val right, MathOp op) {
  const Cell other = *right;
  Bytes bytes = bytes_of(*left);
  int count = count_of(*left);
  switch (cell::type_of(other)) {
    case TypeId::integer:
      for (int i = 0; i < count; ++i) bytes[i] = clamp_byte(integer_op(bytes[i], integer::get(other), op));
      break;
    case TypeId::float_:
    case TypeId::percent:
      for (int i = 0; i < count; ++i) bytes[i] = clamp_byte(float_op(bytes[i], cell::get_double(other), op));
      break;
    case TypeId::tuple: {
      const Bytes operand = bytes_of(other);
      count = std::max(count, count_of(other));
      for (int i = 0; i < count; ++i) bytes[i] = clamp_byte(integer_op(bytes[i], operand[i], op));
      break;
    }
    default:
      integer::raise_invalid_type(other);
  }
  const uint32_t flags = left->header & ~cell::type_mask & ~(count_mask << count_shift);
  *left = make(bytes, count);
  left->header |= flags;
}

template <MathOp op>
void math(Val left, Val right) {
  if (!cell::is(*left, TypeId::tuple)) swapped_math(left, right, op);
  else do_math(left, right, op);
}

// --- other actions -------------------------------------------------------------

void random_value(Val value, bool seed, bool secure, bool) {
  if (seed) {
    random::mt_seed(value->w1 ^ value->w2 ^ value->w3);
    *value = unset::make();
    return;
  }
  Bytes bytes = bytes_of(*value);
  for (int i = 0; i < count_of(*value); ++i) bytes[i] = static_cast<uint8_t>(random::int_range(secure, bytes[i] + 1) - 1);
  *value = make(bytes, count_of(*value));
}

int32_t form(Val value, Val out, int32_t part) {
  const Bytes bytes = bytes_of(*value);
  std::string text;
  for (int i = 0; i < count_of(*value); ++i) {
    if (i > 0) text += '.';
    text += std::to_string(bytes[i]);
  }
  return mold::emit(out, text, part);
}

int32_t mold_value(Val value, Val out, const MoldOptions&, int32_t part) { return form(value, out, part); }

int compare(const Cell& a, const Cell& b, CmpOp) {
  if (!cell::is(b, TypeId::tuple)) return -2;
  const Bytes x = bytes_of(a);
  const Bytes y = bytes_of(b);
  for (int i = 0; i < max_count; ++i)
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  return 0;
}

void complement(Val value) {
  Bytes bytes = bytes_of(*value);
  for (int i = 0; i < count_of(*value); ++i) bytes[i] = static_cast<uint8_t>(~bytes[i]);
  *value = make(bytes, count_of(*value));
}

int32_t length(Val value) { return count_of(*value); }

// The 0-based byte a selector names; raises for any other selector.
int byte_index(const Cell& tuple, const Cell& selector) {
  if (!cell::is(selector, TypeId::integer)) integer::raise_invalid_type(selector);
  const int32_t index = integer::get(selector);
  if (index < 1 || index > count_of(tuple)) error::raise(error_id::script::out_of_range, selector);
  return index - 1;
}

void pick(Val value, Val index, int32_t) { *value = integer::make(bytes_of(*value)[static_cast<size_t>(byte_index(*value, *index))]); }

// t/2 gets a byte; t/2: 300 stores 255; t/4: none cuts the tuple before
// byte 4 (never below 3 bytes).
void eval_path(PathStep& step) {
  const int at = byte_index(*step.value, *step.selector);
  if (!step.new_value) {
    *step.value = integer::make(bytes_of(*step.value)[static_cast<size_t>(at)]);
    return;
  }
  Bytes bytes = bytes_of(*step.value);
  int count = count_of(*step.value);
  const Cell& given = *step.new_value;
  if (cell::is(given, TypeId::integer)) {
    bytes[static_cast<size_t>(at)] = clamp_byte(integer::get(given));
  } else if (cell::is(given, TypeId::none)) {
    std::fill(bytes.begin() + at, bytes.end(), uint8_t{0});
    count = std::max(at, min_count);
  } else {
    integer::raise_invalid_type(given);
  }
  const uint32_t flags = step.value->header & cell::new_line_flag;
  *step.value = make(bytes, count);
  step.value->header |= flags;
}

[[noreturn]] void invalid_refine(std::string_view name, const Cell& value) {
  const Cell refinement = word::make(TypeId::refinement, no_node, symbol::make(name), word::unresolved);
  error::raise(error_id::script::invalid_refine_arg, refinement, value);
}

// Reverses the first n bytes (all without /part), or with /skip the order
// of the s-byte records in them.
void reverse(Val value, std::optional<Val> part, std::optional<Val> skip) {
  const int count = count_of(*value);
  int n = count;
  if (part) {
    if (!cell::is(**part, TypeId::integer)) invalid_refine("part", **part);
    const int32_t given = integer::get(**part);
    if (given < 0) error::raise(error_id::script::out_of_range, **part);
    n = std::min(given, count);
  }
  int size = 1;
  if (skip) {
    if (!cell::is(**skip, TypeId::integer)) invalid_refine("skip", **skip);
    size = integer::get(**skip);
    if (size < 1) error::raise(error_id::script::out_of_range, **skip);
    if (size == n) return;
    if (n < size || n % size != 0) invalid_refine("part", part ? **part : integer::make(n));
  }
  Bytes bytes = bytes_of(*value);
  const int records = n / size;
  for (int i = 0; i < records / 2; ++i)
    for (int u = 0; u < size; ++u) std::swap(bytes[static_cast<size_t>(i * size + u)], bytes[static_cast<size_t>((records - 1 - i) * size + u)]);
  *value = make(bytes, count);
}

}  // namespace

Cell make(const Bytes& bytes, int count) {
  Cell value{cell::header(TypeId::tuple) | (static_cast<uint32_t>(count) << count_shift), 0, 0, 0};
  Bytes kept{};
  std::copy(bytes.begin(), bytes.begin() + count, kept.begin());
  std::memcpy(&value.w1, kept.data(), 12);
  return value;
}

bool is_zero(const Cell& value) { return value.w1 == 0 && value.w2 == 0 && value.w3 == 0; }

void swapped_math(Val left, Val right, MathOp op) {
  if (op == MathOp::subtract || op == MathOp::divide)
    integer::raise_not_related(cell::type_of(*left), integer::op_name(op));
  const Cell number = *left;
  *left = *right;
  *right = number;
  do_math(left, right, op);
}

std::optional<Cell> max_min(const Cell& tuple, const Cell& other, bool max) {
  Bytes bytes = bytes_of(tuple);
  const int count = count_of(tuple);
  Bytes operand{};
  if (cell::is(other, TypeId::integer) || cell::is(other, TypeId::float_)) {
    const double n = coordinates::number_of(other);
    operand.fill(std::isnan(n) ? uint8_t{0} : clamp_byte(static_cast<int64_t>(std::clamp(n, -1.0, 256.0))));
  } else if (cell::is(other, TypeId::tuple) && count_of(other) == count) {
    operand = bytes_of(other);
  } else {
    return std::nullopt;
  }
  for (int i = 0; i < count; ++i) bytes[i] = max ? std::max(bytes[i], operand[i]) : std::min(bytes[i], operand[i]);
  return make(bytes, count);
}

void register_types() {
  datatype::register_type({TypeId::tuple, TypeId::none_type, "tuple!",
                           {.make = to_value,
                            .random = random_value,
                            .to = to_value,
                            .form = form,
                            .mold = mold_value,
                            .eval_path = eval_path,
                            .compare = compare,
                            .add = math<MathOp::add>,
                            .divide = math<MathOp::divide>,
                            .multiply = math<MathOp::multiply>,
                            .remainder = math<MathOp::remainder>,
                            .subtract = math<MathOp::subtract>,
                            .and_ = math<MathOp::and_>,
                            .complement = complement,
                            .or_ = math<MathOp::or_>,
                            .xor_ = math<MathOp::xor_>,
                            .length_q = length,
                            .pick = pick,
                            .reverse = reverse}});
}

}  // namespace kiv::tuple
