#include "runtime/check.h"

#include "runtime/core/error_raise.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/eval/call_stack.h"

namespace kiv::check {

void raise_expect_arg(const Cell& value, uint32_t arg_index) {
  error::raise(error_id::script::expect_arg, stack::caller_name(), datatype::make(cell::type_of(value)),
               stack::caller_arg_word(arg_index));
}

void arg_type(const Cell& set, const Cell& value, uint32_t arg_index) {
  if (!typeset::has(set, cell::type_of(value))) raise_expect_arg(value, arg_index);
}

void not_unset(const Cell& value, uint32_t arg_index) {
  if (cell::is(value, TypeId::unset)) raise_expect_arg(value, arg_index);
}

}  // namespace kiv::check
