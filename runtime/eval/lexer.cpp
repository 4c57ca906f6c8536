#include "runtime/eval/lexer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "runtime/core/error_raise.h"
#include "runtime/core/memory.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/float_text.h"
#include "runtime/hashtable.h"
#include "runtime/unicode.h"

// How the lexer reads the forms the language leaves open (each pinned by a
// test in lexer_test.cpp):
//  - `%` followed by a delimiter is the word `%`; `/` and `//` are words.
//  - `<` makes a tag only when the next byte is not whitespace, `<`, `=` or
//    `>`, and the tag must close on its line (else invalid tag!); `<`, `<=`,
//    `<>`, `<<`, `>`, `>=`, `>>`, `>>>` are words. Inside a word `<` ends it.
//  - `1.` is an invalid float! (digits must follow the point); `1a` is an
//    invalid integer!; `0x10` is the pair 0x10.
//  - `'` or `:` followed by a delimiter is an invalid word!; `a:b` is a url!;
//    `a@` is an invalid email! and `@` alone an invalid ref!.
//  - `#`, `\` and `^` are word characters after the first one (`\` at the
//    start of a token is a bad character).
//  - Construction syntax accepts whole datatype names only (with or without
//    the `!`, any case); `#(int)` and `#()` are malconstruct errors.
//  - A caret escape above U+10FFFF is invalid in strings as in chars.
//  - `Ah` to `Fh` (one hex letter before the `h`) are invalid words, as the
//    hex integer rule says; `ffh` (lower case) is a word.
//  - Only the exact text `-2147483648` reads as the smallest integer;
//    `-2'147'483'648` is a float like any other integer text beyond 32 bits.
//  - A money! literal holds at most 17 integer digits (all a cell can hold)
//    and 5 decimals.
//  - The comma kind is named "comma" and the point kind "point2D!".
//  - The scan modes report the type of the first value at the outer level:
//    a bracketed series reports its own type (block!, paren!, map!, a path
//    type), and an error anywhere inside it makes it error!.
//  - The new-line marker of a value records line breaks before its first
//    byte only; a braced string that spans lines does not get one for that.
//  - Unicode spaces end every delimited token, not only words.
//  - A path element that fails to load is a bad-char error; a path with an
//    empty or missing element (`a//b`, `a/`, `a/b:/`) is an invalid path!;
//    `a/b:` followed by anything but a delimiter is an invalid path!.

