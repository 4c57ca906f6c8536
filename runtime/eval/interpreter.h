// The interpreter: evaluation of blocks, expressions, paths and calls.
//
// A block is a sequence of expressions evaluated left to right. Each
// expression is one value, or a word or path naming a function followed by
// the expressions of its arguments, optionally followed by infix operators,
// which associate from left to right with no precedence among themselves.
//
// Results travel on the argument stack. In "sub" mode (an argument being
// fetched) an expression's value is pushed as a new cell; otherwise it is
// stored into the current call's result slot and the window is cut to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "runtime/core/cell.h"
#include "runtime/core/exits.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/memory.h"
#include "runtime/eval/flow.h"

namespace kiv::interpreter {

// A position in a block being evaluated, with the block's buffer as last
// read (see memory::relocations).
struct Code {
  NodeId block;
  uint32_t index;
  SeriesBuf* buffer = nullptr;
  // The count of relocations when `buffer` was read: none yet at first
  // (the count starts at 0 and only grows, it never reaches this value).
  uint64_t relocations = ~uint64_t{0};
};

void init();

// Evaluates a block from its head. With `last`, its value goes into the
// caller's result slot; without, it becomes the caller's newest cell. An
// empty block's value is unset.
Flow eval_block(const Cell& block, bool last);

// Evaluates a block in the current window, above its cells, without a
// frame of its own: the block's value becomes the newest cell. For parens
// that are arguments or operands, and for the blocks that a call runs as
// part of its own work (a function's body, a branch, a loop's body), which
// the call's window keeps rooted. An exit that has to cross C++ code goes
// on to the nearest catching construct, not to this evaluation.
Flow eval_in_window(const Cell& block);

// Evaluates the one expression of `block` at `index` (do/next), under a
// frame of its own as a block is: its value becomes the caller's newest
// cell, and `index` moves past the expression and the operators that
// follow it. `index` must lie before the block's tail.
Flow eval_next(const Cell& block, uint32_t& index);

// For a catch handler of `Unwind`: a break, return, throw or exit that had
// to cross C++ code which cannot return a Flow (a change handler called
// from a store, a lexer callback) becomes an ordinary exit again: the
// stacks are already at its target. Errors, and anything not pending, are
// rethrown (so call it only inside the handler).
Flow exit_flow(const Unwind& unwind);

// Where an evaluation leaves its value: pushed as a new cell on the
// argument stack (an argument, a sub-expression), or in the current
// window's result slot.
enum class Into : bool { result_slot, new_cell };
// Whether an expression takes the infix operators that follow its first
// value (an operator's right operand does not).
enum class Infix : bool { take, stop };

// Evaluates one expression at `code`, moving `code` past it. With
// `literal`, functions found as values are data rather than calls.
Flow eval_expression(Code& code, Into into, Infix infix = Infix::take, bool literal = false);

// Calls a function! whose arguments are already in the current window (a
// frame marked for it): for natives and datatypes that call user code.
Flow call_function(const Cell& function);

// Fills the window of a function (or routine) called from C++ with fewer
// values than it may take: `args` in order for its leading arguments
// (none for those `args` lacks), its refinements off, and none for every
// word after a refinement. Answers how many of `args` it took.
size_t push_arguments(const Cell& function, std::span<const Cell> args);

// The value a path leads to, without calling a function found on the way
// (get mode): it becomes the newest cell.
Flow get_path(const Cell& path);

// Stores `value` where a path leads (set mode).
Flow set_path(const Cell& path, const Cell& value);

// How `apply` takes a callable's arguments from a block. Bits:
//   all      every argument and refinement in spec order, a refinement as
//            a value whose truth switches it on;
//   named    (without all) the arguments before the first refinement,
//            then refinement! values, each followed by the value that
//            switches it and its arguments;
//   one_cell each argument is the value of one cell, and the arguments of
//            a refinement that is off are skipped rather than evaluated.
//   as_is    (with all) the leading arguments are the block's cells as
//            they are, not evaluated, and every refinement is off: for
//            C++ code that hands values to a callable.
// An exhausted block gives none for every argument left.
namespace apply_mode {
inline constexpr uint32_t all = 1;
inline constexpr uint32_t named = 2;
inline constexpr uint32_t one_cell = 4;
inline constexpr uint32_t as_is = 8;
}  // namespace apply_mode

// Calls `callable` (any function but op!) with its arguments from `args`;
// `name` names the call, `path` (or null) names refinements after its
// element `path_index`. The result goes to the current call's result slot.
Flow apply(const Cell& callable, const Cell& name, const Cell* path, uint32_t path_index, const Cell& args,
           uint32_t mode);

// The block and index of the expression being evaluated (for errors).
Cell code_position();

}  // namespace kiv::interpreter
