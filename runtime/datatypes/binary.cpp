// binary!: the byte helpers and the actions that binary! overrides.
//
// As in string.cpp, what a value writes is taken out into C++ storage
// first (`value_bytes`); the write that follows may grow or move any
// buffer, the target's own included (`append b b`).
#include "runtime/datatypes/binary.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

#include "runtime/base_encoding.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/memory.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/mold.h"
#include "runtime/ownership.h"
#include "runtime/unicode.h"

namespace kiv::binary {
namespace {

using ownership::Change;
using ownership::ChangeReport;
using series_type::head;
using series_type::total;
using type_traits::is_any_string;

// Bytes on one line of a molded binary.
constexpr uint32_t bytes_per_line = 32;
// From this many bytes on, a molded binary's bytes start on a line of their
// own.
constexpr uint32_t long_binary = 31;
// Characters on one line of a binary molded in base 2 or 64.
constexpr size_t chars_per_line = 64;

std::string_view view_from_head(const Cell& value) {
  const SeriesBuf* buf = memory::buffer(series::node_of(value));
  return {reinterpret_cast<const char*>(buf->head_ptr()) + head(value), series_type::length(value)};
}

uint8_t* byte_address(NodeId node, uint32_t index) { return memory::buffer(node)->head_ptr() + index; }

[[noreturn]] void no_memory() { error::raise(error_id::internal::no_memory); }

Cell new_binary(uint32_t capacity) { return series::make(TypeId::binary, memory::new_series(std::max(capacity, 1u), 1)); }

void append_utf8_of(std::string& out, uint32_t code_point) {
  char encoded[4];
  out.append(encoded, static_cast<size_t>(unicode::encode_utf8_char(code_point, encoded)));
}

void value_bytes_into(std::string& out, Val value, int32_t limit, bool for_change);

// The elements of a block from its head, each by the value rules; `limit`
// counts elements.
void block_bytes_into(std::string& out, Val block, int32_t limit, bool for_change) {
  const NodeId node = series::node_of(*block);
  const uint32_t start = head(*block);
  uint32_t count = series_type::length(*block);
  if (limit >= 0) count = std::min(count, static_cast<uint32_t>(limit));
  for (uint32_t i = 0; i < count && start + i < memory::buffer(node)->length(); ++i) {
    Val item = stack::push(reinterpret_cast<const Cell*>(memory::buffer(node)->head_ptr())[start + i]);
    value_bytes_into(out, item, -1, for_change);
    stack::pop(1);
  }
}

void value_bytes_into(std::string& out, Val value, int32_t limit, bool for_change) {
  const TypeId type = cell::type_of(*value);
  if (type == TypeId::char_) {
    append_utf8_of(out, value->w2);
  } else if (type == TypeId::integer) {
    const int32_t byte = cell::get_int32(*value);
    if (byte < -128 || byte > 255) error::raise(error_id::script::invalid_arg, *value);
    out += static_cast<char>(static_cast<uint8_t>(byte));
  } else if (type == TypeId::binary) {
    std::string_view bytes = view_from_head(*value);
    if (limit >= 0) bytes = bytes.substr(0, static_cast<size_t>(limit));
    out.append(bytes);
  } else if (is_any_string(type)) {
    std::string bytes = unicode::to_utf8(*value);
    if (limit >= 0 && bytes.size() > static_cast<size_t>(limit)) bytes.resize(static_cast<size_t>(limit));
    out += bytes;
  } else if (type == TypeId::block || type == TypeId::paren || type == TypeId::hash) {
    block_bytes_into(out, value, limit, for_change);
  } else if (for_change) {
    Val formed = string::push_new(16);
    mold::form_value(value, formed, INT32_MAX);
    out += unicode::to_utf8(*formed);
    stack::pop(1);
  } else {
    error::raise(error_id::script::bad_to_arg, datatype::make(TypeId::binary), *value);
  }
}

// Replaces `replaced` bytes at `at` by `times` copies of `bytes`. The
// caller has checked that the result fits. May collect.
void splice(NodeId node, uint32_t at, uint32_t replaced, std::string_view bytes, uint32_t times) {
  const auto written = static_cast<uint32_t>(bytes.size() * times);
  if (written > replaced) {
    const uint32_t grow = written - replaced;
    series::reserve_tail(node, grow);
    uint8_t* gap = byte_address(node, at + replaced);
    std::memmove(gap + grow, gap, static_cast<size_t>(memory::buffer(node)->tail_ptr() - gap) - grow);
  } else if (written < replaced) {
    series_type::remove_units(node, at + written, replaced - written);
  }
  if (written == 0) return;
  uint8_t* to = byte_address(node, at);
  std::memcpy(to, bytes.data(), bytes.size());
  if (times > 1) series::fill_repeat(to, static_cast<uint32_t>(bytes.size()), times);
}

// ---- make and to ----

void to_value(Val result, Val spec, TypeId) {
  const TypeId type = cell::type_of(*spec);
  std::string bytes;
  switch (type) {
    case TypeId::char_: append_utf8_of(bytes, spec->w2); break;
    case TypeId::integer: {
      const auto number = static_cast<uint32_t>(cell::get_int32(*spec));
      for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>(number >> shift);
      break;
    }
    case TypeId::float_:
    case TypeId::percent: {
      const auto bits = std::bit_cast<uint64_t>(cell::get_double(*spec));
      for (int shift = 56; shift >= 0; shift -= 8) bytes += static_cast<char>(bits >> shift);
      break;
    }
    case TypeId::issue: {
      const std::string spelling(symbol::spelling(spec->w2));
      const std::u32string digits(spelling.begin(), spelling.end());
      const auto decoded = base_encoding::decode(16, digits);
      if (!decoded) error::raise(error_id::script::invalid_data, *spec);
      bytes = *decoded;
      break;
    }
    case TypeId::bitset: {
      const SeriesBuf* buf = memory::buffer(series::node_of(*spec));
      bytes.assign(reinterpret_cast<const char*>(buf->head_ptr()), buf->used_bytes());
      break;
    }
    case TypeId::binary: bytes.assign(view_from_head(*spec)); break;
    case TypeId::image:
      *result = image::to_binary(*spec, image::Mode::argb);
      return;
    case TypeId::block:
    case TypeId::paren:
    case TypeId::hash: block_bytes_into(bytes, spec, -1, false); break;
    default:
      if (!is_any_string(type)) error::raise(error_id::script::bad_to_arg, datatype::make(TypeId::binary), *spec);
      bytes = unicode::to_utf8(*spec);
  }
  *result = make(bytes);
}

// ---- form and mold ----

constexpr char hex_digits[] = "0123456789ABCDEF";

// The "#{...}" form in base 16. Each byte costs 2 of the budget and each
// line break 1; once a byte leaves less than 1, molding stops there and the
// closing brace is not written.
int32_t mold_hex(Val value, Val out, const MoldOptions& options, int32_t part) {
  const std::string bytes(view_from_head(*value));
  const auto count = static_cast<uint32_t>(bytes.size());
  const bool long_form = count >= long_binary && !options.flat;
  std::string text;
  if (!options.only) text += "#{";
  part -= 2;
  const auto flush = [&] {
    string::append_latin1(out, text);
    text.clear();
  };
  const auto line_break = [&](int32_t levels) {
    text += '\n';
    flush();
    mold::indent(out, levels);
  };
  if (long_form) line_break(options.indent + 1);
  for (uint32_t i = 0; i < count; ++i) {
    const auto byte = static_cast<uint8_t>(bytes[i]);
    text += hex_digits[byte >> 4];
    text += hex_digits[byte & 15];
    part -= 2;
    if ((i + 1) % bytes_per_line == 0 && !options.flat) {
      line_break(options.indent + 1);
      part -= 1;
    }
    if (part < 1) {
      flush();
      return part;
    }
  }
  if (long_form && count % bytes_per_line != 0) line_break(options.indent);
  if (!options.only) text += '}';
  flush();
  return part;
}

// Base 2 and base 64 molds: "2#{" or "64#{", the encoded text in lines of
// 64 characters when it is longer than one line, "}".
int32_t mold_in_base(Val value, Val out, const MoldOptions& options, int32_t part, int32_t base) {
  const std::string encoded = base_encoding::encode(base, view_from_head(*value));
  const bool long_form = encoded.size() > chars_per_line && !options.flat;
  if (!options.only) part = mold::emit(out, base == 2 ? "2#{" : "64#{", part);
  for (size_t at = 0; at < encoded.size(); at += chars_per_line) {
    if (long_form) {
      part = mold::emit(out, "\n", part);
      mold::indent(out, options.indent + 1);
    }
    part = mold::emit(out, std::string_view(encoded).substr(at, chars_per_line), part);
  }
  if (long_form) {
    part = mold::emit(out, "\n", part);
    mold::indent(out, options.indent);
  }
  if (!options.only) part = mold::emit(out, "}", part);
  return part;
}

int32_t mold_value(Val value, Val out, const MoldOptions& options, int32_t part) {
  const int32_t base = mold_base();
  if (base != 16) return mold_in_base(value, out, options, part, base);
  return mold_hex(value, out, options, part);
}

// Form is mold without /only and /flat.
int32_t form(Val value, Val out, int32_t part) { return mold_value(value, out, {}, part); }

// ---- compare ----

// Binaries compare only with binaries: with a text the answer would depend
// on which of the two came first.
int compare(const Cell& a, const Cell& b, CmpOp op) {
  if (!cell::is(b, TypeId::binary)) return -2;
  return compare_values(a, b, op, false);
}

// ---- bitwise ----

enum class Bitwise : uint8_t { and_, or_, xor_ };

void bitwise(Val left, Val right, Bitwise op) {
  if (!cell::is(*right, TypeId::binary)) error::raise(error_id::script::invalid_arg, *right);
  const std::string a(view_from_head(*left));
  const std::string b(view_from_head(*right));
  const std::string& longer = a.size() >= b.size() ? a : b;
  const size_t common = std::min(a.size(), b.size());
  std::string result(longer.size(), '\0');
  for (size_t i = 0; i < common; ++i) {
    const auto x = static_cast<uint8_t>(a[i]);
    const auto y = static_cast<uint8_t>(b[i]);
    result[i] = static_cast<char>(op == Bitwise::and_ ? x & y : op == Bitwise::or_ ? x | y : x ^ y);
  }
  if (op != Bitwise::and_) std::copy(longer.begin() + static_cast<ptrdiff_t>(common), longer.end(), result.begin() + static_cast<ptrdiff_t>(common));
  *left = make(result);
}

void and_(Val left, Val right) { bitwise(left, right, Bitwise::and_); }
void or_(Val left, Val right) { bitwise(left, right, Bitwise::or_); }
void xor_(Val left, Val right) { bitwise(left, right, Bitwise::xor_); }

// Inverts every byte from the head, in place.
void complement(Val value) {
  const uint32_t from = head(*value);
  const uint32_t count = series_type::length(*value);
  uint8_t* at = byte_address(series::node_of(*value), from);
  for (uint32_t i = 0; i < count; ++i) at[i] = static_cast<uint8_t>(~at[i]);
}

// ---- append, insert, change ----

enum class Place : uint8_t { append, insert, change };

void write_value(Val series, Val value, int32_t part, int32_t dup, Place place) {
  const std::string bytes = value_bytes(value, place == Place::change ? -1 : part, place == Place::change);
  const uint32_t times = dup > 1 ? static_cast<uint32_t>(dup) : 1;
  const uint32_t all = total(*series);
  const uint32_t at = place == Place::append ? all : head(*series);
  const uint64_t added = uint64_t{bytes.size()} * times;
  if (added + all > memory::max_capacity) no_memory();
  const auto written = static_cast<uint32_t>(added);
  uint32_t replaced = 0;
  if (place == Place::change) replaced = std::min(part >= 0 ? static_cast<uint32_t>(part) : written, all - at);
  if (written == 0 && replaced == 0) {
    if (place == Place::change) series->w1 = at;
    return;
  }
  const Change change = place == Place::append ? Change::append : place == Place::insert ? Change::insert : Change::change;
  ChangeReport report(series, change, at, written, value);
  // An owner's handler may have changed the series meanwhile.
  const uint32_t now = total(*series);
  const uint32_t start = place == Place::append ? now : std::min(at, now);
  splice(series::node_of(*series), start, std::min(replaced, now - start), bytes, times);
  report.done(start, written);
  series->w1 = place == Place::append ? 0 : std::min(start + written, total(*series));
}

void append(Val series, Val value, int32_t part, bool, int32_t dup) { write_value(series, value, part, dup, Place::append); }
void insert(Val series, Val value, int32_t part, bool, int32_t dup) { write_value(series, value, part, dup, Place::insert); }
void change(Val series, Val value, int32_t part, bool, int32_t dup) { write_value(series, value, part, dup, Place::change); }

// ---- trim ----

// The bytes trim/with removes: the units of a text or binary from its
// head, or one char! or integer! value.
std::string removal_set(const Cell& with) {
  const TypeId type = cell::type_of(with);
  if (type == TypeId::binary) return std::string(view_from_head(with));
  if (type == TypeId::char_ || type == TypeId::integer) {
    return with.w2 <= 0xFF ? std::string(1, static_cast<char>(with.w2)) : std::string();
  }
  if (is_any_string(type)) {
    std::string set;
    const NodeId node = series::node_of(with);
    for (uint32_t i = head(with); i < total(with); ++i)
      if (const uint32_t c = string::char_at(node, i); c <= 0xFF) set += static_cast<char>(c);
    return set;
  }
  error::raise(error_id::script::invalid_arg, with);
}

// /all removes every 0 byte and /with the bytes of its value; otherwise 0
// bytes go from the head and from the tail (/head or /tail: that end only).
void trim(Val series, const TrimOptions& options) {
  const bool by_set = options.all || options.with;
  if (!by_set && (options.auto_ || options.lines)) error::raise(error_id::internal::not_done);
  const std::string set = options.with ? removal_set(**options.with) : std::string(1, '\0');
  const uint32_t from = head(*series);
  const std::string bytes(view_from_head(*series));
  std::string kept;
  if (by_set) {
    bool removed[256] = {};
    for (const char c : set) removed[static_cast<uint8_t>(c)] = true;
    for (const char c : bytes)
      if (!removed[static_cast<uint8_t>(c)]) kept += c;
  } else {
    size_t first = 0;
    size_t end = bytes.size();
    if (!options.tail || options.head)
      while (first < end && bytes[first] == '\0') ++first;
    if (!options.head || options.tail)
      while (end > first && bytes[end - 1] == '\0') --end;
    kept = bytes.substr(first, end - first);
  }
  ChangeReport report(series, Change::trim, from, static_cast<uint32_t>(bytes.size()));
  // A handler may have shortened the series: write back what still fits.
  const NodeId node = series::node_of(*series);
  const uint32_t room = total(*series) > from ? total(*series) - from : 0;
  const auto count = std::min(static_cast<uint32_t>(kept.size()), room);
  std::memcpy(byte_address(node, from), kept.data(), count);
  SeriesBuf* buf = memory::buffer(node);
  buf->tail = std::min(buf->tail, buf->head + from + count);
  report.done(from, count);
}

}  // namespace

Cell make(std::string_view bytes) {
  const auto count = static_cast<uint32_t>(bytes.size());
  const Cell made = new_binary(count);
  SeriesBuf* buffer = memory::buffer(series::node_of(made));
  if (count != 0) std::memcpy(buffer->head_ptr(), bytes.data(), count);
  buffer->tail = buffer->head + count;
  return made;
}

std::string bytes_from_index(const Cell& value) { return std::string(view_from_head(value)); }

void append_bytes(Val binary, std::string_view bytes) {
  if (bytes.empty()) return;
  if (uint64_t{bytes.size()} + total(*binary) > memory::max_capacity) no_memory();
  const NodeId node = series::node_of(*binary);
  const uint32_t offset = series::reserve_tail(node, static_cast<uint32_t>(bytes.size()));
  std::memcpy(memory::buffer(node)->data() + offset, bytes.data(), bytes.size());
}

std::string value_bytes(Val value, int32_t limit, bool for_change) {
  std::string bytes;
  value_bytes_into(bytes, value, limit, for_change);
  return bytes;
}

uint8_t poke_value(const Cell& value) {
  if (cell::is(value, TypeId::integer)) {
    const int32_t byte = cell::get_int32(value);
    if (byte >= -128 && byte <= 255) return static_cast<uint8_t>(byte);
  } else if (cell::is(value, TypeId::char_) && value.w2 <= 0xFF) {
    return static_cast<uint8_t>(value.w2);
  }
  error::raise(error_id::script::invalid_arg, value);
}

int compare_values(const Cell& a, const Cell& b, CmpOp op, bool match) {
  const TypeId other = cell::type_of(b);
  if (other != TypeId::binary && !(match && is_any_string(other))) return -2;
  const NodeId a_node = series::node_of(a);
  const NodeId b_node = series::node_of(b);
  if (op == CmpOp::same) return a_node == b_node && a.w1 == b.w1 ? 0 : -1;
  const bool equality_op = op == CmpOp::equal || op == CmpOp::not_equal || op == CmpOp::strict_equal || op == CmpOp::lookup;
  const uint32_t a_head = head(a);
  const uint32_t b_head = head(b);
  const uint32_t a_length = total(a) - a_head;
  const uint32_t b_length = total(b) - b_head;
  if (match) {
    if (b_length == 0) return equality_op && op != CmpOp::not_equal ? 0 : 1;
    if (a_length < b_length) return 1;
    const uint8_t* x = byte_address(a_node, a_head);
    for (uint32_t i = 0; i < b_length; ++i) {
      const uint32_t y = other == TypeId::binary ? *byte_address(b_node, b_head + i) : string::char_at(b_node, b_head + i);
      if (x[i] != y) return 1;
    }
    return 0;
  }
  if (equality_op && a_node == b_node && a_head == b_head) return 0;
  if (equality_op && a_length != b_length) return 1;
  const uint32_t count = std::min(a_length, b_length);
  if (count > 0) {
    const int order = std::memcmp(byte_address(a_node, a_head), byte_address(b_node, b_head), count);
    if (order != 0) return order < 0 ? -1 : 1;
  }
  return a_length > b_length ? 1 : a_length < b_length ? -1 : 0;
}

int32_t mold_base() {
  const NodeId global = context::global();
  if (global == no_node) return 16;
  const int32_t index = context::find_symbol(global, symbol::make("system"), true);
  if (index < 0) return 16;
  const Cell system = *context::slot(global, static_cast<uint32_t>(index));
  if (!cell::is(system, TypeId::object)) return 16;
  const Cell options = object::select_value(system, symbol::make("options"));
  if (!cell::is(options, TypeId::object)) return 16;
  const Cell base = object::select_value(options, symbol::make("binary-base"));
  if (!cell::is(base, TypeId::integer)) return 16;
  const int32_t value = cell::get_int32(base);
  return value == 2 || value == 64 ? value : 16;
}

void register_types() {
  ActionSlots slots = string::inherited_slots();
  slots.to = to_value;
  slots.form = form;
  slots.mold = mold_value;
  slots.compare = compare;
  slots.and_ = and_;
  slots.complement = complement;
  slots.or_ = or_;
  slots.xor_ = xor_;
  slots.append = append;
  slots.insert = insert;
  slots.change = change;
  slots.trim = trim;
  datatype::register_type({TypeId::binary, TypeId::string, "binary!", slots});
}

}  // namespace kiv::binary