namespace kiv::lexer {
namespace {

// ---------------------------------------------------------------------------
// Byte classes

enum : uint8_t {
  k_space = 1,   // tab, CR, space and control bytes other than LF
  k_lf = 2,
  k_nul = 4,
  k_hard = 8,    // [ ] ( ) { } " ;
  k_comma = 16,
  k_less = 32,
  k_slash = 64,
};

constexpr std::array<uint8_t, 256> make_classes() {
  std::array<uint8_t, 256> table{};
  for (int b = 1; b < 0x20; ++b) table[b] = k_space;
  table['\n'] = k_lf;
  table[' '] = k_space;
  table[0] = k_nul;
  for (char c : {'[', ']', '(', ')', '{', '}', '"', ';'}) table[static_cast<uint8_t>(c)] = k_hard;
  table[','] = k_comma;
  table['<'] = k_less;
  table['/'] = k_slash;
  return table;
}
constexpr std::array<uint8_t, 256> classes = make_classes();

constexpr uint8_t white = k_space | k_lf | k_nul;
constexpr uint8_t url_end = white | k_hard;
constexpr uint8_t number_end = url_end | k_comma | k_less;
constexpr uint8_t word_end = number_end | k_slash;

inline uint8_t cls(char c) { return classes[static_cast<uint8_t>(c)]; }
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }
inline bool is_upper_hex(char c) { return is_digit(c) || (c >= 'A' && c <= 'F'); }
inline int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
inline bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline bool is_continuation(char c) { return (static_cast<uint8_t>(c) & 0xC0) == 0x80; }
inline char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool equal_caseless(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

// Bytes of the Unicode space at `p` (one of the 21 code points that end
// words like ASCII whitespace), or 0. `p` has at least 3 readable bytes.
size_t unicode_space_at(const char* p) {
  const auto b0 = static_cast<uint8_t>(p[0]);
  const auto b1 = static_cast<uint8_t>(p[1]);
  const auto b2 = static_cast<uint8_t>(p[2]);
  switch (b0) {
    case 0xC2: return b1 == 0x85 || b1 == 0xA0 ? 2 : 0;                 // U+0085 U+00A0
    case 0xE1: return (b1 == 0x9A && b2 == 0x80) || (b1 == 0xA0 && b2 == 0x8E) ? 3 : 0;  // U+1680 U+180E
    case 0xE2:
      if (b1 == 0x80) return (b2 >= 0x80 && b2 <= 0x8B) || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF ? 3 : 0;
      return b1 == 0x81 && b2 == 0x9F ? 3 : 0;                           // U+205F
    case 0xE3: return b1 == 0x80 && b2 == 0x80 ? 3 : 0;                   // U+3000
    default: return 0;
  }
}

// Strict UTF-8 sequence at `p` (before `end`): its length with the code
// point, or 0 when malformed.
size_t utf8_at(const char* p, const char* end, uint32_t& code_point) {
  const int length = unicode::decode_utf8_strict(std::string_view(p, static_cast<size_t>(end - p)), code_point);
  if (length <= 0) return 0;
  if (code_point >= 0xD800 && code_point <= 0xDFFF) return 0;
  return static_cast<size_t>(length);
}

// ---------------------------------------------------------------------------
// Kinds

constexpr std::array<std::string_view, kind_count> kind_names = {
    "eof",    "error!",  "block!",     "block!",  "paren!",  "paren!",  "string!",  "string!",  "map!",
    "path!",  "datatype!", "comment",  "comma",   "string!", "word!",   "issue!",   "integer!", "refinement!",
    "char!",  "file!",   "binary!",    "percent!", "float!", "float!",  "tuple!",   "date!",    "pair!",
    "point2D!", "time!", "money!",     "tag!",    "url!",    "email!",  "hex",      "rawstring", "ref!"};

constexpr std::array<TypeId, kind_count> kind_types = {
    TypeId::none_type, TypeId::error,   TypeId::none_type, TypeId::none_type, TypeId::none_type, TypeId::none_type,
    TypeId::none_type, TypeId::string,  TypeId::none_type, TypeId::none_type, TypeId::none_type, TypeId::none_type,
    TypeId::none_type, TypeId::string,  TypeId::word,      TypeId::issue,     TypeId::integer,   TypeId::refinement,
    TypeId::char_,     TypeId::file,    TypeId::binary,    TypeId::percent,   TypeId::float_,    TypeId::float_,
    TypeId::tuple,     TypeId::date,    TypeId::pair,      TypeId::point2d,   TypeId::time,      TypeId::money,
    TypeId::tag,       TypeId::url,     TypeId::email,     TypeId::integer,   TypeId::string,    TypeId::ref};

// ---------------------------------------------------------------------------
// Currencies

constexpr std::string_view currency_list =
    "AED AFN ALL AMD ANG AOA ARS AUD AWG AZN BAM BBD BDT BTC BGN BHD BIF BMD BND BOB BRL BSD BTN BWP BYN BZD CAD "
    "CDF CHF CKD CLP CNY COP CRC CUC CUP CVE CZK DJF DKK DOP DZD EGP ERN ETB ETH EUR FJD FKP FOK GBP GEL GGP GHS "
    "GIP GMD GNF GTQ GYD HKD HNL HRK HTG HUF IDR ILS IMP INR IQD IRR ISK JEP JMD JOD JPY KES KGS KHR KID KMF KPW "
    "KRW KWD KYD KZT LAK LBP LKR LRD LSL LYD MAD MDL MGA MKD MMK MNT MOP MRU MUR MVR MWK MXN MYR MZN NAD NGN NIO "
    "NOK NPR NZD OMR PAB PEN PGK PHP PKR PLN PND PRB PYG QAR KIV RON RSD RUB RWF SAR SBD SCR SDG SEK SGD SHP SLL "
    "SLS SOS SRD SSP STN SYP SZL THB TJS TMT TND TOP TRY TTD TVD TWD TZS UAH UGX USD UYU UZS VES VND VUV WST CFA "
    "XAF XCD XOF CFP XPF YER ZAR ZMW";

uint32_t builtin_currency_index(std::string_view code) {
  if (code.size() != 3) return 0;
  for (size_t at = 0, index = 1; at + 3 <= currency_list.size(); at += 4, ++index)
    if (equal_caseless(currency_list.substr(at, 3), code)) return static_cast<uint32_t>(index);
  return 0;
}

CurrencyIndexFn g_currency_index = builtin_currency_index;

// ---------------------------------------------------------------------------
// Caret escapes

struct EscapeRead {
  int32_t code_point;  // -1 when invalid
  size_t length;       // bytes after the caret
  int hex_digits;      // digits of a ^(hex) escape, else 0
};

EscapeRead read_escape(const char* p, const char* end) {
  if (p >= end) return {-1, 0, 0};
  const char c = *p;
  if (c == '(') {
    const char* close = p + 1;
    while (close < end && close - p <= 7 && *close != ')') ++close;
    if (close >= end || *close != ')' || close - p > 7) return {-1, 1, 0};
    const std::string_view inside(p + 1, static_cast<size_t>(close - p - 1));
    const size_t length = inside.size() + 2;
    if (inside.empty()) return {-1, length, 0};
    bool all_hex = true;
    uint32_t value = 0;
    for (char h : inside) {
      const int digit = hex_value(h);
      if (digit < 0) {
        all_hex = false;
        break;
      }
      value = value * 16 + static_cast<uint32_t>(digit);
    }
    if (all_hex && inside.size() <= 6) return {static_cast<int32_t>(value), length, static_cast<int>(inside.size())};
    static constexpr std::pair<std::string_view, int32_t> names[] = {
        {"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10}, {"page", 12}, {"esc", 27}, {"del", 127}};
    for (const auto& [name, code] : names)
      if (equal_caseless(inside, name)) return {code, length, 0};
    return {-1, length, 0};
  }
  switch (c) {
    case '@': return {0, 1, 0};
    case '/': return {10, 1, 0};
    case '-': return {9, 1, 0};
    case '~': return {127, 1, 0};
    case '"':
    case '{':
    case '}':
    case '^': return {static_cast<uint8_t>(c), 1, 0};
    default: break;
  }
  if (c >= 'a' && c <= 'z') return {c - 'a' + 1, 1, 0};
  if (c >= 'A' && c <= '_') return {c - 64, 1, 0};
  if (static_cast<uint8_t>(c) >= 0x80) {
    uint32_t code_point = 0;
    const size_t length = utf8_at(p, end, code_point);
    if (length == 0) return {-1, 1, 0};
    return {static_cast<int32_t>(code_point), length, 0};
  }
  return {static_cast<uint8_t>(c), 1, 0};
}

// ---------------------------------------------------------------------------
// Number forms shared by the loaders and the `to` scanners

// The float forms: optional sign; digits, each of which may be followed by
// an apostrophe; optionally "." and at least one digit (apostrophes after
// them too); optionally an exponent with an optional sign and at least one
// digit. A leading "." without integer digits is allowed.
bool float_form(std::string_view t) {
  size_t p = 0;
  const size_t n = t.size();
  if (p < n && (t[p] == '+' || t[p] == '-')) ++p;
  auto digits = [&] {
    size_t count = 0;
    while (p < n && is_digit(t[p])) {
      ++p;
      ++count;
      if (p < n && t[p] == '\'') ++p;
    }
    return count;
  };
  const size_t whole = digits();
  size_t fraction = 0;
  if (p < n && t[p] == '.') {
    ++p;
    fraction = digits();
    if (fraction == 0) return false;
  }
  if (whole == 0 && fraction == 0) return false;
  if (p < n && (t[p] == 'e' || t[p] == 'E')) {
    ++p;
    if (p < n && (t[p] == '+' || t[p] == '-')) ++p;
    size_t exponent = 0;
    while (p < n && is_digit(t[p])) ++p, ++exponent;
    if (exponent == 0) return false;
  }
  return p == n;
}

constexpr size_t max_float_text = 312;

// The double of a text in the float forms (apostrophes removed), with the
// decimal exponent moved by `extra_exponent`; false when it is not one.
bool float_value(std::string_view t, int32_t extra_exponent, double& value) {
  if (t.size() > max_float_text || !float_form(t)) return false;
  char buffer[max_float_text];
  size_t length = 0;
  for (char c : t)
    if (c != '\'') buffer[length++] = c;
  const float_text::Scan scan = float_text::parse(std::string_view(buffer, length), extra_exponent);
  if (!scan.ok || scan.used != length) return false;
  value = scan.value;
  return true;
}

// 1.#NaN, 1.#INF with an optional sign, letters in any case.
bool float_special(std::string_view t, double& value) {
  size_t p = 0;
  bool negative = false;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) negative = t[p++] == '-';
  if (t.substr(p, 3) != "1.#") return false;
  const std::string_view rest = t.substr(p + 3);
  if (equal_caseless(rest, "nan")) {
    value = float_text::kNaN;
    return true;
  }
  if (equal_caseless(rest, "inf")) {
    value = negative ? float_text::kNegativeInfinity : float_text::kInfinity;
    return true;
  }
  return false;
}

// Money digits: the integer digits (without leading zeros or apostrophes)
// right-aligned ending at position 17, the fraction digits from 18.
Cell make_money(bool negative, uint32_t currency, std::string_view whole, std::string_view fraction) {
  uint8_t bytes[12] = {};
  bytes[0] = static_cast<uint8_t>(currency);
  auto put = [&](int position, char digit) {
    uint8_t& byte = bytes[1 + (position - 1) / 2];
    const auto value = static_cast<uint8_t>(digit - '0');
    byte = (position % 2 == 1) ? static_cast<uint8_t>((byte & 0x0F) | (value << 4))
                               : static_cast<uint8_t>((byte & 0xF0) | value);
  };
  int position = 17;
  for (size_t i = whole.size(); i-- > 0;) {
    if (whole[i] == '\'') continue;
    put(position--, whole[i]);
  }
  position = 18;
  for (char c : fraction) {
    if (c == '\'') continue;
    if (position > 22) break;
    put(position++, c);
  }
  Cell money{cell::header(TypeId::money) | (negative ? 0x4000u : 0u), 0, 0, 0};
  std::memcpy(&money.w1, bytes, sizeof(bytes));
  return money;
}

// ---------------------------------------------------------------------------
// Dates

int days_in_month(int64_t year, int64_t month) {
  static constexpr int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && !date::leap_year(year)) return 28;
  return days[month - 1];
}

constexpr std::string_view month_names[] = {"January", "February", "March",     "April",   "May",      "June",
                                            "July",    "August",   "September", "October", "November", "December"};

class DateReader {
 public:
  explicit DateReader(std::string_view text) : t_(text) {}

  bool read(Cell& out) {
    bool negative_first = false;
    if (peek() == '-') negative_first = true, ++p_;
    int first_digits = 0;
    int64_t first = 0;
    if (!number(4, first, first_digits) || first_digits == 0) return false;
    if (negative_first) first = -first;
    if (is_digit(peek())) return compact(first, first_digits, negative_first, out);

    const char separator = peek();
    if (separator != '-' && separator != '/') return false;
    ++p_;
    if (separator == '-' && peek() == 'W') return week_date(first, first_digits, out);
    if (separator == '-' && ordinal_ahead()) return ordinal_date(first, out);

    int64_t month = 0;
    if (is_digit(peek())) {
      int digits = 0;
      if (!number(2, month, digits)) return false;
    } else if (!month_name(month)) {
      return false;
    }
    if (peek() != separator) return false;
    ++p_;
    bool negative_third = false;
    if (peek() == '-') negative_third = true, ++p_;
    int third_digits = 0;
    int64_t third = 0;
    if (!number(4, third, third_digits) || third_digits == 0) return false;
    if (negative_third) third = -third;

    int64_t year, day;
    int year_digits;
    if (third < 0 || third > 31 || first < 100) {
      day = first, year = third, year_digits = third_digits;
      if (negative_first) return false;
    } else {
      year = first, day = third, year_digits = first_digits;
    }
    if (year_digits <= 2 && year >= 0 && year < 100) year += year < 50 ? 2000 : 1900;
    if (peek() == '/' || peek() == 'T') {
      ++p_;
      if (!clock(true)) return false;
    }
    if (p_ != t_.size()) return false;
    return finish(year, month, day, out);
  }

 private:
  char peek() const { return p_ < t_.size() ? t_[p_] : '\0'; }

  // Up to `max` digits; `count` says how many.
  bool number(int max, int64_t& value, int& count) {
    value = 0;
    count = 0;
    while (count < max && is_digit(peek())) value = value * 10 + (t_[p_++] - '0'), ++count;
    return true;
  }
  bool exact(int digits, int64_t& value) {
    int count = 0;
    number(digits, value, count);
    return count == digits;
  }

  bool month_name(int64_t& month) {
    const size_t start = p_;
    while (is_alpha(peek())) ++p_;
    const std::string_view name = t_.substr(start, p_ - start);
    if (name.size() < 3 || name.size() > 9) return false;
    for (int m = 0; m < 12; ++m) {
      if (name.size() <= month_names[m].size() && equal_caseless(name, month_names[m].substr(0, name.size()))) {
        month = m + 1;
        return true;
      }
    }
    return false;
  }

  bool ordinal_ahead() const {
    size_t q = p_;
    int digits = 0;
    while (q < t_.size() && is_digit(t_[q])) ++q, ++digits;
    return digits == 3 && (q == t_.size() || t_[q] == 'T');
  }

  // Seconds with an optional fraction ("ss" or "ss.fff"), at most 2 whole
  // digits.
  bool seconds_field(double& seconds) {
    const size_t start = p_;
    int count = 0;
    while (count < 2 && is_digit(peek())) ++p_, ++count;
    if (count == 0) return false;
    if (peek() == '.') {
      ++p_;
      size_t fraction = 0;
      while (is_digit(peek())) ++p_, ++fraction;
      if (fraction == 0) return false;
    }
    double value = 0;
    if (!float_value(t_.substr(start, p_ - start), 0, value)) return false;
    seconds = value;
    return true;
  }

  // hh:mm[:ss[.fff]] then optional Z and/or zone; `colons`: false for the
  // compact hhmm[ss[.fff]] form.
  bool clock(bool colons) {
    int64_t minutes = 0;
    int digits = 0;
    if (colons) {
      if (!number(2, hour_, digits) || digits == 0 || peek() != ':') return false;
      ++p_;
      if (!number(2, minutes, digits) || digits == 0) return false;
      if (peek() == ':') {
        ++p_;
        if (!seconds_field(seconds_)) return false;
      }
    } else {
      if (!exact(2, hour_) || !exact(2, minutes)) return false;
      if (is_digit(peek()) && !seconds_field(seconds_)) return false;
    }
    minute_ = minutes;
    has_time_ = true;
    if (peek() == 'Z') ++p_;
    if (peek() == '+' || peek() == '-') {
      zone_negative_ = peek() == '-';
      ++p_;
      if (!number(2, zone_hours_, digits) || digits == 0) return false;
      if (colons && peek() == ':') ++p_;
      int minute_digits = 0;
      number(2, zone_minutes_, minute_digits);
      if (minute_digits == 1) return false;
    }
    return true;
  }

  bool compact(int64_t year, int year_digits, bool negative, Cell& out) {
    int64_t month = 0, day = 0;
    if (year_digits != 4 || negative || !exact(2, month) || !exact(2, day) || peek() != 'T') return false;
    ++p_;
    if (!clock(false) || p_ != t_.size()) return false;
    return finish(year, month, day, out);
  }

  bool week_date(int64_t year, int year_digits, Cell& out) {
    ++p_;  // the W
    int64_t week = 0, weekday = 1;
    if (year_digits != 4 || !exact(2, week) || week < 1 || week > 53) return false;
    if (peek() == '-') {
      ++p_;
      if (!exact(1, weekday) || weekday < 1 || weekday > 7) return false;
    }
    if (peek() == 'T') {
      ++p_;
      if (!clock(true)) return false;
    }
    if (p_ != t_.size()) return false;
    if (year <= -10000 || year >= 10000) return false;
    if (!finish(year, 1, 1, out)) return false;
    date::set_isoweek(out, static_cast<int32_t>(week));
    date::set_weekday(out, static_cast<int32_t>(weekday));
    return true;
  }

  bool ordinal_date(int64_t year, Cell& out) {
    int64_t yearday = 0;
    exact(3, yearday);
    if (yearday == 0) return false;
    if (peek() == 'T') {
      ++p_;
      if (!clock(true)) return false;
    }
    if (p_ != t_.size()) return false;
    if (year <= -10000 || year >= 10000 || !finish(year, 1, 1, out)) return false;
    date::set_yearday(out, static_cast<int32_t>(yearday));
    return true;
  }

  bool finish(int64_t year, int64_t month, int64_t day, Cell& out) {
    if (day < 1 || month < 1 || month > 12 || year <= -10000 || year >= 10000) return false;
    if (day > days_in_month(year, month)) return false;
    if (zone_hours_ > 15 || zone_minutes_ >= 60 || hour_ >= 24 || minute_ >= 60 || seconds_ >= 60.0) return false;
    // Zones run to 15:45 at most (a quarter of an hour below 16 hours).
    if (zone_hours_ * 60 + zone_minutes_ > 15 * 60 + 45) return false;
    const int64_t zone_minutes = zone_hours_ * 60 + zone_minutes_ / 15 * 15;
    const double time = static_cast<double>(hour_ * 3600 + minute_ * 60) + seconds_;
    const uint32_t zone = date::zone_code(static_cast<int32_t>(zone_negative_ ? -zone_minutes : zone_minutes));
    out = date::make(year, static_cast<int32_t>(month), static_cast<int32_t>(day), has_time_, time, zone);
    return true;
  }

  std::string_view t_;
  size_t p_ = 0;
  bool has_time_ = false;
  int64_t hour_ = 0, minute_ = 0;
  double seconds_ = 0.0;
  bool zone_negative_ = false;
  int64_t zone_hours_ = 0, zone_minutes_ = 0;
};

// ---------------------------------------------------------------------------
// Binary decoders: 0 when the whole text decoded, else 1 + the offset of the
// first bad character. Whitespace and ";" comments are skipped.

size_t skip_binary_space(std::string_view t, size_t p) {
  while (p < t.size()) {
    const char c = t[p];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++p;
    } else if (c == ';') {
      while (p < t.size() && t[p] != '\n') ++p;
    } else {
      break;
    }
  }
  return p;
}

size_t decode_base16(std::string_view t, std::string& out) {
  size_t p = 0;
  for (;;) {
    p = skip_binary_space(t, p);
    if (p >= t.size()) return 0;
    const int high = hex_value(t[p]);
    if (high < 0) return p + 1;
    const size_t first = p;
    p = skip_binary_space(t, p + 1);
    if (p >= t.size()) return first + 1;
    const int low = hex_value(t[p]);
    if (low < 0) return p + 1;
    out.push_back(static_cast<char>(high * 16 + low));
    ++p;
  }
}

size_t decode_base2(std::string_view t, std::string& out) {
  size_t p = 0;
  int bits = 0;
  unsigned byte = 0;
  size_t group_start = 0;
  for (;;) {
    p = skip_binary_space(t, p);
    if (p >= t.size()) return bits == 0 ? 0 : group_start + 1;
    if (t[p] != '0' && t[p] != '1') return p + 1;
    if (bits == 0) group_start = p;
    byte = (byte << 1) | static_cast<unsigned>(t[p] - '0');
    if (++bits == 8) {
      out.push_back(static_cast<char>(byte));
      bits = 0;
      byte = 0;
    }
    ++p;
  }
}

int base64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

size_t decode_base64(std::string_view t, std::string& out) {
  size_t p = 0;
  uint32_t accumulator = 0;
  int count = 0;
  size_t group_start = 0;
  bool padded = false;
  for (;;) {
    p = skip_binary_space(t, p);
    if (p >= t.size()) break;
    const char c = t[p];
    if (c == '=') {
      if (padded || count < 2) return p + 1;
      padded = true;
      if (count == 2) {
        p = skip_binary_space(t, p + 1);
        if (p >= t.size() || t[p] != '=') return p + 1;
      }
      ++p;
      continue;
    }
    const int value = base64_value(c);
    if (value < 0 || padded) return p + 1;
    if (count == 0) group_start = p;
    accumulator = (accumulator << 6) | static_cast<uint32_t>(value);
    if (++count == 4) {
      out.push_back(static_cast<char>(accumulator >> 16));
      out.push_back(static_cast<char>(accumulator >> 8));
      out.push_back(static_cast<char>(accumulator));
      accumulator = 0;
      count = 0;
    }
    ++p;
  }
  if (count == 1) return group_start + 1;
  if (count == 2) out.push_back(static_cast<char>(accumulator >> 4));
  if (count == 3) {
    out.push_back(static_cast<char>(accumulator >> 10));
    out.push_back(static_cast<char>(accumulator >> 2));
  }
  return 0;
}

// ---------------------------------------------------------------------------
// The scanner

struct Frame {
  TypeId type;
  uint32_t slot;     // its cell on the value stack (load mode)
  uint32_t open_at;  // byte offset of its opening character
};

// A token given up in the scan modes, or by a callback that refused its
// error: scanning goes on after it.
struct QuietAbort {};

constexpr int32_t code_bad_char = -1;
constexpr int32_t code_malconstruct = -2;
constexpr int32_t code_missing = -3;
constexpr int32_t code_missing_at_end = -4;

class Lexer {
 public:
  Lexer(std::string&& text, const Options& options)
      : text_(std::move(text)), options_(options), callback_(options.callback) {
    n_ = std::strlen(text_.c_str());  // a NUL ends the text
    text_.resize(n_);
    text_.append(8, '\0');             // room to look ahead without bounds checks
    s_ = text_.data();
    stack_ = memory::new_cell_series(options.mode == Mode::load ? 64 : 1);
  }

