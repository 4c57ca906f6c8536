// string!: the text layer and the string actions.
//
// Cell: w1 head index (units from the buffer's head), w2 node, w3 0. The
// buffer's unit is 1, 2 or 4 bytes (Latin-1, UCS-2, UCS-4; never a
// surrogate pair, so an index is always a character). See string.h for the
// widening rules of the writers.
//
// The actions that take text out of one value and write it into a string
// (append, insert, change, find, trim, sort) first copy what they read into
// C++ storage (`Units`, or a vector of code points). Writing may then grow
// or move any buffer, the source's included, and a string may be its own
// argument: `append s s` reads the text before the write begins.
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/string.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "runtime/core/error_raise.h"
#include "runtime/core/exits.h"
#include "runtime/core/memory.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/record_sort.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/sort_support.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/mold.h"
#include "runtime/ownership.h"
#include "runtime/unicode.h"

namespace kiv::string {

namespace {

using ownership::Change;
using ownership::ChangeReport;
using series_type::head;
using series_type::total;
using type_traits::is_any_string;

// Buffer flag of a bitset! whose members include every bit beyond the
// stored bytes.
constexpr uint32_t bitset_not_flag = 0x00080000;

uint32_t read_unit(const uint8_t* at, uint32_t unit) {
  uint32_t code_point = 0;
  std::memcpy(&code_point, at, unit);  // little-endian: the low bytes first
  return code_point;
}

void write_unit(uint8_t* at, uint32_t unit, uint32_t code_point) { std::memcpy(at, &code_point, unit); }

uint32_t unit_of(NodeId node) { return memory::buffer(node)->unit(); }

// Address of unit `index` counted from the buffer's head; valid until the
// next allocation.
uint8_t* unit_address(NodeId node, uint32_t index) {
  SeriesBuf* buf = memory::buffer(node);
  return buf->head_ptr() + size_t{index} * buf->unit();
}

// The code points of `count` units from `start` (counted from the
// buffer's head).
std::u32string code_points(const Cell& series, uint32_t start, uint32_t count) {
  const NodeId node = series::node_of(series);
  const uint32_t unit = unit_of(node);
  const uint8_t* at = unit_address(node, start);
  std::u32string text(count, U'\0');
  for (uint32_t i = 0; i < count; ++i) text[i] = read_unit(at + size_t{i} * unit, unit);
  return text;
}

std::u32string code_points(const Cell& series) {
  return code_points(series, head(series), series_type::length(series));
}

// Appends code points at the tail, widening by the append rule. May collect.
void append_code_points(Val out, std::u32string_view text) {
  if (text.empty()) return;
  uint32_t widest = 1;
  for (const char32_t c : text) widest = std::max(widest, unit_to_append(c));
  const NodeId node = series::node_of(*out);
  widen(node, widest);
  const uint32_t unit = unit_of(node);
  const uint32_t offset = series::reserve_tail(node, static_cast<uint32_t>(text.size()) * unit);
  uint8_t* at = memory::buffer(node)->data() + offset;
  for (const char32_t c : text) {
    write_unit(at, unit, c);
    at += unit;
  }
}

// Stores a code point over unit `index` (below the length), widening by
// the store rule. May collect.
void store_char(NodeId node, uint32_t index, uint32_t code_point) {
  widen(node, unit_to_store(code_point));
  write_unit(unit_address(node, index), unit_of(node), code_point);
}

// The word of a refinement, for error reports.
Cell refinement(std::string_view name) {
  return word::make(TypeId::refinement, no_node, symbol::make(name), word::unresolved);
}

[[noreturn]] void invalid_refine_arg(std::string_view name, const Cell& value) {
  error::raise(error_id::script::invalid_refine_arg, refinement(name), value);
}

// A /part argument of find and sort: an integer! count, or a position in
// the same series (same type, same node); the count may be negative.
int64_t part_count(const Cell& series, const Cell& part) {
  if (cell::is(part, TypeId::integer)) return cell::get_int32(part);
  if (cell::type_of(part) == cell::type_of(series) && series::node_of(part) == series::node_of(series))
    return static_cast<int64_t>(head(part)) - head(series);
  invalid_refine_arg("part", part);
}

bool is_text_or_binary(TypeId type) { return is_any_string(type) || type == TypeId::binary; }

// Forms `value` into `out`; a char! is its code point.
int32_t form_into(Val value, Val out, int32_t budget) {
  if (cell::is(*value, TypeId::char_)) {
    append_char(out, value->w2);
    return budget - 1;
  }
  return mold::form_value(value, out, budget);
}

// ---- text taken out of a value ----

// Code units held outside the series heap, `unit` bytes each.
// Bytes with room for a short text inside, so that appending a short
// string allocates nothing on the C++ heap.
class UnitBytes {
 public:
  void assign(const uint8_t* from, const uint8_t* to) {
    resize(static_cast<size_t>(to - from));
    if (size_ != 0) std::memcpy(data(), from, size_);
  }
  void resize(size_t size) {
    if (size > inline_size) heap_.resize(size);
    size_ = size;
  }
  uint8_t* data() { return size_ > inline_size ? heap_.data() : inline_; }
  const uint8_t* data() const { return size_ > inline_size ? heap_.data() : inline_; }
  size_t size() const { return size_; }

 private:
  static constexpr size_t inline_size = 64;
  uint8_t inline_[inline_size];
  std::vector<uint8_t> heap_;
  size_t size_ = 0;
};

struct Units {
  UnitBytes bytes;
  uint32_t unit = 1;

