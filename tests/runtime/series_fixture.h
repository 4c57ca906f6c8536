// Building blocks and strings for series tests.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "runtime/core/series.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/mold.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv::testing {

// A value kept on the argument stack until the test ends: what the helpers
// below answer, so that a test may hold a block or string across
// allocations, in any order (the stack never moves, and the fixture starts a
// new one for each test). It reads as the cell it holds and passes as a
// `Val`.
class Held {
 public:
  explicit Held(const Cell& value) : val_(stack::push(value)) {}
  operator const Cell&() const { return *val_; }
  operator Val() const { return val_; }
  const Cell& operator*() const { return *val_; }
  const Cell* operator->() const { return val_.get(); }

 private:
  Val val_;
};

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

inline Held str(std::string_view utf8) {
  Val text = string::push_new(static_cast<uint32_t>(utf8.size()));
  string::append_utf8(text, utf8);
  const Cell made = *text;
  stack::pop(1);
  return Held(made);
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
