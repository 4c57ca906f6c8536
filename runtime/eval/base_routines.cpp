#include "runtime/eval/base_routines.h"

#include <cstdlib>
#include <string_view>

#include "runtime/console_output.h"
#include "runtime/core/collector.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/state.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/error_catalog.h"
#include "runtime/eval/base_routines_system.h"
#include "runtime/datatypes/unset.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/native_args.h"
#include "runtime/eval/natives_math.h"
#include "runtime/eval/trace.h"

namespace kiv::base_routines {
namespace {

using native_args::answer;
using native_args::arg;

// ---- the process ----

// Ends the process at once with the status, without freeing memory. Exit
// statuses are 8 bits: -2 ends with 254.
Flow quit_return() {
  const int32_t status = integer::get(*arg(0));
  output::flush();
  std::exit(status & 0xFF);
}

// ---- quiet stores: no change handler, no ownership event ----

Flow set_quiet() {
  Val word = arg(0);
  if (!type_traits::is_in(cell::type_of(*word), type_traits::Family::any_word))
    error::raise(error_id::script::expect_arg, word::unbound("set-quiet"), datatype::make(cell::type_of(*word)), word::unbound("word"));
  Val value = arg(1);
  if (word->w1 == no_node) error::raise(error_id::script::not_defined, *word);
  context::store_word(word, value, word->w1, false);
  return answer(*value);
}

Flow set_slot_quiet() {
  Val series = arg(0);
  if (!type_traits::is_in(cell::type_of(*series), type_traits::Family::any_block))
    error::raise(error_id::script::expect_arg, word::unbound("set-slot-quiet"), datatype::make(cell::type_of(*series)),
                 word::unbound("series"));
  if (series_type::length(*series) > 0) *block::at(*series, 0) = *arg(1);
  return answer(*arg(1));
}

// ---- bits ----

Flow shift_with(natives::Shift direction) {
  return answer(integer::make(natives::shift_bits(integer::get(*arg(0)), integer::get(*arg(1)), direction)));
}
Flow shift_right() { return shift_with(natives::Shift::right); }
Flow shift_left() { return shift_with(natives::Shift::left); }
Flow shift_logical() { return shift_with(natives::Shift::logical); }

// ---- tuples ----

// A tuple! of the bytes, laid out as the lexer makes them: the byte count
// in the header, the bytes from w1 on.
Cell make_tuple(std::initializer_list<uint8_t> bytes) {
  Cell tuple{cell::header(TypeId::tuple) | (static_cast<uint32_t>(bytes.size()) << 19), 0, 0, 0};
  auto* out = reinterpret_cast<uint8_t*>(&tuple.w1);
  for (const uint8_t byte : bytes) *out++ = byte;
  return tuple;
}

// The integer arguments, the first negative one refused.
void check_not_negative(uint32_t count) {
  for (uint32_t i = 0; i < count; ++i)
    if (integer::get(*arg(i)) < 0) error::raise(error_id::script::invalid_arg, *arg(i));
}

uint8_t low_byte(uint32_t index) { return static_cast<uint8_t>(integer::get(*arg(index)) & 0xFF); }

Flow as_color() {
  check_not_negative(3);
  return answer(make_tuple({low_byte(0), low_byte(1), low_byte(2)}));
}

// a + b << 8 + c << 16 + d << 24 with no masking: a byte above 255 carries
// into the next one (and off the top at 32 bits).
Flow as_ipv4() {
  check_not_negative(4);
  uint32_t sum = 0;
  for (uint32_t i = 0; i < 4; ++i) sum += static_cast<uint32_t>(integer::get(*arg(i))) << (8 * i);
  return answer(make_tuple({static_cast<uint8_t>(sum), static_cast<uint8_t>(sum >> 8),
                            static_cast<uint8_t>(sum >> 16), static_cast<uint8_t>(sum >> 24)}));
}

// ---- the stacks ----

Flow stack_size_q() { return answer(integer::make(static_cast<int32_t>(stack::depth()))); }

// Cell `idx` of the argument stack counted from 1 at the bottom, when
// 0 < idx < stack-size?.
Flow pick_stack() {
  const int32_t index = integer::get(*arg(0));
  if (index <= 0 || static_cast<uint32_t>(index) >= stack::depth()) return answer(none::make());
  return answer(*stack::ArgStack::at(static_cast<uint32_t>(index) - 1));
}

// The base of the call that runs this routine's caller: the routine's own
// frame saved it.
Flow frame_index_q() {
  const uint32_t depth = stack::call_depth();
  const uint32_t base = depth > 0 ? stack::top_frame().saved_base : stack::ArgStack::base_index();
  return answer(integer::make(static_cast<int32_t>(base)));
}

Flow collect_calls() {
  Val block = arg(0);
  stack::append_active_calls(block, 1);
  return answer(*block);
}

// Whether a trace runs: the switch itself is off inside the library's own
// functions, which is where this is asked.
Flow tracing_q() { return answer(logic::make(trace::active)); }

// `trace on/off` from a script: tracing switched on (only while a trace
// runs) or off from here on, past the function bodies it was asked in.
Flow set_tracing() {
  trace::set_switch(logic::is_true(*arg(0)));
  return answer(unset::make());
}
Flow last_lf_q() { return answer(logic::make(runtime::state.last_lf)); }

// ---- the collector ----

Flow gc_active_q() { return answer(logic::make(runtime::state.collector_on)); }
Flow gc_cycles() {
  const auto count = collector::stats().collections;
  return answer(integer::make(static_cast<int32_t>(count & 0x7FFFFFFF)));
}

// ---- start-up only: reached through `builtin`, which the loader unsets ----

// The registered routine named by the word.
Flow builtin() {
  const Cell name = *arg(0);
  const std::string spelling(symbol::spelling(name.w2));
  if (!routine::push_value(spelling)) error::raise(error_id::script::invalid_arg, name);
  return answer(*stack::last());
}

// The command line as the system gave it: a block of strings, the
// program's path first.
Flow command_line() {
  Val block = block::push_new(static_cast<uint32_t>(runtime::state.argc) + 1);
  for (int i = 0; i < runtime::state.argc; ++i) {
    Val text = string::push_new(16);
    string::append_utf8(text, runtime::state.argv[i]);
    block::append(block, *text);
    stack::pop(1);
  }
  return answer(*block);
}

// The error catalogue the runtime loaded first: a block of categories,
// each a set-word and a block of fields.
Flow error_catalogue() { return answer(error_catalog::catalogue()); }

// The global context seen as an object (class -1, no change handlers),
// also kept in the context's self cell.
Flow global_object() {
  const NodeId global = context::global();
  const Cell value = object::make(global, 0xFFFFFFFF, no_node);
  context::self_cell(global) = value;
  return answer(value);
}

// Whether an interpreter frame lies below this routine's own.
Flow interpreted_q() {
  const uint32_t depth = stack::call_depth();
  for (uint32_t i = 0; i + 1 < depth; ++i)
    if (stack::frame_at(i).bits & stack::frame::interpreter) return answer(logic::make(true));
  return answer(logic::make(false));
}

// The error datatype's trace options become fields of system/state.
Flow attach_error_options() {
  error_value::attach_options(*arg(0));
  return answer(*arg(0));
}

}  // namespace

void add_all() {
  // The routines of the base environment, in definition order.
  routine::add("quit-return", R"~("Stops evaluation and exits the program with a given status"
                   status [integer!] "Process termination value to return")~", quit_return);
  routine::add("set-quiet", R"~("Set an object's field to a value without triggering eventual object's events"
                   word [any-type!] value [any-type!])~", set_quiet);
  routine::add("set-slot-quiet", R"~("Set a value in series without triggering eventual owner's events"
                   series [any-type!] value [any-type!])~", set_slot_quiet);
  routine::add("shift-right", R"~("Shift bits to the right" data [integer!] bits [integer!])~", shift_right);
  routine::add("shift-left", R"~("Shift bits to the left" data [integer!] bits [integer!])~", shift_left);
  routine::add("shift-logical", R"~("Shift bits to the right (unsigned)" data [integer!] bits [integer!])~",
               shift_logical);
  routine::add("last-lf?", R"~("Internal Use Only")~", last_lf_q);
  add_system();  // get-current-dir ... os-info
  routine::add("as-color", R"~("Combine R, G and B values into a tuple" r [integer!] g [integer!] b [integer!])~",
               as_color);
  routine::add("as-ipv4", R"~("Combine a, b, c and d values into a tuple"
                   a [integer!] b [integer!] c [integer!] d [integer!])~", as_ipv4);
  routine::add("as-rgba", R"~("Combine R, G, B and A color components into a tuple"
                   r [integer!] g [integer!] b [integer!] a [integer!])~", as_ipv4);
  add_count_chars();
  routine::add("stack-size?", R"~(return: [integer!])~", stack_size_q);
  routine::add("pick-stack", R"~(idx [integer!])~", pick_stack);
  routine::add("frame-index?", R"~(return: [integer!])~", frame_index_q);
  routine::add("collect-calls", R"~(blk [block!])~", collect_calls);
  routine::add("tracing?", R"~()~", tracing_q);
  add_stdout();  // write-stdout

  // system/state/GC
  routine::add("GC-active?", R"~(return: [logic!])~", gc_active_q);
  routine::add("GC-series-cycles", R"~(return: [integer!])~", gc_cycles);
  routine::add("GC-nodes-cycles", R"~(return: [integer!])~", gc_cycles);

  // Start-up only.
  routine::add("builtin", R"~("Internal Use Only: the routine registered under a name" name [word!])~", builtin);
  routine::add("command-line", R"~("Internal Use Only: the process's arguments" return: [block!])~", command_line);
  routine::add("error-catalogue", R"~("Internal Use Only: the error catalogue" return: [block!])~", error_catalogue);
  routine::add("global-object", R"~("Internal Use Only: the global context as an object" return: [object!])~",
               global_object);
  routine::add("set-tracing", R"~("Internal Use Only: switches evaluation tracing" on [logic!])~", set_tracing);
  routine::add("interpreted?", R"~("Internal Use Only: an interpreter frame below this one" return: [logic!])~",
               interpreted_q);
  routine::add("attach-error-options",
               R"~("Internal Use Only: system/state keeps the error options" state [object!])~", attach_error_options);
  add_system_switches();  // float-switch
}

}  // namespace kiv::base_routines
