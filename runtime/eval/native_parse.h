// The `parse` native: checks its refinements and runs the parse engine.
#pragma once

#include <cstdint>

#include "runtime/eval/flow.h"

namespace kiv::natives {

// parse input rules /case /part length /trace callback: matches `input`
// (any block, any string, binary!) from its index against `rules`.
// Answers true when the rules matched the whole input (up to the /part
// limit), false otherwise, or the block of a top-level collect. A /part
// limit is a count from the input's index or a position in the same
// series (else script/invalid-refine-arg); one that leaves no room answers
// at once whether the input is empty. Runs the rules' parens and the
// tracer; their break, return, throw and exit go on through it. May
// collect; raises the engine's script/parse-* errors.
Flow native_parse(const int32_t* refinements);

}  // namespace kiv::natives
