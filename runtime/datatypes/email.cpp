#include "runtime/datatypes/email.h"

#include <string_view>

#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"

namespace kiv::email {
namespace {

// The bare address: no sigil, no quotes.
int32_t mold(Val value, Val out, const MoldOptions&, int32_t part) {
  return datatype::actions(TypeId::string).form(value, out, part);
}

// e/user and e/host read the text before and after the first "@" (without
// one, the whole address is the user part) as a new string!; setting one
// changes that part of the address itself. e/2 is string path access.
void eval_path(PathStep& step) {
  const Cell selector = *step.selector;
  if (cell::is(selector, TypeId::integer)) {
    datatype::actions(TypeId::string).eval_path(step);
    return;
  }
  bool host = false;
  if (cell::is(selector, TypeId::word)) {
    const std::string_view name = symbol::spelling(selector.w2);
    host = symbol::equal_caseless(name, "host");
    if (!host && !symbol::equal_caseless(name, "user")) error::raise(error_id::script::invalid_path, step.path, selector);
  } else {
    error::raise(error_id::script::invalid_path, step.path, selector);
  }

  const Cell address = *step.value;
  const NodeId node = series::node_of(address);
  const uint32_t from = series_type::head(address);
  const uint32_t end = series_type::total(address);
  uint32_t at_sign = from;
  while (at_sign < end && string::char_at(node, at_sign) != '@') ++at_sign;
  const bool split = at_sign < end;
  const uint32_t start = host ? (split ? at_sign + 1 : end) : from;
  const uint32_t count = host ? end - start : at_sign - from;

  if (!step.new_value) {
    Cell part = series_type::copy_range(address, start, count);
    *step.value = cell::set_type(part, TypeId::string);
    return;
  }
  Val part = stack::push(address);
  Val new_value = stack::push(*step.new_value);
  if (host && !split) string::append_char(part, '@');  // a host needs its "@"
  part->w1 = host && !split ? series_type::total(address) : start;
  datatype::actions(TypeId::email).change(part, new_value, static_cast<int32_t>(count), false, 1);
  stack::pop(2);
}

}  // namespace

void register_types() {
  ActionSlots slots = string::inherited_slots();
  slots.random = {};
  slots.mold = mold;
  slots.eval_path = eval_path;
  slots.sort = {};
  slots.trim = {};
  datatype::register_type({TypeId::email, TypeId::string, "email!", slots});
}

}  // namespace kiv::email
