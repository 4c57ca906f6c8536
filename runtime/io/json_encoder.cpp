#include "runtime/io/json_encoder.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/float_text.h"
#include "runtime/io/json_decoder.h"
#include "runtime/mold.h"
#include "runtime/unicode.h"

namespace kiv::json {
namespace {

constexpr int32_t no_limit = 0x7FFFFFFF;

class Writer {
 public:
  explicit Writer(const EmitOptions& options) : options_(options) {}

  Cell finish() {
    const uint32_t unit = string::unit_to_store(widest_);
    const uint32_t n = static_cast<uint32_t>(out_.size());
    const NodeId node = memory::new_series(n == 0 ? 1 : n, unit);
    SeriesBuf* buf = memory::buffer(node);
    uint8_t* at = buf->data();
    for (size_t i = 0; i < out_.size(); ++i) {
      const char32_t c = out_[i];
      if (unit == 1) {
        at[i] = static_cast<uint8_t>(c);
      } else if (unit == 2) {
        const uint16_t u = static_cast<uint16_t>(c);
        std::memcpy(at + i * 2, &u, 2);
      } else {
        std::memcpy(at + i * 4, &c, 4);
      }
    }
    buf->tail = n * unit;
    return series::make(TypeId::string, node);
  }

  // Writes one value. `value` is rooted by the caller; writing containers
  // allocates (a map's or object's pairs are taken as a block).
  void value(Val value, uint32_t depth) {
    if (depth > max_depth) error::raise(error_id::internal::stack_overflow);
    const Cell v = *value;
    const TypeId type = cell::type_of(v);
    switch (type) {
      case TypeId::none: return text("null");
      case TypeId::logic: return text(v.w1 ? "true" : "false");
      case TypeId::integer: return text(std::to_string(integer::get(v)));
      case TypeId::float_: return number(float_::get(v));
      case TypeId::percent: return number(percent::get(v));
      case TypeId::string: return quoted_series(v);
      case TypeId::map: return pairs(value, depth, true);
      case TypeId::object: return pairs(value, depth, false);
      default: break;
    }
    if (type_traits::is_any_block(type)) return array(value, depth);
    Rooted<Cell> written(string::make_new(16));
    if (type_traits::is_any_string(type)) {
      mold::form_value(value, written.val(), no_limit);
    } else {
      mold::mold_value(value, written.val(), MoldOptions{}, no_limit);
    }
    quoted_series(written.get());
  }

 private:
  void put(char32_t c) {
    widest_ = std::max(widest_, c);
    out_.push_back(c);
  }
  void text(std::string_view ascii) { out_.append(ascii.begin(), ascii.end()); }

  void number(double x) {
    if (x != x || x == float_text::kInfinity || x == float_text::kNegativeInfinity) return text("null");
    text(float_text::mold(x).view());
  }

  bool normal(char32_t c) const {
    if (options_.ascii) return c >= 32 && c <= 127 && c != '"' && c != '\\';
    return c >= 32 && c != '"' && c != '\\';
  }

  void hex4(uint32_t v) {
    static constexpr char digits[] = "0123456789ABCDEF";
    text("\\u");
    for (int shift = 12; shift >= 0; shift -= 4) put(static_cast<char32_t>(digits[(v >> shift) & 15]));
  }

  void escaped(char32_t c) {
    switch (c) {
      case '"': return text("\\\"");
      case '\\': return text("\\\\");
      case 8: return text("\\b");
      case 12: return text("\\f");
      case '\n': return text("\\n");
      case '\r': return text("\\r");
      case '\t': return text("\\t");
      default: break;
    }
    if (c <= 0xFFFF) return hex4(c);
    const uint32_t v = c - 0x10000;
    hex4((v >> 10) + 0xD800);
    hex4((v & 1023) + 0xDC00);
  }

  // A string's characters from its index, quoted and escaped. Nothing here
  // allocates series: the buffer stays put.
  void quoted_series(const Cell& s) {
    const SeriesBuf* buf = memory::buffer(series::node_of(s));
    const uint32_t unit = buf->unit();
    const uint32_t count = buf->length();
    const uint8_t* head = buf->head_ptr();
    put('"');
    for (uint32_t i = std::min(series::index_of(s), count); i < count; ++i) {
      char32_t c;
      if (unit == 1) {
        c = head[i];
      } else if (unit == 2) {
        uint16_t u;
        std::memcpy(&u, head + static_cast<size_t>(i) * 2, 2);
        c = u;
      } else {
        std::memcpy(&c, head + static_cast<size_t>(i) * 4, 4);
      }
      if (normal(c)) {
        put(c);
      } else {
        escaped(c);
      }
    }
    put('"');
  }

  void quoted_utf8(std::string_view utf8) {
    put('"');
    for (size_t pos = 0; pos < utf8.size();) {
      const char32_t c = unicode::decode_utf8(utf8, pos);
      if (normal(c)) {
        put(c);
      } else {
        escaped(c);
      }
    }
    put('"');
  }

  void line_and_indent(uint32_t level) {
    put('\n');
    for (uint32_t i = 0; i < level; ++i) {
      for (char32_t c : options_.indent) put(c);
    }
  }

  void array(Val value, uint32_t depth) {
    Rooted<Cell> items(*value);
    cell::set_type(items.get(), TypeId::block);
    const uint32_t count = block::count(items.get());
    if (count == 0) return text("[]");
    put('[');
    if (options_.pretty) line_and_indent(depth + 1);
    Rooted<Cell> item;
    for (uint32_t i = 0; i < count && i < block::count(items.get()); ++i) {
      if (i > 0) {
        put(',');
        if (options_.pretty) line_and_indent(depth + 1);
      }
      item = *block::at(items.get(), i);
      this->value(item.val(), depth + 1);
    }
    if (options_.pretty) line_and_indent(depth);
    put(']');
  }

  // A map's or an object's pairs: each key as a string (a word's spelling,
  // a string as it is, another key molded), then its value.
  void pairs(Val value, uint32_t depth, bool is_map) {
    Rooted<Cell> body(is_map ? map::body_of(value) : object::body_of(value));
    const uint32_t count = block::count(body.get()) / 2;
    if (count == 0) return text("{}");
    put('{');
    if (options_.pretty) line_and_indent(depth + 1);
    Rooted<Cell> item;
    for (uint32_t i = 0; i < count; ++i) {
      if (i > 0) {
        put(',');
        if (options_.pretty) line_and_indent(depth + 1);
      }
      item = *block::at(body.get(), 2 * i);
      key(item.val());
      text(options_.pretty ? ": " : ":");
      item = *block::at(body.get(), 2 * i + 1);
      this->value(item.val(), depth + 1);
    }
    if (options_.pretty) line_and_indent(depth);
    put('}');
  }

  void key(Val k) {
    const TypeId type = cell::type_of(*k);
    if (type_traits::is_any_word(type)) return quoted_utf8(std::string(symbol::spelling(k->w2)));
    if (type == TypeId::string) return quoted_series(*k);
    Rooted<Cell> written(string::make_new(16));
    mold::mold_value(k, written.val(), MoldOptions{}, no_limit);
    quoted_series(written.get());
  }

  const EmitOptions& options_;
  std::u32string out_;
  char32_t widest_ = 0;
};

}  // namespace

Cell encode(Val data, const EmitOptions& options) {
  Writer writer(options);
  writer.value(data, 0);
  return writer.finish();
}

}  // namespace kiv::json
