#include "runtime/datatypes/integer.h"

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "runtime/core/series.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

using testing::form_of;
using testing::mold_of;
using testing::binary;
using testing::raised_error;

constexpr int32_t kMin = integer::min_value;
constexpr int32_t kMax = integer::max_value;

Cell int_cell(int32_t value) { return integer::make(value); }
Cell char_cell(uint32_t code_point) { return Cell{cell::header(TypeId::char_), 0, code_point, 0}; }
Cell double_cell(TypeId type, double value) {
  Cell c{cell::header(type), 0, 0, 0};
  cell::set_double(c, value);
  return c;
}
Cell float_cell(double value) { return double_cell(TypeId::float_, value); }
// A value of a type whose payload the integer code never reads.
Cell bare(TypeId type) { return Cell{cell::header(type), 0, 0, 0}; }

// What an action should leave: an integer!, a float!, or a script error.
struct Expect {
  TypeId type;
  int32_t integer = 0;
  double number = 0;
  uint16_t error = 0;
};
Expect I(int32_t value) { return {TypeId::integer, value}; }
Expect F(double value) { return {TypeId::float_, 0, value}; }
Expect E(err::Code code) { return {TypeId::none_type, 0, 0, code.value}; }

// Runs `body` on a value pushed from `first` and checks what it left there.
template <class Body>
void expect_result(const Cell& first, Body&& body, const Expect& expected, const std::string& label) {
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
  ASSERT_EQ(cell::type_of(result), expected.type) << label;
  if (expected.type == TypeId::integer) EXPECT_EQ(integer::get(result), expected.integer) << label;
  else EXPECT_EQ(cell::get_double(result), expected.number) << label;
}

class Integer : public testing::RuntimeTest {
 protected:
  const ActionTable& actions() { return datatype::actions(TypeId::integer); }
};

TEST_F(Integer, Arithmetic) {
  const ActionTable& a = actions();
  struct Case {
    int32_t left;
    action::BinaryFn op;
    const char* name;
    int32_t right;
    Expect expected;
  };
  const Case cases[] = {
      {1, a.add, "+", 2, I(3)},
      {kMax, a.add, "+", 1, F(2147483648.0)},
      {kMin, a.add, "+", -1, F(-2147483649.0)},
      {kMin, a.add, "+", kMin, F(-4294967296.0)},
      {kMin, a.add, "+", kMax, I(-1)},
      {kMin, a.subtract, "-", 1, F(-2147483649.0)},
      {kMax, a.subtract, "-", -1, F(2147483648.0)},
      {0, a.subtract, "-", kMin, F(2147483648.0)},
      {-1, a.subtract, "-", kMin, I(kMax)},
      {65536, a.multiply, "*", 65536, F(4294967296.0)},
      {46341, a.multiply, "*", 46341, F(2147488281.0)},
      {kMin, a.multiply, "*", -1, F(2147483648.0)},
      {-65536, a.multiply, "*", 32768, I(kMin)},
      {kMin, a.multiply, "*", kMin, F(4611686018427387904.0)},
      {6, a.divide, "/", 2, I(3)},
      {7, a.divide, "/", 2, F(3.5)},
      {-7, a.divide, "/", 2, F(-3.5)},
      {1, a.divide, "/", 3, F(1.0 / 3.0)},
      {-6, a.divide, "/", -3, I(2)},
      {kMax, a.divide, "/", -1, I(-kMax)},
      {kMin, a.divide, "/", 2, I(-1073741824)},
      {kMin, a.divide, "/", kMin, I(1)},
      {kMin, a.divide, "/", -1, E(err::math::overflow)},
      {1, a.divide, "/", 0, E(err::math::zero_divide)},
      {0, a.divide, "/", 0, E(err::math::zero_divide)},
      {-7, a.remainder, "//", 2, I(-1)},
      {7, a.remainder, "//", -2, I(1)},
      {-7, a.remainder, "//", -2, I(-1)},
      {kMin, a.remainder, "//", 3, I(-2)},
      {kMin, a.remainder, "//", -1, I(0)},
      {kMax, a.remainder, "//", kMin, I(kMax)},
      {5, a.remainder, "//", 0, E(err::math::zero_divide)},
      {12, a.and_, "and", 10, I(8)},
      {12, a.or_, "or", 10, I(14)},
      {12, a.xor_, "xor", 10, I(6)},
      {-1, a.and_, "and", kMin, I(kMin)},
      {kMax, a.xor_, "xor", -1, I(kMin)},
  };
  for (const Case& c : cases) {
    const std::string label = std::to_string(c.left) + " " + c.name + " " + std::to_string(c.right);
    expect_result(int_cell(c.left), [&](Val v) { c.op(v, stack::push(int_cell(c.right))); }, c.expected, label);
  }
}

