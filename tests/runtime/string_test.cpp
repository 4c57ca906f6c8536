// string! and its children tag!, email!, ref! from C++: the unit each
// string widens to, the /part budget of form and mold, the compare modes
// scripts do not name, bitset arguments, the bytes an error names, loading
// text and which actions each type has. What scripts reach is in
// tests/kiv/datatypes/string.kiv.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series_type.h"
#include "tests/runtime/series_fixture.h"

namespace kiv {
namespace {

using testing::at_index;
using testing::form_of;
using testing::mold_of;
using testing::raised_error;
using testing::str;
using testing::unit_of;

Cell character(uint32_t code_point) { return string::make_char(code_point); }

// A unit-1 series of raw bytes of `type` (binary!, bitset!), held to the
// end of the test.
testing::Held bytes(std::string_view data, TypeId type) {
  const NodeId node = memory::new_byte_series(static_cast<uint32_t>(data.size()));
  SeriesBuf* buf = memory::buffer(node);
  std::memcpy(buf->data(), data.data(), data.size());
  buf->tail = static_cast<uint32_t>(data.size());
  return testing::Held(Cell{cell::header(type), 0, node, 0});
}

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
  EXPECT_EQ(unit_of(*s), 1u);
  string::append_char(s, 0xE9);
  EXPECT_EQ(unit_of(*s), 2u) << "appending widens from 128 on";
  string::append_char(s, 0x20AC);
  EXPECT_EQ(unit_of(*s), 2u);
  string::append_char(s, 0x1F600);
  EXPECT_EQ(unit_of(*s), 4u);
  EXPECT_EQ(text(*s), "abc\u00E9\u20AC\U0001F600") << "widening keeps every character";

  const auto t = str("x");
  append(t, character(0xE9));
  EXPECT_EQ(unit_of(t), 2u) << "a char! appended takes the unit it needs";
  const auto u = str("x");
  append(u, str("y\u00E9"));
  EXPECT_EQ(unit_of(u), 1u) << "a unit-1 string keeps a unit-1 target";
  const auto wide = str("\u0100");
  const Cell ascii_in_wide = change(wide, str("ab"));  // a unit-2 buffer holding only ASCII
  const auto v = str("x");
  append(v, at_index(ascii_in_wide, 0));
  EXPECT_EQ(unit_of(v), 2u) << "a copy takes the wider of the two units";
  EXPECT_EQ(text(v), "xab");
}

TEST_F(Strings, PokeWidensAt256) {
  const ActionTable& series = datatype::actions(TypeId::string);
  const auto s = str("abc");
  series.poke(stack::push(s), integer::push(1), 1, stack::push(character(0xE9)));
  EXPECT_EQ(unit_of(s), 1u) << "Latin-1 fits a unit-1 buffer";
  series.poke(stack::push(s), integer::push(2), 2, stack::push(character(0x100)));
  EXPECT_EQ(unit_of(s), 2u);
  series.poke(stack::push(s), integer::push(3), 3, stack::push(character(0x10000)));
  EXPECT_EQ(unit_of(s), 4u);
  EXPECT_EQ(text(s), "\u00E9\u0100\U00010000");
}

TEST_F(Strings, InsertWidensForAWiderCharacter) {
  const auto s = str("abcd");
  insert(at_index(s, 2), character(0x3B1), -1, 3);
  EXPECT_EQ(text(s), "ab\u03B1\u03B1\u03B1cd");
  EXPECT_EQ(unit_of(s), 2u);
}

// ---- form and mold ----

TEST_F(Strings, MoldAndFormBudgets) {
  const auto molded = mold_of(str("abcdef"), {}, 2);
  EXPECT_EQ(molded.text, "\"ab\"");
  EXPECT_EQ(molded.budget, 2 - 4) << "units molded and two delimiters";
  const auto formed = form_of(str("abcdef"), 4);
  EXPECT_EQ(formed.text, "abcd");
  EXPECT_EQ(formed.budget, -2) << "the budget less the whole length";
}

// ---- compare ----

TEST_F(Strings, CompareModesScriptsDoNotName) {
  struct Case {
    Cell a;
    Cell b;
    CmpOp op;
    int expected;
  };
  const Case cases[] = {
      {str("B"), str("a"), CmpOp::sort, 1},
      {str("B"), str("a"), CmpOp::case_sort, -1},
      // Another type is not merely unequal: there is no comparison.
      {str("a"), str("a", TypeId::file), CmpOp::strict_equal, -2},
      {str("a"), integer::make(1), CmpOp::equal, -2},
  };
  for (const Case& c : cases)
    EXPECT_EQ(actions.compare(c.a, c.b, c.op), c.expected) << text(c.a) << " vs " << text(c.b);
  EXPECT_EQ(string::compare_values(str("abc"), str("AB"), CmpOp::equal, true), 0) << "a prefix matches";
  EXPECT_EQ(string::compare_values(str("a"), str("ab"), CmpOp::equal, true), 1);
  EXPECT_EQ(string::compare_values(str("a"), str(""), CmpOp::lookup, true), 1);
}

// ---- find and select ----

// Bitsets: the high bit of byte 0 is code point 0; beyond the stored bytes
// the not flag answers.
TEST_F(Strings, FindACharacterOfABitset) {
  const auto digits = bytes(std::string("\0\0\0\0\0\0\xFF\xC0", 8), TypeId::bitset);
  EXPECT_EQ(find(str("ab12"), digits).w1, 2u);
  EXPECT_EQ(find(str("ab12"), digits, {.last = true}).w1, 3u);
  const auto everything_but_nul = bytes(std::string("\x7F", 1), TypeId::bitset);
  memory::buffer(series::node_of(everything_but_nul))->flags |= 0x00080000;
  EXPECT_EQ(find(str("\u0100"), everything_but_nul).w1, 0u) << "U+0100 lies beyond the stored bits";
}

// ---- swap, make, to, load ----

TEST_F(Strings, SwapWidensForAWiderCharacter) {
  const auto a = str("ab");
  actions.swap(stack::push(at_index(a, 1)), stack::push(str("\u0100z")));
  EXPECT_EQ(text(a), "a\u0100");
  EXPECT_EQ(unit_of(a), 2u);
}

TEST_F(Strings, BadUtf8NamesTheBytesFromTheBadOne) {
  EXPECT_EQ(raised_error([&] { to(bytes("ab\xFF\x41\x42", TypeId::binary)); }), error_id::access::invalid_utf8.value);
  const Cell rest = error::pending().args[0];
  EXPECT_TRUE(cell::is(rest, TypeId::binary));
  EXPECT_EQ(series_type::length(rest), 3u) << "the bytes from the bad one to the end";
}

TEST_F(Strings, LoadRefusesACutSequenceAtTheEnd) {
  EXPECT_EQ(text(string::load("a\xC3\xA9", string::Encoding::utf8)), "a\u00E9");
  EXPECT_EQ(unit_of(string::load("a\xC3\xA9", string::Encoding::utf8)), 1u) << "loaded Latin-1 stays unit 1";
  EXPECT_EQ(text(string::load(std::string("a\0\xAC\x20", 4), string::Encoding::utf16le)), "a\u20AC");
  EXPECT_EQ(raised_error([&] { string::load("a\xC3", string::Encoding::utf8); }), error_id::access::invalid_utf8.value);
}

// ---- tag!, email!, ref! ----

TEST_F(Strings, TagEmailAndRefBudgetsAndActions) {
  EXPECT_EQ(form_of(str("a b", TypeId::tag), 10).budget, 10 - 5) << "the angles count";

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

}  // namespace
}  // namespace kiv