  Result run(Val out);

 private:
  // ---- value stack
  uint32_t depth() const { return memory::buffer(stack_.get())->length(); }
  Cell& at(uint32_t index) { return reinterpret_cast<Cell*>(memory::buffer(stack_.get())->head_ptr())[index]; }
  uint32_t push(const Cell& value, bool new_line) {
    const uint32_t index = depth();
    Cell* slot = series::append_slot(stack_.get());
    *slot = value;
    if (new_line) slot->header |= cell::new_line_flag;
    return index;
  }
  void set(uint32_t index, Cell value) {
    Cell& slot = at(index);
    value.header |= slot.header & cell::new_line_flag;
    slot = value;
  }
  void pop_to(uint32_t index) {
    SeriesBuf* buffer = memory::buffer(stack_.get());
    buffer->tail = buffer->head + index * static_cast<uint32_t>(sizeof(Cell));
  }
  NodeId cells_from(uint32_t first);

  // ---- positions in source units
  int64_t units(size_t byte);
  size_t bytes_of(int64_t unit);

  // ---- tokens
  void next_token();
  void scan_word(size_t p, bool sigil);
  void scan_number(size_t p);
  size_t word_end_after(size_t q);
  void scan_slash(size_t p);
  void scan_less(size_t p);
  void scan_percent(size_t p);
  void scan_hash(size_t p);
  void scan_quoted(size_t p, Kind kind);
  void scan_braced(size_t p);
  void scan_binary(size_t body);
  bool point_ahead(size_t p) const;
  void scan_point(size_t p);
  void token(Kind kind, size_t end) {
    kind_ = kind;
    end_ = end;
  }
  struct NumberMarks {
    bool at = false, dollar = false, x = false, colon = false, exponent = false;
    int dots = 0;
  };
  Kind classify_number(size_t digits_start, size_t run_end, size_t end, const NumberMarks& marks) const;
  std::string_view text(size_t a, size_t b) const { return {s_ + a, b - a}; }
  std::string_view token_text() const { return text(start_, end_); }

  // ---- processing
  void process();
  void value_token();
  void skip_token() { pos_ = end_ > start_ ? end_ : std::min(start_ + 1, n_); }
  void open_frame(TypeId type, size_t at);
  void close_frame(TypeId closer);
  void close_path();
  void path_step();
  void comma();
  bool innermost_path() const { return !frames_.empty() && type_traits::is_any_path(frames_.back().type); }
  void note_type(TypeId type);
  bool fire(Event event, int32_t type, size_t input, const Cell* value = nullptr);
  int32_t type_code(Kind kind) const {
    const TypeId type = kind_types[static_cast<size_t>(kind)];
    return type != TypeId::none_type ? static_cast<int32_t>(type) : -(static_cast<int32_t>(kind) + 1);
  }

  // ---- loaders
  void load(bool build);
  uint32_t emit(const Cell& value) { return push(value, new_line_); }
  void emit_text(TypeId type, bool build);
  void emit_bytes_as(TypeId type, std::string_view bytes);
  uint32_t decode(size_t a, size_t b, bool carets);
  void load_word(bool build);
  void load_string(size_t a, size_t b, bool carets, TypeId type, bool build);
  void load_integer_text(std::string_view t, Cell& out, bool in_pair);
  void load_integer(bool build);
  void load_hex(bool build);
  void load_float(bool build, bool percent);
  void load_tuple(bool build);
  void load_pair(bool build);
  void load_time(bool build);
  void load_money(bool build);
  void load_date(bool build);
  void load_point(bool build);
  void load_char(bool build);
  void load_file(bool build);
  void load_binary(bool build);
  void load_construct(bool build);
  void finish_map(uint32_t slot);

  // ---- errors
  [[noreturn]] void fail(TypeId type) { syntax_error(true, static_cast<int32_t>(type), '\0'); }
  [[noreturn]] void syntax_error(bool at_token, int32_t code, char current);

  void finish(Val out);

  std::string text_;
  const char* s_ = nullptr;
  size_t n_ = 0;
  const Options& options_;
  const Callback* callback_;
  Rooted<NodeId> stack_;
  std::vector<Frame> frames_;

  size_t pos_ = 0;
  int32_t line_ = 1;
  // The current token.
  size_t start_ = 0, end_ = 0;
  Kind kind_ = Kind::eof;
  bool new_line_ = false;
  bool bad_utf8_ = false;   // malformed UTF-8 inside a delimited token
  bool unclosed_ = false;   // a self-delimited token without its closer
  bool carets_ = false;     // a string token holds a "^"
  bool wide_ = false;       // a token holds bytes above 0x7F
  bool path_mode_ = false;  // the token is an element of a path
  int percents_ = 0;        // raw string: the "%" on each side
  int32_t token_line_ = 1;  // the line where the token starts
  TypeId token_type_ = TypeId::none_type;
  TypeId forced_ = TypeId::none_type;

  // Callback position moves, applied when the token is done.
  bool moved_ = false;
  size_t moved_to_ = 0;

  // The first value at the outer level.
  int32_t first_type_ = 0;
  bool first_done_ = false;
  bool first_failed_ = false;
  bool stop_ = false;
  bool output_none_ = false;

  // Scratch text.
  std::u32string chars_;
  std::string bytes_;

