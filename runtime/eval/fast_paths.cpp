// The fallbacks of the fast paths: the generic function called in a
// native frame of its own, as the evaluator calls it.
#include "runtime/eval/fast_paths.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <string_view>

#include "runtime/core/error_raise.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/runtime_error.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/natives.h"
#include "runtime/eval/natives_compare.h"

namespace kiv::fast_paths {
namespace {

using stack::ArgStack;

// A generic function a fallback calls: its entry, and the node of its spec
// block, which the frame records so that an argument error names the
// argument as the evaluator's call would.
struct Generic {
  native::Entry entry = nullptr;
  NodeId spec = no_node;
};

// Indexed by ArithCode, CompareCode and SeriesCode; the unused codes stay
// empty.
Generic g_arith[8];
Generic g_compare[7];
Generic g_series[9];

[[noreturn]] void bad_code() { runtime::fatal(runtime::error_no_switch_match, 0); }

const Generic& arith_generic(ArithCode code) {
  const auto n = static_cast<uint8_t>(code);
  if (n >= std::size(g_arith) || !g_arith[n].entry) bad_code();
  return g_arith[n];
}
const Generic& compare_generic(CompareCode code) {
  const auto n = static_cast<uint8_t>(code);
  if (n >= std::size(g_compare) || !g_compare[n].entry) bad_code();
  return g_compare[n];
}
const Generic& series_generic(SeriesCode code) {
  const auto n = static_cast<uint8_t>(code);
  if (n >= std::size(g_series) || !g_series[n].entry) bad_code();
  return g_series[n];
}

// The spec of the function the global word `name` holds now, when it is
// the `type` value of entry `index`; else none (errors then name no
// argument).
NodeId spec_of(std::string_view name, TypeId type, uint32_t index) {
  const Cell value = *context::get(word::intern(name));
  return cell::is(value, type) && value.w1 == index ? value.w2 : no_node;
}

void capture_action(Generic& slot, ActionId id, std::string_view name) {
  const auto number = static_cast<uint32_t>(id);
  slot = {action_entries::entry(number), spec_of(name, TypeId::action, number)};
  roots::add_permanent(&slot.spec);
}

// The natives table index of the comparison native of `op`.
uint32_t comparison_native(CmpOp op) {
  for (uint32_t index = 1; index <= natives::count(); ++index)
    if (natives::comparison_of(index) == op) return index;
  return 0;
}

void capture_comparison(CompareCode code, std::string_view name) {
  const auto op = static_cast<CmpOp>(code);
  Generic& slot = g_compare[static_cast<uint8_t>(code)];
  slot = {natives::comparison_entry(op), spec_of(name, TypeId::native, comparison_native(op))};
  roots::add_permanent(&slot.spec);
}

// The generic functions take no refinements.
constexpr int32_t no_refinements[1] = {-1};

// Calls `generic` on copies of `operands` in a native frame named `name`;
// its result becomes the newest cell. An exit leaves the stacks to it.
Flow call_generic(const Generic& generic, const Cell& name, std::initializer_list<Cell> operands) {
  stack::mark(name, stack::frame::native | stack::frame::interpreter, generic.spec);
  for (const Cell& operand : operands) ArgStack::push(operand);
  KIV_PROPAGATE(generic.entry(no_refinements));
  stack::unwind();
  return Flow::normal;
}

}  // namespace

void init() {
  std::fill(std::begin(g_arith), std::end(g_arith), Generic{});
  std::fill(std::begin(g_compare), std::end(g_compare), Generic{});
  std::fill(std::begin(g_series), std::end(g_series), Generic{});
  const auto arith = [](ArithCode code) -> Generic& { return g_arith[static_cast<uint8_t>(code)]; };
  capture_action(arith(ArithCode::add), ActionId::add, "add");
  capture_action(arith(ArithCode::subtract), ActionId::subtract, "subtract");
  capture_action(arith(ArithCode::multiply), ActionId::multiply, "multiply");
  capture_action(arith(ArithCode::or_), ActionId::or_, "or~");
  capture_action(arith(ArithCode::and_), ActionId::and_, "and~");
  capture_action(arith(ArithCode::xor_), ActionId::xor_, "xor~");
  capture_comparison(CompareCode::equal, "equal?");
  capture_comparison(CompareCode::not_equal, "not-equal?");
  capture_comparison(CompareCode::strict_equal, "strict-equal?");
  capture_comparison(CompareCode::lesser, "lesser?");
  capture_comparison(CompareCode::lesser_or_equal, "lesser-or-equal?");
  capture_comparison(CompareCode::greater, "greater?");
  capture_comparison(CompareCode::greater_or_equal, "greater-or-equal?");
  const auto series = [](SeriesCode code) -> Generic& { return g_series[static_cast<uint8_t>(code)]; };
  capture_action(series(SeriesCode::length_q), ActionId::length_q, "length?");
  capture_action(series(SeriesCode::index_q), ActionId::index_q, "index?");
  capture_action(series(SeriesCode::head_q), ActionId::head_q, "head?");
  capture_action(series(SeriesCode::tail_q), ActionId::tail_q, "tail?");
  capture_action(series(SeriesCode::next), ActionId::next, "next");
  capture_action(series(SeriesCode::back), ActionId::back, "back");
  capture_action(series(SeriesCode::head), ActionId::head, "head");
  capture_action(series(SeriesCode::tail), ActionId::tail, "tail");
}

namespace detail {

Flow arith_fallback(ArithCode code, const Cell& name, const Cell& left, const Cell& right) {
  return call_generic(arith_generic(code), name, {left, right});
}

Flow compare_fallback(CompareCode code, const Cell& name, const Cell& left, const Cell& right, bool& outcome) {
  KIV_PROPAGATE(call_generic(compare_generic(code), name, {left, right}));
  outcome = logic::is_true(*ArgStack::last());
  stack::pop(1);
  return Flow::normal;
}

Flow series_fallback(SeriesCode code, const Cell& name, const Cell& value) {
  return call_generic(series_generic(code), name, {value});
}

// As the evaluator takes a path step: the value's eval-path entry with the
// index as an integer! selector; a type with no paths raises
// script/bad-path-type.
Flow pick_fallback(const Cell& value, int32_t index, const Cell& name, const Cell* path) {
  const Cell path_cell = path ? *path : Cell{cell::header(TypeId::none), 0, 0, 0};
  stack::mark(name, stack::frame::native | stack::frame::interpreter);
  Val picked = ArgStack::push(value);
  Val selector = ArgStack::push(integer_cell(0, index));
  const action::PathFn step_fn = datatype::actions(cell::type_of(*picked)).eval_path;
  if (!step_fn)
    error::raise(error_id::script::bad_path_type, path_cell, *selector, datatype::make(cell::type_of(*picked)));
  PathStep step{picked, selector, nullptr, path_cell, 1, true, false};
  step_fn(step);
  stack::unwind();
  return Flow::normal;
}

}  // namespace detail
}  // namespace kiv::fast_paths