  uint32_t count() const { return static_cast<uint32_t>(bytes.size() / unit); }
  uint32_t at(uint32_t i) const { return read_unit(bytes.data() + size_t{i} * unit, unit); }
};

Units units_of(const Cell& series, uint32_t start, uint32_t count) {
  const NodeId node = series::node_of(series);
  Units units;
  units.unit = unit_of(node);
  const uint8_t* from = unit_address(node, start);
  units.bytes.assign(from, from + size_t{count} * units.unit);
  return units;
}

// The text that `value` writes into a string: an any-string's text from
// its head (a tag! with its angle brackets), a char!'s code point in the
// unit the append rule gives it, the elements of a block formed one after
// another with no separator, any other value formed. At most `limit` units
// when `limit` is not negative. May collect.
Units value_units(Val value, int32_t limit) {
  const TypeId type = cell::type_of(*value);
  const uint32_t most = limit < 0 ? UINT32_MAX : static_cast<uint32_t>(limit);
  if (is_any_string(type) && type != TypeId::tag)
    return units_of(*value, head(*value), std::min(series_type::length(*value), most));
  if (type == TypeId::char_) {
    Units units;
    units.unit = unit_to_append(value->w2);
    if (most > 0) {
      units.bytes.resize(units.unit);
      write_unit(units.bytes.data(), units.unit, value->w2);
    }
    return units;
  }
  int32_t budget = limit < 0 ? INT32_MAX : limit;
  Val out = push_new(16);
  if (type_traits::is_any_list(type)) {
    const NodeId node = series::node_of(*value);
    for (uint32_t i = head(*value); i < total(*value) && budget > 0; ++i) {
      Val item = stack::push(reinterpret_cast<const Cell*>(memory::buffer(node)->head_ptr())[i]);
      budget = form_into(item, out, budget);
      stack::pop(1);
    }
  } else {
    form_into(value, out, budget);
  }
  Units units = units_of(*out, 0, std::min(series_type::length(*out), most));
  stack::pop(1);
  return units;
}

// Replaces `replaced` units at `at` by `times` copies of `text`, widening
// the series to the text's unit first. May collect.
void splice(NodeId node, uint32_t at, uint32_t replaced, const Units& text, uint32_t times) {
  widen(node, text.unit);
  const uint32_t unit = unit_of(node);
  const uint32_t written = text.count() * times;
  if (written > replaced) {
    const uint32_t grow = (written - replaced) * unit;
    series::reserve_tail(node, grow);
    uint8_t* gap = unit_address(node, at + replaced);
    std::memmove(gap + grow, gap, static_cast<size_t>(memory::buffer(node)->tail_ptr() - gap) - grow);
  } else if (written < replaced) {
    series_type::remove_units(node, at + written, replaced - written);
  }
  if (written == 0) return;
  uint8_t* to = unit_address(node, at);
  if (text.unit == unit) {
    std::memcpy(to, text.bytes.data(), text.bytes.size());
  } else {
    for (uint32_t i = 0; i < text.count(); ++i) write_unit(to + size_t{i} * unit, unit, text.at(i));
  }
  if (times > 1) series::fill_repeat(to, text.count() * unit, times);
}

// A new string of `type` holding `text`. May collect.
Cell make_text(std::u32string_view text, TypeId type = TypeId::string) {
  Val out = push_new(static_cast<uint32_t>(text.size()));
  append_code_points(out, text);
  Cell made = *out;
  stack::pop(1);
  cell::set_type(made, type);
  return made;
}

// ---- make and to ----

void to_value(Val result, Val spec, TypeId type);

// make string! 10 reserves room; any other spec converts as `to` does.
void make_value(Val result, Val spec, TypeId type) {
  const TypeId spec_type = cell::type_of(*spec);
  if (spec_type == TypeId::integer || spec_type == TypeId::float_) {
    double size = spec_type == TypeId::integer ? cell::get_int32(*spec) : std::trunc(cell::get_double(*spec));
    if (!(size >= 0.0 && size <= static_cast<double>(memory::max_capacity))) error::raise(error_id::script::out_of_range, *spec);
    Cell made = make_new(static_cast<uint32_t>(size));
    *result = cell::set_type(made, type);
    return;
  }
  if (type == TypeId::binary) {
    if (spec_type == TypeId::money) error::raise(error_id::script::bad_make_arg, datatype::make(type), *spec);
    datatype::actions(TypeId::binary).to(result, spec, type);
    return;
  }
  to_value(result, spec, type);
}

// Decodes the bytes of a binary! from its head; at the first byte that
// does not start a well-formed sequence raises access/invalid-utf8 with a
// binary! of the bytes from it to the end. May collect.
Cell decode_binary(const Cell& binary) {
  const NodeId node = series::node_of(binary);
  const uint32_t from = head(binary);
  std::u32string text;
  {
    const SeriesBuf* buf = memory::buffer(node);
    const std::string_view bytes(reinterpret_cast<const char*>(buf->head_ptr()) + from, buf->length() - from);
    for (size_t pos = 0; pos < bytes.size();) {
      uint32_t code_point = 0;
      const int size = unicode::decode_utf8_strict(bytes.substr(pos), code_point);
      if (size <= 0) {
        const Cell rest = series::make(TypeId::binary, series::copy_units(node, from + static_cast<uint32_t>(pos), UINT32_MAX));
        error::raise(error_id::access::invalid_utf8, rest);
      }
      text.push_back(code_point);
      pos += static_cast<size_t>(size);
    }
  }
  return make_text(text);
}

void to_value(Val result, Val spec, TypeId type) {
  const TypeId spec_type = cell::type_of(*spec);
  if (spec_type == TypeId::none) error::raise(error_id::script::bad_to_arg, datatype::make(type), *spec);
  if (is_any_string(spec_type)) {
    *result = series_type::copy_range(*spec, head(*spec), series_type::length(*spec));
  } else if (spec_type == TypeId::binary) {
    *result = decode_binary(*spec);
  } else if (spec_type == TypeId::refinement && type != TypeId::string) {
    // Other text types take the refinement's source form: file! /a is %/a.
    Val out = push_new(16);
    mold::mold_value(spec, out, {.only = true, .all = true}, INT32_MAX);
    *result = *out;
    stack::pop(1);
  } else {
    const Units text = value_units(spec, -1);
    Val out = push_new(text.count());
    splice(series::node_of(*out), 0, 0, text, 1);
    *result = *out;
    stack::pop(1);
  }
  cell::set_type(*result, type);
}

// ---- form and mold ----

// The character written after a caret, for code points below 95; 0 when
// the character is written as it is.
constexpr std::array<char, 95> caret_escapes = [] {
  std::array<char, 95> table{};
  table[0] = '@';
  for (int c = 1; c <= 26; ++c) table[c] = static_cast<char>('A' + c - 1);
  table[9] = '-';
  table[10] = '/';
  table[27] = '[';
  table[28] = '\\';
  table[29] = ']';
  table[30] = '^';  // never used: 30 molds as ^(1E)
  table[31] = '_';
  table['"'] = '"';
  table['^'] = '^';
  return table;
}();

void mold_char_into(std::u32string& out, uint32_t code_point, bool all) {
  if (code_point == 30 || (code_point >= 0x80 && code_point <= 0x9F) || (all && code_point > 127)) {
    static constexpr char digits[] = "0123456789ABCDEF";
    char hex[8];
    int n = 0;
    do {
      hex[n++] = digits[code_point & 0xF];
      code_point >>= 4;
    } while (code_point != 0);
    out += U"^(";
    while (n > 0) out += static_cast<char32_t>(hex[--n]);
    out += U')';
  } else if (code_point < caret_escapes.size() && caret_escapes[code_point] != 0) {
    out += U'^';
    out += static_cast<char32_t>(caret_escapes[code_point]);
  } else if (code_point == 127) {
    out += U"^~";
  } else {
    out += static_cast<char32_t>(code_point);
  }
}

// Appends the text from the head: at most `part` units. Answers `part`
// less the whole length from the head.
int32_t form(Val value, Val out, int32_t part) {
  const uint32_t whole = series_type::length(*value);
  const uint32_t count = std::min<uint32_t>(whole, static_cast<uint32_t>(std::max(part, 0)));
  const NodeId source = series::node_of(*value);
  const NodeId target = series::node_of(*out);
  const uint32_t start = head(*value);
  bool plain = unit_of(source) == 1 && unit_of(target) == 1;
  for (uint32_t i = 0; plain && i < count; ++i) plain = unit_address(source, start)[i] < 0x80;
  if (plain) {
    const uint32_t offset = series::reserve_tail(target, count);
    std::memmove(memory::buffer(target)->data() + offset, unit_address(source, start), count);
  } else {
    append_code_points(out, code_points(*value, start, count));
  }
  return part - static_cast<int32_t>(whole);
}

// Source text that the lexer reads back as the same string: in double
// quotes, or in braces when the text holds a double quote, three line
// feeds or more, or is 50 characters long or longer. Answers `part` less
// the units molded and the two delimiters.
int32_t mold_value(Val value, Val out, const MoldOptions& options, int32_t part) {
  const uint32_t whole = series_type::length(*value);
  const uint32_t count = part < 0 ? 0 : std::min(whole, static_cast<uint32_t>(part));
  const std::u32string text = code_points(*value, head(*value), count);
  const auto quotes = std::count(text.begin(), text.end(), U'"');
  const auto lines = std::count(text.begin(), text.end(), U'\n');
  const bool braces = lines >= 3 || quotes > 0 || whole >= 50;

  // Which opening braces have their closing brace within the text.
  std::vector<bool> matched(braces ? count : 0, false);
  if (braces) {
    std::vector<uint32_t> open;
    for (uint32_t i = 0; i < count; ++i) {
      if (text[i] == U'{') {
        open.push_back(i);
      } else if (text[i] == U'}' && !open.empty()) {
        matched[open.back()] = true;
        open.pop_back();
      }
    }
  }

  std::u32string molded;
  molded.reserve(count + 2);
  molded += braces ? U'{' : U'"';
  bool balanced = true;
  int32_t depth = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const char32_t c = text[i];
    if (!braces) {
      mold_char_into(molded, c, options.all);
    } else if (c == U'{') {
      // One opening brace without its match escapes every later one.
      if (balanced && !matched[i]) balanced = false;
      if (balanced) ++depth;
      molded += balanced ? U"{" : U"^{";
    } else if (c == U'}') {
      molded += depth > 0 ? U"}" : U"^}";
      if (depth > 0) --depth;
    } else if (c == U'"') {
      molded += c;
    } else {
      mold_char_into(molded, c, options.all);
    }
  }
  molded += braces ? U'}' : U'"';
  append_code_points(out, molded);
  return part - static_cast<int32_t>(count) - 2;
}

// ---- compare ----

// Text types compare with each other for equality only: "a" = %a, but
// ordering a string against a file is refused.
int compare(const Cell& a, const Cell& b, CmpOp op) {
  const TypeId other = cell::type_of(b);
  if (cell::type_of(a) != other && (!is_any_string(other) || (op != CmpOp::equal && op != CmpOp::not_equal)))
    return -2;
  return compare_values(a, b, op, false);
}

// ---- append, insert, change ----

enum class Place : uint8_t { append, insert, change };

// The commonest append: the text of an any-string (not a tag!) once, in
// the string's own unit, to a string that nobody owns and that has room
// for it. Nothing is allocated, so each buffer is looked up once and the
// units are copied straight across. Answers false, having changed nothing,
// for every other case. May collect (the stress mode, before it starts).
bool append_in_place(Val series, Val value, int32_t part, int32_t dup) {
  const TypeId type = cell::type_of(*value);
  if (dup > 1 || !is_any_string(type) || type == TypeId::tag) return false;
  gc::may_gc();
  SeriesBuf* to_buf = memory::buffer(series::node_of(*series));
  const SeriesBuf* from_buf = memory::buffer(series::node_of(*value));
  const uint32_t unit = to_buf->unit();
  if ((to_buf->flags & series_flag::owned) || from_buf->unit() != unit) return false;
  const uint32_t from_total = from_buf->length();
  const uint32_t start = std::min(value->w1, from_total);
  const uint32_t count = std::min(from_total - start, part < 0 ? UINT32_MAX : static_cast<uint32_t>(part));
  const uint64_t bytes = uint64_t{count} * unit;
  if (bytes > to_buf->capacity - to_buf->tail) return false;
  if (count == 0) return true;
  // The value may be the series itself: its units all lie below the tail.
  std::memcpy(to_buf->tail_ptr(), from_buf->head_ptr() + size_t{start} * unit, bytes);
  to_buf->tail += static_cast<uint32_t>(bytes);
  series->w1 = 0;
  return true;
}

// The common append: the text of an any-string (not a tag!) once, to a
// string that nobody owns. No change handler can run between reading the
// text and writing it, so it is copied straight across, with no snapshot;
// answers false, having done nothing, for every other case. The value may
// be the series itself: its units all lie below the tail being written.
// May collect.
bool append_string_directly(Val series, Val value, int32_t part, int32_t dup) {
  const TypeId type = cell::type_of(*value);
  if (dup > 1 || !is_any_string(type) || type == TypeId::tag) return false;
  const NodeId node = series::node_of(*series);
  const SeriesBuf* to_buf = memory::buffer(node);
  if (to_buf->flags & series_flag::owned) return false;
  const NodeId from = series::node_of(*value);
  const SeriesBuf* from_buf = memory::buffer(from);
  const uint32_t from_total = from_buf->length();
  const uint32_t start = std::min(value->w1, from_total);
  const uint32_t count = std::min(from_total - start, part < 0 ? UINT32_MAX : static_cast<uint32_t>(part));
  if (count == 0) return true;
  const uint32_t from_unit = from_buf->unit();
  if ((uint64_t{count} + to_buf->length()) * std::max(from_unit, to_buf->unit()) > memory::max_capacity)
    error::raise(error_id::internal::no_memory);
  if (from_unit > to_buf->unit()) widen(node, from_unit);
  const uint32_t unit = unit_of(node);
  const uint32_t offset = series::reserve_tail(node, count * unit);
  // Both buffers may have moved: the text is found again from its node.
  uint8_t* to = memory::buffer(node)->data() + offset;
  const uint8_t* text = unit_address(from, start);
  if (from_unit == unit) {
    std::memcpy(to, text, size_t{count} * unit);
  } else {
    for (uint32_t i = 0; i < count; ++i) write_unit(to + size_t{i} * unit, unit, read_unit(text + size_t{i} * from_unit, from_unit));
  }
  series->w1 = 0;
  return true;
}

// Writes the text of `value` (`dup` times) at the tail, at the head, or
// over the units from the head. For append and insert `part` limits the
// units taken from the value; for change it is the count of units
// replaced. May collect.
void write_value(Val series, Val value, int32_t part, int32_t dup, Place place) {
  const Units text = value_units(value, place == Place::change ? -1 : part);
  const uint32_t times = dup > 1 ? static_cast<uint32_t>(dup) : 1;
  const NodeId node = series::node_of(*series);
  const uint32_t all = total(*series);
  const uint32_t at = place == Place::append ? all : head(*series);
  const uint64_t added = uint64_t{text.count()} * times;
  if ((added + all) * std::max(text.unit, unit_of(node)) > memory::max_capacity) error::raise(error_id::internal::no_memory);
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
  splice(node, start, std::min(replaced, now - start), text, times);
  report.done(start, written);
  series->w1 = place == Place::append ? 0 : std::min(start + written, total(*series));
}

// Out of line: append's own frame stays small for the case in place.
[[gnu::noinline]] void append_growing(Val series, Val value, int32_t part, int32_t dup) {
  if (!append_string_directly(series, value, part, dup)) write_value(series, value, part, dup, Place::append);
}

void append(Val series, Val value, int32_t part, bool, int32_t dup) {
  if (!append_in_place(series, value, part, dup)) append_growing(series, value, part, dup);
}

void insert(Val series, Val value, int32_t part, bool, int32_t dup) {
  write_value(series, value, part, dup, Place::insert);
}

void change(Val series, Val value, int32_t part, bool, int32_t dup) {
  write_value(series, value, part, dup, Place::change);
}

// ---- find and select ----

bool in_bitset(NodeId bits, uint32_t code_point) {
  const SeriesBuf* buf = memory::buffer(bits);
  const uint32_t byte = code_point >> 3;
  if (byte >= buf->used_bytes()) return (buf->flags & bitset_not_flag) != 0;
  return (buf->head_ptr()[byte] & (0x80u >> (code_point & 7))) != 0;
}

// What find looks for.
struct Pattern {
  enum class Kind : uint8_t { code_point, bitset, text };
  Kind kind = Kind::text;
  uint32_t code_point = 0;
  NodeId bits = no_node;
  std::u32string text;  // folded when the search folds