TEST_F(Integer, MixedOperands) {
  const ActionTable& a = actions();
  // A char! on the right counts as its code point; the result is integer!.
  expect_result(int_cell(1), [&](Val v) { a.add(v, stack::push(char_cell('a'))); }, I(98), "1 + #a");
  expect_result(int_cell(200), [&](Val v) { a.divide(v, stack::push(char_cell(8))); }, I(25), "200 / ^H");

  for (TypeId type : {TypeId::none, TypeId::logic, TypeId::string, TypeId::issue}) {
    const uint16_t code = raised_error([&] { a.add(stack::push(int_cell(1)), stack::push(bare(type))); });
    EXPECT_EQ(code, err::script::invalid_type.value);
    EXPECT_EQ(datatype::get(error::pending().args[0]), type) << "names the right operand's type";
  }

  // Combinations that no richer type can give a meaning to.
  struct Refused {
    action::BinaryFn op;
    TypeId right;
    const char* action;
  };
  const Refused refused[] = {
      {a.subtract, TypeId::tuple, "subtract"}, {a.divide, TypeId::tuple, "divide"},
      {a.divide, TypeId::pair, "divide"},      {a.divide, TypeId::point3d, "divide"},
      {a.multiply, TypeId::date, "multiply"},  {a.remainder, TypeId::date, "remainder"},
  };
  for (const Refused& r : refused) {
    const uint16_t code = raised_error([&] { r.op(stack::push(int_cell(3)), stack::push(bare(r.right))); });
    ASSERT_EQ(code, err::script::not_related.value) << r.action;
    const error::Pending& raised = error::pending();
    EXPECT_EQ(datatype::get(raised.args[0]), TypeId::integer);
    EXPECT_EQ(symbol::spelling(raised.args[1].w2), r.action);
  }
}

TEST_F(Integer, WholeQuotientOfEveryDivisorSign) {
  // Whole quotients stay integer!, for every combination of signs, and the
  // remainder carries the dividend's sign.
  const ActionTable& a = actions();
  for (int32_t x : {-12, -7, 0, 7, 12}) {
    for (int32_t y : {-4, -3, 3, 4}) {
      Val q = integer::push(x);
      a.divide(q, integer::push(y));
      if (x % y == 0) {
        ASSERT_TRUE(cell::is(*q, TypeId::integer)) << x << " / " << y;
        EXPECT_EQ(integer::get(*q), x / y);
      } else {
        ASSERT_TRUE(cell::is(*q, TypeId::float_)) << x << " / " << y;
        EXPECT_EQ(cell::get_double(*q), static_cast<double>(x) / y);
      }
      Val r = integer::push(x);
      a.remainder(r, integer::push(y));
      EXPECT_EQ(integer::get(*r), x % y);
    }
  }
}

