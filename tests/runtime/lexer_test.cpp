// The lexer: every literal family, blocks and paths, line markers, syntax
// errors, the scan modes and the callback protocol.
#include "runtime/eval/lexer.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/core/series.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/hashtable.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

using lexer::Event;
using lexer::EventInfo;

class Lexer : public testing::RuntimeTest {};

// The values of `text`, copied out of their block.
std::vector<Cell> load(std::string_view text) {
  const Val block = lexer::scan(text);
  std::vector<Cell> values;
  for (uint32_t i = 0; i < block::count(*block); ++i) values.push_back(*block::at(*block, i));
  return values;
}

// The one value of `text` (a test failure when there are more or fewer).
Cell load_one(std::string_view text) {
  const std::vector<Cell> values = load(text);
  EXPECT_EQ(values.size(), 1u) << text;
  return values.empty() ? Cell{} : values[0];
}

std::string spelling(const Cell& word) { return std::string(symbol::spelling(word.w2)); }
std::string text_of(const Cell& series) { return string::to_utf8(series); }
uint32_t unit_of(const Cell& series) { return memory::buffer(series::node_of(series))->unit(); }
double double_of(const Cell& value) { return cell::get_double(value); }

// A syntax error as raised: its id and arguments.
struct Raised {
  uint16_t code = 0;
  std::string position;  // "(line N)"
  TypeId type = TypeId::none_type;  // invalid: the datatype
  std::string missing;              // missing: the character
  std::string near;
};

Raised error_of(std::string_view text) {
  Raised raised;
  try {
    lexer::scan(text);
  } catch (const Unwind& unwind) {
    runtime::state.pending = 0;
    if (unwind.code != exit_code::error) return raised;
    const error::Pending& pending = error::pending();
    raised.code = pending.code.value;
    raised.position = text_of(pending.args[0]);
    if (pending.code == err::syntax::invalid) {
      raised.type = datatype::get(pending.args[1]);
      raised.near = text_of(pending.args[2]);
    } else if (pending.code == err::syntax::missing) {
      raised.missing = text_of(pending.args[1]);
      raised.near = text_of(pending.args[2]);
    } else {
      raised.near = text_of(pending.args[1]);
    }
  }
  return raised;
}

// Expects `text` to raise `invalid` for `type`.
void expect_invalid(std::string_view text, TypeId type) {
  const Raised raised = error_of(text);
  EXPECT_EQ(raised.code, err::syntax::invalid.value) << text;
  EXPECT_EQ(raised.type, type) << text;
}

// ---------------------------------------------------------------------------
// Words

TEST_F(Lexer, WordsAndTheirKinds) {
  const struct {
    const char* text;
    TypeId type;
    const char* name;
  } cases[] = {
      {"abc", TypeId::word, "abc"},         {"a:", TypeId::set_word, "a"},     {":a", TypeId::get_word, "a"},
      {"'a", TypeId::lit_word, "a"},        {"/a", TypeId::refinement, "a"},   {"/1", TypeId::refinement, "1"},
      {"#a-b", TypeId::issue, "a-b"},       {"#123", TypeId::issue, "123"},    {"/", TypeId::word, "/"},
      {"//", TypeId::word, "//"},           {"'/", TypeId::lit_word, "/"},     {":/", TypeId::get_word, "/"},
      {"/:", TypeId::set_word, "/"},        {"%", TypeId::word, "%"},          {"<", TypeId::word, "<"},
      {"<=", TypeId::word, "<="},           {"<>", TypeId::word, "<>"},        {"<<", TypeId::word, "<<"},
      {">", TypeId::word, ">"},             {">=", TypeId::word, ">="},        {">>>", TypeId::word, ">>>"},
      {"'<=", TypeId::lit_word, "<="},      {"->", TypeId::word, "->"},        {"+", TypeId::word, "+"},
      {"-", TypeId::word, "-"},             {"...", TypeId::word, "..."},      {"ffh", TypeId::word, "ffh"},
      {"Bach", TypeId::word, "Bach"},       {"don't", TypeId::word, "don't"},  {"a#b\\c^d", TypeId::word, "a#b\\c^d"},
      {"caf\xC3\xA9", TypeId::word, "caf\xC3\xA9"}, {"a.b", TypeId::word, "a.b"}, {"+a", TypeId::word, "+a"},
      {"a'", TypeId::word, "a'"},           {"x!?*&|~_=", TypeId::word, "x!?*&|~_="},
  };
  for (const auto& c : cases) {
    const Cell value = load_one(c.text);
    EXPECT_EQ(cell::type_of(value), c.type) << c.text;
    EXPECT_EQ(spelling(value), c.name) << c.text;
  }
}

TEST_F(Lexer, WordsAreBoundToTheGlobalContext) {
  const Cell a = load_one("some-word");
  const Cell b = word::intern("some-word");
  EXPECT_EQ(a.w1, b.w1);
  EXPECT_EQ(a.w2, b.w2);
}

TEST_F(Lexer, InvalidWords) {
  const struct {
    const char* text;
    TypeId type;
  } cases[] = {
      {"'", TypeId::word},       {":", TypeId::word},       {"' a", TypeId::word},     {"'a:", TypeId::lit_word},
      {":a:", TypeId::word},     {"'1", TypeId::word},      {"#", TypeId::issue},      {"#a:b", TypeId::issue},
      {"Ah", TypeId::word},      {"a@", TypeId::email},     {"@", TypeId::ref},        {"'a:b", TypeId::lit_word},
      {":a:b", TypeId::get_word}, {"/a:", TypeId::refinement}, {"'/a", TypeId::word},   {"a\x80z", TypeId::word},
  };
  for (const auto& c : cases) expect_invalid(c.text, c.type);
}

// ---------------------------------------------------------------------------
// Numbers

TEST_F(Lexer, Integers) {
  const struct {
    const char* text;
    int32_t value;
  } cases[] = {
      {"0", 0},          {"7", 7},           {"+5", 5},          {"-12", -12},        {"1'000'000", 1000000},
      {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN}, {"0000000001", 1}, {"0Fh", 15},   {"FFh", 255},
      {"10h", 16},       {"ABh", 0xAB},      {"7FFFFFFFh", INT32_MAX}, {"FFFFFFFFh", -1},
  };
  for (const auto& c : cases) {
    const Cell value = load_one(c.text);
    EXPECT_EQ(cell::type_of(value), TypeId::integer) << c.text;
    EXPECT_EQ(cell::get_int32(value), c.value) << c.text;
  }
}

TEST_F(Lexer, IntegersTooLongOrTooLargeAreFloats) {
  const struct {
    const char* text;
    double value;
  } cases[] = {
      {"12345678901", 12345678901.0}, {"2147483648", 2147483648.0}, {"-2147483649", -2147483649.0},
      {"00000000001", 1.0},           {"1'234'567'890'1", 12345678901.0}, {"-2'147'483'648", -2147483648.0},
  };
  for (const auto& c : cases) {
    const Cell value = load_one(c.text);
    EXPECT_EQ(cell::type_of(value), TypeId::float_) << c.text;
    EXPECT_EQ(double_of(value), c.value) << c.text;
  }
}

