// Text encodings of bytes in bases 2, 16, 58 and 64 (the work of `enbase`).
//
// The encoders read a run of bytes and write ASCII text: base 2 as eight
// "0"/"1" digits per byte (most significant bit first), base 16 as two
// upper-case hexadecimal digits per byte, base 64 with the RFC 4648
// alphabet and "=" padding, base 58 with the alphabet that leaves out 0, O,
// I and l (each leading zero byte a leading "1"). No line breaks are ever
// written. Pure functions: no values, no allocation of series.
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

}  // namespace kiv::base_encoding