  uint32_t size() const { return kind == Kind::text ? static_cast<uint32_t>(text.size()) : 1; }
};

// A char! is one code point, a bitset! any of its members; an any-string
// (but a tag!) is its text from its head and a word! its spelling; every
// other value, a tag! included, is looked for as its formed text. May
// collect.
Pattern pattern_of(Val value, bool fold, bool in_binary) {
  Pattern pattern;
  const TypeId type = cell::type_of(*value);
  if (in_binary) {
    // Bytes: a binary's own, a text's UTF-8, one integer's value.
    if (type == TypeId::integer) {
      pattern.kind = Pattern::Kind::code_point;
      pattern.code_point = value->w2;
      return pattern;
    }
    if (type == TypeId::binary || (is_any_string(type) && type != TypeId::tag)) {
      const std::string bytes = type == TypeId::binary ? binary::bytes_from_index(*value) : unicode::to_utf8(*value);
      pattern.text.assign(bytes.begin(), bytes.end());
      for (char32_t& c : pattern.text) c &= 0xFF;
      return pattern;
    }
  }
  if (type == TypeId::char_) {
    pattern.kind = Pattern::Kind::code_point;
    pattern.code_point = fold ? unicode::to_lower(value->w2) : value->w2;
    return pattern;
  }
  if (type == TypeId::bitset) {
    pattern.kind = Pattern::Kind::bitset;
    pattern.bits = series::node_of(*value);
    return pattern;
  }
  if (type == TypeId::binary) error::raise(error_id::script::invalid_arg, *value);
  if (is_any_string(type) && type != TypeId::tag) {
    pattern.text = code_points(*value);
  } else if (type == TypeId::word) {
    const std::string spelling(symbol::spelling(value->w2));
    for (size_t pos = 0; pos < spelling.size();) pattern.text += static_cast<char32_t>(unicode::decode_utf8(spelling, pos));
  } else {
    Val out = push_new(16);
    form_into(value, out, INT32_MAX);
    pattern.text = code_points(*out);
    stack::pop(1);
  }
  if (fold)
    for (char32_t& c : pattern.text) c = unicode::to_lower(c);
  return pattern;
}

// A match: units [start, end) counted from the buffer's head.
struct Match {
  uint32_t start;
  uint32_t end;
};

std::optional<Match> search(Val series, Val value, const FindOptions& options) {
  const uint32_t all = total(*series);
  const uint32_t from = head(*series);
  const bool reverse = options.reverse && !options.last;
  if (all == 0 || (from >= all && !reverse)) return std::nullopt;
  if (options.any || options.with) error::raise(error_id::internal::not_done);
  uint32_t step = 1;
  if (options.skip) {
    if (!cell::is(**options.skip, TypeId::integer)) invalid_refine_arg("skip", **options.skip);
    const int32_t size = cell::get_int32(**options.skip);
    if (size < 1) error::raise(error_id::script::out_of_range, **options.skip);
    step = static_cast<uint32_t>(size);
  }
  // The units searched: from the head to the tail, or, with /reverse,
  // those before the head; /part takes at most that many.
  int64_t count = reverse ? from : all - from;
  if (options.part) {
    const int64_t limit = part_count(*series, **options.part);
    if (limit < 1) return std::nullopt;
    count = std::min(count, limit);
  }
  if (reverse && options.match) return std::nullopt;
  const bool in_binary = cell::is(*series, TypeId::binary);
  const bool fold = !options.case_ && !options.same && !in_binary;
  const Pattern pattern = pattern_of(value, fold, in_binary);  // may collect: before any address is taken
  const uint32_t size = pattern.size();
  if (size == 0) return std::nullopt;

  const SeriesBuf* buf = memory::buffer(series::node_of(*series));
  const uint8_t* data = buf->head_ptr();
  const uint32_t unit = buf->unit();
  const auto raw = [&](int64_t i) { return read_unit(data + static_cast<size_t>(i) * unit, unit); };
  const auto folded = [&](int64_t i) { return fold ? unicode::to_lower(raw(i)) : raw(i); };
  const auto matches = [&](int64_t start) {
    switch (pattern.kind) {
      case Pattern::Kind::code_point: return folded(start) == pattern.code_point;
      case Pattern::Kind::bitset: return in_bitset(pattern.bits, raw(start));
      case Pattern::Kind::text: break;
    }
    for (uint32_t k = 0; k < size; ++k)
      if (folded(start + k) != pattern.text[k]) return false;
    return true;
  };
  const auto found = [&](int64_t start) {
    return Match{static_cast<uint32_t>(start), static_cast<uint32_t>(start + size)};
  };

  if (!options.last && !reverse) {
    const int64_t end = from + count;
    for (int64_t p = from; p + size <= end; p += step) {
      if (matches(p)) return found(p);
      if (options.match) break;
    }
    return std::nullopt;
  }
  // Backward: each tried position is where the match ends.
  const int64_t limit = options.last ? from : from - count;
  const int64_t first = options.last ? from + count - 1 : static_cast<int64_t>(from) - 1;
  for (int64_t p = first; p - size + 1 >= limit; p -= step) {
    if (matches(p - size + 1)) return found(p - size + 1);
    if (options.match) break;
  }
  return std::nullopt;
}

void find(Val series, Val value, const FindOptions& options) {
  const auto match = search(series, value, options);
  if (!match) {
    *series = none::make();
    return;
  }
  series->w1 = options.tail ? match->end : match->start;
}

// The character just after the match, or none.
void select(Val series, Val value, const FindOptions& options) {
  FindOptions plain = options;
  plain.tail = plain.match = false;
  const auto match = search(series, value, plain);
  if (!match || match->end >= total(*series)) {
    *series = none::make();
    return;
  }
  *series = series_type::unit_value(*series, match->end);
}

// ---- trim ----

bool is_blank(uint32_t c) {
  return (c >= 1 && c <= 32) || c == 133 || c == 160 || c == 5760 || c == 6158 || (c >= 8192 && c <= 8202) ||
         c == 8232 || c == 8233 || c == 8239 || c == 8287 || c == 12288;
}

bool is_line_space(uint32_t c) { return c == 9 || c == 32 || (c > 32 && is_blank(c)); }

// The code points trim/all and trim/with remove.
std::u32string removal_set(const TrimOptions& options) {
  if (!options.with) return U"\t\n\r ";
  const Cell& with = **options.with;
  const TypeId type = cell::type_of(with);
  if (is_any_string(type)) return code_points(with);
  if (type == TypeId::binary) {
    const uint8_t* bytes = unit_address(series::node_of(with), head(with));
    return std::u32string(bytes, bytes + series_type::length(with));
  }
  if (type == TypeId::char_ || type == TypeId::integer) return std::u32string(1, static_cast<char32_t>(with.w2));
  error::raise(error_id::script::invalid_arg, with);
}

// The text trim leaves; `set` is the sorted removal set of /all and /with.
std::u32string trimmed(const std::u32string& text, const TrimOptions& options, const std::u32string& set) {
  std::u32string out;
  if (options.all || options.with) {
    for (const char32_t c : text)
      if (!std::binary_search(set.begin(), set.end(), c)) out += c;
    return out;
  }
  if (options.lines) {
    bool space = false;
    for (const char32_t c : text) {
      if (is_blank(c)) {
        space = !out.empty();
        continue;
      }
      if (space) out += U' ';
      space = false;
      out += c;
    }
    return out;
  }
  size_t first = 0;
  size_t end = text.size();
  if (!options.tail || options.head)
    while (first < end && is_blank(text[first])) ++first;
  bool cut_line_feed = false;
  if (!options.head || options.tail) {
    while (end > first && is_blank(text[end - 1])) cut_line_feed |= text[--end] == U'\n';
  }
  if (options.head || options.tail) return text.substr(first, end - first);
  // Line by line: no line spaces at the start of a line or just before
  // its line feed.
  bool line_start = true;
  std::u32string run;
  for (size_t i = first; i < end; ++i) {
    const char32_t c = text[i];
    if (c == U'\n') {
      run.clear();
      out += c;
      line_start = true;
    } else if (is_line_space(c)) {
      if (!line_start) run += c;
    } else {
      out += run;
      run.clear();
      out += c;
      line_start = false;
    }
  }
  if (cut_line_feed) out += U'\n';
  return out;
}

void trim(Val series, const TrimOptions& options) {
  if (options.auto_ && !options.all && !options.with) error::raise(error_id::internal::not_done);
  std::u32string set;
  if (options.all || options.with) {
    set = removal_set(options);  // a bad /with value raises before anything changes
    std::sort(set.begin(), set.end());
  }
  ChangeReport report(series, Change::trim, head(*series), series_type::length(*series));
  const uint32_t from = head(*series);  // read after the report: a handler may change the series
  const std::u32string text = code_points(*series, from, series_type::length(*series));
  const std::u32string kept = trimmed(text, options, set);
  const NodeId node = series::node_of(*series);
  const uint32_t unit = unit_of(node);
  uint8_t* at = unit_address(node, from);
  for (size_t i = 0; i < kept.size(); ++i) write_unit(at + i * unit, unit, kept[i]);
  SeriesBuf* buf = memory::buffer(node);
  buf->tail = buf->head + (from + static_cast<uint32_t>(kept.size())) * unit;
  report.done(from, static_cast<uint32_t>(kept.size()));
}

// ---- sort ----

void sort(Val series, const SortOptions& options) {
  const sort_support::Plan plan = sort_support::plan(series, options);
  const uint32_t from = plan.from;
  const uint32_t count = plan.count;
  const uint32_t size = plan.size;
  const uint32_t key = plan.key;
  const bool by_function = plan.by_function;
  const uint32_t records = plan.records();
  if (records < 2) return;

  ChangeReport report(series, Change::sort, from, static_cast<uint32_t>(count));
  // A handler (of an owner, or a comparator below) may change the series:
  // the records are sorted apart from it and written back where they fit.
  if (from + count > total(*series)) {
    report.done(from, 0);
    return;
  }
  const std::u32string text = code_points(*series, from, static_cast<uint32_t>(count));
  // Bytes have no case.
  const bool exact = options.case_ || cell::is(*series, TypeId::binary);
  const auto fold = [&](char32_t c) { return exact ? c : unicode::to_lower(c); };
  const int sign = options.reverse ? -1 : 1;
  std::vector<uint32_t> order(records);
  for (uint32_t i = 0; i < records; ++i) order[i] = i;

  const auto run_sort = [&](auto&& compare) {
    if (options.stable)
      record_sort::stable(std::span<uint32_t>(order), compare);
    else
      record_sort::unstable(std::span<uint32_t>(order), compare);
  };
  if (by_function) {
    const uint32_t depth = stack::depth();
    sort_support::FunctionComparator comparator(**options.compare);
    const bool whole_records = options.all && options.skip;
    const auto argument = [&](uint32_t record) {
      return whole_records ? make_text(std::u32string_view(text).substr(size_t{record} * size, size))
                           : make_char(text[size_t{record} * size]);
    };
    run_sort([&](uint32_t a, uint32_t b) {
      Rooted<Cell> first(argument(a));
      Rooted<Cell> second(argument(b));
      return comparator.order(first.get(), second.get(), options.reverse);
    });
    stack::drop_to(depth);
  } else {
    // The units compared: the key unit, or with /all the whole record.
    const uint32_t first_unit = options.all ? 0 : key;
    const uint32_t end_unit = options.all ? size : key + 1;
    run_sort([&](uint32_t a, uint32_t b) {
      for (uint32_t u = first_unit; u < end_unit; ++u) {
        const char32_t x = fold(text[size_t{a} * size + u]);
        const char32_t y = fold(text[size_t{b} * size + u]);
        if (x != y) return x < y ? -sign : sign;
      }
      return 0;
    });
  }

  // A comparator may have changed the series: write what still fits.
  const NodeId node = series::node_of(*series);
  const uint32_t room = total(*series) > from ? std::min<uint32_t>(total(*series) - from, static_cast<uint32_t>(count)) : 0;
  const uint32_t unit = unit_of(node);
  uint8_t* at = unit_address(node, from);
  for (uint32_t i = 0, written = 0; i < records; ++i)
    for (uint32_t u = 0; u < size && written < room; ++u, ++written)
      write_unit(at + size_t{written} * unit, unit, text[size_t{order[i]} * size + u]);
  report.done(from, room);
}

// ---- swap ----

// Exchanges the characters at the heads of two texts (or binaries).
void swap(Val series, Val other) {
  if (!is_text_or_binary(cell::type_of(*other))) error::raise(error_id::script::invalid_arg, *other);
  if (series_type::length(*series) == 0 || series_type::length(*other) == 0) return;
  const NodeId a_node = series::node_of(*series);
  const NodeId b_node = series::node_of(*other);
  const uint32_t a = head(*series);
  const uint32_t b = head(*other);
  if (a_node == b_node && a == b) return;
  const uint32_t a_char = char_at(a_node, a);
  const uint32_t b_char = char_at(b_node, b);
  const auto fits = [](const Cell& target, uint32_t c) { return !cell::is(target, TypeId::binary) || c <= 0xFF; };
  if (!fits(*series, b_char)) error::raise(error_id::script::out_of_range, make_char(b_char));
  if (!fits(*other, a_char)) error::raise(error_id::script::out_of_range, make_char(a_char));
  ChangeReport first(series, Change::swap, a, 1);
  ChangeReport second(other, Change::swap, b, 1);
  if (a < total(*series) && b < total(*other)) {  // unless a handler shortened them
    store_char(a_node, a, b_char);
    store_char(b_node, b, a_char);
  }
  first.done(a, 1);
  second.done(b, 1);
}

// ---- paths ----

// s/2 picks (s/2: pokes) by index; s/x selects the character after the
// text or character x (s/x: #"c" overwrites it).
void eval_path(PathStep& step) {
  const Cell selector = *step.selector;
  const ActionTable& actions = datatype::actions(cell::type_of(*step.value));
  if (cell::is(selector, TypeId::integer)) {
    if (step.new_value) {
      Val new_value = stack::push(*step.new_value);
      actions.poke(step.value, step.selector, cell::get_int32(selector), new_value);
      stack::pop(1);
    } else {
      actions.pick(step.value, step.selector, cell::get_int32(selector));
    }
    return;
  }
  if (cell::is(selector, TypeId::word)) error::raise(error_id::script::invalid_path, step.path, selector);
  if (!step.new_value) {
    select(step.value, step.selector, {});
    return;
  }
  Val position = stack::push(*step.value);
  Val new_value = stack::push(*step.new_value);
  find(position, step.selector, {});
  if (cell::is(*position, TypeId::none)) error::raise(error_id::script::bad_path_set, step.path, selector);
  actions.poke(position, step.selector, 2, new_value);
  stack::pop(2);
}

}  // namespace

