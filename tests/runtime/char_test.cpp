// char!: code-point arithmetic and its range errors, make/to, compare
// against integers, form and mold.
#include "runtime/datatypes/char.h"

#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>

#include "runtime/core/series.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/unicode.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

using testing::form_of;
using testing::mold_of;
using testing::binary;
using testing::raised_error;

Cell C(uint32_t code_point) { return char_::make(code_point); }
Cell I(int32_t value) { return integer::make(value); }
Cell F(double value) { return float_::make(value); }

constexpr uint32_t kLast = char_::max_code_point;

// The code point a char! action should leave, or the script error.
struct Expect {
  uint32_t code_point = 0;
  uint16_t error = 0;
};
Expect OK(uint32_t code_point) { return {code_point, 0}; }
Expect E(err::Code code) { return {0, code.value}; }

template <class Body>
void expect_char(const Cell& first, Body&& body, const Expect& expected, const std::string& label) {
  Cell result{};
  const uint16_t code = raised_error([&] {
    Val value = stack::push(first);
    body(value);
    result = *value;
  });
  if (expected.error != 0) {
    EXPECT_EQ(code, expected.error) << label;
    return;
  }
  ASSERT_EQ(code, 0) << label;
  ASSERT_TRUE(cell::is(result, TypeId::char_)) << label;
  EXPECT_EQ(char_::get(result), expected.code_point) << label;
}

class Char : public testing::RuntimeTest {
 protected:
  const ActionTable& actions() { return datatype::actions(TypeId::char_); }

  Cell text(std::string_view utf8, uint32_t index = 0) {
    Val s = string::push_new(16);
    string::append_utf8(s, utf8);
    s->w1 = index;
    return *s;
  }
};

TEST_F(Char, Arithmetic) {
  const ActionTable& a = actions();
  struct Case {
    uint32_t left;
    action::BinaryFn op;
    const char* name;
    Cell right;
    Expect expected;
  };
  const Case cases[] = {
      {'a', a.add, "+", I(1), OK('b')},
      {'a', a.add, "+", C(1), OK('b')},
      {'a', a.subtract, "-", I(97), OK(0)},
      {'a', a.subtract, "-", C('a'), OK(0)},
      {'A', a.add, "+", F(1.9), OK('B')},  // a float counts truncated
      {'A', a.add, "+", F(-1.9), OK('@')},
      {'a', a.divide, "/", I(2), OK('0')},  // no float quotient
      {'a', a.remainder, "//", I(10), OK(7)},
      {'a', a.multiply, "*", I(2), OK(194)},
      {'a', a.and_, "and", I(0xDF), OK('A')},
      {'A', a.or_, "or", I(0x20), OK('a')},
      {'a', a.xor_, "xor", C(0x20), OK('A')},
      {kLast - 1, a.add, "+", I(1), OK(kLast)},
      // Leaving the code points, or 32 bits, is an overflow.
      {kLast, a.add, "+", I(1), E(err::math::overflow)},
      {'a', a.subtract, "-", I(98), E(err::math::overflow)},
      {'a', a.multiply, "*", I(-1), E(err::math::overflow)},
      {kLast, a.multiply, "*", I(kLast), E(err::math::overflow)},
      {'a', a.add, "+", I(integer::max_value), E(err::math::overflow)},
      {'a', a.xor_, "xor", I(-1), E(err::math::overflow)},
      {'a', a.add, "+", F(1e10), E(err::math::overflow)},
      {'a', a.add, "+", F(std::numeric_limits<double>::quiet_NaN()), E(err::math::overflow)},
      {'a', a.divide, "/", I(0), E(err::math::zero_divide)},
      {'a', a.remainder, "//", C(0), E(err::math::zero_divide)},
      // Only characters, integers and floats take part.
      {'a', a.add, "+", percent::make(0.5), E(err::script::invalid_type)},
      {'a', a.add, "+", none::make(), E(err::script::invalid_type)},
      {'a', a.add, "+", logic::make(true), E(err::script::invalid_type)},
  };
  for (const Case& c : cases) {
    const std::string label = std::to_string(c.left) + " " + c.name;
    expect_char(C(c.left), [&](Val v) { c.op(v, stack::push(c.right)); }, c.expected, label);
  }
  raised_error([&] { a.add(char_::push('a'), stack::push(none::make())); });
  EXPECT_EQ(datatype::get(error::pending().args[0]), TypeId::none) << "names the operand's type";

  // Actions a character does not have, and the ones it shares with integer!.
  EXPECT_EQ(a.negate, nullptr);
  EXPECT_EQ(a.power, nullptr);
  EXPECT_EQ(a.round, nullptr);
  EXPECT_EQ(a.complement, nullptr);
  expect_char(C('a'), [&](Val v) { a.absolute(v); }, OK('a'), "absolute");
  EXPECT_TRUE(a.even_q(char_::push('b')));
  EXPECT_TRUE(a.odd_q(char_::push('a')));

  // integer! on the left answers an integer.
  Val sum = integer::push(1);
  datatype::actions(TypeId::integer).add(sum, char_::push('a'));
  EXPECT_TRUE(cell::is(*sum, TypeId::integer));
  EXPECT_EQ(integer::get(*sum), 98);
}