TEST_F(Integer, UnaryActions) {
  const ActionTable& a = actions();
  struct Case {
    action::UnaryFn op;
    const char* name;
    int32_t value;
    Expect expected;
  };
  const Case cases[] = {
      {a.negate, "negate", 5, I(-5)},
      {a.negate, "negate", 0, I(0)},
      {a.negate, "negate", kMax, I(-kMax)},
      {a.negate, "negate", kMin, E(err::math::overflow)},
      {a.absolute, "absolute", -5, I(5)},
      {a.absolute, "absolute", -kMax, I(kMax)},
      {a.absolute, "absolute", kMin, E(err::math::overflow)},
      {a.complement, "complement", 0, I(-1)},
      {a.complement, "complement", kMin, I(kMax)},
  };
  for (const Case& c : cases)
    expect_result(int_cell(c.value), [&](Val v) { c.op(v); }, c.expected,
                  std::string(c.name) + " " + std::to_string(c.value));

  for (int32_t n : {kMin, -3, -2, 0, 7, kMax}) {
    const bool is_even = n % 2 == 0;
    EXPECT_EQ(a.even_q(integer::push(n)), is_even) << n;
    EXPECT_EQ(a.odd_q(integer::push(n)), !is_even) << n;
  }
}

TEST_F(Integer, Power) {
  struct Case {
    int32_t base, exponent;
    int32_t expected;
  };
  const Case cases[] = {
      {3, 2, 9},
      {2, 30, 1073741824},
      {-2, 31, kMin},  // the last product just fits
      {46340, 2, 2147395600},
      {65536, 1, 65536},  // squaring past 32 bits is harmless when no bit is left to use it
      {2, 16, 65536},
      {-1, kMax, -1},
      {0, 0, 1},
      {7, 0, 1},
      {0, 5, 0},
  };
  for (const Case& c : cases) {
    expect_result(int_cell(c.base), [&](Val v) { actions().power(v, stack::push(int_cell(c.exponent))); },
                  I(c.expected), std::to_string(c.base) + " ** " + std::to_string(c.exponent));
  }
  const uint16_t code = raised_error([&] { actions().power(integer::push(2), stack::push(none::make())); });
  EXPECT_EQ(code, err::script::expect_arg.value);
  EXPECT_EQ(datatype::get(error::pending().args[1]), TypeId::none);
}

TEST_F(Integer, Round) {
  struct Case {
    int32_t value;
    std::optional<int32_t> scale;  // /to
    RoundOptions mode;             // its scale is filled from `scale`
    Expect expected;
  };
  const RoundOptions plain{};
  const RoundOptions even{.even = true};
  const RoundOptions down{.down = true};
  const RoundOptions half_down{.half_down = true};
  const RoundOptions floor{.floor = true};
  const RoundOptions ceiling{.ceiling = true};
  const RoundOptions half_ceiling{.half_ceiling = true};
  const Case cases[] = {
      {17, 5, plain, I(15)},
      {18, 5, plain, I(20)},
      {17, -5, plain, I(15)},  // the scale's sign does not matter
      {17, 0, plain, I(17)},
      {17, std::nullopt, plain, I(17)},
      {25, 10, plain, I(30)},  // ties away from zero
      {-25, 10, plain, I(-30)},
      {25, 10, even, I(20)},
      {35, 10, even, I(40)},
      {-25, 10, even, I(-20)},
      {25, 10, half_down, I(20)},
      {-25, 10, half_down, I(-20)},
      {25, 10, half_ceiling, I(30)},
      {-25, 10, half_ceiling, I(-20)},
      {26, 10, half_down, I(30)},  // the tie rules apply to ties only
      {24, 10, even, I(20)},
      {19, 10, down, I(10)},
      {-19, 10, down, I(-10)},
      {11, 10, floor, I(10)},
      {-11, 10, floor, I(-20)},
      {11, 10, ceiling, I(20)},
      {-11, 10, ceiling, I(-10)},
      {-20, 10, floor, I(-20)},  // a multiple stays
      // Results at and beyond both ends of 32 bits.
      {kMax, 10, plain, E(err::math::overflow)},
      {kMax, 10, down, I(2147483640)},
      {kMax, 2, plain, E(err::math::overflow)},
      {-kMax, 2, plain, I(kMin)},
      {kMin + 1, 2, floor, I(kMin)},
      {kMin, 10, plain, E(err::math::overflow)},
      {kMin, 10, ceiling, I(-2147483640)},
      {kMin, 2, plain, I(kMin)},
      {kMin, kMin, plain, I(kMin)},
      {-2000000000, kMin, plain, I(kMin)},
      {2000000000, kMin, plain, E(err::math::overflow)},
      {1000000000, kMin, plain, I(0)},
  };
  for (const Case& c : cases) {
    const std::string label = "round " + std::to_string(c.value) + " to " +
                              (c.scale ? std::to_string(*c.scale) : std::string("none"));
    expect_result(
        int_cell(c.value),
        [&](Val v) {
          RoundOptions options = c.mode;
          if (c.scale) options.scale = integer::push(*c.scale);
          actions().round(v, options);
        },
        c.expected, label);
  }

  const uint16_t code = raised_error([&] {
    actions().round(integer::push(5), RoundOptions{.scale = stack::push(bare(TypeId::money))});
  });
  EXPECT_EQ(code, err::script::not_related.value);
  EXPECT_EQ(datatype::get(error::pending().args[0]), TypeId::money);
  EXPECT_EQ(symbol::spelling(error::pending().args[1].w2), "round");
}