Cell make_new(uint32_t capacity) {
  return series::make(TypeId::string, memory::new_series(capacity == 0 ? 1 : capacity, 1));
}

Val push_new(uint32_t capacity) { return stack::push(make_new(capacity)); }

void append_latin1(Val out, std::string_view text) {
  if (text.empty()) return;
  const NodeId node = series::node_of(*out);
  const uint32_t unit = memory::buffer(node)->unit();
  const uint32_t offset = series::reserve_tail(node, static_cast<uint32_t>(text.size()) * unit);
  uint8_t* at = memory::buffer(node)->data() + offset;
  if (unit == 1) {
    std::memcpy(at, text.data(), text.size());
    return;
  }
  for (char c : text) {
    write_unit(at, unit, static_cast<uint8_t>(c));
    at += unit;
  }
}

void append_char(Val out, uint32_t code_point) {
  const char32_t text[1] = {static_cast<char32_t>(code_point)};
  append_code_points(out, std::u32string_view(text, 1));
}

void widen(NodeId node, uint32_t unit) {
  const uint32_t old_unit = memory::buffer(node)->unit();
  if (old_unit >= unit) return;
  const uint32_t count = memory::buffer(node)->capacity / old_unit;
  const NodeId wider = memory::new_series(count, unit);
  const SeriesBuf* from = memory::buffer(node);
  SeriesBuf* to = memory::buffer(wider);
  const uint32_t first = from->head / old_unit;
  const uint32_t last = from->tail / old_unit;
  for (uint32_t i = first; i < last; ++i) write_unit(to->data() + i * unit, unit, read_unit(from->data() + i * old_unit, old_unit));
  to->head = first * unit;
  to->tail = last * unit;
  to->flags = (from->flags & ~series_flag::unit_mask) | unit;
  memory::exchange_buffers(node, wider);
}

