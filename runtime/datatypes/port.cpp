#include "runtime/datatypes/port.h"

#include <string>
#include <string_view>
#include <vector>

#include "runtime/core/error_raise.h"
#include "runtime/core/exits.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/lexer.h"
#include "runtime/mold.h"

namespace kiv::port {
namespace {

enum Field : uint32_t { spec_field = 0, scheme_field = 1, actor_field = 2 };
constexpr uint32_t scheme_actor_field = 3;  // a scheme object's `actor`

// ---- fields ----

// The value of the field at `position` (0 for the first field).
Cell& field(const Cell& object, uint32_t position) {
  return *context::slot(object.w1, context::word_at(object.w1, position).w3);
}

bool has_field(const Cell& object, uint32_t position) { return object::field_count(object) > position; }

// The value of a global word, or none.
Cell global_value(std::string_view name) {
  const int32_t index = context::find_symbol(context::global(), symbol::make(name), true);
  if (index < 0) return none::make();
  return *context::slot(context::global(), static_cast<uint32_t>(index));
}

// system/<path...>: the value reached through objects, or none when a step
// is missing or leads to something else than an object.
Cell system_value(std::initializer_list<std::string_view> path) {
  Cell value = global_value("system");
  for (const std::string_view step : path) {
    if (!cell::is(value, TypeId::object)) return none::make();
    value = object::select_value(value, symbol::make(step));
  }
  return value;
}

// The scheme named `name` in system/schemes: a block of name and scheme
// pairs, names compared without case. None when there is no such scheme.
Cell find_scheme(const Cell& name) {
  const Cell schemes = system_value({"schemes"});
  if (!cell::is(schemes, TypeId::block)) return none::make();
  const uint32_t count = block::count(schemes);
  for (uint32_t i = 0; i + 1 < count; i += 2) {
    const Cell key = *block::at(schemes, i);
    if (cell::is(key, TypeId::word) && symbol::resolve(key.w2) == symbol::resolve(name.w2))
      return *block::at(schemes, i + 1);
  }
  return none::make();
}

// ---- making a port ----

// Evaluates `text` as a block of code and leaves its value on the stack.
Val push_evaluated(std::string_view text) {
  Val code = lexer::scan(text);
  if (interpreter::eval_block(*code, false) != Flow::normal) runtime::throw_pending();
  const Cell made = *stack::last();
  stack::pop(2);
  return stack::push(made);
}

// A new object made by `make prototype spec`, or `make object! spec` when
// the prototype is not an object.
void make_object(Val result, const Cell& prototype, Val spec) {
  *result = cell::is(prototype, TypeId::object) ? prototype : datatype::make(TypeId::object);
  datatype::actions(TypeId::object).make(result, spec, TypeId::object);
}

// The spec block a url! or a file! stands for: its scheme and itself.
Val push_spec_block(Val target) {
  std::string scheme = "file";
  if (cell::is(*target, TypeId::url)) {
    const std::string text = string::to_utf8(*target);
    scheme = text.substr(0, text.find(':'));
  }
  Val block = block::push_new(4);
  block::append(block, word::make(TypeId::set_word, no_node, symbol::make("scheme"), word::unresolved));
  block::append(block, word::make(TypeId::lit_word, no_node, symbol::make(scheme), word::unresolved));
  block::append(block, word::make(TypeId::set_word, no_node, symbol::make("ref"), word::unresolved));
  block::append(block, *target);
  return block;
}

// The spec object of `make port! spec`: an object is taken as it is; other
// specs are made into an object over the URL-parts prototype.
Val push_spec_object(Val spec) {
  if (cell::is(*spec, TypeId::object)) return stack::push(*spec);
  Val source = (cell::is(*spec, TypeId::url) || cell::is(*spec, TypeId::file)) ? push_spec_block(spec) : spec;
  Val made = stack::push(none::make());
  make_object(made, system_value({"standard", "url-parts"}), source);
  return made;
}

// A new port over a copy of system/standard/port, or over a port object of
// the standard fields when the system object has none.
Val push_port() {
  Val port = stack::push(system_value({"standard", "port"}));
  if (!cell::is(*port, TypeId::object) || object::field_count(*port) < 3) {
    Val fields = push_evaluated("make object! [spec: scheme: actor: awake: state: data: extra: none]");
    *port = *fields;
    stack::pop(1);
  }
  datatype::actions(TypeId::object).copy(port, std::nullopt, false, std::nullopt);
  cell::set_type(*port, TypeId::port);
  port->w2 = class_id;
  context::self_cell(port->w1) = *port;
  return port;
}

void make_value(Val result, Val spec, TypeId) {
  const uint32_t depth = stack::depth();
  Val spec_object = push_spec_object(spec);
  if (!has_field(*spec_object, 0) || !cell::is(field(*spec_object, 0), TypeId::word))
    error::raise(error_id::access::no_scheme, *spec);
  Val port = push_port();
  field(*port, spec_field) = *spec_object;
  field(*port, scheme_field) = field(*spec_object, 0);
  const Cell scheme = find_scheme(field(*spec_object, 0));
  if (!cell::is(scheme, TypeId::object)) error::raise(error_id::access::unknown_scheme, *spec);
  const Cell actor = has_field(scheme, scheme_actor_field) ? field(scheme, scheme_actor_field) : none::make();
  if (!cell::is(actor, TypeId::object) && !cell::is(actor, TypeId::handle))
    error::raise(error_id::access::invalid_actor, *spec);
  field(*port, actor_field) = actor;
  *result = *port;
  stack::drop_to(depth);
}

// make port! [...]: the fields as an object's are molded, framed by
// "make port! [" and "]"; form writes the same.
int32_t mold_value(Val value, Val out, const MoldOptions& options, int32_t part) {
  return datatype::actions(TypeId::object).mold(value, out, options, part);
}
int32_t form(Val value, Val out, int32_t part) { return mold_value(value, out, {}, part); }

// ---- native action tables ----

std::vector<const ActionTable*>& native_tables() {
  static std::vector<const ActionTable*> tables;
  return tables;
}

// The native table a handle! actor names, or null when the actor is an
// object (or anything else: forwarding then raises invalid-port).
const ActionTable* native_table(const Cell& port) {
  const Cell actor = field(port, actor_field);
  if (!cell::is(actor, TypeId::handle)) return nullptr;
  const uint32_t id = handle::value_of(actor);
  if (id == 0 || id > native_tables().size()) error::raise(error_id::access::invalid_port);
  return native_tables()[id - 1];
}

// The table's function for an action; an empty entry raises
// access/no-port-action naming the action.
template <class Fn>
Fn native_entry(const ActionTable& table, Fn ActionTable::*slot, std::string_view action) {
  if (!(table.*slot)) error::raise(error_id::access::no_port_action, word::unbound(action));
  return table.*slot;
}

// In a port's action function: when the actor is a handle!, the native
// table's function runs in its place and its answer is returned.
#define KIV_NATIVE_ACTION(slot, action, ...)                            \
  if (const ActionTable* native = native_table(*port)) {                \
    return native_entry(*native, slot, action)(port, ##__VA_ARGS__);  \
  }

// ---- forwarding to the actor ----

Cell flag(bool used) { return logic::make(used); }
Cell optional(const std::optional<Val>& value) { return value ? **value : none::make(); }
Cell count_or_none(int32_t count) { return count < 0 ? none::make() : integer::make(count); }

// Calls the actor's function for `action` with the port and `args` in its
// window; answers its result, left on the argument stack. Runs Kiv code.
Val call_actor(Val port, std::string_view action, std::vector<Cell> args) {
  const Cell actor = field(*port, actor_field);
  if (!cell::is(actor, TypeId::object)) error::raise(error_id::access::invalid_port);
  const Cell name = word::unbound(action);
  const Cell function = object::select_value(actor, name.w2);
  if (!cell::is(function, TypeId::function)) error::raise(error_id::access::no_port_action, name);
  Val callee = stack::push(function);
  args.insert(args.begin(), *port);
  stack::mark_function(name, callee->w1, stack::frame::function);
  interpreter::push_arguments(*callee, args);
  if (interpreter::call_function(*callee) != Flow::normal) runtime::throw_pending();
  stack::unwind();
  return stack::last();
}

// Forwards the action and makes the actor's answer the action's result.
void forward(Val port, std::string_view action, std::vector<Cell> args) {
  const uint32_t depth = stack::depth();
  const Cell answer = *call_actor(port, action, std::move(args));
  *port = answer;
  stack::drop_to(depth);
}

// The actor's answer as a truth value or as a count (-1: none).
bool forward_predicate(Val port, std::string_view action) {
  const uint32_t depth = stack::depth();
  const bool answer = logic::is_true(*call_actor(port, action, {}));
  stack::drop_to(depth);
  return answer;
}
int32_t forward_count(Val port, std::string_view action) {
  const uint32_t depth = stack::depth();
  const Cell answer = *call_actor(port, action, {});
  stack::drop_to(depth);
  return cell::is(answer, TypeId::integer) ? cell::get_int32(answer) : -1;
}

template <const char* name, action::UnaryFn ActionTable::*slot>
void unary(Val port) {
  KIV_NATIVE_ACTION(slot, name)
  forward(port, name, {});
}
template <const char* name, action::BinaryFn ActionTable::*slot>
void with_one(Val port, Val value) {
  KIV_NATIVE_ACTION(slot, name, value)
  forward(port, name, {*value});
}
template <const char* name, action::PredicateFn ActionTable::*slot>
bool predicate(Val port) {
  KIV_NATIVE_ACTION(slot, name)
  return forward_predicate(port, name);
}
template <const char* name, action::LengthFn ActionTable::*slot>
int32_t counter(Val port) {
  KIV_NATIVE_ACTION(slot, name)
  return forward_count(port, name);
}
template <const char* name, action::InsertFn ActionTable::*slot>
void insertion(Val port, Val value, int32_t part, bool only, int32_t dup) {
  KIV_NATIVE_ACTION(slot, name, value, part, only, dup)
  // The entry gives a dup count of 1 when /dup is unused.
  const bool duplicated = dup != 1;
  forward(port, name,
          {*value, flag(part >= 0), count_or_none(part), flag(only), flag(duplicated), duplicated ? integer::make(dup) : none::make()});
}
template <const char* name, action::FindFn ActionTable::*slot>
void search(Val port, Val value, const FindOptions& o) {
  KIV_NATIVE_ACTION(slot, name, value, o)
  std::vector<Cell> args{*value,           flag(o.part.has_value()), optional(o.part),         flag(o.only),
                         flag(o.case_),    flag(o.same),             flag(o.any),              flag(o.with.has_value()),
                         optional(o.with), flag(o.skip.has_value()), optional(o.skip),         flag(o.last),
                         flag(o.reverse)};
  if (std::string_view(name) == "find") {
    args.push_back(flag(o.tail));
    args.push_back(flag(o.match));
  }
  forward(port, name, std::move(args));
}

constexpr char append_name[] = "append", at_name[] = "at", back_name[] = "back", change_name[] = "change",
               clear_name[] = "clear", find_name[] = "find", head_name[] = "head", head_q_name[] = "head?",
               index_q_name[] = "index?", insert_name[] = "insert", length_q_name[] = "length?", next_name[] = "next",
               select_name[] = "select", skip_name[] = "skip", swap_name[] = "swap", tail_name[] = "tail",
               tail_q_name[] = "tail?", create_name[] = "create", close_name[] = "close", delete_name[] = "delete",
               query_name[] = "query", rename_name[] = "rename", update_name[] = "update";

void copy(Val port, std::optional<Val> part, bool deep, std::optional<Val> types) {
  KIV_NATIVE_ACTION(&ActionTable::copy, "copy", part, deep, types)
  forward(port, "copy", {flag(part.has_value()), optional(part), flag(deep), flag(types.has_value()), optional(types)});
}

void move(Val port, Val target, int32_t part) {
  KIV_NATIVE_ACTION(&ActionTable::move, "move", target, part)
  forward(port, "move", {*target, flag(part >= 0), count_or_none(part)});
}

void pick(Val port, Val index, int32_t position) {
  KIV_NATIVE_ACTION(&ActionTable::pick, "pick", index, position)
  forward(port, "pick", {*index});
}

void poke(Val port, Val index, int32_t position, Val value) {
  KIV_NATIVE_ACTION(&ActionTable::poke, "poke", index, position, value)
  forward(port, "poke", {*index, *value});
}

void put(Val port, Val key, Val value, bool case_) {
  KIV_NATIVE_ACTION(&ActionTable::put, "put", key, value, case_)
  forward(port, "put", {*key, *value, flag(case_)});
}

void modify(Val port, Val field_word, Val value, bool case_) {
  KIV_NATIVE_ACTION(&ActionTable::modify, "modify", field_word, value, case_)
  forward(port, "modify", {*field_word, *value, flag(case_)});
}

void remove(Val port, std::optional<Val> part, std::optional<Val> key) {
  KIV_NATIVE_ACTION(&ActionTable::remove, "remove", part, key)
  forward(port, "remove", {flag(part.has_value()), optional(part)});
}

void reverse(Val port, std::optional<Val> part, std::optional<Val> skip) {
  KIV_NATIVE_ACTION(&ActionTable::reverse, "reverse", part, skip)
  forward(port, "reverse", {flag(part.has_value()), optional(part)});
}

void sort(Val port, const SortOptions& o) {
  KIV_NATIVE_ACTION(&ActionTable::sort, "sort", o)
  forward(port, "sort",
          {flag(o.case_), flag(o.skip.has_value()), optional(o.skip), flag(o.compare.has_value()), optional(o.compare),
           flag(o.part.has_value()), optional(o.part), flag(o.all), flag(o.reverse), flag(o.stable)});
}

void take(Val port, std::optional<Val> part, bool deep, bool last) {
  KIV_NATIVE_ACTION(&ActionTable::take, "take", part, deep, last)
  forward(port, "take", {flag(part.has_value()), optional(part), flag(deep), flag(last)});
}

void trim(Val port, const TrimOptions& o) {
  KIV_NATIVE_ACTION(&ActionTable::trim, "trim", o)
  forward(port, "trim",
          {flag(o.head), flag(o.tail), flag(o.auto_), flag(o.lines), flag(o.all), flag(o.with.has_value()),
           optional(o.with)});
}

void open(Val port, const OpenOptions& o) {
  KIV_NATIVE_ACTION(&ActionTable::open, "open", o)
  forward(port, "open", {flag(o.new_), flag(o.read), flag(o.write), flag(o.seek), optional(o.allow)});
}

// The open arguments of read and write: /write for a write, /seek passed on.
std::vector<Cell> open_args(bool write, bool seek) {
  return {flag(false), flag(false), flag(write), flag(seek), none::make()};
}

// read: open, copy (with /part), close; the copy is the result.
void read(Val port, const ReadOptions& o) {
  KIV_NATIVE_ACTION(&ActionTable::read, "read", o)
  const uint32_t depth = stack::depth();
  Val kept = stack::push(*port);
  call_actor(kept, "open", open_args(false, o.seek.has_value()));
  Val copied = stack::push(*call_actor(kept, "copy", {flag(o.part.has_value()), optional(o.part), flag(false),
                                                      flag(false), none::make()}));
  call_actor(kept, "close", {});
  *port = *copied;
  stack::drop_to(depth);
}

// write: open for writing, insert the data (with an integer /part), copy
// (with the /part argument), close; the copy is the result.
void write(Val port, Val data, const WriteOptions& o) {
  KIV_NATIVE_ACTION(&ActionTable::write, "write", data, o)
  const uint32_t depth = stack::depth();
  Val kept = stack::push(*port);
  call_actor(kept, "open", open_args(true, o.seek.has_value()));
  const bool counted = o.part && cell::is(**o.part, TypeId::integer);
  call_actor(kept, "insert",
             {*data, flag(counted), counted ? **o.part : none::make(), flag(false), flag(false), none::make()});
  Val copied = stack::push(*call_actor(kept, "copy", {flag(o.part.has_value()), optional(o.part), flag(false),
                                                      flag(false), none::make()}));
  call_actor(kept, "close", {});
  *port = *copied;
  stack::drop_to(depth);
}

}  // namespace

uint32_t add_native_actions(const ActionTable* table) {
  native_tables().push_back(table);
  return static_cast<uint32_t>(native_tables().size());
}

// Slots: make, form, mold and every action from append to write (but
// open?) are the port's own; reflect, eval-path and compare are object!'s;
// random, to and the math actions are unsupported.
void register_types() {
  datatype::register_type({TypeId::port, TypeId::object, "port!",
                           {.make = make_value,
                            .reflect = inherit,
                            .form = form,
                            .mold = mold_value,
                            .eval_path = inherit,
                            .compare = inherit,
                            .append = insertion<append_name, &ActionTable::append>,
                            .at = with_one<at_name, &ActionTable::at>,
                            .back = unary<back_name, &ActionTable::back>,
                            .change = insertion<change_name, &ActionTable::change>,
                            .clear = unary<clear_name, &ActionTable::clear>,
                            .copy = copy,
                            .find = search<find_name, &ActionTable::find>,
                            .head = unary<head_name, &ActionTable::head>,
                            .head_q = predicate<head_q_name, &ActionTable::head_q>,
                            .index_q = counter<index_q_name, &ActionTable::index_q>,
                            .insert = insertion<insert_name, &ActionTable::insert>,
                            .length_q = counter<length_q_name, &ActionTable::length_q>,
                            .move = move,
                            .next = unary<next_name, &ActionTable::next>,
                            .pick = pick,
                            .poke = poke,
                            .put = put,
                            .remove = remove,
                            .reverse = reverse,
                            .select = search<select_name, &ActionTable::select>,
                            .sort = sort,
                            .skip = with_one<skip_name, &ActionTable::skip>,
                            .swap = with_one<swap_name, &ActionTable::swap>,
                            .tail = unary<tail_name, &ActionTable::tail>,
                            .tail_q = predicate<tail_q_name, &ActionTable::tail_q>,
                            .take = take,
                            .trim = trim,
                            .create = unary<create_name, &ActionTable::create>,
                            .close = unary<close_name, &ActionTable::close>,
                            .delete_ = unary<delete_name, &ActionTable::delete_>,
                            .modify = modify,
                            .open = open,
                            .query = unary<query_name, &ActionTable::query>,
                            .read = read,
                            .rename = with_one<rename_name, &ActionTable::rename>,
                            .update = unary<update_name, &ActionTable::update>,
                            .write = write}});
}

}  // namespace kiv::port
