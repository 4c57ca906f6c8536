#include "runtime/datatypes/error.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/core/error_codes.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/exits.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/error_catalog.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/interpreter.h"
#include "runtime/mold.h"

namespace kiv::error_value {
namespace {

constexpr std::string_view field_names[field_count] = {"code", "type", "id",    "arg1",  "arg2",
                                                       "arg3", "near", "where", "stack", "files"};

// Argument text in syntax errors and the Near and Files lines are cut to
// these many characters.
constexpr size_t syntax_arg_limit = 80;
constexpr size_t near_limit = 40;
// Room of a new trace block.
constexpr uint32_t trace_room = 20;

// The standard error: the prototype of every new error.
Cell g_standard = none::make();
Cell g_stack_trace = none::make();
Cell g_source_files = none::make();
// system/state once the library has made it (attach_options), else none;
// the fields of the two options in it.
Cell g_state = none::make();
int32_t g_stack_trace_field = -1;
int32_t g_source_files_field = -1;

// The value slot of a field; valid until the next allocation. Every error
// has the standard error's fields in their order.
Cell& slot(const Cell& error, Field which) { return *context::slot(error.w1, which); }

// The trace option when it is a positive integer, else 0.
int32_t option_level() {
  const Cell& option = stack_trace_option();
  return cell::is(option, TypeId::integer) ? std::max(integer::get(option), 0) : 0;
}
// The level of the traces captured: the option's, else 1.
int32_t trace_level() { return std::max(option_level(), 1); }

// Pushes a new error: a copy of the standard error, every field none.
// May collect.
Val push_new() {
  const NodeId context = context::make(field_count, {.object_made = true, .kind = context::Kind::object}, g_standard.w1);
  Val error = stack::push(Cell{cell::header(TypeId::error), context, class_id, no_node});
  context::self_cell(context) = *error;
  for (uint32_t i = 0; i < field_count; ++i) *series::append_slot(context::context_cell(context).w2) = none::make();
  return error;
}

// Sets `type` and `id` to the catalogue's words for `number` (none for a
// word the catalogue lacks) and `code` to the number. May collect.
void set_catalogue_words(Val error, error_id::Code number) {
  const auto category = static_cast<uint32_t>(number.category());
  const std::string category_name(error_catalog::category_name(category));
  const std::string id_name(error_catalog::id_name(number));
  const Cell category_word = category_name.empty() ? none::make() : word::unbound(category_name);
  const Cell id_word = id_name.empty() ? none::make() : word::unbound(id_name);
  slot(*error, code) = integer::make(number.value);
  slot(*error, type) = category_word;
  slot(*error, id) = id_word;
}

// ---- make ----

[[noreturn]] void invalid_spec_field(Field which) {
  error::raise(error_id::script::invalid_spec_field, word::unbound(field_names[which]));
}

// The code of category word `category` and id word `id_word`, checked
// against the catalogue: script/invalid-spec-field names the field whose
// word names no entry.
int32_t code_of_words(const Cell& category, const Cell& id_word) {
  if (!cell::is(category, TypeId::word)) invalid_spec_field(type);
  const int32_t position = error_catalog::find_category(category.w2);
  if (position < 0) invalid_spec_field(type);
  if (!cell::is(id_word, TypeId::word)) invalid_spec_field(id);
  const int32_t id_position = error_catalog::find_id(static_cast<uint32_t>(position), id_word.w2);
  if (id_position < 0) invalid_spec_field(id);
  return 100 * position + id_position;
}

// make error! 300: the number names the category (number / 100) and the id
// (number mod 100).
void make_from_number(Val result, int32_t number) {
  const bool in_range = number >= 0 && static_cast<uint32_t>(number / 100) < error_catalog::category_count() &&
                        static_cast<uint32_t>(number % 100) < error_catalog::id_count(static_cast<uint32_t>(number / 100));
  if (!in_range) error::raise(error_id::script::out_of_range, integer::make(number));
  Val error = push_new();
  set_catalogue_words(error, error_id::Code{static_cast<uint16_t>(number)});
  *result = *error;
}

// make error! [script no-value]: the words are looked up without regard to
// case, and kept as they are written.
void make_from_names(Val result, Val spec) {
  Cell category = *block::at(*spec, 0);
  if (error_catalog::find_category(category.w2) < 0) invalid_spec_field(type);
  if (block::count(*spec) < 2) invalid_spec_field(id);
  Cell id_word = *block::at(*spec, 1);
  if (!cell::is(id_word, TypeId::word)) error::raise(error_id::script::invalid_arg, id_word);
  const int32_t number = code_of_words(category, id_word);
  cell::clear_new_line(category);
  cell::clear_new_line(id_word);
  Val error = push_new();
  slot(*error, code) = integer::make(number);
  slot(*error, type) = category;
  slot(*error, id) = id_word;
  *result = *error;
}

// make error! [type: 'user id: 'message arg1: "..."]: the block is bound to
// the new error and evaluated; then the type and id it set must name a
// catalogue entry, and the code follows from them.
void make_from_spec(Val result, Val spec) {
  Val error = push_new();
  const NodeId context = error->w1;
  context::bind_block(context, series::node_of(*spec), series::index_of(*spec), true);
  if (interpreter::eval_block(*spec, false) != Flow::normal) runtime::throw_pending();
  stack::pop(1);
  const int32_t number = code_of_words(slot(*error, type), slot(*error, id));
  slot(*error, code) = integer::make(number);
  object::clear_set_flags(context);
  for (uint32_t i = 0; i < field_count; ++i) cell::clear_new_line(slot(*error, static_cast<Field>(i)));
  *result = *error;
}

void make_value(Val result, Val spec, TypeId) {
  switch (cell::type_of(*spec)) {
    case TypeId::integer:
      return make_from_number(result, integer::get(*spec));
    case TypeId::block: {
      const TypeId first = block::count(*spec) > 0 ? cell::type_of(*block::at(*spec, 0)) : TypeId::none;
      if (first == TypeId::word) return make_from_names(result, spec);
      if (first == TypeId::set_word) return make_from_spec(result, spec);
      error::raise(error_id::internal::invalid_error, *spec);
    }
    case TypeId::string: {
      Val error = push_new();
      set_catalogue_words(error, error_id::user::message);
      slot(*error, arg1) = *spec;
      *result = *error;
      return;
    }
    default:
      error::raise(error_id::script::bad_make_arg, datatype::make(TypeId::error), *spec);
  }
}

// ---- form ----

// The first `limit` characters of UTF-8 text.
std::string_view cut(std::string_view text, size_t limit) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte & 0xC0) == 0x80) continue;  // inside a character
    if (characters++ == limit) return text.substr(0, i);
  }
  return text;
}

