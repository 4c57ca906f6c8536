#include "runtime/eval/trace.h"

#include <optional>

#include <array>
#include <string_view>

#include "runtime/core/error_raise.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/state.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/compiled_blocks.h"
#include "runtime/eval/interpreter.h"

namespace kiv::trace {
namespace {

using stack::ArgStack;

constexpr std::array<std::string_view, 16> event_names = {
    "init", "end",  "prolog", "epilog", "enter", "exit",  "open",  "return",
    "fetch", "push", "set",    "call",   "error", "throw", "catch", "expr",
};

// The event words, by bit number; global words, kept by the root block.
std::array<Cell, event_names.size()> g_event_words{};
Cell g_tracer{};          // the installed tracer, none when there is none
uint32_t g_mask = 0;      // the events it asked for
uint32_t g_in_tracer = 0; // how many tracer calls are running
Cell g_callback_name{};   // names the tracer's frame: <interp-callback>

// Symbols of the path system/state/callbacks/bits.
uint32_t g_system = 0;
uint32_t g_state = 0;
uint32_t g_callbacks = 0;
uint32_t g_bits = 0;

// A block, paren or path, at its head (`offset` counts from there).
bool is_code(const Cell& value) { return type_traits::is_any_block(cell::type_of(value)); }
Cell at_head(const Cell& code) {
  Cell head = code;
  head.w1 = 0;
  cell::clear_new_line(head);
  return head;
}

Cell event_word(Event event) { return g_event_words[static_cast<uint32_t>(__builtin_ctz(static_cast<uint32_t>(event)))]; }

// Counts a running tracer call; the tracer's 0x400 flag cannot switch
// tracing on inside it.
class InTracer {
 public:
  InTracer() { ++g_in_tracer; }
  ~InTracer() { --g_in_tracer; }
  InTracer(const InTracer&) = delete;
  InTracer& operator=(const InTracer&) = delete;
};

// The field `symbol` of an object value, or none.
Cell field(const Cell& object, uint32_t symbol) {
  if (!cell::is(object, TypeId::object)) return none::make();
  return object::select_value(object, symbol);
}

// system/state/callbacks/bits, or 0 when any step of it is missing. Reads
// only: never raises, never allocates.
uint32_t callback_bits() {
  const int32_t index = context::find_symbol(context::global(), g_system, true);
  if (index < 0) return 0;
  const Cell* system = context::slot(context::global(), static_cast<uint32_t>(index));
  if (!system) return 0;
  const Cell bits = field(field(field(*system, g_state), g_callbacks), g_bits);
  return cell::is(bits, TypeId::integer) ? bits.w2 : 0;
}

// Fires `event` with the exit in progress kept: the pending code is set
// aside while the tracer runs, and for an error, the error's record too
// (its cells stay rooted on the stack as the error! value meanwhile).
void fire_keeping_exit(Event event) {
  const uint32_t code = runtime::state.pending;
  if (code != exit_code::error) {
    runtime::state.pending = exit_code::none;
    fire(event, none::make(), -1, none::make(), none::make());
    runtime::state.pending = code;
    return;
  }
  const error::Pending saved = error::pending();
  const uint32_t depth = ArgStack::depth();
  tracing = false;  // as in on_error_raised
  ArgStack::push(error_value::make_from_pending());
  tracing = true;
  runtime::state.pending = exit_code::none;
  fire(event, none::make(), -1, none::make(), none::make());
  ArgStack::drop_to(depth);
  error::restore_pending(saved);
  runtime::state.pending = code;
}

// error/raise's hook: the error event, with the error! value.
void on_error_raised() {
  if (!tracing || (g_mask & static_cast<uint32_t>(Event::error)) == 0) return;
  const uint32_t depth = ArgStack::depth();
  // An error while the event is prepared (a full stack) must not come
  // back here: it leaves tracing off, as the tracer's own errors do.
  tracing = false;
  Val value = ArgStack::push(error_value::make_from_pending());
  tracing = true;
  fire_at_code(Event::error, error::pending().near, *value, none::make());
  ArgStack::drop_to(depth);
}

}  // namespace

void init() {
  for (size_t i = 0; i < event_names.size(); ++i) g_event_words[i] = word::intern(event_names[i]);
  g_callback_name = word::make(TypeId::word, no_node, symbol::make("<interp-callback>"), word::unresolved);
  g_system = symbol::make("system");
  g_state = symbol::make("state");
  g_callbacks = symbol::make("callbacks");
  g_bits = symbol::make("bits");
  g_tracer = none::make();
  roots::add_permanent(&g_tracer);
  g_mask = 0;
  g_in_tracer = 0;
  tracing = false;
  active = false;
  error::set_raise_hook(&on_error_raised);
}

namespace {

// The events named by a block of words (other words count for nothing), or
// nothing when `block` is not a non-empty block of words.
std::optional<uint32_t> events_named(const Cell& block) {
  if (!cell::is(block, TypeId::block) || block::count(block) == 0) return std::nullopt;
  uint32_t mask = 0;
  for (uint32_t i = 0; i < block::count(block); ++i) {
    const Cell item = *block::at(block, i);
    if (!cell::is(item, TypeId::word)) return std::nullopt;
    for (size_t e = 0; e < event_names.size(); ++e)
      if (symbol::resolve(item.w2) == symbol::resolve(g_event_words[e].w2)) mask |= 1u << e;
  }
  return mask;
}

// The first value of a block, or none when it is empty or not a block.
Cell first_of(const Cell& block) {
  if (!cell::is(block, TypeId::block) || block::count(block) == 0) return none::make();
  return *block::at(block, 0);
}

}  // namespace

// The events a tracer names at the head of its spec (an attribute block),
// or else at the head of its body, where the library's own tracers write
// them (a statement that evaluates to nothing).
uint32_t mask_of(const Cell& tracer) {
  if (const auto mask = events_named(first_of(series::make(TypeId::block, tracer.w2)))) return *mask;
  if (cell::is(tracer, TypeId::function)) {
    const auto mask = events_named(first_of(function::metadata(tracer, function::meta::body)));
    if (mask && *mask != 0) return *mask;
  }
  return every_event;
}

void fire(Event event, const Cell& code, int32_t offset, const Cell& value, const Cell& ref) {
  // The switch is tested again: code that began while tracing (the rest of
  // an expression) may go on after it was switched off.
  if (!tracing || (g_mask & static_cast<uint32_t>(event)) == 0) return;
  // Off first: nothing from here on (a frame overflow, the tracer's own
  // code) fires events.
  tracing = false;
  const Cell args[] = {
      event_word(event), code, integer::make(offset), value, ref,
      Cell{cell::header(TypeId::pair), 0, ArgStack::base_index(), ArgStack::depth()},
  };
  const uint32_t depth = ArgStack::depth();
  const Cell tracer = g_tracer;
  stack::mark_function(g_callback_name, tracer.w1, stack::frame::function, tracer.w2);
  interpreter::push_arguments(tracer, args);
  Flow flow = Flow::normal;
  {
    InTracer running;
    flow = interpreter::call_function(tracer);
  }
  // An exit the tracer leaves goes on from here, with tracing left off.
  if (flow != Flow::normal) runtime::throw_pending();
  tracing = true;
  stack::pop_frame();
  ArgStack::drop_to(depth);
}

void fire_at_code(Event event, const Cell& position, const Cell& value, const Cell& ref) {
  const bool known = is_code(position);
  fire(event, known ? at_head(position) : none::make(), known ? static_cast<int32_t>(position.w1) : -1, value, ref);
}

void fire_for_block(Event event, const Cell& block, const Cell& value) {
  fire(event, at_head(block), static_cast<int32_t>(block.w1), value, none::make());
}

void set_switch(bool on) {
  // The tracer's own code runs untraced, and the switch is set again when
  // it returns: a setting made there would only outlive it by mistake.
  if (g_in_tracer > 0) return;
  switch_set_to = on && active;
  tracing = switch_set_to;
  ++switch_settings;
  // Compiled code running now hands the rest of its work to the walker.
  if (tracing) compiled::code_may_change();
}

BodySwitch::BodySwitch(uint32_t function_header) : saved_(tracing) {
  if ((function_header & (function::flag_library | function::flag_no_trace)) != 0) tracing = false;
  else if ((function_header & function::flag_trace) != 0 && g_in_tracer == 0) tracing = true;
  if (tracing && !saved_) compiled::code_may_change();
}

void CallbackScope::start(uint32_t kind, const Cell& function, Announce announce) {
  if ((callback_bits() & kind) == 0) {
    tracing = false;
    return;
  }
  if (announce == Announce::no) return;
  announced_ = true;
  function_ = function;
  fire(Event::call, none::make(), -1, function, function);
}

Session::Session(const Cell& tracer, const Cell& code) {
  if (active) return;
  g_tracer = tracer;
  g_mask = mask_of(tracer);
  active = true;
  tracing = true;
  started_ = true;
  try {
    fire_at_code(Event::init, code, none::make(), none::make());
  } catch (const Unwind&) {
    clear();
    throw;
  }
}

Session::~Session() { clear(); }

void Session::clear() {
  if (!started_) return;
  started_ = false;
  g_tracer = none::make();
  g_mask = 0;
  active = false;
  tracing = false;
}

Flow Session::end(Flow flow) {
  if (!tracing) return flow;
  if (flow == Flow::normal) fire(Event::end, none::make(), -1, *ArgStack::result(), none::make());
  else fire_keeping_exit(Event::end);
  return flow;
}

void Session::end_after_unwind() {
  if (tracing) fire_keeping_exit(Event::end);
}

}  // namespace kiv::trace
