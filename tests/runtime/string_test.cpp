// string! and its children tag!, email!, ref!: unit widening, mold, and
// the edge cases of the string actions that scripts cannot reach easily
// (bitset and binary arguments, units, the /part budget of mold).
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "tests/runtime/series_fixture.h"

namespace kiv {
namespace {

using testing::at_index;
using testing::form_of;
using testing::mold_of;
using testing::raised_error;
using testing::str;

Cell integer(int32_t value) { return Cell{cell::header(TypeId::integer), 0, static_cast<uint32_t>(value), 0}; }
Cell character(uint32_t code_point) { return string::make_char(code_point); }

Cell typed(Cell value, TypeId type) { return cell::set_type(value, type); }

// A unit-1 series of raw bytes of `type` (binary!, bitset!), held to the
// end of the test.
testing::Held bytes(std::string_view data, TypeId type) {
  const NodeId node = memory::new_byte_series(static_cast<uint32_t>(data.size()));
  SeriesBuf* buf = memory::buffer(node);
  std::memcpy(buf->data(), data.data(), data.size());
  buf->tail = static_cast<uint32_t>(data.size());
  return testing::Held(Cell{cell::header(type), 0, node, 0});
}

uint32_t unit(const Cell& text) { return memory::buffer(series::node_of(text))->unit(); }
std::string text(const Cell& value) { return string::to_utf8(value); }

class Strings : public testing::RuntimeTest {
 protected:
  const ActionTable& actions = datatype::actions(TypeId::string);

