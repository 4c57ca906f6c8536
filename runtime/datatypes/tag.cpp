#include "runtime/datatypes/tag.h"

#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"

namespace kiv::tag {
namespace {

// "<", the text (its budget one less for the "<"), ">". Answers the budget
// left after the ">".
int32_t form(Val value, Val out, int32_t part) {
  string::append_latin1(out, "<");
  part = datatype::actions(TypeId::string).form(value, out, part - 1);
  string::append_latin1(out, ">");
  return part - 1;
}

// A tag's source form is its formed text.
int32_t mold(Val value, Val out, const MoldOptions&, int32_t part) { return form(value, out, part); }

}  // namespace

void register_types() {
  ActionSlots slots = string::inherited_slots();
  slots.random = {};
  slots.form = form;
  slots.mold = mold;
  slots.sort = {};
  slots.trim = {};
  datatype::register_type({TypeId::tag, TypeId::string, "tag!", slots});
}

}  // namespace kiv::tag
