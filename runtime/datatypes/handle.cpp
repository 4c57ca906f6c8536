#include "runtime/datatypes/handle.h"

#include <array>
#include <cstdio>
#include <string>

#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/mold.h"

namespace kiv::handle {
namespace {

constexpr std::array<std::string_view, 6> kind_names{"", "fd", "monitor", "window", "font", "rich-text"};

// Eight upper-case hex digits of the value (two's complement when it
// reads as negative), then "h".
std::string hex_text(const Cell& handle) {
  char text[16];
  std::snprintf(text, sizeof text, "%08Xh", static_cast<unsigned>(value_of(handle)));
  return text;
}

int32_t form(Val value, Val out, int32_t part) { return mold::emit(out, hex_text(*value), part); }

// Without /all only the type's name: a handle means nothing outside the
// process that made it, so its digits are not a value to load back.
int32_t mold_value(Val value, Val out, const MoldOptions& options, int32_t part) {
  if (!options.all) return mold::emit(out, "handle!", part);
  std::string text = "#[handle! " + hex_text(*value);
  const std::string_view kind = kind_name(value->w1);
  if (!kind.empty()) {
    text += ' ';
    text += kind;
  }
  text += ']';
  return mold::emit(out, text, part);
}

// By the values as signed numbers; the kind is not looked at. Anything
// that is not a handle is unequal under every op.
int compare(const Cell& a, const Cell& b, CmpOp op) {
  if (!cell::is(b, TypeId::handle)) return compares_unordered(op) ? 1 : -2;
  const auto left = static_cast<int32_t>(value_of(a));
  const auto right = static_cast<int32_t>(value_of(b));
  return (left > right) - (left < right);
}

}  // namespace

std::string_view kind_name(uint32_t kind) { return kind < kind_names.size() ? kind_names[kind] : ""; }

Val push(uint32_t value, Kind kind) { return stack::push(make(value, kind)); }

Val push_null() { return push(0, Kind::null); }

void set_result(uint32_t value, Kind kind) { stack::set_last(make(value, kind)); }

void make_in_block(Val block, uint32_t value, Kind kind) { block::append(block, make(value, kind)); }

// Parent integer!, but nothing is inherited from it.
void register_types() {
  datatype::register_type({TypeId::handle, TypeId::integer, "handle!", {.form = form, .mold = mold_value, .compare = compare}});
}

}  // namespace kiv::handle