  // Byte -> character cache for string sources.
  size_t cache_byte_ = 0;
  int64_t cache_char_ = 0;
};

int64_t Lexer::units(size_t byte) {
  if (!options_.count_chars) return static_cast<int64_t>(byte);
  byte = std::min(byte, n_);
  while (cache_byte_ < byte) {
    ++cache_byte_;
    if (!is_continuation(s_[cache_byte_ - 1])) ++cache_char_;
  }
  while (cache_byte_ > byte) {
    --cache_byte_;
    if (!is_continuation(s_[cache_byte_])) --cache_char_;
  }
  // Continuation bytes belong to the character before them.
  return cache_char_;
}

size_t Lexer::bytes_of(int64_t unit) {
  if (unit <= 0) return 0;
  if (!options_.count_chars) return std::min(static_cast<size_t>(unit), n_);
  size_t byte = 0;
  int64_t chars = 0;
  while (byte < n_ && chars < unit) {
    ++byte;
    while (byte < n_ && is_continuation(s_[byte])) ++byte;
    ++chars;
  }
  return byte;
}

// ---------------------------------------------------------------------------
// Tokens

void Lexer::next_token() {
  size_t p = pos_;
  int32_t breaks = 0;
  for (;;) {
    const char c = s_[p];
    const uint8_t k = cls(c);
    if (k & k_lf) {
      ++breaks;
      ++p;
    } else if (k & k_space) {
      ++p;
    } else if (static_cast<uint8_t>(c) >= 0xC2) {
      const size_t space = unicode_space_at(s_ + p);
      if (space == 0) break;
      p += space;
    } else {
      break;
    }
  }
  line_ += breaks;
  token_line_ = line_;
  new_line_ = breaks > 0;
  start_ = p;
  bad_utf8_ = unclosed_ = carets_ = wide_ = false;
  path_mode_ = innermost_path();
  if (p >= n_) {
    token(Kind::eof, n_);
    return;
  }
  const char c = s_[p];
  switch (c) {
    case '[': token(Kind::block_open, p + 1); return;
    case ']': token(Kind::block_close, p + 1); return;
    case '(':
      if (point_ahead(p)) scan_point(p);
      else token(Kind::paren_open, p + 1);
      return;
    case ')': token(Kind::paren_close, p + 1); return;
    case '{': scan_braced(p); return;
    case ',': token(Kind::comma, p + 1); return;
    case '"': scan_quoted(p, Kind::string); return;
    case ';': {
      const void* lf = std::memchr(s_ + p, '\n', n_ - p);
      token(Kind::comment, lf ? static_cast<size_t>(static_cast<const char*>(lf) - s_) : n_);
      return;
    }
    case '#': scan_hash(p); return;
    case '\'':
    case ':': scan_word(p, true); return;
    case '/': scan_slash(p); return;
    case '<': scan_less(p); return;
    case '%': scan_percent(p); return;
    case '@': {
      size_t q = p + 1;
      while (!(cls(s_[q]) & number_end)) ++q;
      token(Kind::ref, q);
      return;
    }
    case '$': scan_number(p); return;
    case '+':
    case '-':
      if (is_digit(s_[p + 1]) || s_[p + 1] == '$' || (s_[p + 1] == '.' && is_digit(s_[p + 2]))) scan_number(p);
      else scan_word(p, false);
      return;
    case '.':
      if (is_digit(s_[p + 1])) scan_number(p);
      else scan_word(p, false);
      return;
    case '}':
    case '\\': token(Kind::error, p); return;
    default: break;
  }
  if (is_digit(c)) {
    scan_number(p);
    return;
  }
  const auto b = static_cast<uint8_t>(c);
  if ((b >= 0x7F && b <= 0xBF) || b == 0xC0 || b == 0xC1 || b >= 0xF8) {
    token(Kind::error, p);
    return;
  }
  scan_word(p, false);
}

// Words and the kinds that begin like one: set-words, lit- and get-words,
// path heads, urls, emails, money with a currency code, hex integers.
void Lexer::scan_word(size_t p, bool sigil) {
  const size_t start = p;
  if (sigil) {
    ++p;
    if (s_[p] == '/') {  // '/ :/ '// :// (the loader refuses anything longer)
      size_t q = p + 1;
      while (!(cls(s_[q]) & number_end)) ++q;
      token(Kind::word, q);
      return;
    }
  }
  const size_t name_start = p;
  bool only_less = true;  // "<", "<<" ... may go on into an operator word
  for (;;) {
    const char c = s_[p];
    const auto b = static_cast<uint8_t>(c);
    if (b < 0x80) {
      const uint8_t k = cls(c);
      if (k & word_end) {
        if ((k & k_less) && only_less && p >= name_start) {
          ++p;
          continue;
        }
        break;
      }
      only_less = false;
      if (c == ':') {
        if (path_mode_ && p > name_start) break;
        if (p == name_start && sigil) {  // "::"
          ++p;
          continue;
        }
        if (cls(s_[p + 1]) & number_end) {  // a set-word (or an invalid word)
          token(Kind::word, p + 1);
          return;
        }
        // A url: the rest up to a delimiter.
        size_t q = p + 1;
        while (!(cls(s_[q]) & url_end)) ++q;
        token(Kind::url, q);
        return;
      }
      if (c == '@' && !path_mode_) {
        size_t q = p + 1;
        while (!(cls(s_[q]) & url_end)) ++q;
        token(Kind::email, q);
        return;
      }
      if (c == '$' && !sigil) {
        // [+-]ABC$ begins money with a currency code.
        const std::string_view before = text(start, p);
        const bool signed_code = !before.empty() && (before[0] == '+' || before[0] == '-');
        const std::string_view code = signed_code ? before.substr(1) : before;
        if (code.size() == 3 && is_alpha(code[0]) && is_alpha(code[1]) && is_alpha(code[2])) {
          size_t q = p + 1;
          while (!(cls(s_[q]) & number_end) && !(path_mode_ && s_[q] == '/')) ++q;
          token(Kind::money, q);
          return;
        }
      }
      ++p;
      continue;
    }
    only_less = false;
    if (const size_t space = unicode_space_at(s_ + p); space > 0) break;
    uint32_t code_point = 0;
    const size_t length = utf8_at(s_ + p, s_ + n_, code_point);
    if (length == 0) {
      bad_utf8_ = true;
      ++p;
    } else {
      p += length;
    }
  }
  if (s_[p] == '/' && !path_mode_ && p > name_start) {
    token(Kind::path_head, p);
    return;
  }
  if (!sigil && p - start >= 2 && s_[p - 1] == 'h' && s_[start] >= 'A' && s_[start] <= 'F') {
    bool hex = true;
    for (size_t i = start; i + 1 < p; ++i) hex = hex && is_upper_hex(s_[i]);
    if (hex) {
      token(Kind::hex, p);
      return;
    }
  }
  token(Kind::word, p);
}

// Where a word-like token that goes on at `q` ends: at a delimiter or a
// Unicode space; bad UTF-8 on the way is noted, one byte at a time.
size_t Lexer::word_end_after(size_t q) {
  for (;;) {
    const char c = s_[q];
    if (cls(c) & word_end) return q;
    if (static_cast<uint8_t>(c) >= 0x80) {
      if (unicode_space_at(s_ + q) > 0) return q;
      uint32_t code_point = 0;
      const size_t length = utf8_at(s_ + q, s_ + n_, code_point);
      if (length == 0) bad_utf8_ = true;
      q += length == 0 ? 1 : length;
      continue;
    }
    ++q;
  }
}

void Lexer::scan_slash(size_t p) {
  const char next = s_[p + 1];
  if (next == '/' && (cls(s_[p + 2]) & number_end)) return token(Kind::word, p + 2);
  if (cls(next) & number_end) return token(Kind::word, p + 1);
  if (next == ':' && (cls(s_[p + 2]) & number_end)) return token(Kind::word, p + 2);
  token(Kind::refinement, word_end_after(p + 1));
}

void Lexer::scan_less(size_t p) {
  const char next = s_[p + 1];
  if ((cls(next) & white) || next == '<' || next == '=' || next == '>') {
    scan_word(p, false);
    return;
  }
  // A tag: up to ">" on the same line; quoted parts may hold ">".
  size_t q = p + 1;
  char quote = 0;
  for (;; ++q) {
    const char c = s_[q];
    if (c == '\n' || q >= n_) {
      unclosed_ = true;
      token(Kind::tag, q);
      return;
    }
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      token(Kind::tag, q + 1);
      return;
    }
  }
}

void Lexer::scan_percent(size_t p) {
  size_t q = p;
  while (s_[q] == '%') ++q;
  if (s_[q] == '{') {  // %{...}% with as many "%" on each side
    percents_ = static_cast<int>(q - p);
    size_t r = q + 1;
    for (;; ++r) {
      if (r >= n_) {
        unclosed_ = true;
        token(Kind::raw_string, n_);
        return;
      }
      if (s_[r] == '\n') ++line_;
      if (s_[r] != '}') continue;
      size_t after = r + 1;
      while (s_[after] == '%') ++after;
      if (static_cast<int>(after - r - 1) >= percents_) {
        if (static_cast<int>(after - r - 1) > percents_) unclosed_ = true;
        token(Kind::raw_string, after);
        return;
      }
    }
  }
  if (q == p + 1 && s_[q] == '"') {
    scan_quoted(p + 1, Kind::file);
    start_ = p;
    return;
  }
  if (cls(s_[q]) & number_end) {  // "%" or "%%" alone
    token(Kind::word, q);
    return;
  }
  // A file name; "^" escapes the next byte, "^(...)" all of it.
  q = p + 1;
  while (!(cls(s_[q]) & url_end)) {
    if (s_[q] == '^' && q + 1 < n_ && s_[q + 1] != '\n') {
      ++q;
      if (s_[q] == '(') {
        const size_t open = q;
        while (q < n_ && q - open <= 7 && s_[q] != ')' && s_[q] != '\n') ++q;
        if (s_[q] != ')') q = open;
      }
    }
    ++q;
  }
  token(Kind::file, q);
}

void Lexer::scan_hash(size_t p) {
  const char next = s_[p + 1];
  switch (next) {
    case '[': token(Kind::map_open, p + 2); return;
    case '(': {
      size_t q = p + 2;
      while (q < n_ && s_[q] != ')' && s_[q] != '\n') ++q;
      if (s_[q] != ')') unclosed_ = true;
      token(Kind::construct, s_[q] == ')' ? q + 1 : q);
      return;
    }
    case '{': scan_binary(p + 2); return;
    case '"': {
      size_t q = p + 2;
      for (;;) {
        const char c = s_[q];
        if (c == '"') {
          token(Kind::char_, q + 1);
          return;
        }
        if (c == '\n' || q >= n_) {
          unclosed_ = true;
          token(Kind::char_, q);
          return;
        }
        q += (c == '^' && s_[q + 1] != '\n' && q + 1 < n_) ? 2 : 1;
      }
    }
    default: break;
  }
  token(Kind::issue, word_end_after(p + 1));
}

// "..." on one line (also %"..."): "^" escapes the next byte.
void Lexer::scan_quoted(size_t p, Kind kind) {
  size_t q = p + 1;
  for (;;) {
    const char c = s_[q];
    if (c == '"') {
      token(kind, q + 1);
      return;
    }
    if (c == '\n' || q >= n_) {
      unclosed_ = true;
      token(kind, q);
      return;
    }
    if (c == '^') {
      carets_ = true;
      if (s_[q + 1] != '\n' && q + 1 < n_) ++q;
    } else if (static_cast<uint8_t>(c) >= 0x80) {
      wide_ = true;
    }
    ++q;
  }
}

// {...} with nested braces, over lines; "^" escapes the next byte.
void Lexer::scan_braced(size_t p) {
  size_t q = p + 1;
  int depth = 1;
  for (;; ++q) {
    const char c = s_[q];
    if (q >= n_) {
      unclosed_ = true;
      token(Kind::brace_close, n_);
      return;
    }
    switch (c) {
      case '{': ++depth; break;
      case '}':
        if (--depth == 0) {
          token(Kind::brace_close, q + 1);
          return;
        }
        break;
      case '\n': ++line_; break;
      case '^':
        carets_ = true;
        if (q + 1 < n_) {
          ++q;
          if (s_[q] == '\n') ++line_;
          else if (static_cast<uint8_t>(s_[q]) >= 0x80) wide_ = true;
        }
        break;
      default:
        if (static_cast<uint8_t>(c) >= 0x80) wide_ = true;
        break;
    }
  }
}

// The body of #{...} or base#{...}, from the byte after "{".
void Lexer::scan_binary(size_t body) {
  size_t q = body;
  for (;; ++q) {
    if (q >= n_) {
      unclosed_ = true;
      token(Kind::binary, n_);
      return;
    }
    const char c = s_[q];
    if (c == '}') {
      token(Kind::binary, q + 1);
      return;
    }
    if (c == '\n') {
      ++line_;
    } else if (c == ';') {
      while (q + 1 < n_ && s_[q + 1] != '\n') ++q;
    }
  }
}

// A "(" opens a point literal when at least 4 bytes follow and the run of
// number-like bytes after it ends at a "," (or at the end of the text).
bool Lexer::point_ahead(size_t p) const {
  if (n_ - p - 1 < 4) return false;
  size_t q = p + 1;
  for (;; ++q) {
    const char c = s_[q];
    if (c == '\t' || c == ' ' || c == '#' || c == '+' || c == '-' || c == '.' || is_digit(c)) continue;
    switch (c) {
      case 'A': case 'E': case 'F': case 'I': case 'N': case 'a': case 'e': case 'f': case 'i': case 'n': continue;
      default: break;
    }
    return c == ',' || q >= n_;
  }
}

