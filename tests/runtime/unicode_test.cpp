// Unicode: UTF-8 and UTF-16LE conversions, case mapping.
#include "runtime/unicode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/core/series.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

using namespace std::string_view_literals;
using testing::raised_error;
using testing::unit_of;

// A string series holding `chars` in units of `unit` bytes (0: the
// narrowest that holds them), its head `head_units` units into the buffer.
Val string_of(std::u32string_view chars, uint32_t unit = 0, uint32_t head_units = 0) {
  if (unit == 0) {
    unit = 1;
    for (char32_t c : chars) unit = std::max(unit, c <= 0xFF ? 1u : c <= 0xFFFF ? 2u : 4u);
  }
  const NodeId node = memory::new_series(static_cast<uint32_t>(chars.size()) + head_units + 1, unit, head_units * unit);
  SeriesBuf* buf = memory::buffer(node);
  for (char32_t c : chars) {
    const auto value = static_cast<uint32_t>(c);
    std::memcpy(buf->data() + buf->tail, &value, unit);
    buf->tail += unit;
  }
  return stack::push(series::make(TypeId::string, node));
}

std::u32string chars_of(const Cell& value) {
  const SeriesBuf* buf = memory::buffer(series::node_of(value));
  std::u32string chars;
  for (uint32_t i = value.w1; i < buf->length(); ++i) {
    uint32_t c = 0;
    std::memcpy(&c, buf->head_ptr() + size_t{i} * buf->unit(), buf->unit());
    chars.push_back(static_cast<char32_t>(c));
  }
  return chars;
}


std::string bytes_of_binary(const Cell& value) {
  const SeriesBuf* buf = memory::buffer(series::node_of(value));
  return std::string(reinterpret_cast<const char*>(buf->head_ptr()), buf->used_bytes());
}

std::string utf16le(std::initializer_list<uint16_t> units) {
  std::string bytes;
  for (uint16_t unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

// ---------------------------------------------------------------------------
// Case mapping

TEST(CaseMapping, SimpleMappingsOfEachKind) {
  struct Case {
    uint32_t code_point, upper, lower;
  };
  const Case cases[] = {
      {0x0061, 0x0041, 0x0061},    {0x0041, 0x0041, 0x0061},    // first pairs of each list
      {0xFF5A, 0xFF3A, 0xFF5A},    {0xFF3A, 0xFF3A, 0xFF5A},    // last BMP pairs
      {0x10428, 0x10400, 0x10428}, {0x10400, 0x10400, 0x10428},  // first supplementary pairs
      {0x1E943, 0x1E921, 0x1E943}, {0x1E921, 0x1E921, 0x1E943},  // last supplementary pairs
      {0x1E922, 0x1E900, 0x1E922}, {0x1E900, 0x1E900, 0x1E922},  // Adlam, inside the list
      {0x10427, 0x10427, 0x1044F},                               // a capital just below the first lower one
      {0x00B5, 0x039C, 0x00B5},    {0x00FF, 0x0178, 0x00FF},    // Latin-1 letters with capitals above U+00FF
      {0x0178, 0x0178, 0x00FF},    {0x0131, 0x0049, 0x0131},    {0x0130, 0x0130, 0x0069},
      {0x01C5, 0x01C4, 0x01C6},                                  // title-case digraph: both ways
      {0x00DF, 0x00DF, 0x00DF},    {0x1E9E, 0x1E9E, 0x00DF},    // sharp s has no simple capital
      {0x0031, 0x0031, 0x0031},    {0x0000, 0x0000, 0x0000},    {0xFFFF, 0xFFFF, 0xFFFF},
      {0x10000, 0x10000, 0x10000}, {0x1E944, 0x1E944, 0x1E944}, {0x10FFFF, 0x10FFFF, 0x10FFFF},
      {0x110000, 0x110000, 0x110000}, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},  // not characters: unchanged
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "U+" << std::hex << c.code_point);
    EXPECT_EQ(unicode::to_upper(c.code_point), c.upper);
    EXPECT_EQ(unicode::to_lower(c.code_point), c.lower);
  }
}

