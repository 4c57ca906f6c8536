// The root block: cells kept alive for the whole run.
//
// A block outside the collected frames, never moved and never collected;
// what it holds is marked by every collection. Words interned while the
// runtime starts are copied here, and so are a few boot-time values
// (the refinements /local, /extern, ...).
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

namespace kiv::root_block {

inline constexpr uint32_t initial_cells = 10016;

void init();
// Appends a copy of `value`; answers its position.
uint32_t append(const Cell& value);
Cell at(uint32_t position);
uint32_t length();
NodeId node();

}  // namespace kiv::root_block
