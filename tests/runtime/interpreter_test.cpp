// The evaluator from C++: what Kiv scripts cannot show directly.
#include <gtest/gtest.h>

#include "runtime/datatypes/routine.h"
#include "runtime/eval/call_stack.h"
#include "runtime/platform.h"
#include "tests/runtime/series_fixture.h"

namespace kiv {
namespace {

using testing::eval_error;
using testing::eval_molded;
using testing::molded;

class Interpreter : public testing::RuntimeTest {};

// A routine's body reads its window: the argument, then the refinement's
// flag and argument.
Flow scale(void) {
  const Cell value = *stack::ArgStack::at(stack::ArgStack::base_index());
  const Cell by = *stack::ArgStack::at(stack::ArgStack::base_index() + 2);
  const bool scaled = stack::ArgStack::at(stack::ArgStack::base_index() + 1)->w1 != 0;  // the logic! flag
  const int32_t factor = scaled ? cell::get_int32(by) : 2;
  stack::ArgStack::set_result_keep(Cell{cell::header(TypeId::integer), 0,
                                        static_cast<uint32_t>(cell::get_int32(value) * factor), 0});
  return Flow::normal;
}

TEST_F(Interpreter, RoutinesTakeArgumentsLikeFunctions) {
  routine::add("scale-it", R"("Test routine" n [integer!] /by factor [integer!])", scale);
  routine::define("scale-it");
  EXPECT_EQ(eval_molded("scale-it 21"), "42");
  EXPECT_EQ(eval_molded("scale-it/by 5 3"), "15");
  EXPECT_EQ(eval_molded("type? :scale-it"), "routine!");
  EXPECT_EQ(eval_error("scale-it \"x\""), error_id::script::expect_arg.value);
}

// A lexer callback as a routine: the token argument is a pair for every
// event but load; refuses loaded integers.
Flow drop_integers(void) {
  const Cell token = *stack::ArgStack::at(stack::ArgStack::base_index() + 4);
  stack::ArgStack::set_result_keep(Cell{cell::header(TypeId::logic), cell::is(token, TypeId::integer) ? 0u : 1u, 0, 0});
  return Flow::normal;
}

TEST_F(Interpreter, TranscodeTracesThroughARoutine) {
  routine::add("drop-integers", R"("Test routine" event input type line token)", drop_integers);
  routine::define("drop-integers");
  const uint32_t depth = stack::call_depth();
  const uint32_t top = stack::depth();
  EXPECT_EQ(eval_molded("transcode/trace {a 1 [2 b]} :drop-integers"), "[a [b]]");
  EXPECT_EQ(eval_molded("catch [transcode/trace {7} func [e i t l k] [[load] throw k]]"), "7");
  EXPECT_EQ(eval_molded("loop 2 [transcode/trace {7} func [e i t l k] [[load] break/return 3]]"), "3");
  EXPECT_EQ(stack::call_depth(), depth);
  EXPECT_EQ(stack::depth(), top);
}

TEST_F(Interpreter, StacksAreBackWhereTheyWereAfterEachKindOfExit) {
  const uint32_t depth = stack::call_depth();
  const uint32_t top = stack::depth();
  EXPECT_EQ(eval_molded("f: func [x] [loop 3 [if x [return 1]] 2] f true"), "1");
  EXPECT_EQ(eval_molded("catch [loop 2 [throw 7]]"), "7");
  EXPECT_EQ(eval_molded("loop 2 [break/return 3]"), "3");
  EXPECT_EQ(molded(*stack::last()), molded(*stack::last()));
  EXPECT_EQ(stack::call_depth(), depth);
  EXPECT_EQ(stack::depth(), top);
}

TEST_F(Interpreter, CallDepthLimitIsACatchableError) {
  runtime::record_stack_bounds();
  // Each call needs a few frames: the limit of frames comes first.
  EXPECT_EQ(eval_molded("r: func [n] [r n + 1] e: try [r 1] e/id"), "stack-overflow");
  EXPECT_EQ(stack::call_depth(), 0u);
  EXPECT_EQ(eval_molded("1 + 1"), "2") << "evaluation goes on with the stacks intact";
}

// Parens nest on the machine stack, not in call frames: the machine-stack
// guard must leave room to raise and catch the error, also in the sanitizer
// build, whose frames are larger.
TEST_F(Interpreter, MachineStackLimitIsACatchableError) {
  runtime::record_stack_bounds();
  constexpr size_t depth = 200000;  // more than this thread's 8 MB can hold
  const std::string nested = "1 + " + std::string(depth, '(') + "1" + std::string(depth, ')');
  EXPECT_EQ(eval_molded("e: try [" + nested + "] e/id"), "stack-overflow");
  EXPECT_EQ(stack::call_depth(), 0u);
  EXPECT_EQ(eval_molded("1 + 1"), "2") << "evaluation goes on with the stacks intact";
}

}  // namespace
}  // namespace kiv
