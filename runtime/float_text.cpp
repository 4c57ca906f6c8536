#include "runtime/float_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <system_error>

#include "runtime/core/runtime_error.h"

namespace kiv::float_text {

// ---------------------------------------------------------------------------
// Text

namespace {

// Every text built here has a length fixed by its layout (at most about 50
// characters), so running out of room is a bug in this file.
void room_for(size_t size, size_t more) {
  if (size + more > Text::kCapacity) {
    runtime::fatal(runtime::error_assertion, reinterpret_cast<uintptr_t>(&room_for));
  }
}

}  // namespace

void Text::append(std::string_view text) {
  room_for(size_, text.size());
  std::memcpy(data_ + size_, text.data(), text.size());
  size_ += text.size();
}

void Text::append(char c, size_t count) {
  room_for(size_, count);
  std::memset(data_ + size_, c, count);
  size_ += count;
}

void Text::insert(size_t at, std::string_view text) {
  room_for(size_, text.size());
  std::memmove(data_ + at + text.size(), data_ + at, size_ - at);
  std::memcpy(data_ + at, text.data(), text.size());
  size_ += text.size();
}

void Text::erase(size_t at, size_t count) {
  std::memmove(data_ + at, data_ + at + count, size_ - at - count);
  size_ -= count;
}

// ---------------------------------------------------------------------------
// Double to digits

namespace {

constexpr std::string_view kInfinityText = "1.#INF";
constexpr std::string_view kNaNText = "1.#NaN";

void set_text(Digits& d, std::string_view text) {
  std::memcpy(d.buffer, text.data(), text.size());
  d.length = static_cast<int>(text.size());
}

}  // namespace

Digits digits(double x, int n) {
  Digits d;
  if (!std::isfinite(x)) {
    const bool nan = std::isnan(x);
    set_text(d, nan ? kNaNText : kInfinityText);
    d.point = kSpecialPoint;
    d.negative = !nan && x < 0.0;
    return d;
  }
  d.negative = std::signbit(x);
  if (x == 0.0) {
    set_text(d, "0");
    d.point = kZeroPoint;
    return d;
  }

  // Scientific notation gives the digits directly: "d[.ddd]e(+|-)xx". Without
  // a precision to_chars writes the shortest digits that read back to x.
  char sci[kMaxDigits + 16];
  const double magnitude = std::fabs(x);
  const std::to_chars_result written =
      n <= 0 ? std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific)
             : std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific,
                             std::min(n, kMaxDigits) - 1);
  const char* p = sci;
  int length = 0;
  d.buffer[length++] = *p++;
  if (*p == '.') {
    for (++p; *p != 'e'; ++p) d.buffer[length++] = *p;
  }
  ++p;  // the 'e'
  const bool negative_exponent = *p++ == '-';
  int exponent = 0;
  std::from_chars(p, written.ptr, exponent);
  while (length > 1 && d.buffer[length - 1] == '0') --length;
  d.length = length;
  d.point = (negative_exponent ? -exponent : exponent) + 1;
  return d;
}

// ---------------------------------------------------------------------------
// Layout

namespace {

void append_int(Text& text, int value) {
  char buffer[16];
  const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, value);
  text.append(std::string_view(buffer, static_cast<size_t>(r.ptr - buffer)));
}

// A text ending in "." gets its "0", or loses the ".".
void close_point(Text& text, PointZero point_zero) {
  if (text.size() == 0 || text[text.size() - 1] != '.') return;
  if (point_zero == PointZero::add) text.append('0');
  else text.erase(text.size() - 1, 1);
}

}  // namespace