void append_utf8(Val out, std::string_view text) {
  uint32_t widest = 1;
  uint32_t count = 0;
  for (size_t pos = 0; pos < text.size(); ++count) widest = std::max(widest, unit_to_store(unicode::decode_utf8(text, pos)));
  if (count == 0) return;
  const NodeId node = series::node_of(*out);
  widen(node, widest);
  const uint32_t unit = memory::buffer(node)->unit();
  const uint32_t offset = series::reserve_tail(node, count * unit);
  uint8_t* at = memory::buffer(node)->data() + offset;
  for (size_t pos = 0; pos < text.size(); at += unit) write_unit(at, unit, unicode::decode_utf8(text, pos));
}

Cell load(std::string_view bytes, Encoding encoding) {
  Val out = push_new(static_cast<uint32_t>(bytes.size()));
  if (encoding == Encoding::utf16le) {
    unicode::load_utf16le(out, bytes);
  } else if (const uint32_t cut = unicode::load_utf8(out, bytes); cut > 0) {
    // Whole text: a sequence cut short at the end is malformed too.
    const NodeId rest = memory::new_byte_series(cut);
    SeriesBuf* buf = memory::buffer(rest);
    std::memcpy(buf->data(), bytes.data() + bytes.size() - cut, cut);
    buf->tail = cut;
    error::raise(error_id::access::invalid_utf8, series::make(TypeId::binary, rest));
  }
  const Cell made = *out;
  stack::pop(1);
  return made;
}

