#include "runtime/io/json_routines.h"

#include <string>

#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/native_args.h"
#include "runtime/io/json_decoder.h"
#include "runtime/io/json_encoder.h"

namespace kiv::json {
namespace {

using native_args::answer;
using native_args::arg;

// [true value] for valid JSON; else [false mark line column too-deep?],
// the mark an offset in characters from the input's index.
Flow decode_text() {
  Rooted<Cell> value;
  Failure failure;
  const bool ok = decode(arg(0), value.val(), failure);
  Val out = block::push_new(5);
  block::append(out, logic::make(ok));
  if (ok) {
    block::append(out, value.get());
  } else {
    block::append(out, integer::make(static_cast<int32_t>(failure.mark)));
    block::append(out, integer::make(static_cast<int32_t>(failure.line)));
    block::append(out, integer::make(static_cast<int32_t>(failure.mark - failure.line_start)));
    block::append(out, logic::make(failure.too_deep));
  }
  return answer(*out);
}

uint32_t hex_digit(uint32_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') return (c | 0x20) - 'a' + 10;
  return 16;
}

// Decodes the escapes of the string in place (its characters from its
// index): the result is written over the text and the tail moved.
Flow unescape_text() {
  Val text = arg(0);
  const NodeId node = series::node_of(*text);
  const uint32_t count = memory::buffer(node)->length();
  const uint32_t from = std::min(series::index_of(*text), count);
  std::u32string in;
  for (uint32_t i = from; i < count; ++i) in.push_back(string::char_at(node, i));
  const auto bad = [&]() { error::raise(error_id::script::invalid_data, *text); };
  const auto hex4 = [&](size_t at) {
    if (in.size() - at < 4) bad();
    uint32_t v = 0;
    for (size_t i = at; i < at + 4; ++i) {
      const uint32_t d = hex_digit(in[i]);
      if (d > 15) bad();
      v = v << 4 | d;
    }
    return v;
  };
  std::u32string out;
  char32_t widest = 0;
  for (size_t i = 0; i < in.size();) {
    char32_t c = in[i++];
    if (c == '\\') {
      if (i == in.size()) bad();
      switch (in[i++]) {
        case '"': c = '"'; break;
        case '\\': c = '\\'; break;
        case '/': c = '/'; break;
        case 'b': c = 8; break;
        case 'f': c = 12; break;
        case 'n': c = '\n'; break;
        case 'r': c = '\r'; break;
        case 't': c = '\t'; break;
        case 'u':
          c = hex4(i);
          i += 4;
          if (c >= 0xD800 && c <= 0xDBFF) {
            if (in.size() - i < 6 || in[i] != '\\' || in[i + 1] != 'u') bad();
            const uint32_t low = hex4(i + 2);
            if (low < 0xDC00 || low > 0xDFFF) bad();
            c = 0x10000 + (c - 0xD800) * 1024 + (low - 0xDC00);
            i += 6;
          }
          break;
        default: bad();
      }
    }
    widest = std::max(widest, c);
    out.push_back(c);
  }
  // The text only shrinks; the unit may widen (in place, same node).
  string::widen(node, string::unit_to_store(widest));
  SeriesBuf* buf = memory::buffer(node);
  const uint32_t unit = buf->unit();
  uint8_t* at = buf->head_ptr() + static_cast<size_t>(from) * unit;
  for (char32_t c : out) {
    if (unit == 1) {
      *at = static_cast<uint8_t>(c);
    } else if (unit == 2) {
      const uint16_t u = static_cast<uint16_t>(c);
      std::memcpy(at, &u, 2);
    } else {
      std::memcpy(at, &c, 4);
    }
    at += unit;
  }
  buf->tail = static_cast<uint32_t>(at - buf->data());
  return answer(*text);
}

Flow encode_value() {
  EmitOptions options;
  const Cell indent = *arg(1);
  if (cell::is(indent, TypeId::string)) {
    options.pretty = true;
    const NodeId node = series::node_of(indent);
    const uint32_t count = memory::buffer(node)->length();
    for (uint32_t i = std::min(series::index_of(indent), count); i < count; ++i)
      options.indent.push_back(string::char_at(node, i));
  }
  options.ascii = cell::is(*arg(2), TypeId::logic) && arg(2)->w1 != 0;
  return answer(encode(arg(0), options));
}

}  // namespace

void add_routines() {
  routine::add("json-decode",
               R"~("Internal Use Only: the value of JSON text, or where reading stopped" input [string!] return: [block!])~",
               decode_text);
  routine::add("json-unescape", R"~("Decodes JSON escapes in place" str [string!] "(modified)" return: [string!])~",
               unescape_text);
  routine::add("json-encode",
               R"~("Internal Use Only: a value as JSON text" data [any-type!] indent [string! none!] ascii [logic!] return: [string!])~",
               encode_value);
}

}  // namespace kiv::json
