#include "runtime/datatypes/native.h"

#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/lexer.h"
#include "runtime/eval/natives.h"
#include "runtime/mold.h"

namespace kiv::native {
namespace {

constexpr uint32_t op_type_shift = cell::op_wrapped_type_shift;

// An op! needs exactly two arguments, the left one a plain word.
bool has_two_plain_left_arguments(const Cell& spec) {
  int count = 0;
  for (uint32_t i = 0; i < block::count(spec); ++i) {
    const Cell item = *block::at(spec, i);
    switch (cell::type_of(item)) {
      case TypeId::word:
        ++count;
        break;
      case TypeId::lit_word:
      case TypeId::get_word:
        if (count == 0) return false;
        ++count;
        break;
      case TypeId::set_word:
        return count == 2;
      case TypeId::refinement: {
        const std::string_view name = symbol::spelling(item.w2);
        if (symbol::equal_caseless(name, "local") || symbol::equal_caseless(name, "extern")) return count == 2;
        return false;
      }
      default:
        break;
    }
  }
  return count == 2;
}

void make_native(Val result, Val spec, TypeId type) {
  const bool well_formed = cell::is(*spec, TypeId::block) && block::count(*spec) == 2 &&
                           cell::is(*block::at(*spec, 0), TypeId::block) &&
                           cell::is(*block::at(*spec, 1), TypeId::integer);
  if (!well_formed) error::raise(error_id::script::bad_make_arg, datatype::make(type), *spec);
  // Only entries that exist can be named: an empty one would be a call to
  // nothing.
  const int32_t index = cell::get_int32(*block::at(*spec, 1));
  const bool exists = index >= 1 && (type == TypeId::native ? natives::entry(static_cast<uint32_t>(index)) != nullptr
                                                             : action_entries::entry(static_cast<uint32_t>(index)) != nullptr);
  if (!exists) error::raise(error_id::script::bad_make_arg, datatype::make(type), *spec);
  Val spec_block = stack::push(*block::at(*spec, 0));
  *result = make(type, static_cast<uint32_t>(index), spec_block);
}

void make_op_value(Val result, Val spec, TypeId) { *result = make_op(*spec); }

void reflect(Val value, Val field) {
  const std::string_view name = symbol::spelling(symbol::resolve(field->w2));
  const Cell callable = *value;
  if (name == "spec") {
    *value = series::make(TypeId::block, callable.w2);
  } else if (name == "body") {
    if (cell::is(callable, TypeId::op) && wrapped_type(callable) == TypeId::function)
      *value = function::metadata(callable, function::meta::body);
    else
      *value = Cell{cell::header(TypeId::integer), 0, callable.w1, 0};
  } else {
    error::raise(error_id::internal::not_done);
  }
}

int32_t form_native(Val, Val out, int32_t part) { return mold::emit(out, "?native?", part); }
int32_t form_action(Val, Val out, int32_t part) { return mold::emit(out, "?action?", part); }
int32_t form_op(Val, Val out, int32_t part) { return mold::emit(out, "?op?", part); }

int32_t mold_spec_in_brackets(Val value, Val out, std::string_view prefix, const MoldOptions& options, int32_t part) {
  part = mold::emit(out, prefix, part);
  part = mold::emit(out, "[", part);
  Val spec = stack::push(series::make(TypeId::block, value->w2));
  part = mold::mold_value(spec, out, options, part);
  stack::pop(1);
  return mold::emit(out, "]", part);
}

int32_t mold_native(Val value, Val out, const MoldOptions& options, int32_t part) {
  return mold_spec_in_brackets(value, out, "make native! ", options, part);
}
int32_t mold_action(Val value, Val out, const MoldOptions& options, int32_t part) {
  return mold_spec_in_brackets(value, out, "make action! ", options, part);
}
int32_t mold_op(Val value, Val out, const MoldOptions& options, int32_t part) {
  if (wrapped_type(*value) != TypeId::function) return mold_spec_in_brackets(value, out, "make op! ", options, part);
  part = mold::emit(out, "make op! ", part);
  Val fn = stack::push(*value);
  cell::set_type(*fn, TypeId::function);
  fn->header &= ~(0xFFu << op_type_shift);
  part = mold::mold_value(fn, out, options, part);
  stack::pop(1);
  return part;
}

int compare(const Cell& a, const Cell& b, CmpOp op) {
  if (cell::type_of(a) != cell::type_of(b) || !compares_unordered(op)) return -2;
  return a.w1 == b.w1 ? 0 : a.w1 < b.w1 ? -1 : 1;
}

}  // namespace

Cell make(TypeId type, uint32_t index, Val spec) {
  Val extra = block::push_new(2);
  block::append(extra, none::make());
  block::append(extra, none::make());
  const Cell value{cell::header(type), index, series::node_of(*spec), series::node_of(*extra)};
  stack::pop(1);
  return value;
}

void define(TypeId type, uint32_t index, std::string_view name, std::string_view spec_text) {
  Val spec = lexer::scan(spec_text);
  Val value = stack::push(make(type, index, spec));
  Val word = stack::push(word::intern(name));
  context::set(word, value);
  stack::pop(3);
}

Cell make_op(const Cell& function) {
  const TypeId type = cell::type_of(function);
  if (type != TypeId::native && type != TypeId::action && type != TypeId::function && type != TypeId::routine)
    error::raise(error_id::script::invalid_type, datatype::make(type));
  if (!has_two_plain_left_arguments(series::make(TypeId::block, function.w2))) error::raise(error_id::script::bad_op_spec);
  Cell op = function;
  op.header = cell::header(TypeId::op) | (static_cast<uint32_t>(type) << op_type_shift);
  if (type == TypeId::function) *function::metadata_slot(function, function::meta::op_function) = function;
  return op;
}

void register_types() {
  datatype::register_type({TypeId::native, TypeId::none_type, "native!",
                           {.make = make_native, .reflect = reflect, .form = form_native, .mold = mold_native,
                            .compare = compare}});
  datatype::register_type({TypeId::action, TypeId::native, "action!",
                           {.make = make_native, .reflect = inherit, .form = form_action, .mold = mold_action,
                            .compare = compare}});
  datatype::register_type({TypeId::op, TypeId::native, "op!",
                           {.make = make_op_value, .reflect = inherit, .form = form_op, .mold = mold_op,
                            .compare = compare}});
}

}  // namespace kiv::native
