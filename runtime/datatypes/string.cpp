#include "runtime/datatypes/string.h"

#include <cstring>

#include "runtime/eval/stack.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/unicode_utf8.h"

namespace kiv::string {

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
    const uint32_t code_point = static_cast<uint8_t>(c);
    std::memcpy(at, &code_point, unit);  // little-endian: the low bytes first
    at += unit;
  }
}

uint32_t length(const Cell& value) { return series::length_from(value); }

std::string to_utf8(const Cell& value) {
  const SeriesBuf* buf = memory::buffer(series::node_of(value));
  const uint32_t unit = buf->unit();
  std::string text;
  char bytes[4];
  for (uint32_t i = value.w1; i < buf->length(); ++i) {
    uint32_t code_point = 0;
    std::memcpy(&code_point, buf->data() + buf->head + i * unit, unit);
    text.append(bytes, static_cast<size_t>(unicode::encode_utf8(code_point, bytes)));
  }
  return text;
}

}  // namespace kiv::string