TEST_F(Lexer, InvalidIntegers) {
  for (const char* text : {"1''000", "1'", "1''", "1h", "123456789h", "0fh", "-1Fh", "1a", "12ab", "0FFFFFFFFh"})
    expect_invalid(text, TypeId::integer);
}

TEST_F(Lexer, FloatsAndPercents) {
  const struct {
    const char* text;
    TypeId type;
    double value;
  } cases[] = {
      {"1.5", TypeId::float_, 1.5},        {".5", TypeId::float_, 0.5},       {"-.25", TypeId::float_, -0.25},
      {"1e3", TypeId::float_, 1000.0},     {"1.5E-3", TypeId::float_, 0.0015}, {"+2.5e+2", TypeId::float_, 250.0},
      {"1'000.5", TypeId::float_, 1000.5}, {"0.1", TypeId::float_, 0.1},      {"50%", TypeId::percent, 0.5},
      {"12.5%", TypeId::percent, 0.125},   {"-1%", TypeId::percent, -0.01},   {".5%", TypeId::percent, 0.005},
      {"1e2%", TypeId::percent, 1.0},
  };
  for (const auto& c : cases) {
    const Cell value = load_one(c.text);
    EXPECT_EQ(cell::type_of(value), c.type) << c.text;
    EXPECT_EQ(double_of(value), c.value) << c.text;
  }
}

TEST_F(Lexer, FloatSpecials) {
  EXPECT_TRUE(std::isinf(double_of(load_one("1.#INF"))));
  EXPECT_GT(double_of(load_one("1.#INF")), 0);
  EXPECT_LT(double_of(load_one("-1.#inf")), 0);
  EXPECT_TRUE(std::isinf(double_of(load_one("-1.#inf"))));
  EXPECT_TRUE(std::isnan(double_of(load_one("1.#NaN"))));
  EXPECT_EQ(cell::type_of(load_one("1.#nan")), TypeId::float_);
  for (const char* text : {"1.#X", "1.#INFX", "2.#INF", "1.#"}) expect_invalid(text, TypeId::float_);
}

TEST_F(Lexer, InvalidFloats) {
  for (const char* text : {"1.", "1e", "1e+", "1.5e", ".5.", "1.5a", "-.5e", "1''.5"})
    expect_invalid(text, TypeId::float_);
  // At most 312 bytes.
  std::string longest = "1." + std::string(310, '5');
  EXPECT_EQ(cell::type_of(load_one(longest)), TypeId::float_);
  expect_invalid(longest + "5", TypeId::float_);
}

TEST_F(Lexer, Tuples) {
  const Cell color = load_one("255.0.10.128");
  EXPECT_EQ(cell::type_of(color), TypeId::tuple);
  EXPECT_EQ((color.header >> 19) & 0xF, 4u);
  uint8_t bytes[12];
  std::memcpy(bytes, &color.w1, 12);
  EXPECT_EQ(bytes[0], 255);
  EXPECT_EQ(bytes[1], 0);
  EXPECT_EQ(bytes[2], 10);
  EXPECT_EQ(bytes[3], 128);
  EXPECT_EQ(bytes[4], 0);

  const Cell longest = load_one("1.2.3.4.5.6.7.8.9.10.11.12");
  EXPECT_EQ((longest.header >> 19) & 0xF, 12u);
  std::memcpy(bytes, &longest.w1, 12);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(bytes[i], i + 1);

  for (const char* text : {"1.2.3.4.5.6.7.8.9.10.11.12.13", "1.256.3", "1..2", "1.2.3.", "1.2.a", "1.2.0300"})
    expect_invalid(text, TypeId::tuple);
}

TEST_F(Lexer, Pairs) {
  const struct {
    const char* text;
    int32_t x, y;
  } cases[] = {{"10x20", 10, 20}, {"-10X-20", -10, -20}, {"0x10", 0, 10}, {"+3x4", 3, 4}};
  for (const auto& c : cases) {
    const Cell value = load_one(c.text);
    EXPECT_EQ(cell::type_of(value), TypeId::pair) << c.text;
    EXPECT_EQ(static_cast<int32_t>(value.w2), c.x) << c.text;
    EXPECT_EQ(static_cast<int32_t>(value.w3), c.y) << c.text;
  }
  for (const char* text : {"1.5x2", "1x", "1x2x3", "1xa", "12345678901x1"}) expect_invalid(text, TypeId::pair);
  expect_invalid("1''2x3", TypeId::integer);
}

TEST_F(Lexer, Times) {
  const struct {
    const char* text;
    double seconds;
  } cases[] = {
      {"10:30", 37800.0},   {"0:0", 0.0},          {"1:30.5", 90.5},   {"1:30,5", 90.5},
      {"1:30:45.5", 5445.5}, {"-1:30", -5400.0},   {"+1:00", 3600.0},  {"-0:30", -1800.0},
      {"100:00", 360000.0}, {"1'000:00", 3600000.0},
  };
  for (const auto& c : cases) {
    const Cell value = load_one(c.text);
    EXPECT_EQ(cell::type_of(value), TypeId::time) << c.text;
    EXPECT_EQ(double_of(value), c.seconds) << c.text;
  }
  for (const char* text : {"1:", "1:30:", "1:30:4:5", "1:30.", "1:30:4e1", "1:-5", "1:30:y"})
    expect_invalid(text, TypeId::time);
}

// The 22 packed digits of a money! cell, and its sign and currency index.
struct Money {
  std::string digits;
  bool negative;
  uint32_t currency;
};
Money money_of(const Cell& value) {
  uint8_t bytes[12];
  std::memcpy(bytes, &value.w1, 12);
  Money money{"", (value.header & 0x4000) != 0, bytes[0]};
  for (int position = 1; position <= 22; ++position) {
    const uint8_t byte = bytes[1 + (position - 1) / 2];
    money.digits += static_cast<char>('0' + (position % 2 == 1 ? byte >> 4 : byte & 0x0F));
  }
  return money;
}

