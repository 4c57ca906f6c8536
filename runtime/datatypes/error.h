// error!: a script error as a value.
//
// For now an error! cell names (w2) a block of its fields: the code, the
// three arguments, the expression near which it was raised, and the word
// of the call where it was raised. Its category and id words, its title
// and its message template come from the error catalogue by the code
// (error_catalog.h): an error forms as
//
//   *** Script Error: x has no value
//   *** Where: foo
//   *** Near : x + 1
//
// the message being the template with the arguments molded in (formed and
// cut at 80 characters in syntax errors), Where the name of the failing
// call ("???" when there is none) and Near the code from the failing
// expression on, on one line, cut at 40 characters.
#pragma once

#include "runtime/core/cell.h"

namespace kiv::error_value {

void register_types();

// An error! value made from the pending error (error_raise.h). May collect.
Cell make_from_pending();

}  // namespace kiv::error_value
