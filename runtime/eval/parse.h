// The parse dialect engine: matches a series against a block of rules.
//
// The engine is one loop over a state variable with an explicit stack of
// frames, never recursion on the machine stack, so that deeply nested
// rules cost no machine stack and a trace callback can watch every step.
// Two kinds of frame:
//   block frame    a rule block being matched; keeps where the input stood
//                  when it was entered, to which a failed alternative goes
//                  back before the next `|`;
//   command frame  a keyword that acts on the result of the rule after it
//                  (any, some, opt, while, counts, to, thru, copy, set,
//                  not, ahead, into, remove, change, collect, keep, case);
//                  the result of its rule is applied when it arrives.
// The frames of every run live in one vector shared by nested runs (a
// paren or callback may call parse again): each run works above the
// frames it found, and drops back to them however it ends, exits and
// errors included. Frames hold cells (rule blocks, words, collect
// targets, the inputs of `into`), which the collector marks.
//
// The input is a block (any block type), a string (any string type, units
// of 1, 2 or 4 bytes) or a binary!. A position in it is an index from its
// buffer's head; the engine re-reads buffers after anything that may
// allocate or run Kiv code.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/eval/flow.h"

namespace kiv::parse {

// More cells than this on the frame stack (a block frame counts two, a
// command frame three) raises script/parse-stack.
inline constexpr uint32_t stack_limit_cells = 10000;

// Interns the keywords and registers the frame stack with the collector.
// Runtime start-up, after the natives.
void init();

struct Options {
  bool case_sensitive = false;
  // Index (from the input buffer's head) where matching stops as if at the
  // tail; UINT32_MAX for none.
  uint32_t limit = UINT32_MAX;
  // A function! called at each trace event, or none!.
  Cell tracer{cell::header(TypeId::none), 0, 0, 0};
};

// Matches `rules` against `input` from its index. The answer goes into
// `result`: true when the rules matched the whole input (up to the limit),
// else false, or the block of a top-level `collect`. May collect; runs the
// rules' parens and the tracer. Raises script errors for malformed rules
// (parse-rule, parse-end, parse-stack, parse-keep, ...). A break, return,
// throw or exit out of a paren or the tracer answers Flow::exit, the
// engine's frames already dropped.
Flow run(Val input, Val rules, const Options& options, Val result);

}  // namespace kiv::parse