TEST(CaseMapping, EveryPairOfTheTablesIsReached) {
  // Unicode 15.0.0 has 1,190 upper and 1,173 lower simple mappings in the
  // BMP and 260 of each above it; a lookup that missed the first or last
  // pair of a list, or lost pairs while building a table, changes a count.
  uint32_t upper_bmp = 0, lower_bmp = 0, upper_above = 0, lower_above = 0;
  for (uint32_t c = 0; c <= unicode::max_code_point; ++c) {
    const bool bmp = c <= 0xFFFF;
    if (unicode::to_upper(c) != c) ++(bmp ? upper_bmp : upper_above);
    if (unicode::to_lower(c) != c) ++(bmp ? lower_bmp : lower_above);
    EXPECT_EQ(unicode::to_upper(c) <= 0xFFFF, bmp) << c;
  }
  EXPECT_EQ(upper_bmp, 1190u);
  EXPECT_EQ(lower_bmp, 1173u);
  EXPECT_EQ(upper_above, 260u);
  EXPECT_EQ(lower_above, 260u);
}

// ---------------------------------------------------------------------------
// UTF-8

TEST(Utf8Strict, AcceptsBoundariesAndRejectsEachBadClass) {
  struct Case {
    std::string_view bytes;
    int result;  // a length, utf8_cut or utf8_invalid
    uint32_t code_point;
  };
  const Case cases[] = {
      {"\x7F"sv, 1, 0x7F},
      {"\xC2\x80"sv, 2, 0x80},
      {"\xDF\xBF"sv, 2, 0x7FF},
      {"\xE0\xA0\x80"sv, 3, 0x800},
      {"\xEF\xBF\xBF"sv, 3, 0xFFFF},
      {"\xF0\x90\x80\x80"sv, 4, 0x10000},
      {"\xF4\x8F\xBF\xBF"sv, 4, 0x10FFFF},
      {"\xED\xA0\x80"sv, 3, 0xD800},  // a lone surrogate that strings may hold
      {"\xED\xB4\x80"sv, 3, 0xDD00},
      {"\xC3\xA9zz"sv, 2, 0xE9},  // only the first sequence is read
      // stray continuation bytes and bytes that never lead
      {"\x80"sv, unicode::utf8_invalid, 0},
      {"\xBF"sv, unicode::utf8_invalid, 0},
      {"\xF5\x80\x80\x80"sv, unicode::utf8_invalid, 0},
      {"\xF8\x88\x80\x80"sv, unicode::utf8_invalid, 0},
      {"\xFF"sv, unicode::utf8_invalid, 0},
      // overlong forms
      {"\xC0\x80"sv, unicode::utf8_invalid, 0},
      {"\xC0\xAF"sv, unicode::utf8_invalid, 0},
      {"\xC1\xBF"sv, unicode::utf8_invalid, 0},
      {"\xE0\x80\x80"sv, unicode::utf8_invalid, 0},
      {"\xE0\x9F\xBF"sv, unicode::utf8_invalid, 0},
      {"\xF0\x80\x80\x80"sv, unicode::utf8_invalid, 0},
      {"\xF0\x8F\xBF\xBF"sv, unicode::utf8_invalid, 0},
      // past U+10FFFF
      {"\xF4\x90\x80\x80"sv, unicode::utf8_invalid, 0},
      {"\xF7\xBF\xBF\xBF"sv, unicode::utf8_invalid, 0},
      // U+DC00-U+DCFF
      {"\xED\xB0\x80"sv, unicode::utf8_invalid, 0},
      {"\xED\xB2\x80"sv, unicode::utf8_invalid, 0},
      {"\xED\xB3\xBF"sv, unicode::utf8_invalid, 0},
      // a byte that is not a continuation where one is due
      {"\xC2\x41"sv, unicode::utf8_invalid, 0},
      {"\xE1\x80\x41"sv, unicode::utf8_invalid, 0},
      {"\xF1\x80\x80\xC0"sv, unicode::utf8_invalid, 0},
      // cut: well-formed so far, then the bytes end
      {""sv, unicode::utf8_cut, 0},
      {"\xC3"sv, unicode::utf8_cut, 0},
      {"\xE2\x82"sv, unicode::utf8_cut, 0},
      {"\xF0\x9F\x98"sv, unicode::utf8_cut, 0},
      // ... but a prefix that no byte can complete is invalid at once
      {"\xE0\x80"sv, unicode::utf8_invalid, 0},
      {"\xF4\x90"sv, unicode::utf8_invalid, 0},
      {"\xED\xB0"sv, unicode::utf8_invalid, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(c.bytes)));
    uint32_t code_point = 0;
    EXPECT_EQ(unicode::decode_utf8_strict(c.bytes, code_point), c.result);
    if (c.result > 0) {
      EXPECT_EQ(code_point, c.code_point);
    }
  }
}

