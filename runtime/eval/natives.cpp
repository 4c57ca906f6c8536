#include "runtime/eval/natives.h"

#include <array>
#include <string_view>

#include "runtime/callbacks.h"
#include "runtime/core/collector.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/exits.h"
#include "runtime/core/memory.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/state.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/coordinates.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/compare.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/lexer.h"
#include "runtime/eval/native_args.h"
#include "runtime/eval/natives_math.h"
#include "runtime/eval/native_parse.h"
#include "runtime/eval/native_transcode.h"
#include "runtime/eval/natives_checksum.h"
#include "runtime/eval/natives_compare.h"
#include "runtime/eval/natives_process.h"
#include "runtime/eval/natives_system.h"
#include "runtime/eval/natives_words.h"
#include "runtime/eval/script.h"
#include "runtime/eval/trace.h"
#include "runtime/mold.h"
#include "runtime/os.h"
#include "runtime/ownership.h"
#include "runtime/unicode.h"

namespace kiv::natives {
namespace {

using stack::ArgStack;

// ---- the calling convention (native_args.h) ----

using native_args::answer;
using native_args::arg;
using native_args::refinement_arg;
using native_args::used;

Cell body_name() { return word::make(TypeId::word, no_node, stack::body_symbol(), word::unresolved); }

bool is_true(const Cell& value) { return logic::arg_true(value); }

// The value of a block evaluated into this call's result slot. The block
// runs in this call's window, above its arguments (which keep it rooted).
Flow run(const Cell& block) {
  KIV_PROPAGATE(interpreter::eval_in_window(block));
  ArgStack::set_result_keep(*ArgStack::last());
  return Flow::normal;
}

// One round of a loop's body (or its condition block), run like `run`. An
// exit that had to cross C++ code ends here as an ordinary exit, for the
// loop to see.
Flow run_round(const Cell& block) {
  try {
    return run(block);
  } catch (const Unwind& unwind) {
    return interpreter::exit_flow(unwind);
  }
}

// ---- conditionals ----

Flow native_if(const int32_t*) {
  if (!is_true(*arg(0))) return answer(none::make());
  return run(*arg(1));
}

Flow native_unless(const int32_t*) {
  if (is_true(*arg(0))) return answer(none::make());
  return run(*arg(1));
}

Flow native_either(const int32_t*) { return run(is_true(*arg(0)) ? *arg(1) : *arg(2)); }

// Evaluates the expressions of a block one by one; `each` sees each value
// and answers true to stop there.
template <class Each>
Flow each_expression(const Cell& block, Each each) {
  interpreter::Code code{series::node_of(block), series_type::head(block)};
  while (code.index < memory::buffer(code.block)->length()) {
    KIV_PROPAGATE(interpreter::eval_expression(code, interpreter::Into::new_cell));
    const Cell value = *ArgStack::last();
    stack::pop(1);
    if (each(value)) return Flow::normal;
  }
  return Flow::normal;
}

Flow native_any(const int32_t*) {
  Cell found = none::make();
  KIV_PROPAGATE(each_expression(*arg(0), [&](const Cell& value) {
    if (!logic::is_true(value)) return false;
    found = value;
    return true;
  }));
  return answer(found);
}

Flow native_all(const int32_t*) {
  Cell last = none::make();
  bool all_true = true;
  KIV_PROPAGATE(each_expression(*arg(0), [&](const Cell& value) {
    last = value;
    all_true = logic::is_true(value);
    return !all_true;
  }));
  return answer(all_true ? last : none::make());
}

enum class CaseRefinement { all };

Flow native_case(const int32_t* refinements) {
  const bool all = used(refinements, CaseRefinement::all);
  const Cell cases = *arg(0);
  interpreter::Code code{series::node_of(cases), series_type::head(cases)};
  const auto length = [&] { return memory::buffer(code.block)->length(); };
  Cell result = none::make();
  while (code.index < length()) {
    stack::mark(word::unbound("<anon>"), stack::frame::native | stack::frame::interpreter);
    KIV_PROPAGATE(interpreter::eval_expression(code, interpreter::Into::result_slot));
    const Cell condition = *ArgStack::result();
    stack::unwind();
    stack::pop(1);
    if (code.index >= length()) error::raise(error_id::script::need_value, condition);
    if (!logic::is_true(condition)) {
      ++code.index;  // skip the action unevaluated
      result = none::make();
      continue;
    }
    const Cell action = reinterpret_cast<const Cell*>(memory::buffer(code.block)->head_ptr())[code.index];
    if (cell::is(action, TypeId::block)) {
      ++code.index;
      KIV_PROPAGATE(interpreter::eval_block(action, false));
    } else {
      stack::mark(word::unbound("<anon>"), stack::frame::native | stack::frame::interpreter);
      KIV_PROPAGATE(interpreter::eval_expression(code, interpreter::Into::result_slot));
      stack::unwind();
    }
    result = *ArgStack::last();
    stack::pop(1);
    if (!all) break;
  }
  return answer(result);
}

enum class SwitchRefinement { default_ };

Flow native_switch(const int32_t* refinements) {
  const Cell value = *arg(0);
  const Cell cases = *arg(1);
  const uint32_t count = block::count(cases);
  for (uint32_t i = 0; i < count; ++i) {
    const Cell candidate = *block::at(cases, i);
    if (cell::is(candidate, TypeId::block) || !compare::test(candidate, value, CmpOp::equal)) continue;
    for (uint32_t k = i + 1; k < count; ++k) {
      const Cell body = *block::at(cases, k);
      if (cell::is(body, TypeId::block)) return run(body);
    }
    break;
  }
  if (used(refinements, SwitchRefinement::default_)) return run(*refinement_arg(refinements, SwitchRefinement::default_));
  return answer(none::make());
}

// ---- loops ----


Flow close_loop() {
  stack::unwind_last();
  return Flow::normal;
}

// Sets a loop's word: a global word in place, any other through its
// context's own rules (an object's on-change handler).
void store_loop_word(const Cell& name, const Cell& value) {
  if (context::set_direct(name, value)) return;
  Val item = ArgStack::push(value);
  Val target = ArgStack::push(name);
  context::set(target, item);
  stack::pop(2);
}

Flow native_loop(const int32_t*) {
  const int64_t count = loop_count(*arg(0));
  if (count < 1) return answer(none::make());
  const Cell body = *arg(1);
  open_loop();
  for (int64_t i = 0; i < count; ++i) {
    Round round;
    KIV_PROPAGATE(loop_round(run_round(body), &round));
    if (round == Round::stop) break;
  }
  return close_loop();
}

Flow native_repeat(const int32_t*) {
  Val word = arg(0);
  const int64_t count = loop_count(*arg(1));
  if (count < 1) return answer(none::make());
  const Cell body = *arg(2);
  const Cell name = *word;
  open_loop();
  for (int64_t i = 1; i <= count; ++i) {
    store_loop_word(name, Cell{cell::header(TypeId::integer), 0, static_cast<uint32_t>(i), 0});
    Round round;
    KIV_PROPAGATE(loop_round(run_round(body), &round));
    if (round == Round::stop) break;
  }
  return close_loop();
}

Flow native_forever(const int32_t*) {
  const Cell body = *arg(0);
  open_loop();
  for (;;) {
    Round round;
    KIV_PROPAGATE(loop_round(run_round(body), &round));
    if (round == Round::stop) break;
  }
  return close_loop();
}

Flow native_until(const int32_t*) {
  const Cell body = *arg(0);
  open_loop();
  for (;;) {
    const Flow flow = run_round(body);
    const bool continued = flow == Flow::exit && runtime::state.pending == exit_code::continue_loop;
    Round round;
    KIV_PROPAGATE(loop_round(flow, &round));
    if (round == Round::stop) break;
    if (continued) continue;
    if (logic::is_true(*ArgStack::result())) break;
  }
  return close_loop();
}

Flow native_while(const int32_t*) {
  const Cell condition = *arg(0);
  const Cell body = *arg(1);
  open_loop();
  for (;;) {
    const Flow flow = run_round(condition);
    if (flow == Flow::exit) {
      const uint32_t code = runtime::state.pending;
      if (code == exit_code::break_loop || code == exit_code::continue_loop) {
        runtime::state.pending = 0;
        error::raise(error_id::throw_::while_cond);
      }
      return Flow::exit;
    }
    if (!logic::is_true(*ArgStack::result())) break;
    Round round;
    KIV_PROPAGATE(loop_round(run_round(body), &round));
    if (round == Round::stop) break;
  }
  stack::unwind();
  stack::pop(1);
  return answer(unset::make());
}

// Sets the loop's word (or each word of its block) to the values of the
// series from `position` on; none past the tail.
void set_loop_words(const Cell& words, uint32_t width, const Cell& series, uint32_t position) {
  for (uint32_t k = 0; k < width; ++k) {
    const Cell name = cell::is(words, TypeId::block) ? *block::at(words, k) : words;
    if (!cell::is(name, TypeId::word)) error::raise(error_id::script::invalid_arg, name);
    const Cell value = position + k < series_type::total(series) ? series_type::unit_value(series, position + k)
                                                                  : none::make();
    store_loop_word(name, value);
  }
}

Flow native_foreach(const int32_t*) {
  const Cell words = *arg(0);
  const Cell series = *arg(1);
  const Cell body = *arg(2);
  const uint32_t width = cell::is(words, TypeId::block) ? block::count(words) : 1;
  if (width == 0) error::raise(error_id::script::invalid_arg, words);
  if (cell::is(series, TypeId::map)) {
    // The words take the keys and values of the live pairs in turn. The
    // map stays in its argument slot, below the loop's frame.
    const Val map_value = arg(1);
    open_loop();
    for (uint32_t position = 0; map::foreach_next(map_value, words, &position);) {
      Round round;
      KIV_PROPAGATE(loop_round(run_round(body), &round));
      if (round == Round::stop) break;
    }
    return close_loop();
  }
  open_loop();
  for (uint32_t position = series_type::head(series); position < series_type::total(series); position += width) {
    set_loop_words(words, width, series, position);
    Round round;
    KIV_PROPAGATE(loop_round(run_round(body), &round));
    if (round == Round::stop) break;
  }
  return close_loop();
}

Flow native_forall(const int32_t*) {
  const Cell name = *arg(0);
  const Cell body = *arg(1);
  const Cell original = *context::get(name);
  if (!type_traits::is_series(cell::type_of(original)))
    error::raise(error_id::script::expect_arg, word::unbound("forall"), datatype::make(cell::type_of(original)), name);
  open_loop();
  bool broke = false;
  while (true) {
    const Cell current = *context::get(name);
    if (series_type::head(current) >= series_type::total(current)) break;
    Round round;
    KIV_PROPAGATE(loop_round(run_round(body), &round));
    if (round == Round::stop) {
      broke = true;
      break;
    }
    Cell after = *context::get(name);
    if (series::node_of(after) != series::node_of(original)) error::raise(error_id::script::bad_loop_series, after);
    ++after.w1;
    *context::get(name) = after;
  }
  // A normal end puts the word back at the start; a break leaves it.
  if (!broke) *context::get(name) = original;
  return close_loop();
}

Flow native_remove_each(const int32_t*) {
  const Cell words = *arg(0);
  const Cell series = *arg(1);
  const Cell body = *arg(2);
  const uint32_t width = cell::is(words, TypeId::block) ? block::count(words) : 1;
  if (width == 0) error::raise(error_id::script::invalid_arg, words);
  open_loop();
  uint32_t position = series_type::head(series);
  while (position < series_type::total(series)) {
    set_loop_words(words, width, series, position);
    const Flow flow = run_round(body);
    const bool plain_end = flow == Flow::normal;
    Round round;
    KIV_PROPAGATE(loop_round(flow, &round));
    if (round == Round::stop) break;
    if (plain_end && logic::is_true(*ArgStack::result())) {
      const uint32_t count = std::min(width, series_type::total(series) - position);
      series_type::remove_units(series::node_of(series), position, count);
    } else {
      position += width;
    }
  }
  stack::unwind();
  stack::pop(1);
  return answer(series);
}

// ---- exits ----

enum class BreakRefinement { return_ };

Flow native_break(const int32_t* refinements) {
  const bool with_value = used(refinements, BreakRefinement::return_);
  const Cell value = with_value ? *refinement_arg(refinements, BreakRefinement::return_) : unset::make();
  return stack::throw_break(false, with_value ? &value : nullptr);
}

Flow native_continue(const int32_t*) { return stack::throw_break(true, nullptr); }
Flow native_exit(const int32_t*) { return stack::throw_exit(false); }
Flow native_return(const int32_t*) { return stack::throw_exit(true); }

// throw and catch: /name.
enum class NameRefinement { name };

Flow native_throw(const int32_t* refinements) {
  const Cell name =
      used(refinements, NameRefinement::name) ? *refinement_arg(refinements, NameRefinement::name) : unset::make();
  if (trace::tracing) [[unlikely]]
    trace::fire_at_code(trace::Event::throw_, interpreter::code_position(), *arg(0), none::make());
  return stack::throw_value(*arg(0), name);
}

bool name_matches(const Cell& wanted, const Cell& thrown) {
  if (!type_traits::is_all_word(cell::type_of(thrown))) return false;
  if (cell::is(wanted, TypeId::block)) {
    for (uint32_t i = 0; i < block::count(wanted); ++i) {
      const Cell item = *block::at(wanted, i);
      if (!type_traits::is_all_word(cell::type_of(item)))
        error::raise(error_id::script::invalid_refine_arg, word::unbound("name"), wanted);
      if (symbol::resolve(item.w2) == symbol::resolve(thrown.w2)) return true;
    }
    return false;
  }
  return symbol::resolve(wanted.w2) == symbol::resolve(thrown.w2);
}

Flow native_catch(const int32_t* refinements) {
  const Cell block = *arg(0);
  const bool by_name = used(refinements, NameRefinement::name);
  const Cell wanted = by_name ? *refinement_arg(refinements, NameRefinement::name) : none::make();
  stack::mark(body_name(), stack::frame::catch_);
  const Flow flow = interpreter::eval_block(block, true);
  if (flow == Flow::exit) {
    if (runtime::state.pending != exit_code::user_throw) return Flow::exit;
    // The thrown value and its name are the catch frame's first two cells.
    const Cell value = *ArgStack::result();
    const Cell name = *ArgStack::at(ArgStack::base_index() + 1);
    if (by_name && !name_matches(wanted, name)) {
      runtime::state.pending = 0;
      return stack::throw_value(value, name);
    }
    runtime::state.pending = 0;
    ArgStack::set_result_keep(value);
    if (trace::tracing) [[unlikely]]
      trace::fire_at_code(trace::Event::catch_, interpreter::code_position(), value, none::make());
  }
  stack::unwind_last();
  return Flow::normal;
}

enum class TryRefinement { all, keep };

// try/keep: the error keeps the trace of the calls it was raised in, taken
// before they are unrolled.
Flow native_try(const int32_t* refinements) {
  const Cell block = *arg(0);
  const bool all = used(refinements, TryRefinement::all);
  const bool keep = used(refinements, TryRefinement::keep);
  const uint32_t depth = stack::call_depth();
  stack::mark(word::unbound("try"), all ? stack::frame::try_all : stack::frame::try_);
  const uint32_t own_cells = ArgStack::depth();  // the try frame's window starts here
  try {
    KIV_PROPAGATE(interpreter::eval_block(block, true));
  } catch (const Unwind& unwind) {
    if (unwind.code != exit_code::error) throw;
    runtime::state.pending = 0;
    const Cell kept = keep ? error_value::make_from_pending_with_trace(own_cells) : Cell{};
    stack::unroll_to(depth + 1);  // back to the try frame
    ArgStack::set_result_keep(keep ? kept : error_value::make_from_pending());
  }
  stack::unwind_last();
  return Flow::normal;
}

// ---- evaluation ----

// do/next: evaluates the expression of `code` (a block) at its index and
// sets `position` to the block after it; at the tail there is none, the
// value is unset and the position stays.
Flow do_next(const Cell& code, Val position) {
  uint32_t index = std::min(series::index_of(code), memory::buffer(series::node_of(code))->length());
  Cell value = unset::make();
  if (index < memory::buffer(series::node_of(code))->length()) {
    KIV_PROPAGATE(interpreter::eval_next(code, index));
    value = *ArgStack::last();
  }
  Cell after = code;
  after.w1 = index;
  Val rest = ArgStack::push(after);
  context::set(position, rest);
  return answer(value);
}

enum class DoRefinement { expand, args, next, trace };

// A script file or URL runs through the library's do-file, in a frame of
// its own, with no trace callback and the /args value (none without it).
Flow do_script(const Cell& source, const Cell& script_args) {
  const Cell name = word::intern("do-file");
  const Cell runner = *context::get(name);
  if (!cell::is(runner, TypeId::function)) error::raise(error_id::script::no_value, name);
  const uint32_t depth = stack::depth();
  Val function = ArgStack::push(runner);
  Val file = ArgStack::push(source);
  Val none_value = ArgStack::push(none::make());
  Val given = ArgStack::push(script_args);
  const Cell arguments[] = {*file, *none_value, *given};
  stack::mark_function(name, function->w1, stack::frame::function);
  interpreter::push_arguments(*function, arguments);
  if (interpreter::call_function(*function) != Flow::normal) runtime::throw_pending();
  const Cell result = *ArgStack::result();
  stack::pop_frame();
  stack::drop_to(depth);
  return answer(result);
}

// The library's preprocessor rewrites `code` in place (its directives and
// macros expanded), called as preprocessor/expand with none as the job, in
// a function frame named `expand`.
void expand_directives(const Cell& code) {
  const Cell owner = word::intern("preprocessor");
  const Cell preprocessor = *context::get(owner);
  const Cell expander =
      cell::is(preprocessor, TypeId::object) ? object::select_value(preprocessor, symbol::make("expand")) : none::make();
  if (!cell::is(expander, TypeId::function)) error::raise(error_id::script::no_value, owner);
  const uint32_t depth = stack::depth();
  Val function = ArgStack::push(expander);
  Val block = ArgStack::push(code);
  Val job = ArgStack::push(none::make());
  const Cell arguments[] = {*block, *job};
  stack::mark_function(word::intern("expand"), function->w1, stack::frame::function);
  interpreter::push_arguments(*function, arguments);
  if (interpreter::call_function(*function) != Flow::normal) runtime::throw_pending();
  stack::pop_frame();
  stack::drop_to(depth);
}

// do: /next steps through code held in a block or a string; any other
// value is one expression already, evaluated whole. With /expand, code in
// a block or a string goes through the preprocessor first.
Flow do_value(const int32_t* refinements) {
  const Cell value = *arg(0);
  const TypeId type = cell::type_of(value);
  const bool next = used(refinements, DoRefinement::next);
  const bool expand = used(refinements, DoRefinement::expand);
  if (type_traits::is_any_list(type)) {
    if (expand && (type == TypeId::block || type == TypeId::paren)) expand_directives(value);
    return next ? do_next(value, refinement_arg(refinements, DoRefinement::next)) : run(value);
  }
  switch (type) {
    case TypeId::string: {
      const std::string text = string::to_utf8(value);
      Val code = lexer::scan(text);
      if (expand) expand_directives(*code);
      return next ? do_next(*code, refinement_arg(refinements, DoRefinement::next)) : run(*code);
    }
    case TypeId::file:
    case TypeId::url:
      return do_script(value, used(refinements, DoRefinement::args) ? *refinement_arg(refinements, DoRefinement::args)
                                                                     : none::make());
    case TypeId::error:
      error_value::fire(value);
    default: {
      Val code_block = block::push_new(1);
      block::append(code_block, value);
      return run(*code_block);
    }
  }
}

// do/trace: the evaluation runs under the tracer (unless a trace is
// running already, when it runs as it is).
Flow native_do(const int32_t* refinements) {
  if (!used(refinements, DoRefinement::trace)) return do_value(refinements);
  const Cell tracer = *refinement_arg(refinements, DoRefinement::trace);
  return trace::run(tracer, *arg(0), [&] { return do_value(refinements); });
}

// ---- case ----

enum class ChangeCaseRefinement { part };

// uppercase and lowercase: a char! is mapped; a string is changed in place
// from its index, up to a /part limit (a count, or a position in the same
// string), and its owner, if any, hears of the change once it is done.
template <bool upper>
Flow native_change_case(const int32_t* refinements) {
  Val value = arg(0);
  if (cell::is(*value, TypeId::char_)) {
    value->w2 = upper ? unicode::to_upper(value->w2) : unicode::to_lower(value->w2);
    return answer(*value);
  }
  const NodeId node = series::node_of(*value);
  const uint32_t tail = memory::buffer(node)->length();
  const uint32_t head = std::min(series::index_of(*value), tail);
  int64_t count = tail - head;
  if (used(refinements, ChangeCaseRefinement::part)) {
    const Cell limit = *refinement_arg(refinements, ChangeCaseRefinement::part);
    if (cell::is(limit, TypeId::integer)) {
      count = std::min<int64_t>(count, cell::get_int32(limit));
    } else if (type_traits::is_any_string(cell::type_of(limit)) && series::node_of(limit) == node) {
      count = std::min<int64_t>(count, int64_t{series::index_of(limit)} - head);
    } else {
      error::raise(error_id::script::invalid_refine_arg,
                   word::make(TypeId::refinement, no_node, symbol::make("part"), word::unresolved), limit);
    }
  }
  if (count <= 0) return answer(*value);
  const auto changed = static_cast<uint32_t>(count);
  if (upper) unicode::uppercase(node, head, changed);
  else unicode::lowercase(node, head, changed);
  ownership::notify(*value, upper ? ownership::Change::uppercase : ownership::Change::lowercase, true, none::make(),
                    head, changed);
  return answer(*value);
}

// ---- output and environment ----

// Prints the formed value through the output hooks; a block is reduced
// first.
Flow print_value(bool newline) {
  if (cell::is(*arg(0), TypeId::block)) KIV_PROPAGATE(reduce_first_argument());  // the result replaces it
  Val out = string::push_new(16);
  mold::form_value(arg(0), out, 1 << 30);
  callbacks::run_first(*out, newline);
  runtime::state.last_lf = newline;
  return answer(unset::make());
}

Flow native_print(const int32_t*) { return print_value(true); }
Flow native_prin(const int32_t*) { return print_value(false); }

// wait value: sleeps for a number of seconds (integer! or float!) or a
// time!, at least a millisecond. /all would gather the events of every
// port waited on; a wait for a duration has none, so it changes nothing.
Flow native_wait(const int32_t*) {
  const Cell value = *arg(0);
  double seconds = 0;
  switch (cell::type_of(value)) {
    case TypeId::integer: seconds = cell::get_int32(value); break;
    case TypeId::float_:
    case TypeId::time: seconds = cell::get_double(value); break;
    default: error::raise(error_id::script::invalid_arg, value);
  }
  os::sleep(seconds);
  return answer(none::make());
}

// A count of bytes: an integer!, or a float! past its range.
Cell byte_count(size_t bytes) {
  if (bytes <= 0x7FFFFFFF) return integer::make(static_cast<int32_t>(bytes));
  Cell big{cell::header(TypeId::float_), 0, 0, 0};
  cell::set_double(big, static_cast<double>(bytes));
  return big;
}

// Appends to `block` a new block of `values`, marked to start a line.
void append_line_block(Val block, std::initializer_list<size_t> values) {
  Val line = block::push_new(static_cast<uint32_t>(values.size()));
  for (const size_t value : values) block::append(line, byte_count(value));
  line->header |= cell::new_line_flag;
  block::append(block, *line);
  stack::pop(1);
}

// The memory manager's statistics, as `stats/info` answers them: a block
// of the node frames ([free used total] nodes each), the series frames
// ([free used total] bytes each), the sizes of the big buffers, then the
// bytes taken from the system and those of the C heap. The figures are
// taken before the block is built, so its own allocations do not count.
Cell memory_statistics() {
  const memory::Usage use = memory::usage();
  Val stats = block::push_new(5);
  Val group = block::push_new(static_cast<uint32_t>(use.node_frames.size()));
  for (const memory::NodeFrameUse& frame : use.node_frames)
    append_line_block(group, {frame.free_nodes, frame.used_nodes, frame.node_count});
  group->header |= cell::new_line_flag;
  block::append(stats, *group);
  *group = block::make_new(static_cast<uint32_t>(use.series_frames.size()));
  for (const memory::SeriesFrameUse& frame : use.series_frames)
    append_line_block(group, {frame.free_bytes, frame.used_bytes, frame.total_bytes});
  group->header |= cell::new_line_flag;
  block::append(stats, *group);
  *group = block::make_new(static_cast<uint32_t>(use.big_buffers.size()));
  for (const size_t bytes : use.big_buffers) {
    Cell size = byte_count(bytes);
    size.header |= cell::new_line_flag;
    block::append(group, size);
  }
  group->header |= cell::new_line_flag;
  block::append(stats, *group);
  block::append(stats, byte_count(use.system_bytes));
  block::append(stats, byte_count(use.c_heap_bytes));
  const Cell made = *stats;
  stack::pop(2);
  return made;
}

// Hands the statistics to the library's show-memory-stats, in a frame of
// that name. Without that function there is nothing to show them with:
// an unset word raises script/no-value, any other value script/expect-val.
void show_memory_statistics() {
  const Cell name = word::intern("show-memory-stats");
  const Cell shower = *context::get(name);
  if (cell::is(shower, TypeId::unset)) error::raise(error_id::script::no_value, name);
  if (!cell::is(shower, TypeId::function))
    error::raise(error_id::script::expect_val, datatype::make(TypeId::function), datatype::make(cell::type_of(shower)));
  const uint32_t depth = stack::depth();
  Val function = ArgStack::push(shower);
  Val data = ArgStack::push(memory_statistics());
  const Cell arguments[] = {*data};
  stack::mark_function(name, function->w1, stack::frame::function);
  interpreter::push_arguments(*function, arguments);
  if (interpreter::call_function(*function) != Flow::normal) runtime::throw_pending();
  stack::pop_frame();
  stack::drop_to(depth);
}

// stats: the bytes in use; /info the statistics block; /show prints it
// through the library.
enum class StatsRefinement { show, info };

Flow native_stats(const int32_t* refinements) {
  using enum StatsRefinement;
  if (used(refinements, show)) {
    show_memory_statistics();
    return answer(unset::make());
  }
  if (used(refinements, info)) return answer(memory_statistics());
  return answer(byte_count(memory::in_use_bytes()));
}

// /on and /off switch the collector; with neither, one collection runs and
// the result is the bytes still in use, as `stats` gives them.
enum class RecycleRefinement { on, off };

Flow native_recycle(const int32_t* refinements) {
  using enum RecycleRefinement;
  if (used(refinements, on) || used(refinements, off)) {
    runtime::state.collector_on = used(refinements, on);
    return answer(unset::make());
  }
  collector::collect();
  return answer(byte_count(memory::in_use_bytes()));
}

// An environment variable's name: the text of a string type or the
// spelling of a word. The system cannot hold a name that is empty or has
// "=" or NUL in it: such a name is an invalid argument.
std::string env_name(const Cell& name) {
  std::string text = type_traits::is_any_word(cell::type_of(name)) ? std::string(symbol::spelling(name.w2)) : string::to_utf8(name);
  if (text.empty() || text.find_first_of(std::string_view("=\0", 2)) != std::string::npos)
    error::raise(error_id::script::invalid_arg, name);
  return text;
}

Flow native_get_env(const int32_t*) {
  const auto value = os::get_env(env_name(*arg(0)).c_str());
  if (!value) return answer(none::make());
  Val text = string::push_new(static_cast<uint32_t>(value->size()));
  string::append_utf8(text, *value);
  return answer(*text);
}

// A value with NUL in it cannot be stored whole: it is refused rather than
// cut short. A failure of the system is an error too, never a silent no-op.
Flow native_set_env(const int32_t*) {
  const std::string name = env_name(*arg(0));
  bool stored = false;
  if (cell::is(*arg(1), TypeId::none)) {
    stored = os::set_env(name.c_str(), nullptr);
  } else {
    const std::string value = string::to_utf8(*arg(1));
    if (value.find('\0') != std::string::npos) error::raise(error_id::script::invalid_arg, *arg(1));
    stored = os::set_env(name.c_str(), value.c_str());
  }
  if (!stored) error::raise(error_id::script::invalid_arg, *arg(0));
  return answer(*arg(1));
}


// An as-pair argument: an integer, or a float truncated toward zero (one
// with no 32-bit truncation raises script/invalid-arg).
int32_t pair_component(uint32_t index) {
  const Cell given = *arg(index);
  if (cell::is(given, TypeId::integer)) return integer::get(given);
  const double number = cell::get_double(given);
  if (!coordinates::fits_int32(number)) error::raise(error_id::script::invalid_arg, given);
  return static_cast<int32_t>(number);
}

Flow native_as_pair(const int32_t*) { return answer(pair::make(pair_component(0), pair_component(1))); }

Flow native_as_point2d(const int32_t*) {
  return answer(point::make2(point::number_to_float32(*arg(0)), point::number_to_float32(*arg(1))));
}

Flow native_as_point3d(const int32_t*) {
  return answer(point::make3(point::number_to_float32(*arg(0)), point::number_to_float32(*arg(1)),
                             point::number_to_float32(*arg(2))));
}

// The natives in table order; words without an entry yet are skipped.
struct NativeSpec {
  std::string_view name;
  std::string_view spec;
  native::Entry entry;
};

const std::array<NativeSpec, 107> table = {{
    {"if", R"~("If conditional expression is truthy, evaluate block; else return NONE" cond [any-type!] then-blk [block!])~", native_if},
    {"unless", R"~("If conditional expression is falsy, evaluate block; else return NONE" cond [any-type!] then-blk [block!])~", native_unless},
    {"either", R"~("If conditional expression is truthy, evaluate the first branch; else evaluate the alternative" cond [any-type!] true-blk [block!] false-blk [block!])~", native_either},
    {"any", R"~("Evaluates and returns the first truthy value, if any; else NONE" conds [block!])~", native_any},
    {"all", R"~("Evaluates and returns the last value if all are truthy; else NONE" conds [block!])~", native_all},
    {"while", R"~("Evaluates body as long as condition block evaluates to truthy value" cond [block!] body [block!])~", native_while},
    {"until", R"~("Evaluates body until it is truthy" body [block!])~", native_until},
    {"loop", R"~("Evaluates body a number of times" count [integer! float!] body [block!])~", native_loop},
    {"repeat", R"~("Evaluates body a number of times, tracking iteration count" 'word [word!] value [integer! float!] body [block!])~", native_repeat},
    {"forever", R"~("Evaluates body repeatedly forever" body [block!])~", native_forever},
    {"foreach", R"~("Evaluates body for each value in a series" 'word [word! block!] series [series! map!] body [block!])~", native_foreach},
    {"forall", R"~("Evaluates body for all values in a series" 'word [word!] body [block!])~", native_forall},
    {"remove-each", R"~("Removes values for each block that returns truthy value" 'word [word! block!] data [series!] body [block!])~", native_remove_each},
    {"func", R"~("Defines a function with a given spec and body" spec [block!] body [block!])~", native_func},
    {"function", R"~("Defines a function, making all set-words found in body, local" spec [block!] body [block!] /extern)~", native_function},
    {"does", R"~("Defines a function with no arguments or local variables" body [block!])~", native_does},
    {"has", R"~("Defines a function with local variables, but no arguments" vars [block!] body [block!])~", native_has},
    {"switch", R"~("Evaluates the first block following the value found in cases" value [any-type!] cases [block!] /default case [block!])~", native_switch},
    {"case", R"~("Evaluates the block following the first truthy condition" cases [block!] /all)~", native_case},
    {"do", R"~("Evaluates a value, returning the last evaluation result" value [any-type!] /expand /args arg /next position [word!] /trace callback [function!])~", native_do},
    {"get", R"~("Returns the value a word refers to" word [any-word! any-path! object!] /any /case return: [any-type!])~", native_get},
    {"set", R"~("Sets the value(s) one or more words refer to" word [any-word! block! object! any-path!] value [any-type!] /any /case /only /some return: [any-type!])~", native_set},
    {"print", R"~("Outputs a value followed by a newline" value [any-type!])~", native_print},
    {"prin", R"~("Outputs a value" value [any-type!])~", native_prin},
    {"equal?", R"~("Returns TRUE if two values are equal" value1 [any-type!] value2 [any-type!])~", native_compare<CmpOp::equal>},
    {"not-equal?", R"~("Returns TRUE if two values are not equal" value1 [any-type!] value2 [any-type!])~", native_compare<CmpOp::not_equal>},
    {"strict-equal?", R"~("Returns TRUE if two values are equal, and also the same datatype" value1 [any-type!] value2 [any-type!])~", native_compare<CmpOp::strict_equal>},
    {"lesser?", R"~("Returns TRUE if the first value is less than the second" value1 [any-type!] value2 [any-type!])~", native_compare<CmpOp::lesser>},
    {"greater?", R"~("Returns TRUE if the first value is greater than the second" value1 [any-type!] value2 [any-type!])~", native_compare<CmpOp::greater>},
    {"lesser-or-equal?", R"~("Returns TRUE if the first value is less than or equal to the second" value1 [any-type!] value2 [any-type!])~", native_compare<CmpOp::lesser_or_equal>},
    {"greater-or-equal?", R"~("Returns TRUE if the first value is greater than or equal to the second" value1 [any-type!] value2 [any-type!])~", native_compare<CmpOp::greater_or_equal>},
    {"same?", R"~("Returns TRUE if two values have the same identity" value1 [any-type!] value2 [any-type!])~", native_same_q},
    {"not", R"~("Returns the logical complement of a value (truthy or falsy)" value [any-type!])~", native_not},
    {"type?", R"~("Returns the datatype of a value" value [any-type!] /word)~", native_type_q},
    {"reduce", R"~("Returns a copy of a block, evaluating all expressions" value [any-type!] /into "Put results in out block, instead of creating a new block" out [any-block!])~", native_reduce},
    {"compose", R"~("Returns a copy of a block, evaluating only parens" value [block!] /deep /only /into "Put results in out block, instead of creating a new block" out [any-block!])~", native_compose},
    {"stats", R"~("Returns interpreter statistics" /show /info return: [integer! block!])~", native_stats},
    {"bind", R"~("Bind words to a context; returns rebound words" word [block! any-word!] context [any-word! any-object! function!] /copy return: [block! any-word!])~", native_bind},
    {"in", R"~("Returns the given word bound to the object's context" object [any-object! any-function!] word [any-word! refinement!])~", native_in},
    {"parse", R"~("Process a series using dialected grammar rules" input [binary! any-block! any-string!] rules [block!] /case /part length [number! series!] /trace callback [function!] return: [logic! block!])~", native_parse},
    {"union", R"~("Returns the union of two data sets" set1 [block! hash! string! bitset! typeset!] set2 [block! hash! string! bitset! typeset!] /case /skip size [integer!] return: [block! hash! string! bitset! typeset!])~", native_set_operation<typeset::SetOp::union_>},
    {"intersect", R"~("Returns the intersection of two data sets" set1 [block! hash! string! bitset! typeset!] set2 [block! hash! string! bitset! typeset!] /case /skip size [integer!] return: [block! hash! string! bitset! typeset!])~", native_set_operation<typeset::SetOp::intersect>},
    {"unique", R"~("Returns the data set with duplicates removed" set [block! hash! string!] /case /skip size [integer!] return: [block! hash! string!])~", native_set_operation<typeset::SetOp::unique>},
    {"difference", R"~("Returns the special difference of two data sets" set1 [block! hash! string! bitset! typeset! date!] set2 [block! hash! string! bitset! typeset! date!] /case /skip size [integer!] return: [block! hash! string! bitset! typeset! time!])~", native_set_operation<typeset::SetOp::difference>},
    {"exclude", R"~("Returns the first data set less the second data set" set1 [block! hash! string! bitset! typeset!] set2 [block! hash! string! bitset! typeset!] /case /skip size [integer!] return: [block! hash! string! bitset! typeset!])~", native_set_operation<typeset::SetOp::exclude>},
    {"complement?", R"~("Returns TRUE if the bitset is complemented" bits [bitset!])~", native_complement_q},
    {"dehex", R"~("Converts URL-style hex encoded (%xx) strings" value [any-string!] return: [string!])~", native_dehex},
    {"enhex", R"~("Encode URL-style hex encoded (%xx) strings" value [any-string!] return: [string!])~", native_enhex},
    {"negative?", R"~("Returns TRUE if the number is negative" number [number! money! time!] return: [logic!])~", native_negative_q},
    {"positive?", R"~("Returns TRUE if the number is positive" number [number! money! time!] return: [logic!])~", native_positive_q},
    {"max", R"~("Returns the greater of the two values" value1 [scalar! series!] value2 [scalar! series!])~", native_max},
    {"min", R"~("Returns the lesser of the two values" value1 [scalar! series!] value2 [scalar! series!])~", native_min},
    {"shift", R"~("Perform a bit shift operation. Right shift (decreasing) by default" data [integer!] bits [integer!] /left /logical return: [integer!])~", native_shift},
    {"to-hex", R"~("Converts numeric value to a hex issue! datatype (with leading # and 0's)" value [integer!] /size length [integer!] return: [issue!])~", native_to_hex},
    {"sine", R"~("Returns the trigonometric sine" angle [float! integer!] /radians return: [float!])~", native_sine},
    {"cosine", R"~("Returns the trigonometric cosine" angle [float! integer!] /radians return: [float!])~", native_cosine},
    {"tangent", R"~("Returns the trigonometric tangent" angle [float! integer!] /radians return: [float!])~", native_tangent},
    {"arcsine", R"~("Returns the trigonometric arcsine in degrees in range [-90,90]" sine [float! integer!] /radians return: [float!])~", native_arcsine},
    {"arccosine", R"~("Returns the trigonometric arccosine in degrees in range [0,180]" cosine [float! integer!] /radians return: [float!])~", native_arccosine},
    {"arctangent", R"~("Returns the trigonometric arctangent in degrees in range [-90,90]" tangent [float! integer!] /radians return: [float!])~", native_arctangent},
    {"arctangent2", R"~("Returns the smallest angle between the vectors (1,0) and (x,y) in degrees (-180,180]" y [float! integer!] x [float! integer!] /radians return: [float!])~", native_arctangent2},
    {"NaN?", R"~("Returns TRUE if the number is Not-a-Number" value [number!] return: [logic!])~", native_nan_q},
    {"log-2", R"~("Return the base-2 logarithm" value [float! integer! percent!] return: [float!])~", native_log_2},
    {"log-10", R"~("Returns the base-10 logarithm" value [float! integer! percent!] return: [float!])~", native_log_10},
    {"log-e", R"~("Returns the natural (base-E) logarithm of the given value" value [float! integer! percent!] return: [float!])~", native_log_e},
    {"exp", R"~("Raises E (the base of natural logarithm) to the power specified" value [float! integer! percent!] return: [float!])~", native_exp},
    {"square-root", R"~("Returns the square root of a number" value [float! integer! percent!] return: [float!])~", native_square_root},
    {"construct", R"~("Makes a new object from an unevaluated spec; standard logic words are evaluated" block [block!] /with object [object!] /only)~", native_construct},
    {"value?", R"~("Returns TRUE if the word has a value" value [word!] return: [logic!])~", native_value_q},
    {"try", R"~("Tries to DO a block and returns its value or an error" block [block!] /all /keep)~", native_try},
    {"uppercase", R"~("Converts string of characters to uppercase" string [any-string! char!] /part limit [number! any-string!] return: [any-string! char!])~", native_change_case<true>},
    {"lowercase", R"~("Converts string of characters to lowercase" string [any-string! char!] /part limit [number! any-string!] return: [any-string! char!])~", native_change_case<false>},
    {"as-pair", R"~("Combine X and Y values into a pair" x [integer! float!] y [integer! float!])~", native_as_pair},
    {"as-point2D", R"~("Combine X and Y values into a 2D point" x [integer! float!] y [integer! float!])~", native_as_point2d},
    {"as-point3D", R"~("Combine X, Y and Z values into a 3D point" x [integer! float!] y [integer! float!] z [integer! float!])~", native_as_point3d},
    {"as-money", R"~("Combine currency code and amount into a monetary value" currency [word!] amount [integer! float!] return: [money!])~", native_as_money},
    {"break", R"~("Breaks out of a loop, while, until, repeat, foreach, etc" /return value [any-type!])~", native_break},
    {"continue", R"~("Throws control back to top of loop")~", native_continue},
    {"exit", R"~("Exits a function, returning no value")~", native_exit},
    {"return", R"~("Returns a value from a function" value [any-type!])~", native_return},
    {"throw", R"~("Throws control back to a previous catch" value [any-type!] /name word [word!])~", native_throw},
    {"catch", R"~("Catches a throw from a block and returns its value" block [block!] "Block to evaluate" /name word [word! block!])~", native_catch},
    {"extend", R"~("Extend an object or map value with list of key and value pairs" obj [object! map!] spec [block! hash! map!] /case)~", native_extend},
    {"debase", R"~("Decodes binary-coded string (BASE-64 default) to binary value" value [string!] /base base-value [integer!])~", native_debase},
    {"to-local-file", R"~("Converts a Kiv file path to the local system file path" path [file! string!] /full return: [string!])~", native_to_local_file},
    {"wait", R"~("Waits for a duration in seconds or specified time" value [number! time! block! none!] /all)~", native_wait},
    {"checksum", R"~("Computes a checksum, CRC, hash, or HMAC" data [binary! string! file!] method [word!] /with spec [any-string! binary! integer!] return: [integer! binary!])~", native_checksum},
    {"unset", R"~("Unsets the value of a word in its current context" word [word! block!])~", native_unset},
    {"new-line", R"~("Sets or clears the new-line marker within a list series" position [any-list!] value [logic!] /all /skip size [integer!] return: [any-list!])~", native_new_line},
    {"new-line?", R"~("Returns the state of the new-line marker within a list series" position [any-list!] return: [logic!])~", native_new_line_q},
    {"enbase", R"~("Encodes a string into a binary-coded string (BASE-64 default)" value [binary! string!] /base base-value [integer!])~", native_enbase},
    {"context?", R"~("Returns the context to which a word is bound" word [any-word!] return: [object! function! none!])~", native_context_q},
    {"set-env", R"~("Sets the value of an operating system environment variable (for current process)" var [any-string! any-word!] value [string! none!])~", native_set_env},
    {"get-env", R"~("Returns the value of an OS environment variable (for current process)" var [any-string! any-word!] return: [string! none!])~", native_get_env},
    {"list-env", R"~("Returns a map of OS environment variables (for current process)" return: [map!])~", native_list_env},
    {"now", R"~("Returns date and time" /year /month /day /time /zone /date /weekday /yearday /precise /utc return: [date! time! integer!])~", native_now},
    {"sign?", R"~("Returns sign of N as 1, 0, or -1 (to use as a multiplier)" number [number! money! time!] return: [integer!])~", native_sign_q},
    {"as", R"~("Coerce a series into a compatible datatype without copying it" type [datatype! block! paren! any-path! any-string!] spec [block! paren! any-path! any-string!])~", native_as},
    {"call", R"~("Executes a shell command to run another process" cmd [string! file!] /wait /show /console /shell /input in [string! file! binary!] /output out [string! file! binary!] /error err [string! file! binary!] return: [integer!])~", native_call},
    {"zero?", R"~("Returns TRUE if the value is zero" value [number! money! pair! time! char! tuple! any-point!] return: [logic!])~", native_zero_q},
    {"size?", R"~("Returns the size of a file content" file [file!] return: [integer! none!])~", native_size_q},
    {"browse", R"~("Opens the URL in a web browser or the file in the associated application" url [url! file!])~", native_browse},
    {"compress", R"~("Compresses data" data [any-string! binary!] method [word!] "zlib, deflate or gzip" return: [binary!])~", native_compress},
    {"decompress", R"~("Decompresses data" data [binary!] method [word!] "zlib, deflate or gzip" /size sz [integer!] return: [binary!])~", native_decompress},
    {"recycle", R"~("Recycles unused memory and returns memory amount still in use" /on /off return: [integer! unset!])~", native_recycle},
    {"transcode", R"~("Translates UTF-8 binary source to values. Returns one or several values in a block" src [binary! string!] /next /one /prescan /scan /part length [integer! binary!] /into dst [block!] /trace callback [function! routine!] return: [block!])~", native_transcode},
    {"apply", R"~("Apply a function to a reduced block of arguments" func [word! path! any-function!] args [block!] /all /safer)~", native_apply},
}};

}  // namespace

Flow loop_round(Flow flow, Round* round) {
  *round = Round::next;
  if (flow == Flow::normal) return Flow::normal;
  const uint32_t code = runtime::state.pending;
  if (code == exit_code::break_loop) {
    runtime::state.pending = 0;
    *round = Round::stop;
    return Flow::normal;
  }
  if (code == exit_code::continue_loop) {
    runtime::state.pending = 0;
    return Flow::normal;
  }
  return Flow::exit;
}

void open_loop() {
  stack::mark(body_name(), stack::frame::loop);
  ArgStack::set_result_keep(unset::make());
}

int64_t loop_count(const Cell& count) {
  if (cell::is(count, TypeId::float_)) return static_cast<int64_t>(cell::get_double(count));
  return cell::get_int32(count);
}

native::Entry entry(uint32_t index) {
  if (index < 1 || index > table.size()) return nullptr;
  return table[index - 1].entry;
}

std::string_view spec_text(uint32_t index) {
  if (index < 1 || index > table.size() || !table[index - 1].entry) return {};
  return table[index - 1].spec;
}

uint32_t count() { return static_cast<uint32_t>(table.size()); }

std::optional<CmpOp> comparison_of(uint32_t index) {
  const native::Entry found = entry(index);
  for (const CmpOp op : {CmpOp::equal, CmpOp::not_equal, CmpOp::strict_equal, CmpOp::lesser, CmpOp::lesser_or_equal,
                         CmpOp::greater, CmpOp::greater_or_equal})
    if (found != nullptr && found == comparison_entry(op)) return op;
  return std::nullopt;
}

Condition condition_of(uint32_t index) {
  const native::Entry found = entry(index);  // null matches none of them
  if (found == native_all) return Condition::all;
  if (found == native_any) return Condition::any;
  if (found == native_if) return Condition::if_;
  if (found == native_unless) return Condition::unless;
  if (found == native_either) return Condition::either;
  if (found == native_loop) return Condition::loop;
  if (found == native_while) return Condition::while_;
  if (found == native_reduce) return Condition::reduce;
  if (found == native_return) return Condition::return_;
  return Condition::other;
}

bool reads_only(uint32_t index) {
  static constexpr std::string_view readers[] = {
      "if",    "either", "unless", "all",     "any",    "case",  "switch", "loop",  "while", "until",
      "forever", "do",   "catch",  "try",     "attempt", "print", "prin",  "probe", "not",   "type?",
      "equal?", "not-equal?", "strict-equal?", "same?", "lesser?", "greater?", "lesser-or-equal?",
      "greater-or-equal?", "length?", "mold", "form"};
  if (index < 1 || index > table.size()) return false;
  const std::string_view name = table[index - 1].name;
  for (const std::string_view reader : readers)
    if (name == reader) return true;
  return false;
}

void init() {
  for (uint32_t i = 0; i < table.size(); ++i)
    if (table[i].entry) native::define(TypeId::native, i + 1, table[i].name, table[i].spec);
}

}  // namespace kiv::natives