// Writes the mold of `value` (its form with `formed`), cut to `limit`
// characters when a limit is given: then only about that much is molded,
// however long the value. May collect.
int32_t write_value(Val out, const Cell& value, int32_t part, bool formed, const MoldOptions& options = {},
                    size_t limit = 0) {
  Val item = stack::push(value);
  Val text = string::push_new(32);
  const int32_t budget = limit ? static_cast<int32_t>(limit) + 1 : 1 << 30;
  if (formed) mold::form_value(item, text, budget);
  else mold::mold_value(item, text, options, budget);
  const std::string utf8 = string::to_utf8(*text);
  stack::pop(2);
  return mold::emit_utf8(out, limit ? cut(utf8, limit) : std::string_view(utf8), part);
}

// What a template's word stands for: the error's field of that name
// (none when there is no such field), `arg1` replaced by `replaced_arg1`
// when that is given.
Cell field_named(const Cell& error, const Cell& name, const Cell* replaced_arg1) {
  const int32_t index = object::find_field(error, name.w2);
  if (index < 0) return none::make();
  if (index == arg1 && replaced_arg1) return *replaced_arg1;
  return *context::slot(error.w1, static_cast<uint32_t>(index));
}

// The message of the template, its words and get-words standing for the
// fields of `error`: a string as it is, a block element by element with a
// space between (strings as they are, fields molded, or in syntax errors
// formed and cut). May collect.
int32_t write_message(Val error, Val out, const Cell& message, int32_t part, bool syntax, const Cell* replaced_arg1) {
  Val body = stack::push(message);
  if (type_traits::is_all_word(cell::type_of(*body))) *body = field_named(*error, *body, replaced_arg1);
  if (cell::is(*body, TypeId::string)) {
    part = mold::form_value(body, out, part);
  } else if (cell::is(*body, TypeId::block)) {
    const uint32_t count = block::count(*body);
    for (uint32_t i = 0; i < count; ++i) {
      if (i > 0) part = mold::emit(out, " ", part);
      const Cell element = *block::at(*body, i);
      if (cell::is(element, TypeId::string)) {
        part = write_value(out, element, part, true);
      } else if (type_traits::is_all_word(cell::type_of(element))) {
        const Cell value = field_named(*error, element, replaced_arg1);
        part = write_value(out, value, part, syntax, {}, syntax ? syntax_arg_limit : 0);
      } else {
        part = write_value(out, element, part, true);
      }
    }
  }
  stack::pop(1);
  return part;
}