void Lexer::scan_point(size_t p) {
  size_t q = p + 1;
  while (q < n_ && s_[q] != ')' && s_[q] != '\n') ++q;
  if (s_[q] != ')') {
    unclosed_ = true;
    token(Kind::point, q);
    return;
  }
  token(Kind::point, q + 1);
}

// Digits and the forms that begin with them (or with a sign, a "." or "$").
// One pass notes what the token holds; the kind follows from that.
void Lexer::scan_number(size_t p) {
  const size_t start = p;
  if (s_[p] == '+' || s_[p] == '-') ++p;
  const size_t digits_start = p;
  bool apostrophe = false;
  for (;; ++p) {
    if (is_digit(s_[p])) continue;
    if (s_[p] != '\'') break;
    apostrophe = true;
  }
  const size_t run_end = p;
  if (s_[p] == '#' && s_[p + 1] == '{' && start == digits_start && p > start && !apostrophe) {
    scan_binary(p + 2);  // 2#{...}, 16#{...}, 64#{...}
    return;
  }
  NumberMarks marks;
  for (;;) {
    const char c = s_[p];
    const auto b = static_cast<uint8_t>(c);
    if (b < 0x80) {
      if (cls(c) & number_end) {
        if (c == ',' && marks.colon && is_digit(s_[p + 1])) {  // 10:20,5
          ++p;
          continue;
        }
        break;
      }
      switch (c) {
        case '/':
        case ':':
          if (path_mode_) goto done;
          if (c == ':') marks.colon = true;
          break;
        case '@': marks.at = true; break;
        case '$': marks.dollar = true; break;
        case 'x': case 'X': marks.x = true; break;
        case '.': ++marks.dots; break;
        case 'e': case 'E': marks.exponent = true; break;
        default: break;
      }
      ++p;
      continue;
    }
    if (unicode_space_at(s_ + p) > 0) break;
    uint32_t code_point = 0;
    const size_t length = utf8_at(s_ + p, s_ + n_, code_point);
    if (length == 0) bad_utf8_ = true;
    p += length == 0 ? 1 : length;
  }
done:
  token(classify_number(digits_start, run_end, p, marks), p);
}

Kind Lexer::classify_number(size_t digits_start, size_t run_end, size_t end, const NumberMarks& marks) const {
  if (marks.at) return Kind::email;
  if (end - digits_start >= 3 && s_[digits_start] == '1' && s_[digits_start + 1] == '.' && s_[digits_start + 2] == '#')
    return Kind::float_special;
  if (marks.dollar) return Kind::money;
  const char last = s_[end - 1];
  if (s_[digits_start] == '.') return last == '%' ? Kind::percent : Kind::float_;
  if (run_end < end) {
    const char after = s_[run_end];
    if (after == '-' || after == '/') return Kind::date;
    if (after == 'T' && run_end - digits_start >= 5) return Kind::date;
  }
  if (marks.x) return Kind::pair;
  if (last == 'h') return Kind::hex;
  if (marks.colon) return Kind::time;
  if (last == '%') return Kind::percent;
  if (marks.dots >= 2) return Kind::tuple;
  if (marks.dots == 1 || marks.exponent) return Kind::float_;
  return Kind::integer;
}

// ---------------------------------------------------------------------------
// Events and errors

bool Lexer::fire(Event event, int32_t type, size_t input, const Cell* value) {
  if (callback_ == nullptr || !(callback_->mask & event_bit(event)) || !callback_->handler) return true;
  EventInfo info{event, type, line_, units(start_), units(end_), value ? *value : none::make()};
  const int64_t before = units(input);
  int64_t position = before;
  const bool result = callback_->handler(info, position);
  if (position != before) {
    moved_ = true;
    moved_to_ = bytes_of(position);
  }
  return result;
}

void Lexer::syntax_error(bool at_token, int32_t code, char current) {
  if (options_.mode != Mode::load) {
    // Nothing is built in the scan modes: the token is only typed error!.
    if (callback_) fire(Event::error, static_cast<int32_t>(TypeId::error), end_);
    token_type_ = TypeId::error;
    throw QuietAbort{};
  }
  const size_t start = at_token ? start_ : (frames_.empty() ? 0 : frames_.back().open_at);
  // An element that fails inside a path is reported as a bad character.
  if (code > 0 && innermost_path() && static_cast<TypeId>(code) != TypeId::path) code = code_bad_char;
  if (callback_) {
    int32_t type = code;
    if (type <= 0) {
      if (!frames_.empty()) type = static_cast<int32_t>(frames_.back().type);
      else if (token_type_ != TypeId::none_type) type = static_cast<int32_t>(token_type_);
      else if (forced_ != TypeId::none_type) type = static_cast<int32_t>(forced_);
      else type = static_cast<int32_t>(TypeId::error);
    }
    if (innermost_path()) close_path();
    if (!fire(Event::error, type, end_)) throw QuietAbort{};
  }

  // The position text and the text near the error.
  std::string position = "(line " + std::to_string(line_) + ")";
  size_t near_end = start;
  while (near_end < n_ && s_[near_end] != '\n' && (near_end - start < 30 || is_continuation(s_[near_end]))) ++near_end;
  const Val position_text = string::push_new(static_cast<uint32_t>(position.size()));
  string::append_utf8(position_text, position);
  const Val near_text = string::push_new(static_cast<uint32_t>(near_end - start + 1));
  string::append_utf8(near_text, text(start, near_end));

  switch (code) {
    case code_bad_char: error::raise(error_id::syntax::bad_char, *position_text, *near_text);
    case code_malconstruct: error::raise(error_id::syntax::malconstruct, *position_text, *near_text);
    case code_missing:
    case code_missing_at_end: {
      const TypeId frame = frames_.empty() ? (current == ')' ? TypeId::paren : TypeId::block) : frames_.back().type;
      if (code == code_missing_at_end) current = '_';
      const bool square = frame == TypeId::block || frame == TypeId::map;
      const char* missing = square ? (current == ']' ? "[" : "]") : (current == ')' ? "(" : ")");
      const Val missing_text = string::push_new(1);
      string::append_latin1(missing_text, missing);
      error::raise(error_id::syntax::missing, *position_text, *missing_text, *near_text);
    }
    default:
      error::raise(error_id::syntax::invalid, *position_text, datatype::make(static_cast<TypeId>(code)), *near_text);
  }
}

void Lexer::note_type(TypeId type) {
  if (first_done_ || !frames_.empty()) return;
  first_type_ = first_failed_ ? static_cast<int32_t>(TypeId::error) : static_cast<int32_t>(type);
  first_done_ = true;
}

// ---------------------------------------------------------------------------
// Frames

NodeId Lexer::cells_from(uint32_t first) {
  const uint32_t count = depth() - first;
  const NodeId node = memory::new_cell_series(std::max(count, 1u));
  SeriesBuf* target = memory::buffer(node);
  std::memcpy(target->head_ptr(), memory::buffer(stack_.get())->head_ptr() + size_t{first} * sizeof(Cell),
              size_t{count} * sizeof(Cell));
  target->tail = target->head + count * static_cast<uint32_t>(sizeof(Cell));
  pop_to(first);
  return node;
}

void Lexer::open_frame(TypeId type, size_t at) {
  if (!fire(Event::open, static_cast<int32_t>(type), at)) {
    // Refused: the bracket is skipped.
    return;
  }
  uint32_t slot = 0;
  // The frame's cell holds its place; closing writes the series over it.
  if (options_.mode == Mode::load)
    slot = push(Cell{cell::header(TypeId::triple), 0, 0, static_cast<uint32_t>(at)}, new_line_);
  frames_.push_back({type, slot, static_cast<uint32_t>(at)});
}

void Lexer::close_frame(TypeId closer) {
  const char current = s_[start_];
  if (frames_.empty()) syntax_error(false, code_missing, current);
  const TypeId type = frames_.back().type;
  if (type != closer && !(closer == TypeId::block && type == TypeId::map)) syntax_error(false, code_missing, current);
  fire(Event::close, static_cast<int32_t>(type), end_);
  const Frame frame = frames_.back();
  if (options_.mode == Mode::load) {
    if (type == TypeId::map) {
      finish_map(frame.slot);
    } else {
      const NodeId node = cells_from(frame.slot + 1);
      set(frame.slot, series::make(type, node));
    }
  }
  frames_.pop_back();
  note_type(type);
}

void Lexer::finish_map(uint32_t slot) {
  const uint32_t count = depth() - slot - 1;
  bool keys_ok = count % 2 == 0;
  for (uint32_t i = slot + 1; keys_ok && i < depth(); i += 2) keys_ok = type_traits::is_map_key(cell::type_of(at(i)));
  if (!keys_ok) {
    // The map's text runs from its "#[" to here; the map is dropped.
    start_ = frames_.back().open_at;
    pop_to(slot);
    frames_.pop_back();
    fail(TypeId::map);
  }
  const NodeId data = cells_from(slot + 1);
  set(slot, series::make(TypeId::block, data));  // keeps the data block alive
  const NodeId table = hashtable::make(count / 2, data, 0, hashtable::Kind::map);
  set(slot, Cell{cell::header(TypeId::map), 0, data, table});
}

void Lexer::close_path() {
  const Frame frame = frames_.back();
  fire(Event::close, static_cast<int32_t>(frame.type), pos_);
  if (options_.mode == Mode::load) {
    const NodeId node = cells_from(frame.slot + 1);
    set(frame.slot, series::make(frame.type, node));
  }
  frames_.pop_back();
  note_type(frame.type);
}

// After each element of a path: "/" goes on to the next element, ":" makes
// a set-path!, anything else ends the path.
void Lexer::path_step() {
  if (!innermost_path()) return;
  const char c = s_[pos_];
  if (c == '/' && pos_ < n_) {
    const char next = s_[pos_ + 1];
    if (pos_ + 1 >= n_ || (cls(next) & (white | k_comma)) || next == ')' || next == ']' || next == '}' ||
        next == ';' || next == '/') {
      start_ = frames_.back().open_at;
      end_ = pos_ + 1;
      syntax_error(true, static_cast<int32_t>(TypeId::path), '\0');
    }
    ++pos_;
    return;
  }
  if (c == ':' && pos_ < n_) {
    Frame& frame = frames_.back();
    const char next = s_[pos_ + 1];
    if (next == '/' || frame.type != TypeId::path || !(cls(next) & number_end)) {
      start_ = frame.open_at;
      end_ = pos_ + 1;
      syntax_error(true, static_cast<int32_t>(TypeId::path), '\0');
    }
    frame.type = TypeId::set_path;
    ++pos_;
  }
  close_path();
}

void Lexer::comma() {
  if (!frames_.empty() && (frames_.back().type == TypeId::paren || frames_.back().type == TypeId::point2d)) {
    // The paren can no longer close: its ")" raises `missing`.
    frames_.back().type = TypeId::point2d;
    pos_ = end_;
    return;
  }
  fail(TypeId::point2d);
}

// ---------------------------------------------------------------------------
// The token loop