  Cell append(Cell series, Cell value, int32_t part = -1, int32_t dup = 1) {
    Val target = stack::push(series);
    actions.append(target, stack::push(value), part, false, dup);
    return *target;
  }
  Cell insert(Cell series, Cell value, int32_t part = -1, int32_t dup = 1) {
    Val target = stack::push(series);
    actions.insert(target, stack::push(value), part, false, dup);
    return *target;
  }
  Cell change(Cell series, Cell value, int32_t part = -1, int32_t dup = 1) {
    Val target = stack::push(series);
    actions.change(target, stack::push(value), part, false, dup);
    return *target;
  }
  Cell find(Cell series, Cell value, FindOptions options = {}) {
    Val target = stack::push(series);
    actions.find(target, stack::push(value), options);
    return *target;
  }
  Cell trim(Cell series, TrimOptions options = {}) {
    actions.trim(stack::push(series), options);
    return series;
  }
  Cell sort(Cell series, SortOptions options = {}) {
    Val target = stack::push(series);
    actions.sort(target, options);
    return *target;
  }
  Cell to(Cell value, TypeId type = TypeId::string) {
    Val result = stack::push(datatype::make(type));
    datatype::actions(type).to(result, stack::push(value), type);
    return *result;
  }
};

// ---- widening ----

TEST_F(Strings, AppendWidensAt128AndAboveTheBmp) {
  Val s = stack::push(str("ab"));
  string::append_char(s, 'c');
  EXPECT_EQ(unit(*s), 1u);
  string::append_char(s, 0xE9);
  EXPECT_EQ(unit(*s), 2u) << "appending widens from 128 on";
  string::append_char(s, 0x20AC);
  EXPECT_EQ(unit(*s), 2u);
  string::append_char(s, 0x1F600);
  EXPECT_EQ(unit(*s), 4u);
  EXPECT_EQ(text(*s), "abc\u00E9\u20AC\U0001F600") << "widening keeps every character";

  const auto t = str("x");
  append(t, character(0xE9));
  EXPECT_EQ(unit(t), 2u) << "a char! appended takes the unit it needs";
  const auto u = str("x");
  append(u, str("y\u00E9"));
  EXPECT_EQ(unit(u), 1u) << "a unit-1 string keeps a unit-1 target";
  const auto wide = str("\u0100");
  const Cell ascii_in_wide = change(wide, str("ab"));  // a unit-2 buffer holding only ASCII
  const auto v = str("x");
  append(v, at_index(ascii_in_wide, 0));
  EXPECT_EQ(unit(v), 2u) << "a copy takes the wider of the two units";
  EXPECT_EQ(text(v), "xab");
}

TEST_F(Strings, PokeWidensAt256) {
  const ActionTable& series = datatype::actions(TypeId::string);
  const auto s = str("abc");
  series.poke(stack::push(s), stack::push(integer(1)), 1, stack::push(character(0xE9)));
  EXPECT_EQ(unit(s), 1u) << "Latin-1 fits a unit-1 buffer";
  series.poke(stack::push(s), stack::push(integer(2)), 2, stack::push(character(0x100)));
  EXPECT_EQ(unit(s), 2u);
  series.poke(stack::push(s), stack::push(integer(3)), 3, stack::push(character(0x10000)));
  EXPECT_EQ(unit(s), 4u);
  EXPECT_EQ(text(s), "\u00E9\u0100\U00010000");
}

TEST_F(Strings, InsertAndChangeWidenAndMoveTheRest) {
  const auto s = str("abcd");
  const Cell after = insert(at_index(s, 2), character(0x3B1), -1, 3);
  EXPECT_EQ(text(s), "ab\u03B1\u03B1\u03B1cd");
  EXPECT_EQ(unit(s), 2u);
  EXPECT_EQ(after.w1, 5u) << "insert answers the position after the text";
  const Cell changed = change(at_index(s, 1), str("XY"), 4);
  EXPECT_EQ(text(s), "aXYcd") << "/part 4 replaces four units by two";
  EXPECT_EQ(changed.w1, 3u);
  change(at_index(s, 4), str("123"));
  EXPECT_EQ(text(s), "aXYc123") << "without /part it overwrites as many as it writes, past the tail";
  change(at_index(s, 1), str(""), 2);
  EXPECT_EQ(text(s), "ac123") << "an empty value with /part deletes";
}

TEST_F(Strings, AppendingAStringToItself) {
  const auto s = str("ab");
  for (int i = 0; i < 4; ++i) append(s, s);  // reads itself while growing
  EXPECT_EQ(text(s), "abababababababababababababababab");
  const auto t = str("ab");
  insert(at_index(t, 1), t);
  EXPECT_EQ(text(t), "aabb");
}

TEST_F(Strings, WhatAppendWritesForEachKindOfValue) {
  const Cell b = testing::blk({word::intern("a"), str("b"), integer(1), character('c')});
  struct Case {
    Cell value;
    int32_t part;
    int32_t dup;
    const char* expected;
  };
  const Case cases[] = {
      {b, -1, 1, "ab1c"},  // elements formed, no separator
      {b, 2, 1, "ab"},     // a budget of units
      {typed(str("t"), TypeId::tag), -1, 1, "<t>"},
      {typed(str("tag"), TypeId::tag), 3, 1, "<ta"},
      {typed(str("u@h"), TypeId::email), -1, 1, "u@h"},
      {str("xyz"), 2, 3, "xyxyxy"},
      {integer(-42), -1, 1, "-42"},
  };
  for (const Case& c : cases) {
    const auto s = str("");
    append(s, c.value, c.part, c.dup);
    EXPECT_EQ(text(s), c.expected);
  }
  const auto s = str("ab");
  EXPECT_EQ(append(at_index(s, 2), str("c")).w1, 0u) << "append answers the head";
  EXPECT_EQ(append(at_index(s, 2), str("")).w1, 2u) << "nothing written: the position stays";
}

// ---- form and mold ----

TEST_F(Strings, MoldEscapesEveryClass) {
  struct Case {
    std::string text;
    const char* expected;
    bool all = false;
  };
  const Case cases[] = {
      {"abc", R"~("abc")~"},
      {"a\"b", R"~({a"b})~"},  // a double quote chooses braces and stays as it is
      {"a\nb\nc", R"~("a^/b^/c")~"},
      {"a\nb\nc\nd", R"~({a^/b^/c^/d})~"},
      {"a\tb", R"~("a^-b")~"},
      {std::string("a\0b", 3), R"~("a^@b")~"},
      {"\x01\x1A\x1B\x1C\x1D\x1F", R"~("^A^Z^[^\^]^_")~"},
      {"\x1E", R"~("^(1E)")~"},
      {"\x7F", R"~("^~")~"},
      {"^", R"~("^^")~"},
      {"^\"", R"~({^^"})~"},
      {"\u0085", R"~("^(85)")~"},
      {"\u00E9", "\"\u00E9\""},
      {"\u00E9", R"~("^(E9)")~", true},
      {"\u20AC", R"~("^(20AC)")~", true},
      {"a{b}", R"~("a{b}")~"},  // braces in quotes need no escape
      {"\"x{y", R"~({"x^{y})~"},
      {"\"x}y", R"~({"x^}y})~"},
      {"\"{a}{b", R"~({"{a}^{b})~"},
      {"\"{ {}", R"~({"^{ ^{^}})~"},  // once unbalanced, later braces escape too
  };
  for (const Case& c : cases) EXPECT_EQ(mold_of(str(c.text), {.all = c.all}).text, c.expected) << c.text;
  EXPECT_EQ(mold_of(str(std::string(49, 'x'))).text.front(), '"');
  EXPECT_EQ(mold_of(str(std::string(50, 'x'))).text.front(), '{') << "50 characters choose braces";
}

