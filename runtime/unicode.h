// Unicode: the external encodings of text and case mapping.
//
// Strings are series of fixed-width units (1, 2 or 4 bytes: Latin-1, UCS-2,
// UCS-4; datatypes/string.h). This module converts between them and the
// encodings the runtime meets outside: UTF-8 (source text, files, symbol
// spellings, the network) and UTF-16 little-endian (clipboard text and
// UTF-16 files), and maps letters between upper and lower case.
//
// Three UTF-8 readers, for three kinds of caller:
// - Tolerant (`decode_utf8_char`, `decode_utf8`, `utf8_count`,
//   `utf8_skip`): never fails. Well-formed UTF-8 decodes as the standard
//   says; a byte that does not start a well-formed sequence (a stray
//   continuation byte, C0, C1, F5-FF, a lead whose sequence is cut or has a
//   bad continuation, an overlong form, an encoded surrogate, a value past
//   U+10FFFF) reads as one bad character (-1, or U+FFFD) and only that one
//   byte is consumed, so the bytes after it are read again as text.
// - Strict (`decode_utf8_strict`): for text loaded into strings. Refuses
//   overlong forms, values past U+10FFFF, encoded U+DC00-U+DCFF and every
//   malformed sequence. Other encoded surrogates are accepted, so that a
//   string holding a lone surrogate (which a 2- or 4-byte string can) comes
//   back from the UTF-8 that `to_utf8` writes for it.
// - `load_utf8`: the strict reader over a whole buffer, appending to a
//   string; bad input raises access/invalid-utf8.
//
// Case mapping follows the simple mappings of the Unicode Character
// Database (one code point to one code point; unicode_case_tables.inc,
// made by tools/gen_case_tables.py from a pinned UnicodeData.txt).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/memory.h"

namespace kiv::unicode {

inline constexpr uint32_t replacement_char = 0xFFFD;
inline constexpr uint32_t max_code_point = 0x10FFFF;

// Buffer flag of a string decoded from UTF-16LE, for the code that reads
// text back out in the form it came in.
inline constexpr uint32_t from_utf16_flag = 0x00040000;

// ---------------------------------------------------------------------------
// UTF-8 output

// Writes the UTF-8 form of `code_point` to `out` (room for 4 bytes) and
// returns the byte count. Surrogates and values past U+10FFFF have no
// well-formed UTF-8: they are written as U+FFFD. For text that leaves the
// runtime for a terminal or another program.
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
  if ((code_point >= 0xD800 && code_point <= 0xDFFF) || code_point > max_code_point) code_point = replacement_char;
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

// Bytes of the UTF-8 form of `code_point`: 1 up to U+007F, 2 up to U+07FF,
// 3 up to U+FFFF, 4 up to U+10FFFF. Past that, raises script/invalid-char
// with the code point.
int utf8_length_of(uint32_t code_point);

// The runtime's own UTF-8 encoder, the inverse of `decode_utf8_strict`:
// writes `code_point` to `out` (room for 4 bytes) and returns the byte
// count. A surrogate is written as 3 bytes like any other BMP code point.
// Past U+10FFFF, raises script/invalid-char with the code point.
int encode_utf8_char(uint32_t code_point, char* out);

// ---------------------------------------------------------------------------
// UTF-8 input

// Tolerant decoding (see the top of this file). Reads the character at
// `text[pos]` (pos < text.size()) and moves `pos` past it; returns the code
// point, or -1 for a bad byte, which is consumed alone.
inline int32_t decode_utf8_char(std::string_view text, size_t& pos) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  size_t count;
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
    return -1;
  }
  if (pos + count >= text.size()) {  // the sequence runs past the end
    ++pos;
    return -1;
  }
  for (size_t i = 1; i <= count; ++i) {
    const uint8_t next = byte(pos + i);
    if ((next & 0xC0) != 0x80) {
      ++pos;
      return -1;
    }
    code_point = (code_point << 6) | (next & 0x3F);
  }
  if (code_point < minimum || code_point > max_code_point || (code_point >= 0xD800 && code_point <= 0xDFFF)) {
    ++pos;
    return -1;
  }
  pos += count + 1;
  return static_cast<int32_t>(code_point);
}

