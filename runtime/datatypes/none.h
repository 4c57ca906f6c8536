// none!: the absence of a value. No payload.
#pragma once

#include "runtime/core/cell.h"

namespace kiv::none {

inline Cell make() { return Cell{cell::header(TypeId::none), 0, 0, 0}; }
void register_types();

}  // namespace kiv::none
