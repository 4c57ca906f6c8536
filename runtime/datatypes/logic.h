// logic!: true and false. w1 is 1 for true, 0 for false.
//
// Truth of any value: false for none! and for a logic! whose w1 is not 1;
// true for everything else (unset! is an error where a truth is needed).
#pragma once

#include "runtime/core/cell.h"
#include "runtime/core/stack.h"

namespace kiv::logic {

inline Cell make(bool value) { return Cell{cell::header(TypeId::logic), value ? 1u : 0u, 0, 0}; }
inline Val push(bool value) { return stack::push(make(value)); }
inline bool get(const Cell& value) { return value.w1 != 0; }

inline bool is_true(const Cell& value) {
  switch (cell::type_of(value)) {
    case TypeId::none: return false;
    case TypeId::logic: return value.w1 == 1;
    default: return true;
  }
}

// Truth of `value`; with `check`, unset! raises script/no-value naming
// `word`.
bool value_true(const Cell& value, bool check, const Cell& word);
[[noreturn]] void raise_no_return();
// Truth of a result that must be a value: unset! raises script/no-return.
// Inline: if, either and the loops ask it every round.
inline bool arg_true(const Cell& value) {
  if (cell::is(value, TypeId::unset)) [[unlikely]] raise_no_return();
  return is_true(value);
}

void register_types();

}  // namespace kiv::logic
