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

// put: the cell after `key` (found as find finds it, /case honoured)
// becomes `value`; a missing key is appended with the value after it, and
// a key that ends the block gets the value appended. The result is the
// value. May collect.
void put(Val series, Val key, Val value, bool case_);

// Path access into a block (b/2, b/word, b/("key"), and setting them). A
// key that is not found when setting raises script/bad-path-set; a
// position outside the block, script/out-of-range. May collect.
void eval_path(PathStep& step);

}  // namespace kiv::block_search