TEST(Utf8Strict, EveryCodePointRoundTripsThroughTheEncoder) {
  char bytes[4];
  for (uint32_t c = 0; c <= unicode::max_code_point; ++c) {
    const int length = unicode::encode_utf8_char(c, bytes);
    ASSERT_EQ(length, unicode::utf8_length_of(c)) << c;
    uint32_t decoded = 0;
    const int result = unicode::decode_utf8_strict(std::string_view(bytes, static_cast<size_t>(length)), decoded);
    if (c >= 0xDC00 && c <= 0xDCFF) {
      ASSERT_EQ(result, unicode::utf8_invalid) << c;
    } else {
      ASSERT_EQ(result, length) << c;
      ASSERT_EQ(decoded, c);
    }
  }
  const std::pair<uint32_t, int> lengths[] = {{0x7F, 1}, {0x80, 2}, {0x7FF, 2}, {0x800, 3},
                                              {0xFFFF, 3}, {0x10000, 4}, {0x10FFFF, 4}};
  for (auto [c, length] : lengths) EXPECT_EQ(unicode::utf8_length_of(c), length) << c;
}

TEST(Utf8Tolerant, BadBytesReadAsOneBadCharacterEach) {
  struct Case {
    std::string_view bytes;
    std::vector<int32_t> chars;
  };
  const Case cases[] = {
      {"a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"sv, {0x61, 0xE9, 0x20AC, 0x1F600}},
      {"\x80z"sv, {-1, 'z'}},
      {"\xC0\xAF"sv, {-1, -1}},                  // overlong "/"
      {"\xE2\x82z"sv, {-1, -1, 'z'}},            // cut by a letter: the letter survives
      {"\xED\xA0\x80"sv, {-1, -1, -1}},          // encoded surrogate
      {"\xF4\x90\x80\x80"sv, {-1, -1, -1, -1}},  // past U+10FFFF
      {"ab\xF0\x9F\x98"sv, {'a', 'b', -1, -1, -1}},  // cut by the end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(c.bytes)));
    std::vector<int32_t> chars;
    for (size_t pos = 0; pos < c.bytes.size();) chars.push_back(unicode::decode_utf8_char(c.bytes, pos));
    EXPECT_EQ(chars, c.chars);
    EXPECT_EQ(unicode::utf8_count(c.bytes), c.chars.size());
    size_t pos = 0;
    EXPECT_EQ(unicode::decode_utf8(c.bytes, pos), c.chars[0] < 0 ? unicode::replacement_char : static_cast<uint32_t>(c.chars[0]));
  }
  const std::string_view text = "a\xC3\xA9\x80\xE2\x82\xAC"sv;  // a, é, bad, €
  const size_t offsets[] = {0, 1, 3, 4, 7, 7};
  for (size_t n = 0; n < std::size(offsets); ++n) EXPECT_EQ(unicode::utf8_skip(text, n), offsets[n]) << n;
}

// ---------------------------------------------------------------------------
// Loading and writing strings

class UnicodeStrings : public testing::RuntimeTest {};

TEST_F(UnicodeStrings, LoadUtf8SkipsALeadingByteOrderMarkOnly) {
  Val empty = string::push_new(4);
  EXPECT_EQ(unicode::load_utf8(empty, "\xEF\xBB\xBF"sv), 0u);
  EXPECT_EQ(chars_of(*empty), U"");

  Val inner = string::push_new(4);
  (void)unicode::load_utf8(inner, "\xEF\xBB\xBF" "a\xEF\xBB\xBF"sv);
  EXPECT_EQ(chars_of(*inner), U"a\uFEFF");

  Val kept = string::push_new(4);
  (void)unicode::load_utf8(kept, "\xEF\xBB\xBFz"sv, {.skip_bom = false});
  EXPECT_EQ(chars_of(*kept), U"\uFEFFz");
}