TEST_F(Integer, Compare) {
  const auto compare = actions().compare;
  struct Case {
    Cell a, b;
    CmpOp op;
    int expected;
  };
  const Case cases[] = {
      {int_cell(1), int_cell(1), CmpOp::equal, 0},
      {int_cell(1), int_cell(2), CmpOp::lesser, -1},
      {int_cell(kMin), int_cell(kMax), CmpOp::sort, -1},  // signed, not unsigned
      {int_cell(kMax), int_cell(-1), CmpOp::greater, 1},
      {int_cell(3), int_cell(3), CmpOp::strict_equal, 0},
      {int_cell(97), char_cell('a'), CmpOp::equal, 0},
      {int_cell(98), char_cell('a'), CmpOp::greater, 1},
      // Strict equality, sameness and key lookup want integer! on both sides.
      {int_cell(97), char_cell('a'), CmpOp::strict_equal, 1},
      {int_cell(97), char_cell('a'), CmpOp::same, 1},
      {int_cell(97), char_cell('a'), CmpOp::lookup, 1},
      {int_cell(0), none::make(), CmpOp::strict_equal, 1},
      {int_cell(0), none::make(), CmpOp::equal, -2},
      {int_cell(1), logic::make(true), CmpOp::sort, -2},
  };
  for (const Case& c : cases)
    EXPECT_EQ(compare(c.a, c.b, c.op), c.expected)
        << integer::get(c.a) << " op " << static_cast<int>(c.op) << " type " << static_cast<int>(c.b.header);
}

TEST_F(Integer, FormAndMold) {
  for (int32_t n : {0, 7, -1, 1000000, kMax, kMin}) {
    const std::string text = std::to_string(n);
    const auto formed = form_of(int_cell(n), 5);
    EXPECT_EQ(formed.text, text);
    EXPECT_EQ(formed.budget, 5 - static_cast<int32_t>(text.size())) << "may go negative";
    EXPECT_EQ(mold_of(int_cell(n)).text, text);
    EXPECT_EQ(mold_of(int_cell(n), {.all = true}).text, text);
  }
}

class IntegerConversion : public Integer {
 protected:
  Cell text(std::string_view utf8, uint32_t index = 0) {
    Val s = string::push_new(16);
    string::append_utf8(s, utf8);
    s->w1 = index;
    return *s;
  }
  Cell issue(std::string_view spelling) { return *stack::push(word::make_issue(spelling)); }

  void expect_to(const Cell& spec, const Expect& expected, const std::string& label) {
    expect_result(
        datatype::make(TypeId::integer), [&](Val v) { actions().to(v, stack::push(spec), TypeId::integer); },
        expected, "to " + label);
  }
};

