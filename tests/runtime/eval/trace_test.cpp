// The evaluation trace from C++: library functions (made while start-up
// runs the script library) and the state a trace leaves behind.
#include "runtime/eval/trace.h"

#include <gtest/gtest.h>

#include "runtime/core/state.h"
#include "runtime/eval/call_stack.h"
#include "tests/runtime/series_fixture.h"

namespace kiv {
namespace {

using testing::eval_molded;

class Trace : public testing::RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    // A recorder of the events (and the calls' names) of a trace.
    eval_molded(
        "log: copy [] "
        "record: func [event code offset value ref frame] [append log event if word! = type? :ref [append log ref]]");
  }

  // Defines `source` as start-up defines the script library.
  static void define_as_library(std::string_view source) {
    runtime::state.loading_library = true;
    eval_molded(source);
    runtime::state.loading_library = false;
  }
};

// A library function shows its call, like a native, but nothing of its
// body: neither its prolog and epilog nor the steps inside; a user
// function it calls does not show either. Its errors still reach the code.
TEST_F(Trace, LibraryFunctionsKeepTheirBodiesOutOfTraces) {
  eval_molded("helper: func [x] [x + 1]");
  define_as_library("lib-twice: func [x] [helper helper x]");
  EXPECT_EQ(eval_molded("do/trace [lib-twice 1] :record"), "3");
  EXPECT_EQ(eval_molded("log"), "[init enter fetch open fetch push call lib-twice return lib-twice expr exit end]");
  EXPECT_EQ(eval_molded("clear log do/trace [helper 1] :record to logic! find log 'prolog"), "true")
      << "a user function shows its body";
  EXPECT_EQ(eval_molded("e: try [lib-twice \"a\"] e/id"), "expect-arg");
}

// Every way out of do/trace leaves no tracing on and the stacks where they
// were: a plain end, an error of the code, an error, throw or break of the
// tracer.
TEST_F(Trace, EveryWayOutLeavesTheStateClean) {
  const uint32_t depth = stack::call_depth();
  const uint32_t top = stack::depth();
  EXPECT_EQ(eval_molded("do/trace [1 + 2] :record"), "3");
  EXPECT_EQ(eval_molded("e: try [do/trace [1 / 0] :record] e/id"), "zero-divide");
  EXPECT_EQ(eval_molded("e: try [do/trace [1 2] func [e c o v r f] [if e = 'push [none + 1]]] e/id"), "expect-arg");
  EXPECT_EQ(eval_molded("catch [do/trace [1 2] func [e c o v r f] [if e = 'push [throw 7]]]"), "7");
  EXPECT_EQ(eval_molded("loop 2 [do/trace [1 2] func [e c o v r f] [if e = 'push [break/return 8]]]"), "8");
  EXPECT_FALSE(trace::tracing);
  EXPECT_FALSE(trace::active);
  EXPECT_EQ(stack::call_depth(), depth);
  EXPECT_EQ(stack::depth(), top);
  EXPECT_EQ(eval_molded("clear log do/trace [1] :record log"), "[init enter fetch push expr exit end]")
      << "a later trace starts afresh";
}

}  // namespace
}  // namespace kiv