TEST_F(UnicodeStrings, LoadUtf8ReportsACutSequenceAtTheEnd) {
  Val text = string::push_new(4);
  EXPECT_EQ(unicode::load_utf8(text, "A\xC3"sv), 1u);
  EXPECT_EQ(chars_of(*text), U"A");
  EXPECT_EQ(unicode::load_utf8(text, "\xC3\xA9\xF0\x9F\x98"sv), 3u) << "the caller passes the bytes left again";
  EXPECT_EQ(chars_of(*text), U"A\u00E9");
  EXPECT_EQ(unicode::load_utf8(text, "\xF0\x9F\x98\x80"sv), 0u);
  EXPECT_EQ(chars_of(*text), U"A\u00E9\U0001F600");
}

TEST_F(UnicodeStrings, LoadUtf8TurnsLineEndsIntoLineFeeds) {
  const std::pair<std::string_view, std::u32string_view> cases[] = {
      {"a\r\nb"sv, U"a\nb"}, {"a\rb"sv, U"a\nb"}, {"a\r\r\nb\r"sv, U"a\n\nb\n"}, {"\n\n"sv, U"\n\n"}};
  for (auto [bytes, chars] : cases) {
    Val text = string::push_new(4);
    (void)unicode::load_utf8(text, bytes, {.crlf_to_lf = true});
    EXPECT_EQ(chars_of(*text), chars) << ::testing::PrintToString(std::string(bytes));
  }
  Val plain = string::push_new(4);
  (void)unicode::load_utf8(plain, "a\r\nb\r"sv);
  EXPECT_EQ(chars_of(*plain), U"a\r\nb\r") << "without the option CR stays";
}

TEST_F(UnicodeStrings, LoadUtf8WidensOnlyWhenACharacterNeedsIt) {
  Val text = string::push_new(2);
  (void)unicode::load_utf8(text, "caf\xC3\xA9 \xC3\xBF"sv);  // café ÿ
  EXPECT_EQ(unit_of(*text), 1u);
  (void)unicode::load_utf8(text, "\xE2\x82\xAC"sv);  // €
  EXPECT_EQ(unit_of(*text), 2u);
  (void)unicode::load_utf8(text, "x"sv);
  EXPECT_EQ(unit_of(*text), 2u) << "never narrows";
  (void)unicode::load_utf8(text, "\xF0\x9F\x98\x80"sv);
  EXPECT_EQ(unit_of(*text), 4u);
  EXPECT_EQ(chars_of(*text), U"caf\u00E9 \u00FF\u20ACx\U0001F600");
}

TEST_F(UnicodeStrings, LoadUtf8RaisesOnMalformedInputAndLeavesTheStringAlone) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"ok \xC0\xAFxyz"sv, "\xC0\xAFxy"sv},       // overlong "/": the bad sequence and what follows, 4 bytes
      {"\xED\xB2\x80"sv, "\xED\xB2\x80"sv},         // U+DC80: fewer than 4 bytes at the end
      {"\xC3\xA9\x80"sv, "\x80"sv},                 // stray continuation after a good character
      {"\xF4\x90\x80\x80"sv, "\xF4\x90\x80\x80"sv},  // past U+10FFFF
  };
  for (auto [bytes, reported] : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(bytes)));
    Val text = string_of(U"ab");
    EXPECT_EQ(raised_error([&] { (void)unicode::load_utf8(text, bytes); }), error_id::access::invalid_utf8.value);
    ASSERT_EQ(error::pending().arg_count, 1);
    EXPECT_TRUE(cell::is(error::pending().args[0], TypeId::binary));
    EXPECT_EQ(bytes_of_binary(error::pending().args[0]), reported);
    EXPECT_EQ(chars_of(*text), U"ab");
    EXPECT_EQ(unit_of(*text), 1u);
  }
}

TEST_F(UnicodeStrings, Utf8RoundTripsInEachUnit) {
  const std::u32string_view texts[] = {
      U"plain ASCII\n", U"Latin-1: \u00E9\u00FF\u00A0", U"BMP: \u20AC\u4E2D\uFFFD\xD800\xDBFF\xDFFF",
      U"above: \U00010000\U0001F600\U0010FFFF", U""};
  for (std::u32string_view chars : texts) {
    Val original = string_of(chars);
    const std::string bytes = unicode::to_utf8(*original);
    Val loaded = string::push_new(4);
    EXPECT_EQ(unicode::load_utf8(loaded, bytes), 0u);
    EXPECT_EQ(chars_of(*loaded), chars);
    if (!chars.empty()) {
      EXPECT_EQ(unit_of(*loaded), unit_of(*original));
    }
  }
  // A string can hold U+DC80, but the UTF-8 written for it does not load.
  Val escaped = string_of(U"\xDC80");
  Val back = string::push_new(4);
  EXPECT_EQ(raised_error([&] { (void)unicode::load_utf8(back, unicode::to_utf8(*escaped)); }),
            error_id::access::invalid_utf8.value);
}

