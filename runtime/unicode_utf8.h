// UTF-8 encoding of single code points.
#pragma once

#include <cstdint>

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

}  // namespace kiv::unicode
