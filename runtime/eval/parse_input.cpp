#include "runtime/eval/parse_input.h"

#include <cstring>
#include <string>

#include "runtime/check.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/compare.h"
#include "runtime/unicode.h"

namespace kiv::parse::input {
namespace {

using type_traits::is_any_block;
using type_traits::is_any_string;

// The units of a text rule, read in place: a tag! reads with its `<` and
// `>` around it. Against binary input, text beyond ASCII is its UTF-8
// bytes, kept in `bytes`.
struct Text {
  const SeriesBuf* buf;
  uint32_t start;
  uint32_t length;  // units of the text itself
  bool tag;
  std::string bytes;
  bool as_bytes = false;

  Text(const Cell& rule, const Cell& input)
      : buf(memory::buffer(series::node_of(rule))),
        start(std::min(series::index_of(rule), buf->length())),
        length(buf->length() - start),
        tag(cell::is(rule, TypeId::tag)) {
    if (!cell::is(input, TypeId::binary) || !is_any_string(cell::type_of(rule)) || ascii_units()) return;
    as_bytes = true;
    bytes = string::to_utf8(rule);
    if (tag) bytes = "<" + bytes + ">";
  }

  bool ascii_units() const {
    for (uint32_t i = start; i < start + length; ++i)
      if (unit_at(buf, i) >= 0x80) return false;
    return true;
  }
  uint32_t size() const { return as_bytes ? static_cast<uint32_t>(bytes.size()) : length + (tag ? 2 : 0); }
  uint32_t at(uint32_t k) const {
    if (as_bytes) return static_cast<uint8_t>(bytes[k]);
    if (!tag) return unit_at(buf, start + k);
    if (k == 0) return '<';
    if (k == length + 1) return '>';
    return unit_at(buf, start + k - 1);
  }
};

// A byte of binary input above ASCII matches a char exactly.
bool exact_char(const Cell& input, uint32_t c) { return c >= 0x80 && cell::is(input, TypeId::binary); }

// Whether a text rule holds only ASCII characters.
bool ascii_text(const Cell& rule) {
  const SeriesBuf* buf = memory::buffer(series::node_of(rule));
  for (uint32_t i = std::min(series::index_of(rule), buf->length()); i < buf->length(); ++i)
    if (unit_at(buf, i) >= 0x80) return false;
  return true;
}

bool same_unit(uint32_t a, uint32_t b, bool case_sensitive) {
  return a == b || (!case_sensitive && fold(a) == fold(b));
}

bool text_at(const SeriesBuf* in, uint32_t index, uint32_t end, const Text& text, bool case_sensitive) {
  const uint32_t n = text.size();
  if (index > end || n > end - index) return false;
  for (uint32_t k = 0; k < n; ++k)
    if (!same_unit(unit_at(in, index + k), text.at(k), case_sensitive)) return false;
  return true;
}

// Whether a code point has a case partner that a caseless match must
// also accept.
bool has_case(uint32_t c) { return unicode::to_lower(c) != c || unicode::to_upper(c) != c; }

// The first unit from `index` below `end` equal to `c`, or `end`.
uint32_t find_unit(const SeriesBuf* in, uint32_t index, uint32_t end, uint32_t c, bool case_sensitive) {
  if (in->unit() == 1 && (case_sensitive || !has_case(c))) {
    if (c > 0xFF) return end;
    const uint8_t* base = in->head_ptr();
    const void* hit = std::memchr(base + index, static_cast<int>(c), end - index);
    return hit ? static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - base) : end;
  }
  const uint32_t folded = fold(c);
  for (uint32_t i = index; i < end; ++i) {
    const uint32_t u = unit_at(in, i);
    if (u == c || (!case_sensitive && fold(u) == folded)) return i;
  }
  return end;
}

bool in_bitset(const Cell& bits, uint32_t c) { return bitset::has(bits, c); }

// Bytes match bytes exactly: a binary! rule, or binary input above ASCII
// (its bytes are not characters the case table knows).
bool exact_bytes(const Cell& input, const Cell& rule) {
  return cell::is(rule, TypeId::binary) || (cell::is(input, TypeId::binary) && !ascii_text(rule));
}

}  // namespace

Kind kind_of(TypeId type) {
  if (is_any_block(type)) return Kind::block;
  if (type == TypeId::binary) return Kind::binary;
  return Kind::string;
}