TEST_F(UnicodeStrings, ToUtf8FromTheIndexWithLimitAndLineEnds) {
  Val text = string_of(U"x\na\u00E9\n\U0001F600");
  text->w1 = 1;
  EXPECT_EQ(unicode::to_utf8(*text), "\na\xC3\xA9\n\xF0\x9F\x98\x80");
  EXPECT_EQ(unicode::to_utf8(*text, {.limit = 3}), "\na\xC3\xA9");
  EXPECT_EQ(unicode::to_utf8(*text, {.limit = 0}), "");
  EXPECT_EQ(unicode::to_utf8(*text, {.lf_to_crlf = true}), "\r\na\xC3\xA9\r\n\xF0\x9F\x98\x80");

  Val bad = string_of(U"a", 4);
  memory::buffer(series::node_of(*bad))->head_ptr()[2] = 0x11;  // U+110000
  EXPECT_EQ(raised_error([&] { (void)unicode::to_utf8(*bad); }), error_id::script::invalid_char.value);
  EXPECT_EQ(raised_error([&] { (void)unicode::to_utf16le(*bad); }), error_id::script::invalid_char.value);
  char room[8];
  EXPECT_EQ(raised_error([&] { (void)unicode::utf8_length_of(0x110000); }), error_id::script::invalid_char.value);
  EXPECT_EQ(raised_error([&] { (void)unicode::encode_utf8_char(0x110000, room); }), error_id::script::invalid_char.value);
}

