// The six word types: word!, set-word!, lit-word!, get-word!, refinement!
// and issue!.
//
// Payload: w1 the context node of the binding (0 for none), w2 the symbol
// (with the word's own spelling), w3 the index in that context, or
// 0xFFFFFFFF until it is first resolved.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"
#include "runtime/datatypes/actions.h"

namespace kiv::word {

inline constexpr uint32_t unresolved = 0xFFFFFFFF;

inline Cell make(TypeId type, NodeId context, uint32_t symbol, uint32_t index) {
  return Cell{cell::header(type), context, symbol, index};
}

// A word of `name` bound to the global context, keeping the spelling given
// (a case variant reads the shared slot of the first spelling). While the
// runtime starts, the word is also kept in the root block. May collect.
Cell intern(std::string_view name);
// The same for the symbol of such a name: the word the lexer makes of it.
Cell intern_symbol(uint32_t symbol);
// The global word of `symbol` (an exact entry of its own). May collect.
Cell make_global(uint32_t symbol);
// An issue! of exactly `text`: bound to the global context, unresolved.
Cell make_issue(std::string_view text);
// A word! of `name` bound to no context: the name of a call or a field in
// an error, a trace or a report. May collect (a new name is interned).
Cell unbound(std::string_view name);

// Compare of two word-type cells under `op` (the word types' compare).
int compare(const Cell& a, const Cell& b, CmpOp op);

// word!, lit-word!, set-word!, get-word!, refinement!; then issue!, which
// registers later in the order of types.
void register_types();
void register_issue();

}  // namespace kiv::word