uint32_t length(const Cell& value) { return series::length_from(value); }

uint32_t char_at(NodeId node, uint32_t index) { return read_unit(unit_address(node, index), unit_of(node)); }

std::string to_utf8(const Cell& value) {
  const SeriesBuf* buf = memory::buffer(series::node_of(value));
  const uint32_t unit = buf->unit();
  std::string text;
  char bytes[4];
  for (uint32_t i = value.w1; i < buf->length(); ++i) {
    const uint32_t code_point = read_unit(buf->data() + buf->head + i * unit, unit);
    text.append(bytes, static_cast<size_t>(unicode::encode_utf8(code_point, bytes)));
  }
  return text;
}

void mold_char(Val out, uint32_t code_point, bool all) {
  std::u32string text;
  mold_char_into(text, code_point, all);
  append_code_points(out, text);
}

int compare_text(const Cell& a, const Cell& b, bool case_sensitive) {
  return compare_values(a, b, case_sensitive ? CmpOp::case_sort : CmpOp::sort, false);
}

int compare_values(const Cell& a, const Cell& b, CmpOp op, bool match) {
  const NodeId a_node = series::node_of(a);
  const NodeId b_node = series::node_of(b);
  if (op == CmpOp::same) return a_node == b_node && a.w1 == b.w1 ? 0 : -1;
  const uint32_t a_head = head(a);
  const uint32_t b_head = head(b);
  if (!match && a_node == b_node && a_head == b_head) return 0;
  const uint32_t a_length = total(a) - a_head;
  const uint32_t b_length = total(b) - b_head;
  const bool equality = is_equality(op);
  uint32_t count;
  if (match) {
    if (b_length == 0) return op == CmpOp::lookup ? 1 : 0;
    if (a_length < b_length) return 1;
    count = b_length;
  } else {
    if (a_length != b_length && (equality || b_length == 0)) return 1;
    count = std::min(a_length, b_length);
  }
  const bool fold = op != CmpOp::strict_equal && op != CmpOp::case_sort && op != CmpOp::find_word_case;
  const uint32_t a_unit = unit_of(a_node);
  const uint32_t b_unit = unit_of(b_node);
  const uint8_t* x_at = unit_address(a_node, a_head);
  const uint8_t* y_at = unit_address(b_node, b_head);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t x = read_unit(x_at + size_t{i} * a_unit, a_unit);
    uint32_t y = read_unit(y_at + size_t{i} * b_unit, b_unit);
    if (fold) {
      x = unicode::to_lower(x);
      y = unicode::to_lower(y);
    }
    if (x != y) return x < y ? -1 : 1;
  }
  if (match) return 0;
  return a_length > b_length ? 1 : a_length < b_length ? -1 : 0;
}