Text format(double x, int n, PointZero point_zero) {
  const Digits d = digits(x, n);
  const std::string_view s = d.text();
  Text text;
  if (d.negative) text.append('-');
  if (d.point == kSpecialPoint) {
    text.append(s);
    return text;
  }
  if (d.point == kZeroPoint) {
    text.append(point_zero == PointZero::add ? "0.0" : "0");
    return text;
  }

  const int p = d.point;
  if (p >= 18 || p < -6) {
    text.append(s.substr(0, 1));
    text.append('.');
    text.append(s.substr(1));
    close_point(text, point_zero);
    text.append('e');
    append_int(text, p - 1);
  } else if (p < 1) {
    text.append("0.");
    text.append('0', static_cast<size_t>(-p));
    text.append(s);
  } else {
    const auto whole = static_cast<size_t>(p);
    if (s.size() <= whole) {
      text.append(s);
      text.append('0', whole - s.size());
      text.append('.');
    } else {
      text.append(s.substr(0, whole));
      text.append('.');
      text.append(s.substr(whole));
    }
    close_point(text, point_zero);
  }
  return text;
}

// ---------------------------------------------------------------------------
// Form

namespace {

bool is_percent(FormKind kind) { return kind == FormKind::percent_short || kind == FormKind::percent_value; }

// printf's %.<precision>g, in the C locale whatever the process locale is.
Text general(double x, int precision) {
  char buffer[Text::kCapacity];
  const std::to_chars_result r =
      std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::general, precision);
  Text text;
  text.append(std::string_view(buffer, static_cast<size_t>(r.ptr - buffer)));
  return text;
}

Text convert(double x, FormKind kind, bool second_try) {
  switch (kind) {
    case FormKind::float_value:
      return general(x, second_try ? 14 : 16);
    case FormKind::percent_short:
      return general(x, second_try ? 14 : 7);
    case FormKind::percent_value:
      return general(x, second_try ? 14 : 13);
    case FormKind::time_seconds:
      return second_try ? general(x, 5) : format(x, 6, PointZero::drop);
    case FormKind::point_coordinate:
      return general(x, second_try ? 5 : 7);
  }
  return general(x, 16);
}

// Whether the text used up its digits and ends in binary noise ("01" or
// "99"). The sign does not count, so that x and -x form alike.
bool looks_noisy(std::string_view text) {
  if (!text.empty() && text[0] == '-') text.remove_prefix(1);
  const size_t e = text.find('e');
  const std::string_view number = text.substr(0, e);
  const bool long_enough = e != std::string_view::npos
                               ? number.size() > 16
                               : number.size() > 16 && (number[0] != '0' || number.size() > 17);
  if (!long_enough) return false;
  const std::string_view tail = number.substr(number.size() - 2);
  return tail == "01" || tail == "99";
}

// "1e+020" -> "1e20", "1e-005" -> "1e-5".
void tidy_exponent(Text& text) {
  const size_t e = text.view().find('e');
  if (e == std::string_view::npos) return;
  size_t at = e + 1;
  if (at < text.size() && text[at] == '+') text.erase(at, 1);
  else if (at < text.size() && text[at] == '-') ++at;
  size_t zeros = 0;
  while (at + zeros + 1 < text.size() && text[at + zeros] == '0') ++zeros;
  text.erase(at, zeros);
}

}  // namespace

Text form(double x, FormKind kind, Pretty pretty) {
  Text text;
  if (!std::isfinite(x)) {
    if (std::isnan(x)) {
      text.append(kNaNText);
    } else {
      if (x < 0.0) text.append('-');
      text.append(kInfinityText);
    }
    return text;
  }
  const bool percent = is_percent(kind);
  if (pretty == Pretty::on && std::fabs(x) < kPrettyZero) {
    text.append(percent ? "0%" : kind == FormKind::point_coordinate ? "0" : "0.0");
    return text;
  }

  text = convert(x, kind, false);
  if (pretty == Pretty::on && looks_noisy(text)) text = convert(x, kind, true);
  tidy_exponent(text);

  if (percent) {
    text.append('%');
  } else if (kind == FormKind::float_value && text.view().find('.') == std::string_view::npos) {
    const size_t e = text.view().find('e');
    text.insert(e == std::string_view::npos ? text.size() : e, ".0");
  }
  return text;
}

// ---------------------------------------------------------------------------
// Text to double

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// 0.d1d2... x 10^p is at least 10^(p-1): beyond the largest double from
// p = 310 on. It is below 10^p: rounds to zero from p = -324 down (half the
// smallest subnormal is about 2.47e-324). Between these bounds the digits go
// to from_chars.
constexpr int64_t kOverflowPoint = 310;
constexpr int64_t kUnderflowPoint = -324;

