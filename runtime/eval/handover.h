// The walker's steps that compiled blocks (compiled_blocks.h) hand back to.
//
// Compiled code runs what it knows of a block and gives the rest of a
// block, of an expression's operators or of a call's arguments back to the
// walker at the cell where its knowledge ends, with the stacks exactly as
// the walker would have them there. Every value is pushed as a new cell,
// as eval_in_window leaves it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/interrupt.h"
#include "runtime/core/state.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/native.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/flow.h"
#include "runtime/eval/interpreter.h"

namespace kiv::interpreter::handover {

// The statements of `block` (a block cell of the code) from `from` on, in
// the current window: the last one's value becomes the newest cell.
// `from` lies before the block's tail.
Flow rest_of_block(const Cell& block, uint32_t from);

// The infix operators from `code` on, the newest cell being their left
// operand (none there leaves it as it is).
Flow operators_from(Code& code);

// A call of `callable`, named by `name` (its word), whose frame is marked
// (see mark_frame) and whose first `fetched` arguments are in its window:
// the rest fetched from `code`, the callable run, the frame popped, and the
// result pushed at stack cell `slot` (the callable's own cell for a prefix
// call, the left operand's for an operator). `infix` for an operator.
Flow finish_call(const Cell& callable, const Cell& name, bool infix, uint32_t slot, uint32_t fetched, Code& code);

// Marks the frame of a call of `callable` named by `name` (an operator's
// frame is its function's); the window starts at the argument top.
inline void mark_frame(const Cell& callable, const Cell& name) {
  const NodeId spec = callable.w2;  // every callable's spec block
  const TypeId type = cell::is(callable, TypeId::op) ? native::wrapped_type(callable) : cell::type_of(callable);
  if (type == TypeId::function || type == TypeId::routine)
    stack::mark_function(name, callable.w1, stack::frame::function | stack::frame::interpreter, spec);
  else
    stack::mark(name, stack::frame::native | stack::frame::interpreter, spec);
}

namespace detail {
extern Cell current_position;  // the expression being evaluated (a root)
}

// The position that errors report (see code_position), for the
// statements that compiled code starts.
inline Cell& position() { return detail::current_position; }

// Keeps the code position across a nested evaluation, whichever way it ends.
class PositionKept {
 public:
  PositionKept() : saved_(position()) {}
  ~PositionKept() { position() = saved_; }
  PositionKept(const PositionKept&) = delete;
  PositionKept& operator=(const PositionKept&) = delete;

 private:
  Cell saved_;
};

// Called when a word or path names it: any-function! but op!, which is
// called only infix.
inline bool is_prefix_callable(TypeId type) { return type_traits::is_any_function(type) && type != TypeId::op; }

// Whether a value evaluates to itself: all but paren!, any-word!,
// any-function! and any-path! (a refinement! or issue! is inert).
constexpr bool is_inert(TypeId type) {
  return type != TypeId::paren && !type_traits::is_any_word(type) && !type_traits::is_any_function(type) &&
         !type_traits::is_any_path(type);
}

// Machine stack kept for raising the stack-overflow error and handling it;
// the sanitizer build's frames are several times larger.
#ifdef KIV_SANITIZED
inline constexpr size_t stack_reserve = 1024 * 1024;
#else
inline constexpr size_t stack_reserve = 256 * 1024;
#endif

// Deep recursion ends in a catchable error long before the machine stack.
// Every block and call passes here, so a Ctrl-C is answered here too.
inline void check_machine_stack() {
  const auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  if (here < runtime::state.stack_low + stack_reserve && runtime::state.stack_high != 0)
    error::raise(error_id::internal::stack_overflow);
  interrupt::check();
}

// An operator's fast kind (operator_fast_path.h); learnt once per
// operator.
uint8_t fast_kind_of(const Cell& op);

// The argument kinds of a callable's spec, as its call fetches them: one
// per argument before the first refinement (return: entries left out),
// read from its spec. False when there are more than `capacity`.
enum class ArgumentKind : uint8_t { evaluated, get_word, lit_word };
bool argument_kinds(const Cell& callable, ArgumentKind* kinds, uint32_t capacity, uint32_t& count);

// What a call of a callable takes, from its argument cache: its count of
// arguments before the first refinement (return: entries left out), of
// /local cells (a function's flag and words) and of refinements.
struct CallEntries {
  uint32_t count;
  uint32_t locals;
  uint32_t refinements;
};
// `entries`, and the typeset of each of those arguments. False when the
// cache is not built yet or there are more than `capacity` arguments.
bool call_entries(const Cell& callable, Cell* typesets, uint32_t capacity, CallEntries& entries);

// Runs the body of `function`, whose frame is marked and whose window
// holds its arguments and locals; its value goes to the result slot.
Flow run_body(const Cell& function);

// Runs a native or action whose frame is marked and whose window holds
// its arguments, none of its refinements used; its value goes to the
// result slot.
Flow run_native(const Cell& callable);

}  // namespace kiv::interpreter::handover
