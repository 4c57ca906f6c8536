// binary!: a series of bytes (unit size 1). w1 head index, w2 node.
//
// The lexer makes binaries from #{...}; natives make them from computed
// bytes (digests, decoded text). The type's own actions are not built yet:
// these two functions are what the natives share until then.
#pragma once

#include <string>
#include <string_view>

#include "runtime/core/cell.h"

namespace kiv::binary {

// A new binary! holding `bytes`. May collect: root the result before the
// next allocation.
Cell make(std::string_view bytes);

// A copy of the bytes of a binary! from its index to its tail.
std::string bytes_from_index(const Cell& value);

}  // namespace kiv::binary
