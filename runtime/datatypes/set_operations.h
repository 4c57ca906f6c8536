// The set operations over blocks: unique, union, intersect, exclude and
// difference on records of one or more cells.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/datatypes/typeset.h"

namespace kiv::set_operations {

// A new block holding the result of `op` (unique, union_, intersect,
// exclude or difference) over the blocks `first` and `second` (`second` is
// not read by unique). Records are `skip` cells, each known by its first
// cell; a record joins the result once, in the order of first appearance.
// Keys compare by equality of like types, strictly with `case_sensitive`.
// A skip below 1 raises script/invalid-refine-arg. May collect.
Cell on_blocks(Val first, Val second, typeset::SetOp op, bool case_sensitive, int32_t skip);

}  // namespace kiv::set_operations
