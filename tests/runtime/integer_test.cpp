// integer! from C++: the compare modes scripts do not name, the budgets of
// form and mold, and conversions from values a script cannot write (url!
// text without a scheme, a binary at an index). What scripts reach is in
// tests/kiv/datatypes/integer.kiv.
#include "runtime/datatypes/integer.h"

#include <string>

#include "runtime/datatypes/char.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "tests/runtime/series_fixture.h"

namespace kiv {
namespace {

using testing::binary;
using testing::form_of;
using testing::mold_of;

constexpr int32_t kMin = integer::min_value;
constexpr int32_t kMax = integer::max_value;

class Integer : public testing::RuntimeTest {
 protected:
  const ActionTable& actions() { return datatype::actions(TypeId::integer); }

  void expect_to(const Cell& spec, int32_t expected, const std::string& label) {
    testing::expect_result(
        datatype::make(TypeId::integer), [&](Val v) { actions().to(v, stack::push(spec), TypeId::integer); },
        integer::make(expected), "to " + label);
  }
};

TEST_F(Integer, Compare) {
  const auto compare = actions().compare;
  struct Case {
    Cell a, b;
    CmpOp op;
    int expected;
  };
  const Case cases[] = {
      {integer::make(kMin), integer::make(kMax), CmpOp::sort, -1},  // signed, not unsigned
      {integer::make(97), char_::make('a'), CmpOp::lookup, 1},      // key lookup wants integer! on both sides
      // No comparison with other types: not merely unequal.
      {integer::make(0), none::make(), CmpOp::equal, -2},
      {integer::make(1), logic::make(true), CmpOp::sort, -2},
  };
  for (const Case& c : cases)
    EXPECT_EQ(compare(c.a, c.b, c.op), c.expected)
        << integer::get(c.a) << " op " << static_cast<int>(c.op) << " type " << static_cast<int>(c.b.header);
}

TEST_F(Integer, FormAndMoldBudgets) {
  for (int32_t n : {0, 7, -1, 1000000, kMax, kMin}) {
    const std::string text = std::to_string(n);
    const auto formed = form_of(integer::make(n), 5);
    EXPECT_EQ(formed.text, text);
    EXPECT_EQ(formed.budget, 5 - static_cast<int32_t>(text.size())) << "may go negative";
    EXPECT_EQ(mold_of(integer::make(n)).text, text);
    EXPECT_EQ(mold_of(integer::make(n), {.all = true}).text, text);
  }
}

TEST_F(Integer, ToIntegerFromTextAndBinaryOfAnyKind) {
  expect_to(testing::str("42", TypeId::url), 42, "url! text");
  expect_to(binary({0xAA, 0, 0, 1, 2}, 1), 258, "a binary from index 1");
  expect_to(binary({0xAA}, 1), 0, "a binary at its tail");
}

}  // namespace
}  // namespace kiv