TEST_F(IntegerConversion, FromText) {
  struct Case {
    const char* text;
    Expect expected;
  };
  const Case cases[] = {
      {"1'000", I(1000)},
      {"1''000'", I(1000)},
      {"+42", I(42)},
      {"-0", I(0)},
      {"007", I(7)},
      {"2147483647", I(kMax)},
      {"-2147483648", I(kMin)},
      {"2147483648", E(err::script::bad_to_arg)},
      {"-2147483649", E(err::script::bad_to_arg)},
      {"99999999999999999999", E(err::script::bad_to_arg)},
      {"12a", E(err::script::bad_to_arg)},
      {" 12", E(err::script::bad_to_arg)},
      {"1.5", E(err::script::bad_to_arg)},
      {"", E(err::script::bad_to_arg)},
      {"-", E(err::script::bad_to_arg)},
      {"'", E(err::script::bad_to_arg)},
      {"+-1", E(err::script::bad_to_arg)},
      {"\xD9\xA3", E(err::script::bad_to_arg)},  // a digit of another script
  };
  for (const Case& c : cases) expect_to(text(c.text), c.expected, std::string("\"") + c.text + "\"");

  expect_to(text("x123", 1), I(123), "from the string's index");
  Cell url = text("42");
  cell::set_type(url, TypeId::url);
  expect_to(url, I(42), "url! text");

  const Cell bad = text("12a");
  raised_error([&] { actions().to(stack::push(bad), stack::push(bad), TypeId::integer); });
  EXPECT_EQ(datatype::get(error::pending().args[0]), TypeId::integer);
  EXPECT_EQ(string::to_utf8(error::pending().args[1]), "12a") << "names the value";
}

TEST_F(IntegerConversion, FromNumbers) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    Cell spec;
    const char* label;
    Expect expected;
  };
  const Case cases[] = {
      {int_cell(-5), "-5", I(-5)},
      {char_cell(0x10FFFF), "char", I(0x10FFFF)},
      {float_cell(-1.9), "-1.9", I(-1)},
      {float_cell(1.9), "1.9", I(1)},
      {float_cell(-0.0), "-0.0", I(0)},
      {float_cell(2147483647.0), "max", I(kMax)},
      {float_cell(-2147483648.0), "min", I(kMin)},
      {float_cell(2147483648.0), "2^31", E(err::script::type_limit)},
      {float_cell(2147483647.5), "max + 0.5", E(err::script::type_limit)},
      {float_cell(-2147483648.5), "min - 0.5", E(err::script::type_limit)},
      {float_cell(nan), "nan", E(err::script::type_limit)},
      {float_cell(-inf), "-inf", E(err::script::type_limit)},
      {double_cell(TypeId::percent, 0.5), "50%", I(0)},
      {double_cell(TypeId::percent, 250.0), "25000%", I(250)},
      // Times round half away from zero.
      {double_cell(TypeId::time, 1.5), "0:00:01.5", I(2)},
      {double_cell(TypeId::time, 1.4), "0:00:01.4", I(1)},
      {double_cell(TypeId::time, -1.7), "-0:00:01.7", I(-2)},
      {double_cell(TypeId::time, -0.4), "-0:00:00.4", I(0)},
      {double_cell(TypeId::time, 1e10), "huge time", E(err::script::type_limit)},
  };
  for (const Case& c : cases) expect_to(c.spec, c.expected, c.label);
  raised_error([&] { actions().to(stack::push(bare(TypeId::unset)), stack::push(float_cell(1e12)), TypeId::integer); });
  EXPECT_EQ(datatype::get(error::pending().args[0]), TypeId::integer);
}

TEST_F(IntegerConversion, FromIssueAndBinary) {
  struct Case {
    Cell spec;
    const char* label;
    Expect expected;
  };
  const Case cases[] = {
      {issue("FF"), "#FF", I(255)},
      {issue("ff"), "#ff", I(255)},
      {issue("7FFFFFFF"), "#7FFFFFFF", I(kMax)},
      {issue("FFFFFFFF"), "#FFFFFFFF", I(-1)},
      {issue("123456789"), "#123456789", E(err::script::invalid_data)},
      {issue("FG"), "#FG", E(err::script::invalid_data)},
      {issue("-1"), "#-1", E(err::script::invalid_data)},
      {binary({}), "#{}", I(0)},
      {binary({0x01}), "#{01}", I(1)},
      {binary({0x01, 0x02}), "#{0102}", I(258)},
      {binary({0xFF, 0xFF, 0xFF, 0xFF}), "#{FFFFFFFF}", I(-1)},
      {binary({0x80, 0, 0, 0}), "#{80000000}", I(kMin)},
      {binary({0x12, 0x34, 0x56, 0x78, 0x9A}), "five bytes", I(0x12345678)},
      {binary({0xAA, 0, 0, 1, 2}, 1), "from index 1", I(258)},
      {binary({0xAA}, 1), "at the tail", I(0)},
  };
  for (const Case& c : cases) expect_to(c.spec, c.expected, c.label);
}

