// Float text: mold and form layouts, digit generation, the scanner, and the
// round trip of every kind of double through its molded text.
#include <gtest/gtest.h>

#include <bit>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <unistd.h>

#include "runtime/float_text.h"

namespace kiv::float_text {
namespace {

uint64_t bits_of(double x) { return std::bit_cast<uint64_t>(x); }
double from_bits(uint64_t bits) { return std::bit_cast<double>(bits); }

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMinSubnormal = std::numeric_limits<double>::denorm_min();
constexpr double kMaxSubnormal = std::bit_cast<double>(uint64_t{0x000FFFFFFFFFFFFF});
constexpr double kMinNormal = std::numeric_limits<double>::min();

// Sums computed at run time so that the compiler's folding cannot differ.
volatile double g_tenth = 0.1;
double tenth_plus(double y) { return g_tenth + y; }

// --- mold -----------------------------------------------------------------

TEST(FloatMold, Examples) {
  const struct {
    double x;
    const char* text;
  } cases[] = {
      {0.1, "0.1"},
      {1.0 / 3.0, "0.3333333333333333"},
      {100.0, "100.0"},
      {-0.0, "-0.0"},
      {0.0, "0.0"},
      {1e300, "1.0e300"},
      {5e-324, "5.0e-324"},
      {1e17, "1.0e17"},
      {1e16, "10000000000000000.0"},
      {0.000001, "0.000001"},
      {1e-7, "0.0000001"},
      {1e-8, "1.0e-8"},
      {123.0, "123.0"},
      {-1.5, "-1.5"},
      {2.5e-7, "0.00000025"},
      {2.5e-8, "2.5e-8"},
      {1e23, "1.0e23"},  // shortest digits, not 9.999999999999999e22
      {12345678901234568.0, "12345678901234568.0"},  // 17 whole digits: still plain
      {123456789012345680.0, "1.2345678901234568e17"},
      {-123456.789, "-123456.789"},
      {kLargest, "1.7976931348623157e308"},
      {kMinNormal, "2.2250738585072014e-308"},
      {kInf, "1.#INF"},
      {-kInf, "-1.#INF"},
      {kNaN, "1.#NaN"},
      {-kNaN, "1.#NaN"},
  };
  for (const auto& c : cases) EXPECT_EQ(mold(c.x).view(), c.text) << "bits " << std::hex << bits_of(c.x);
  EXPECT_EQ(mold(tenth_plus(0.7)).view(), "0.7999999999999999");
  EXPECT_EQ(mold(tenth_plus(0.2)).view(), "0.30000000000000004");
}

TEST(FloatFormat, DigitCountAndDroppedPoint) {
  const struct {
    double x;
    int n;
    PointZero point_zero;
    const char* text;
  } cases[] = {
      {5.0, 6, PointZero::drop, "5"},
      {5.0, 6, PointZero::add, "5.0"},
      {1e-7, 6, PointZero::drop, "0.0000001"},
      {1e-8, 6, PointZero::drop, "1e-8"},
      {1e20, 0, PointZero::drop, "1e20"},
      {0.0, 6, PointZero::drop, "0"},
      {-0.0, 0, PointZero::drop, "-0"},
      {2.0 / 3.0, 6, PointZero::drop, "0.666667"},
      {1234567.0, 6, PointZero::drop, "1234570"},
      {9.9999999, 6, PointZero::drop, "10"},   // the carry adds a digit
      {0.125, 2, PointZero::add, "0.12"},      // exact tie: even digit
      {0.375, 2, PointZero::add, "0.38"},
      {-kInf, 6, PointZero::drop, "-1.#INF"},
      {kNaN, 6, PointZero::add, "1.#NaN"},
  };
  for (const auto& c : cases) EXPECT_EQ(format(c.x, c.n, c.point_zero).view(), c.text) << c.x << " n=" << c.n;
}

// --- digits ---------------------------------------------------------------

TEST(FloatDigits, StringPointAndSign) {
  const struct {
    double x;
    int n;
    const char* digits;
    int point;
    bool negative;
  } cases[] = {
      {123.0, 0, "123", 3, false},
      {0.001, 0, "1", -2, false},
      {-2.5, 1, "2", 1, true},  // exact tie: even digit
      {3.5, 1, "4", 1, false},
      {9.9999, 3, "1", 2, false},  // rounds up to 10.0
      {1.5, 6, "15", 1, false},    // trailing zeros removed
      {0.1, 25, "1000000000000000055511151", 0, false},
      {0.1, 100, "1000000000000000055511151231257827021182", 0, false},  // capped at 40 digits
      {kMinSubnormal, 0, "5", -323, false},
      {0.0, 0, "0", kZeroPoint, false},
      {-0.0, 5, "0", kZeroPoint, true},
      {kInf, 0, "1.#INF", kSpecialPoint, false},
      {-kInf, 0, "1.#INF", kSpecialPoint, true},
      {-kNaN, 0, "1.#NaN", kSpecialPoint, false},
  };
  for (const auto& c : cases) {
    const Digits d = digits(c.x, c.n);
    EXPECT_EQ(d.text(), c.digits) << c.x << " n=" << c.n;
    EXPECT_EQ(d.point, c.point) << c.x << " n=" << c.n;
    EXPECT_EQ(d.negative, c.negative) << c.x << " n=" << c.n;
  }
}

// --- form -----------------------------------------------------------------

TEST(FloatForm, KindsAndPrettyRules) {
  using K = FormKind;
  const Pretty on = Pretty::on;
  const Pretty off = Pretty::off;
  const struct {
    double x;
    FormKind kind;
    Pretty pretty;
    const char* text;
  } cases[] = {
      // float!
      {1e-20, K::float_value, on, "0.0"},
      // Without pretty the %.16g digits show: the double nearest 1e-20 is
      // 9.99999999999999945e-21.
      {1e-20, K::float_value, off, "9.999999999999999e-21"},
      {1e-19, K::float_value, off, "1.0e-19"},
      {-0.0, K::float_value, on, "0.0"},
      {-0.0, K::float_value, off, "-0.0"},
      {1e20, K::float_value, on, "1.0e20"},
      {123456789.0, K::float_value, on, "123456789.0"},
      {5.0, K::float_value, on, "5.0"},
      {1e-5, K::float_value, on, "1.0e-5"},
      {1.5e-5, K::float_value, on, "1.5e-5"},
      {1e23, K::float_value, on, "1.0e23"},  // 9.999999999999999e22 retried
      {1e23, K::float_value, off, "9.999999999999999e22"},
      {1.234567890123401e30, K::float_value, on, "1.2345678901234e30"},
      // Not noise: too short, or the last two characters are not digits.
      {0.123456789012301, K::float_value, on, "0.123456789012301"},
      {-0.123456789012301, K::float_value, on, "-0.123456789012301"},  // the sign is not counted
      {1234567890123401.0, K::float_value, on, "1234567890123401.0"},
      {999999999999999.9, K::float_value, on, "999999999999999.9"},
      {kInf, K::float_value, on, "1.#INF"},
      // percent! and other percents
      {50.0, K::percent_value, on, "50%"},
      {12.5, K::percent_value, on, "12.5%"},
      {100.0 / 3.0, K::percent_value, on, "33.33333333333%"},
      {1e20, K::percent_value, on, "1e20%"},
      {1e-17, K::percent_value, on, "0%"},
      {1e-17, K::percent_value, off, "1e-17%"},
      {100.0 / 3.0, K::percent_short, on, "33.33333%"},
      {-kInf, K::percent_value, on, "-1.#INF"},
      {kNaN, K::percent_short, on, "1.#NaN"},
      // time! seconds
      {5.5, K::time_seconds, on, "5.5"},
      {12.0, K::time_seconds, on, "12"},
      {0.1234567, K::time_seconds, on, "0.123457"},
      {59.9999999, K::time_seconds, on, "60"},
      {1e-8, K::time_seconds, on, "1e-8"},
      // point coordinates
      {1.5, K::point_coordinate, on, "1.5"},
      {3.0, K::point_coordinate, on, "3"},
      {1e-20, K::point_coordinate, on, "0"},
      {0.0, K::point_coordinate, off, "0"},
      {static_cast<double>(0.1f), K::point_coordinate, on, "0.1"},
      {1e20, K::point_coordinate, on, "1e20"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(form(c.x, c.kind, c.pretty).view(), c.text)
        << c.x << " kind " << static_cast<int>(c.kind) << (c.pretty == on ? " pretty" : "");
  }
}

TEST(FloatForm, PrettyRoundsAwayBinaryNoise) {
  const double eight_tenths = tenth_plus(0.7);   // 0.7999999999999999
  const double six_tenths = g_tenth * 6.0;       // 0.6000000000000001
  const double three_tenths = tenth_plus(0.2);   // 0.30000000000000004
  EXPECT_EQ(form(eight_tenths, FormKind::float_value, Pretty::on).view(), "0.8");
  EXPECT_EQ(form(eight_tenths, FormKind::float_value, Pretty::off).view(), "0.7999999999999999");
  EXPECT_EQ(form(six_tenths, FormKind::float_value, Pretty::on).view(), "0.6");
  EXPECT_EQ(form(-six_tenths, FormKind::float_value, Pretty::on).view(), "-0.6");
  EXPECT_EQ(form(six_tenths, FormKind::float_value, Pretty::off).view(), "0.6000000000000001");
  // 16 digits already drop the noise of 0.1 + 0.2.
  EXPECT_EQ(form(three_tenths, FormKind::float_value, Pretty::off).view(), "0.3");
  EXPECT_EQ(mold(eight_tenths).view(), "0.7999999999999999");
}

// Without pretty, form of float!, percent! and other percents carries the
// value of printf's %.16g, %.13g and %.7g; the C library in the C locale is
// the oracle.
TEST(FloatForm, DigitsMatchTheCLibrary) {
  std::mt19937_64 random(141);
  const struct {
    FormKind kind;
    int precision;
  } kinds[] = {{FormKind::float_value, 16}, {FormKind::percent_value, 13}, {FormKind::percent_short, 7}};
  for (int i = 0; i < 20000; ++i) {
    const double x = from_bits(random());
    if (!std::isfinite(x)) continue;
    for (const auto& k : kinds) {
      char expected[64];
      std::snprintf(expected, sizeof expected, "%.*g", k.precision, x);
      const Text text = form(x, k.kind, Pretty::off);
      const Scan scan = parse(text);
      ASSERT_EQ(bits_of(scan.value), bits_of(std::strtod(expected, nullptr))) << text.view() << " vs " << expected;
      const std::string_view rest = text.view().substr(scan.used);
      EXPECT_EQ(rest, k.kind == FormKind::float_value ? "" : "%") << text.view();
    }
  }
}

// A GUI toolkit may switch the process to a locale whose decimal mark is a
// comma; floats must still form, mold and parse with a ".". Uses an installed
// comma locale, or compiles a minimal one with localedef.
class CommaLocale : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE", "fr_FR"}) {
      if (std::setlocale(LC_NUMERIC, name)) return;
    }
    if (::access("/usr/bin/localedef", X_OK) != 0) GTEST_SKIP() << "no comma locale and no localedef";
    dir_ = std::filesystem::temp_directory_path() / ("kiv-locale-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    std::ofstream(dir_ / "source") << "LC_CTYPE\ncopy \"POSIX\"\nEND LC_CTYPE\n"
                                      "LC_NUMERIC\ndecimal_point \",\"\nthousands_sep \".\"\n"
                                      "grouping 3;3\nEND LC_NUMERIC\n";
    const std::string command = "/usr/bin/localedef -i '" + (dir_ / "source").string() + "' -f UTF-8 '" +
                                (dir_ / "kivcomma").string() + "' >/dev/null 2>&1";
    [[maybe_unused]] const int status = std::system(command.c_str());  // warns of missing categories
    ::setenv("LOCPATH", dir_.c_str(), 1);
    if (!std::setlocale(LC_NUMERIC, "kivcomma")) GTEST_SKIP() << "could not build a comma locale";
  }
  void TearDown() override {
    std::setlocale(LC_NUMERIC, "C");
    ::unsetenv("LOCPATH");
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  std::filesystem::path dir_;
};

TEST_F(CommaLocale, ConversionsKeepTheDecimalPoint) {
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 0.5);
  ASSERT_STREQ(probe, "0,5");  // the locale is really in force
  EXPECT_EQ(form(tenth_plus(0.7), FormKind::float_value, Pretty::on).view(), "0.8");
  EXPECT_EQ(form(12.5, FormKind::percent_value, Pretty::on).view(), "12.5%");
  EXPECT_EQ(form(1.5, FormKind::time_seconds, Pretty::on).view(), "1.5");
  EXPECT_EQ(mold(1.25).view(), "1.25");
  EXPECT_EQ(parse("1.25").value, 1.25);
  EXPECT_EQ(parse("1.25").used, 4u);
}

// --- parse ----------------------------------------------------------------

TEST(FloatParse, ValuesAndCharactersUsed) {
  const struct {
    const char* text;
    double value;
    size_t used;
  } cases[] = {
      {"0.1", 0.1, 3},
      {"100", 100.0, 3},
      {"+2", 2.0, 2},
      {".5", 0.5, 2},
      {"5.", 5.0, 2},
      {"-0", -0.0, 2},
      {"0.000", 0.0, 5},
      {"-0.0e5", -0.0, 6},
      {"00012.50e+1", 125.0, 11},
      {"1E2", 100.0, 3},
      {"2.5e-3", 0.0025, 6},
      {"1.5abc", 1.5, 3},
      {"1e", 1.0, 1},
      {"1e+", 1.0, 1},
      {"1.5e3x", 1500.0, 5},
      {"12.#INF", 12.0, 3},  // only a single digit makes a special
      {"1.#X", 1.0, 2},
      // specials
      {"1.#INF", kInf, 6},
      {"1.#inf", kInf, 6},
      {"+1.#INF", kInf, 7},
      {"-1.#INF", -kInf, 7},
      {"-1.#inf]", -kInf, 7},
      // out of range
      {"1e309", kInf, 5},
      {"-1e309", -kInf, 6},
      {"1e-400", 0.0, 6},
      {"-1e-400", -0.0, 7},
      {"1e99999999999999999999", kInf, 22},
      {"1e-99999999999999999999", 0.0, 23},
      {"0e999999", 0.0, 8},
      {"0.00001e-400", 0.0, 12},
      // the edges of the double range
      {"1.7976931348623157e308", kLargest, 22},
      {"1.7976931348623158e308", kLargest, 22},  // below the halfway point to 2^1024
      {"1.7976931348623159e308", kInf, 22},
      {"4.9406564584124654e-324", kMinSubnormal, 23},
      {"2.4703282292062328e-324", kMinSubnormal, 23},  // just above half of it
      {"2.4703282292062327e-324", 0.0, 23},            // just below
      {"2.2250738585072011e-308", kMaxSubnormal, 23},
      {"2.2250738585072014e-308", kMinNormal, 23},
  };
  for (const auto& c : cases) {
    const Scan scan = parse(c.text);
    EXPECT_TRUE(scan.ok) << c.text;
    EXPECT_EQ(bits_of(scan.value), bits_of(c.value)) << c.text << " gave " << scan.value;
    EXPECT_EQ(scan.used, c.used) << c.text;
  }
  const Scan nan = parse("1.#NaN");
  EXPECT_TRUE(std::isnan(nan.value));
  EXPECT_EQ(nan.used, 6u);
  EXPECT_TRUE(std::isnan(parse("-1.#nan").value));
}

TEST(FloatParse, TextWithoutDigitsFails) {
  for (const char* text : {"", "-", "+", ".", "-.", "e5", ".e1", "abc", "#INF", "-x1"}) {
    const Scan scan = parse(text);
    EXPECT_FALSE(scan.ok) << '"' << text << '"';
    EXPECT_EQ(scan.used, 0u) << '"' << text << '"';
    EXPECT_TRUE(std::isnan(scan.value)) << '"' << text << '"';
  }
}

TEST(FloatParse, ExtraExponentMovesTheDecimalPoint) {
  EXPECT_EQ(parse("50", -2).value, 0.5);
  EXPECT_EQ(parse("12.5", -2).value, 0.125);
  EXPECT_EQ(parse("0.1", -2).value, 0.001);  // one rounding, not 0.1 / 100
  EXPECT_EQ(parse("1e308", 2).value, kInf);
  EXPECT_EQ(parse("1e-322", -2).value, 0.0);
  EXPECT_EQ(parse("1.#INF", -2).value, kInf);
}

// Long mantissas next to the halfway point between two doubles: one digit
// decides, however far from the front it is.
TEST(FloatParse, LongMantissasRoundCorrectly) {
  const std::string zeros(800, '0');
  const struct {
    std::string text;
    double value;
  } cases[] = {
      // 2^53 + 1 lies halfway between 2^53 and 2^53 + 2.
      {"9007199254740993", 9007199254740992.0},  // tie: even mantissa
      {"9007199254740995", 9007199254740996.0},  // tie: even mantissa upwards
      {"9007199254740993.0000000000000000000000000000000001", 9007199254740994.0},
      {"9007199254740992.9999999999999999999999999999999999", 9007199254740992.0},
      {"9007199254740993." + zeros + "1", 9007199254740994.0},
      {"9007199254740993." + zeros, 9007199254740992.0},
      // 1 + 2^-53, written out exactly (54 digits), is the tie between 1 and
      // the next double.
      {"1.00000000000000011102230246251565404236316680908203125", 1.0},
      {"1.00000000000000011102230246251565404236316680908203126", 1.0000000000000002},
      {"1.00000000000000011102230246251565404236316680908203124", 1.0},
      {"1.00000000000000011102230246251565404236316680908203125" + zeros + "1", 1.0000000000000002},
      // Many digits that only move the exponent.
      {"1" + zeros + "e-800", 1.0},
      {"0." + zeros + "25e801", 2.5},
  };
  for (const auto& c : cases) {
    const Scan scan = parse(c.text);
    EXPECT_EQ(bits_of(scan.value), bits_of(c.value)) << c.text.substr(0, 60) << " gave " << mold(scan.value).view();
    EXPECT_EQ(scan.used, c.text.size());
  }
}

// --- round trip -----------------------------------------------------------

// One million doubles of every kind survive mold -> parse bit for bit, the
// whole text being used; and the molded digits are the shortest: one digit
// fewer (correctly rounded) no longer reads back to the same double.
TEST(FloatRoundTrip, MoldedTextReadsBackExactly) {
#ifdef KIV_SANITIZED
  constexpr int kCount = 250'000;
#else
  constexpr int kCount = 1'000'000;
#endif
  std::mt19937_64 random(20240141);
  const double fixed[] = {0.0, -0.0, kMinSubnormal, -kMinSubnormal, kMaxSubnormal, kMinNormal, kLargest,
                          -kLargest, kInf, -kInf, kNaN, 1.0, 0.1, 1e23, 9007199254740993.0, 5e-324};
  int checked_shortest = 0;
  for (int i = 0; i < kCount; ++i) {
    double x = 0.0;
    const uint64_t r = random();
    if (i < static_cast<int>(std::size(fixed))) {
      x = fixed[i];
    } else {
      switch (i % 4) {
        case 0:  // any bit pattern: every exponent equally likely
        case 1:
          x = from_bits(r);
          break;
        case 2:  // subnormals and zeros
          x = from_bits(r & 0x800FFFFFFFFFFFFF);
          break;
        case 3:  // short decimals, as scripts write them
          x = static_cast<double>(r % 10'000'000) / std::pow(10.0, static_cast<double>((r >> 32) % 12));
          break;
      }
    }
    const Text text = mold(x);
    const Scan scan = parse(text);
    ASSERT_TRUE(scan.ok) << text.view();
    ASSERT_EQ(scan.used, text.size()) << text.view();
    if (std::isnan(x)) {
      ASSERT_TRUE(std::isnan(scan.value)) << text.view();
      continue;
    }
    ASSERT_EQ(bits_of(scan.value), bits_of(x)) << text.view() << " from bits " << std::hex << bits_of(x);

    // At a power of two the gap below is half the gap above, so a shorter
    // string above may read back while the nearest shorter one does not.
    const bool power_of_two = (bits_of(x) & 0x000FFFFFFFFFFFFF) == 0;
    const Digits shortest = digits(x, 0);
    if (power_of_two || shortest.point >= kZeroPoint || shortest.length < 2) continue;
    ++checked_shortest;
    const double shorter = parse(format(x, shortest.length - 1, PointZero::add)).value;
    ASSERT_NE(bits_of(shorter), bits_of(x)) << text.view() << " is not the shortest";
  }
  EXPECT_GT(checked_shortest, kCount / 2);
}

}  // namespace
}  // namespace kiv::float_text
