// The calling convention of natives and action entries, for the files that
// define them.
//
// A call's arguments are the cells of its window on the argument stack,
// from the window's base: argument 0 is the result slot too. Refinements
// are read by their position among the refinements of the function's spec;
// each native names them with an enum in spec order. `refinements[i]` is -1
// for an unused refinement, else the position of its argument in the
// window.
#pragma once

#include <cstdint>
#include <optional>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/stack.h"
#include "runtime/eval/flow.h"

namespace kiv::native_args {

inline Val arg(uint32_t index) { return stack::ArgStack::at(stack::ArgStack::base_index() + index); }

template <class Refinement>
bool used(const int32_t* refinements, Refinement which) {
  return refinements[static_cast<int>(which)] != -1;
}

// The argument of a used refinement.
template <class Refinement>
Val refinement_arg(const int32_t* refinements, Refinement which) {
  return arg(static_cast<uint32_t>(refinements[static_cast<int>(which)]));
}

// The argument of a refinement, when it is used.
template <class Refinement>
std::optional<Val> refinement_if_used(const int32_t* refinements, Refinement which) {
  if (!native_args::used(refinements, which)) return std::nullopt;
  return native_args::refinement_arg(refinements, which);
}

// Makes `value` the call's result.
inline Flow answer(const Cell& value) {
  stack::ArgStack::set_result_keep(value);
  return Flow::normal;
}

}  // namespace kiv::native_args
