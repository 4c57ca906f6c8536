#include "runtime/datatypes/sort_support.h"

#include "runtime/core/error_raise.h"
#include "runtime/core/exits.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/trace.h"

namespace kiv::sort_support {
namespace {

[[noreturn]] void invalid_refine_arg(std::string_view name, const Cell& value) {
  const Cell refinement = word::make(TypeId::refinement, no_node, symbol::make(name), word::unresolved);
  error::raise(error_id::script::invalid_refine_arg, refinement, value);
}

}  // namespace

Plan plan(Val series, const SortOptions& options) {
  Plan plan;
  plan.from = series_type::head(*series);
  int64_t count = series_type::length(*series);
  if (options.part) {
    const int64_t limit = series_type::part_count(*series, **options.part);
    if (limit < 0) {
      // The units before the head (as many as there are); the series
      // then starts at the first of them.
      count = std::min<int64_t>(-limit, plan.from);
      plan.from -= static_cast<uint32_t>(count);
      series->w1 = plan.from;
    } else {
      count = std::min(count, limit);
    }
  }
  plan.count = static_cast<uint32_t>(count);
  if (options.skip) {
    const Cell skip = **options.skip;
    if (!cell::is(skip, TypeId::integer)) invalid_refine_arg("skip", skip);
    const int32_t n = cell::get_int32(skip);
    if (n < 1 || n > count || count % n != 0) invalid_refine_arg("skip", skip);
    plan.size = static_cast<uint32_t>(n);
  } else if (options.all) {
    error::raise(error_id::script::bad_refines);
  }
  if (options.compare) {
    const Cell compare_with = **options.compare;
    if (cell::is(compare_with, TypeId::integer)) {
      if (!options.skip || options.all) error::raise(error_id::script::bad_refines);
      const int32_t k = cell::get_int32(compare_with);
      if (k < 1 || static_cast<uint32_t>(k) > plan.size) error::raise(error_id::script::out_of_range, compare_with);
      plan.key = static_cast<uint32_t>(k - 1);
    } else if (type_traits::is_any_function(cell::type_of(compare_with))) {
      plan.by_function = true;
    } else {
      invalid_refine_arg("compare", compare_with);
    }
  }
  return plan;
}

FunctionComparator::FunctionComparator(const Cell& function)
    : function_(stack::push(function)),
      arguments_(block::push_new(2)),
      name_(word::intern("comparator")) {
  // An operator is called as the function it is made from.
  if (cell::is(*function_, TypeId::op)) function_->header = cell::header(native::wrapped_type(*function_));
  block::append(arguments_, none::make());
  block::append(arguments_, none::make());
}

int FunctionComparator::order(const Cell& a, const Cell& b, bool reverse) {
  *block::at(*arguments_, 0) = reverse ? a : b;
  *block::at(*arguments_, 1) = reverse ? b : a;
  const uint32_t depth = stack::depth();
  trace::CallbackScope traced(trace::callback::sort, *function_, trace::Announce::no);
  // A frame of our own takes the answer, away from the sort's window.
  stack::mark(name_, stack::frame::native | stack::frame::interpreter);
  if (interpreter::apply(*function_, name_, nullptr, 0, *arguments_,
                         interpreter::apply_mode::all | interpreter::apply_mode::as_is) != Flow::normal)
    runtime::throw_pending();
  const Cell answer = *stack::result();
  stack::pop_frame();
  stack::drop_to(depth);
  return answer_order(answer);
}

int answer_order(const Cell& answer) {
  switch (cell::type_of(answer)) {
    case TypeId::logic: return logic::get(answer) ? 1 : -1;
    case TypeId::integer: {
      const int32_t i = cell::get_int32(answer);
      return (i < 0) - (i > 0);
    }
    case TypeId::float_: {
      const double d = cell::get_double(answer);
      return d > 0.0 ? -1 : d < 0.0 ? 1 : 0;
    }
    case TypeId::none: return -1;
    default: return 1;
  }
}

}  // namespace kiv::sort_support