TEST_F(Lexer, Money) {
  const struct {
    const char* text;
    const char* digits;  // 17 integer digits, 5 fraction digits
    bool negative;
    const char* currency;
  } cases[] = {
      {"$1'234.56", "0000000000000123456000", false, ""},
      {"-USD$5", "0000000000000000500000", true, "USD"},
      {"eur$0.5", "0000000000000000050000", false, "EUR"},
      {"$007", "0000000000000000700000", false, ""},
      {"+$1.00001", "0000000000000000100001", false, ""},
      {"$12345678901234567", "1234567890123456700000", false, ""},
  };
  for (const auto& c : cases) {
    const Cell value = load_one(c.text);
    ASSERT_EQ(cell::type_of(value), TypeId::money) << c.text;
    const Money money = money_of(value);
    EXPECT_EQ(money.digits, c.digits) << c.text;
    EXPECT_EQ(money.negative, c.negative) << c.text;
    EXPECT_EQ(money.currency, lexer::currency_index(c.currency)) << c.text;
  }
  EXPECT_NE(lexer::currency_index("usd"), 0u);
  for (const char* text : {"$1.123456", "$1''0", "$", "$.5", "$'1", "$1'", "$1'.5", "XYZ$1", "$1.",
                           "$123456789012345678", "$1.5.5"})
    expect_invalid(text, TypeId::money);
}

// Date payload fields.
struct Date {
  int32_t year, month, day;
  bool has_time;
  uint32_t zone;
  double time;
};
Date date_of(const Cell& value) {
  const uint32_t w = value.w1;
  return {static_cast<int32_t>(w) >> 17, static_cast<int32_t>((w >> 12) & 0xF), static_cast<int32_t>((w >> 7) & 0x1F),
          ((w >> 16) & 1) != 0, w & 0x7F, cell::get_double(value)};
}

TEST_F(Lexer, Dates) {
  const struct {
    const char* text;
    int32_t year, month, day;
    bool has_time;
    uint32_t zone;
    double stored_time;
  } cases[] = {
      {"12-Jan-2020", 2020, 1, 12, false, 0, 0.0},
      {"2020-01-12", 2020, 1, 12, false, 0, 0.0},
      {"12/01/20", 2020, 1, 12, false, 0, 0.0},
      {"1-jan-99", 1999, 1, 1, false, 0, 0.0},
      {"5-September-1949", 1949, 9, 5, false, 0, 0.0},
      {"29-Feb-2020", 2020, 2, 29, false, 0, 0.0},
      {"1/1/-44", -44, 1, 1, false, 0, 0.0},
      {"2020-W02-1", 2020, 1, 6, false, 0, 0.0},
      {"2020-W01-3", 2020, 1, 1, false, 0, 0.0},
      {"2021-W01", 2021, 1, 4, false, 0, 0.0},
      {"2020-012", 2020, 1, 12, false, 0, 0.0},
      {"2020-366", 2020, 12, 31, false, 0, 0.0},
      {"20200112T1030Z", 2020, 1, 12, true, 0, 37800.0},
      {"20200112T103015.5+0100", 2020, 1, 12, true, 4, 37815.5 - 3600.0},
      {"2020-01-12/10:30", 2020, 1, 12, true, 0, 37800.0},
      {"2020-01-12T10:30:15+02:00", 2020, 1, 12, true, 8, 37815.0 - 7200.0},
      {"12-Jan-2020/1:00-5:30", 2020, 1, 12, true, 0x40 | (5 << 2) | 2, 3600.0 + 5 * 3600.0 + 1800.0},
      {"2020-W02-1T08:00Z", 2020, 1, 6, true, 0, 28800.0},
  };
  for (const auto& c : cases) {
    const Cell value = load_one(c.text);
    ASSERT_EQ(cell::type_of(value), TypeId::date) << c.text;
    const Date date = date_of(value);
    EXPECT_EQ(date.year, c.year) << c.text;
    EXPECT_EQ(date.month, c.month) << c.text;
    EXPECT_EQ(date.day, c.day) << c.text;
    EXPECT_EQ(date.has_time, c.has_time) << c.text;
    EXPECT_EQ(date.zone, c.zone) << c.text;
    EXPECT_EQ(date.time, c.stored_time) << c.text;
  }
  for (const char* text : {"30-Feb-2021", "29-Feb-2021", "2020-13-01", "0-Jan-2020", "12-Foo-2020", "12-Ja-2020",
                           "2020-01-12/25:00", "2020-01-12/10:60", "2020-01-12/10:30+16", "2020-01-12x", "2020-000",
                           "2020-W54", "2020-W02-8", "1-2", "10000-1-1", "2020-01/12", "2020-1-12T"})
    expect_invalid(text, TypeId::date);
}

// ---------------------------------------------------------------------------
// Text

TEST_F(Lexer, Strings) {
  using namespace std::string_literals;
  const struct {
    const char* text;
    std::string value;  // UTF-8
    uint32_t unit;
  } cases[] = {
      {"\"abc\"", "abc", 1},
      {"\"\"", "", 1},
      {"\"a^(line)b\"", "a\nb", 1},
      {"\"^(TAB)^(null)^(back)^(page)^(esc)^(del)\"", "\t\0\b\f\x1B\x7F"s, 1},
      {"\"^-^/^@^~^^^\"\"", "\t\n\0\x7F^\""s, 1},
      {"\"^a^Z^[^_^!\"", "\x01\x1A\x1B\x1F!", 1},
      {"\"^(41)^(e9)\"", "A\xC3\xA9", 1},
      {"\"^(0041)\"", "A", 2},
      {"\"^(1F600)\"", "\xF0\x9F\x98\x80", 4},
      {"\"caf\xC3\xA9\"", "caf\xC3\xA9", 2},
      {"\"\xE2\x82\xAC\"", "\xE2\x82\xAC", 2},
      {"\"\xF0\x9F\x98\x80\"", "\xF0\x9F\x98\x80", 4},
      {"{a{b}c}", "a{b}c", 1},
      {"{a^}b}", "a}b", 1},
      {"{line 1\nline 2}", "line 1\nline 2", 1},
      {"{a\"b}", "a\"b", 1},
      {"%{a}b}%", "a}b", 1},
      {"%%{x}%%", "x", 1},
      {"%{^(line)\n}%", "^(line)\n", 1},
  };
  for (const auto& c : cases) {
    const Cell value = load_one(c.text);
    ASSERT_EQ(cell::type_of(value), TypeId::string) << c.text;
    EXPECT_EQ(text_of(value), c.value) << c.text;
    EXPECT_EQ(unit_of(value), c.unit) << c.text;
  }
  for (const char* text : {"\"abc", "\"a\nb\"", "{abc", "{a{b}", "\"^(1234567)\"", "\"^(110000)\"", "\"^(xyz)\"",
                           "\"^()\"", "%{abc", "%{a}%%", "\"\xC3\"", "{\xFF}"})
    expect_invalid(text, TypeId::string);
}