void Lexer::process() {
  const Kind kind = kind_;
  token_type_ = kind_types[static_cast<size_t>(kind)];
  forced_ = TypeId::none_type;
  const bool element = path_mode_;

  if (callback_ && kind != Kind::point) {
    const int32_t code = type_code(kind);
    if (!fire(Event::prescan, code, code > 0 ? end_ : start_)) {
      skip_token();
      if (element) path_step();
      return;
    }
  }
  pos_ = end_;
  switch (kind) {
    case Kind::error:
      end_ = start_;
      syntax_error(true, code_bad_char, '\0');
    case Kind::block_open: open_frame(TypeId::block, start_); return;
    case Kind::paren_open: open_frame(TypeId::paren, start_); return;
    case Kind::map_open: open_frame(TypeId::map, start_); return;
    case Kind::block_close:
    case Kind::paren_close:
      close_frame(kind == Kind::block_close ? TypeId::block : TypeId::paren);
      path_step();
      return;
    case Kind::comment: return;
    case Kind::comma: comma(); return;
    case Kind::path_head: {
      const char sigil = s_[start_];
      const TypeId type = sigil == '\'' ? TypeId::lit_path : sigil == ':' ? TypeId::get_path : TypeId::path;
      open_frame(type, start_);
      new_line_ = false;
      kind_ = Kind::word;
      forced_ = TypeId::word;
      token_type_ = TypeId::word;
      value_token();
      path_step();
      return;
    }
    default:
      value_token();
      if (element) path_step();
      return;
  }
}

void Lexer::value_token() {
  const Kind kind = kind_;
  if (options_.mode == Mode::prescan) {
    // Only the kinds that the prescan checks (up to quoted strings) can fail.
    if (unclosed_ && (kind == Kind::brace_close || kind == Kind::string)) fail(TypeId::string);
    if (unclosed_ && kind == Kind::construct) syntax_error(true, code_malconstruct, '\0');
    note_type(kind == Kind::construct ? TypeId::datatype : token_type_);
    return;
  }
  const bool braced = kind == Kind::brace_close || kind == Kind::raw_string;
  if (braced && callback_) {
    const size_t end = end_;
    const int32_t line = line_;
    line_ = token_line_;
    fire(Event::open, static_cast<int32_t>(TypeId::string), start_);
    line_ = line;
    // A string that runs off the input was opened but never closed: the
    // error event that follows says so (a console reads it as "needs more
    // lines").
    if (!unclosed_) fire(Event::close, static_cast<int32_t>(TypeId::string), end);
  }
  const bool want_scan = callback_ && (callback_->mask & event_bit(Event::scan));
  if (options_.mode == Mode::scan || want_scan) {
    load(false);
    if (!fire(Event::scan, static_cast<int32_t>(token_type_), end_)) return;
    if (options_.mode == Mode::scan) {
      note_type(token_type_);
      return;
    }
  }
  const uint32_t before = depth();
  load(true);
  if (depth() > before && callback_ && (callback_->mask & event_bit(Event::load))) {
    const Cell value = at(before);
    if (!fire(Event::load, static_cast<int32_t>(cell::type_of(value)), end_, &value)) {
      pop_to(before);
      return;
    }
  }
  note_type(token_type_);
}

Result Lexer::run(Val out) {
  while (!stop_) {
    try {
      next_token();
      if (kind_ == Kind::eof) {
        pos_ = n_;
        break;
      }
      process();
    } catch (const QuietAbort&) {
      skip_token();
      if (innermost_path()) {
        if (options_.mode == Mode::load) {
          close_path();
        } else {
          frames_.pop_back();
        }
      }
      if (!first_done_) {
        first_failed_ = true;
        note_type(TypeId::error);
        if (options_.mode != Mode::load && options_.one) {
          // The first value failed: that is the answer.
          first_type_ = static_cast<int32_t>(TypeId::error);
          first_done_ = true;
        }
      }
      if (options_.mode != Mode::load && options_.one) stop_ = true;
    }
    if (moved_) {
      pos_ = std::min(moved_to_, n_);
      moved_ = false;
    }
    if (options_.one && frames_.empty()) {
      if (options_.mode == Mode::load ? depth() > 0 : first_done_) stop_ = true;
    }
  }
  finish(out);
  Result result;
  result.type = first_type_;
  result.consumed = units(pos_);
  return result;
}

void Lexer::finish(Val out) {
  if (!frames_.empty() && !stop_) {
    // A bracket left open at the end of the text.
    start_ = end_ = n_;
    try {
      syntax_error(false, code_missing_at_end, '_');
    } catch (const QuietAbort&) {
      if (options_.mode == Mode::load) output_none_ = true;
      first_failed_ = true;
      frames_.clear();
      if (!first_done_) {
        first_type_ = static_cast<int32_t>(TypeId::error);
        first_done_ = true;
      }
    }
  }
  if (options_.mode != Mode::load) {
    *out = first_type_ > 0 ? datatype::make(static_cast<TypeId>(first_type_)) : none::make();
    return;
  }
  if (output_none_) {
    *out = none::make();
    return;
  }
  // Values above a frame left open by a stop inside it are dropped.
  const uint32_t count = frames_.empty() ? depth() : frames_.front().slot;
  pop_to(count);
  if (options_.into) {
    const NodeId target = series::node_of(*out);
    const uint32_t bytes = count * static_cast<uint32_t>(sizeof(Cell));
    const uint32_t offset = series::reserve_tail(target, bytes);
    std::memcpy(memory::buffer(target)->data() + offset, memory::buffer(stack_.get())->head_ptr(), bytes);
    return;
  }
  if (options_.one && !options_.wrap && count > 0) {
    *out = at(0);
    cell::clear_new_line(*out);
    return;
  }
  *out = series::make(TypeId::block, cells_from(0));
}

// ---------------------------------------------------------------------------
// Loaders

void Lexer::load(bool build) {
  switch (kind_) {
    case Kind::string: {
      if (unclosed_) fail(TypeId::string);
      load_string(start_ + 1, end_ - 1, carets_, TypeId::string, build);
      return;
    }
    case Kind::brace_close:
      if (unclosed_) fail(TypeId::string);
      load_string(start_ + 1, end_ - 1, carets_, TypeId::string, build);
      return;
    case Kind::raw_string:
      if (unclosed_) fail(TypeId::string);
      load_string(start_ + static_cast<size_t>(percents_) + 1, end_ - static_cast<size_t>(percents_) - 1, false,
                  TypeId::string, build);
      return;
    case Kind::word: load_word(build); return;
    case Kind::refinement: load_word(build); return;
    case Kind::issue: {
      const std::string_view name = text(start_ + 1, end_);
      if (name.empty() || bad_utf8_ || name.find(':') != std::string_view::npos) fail(TypeId::issue);
      if (build) emit(word::make_issue(name));
      return;
    }
    case Kind::integer: load_integer(build); return;
    case Kind::hex: load_hex(build); return;
    case Kind::float_: load_float(build, false); return;
    case Kind::percent: load_float(build, true); return;
    case Kind::float_special: {
      double value = 0;
      if (!float_special(token_text(), value)) fail(TypeId::float_);
      Cell number{cell::header(TypeId::float_), 0, 0, 0};
      cell::set_double(number, value);
      if (build) emit(number);
      return;
    }
    case Kind::tuple: load_tuple(build); return;
    case Kind::pair: load_pair(build); return;
    case Kind::time: load_time(build); return;
    case Kind::money: load_money(build); return;
    case Kind::date: load_date(build); return;
    case Kind::point: load_point(build); return;
    case Kind::char_: load_char(build); return;
    case Kind::file: load_file(build); return;
    case Kind::binary: load_binary(build); return;
    case Kind::construct: load_construct(build); return;
    case Kind::tag:
      if (unclosed_) fail(TypeId::tag);
      load_string(start_ + 1, end_ - 1, false, TypeId::tag, build);
      return;
    case Kind::url: {
      const char first = s_[start_];
      if (first == ':') fail(TypeId::get_word);
      if (first == '\'') fail(TypeId::lit_word);
      emit_text(TypeId::url, build);
      return;
    }
    case Kind::email: {
      const std::string_view t = token_text();
      const size_t at_sign = t.find('@');
      if (at_sign == 0 || at_sign + 1 >= t.size() || bad_utf8_) fail(TypeId::email);
      load_string(start_, end_, false, TypeId::email, build);
      return;
    }
    case Kind::ref:
      if (end_ == start_ + 1 || bad_utf8_) fail(TypeId::ref);
      load_string(start_ + 1, end_, false, TypeId::ref, build);
      return;
    default: return;
  }
}

// Decodes s_[a, b) into chars_ (caret escapes too when `carets`); answers
// the unit of the string to hold it, or 0 when the text is invalid.
uint32_t Lexer::decode(size_t a, size_t b, bool carets) {
  chars_.clear();
  uint32_t unit = 1;
  const char* end = s_ + b;
  for (const char* p = s_ + a; p < end;) {
    const char c = *p;
    if (c == '^' && carets) {
      const EscapeRead escape = read_escape(p + 1, end);
      if (escape.code_point < 0 || escape.code_point > 0x10FFFF) return 0;
      chars_.push_back(static_cast<char32_t>(escape.code_point));
      if (escape.hex_digits > 4) unit = 4;
      else if (escape.hex_digits > 2) unit = std::max(unit, 2u);
      else if (escape.code_point > 0xFF) unit = std::max(unit, escape.code_point > 0xFFFF ? 4u : 2u);
      p += 1 + escape.length;
      continue;
    }
    if (static_cast<uint8_t>(c) < 0x80) {
      chars_.push_back(static_cast<char32_t>(c));
      ++p;
      continue;
    }
    uint32_t code_point = 0;
    const size_t length = utf8_at(p, end, code_point);
    if (length == 0) return 0;
    unit = std::max(unit, length == 4 ? 4u : 2u);
    chars_.push_back(code_point);
    p += length;
  }
  return unit;
}

void Lexer::load_string(size_t a, size_t b, bool carets, TypeId type, bool build) {
  if (forced_ != TypeId::none_type) type = forced_;
  const std::string_view raw = text(a, b);
  const bool plain =
      !carets && std::none_of(raw.begin(), raw.end(), [](char c) { return static_cast<uint8_t>(c) >= 0x80; });
  if (plain) {
    if (!build) return;
    const uint32_t slot = emit(unset::make());
    const NodeId node = memory::new_series(std::max<uint32_t>(static_cast<uint32_t>(raw.size()), 1), 1);
    SeriesBuf* buffer = memory::buffer(node);
    std::memcpy(buffer->head_ptr(), raw.data(), raw.size());
    buffer->tail = buffer->head + static_cast<uint32_t>(raw.size());
    set(slot, series::make(type, node));
    return;
  }
  const uint32_t unit = decode(a, b, carets);
  if (unit == 0) fail(type);
  if (!build) return;
  const uint32_t slot = emit(unset::make());
  const auto count = static_cast<uint32_t>(chars_.size());
  const NodeId node = memory::new_series(std::max(count, 1u), unit);
  SeriesBuf* buffer = memory::buffer(node);
  uint8_t* data = buffer->head_ptr();
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t code_point = chars_[i];
    std::memcpy(data + size_t{i} * unit, &code_point, unit);  // little-endian: the low bytes
  }
  buffer->tail = buffer->head + count * unit;
  set(slot, series::make(type, node));
}

// The whole token as text of `type`, percent-decoded when it holds "%".
void Lexer::emit_text(TypeId type, bool build) {
  const std::string_view t = token_text();
  if (bad_utf8_) fail(type);
  if (t.find('%') == std::string_view::npos) {
    load_string(start_, end_, false, type, build);
    return;
  }
  if (!build) return;
  emit_bytes_as(type, t);
}

