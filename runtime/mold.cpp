#include "runtime/mold.h"

#include <string>

#include "runtime/core/cycle.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"

namespace kiv::mold {

int32_t form_value(Val value, Val out, int32_t part) {
  const action::FormFn form = datatype::actions(cell::type_of(*value)).form;
  if (!form) error::raise(error_id::internal::not_done);
  return form(value, out, part);
}

int32_t mold_value(Val value, Val out, const MoldOptions& options, int32_t part) {
  const action::MoldFn mold = datatype::actions(cell::type_of(*value)).mold;
  if (!mold) error::raise(error_id::internal::not_done);
  return mold(value, out, options, part);
}

int32_t emit(Val out, std::string_view text, int32_t part) {
  string::append_latin1(out, text);
  return part - static_cast<int32_t>(text.size());
}

int32_t emit_utf8(Val out, std::string_view text, int32_t part) {
  const std::string copy(text);  // `text` may lie in a buffer that appending moves
  string::append_utf8(out, copy);
  int32_t characters = 0;
  for (char c : copy) characters += (static_cast<uint8_t>(c) & 0xC0) != 0x80;
  return part - characters;
}

void indent(Val out, int32_t levels) {
  for (int32_t i = 0; i < levels; ++i) string::append_latin1(out, "    ");
}

bool cycle_check(const Cell& value, Val out, int32_t& part, bool molding) {
  // An object's series is its context; every other series type names its
  // node in w2.
  const NodeId node = cell::is(value, TypeId::object) ? value.w1 : series::node_of(value);
  if (!cycle::find(node)) return false;
  const TypeId type = cell::type_of(value);  // read before appending: may allocate
  part = emit(out, cycle::elision(type, molding), part);
  return true;
}

}  // namespace kiv::mold