TEST_F(Lexer, Characters) {
  const struct {
    const char* text;
    uint32_t code_point;
  } cases[] = {
      {"#\"a\"", 'a'},  {"#\"^(tab)\"", 9}, {"#\"^\"\"", '"'},   {"#\"^^\"", '^'},      {"#\"^a\"", 1},
      {"#\"^[\"", 27},  {"#\"^@\"", 0},     {"#\"\xC3\xA9\"", 0xE9}, {"#\"^(10FFFF)\"", 0x10FFFF},
      {"#\"^(1F600)\"", 0x1F600}, {"#\"\xF0\x9F\x98\x80\"", 0x1F600}, {"#\"^(line)\"", 10}, {"#\"^/\"", 10},
  };
  for (const auto& c : cases) {
    const Cell value = load_one(c.text);
    EXPECT_EQ(cell::type_of(value), TypeId::char_) << c.text;
    EXPECT_EQ(value.w2, c.code_point) << c.text;
  }
  for (const char* text : {"#\"\"", "#\"ab\"", "#\"^\"", "#\"^(110000)\"", "#\"^(zz)\"", "#\"a", "#\"\xC3\""})
    expect_invalid(text, TypeId::char_);
}

TEST_F(Lexer, FilesUrlsEmailsTagsAndRefs) {
  const struct {
    const char* text;
    TypeId type;
    const char* value;
  } cases[] = {
      {"%a/b.txt", TypeId::file, "a/b.txt"},
      {"%/c/dir/", TypeId::file, "/c/dir/"},
      {"%\"a b\"", TypeId::file, "a b"},
      {"%\"a^b\"", TypeId::file, "a^b"},
      {"%a%20b", TypeId::file, "a b"},
      {"%caf%C3%A9", TypeId::file, "caf\xC3\xA9"},
      {"%a^(line)", TypeId::file, "a\n"},
      {"%50%", TypeId::file, "50%"},
      {"http://x.com/a%20b?q=1,2", TypeId::url, "http://x.com/a b?q=1,2"},
      {"a:b", TypeId::url, "a:b"},
      {"ftp://h/^x", TypeId::url, "ftp://h/^x"},
      {"mailto:a@b", TypeId::url, "mailto:a@b"},
      {"user@host.com", TypeId::email, "user@host.com"},
      {"1@2", TypeId::email, "1@2"},
      {"<a>", TypeId::tag, "a"},
      {"<a href=\">\">", TypeId::tag, "a href=\">\""},
      {"</b>", TypeId::tag, "/b"},
      {"<a ^>", TypeId::tag, "a ^"},
      {"@ref", TypeId::ref, "ref"},
      {"@a/b", TypeId::ref, "a/b"},
  };
  for (const auto& c : cases) {
    const Cell value = load_one(c.text);
    EXPECT_EQ(cell::type_of(value), c.type) << c.text;
    EXPECT_EQ(text_of(value), c.value) << c.text;
  }
  expect_invalid("<a", TypeId::tag);
  expect_invalid("<a\n>", TypeId::tag);
  expect_invalid("%\"ab", TypeId::file);
  expect_invalid("@", TypeId::ref);
  expect_invalid("@a\xFF", TypeId::ref);
}

TEST_F(Lexer, Binaries) {
  const struct {
    const char* text;
    std::string bytes;
  } cases[] = {
      {"#{48656C6c6F}", "Hello"},
      {"16#{00FF}", std::string("\0\xFF", 2)},
      {"#{}", ""},
      {"#{48 65\n;a comment }\n 6C}", "Hel"},
      {"64#{SGVsbG8=}", "Hello"},
      {"64#{SGVs bG8h}", "Hello!"},
      {"64#{SGk=}", "Hi"},
      {"64#{SGk}", "Hi"},
      {"64#{+/+/}", "\xFB\xFF\xBF"},
      {"2#{01000001}", "A"},
      {"2#{01000001 00100001}", "A!"},
  };
  for (const auto& c : cases) {
    const Cell value = load_one(c.text);
    ASSERT_EQ(cell::type_of(value), TypeId::binary) << c.text;
    const SeriesBuf* buffer = memory::buffer(series::node_of(value));
    EXPECT_EQ(buffer->unit(), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer->head_ptr()), buffer->used_bytes()), c.bytes) << c.text;
  }
  for (const char* text : {"2#{0100}", "8#{00}", "#{123}", "#{GG}", "64#{S}", "64#{SG=x}", "2#{012}", "#{00",
                           "3#{}"})
    expect_invalid(text, TypeId::binary);
  // The error text starts at the bad character.
  EXPECT_EQ(error_of("#{00 0G}").near, "G}");
}

TEST_F(Lexer, ConstructionSyntax) {
  const Cell yes = load_one("#(true)");
  EXPECT_EQ(cell::type_of(yes), TypeId::logic);
  EXPECT_EQ(yes.w1, 1u);
  EXPECT_EQ(load_one("#(False)").w1, 0u);
  EXPECT_EQ(cell::type_of(load_one("#(NONE)")), TypeId::none);
  EXPECT_EQ(cell::type_of(load_one("#(unset)")), TypeId::unset);
  for (const char* text : {"#(integer!)", "#(Integer)", "#(INTEGER!)"}) {
    const Cell type = load_one(text);
    EXPECT_EQ(cell::type_of(type), TypeId::datatype) << text;
    EXPECT_EQ(datatype::get(type), TypeId::integer) << text;
  }
  for (const char* text : {"#(foo)", "#(int)", "#()", "#( true)", "#(true", "#(integer!!)"})
    EXPECT_EQ(error_of(text).code, err::syntax::malconstruct.value) << text;
}

TEST_F(Lexer, Points) {
  const struct {
    const char* text;
    TypeId type;
    float x, y, z;
  } cases[] = {
      {"(1, 2)", TypeId::point2d, 1.0f, 2.0f, 0.0f},
      {"(1.5,-2.25)", TypeId::point2d, 1.5f, -2.25f, 0.0f},
      {"( 1e2 , .5 )", TypeId::point2d, 100.0f, 0.5f, 0.0f},
      {"(1, 2, 3)", TypeId::point3d, 1.0f, 2.0f, 3.0f},
      {"(0.1, 0, 0)", TypeId::point3d, 0.1f, 0.0f, 0.0f},
  };
  for (const auto& c : cases) {
    const Cell value = load_one(c.text);
    EXPECT_EQ(cell::type_of(value), c.type) << c.text;
    EXPECT_EQ(std::bit_cast<float>(value.w1), c.x) << c.text;
    EXPECT_EQ(std::bit_cast<float>(value.w2), c.y) << c.text;
    EXPECT_EQ(std::bit_cast<float>(value.w3), c.z) << c.text;
  }
  const Cell special = load_one("(1.#INF, -1.#INF)");
  EXPECT_TRUE(std::isinf(std::bit_cast<float>(special.w1)));
  EXPECT_LT(std::bit_cast<float>(special.w2), 0.0f);

  for (const char* text : {"(1, )", "(12,)", "(, 1)", "(1 2, 3)", "(a, b)", "(1, 2", "(1,\n2)"})
    expect_invalid(text, TypeId::point2d);
  expect_invalid("(1, 2, 3, 4)", TypeId::point3d);
  expect_invalid("(1, 2, x)", TypeId::point3d);
  // A comma anywhere else: outside a paren it is invalid, inside one the
  // paren cannot close.
  expect_invalid("1,5", TypeId::point2d);
  expect_invalid("[a, b]", TypeId::point2d);
  EXPECT_EQ(error_of("(x, b c)").code, err::syntax::missing.value);
  // Fewer than 4 bytes after "(" make a paren.
  EXPECT_EQ(cell::type_of(load_one("(1)")), TypeId::paren);
}