Cell set_operation(Val first, Val second, SetOp op, bool case_sensitive, int32_t skip) {
  if (skip < 1) error::raise(error_id::script::invalid_refine_arg, refinement("skip"), Cell{cell::header(TypeId::integer), 0, static_cast<uint32_t>(skip), 0});
  const auto step = static_cast<uint32_t>(skip);
  const std::u32string a = code_points(*first);
  const std::u32string b = op == SetOp::unique ? std::u32string() : code_points(*second);
  // A record is known by its first code point (folded unless /case): the
  // keys of a text's records, and of the result so far, are sets, so each
  // operation is linear.
  const auto key_of = [&](char32_t c) { return case_sensitive ? c : static_cast<char32_t>(unicode::to_lower(c)); };
  const auto keys_of = [&](std::u32string_view text) {
    std::unordered_set<char32_t> keys;
    for (size_t i = 0; i < text.size(); i += step) keys.insert(key_of(text[i]));
    return keys;
  };
  std::u32string result;
  std::unordered_set<char32_t> in_result;
  // Appends the records of `from` that pass `keep`, each once.
  const auto visit = [&](std::u32string_view from, auto keep) {
    for (size_t i = 0; i < from.size(); i += step) {
      const char32_t key = key_of(from[i]);
      if (keep(key) && in_result.insert(key).second) result += from.substr(i, step);
    }
  };
  const auto always = [](char32_t) { return true; };
  const auto in = [](std::unordered_set<char32_t> other) {
    return [other = std::move(other)](char32_t key) { return other.contains(key); };
  };
  const auto not_in = [](std::unordered_set<char32_t> other) {
    return [other = std::move(other)](char32_t key) { return !other.contains(key); };
  };
  switch (op) {
    case SetOp::unique: visit(a, always); break;
    case SetOp::union_:
      visit(a, always);
      visit(b, always);
      break;
    case SetOp::intersect: visit(a, in(keys_of(b))); break;
    case SetOp::exclude: visit(a, not_in(keys_of(b))); break;
    case SetOp::difference:
      visit(a, not_in(keys_of(b)));
      visit(b, not_in(keys_of(a)));
      break;
  }
  return make_text(result);
}

