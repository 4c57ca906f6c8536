// find and select on block! and its children (paren!, the paths, hash!).
#pragma once

#include "runtime/core/gc_safety.h"
#include "runtime/datatypes/actions.h"

namespace kiv::block_search {

// The series at the match (just after it with /tail), or none. A
// datatype! or typeset! value (without /only) matches cells of its types;
// an any-block value (without /only) is a run of cells to match in order;
// any other value is one cell. Records of /skip cells are tried by their
// first cell, counted from the head. A hash! is searched through its table
// for single values. Raises script/invalid-refine-arg for a /skip that is
// not an integer or a /part that is neither a count nor a position in the
// same series, script/out-of-range for a /skip below 1. Never allocates.
void find(Val series, Val value, const FindOptions& options);

// The cell after the matched value or run, or none.
void select(Val series, Val value, const FindOptions& options);

}  // namespace kiv::block_search
