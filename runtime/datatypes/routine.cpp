#include "runtime/datatypes/routine.h"

#include <string>
#include <vector>

#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/lexer.h"
#include "runtime/mold.h"

namespace kiv::routine {
namespace {

struct Entry {
  std::string name;
  std::string spec;
  Body body;
};

std::vector<Entry>& table() {
  static std::vector<Entry> entries;
  return entries;
}

constexpr uint32_t code_cell = 2;

int32_t form(Val, Val out, int32_t part) { return mold::emit(out, "?routine?", part); }

int32_t mold_value(Val value, Val out, const MoldOptions& options, int32_t part) {
  part = mold::emit(out, "routine ", part);
  Val spec = stack::push(series::make(TypeId::block, value->w2));
  part = mold::mold_value(spec, out, options, part);
  stack::pop(1);
  return mold::emit(out, " none", part);
}

}  // namespace

void add(std::string_view name, std::string_view spec, Body body) {
  table().push_back({std::string(name), std::string(spec), body});
}

bool push_value(std::string_view name) {
  for (uint32_t i = 0; i < table().size(); ++i) {
    if (table()[i].name != name) continue;
    const uint32_t depth = stack::depth();
    Val spec = lexer::scan(table()[i].spec);
    Val none_body = stack::push(Cell{cell::header(TypeId::none), 0, 0, 0});
    Val value = function::make(spec, none_body);
    cell::set_type(*value, TypeId::routine);
    *function::metadata_slot(*value, code_cell) = Cell{cell::header(TypeId::integer), 0, i, 0};
    context::self_cell(value->w1) = *value;
    const Cell made = *value;
    stack::drop_to(depth);
    stack::push(made);
    return true;
  }
  return false;
}

void define(std::string_view name) {
  const uint32_t depth = stack::depth();
  if (!push_value(name)) return;
  Val value = stack::last();
  Val word = stack::push(word::intern(name));
  context::set(word, value);
  stack::drop_to(depth);
}

Body body_of(const Cell& routine) { return table()[function::metadata(routine, code_cell).w2].body; }

void register_types() {
  datatype::register_type({TypeId::routine, TypeId::function, "routine!",
                           {.reflect = inherit, .form = form, .mold = mold_value, .compare = inherit}});
}

}  // namespace kiv::routine
