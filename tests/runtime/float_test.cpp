// float! and percent! from C++: near-equality to the last step, the compare
// modes scripts do not name, rounding to a C++ integer, the budgets of form
// and mold, and a binary read from its index. The arithmetic, comparison,
// rounding and conversions scripts reach are in tests/kiv/datatypes/float.kiv.
#include "runtime/datatypes/float.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "runtime/datatypes/char.h"
#include "runtime/datatypes/integer.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

using testing::binary;
using testing::form_of;
using testing::mold_of;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Cell F(double value) { return float_::make(value); }
Cell P(double fraction) { return percent::make(fraction); }
Cell C(uint32_t code_point) { return char_::make(code_point); }

// The `steps`-th representable double after x.
double ulps_after(double x, int steps) {
  for (int i = 0; i < steps; ++i) x = std::nextafter(x, kInf);
  return x;
}

std::string describe(const Cell& value) {
  return std::to_string(cell::get_double(value)) + " type " + std::to_string(static_cast<int>(cell::type_of(value)));
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

TEST_F(Float, Compare) {
  const auto compare = actions().compare;
  struct Case {
    Cell a, b;
    CmpOp op;
    int expected;
  };
  const Cell nan = F(kNaN);
  const Case cases[] = {
      // Lookup wants the same datatype and the same value: a NaN finds a NaN.
      {F(0.5), P(0.5), CmpOp::lookup, 1},
      {F(0.5), F(0.5), CmpOp::lookup, 0},
      {nan, F(1.0), CmpOp::lookup, 1},
      {nan, nan, CmpOp::lookup, 0},
      // NaN sorts in place.
      {nan, F(1.0), CmpOp::sort, 0},
      // No comparison with characters: not merely unequal.
      {F(97.0), C('a'), CmpOp::equal, -2},
  };
  for (const Case& c : cases)
    EXPECT_EQ(compare(c.a, c.b, c.op), c.expected)
        << describe(c.a) << " op " << static_cast<int>(c.op) << " " << describe(c.b);
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

// A script cannot move a binary's index: the bytes are read from it.
TEST_F(Float, ToFloatReadsABinaryFromItsIndex) {
  const auto to_float = [](Val v) {
    datatype::actions(TypeId::float_).to(v, stack::push(binary({0xAA, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}, 1)), TypeId::float_);
  };
  testing::expect_result(datatype::make(TypeId::float_), to_float, F(1.0), "to float! from index 1");
}

}  // namespace
}  // namespace kiv
