// Compiled blocks: what the evaluator learns of a block that runs again
// and again, kept beside it.
//
// The walker (interpreter.cpp) works out at every cell what the cell
// means: the word's value, the callee's arity, whether an operator
// follows. A block that runs again and again is compiled from what those
// answers are now: a tree of its expressions, each call with the callable
// it was made for and its arguments, each operator with its number fast
// path. Running the tree re-checks only what can have changed:
// - the block's cells, against a copy taken when compiling, but only after
//   something may have written to a block (the code epoch moved on);
// - each word's value where it is read, each callee against the one the
//   call was compiled for, and whether a word after an expression has
//   become an operator.
// Where a check fails, or where the compiler stopped (anything it does not
// know), the walker takes over at that very cell (handover.h), so results,
// errors, their `near` and `where`, and the frames on the call stack are
// the walker's own. Tracing runs the walker alone.
//
// KIV_COMPILE=off in the environment leaves every block to the walker;
// KIV_COMPILE=verify has the walker work out again every value that
// compiled code worked out without a call, and ends the process with a
// report at the first difference.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/eval/flow.h"

namespace kiv::compiled {

namespace detail {
inline bool enabled = true;
inline bool verifying = false;  // the walker checks a compiled value
inline uint64_t code_epoch = 1;
}  // namespace detail

// Reads KIV_COMPILE; forgets every compiled block.
void init();

inline bool enabled() { return detail::enabled && !detail::verifying; }

// Something may have written to a block's cells: a call of a native,
// action or routine that may write code (one given a block, function,
// object, port or map, unless it only reads), every path store and
// tracing switched on say so, before they run.
inline void code_may_change() { ++detail::code_epoch; }

// Runs `block` from its head in the current window (as eval_in_window)
// when it is compiled or worth compiling now, answering true with `flow`
// set; false leaves the block to the walker.
bool run(const Cell& block, Flow& flow);

}  // namespace kiv::compiled
