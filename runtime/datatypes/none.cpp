#include "runtime/datatypes/none.h"

#include "runtime/datatypes/datatype.h"
#include "runtime/mold.h"

namespace kiv::none {
namespace {

void make_value(Val result, Val, TypeId) { *result = make(); }

int32_t form(Val, Val out, int32_t part) { return mold::emit(out, "none", part); }

int32_t mold_value(Val, Val out, const MoldOptions& options, int32_t part) {
  return mold::emit(out, options.all ? "#(none)" : "none", part);
}

int compare(const Cell&, const Cell& other, CmpOp op) { return compare_single_valued(other, TypeId::none, op); }

// Series actions on none answer none: `find none x`, `take none`, ...
void answer_none(Val series) { *series = make(); }
void find_none(Val series, Val, const FindOptions&) { answer_none(series); }
void remove_none(Val series, std::optional<Val>, std::optional<Val>) { answer_none(series); }
void take_none(Val series, std::optional<Val>, bool, bool) { answer_none(series); }
int32_t no_length(Val) { return -1; }

}  // namespace

void register_types() {
  datatype::register_type({TypeId::none, TypeId::none_type, "none!",
                           {.make = make_value,
                            .to = make_value,
                            .form = form,
                            .mold = mold_value,
                            .compare = compare,
                            .clear = answer_none,
                            .find = find_none,
                            .length_q = no_length,
                            .remove = remove_none,
                            .select = find_none,
                            .take = take_none}});
}

}  // namespace kiv::none
