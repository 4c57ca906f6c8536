#include "runtime/datatypes/string.h"

#include <algorithm>
#include <cstring>

#include "runtime/eval/stack.h"
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

}  // namespace kiv::string