// Percent-decodes UTF-8 `bytes` into a new value of `type` on the stack.
void Lexer::emit_bytes_as(TypeId type, std::string_view bytes) {
  // Escaped bytes that are not UTF-8 stay raw bytes (file.h), which mold
  // writes back as they were.
  const std::u32string decoded = url::decode(bytes, true);
  uint32_t unit = 1;
  for (char32_t c : decoded) unit = std::max(unit, c > 0xFFFF ? 4u : c > 0xFF ? 2u : 1u);
  const uint32_t slot = emit(unset::make());
  const auto count = static_cast<uint32_t>(decoded.size());
  const NodeId node = memory::new_series(std::max(count, 1u), unit);
  SeriesBuf* buffer = memory::buffer(node);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t code_point = decoded[i];
    std::memcpy(buffer->head_ptr() + size_t{i} * unit, &code_point, unit);
  }
  buffer->tail = buffer->head + count * unit;
  set(slot, series::make(type, node));
}

void Lexer::load_word(bool build) {
  const std::string_view t = token_text();
  TypeId type = kind_ == Kind::refinement ? TypeId::refinement : TypeId::word;
  size_t a = 0, b = t.size();
  if (type == TypeId::refinement) {
    a = 1;
  } else if (t[0] == '\'') {
    type = TypeId::lit_word, a = 1;
  } else if (t[0] == ':') {
    type = TypeId::get_word, a = 1;
  }
  if (b > a + 1 && t[b - 1] == ':') {
    if (type == TypeId::lit_word || type == TypeId::refinement) fail(type);
    if (type != TypeId::word) fail(TypeId::word);
    type = TypeId::set_word;
    --b;
  }
  if (forced_ != TypeId::none_type) type = forced_;
  const std::string_view name = t.substr(a, b - a);
  const TypeId error_type = type == TypeId::refinement ? TypeId::refinement : TypeId::word;
  if (name.empty() || bad_utf8_ || name.find(':') != std::string_view::npos) fail(error_type);
  if (name[0] == '/' && name != "/" && name != "//") fail(error_type);
  if (type == TypeId::refinement && name.find('@') != std::string_view::npos) fail(error_type);
  // A sigil before a number is not a word.
  const size_t lead = (name[0] == '+' || name[0] == '-') && name.size() > 1 ? 1 : 0;
  if (type != TypeId::refinement &&
      (is_digit(name[lead]) || (name[lead] == '.' && lead + 1 < name.size() && is_digit(name[lead + 1]))))
    fail(error_type);
  token_type_ = type;
  if (!build) return;
  Cell value = word::intern(name);
  cell::set_type(value, type);
  emit(value);
}

// Decimal integers: digits with single apostrophes between them; more than
// 10 digits, or a value beyond 32 bits, make a float.
void Lexer::load_integer_text(std::string_view t, Cell& out, bool in_pair) {
  size_t p = 0;
  bool negative = false;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) negative = t[p++] == '-';
  if (p == t.size()) fail(in_pair ? TypeId::pair : TypeId::integer);
  int digits = 0;
  int64_t value = 0;
  for (size_t i = p; i < t.size(); ++i) {
    const char c = t[i];
    if (c == '\'') {
      if (i == p || i + 1 == t.size() || t[i + 1] == '\'') fail(TypeId::integer);
      continue;
    }
    if (!is_digit(c)) fail(TypeId::integer);
    if (++digits <= 10) value = value * 10 + (c - '0');
  }
  // The magnitude must fit: only the exact text "-2147483648" reaches the
  // smallest integer.
  if (digits > 10 || value > INT32_MAX) {
    if (t == "-2147483648") {
      out = Cell{cell::header(TypeId::integer), 0, 0x80000000u, 0};
      return;
    }
    double number = 0;
    if (!float_value(t, 0, number)) fail(TypeId::float_);
    out = Cell{cell::header(TypeId::float_), 0, 0, 0};
    cell::set_double(out, number);
    return;
  }
  if (negative) value = -value;
  out = Cell{cell::header(TypeId::integer), 0, static_cast<uint32_t>(static_cast<int32_t>(value)), 0};
}

void Lexer::load_integer(bool build) {
  if (bad_utf8_) fail(TypeId::integer);
  Cell value{};
  load_integer_text(token_text(), value, false);
  token_type_ = cell::type_of(value);
  if (build) emit(value);
}

void Lexer::load_hex(bool build) {
  const std::string_view t = token_text();
  const std::string_view digits = t.substr(0, t.size() - 1);
  if (digits.size() == 1 && !is_digit(digits[0])) fail(TypeId::word);
  if (digits.size() < 2 || digits.size() > 8 || bad_utf8_) fail(TypeId::integer);
  uint32_t value = 0;
  for (char c : digits) {
    if (!is_upper_hex(c)) fail(TypeId::integer);
    value = value * 16 + static_cast<uint32_t>(hex_value(c));
  }
  if (build) emit(Cell{cell::header(TypeId::integer), 0, value, 0});
}

void Lexer::load_float(bool build, bool percent) {
  std::string_view t = token_text();
  if (percent) t.remove_suffix(1);
  double value = 0;
  if (bad_utf8_ || !float_value(t, percent ? -2 : 0, value)) fail(TypeId::float_);
  Cell number{cell::header(percent ? TypeId::percent : TypeId::float_), 0, 0, 0};
  cell::set_double(number, value);
  if (build) emit(number);
}

void Lexer::load_tuple(bool build) {
  const std::string_view t = token_text();
  uint8_t bytes[12] = {};
  int count = 0;
  size_t p = 0;
  for (;;) {
    if (count == 12) fail(TypeId::tuple);
    int value = 0, digits = 0;
    while (p < t.size() && is_digit(t[p])) {
      value = value * 10 + (t[p++] - '0');
      if (++digits > 3 && value > 255) break;
    }
    if (digits == 0 || value > 255) fail(TypeId::tuple);
    bytes[count++] = static_cast<uint8_t>(value);
    if (p == t.size()) break;
    if (t[p++] != '.') fail(TypeId::tuple);
  }
  if (count < 3) fail(TypeId::tuple);
  Cell tuple{cell::header(TypeId::tuple) | (static_cast<uint32_t>(count) << 19), 0, 0, 0};
  std::memcpy(&tuple.w1, bytes, sizeof(bytes));
  if (build) emit(tuple);
}

void Lexer::load_pair(bool build) {
  const std::string_view t = token_text();
  if (t.find('.') != std::string_view::npos || bad_utf8_) fail(TypeId::pair);
  const size_t x = t.find_first_of("xX", 1);
  const bool one_x = t.find_first_of("xX", x + 1) == std::string_view::npos;
  if (!one_x || t.find_first_not_of("+-0123456789'xX") != std::string_view::npos) fail(TypeId::pair);
  Cell left{}, right{};
  load_integer_text(t.substr(0, x), left, true);
  load_integer_text(t.substr(x + 1), right, true);
  if (!cell::is(left, TypeId::integer) || !cell::is(right, TypeId::integer)) fail(TypeId::pair);
  if (build) emit(Cell{cell::header(TypeId::pair), 0, left.w2, right.w2});
}

// [+-]hours:minutes, then ":seconds" or a fraction of the seconds after "."
// or "," (the two numbers were then minutes and seconds).
void Lexer::load_time(bool build) {
  const std::string_view t = token_text();
  size_t p = 0;
  bool negative = false;
  if (t[0] == '+' || t[0] == '-') negative = t[p++] == '-';
  auto whole = [&](int64_t& value, bool apostrophes) {
    const size_t start = p;
    value = 0;
    while (p < t.size() && (is_digit(t[p]) || (apostrophes && t[p] == '\'' && p > start))) {
      if (t[p] != '\'') value = value * 10 + (t[p] - '0');
      if (value > INT32_MAX) return false;
      ++p;
    }
    return p > start;
  };
  int64_t hours = 0, minutes = 0;
  if (bad_utf8_ || !whole(hours, true) || p >= t.size() || t[p] != ':') fail(TypeId::time);
  ++p;
  if (!whole(minutes, false)) fail(TypeId::time);
  double seconds = 0.0;
  if (p < t.size()) {
    const char mark = t[p];
    if (p + 1 == t.size()) fail(TypeId::time);  // a ":" or "." at the very end
    if (mark == '.' || mark == ',') {
      // hh:mm.fff reads as minutes and seconds with a fraction.
      std::string number(t.substr(p + 1));
      for (char c : number)
        if (!is_digit(c)) fail(TypeId::time);
      double fraction = 0;
      if (!float_value("0." + number, 0, fraction)) fail(TypeId::time);
      seconds = static_cast<double>(minutes) + fraction;
      minutes = hours;
      hours = 0;
    } else if (mark == ':') {
      const std::string_view rest = t.substr(p + 1);
      if (rest.find_first_not_of("0123456789.") != std::string_view::npos || !float_value(rest, 0, seconds))
        fail(TypeId::time);
    } else {
      fail(TypeId::time);
    }
  }
  double value = seconds + static_cast<double>(minutes) * 60.0 + static_cast<double>(hours) * 3600.0;
  if (negative) value = -value;
  Cell time{cell::header(TypeId::time), 0, 0, 0};
  cell::set_double(time, value);
  if (build) emit(time);
}

// [+-][ABC]$digits[.digits] with apostrophes between integer digits.
void Lexer::load_money(bool build) {
  const std::string_view t = token_text();
  size_t p = 0;
  bool negative = false;
  if (t[0] == '+' || t[0] == '-') negative = t[p++] == '-';
  const size_t dollar = t.find('$', p);
  if (bad_utf8_ || dollar == std::string_view::npos) fail(TypeId::money);
  const std::string_view code = t.substr(p, dollar - p);
  if (!code.empty() && code.size() != 3) fail(TypeId::money);
  p = dollar + 1;
  if (p >= t.size() || t[p] == '.' || t[p] == ',' || t[p] == '\'') fail(TypeId::money);
  while (p < t.size() && (t[p] == '0' || t[p] == '\'')) {
    if (t[p] == '\'' && p + 1 < t.size() && t[p + 1] == '\'') fail(TypeId::money);
    ++p;
  }
  const size_t whole_start = p;
  int whole_digits = 0;
  while (p < t.size() && (is_digit(t[p]) || t[p] == '\'')) {
    if (t[p] == '\'') {
      if (t[p - 1] == '\'' || p + 1 == t.size() || t[p + 1] == '.') fail(TypeId::money);
    } else {
      ++whole_digits;
    }
    ++p;
  }
  const std::string_view whole = t.substr(whole_start, p - whole_start);
  std::string_view fraction;
  if (p < t.size() && t[p] == '.') {
    const size_t fraction_start = ++p;
    while (p < t.size() && is_digit(t[p])) ++p;
    fraction = t.substr(fraction_start, p - fraction_start);
    if (fraction.empty()) fail(TypeId::money);
  }
  // 17 integer digits is all a money! holds.
  if (p != t.size() || whole_digits > 17 || fraction.size() > 5) fail(TypeId::money);
  uint32_t currency = 0;
  if (!code.empty() && (currency = currency_index(code)) == 0) fail(TypeId::money);
  if (build) emit(make_money(negative, currency, whole, fraction));
}

void Lexer::load_date(bool build) {
  Cell date{};
  if (bad_utf8_ || !DateReader(token_text()).read(date)) fail(TypeId::date);
  if (build) emit(date);
}