// ---------------------------------------------------------------------------
// Structure

TEST_F(Lexer, BlocksAndParensNest) {
  const std::vector<Cell> values = load("a [b [1 2] (c)] ()");
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(cell::type_of(values[1]), TypeId::block);
  ASSERT_EQ(block::count(values[1]), 3u);
  EXPECT_EQ(spelling(*block::at(values[1], 0)), "b");
  const Cell inner = *block::at(values[1], 1);
  EXPECT_EQ(cell::type_of(inner), TypeId::block);
  EXPECT_EQ(block::count(inner), 2u);
  EXPECT_EQ(cell::get_int32(*block::at(inner, 1)), 2);
  EXPECT_EQ(cell::type_of(*block::at(values[1], 2)), TypeId::paren);
  EXPECT_EQ(cell::type_of(values[2]), TypeId::paren);
  EXPECT_EQ(block::count(values[2]), 0u);
  // Delimiters need no space around them.
  const std::vector<Cell> tight = load("a[b]\"c\"d(e){f}g;h\ni");
  ASSERT_EQ(tight.size(), 8u);
  EXPECT_EQ(cell::type_of(tight[4]), TypeId::paren);
  EXPECT_EQ(text_of(tight[5]), "f");
  EXPECT_EQ(spelling(tight[7]), "i");
}

TEST_F(Lexer, Maps) {
  const Cell map = load_one("#[a 1 \"b\" 2 a 3]");
  ASSERT_EQ(cell::type_of(map), TypeId::map);
  EXPECT_EQ(map.w1, 0u);
  // Keys are stored as set-words; a repeated key keeps one pair.
  EXPECT_EQ(hashtable::record(map.w3).size, 2);
  EXPECT_EQ(cell::type_of(*block::at(series::make(TypeId::block, map.w2), 0)), TypeId::set_word);
  EXPECT_EQ(cell::get_int32(*block::at(series::make(TypeId::block, map.w2), 1)), 3);
  EXPECT_EQ(cell::type_of(load_one("#[]")), TypeId::map);
  expect_invalid("#[a]", TypeId::map);
  expect_invalid("#[[1] 2]", TypeId::map);
  EXPECT_EQ(error_of("#[a 1)").code, err::syntax::missing.value);
}

std::string type_tag(TypeId type) { return "#" + std::to_string(static_cast<int>(type)); }

// The spellings of the words in a path, and the types of its other elements.
std::vector<std::string> elements(const Cell& path) {
  std::vector<std::string> names;
  for (uint32_t i = 0; i < block::count(path); ++i) {
    const Cell element = *block::at(path, i);
    names.push_back(cell::type_of(element) == TypeId::word ? spelling(element) : type_tag(cell::type_of(element)));
  }
  return names;
}

TEST_F(Lexer, Paths) {
  using Names = std::vector<std::string>;
  const struct {
    const char* text;
    TypeId type;
    Names names;
  } cases[] = {
      {"a/b", TypeId::path, {"a", "b"}},
      {"a/b/c", TypeId::path, {"a", "b", "c"}},
      {"'a/b", TypeId::lit_path, {"a", "b"}},
      {":a/b", TypeId::get_path, {"a", "b"}},
      {"a/b:", TypeId::set_path, {"a", "b"}},
      {"a/1/x", TypeId::path, {"a", type_tag(TypeId::integer), "x"}},
      {"a/(b)/c", TypeId::path, {"a", type_tag(TypeId::paren), "c"}},
      {"a/(b):", TypeId::set_path, {"a", type_tag(TypeId::paren)}},
      {"a/:b", TypeId::path, {"a", type_tag(TypeId::get_word)}},
      {"a/\"s\"", TypeId::path, {"a", type_tag(TypeId::string)}},
      {"a/[b]", TypeId::path, {"a", type_tag(TypeId::block)}},
      {"a/1.5", TypeId::path, {"a", type_tag(TypeId::float_)}},
  };
  for (const auto& c : cases) {
    const Cell path = load_one(c.text);
    EXPECT_EQ(cell::type_of(path), c.type) << c.text;
    EXPECT_EQ(elements(path), c.names) << c.text;
  }
  // A path ends at a delimiter; what follows is the next value.
  const std::vector<Cell> values = load("[a/b c/d:] x/y(z)");
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(cell::type_of(*block::at(values[0], 0)), TypeId::path);
  EXPECT_EQ(cell::type_of(*block::at(values[0], 1)), TypeId::set_path);
  EXPECT_EQ(cell::type_of(values[1]), TypeId::path);
  EXPECT_EQ(cell::type_of(values[2]), TypeId::paren);

  for (const char* text : {"a/", "a/ b", "a//b", "a/b:/c", "'a/b:", "a/b:c", "a/]"}) {
    const Raised raised = error_of(text);
    EXPECT_EQ(raised.code, err::syntax::invalid.value) << text;
    EXPECT_EQ(raised.type, TypeId::path) << text;
  }
  // An element that fails is reported as a bad character.
  EXPECT_EQ(error_of("a/1x").code, err::syntax::bad_char.value);
}

// ---------------------------------------------------------------------------
// Lines, separators and errors

TEST_F(Lexer, NewLineMarkersFollowLineBreaks) {
  const std::vector<Cell> values = load("a\nb c\n\n[d\ne] ;note\n f {x\ny} g");
  ASSERT_EQ(values.size(), 7u);
  const bool expected[] = {false, true, false, true, true, false, false};
  for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(cell::has_new_line(values[i]), expected[i]) << i;
  EXPECT_FALSE(cell::has_new_line(*block::at(values[3], 0)));
  EXPECT_TRUE(cell::has_new_line(*block::at(values[3], 1)));
  EXPECT_TRUE(cell::has_new_line(load_one("\n1")));
}

