// The series actions every series type inherits, on blocks and strings.
#include <gtest/gtest.h>

#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series_type.h"
#include "tests/runtime/series_fixture.h"

namespace kiv {
namespace {

using testing::at_index;
using testing::letters;
using testing::molded;
using testing::raised_error;
using testing::str;
using testing::w;

Cell integer(int32_t value) { return Cell{cell::header(TypeId::integer), 0, static_cast<uint32_t>(value), 0}; }
Cell character(uint32_t code_point) { return Cell{cell::header(TypeId::char_), 0, code_point, 0}; }

class SeriesActions : public testing::RuntimeTest {
 protected:
  const ActionTable& actions = datatype::actions(TypeId::block);
};

TEST_F(SeriesActions, PositionsClampToTheSeries) {
  const auto abcd = letters("abcd");
  struct Case {
    uint32_t head;
    action::BinaryFn fn;
    int32_t offset;
    uint32_t expected;
  };
  const Case cases[] = {
      {1, actions.at, 1, 1},  {1, actions.at, 0, 1},   {2, actions.at, -1, 1}, {0, actions.at, 9, 4},
      {0, actions.at, -9, 0}, {1, actions.skip, 2, 3}, {1, actions.skip, 9, 4}, {1, actions.skip, -9, 0},
  };
  for (const Case& c : cases) {
    Val series = stack::push(at_index(abcd, c.head));
    c.fn(series, stack::push(integer(c.offset)));
    EXPECT_EQ(series->w1, c.expected) << c.head << " by " << c.offset;
  }
  EXPECT_EQ(raised_error([&] { actions.at(stack::push(abcd), stack::push(w("x"))); }), err::script::invalid_arg.value);

  Val tail = stack::push(at_index(abcd, 4));
  actions.next(tail);
  EXPECT_EQ(tail->w1, 4u) << "next at the tail stays";
  Val start = stack::push(abcd);
  actions.back(start);
  EXPECT_EQ(start->w1, 0u) << "back at the start stays";
  EXPECT_EQ(actions.index_q(stack::push(at_index(abcd, 2))), 3);
  EXPECT_EQ(actions.length_q(stack::push(at_index(abcd, 1))), 3);
}

TEST_F(SeriesActions, AHeadLeftBeyondTheTailReadsAsTheTail) {
  const auto abcd = letters("abcd");
  const Cell later = at_index(abcd, 3);
  actions.clear(stack::push(at_index(abcd, 1)));  // another reference shortens it
  EXPECT_EQ(actions.length_q(stack::push(later)), 0);
  EXPECT_TRUE(actions.tail_q(stack::push(later)));
  EXPECT_EQ(molded(abcd), "[a]");
}

TEST_F(SeriesActions, PickAndPoke) {
  const auto abcd = letters("abcd");
  auto pick = [&](uint32_t head, int32_t index) {
    Val series = stack::push(at_index(abcd, head));
    actions.pick(series, stack::push(integer(index)), index);
    return *series;
  };
  EXPECT_TRUE(cell::is(pick(1, 0), TypeId::none));
  EXPECT_EQ(molded(pick(1, 1)), "b");
  EXPECT_EQ(molded(pick(1, -1)), "a") << "-1 is the unit before the head";
  EXPECT_TRUE(cell::is(pick(1, 4), TypeId::none));
  Val series = stack::push(at_index(abcd, 1));
  actions.poke(series, stack::push(integer(2)), 2, stack::push(w("z")));
  EXPECT_EQ(molded(abcd), "[a b z d]");
  EXPECT_EQ(raised_error([&] { actions.poke(stack::push(abcd), stack::push(integer(0)), 0, stack::push(w("z"))); }),
            err::script::out_of_range.value);

  // A string widens in place for a wider character.
  const auto text = str("abc");
  const ActionTable& strings = datatype::actions(TypeId::series);
  strings.poke(stack::push(text), stack::push(integer(2)), 2, stack::push(character(0x20AC)));
  EXPECT_EQ(string::to_utf8(text), "a\xE2\x82\xAC" "c");
  strings.poke(stack::push(text), stack::push(integer(1)), 1, stack::push(character(0x1F600)));
  EXPECT_EQ(string::to_utf8(text), "\xF0\x9F\x98\x80\xE2\x82\xAC" "c");
  EXPECT_EQ(raised_error([&] { strings.poke(stack::push(text), stack::push(integer(1)), 1, stack::push(w("x"))); }),
            err::script::invalid_arg.value);
}

TEST_F(SeriesActions, CopyWithPart) {
  const auto abcde = letters("abcde");
  struct Case {
    uint32_t head;
    Cell part;
    const char* expected;
  };
  const Case cases[] = {
      {1, integer(2), "[b c]"},  {3, integer(-2), "[b c]"},   {1, integer(-5), "[a]"},
      {3, integer(9), "[d e]"},  {1, at_index(abcde, 4), "[b c d]"}, {4, at_index(abcde, 1), "[b c d]"},
  };
  for (const Case& c : cases) {
    Val value = stack::push(at_index(abcde, c.head));
    actions.copy(value, stack::push(c.part), false, std::nullopt);
    EXPECT_EQ(molded(*value), c.expected);
    EXPECT_NE(series::node_of(*value), series::node_of(abcde)) << "a copy has its own buffer";
  }
  EXPECT_EQ(raised_error([&] { actions.copy(stack::push(abcde), stack::push(letters("x")), false, std::nullopt); }),
            err::script::invalid_refine_arg.value);
}

TEST_F(SeriesActions, RemoveReverseAndTheirRefinements) {
  const auto abcdef = letters("abcdef");
  actions.remove(stack::push(at_index(abcdef, 1)), stack::push(integer(2)), std::nullopt);
  EXPECT_EQ(molded(abcdef), "[a d e f]");
  actions.remove(stack::push(at_index(abcdef, 3)), stack::push(integer(9)), std::nullopt);
  EXPECT_EQ(molded(abcdef), "[a d e]");
  actions.remove(stack::push(abcdef), stack::push(integer(0)), std::nullopt);
  EXPECT_EQ(molded(abcdef), "[a d e]") << "nothing below one";

  const auto six = letters("abcdef");
  actions.reverse(stack::push(six), std::nullopt, std::nullopt);
  EXPECT_EQ(molded(six), "[f e d c b a]");
  actions.reverse(stack::push(six), std::nullopt, stack::push(integer(2)));
  EXPECT_EQ(molded(six), "[b a d c f e]") << "records of two swap whole";
  actions.reverse(stack::push(six), stack::push(integer(3)), stack::push(integer(3)));
  EXPECT_EQ(molded(six), "[b a d c f e]") << "a record as long as the range changes nothing";
  EXPECT_EQ(raised_error([&] { actions.reverse(stack::push(six), std::nullopt, stack::push(integer(0))); }),
            err::script::out_of_range.value);
  EXPECT_EQ(raised_error([&] { actions.reverse(stack::push(six), std::nullopt, stack::push(integer(4))); }),
            err::script::invalid_refine_arg.value);
}

TEST_F(SeriesActions, Take) {
  const auto abcde = letters("abcde");
  auto take = [&](Cell series, std::optional<Cell> part, bool last) {
    Val value = stack::push(series);
    std::optional<Val> part_value;
    if (part) part_value = stack::push(*part);
    actions.take(value, part_value, false, last);
    return *value;
  };
  EXPECT_EQ(molded(take(abcde, std::nullopt, false)), "a") << "one value, not a block";
  EXPECT_EQ(molded(take(abcde, std::nullopt, true)), "e");
  EXPECT_EQ(molded(abcde), "[b c d]");
  EXPECT_EQ(molded(take(abcde, integer(2), true)), "[c d]");
  EXPECT_EQ(molded(abcde), "[b]");

  const auto five = letters("abcde");
  EXPECT_EQ(molded(take(at_index(five, 3), integer(0), false)), "[]") << "a count of zero takes nothing";
  EXPECT_EQ(molded(five), "[a b c d e]");
  EXPECT_EQ(molded(take(at_index(five, 3), integer(-2), false)), "[b c]") << "backwards from the head";
  EXPECT_EQ(molded(five), "[a d e]");
  EXPECT_EQ(molded(take(at_index(five, 1), at_index(five, 3), false)), "[d e]") << "up to a position";
  EXPECT_TRUE(cell::is(take(at_index(five, 1), std::nullopt, false), TypeId::none)) << "nothing at the tail";
}

TEST_F(SeriesActions, MoveWithinAndAcross) {
  const auto abcd = letters("abcd");
  actions.move(stack::push(abcd), stack::push(at_index(abcd, 2)), -1);
  EXPECT_EQ(molded(abcd), "[b c a d]") << "the first moved to the position of the third";
  actions.move(stack::push(abcd), stack::push(at_index(abcd, 4)), -1);
  EXPECT_EQ(molded(abcd), "[c a d b]") << "to its own tail: a rotation";
  actions.move(stack::push(at_index(abcd, 2)), stack::push(abcd), 2);
  EXPECT_EQ(molded(abcd), "[d b c a]") << "backwards with /part";

  const auto from = letters("xy");
  const auto to = letters("pq");
  Val result = stack::push(from);
  actions.move(result, stack::push(at_index(to, 1)), -1);
  EXPECT_EQ(molded(from), "[y]");
  EXPECT_EQ(molded(to), "[p x q]");
  EXPECT_EQ(series::node_of(*result), series::node_of(to)) << "the destination is the result";
  EXPECT_EQ(raised_error([&] { actions.move(stack::push(to), stack::push(str("s")), -1); }), err::script::move_bad.value);

  // Strings of different widths.
  const auto wide = str("\xE2\x82\xAC!");
  const auto narrow = str("ab");
  datatype::actions(TypeId::series).move(stack::push(wide), stack::push(narrow), -1);
  EXPECT_EQ(string::to_utf8(narrow), "\xE2\x82\xAC" "ab");
  EXPECT_EQ(string::to_utf8(wide), "!");
}

TEST_F(SeriesActions, RandomShufflesAndSeedsRepeat) {
  auto shuffled = [&] {
    const auto seed = letters("seed");
    actions.random(stack::push(seed), true, false, false);
    const auto cards = letters("abcdefghij");
    actions.random(stack::push(cards), false, false, false);
    return molded(cards);
  };
  const std::string first = shuffled();
  EXPECT_EQ(shuffled(), first);
  std::string sorted = first;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, "         []abcdefghij") << "a permutation of the same cells";
  Val one = stack::push(letters("q"));
  actions.random(one, false, true, true);
  EXPECT_EQ(molded(*one), "q");
  Val empty = stack::push(letters(""));
  actions.random(empty, false, false, true);
  EXPECT_TRUE(cell::is(*empty, TypeId::none));
}

}  // namespace
}  // namespace kiv
