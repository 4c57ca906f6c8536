// The KIVBIN decoder: the values of a KIVBIN file, for data from outside.
//
// Every length, count, index and path is checked against the bytes that
// are there before it is used; nesting is bounded. A malformed file
// raises script/invalid-data (not KIVBIN, or a corrupt compressed body) or
// script/kb-invalid-record with the 1-based position of the byte where a
// check failed; a refused type raises access/no-codec.
#pragma once

#include <cstdint>
#include <span>

#include "runtime/core/gc_safety.h"

namespace kiv::kivbin {

// Appends the root values of `data` to the block `destination`. `source`
// is the argument the errors about the data as a whole carry.
void decode(std::span<const uint8_t> data, Val destination, const Cell& source);

}  // namespace kiv::kivbin
