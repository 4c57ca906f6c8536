// The sort action of blocks (and paren!, hash!).
#pragma once

#include "runtime/core/gc_safety.h"
#include "runtime/datatypes/actions.h"

namespace kiv::block {

void sort(Val series, const SortOptions& options);

}  // namespace kiv::block
