#include "runtime/datatypes/object.h"

#include <algorithm>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/core/cycle.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/exits.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/compare.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/trace.h"
#include "runtime/mold.h"
#include "runtime/ownership.h"

namespace kiv::object {
namespace {

using context::Kind;
using type_traits::is_all_word;
using type_traits::is_number;

constexpr uint32_t new_object_room = 4;
enum Handler : uint32_t { on_change = 0, on_deep_change = 1 };
constexpr std::string_view handler_names[] = {"on-change*", "on-deep-change*"};
constexpr uint32_t absent_descriptor = no_handler << 16;

uint32_t g_class_counter = class_counter_start;

// ---- fields ----

Cell& value_at(NodeId context, uint32_t index) { return *context::slot(context, index); }

// The word of the field at `position`, bound to the object, without the
// entry's own flags.
Cell field_word(NodeId context, uint32_t position) {
  const Cell entry = context::word_at(context, position);
  return word::make(TypeId::word, context, entry.w2, entry.w3);
}

bool named(uint32_t symbol_id, std::string_view name) {
  return symbol::equal_caseless(symbol::spelling(symbol_id), name);
}

bool is_handler_field(uint32_t symbol_id) {
  return named(symbol_id, handler_names[on_change]) || named(symbol_id, handler_names[on_deep_change]);
}

bool is_callable_handler(const Cell& value) {
  return cell::is(value, TypeId::function) || cell::is(value, TypeId::routine);
}

void refresh_self(Val object) { context::self_cell(object->w1) = *object; }

Cell integer_cell(uint32_t value) { return Cell{cell::header(TypeId::integer), 0, value, 0}; }

// ---- the change-handler record ----

Cell* record_cells(NodeId record) { return reinterpret_cast<Cell*>(memory::buffer(record)->head_ptr()); }

uint32_t handler_index(const Cell& object, Handler which) {
  if (object.w3 == no_node) return no_handler;
  return record_cells(object.w3)[which].w2 >> 16;
}

// /local words of a handler's spec.
uint32_t count_locals(const Cell& handler) {
  const Cell spec = series::make(TypeId::block, handler.w2);
  uint32_t locals = 0;
  bool counting = false;
  for (uint32_t i = 0; i < block::count(spec); ++i) {
    const Cell item = *block::at(spec, i);
    if (cell::is(item, TypeId::refinement)) counting = named(item.w2, "local");
    else if (counting && cell::is(item, TypeId::word)) ++locals;
  }
  return locals;
}

// Builds the record from the fields as they are now (the last field of a
// handler's name wins); an object with neither handler field gets none.
void build_record(Val object) {
  const NodeId context = object->w1;
  int64_t found[2] = {-1, -1};
  for (uint32_t i = 0; i < context::word_count(context); ++i) {
    const Cell entry = context::word_at(context, i);
    for (uint32_t which : {on_change, on_deep_change})
      if (named(entry.w2, handler_names[which])) found[which] = entry.w3;
  }
  object->w3 = no_node;
  if (found[on_change] < 0 && found[on_deep_change] < 0) {
    refresh_self(object);
    return;
  }
  uint32_t descriptors[2] = {absent_descriptor, absent_descriptor};
  for (uint32_t which : {on_change, on_deep_change}) {
    if (found[which] < 0) continue;
    const auto index = static_cast<uint32_t>(found[which]);
    const Cell handler = value_at(context, index);
    if (!is_callable_handler(handler)) {
      const int32_t position = context::find_symbol(context, symbol::make(handler_names[which]), true);
      error::raise(error_id::script::bad_field_set, datatype::make(cell::type_of(handler)),
                   field_word(context, static_cast<uint32_t>(std::max(position, 0))));
    }
    descriptors[which] = index << 16 | (count_locals(handler) & 0xFFFF);
  }
  object->w3 = memory::new_cell_series(2);  // rooted at once by the object
  for (uint32_t which : {on_change, on_deep_change})
    *series::append_slot(object->w3) = Cell{cell::header(TypeId::pair), 0, descriptors[which], 0};
  refresh_self(object);
}

// An object with an on-deep-change* handler owns the series of its fields.
void take_ownership(Val object) {
  context::context_cell(object->w1).header &= ~context::flag::owner;
  Val word = stack::push(none::make());
  ownership::set_owner(object, object, word);
  stack::pop(1);
}

// The last step of making an object: its record, then its series.
void finish(Val object) {
  build_record(object);
  if (handler_index(*object, on_deep_change) != no_handler) take_ownership(object);
}

void set_class(Val object, uint32_t class_id) {
  object->w2 = class_id;
  refresh_self(object);
}

// ---- calling the handlers ----

// Calls the function `handler` named `name` with `args` (as many as it has
// arguments), its refinements off and its locals none; drops its result.
// A traced evaluation follows the handler only when the script asks for
// that kind of callback (trace::CallbackScope).
void call_handler(std::string_view name, uint32_t trace_kind, Val handler, std::initializer_list<Val> args) {
  const Cell call_name = word::unbound(name);
  const uint32_t depth = stack::depth();
  trace::CallbackScope traced(trace_kind, *handler, trace::Announce::yes);
  stack::mark_function(call_name, handler->w1, stack::frame::function);
  std::vector<Cell> values;
  for (Val arg : args) values.push_back(*arg);  // each stays held by its Val
  interpreter::push_arguments(*handler, values);
  if (interpreter::call_function(*handler) != Flow::normal) runtime::throw_pending();
  const Cell result = *stack::result();
  stack::pop_frame();
  stack::drop_to(depth);
  traced.returned(result);
}

// ---- copying ----

// A copy of the function `function` whose body sees the fields of the
// object context `context`: the body is copied, bound to the object, then
// to the new function's own context.
Cell rebind_function(Val function, NodeId context) {
  const Cell body = function::metadata(*function, function::meta::body);
  if (!cell::is(body, TypeId::block)) error::raise(error_id::script::bad_func_def, *function);
  const uint32_t depth = stack::depth();
  Val spec = stack::push(series::make(TypeId::block, function->w2));
  Val original = stack::push(body);
  Val copied = stack::push(block::copy(original, true));
  context::bind_block(context, series::node_of(*copied), series::index_of(*copied), true);
  const Cell made = *function::make(spec, copied);
  stack::drop_to(depth);
  return made;
}

// Replaces `item`, a series, by its deep copy; blocks and the like are then
// bound to `context` when `rebind`.
void copy_series_value(Val item, NodeId context, bool rebind) {
  const TypeId type = cell::type_of(*item);
  const action::CopyFn copy_fn = datatype::actions(type).copy;
  if (!copy_fn) return;
  copy_fn(item, std::nullopt, true, std::nullopt);
  if (rebind && type_traits::is_any_block(type))
    context::bind_block(context, series::node_of(*item), series::index_of(*item), true);
}

// Copies every series field of an object context (deeply).
void copy_series_fields(NodeId context, bool rebind) {
  for (uint32_t i = 0; i < context::word_count(context); ++i) {
    if (!type_traits::is_series(cell::type_of(value_at(context, i)))) continue;
    Val item = stack::push(value_at(context, i));
    copy_series_value(item, context, rebind);
    value_at(context, i) = *item;
    stack::pop(1);
  }
}

// Pushes a copy of `source`: the same datatype (an error! copies as an
// error!), words and class, the values copied cell by cell, function fields
// rebound to the copy, series fields copied too when `deep`. The copy gets
// its own change-handler record but does not take ownership of its series
// yet (`finish` does).
Val copy_object(Val source, bool deep) {
  const NodeId from = source->w1;
  if (deep && cycle::find(from)) error::raise(error_id::internal::no_cycle);
  const uint32_t count = context::word_count(from);
  const NodeId into = context::make(count, {.object_made = true, .kind = Kind::object}, from);
  Val copy = stack::push(Cell{cell::header(cell::type_of(*source)), into, source->w2, no_node});
  refresh_self(copy);
  const NodeId values = context::context_cell(into).w2;
  for (uint32_t i = 0; i < count; ++i) {
    const Cell value = value_at(from, i);
    *series::append_slot(values) = value;
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (!cell::is(value_at(into, i), TypeId::function)) continue;
    Val function = stack::push(value_at(into, i));
    const Cell rebound = rebind_function(function, into);
    value_at(into, i) = rebound;
    stack::pop(1);
  }
  if (deep) {
    cycle::Guard guard;
    cycle::push(from);
    copy_series_fields(into, false);
  }
  build_record(copy);
  return copy;
}

// Adds the fields of the object `source` to `object` and gives them the
// source's values (series copied, functions rebound). Answers whether any
// field was new.
bool merge(Val object, Val source) {
  const NodeId into = object->w1;
  const NodeId from = source->w1;
  bool gained = false;
  for (uint32_t i = 0; i < context::word_count(from); ++i) {
    const Cell entry = context::word_at(from, i);
    bool added = false;
    const uint32_t index = context::add_symbol(into, entry.w2, true, &added);
    gained |= added;
    Val item = stack::push(value_at(from, entry.w3));
    if (type_traits::is_series(cell::type_of(*item))) copy_series_value(item, into, true);
    else if (cell::is(*item, TypeId::function)) *item = rebind_function(item, into);
    value_at(into, index) = *item;
    stack::pop(1);
  }
  return gained;
}

void clear_new_lines(NodeId context) {
  for (uint32_t i = 0; i < context::word_count(context); ++i) cell::clear_new_line(value_at(context, i));
}

// ---- actions ----

// make object! spec, or make prototype spec. The spec block is bound to the
// new object and evaluated.
void make_value(Val result, Val spec, TypeId) {
  const bool derived = cell::is(*result, TypeId::object);
  const TypeId spec_type = cell::type_of(*spec);
  if (spec_type != TypeId::block && spec_type != TypeId::object) error::raise(error_id::syntax::malconstruct, *spec);
  Val object = derived ? copy_object(result, false) : push_new(new_object_room);
  const NodeId context = object->w1;
  if (spec_type == TypeId::object) {
    const bool gained = merge(object, spec);
    set_class(object, gained || !derived ? new_class_id() : result->w2);
  } else {
    const NodeId code = series::node_of(*spec);
    const uint32_t index = series::index_of(*spec);
    const bool gained = context::collect_set_words(context, code, index);
    set_class(object, gained || !derived ? new_class_id() : result->w2);
    context::bind_block(context, code, index, true);
    if (derived) copy_series_fields(context, true);
    if (interpreter::eval_block(*spec, false) != Flow::normal) runtime::throw_pending();
    stack::pop(1);
    clear_set_flags(context);
    clear_new_lines(context);
  }
  finish(object);
  *result = *object;
}

// reflect object 'words / 'values / 'body / 'class / 'changed / 'owner /
// 'events?
void reflect(Val value, Val field) {
  const std::string_view name = symbol::spelling(symbol::resolve(field->w2));
  const Cell object = *value;
  const NodeId context = object.w1;
  const uint32_t count = context::word_count(context);
  if (name == "words" || name == "changed") {
    const bool changed_only = name == "changed";
    Val words = block::push_new(count);
    for (uint32_t i = 0; i < count; ++i) {
      const Cell entry = context::word_at(context, i);
      if (changed_only && !(entry.header & context::flag::word_set)) continue;
      block::append(words, field_word(context, i));
    }
    *value = *words;
  } else if (name == "values") {
    *value = values_of(value);
  } else if (name == "body") {
    *value = body_of(value);
  } else if (name == "class") {
    *value = integer_cell(object.w2);
  } else if (name == "owner") {
    *value = logic::make((context::context_cell(context).header & context::flag::owner) != 0);
  } else if (name == "events?") {
    *value = logic::make(object.w3 != no_node);
  } else {
    error::raise(error_id::internal::not_done);
  }
}

// Form and mold share the walk: each field as its word, ": " and its value
// molded (a word! with a leading "'"). Mold frames the fields with
// "make object! [" and "]" on lines of their own, one level deeper than
// the object; /flat keeps them on one line, /only drops the frame. Form
// writes one field per line with neither. The handler fields show only in
// mold/all. The frame names the value's own datatype: an error! molds as
// "make error! [".
int32_t write_fields(Val value, Val out, const MoldOptions& options, int32_t part, bool forming) {
  const NodeId context = value->w1;
  const std::string opening = "make " + std::string(datatype::info(cell::type_of(*value)).name) + " [";
  if (cycle::find(context)) return mold::emit(out, opening + "...]", part);
  const bool framed = !forming && !options.only;
  const bool multi_line = !forming && !options.flat;
  const int32_t field_indent = options.only ? options.indent : options.indent + 1;
  MoldOptions inner = options;
  inner.only = false;
  inner.indent = forming ? 0 : field_indent;
  cycle::Guard guard;
  cycle::push(context);
  if (framed) part = mold::emit(out, multi_line ? opening + "\n" : opening, part);
  bool first = true;
  for (uint32_t i = 0; i < context::word_count(context) && part > 0; ++i) {
    const Cell entry = context::word_at(context, i);
    if ((forming || !options.all) && is_handler_field(entry.w2)) continue;
    if (multi_line) {
      mold::indent(out, field_indent);
      part -= 4 * field_indent;
    } else if (!first) {
      part = mold::emit(out, forming ? "\n" : " ", part);
    }
    first = false;
    part = mold::emit_utf8(out, symbol::spelling(entry.w2), part);
    part = mold::emit(out, ": ", part);
    Val item = stack::push(value_at(context, entry.w3));
    if (cell::is(*item, TypeId::word)) part = mold::emit(out, "'", part);
    part = mold::mold_value(item, out, inner, part);
    stack::pop(1);
    if (multi_line) part = mold::emit(out, "\n", part);
  }
  if (framed) {
    if (multi_line && options.indent > 0) {
      mold::indent(out, options.indent);
      part -= 4 * options.indent;
    }
    part = mold::emit(out, "]", part);
  }
  return part;
}

int32_t form(Val value, Val out, int32_t part) { return write_fields(value, out, {}, part, true); }
int32_t mold_value(Val value, Val out, const MoldOptions& options, int32_t part) {
  return write_fields(value, out, options, part, false);
}

// The field index an any-word names in `object`, or -1.
int32_t field_index(const Cell& object, const Cell& word) {
  if (word.w1 == object.w1 && word.w3 != word::unresolved) return static_cast<int32_t>(word.w3);
  return context::find_symbol(object.w1, word.w2, true);
}

// Stores `new_value` into field `index` and calls on-change*; the field's
// "set" flag is raised.
void assign(Val object, uint32_t index, Val new_value) {
  const NodeId context = object->w1;
  Val word = stack::push(word::make(TypeId::word, context, context::word_at(context, index).w2, index));
  Val old = stack::push(value_at(context, index));
  context::store_word(word, new_value, context, false);
  fire_on_set(object, word, old, new_value);
  stack::pop(2);
}

// obj/field and obj/field: value.
void eval_path(PathStep& step) {
  const Cell element = *step.selector;
  if (!type_traits::is_any_word(cell::type_of(element))) error::raise(error_id::script::invalid_path, step.path, element);
  const int32_t index = field_index(*step.value, element);
  const bool missing = index < 0 || (!step.new_value && cell::is(value_at(step.value->w1, index), TypeId::unset));
  if (missing) {
    if (step.get && !step.new_value) {
      *step.value = unset::make();
      return;
    }
    error::raise(error_id::script::invalid_path, step.path, element);
  }
  if (!step.new_value) {
    *step.value = value_at(step.value->w1, static_cast<uint32_t>(index));
    return;
  }
  Val fresh = stack::push(*step.new_value);
  assign(step.value, static_cast<uint32_t>(index), fresh);
  *step.value = *fresh;
  stack::pop(1);
}

// Objects compare field by field, ordered first by their number of fields,
// then by each field's symbol, then by its value. An error! compares so
// with another error!, never with an object!.
int compare(const Cell& a, const Cell& b, CmpOp op) {
  if (!type_traits::is_any_object(cell::type_of(a)) || cell::type_of(a) != cell::type_of(b)) return -2;
  if (a.w1 == b.w1) return 0;
  if (op == CmpOp::same) return -1;
  if (cycle::find(a.w1)) return cycle::find(b.w1) ? 0 : -1;
  const uint32_t count_a = field_count(a);
  const uint32_t count_b = field_count(b);
  if (count_a != count_b) return count_a < count_b ? -1 : 1;
  cycle::Guard guard;
  cycle::push(a.w1);
  cycle::push(b.w1);
  for (uint32_t i = 0; i < count_a; ++i) {
    const Cell word_a = context::word_at(a.w1, i);
    const Cell word_b = context::word_at(b.w1, i);
    const uint32_t symbol_a = symbol::resolve(word_a.w2);
    const uint32_t symbol_b = symbol::resolve(word_b.w2);
    if (symbol_a != symbol_b) return symbol_a < symbol_b ? -1 : 1;
    const Cell x = value_at(a.w1, word_a.w3);
    const Cell y = value_at(b.w1, word_b.w3);
    const TypeId tx = cell::type_of(x);
    const TypeId ty = cell::type_of(y);
    if (tx == ty || (is_all_word(tx) && is_all_word(ty)) || (is_number(tx) && is_number(ty))) {
      const int answer = compare::dispatch(x, y, op);
      if (answer != 0) return answer;
    } else {
      return tx < ty ? -1 : 1;
    }
  }
  return 0;
}

void copy(Val value, std::optional<Val>, bool deep, std::optional<Val> types) {
  if (types) {
    const Cell refinement = word::make(TypeId::refinement, no_node, symbol::make("types"), word::unresolved);
    error::raise(error_id::script::invalid_refine_arg, refinement, **types);
  }
  Val copied = copy_object(value, deep);
  finish(copied);
  *value = *copied;
}

// select object 'field: the value, or none.
void select(Val object, Val key, const FindOptions&) {
  if (!is_all_word(cell::type_of(*key)))
    error::raise(error_id::script::invalid_type, datatype::make(cell::type_of(*key)));
  const int32_t index = field_index(*object, *key);
  *object = index < 0 ? none::make() : value_at(object->w1, static_cast<uint32_t>(index));
}

// put object 'field value: a store with notification, as a path sets it.
void put(Val object, Val key, Val value, bool) {
  if (!cell::is(*key, TypeId::word)) error::raise(error_id::script::invalid_key_type, datatype::make(cell::type_of(*key)));
  const int32_t index = field_index(*object, *key);
  if (index < 0) error::raise(error_id::script::invalid_path, *object, *key);
  assign(object, static_cast<uint32_t>(index), value);
  *object = *value;
}

// modify object 'changed none: forget the "set" flags; 'owner: own the
// series of its fields; 'owned none or [owner word]: give up, or take, the
// ownership of the object's series.
void modify(Val target, Val field, Val value, bool) {
  const std::string_view name =
      is_all_word(cell::type_of(*field)) ? symbol::spelling(symbol::resolve(field->w2)) : std::string_view();
  if (name == "changed") {
    if (!cell::is(*value, TypeId::none)) error::raise(error_id::script::invalid_arg, *value);
    clear_set_flags(target->w1);
  } else if (name == "owner") {
    take_ownership(target);
  } else if (name == "owned") {
    ownership::modify_owned(target, value);
  }
  *target = *value;
}

}  // namespace

uint32_t new_class_id() { return ++g_class_counter; }

Cell body_of(Val object) {
  const NodeId context = object->w1;
  const uint32_t count = context::word_count(context);
  Val body = block::push_new(count * 2);
  for (uint32_t i = 0; i < count; ++i) {
    Cell key = field_word(context, i);
    cell::set_type(key, TypeId::set_word);
    key.header |= cell::new_line_flag;
    block::append(body, key);
    Cell item = value_at(context, key.w3);
    if (cell::is(item, TypeId::word)) cell::set_type(item, TypeId::lit_word);
    else if (cell::is(item, TypeId::path)) cell::set_type(item, TypeId::lit_path);
    block::append(body, item);
  }
  const Cell made = *body;
  stack::pop(1);
  return made;
}

Val push_new(uint32_t size) {
  const NodeId context = context::make(size, {.object_made = true, .kind = Kind::object});
  Val object = stack::push(make(context, 0, no_node));
  refresh_self(object);
  return object;
}

int32_t find_field(const Cell& object, uint32_t symbol_id) { return context::find_symbol(object.w1, symbol_id, true); }

Cell select_value(const Cell& object, uint32_t symbol_id) {
  const int32_t index = find_field(object, symbol_id);
  return index < 0 ? none::make() : value_at(object.w1, static_cast<uint32_t>(index));
}

uint32_t field_count(const Cell& object) { return context::word_count(object.w1); }

Cell values_of(Val object) {
  const NodeId context = object->w1;
  Val values = block::push_new(context::word_count(context));
  for (uint32_t i = 0; i < context::word_count(context); ++i) block::append(values, value_at(context, i));
  const Cell made = *values;
  stack::pop(1);
  return made;
}

bool notifies(NodeId context) {
  const Cell& self = context::self_cell(context);
  return cell::is(self, TypeId::object) && handler_index(self, on_change) != no_handler;
}

void fire_on_set(Val object, Val word, Val old_value, Val new_value) {
  const uint32_t index = handler_index(*object, on_change);
  if (index == no_handler) return;
  const NodeId context = object->w1;
  const Cell handler = value_at(context, index);
  if (!cell::is(handler, TypeId::function)) error::raise(error_id::script::invalid_obj_evt, handler);
  const uint32_t depth = stack::depth();
  Val function = stack::push(handler);
  const int32_t found = field_index(*object, *word);
  Val bound = stack::push(word::make(TypeId::word, context, word->w2, found >= 0 ? static_cast<uint32_t>(found) : word::unresolved));
  call_handler(handler_names[on_change], trace::callback::change, function, {bound, old_value, new_value});
  stack::drop_to(depth);
}

void fire_on_set_in(NodeId context, Val word, Val old_value, Val new_value) {
  Val object = stack::push(context::self_cell(context));
  fire_on_set(object, word, old_value, new_value);
  stack::pop(1);
}

void fire_on_deep_change(Val owner, Val word, Val target, Val action, Val new_value, const Cell& index,
                         const Cell& part) {
  if (owner->w3 == no_node) error::raise(error_id::script::invalid_obj_evt, *owner);
  const uint32_t handler_at = handler_index(*owner, on_deep_change);
  if (handler_at == no_handler) return;
  const Cell handler = value_at(owner->w1, handler_at);
  if (!cell::is(handler, TypeId::function)) return;
  const uint32_t depth = stack::depth();
  Val function = stack::push(handler);
  Val at = stack::push(index);
  Val count = stack::push(part);
  call_handler(handler_names[on_deep_change], trace::callback::deep_change, function, {owner, word, target, action, new_value, at, count});
  stack::drop_to(depth);
}

void construct(Val result, Val spec, std::optional<Val> prototype, bool only) {
  Val object = prototype ? copy_object(*prototype, false) : push_new(new_object_room);
  object->w3 = no_node;
  if (!prototype) object->w2 = new_class_id();
  refresh_self(object);
  const NodeId context = object->w1;
  const NodeId code = series::node_of(*spec);
  const auto item_at = [&](uint32_t i) { return reinterpret_cast<const Cell*>(memory::buffer(code)->head_ptr())[i]; };
  std::vector<uint32_t> run;  // symbols of the set-words waiting for a value
  const auto assign_run = [&](Cell value) {
    if (!only && cell::is(value, TypeId::word)) {
      const uint32_t s = value.w2;
      if (named(s, "true") || named(s, "yes") || named(s, "on")) value = logic::make(true);
      else if (named(s, "false") || named(s, "no") || named(s, "off")) value = logic::make(false);
      else if (named(s, "none")) value = none::make();
    }
    Rooted<Cell> kept(value);
    for (uint32_t symbol_id : run) {
      const uint32_t index = context::add_symbol(context, symbol_id, true);
      value_at(context, index) = kept.get();
    }
    run.clear();
  };
  for (uint32_t i = series::index_of(*spec); i < memory::buffer(code)->length(); ++i) {
    const Cell item = item_at(i);
    if (cell::is(item, TypeId::set_word)) run.push_back(item.w2);
    else if (!run.empty()) assign_run(item);
  }
  if (!run.empty()) assign_run(none::make());
  *result = *object;
}

void set_many(Val object, Val value, const SetOptions& options) {
  const NodeId context = object->w1;
  const uint32_t count = context::word_count(context);
  const TypeId type = cell::type_of(*value);
  const bool spread = !options.only && (type == TypeId::block || type == TypeId::object);
  // The value for field `i`, or nothing when an object source lacks it.
  const auto source_value = [&](uint32_t i) -> std::optional<Cell> {
    if (type == TypeId::block) return i < block::count(*value) ? *block::at(*value, i) : none::make();
    const int32_t found = context::find_symbol(value->w1, context::word_at(context, i).w2, true);
    if (found < 0) return std::nullopt;
    return value_at(value->w1, static_cast<uint32_t>(found));
  };
  if (!spread) {
    if (cell::is(*value, TypeId::unset) && !options.any) error::raise(error_id::script::need_value, *object);
  } else if (!options.some) {
    for (uint32_t i = 0; i < count; ++i) {
      const std::optional<Cell> source = source_value(i);
      if (source && cell::is(*source, TypeId::unset) && !options.any)
        error::raise(error_id::script::need_value, field_word(context, i));
    }
  }
  const bool tells = object->w3 != no_node;
  for (uint32_t i = 0; i < count; ++i) {
    const std::optional<Cell> source = spread ? source_value(i) : std::optional<Cell>(*value);
    if (!source || (options.some && cell::is(*source, TypeId::none))) continue;
    Val fresh = stack::push(*source);
    const Cell entry = context::word_at(context, i);
    if (tells && !is_handler_field(entry.w2)) {
      assign(object, entry.w3, fresh);
    } else {
      Val word = stack::push(field_word(context, i));
      context::store_word(word, fresh, context, false);
      stack::pop(1);
    }
    stack::pop(1);
  }
}

void clear_set_flags(NodeId context) {
  const NodeId words = context::words_node(context);
  Cell* entries = reinterpret_cast<Cell*>(memory::buffer(words)->head_ptr());
  for (uint32_t i = 0; i < memory::buffer(words)->length(); ++i) entries[i].header &= ~context::flag::word_set;
}

// Slots: make, reflect, form, mold, eval-path, compare, copy, put, select
// and modify; every other action is unsupported.
void register_types() {
  datatype::register_type({TypeId::object, TypeId::none_type, "object!",
                           {.make = make_value,
                            .reflect = reflect,
                            .form = form,
                            .mold = mold_value,
                            .eval_path = eval_path,
                            .compare = compare,
                            .copy = copy,
                            .put = put,
                            .select = select,
                            .modify = modify}});
}

}  // namespace kiv::object
