// Evaluation trace: `do/trace` runs code under a tracer, a function that
// the interpreter calls at each step of the evaluation.
//
// The tracer is called with six arguments:
//   event   a word naming the step (the words of `Event` below)
//   code    the block, paren or path concerned, at its head, or none
//   offset  the position in `code` (an index from its head) of what the
//           event concerns: the value fetched or pushed, the set-word, the
//           callable's word, path or operator (open, call, return), the
//           statement's start (expr), the block's own index (enter, exit);
//           -1 for none
//   value   the value concerned, or none
//   ref     for set, prolog, epilog, call and return: the set-word or
//           set-path, or what named the call (a word, a path, or the
//           function itself for a call of a function value); else none
//   frame   a pair! of the argument stack's base and top (cell indexes)
// The first element of the tracer's spec, when it is a non-empty block of
// words, names the events it wants (other words count for nothing); without
// one, the first value of its body may name them the same way (a block of
// words naming at least one event); otherwise it receives every event.
//
// The state is process-wide. Two flags are read on the evaluator's hot
// paths, each by one well-predicted test: `tracing` (events fire only
// while it is set) and `active` (a do/trace is running: function bodies
// then honour their trace, no-trace and library flags). All the work is
// out of line, here.
//
// The tracer's own evaluation is never traced: the switch is off while it
// runs. An exit that the tracer leaves (an error, a throw, a break) goes on
// from the point where the event fired, as a thrown `Unwind`, and tracing
// stays off for the rest of the do/trace.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/exits.h"
#include "runtime/eval/flow.h"

namespace kiv::trace {

enum class Event : uint32_t {
  init = 1,        // do/trace starts
  end = 2,         // it ends (whichever way)
  prolog = 4,      // an interpreted function's body starts
  epilog = 8,      // it ends
  enter = 16,      // a block, paren or path starts being evaluated
  exit = 32,       // it ends
  open = 64,       // a call begins, before its arguments
  return_ = 128,   // a call ends
  fetch = 256,     // a value is taken from the code
  push = 512,      // a value is pushed as a result or an argument
  set = 1024,      // a set-word or set-path has set its value
  call = 2048,     // the arguments are complete, the callable runs
  error = 4096,    // an error is raised
  throw_ = 8192,   // `throw` is evaluated
  catch_ = 16384,  // `catch` has caught a throw
  expr = 32768,    // a statement of a block has been evaluated
};

// The mask of a tracer that names no events.
inline constexpr uint32_t every_event = 0x1FFFF;

// Events fire only while this is set.
inline bool tracing = false;
// Set while a do/trace runs.
inline bool active = false;

// Start-up: the event words, the tracer's root, the error hook.
void init();

// The events a tracer asks for (see above).
uint32_t mask_of(const Cell& tracer);

// Calls the tracer for `event` when the event is in its mask. May run Kiv
// code and collect; the cells are copied first. An exit left by the
// tracer is thrown (tracing then stays off).
[[gnu::noinline]] void fire(Event event, const Cell& code, int32_t offset, const Cell& value, const Cell& ref);

// `fire` at the position a block value holds (its index): the code
// position of errors and of the throw and catch events. An unset position
// (outside any evaluation) gives none and -1.
void fire_at_code(Event event, const Cell& position, const Cell& value, const Cell& ref);

// `fire` for the whole of a block, paren or path (enter, exit): at its own
// index.
void fire_for_block(Event event, const Cell& block, const Cell& value);

// The switch as a script last set it (`set_switch`), and a count of those
// settings, so that function bodies left afterwards keep it.
inline bool switch_set_to = false;
inline uint32_t switch_settings = 0;

// Sets the switch from a script: on only while a trace runs. It stays so
// after the function bodies that were running when it was set.
void set_switch(bool on);

// A function body's trace switch, set for the body and restored
// afterwards (only while `active`): off for a library function and for
// one flagged no-trace, on for one flagged trace (but never inside the
// tracer). A script that set the switch meanwhile has the last word.
class BodySwitch {
 public:
  explicit BodySwitch(uint32_t function_header);
  ~BodySwitch() { tracing = settings_ == switch_settings ? saved_ : switch_set_to; }
  BodySwitch(const BodySwitch&) = delete;
  BodySwitch& operator=(const BodySwitch&) = delete;

 private:
  bool saved_;
  uint32_t settings_ = switch_settings;
};

// Kinds of callback that C++ code runs (sort comparators, change handlers,
// lexer callbacks...): the bits of `system/state/callbacks/bits` that let
// them be traced.
namespace callback {
inline constexpr uint32_t lexer = 1;
inline constexpr uint32_t parse = 2;
inline constexpr uint32_t sort = 4;
inline constexpr uint32_t change = 8;
inline constexpr uint32_t deep_change = 16;
inline constexpr uint32_t port = 32;
}  // namespace callback

// Around a callback run by C++ code while tracing: the callback runs
// untraced unless `system/state/callbacks/bits` shares a bit with `kind`.
// A traced callback run without events of its own (call_function) gets
// its call and return events here (`Announce::yes`); one called through
// `interpreter::apply` has its call's events already.
enum class Announce : bool { no, yes };
class CallbackScope {
 public:
  CallbackScope(uint32_t kind, const Cell& function, Announce announce) : saved_(tracing) {
    if (tracing) [[unlikely]] start(kind, function, announce);
  }
  ~CallbackScope() { tracing = saved_; }
  CallbackScope(const CallbackScope&) = delete;
  CallbackScope& operator=(const CallbackScope&) = delete;
  // The return event, once the callback has given its result.
  void returned(const Cell& result) {
    if (announced_ && tracing) fire(Event::return_, none_cell(), -1, result, function_);
  }

 private:
  void start(uint32_t kind, const Cell& function, Announce announce);
  static Cell none_cell() { return Cell{cell::header(TypeId::none), 0, 0, 0}; }
  bool saved_;
  bool announced_ = false;
  Cell function_{};
};

// One do/trace: installs the tracer and fires init; `end` fires end and
// the destructor clears the state on every way out. A do/trace inside
// traced code changes nothing (`started` is false).
class Session {
 public:
  Session(const Cell& tracer, const Cell& code);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  bool started() const { return started_; }
  // After the evaluation: the end event, with its result when it ended
  // normally; an exit in progress (pending, or thrown: call it from the
  // handler) is kept across the tracer's call.
  Flow end(Flow flow);
  void end_after_unwind();

 private:
  void clear();
  bool started_ = false;
};

// Runs `body` (answering a Flow) under `tracer`, for do/trace.
template <class Body>
Flow run(const Cell& tracer, const Cell& code, Body&& body) {
  Session session(tracer, code);
  if (!session.started()) return body();
  Flow flow = Flow::normal;
  try {
    flow = body();
  } catch (const Unwind&) {
    session.end_after_unwind();
    throw;
  }
  return session.end(flow);
}

}  // namespace kiv::trace
