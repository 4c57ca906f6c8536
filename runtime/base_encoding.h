// Text encodings of bytes in bases 2, 16, 58 and 64 (the work of `enbase`).
//
// The encoders read a run of bytes and write ASCII text: base 2 as eight
// "0"/"1" digits per byte (most significant bit first), base 16 as two
// upper-case hexadecimal digits per byte, base 64 with the RFC 4648
// alphabet and "=" padding, base 58 with the alphabet that leaves out 0, O,
// I and l (each leading zero byte a leading "1"). No line breaks are ever
// written.
//
// The decoders (the work of `debase`) read text as code points. All four
// skip a comment from ";" to the end of its line. Base 2 and base 16 skip
// the characters up to the space; base 64 and base 58 skip backspace, tab,
// line feed, form feed, carriage return, space and the apostrophe. Any
// other character outside the base's digits makes the text invalid, with
// one exception each: base 58 stops at a character above 127, and base 64
// stops at "=" (its padding, which must come after two or three digits of
// a group). Base 16 drops an odd last digit and base 64 an incomplete last
// group without padding; base 2 refuses a last byte of fewer than 8 digits.
//
// Pure functions: no values, no allocation of series.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kiv::base_encoding {

// Whether `base` is one of the four bases.
bool is_supported(int32_t base);

// The number of characters that encoding `byte_count` bytes in `base` may
// take (exact for 2, 16 and 64; an upper bound for 58), or nothing when it
// does not fit in 32 bits.
std::optional<uint32_t> encoded_size(int32_t base, uint64_t byte_count);

// The encoded text of `bytes`; `base` must be supported.
std::string encode(int32_t base, std::string_view bytes);

// The bytes that `text` encodes in `base`, or nothing when it is not valid
// text of that base; `base` must be supported.
std::optional<std::string> decode(int32_t base, std::u32string_view text);

}  // namespace kiv::base_encoding
