// The KIVBIN encoder: one value and everything it reaches, in the compact
// layout or the fixed layout of 32-bit words. Series met again are written as references to the path of
// their first record, so shared series and cycles survive decoding.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/core/cell.h"

namespace kiv::kivbin {

// The bytes of `value` as a KIVBIN file, compact layout. Raises
// access/no-codec for a value that cannot be serialised.
std::vector<uint8_t> encode_compact(const Cell& value);

// The same in the fixed layout.
std::vector<uint8_t> encode_fixed(const Cell& value);

}  // namespace kiv::kivbin
