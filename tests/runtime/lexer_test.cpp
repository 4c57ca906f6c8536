// The lexer from C++: the payloads of the literals a script cannot take
// apart (tuple bytes, pairs, money digits, dates, string units, binary
// bytes, points, map records), the C++ scan options and callback protocol,
// escapes and the text-to-number scanners. Every literal form, structure,
// line marker and syntax error a script can load is in
// tests/kiv/eval/lexer.kiv.
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
#include "runtime/hashtable.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

using lexer::Event;
using lexer::EventInfo;
using testing::unit_of;

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

// ---------------------------------------------------------------------------
// Literal payloads

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
}

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
}

TEST_F(Lexer, Maps) {
  const Cell map = load_one("#[a 1 \"b\" 2 a 3]");
  ASSERT_EQ(cell::type_of(map), TypeId::map);
  EXPECT_EQ(map.w1, 0u);
  // Keys are stored as set-words; a repeated key keeps one pair.
  EXPECT_EQ(hashtable::record(map.w3).size, 2);
  EXPECT_EQ(cell::type_of(*block::at(series::make(TypeId::block, map.w2), 0)), TypeId::set_word);
  EXPECT_EQ(cell::get_int32(*block::at(series::make(TypeId::block, map.w2), 1)), 3);
}

// ---------------------------------------------------------------------------
// Modes, one value, into, positions

lexer::Result run(std::string_view text, const lexer::Options& options, Cell* output = nullptr) {
  Val out = stack::push(none::make());
  const lexer::Result result = lexer::scan_utf8(out, text, options);
  if (output) *output = *out;
  return result;
}

// The types each mode answers are in lexer.kiv (transcode/scan and
// /prescan, which stop after one value): without `one` the whole text is
// checked and nothing is raised.
TEST_F(Lexer, ScanModesWithoutOneCheckTheWholeText) {
  EXPECT_EQ(run("1 [2 1a] }", {.mode = lexer::Mode::scan}).type, static_cast<int32_t>(TypeId::integer));
}

// Where one value ends is in lexer.kiv (transcode/next); here, the output
// and the options scripts do not combine.
TEST_F(Lexer, OneValueStopsAfterIt) {
  Cell out{};
  run("  [a [b]] c", {.one = true}, &out);
  ASSERT_EQ(cell::type_of(out), TypeId::block);
  EXPECT_EQ(block::count(out), 1u);
  run("", {.one = true}, &out);
  ASSERT_EQ(cell::type_of(out), TypeId::block);
  EXPECT_EQ(block::count(out), 0u) << "nothing to load: an empty block";
  EXPECT_EQ(run("", {.mode = lexer::Mode::scan, .one = true}).consumed, 0);

  Cell value{};
  run("\n42 43", {.one = true, .wrap = false}, &value);
  EXPECT_EQ(cell::type_of(value), TypeId::integer);
  EXPECT_EQ(cell::get_int32(value), 42);
  EXPECT_FALSE(cell::has_new_line(value));
  EXPECT_EQ(run("1 2 3", {}).consumed, 5) << "without `one`, all of it";
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
  EXPECT_EQ(testing::raised_error([&] { run("1a", {.callback = &raise}); }), error_id::syntax::invalid.value);

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
                            error::raise(error_id::script::invalid_arg, none::make());
                          }};
  EXPECT_EQ(testing::raised_error([&] { run("[a]", {.callback = &failing}); }), error_id::script::invalid_arg.value);
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
