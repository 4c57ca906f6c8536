// block! and paren!: insertion, change, take, copy, form, mold, compare.
#include <gtest/gtest.h>

#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "tests/runtime/series_fixture.h"

namespace kiv {
namespace {

using testing::at_index;
using testing::blk;
using testing::formed;
using testing::letters;
using testing::molded;
using testing::raised_error;
using testing::w;

Cell integer(int32_t value) { return Cell{cell::header(TypeId::integer), 0, static_cast<uint32_t>(value), 0}; }
Cell line(Cell value) {
  value.header |= cell::new_line_flag;
  return value;
}

class Blocks : public testing::RuntimeTest {
 protected:
  const ActionTable& actions = datatype::actions(TypeId::block);

  Cell append(Cell series, Cell value, int32_t part = -1, bool only = false, int32_t dup = 1) {
    Val target = stack::push(series);
    actions.append(target, stack::push(value), part, only, dup);
    return *target;
  }
  Cell insert(Cell series, Cell value, int32_t part = -1, bool only = false, int32_t dup = 1) {
    Val target = stack::push(series);
    actions.insert(target, stack::push(value), part, only, dup);
    return *target;
  }
  Cell change(Cell series, Cell value, int32_t part = -1, bool only = false, int32_t dup = 1) {
    Val target = stack::push(series);
    actions.change(target, stack::push(value), part, only, dup);
    return *target;
  }
};

TEST_F(Blocks, AppendAndInsert) {
  const auto b = letters("xy");
  const Cell result = append(at_index(b, 1), letters("ab"));
  EXPECT_EQ(molded(b), "[x y a b]") << "a block's values, not the block";
  EXPECT_EQ(result.w1, 0u) << "append answers the series at its head";
  append(b, letters("c"), -1, true);
  EXPECT_EQ(molded(b), "[x y a b [c]]") << "/only appends the block itself";
  const auto d = letters("");
  append(d, letters("pq"), -1, false, 3);
  EXPECT_EQ(molded(d), "[p q p q p q]") << "/dup 3 of two values";
  append(d, letters("rst"), 1);
  EXPECT_EQ(molded(d), "[p q p q p q r]") << "/part limits what is taken";
  append(d, letters("u"), 0);
  EXPECT_EQ(molded(d), "[p q p q p q r]") << "/part 0 adds nothing";

  const auto e = letters("ad");
  const Cell after = insert(at_index(e, 1), letters("bc"), 9);
  EXPECT_EQ(molded(e), "[a b c d]") << "a larger /part inserts all";
  EXPECT_EQ(after.w1, 3u) << "insert answers the position after what it inserted";
}

TEST_F(Blocks, AppendingABlockToItself) {
  const auto b = letters("ab");
  for (int i = 0; i < 4; ++i) append(b, b);  // grows past its capacity while reading itself
  EXPECT_EQ(molded(b), "[a b a b a b a b a b a b a b a b a b a b a b a b a b a b a b a b]");
  const auto c = letters("ab");
  insert(at_index(c, 1), c);
  EXPECT_EQ(molded(c), "[a a b b]");
}

TEST_F(Blocks, Change) {
  const auto b = letters("abc");
  change(at_index(b, 1), letters("xyz"));
  EXPECT_EQ(molded(b), "[a x y z]") << "three values over one: widens by two";
  const auto c = letters("abc");
  const Cell after = change(at_index(c, 1), letters("x"), 0);
  EXPECT_EQ(molded(c), "[a x b c]") << "/part 0 inserts";
  EXPECT_EQ(after.w1, 2u);
  const auto d = letters("abcd");
  change(d, letters("x"), 3);
  EXPECT_EQ(molded(d), "[x d]") << "/part 3 replaces three by one";
  change(d, w("q"), -1, false, 3);
  EXPECT_EQ(molded(d), "[q q q]");
}

TEST_F(Blocks, TakeTrimSwap) {
  const auto b = letters("abc");
  Val taken = stack::push(at_index(b, 3));
  actions.take(taken, std::nullopt, false, false);
  EXPECT_TRUE(cell::is(*taken, TypeId::none)) << "nothing to take at the tail";
  Val last = stack::push(b);
  actions.take(last, stack::push(integer(2)), false, true);
  EXPECT_EQ(molded(*last), "[b c]") << "/last/part takes from the tail end";

  const auto nested = blk({letters("xy")});
  Val deep = stack::push(nested);
  const Cell inner = *block::at(nested, 0);
  actions.take(deep, std::nullopt, true, false);
  EXPECT_EQ(molded(*deep), "[x y]");
  EXPECT_NE(series::node_of(*deep), series::node_of(inner)) << "/deep gives a copy";

  const auto holes = blk({w("a"), none::make(), w("b"), none::make()});
  actions.trim(stack::push(holes), {});
  EXPECT_EQ(molded(holes), "[a b]");

  const auto p = letters("ab");
  const auto q = letters("xy");
  actions.swap(stack::push(at_index(p, 1)), stack::push(q));
  EXPECT_EQ(molded(p), "[a x]");
  EXPECT_EQ(molded(q), "[b y]");
  EXPECT_EQ(raised_error([&] { actions.swap(stack::push(p), stack::push(w("z"))); }), err::script::invalid_arg.value);
}

TEST_F(Blocks, CopyDeepAndCycles) {
  const auto inner = letters("ab");
  const auto outer = blk({inner, w("c")});
  Val shallow = stack::push(outer);
  actions.copy(shallow, std::nullopt, false, std::nullopt);
  EXPECT_EQ(series::node_of(*block::at(*shallow, 0)), series::node_of(inner));
  Val deep = stack::push(outer);
  actions.copy(deep, std::nullopt, true, std::nullopt);
  EXPECT_NE(series::node_of(*block::at(*deep, 0)), series::node_of(inner));
  EXPECT_EQ(molded(*deep), "[[a b] c]");

  const auto loop = letters("a");
  append(loop, loop, -1, true);
  EXPECT_EQ(molded(loop), "[a [...]]");
  EXPECT_EQ(formed(loop), "a ...");
  EXPECT_EQ(raised_error([&] { actions.copy(stack::push(loop), std::nullopt, true, std::nullopt); }),
            err::internal::no_cycle.value);
}

TEST_F(Blocks, MoldLayout) {
  const auto inner = blk({line(w("x")), w("y")});
  const auto b = blk({w("a"), line(w("b")), inner, blk({}, TypeId::paren)});
  EXPECT_EQ(molded(b), "[a\nb [\n    x y\n] ()]") << "only a first value on a new line indents";
  EXPECT_EQ(molded(b, {.flat = true}), "[a b [x y] ()]");
  EXPECT_EQ(molded(letters("abc"), {.only = true}), "a b c");
  const auto first = blk({line(w("a")), w("b")});
  EXPECT_EQ(molded(first), "[\n    a b\n]") << "a first value on its own line indents the block";
  EXPECT_EQ(molded(first, {.only = true}), "a b");
  // The walk stops once the budget is spent; `mold/part` then cuts the text.
  EXPECT_EQ(molded(letters("abcdef"), {}, 5), "[a b c]");
}

TEST_F(Blocks, FormSeparatesWithSpaces) {
  EXPECT_EQ(formed(blk({letters("ab"), w("c")})), "a b c");
  EXPECT_EQ(formed(letters("")), "");
}

TEST_F(Blocks, Compare) {
  const auto compare = actions.compare;
  EXPECT_EQ(compare(letters(""), letters("a"), CmpOp::lesser), -1);
  EXPECT_EQ(compare(letters("ab"), letters("a"), CmpOp::equal), 1) << "lengths differ: unequal at once";
  EXPECT_EQ(compare(letters("ab"), letters("ab"), CmpOp::equal), 0);
  EXPECT_EQ(compare(letters("ab"), letters("ac"), CmpOp::lesser), -1);
  EXPECT_EQ(compare(blk({w("a")}), blk({logic::make(true)}), CmpOp::lesser), 1) << "differing types order by type id";
  EXPECT_EQ(compare(letters("a"), blk({}, TypeId::paren), CmpOp::equal), -2);
  const auto b = letters("ab");
  EXPECT_EQ(compare(b, b, CmpOp::same), 0);
  EXPECT_EQ(compare(b, letters("ab"), CmpOp::same), -1);
}

TEST_F(Blocks, MakeAndTo) {
  Val made = stack::push(datatype::make(TypeId::block));
  actions.make(made, stack::push(integer(10)), TypeId::block);
  EXPECT_EQ(molded(*made), "[]");
  actions.make(made, stack::push(letters("ab")), TypeId::paren);
  EXPECT_EQ(molded(*made), "(a b)");
  EXPECT_EQ(raised_error([&] { actions.make(made, stack::push(w("x")), TypeId::block); }),
            err::script::bad_make_arg.value);
  actions.to(made, stack::push(w("x")), TypeId::block);
  EXPECT_EQ(molded(*made), "[x]") << "any other value: a block holding it";
}

}  // namespace
}  // namespace kiv