TEST_F(Lexer, EmptyInputAndSeparators) {
  for (const char* text : {"", "   ", "\n\t\r\n", "; only a comment", " ;a\n;b\n"})
    EXPECT_TRUE(load(text).empty()) << text;
  // A NUL byte ends the text.
  EXPECT_EQ(load(std::string_view("a b\0c d", 7)).size(), 2u);
  // Control bytes are whitespace.
  EXPECT_EQ(load("a\x01\x0B\x1F" "b").size(), 2u);
  // Unicode spaces separate words; a zero-width non-joiner does not.
  EXPECT_EQ(load("a\xC2\xA0" "b").size(), 2u);
  EXPECT_EQ(load("a\xE3\x80\x80" "b").size(), 2u);
  EXPECT_EQ(load("\xE2\x80\x8B" "a\xE2\x80\xAF" "b\xC2\x85").size(), 2u);
  EXPECT_EQ(spelling(load_one("a\xE2\x80\x8C" "b")), "a\xE2\x80\x8C" "b");
  EXPECT_EQ(load("1\xC2\xA0" "2").size(), 2u);
}

TEST_F(Lexer, ErrorsNameTheLineAndTheTextNearby) {
  const Raised bad = error_of("a\nb\n 1a c");
  EXPECT_EQ(bad.code, err::syntax::invalid.value);
  EXPECT_EQ(bad.position, "(line 3)");
  EXPECT_EQ(bad.type, TypeId::integer);
  EXPECT_EQ(bad.near, "1a c");
  EXPECT_EQ(error_of("{a\nb\nc} 1a").position, "(line 3)");

  // The near text ends at a line end, or at the first character boundary
  // at or after 30 bytes.
  EXPECT_EQ(error_of("1a bc\nde").near, "1a bc");
  const std::string long_token = "1a" + std::string(27, 'x') + "\xC3\xA9\xC3\xA9 tail";
  EXPECT_EQ(error_of(long_token).near, "1a" + std::string(27, 'x') + "\xC3\xA9");

  const struct {
    const char* text;
    const char* missing;
    const char* near;
  } unclosed[] = {
      {"[1 2", "]", "[1 2"},     {"x (1 2]", ")", "(1 2]"}, {"[1 2)", "]", "[1 2)"},
      {"1]", "[", "1]"},         {")", "(", ")"},           {"[a (b", ")", "(b"},
      {"#[a 1", "]", "#[a 1"},
  };
  for (const auto& c : unclosed) {
    const Raised raised = error_of(c.text);
    EXPECT_EQ(raised.code, err::syntax::missing.value) << c.text;
    EXPECT_EQ(raised.missing, c.missing) << c.text;
    EXPECT_EQ(raised.near, c.near) << c.text;
  }
  for (const char* text : {"}", "\\", "a \x80", "\xC0\x80", "\xFF"})
    EXPECT_EQ(error_of(text).code, err::syntax::bad_char.value) << text;
  EXPECT_EQ(error_of("a \\b").near, "\\b");
}

// ---------------------------------------------------------------------------
// Modes, one value, into, positions

lexer::Result run(std::string_view text, const lexer::Options& options, Cell* output = nullptr) {
  Val out = stack::push(none::make());
  const lexer::Result result = lexer::scan_utf8(out, text, options);
  if (output) *output = *out;
  return result;
}

TEST_F(Lexer, ScanModesTypeTheFirstValue) {
  const struct {
    const char* text;
    TypeId scan, prescan;
  } cases[] = {
      {"1 a", TypeId::integer, TypeId::integer},
      {"a: 1", TypeId::set_word, TypeId::word},
      {"$1", TypeId::money, TypeId::money},
      {"1.2.3", TypeId::tuple, TypeId::tuple},
      {"(1, 2, 3)", TypeId::point3d, TypeId::point2d},
      {"[1 2] 3", TypeId::block, TypeId::block},
      {"a/b c", TypeId::path, TypeId::path},
      {"#[a 1]", TypeId::map, TypeId::map},
      {"1a 2", TypeId::error, TypeId::integer},
      {"[1 1a]", TypeId::error, TypeId::block},
      {"{abc", TypeId::error, TypeId::error},
      {"[1", TypeId::error, TypeId::error},
      {"\\", TypeId::error, TypeId::error},
      {"12345678901", TypeId::float_, TypeId::integer},
  };
  for (const auto& c : cases) {
    Cell out{};
    EXPECT_EQ(run(c.text, {.mode = lexer::Mode::scan, .one = true}, &out).type, static_cast<int32_t>(c.scan)) << c.text;
    EXPECT_EQ(datatype::get(out), c.scan) << c.text;
    EXPECT_EQ(run(c.text, {.mode = lexer::Mode::prescan, .one = true}).type, static_cast<int32_t>(c.prescan)) << c.text;
  }
  Cell out{};
  EXPECT_EQ(run("  ; nothing", {.mode = lexer::Mode::scan}, &out).type, 0);
  EXPECT_EQ(cell::type_of(out), TypeId::none);
  // Without `one`, the whole text is checked and nothing is raised.
  EXPECT_EQ(run("1 [2 1a] }", {.mode = lexer::Mode::scan}).type, static_cast<int32_t>(TypeId::integer));
}

TEST_F(Lexer, OneValueStopsAfterIt) {
  const struct {
    const char* text;
    int64_t consumed;
  } cases[] = {{"1 2", 1}, {"  [a [b]] c", 9}, {"a/b/c d", 5}, {"{x\ny} z", 5}, {"", 0}, {"x", 1}};
  for (const auto& c : cases) {
    Cell out{};
    const lexer::Result result = run(c.text, {.one = true}, &out);
    EXPECT_EQ(result.consumed, c.consumed) << c.text;
    EXPECT_EQ(cell::type_of(out), TypeId::block) << c.text;
    EXPECT_EQ(block::count(out), c.consumed == 0 ? 0u : 1u) << c.text;
    EXPECT_EQ(run(c.text, {.mode = lexer::Mode::scan, .one = true}).consumed, c.consumed) << c.text;
  }
  Cell value{};
  run("\n42 43", {.one = true, .wrap = false}, &value);
  EXPECT_EQ(cell::type_of(value), TypeId::integer);
  EXPECT_EQ(cell::get_int32(value), 42);
  EXPECT_FALSE(cell::has_new_line(value));
  EXPECT_EQ(run("1 2 3", {}).consumed, 5);
}

TEST_F(Lexer, IntoAppendsToTheBlockGiven) {
  Val target = block::push_new(4);
  block::append(target, integer::make(0));
  lexer::scan_utf8(target, "1 [2]", {.into = true});
  ASSERT_EQ(block::count(*target), 3u);
  EXPECT_EQ(cell::get_int32(*block::at(*target, 1)), 1);
  EXPECT_EQ(cell::type_of(*block::at(*target, 2)), TypeId::block);
}