TEST_F(UnicodeStrings, BoundedUtf8WritesWholeCharactersOnly) {
  Val text = string_of(U"a\u00E9\u20AC\U0001F600\n");
  const std::pair<size_t, std::string_view> cases[] = {
      {0, ""sv}, {1, "a"sv}, {2, "a"sv}, {3, "a\xC3\xA9"sv}, {5, "a\xC3\xA9"sv}, {6, "a\xC3\xA9\xE2\x82\xAC"sv},
      {9, "a\xC3\xA9\xE2\x82\xAC"sv}, {10, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"sv},
      {11, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"sv}, {12, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\r\n"sv}};
  for (auto [capacity, expected] : cases) {
    char out[16];
    std::memset(out, '#', sizeof out);
    const size_t written = unicode::to_utf8_bounded(*text, out, capacity, {.lf_to_crlf = true});
    EXPECT_EQ(std::string_view(out, written), expected) << capacity;
    EXPECT_EQ(out[capacity], '#') << "nothing past the capacity";
  }
}

// ---------------------------------------------------------------------------
// UTF-16LE

TEST_F(UnicodeStrings, Utf16SurrogatePairsBothWays) {
  Val text = string_of(U"\U00010000");
  const std::string bytes = unicode::to_utf16le(*text);
  EXPECT_EQ(bytes, "\x00\xD8\x00\xDC"sv);
  EXPECT_EQ(bytes.size() / 2, 2u) << "one character, two units";
  EXPECT_EQ(unicode::to_utf16le(*string_of(U"\U0010FFFFz")), "\xFF\xDB\xFF\xDFz\x00"sv);

  const std::u32string_view texts[] = {U"ASCII\r\n", U"\u00E9t\u00E9", U"\u20AC \uFFFF \uFEFF",
                                       U"\U0001F600 and \U00010000\U0010FFFF", U""};
  for (std::u32string_view chars : texts) {
    Val original = string_of(chars);
    Val loaded = string::push_new(4);
    unicode::load_utf16le(loaded, unicode::to_utf16le(*original), {.skip_bom = false});
    EXPECT_EQ(chars_of(*loaded), chars);
    if (!chars.empty()) {
      EXPECT_EQ(unit_of(*loaded), unit_of(*original)) << "the narrowest unit";
    }
    EXPECT_TRUE(memory::buffer(series::node_of(*loaded))->flags & unicode::from_utf16_flag);
  }
}

TEST_F(UnicodeStrings, Utf16UnpairedSurrogatesReadAsReplacementCharacters) {
  const std::pair<std::string, std::u32string_view> cases[] = {
      {utf16le({0xD83D, 0xDE00}), U"\U0001F600"},
      {utf16le({0xD800, 0x0041}), U"\uFFFDA"},        // high surrogate then a letter
      {utf16le({0x0041, 0xD83D}), U"A\uFFFD"},        // high surrogate at the end
      {utf16le({0xDC00}), U"\uFFFD"},                 // low surrogate alone
      {utf16le({0xDC00, 0xD800}), U"\uFFFD\uFFFD"},   // a pair in the wrong order
      {utf16le({0xD800, 0xD800, 0xDC00}), U"\uFFFD\U00010000"},
      {std::string("A\0B"sv), U"A\uFFFD"},            // odd byte count
  };
  for (const auto& [bytes, chars] : cases) {
    Val loaded = string::push_new(4);
    unicode::load_utf16le(loaded, bytes);
    EXPECT_EQ(chars_of(*loaded), chars) << ::testing::PrintToString(bytes);
  }
  Val lone = string::push_new(4);
  unicode::load_utf16le(lone, utf16le({0x0041, 0xDBFF}));
  EXPECT_EQ(unit_of(*lone), 2u) << "U+FFFD needs 2 bytes, not 4";
}

TEST_F(UnicodeStrings, Utf16LineEndsAndByteOrderMark) {
  Val loaded = string::push_new(4);
  unicode::load_utf16le(loaded, utf16le({0xFEFF, 'a', '\r', '\n', 'b', '\r', 'c'}), {.crlf_to_lf = true});
  EXPECT_EQ(chars_of(*loaded), U"a\nb\nc");
  EXPECT_EQ(unit_of(*loaded), 1u);

  Val text = string_of(U"a\n\U0001F600");
  EXPECT_EQ(unicode::to_utf16le(*text, {.lf_to_crlf = true}), utf16le({'a', '\r', '\n', 0xD83D, 0xDE00}));
  EXPECT_EQ(unicode::to_utf16le(*text, {.limit = 2}), utf16le({'a', '\n'}));
}

// ---------------------------------------------------------------------------
// Case mapping of strings in place

TEST_F(UnicodeStrings, ChangeCaseInEachUnit) {
  struct Case {
    std::u32string_view chars;
    bool upper;
    std::u32string_view expected;
    uint32_t unit_after;
  };
  const Case cases[] = {
      {U"hello, World 1", true, U"HELLO, WORLD 1", 1},
      {U"\u00C9T\u00C9 \u00DF", false, U"\u00E9t\u00E9 \u00DF", 1},
      {U"na\u00EFve \u00FF\u00B5", true, U"NA\u00CFVE \u0178\u039C", 2},  // capitals above U+00FF: widens
      {U"\u0131stanbul", true, U"ISTANBUL", 2},                           // never narrows
      {U"\u0130\u03A3\u1E9E\u2C6F", false, U"i\u03C3\u00DF\u0250", 2},
      {U"\U00010428\U0001E922x\u00E9", true, U"\U00010400\U0001E900X\u00C9", 4},
      {U"\U00010400\U0001E900X", false, U"\U00010428\U0001E922x", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::u32string(c.expected)));
    Val text = string_of(c.chars);
    (c.upper ? unicode::uppercase : unicode::lowercase)(series::node_of(*text), 0, 0xFFFFFFFF);
    EXPECT_EQ(chars_of(*text), c.expected);
    EXPECT_EQ(unit_of(*text), c.unit_after);
  }
}

TEST_F(UnicodeStrings, ChangeCaseOverARangeFromTheHead) {
  // The head sits two units into the buffer; indexes count from it, and
  // widening keeps them.
  Val text = string_of(U"hello \u00FForld", 1, 2);
  const NodeId node = series::node_of(*text);
  unicode::uppercase(node, 6, 3);
  EXPECT_EQ(chars_of(*text), U"hello \u0178ORld");
  EXPECT_EQ(unit_of(*text), 2u);
  unicode::uppercase(node, 9, 100);  // clamped to the tail
  EXPECT_EQ(chars_of(*text), U"hello \u0178ORLD");
  unicode::lowercase(node, 11, 5);  // past the tail: nothing
  unicode::lowercase(node, 0, 0);
  EXPECT_EQ(chars_of(*text), U"hello \u0178ORLD");
  unicode::lowercase(node, 7, 1);
  EXPECT_EQ(chars_of(*text), U"hello \u0178oRLD");
}

}  // namespace
}  // namespace kiv
