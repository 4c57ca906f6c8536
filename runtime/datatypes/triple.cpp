#include "runtime/datatypes/triple.h"

#include <string>

#include "runtime/datatypes/datatype.h"
#include "runtime/mold.h"

namespace kiv::triple {
namespace {

// Form and mold write the same text; the budget drops by what is written.
int32_t mold_value(Val value, Val out, const MoldOptions&, int32_t part) {
  const Cell triple = *value;
  const std::string text = "make triple! [" + std::to_string(first(triple)) + " " + std::to_string(second(triple)) +
                           " " + std::to_string(third(triple)) + "]";
  return mold::emit(out, text, part);
}

int32_t form(Val value, Val out, int32_t part) { return mold_value(value, out, {}, part); }

}  // namespace

// form and mold are the only actions: a triple is made by the runtime,
// never by make or to.
void register_types() {
  datatype::register_type({TypeId::triple, TypeId::none_type, "triple!", {.form = form, .mold = mold_value}});
}

}  // namespace kiv::triple