TEST_F(Strings, MoldAndFormBudgets) {
  const auto molded = mold_of(str("abcdef"), {}, 2);
  EXPECT_EQ(molded.text, "\"ab\"");
  EXPECT_EQ(molded.budget, 2 - 4) << "units molded and two delimiters";
  const auto formed = form_of(str("abcdef"), 4);
  EXPECT_EQ(formed.text, "abcd");
  EXPECT_EQ(formed.budget, -2) << "the budget less the whole length";
  const auto positioned = form_of(at_index(str("abcdef"), 4));
  EXPECT_EQ(positioned.text, "ef");
}

// ---- compare ----

TEST_F(Strings, CompareByTextAcrossTheTextTypes) {
  struct Case {
    Cell a;
    Cell b;
    CmpOp op;
    int expected;
  };
  const Case cases[] = {
      {str("abc"), str("ABC"), CmpOp::equal, 0},
      {str("abc"), str("ABC"), CmpOp::strict_equal, 1},
      {str("abc"), str("abd"), CmpOp::lesser, -1},
      {str("ab"), str("abc"), CmpOp::lesser, -1},
      {str("abc"), str(""), CmpOp::greater, 1},
      {str("B"), str("a"), CmpOp::sort, 1},
      {str("B"), str("a"), CmpOp::case_sort, -1},
      {str("\u00C9"), str("\u00E9"), CmpOp::equal, 0},
      {str("a"), typed(str("A"), TypeId::file), CmpOp::equal, 0},
      {str("a"), typed(str("a"), TypeId::tag), CmpOp::not_equal, 0},
      {str("a"), typed(str("a"), TypeId::file), CmpOp::lesser, -2},
      {str("a"), typed(str("a"), TypeId::file), CmpOp::strict_equal, -2},
      {str("a"), integer(1), CmpOp::equal, -2},
  };
  for (const Case& c : cases)
    EXPECT_EQ(actions.compare(c.a, c.b, c.op), c.expected) << text(c.a) << " vs " << text(c.b);
  const auto s = str("ab");
  EXPECT_EQ(actions.compare(s, s, CmpOp::same), 0);
  EXPECT_EQ(actions.compare(s, str("ab"), CmpOp::same), -1);
  EXPECT_EQ(string::compare_values(str("abc"), str("AB"), CmpOp::equal, true), 0) << "a prefix matches";
  EXPECT_EQ(string::compare_values(str("a"), str("ab"), CmpOp::equal, true), 1);
  EXPECT_EQ(string::compare_values(str("a"), str(""), CmpOp::lookup, true), 1);
}

// ---- find and select ----

