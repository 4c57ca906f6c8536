// Helpers shared by the form and mold functions of every datatype.
//
// Form and mold append to an output string and return the remaining /part
// budget: the limit minus the characters written, negative once the text
// ran past it.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/datatypes/actions.h"

namespace kiv::mold {

// Forms or molds any value through its datatype. May allocate: `value`
// must be rooted.
int32_t form_value(Val value, Val out, int32_t part);
int32_t mold_value(Val value, Val out, const MoldOptions& options, int32_t part);

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