// The catalogue entry an error's type and id words name; an error whose
// words name none is shown as an internal/invalid-error whose arg1 is the
// word that names nothing.
struct Entry {
  error_id::Code number = error_id::internal::invalid_error;
  bool unknown = false;
  Cell replaced_arg1 = none::make();
};

Entry entry_of(const Cell& error) {
  Entry entry;
  const Cell category = field(error, type);
  const Cell id_word = field(error, id);
  const int32_t position = type_traits::is_all_word(cell::type_of(category))
                               ? error_catalog::find_category(category.w2)
                               : -1;
  if (position < 0) {
    entry.unknown = true;
    entry.replaced_arg1 = category;
    return entry;
  }
  const int32_t id_position = type_traits::is_all_word(cell::type_of(id_word))
                                  ? error_catalog::find_id(static_cast<uint32_t>(position), id_word.w2)
                                  : -1;
  if (id_position < 0) {
    entry.unknown = true;
    entry.replaced_arg1 = id_word;
    return entry;
  }
  entry.number = error_id::Code{static_cast<uint16_t>(100 * position + id_position)};
  return entry;
}

// The Stack line's calls: the captured trace formed, or, not captured yet,
// the calls still running below the depth where the error was raised.
int32_t write_trace(Val value, Val out, int32_t level, int32_t part) {
  const Cell trace = field(*value, stack);
  if (cell::is(trace, TypeId::integer)) {
    const int32_t depth = integer::get(trace);
    return depth > 0 ? stack::form_calls(level, static_cast<uint32_t>(depth), out, part) : part;
  }
  if (cell::is(trace, TypeId::block)) return write_value(out, trace, part, true);
  return part;
}

// "*** " and the category's title, ": " and the message; then the Where
// line (the name of the failing call), the Near line (the code at the
// failure, on one line), the Stack line while the trace option asks for
// it, and the Files line when there are files.
int32_t form(Val value, Val out, int32_t part) {
  Entry entry = entry_of(*value);
  Val replaced = stack::push(entry.replaced_arg1);  // kept while the text is written
  const auto category = static_cast<uint32_t>(entry.number.category());
  Val title = stack::push(error_catalog::title(category));
  part = mold::emit(out, "*** ", part);
  part = cell::is(*title, TypeId::string) ? mold::form_value(title, out, part) : mold::emit(out, "Error", part);
  part = mold::emit(out, ": ", part);
  part = write_message(value, out, error_catalog::message_template(entry.number), part,
                       entry.number.category() == error_id::Category::syntax, entry.unknown ? &*replaced : nullptr);

  part = mold::emit(out, "\n*** Where: ", part);
  const Cell where_value = field(*value, where);
  if (type_traits::is_all_word(cell::type_of(where_value))) {
    const std::string name(symbol::spelling(where_value.w2));  // `out` may grow and move the symbol's text
    part = mold::emit_utf8(out, name, part);
  } else if (cell::is(where_value, TypeId::string)) {
    part = write_value(out, where_value, part, true);
  } else {
    part = mold::emit(out, "???", part);
  }

  part = mold::emit(out, "\n*** Near : ", part);
  part = write_value(out, field(*value, near), part, false, {.only = true, .flat = true}, near_limit);

  if (const int32_t level = option_level(); level > 0) {
    part = mold::emit(out, "\n*** Stack: ", part);
    part = write_trace(value, out, level, part);
  }
  const Cell files_value = field(*value, files);
  if (cell::is(files_value, TypeId::block)) {
    part = mold::emit(out, "\n*** Files: ", part);
    part = write_value(out, files_value, part, false, {.only = true, .flat = true}, near_limit);
  }
  stack::pop(2);
  return part;
}

}  // namespace

void init() {
  roots::add_permanent(&g_standard);
  roots::add_permanent(&g_stack_trace);
  roots::add_permanent(&g_source_files);
  g_stack_trace = integer::make(1);
  g_source_files = none::make();
  roots::add_permanent(&g_state);
  g_state = none::make();
  g_stack_trace_field = -1;
  g_source_files_field = -1;
  const NodeId context = context::make(field_count, {.object_made = true, .kind = context::Kind::object});
  g_standard = Cell{cell::header(TypeId::error), context, class_id, no_node};
  context::self_cell(context) = g_standard;
  for (const std::string_view name : field_names) {
    const uint32_t index = context::add_symbol(context, symbol::make(name), true);
    *context::slot(context, index) = none::make();
  }
}