ActionSlots inherited_slots() {
  ActionSlots slots;
  const ActionTable& parent = datatype::actions(TypeId::string);
#define KIV_INHERIT_SUPPORTED(number, name, Fn) \
  if (parent.name) slots.name = inherit;
  KIV_ACTIONS(KIV_INHERIT_SUPPORTED)
#undef KIV_INHERIT_SUPPORTED
  return slots;
}

void register_types() {
  datatype::register_type({TypeId::string, TypeId::series, "string!",
                           {.make = make_value,
                            .random = inherit,
                            .reflect = inherit,
                            .to = to_value,
                            .form = form,
                            .mold = mold_value,
                            .eval_path = eval_path,
                            // set-path: unsupported
                            .compare = compare,
                            // absolute ... xor~: unsupported
                            .append = append,
                            .at = inherit,
                            .back = inherit,
                            .change = change,
                            .clear = inherit,
                            .copy = inherit,
                            .find = find,
                            .head = inherit,
                            .head_q = inherit,
                            .index_q = inherit,
                            .insert = insert,
                            .length_q = inherit,
                            .move = inherit,
                            .next = inherit,
                            .pick = inherit,
                            .poke = inherit,
                            // put: unsupported
                            .remove = inherit,
                            .reverse = inherit,
                            .select = select,
                            .sort = sort,
                            .skip = inherit,
                            .swap = swap,
                            .tail = inherit,
                            .tail_q = inherit,
                            .take = inherit,  // one unit without /part: a char!
                            .trim = trim,
                            // create, close, delete: unsupported
                            .modify = inherit,
                            // open ... write: unsupported
                           }});
}

}  // namespace kiv::string
