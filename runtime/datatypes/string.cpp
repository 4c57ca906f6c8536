#include "runtime/datatypes/string.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

#include "runtime/datatypes/datatype.h"
#include "runtime/eval/stack.h"
#include "runtime/unicode.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/unicode_utf8.h"

namespace kiv::string {

namespace {

uint32_t unit_for(uint32_t code_point) { return code_point <= 0xFF ? 1 : code_point <= 0xFFFF ? 2 : 4; }

uint32_t read_unit(const uint8_t* at, uint32_t unit) {
  uint32_t code_point = 0;
  std::memcpy(&code_point, at, unit);  // little-endian: the low bytes first
  return code_point;
}

void write_unit(uint8_t* at, uint32_t unit, uint32_t code_point) { std::memcpy(at, &code_point, unit); }

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
  for (size_t pos = 0; pos < text.size(); ++count) widest = std::max(widest, unit_for(unicode::decode_utf8(text, pos)));
  if (count == 0) return;
  const NodeId node = series::node_of(*out);
  widen(node, widest);
  const uint32_t unit = memory::buffer(node)->unit();
  const uint32_t offset = series::reserve_tail(node, count * unit);
  uint8_t* at = memory::buffer(node)->data() + offset;
  for (size_t pos = 0; pos < text.size(); at += unit) write_unit(at, unit, unicode::decode_utf8(text, pos));
}

uint32_t length(const Cell& value) { return series::length_from(value); }

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

namespace {

uint32_t unit_at(const Cell& value, uint32_t index) {
  const SeriesBuf* buf = memory::buffer(series::node_of(value));
  return read_unit(buf->head_ptr() + size_t{index} * buf->unit(), buf->unit());
}

// The character written after a caret for code points below 95, or 0.
char caret_escape(uint32_t code_point) {
  if (code_point == 0) return '@';
  if (code_point == 9) return '-';
  if (code_point == 10) return '/';
  if (code_point >= 1 && code_point <= 26) return static_cast<char>('A' + code_point - 1);
  switch (code_point) {
    case 27: return '[';
    case 28: return '\\';
    case 29: return ']';
    case 31: return '_';
    case 34: return '"';
    default: return 0;
  }
}

void append_code_point(Val out, uint32_t code_point) {
  char bytes[4];
  append_utf8(out, std::string_view(bytes, static_cast<size_t>(unicode::encode_utf8(code_point, bytes))));
}

int32_t form(Val value, Val out, int32_t part) {
  const std::string text = to_utf8(*value);  // copied out: appending may move it
  const uint32_t count = length(*value);
  append_utf8(out, text);
  return part - static_cast<int32_t>(count);
}

int32_t mold_value(Val value, Val out, const MoldOptions& options, int32_t part) {
  const uint32_t whole = length(*value);
  const uint32_t count = part < 0 ? 0 : std::min(whole, static_cast<uint32_t>(part));
  uint32_t quotes = 0;
  uint32_t lines = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t c = unit_at(*value, value->w1 + i);
    quotes += c == '"';
    lines += c == '\n';
  }
  const bool braces = lines >= 3 || quotes > 0 || whole >= 50;
  append_latin1(out, braces ? "{" : "\"");
  bool balanced = true;
  int depth = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t c = unit_at(*value, value->w1 + i);
    if (!braces) {
      mold_char(out, c, options.all);
      continue;
    }
    if (c == '{') {
      if (balanced) {
        int nesting = 0;
        bool matched = false;
        for (uint32_t k = i; k < count && !matched; ++k) {
          const uint32_t d = unit_at(*value, value->w1 + k);
          if (d == '{') ++nesting;
          else if (d == '}' && --nesting == 0) matched = true;
        }
        balanced = matched;
      }
      if (balanced) {
        ++depth;
        append_latin1(out, "{");
      } else {
        append_latin1(out, "^{");
      }
    } else if (c == '}') {
      if (depth > 0) {
        --depth;
        append_latin1(out, "}");
      } else {
        append_latin1(out, "^}");
      }
    } else if (c == '"') {
      append_latin1(out, "\"");
    } else {
      mold_char(out, c, options.all);
    }
  }
  append_latin1(out, braces ? "}" : "\"");
  return part - static_cast<int32_t>(count) - 2;
}

int compare(const Cell& a, const Cell& b, CmpOp op) {
  if (cell::type_of(a) != cell::type_of(b)) return -2;
  if (op == CmpOp::same) return a.w2 == b.w2 && a.w1 == b.w1 ? 0 : -1;
  const int answer = compare_text(a, b, op == CmpOp::strict_equal || op == CmpOp::case_sort);
  if ((op == CmpOp::equal || op == CmpOp::not_equal || op == CmpOp::strict_equal || op == CmpOp::lookup) && answer != 0)
    return 1;
  return answer;
}

}  // namespace

void mold_char(Val out, uint32_t code_point, bool all) {
  if (code_point == 30 || (code_point >= 0x80 && code_point <= 0x9F) || (all && code_point > 127)) {
    char hex[16];
    auto result = std::to_chars(hex, hex + sizeof hex, code_point, 16);
    std::string text = "^(";
    for (char* p = hex; p < result.ptr; ++p) text += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    text += ')';
    append_latin1(out, text);
    return;
  }
  if (code_point < 95) {
    if (const char escape = caret_escape(code_point)) {
      const char text[2] = {'^', escape};
      append_latin1(out, std::string_view(text, 2));
      return;
    }
  }
  if (code_point == 94) {
    append_latin1(out, "^^");
    return;
  }
  if (code_point == 127) {
    append_latin1(out, "^~");
    return;
  }
  append_code_point(out, code_point);
}

int compare_text(const Cell& a, const Cell& b, bool case_sensitive) {
  const uint32_t la = length(a);
  const uint32_t lb = length(b);
  for (uint32_t i = 0; i < std::min(la, lb); ++i) {
    uint32_t x = unit_at(a, a.w1 + i);
    uint32_t y = unit_at(b, b.w1 + i);
    if (!case_sensitive) {
      x = unicode::to_lower(x);
      y = unicode::to_lower(y);
    }
    if (x != y) return x < y ? -1 : 1;
  }
  return la == lb ? 0 : la < lb ? -1 : 1;
}

void register_type() {
  datatype::register_type({TypeId::string, TypeId::series, "string!",
                           {.random = inherit,
                            .reflect = inherit,
                            .form = form,
                            .mold = mold_value,
                            .compare = compare,
                            .at = inherit,
                            .back = inherit,
                            .clear = inherit,
                            .copy = inherit,
                            .head = inherit,
                            .head_q = inherit,
                            .index_q = inherit,
                            .length_q = inherit,
                            .move = inherit,
                            .next = inherit,
                            .pick = inherit,
                            .poke = inherit,
                            .remove = inherit,
                            .reverse = inherit,
                            .skip = inherit,
                            .tail = inherit,
                            .tail_q = inherit,
                            .take = inherit}});
}

}  // namespace kiv::string
