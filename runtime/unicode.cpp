#include "runtime/unicode.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>

#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/datatypes/string.h"

namespace kiv::unicode {

namespace {

#include "runtime/unicode_case_tables.inc"

// The BMP case tables, built by the compiler from the pair lists: the
// mapped code point of each BMP character, 0 when it maps to itself.
using BmpTable = std::array<uint16_t, 0x10000>;

template <size_t N>
consteval BmpTable bmp_table(const uint16_t (&pairs)[N][2]) {
  BmpTable table{};
  for (const auto& pair : pairs) table[pair[0]] = pair[1];
  return table;
}

constexpr BmpTable upper_table = bmp_table(upper_bmp_pairs);
constexpr BmpTable lower_table = bmp_table(lower_bmp_pairs);

template <size_t N>
uint32_t map_supplementary(const uint32_t (&pairs)[N][2], uint32_t code_point) {
  const auto* found = std::lower_bound(std::begin(pairs), std::end(pairs), code_point,
                                       [](const uint32_t(&pair)[2], uint32_t key) { return pair[0] < key; });
  return found != std::end(pairs) && (*found)[0] == code_point ? (*found)[1] : code_point;
}

uint32_t unit_for(uint32_t code_point) { return code_point <= 0xFF ? 1 : code_point <= 0xFFFF ? 2 : 4; }

uint32_t read_unit(const uint8_t* at, uint32_t unit) {
  uint32_t code_point = 0;
  std::memcpy(&code_point, at, unit);  // little-endian: the low bytes first
  return code_point;
}

void write_unit(uint8_t* at, uint32_t unit, uint32_t code_point) { std::memcpy(at, &code_point, unit); }

Cell integer_cell(uint32_t value) { return Cell{cell::header(TypeId::integer), 0, value, 0}; }

[[noreturn]] void raise_invalid_char(uint32_t code_point) { error::raise(error_id::script::invalid_char, integer_cell(code_point)); }

// Raises access/invalid-utf8 with the first 4 bytes of `bad` (fewer at the
// end of the input) as a binary! value.
[[noreturn]] void raise_invalid_utf8(std::string_view bad) {
  bad = bad.substr(0, 4);
  const NodeId node = memory::new_byte_series(static_cast<uint32_t>(bad.size()));
  SeriesBuf* buf = memory::buffer(node);
  std::memcpy(buf->head_ptr(), bad.data(), bad.size());
  buf->tail = buf->head + static_cast<uint32_t>(bad.size());
  error::raise(error_id::access::invalid_utf8, series::make(TypeId::binary, node));
}

// Appends characters to the string `out`. `produce(emit)` calls `emit` with
// each character in order; it runs twice, first to size the result (and to
// fail, if it fails, before the string changes), then to write it.
template <class Produce>
void append_chars(Val out, Produce&& produce) {
  uint64_t count = 0;
  uint32_t widest = 0;
  produce([&](uint32_t code_point) {
    ++count;
    widest = std::max(widest, code_point);
  });
  if (count == 0) return;
  const NodeId node = series::node_of(*out);
  string::widen(node, unit_for(widest));
  const uint32_t unit = memory::buffer(node)->unit();
  if (count * unit > memory::max_capacity) error::raise(error_id::internal::no_memory);
  const uint32_t offset = series::reserve_tail(node, static_cast<uint32_t>(count * unit));
  NoGcScope no_gc;
  uint8_t* at = memory::buffer(node)->data() + offset;
  produce([&](uint32_t code_point) {
    write_unit(at, unit, code_point);
    at += unit;
  });
}

// Calls `visit` with each character of the string `value` from its index,
// at most `limit` of them when it is not negative. No allocation inside.
template <class Visit>
void for_each_char(const Cell& value, int64_t limit, Visit&& visit) {
  const SeriesBuf* buf = memory::buffer(series::node_of(value));
  const uint32_t unit = buf->unit();
  const uint32_t length = buf->length();
  uint64_t end = length;
  if (limit >= 0) end = std::min<uint64_t>(end, uint64_t{value.w1} + static_cast<uint64_t>(limit));
  const uint8_t* data = buf->head_ptr();
  for (uint64_t i = value.w1; i < end; ++i) {
    if (!visit(read_unit(data + i * unit, unit))) return;
  }
}

template <class Map>
void change_case(NodeId node, uint32_t start, uint32_t count, Map map) {
  const SeriesBuf* buf = memory::buffer(node);
  const uint32_t length = buf->length();
  if (start >= length) return;
  count = std::min(count, length - start);
  uint32_t unit = buf->unit();
  uint32_t needed = unit;
  if (unit < 4) {
    const uint8_t* data = buf->head_ptr();
    for (uint32_t i = start; i < start + count; ++i) needed = std::max(needed, unit_for(map(read_unit(data + i * unit, unit))));
  }
  if (needed > unit) string::widen(node, needed);
  NoGcScope no_gc;
  SeriesBuf* target = memory::buffer(node);
  unit = target->unit();
  uint8_t* data = target->head_ptr();
  for (uint32_t i = start; i < start + count; ++i) {
    uint8_t* at = data + size_t{i} * unit;
    write_unit(at, unit, map(read_unit(at, unit)));
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// UTF-8

int utf8_length_of(uint32_t code_point) {
  if (code_point < 0x80) return 1;
  if (code_point < 0x800) return 2;
  if (code_point < 0x10000) return 3;
  if (code_point <= max_code_point) return 4;
  raise_invalid_char(code_point);
}

int encode_utf8_char(uint32_t code_point, char* out) {
  auto byte = [](uint32_t value) { return static_cast<char>(static_cast<uint8_t>(value)); };
  switch (utf8_length_of(code_point)) {
    case 1:
      out[0] = byte(code_point);
      return 1;
    case 2:
      out[0] = byte(0xC0 | (code_point >> 6));
      out[1] = byte(0x80 | (code_point & 0x3F));
      return 2;
    case 3:
      out[0] = byte(0xE0 | (code_point >> 12));
      out[1] = byte(0x80 | ((code_point >> 6) & 0x3F));
      out[2] = byte(0x80 | (code_point & 0x3F));
      return 3;
    default:
      out[0] = byte(0xF0 | (code_point >> 18));
      out[1] = byte(0x80 | ((code_point >> 12) & 0x3F));
      out[2] = byte(0x80 | ((code_point >> 6) & 0x3F));
      out[3] = byte(0x80 | (code_point & 0x3F));
      return 4;
  }
}

size_t utf8_count(std::string_view text) {
  size_t count = 0;
  for (size_t pos = 0; pos < text.size(); ++count) decode_utf8_char(text, pos);
  return count;
}

size_t utf8_skip(std::string_view text, size_t n) {
  size_t pos = 0;
  for (; n > 0 && pos < text.size(); --n) decode_utf8_char(text, pos);
  return pos;
}

int decode_utf8_strict(std::string_view bytes, uint32_t& code_point) {
  if (bytes.empty()) return utf8_cut;
  const auto lead = static_cast<uint8_t>(bytes[0]);
  if (lead < 0x80) {
    code_point = lead;
    return 1;
  }
  // The length, the payload bits of the lead byte, and the range of the
  // second byte, which is where overlong forms, values past U+10FFFF and
  // encoded U+DC00-U+DCFF show.
  size_t length;
  uint32_t value;
  uint8_t second_low = 0x80;
  uint8_t second_high = 0xBF;
  if (lead < 0xC2) {
    return utf8_invalid;  // a continuation byte, or C0/C1 (overlong)
  } else if (lead <= 0xDF) {
    length = 2, value = lead & 0x1Fu;
  } else if (lead <= 0xEF) {
    length = 3, value = lead & 0x0Fu;
    if (lead == 0xE0) second_low = 0xA0;
  } else if (lead <= 0xF4) {
    length = 4, value = lead & 0x07u;
    if (lead == 0xF0) second_low = 0x90;
    if (lead == 0xF4) second_high = 0x8F;
  } else {
    return utf8_invalid;
  }
  const size_t present = std::min(length, bytes.size());
  for (size_t i = 1; i < present; ++i) {
    const auto next = static_cast<uint8_t>(bytes[i]);
    const bool first = i == 1;
    if (next < (first ? second_low : 0x80) || next > (first ? second_high : 0xBF)) return utf8_invalid;
    if (first && lead == 0xED && next >= 0xB0 && next <= 0xB3) return utf8_invalid;  // U+DC00-U+DCFF
    value = (value << 6) | (next & 0x3Fu);
  }
  if (present < length) return utf8_cut;
  code_point = value;
  return static_cast<int>(length);
}

// ---------------------------------------------------------------------------
// Strings

uint32_t load_utf8(Val out, std::string_view bytes, const LoadOptions& options) {
  size_t start = 0;
  if (options.skip_bom && bytes.starts_with("\xEF\xBB\xBF")) start = 3;
  size_t decoded_end = start;
  append_chars(out, [&](auto&& emit) {
    size_t pos = start;
    while (pos < bytes.size()) {
      uint32_t code_point = 0;
      const int length = decode_utf8_strict(bytes.substr(pos), code_point);
      if (length == utf8_cut) break;
      if (length == utf8_invalid) raise_invalid_utf8(bytes.substr(pos));
      pos += static_cast<size_t>(length);
      if (options.crlf_to_lf && code_point == '\r') {
        if (pos < bytes.size() && bytes[pos] == '\n') continue;  // the LF comes next
        code_point = '\n';
      }
      emit(code_point);
    }
    decoded_end = pos;
  });
  return static_cast<uint32_t>(bytes.size() - decoded_end);
}

void load_utf16le(Val out, std::string_view bytes, const LoadOptions& options) {
  const size_t units = bytes.size() / 2;
  const auto unit_at = [&](size_t i) {
    return static_cast<uint32_t>(static_cast<uint8_t>(bytes[2 * i]) | static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
  };
  const size_t start = options.skip_bom && units > 0 && unit_at(0) == 0xFEFF ? 1 : 0;
  append_chars(out, [&](auto&& emit) {
    size_t i = start;
    while (i < units) {
      uint32_t code_point = unit_at(i++);
      if (code_point >= 0xD800 && code_point <= 0xDBFF && i < units && unit_at(i) >= 0xDC00 && unit_at(i) <= 0xDFFF) {
        code_point = 0x10000 + ((code_point & 0x3FF) << 10 | (unit_at(i++) & 0x3FF));
      } else if (code_point >= 0xD800 && code_point <= 0xDFFF) {
        code_point = replacement_char;  // unpaired
      } else if (options.crlf_to_lf && code_point == '\r') {
        if (i < units && unit_at(i) == '\n') continue;
        code_point = '\n';
      }
      emit(code_point);
    }
    if (bytes.size() % 2 != 0) emit(replacement_char);
  });
  memory::buffer(series::node_of(*out))->flags |= from_utf16_flag;
}

std::string to_utf8(const Cell& value, const OutputOptions& options) {
  std::string text;
  text.reserve(series::length_from(value));
  char bytes[4];
  for_each_char(value, options.limit, [&](uint32_t code_point) {
    if (options.lf_to_crlf && code_point == '\n') text.push_back('\r');
    text.append(bytes, static_cast<size_t>(encode_utf8_char(code_point, bytes)));
    return true;
  });
  return text;
}

size_t to_utf8_bounded(const Cell& value, char* out, size_t capacity, const OutputOptions& options) {
  size_t written = 0;
  for_each_char(value, options.limit, [&](uint32_t code_point) {
    const bool crlf = options.lf_to_crlf && code_point == '\n';
    const size_t needed = static_cast<size_t>(utf8_length_of(code_point)) + (crlf ? 1 : 0);
    if (capacity - written < needed) return false;
    if (crlf) out[written++] = '\r';
    written += static_cast<size_t>(encode_utf8_char(code_point, out + written));
    return true;
  });
  return written;
}

std::string to_utf16le(const Cell& value, const OutputOptions& options) {
  std::string bytes;
  bytes.reserve(2 * size_t{series::length_from(value)});
  const auto put = [&](uint32_t unit) {
    bytes.push_back(static_cast<char>(static_cast<uint8_t>(unit)));
    bytes.push_back(static_cast<char>(static_cast<uint8_t>(unit >> 8)));
  };
  for_each_char(value, options.limit, [&](uint32_t code_point) {
    if (code_point > max_code_point) raise_invalid_char(code_point);
    if (options.lf_to_crlf && code_point == '\n') put('\r');
    if (code_point >= 0x10000) {
      put(0xD800 | ((code_point - 0x10000) >> 10));
      put(0xDC00 | ((code_point - 0x10000) & 0x3FF));
    } else {
      put(code_point);
    }
    return true;
  });
  return bytes;
}

// ---------------------------------------------------------------------------
// Case mapping

uint32_t to_upper(uint32_t code_point) {
  if (code_point <= 0xFFFF) {
    const uint32_t mapped = upper_table[code_point];
    return mapped == 0 ? code_point : mapped;
  }
  return map_supplementary(upper_supplementary_pairs, code_point);
}

uint32_t to_lower(uint32_t code_point) {
  if (code_point <= 0xFFFF) {
    const uint32_t mapped = lower_table[code_point];
    return mapped == 0 ? code_point : mapped;
  }
  return map_supplementary(lower_supplementary_pairs, code_point);
}

void uppercase(NodeId node, uint32_t start, uint32_t count) { change_case(node, start, count, to_upper); }

void lowercase(NodeId node, uint32_t start, uint32_t count) { change_case(node, start, count, to_lower); }

}  // namespace kiv::unicode
