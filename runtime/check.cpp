#include "runtime/check.h"

#include "runtime/core/error_raise.h"
#include "runtime/datatypes/datatype.h"

namespace kiv::check {

void raise_expect_arg(const Cell& value, uint32_t arg_index) {
  // The function's name and the argument's word come from the call stack
  // once one exists; until then both are none.
  (void)arg_index;
  const Cell none{cell::header(TypeId::none), 0, 0, 0};
  error::raise(error_id::script::expect_arg, none, datatype::make(cell::type_of(value)), none);
}

void arg_type(const Cell& set, const Cell& value, uint32_t arg_index) {
  if (!typeset::has(set, cell::type_of(value))) raise_expect_arg(value, arg_index);
}

void not_unset(const Cell& value, uint32_t arg_index) {
  if (cell::is(value, TypeId::unset)) raise_expect_arg(value, arg_index);
}

}  // namespace kiv::check
