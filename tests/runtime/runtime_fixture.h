// A fresh runtime for each test: memory manager, datatypes, argument stack.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
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
#include "runtime/eval/random.h"
#include "runtime/init.h"

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

// Form or mold of `value` through its datatype's action, and the budget
// left from `part`.
struct Text {
  std::string text;
  int32_t budget;
};

// A binary! of `bytes` at `index`, on the argument stack (it is there
// before reserve_tail, which may collect).
inline Cell binary(std::initializer_list<uint8_t> bytes, uint32_t index = 0) {
  const NodeId node = memory::new_byte_series(static_cast<uint32_t>(bytes.size()));
  Val held = stack::push(series::make(TypeId::binary, node, index));
  const uint32_t offset = series::reserve_tail(node, static_cast<uint32_t>(bytes.size()));
  if (bytes.size() != 0) std::memcpy(memory::buffer(node)->data() + offset, bytes.begin(), bytes.size());
  return *held;
}

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

}  // namespace kiv::testing