// `decode_utf8_char` with a bad byte read as U+FFFD.
inline uint32_t decode_utf8(std::string_view text, size_t& pos) {
  const int32_t code_point = decode_utf8_char(text, pos);
  return code_point < 0 ? replacement_char : static_cast<uint32_t>(code_point);
}

// Characters in `text` as the tolerant reader counts them (a bad byte is
// one character).
size_t utf8_count(std::string_view text);
// Byte offset just past the first `n` characters of `text` (its size when
// it has fewer).
size_t utf8_skip(std::string_view text, size_t n);

// Results of `decode_utf8_strict` other than a sequence length.
inline constexpr int utf8_cut = 0;       // the bytes end inside a sequence
inline constexpr int utf8_invalid = -1;  // malformed

// Strict decoding of the sequence at the start of `bytes`. Returns its
// length (1-4) with the code point stored in `code_point`; `utf8_cut` when
// the bytes end inside a sequence that is well-formed so far (the caller
// keeps them until more arrive; also for empty `bytes`); `utf8_invalid` for
// a stray continuation byte, C0, C1, F5-FF, a bad continuation byte, an
// overlong form (E0 followed by 80-9F, F0 by 80-8F), a value past U+10FFFF
// (F4 followed by 90-BF) or an encoded U+DC00-U+DCFF.
int decode_utf8_strict(std::string_view bytes, uint32_t& code_point);

// ---------------------------------------------------------------------------
// Strings

struct LoadOptions {
  // Drop a byte-order mark (EF BB BF, FF FE) at the start of the bytes.
  bool skip_bom = true;
  // Line ends to LF: CR LF becomes LF, and so does a CR alone.
  bool crlf_to_lf = false;
};

// Decodes `bytes` strictly and appends the characters to the string `out`,
// widening its units when a character needs it. Returns the number of
// bytes at the end that form a cut sequence and were not decoded (0 to 3):
// a caller reading in chunks passes them again in front of the next chunk.
// Malformed UTF-8 raises access/invalid-utf8 with up to 4 bytes from the
// bad one as a binary! argument, and leaves `out` as it was.
// `bytes` must not lie in a series buffer: the call may collect.
uint32_t load_utf8(Val out, std::string_view bytes, const LoadOptions& options = {});

// Decodes UTF-16LE `bytes` and appends the characters to the string `out`
// (the narrowest unit that holds them when `out` is empty; wider when a
// character needs it), and sets `from_utf16_flag` on its buffer. A surrogate
// pair becomes one character; an unpaired surrogate and an odd last byte
// read as U+FFFD. Never fails. `bytes` must not lie in a series buffer.
void load_utf16le(Val out, std::string_view bytes, const LoadOptions& options = {});

struct OutputOptions {
  // Characters from the value's index; negative: up to the tail.
  int64_t limit = -1;
  // Each LF is written as CR LF.
  bool lf_to_crlf = false;
};

// The characters of the string `value` from its index, in the runtime's
// UTF-8 (`encode_utf8_char`: a lone surrogate is kept, so `load_utf8` reads
// the text back unchanged, U+DC00-U+DCFF excepted). A character past
// U+10FFFF raises script/invalid-char.
std::string to_utf8(const Cell& value, const OutputOptions& options = {});

// As `to_utf8`, into `out`, writing at most `capacity` bytes and only whole
// characters; returns the bytes written. No NUL is added.
size_t to_utf8_bounded(const Cell& value, char* out, size_t capacity, const OutputOptions& options = {});

// The characters of the string `value` from its index as UTF-16LE bytes
// (two per unit; a character from U+10000 on takes a surrogate pair). A
// character past U+10FFFF raises script/invalid-char.
std::string to_utf16le(const Cell& value, const OutputOptions& options = {});

// ---------------------------------------------------------------------------
// Case mapping

// The simple upper- and lower-case mapping of `code_point`; a character
// without one (and any value past U+10FFFF) maps to itself.
uint32_t to_upper(uint32_t code_point);
uint32_t to_lower(uint32_t code_point);

// Maps `count` characters of the string series `node`, from index `start`
// (counted from the head; the range is clamped to the tail), to upper or
// lower case in place. The series widens when a mapped character needs a
// wider unit (lower-case y with diaeresis, U+00FF, has its capital at
// U+0178); it never narrows. May collect.
void uppercase(NodeId node, uint32_t start, uint32_t count);
void lowercase(NodeId node, uint32_t start, uint32_t count);

}  // namespace kiv::unicode
