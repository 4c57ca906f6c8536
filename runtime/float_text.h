// Float and text conversion: doubles to decimal text and back.
//
// Two text forms exist. The molded form is the shortest digit string that
// reads back to the same double, laid out by `format` ("0.1", "100.0",
// "1.0e300"). The formed form prints a fixed number of significant digits in
// the style of printf's %g and then tidies it: the "pretty" switch
// (system/options/float/pretty?) turns values below the double epsilon into
// zero and rounds away binary noise such as 0.7999999999999999.
//
// Every conversion is locale-free (std::to_chars / std::from_chars): the GUI
// toolkit may select a locale whose decimal mark is a comma, and a float must
// still form as "0.8". Nothing here keeps state between calls: results are
// returned by value, so the functions are re-entrant. The formatters never
// allocate; `parse` allocates only for texts of more than about 50 digits.
//
// Infinities and NaN have their own texts, "1.#INF", "-1.#INF" and "1.#NaN",
// which `parse` reads back. Nothing raises an error: overflow gives an
// infinity, underflow a zero.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kiv::float_text {

// The runtime's float constants, by bit pattern.
inline constexpr double kLargest = std::bit_cast<double>(uint64_t{0x7FEFFFFFFFFFFFFF});
inline constexpr double kInfinity = std::bit_cast<double>(uint64_t{0x7FF0000000000000});
inline constexpr double kNegativeInfinity = std::bit_cast<double>(uint64_t{0xFFF0000000000000});
inline constexpr double kNaN = std::bit_cast<double>(uint64_t{0x7FF8000000000000});
// The largest double below 0.5 (adding it and truncating rounds half up
// without turning 0.49999999999999994 into 1).
inline constexpr double kBelowHalf = std::bit_cast<double>(uint64_t{0x3FDFFFFFFFFFFFFF});

// Magnitudes below this (the double epsilon) form as zero when pretty.
inline constexpr double kPrettyZero = 2.220446049250313e-16;

// Decimal-point positions that `digits` reports for its special strings.
inline constexpr int kSpecialPoint = 9999;  // "1.#INF" or "1.#NaN"
inline constexpr int kZeroPoint = 9998;     // "0"

// The most significant digits a caller may ask for; larger requests get
// this many. (17 already identify every double.)
inline constexpr int kMaxDigits = 40;

// A decimal digit string d1 d2 ... dk and a point position p, meaning
// 0.d1d2...dk x 10^p (123.0 is "123" with p = 3). Trailing zeros are removed.
// Zero is "0" with p = kZeroPoint; an infinity is "1.#INF" and NaN "1.#NaN"
// with p = kSpecialPoint. The sign is kept apart (NaN is never negative).
struct Digits {
  char buffer[kMaxDigits + 8];
  int length = 0;
  int point = 0;
  bool negative = false;

  std::string_view text() const { return {buffer, static_cast<size_t>(length)}; }
};

// The digits of `x`: with n <= 0 the shortest string that reads back to x
// (the closest one when several are as short), with n > 0 the first n
// significant digits, correctly rounded (exact ties to an even digit).
Digits digits(double x, int n);

// A short text held by value, the result of the formatters.
class Text {
 public:
  static constexpr size_t kCapacity = 72;

  std::string_view view() const { return {data_, size_}; }
  operator std::string_view() const { return view(); }
  std::string str() const { return std::string(view()); }
  size_t size() const { return size_; }
  bool operator==(std::string_view other) const { return view() == other; }

  void append(std::string_view text);
  void append(char c, size_t count = 1);
  void insert(size_t at, std::string_view text);
  void erase(size_t at, size_t count);
  void clear() { size_ = 0; }
  char& operator[](size_t i) { return data_[i]; }
  char operator[](size_t i) const { return data_[i]; }

 private:
  char data_[kCapacity]{};
  size_t size_ = 0;
};

// Whether a whole number keeps its decimal point as ".0" (mold: "123.0") or
// drops it ("123").
enum class PointZero : bool { drop, add };

// The digits of `x` (see `digits` for n) laid out as text:
// - point position p >= 18 or p < -6: "d.ddd" and "e" with p - 1 written
//   without "+" or leading zeros (1.0e17, 1.0e-8, 5.0e-324);
// - p < 1: "0.", -p zeros, the digits (0.0000001);
// - otherwise the digits with the point after digit p, padded with zeros up
//   to it when needed (10000000000000000.0, 123.0, 1.5).
// A text ending in "." gets "0" with PointZero::add (before any exponent), or
// loses the "." otherwise. Zero is "0.0"/"-0.0" (or "0"/"-0"); infinities and
// NaN give their special texts.
Text format(double x, int n, PointZero point_zero);

// The molded text of a float!: shortest round-trip digits, whole numbers
// with ".0".
inline Text mold(double x) { return format(x, 0, PointZero::add); }

// What a formed number is and so how it is written.
enum class FormKind : uint8_t {
  float_value = 1,       // form of float!: 16 significant digits, ".0" for whole numbers
  percent_short = 2,     // percents inside other values: 7 digits and "%"
  percent_value = 3,     // form of percent! (x already times 100): 13 digits and "%"
  time_seconds = 4,      // the seconds of a time!: `format` with 6 digits, no ".0"
  point_coordinate = 5,  // point2D!/point3D! coordinates: 7 digits, no ".0"
};

// The system/options/float/pretty? switch.
enum class Pretty : bool { off, on };

// The formed text of `x` for `kind`:
// 1. infinities and NaN give their special texts (never a "%");
// 2. pretty: |x| below kPrettyZero gives "0%" (percent kinds), "0" (point
//    coordinates) or "0.0" (the others);
// 3. the kind's conversion (%.16g, %.7g, %.13g, format with 6 digits, %.7g);
// 4. pretty, once: a text that used up its digits (more than 16 characters
//    before any exponent, not counting the sign, and more than 17 when it
//    begins "0.") and ends in "01" or "99" is converted again with fewer
//    digits (%.14g; %.5g for times and points), so 0.7999999999999999 forms
//    as 0.8;
// 5. the exponent loses its "+" and leading zeros (1e+20 -> 1e20);
// 6. percent kinds append "%"; float_value gets ".0" when the text has no
//    "." (before any exponent: 5.0, 1.0e20).
Text form(double x, FormKind kind, Pretty pretty);

// The result of `parse`: the double, how many characters were used, and
// whether the text began with a number at all.
struct Scan {
  double value = 0.0;
  size_t used = 0;
  bool ok = false;
};

// Reads a decimal number from the start of `text` and returns the correctly
// rounded double (exact ties to the even mantissa), however many digits the
// text has. The syntax: an optional sign, digits with an optional "." and
// more digits, then optionally "e" or "E", an optional sign and exponent
// digits. A single digit followed by ".#" and "I"/"i" or "N"/"n" (the texts
// the formatters write: "1.#INF", "-1.#inf", "1.#NaN") gives an infinity of
// the sign or NaN; the letters after "#" are used up.
// `extra_exponent` is added to the decimal exponent (-2 reads a percent).
// Values beyond the largest double give an infinity of the number's sign,
// values too small for the smallest subnormal a zero of the number's sign.
// When no digit comes first, the result has ok = false, used = 0 and NaN.
// Syntax checks beyond that (what may follow the number) are the caller's.
Scan parse(std::string_view text, int32_t extra_exponent = 0);

}  // namespace kiv::float_text
