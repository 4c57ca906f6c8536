#include "runtime/datatypes/unset.h"

#include "runtime/datatypes/datatype.h"
#include "runtime/mold.h"

namespace kiv::unset {
namespace {

void make_value(Val result, Val, TypeId) { *result = make(); }

int32_t form(Val, Val, int32_t part) { return part; }

int32_t mold_value(Val, Val out, const MoldOptions& options, int32_t part) {
  return mold::emit(out, options.all ? "#(unset)" : "unset", part);
}

int compare(const Cell&, const Cell& other, CmpOp op) { return compare_single_valued(other, TypeId::unset, op); }

}  // namespace

void register_types() {
  datatype::register_type({TypeId::unset, TypeId::none_type, "unset!",
                           {.make = make_value, .to = make_value, .form = form, .mold = mold_value,
                            .compare = compare}});
}

}  // namespace kiv::unset
