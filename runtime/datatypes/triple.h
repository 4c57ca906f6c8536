// triple!: three signed 32-bit integers packed in one cell (w1, w2, w3),
// with no series behind them. The parse engine keeps its rule and
// backtrack entries as triples on its own stacks; scripts do not make
// them, but one that escapes prints as "make triple! [1 -2 3]".
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"

namespace kiv::triple {

inline Cell make(int32_t first, int32_t second, int32_t third) {
  return Cell{cell::header(TypeId::triple), static_cast<uint32_t>(first), static_cast<uint32_t>(second),
              static_cast<uint32_t>(third)};
}
inline int32_t first(const Cell& value) { return static_cast<int32_t>(value.w1); }
inline int32_t second(const Cell& value) { return static_cast<int32_t>(value.w2); }
inline int32_t third(const Cell& value) { return static_cast<int32_t>(value.w3); }

void register_types();

}  // namespace kiv::triple
