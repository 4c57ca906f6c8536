#include "runtime/eval/natives_words.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/native_args.h"

namespace kiv::natives {
namespace {

using native_args::answer;
using native_args::arg;
using native_args::refinement_if_used;
using native_args::used;
using stack::ArgStack;

Cell anon_name() { return word::make(TypeId::word, no_node, stack::anon_symbol(), word::unresolved); }

// A block argument read from its index, which may lie past its tail.
Val clamped(Val block) {
  block->w1 = std::min(block->w1, series_type::total(*block));
  return block;
}

// Puts the values of `source` (a block) into `target`: appended when the
// target is at its tail, else inserted at its position, through the
// target's own append or insert (which notify its owner once). The result
// is the target as that leaves it.
Flow put_into(Val target, Val source, bool only) {
  const bool at_tail = series::index_of(*target) >= series_type::total(*target);
  const ActionTable& actions = datatype::actions(cell::type_of(*target));
  const action::InsertFn put = at_tail ? actions.append : actions.insert;
  if (!put) error::raise(error_id::script::expect_val, datatype::make(TypeId::block), datatype::make(cell::type_of(*target)));
  put(target, source, -1, only, 1);
  return answer(*target);
}

}  // namespace

// ---- functions ----

Flow native_func(const int32_t*) { return answer(*function::make(clamped(arg(0)), clamped(arg(1)))); }

Flow native_function(const int32_t*) {
  Val spec = ArgStack::push(block::copy(clamped(arg(0)), false));
  function::collect_locals(spec, clamped(arg(1)));
  return answer(*function::make(spec, arg(1)));
}

Flow native_does(const int32_t*) {
  Val spec = block::push_new(1);
  return answer(*function::make(spec, clamped(arg(0))));
}

Flow native_has(const int32_t*) {
  Val locals = clamped(arg(0));
  Val spec = block::push_new(block::count(*locals) + 1);
  block::append(spec, word::make(TypeId::refinement, no_node, symbol::make("local"), word::unresolved));
  block::append_all(spec, locals);
  return answer(*function::make(spec, clamped(arg(1))));
}

// ---- words ----

enum class GetRefinement { any, case_ };

Flow native_get(const int32_t* refinements) {
  const Cell target = *arg(0);
  const TypeId type = cell::type_of(target);
  if (type_traits::is_any_object(type)) return answer(object::values_of(arg(0)));
  if (type_traits::is_any_path(type)) {
    KIV_PROPAGATE(interpreter::get_path(target));
    return answer(*ArgStack::last());
  }
  const Cell value = *context::get(target);
  if (cell::is(value, TypeId::unset) && !used(refinements, GetRefinement::any)) error::raise(error_id::script::no_value, target);
  return answer(value);
}

enum class SetRefinement { any, case_, only, some };

// The words of a block set from a value: one by one from a block's values
// (none once they run out), else (or with /only) all to the value itself.
void set_words(const Cell& words, Val value, const object::SetOptions& options) {
  const bool spread = cell::is(*value, TypeId::block) && !options.only;
  for (uint32_t i = 0; i < block::count(words); ++i) {
    const Cell name = *block::at(words, i);
    if (!type_traits::is_all_word(cell::type_of(name))) error::raise(error_id::script::invalid_arg, name);
    const Cell item = spread ? (i < block::count(*value) ? *block::at(*value, i) : none::make()) : *value;
    if (options.some && cell::is(item, TypeId::none)) continue;
    if (cell::is(item, TypeId::unset) && !options.any) error::raise(error_id::script::need_value, name);
    Val word = ArgStack::push(name);
    Val content = ArgStack::push(item);
    context::set(word, content);
    stack::pop(2);
  }
}

Flow native_set(const int32_t* refinements) {
  Val target = arg(0);
  Val value = arg(1);
  const object::SetOptions options{.any = used(refinements, SetRefinement::any),
                                   .only = used(refinements, SetRefinement::only),
                                   .some = used(refinements, SetRefinement::some)};
  if (cell::is(*value, TypeId::unset) && !options.any) error::raise(error_id::script::need_value, *target);
  const TypeId type = cell::type_of(*target);
  if (type_traits::is_any_object(type)) {
    object::set_many(target, value, options);
  } else if (type == TypeId::block) {
    stack::mark(anon_name(), stack::frame::native | stack::frame::interpreter);
    set_words(*target, value, options);
    stack::unwind();
  } else if (type_traits::is_any_path(type)) {
    KIV_PROPAGATE(interpreter::set_path(*target, *value));
  } else {
    Val word = ArgStack::push(*target);
    context::set(word, value);
  }
  return answer(*value);
}

Flow native_unset(const int32_t*) {
  const Cell target = *arg(0);
  const auto clear = [](const Cell& word) {
    if (word.w1 == no_node || word.w3 == word::unresolved || !context::has_values(word.w1)) return;
    *context::get(word) = unset::make();
  };
  if (cell::is(target, TypeId::block)) {
    for (uint32_t i = 0; i < block::count(target); ++i) clear(*block::at(target, i));
  } else {
    clear(target);
  }
  return answer(unset::make());
}

Flow native_value_q(const int32_t*) {
  const Cell word = *arg(0);
  if (word.w1 == no_node || word.w3 == word::unresolved || !context::has_values(word.w1)) return answer(logic::make(false));
  return answer(logic::make(!cell::is(*context::get(word), TypeId::unset)));
}

// ---- contexts and objects ----

namespace {

// The context that a word is bound to, or that an object or a function
// holds.
NodeId context_of(const Cell& value) {
  const TypeId type = cell::type_of(value);
  const bool has_context = type_traits::is_any_object(type) || type == TypeId::function || type_traits::is_all_word(type);
  if (!has_context || value.w1 == no_node) error::raise(error_id::script::invalid_arg, value);
  return value.w1;
}

}  // namespace

enum class BindRefinement { copy };

Flow native_bind(const int32_t* refinements) {
  const NodeId target = context_of(*arg(1));
  Val words = arg(0);
  if (!cell::is(*words, TypeId::block)) {
    Cell word = *words;
    context::bind_word(target, word);
    return answer(word);
  }
  if (used(refinements, BindRefinement::copy)) *words = block::copy(words, true);
  const bool object_context = context::kind_of(target) == context::Kind::object;
  context::bind_block(target, series::node_of(*words), series::index_of(*words), object_context);
  return answer(*words);
}

Flow native_in(const int32_t*) {
  const Cell holder = *arg(0);
  if (!type_traits::is_any_object(cell::type_of(holder)) && !cell::is(holder, TypeId::function))
    error::raise(error_id::script::invalid_arg, holder);
  Cell word = *arg(1);
  if (context::bind_word(holder.w1, word) < 0) return answer(none::make());
  return answer(word);
}

// The global context answers as an object.
Flow native_context_q(const int32_t*) {
  const NodeId target = arg(0)->w1;
  if (target == no_node) return answer(none::make());
  const Cell self = context::self_cell(target);
  if (type_traits::is_any_object(cell::type_of(self)) || cell::is(self, TypeId::function)) return answer(self);
  if (target == context::global()) return answer(object::make(target, 0, no_node));
  return answer(none::make());
}

enum class ConstructRefinement { with, only };

Flow native_construct(const int32_t* refinements) {
  const std::optional<Val> prototype = refinement_if_used(refinements, ConstructRefinement::with);
  Val result = ArgStack::push(none::make());
  object::construct(result, arg(0), prototype, used(refinements, ConstructRefinement::only));
  return answer(*result);
}

enum class ExtendRefinement { case_ };

// A map takes the pairs of the spec, replacing the values of the keys it
// has. An object's fields are fixed when it is made: it does not grow in
// place.
Flow native_extend(const int32_t* refinements) {
  if (!cell::is(*arg(0), TypeId::map)) error::raise(error_id::internal::not_done);
  map::extend(arg(0), arg(1), used(refinements, ExtendRefinement::case_));
  return answer(*arg(0));
}

// ---- reduce and compose ----

enum class ReduceRefinement { into };

namespace {

// The value of one value taken as an expression: a word's value, a path
// or a paren evaluated, any other value itself. Pushed.
Flow reduce_one(const Cell& value) {
  if (cell::is(value, TypeId::word)) {
    const Cell found = *context::get(value);
    if (cell::is(found, TypeId::unset)) error::raise(error_id::script::no_value, value);
    ArgStack::push(found);
    return Flow::normal;
  }
  Val code_block = block::push_new(1);
  block::append(code_block, value);
  interpreter::Code code{series::node_of(*code_block), 0};
  KIV_PROPAGATE(interpreter::eval_expression(code, interpreter::Into::new_cell));
  const Cell result = *ArgStack::last();
  stack::pop(2);
  ArgStack::push(result);
  return Flow::normal;
}

// Moves the values that reduce left on the stack, from depth `first` to
// the top, to the tail of its result, clearing their new-line markers.
// The result is made at the first batch, with room for `size` cells. May
// collect.
void move_batch(Val result, uint32_t first, uint32_t size) {
  const uint32_t count = ArgStack::depth() - first;
  if (cell::is(*result, TypeId::none)) *result = block::make_new(size);
  const NodeId node = series::node_of(*result);
  const uint32_t offset = series::reserve_tail(node, count * static_cast<uint32_t>(sizeof(Cell)));
  auto* to = reinterpret_cast<Cell*>(memory::buffer(node)->data() + offset);
  const Cell* from = ArgStack::at(first).get();
  for (uint32_t i = 0; i < count; ++i) {
    to[i] = from[i];
    to[i].header &= ~cell::new_line_flag;
  }
  ArgStack::drop_to(first);
}

}  // namespace

Flow native_reduce(const int32_t* refinements) {
  const Cell value = *arg(0);
  const std::optional<Val> into = refinement_if_used(refinements, ReduceRefinement::into);
  if (!cell::is(value, TypeId::block)) {
    // A function is a value here, not a call.
    if (type_traits::is_any_function(cell::type_of(value))) return answer(value);
    KIV_PROPAGATE(reduce_one(value));
    if (!into) return answer(*ArgStack::last());
    return put_into(*into, ArgStack::last(), true);
  }
  const NodeId source = series::node_of(value);
  const uint32_t total = memory::buffer(source)->length();
  const uint32_t start = std::min(series::index_of(value), total);
  const uint32_t most = total - start;  // every expression takes a cell at least
  Val result = ArgStack::push(none::make());  // the block, once the first batch is in
  KIV_PROPAGATE(reduce_rest(result, ArgStack::depth(), source, start, most));
  if (!into) return answer(*result);
  return put_into(*into, result, false);
}

void reduce_collected(Val result, uint32_t first, uint32_t most) {
  if (ArgStack::depth() - first == reduce_batch) move_batch(result, first, most);
}

Flow reduce_rest(Val result, uint32_t first, NodeId source, uint32_t index, uint32_t most) {
  interpreter::Code code{source, index};
  while (code.index < memory::buffer(source)->length()) {
    KIV_PROPAGATE(interpreter::eval_expression(code, interpreter::Into::new_cell));
    reduce_collected(result, first, most);
  }
  move_batch(result, first, ArgStack::depth() - first);
  return Flow::normal;
}

Flow reduce_first_argument() {
  constexpr int32_t no_refinements[] = {-1};
  return native_reduce(no_refinements);
}

namespace {

Flow compose_into(Val out, const Cell& source, bool deep, bool only) {
  for (uint32_t i = 0; i < block::count(source); ++i) {
    const Cell item = *block::at(source, i);
    if (cell::is(item, TypeId::paren)) {
      if (block::count(item) == 0) continue;
      KIV_PROPAGATE(interpreter::eval_block(item, false));
      Val value = ArgStack::last();
      if (cell::is(*value, TypeId::unset)) {
      } else if (!only && cell::is(*value, TypeId::block)) {
        block::append_all(out, value);
      } else {
        block::append(out, *value);
      }
      stack::pop(1);
    } else if (deep && cell::is(item, TypeId::block)) {
      // Rooted: a paren inside may drop the block from `source`.
      Val nested = ArgStack::push(item);
      Val inner = block::push_new(block::count(item));
      KIV_PROPAGATE(compose_into(inner, *nested, deep, only));
      block::append(out, *inner);
      stack::pop(2);
    } else {
      block::append(out, item);
    }
  }
  return Flow::normal;
}

}  // namespace

enum class ComposeRefinement { deep, only, into };

Flow native_compose(const int32_t* refinements) {
  const std::optional<Val> into = refinement_if_used(refinements, ComposeRefinement::into);
  if (into && !type_traits::is_any_list(cell::type_of(**into)))
    error::raise(error_id::script::expect_val, datatype::make(TypeId::block), datatype::make(cell::type_of(**into)));
  Val out = block::push_new(block::count(*arg(0)));
  KIV_PROPAGATE(compose_into(out, *arg(0), used(refinements, ComposeRefinement::deep),
                             used(refinements, ComposeRefinement::only)));
  if (!into) return answer(*out);
  return put_into(*into, out, false);
}

// ---- new-line markers ----

enum class NewLineRefinement { all, skip };

Flow native_new_line(const int32_t* refinements) {
  const Cell position = *arg(0);
  const bool on = logic::is_true(*arg(1));
  const bool all = used(refinements, NewLineRefinement::all);
  const std::optional<Val> skip = refinement_if_used(refinements, NewLineRefinement::skip);
  if (skip && cell::get_int32(**skip) < 1) error::raise(error_id::script::out_of_range, **skip);
  const uint32_t step = skip ? static_cast<uint32_t>(cell::get_int32(**skip)) : 1;
  for (uint32_t i = 0; i < block::count(position); i += step) {
    Cell& item = *block::at(position, i);
    item.header = on ? item.header | cell::new_line_flag : item.header & ~cell::new_line_flag;
    if (!all && !skip) break;
  }
  return answer(position);
}

Flow native_new_line_q(const int32_t*) {
  const Cell position = *arg(0);
  return answer(logic::make(block::count(position) > 0 && cell::has_new_line(*block::at(position, 0))));
}

// ---- apply ----

enum class ApplyRefinement { all, safer };

Flow native_apply(const int32_t* refinements) {
  const Cell target = *arg(0);
  const TypeId type = cell::type_of(target);
  Cell name = anon_name();
  Cell callable = target;
  const Cell* path = nullptr;
  if (type == TypeId::word || type == TypeId::path) {
    // A path's first word names the function; its other words name
    // refinements.
    if (type == TypeId::path && block::count(target) == 0) error::raise(error_id::script::invalid_arg, target);
    name = type == TypeId::path ? *block::at(target, 0) : target;
    if (!cell::is(name, TypeId::word)) error::raise(error_id::script::invalid_arg, name);
    callable = *context::get(name);
    if (!type_traits::is_any_function(cell::type_of(callable))) error::raise(error_id::script::invalid_arg, name);
    if (type == TypeId::path) path = arg(0).get();
  }
  // An operator is called as the function it is made from.
  if (cell::is(callable, TypeId::op)) callable.header = cell::header(native::wrapped_type(callable));
  uint32_t mode = used(refinements, ApplyRefinement::all) ? interpreter::apply_mode::all : interpreter::apply_mode::named;
  if (used(refinements, ApplyRefinement::safer)) mode |= interpreter::apply_mode::one_cell;
  return interpreter::apply(callable, name, path, 0, *arg(1), mode);
}

}  // namespace kiv::natives
