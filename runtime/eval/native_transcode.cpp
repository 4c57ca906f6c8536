// The `transcode` native: text to values through the lexer, and the adapter
// that lets a Kiv function follow the lexer's events (/trace).
#include "runtime/eval/native_transcode.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "runtime/core/error_raise.h"
#include "runtime/core/exits.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/trace.h"
#include "runtime/eval/lexer.h"

namespace kiv::natives {
namespace {

using stack::ArgStack;

constexpr std::array<std::string_view, 6> event_names = {"prescan", "scan", "load", "open", "close", "error"};

// The events a callback wants: the words of a block that begins its body,
// else all of them (a routine has no body block: all of them).
uint32_t event_mask(const Cell& callback) {
  const Cell body = function::metadata(callback, function::meta::body);
  if (!cell::is(body, TypeId::block) || block::count(body) == 0) return lexer::all_events;
  const Cell first = *block::at(body, 0);
  if (!cell::is(first, TypeId::block)) return lexer::all_events;
  uint32_t mask = 0;
  for (uint32_t i = 0; i < block::count(first); ++i) {
    const Cell item = *block::at(first, i);
    if (!cell::is(item, TypeId::word)) continue;
    const std::string_view name = symbol::spelling(item.w2);
    for (size_t e = 0; e < event_names.size(); ++e)
      if (symbol::equal_caseless(name, event_names[e])) mask |= 1u << e;
  }
  return mask;
}

// The `type` argument of a callback: a datatype, the name of a kind that
// makes no value by itself, or none.
Cell event_type(int32_t type) {
  if (type > 0) return datatype::make(static_cast<TypeId>(type));
  if (type < 0) return word::unbound(lexer::kind_name(static_cast<lexer::Kind>(-type - 1)));
  return none::make();
}

// Runs the function or routine `callback` for one lexer event: pushes its
// arguments (event, input, type, line, token; refinements off, locals
// none) under a <lexer-callback> frame and moves `input` when the function
// moved its input argument. Exits leave it as an Unwind.
bool call_back(const Cell& callback, const Cell& source, const lexer::EventInfo& info, int64_t& input) {
  const uint32_t depth = stack::depth();
  trace::CallbackScope traced(trace::callback::lexer, callback, trace::Announce::yes);
  stack::mark_function(word::unbound("<lexer-callback>"), callback.w1, stack::frame::function);
  const uint32_t base = ArgStack::base_index();
  const uint32_t start = series::index_of(source);
  Cell position = source;
  position.w1 = start + static_cast<uint32_t>(input);
  const Cell token = info.event == lexer::Event::load
                         ? info.value
                         : Cell{cell::header(TypeId::pair), 0, static_cast<uint32_t>(info.token_start + 1),
                                static_cast<uint32_t>(info.token_end + 1)};
  const Cell args[] = {word::unbound(event_names[static_cast<size_t>(info.event)]), position, event_type(info.type),
                       integer::make(info.line), token};
  const size_t next = interpreter::push_arguments(callback, args);
  const bool takes_input = next >= 2;
  const Flow flow = cell::is(callback, TypeId::routine) ? routine::body_of(callback)() : interpreter::call_function(callback);
  if (flow != Flow::normal) runtime::throw_pending();
  // The body's frame is gone but the argument cells are left as it ended.
  const Cell moved = takes_input ? *ArgStack::at(base + 1) : position;
  const Cell answer = *ArgStack::result();
  stack::pop_frame();
  stack::drop_to(depth);
  traced.returned(answer);
  if (cell::type_of(moved) == cell::type_of(source) && series::node_of(moved) == series::node_of(source) &&
      moved.w1 != position.w1)
    input = static_cast<int64_t>(moved.w1) - start;
  return !cell::is(answer, TypeId::none) && !(cell::is(answer, TypeId::logic) && answer.w1 == 0);
}

// The /part limit in source units from the source's index.
int64_t part_limit(const Cell& source, const Cell& length) {
  if (cell::is(length, TypeId::integer)) return std::max<int64_t>(cell::get_int32(length), 0);
  if (cell::type_of(length) != cell::type_of(source) || series::node_of(length) != series::node_of(source))
    error::raise(error_id::script::not_same_type);
  return std::max<int64_t>(int64_t{series::index_of(length)} - series::index_of(source), 0);
}

}  // namespace

Flow native_transcode(const int32_t* refinements) {
  const auto used = [&](int index) { return refinements[index] != -1; };
  const auto refinement_arg = [&](int index) {
    return *ArgStack::at(ArgStack::base_index() + static_cast<uint32_t>(refinements[index]));
  };
  enum { next = 0, one, prescan, scan, part, into, trace };
  const Cell source = *ArgStack::at(ArgStack::base_index());
  const int64_t limit = used(part) ? part_limit(source, refinement_arg(part)) : -1;

  lexer::Options options;
  options.mode = used(prescan) ? lexer::Mode::prescan : used(scan) ? lexer::Mode::scan : lexer::Mode::load;
  options.one = used(next) || used(one) || options.mode != lexer::Mode::load;
  options.wrap = !used(one) || used(next);
  Val out = stack::push(none::make());
  if (used(into) && options.mode == lexer::Mode::load) {
    *out = refinement_arg(into);
    options.into = true;
  }
  lexer::Callback callback;
  if (used(trace)) {
    const Cell function = refinement_arg(trace);
    callback.mask = event_mask(function);
    callback.handler = [function, source](const lexer::EventInfo& info, int64_t& input) {
      return call_back(function, source, info, input);
    };
    options.callback = &callback;
  }

  lexer::Result result;
  try {
    result = lexer::scan_series(out, source, limit, options);
  } catch (const Unwind& unwind) {
    return interpreter::exit_flow(unwind);  // an exit out of the callback
  }
  if (!used(next)) {
    const Cell value = *out;
    ArgStack::set_result_keep(value);
    return Flow::normal;
  }
  // /next: the value (or the type) and the source after it.
  Cell after = source;
  after.w1 = series::index_of(source) + static_cast<uint32_t>(result.consumed);
  if (options.mode != lexer::Mode::load || options.into || !cell::is(*out, TypeId::block)) {
    const Cell first = *out;
    *out = block::make_new(2);
    block::append(out, first);
  }
  block::append(out, after);
  const Cell value = *out;
  ArgStack::set_result_keep(value);
  return Flow::normal;
}

}  // namespace kiv::natives