TEST_F(IntegerConversion, MakeAndRefusedSpecs) {
  const ActionTable& a = actions();
  for (bool truth : {false, true}) {
    Val made = stack::push(datatype::make(TypeId::integer));
    a.make(made, logic::push(truth), TypeId::integer);
    EXPECT_TRUE(cell::is(*made, TypeId::integer));
    EXPECT_EQ(integer::get(*made), truth ? 1 : 0);
  }
  Val made = stack::push(datatype::make(TypeId::integer));
  a.make(made, stack::push(text("-12")), TypeId::integer);
  EXPECT_EQ(integer::get(*made), -12) << "other specs as `to`";

  // `to` has no rule for logic!, and none of the other types convert.
  for (const Cell& spec : {logic::make(true), none::make(), datatype::make(TypeId::integer), bare(TypeId::block)}) {
    const uint16_t code =
        raised_error([&] { a.to(stack::push(datatype::make(TypeId::integer)), stack::push(spec), TypeId::integer); });
    EXPECT_EQ(code, err::script::bad_to_arg.value) << static_cast<int>(spec.header);
    EXPECT_EQ(datatype::get(error::pending().args[0]), TypeId::integer);
    EXPECT_EQ(cell::type_of(error::pending().args[1]), cell::type_of(spec));
  }
}

TEST_F(Integer, Random) {
  const ActionTable& a = actions();
  auto draw = [&](const Cell& value) {
    Val v = stack::push(value);
    a.random(v, false, false, false);
    return *v;
  };
  auto seeded_run = [&] {
    Val seed = integer::push(1234);
    a.random(seed, true, false, false);
    EXPECT_TRUE(cell::is(*seed, TypeId::unset)) << "seeding answers unset";
    std::vector<int32_t> run;
    for (int i = 0; i < 20; ++i) run.push_back(integer::get(draw(int_cell(1000000))));
    return run;
  };
  EXPECT_EQ(seeded_run(), seeded_run()) << "the same seed, the same draws";

  struct Range {
    int32_t n, low, high;
  };
  for (const Range& r : {Range{6, 1, 6}, Range{-6, -6, -1}, Range{1, 1, 1}, Range{0, 0, 0}}) {
    std::set<int32_t> seen;
    for (int i = 0; i < 300; ++i) {
      const Cell drawn = draw(int_cell(r.n));
      ASSERT_TRUE(cell::is(drawn, TypeId::integer));
      const int32_t value = integer::get(drawn);
      ASSERT_GE(value, r.low) << r.n;
      ASSERT_LE(value, r.high) << r.n;
      seen.insert(value);
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(r.high - r.low + 1)) << "every value of 1.." << r.n << " turns up";
  }
  for (int32_t n : {kMin, kMax}) {
    const int32_t value = integer::get(draw(int_cell(n)));
    EXPECT_TRUE(n < 0 ? value < 0 : value > 0) << n;
  }

  Val secure = integer::push(10);
  a.random(secure, false, true, false);
  EXPECT_GE(integer::get(*secure), 1);
  EXPECT_LE(integer::get(*secure), 10);

  const Cell code_point = draw(char_cell(0x41));
  EXPECT_TRUE(cell::is(code_point, TypeId::char_)) << "the cell keeps its type";
  EXPECT_LE(code_point.w2, 0x41u);
}

}  // namespace
}  // namespace kiv
