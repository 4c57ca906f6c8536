// float! and percent!: mixed arithmetic and its result types, near-equality
// and the NaN rules of compare, round with every refinement and scale type,
// power, conversions, form and mold.
#include "runtime/datatypes/float.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "runtime/core/series.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/symbol.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

using testing::form_of;
using testing::mold_of;
using testing::binary;
using testing::raised_error;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Cell number(TypeId type, double value) {
  Cell c{cell::header(type), 0, 0, 0};
  cell::set_double(c, value);
  return c;
}
Cell F(double value) { return float_::make(value); }
Cell P(double fraction) { return percent::make(fraction); }
Cell T(double seconds) { return number(TypeId::time, seconds); }
Cell I(int32_t value) { return integer::make(value); }
Cell C(uint32_t code_point) { return char_::make(code_point); }
Cell bare(TypeId type) { return Cell{cell::header(type), 0, 0, 0}; }

// The `steps`-th representable double after x.
double ulps_after(double x, int steps) {
  for (int i = 0; i < steps; ++i) x = std::nextafter(x, kInf);
  return x;
}

// What an action should leave in its first argument: a value of a type
// (compared bit for bit, NaN with NaN), or a script error.
struct Expect {
  Cell value{};
  uint16_t error = 0;
};
Expect V(const Cell& value) { return {value, 0}; }
Expect E(err::Code code) { return {Cell{}, code.value}; }

std::string describe(const Cell& value) {
  const TypeId type = cell::type_of(value);
  if (type == TypeId::integer || type == TypeId::char_) return std::to_string(integer::get(value));
  return std::to_string(cell::get_double(value)) + " type " + std::to_string(static_cast<int>(type));
}

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
  const Cell& want = expected.value;
  ASSERT_EQ(cell::type_of(result), cell::type_of(want)) << label << ": got " << describe(result);
  if (cell::type_of(want) == TypeId::integer) {
    EXPECT_EQ(integer::get(result), integer::get(want)) << label;
    return;
  }
  const double got = cell::get_double(result);
  const double wanted = cell::get_double(want);
  if (std::isnan(wanted)) EXPECT_TRUE(std::isnan(got)) << label << ": got " << got;
  else EXPECT_EQ(std::bit_cast<uint64_t>(got), std::bit_cast<uint64_t>(wanted)) << label << ": got " << got;
}

class Float : public testing::RuntimeTest {
 protected:
  const ActionTable& actions(TypeId type = TypeId::float_) { return datatype::actions(type); }
};