uint32_t fold(uint32_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 32 : c;
  return unicode::to_lower(c);
}

bool is_text_literal(TypeId type) {
  return type == TypeId::char_ || type == TypeId::bitset || type == TypeId::binary || is_any_string(type);
}

int64_t match_text(const Cell& input, uint32_t index, uint32_t end, const Cell& rule, bool case_sensitive) {
  const SeriesBuf* in = memory::buffer(series::node_of(input));
  switch (cell::type_of(rule)) {
    case TypeId::char_:
      if (index < end && same_unit(unit_at(in, index), rule.w2, case_sensitive || exact_char(input, rule.w2)))
        return index + 1;
      return -1;
    case TypeId::bitset:
      if (index < end && in_bitset(rule, unit_at(in, index))) return index + 1;
      return -1;
    default: {
      const Text text(rule, input);
      if (!text_at(in, index, end, text, case_sensitive || exact_bytes(input, rule))) return -1;
      return int64_t{index} + text.size();
    }
  }
}

bool match_element(const Cell& input, uint32_t index, const Cell& rule, bool case_sensitive) {
  const Cell& item = cells(input)[index];
  switch (cell::type_of(rule)) {
    case TypeId::datatype:
      return cell::type_of(item) == datatype::get(rule);
    case TypeId::typeset:
      return typeset::has(rule, cell::type_of(item));
    case TypeId::lit_word: {
      Cell named = rule;
      cell::set_type(named, TypeId::word);
      return compare::dispatch(item, named, case_sensitive ? CmpOp::find_word : CmpOp::equal) == 0;
    }
    case TypeId::lit_path: {
      Cell named = rule;
      cell::set_type(named, TypeId::path);
      return compare::dispatch(item, named, case_sensitive ? CmpOp::strict_equal : CmpOp::equal) == 0;
    }
    default:
      return compare::dispatch(item, rule, case_sensitive ? CmpOp::strict_equal : CmpOp::equal) == 0;
  }
}

uint32_t count_run(const Cell& input, uint32_t index, uint32_t end, const Cell& rule, bool case_sensitive, int64_t max) {
  const SeriesBuf* in = memory::buffer(series::node_of(input));
  uint32_t stop = end;
  if (max >= 0 && int64_t{end} - index > max) stop = index + static_cast<uint32_t>(max);
  uint32_t i = index;
  if (cell::is(rule, TypeId::char_)) {
    const uint32_t c = rule.w2;
    if (case_sensitive || exact_char(input, c) || !has_case(c)) {
      while (i < stop && unit_at(in, i) == c) ++i;
    } else {
      const uint32_t folded = fold(c);
      while (i < stop && fold(unit_at(in, i)) == folded) ++i;
    }
  } else {
    while (i < stop && in_bitset(rule, unit_at(in, i))) ++i;
  }
  return i - index;
}

Found search(const Cell& input, uint32_t index, uint32_t end, const Cell& target, bool case_sensitive) {
  const TypeId type = cell::type_of(target);
  if (index > end) index = end;  // a position past a /part limit finds nothing but an empty text
  if (kind_of(cell::type_of(input)) == Kind::block) {
    for (uint32_t i = index; i < end; ++i)
      if (match_element(input, i, target, case_sensitive)) return {true, i, i + 1};
    return {};
  }
  const SeriesBuf* in = memory::buffer(series::node_of(input));
  if (type == TypeId::char_) {
    const uint32_t at = find_unit(in, index, end, target.w2, case_sensitive || exact_char(input, target.w2));
    if (at < end) return {true, at, at + 1};
    return {};
  }
  if (type == TypeId::bitset) {
    for (uint32_t i = index; i < end; ++i)
      if (in_bitset(target, unit_at(in, i))) return {true, i, i + 1};
    return {};
  }
  if (!is_any_string(type) && type != TypeId::binary) error::raise(error_id::script::parse_rule, target);
  const Text text(target, input);
  const uint32_t n = text.size();
  if (n == 0) return {true, index, index};
  const bool exact = case_sensitive || exact_bytes(input, target);
  const uint32_t first = text.at(0);
  for (uint32_t i = index; n <= end - i;) {
    i = find_unit(in, i, end - n + 1, first, exact);
    if (i > end - n) break;
    if (text_at(in, i, end, text, exact)) return {true, i, i + n};
    ++i;
  }
  return {};
}

}  // namespace kiv::parse::input
