// error!: a script error as a value.
//
// For now an error! cell names (w2) a block of its fields: the code, the
// three arguments, the expression near which it was raised, and the word
// of the call where it was raised.
#pragma once

#include "runtime/cell.h"

namespace kiv::error_type {

void register_type();

}  // namespace kiv::error_type
