// Comparing any two values: the dispatch behind =, <, sort and find.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/actions.h"

namespace kiv::compare {

// -1, 0 or 1, or -2 when the two cannot be compared under `op`. Never
// allocates.
int dispatch(const Cell& a, const Cell& b, CmpOp op);

// Whether the comparison `op` holds. An ordering of values that cannot be
// ordered raises script/invalid-compare; an equality test of them is false.
bool test(const Cell& a, const Cell& b, CmpOp op);

// Whether a compare answer means that `op` holds.
bool holds(int answer, CmpOp op);

}  // namespace kiv::compare
