// UTF-8 encoding and decoding of single code points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kiv::unicode {

inline constexpr uint32_t replacement_char = 0xFFFD;

// Writes the UTF-8 form of `code_point` to `out` (room for 4 bytes) and
// returns the byte count. Surrogates and values past U+10FFFF have no UTF-8
// form: they are written as U+FFFD.
inline int encode_utf8(uint32_t code_point, char* out) {
  auto byte = [](uint32_t value) { return static_cast<char>(static_cast<uint8_t>(value)); };
  if (code_point < 0x80) {
    out[0] = byte(code_point);
    return 1;
  }
  if (code_point < 0x800) {
    out[0] = byte(0xC0 | (code_point >> 6));
    out[1] = byte(0x80 | (code_point & 0x3F));
    return 2;
  }
  if ((code_point >= 0xD800 && code_point <= 0xDFFF) || code_point > 0x10FFFF)
    code_point = replacement_char;
  if (code_point < 0x10000) {
    out[0] = byte(0xE0 | (code_point >> 12));
    out[1] = byte(0x80 | ((code_point >> 6) & 0x3F));
    out[2] = byte(0x80 | (code_point & 0x3F));
    return 3;
  }
  out[0] = byte(0xF0 | (code_point >> 18));
  out[1] = byte(0x80 | ((code_point >> 12) & 0x3F));
  out[2] = byte(0x80 | ((code_point >> 6) & 0x3F));
  out[3] = byte(0x80 | (code_point & 0x3F));
  return 4;
}

// Reads the code point at `text[pos]` and moves `pos` past it. A byte that
// does not start a well-formed sequence (overlong forms, surrogates and
// values past U+10FFFF included) reads as U+FFFD and is skipped alone.
inline uint32_t decode_utf8(std::string_view text, size_t& pos) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  int count;
  uint32_t code_point;
  uint32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    count = 1, code_point = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    count = 2, code_point = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    count = 3, code_point = lead & 0x07, minimum = 0x10000;
  } else {
    ++pos;
    return replacement_char;
  }
  if (pos + static_cast<size_t>(count) >= text.size()) {  // the sequence runs past the end
    ++pos;
    return replacement_char;
  }
  for (int i = 1; i <= count; ++i) {
    const uint8_t next = byte(pos + static_cast<size_t>(i));
    if ((next & 0xC0) != 0x80) {
      ++pos;
      return replacement_char;
    }
    code_point = (code_point << 6) | (next & 0x3F);
  }
  if (code_point < minimum || code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) {
    ++pos;
    return replacement_char;
  }
  pos += static_cast<size_t>(count) + 1;
  return code_point;
}

}  // namespace kiv::unicode