Cell& stack_trace_option() {
  if (g_stack_trace_field < 0) return g_stack_trace;
  return *context::slot(g_state.w1, static_cast<uint32_t>(g_stack_trace_field));
}
Cell& source_files_option() {
  if (g_source_files_field < 0) return g_source_files;
  return *context::slot(g_state.w1, static_cast<uint32_t>(g_source_files_field));
}

void attach_options(const Cell& state) {
  const uint32_t trace_symbol = word::intern("stack-trace").w2;
  const uint32_t files_symbol = word::intern("source-files").w2;
  const int32_t trace_field = object::find_field(state, trace_symbol);
  const int32_t files_field = object::find_field(state, files_symbol);
  if (trace_field < 0 || files_field < 0) return;
  g_state = state;
  g_stack_trace_field = trace_field;
  g_source_files_field = files_field;
}

Cell field(const Cell& error, Field which) { return slot(error, which); }

Cell make_from_code(int32_t number) {
  const uint32_t depth = stack::depth();
  Val result = stack::push_slot();
  make_from_number(result, number);
  const Cell made = *result;
  stack::drop_to(depth);
  return made;
}

Cell make_from_pending() {
  const error::Pending& record = error::pending();  // its cells stay rooted
  if (cell::is(record.value, TypeId::error)) {
    // An error raised as it is keeps what it says, but learns where it was
    // raised when it does not know.
    const Cell error = record.value;
    if (record.call_depth > 0) {
      if (cell::is(slot(error, where), TypeId::none)) slot(error, where) = record.where;
      if (!cell::is(slot(error, stack), TypeId::block))
        slot(error, stack) = integer::make(static_cast<int32_t>(record.call_depth));
    }
    return error;
  }
  Val error = push_new();
  set_catalogue_words(error, record.code);
  for (uint32_t i = 0; i < 3; ++i) slot(*error, static_cast<Field>(arg1 + i)) = record.args[i];
  slot(*error, near) = record.near;
  slot(*error, where) = record.where;
  if (record.call_depth > 0) slot(*error, stack) = integer::make(static_cast<int32_t>(record.call_depth));
  const Cell made = *error;
  stack::pop(1);
  return made;
}

Cell make_from_pending_with_trace(uint32_t kept_depth) {
  const error::Pending& record = error::pending();
  // An error raised outside any call has no trace, and one raised again
  // keeps the trace it has.
  const bool captures = record.call_depth > 0 && !(cell::is(record.value, TypeId::error) &&
                                                   cell::is(field(record.value, stack), TypeId::block));
  // The frames are read before anything is pushed where their calls'
  // windows were.
  const std::vector<uint32_t> traced =
      captures ? stack::traced_frames(trace_level(), record.call_depth) : std::vector<uint32_t>{};
  stack::ArgStack::drop_to(kept_depth);
  Val error = stack::push(make_from_pending());
  if (captures) {
    Val trace = block::push_new(trace_room);
    stack::append_names(trace, traced);
    slot(*error, stack) = *trace;
    if (cell::is(source_files_option(), TypeId::block) && block::count(source_files_option()) > 0) {
      Val source = stack::push(source_files_option());
      const Cell copied = block::copy(source, false);
      slot(*error, files) = copied;
      stack::pop(1);
    }
    stack::pop(1);
  }
  const Cell made = *error;
  stack::pop(1);
  return made;
}

void fire(const Cell& error) {
  const Cell number = field(error, code);
  const bool valid = cell::is(number, TypeId::integer) && integer::get(number) >= 0 && integer::get(number) <= 0xFFFF;
  error::raise_value(error, valid ? error_id::Code{static_cast<uint16_t>(integer::get(number))}
                                  : error_id::internal::invalid_error);
}

// Slots: make and form are error!'s own; reflect, mold, eval-path,
// compare, copy and select are object!'s (mold writes the datatype's own
// name, so that an error molds as "make error! [" and its fields; compare
// compares an error with errors only); every other action is unsupported.
void register_types() {
  datatype::register_type({TypeId::error, TypeId::object, "error!",
                           {.make = make_value,
                            .reflect = inherit,
                            .form = form,
                            .mold = inherit,
                            .eval_path = inherit,
                            .compare = inherit,
                            .copy = inherit,
                            .select = inherit}});
}

}  // namespace kiv::error_value
