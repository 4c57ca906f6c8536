// routine!: functions whose body is C++ code, registered by name.
//
// A routine has a spec like a function's (arguments with type blocks,
// refinements) and the same cell layout (w1 context, w2 spec, w3 metadata);
// metadata cell 2 holds the index of its C++ body in the routine table.
// The body finds its arguments in the current window, as a native does,
// with a logic! flag cell for each refinement, and leaves its result in the
// result slot.
#pragma once

#include <string_view>

#include "runtime/core/cell.h"
#include "runtime/eval/flow.h"

namespace kiv::routine {

using Body = Flow (*)();

// Adds a routine to the table; `define_all` makes its value and sets its
// global word.
void add(std::string_view name, std::string_view spec, Body body);
void define_all();

// The body of a routine value.
Body body_of(const Cell& routine);

void register_types();

}  // namespace kiv::routine