// Exponents written in the text are clamped here: any exponent this large
// already decides the result, and the sum with the point position cannot
// overflow.
constexpr int64_t kExponentClamp = 1'000'000'000;

}  // namespace

Scan parse(std::string_view text, int32_t extra_exponent) {
  const size_t size = text.size();
  size_t i = 0;
  bool negative = false;
  if (i < size && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const size_t number_start = i;
  while (i < size && text[i] == '0') ++i;

  // The special texts: one digit, ".#", then "I" or "N" in either case.
  if (i + 3 < size && is_digit(text[i]) && text[i + 1] == '.' && text[i + 2] == '#') {
    const char letter = static_cast<char>(text[i + 3] | 0x20);
    if (letter == 'i' || letter == 'n') {
      size_t end = i + 4;
      while (end < size && is_ascii_letter(text[end])) ++end;
      if (letter == 'n') return {kNaN, end, true};
      return {negative ? kNegativeInfinity : kInfinity, end, true};
    }
  }

  // Mantissa: whole digits [i, whole_end), fraction digits [fraction_start,
  // fraction_end). Leading zeros of the whole part are already skipped.
  const size_t whole_start = i;
  while (i < size && is_digit(text[i])) ++i;
  const size_t whole_end = i;
  size_t fraction_start = i;
  size_t fraction_end = i;
  if (i < size && text[i] == '.') {
    fraction_start = ++i;
    while (i < size && is_digit(text[i])) ++i;
    fraction_end = i;
  }
  const bool any_digit = whole_end > number_start || fraction_end > fraction_start;
  if (!any_digit) return {kNaN, 0, false};

  int64_t exponent = 0;
  if (i < size && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    bool negative_exponent = false;
    if (j < size && (text[j] == '+' || text[j] == '-')) negative_exponent = text[j++] == '-';
    if (j < size && is_digit(text[j])) {
      for (; j < size && is_digit(text[j]); ++j) {
        exponent = std::min(exponent * 10 + (text[j] - '0'), kExponentClamp);
      }
      if (negative_exponent) exponent = -exponent;
      i = j;
    }
  }
  const size_t used = i;

  // The significant digits: from the first non-zero digit to the last one,
  // the "." skipped; `point` is where the decimal point falls among them.
  size_t first = whole_start;
  int64_t point = static_cast<int64_t>(whole_end - whole_start);
  if (whole_end == whole_start) {
    first = fraction_start;
    while (first < fraction_end && text[first] == '0') ++first;
    point = -static_cast<int64_t>(first - fraction_start);
  }
  size_t last = fraction_end > fraction_start ? fraction_end : whole_end;
  while (last > first && (text[last - 1] == '0' || text[last - 1] == '.')) --last;

  const double zero = negative ? -0.0 : 0.0;
  if (last == first) return {zero, used, true};
  const int64_t position = point + exponent + extra_exponent;
  if (position >= kOverflowPoint) return {negative ? kNegativeInfinity : kInfinity, used, true};
  if (position <= kUnderflowPoint) return {zero, used, true};

  // ".<digits>e<position>" for from_chars, which rounds correctly at any
  // length. Most numbers fit the stack buffer.
  const size_t digit_count = last - first;
  char small[64];
  std::string large;
  char* buffer = small;
  if (digit_count + 8 > sizeof small) {
    large.resize(digit_count + 8);
    buffer = large.data();
  }
  char* out = buffer;
  *out++ = '.';
  for (size_t k = first; k < last; ++k) {
    if (text[k] != '.') *out++ = text[k];
  }
  *out++ = 'e';
  out = std::to_chars(out, out + 6, position).ptr;

  double value = 0.0;
  const std::from_chars_result r = std::from_chars(buffer, out, value, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    value = position > 0 ? kInfinity : 0.0;
  }
  return {negative ? -value : value, used, true};
}

}  // namespace kiv::float_text
