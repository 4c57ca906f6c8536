// unset!: the value of nothing. No payload.
#pragma once

#include "runtime/core/cell.h"

namespace kiv::unset {

inline Cell make() { return Cell{cell::header(TypeId::unset), 0, 0, 0}; }
void register_types();

}  // namespace kiv::unset
