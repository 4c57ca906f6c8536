#include "runtime/datatypes/error.h"

#include <string>
#include <string_view>

#include "runtime/core/error_codes.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/error_catalog.h"
#include "runtime/mold.h"

namespace kiv::error_value {
namespace {

// Positions in the fields block.
enum Field : uint32_t { code = 0, arg1 = 1, near = 4, where = 5 };

// Argument text in syntax errors and the Near line are cut to these many
// characters.
constexpr size_t syntax_arg_limit = 80;
constexpr size_t near_limit = 40;

Cell field(const Cell& error, uint32_t index) {
  return reinterpret_cast<const Cell*>(memory::buffer(error.w2)->head_ptr())[index];
}

error_id::Code code_of(const Cell& error) { return error_id::Code{static_cast<uint16_t>(field(error, code).w2)}; }

// The error field named `name` (code, type, id, arg1..arg3, near, where),
// else none; `replaced_arg1`, when given, stands for arg1. The type and id
// words come from the catalogue. May collect.
Cell named_field(const Cell& error, std::string_view name, const Cell* replaced_arg1 = nullptr) {
  const auto is = [name](std::string_view candidate) { return symbol::equal_caseless(name, candidate); };
  const error_id::Code number = code_of(error);
  if (is("code")) return field(error, code);
  if (is("type") || is("id")) {
    const std::string_view word =
        is("type") ? error_catalog::category_name(static_cast<uint32_t>(number.category())) : error_catalog::id_name(number);
    return word.empty() ? none::make() : word::intern(std::string(word));
  }
  if (is("arg1") && replaced_arg1) return *replaced_arg1;
  if (is("arg1") || is("arg2") || is("arg3")) return field(error, arg1 + static_cast<uint32_t>(name[3] - '1'));
  if (is("near")) return field(error, near);
  if (is("where")) return field(error, where);
  return none::make();
}

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

// The message of the template, its words and get-words standing for the
// fields of `error`: a string as it is, a block element by element with a
// space between (strings as they are, fields molded, or in syntax errors
// formed and cut). May collect.
int32_t write_message(Val error, Val out, const Cell& message, int32_t part, bool syntax, const Cell* replaced_arg1) {
  Val body = stack::push(message);
  if (type_traits::is_all_word(cell::type_of(*body))) *body = named_field(*error, symbol::spelling(body->w2), replaced_arg1);
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
        const Cell value = named_field(*error, symbol::spelling(element.w2), replaced_arg1);
        part = write_value(out, value, part, syntax, {}, syntax ? syntax_arg_limit : 0);
      } else {
        part = write_value(out, element, part, true);
      }
    }
  }
  stack::pop(1);
  return part;
}

// "*** " and the category's title, ": " and the message; then the Where
// line (the name of the failing call) and the Near line (the code at the
// failure, on one line). An error whose code the catalogue does not know
// is shown as an invalid-error naming that code.
int32_t form(Val value, Val out, int32_t part) {
  error_id::Code number = code_of(*value);
  Cell replaced_arg1;
  const Cell* unknown = nullptr;
  if (error_catalog::id_name(number).empty()) {
    replaced_arg1 = field(*value, code);
    unknown = &replaced_arg1;
    number = error_id::internal::invalid_error;
  }
  const auto category = static_cast<uint32_t>(number.category());
  Val title = stack::push(error_catalog::title(category));
  part = mold::emit(out, "*** ", part);
  part = cell::is(*title, TypeId::string) ? mold::form_value(title, out, part) : mold::emit(out, "Error", part);
  part = mold::emit(out, ": ", part);
  part = write_message(value, out, error_catalog::message_template(number), part,
                       number.category() == error_id::Category::syntax, unknown);

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
  const Cell near_value = field(*value, near);
  part = write_value(out, near_value, part, false, {.only = true, .flat = true}, near_limit);
  stack::pop(1);
  return part;
}

int32_t mold_value(Val value, Val out, const MoldOptions&, int32_t part) { return form(value, out, part); }

// err/code, err/type (the category), err/id, err/arg1..3, err/near,
// err/where.
void eval_path(PathStep& step) {
  if (step.new_value) error::raise(error_id::script::bad_path_set, step.path, *step.selector);
  const std::string_view name = type_traits::is_all_word(cell::type_of(*step.selector))
                                    ? symbol::spelling(step.selector->w2)
                                    : std::string_view();
  static constexpr std::string_view fields[] = {"code", "type", "id", "arg1", "arg2", "arg3", "near", "where"};
  for (const std::string_view known : fields) {
    if (!symbol::equal_caseless(name, known)) continue;
    *step.value = named_field(*step.value, known);
    return;
  }
  error::raise(error_id::script::invalid_path, step.path, *step.selector);
}

}  // namespace

void register_types() {
  datatype::register_type({TypeId::error, TypeId::none_type, "error!", {.form = form, .mold = mold_value, .eval_path = eval_path}});
}

Cell make_from_pending() {
  const error::Pending record = error::pending();
  Val fields = block::push_new(6);
  block::append(fields, Cell{cell::header(TypeId::integer), 0, record.code.value, 0});
  for (const Cell& arg : record.args) block::append(fields, arg);
  block::append(fields, record.near);
  block::append(fields, record.where);
  const Cell value{cell::header(TypeId::error), 0, series::node_of(*fields), 0};
  stack::pop(1);
  return value;
}

}  // namespace kiv::error_value
