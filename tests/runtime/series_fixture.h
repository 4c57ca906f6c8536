// Building blocks and strings for series tests.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "runtime/core/series.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv::testing {

// Words stand in for values: they mold as their names.
inline Cell w(std::string_view name) { return word::intern(name); }

// A block of the given cells. They wait on the argument stack while the
// block is made: those that refer to series must stay reachable.
inline Held blk(std::initializer_list<Cell> items, TypeId type = TypeId::block) {
  const uint32_t first = stack::depth();
  for (const Cell& item : items) stack::push(item);
  Val block = block::push_new(static_cast<uint32_t>(items.size()), type);
  for (uint32_t i = 0; i < items.size(); ++i) block::append(block, *stack::ArgStack::at(first + i));
  const Cell made = *block;
  stack::drop_to(first);
  return Held(made);
}

// A block of words named by the characters of `names`: "abc" is [a b c].
inline Held letters(std::string_view names) {
  Val block = block::push_new(static_cast<uint32_t>(names.size()));
  for (char name : names) block::append(block, w(std::string(1, name)));
  const Cell made = *block;
  stack::pop(1);
  return Held(made);
}

// A string! of `utf8`, or a value of another string type (file!, tag!...).
inline Held str(std::string_view utf8, TypeId type = TypeId::string) {
  Val text = string::push_new(static_cast<uint32_t>(utf8.size()));
  string::append_utf8(text, utf8);
  const Cell made = cell::set_type(*text, type);
  stack::pop(1);
  return Held(made);
}

inline Cell at_index(Cell series, uint32_t index) {
  series.w1 = index;
  return series;
}

}  // namespace kiv::testing
