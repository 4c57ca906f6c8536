// char! from C++: the actions a character does not have, the compare modes
// scripts do not name, the budgets of form and mold, and the unit a formed
// character widens its string to. What scripts reach is in
// tests/kiv/datatypes/char.kiv.
#include "runtime/datatypes/char.h"

#include <string>

#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/unicode.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

using testing::form_of;
using testing::mold_of;

class Char : public testing::RuntimeTest {
 protected:
  const ActionTable& actions() { return datatype::actions(TypeId::char_); }
};

TEST_F(Char, ActionsItHasAndHasNot) {
  EXPECT_EQ(actions().negate, nullptr);
  EXPECT_EQ(actions().power, nullptr);
  EXPECT_EQ(actions().round, nullptr);
  EXPECT_EQ(actions().complement, nullptr);
  EXPECT_NE(actions().absolute, nullptr);
  EXPECT_NE(actions().even_q, nullptr);
}

TEST_F(Char, Compare) {
  const auto compare = actions().compare;
  // Key lookup wants char! on both sides; a float has no comparison with a
  // character (not merely unequal).
  EXPECT_EQ(compare(char_::make('a'), integer::make(97), CmpOp::lookup), 1);
  EXPECT_EQ(compare(char_::make('a'), float_::make(97.0), CmpOp::equal), -2);
}

TEST_F(Char, FormAndMoldBudgets) {
  struct Case {
    uint32_t code_point;
    const char* formed;  // UTF-8
    const char* molded;
    const char* molded_all;
  };
  const Case cases[] = {
      {'a', "a", "#\"a\"", "#\"a\""},
      {'"', "\"", "#\"^\"\"", "#\"^\"\""},
      {'^', "^", "#\"^^\"", "#\"^^\""},
      {'\n', "\n", "#\"^/\"", "#\"^/\""},
      {'\t', "\t", "#\"^-\"", "#\"^-\""},
      {0, "", "#\"^@\"", "#\"^@\""},  // formed: one NUL
      {0x7F, "\x7F", "#\"^~\"", "#\"^~\""},
      {0xE9, "\xC3\xA9", "#\"\xC3\xA9\"", "#\"^(E9)\""},
      {0x1F600, "\xF0\x9F\x98\x80", "#\"\xF0\x9F\x98\x80\"", "#\"^(1F600)\""},
  };
  for (const Case& c : cases) {
    const std::string formed = c.code_point == 0 ? std::string(1, '\0') : std::string(c.formed);
    const auto f = form_of(char_::make(c.code_point), 10);
    EXPECT_EQ(f.text, formed) << c.code_point;
    EXPECT_EQ(f.budget, 9) << c.code_point;
    for (bool all : {false, true}) {
      const std::string expected = all ? c.molded_all : c.molded;
      const auto m = mold_of(char_::make(c.code_point), {.all = all}, 10);
      EXPECT_EQ(m.text, expected) << c.code_point;
      // The budget counts the characters written, escapes included.
      const auto characters = static_cast<int32_t>(unicode::utf8_count(expected));
      EXPECT_EQ(m.budget, 10 - characters) << expected;
    }
  }
}

TEST_F(Char, FormingWidensTheStringToTheCharactersUnit) {
  Val out = string::push_new(4);
  string::append_latin1(out, "x");
  Val wide = char_::push(0x1F600);
  actions().form(wide, out, 100);
  EXPECT_EQ(memory::buffer(series::node_of(*out))->unit(), 4u);
  EXPECT_EQ(string::to_utf8(*out), "x\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace kiv
