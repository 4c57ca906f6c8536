// Comparing any two values: the dispatch behind =, <, sort and find.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/actions.h"

namespace kiv::actions {

// -1, 0 or 1, or -2 when the two cannot be compared under `op`. Never
// allocates.
int compare_dispatch(const Cell& a, const Cell& b, CmpOp op);

// Whether the comparison `op` holds. An ordering of values that cannot be
// ordered raises script/invalid-compare; an equality test of them is false.
bool compare(const Cell& a, const Cell& b, CmpOp op);

// Whether a compare answer means that `op` holds.
bool holds(int answer, CmpOp op);

}  // namespace kiv::actions