TEST_F(Float, NearEquality) {
  const double sum = [] {
    volatile double a = 0.1;
    return a + 0.2;
  }();
  struct Case {
    double a, b;
    bool near;
  };
  const Case cases[] = {
      {sum, 0.3, true},
      {1.0, ulps_after(1.0, 10), true},
      {1.0, ulps_after(1.0, 11), false},
      {-1.0, -ulps_after(1.0, 10), true},
      {-1.0, -ulps_after(1.0, 11), false},
      {1e300, ulps_after(1e300, 10), true},
      {0.0, -0.0, true},
      // Below the double epsilon everything is near, across zero too.
      {1e-300, 2e-300, true},
      {5e-324, -5e-324, true},
      {1e-16, -1e-16, true},
      {2e-16, -2e-16, false},
      {1.0, 1.001, false},
      {kInf, kInf, true},
      // The ordered patterns of the largest double and infinity are neighbours.
      {kInf, std::numeric_limits<double>::max(), true},
      {kInf, 1e308, false},
      {-kInf, kInf, false},
      {kNaN, kNaN, false},
      {kNaN, 1.0, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(float_::almost_equal(c.a, c.b), c.near) << c.a << " ~ " << c.b;
    EXPECT_EQ(float_::almost_equal(c.b, c.a), c.near) << c.b << " ~ " << c.a << " (swapped)";
  }
}

TEST_F(Float, NearEqualityOf32BitFloats) {
  const auto after = [](float x, int steps) {
    for (int i = 0; i < steps; ++i) x = std::nextafter(x, std::numeric_limits<float>::infinity());
    return x;
  };
  const float inf = std::numeric_limits<float>::infinity();
  const float largest = std::numeric_limits<float>::max();
  struct Case {
    float a, b;
    bool near;
  };
  const Case cases[] = {
      {1.0f, after(1.0f, 10), true},
      {1.0f, after(1.0f, 11), false},
      {-1.0f, -after(1.0f, 10), true},
      {0.0f, -0.0f, true},
      {1e-45f, -1e-45f, true},  // neighbours across zero
      {inf, inf, true},
      {inf, largest, true},  // within 0x100000 of the infinity's pattern
      {inf, 1e30f, false},
      {-inf, largest, false},
      {std::nanf(""), std::nanf(""), false},
  };
  for (const Case& c : cases) EXPECT_EQ(float_::almost_equal32(c.a, c.b), c.near) << c.a << " ~ " << c.b;
}

TEST_F(Float, Arithmetic) {
  const ActionTable& f = actions();
  const ActionTable& n = datatype::actions(TypeId::integer);
  struct Case {
    Cell left;
    action::BinaryFn op;
    const char* name;
    Cell right;
    Expect expected;
  };
  const Case cases[] = {
      {F(1.5), f.add, "+", F(2.25), V(F(3.75))},
      {F(1.5), f.add, "+", I(2), V(F(3.5))},
      {F(1.5), f.add, "+", C('a'), V(F(98.5))},
      {F(1.0), f.subtract, "-", F(3.0), V(F(-2.0))},
      {F(1.5), f.multiply, "*", I(-2), V(F(-3.0))},
      {F(1.0), f.divide, "/", F(0.0), V(F(kInf))},
      {F(-1.0), f.divide, "/", F(0.0), V(F(-kInf))},
      {F(0.0), f.divide, "/", F(0.0), V(F(kNaN))},
      {F(1.0), f.divide, "/", I(0), V(F(kInf))},
      {F(1e308), f.multiply, "*", F(10.0), V(F(kInf))},
      // The remainder has the dividend's sign; by an infinity it is the
      // dividend; of an infinity or by NaN it is NaN.
      {F(5.5), f.remainder, "//", F(2.0), V(F(1.5))},
      {F(-5.5), f.remainder, "//", F(2.0), V(F(-1.5))},
      {F(5.5), f.remainder, "//", F(-2.0), V(F(1.5))},
      {F(5.0), f.remainder, "//", F(kInf), V(F(5.0))},
      {F(5.0), f.remainder, "//", F(-kInf), V(F(5.0))},
      {F(kInf), f.remainder, "//", F(kInf), V(F(kNaN))},
      {F(5.0), f.remainder, "//", F(kNaN), V(F(kNaN))},
      {F(kInf), f.remainder, "//", F(2.0), V(F(kNaN))},
      {F(5.0), f.remainder, "//", F(0.0), V(F(kNaN))},
      // Result types: a percent! left stays percent! (unless a time! takes
      // over); an integer! left becomes float!; any time! gives time!.
      {P(0.5), f.add, "+", P(0.25), V(P(0.75))},
      {P(0.5), f.multiply, "*", I(2), V(P(1.0))},
      {P(0.1), f.add, "+", F(1.0), V(P(1.1))},
      {F(1.0), f.add, "+", P(0.1), V(F(1.1))},
      {I(1), n.add, "+", P(0.5), V(F(1.5))},
      {I(3), n.divide, "/", F(2.0), V(F(1.5))},
      {I(7), n.remainder, "//", F(2.0), V(F(1.0))},
      {I(1), n.subtract, "-", T(0.5), V(T(0.5))},
      {F(1.0), f.add, "+", T(2.0), V(T(3.0))},
      {P(0.5), f.multiply, "*", T(10.0), V(T(5.0))},
      // Refused operands.
      {P(0.5), f.add, "+", C('a'), E(err::script::invalid_type)},
      {F(1.0), f.add, "+", none::make(), E(err::script::invalid_type)},
      {F(1.0), f.add, "+", logic::make(true), E(err::script::invalid_type)},
      {F(1.0), f.subtract, "-", bare(TypeId::pair), E(err::script::not_related)},
      {F(1.0), f.divide, "/", bare(TypeId::point2d), E(err::script::not_related)},
      {I(1), n.and_, "and", F(1.0), E(err::script::cannot_use)},
      {I(1), n.xor_, "xor", P(1.0), E(err::script::cannot_use)},
  };
  for (const Case& c : cases) {
    const std::string label = describe(c.left) + " " + c.name + " " + describe(c.right);
    expect_result(c.left, [&](Val v) { c.op(v, stack::push(c.right)); }, c.expected, label);
  }

  raised_error([&] { f.subtract(float_::push(1.0), stack::push(bare(TypeId::point3d))); });
  EXPECT_EQ(datatype::get(error::pending().args[0]), TypeId::point3d);
  EXPECT_EQ(symbol::spelling(error::pending().args[1].w2), "subtract");
  raised_error([&] { f.add(percent::push(0.5), char_::push('a')); });
  EXPECT_EQ(datatype::get(error::pending().args[0]), TypeId::char_);
}

TEST_F(Float, Compare) {
  const auto compare = actions().compare;
  struct Case {
    Cell a, b;
    CmpOp op;
    int expected;
  };
  const Cell nan = F(kNaN);
  const Case cases[] = {
      {F(0.30000000000000004), F(0.3), CmpOp::equal, 0},
      {F(0.30000000000000004), F(0.3), CmpOp::not_equal, 0},
      {F(0.30000000000000004), F(0.3), CmpOp::strict_equal, 1},
      {F(0.30000000000000004), F(0.3), CmpOp::greater, 1},  // orders exactly
      {F(0.0), F(-0.0), CmpOp::strict_equal, 0},
      {F(0.0), F(-0.0), CmpOp::same, 1},  // same? wants the same bits
      {F(1.5), F(1.5), CmpOp::same, 0},
      {F(1.0), I(1), CmpOp::equal, 0},
      {F(1.0), I(2), CmpOp::lesser, -1},
      {F(0.5), P(0.5), CmpOp::equal, 0},
      {P(0.5), F(0.5), CmpOp::greater_or_equal, 0},
      {F(2.0), T(1.0), CmpOp::greater, 1},
      // Strict equality, sameness and lookup want the same datatype.
      {F(1.0), I(1), CmpOp::strict_equal, 1},
      {F(0.5), P(0.5), CmpOp::strict_equal, 1},
      {P(0.5), F(0.5), CmpOp::same, 1},
      {F(0.5), P(0.5), CmpOp::lookup, 1},
      {F(0.5), F(0.5), CmpOp::lookup, 0},
      // No comparison with characters or other types.
      {F(97.0), C('a'), CmpOp::equal, -2},
      {F(1.0), none::make(), CmpOp::lesser, -2},
      // NaN: never equal, every ordering test false, sorts in place.
      {nan, nan, CmpOp::equal, 1},
      {nan, nan, CmpOp::strict_equal, 1},
      {nan, F(1.0), CmpOp::not_equal, 1},
      {nan, F(1.0), CmpOp::lesser, 1},
      {nan, F(1.0), CmpOp::lesser_or_equal, 1},
      {F(1.0), nan, CmpOp::greater, -1},
      {nan, F(1.0), CmpOp::greater_or_equal, -1},
      {nan, F(1.0), CmpOp::sort, 0},
      {nan, nan, CmpOp::same, 0},
      {nan, F(1.0), CmpOp::lookup, 1},
      {nan, nan, CmpOp::lookup, 0},
      {F(-kInf), F(kInf), CmpOp::lesser, -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(compare(c.a, c.b, c.op), c.expected)
        << describe(c.a) << " op " << static_cast<int>(c.op) << " " << describe(c.b);

  // An integer compared with a float goes through near-equality too.
  const auto compare_integer = datatype::actions(TypeId::integer).compare;
  EXPECT_EQ(compare_integer(I(1), F(ulps_after(1.0, 3)), CmpOp::equal), 0);
  EXPECT_EQ(compare_integer(I(1), F(1.0), CmpOp::strict_equal), 1);
  EXPECT_EQ(compare_integer(I(2), F(kNaN), CmpOp::greater), -1);
  EXPECT_EQ(compare_integer(I(2), P(0.5), CmpOp::greater), 1);
}

TEST_F(Float, UnaryActionsAndPredicates) {
  const ActionTable& f = actions();
  struct Case {
    action::UnaryFn op;
    const char* name;
    Cell value;
    Cell expected;
  };
  const Case cases[] = {
      {f.negate, "negate", F(1.5), F(-1.5)},
      {f.negate, "negate", F(0.0), F(0.0)},
      {f.negate, "negate", F(-0.0), F(0.0)},  // no negative zero
      {f.negate, "negate", P(0.5), P(-0.5)},
      {f.absolute, "absolute", F(-2.5), F(2.5)},
      {f.absolute, "absolute", F(-0.0), F(0.0)},
      {f.absolute, "absolute", F(-kInf), F(kInf)},
      {f.absolute, "absolute", P(-0.25), P(0.25)},
  };
  for (const Case& c : cases)
    expect_result(c.value, [&](Val v) { c.op(v); }, V(c.expected), std::string(c.name) + " " + describe(c.value));

  struct Parity {
    double value;
    bool even, odd;
  };
  const Parity parities[] = {
      {2.0, true, false}, {3.7, false, true},  {-3.7, false, true}, {-2.5, true, false},
      {0.5, true, false}, {1e300, true, false}, {4294967297.0, false, true},
      // No whole part: neither.
      {kInf, false, false}, {kNaN, false, false},
  };
  for (const Parity& p : parities) {
    EXPECT_EQ(f.even_q(float_::push(p.value)), p.even) << "even? " << p.value;
    EXPECT_EQ(f.odd_q(float_::push(p.value)), p.odd) << "odd? " << p.value;
  }
}

TEST_F(Float, Power) {
  const ActionTable& f = actions();
  const ActionTable& n = datatype::actions(TypeId::integer);
  struct Case {
    Cell base;
    action::BinaryFn op;
    Cell exponent;
    Expect expected;
  };
  const Case cases[] = {
      {F(2.0), f.power, I(10), V(F(1024.0))},
      {F(4.0), f.power, F(0.5), V(F(2.0))},
      {F(0.0), f.power, I(-1), V(F(kInf))},
      {F(-8.0), f.power, F(0.5), V(F(kNaN))},
      {P(0.5), f.power, I(2), V(F(0.25))},  // always float!
      // From integer!: float and negative exponents, and overflow.
      {I(2), n.power, I(-1), V(F(0.5))},
      {I(2), n.power, I(31), V(F(2147483648.0))},
      {I(3), n.power, I(40), V(F(std::pow(3.0, 40.0)))},
      {I(2), n.power, F(0.5), V(F(std::sqrt(2.0)))},
      {F(2.0), f.power, P(0.5), E(err::script::expect_arg)},
      {F(2.0), f.power, none::make(), E(err::script::expect_arg)},
  };
  for (const Case& c : cases)
    expect_result(c.base, [&](Val v) { c.op(v, stack::push(c.exponent)); }, c.expected,
                  describe(c.base) + " ** " + describe(c.exponent));
}

TEST_F(Float, Round) {
  struct Case {
    Cell value;
    std::optional<Cell> scale;  // /to
    RoundOptions mode;          // its scale is filled from `scale`
    Expect expected;
  };
  const RoundOptions plain{};
  const RoundOptions even{.even = true};
  const RoundOptions down{.down = true};
  const RoundOptions half_down{.half_down = true};
  const RoundOptions floor{.floor = true};
  const RoundOptions ceiling{.ceiling = true};
  const RoundOptions half_ceiling{.half_ceiling = true};
  const double largest = std::numeric_limits<double>::max();
  const Case cases[] = {
      // Every mode at a tie, above it and below it, on both signs.
      {F(2.5), {}, plain, V(F(3.0))},
      {F(-2.5), {}, plain, V(F(-3.0))},
      {F(2.5), {}, even, V(F(2.0))},
      {F(3.5), {}, even, V(F(4.0))},
      {F(-2.5), {}, even, V(F(-2.0))},
      {F(2.5), {}, half_down, V(F(2.0))},
      {F(-2.5), {}, half_down, V(F(-2.0))},
      {F(2.5), {}, half_ceiling, V(F(3.0))},
      {F(-2.5), {}, half_ceiling, V(F(-2.0))},
      {F(2.6), {}, half_down, V(F(3.0))},
      {F(-2.4), {}, plain, V(F(-2.0))},
      {F(2.7), {}, down, V(F(2.0))},
      {F(-2.7), {}, down, V(F(-2.0))},
      {F(-2.5), {}, floor, V(F(-3.0))},
      {F(2.1), {}, floor, V(F(2.0))},
      {F(2.1), {}, ceiling, V(F(3.0))},
      {F(-2.9), {}, ceiling, V(F(-2.0))},
      {F(-0.3), {}, plain, V(F(-0.0))},  // keeps the value's sign
      // Scales: the result takes an integer! scale's type, a float!
      // scale's, a percent! scale's.
      {F(1.2345), F(0.01), plain, V(F(1.23))},
      {F(1.235), F(-0.01), plain, V(F(1.24))},  // |scale|
      {F(12.6), I(1), plain, V(I(13))},
      {F(-17.5), I(5), plain, V(I(-20))},
      {F(1234.0), I(100), floor, V(I(1200))},
      {F(7.3), F(0.5), plain, V(F(7.5))},
      {F(0.1234), P(0.01), plain, V(P(0.12))},
      {F(1e-310), F(3e-310), plain, V(F(0.0))},  // a scale whose reciprocal overflows
      {F(5e-310), F(3e-310), plain, V(F(6e-310))},
      {F(1e-320), F(5e-324), down, V(F(1e-320))},
      // Unchanged when the scale is below the value's precision, is 0, or
      // the value is not finite.
      {F(1e20), F(0.001), plain, V(F(1e20))},
      {F(1.5), F(0.0), plain, V(F(1.5))},
      {F(kInf), {}, plain, V(F(kInf))},
      {F(kNaN), {}, plain, V(F(kNaN))},
      // percent!: the default scale is 1%; a number scale counts percent
      // points, a percent! scale is a fraction; the result stays percent!.
      {P(0.125), {}, plain, V(P(0.13))},
      {P(0.125), {}, even, V(P(0.12))},
      {P(0.12345), I(1), plain, V(P(0.12))},
      {P(0.12345), F(0.1), plain, V(P(0.123))},
      {P(0.12345), P(0.05), plain, V(P(0.1))},
      // integer! values reach float rounding through a non-integer scale.
      {I(7), F(0.5), plain, V(F(7.0))},
      {I(7), F(2.0), plain, V(F(8.0))},
      {I(7), P(0.5), plain, V(P(7.0))},
      {I(-7), F(2.0), half_ceiling, V(F(-6.0))},
      // Failures.
      {F(largest), F(largest * 0.6), plain, E(err::math::overflow)},  // 2 x the scale
      {F(1e10), I(1), plain, E(err::script::type_limit)},
      {F(kNaN), I(1), plain, E(err::script::type_limit)},
      {F(1.5), bare(TypeId::money), plain, E(err::script::not_related)},
      {I(5), bare(TypeId::money), plain, E(err::script::not_related)},
      {F(1.5), none::make(), plain, E(err::script::expect_arg)},
  };
  for (const Case& c : cases) {
    const std::string label = "round " + describe(c.value) + " to " + (c.scale ? describe(*c.scale) : "none");
    expect_result(
        c.value,
        [&](Val v) {
          RoundOptions options = c.mode;
          if (c.scale) options.scale = stack::push(*c.scale);
          datatype::actions(cell::type_of(*v)).round(v, options);
        },
        c.expected, label);
  }
  // The largest finite result is no overflow.
  expect_result(F(largest), [&](Val v) { actions().round(v, {}); }, V(F(largest)), "round largest");
}

TEST_F(Float, RoundToInt) {
  struct Case {
    double value;
    int32_t expected;
  };
  const Case cases[] = {
      {2.5, 3},
      {0.49999999999999994, 0},
      {-2.5, -2},
      {-0.7, 0},
      {2147483646.6, 2147483647},
      {3e9, integer::max_value},
      {-3e9, integer::min_value},
      {kNaN, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(float_::round_to_int(c.value), c.expected) << c.value;
}

TEST_F(Float, FormAndMold) {
  struct Case {
    Cell value;
    const char* formed;
    const char* molded;
  };
  const double sum = [] {
    volatile double a = 0.1;
    return a + 0.2;
  }();
  const Case cases[] = {
      {F(sum), "0.3", "0.30000000000000004"},
      {F(1.0), "1.0", "1.0"},
      {F(-0.0), "0.0", "-0.0"},  // pretty: zero forms without its sign
      {F(1e20), "1.0e20", "1.0e20"},
      {F(1e-20), "0.0", "1.0e-20"},  // pretty: below the epsilon forms as 0
      {F(kInf), "1.#INF", "1.#INF"},
      {F(-kInf), "-1.#INF", "-1.#INF"},
      {F(kNaN), "1.#NaN", "1.#NaN"},
      {P(0.5), "50%", "50%"},
      {P(0.123), "12.3%", "12.3%"},
      {P(-0.015), "-1.5%", "-1.5%"},
      {P(1e-20), "0%", "0%"},
      {P(kInf), "1.#INF", "1.#INF"},
  };
  for (const Case& c : cases) {
    const auto formed = form_of(c.value, 3);
    EXPECT_EQ(formed.text, c.formed);
    EXPECT_EQ(formed.budget, 3 - static_cast<int32_t>(std::strlen(c.formed))) << c.formed;
    const auto molded = mold_of(c.value, {}, 3);
    EXPECT_EQ(molded.text, c.molded);
    EXPECT_EQ(molded.budget, 3 - static_cast<int32_t>(std::strlen(c.molded))) << c.molded;
  }

  EXPECT_EQ(form_of(F(1e-17)).text, "0.0");
  float_::options().pretty = float_text::Pretty::off;
  EXPECT_EQ(form_of(F(1e-17)).text, "1.0e-17") << "pretty? off";
  float_::options().pretty = float_text::Pretty::on;
}

TEST_F(Float, Random) {
  const ActionTable& f = actions();
  auto draw = [&](const Cell& value, bool secure = false) {
    Val v = stack::push(value);
    f.random(v, false, secure, false);
    return *v;
  };
  auto seeded_run = [&] {
    Val seed = float_::push(12.5);
    f.random(seed, true, false, false);
    EXPECT_TRUE(cell::is(*seed, TypeId::unset)) << "seeding answers unset";
    std::vector<double> run;
    for (int i = 0; i < 20; ++i) run.push_back(float_::get(draw(F(1.0))));
    return run;
  };
  const std::vector<double> first = seeded_run();
  EXPECT_EQ(first, seeded_run()) << "the same seed, the same draws";
  EXPECT_GT(std::set<double>(first.begin(), first.end()).size(), 15u) << "and they differ from each other";

  for (bool secure : {false, true}) {
    for (double limit : {10.0, -10.0}) {
      for (int i = 0; i < 200; ++i) {
        const double x = float_::get(draw(F(limit), secure));
        ASSERT_LE(std::fabs(x), 10.0) << limit;
        ASSERT_TRUE(limit > 0 ? x >= 0.0 : x <= 0.0) << limit;
      }
    }
  }
  EXPECT_TRUE(cell::is(draw(P(0.5)), TypeId::percent)) << "the cell keeps its type";
}

class FloatConversion : public Float {
 protected:
  Cell text(std::string_view utf8, TypeId type = TypeId::string) {
    Val s = string::push_new(16);
    string::append_utf8(s, utf8);
    cell::set_type(*s, type);
    return *s;
  }
  Cell block_of(std::initializer_list<Cell> cells, TypeId type = TypeId::block) {
    Val b = block::push_new(4, type);
    for (const Cell& c : cells) block::append(b, c);
    return *b;
  }

  void expect_to(TypeId type, const Cell& spec, const Expect& expected, const std::string& label) {
    expect_result(
        datatype::make(type), [&](Val v) { actions().to(v, stack::push(spec), type); }, expected,
        "to " + std::string(datatype::info(type).name) + " " + label);
  }
};

TEST_F(FloatConversion, FromNumbersAndBinary) {
  struct Case {
    TypeId type;
    Cell spec;
    const char* label;
    Expect expected;
  };
  const Case cases[] = {
      {TypeId::float_, I(-7), "-7", V(F(-7.0))},
      {TypeId::float_, C('a'), "#a", V(F(97.0))},
      {TypeId::float_, P(0.5), "50%", V(F(0.5))},
      {TypeId::percent, F(0.5), "0.5", V(P(0.5))},
      {TypeId::percent, I(2), "2", V(P(2.0))},
      {TypeId::float_, T(90.5), "time", V(F(90.5))},
      {TypeId::float_, binary({0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), "#{3FF0...}", V(F(1.0))},
      {TypeId::float_, binary({0xC0, 0, 0, 0, 0, 0, 0, 0, 0xFF}), "nine bytes", V(F(-2.0))},
      {TypeId::float_, binary({0x01}), "#{01}", V(F(5e-324))},
      {TypeId::float_, binary({0xAA, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}, 1), "from index 1", V(F(1.0))},
      {TypeId::float_, binary({}), "#{}", V(F(0.0))},
      {TypeId::float_, logic::make(true), "true", E(err::script::bad_to_arg)},
      {TypeId::float_, none::make(), "none", E(err::script::bad_to_arg)},
      {TypeId::percent, bare(TypeId::issue), "issue", E(err::script::bad_to_arg)},
  };
  for (const Case& c : cases) expect_to(c.type, c.spec, c.expected, c.label);
}

TEST_F(FloatConversion, FromBlocks) {
  struct Case {
    Cell spec;
    const char* label;
    Expect expected;
  };
  const Case cases[] = {
      {block_of({I(1), I(2)}), "[1 2]", V(F(100.0))},
      {block_of({I(3), I(-1)}), "[3 -1]", V(F(0.3))},  // the decimal value, no binary noise
      {block_of({F(1.5), F(2.9)}), "[1.5 2.9]", V(F(150.0))},  // exponent truncated
      {block_of({I(-25), I(-2)}), "[-25 -2]", V(F(-0.25))},
      {block_of({I(1), I(400)}), "[1 400]", V(F(kInf))},
      {block_of({I(1), I(-400)}), "[1 -400]", V(F(0.0))},
      {block_of({I(1), F(1e300)}), "[1 1e300]", V(F(kInf))},
      {block_of({I(5), I(1)}, TypeId::paren), "(5 1)", V(F(50.0))},
      {block_of({I(1)}), "[1]", E(err::script::bad_to_arg)},
      {block_of({I(1), I(2), I(3)}), "[1 2 3]", E(err::script::bad_to_arg)},
      {block_of({I(1), P(0.5)}), "[1 50%]", E(err::script::bad_to_arg)},
      {block_of({none::make(), I(1)}), "[none 1]", E(err::script::bad_to_arg)},
  };
  for (const Case& c : cases) expect_to(TypeId::float_, c.spec, c.expected, c.label);
  Val made = stack::push(datatype::make(TypeId::percent));
  actions().make(made, stack::push(block_of({I(5), I(-1)})), TypeId::percent);
  EXPECT_EQ(mold_of(*made).text, "50%") << "make percent! from a block";
}

TEST_F(FloatConversion, FromText) {
  struct Case {
    TypeId type;
    const char* text;
    Expect expected;
  };
  const Case cases[] = {
      {TypeId::float_, "1.5", V(F(1.5))},
      {TypeId::float_, "1,5", V(F(1.5))},  // a comma for the point
      {TypeId::float_, "-2", V(F(-2.0))},
      {TypeId::float_, "1'000.25", V(F(1000.25))},
      {TypeId::float_, "1e3", V(F(1000.0))},
      {TypeId::float_, ".5", V(F(0.5))},
      {TypeId::float_, "1e400", V(F(kInf))},
      {TypeId::float_, "1.#INF", V(F(kInf))},  // what form writes reads back
      {TypeId::float_, "-1.#INF", V(F(-kInf))},
      {TypeId::float_, "1.#NaN", V(F(kNaN))},
      {TypeId::float_, "", E(err::script::bad_to_arg)},
      {TypeId::float_, "abc", E(err::script::bad_to_arg)},
      {TypeId::float_, "1.5x", E(err::script::bad_to_arg)},
      {TypeId::float_, " 1.5", E(err::script::bad_to_arg)},
      {TypeId::float_, "1.", E(err::script::bad_to_arg)},
      {TypeId::float_, "50%", E(err::script::bad_to_arg)},
      {TypeId::percent, "50%", V(P(0.5))},
      {TypeId::percent, "12.5%", V(P(0.125))},
      {TypeId::percent, "0.5", V(P(0.5))},
      {TypeId::percent, "2", V(P(2.0))},
      {TypeId::percent, " 50% ", V(P(0.5))},  // one value, blanks around it
      {TypeId::percent, "", E(err::script::bad_to_arg)},
      {TypeId::percent, "50% 1", E(err::script::bad_to_arg)},
      {TypeId::percent, "abc", E(err::script::bad_to_arg)},
      {TypeId::percent, "\"50%\"", E(err::script::bad_to_arg)},
      {TypeId::percent, "[50%", E(err::script::bad_to_arg)},  // a syntax error becomes bad-to-arg
  };
  for (const Case& c : cases) expect_to(c.type, text(c.text), c.expected, std::string("\"") + c.text + "\"");

  expect_to(TypeId::float_, text("2.5", TypeId::file), V(F(2.5)), "file!");
  const uint32_t depth = stack::depth();
  raised_error([&] { actions().to(stack::push(datatype::make(TypeId::percent)), stack::push(text("[x")), TypeId::percent); });
  EXPECT_EQ(datatype::get(error::pending().args[0]), TypeId::percent);
  EXPECT_EQ(string::to_utf8(error::pending().args[1]), "[x") << "names the text";
  stack::ArgStack::drop_to(depth);
}

}  // namespace
}  // namespace kiv