TEST_F(Lexer, StringAndBinarySourcesCountTheirOwnUnits) {
  // "é 2": 3 characters, 4 bytes.
  Val source = string::push_new(8);
  string::append_utf8(source, "\xC3\xA9 2 3");
  Val out = stack::push(none::make());
  lexer::Result result = lexer::scan_series(out, *source, -1, {.one = true});
  EXPECT_EQ(result.consumed, 1);
  EXPECT_EQ(spelling(*block::at(*out, 0)), "\xC3\xA9");
  result = lexer::scan_series(out, *source, 3, {});  // the limit counts characters
  EXPECT_EQ(block::count(*out), 2u);
  EXPECT_EQ(result.consumed, 3);

  const NodeId bytes = memory::new_series(8, 1);
  std::memcpy(memory::buffer(bytes)->head_ptr(), "\xC3\xA9 2", 4);
  memory::buffer(bytes)->tail = 4;
  Val binary = stack::push(series::make(TypeId::binary, bytes, 0));
  result = lexer::scan_series(out, *binary, -1, {.one = true});
  EXPECT_EQ(result.consumed, 2);
}

// ---------------------------------------------------------------------------
// Callbacks

struct Recorded {
  Event event;
  int32_t type;
  int32_t line;
  int64_t start, end, input;
};

TEST_F(Lexer, CallbackSeesEveryEventInOrder) {
  std::vector<Recorded> events;
  lexer::Callback callback;
  callback.handler = [&](const EventInfo& info, int64_t& input) {
    events.push_back({info.event, info.type, info.line, info.token_start, info.token_end, input});
    return true;
  };
  Cell out{};
  run("[a\n1]", {.callback = &callback}, &out);
  const auto t = [](TypeId type) { return static_cast<int32_t>(type); };
  const std::vector<Recorded> expected = {
      {Event::prescan, -3, 1, 0, 1, 0},  // "[": kind 2, no datatype, input at its start
      {Event::open, t(TypeId::block), 1, 0, 1, 0},
      {Event::prescan, t(TypeId::word), 1, 1, 2, 2},
      {Event::scan, t(TypeId::word), 1, 1, 2, 2},
      {Event::load, t(TypeId::word), 1, 1, 2, 2},
      {Event::prescan, t(TypeId::integer), 2, 3, 4, 4},
      {Event::scan, t(TypeId::integer), 2, 3, 4, 4},
      {Event::load, t(TypeId::integer), 2, 3, 4, 4},
      {Event::prescan, -4, 2, 4, 5, 4},
      {Event::close, t(TypeId::block), 2, 4, 5, 5},
  };
  ASSERT_EQ(events.size(), expected.size());
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].event, expected[i].event) << i;
    EXPECT_EQ(events[i].type, expected[i].type) << i;
    EXPECT_EQ(events[i].line, expected[i].line) << i;
    EXPECT_EQ(events[i].start, expected[i].start) << i;
    EXPECT_EQ(events[i].end, expected[i].end) << i;
    EXPECT_EQ(events[i].input, expected[i].input) << i;
  }
  EXPECT_EQ(block::count(*block::at(out, 0)), 2u);
}

TEST_F(Lexer, CallbackMaskAndLoadedValues) {
  std::vector<Event> seen;
  std::vector<int32_t> loaded;
  lexer::Callback callback{event_bit(Event::load), [&](const EventInfo& info, int64_t&) {
                             seen.push_back(info.event);
                             loaded.push_back(cell::get_int32(info.value));
                             return !(cell::is(info.value, TypeId::integer) && cell::get_int32(info.value) == 2);
                           }};
  Cell out{};
  run("1 2 3 {s}", {.callback = &callback}, &out);
  EXPECT_EQ(seen.size(), 4u);
  for (Event event : seen) EXPECT_EQ(event, Event::load);
  EXPECT_EQ(loaded[2], 3);
  ASSERT_EQ(block::count(out), 3u);
  EXPECT_EQ(cell::get_int32(*block::at(out, 1)), 3);

  // Refusing every load leaves an empty block.
  lexer::Callback refuse{lexer::all_events, [](const EventInfo& info, int64_t&) { return info.event != Event::load; }};
  run("a [b] c/d", {.callback = &refuse}, &out);
  ASSERT_EQ(block::count(out), 2u);  // the block and the path, empty
  EXPECT_EQ(block::count(*block::at(out, 0)), 0u);
  EXPECT_EQ(block::count(*block::at(out, 1)), 0u);
}

TEST_F(Lexer, CallbackSkipsTokensAtPrescanAndScan) {
  lexer::Callback skip_words{event_bit(Event::prescan), [](const EventInfo& info, int64_t&) {
                               return info.type != static_cast<int32_t>(TypeId::word);
                             }};
  Cell out{};
  run("a 1 b 2", {.callback = &skip_words}, &out);
  ASSERT_EQ(block::count(out), 2u);
  EXPECT_EQ(cell::get_int32(*block::at(out, 1)), 2);

  lexer::Callback skip_scanned{event_bit(Event::scan), [](const EventInfo& info, int64_t&) {
                                 return info.type != static_cast<int32_t>(TypeId::set_word);
                               }};
  run("a: 1", {.callback = &skip_scanned}, &out);
  EXPECT_EQ(block::count(out), 1u);
}

TEST_F(Lexer, CallbackRecoversFromErrors) {
  // Moving the input past the bad character and answering false resumes
  // the scan there.
  std::vector<int32_t> types;
  lexer::Callback trapper{event_bit(Event::error), [&](const EventInfo& info, int64_t& input) {
                            types.push_back(info.type);
                            ++input;
                            return false;
                          }};
  Cell out{};
  run("1 \\ 2 1a 3", {.callback = &trapper}, &out);
  ASSERT_EQ(block::count(out), 3u);
  EXPECT_EQ(cell::get_int32(*block::at(out, 2)), 3);
  EXPECT_EQ(types, (std::vector<int32_t>{static_cast<int32_t>(TypeId::error), static_cast<int32_t>(TypeId::integer)}));

  // Without a move the scan goes on after the bad token.
  lexer::Callback quiet{event_bit(Event::error), [](const EventInfo&, int64_t&) { return false; }};
  run("[1 1a 2]", {.callback = &quiet}, &out);
  EXPECT_EQ(block::count(*block::at(out, 0)), 2u);
  // A refused unclosed bracket at the end makes the output none.
  run("[1 2", {.callback = &quiet}, &out);
  EXPECT_EQ(cell::type_of(out), TypeId::none);

  // Answering true raises the error.
  lexer::Callback raise{event_bit(Event::error), [](const EventInfo&, int64_t&) { return true; }};
  EXPECT_EQ(testing::raised_error([&] { run("1a", {.callback = &raise}); }), err::syntax::invalid.value);

  // In scan mode an invalid token comes as an error event of type error!.
  types.clear();
  lexer::Callback record{event_bit(Event::error), [&](const EventInfo& info, int64_t&) {
                           types.push_back(info.type);
                           return true;
                         }};
  run("1a", {.mode = lexer::Mode::scan, .callback = &record});
  EXPECT_EQ(types, (std::vector<int32_t>{static_cast<int32_t>(TypeId::error)}));
}

