// A fresh runtime for each test (memory manager, datatypes, argument
// stack), and the helpers every C++ test shares: values made directly,
// Kiv text evaluated, and what a piece of code should leave or raise.
//
// Under the collector's stress mode (KIV_GC) any allocating call may
// collect and move buffers: the helpers keep what they make on the argument
// stack (the fixture starts a new stack for each test) and answer it as a
// `Held`, or take cells that hold no series.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/core/collector.h"
#include "runtime/core/cycle.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/exits.h"
#include "runtime/core/memory.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/state.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/all_types.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/lexer.h"
#include "runtime/eval/random.h"
#include "runtime/init.h"
#include "runtime/mold.h"

namespace kiv::testing {

// Series that a test names only by node id (a hash table, a bare cell
// series): kept to the end of the test by a marker that RuntimeTest
// registers. `hold` answers its argument.
inline std::vector<NodeId>& held_nodes() {
  static std::vector<NodeId> nodes;
  return nodes;
}
inline NodeId hold(NodeId node) {
  held_nodes().push_back(node);
  return node;
}
inline void mark_held_nodes() {
  for (NodeId node : held_nodes()) collector::mark_node(node);
}

class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime::state.pending = 0;
    // Off while the runtime starts, as in the program (the previous test
    // may have left it on).
    runtime::state.collector_on = false;
    runtime::init();  // the start-up sequence itself
    runtime::state.boot_flag = false;
    // Under the collector's stress mode (KIV_GC) the tests run with the
    // collector on, as scripts do, so that every allocation may collect.
    runtime::state.collector_on = std::getenv("KIV_GC") != nullptr;
    cycle::reset();
    error::clear_pending();
    held_nodes().clear();
    collector::register_marker(&mark_held_nodes);
  }
  void TearDown() override {
    // Tests without a runtime (memory, handles) may follow in this process.
    runtime::state.collector_on = false;
    collector::unregister_marker(&mark_held_nodes);
    held_nodes().clear();
    memory::release_all();
  }
};

// A value kept on the argument stack until the test ends, so that a test
// may hold a block or string across allocations, in any order (the stack
// never moves). It reads as the cell it holds and passes as a `Val`.
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

// ---- Values made directly ----

// A float!, percent! or time! cell.
inline Cell number(TypeId type, double value) {
  Cell made{cell::header(type), 0, 0, 0};
  cell::set_double(made, value);
  return made;
}

// A value of `type` with an empty payload: for a type whose payload the
// code under test never reads.
inline Cell bare(TypeId type) { return Cell{cell::header(type), 0, 0, 0}; }

// A binary! of `bytes` at `index`, on the argument stack (it is there
// before reserve_tail, which may collect).
inline Cell binary(std::initializer_list<uint8_t> bytes, uint32_t index = 0) {
  const NodeId node = memory::new_byte_series(static_cast<uint32_t>(bytes.size()));
  Val held = stack::push(series::make(TypeId::binary, node, index));
  const uint32_t offset = series::reserve_tail(node, static_cast<uint32_t>(bytes.size()));
  if (bytes.size() != 0) std::memcpy(memory::buffer(node)->data() + offset, bytes.begin(), bytes.size());
  return *held;
}

// A bare cell series of `cells` (no block! cell names it), held by node id.
// Cells that refer to series must be held elsewhere while it grows.
inline NodeId cell_series(std::initializer_list<Cell> cells) {
  const NodeId node = hold(memory::new_cell_series(static_cast<uint32_t>(cells.size())));
  for (const Cell& value : cells) *series::append_slot(node) = value;
  return node;
}

// The bytes of each unit of a series's buffer (of a string: 1, 2 or 4).
inline uint32_t unit_of(const Cell& series) { return memory::buffer(series::node_of(series))->unit(); }

// ---- Text of values ----

// Form or mold of `value` through its datatype's action, and the budget
// left from `part`.
struct Text {
  std::string text;
  int32_t budget;
};

inline Text form_of(const Cell& value, int32_t part = 1000) {
  Val v = stack::push(value);
  Val out = string::push_new(16);
  const int32_t budget = datatype::actions(cell::type_of(value)).form(v, out, part);
  return {string::to_utf8(*out), budget};
}

inline Text mold_of(const Cell& value, MoldOptions options = {}, int32_t part = 1000) {
  Val v = stack::push(value);
  Val out = string::push_new(16);
  const int32_t budget = datatype::actions(cell::type_of(value)).mold(v, out, options, part);
  return {string::to_utf8(*out), budget};
}

// Mold and form as `mold` and `form` write them, whatever the type.
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

// ---- Running code ----

// Runs `body` and returns the code of the script error it raises, or 0.
template <class Body>
uint16_t raised_error(Body&& body) {
  try {
    body();
  } catch (const Unwind& unwind) {
    runtime::state.pending = 0;
    if (unwind.code != exit_code::error) return 0;
    return error::pending().code.value;
  }
  return 0;
}

// Evaluates Kiv source text at the top level, as a line of a script, and
// answers its value (which nothing holds: it is valid until the next call
// that may allocate; for tests that watch what a collection frees). An
// error it raises goes on to the caller (see raised_error).
inline Cell value_of(std::string_view text) {
  Val code = lexer::scan(text);
  EXPECT_EQ(interpreter::eval_block(*code, false), Flow::normal) << text;
  const Cell value = *stack::last();
  stack::pop(2);
  return value;
}

// The mold of what `text` evaluates to; nothing is left held.
inline std::string eval_molded(std::string_view text) {
  Val code = lexer::scan(text);
  EXPECT_EQ(interpreter::eval_block(*code, false), Flow::normal) << text;
  const std::string result = molded(*stack::last());
  stack::pop(2);
  return result;
}

// The code of the script error `text` raises, or 0.
inline uint16_t eval_error(std::string_view text) {
  return raised_error([&] { value_of(text); });
}

// Runs `body` on `first`, pushed on the argument stack, and checks that it
// raises nothing and leaves there a value of the datatype of `want` and
// the same value: numbers bit for bit (a NaN for any NaN), other values by
// their mold. `want` holds no series (nothing would keep it).
template <class Body>
void expect_result(const Cell& first, Body&& body, const Cell& want, const std::string& label) {
  Cell result{};
  const uint16_t code = raised_error([&] {
    Val value = stack::push(first);
    body(value);
    result = *value;
  });
  ASSERT_EQ(code, 0) << label;
  ASSERT_EQ(cell::type_of(result), cell::type_of(want)) << label << ": got " << molded(result);
  switch (cell::type_of(want)) {
    case TypeId::float_:
    case TypeId::percent:
    case TypeId::time: {
      const double got = cell::get_double(result);
      const double wanted = cell::get_double(want);
      if (std::isnan(wanted)) EXPECT_TRUE(std::isnan(got)) << label << ": got " << got;
      else EXPECT_EQ(std::bit_cast<uint64_t>(got), std::bit_cast<uint64_t>(wanted)) << label << ": got " << got;
      break;
    }
    default:
      EXPECT_EQ(molded(result), molded(want)) << label;
  }
}

}  // namespace kiv::testing