TEST_F(Char, MakeAndTo) {
  struct Case {
    Cell spec;
    const char* label;
    Expect expected;
  };
  const Case cases[] = {
      {I(65), "65", OK('A')},
      {I(0), "0", OK(0)},
      {I(kLast), "0x10FFFF", OK(kLast)},
      {I(0xD800), "a surrogate", OK(0xD800)},
      {I(kLast + 1), "1114112", E(err::script::out_of_range)},
      {I(-1), "-1", E(err::script::out_of_range)},
      {C('z'), "#z", OK('z')},
      {F(65.9), "65.9", OK('A')},
      {F(-0.5), "-0.5", OK(0)},  // truncates to 0
      {F(-1.0), "-1.0", E(err::script::out_of_range)},
      {F(1114112.0), "1114112.0", E(err::script::out_of_range)},
      {F(std::numeric_limits<double>::quiet_NaN()), "NaN", E(err::script::out_of_range)},
      {percent::make(65.0), "6500%", OK('A')},
      {text("abc"), "\"abc\"", OK('a')},
      {text("abc", 2), "\"abc\" at 2", OK('c')},
      {text("\xF0\x9F\x98\x80"), "an emoji", OK(0x1F600)},
      {text(""), "\"\"", E(err::script::bad_to_arg)},
      {text("abc", 3), "at the tail", E(err::script::bad_to_arg)},
      {binary({0x41, 0x42}), "#{4142}", OK('A')},
      {binary({0xC3, 0xA9}), "#{C3A9}", OK(0xE9)},
      {binary({0xF0, 0x9F, 0x98, 0x80, 0x41}), "4 bytes", OK(0x1F600)},
      {binary({0xC3}), "a cut sequence", E(err::script::bad_to_arg)},
      {binary({0x80}), "a stray continuation", E(err::script::bad_to_arg)},
      {binary({}), "#{}", E(err::script::bad_to_arg)},
      {logic::make(true), "true", E(err::script::bad_to_arg)},
      {none::make(), "none", E(err::script::bad_to_arg)},
  };
  for (const Case& c : cases) {
    for (bool make : {false, true}) {
      const action::MakeFn fn = make ? actions().make : actions().to;
      expect_char(
          datatype::make(TypeId::char_), [&](Val v) { fn(v, stack::push(c.spec), TypeId::char_); }, c.expected,
          std::string(make ? "make " : "to ") + c.label);
    }
  }
  raised_error([&] { actions().to(stack::push(datatype::make(TypeId::char_)), integer::push(-5), TypeId::char_); });
  EXPECT_EQ(integer::get(error::pending().args[0]), -5) << "out-of-range names the value";
  raised_error([&] { actions().to(stack::push(datatype::make(TypeId::char_)), stack::push(text("")), TypeId::char_); });
  EXPECT_EQ(datatype::get(error::pending().args[0]), TypeId::char_);
}

TEST_F(Char, Compare) {
  const auto compare = actions().compare;
  struct Case {
    Cell a, b;
    CmpOp op;
    int expected;
  };
  const Case cases[] = {
      {C('a'), C('a'), CmpOp::equal, 0},
      {C('a'), C('b'), CmpOp::lesser, -1},
      {C(kLast), C(0), CmpOp::greater, 1},
      {C('a'), C('a'), CmpOp::strict_equal, 0},
      {C('a'), C('A'), CmpOp::equal, 1},  // no case folding
      {C('a'), I(97), CmpOp::equal, 0},
      {C('a'), I(-1), CmpOp::greater, 1},
      {C('a'), I(97), CmpOp::strict_equal, 1},
      {C('a'), I(97), CmpOp::same, 1},
      {C('a'), I(97), CmpOp::lookup, 1},
      {C('a'), F(97.0), CmpOp::equal, -2},
      {C('a'), none::make(), CmpOp::lesser, -2},
  };
  for (const Case& c : cases)
    EXPECT_EQ(compare(c.a, c.b, c.op), c.expected) << c.a.w2 << " op " << static_cast<int>(c.op);
}

TEST_F(Char, FormAndMold) {
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
    const auto f = form_of(C(c.code_point), 10);
    EXPECT_EQ(f.text, formed) << c.code_point;
    EXPECT_EQ(f.budget, 9) << c.code_point;
    for (bool all : {false, true}) {
      const std::string expected = all ? c.molded_all : c.molded;
      const auto m = mold_of(C(c.code_point), {.all = all}, 10);
      EXPECT_EQ(m.text, expected) << c.code_point;
      // The budget counts the characters written, escapes included.
      const auto characters = static_cast<int32_t>(unicode::utf8_count(expected));
      EXPECT_EQ(m.budget, 10 - characters) << expected;
    }
  }

  // Forming widens the string to the character's unit.
  Val out = string::push_new(4);
  string::append_latin1(out, "x");
  Val wide = char_::push(0x1F600);
  actions().form(wide, out, 100);
  EXPECT_EQ(memory::buffer(series::node_of(*out))->unit(), 4u);
  EXPECT_EQ(string::to_utf8(*out), "x\xF0\x9F\x98\x80");
}

TEST_F(Char, RandomKeepsTheType) {
  for (int i = 0; i < 100; ++i) {
    Val v = char_::push('z');
    actions().random(v, false, false, false);
    ASSERT_TRUE(cell::is(*v, TypeId::char_));
    ASSERT_GE(char_::get(*v), 1u);
    ASSERT_LE(char_::get(*v), static_cast<uint32_t>('z'));
  }
}

}  // namespace
}  // namespace kiv
