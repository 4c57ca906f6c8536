// Building blocks and strings for series tests.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/mold.h"
#include "runtime/series.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv::testing {

// Words stand in for values: they mold as their names.
inline Cell w(std::string_view name) { return word::intern(name); }

// A block of the given cells.
inline Cell blk(std::initializer_list<Cell> items, TypeId type = TypeId::block) {
  Val block = block::push_new(static_cast<uint32_t>(items.size()), type);
  for (const Cell& item : items) block::append(block, item);
  const Cell made = *block;
  stack::pop(1);
  return made;
}

// A block of words named by the characters of `names`: "abc" is [a b c].
inline Cell letters(std::string_view names) {
  Val block = block::push_new(static_cast<uint32_t>(names.size()));
  for (char name : names) block::append(block, w(std::string(1, name)));
  const Cell made = *block;
  stack::pop(1);
  return made;
}

inline Cell str(std::string_view utf8) {
  Val text = string::push_new(static_cast<uint32_t>(utf8.size()));
  string::append_utf8(text, utf8);
  const Cell made = *text;
  stack::pop(1);
  return made;
}

inline Cell at_index(Cell series, uint32_t index) {
  series.w1 = index;
  return series;
}

inline std::string molded(const Cell& value, MoldOptions options = {}, int32_t part = 1 << 30) {
  Val v = stack::push(value);
  Val out = string::push_new(16);
  mold::mold_value(v, out, options, part);
  const std::string text = string::to_utf8(*out);
  stack::pop(2);
  return text;
}

inline std::string formed(const Cell& value) {
  Val v = stack::push(value);
  Val out = string::push_new(16);
  mold::form_value(v, out, 1 << 30);
  const std::string text = string::to_utf8(*out);
  stack::pop(2);
  return text;
}

}  // namespace kiv::testing
