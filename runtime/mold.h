// Helpers shared by the form and mold functions of every datatype.
//
// Form and mold append to an output string and return the remaining /part
// budget: the limit minus the characters written, negative once the text
// ran past it.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/gc_safety.h"

namespace kiv::mold {

// Appends `text` and returns the budget left.
int32_t emit(Val out, std::string_view text, int32_t part);

// Appends UTF-8 text and returns the budget left (counted in characters).
int32_t emit_utf8(Val out, std::string_view text, int32_t part);

// Appends `levels` levels of indentation, four spaces each.
void indent(Val out, int32_t levels);

// When the series of `value` is already being walked (the cycle stack has
// it), appends the elision text ("[...]" and the like), lowers the budget
// and answers true.
bool cycle_check(const Cell& value, Val out, int32_t& part, bool molding);

}  // namespace kiv::mold
