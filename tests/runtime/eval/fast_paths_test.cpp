// The fast paths against the generic functions they stand in for: the same
// result, or the same error, for every kind of operand; and the stack
// effect of each entry point on its inline path and on its fallback.
#include "runtime/eval/fast_paths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/call_stack.h"
#include "tests/runtime/series_fixture.h"

namespace kiv {
namespace {

using namespace fast_paths;
using testing::molded;
using testing::value_of;

class FastPaths : public testing::RuntimeTest {};

// What a piece of code gave: its value, or the error it raised.
struct Outcome {
  Cell value{};
  uint16_t error = 0;
  std::string args;   // the error's arguments, molded
  std::string where;  // the call it names as where it was raised
};

// Runs `body`, which answers a value. After an error the stacks are put
// back as they were, as a catcher would.
template <class Body>
Outcome outcome_of(Body&& body) {
  const uint32_t frames = stack::call_depth();
  const uint32_t top = stack::depth();
  Outcome outcome;
  outcome.error = testing::raised_error([&] { outcome.value = body(); });
  if (outcome.error != 0) {
    while (stack::call_depth() > frames) stack::pop_frame();
    stack::drop_to(top);
    const error::Pending& raised = error::pending();
    for (const Cell& arg : raised.args) outcome.args += molded(arg) + " ";
    outcome.where = molded(raised.where);
  }
  return outcome;
}

bool same_cell(const Cell& a, const Cell& b) {
  return a.header == b.header && a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3;
}

// The generic call and the fast path agree: the same value, bit for bit
// (a float's NaN and -0.0 too), or the same error with the same arguments
// (and where it was raised, unless `same_where` is off).
void expect_same(const Outcome& generic, const Outcome& fast, const std::string& label, bool same_where = true) {
  ASSERT_EQ(fast.error, generic.error) << label << ": fast " << (fast.error ? fast.args : molded(fast.value))
                                       << ", generic " << (generic.error ? generic.args : molded(generic.value));
  if (generic.error != 0) {
    EXPECT_EQ(fast.args, generic.args) << label;
    if (same_where) {
      EXPECT_EQ(fast.where, generic.where) << label;
    }
    return;
  }
  EXPECT_TRUE(same_cell(fast.value, generic.value))
      << label << ": fast " << molded(fast.value) << ", generic " << molded(generic.value);
}

// The value of global word `name`.
Cell global(std::string_view name) { return *context::get(word::intern(name)); }

// The newest cell, taken off the stack, after a fast path that pushed it.
Cell take_last(Flow flow) {
  EXPECT_EQ(flow, Flow::normal);
  const Cell result = *stack::last();
  stack::pop(1);
  return result;
}

// Operands as Kiv expressions, set as the words `a` and `b`.
struct Operands {
  const char* left;
  const char* right;
};

void set_operands(const Operands& operands) {
  (void)value_of(std::string("a: ") + operands.left + " b: " + operands.right);
}

const Operands arith_operands[] = {
    {"2147483647", "1"},            // the sum leaves 32 bits
    {"-2147483648", "1"},           // so does the difference
    {"-2147483648", "-1"},          // and the product, and the sum
    {"46341", "46341"},             // a product just past 2^31
    {"-7", "3"},                    // bit patterns of negative numbers
    {"\n-7", "\n1.5"},              // values that start a line: results keep the marker
    {"\n1.5", "-0.5"},
    {"0", "-1"},
    {"1.5", "2.25"},
    {"1e308", "1e308"},             // to infinity
    {"1e308 * 10", "-1e308 * 10"},  // infinities: their sum is NaN
    {"(1e308 * 10) - (1e308 * 10)", "1.0"},  // NaN
    {"-0.0", "0.0"},
    {"-0.0", "-0.0"},
    {"1", "1.5"},                   // integer and float: the generic add
    {"1.5", "1"},
    {"10%", "1"},
    {"1", "10%"},
    {"#\"A\"", "1"},
    {"1", "#\"A\""},
    {"1", "\"a\""},                 // errors: the generic call's own
    {"\"a\"", "1"},
    {"none", "1"},
};

TEST_F(FastPaths, ArithmeticGivesWhatTheActionGives) {
  struct Action {
    ArithCode code;
    const char* word;
  };
  const Action actions[] = {{ArithCode::add, "add"}, {ArithCode::subtract, "subtract"}, {ArithCode::multiply, "multiply"},
                            {ArithCode::or_, "or~"}, {ArithCode::and_, "and~"},         {ArithCode::xor_, "xor~"}};
  for (const Operands& operands : arith_operands) {
    set_operands(operands);
    for (const Action& action : actions) {
      const std::string call = std::string(action.word) + " a b";
      const std::string label = call + " with a: " + operands.left + " b: " + operands.right;
      const Outcome generic = outcome_of([&] { return value_of(call); });
      const Cell name = word::intern(action.word);
      const Outcome fast = outcome_of([&] { return take_last(int_arith(action.code, name, global("a"), global("b"))); });
      expect_same(generic, fast, label);
      // The twin with the left operand on the stack gives the same.
      const Outcome last = outcome_of([&] {
        stack::push(global("a"));
        return take_last(int_arith_last(action.code, name, global("b")));
      });
      expect_same(generic, last, label + " (last)");
    }
  }
}

TEST_F(FastPaths, IntegerOverflowIsTheExactFloat) {
  const Cell name = word::intern("add");
  const struct {
    ArithCode code;
    int32_t left, right;
    double want;
  } cases[] = {
      {ArithCode::add, 2147483647, 1, 2147483648.0},
      {ArithCode::subtract, -2147483648, 1, -2147483649.0},
      {ArithCode::multiply, -2147483648, -1, 2147483648.0},
      {ArithCode::multiply, 2147483647, 2147483647, 4611686014132420609.0},
  };
  for (const auto& c : cases) {
    Cell out{};
    ASSERT_TRUE(try_arith(c.code, integer::make(c.left), integer::make(c.right), out));
    EXPECT_TRUE(cell::is(out, TypeId::float_)) << c.left << " " << c.right;
    EXPECT_EQ(cell::get_double(out), c.want) << c.left << " " << c.right;
    const Cell pushed = take_last(int_arith_imm(c.code, name, integer::make(c.left), c.right));
    EXPECT_TRUE(same_cell(pushed, out));
  }
}

TEST_F(FastPaths, ComparisonGivesWhatTheNativeGives) {
  struct Native {
    CompareCode code;
    const char* word;
  };
  const Native natives[] = {{CompareCode::equal, "equal?"},
                            {CompareCode::not_equal, "not-equal?"},
                            {CompareCode::strict_equal, "strict-equal?"},
                            {CompareCode::lesser, "lesser?"},
                            {CompareCode::lesser_or_equal, "lesser-or-equal?"},
                            {CompareCode::greater, "greater?"},
                            {CompareCode::greater_or_equal, "greater-or-equal?"}};
  const Operands pairs[] = {{"1", "2"},     {"2", "1"},      {"3", "3"},   {"-2147483648", "2147483647"},
                            {"1", "1.0"},   {"1.5", "1"},    {"2", "10%"}, {"#\"a\"", "97"},
                            {"97", "#\"a\""}, {"1", "\"a\""}, {"none", "none"}};
  for (const Operands& operands : pairs) {
    set_operands(operands);
    for (const Native& native : natives) {
      const std::string call = std::string(native.word) + " a b";
      const std::string label = call + " with a: " + operands.left + " b: " + operands.right;
      const Outcome generic = outcome_of([&] { return value_of(call); });
      const Cell name = word::intern(native.word);
      const Outcome fast = outcome_of([&] { return take_last(int_compare(native.code, name, global("a"), global("b"))); });
      expect_same(generic, fast, label);
      // The test twins answer the same outcome, whichever way they go.
      const Outcome tested = outcome_of([&] {
        bool jump = false;
        EXPECT_EQ(int_test(native.code, name, global("a"), global("b"), false, jump), Flow::normal);
        return logic::make(jump);
      });
      expect_same(generic, tested, label + " (test)");
    }
  }
}

// Each entry point's stack effect, on the inline path (integers) and on
// the fallback (a float operand): what it pushes, replaces or leaves, and
// the call stack as it was.
TEST_F(FastPaths, EntryPointsLeaveTheStackAsTheySay) {
  const Cell name = word::intern("lesser?");
  const Cell plus = word::intern("add");
  const Cell one = integer::make(1);
  for (const Cell right : {integer::make(2), float_::make(2.0)}) {
    const std::string label = molded(right);
    const bool whole = cell::is(right, TypeId::integer);
    // A window of our own, whose result slot is its first cell.
    const uint32_t outside = stack::depth();
    stack::mark(name, stack::frame::native);
    stack::push(none::make());
    const uint32_t top = stack::depth();
    const uint32_t frames = stack::call_depth();

    ASSERT_EQ(int_arith(ArithCode::add, plus, one, right), Flow::normal);
    EXPECT_EQ(stack::depth(), top + 1) << label;
    EXPECT_EQ(molded(*stack::last()), whole ? "3" : "3.0") << label;
    ASSERT_EQ(int_arith_last_imm(ArithCode::multiply, plus, 5), Flow::normal);
    EXPECT_EQ(stack::depth(), top + 1) << label;
    EXPECT_EQ(molded(*stack::last()), whole ? "15" : "15.0") << label;
    stack::pop(1);

    ASSERT_EQ(int_compare(CompareCode::lesser, name, one, right), Flow::normal);
    EXPECT_EQ(stack::depth(), top + 1) << label;
    EXPECT_EQ(molded(*stack::last()), "true") << label;
    stack::push(right);
    ASSERT_EQ(int_compare_last_imm(CompareCode::lesser, name, 1), Flow::normal);
    EXPECT_EQ(stack::depth(), top + 2) << label;
    EXPECT_EQ(molded(*stack::last()), "false") << label;
    stack::pop(2);

    for (const bool negate : {false, true}) {
      bool jump = negate;
      ASSERT_EQ(int_test_imm(CompareCode::lesser, name, right, 3, negate, jump), Flow::normal);
      EXPECT_EQ(jump, !negate) << label;
      EXPECT_EQ(stack::depth(), top) << label;
      *stack::result() = none::make();
      ASSERT_EQ(int_test_keep(CompareCode::greater, name, right, integer::make(2), negate, jump), Flow::normal);
      EXPECT_EQ(jump, negate) << label;
      EXPECT_EQ(stack::depth(), top) << label;
      EXPECT_EQ(molded(*stack::result()), "false") << label << ": the outcome, whatever the negation";
    }
    EXPECT_EQ(stack::call_depth(), frames) << label;
    stack::pop_frame();
    stack::drop_to(outside);
  }
}

TEST_F(FastPaths, SeriesOperationsGiveWhatTheActionsGive) {
  struct Action {
    SeriesCode code;
    const char* word;
  };
  const Action actions[] = {{SeriesCode::length_q, "length?"}, {SeriesCode::index_q, "index?"},
                            {SeriesCode::head_q, "head?"},     {SeriesCode::tail_q, "tail?"},
                            {SeriesCode::next, "next"},        {SeriesCode::back, "back"},
                            {SeriesCode::head, "head"},        {SeriesCode::tail, "tail"}};
  const char* values[] = {
      "[1 2 3]",
      "next [1 2 3]",
      "tail [1 2 3]",
      "[]",
      "c: skip b: [1 2 3] 2 clear b c",  // an index past the tail
      "next \"abc\"",                    // other series: the generic action
      "make paren! [1 2]",
      "5",                               // an error: the generic action's
  };
  for (const char* value : values) {
    (void)value_of(std::string("a: ") + value);
    for (const Action& action : actions) {
      const std::string call = std::string(action.word) + " a";
      const std::string label = call + " with a: " + value;
      const Outcome generic = outcome_of([&] { return value_of(call); });
      const Cell name = word::intern(action.word);
      const Outcome fast = outcome_of([&] { return take_last(series_op(global("a"), action.code, name)); });
      expect_same(generic, fast, label);
    }
  }
}

TEST_F(FastPaths, NextAtTheTailAndBackAtTheHeadLeaveTheBlock) {
  const testing::Held block = testing::blk({integer::make(1)});
  const Cell at_tail = testing::at_index(*block, 1);
  const Cell name = word::intern("next");
  EXPECT_TRUE(same_cell(take_last(series_op(at_tail, SeriesCode::next, name)), at_tail));
  EXPECT_TRUE(same_cell(take_last(series_op(*block, SeriesCode::back, name)), *block));
}

// A path's integer step, as the evaluator takes it: for a block at its
// second cell, index 0 and positions outside the block give none, and a
// negative index counts back from the block's index.
TEST_F(FastPaths, PathPickGivesWhatThePathGives) {
  const char* values[] = {"next [1 2 3]", "tail [1 2 3]", "next \"abc\"", "make object! [x: 1]", "5"};
  const int32_t indexes[] = {-2, -1, 0, 1, 2, 3};
  for (const char* value : values) {
    (void)value_of(std::string("a: ") + value);
    for (const int32_t index : indexes) {
      const std::string path_text = "a/(" + std::to_string(index) + ")";
      const std::string label = path_text + " with a: " + value;
      const Outcome generic = outcome_of([&] { return value_of(path_text); });
      const testing::Held code(*lexer::scan(path_text));
      const Cell name = word::intern("pick");
      const Outcome fast = outcome_of([&] {
        const Cell path = *block::at(*code, 0);
        return take_last(path_pick(global("a"), index, name, &path));
      });
      // The path's own step runs in its caller's frame, the fallback in
      // one of its own: the two differ in where the error was raised.
      expect_same(generic, fast, label, false);
    }
  }
}

// The fallback calls the action itself, not what its word holds now.
TEST_F(FastPaths, FallbackCallsTheActionNotItsWord) {
  (void)value_of("add: :subtract");
  const Cell value = take_last(int_arith(ArithCode::add, word::intern("add"), integer::make(1), float_::make(0.5)));
  EXPECT_EQ(molded(value), "1.5");
}

TEST_F(FastPaths, CodesOutsideTheTablesAreRuntimeError101) {
  const Cell name = word::intern("add");
  const Cell one = integer::make(1);
  const auto code_of = [](auto type, int n) { return static_cast<decltype(type)>(n); };
  EXPECT_EXIT((void)int_arith(code_of(ArithCode{}, 3), name, one, one), ::testing::ExitedWithCode(101),
              "Runtime Error 101");
  EXPECT_EXIT((void)int_compare(code_of(CompareCode{}, 7), name, one, one), ::testing::ExitedWithCode(101),
              "Runtime Error 101");
  const testing::Held block = testing::blk({one});
  EXPECT_EXIT((void)series_op(*block, code_of(SeriesCode{}, 9), name), ::testing::ExitedWithCode(101),
              "Runtime Error 101");
}

}  // namespace
}  // namespace kiv