TEST_F(Strings, FindEdgeCases) {
  const auto abcd = str("abcd");
  EXPECT_TRUE(cell::is(find(str(""), str("a")), TypeId::none)) << "an empty string holds nothing";
  EXPECT_TRUE(cell::is(find(at_index(abcd, 4), str("d")), TypeId::none)) << "nothing at the tail";
  EXPECT_TRUE(cell::is(find(abcd, str("a"), {.reverse = true}), TypeId::none)) << "nothing before the head";
  EXPECT_EQ(find(abcd, str("bc"), {.tail = true}).w1, 3u);
  EXPECT_EQ(find(abcd, str("AB"), {.match = true}).w1, 0u);
  EXPECT_TRUE(cell::is(find(abcd, str("bc"), {.match = true}), TypeId::none));

  // Bitsets: the high bit of byte 0 is code point 0; beyond the stored
  // bytes the not flag answers.
  const auto digits = bytes(std::string("\0\0\0\0\0\0\xFF\xC0", 8), TypeId::bitset);
  EXPECT_EQ(find(str("ab12"), digits).w1, 2u);
  EXPECT_EQ(find(str("ab12"), digits, {.last = true}).w1, 3u);
  const auto everything_but_nul = bytes(std::string("\x7F", 1), TypeId::bitset);
  memory::buffer(series::node_of(everything_but_nul))->flags |= 0x00080000;
  EXPECT_EQ(find(str("\u0100"), everything_but_nul).w1, 0u) << "U+0100 lies beyond the stored bits";

  EXPECT_EQ(raised_error([&] { find(abcd, integer(0), {.skip = stack::push(integer(0))}); }), err::script::out_of_range.value);
  EXPECT_EQ(raised_error([&] { find(abcd, str("a"), {.any = true}); }), err::internal::not_done.value);
  EXPECT_EQ(raised_error([&] { find(abcd, bytes("a", TypeId::binary)); }), err::script::invalid_arg.value);
  EXPECT_EQ(raised_error([&] { find(abcd, str("a"), {.part = stack::push(str("ab"))}); }),
            err::script::invalid_refine_arg.value)
      << "/part in another series";
}

TEST_F(Strings, FindDirectionsAndLimits) {
  const auto s = str("abcabcabc");
  struct Case {
    uint32_t head;
    Cell value;
    FindOptions options;
    int expected;  // -1: none
  };
  const Cell at3 = at_index(s, 3);
  const Case cases[] = {
      {0, str("BC"), {}, 1},
      {0, str("BC"), {.case_ = true}, -1},
      {0, str("bc"), {.last = true}, 7},
      {0, str("bc"), {.last = true, .tail = true}, 9},
      {6, str("bc"), {.reverse = true}, 4},
      {6, str("abc"), {.reverse = true}, 3},
      {6, character('a'), {.reverse = true}, 3},
      {6, str("c"), {.part = stack::push(integer(2)), .reverse = true}, 5},
      {6, str("b"), {.part = stack::push(integer(1)), .reverse = true}, -1},
      {0, str("bc"), {.part = stack::push(integer(2))}, -1},  // the match must lie within the part
      {0, str("bc"), {.part = stack::push(at3)}, 1},          // /part as a position
      {1, character('c'), {.skip = stack::push(integer(3))}, -1},
      {0, character('c'), {.skip = stack::push(integer(2))}, 2},
      {0, word::intern("cab"), {}, 2},  // a word by its spelling
      {0, character(0x100), {}, -1},
  };
  for (const Case& c : cases) {
    const Cell found = find(at_index(s, c.head), c.value, c.options);
    if (c.expected < 0) EXPECT_TRUE(cell::is(found, TypeId::none)) << "from " << c.head << " for " << testing::formed(c.value);
    else EXPECT_EQ(found.w1, static_cast<uint32_t>(c.expected)) << "from " << c.head << " for " << testing::formed(c.value);
  }
}

TEST_F(Strings, SelectReturnsTheCharacterAfterTheMatch) {
  Val result = stack::push(str("a<b>c"));
  actions.select(result, stack::push(typed(str("b"), TypeId::tag)), {});
  EXPECT_EQ(result->w2, static_cast<uint32_t>('c')) << "a tag is looked for with its brackets";
  EXPECT_TRUE(cell::is(*result, TypeId::char_));
  Val last = stack::push(str("abc"));
  actions.select(last, stack::push(str("c")), {});
  EXPECT_TRUE(cell::is(*last, TypeId::none)) << "nothing after the match";
}

// ---- trim ----

