#include "runtime/eval/call_stack.h"

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/core/collector.h"
#include "runtime/core/cycle.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/exits.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/mold.h"

namespace kiv::stack {
namespace {

using detail::frames;
using detail::frame_count;
using detail::restore_context;

uint32_t g_body = 0;
uint32_t g_anon = 0;
uint32_t g_not_found = 0;

uint32_t type_of(const CallFrame& frame) { return frame.bits & frame::type_mask; }

std::vector<NodeId> g_hidden_contexts;

// A frame that traces leave out: a block's or an anonymous call's.
bool untraced(const CallFrame& frame) {
  return frame.symbol == g_body || frame.symbol == g_anon || frame.symbol == 0;
}

// The first of the frames below `limit` that traces may list: those above
// the innermost call named through a hidden context. What that machinery
// calls on its way goes with it: the call that started it, and the natives
// and calls made through function values (no name: a script's runner)
// through which it runs a command, up to the catch that the command runs
// in.
uint32_t trace_floor(uint32_t limit) {
  if (g_hidden_contexts.empty()) return 0;
  const uint32_t top = std::min(limit, frame_count);
  uint32_t floor = 0;
  for (uint32_t i = top; i-- > 0 && floor == 0;)
    for (const NodeId context : g_hidden_contexts)
      if (frames[i].name_context == context) floor = i + 1;
  if (floor == 0) return 0;
  uint32_t after_catch = floor;
  for (uint32_t i = floor; i < top && (type_of(frames[i]) != frame::function || untraced(frames[i])); ++i)
    if (type_of(frames[i]) == frame::catch_) after_catch = i + 1;
  return after_catch;
}

}  // namespace

void hide_calls_of(NodeId context) {
  for (const NodeId known : g_hidden_contexts)
    if (known == context) return;
  g_hidden_contexts.push_back(context);
}

namespace detail {
void frames_overflow() {
  ArgStack::drop_to(ArgStack::depth() >= 5 ? ArgStack::depth() - 5 : 0);
  cycle::reset();
  error::raise(error_id::internal::stack_overflow);
}

}  // namespace detail

namespace {
// The collector keeps what the frames name: the calls' words and function
// contexts, and the values a context had before its call (a node unless
// they live on the argument stack).
void mark_frames() {
  for (uint32_t i = 0; i < frame_count; ++i) {
    const CallFrame& frame = frames[i];
    collector::mark_node(frame.name_context);
    collector::mark_node(frame.function_context);
    collector::mark_node(frame.callee_spec);
    if (frame.function_context != no_node && frame.saved_values != 0 &&
        memory::is_live_node(frame.function_context) && !context::values_on_stack(frame.function_context))
      collector::mark_node(frame.saved_values);
  }
}
}  // namespace

void init_calls() {
  frame_count = 0;
  collector::register_marker(&mark_frames, "a call frame");
  g_body = symbol::make("<body>");
  g_anon = symbol::make("<anon>");
  g_not_found = symbol::make("<not-found>");
}

uint32_t body_symbol() { return g_body; }
uint32_t anon_symbol() { return g_anon; }

void unroll_to(uint32_t target_depth) {
  while (frame_count > target_depth) {
    const CallFrame& frame = frames[--frame_count];
    restore_context(frame);
    ArgStack::set_base(frame.saved_base);
  }
  if (frame_count == 0) {
    ArgStack::drop_to(0);
    return;
  }
  // The frame left on top keeps its result slot, which the unrolled code
  // may never have written: it starts again as unset, so that the
  // collector never reads a stale or empty cell there.
  ArgStack::set_result_keep(unset::make());
}

namespace {
// The frame of the nearest call that has a name of its own, or null.
const CallFrame* named_caller() {
  for (uint32_t i = frame_count; i-- > 0;) {
    const CallFrame& frame = frames[i];
    if (frame.symbol == g_body || frame.symbol == g_anon || frame.symbol == 0) continue;
    return &frame;
  }
  return nullptr;
}
}  // namespace

Cell frame_name(const CallFrame& frame) {
  const int32_t index =
      frame.name_context == no_node ? -1 : context::find_symbol(frame.name_context, frame.symbol, true);
  return word::make(TypeId::word, frame.name_context, frame.symbol,
                    index < 0 ? word::unresolved : static_cast<uint32_t>(index));
}

Cell caller_name() {
  const CallFrame* frame = named_caller();
  if (!frame) return word::make(TypeId::word, no_node, g_not_found, word::unresolved);
  return frame_name(*frame);
}

Cell caller_arg_word(uint32_t n) {
  const CallFrame* frame = named_caller();
  if (frame && frame->callee_spec != no_node) {
    const Cell spec = series::make(TypeId::block, frame->callee_spec);
    uint32_t seen = 0;
    for (uint32_t i = 0; i < block::count(spec); ++i) {
      const Cell item = *block::at(spec, i);
      const TypeId type = cell::type_of(item);
      if (!type_traits::is_argument_word(type) && type != TypeId::refinement) continue;
      if (seen++ == n) return item;
    }
  }
  return none::make();
}

namespace {

// Finds the nearest frame below frame `above` (by default the current
// one, the exit's own) that `accepts`; a try-all barrier on the way, or
// none at all, answers -1.
template <class Accepts>
int64_t find_target(Accepts accepts, uint32_t above = frame_count - 1) {
  for (uint32_t i = above; i-- > 0;) {
    const uint32_t type = type_of(frames[i]);
    if (accepts(frames[i])) return i;
    if (type == frame::try_all) return -1;
  }
  return -1;
}

// Unwinds everything above the target frame and empties its window; the
// exit's value goes into its result slot. The target's own base is the
// base saved by the frame just above it, or the current one when it is on
// top.
void land_at(uint32_t target, const Cell& result, uint32_t code) {
  const uint32_t base = target + 1 < frame_count ? frames[target + 1].saved_base : ArgStack::base_index();
  while (frame_count > target + 1) restore_context(frames[--frame_count]);
  ArgStack::set_base(base);
  ArgStack::set_result_keep(result);
  runtime::state.pending = code;
}

}  // namespace

Flow throw_break(bool continue_loop, const Cell* value) {
  const int64_t target = find_target([](const CallFrame& f) { return type_of(f) == frame::loop; });
  if (target < 0) error::raise(continue_loop ? error_id::throw_::continue_ : error_id::throw_::break_);
  const Cell result = value ? *value : unset::make();
  land_at(static_cast<uint32_t>(target), result, continue_loop ? exit_code::continue_loop : exit_code::break_loop);
  return Flow::exit;
}

namespace {
bool returns_here(const CallFrame& f) { return (f.bits & frame::return_target) != 0; }
}  // namespace

Flow throw_exit(bool with_value) {
  const int64_t target = find_target(returns_here);
  if (target < 0) error::raise(error_id::throw_::return_);
  const Cell result = with_value ? *ArgStack::result() : unset::make();
  land_at(static_cast<uint32_t>(target), result, with_value ? exit_code::return_value : exit_code::exit_function);
  return Flow::exit;
}

bool return_from_code(const Cell& value) {
  const int64_t target = find_target(returns_here, frame_count);
  if (target < 0) return false;
  const Cell result = value;
  land_at(static_cast<uint32_t>(target), result, exit_code::return_value);
  return true;
}

Flow throw_value(const Cell& value, const Cell& name) {
  const int64_t target = find_target([](const CallFrame& f) { return type_of(f) == frame::catch_; });
  if (target < 0) error::raise(error_id::throw_::throw_, value);
  const Cell thrown = value;
  const Cell thrown_name = name;
  land_at(static_cast<uint32_t>(target), thrown, exit_code::user_throw);
  ArgStack::push(thrown_name);
  return Flow::exit;
}

namespace {

// Whether the frame's name holds a function! where it is bound. A function
// context's values are read from its call's window on the argument stack.
bool names_a_function(const CallFrame& frame) {
  if (frame.name_context == no_node) return false;
  const int32_t index = context::find_symbol(frame.name_context, frame.symbol, true);
  if (index < 0) return false;
  const Cell* value = context::slot(frame.name_context, static_cast<uint32_t>(index));
  return value != nullptr && cell::is(*value, TypeId::function);
}

}  // namespace

std::vector<uint32_t> traced_frames(int32_t level, uint32_t limit) {
  std::vector<uint32_t> traced;
  for (uint32_t i = trace_floor(limit); i < std::min(limit, frame_count); ++i) {
    const CallFrame& frame = frames[i];
    if (untraced(frame)) continue;
    if (level <= 1 && !names_a_function(frame)) continue;
    traced.push_back(i);
  }
  if (traced.size() > trace_length) {
    traced.erase(traced.begin(), traced.end() - trace_length);
    traced.insert(traced.begin(), elided_frames);
  }
  return traced;
}

void append_names(Val block, const std::vector<uint32_t>& traced) {
  // The frames stay where they are while the block grows (nothing but
  // popping moves them), and they keep their names' contexts alive.
  for (uint32_t i : traced) {
    if (i == elided_frames) block::append(block, word::unbound("..."));
    else block::append(block, frame_name(frames[i]));
  }
}

int32_t form_calls(int32_t level, uint32_t limit, Val out, int32_t part) {
  for (uint32_t i : traced_frames(level, limit)) {
    // A copy: `out` may grow and move the symbol's text.
    const std::string name = i == elided_frames ? "..." : std::string(symbol::spelling(frames[i].symbol));
    part = mold::emit_utf8(out, name, part);
    part = mold::emit(out, " ", part);
  }
  return part;
}

void append_active_calls(Val block, uint32_t skip) {
  const uint32_t floor = trace_floor(frame_count);
  for (uint32_t i = frame_count > skip ? frame_count - skip : 0; i-- > floor;) {
    const uint32_t type = frames[i].bits & frame::type_mask;
    if (type != frame::function && type != frame::native) continue;
    if (untraced(frames[i])) continue;
    block::append(block, frame_name(frames[i]));
  }
}

}  // namespace kiv::stack
