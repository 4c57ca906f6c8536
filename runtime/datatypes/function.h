// function!: user functions, made from a spec block and a body block.
//
// Payload: w1 the function's context (kind function, values on the
// argument stack while a call runs), w2 the spec block's node (index 0),
// w3 the node of the metadata block of five cells:
//   0 the body (a deep copy bound to the context), or none
//   1 the argument cache, unset until the first call builds it
//   2 unset (no machine code: every function is interpreted)
//   3 unset, or the function an op! wraps
//   4 unset
// Header flags: 0x400 `trace`, 0x200 `no-trace` from the spec's attribute
// block; 0x800 library: made while start-up ran the script library, so its
// body is the library's own code, which traces do not show (the calls of
// the function do show). The function cell is also its context's self
// cell.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/memory.h"

namespace kiv::function {

inline constexpr uint32_t flag_trace = 0x400;
inline constexpr uint32_t flag_no_trace = 0x200;
inline constexpr uint32_t flag_library = 0x800;

namespace meta {
inline constexpr uint32_t body = 0;
inline constexpr uint32_t cache = 1;
inline constexpr uint32_t op_function = 3;
}  // namespace meta

// Checks a spec; answers its attribute flags. Raises script/bad-func-def,
// script/invalid-type-spec or script/dup-vars.
uint32_t validate_spec(const Cell& spec);

// Makes a function from a spec and a body (or none) and pushes it.
Val make(Val spec, Val body);

// Cell `index` of a callable's metadata block, by value / by address
// (valid until the next allocation).
inline Cell* metadata_slot(const Cell& callable, uint32_t index) {
  return reinterpret_cast<Cell*>(memory::buffer(callable.w3)->head_ptr()) + index;
}
inline Cell metadata(const Cell& callable, uint32_t index) { return *metadata_slot(callable, index); }

// Adds the body's set-words (and loop words) to the spec after /local,
// but for the spec's own words. Words listed after /extern stay outside:
// /extern and its words are cut from the spec (with a /local part right
// after them, whose words stay locals); a spec with /extern holding a
// value that is no word, block or string raises script/bad-func-extern.
// `spec` is the caller's copy: it is changed. May collect.
void collect_locals(Val spec, Val body);

void register_types();

}  // namespace kiv::function
