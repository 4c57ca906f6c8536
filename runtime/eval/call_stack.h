// The call stack: one frame per active call or catching construct.
//
// A frame records the word that named the call, the caller's argument base
// (restored when the frame is popped), and for functions the function's
// context with the values pointer it had before the call, so that a
// recursive call does not lose the outer call's locals. Exits search the
// frames by type: loops for break and continue, return targets for return
// and exit, catch frames for throw, try frames for errors.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/context.h"
#include "runtime/eval/flow.h"

namespace kiv::stack {

inline constexpr uint32_t call_frames = 12000;

namespace frame {
inline constexpr uint32_t function = 0x01000000;
inline constexpr uint32_t native = 0x02000000;
inline constexpr uint32_t try_ = 0x04000000;
inline constexpr uint32_t try_all = 0x05000000;  // a barrier: no exit but errors crosses it
inline constexpr uint32_t catch_ = 0x06000000;
inline constexpr uint32_t body = 0x07000000;
inline constexpr uint32_t loop = 0x08000000;
inline constexpr uint32_t type_mask = 0x0F000000;
inline constexpr uint32_t return_target = 0x10000000;
inline constexpr uint32_t interpreter = 0x80000000;
}  // namespace frame

struct CallFrame {
  uint32_t bits;          // frame type and flags
  uint32_t symbol;        // the naming word's symbol
  NodeId name_context;    // the naming word's context
  uint32_t saved_base;    // the caller's argument base
  NodeId function_context;
  uint32_t saved_values;  // that context's values pointer before the call
  NodeId callee_spec;     // the spec block of the function called, if any
};

void init_calls();

// The frames live in one fixed array; every call pushes and pops one, so
// the common operations are inline.
namespace detail {
inline CallFrame frames[call_frames];
inline uint32_t frame_count = 0;
[[noreturn]] void frames_overflow();
// Gives a function context back the values pointer it had before the call.
inline void restore_context(const CallFrame& frame) {
  if (frame.function_context == no_node) return;
  context::context_cell(frame.function_context).w2 = frame.saved_values;
}

inline void push_frame(const CallFrame& frame) {
  if (frame_count >= call_frames) [[unlikely]] frames_overflow();
  frames[frame_count++] = frame;
  ArgStack::set_base(ArgStack::depth());
}
}  // namespace detail

// Pushes a frame named by `name` (a word cell); the new call's window
// starts at the argument top. The interpreter's calls give the callee's
// spec block, which names its arguments in error messages.
inline void mark(const Cell& name, uint32_t bits, NodeId callee_spec = no_node) {
  detail::push_frame({bits, name.w2, name.w1, ArgStack::base_index(), no_node, 0, callee_spec});
}
// A function's frame: also records its context's values pointer.
inline void mark_function(const Cell& name, NodeId function_context, uint32_t bits, NodeId callee_spec = no_node) {
  const uint32_t saved = context::context_cell(function_context).w2;
  detail::push_frame({bits, name.w2, name.w1, ArgStack::base_index(), function_context, saved, callee_spec});
}

inline uint32_t call_depth() { return detail::frame_count; }
inline CallFrame& top_frame() { return detail::frames[detail::frame_count - 1]; }
inline CallFrame& frame_at(uint32_t depth) { return detail::frames[depth]; }

// Pops the top frame and gives back the caller's base; the argument top is
// the caller's to set.
inline void pop_frame() {
  const CallFrame& frame = detail::frames[--detail::frame_count];
  if (frame.function_context != no_node) detail::restore_context(frame);
  ArgStack::set_base(frame.saved_base);
}
// Pops the top frame; the callee's result (at its base) becomes the
// caller's newest cell.
inline void unwind() {
  const uint32_t result_top = ArgStack::base_index() + 1;
  pop_frame();
  ArgStack::drop_to(result_top);
}
// Pops the top frame; the callee's result becomes the caller's result.
inline void unwind_last() {
  const Cell result = *ArgStack::result();
  pop_frame();
  ArgStack::set_result_keep(result);
}
// Pops frames down to `depth` frames, restoring the function contexts of
// those it passes; the argument stack goes back to the result slot of the
// frame left on top, set to unset (or to the bottom).
void unroll_to(uint32_t depth);

// The word that named a call, bound where it was (so that scripts can read
// its value).
Cell frame_name(const CallFrame& frame);
// The word that names the nearest call (skipping `<body>` and `<anon>`
// frames), or `<not-found>`.
Cell caller_name();
// The word of parameter `n` (0-based; the words, lit-words, get-words and
// refinements of its spec counted in order) of the call that
// `caller_name` names: for argument errors ("add does not allow string!
// for its value1 argument"). none when that frame records no spec or the
// spec has no such parameter.
Cell caller_arg_word(uint32_t n);

// Non-local exits. Each finds its target frame, unwinds both stacks to it,
// places the value the target expects, leaves the exit's code pending and
// answers Flow::exit; with no target it raises the error that says so.
Flow throw_break(bool continue_loop, const Cell* value);
Flow throw_exit(bool with_value);
// The exit of `return value` made by code that pushed no frame for the
// call of return: the current frame may be the target. False, having
// changed nothing, when no frame is (the call then raises the error).
bool return_from_code(const Cell& value);
Flow throw_value(const Cell& value, const Cell& name);

// Marks (or unmarks) the top frame as the target of return and exit.
inline void set_return_target(bool on) {
  CallFrame& frame = detail::frames[detail::frame_count - 1];
  frame.bits = on ? frame.bits | frame::return_target : frame.bits & ~frame::return_target;
}

// Symbols of the frame names that traces skip.
uint32_t body_symbol();
uint32_t anon_symbol();

// Call traces of errors. A trace lists, from the bottom of the call stack
// up to (not including) frame `limit`, the frames that have a name other
// than `<body>` and `<anon>`: at `level` 1 or below only those whose name
// holds a function! in the context it is bound to, at 2 or more all of
// them.
//
// A trace keeps the innermost `trace_length` calls; when there were more
// (a runaway recursion), it starts with the word `...` in their place.
//
// The indexes of the frames a trace lists, `elided_frames` first when
// outer ones were left out. A function context's values are read from its
// call's window on the argument stack: an error's catcher that has cut the
// argument stack back may ask, but before it pushes anything. Never
// allocates.
inline constexpr uint32_t trace_length = 20;
inline constexpr uint32_t elided_frames = 0xFFFFFFFF;
std::vector<uint32_t> traced_frames(int32_t level, uint32_t limit);
// Appends the names of those frames to `block` as words (bound as the
// frames' names are). The frames must still be on the call stack. May
// collect.
void append_names(Val block, const std::vector<uint32_t>& traced);
// Writes the names of the frames a trace lists, each followed by a space,
// to `out` and answers the budget left. May collect.
int32_t form_calls(int32_t level, uint32_t limit, Val out, int32_t part);

// Appends to `block` the name of every active call (functions, natives,
// routines, actions), from the innermost down to the outermost, leaving
// out the innermost `skip` frames. May collect.
void append_active_calls(Val block, uint32_t skip);

// Calls named through the words of `context` are left out of traces and
// of the active calls: a console hides its own machinery (the calls that
// run every command) this way. The context must stay alive.
void hide_calls_of(NodeId context);

}  // namespace kiv::stack
