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

// Adds a routine to the table under `name`. Registering makes no value
// and sets no word: start-up asks for each routine by name (`push_value`,
// reached from Kiv through the `builtin` routine while the library loads).
void add(std::string_view name, std::string_view spec, Body body);

// Pushes a new routine! value of the table's entry `name` (its spec lexed
// from the registered text); false, pushing nothing, when the table has
// no such entry. May collect.
bool push_value(std::string_view name);

// Sets the global word `name` to a new value of that routine.
void define(std::string_view name);

// The body of a routine value.
Body body_of(const Cell& routine);

void register_types();

}  // namespace kiv::routine