TEST_F(Lexer, CallbacksMayScanAgainAndRaise) {
  // A callback that scans text of its own does not disturb the outer scan.
  uint32_t inner_count = 0;
  lexer::Callback nested{event_bit(Event::load), [&](const EventInfo&, int64_t&) {
                           inner_count = block::count(*lexer::scan("[p q] r"));
                           return true;
                         }};
  Cell out{};
  run("[a b] c", {.callback = &nested}, &out);
  EXPECT_EQ(inner_count, 2u);
  ASSERT_EQ(block::count(out), 2u);
  EXPECT_EQ(spelling(*block::at(*block::at(out, 0), 1)), "b");

  // An error raised inside the callback passes through the lexer.
  lexer::Callback failing{event_bit(Event::scan), [](const EventInfo&, int64_t&) -> bool {
                            error::raise(err::script::invalid_arg, none::make());
                          }};
  EXPECT_EQ(testing::raised_error([&] { run("[a]", {.callback = &failing}); }), err::script::invalid_arg.value);
  EXPECT_EQ(block::count(*lexer::scan("a b")), 2u) << "the lexer works after an error went through it";
}

TEST_F(Lexer, CallbackPositionsCountCharactersOfStringSources) {
  std::vector<int64_t> inputs;
  lexer::Callback callback{event_bit(Event::load), [&](const EventInfo& info, int64_t& input) {
                             inputs.push_back(info.token_start);
                             inputs.push_back(input);
                             if (info.token_start == 0) input = 5;  // skip "ü ü"
                             return true;
                           }};
  Val source = string::push_new(16);
  string::append_utf8(source, "\xC3\xA9 \xC3\xBC \xC3\xBC z");
  Val out = stack::push(none::make());
  lexer::scan_series(out, *source, -1, {.callback = &callback});
  EXPECT_EQ(inputs, (std::vector<int64_t>{0, 1, 6, 7}));
  EXPECT_EQ(block::count(*out), 2u);
}

TEST_F(Lexer, BracedAndRawStringsOpenAndClose) {
  std::vector<Event> events;
  lexer::Callback callback{event_bit(Event::open) | event_bit(Event::close), [&](const EventInfo& info, int64_t&) {
                             events.push_back(info.event);
                             EXPECT_EQ(info.type, static_cast<int32_t>(TypeId::string));
                             return true;
                           }};
  run("{a} %{b}%", {.callback = &callback});
  EXPECT_EQ(events, (std::vector<Event>{Event::open, Event::close, Event::open, Event::close}));
}

// ---------------------------------------------------------------------------
// Escapes and the `to` scanners

TEST_F(Lexer, CaretEscapes) {
  const struct {
    const char* text;
    int32_t code_point;
    size_t length;
  } cases[] = {
      {"(tab)", 9, 5},    {"(Line)", 10, 6},  {"(41)", 0x41, 4},  {"(10FFFF)", 0x10FFFF, 8}, {"(1234567)", -1, 1},
      {"(xyz)", -1, 5},   {"()", -1, 2},      {"(41", -1, 1},     {"@", 0, 1},               {"/", 10, 1},
      {"-", 9, 1},        {"~", 127, 1},      {"{", '{', 1},      {"c", 3, 1},               {"C", 3, 1},
      {"[", 27, 1},       {"_", 31, 1},       {"!", '!', 1},      {"\xC3\xA9", 0xE9, 2},     {"", -1, 0},
  };
  for (const auto& c : cases) {
    const lexer::Escape escape = lexer::decode_escape(c.text);
    EXPECT_EQ(escape.code_point, c.code_point) << c.text;
    EXPECT_EQ(escape.length, c.length) << c.text;
  }
}

TEST_F(Lexer, TextToNumberScanners) {
  const struct {
    const char* text;
    int32_t value, error;
  } integers[] = {
      {"42", 42, 0}, {"-1'000", -1000, 0}, {"'1'", 1, 0}, {"-2147483648", INT32_MIN, 0}, {"2147483648", 0, -2},
      {"99999999999", 0, -2}, {"1.5", 0, -1}, {"", 0, -1}, {"-", 0, -1}, {"1 ", 0, -1},
  };
  for (const auto& c : integers) {
    int32_t error = 99;
    const int32_t value = lexer::scan_integer(c.text, static_cast<uint32_t>(std::strlen(c.text)), 1, error);
    EXPECT_EQ(error, c.error) << c.text;
    if (c.error == 0) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
  // Wider units read the same characters.
  const char16_t wide[] = u"123";
  int32_t error = 0;
  EXPECT_EQ(lexer::scan_integer(wide, 3, 2, error), 123);
  const char16_t non_latin[] = u"1\u0661";
  lexer::scan_integer(non_latin, 2, 2, error);
  EXPECT_EQ(error, -1);

  const struct {
    const char* text;
    double value;
    int32_t error;
  } floats[] = {{"1.5", 1.5, 0}, {"1,5", 1.5, 0}, {"-1'000.25e1", -10002.5, 0}, {".5", 0.5, 0}, {"1.", 0, -1},
                {"abc", 0, -1}, {"1.#INF", 0, -1}};
  for (const auto& c : floats) {
    const double value = lexer::scan_float(c.text, static_cast<uint32_t>(std::strlen(c.text)), 1, error);
    EXPECT_EQ(error, c.error) << c.text;
    if (c.error == 0) {
      EXPECT_EQ(value, c.value) << c.text;
    } else {
      EXPECT_TRUE(std::isnan(value)) << c.text;
    }
  }
  const std::string too_long(313, '1');
  lexer::scan_float(too_long.data(), 313, 1, error);
  EXPECT_EQ(error, -1);

  const struct {
    const char* text;
    const char* digits;
    bool negative;
    const char* currency;
  } amounts[] = {
      {"$1'234.5", "0000000000000123450000", false, ""}, {"12.345678", "0000000000000001234567", false, ""},
      {"-EUR$3", "0000000000000000300000", true, "EUR"}, {"usd$0.01", "0000000000000000001000", false, "USD"},
  };
  for (const auto& c : amounts) {
    Cell money{};
    lexer::scan_money(c.text, static_cast<uint32_t>(std::strlen(c.text)), 1, error, money);
    ASSERT_EQ(error, 0) << c.text;
    EXPECT_EQ(money_of(money).digits, c.digits) << c.text;
    EXPECT_EQ(money_of(money).negative, c.negative) << c.text;
    EXPECT_EQ(money_of(money).currency, lexer::currency_index(c.currency)) << c.text;
  }
  for (const char* text : {"", "$", "'1", "1'", "1''2", "1.'5", ".5", "1.", "1.2.3", "1'.5", "1.5'", "ABC$1", "EUR1",
                           "1x"}) {
    Cell money{};
    lexer::scan_money(text, static_cast<uint32_t>(std::strlen(text)), 1, error, money);
    EXPECT_EQ(error, -1) << text;
  }
}

}  // namespace
}  // namespace kiv