TEST_F(Strings, TrimModes) {
  struct Case {
    const char* text;
    TrimOptions options;
    const char* expected;
  };
  const Case cases[] = {
      {"  a  \n  b  \n\n", {}, "a\nb\n"},
      {"  a  \n  b  ", {.head = true}, "a  \n  b  "},
      {"  a  \n  b  ", {.tail = true}, "  a  \n  b"},
      {"  a  \n  b  \n", {.head = true, .tail = true}, "a  \n  b"},
      {"\u00A0x\u3000", {}, "x"},  // no-break and ideographic spaces are blanks
      {"  a   b  ", {.lines = true}, "a b"},
      {"a\n\n b", {.lines = true}, "a b"},
      {" a b\t\r\n", {.all = true}, "ab"},
      {"a\u00A0b", {.all = true}, "a\u00A0b"},  // /all removes only tab, line feed, return, space
  };
  for (const Case& c : cases) EXPECT_EQ(text(trim(str(c.text), c.options)), c.expected) << c.text;

  const auto dashes = str("a-b-c");
  trim(dashes, {.with = stack::push(str("-"))});
  EXPECT_EQ(text(dashes), "abc");
  const auto letters = str("abcab");
  trim(letters, {.with = stack::push(character('a'))});
  EXPECT_EQ(text(letters), "bcb");
  const auto kept = str("a b");
  trim(kept, {.with = stack::push(str(""))});
  EXPECT_EQ(text(kept), "a b") << "an empty set removes nothing";
  const Cell from_head = at_index(str("x  y  "), 1);
  trim(from_head);
  EXPECT_EQ(text(at_index(from_head, 0)), "xy") << "only from the head";
  EXPECT_EQ(raised_error([&] { trim(str("a"), {.auto_ = true}); }), err::internal::not_done.value);
  EXPECT_EQ(raised_error([&] { trim(str("a"), {.with = stack::push(none::make())}); }), err::script::invalid_arg.value);
}

// ---- sort ----

TEST_F(Strings, SortRecordsAndOptions) {
  struct Case {
    const char* text;
    SortOptions options;
    const char* expected;
  };
  const Case cases[] = {
      {"dacb", {}, "abcd"},
      {"bBaA", {}, "aAbB"},  // folded, and stable for equal letters
      {"bBaA", {.case_ = true}, "ABab"},
      {"dacb", {.reverse = true}, "dcba"},
      {"cabd", {.skip = stack::push(integer(2))}, "bdca"},
      {"b2a9a1", {.skip = stack::push(integer(2)), .all = true}, "a1a9b2"},
      {"b2a9c1", {.skip = stack::push(integer(2)), .compare = stack::push(integer(2))}, "c1b2a9"},
      {"\u00C9e\u00E9", {}, "e\u00C9\u00E9"},  // Latin-1 letters fold in a unit-1 string too
      {"\u00C9e\u00E9\u0100", {}, "e\u00C9\u00E9\u0100"},
  };
  for (const Case& c : cases) EXPECT_EQ(text(sort(str(c.text), c.options)), c.expected) << c.text;

  const auto s = str("dcba");
  const Cell part = sort(at_index(s, 1), {.part = stack::push(integer(2))});
  EXPECT_EQ(text(at_index(s, 0)), "dbca");
  EXPECT_EQ(part.w1, 1u);
  const Cell back = sort(at_index(s, 3), {.part = stack::push(integer(-9))});
  EXPECT_EQ(back.w1, 0u) << "a negative part runs back to the head of the buffer";
  EXPECT_EQ(text(back), "bcda");

  EXPECT_EQ(raised_error([&] { sort(str("abc"), {.skip = stack::push(integer(2))}); }), err::script::invalid_refine_arg.value);
  EXPECT_EQ(raised_error([&] { sort(str("abc"), {.all = true}); }), err::script::bad_refines.value);
  EXPECT_EQ(raised_error([&] { sort(str("abcd"), {.compare = stack::push(integer(1))}); }), err::script::bad_refines.value);
  EXPECT_EQ(raised_error([&] { sort(str("abcd"), {.skip = stack::push(integer(2)), .compare = stack::push(integer(3))}); }),
            err::script::out_of_range.value);
}

// ---- take, swap, set operations ----

