#include "runtime/datatypes/error.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/error_raise.h"
#include "runtime/error_codes.h"
#include "runtime/eval/stack.h"
#include "runtime/mold.h"
#include "runtime/series.h"

namespace kiv::error_type {
namespace {

enum Field : uint32_t { code = 0, arg1 = 1, near = 4, where = 5 };
constexpr int32_t near_limit = 60;

Cell field(const Cell& error, uint32_t index) {
  return reinterpret_cast<const Cell*>(memory::buffer(error.w2)->head_ptr())[index];
}

int32_t mold_field(Val out, const Cell& value, int32_t part) {
  Val item = stack::push(value);
  part = mold::mold_value(item, out, {}, part);
  stack::pop(1);
  return part;
}

// "*** Script Error: no-value: x" then the Where and Near lines.
int32_t form(Val value, Val out, int32_t part) {
  const uint32_t number = field(*value, code).w2;
  const auto category = number / 100;
  part = mold::emit(out, "*** ", part);
  part = mold::emit(out, category < 10 ? err::category_titles[category] : "Error", part);
  part = mold::emit(out, ": ", part);
  for (const auto& entry : err::catalogue_words)
    if (entry.code == number) part = mold::emit(out, entry.id, part);
  for (uint32_t i = arg1; i < arg1 + 3; ++i) {
    const Cell arg = field(*value, i);
    if (cell::is(arg, TypeId::none)) continue;
    part = mold::emit(out, " ", part);
    part = mold_field(out, arg, part);
  }
  const Cell where_word = field(*value, where);
  if (!cell::is(where_word, TypeId::none)) {
    part = mold::emit(out, "\n*** Where: ", part);
    part = mold_field(out, where_word, part);
  }
  const Cell near_block = field(*value, near);
  if (cell::is(near_block, TypeId::block)) {
    // The expression and a little of what follows, on one line.
    part = mold::emit(out, "\n*** Near : ", part);
    Val near_text = string::push_new(64);
    Val item = stack::push(near_block);
    mold::mold_value(item, near_text, {.flat = true}, near_limit);
    std::string text = string::to_utf8(*near_text);
    if (text.size() > near_limit) text = text.substr(0, near_limit) + " ...";
    stack::pop(2);
    part = mold::emit_utf8(out, text, part);
  }
  return part;
}

int32_t mold_value(Val value, Val out, const MoldOptions&, int32_t part) { return form(value, out, part); }

// err/code, err/type (the category), err/id, err/arg1..3, err/near,
// err/where.
void eval_path(PathStep& step) {
  if (step.new_value) error::raise(err::script::bad_path_set, step.path, *step.selector);
  const std::string_view name = word::is_any_word(cell::type_of(*step.selector))
                                    ? symbol::spelling(symbol::resolve(step.selector->w2))
                                    : std::string_view();
  const Cell value = *step.value;
  const uint32_t number = field(value, code).w2;
  if (name == "code") {
    *step.value = field(value, code);
  } else if (name == "type" || name == "id") {
    for (const auto& entry : err::catalogue_words) {
      if (entry.code != number) continue;
      *step.value = word::intern(name == "type" ? entry.category : entry.id);
      return;
    }
    *step.value = none::make();
  } else if (name == "arg1" || name == "arg2" || name == "arg3") {
    *step.value = field(value, arg1 + static_cast<uint32_t>(name[3] - '1'));
  } else if (name == "near") {
    *step.value = field(value, near);
  } else if (name == "where") {
    *step.value = field(value, where);
  } else {
    error::raise(err::script::invalid_path, step.path, *step.selector);
  }
}

}  // namespace

void register_type() {
  datatype::register_type({TypeId::error, TypeId::none_type, "error!", {.form = form, .mold = mold_value, .eval_path = eval_path}});
}

}  // namespace kiv::error_type