// (x, y) or (x, y, z): 32-bit float components.
void Lexer::load_point(bool build) {
  if (unclosed_) fail(TypeId::point2d);
  const std::string_view t = text(start_ + 1, end_ - 1);
  float components[3] = {};
  int count = 0;
  size_t p = 0;
  for (;;) {
    while (p < t.size() && (t[p] == ' ' || t[p] == '\t')) ++p;
    const size_t start = p;
    while (p < t.size() && t[p] != ',' && t[p] != ' ' && t[p] != '\t') ++p;
    const std::string_view component = t.substr(start, p - start);
    const TypeId type = count >= 2 ? TypeId::point3d : TypeId::point2d;
    if (component.empty() || count == 3) fail(type);
    double value = 0;
    const bool special = component.find('#') != std::string_view::npos;
    if (!(special ? float_special(component, value) : float_value(component, 0, value))) fail(type);
    components[count++] = static_cast<float>(value);
    while (p < t.size() && (t[p] == ' ' || t[p] == '\t')) ++p;
    if (p == t.size()) break;
    if (t[p++] != ',') fail(type);
  }
  if (count < 2) fail(TypeId::point2d);
  token_type_ = count == 3 ? TypeId::point3d : TypeId::point2d;
  Cell point{cell::header(token_type_), std::bit_cast<uint32_t>(components[0]), std::bit_cast<uint32_t>(components[1]),
             count == 3 ? std::bit_cast<uint32_t>(components[2]) : 0u};
  if (build) emit(point);
}

void Lexer::load_char(bool build) {
  if (unclosed_ || end_ - start_ < 4) fail(TypeId::char_);  // #"" and #" alone
  const char* p = s_ + start_ + 2;
  const char* end = s_ + end_ - 1;
  int32_t code_point = -1;
  size_t length = 0;
  if (*p == '^') {
    const EscapeRead escape = read_escape(p + 1, end);
    code_point = escape.code_point;
    length = escape.length + 1;
  } else {
    uint32_t decoded = 0;
    length = static_cast<uint8_t>(*p) < 0x80 ? 1 : utf8_at(p, end, decoded);
    code_point = length == 0 ? -1 : length == 1 ? static_cast<uint8_t>(*p) : static_cast<int32_t>(decoded);
  }
  if (code_point < 0 || code_point >= 0x110000 || p + length != end) fail(TypeId::char_);
  if (build) emit(Cell{cell::header(TypeId::char_), 0, static_cast<uint32_t>(code_point), 0});
}

void Lexer::load_file(bool build) {
  if (s_[start_ + 1] == '"') {  // %"..." as it is
    if (unclosed_) fail(TypeId::file);
    load_string(start_ + 2, end_ - 1, false, TypeId::file, build);
    return;
  }
  const std::string_view t = text(start_ + 1, end_);
  if (bad_utf8_) fail(TypeId::file);
  if (t.find('%') == std::string_view::npos) {
    load_string(start_ + 1, end_, true, TypeId::file, build);
    return;
  }
  // Caret escapes first, then the percent escapes of the UTF-8 text.
  if (decode(start_ + 1, end_, true) == 0) fail(TypeId::file);
  if (!build) return;
  std::string utf8;
  char buffer[4];
  for (char32_t c : chars_) utf8.append(buffer, static_cast<size_t>(unicode::encode_utf8(c, buffer)));
  emit_bytes_as(TypeId::file, utf8);
}

void Lexer::load_binary(bool build) {
  if (unclosed_) fail(TypeId::binary);
  const std::string_view t = token_text();
  const size_t brace = t.find('{');
  // The base prefix is 2, 16 or 64; a longer run of digits stops counting
  // as soon as it passes 64, so no prefix can overflow into a valid base.
  int base = 16;
  if (brace > 1) {
    base = 0;
    for (size_t i = 0; i + 1 < brace && base <= 64; ++i) base = base * 10 + (t[i] - '0');
  }
  const std::string_view body = t.substr(brace + 1, t.size() - brace - 2);
  bytes_.clear();
  size_t bad = 0;
  switch (base) {
    case 2: bad = decode_base2(body, bytes_); break;
    case 16: bad = decode_base16(body, bytes_); break;
    case 64: bad = decode_base64(body, bytes_); break;
    default: fail(TypeId::binary);
  }
  if (bad != 0) {
    start_ += brace + bad;  // the error text starts at the bad character
    fail(TypeId::binary);
  }
  if (!build) return;
  const uint32_t slot = emit(unset::make());
  set(slot, binary::make(bytes_));
}

void Lexer::load_construct(bool build) {
  if (unclosed_) syntax_error(true, code_malconstruct, '\0');
  const std::string_view name = text(start_ + 2, end_ - 1);
  Cell value{};
  if (equal_caseless(name, "true") || equal_caseless(name, "false")) {
    value = logic::make(equal_caseless(name, "true"));
  } else if (equal_caseless(name, "none")) {
    value = none::make();
  } else if (equal_caseless(name, "unset")) {
    value = unset::make();
  } else {
    bool found = false;
    for (int id = 1; !found && id <= static_cast<int>(datatype::highest()); ++id) {
      const auto type = static_cast<TypeId>(id);
      if (!datatype::is_registered(type)) continue;
      const std::string_view full = datatype::info(type).name;
      const std::string_view bare = full.substr(0, datatype::info(type).name_length);
      if (!name.empty() && (equal_caseless(name, full) || equal_caseless(name, bare))) {
        value = datatype::make(type);
        found = true;
      }
    }
    if (!found) syntax_error(true, code_malconstruct, '\0');
  }
  token_type_ = cell::type_of(value);
  if (build) emit(value);
}

Result scan_owned(Val out, std::string&& text, const Options& options) {
  Lexer lexer(std::move(text), options);
  return lexer.run(out);
}

}  // namespace

// ---------------------------------------------------------------------------
// Interface

std::string_view kind_name(Kind kind) { return kind_names[static_cast<size_t>(kind)]; }
TypeId kind_type(Kind kind) { return kind_types[static_cast<size_t>(kind)]; }

Result scan_utf8(Val out, std::string_view text, const Options& options) {
  return scan_owned(out, std::string(text), options);
}

Result scan_series(Val out, const Cell& source, int64_t limit, Options options) {
  const SeriesBuf* buffer = memory::buffer(series::node_of(source));
  const uint32_t unit = buffer->unit();
  const uint32_t length = buffer->length();
  const uint32_t index = std::min(series::index_of(source), length);
  uint32_t count = length - index;
  if (limit >= 0 && limit < count) count = static_cast<uint32_t>(limit);
  const uint8_t* data = buffer->head_ptr() + size_t{index} * unit;
  std::string text;
  if (cell::is(source, TypeId::binary)) {
    text.assign(reinterpret_cast<const char*>(data), count);
    options.count_chars = false;
  } else {
    text.reserve(count);
    char bytes[4];
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t code_point = 0;
      std::memcpy(&code_point, data + size_t{i} * unit, unit);
      text.append(bytes, static_cast<size_t>(unicode::encode_utf8(code_point, bytes)));
    }
    options.count_chars = true;
  }
  return scan_owned(out, std::move(text), options);
}

Val scan(std::string_view text) {
  Val out = stack::push(none::make());
  scan_utf8(out, text);
  return out;
}

Escape decode_escape(std::string_view text) {
  const EscapeRead escape = read_escape(text.data(), text.data() + text.size());
  return {escape.code_point, escape.length};
}

void set_currency_index(CurrencyIndexFn lookup) { g_currency_index = lookup ? lookup : builtin_currency_index; }
uint32_t currency_index(std::string_view code) { return g_currency_index(code); }

std::string_view currency_code(uint32_t index) {
  const size_t at = (size_t{index} - 1) * 4;
  if (index == 0 || at + 3 > currency_list.size()) return {};
  return currency_list.substr(at, 3);
}

namespace {

// The characters of a string buffer as bytes; false when one is above 0xFF.
bool narrow(const void* text, uint32_t count, uint32_t unit, std::string& out) {
  const auto* data = static_cast<const uint8_t*>(text);
  out.clear();
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t c = 0;
    std::memcpy(&c, data + size_t{i} * unit, unit);
    if (c > 0xFF) return false;
    out.push_back(static_cast<char>(c));
  }
  return true;
}

}  // namespace

int32_t scan_integer(const void* text, uint32_t count, uint32_t unit, int32_t& error) {
  error = -1;
  std::string t;
  if (!narrow(text, count, unit, t)) return 0;
  size_t p = 0;
  bool negative = false;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) negative = t[p++] == '-';
  int64_t value = 0;
  int digits = 0;
  for (; p < t.size(); ++p) {
    if (t[p] == '\'') continue;
    if (!is_digit(t[p])) return 0;
    ++digits;
    value = value * 10 + (t[p] - '0');
    if (value > int64_t{INT32_MAX} + 1) {
      error = -2;
      return 0;
    }
  }
  if (digits == 0) return 0;
  if (negative) value = -value;
  if (value > INT32_MAX) {
    error = -2;
    return 0;
  }
  error = 0;
  return static_cast<int32_t>(value);
}

double scan_float(const void* text, uint32_t count, uint32_t unit, int32_t& error) {
  error = -1;
  std::string t;
  if (count > max_float_text || !narrow(text, count, unit, t)) return float_text::kNaN;
  std::replace(t.begin(), t.end(), ',', '.');
  double value = 0;
  if (!float_value(t, 0, value)) return float_text::kNaN;
  error = 0;
  return value;
}

void scan_money(const void* text, uint32_t count, uint32_t unit, int32_t& error, Cell& money) {
  error = -1;
  std::string t;
  if (!narrow(text, count, unit, t)) return;
  size_t p = 0;
  bool negative = false;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) negative = t[p++] == '-';
  std::string_view code;
  if (t.size() - p >= 5 && is_alpha(t[p]) && is_alpha(t[p + 1]) && is_alpha(t[p + 2])) {
    if (t[p + 3] != '$') return;
    code = std::string_view(t).substr(p, 3);
    p += 4;
  } else if (p < t.size() && t[p] == '$') {
    ++p;
  }
  const size_t whole_start = p;
  size_t whole_end = std::string::npos;
  for (; p < t.size(); ++p) {
    const char c = t[p];
    if (is_digit(c)) continue;
    if (c == '\'') {
      if (whole_end != std::string::npos || p == whole_start || t[p - 1] == '\'' || p + 1 == t.size()) return;
      continue;
    }
    if (c == '.') {
      if (whole_end != std::string::npos || p == whole_start || t[p - 1] == '\'' || p + 1 == t.size()) return;
      whole_end = p;
      continue;
    }
    return;
  }
  if (whole_end == std::string::npos) whole_end = t.size();
  if (whole_end == whole_start) return;
  std::string_view whole = std::string_view(t).substr(whole_start, whole_end - whole_start);
  while (!whole.empty() && (whole[0] == '0' || whole[0] == '\'')) whole.remove_prefix(1);
  if (std::count_if(whole.begin(), whole.end(), [](char c) { return is_digit(c); }) > 17) return;
  const std::string_view fraction =
      whole_end < t.size() ? std::string_view(t).substr(whole_end + 1) : std::string_view();
  uint32_t currency = 0;
  if (!code.empty() && (currency = currency_index(code)) == 0) return;
  money = make_money(negative, currency, whole, fraction);
  error = 0;
}

}  // namespace kiv::lexer