TEST_F(Strings, TakeGivesACharacterWithoutPart) {
  Val one = stack::push(str("abc"));
  actions.take(one, std::nullopt, false, false);
  EXPECT_TRUE(cell::is(*one, TypeId::char_));
  EXPECT_EQ(one->w2, static_cast<uint32_t>('a'));
  Val part = stack::push(str("abc"));
  actions.take(part, stack::push(integer(1)), false, false);
  EXPECT_EQ(text(*part), "a");
  EXPECT_TRUE(cell::is(*part, TypeId::string));
}

TEST_F(Strings, SwapExchangesTheHeadCharacters) {
  const auto a = str("ab");
  const auto b = str("\u0100z");
  actions.swap(stack::push(at_index(a, 1)), stack::push(b));
  EXPECT_EQ(text(a), "a\u0100");
  EXPECT_EQ(unit(a), 2u);
  EXPECT_EQ(text(b), "bz");
  actions.swap(stack::push(a), stack::push(at_index(a, 1)));
  EXPECT_EQ(text(a), "\u0100a") << "within one string";
  EXPECT_EQ(raised_error([&] { actions.swap(stack::push(a), stack::push(integer(1))); }), err::script::invalid_arg.value);
}

TEST_F(Strings, SetOperations) {
  struct Case {
    string::SetOp op;
    const char* a;
    const char* b;
    bool case_sensitive;
    int32_t skip;
    const char* expected;
  };
  using enum string::SetOp;
  const Case cases[] = {
      {unique, "abacb", "", false, 1, "abc"},
      {unique, "aAb", "", false, 1, "ab"},
      {unique, "aAb", "", true, 1, "aAb"},
      {union_, "abc", "bcd", false, 1, "abcd"},
      {intersect, "abcd", "DBx", false, 1, "bd"},
      {exclude, "abcd", "bx", false, 1, "acd"},
      {difference, "abc", "bcd", false, 1, "ad"},
      {unique, "a1b2a3", "", false, 2, "a1b2"},  // records known by their first unit
      {exclude, "a1b2c3", "b9", false, 2, "a1c3"},
  };
  for (const Case& c : cases) {
    Val a = stack::push(str(c.a));
    Val b = stack::push(str(c.b));
    EXPECT_EQ(text(string::set_operation(a, b, c.op, c.case_sensitive, c.skip)), c.expected) << c.a << " " << c.b;
  }
  EXPECT_EQ(raised_error([&] { string::set_operation(stack::push(str("a")), stack::push(str("a")), unique, false, 0); }),
            err::script::invalid_refine_arg.value);
}

// ---- make, to, load ----

TEST_F(Strings, MakeAndTo) {
  Val made = stack::push(datatype::make(TypeId::string));
  actions.make(made, stack::push(integer(10)), TypeId::string);
  EXPECT_EQ(text(*made), "");
  EXPECT_EQ(raised_error([&] { actions.make(made, stack::push(integer(-1)), TypeId::string); }), err::script::out_of_range.value);
  actions.make(made, stack::push(str("x")), TypeId::tag);
  EXPECT_TRUE(cell::is(*made, TypeId::tag)) << "any other spec converts";

  EXPECT_EQ(text(to(testing::blk({word::intern("a"), str("b"), integer(1)}))), "ab1");
  EXPECT_EQ(text(to(character(0xE9))), "\u00E9");
  const auto original = str("abc");
  const Cell copied = to(at_index(original, 1), TypeId::email);
  EXPECT_TRUE(cell::is(copied, TypeId::email));
  EXPECT_EQ(text(copied), "bc");
  EXPECT_NE(series::node_of(copied), series::node_of(original));
  const Cell refinement = word::make(TypeId::refinement, no_node, symbol::make("a"), word::unresolved);
  EXPECT_EQ(text(to(refinement)), "a");
  EXPECT_EQ(text(to(refinement, TypeId::tag)), "/a");
  EXPECT_EQ(text(to(bytes("a\xC3\xA9", TypeId::binary))), "a\u00E9");
  EXPECT_EQ(raised_error([&] { to(none::make()); }), err::script::bad_to_arg.value);
  EXPECT_EQ(raised_error([&] { to(bytes("ab\xFF\x41\x42", TypeId::binary)); }), err::access::invalid_utf8.value);
  const Cell rest = error::pending().args[0];
  EXPECT_TRUE(cell::is(rest, TypeId::binary));
  EXPECT_EQ(series_type::length(rest), 3u) << "the bytes from the bad one to the end";
}

