#include "runtime/datatypes/ref.h"

#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"

namespace kiv::ref {
namespace {

// "@" and the text (its budget one less for the "@").
int32_t mold(Val value, Val out, const MoldOptions&, int32_t part) {
  string::append_latin1(out, "@");
  return datatype::actions(TypeId::string).form(value, out, part - 1);
}

}  // namespace

void register_types() {
  ActionSlots slots = string::inherited_slots();
  slots.random = {};
  slots.mold = mold;
  slots.eval_path = {};
  slots.append = {};
  slots.sort = {};
  slots.trim = {};
  datatype::register_type({TypeId::ref, TypeId::string, "ref!", slots});
}

}  // namespace kiv::ref
