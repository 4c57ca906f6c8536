// native!, action! and op!: built-in functions, the generic actions, and
// infix operators.
//
// native! and action!: w1 the index of the entry (natives table, or action
// number), w2 the spec block's node, w3 the node of a two-cell block whose
// cell 1 holds the argument cache once the first call builds it.
// op!: a copy of the function it wraps (native!, action!, function!), its
// header 23 with the wrapped type in bits 16-23.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/eval/flow.h"

namespace kiv::native {

// A native's or action's entry: its arguments are in the current window
// from the argument base; `refinements` holds, per refinement of its spec,
// -1 when unused or the window position of its first argument (refinements
// without arguments: any other value).
using Entry = Flow (*)(const int32_t* refinements);

inline constexpr uint32_t cache_cell = 1;

// Makes a native! (or action!) value of entry `index` with `spec`.
Cell make(TypeId type, uint32_t index, Val spec);
// Makes the native! (or action!) value of entry `index` from its spec text
// and sets the global word `name` to it.
void define(TypeId type, uint32_t index, std::string_view name, std::string_view spec);

// Makes an op! of a native!, action! or function! of two arguments.
Cell make_op(const Cell& function);
// The type an op! wraps.
inline TypeId wrapped_type(const Cell& op) { return cell::op_wrapped_type(op); }

void register_types();

}  // namespace kiv::native