TEST_F(Strings, LoadRefusesACutSequenceAtTheEnd) {
  EXPECT_EQ(text(string::load("a\xC3\xA9", string::Encoding::utf8)), "a\u00E9");
  EXPECT_EQ(unit(string::load("a\xC3\xA9", string::Encoding::utf8)), 1u) << "loaded Latin-1 stays unit 1";
  EXPECT_EQ(text(string::load(std::string("a\0\xAC\x20", 4), string::Encoding::utf16le)), "a\u20AC");
  EXPECT_EQ(raised_error([&] { string::load("a\xC3", string::Encoding::utf8); }), err::access::invalid_utf8.value);
}

// ---- tag!, email!, ref! ----

TEST_F(Strings, TagEmailAndRefText) {
  const Cell tag = typed(str("a b"), TypeId::tag);
  EXPECT_EQ(form_of(tag).text, "<a b>");
  EXPECT_EQ(mold_of(tag).text, "<a b>");
  EXPECT_EQ(form_of(tag, 10).budget, 10 - 5);
  const Cell email = typed(str("a@b"), TypeId::email);
  EXPECT_EQ(form_of(email).text, "a@b");
  EXPECT_EQ(mold_of(email).text, "a@b");
  const Cell ref = typed(str("name"), TypeId::ref);
  EXPECT_EQ(form_of(ref).text, "name");
  EXPECT_EQ(mold_of(ref).text, "@name");

  for (const TypeId type : {TypeId::tag, TypeId::email, TypeId::ref}) {
    const ActionTable& slots = datatype::actions(type);
    EXPECT_EQ(slots.random, nullptr);
    EXPECT_EQ(slots.sort, nullptr);
    EXPECT_EQ(slots.trim, nullptr);
    EXPECT_EQ(slots.find, actions.find) << "the rest as string!";
  }
  EXPECT_EQ(datatype::actions(TypeId::ref).append, nullptr);
  EXPECT_EQ(datatype::actions(TypeId::ref).eval_path, nullptr);
  EXPECT_EQ(datatype::actions(TypeId::tag).append, actions.append);
}

class EmailPaths : public testing::RuntimeTest {
 protected:
  Cell get(const Cell& email, const Cell& selector) {
    Val value = stack::push(email);
    PathStep step{value, stack::push(selector), nullptr, none::make(), 1, true, false};
    datatype::actions(TypeId::email).eval_path(step);
    return *value;
  }
  void set(const Cell& email, const Cell& selector, const Cell& new_value) {
    Val value = stack::push(email);
    PathStep step{value, stack::push(selector), &new_value, none::make(), 1, true, false};
    datatype::actions(TypeId::email).eval_path(step);
  }
};

TEST_F(EmailPaths, UserAndHost) {
  const Cell email = typed(str("a@b"), TypeId::email);
  EXPECT_EQ(text(get(email, word::intern("user"))), "a");
  EXPECT_EQ(text(get(email, word::intern("HOST"))), "b");
  EXPECT_TRUE(cell::is(get(email, word::intern("user")), TypeId::string));
  EXPECT_EQ(get(email, integer(2)).w2, static_cast<uint32_t>('@'));
  set(email, word::intern("host"), str("cd"));
  EXPECT_EQ(text(email), "a@cd");
  set(email, word::intern("user"), str("xy"));
  EXPECT_EQ(text(email), "xy@cd");

  const Cell bare = typed(str("a"), TypeId::email);
  EXPECT_EQ(text(get(bare, word::intern("user"))), "a");
  EXPECT_EQ(text(get(bare, word::intern("host"))), "");
  set(bare, word::intern("host"), str("h"));
  EXPECT_EQ(text(bare), "a@h") << "a host set on an address without @ gets one";

  EXPECT_EQ(raised_error([&] { get(email, word::intern("domain")); }), err::script::invalid_path.value);
  EXPECT_EQ(raised_error([&] { get(email, str("user")); }), err::script::invalid_path.value);
}

}  // namespace
}  // namespace kiv
