#include "runtime/hashtable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/core/error_codes.h"
#include "runtime/core/series.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/compare.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

using hashtable::Kind;
using hashtable::Lookup;

// ---- helpers ----

Cell retyped(Cell value, TypeId type) { return cell::set_type(value, type); }

Cell word_of(std::string_view name) { return word::intern(name); }

using testing::cell_series;

Cell* cells_of(NodeId node) { return reinterpret_cast<Cell*>(memory::buffer(node)->head_ptr()); }
uint32_t length_of(NodeId node) { return memory::buffer(node)->length(); }
NodeId data_of(NodeId table) { return hashtable::record(table).data; }
int32_t size_of(NodeId table) { return hashtable::record(table).size; }

// Appends `value` to the table's data block and indexes it.
uint32_t add(NodeId table, const Cell& value) {
  *series::append_slot(data_of(table)) = value;
  const uint32_t position = length_of(data_of(table)) - 1;
  hashtable::put_key(table, position);
  return position;
}

// Inserts `values` at `at` in a hash!'s data block the way a series
// action does: cells move up, their keys follow, the new cells are added.
void insert_cells(NodeId table, uint32_t at, std::initializer_list<Cell> values) {
  const NodeId data = data_of(table);
  const uint32_t before = length_of(data);
  const auto n = static_cast<uint32_t>(values.size());
  for (uint32_t i = 0; i < n; ++i) series::append_slot(data);
  Cell* base = cells_of(data);
  std::memmove(base + at + n, base + at, (before - at) * sizeof(Cell));
  std::copy(values.begin(), values.end(), base + at);
  ASSERT_EQ(hashtable::shift_keys(table, before - at, at, static_cast<int32_t>(n), true), 0);
  for (uint32_t i = 0; i < n; ++i) hashtable::put_key(table, at + i);
}

// Removes `count` cells at `at` from a hash!'s data block.
void remove_cells(NodeId table, uint32_t at, uint32_t count) {
  const NodeId data = data_of(table);
  const uint32_t before = length_of(data);
  hashtable::remove_range(table, at, count);
  Cell* base = cells_of(data);
  std::memmove(base + at, base + at + count, (before - at - count) * sizeof(Cell));
  memory::buffer(data)->tail -= count * sizeof(Cell);
  ASSERT_EQ(hashtable::shift_keys(table, before - at - count, at + count, -static_cast<int32_t>(count), true), 0);
}

std::string numbered(std::string_view stem, int i) { return std::string(stem) + std::to_string(i); }

// ---- hashing primitives ----

TEST(HashFunctions, Murmur3MatchesPublishedVectors) {
  const std::string_view fox = "The quick brown fox jumps over the lazy dog";
  struct Case {
    std::string_view bytes;
    uint32_t seed;
    uint32_t expected;
  };
  const Case cases[] = {
      {"", 0, 0x00000000},
      {"", 1, 0x514E28B7},
      {"", 0xFFFFFFFF, 0x81F16F39},
      {std::string_view("\0\0\0\0", 4), 0, 0x2362F9DE},
      {"aaaa", 0x9747B28C, 0x5A97808A},
      {"abc", 0, 0xB3DD93FA},
      {"hello", 0, 0x248BFA47},
      {"Hello, world!", 0x9747B28C, 0x24884CBA},
      {fox, 0, 0x2E4FF723},
      {fox, 0x9747B28C, 0x2FA826CD},
      // Code points A, B, C as 4-byte little-endian blocks.
      {std::string_view("A\0\0\0B\0\0\0C\0\0\0", 12), 0, 0x4273B6E4},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hashtable::murmur3(c.bytes.data(), c.bytes.size(), c.seed), c.expected)
        << '"' << c.bytes << "\" seed " << c.seed;
  }
  // The default seed is the runtime's own.
  EXPECT_EQ(hashtable::murmur3("Hello, world!", 13), 0x24884CBAu);
}

TEST(HashFunctions, Fmix32AndNextPowerOf2) {
  EXPECT_EQ(hashtable::fmix32(0), 0u);
  EXPECT_EQ(hashtable::fmix32(1), 0x514E28B7u);
  EXPECT_EQ(hashtable::fmix32(2), 0x30F4C306u);

  const std::pair<uint32_t, uint32_t> powers[] = {
      {1, 1}, {2, 2}, {3, 4}, {4, 4}, {5, 8}, {129, 256}, {256, 256}, {10389, 16384},
      {0x40000001, 0x80000000}, {0x80000000, 0x80000000},
  };
  for (const auto& [n, expected] : powers) EXPECT_EQ(hashtable::next_power_of_2(n), expected) << n;
}

TEST(HashFunctions, HashNameFoldsAsciiLettersOnly) {
  const uint32_t foo = hashtable::hash_name("foo");
  EXPECT_EQ(hashtable::hash_name("Foo"), foo);
  EXPECT_EQ(hashtable::hash_name("FOO"), foo);
  EXPECT_EQ(foo, hashtable::murmur3("foo", 3));
  EXPECT_NE(hashtable::hash_name("fop"), foo);
  // Non-letters next to the letter range are not folded.
  EXPECT_NE(hashtable::hash_name("@"), hashtable::hash_name("`"));
  EXPECT_NE(hashtable::hash_name("["), hashtable::hash_name("{"));
  // é and É differ beyond ASCII: they stay apart, while ASCII around them folds.
  EXPECT_NE(hashtable::hash_name("\xC3\xA9"), hashtable::hash_name("\xC3\x89"));
  EXPECT_EQ(hashtable::hash_name("x\xC3\xA9Y"), hashtable::hash_name("X\xC3\xA9y"));
  EXPECT_EQ(hashtable::hash_name(""), hashtable::murmur3("", 0));
}

// ---- hashing values ----

class HashValue : public testing::RuntimeTest {};

TEST_F(HashValue, NoneAndUnsetHaveFixedHashes) {
  for (const bool case_sensitive : {false, true}) {
    EXPECT_EQ(hashtable::hash_value(Cell{cell::header(TypeId::none), 1, 2, 3}, case_sensitive), 0xFFFFFFFFu);
    EXPECT_EQ(hashtable::hash_value(Cell{cell::header(TypeId::unset), 1, 2, 3}, case_sensitive), 0xFFFFFFFEu);
  }
}

TEST_F(HashValue, WordsHashTheirCanonicalSymbol) {
  const Cell foo = word_of("Foo");
  const Cell variants[] = {word_of("foo"), word_of("FOO"), word_of("fOo")};
  const uint32_t expected = hashtable::hash_value(foo, false);
  for (const Cell& variant : variants) {
    ASSERT_NE(variant.w2, foo.w2);  // distinct symbols, one canonical
    for (const TypeId type : {TypeId::word, TypeId::set_word, TypeId::lit_word, TypeId::get_word,
                              TypeId::refinement, TypeId::issue}) {
      EXPECT_EQ(hashtable::hash_value(retyped(variant, type), false), expected) << static_cast<int>(type);
      EXPECT_EQ(hashtable::hash_value(retyped(variant, type), true), expected) << static_cast<int>(type);
    }
  }
  EXPECT_NE(hashtable::hash_value(word_of("bar"), false), expected);
}

TEST_F(HashValue, SymbolCellsHashLikeTheirInterningName) {
  // The symbol index is rebuilt from symbol cells but probed with names.
  for (const std::string_view name : {"Alpha", "BETA", "gamma", "x\xC3\x89y"}) {
    const uint32_t id = symbol::make(name);
    const Cell symbol_cell = cells_of(symbol::table())[id - 1];
    EXPECT_EQ(hashtable::hash_value(symbol_cell, false), hashtable::hash_name(name)) << name;
  }
}

TEST_F(HashValue, EqualNumbersHashAlike) {
  using testing::number;
  Cell other_nan = number(TypeId::float_, std::nan(""));
  other_nan.w2 ^= 0x1234;  // another quiet NaN payload
  ASSERT_TRUE(std::isnan(cell::get_double(other_nan)));

  for (const TypeId type : {TypeId::float_, TypeId::percent, TypeId::time}) {
    const uint32_t zero = hashtable::hash_value(number(type, 0.0), false);
    EXPECT_EQ(hashtable::hash_value(number(type, -0.0), false), zero);
    EXPECT_NE(hashtable::hash_value(number(type, 1.0), false), hashtable::hash_value(number(type, 2.0), false));
    EXPECT_NE(hashtable::hash_value(number(type, 1.0), false), zero);
    EXPECT_EQ(hashtable::hash_value(retyped(other_nan, type), false),
              hashtable::hash_value(number(type, std::nan("")), false));
  }
}

TEST_F(HashValue, RulesByPayloadWord) {
  struct Case {
    Cell value;
    uint32_t expected;
  };
  const Case cases[] = {
      // logic! and datatype! by w1 alone.
      {Cell{cell::header(TypeId::logic), 1, 0xDEAD, 0xBEEF}, hashtable::fmix32(1)},
      {Cell{cell::header(TypeId::logic), 0, 7, 7}, hashtable::fmix32(0)},
      {datatype::make(TypeId::block), hashtable::fmix32(static_cast<uint32_t>(TypeId::block))},
      {Cell{cell::header(TypeId::datatype), 4, 99, 99}, hashtable::fmix32(4)},
      // Types without a rule answer 0.
      {Cell{cell::header(TypeId::context), 1, 2, 3}, 0},
      {Cell{cell::header(TypeId::bitset), 1, 2, 3}, 0},
      {Cell{cell::header(TypeId::vector), 1, 2, 3}, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hashtable::hash_value(c.value, false), c.expected) << static_cast<int>(cell::type_of(c.value));
  }
  EXPECT_NE(hashtable::hash_value(datatype::make(TypeId::block), false),
            hashtable::hash_value(datatype::make(TypeId::paren), false));
}

// Strings hash their code points folded as string equality folds them (to
// lower case), so that every pair that compares equal hashes alike: "İ"
// (U+0130) equals "i", and the Kelvin sign equals k though its upper case
// is not K.
TEST_F(HashValue, StringsHashTheirCodePointsFolded) {
  Val lower = string::push_new(8);
  string::append_latin1(lower, "abc");
  Val upper = string::push_new(8);
  string::append_latin1(upper, "xABC");
  upper->w1 = 1;  // from the head index on
  const uint32_t code_points[] = {'a', 'b', 'c'};
  const uint32_t expected = hashtable::murmur3(code_points, sizeof code_points);
  EXPECT_EQ(hashtable::hash_value(*lower, false), expected);
  EXPECT_EQ(hashtable::hash_value(*upper, false), expected);
  EXPECT_EQ(hashtable::hash_value(*lower, true), expected);
  EXPECT_NE(hashtable::hash_value(*upper, true), expected);
  Val dotted = string::push_new(8);
  string::append_char(dotted, 0x130);
  Val plain = string::push_new(8);
  string::append_latin1(plain, "i");
  ASSERT_EQ(string::compare_values(*dotted, *plain, CmpOp::equal, false), 0);
  EXPECT_EQ(hashtable::hash_value(*dotted, false), hashtable::hash_value(*plain, false));

  Val kelvin = string::push_new(8);
  string::append_utf8(kelvin, "\u212A");
  Val k = string::push_new(8);
  string::append_latin1(k, "K");
  ASSERT_EQ(compare::dispatch(*kelvin, *k, CmpOp::equal), 0);
  EXPECT_EQ(hashtable::hash_value(*kelvin, false), hashtable::hash_value(*k, false));
}

// ---- sizing ----

class HashTableSizing : public testing::RuntimeTest {};

TEST_F(HashTableSizing, BucketsAndUpperBoundFollowTheRequestedSize) {
  struct Case {
    Kind kind;
    uint32_t size;
    int32_t buckets;
    int32_t upper;
  };
  const Case cases[] = {
      {Kind::hash, 0, 8, 6},          {Kind::hash, 1, 8, 6},          {Kind::map, 2, 8, 6},
      {Kind::symbols, 3, 8, 6},       {Kind::hash, 4, 8, 6},          {Kind::map, 7, 16, 12},
      {Kind::hash, 16, 32, 24},       {Kind::hash, 100, 256, 197},    {Kind::ownership, 1000, 2048, 1576},
      {Kind::symbols, 3999, 8192, 6307},  // below the doubling threshold
      {Kind::symbols, 4000, 16384, 12615},
      {Kind::map, 4000, 8192, 6307},  {Kind::hash, 4000, 8192, 6307},
  };
  for (const Case& c : cases) {
    const uint32_t extra = c.kind >= Kind::node_keyed ? 3 : 0;
    const NodeId table = testing::hold(hashtable::make(c.size, no_node, 0, c.kind, extra));
    const hashtable::Record& rec = hashtable::record(table);
    EXPECT_EQ(rec.buckets, c.buckets) << "kind " << static_cast<int>(c.kind) << " size " << c.size;
    EXPECT_EQ(rec.upper, c.upper) << "kind " << static_cast<int>(c.kind) << " size " << c.size;
    EXPECT_EQ(rec.size, 0);
    EXPECT_EQ(rec.occupied, 0);
    EXPECT_EQ(rec.kind, static_cast<int32_t>(c.kind));
    EXPECT_EQ(length_of(rec.data), 0u);
  }
}

// ---- symbol stores ----

class HashSymbolStore : public testing::RuntimeTest {};

TEST_F(HashSymbolStore, GrowsPastTheUpperBoundKeepingEveryKey) {
  const NodeId table = testing::hold(hashtable::make(0, testing::hold(memory::new_cell_series(4)), 0, Kind::symbols));
  constexpr int count = 200;
  for (int i = 0; i < count; ++i) EXPECT_EQ(add(table, word_of(numbered("key-", i))), static_cast<uint32_t>(i));
  EXPECT_EQ(size_of(table), count);
  EXPECT_GE(hashtable::record(table).buckets, 256);
  EXPECT_LT(hashtable::record(table).occupied, hashtable::record(table).upper);
  for (int i = 0; i < count; ++i) EXPECT_EQ(hashtable::get(table, word_of(numbered("key-", i))), i) << i;
  EXPECT_EQ(hashtable::get(table, word_of("absent")), -1);

  // A key already present is not added again.
  add(table, word_of("key-17"));
  EXPECT_EQ(size_of(table), count);
  EXPECT_EQ(hashtable::get(table, word_of("key-17")), 17);

  // A case variant is another key for insertion; lookups are caseless
  // unless asked to be strict.
  const uint32_t variant = add(table, word_of("KEY-17"));
  EXPECT_EQ(size_of(table), count + 1);
  EXPECT_EQ(hashtable::get(table, word_of("KEY-17")), 17);
  EXPECT_EQ(hashtable::get(table, word_of("KEY-17"), {.op = CmpOp::strict_equal}), static_cast<int32_t>(variant));
}

// ---- map! ----

class HashMap : public testing::RuntimeTest {};

TEST_F(HashMap, RepeatedKeyKeepsTheLaterValueAtTheFirstPlace) {
  const Cell a = word_of("a");
  const Cell b = word_of("b");
  const NodeId block = cell_series({a, integer::make(1), b, integer::make(2), a, integer::make(3)});
  const NodeId table = testing::hold(hashtable::make(0, block, 0, Kind::map));

  ASSERT_EQ(length_of(block), 4u);
  const Cell* data = cells_of(block);
  EXPECT_EQ(data[0].header, cell::header(TypeId::set_word));
  EXPECT_EQ(data[0].w2, a.w2);
  EXPECT_EQ(data[1].w2, 3u);
  EXPECT_EQ(data[2].header, cell::header(TypeId::set_word));
  EXPECT_EQ(data[2].w2, b.w2);
  EXPECT_EQ(data[3].w2, 2u);
  EXPECT_EQ(size_of(table), 2);
}

TEST_F(HashMap, AnyWordKindFindsTheSameKey) {
  const Cell a = word_of("a");
  const NodeId table =
      testing::hold(hashtable::make(0, cell_series({a, integer::make(1), word_of("b"), integer::make(2)}), 0, Kind::map));
  for (const TypeId type : {TypeId::word, TypeId::lit_word, TypeId::set_word, TypeId::get_word})
    EXPECT_EQ(hashtable::get(table, retyped(a, type)), 0) << static_cast<int>(type);
  EXPECT_EQ(hashtable::get(table, word_of("A")), 0);  // caseless by default
  EXPECT_EQ(hashtable::get(table, word_of("A"), {.op = CmpOp::strict_equal}), -1);
  EXPECT_EQ(hashtable::get(table, word_of("b")), 2);
  EXPECT_EQ(hashtable::get(table, word_of("c")), -1);
  EXPECT_EQ(hashtable::get(table, retyped(a, TypeId::refinement)), -1);
}

TEST_F(HashMap, RemovedPairKeepsItsKeyIndexed) {
  const NodeId block = cell_series({word_of("a"), integer::make(1), word_of("b"), integer::make(2)});
  const NodeId table = testing::hold(hashtable::make(0, block, 0, Kind::map));
  hashtable::remove_key(table, 0);
  EXPECT_TRUE(hashtable::is_removed(cells_of(block)[1]));
  EXPECT_EQ(size_of(table), 1);
  EXPECT_EQ(hashtable::get(table, word_of("a")), 0);
  EXPECT_EQ(hashtable::get(table, word_of("b")), 2);
  EXPECT_EQ(length_of(block), 4u);
}

TEST_F(HashMap, GrowsWhileBuiltFromALargeBlock) {
  const NodeId block = testing::hold(memory::new_cell_series(8));
  constexpr int count = 60;
  for (int i = 0; i < count; ++i) {
    *series::append_slot(block) = word_of(numbered("k", i));
    *series::append_slot(block) = integer::make(i);
  }
  *series::append_slot(block) = word_of("k5");
  *series::append_slot(block) = integer::make(500);
  const NodeId table = testing::hold(hashtable::make(0, block, 0, Kind::map));

  EXPECT_EQ(size_of(table), count);
  EXPECT_EQ(length_of(block), 2u * count);
  EXPECT_GE(hashtable::record(table).buckets, 128);
  for (int i = 0; i < count; ++i) EXPECT_EQ(hashtable::get(table, word_of(numbered("k", i))), 2 * i) << i;
  EXPECT_EQ(cells_of(block)[11].w2, 500u);
}

TEST_F(HashMap, KeyOfAnUnusableTypeRaisesInvalidPath) {
  const Cell block_key{cell::header(TypeId::block), 0, testing::hold(memory::new_cell_series(1)), 0};
  const NodeId block = cell_series({word_of("a"), integer::make(1), block_key, integer::make(2)});
  const uint16_t code = testing::raised_error([&] { hashtable::make(0, block, 0, Kind::map); });
  EXPECT_EQ(code, error_id::script::invalid_path.value);
  EXPECT_EQ(error::pending().args[0].w1, static_cast<uint32_t>(TypeId::block));
}

// ---- hash! ----

class HashSeries : public testing::RuntimeTest {};

TEST_F(HashSeries, DuplicateKeysFollowStartSkipAndDirection) {
  // [a b a a]: a at 0, 2, 3.
  const NodeId table = testing::hold(
      hashtable::make(4, cell_series({word_of("a"), word_of("b"), word_of("a"), word_of("a")}), 0, Kind::hash));
  EXPECT_EQ(size_of(table), 2);
  struct Case {
    std::string_view key;
    Lookup lookup;
    int32_t expected;
  };
  const Case cases[] = {
      {"a", {}, 0},
      {"a", {.start = 1}, 2},
      {"a", {.start = 1, .skip = 2}, 3},  // only 1, 3, ...
      {"a", {.start = 0, .skip = 2}, 0},
      {"a", {.start = 4}, -1},
      {"a", {.last = true}, 3},
      {"a", {.start = 2, .skip = 2, .last = true}, 2},
      {"a", {.end = 3, .last = true}, 2},  // only positions before the end
      {"a", {.start = 1, .end = 2}, -1},
      {"a", {.start = 4, .reverse = true}, 3},
      {"a", {.start = 3, .reverse = true}, 2},
      {"a", {.start = 3, .skip = 2, .reverse = true}, 2},
      {"a", {.start = 2, .skip = 2, .reverse = true}, -1},  // only 1, -1, ...
      {"a", {.start = 0, .reverse = true}, -1},
      {"b", {.start = 1, .skip = 2}, 1},
      {"b", {.start = 0, .skip = 2}, -1},
      {"B", {}, 1},
      {"c", {}, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hashtable::get(table, word_of(c.key), c.lookup), c.expected)
        << c.key << " start " << c.lookup.start << " skip " << c.lookup.skip << " last " << c.lookup.last
        << " end " << c.lookup.end << " reverse " << c.lookup.reverse;
  }
  // Unlike map!, a hash! tells the word kinds apart.
  EXPECT_EQ(hashtable::get(table, retyped(word_of("a"), TypeId::set_word)), -1);
  EXPECT_EQ(hashtable::get(table, retyped(word_of("a"), TypeId::lit_word)), -1);
}

TEST_F(HashSeries, RemovingDuplicatesOneByOne) {
  const NodeId table = testing::hold(
      hashtable::make(4, cell_series({word_of("a"), word_of("b"), word_of("a"), word_of("a")}), 0, Kind::hash));
  hashtable::remove_key(table, 2);
  EXPECT_EQ(hashtable::get(table, word_of("a"), {.start = 1}), 3);
  EXPECT_EQ(size_of(table), 2);
  hashtable::remove_key(table, 0);
  EXPECT_EQ(hashtable::get(table, word_of("a")), 3);
  EXPECT_EQ(size_of(table), 2);
  hashtable::remove_key(table, 3);
  EXPECT_EQ(hashtable::get(table, word_of("a")), -1);
  EXPECT_EQ(hashtable::get(table, word_of("b")), 1);
  EXPECT_EQ(size_of(table), 1);

  // The key comes back at a new position.
  const uint32_t position = add(table, word_of("a"));
  EXPECT_EQ(hashtable::get(table, word_of("a")), static_cast<int32_t>(position));
  EXPECT_EQ(size_of(table), 2);
}

TEST_F(HashSeries, RemoveRangeOfTheWholeBlockEmptiesTheTable) {
  const NodeId table =
      testing::hold(hashtable::make(4, cell_series({word_of("a"), word_of("b"), word_of("a")}), 0, Kind::hash));
  hashtable::remove_range(table, 0, 10);  // cut at the block's end
  EXPECT_EQ(size_of(table), 0);
  EXPECT_EQ(hashtable::record(table).occupied, 0);
  EXPECT_EQ(hashtable::get(table, word_of("a")), -1);
  EXPECT_EQ(hashtable::get(table, word_of("b")), -1);

  memory::buffer(data_of(table))->tail = memory::buffer(data_of(table))->head;
  add(table, word_of("b"));
  add(table, word_of("a"));
  EXPECT_EQ(hashtable::get(table, word_of("b")), 0);
  EXPECT_EQ(hashtable::get(table, word_of("a")), 1);
}

TEST_F(HashSeries, KeysFollowCellsInsertedAndRemoved) {
  const Cell a = word_of("a"), b = word_of("b"), c = word_of("c"), x = word_of("x"), y = word_of("y");
  const NodeId table = testing::hold(hashtable::make(4, cell_series({a, b, c, a}), 0, Kind::hash));

  insert_cells(table, 1, {x, y});  // [a x y b c a]
  const std::pair<Cell, int32_t> inserted[] = {{a, 0}, {x, 1}, {y, 2}, {b, 3}, {c, 4}};
  for (const auto& [key, expected] : inserted) EXPECT_EQ(hashtable::get(table, key), expected);
  EXPECT_EQ(hashtable::get(table, a, {.start = 1}), 5);
  EXPECT_EQ(hashtable::get(table, a, {.last = true}), 5);

  // Position upkeep must also be right for later removals.
  hashtable::remove_key(table, 5);
  EXPECT_EQ(hashtable::get(table, a, {.last = true}), 0);
  hashtable::put_key(table, 5);

  remove_cells(table, 0, 2);  // [y b c a]
  const std::pair<Cell, int32_t> removed[] = {{y, 0}, {b, 1}, {c, 2}, {a, 3}, {x, -1}};
  for (const auto& [key, expected] : removed) EXPECT_EQ(hashtable::get(table, key), expected);
  EXPECT_EQ(size_of(table), 4);
  hashtable::remove_key(table, 1);
  EXPECT_EQ(hashtable::get(table, b), -1);
  EXPECT_EQ(hashtable::get(table, c), 2);
}

TEST_F(HashSeries, ShiftOfTooManyCellsIsLeftToARehash) {
  const NodeId table = testing::hold(hashtable::make(4, cell_series({word_of("a"), word_of("b")}), 0, Kind::hash));
  EXPECT_EQ(hashtable::shift_keys(table, 30001, 0, 5, true), 1);
  EXPECT_EQ(hashtable::get(table, word_of("a")), 0);
  EXPECT_EQ(hashtable::get(table, word_of("b")), 1);
  EXPECT_EQ(hashtable::shift_keys(table, 30000, 2, 0, false), 0);
}

TEST_F(HashSeries, GrowingOneKeyAtATime) {
  const NodeId table = testing::hold(hashtable::make(0, no_node, 0, Kind::hash));
  constexpr int keys = 100;
  // Each key three times: k0 k1 ... k99 k0 k1 ... k99 k0 ...
  for (int round = 0; round < 3; ++round)
    for (int i = 0; i < keys; ++i) add(table, word_of(numbered("k", i)));
  EXPECT_EQ(size_of(table), keys);
  EXPECT_GE(hashtable::record(table).buckets, 128);
  for (int i = 0; i < keys; ++i) {
    const Cell key = word_of(numbered("k", i));
    EXPECT_EQ(hashtable::get(table, key), i);
    EXPECT_EQ(hashtable::get(table, key, {.start = static_cast<uint32_t>(i + 1)}), keys + i);
    EXPECT_EQ(hashtable::get(table, key, {.last = true}), 2 * keys + i);
  }
  // Every position is still known to the table: removal works.
  for (int i = 0; i < keys; i += 2)
    for (int round = 0; round < 3; ++round) hashtable::remove_key(table, static_cast<uint32_t>(round * keys + i));
  EXPECT_EQ(size_of(table), keys / 2);
  for (int i = 0; i < keys; ++i)
    EXPECT_EQ(hashtable::get(table, word_of(numbered("k", i))), i % 2 == 0 ? -1 : i) << i;
}

TEST_F(HashSeries, AddingABatchOfCellsGrowsEnough) {
  const NodeId table = testing::hold(hashtable::make(0, no_node, 0, Kind::hash));
  constexpr int keys = 100;
  for (int i = 0; i < keys; ++i) *series::append_slot(data_of(table)) = word_of(numbered("k", i));
  hashtable::put_all(table, 0, 1);
  EXPECT_EQ(size_of(table), keys);
  EXPECT_LT(hashtable::record(table).occupied, hashtable::record(table).upper);
  for (int i = 0; i < keys; ++i) {
    const Cell key = word_of(numbered("k", i));
    EXPECT_EQ(hashtable::get(table, key), i) << i;
    EXPECT_EQ(hashtable::get(table, key, {.last = true}), i) << i;  // no position twice
  }
  for (int i = 0; i < keys; ++i) hashtable::remove_key(table, static_cast<uint32_t>(i));
  EXPECT_EQ(size_of(table), 0);
  for (int i = 0; i < keys; ++i) EXPECT_EQ(hashtable::get(table, word_of(numbered("k", i))), -1) << i;
}

TEST_F(HashSeries, ClearEmptiesTableAndBlock) {
  const NodeId table =
      testing::hold(hashtable::make(4, cell_series({word_of("a"), word_of("a"), word_of("b")}), 0, Kind::hash));
  hashtable::clear(table);
  EXPECT_EQ(size_of(table), 0);
  EXPECT_EQ(length_of(data_of(table)), 0u);
  EXPECT_EQ(hashtable::get(table, word_of("a")), -1);
  add(table, word_of("b"));
  add(table, word_of("b"));
  EXPECT_EQ(hashtable::get(table, word_of("b"), {.last = true}), 1);
  EXPECT_EQ(hashtable::get(table, word_of("a")), -1);
  hashtable::remove_key(table, 0);
  EXPECT_EQ(hashtable::get(table, word_of("b")), 1);
}

TEST_F(HashSeries, CopyIsIndependentOfTheOriginal) {
  const NodeId block = cell_series({word_of("a"), word_of("b"), word_of("a")});
  const NodeId table = testing::hold(hashtable::make(4, block, 0, Kind::hash));
  const NodeId copy = testing::hold(hashtable::copy(table, testing::hold(memory::copy_series(block))));
  hashtable::remove_key(copy, 0);
  hashtable::remove_key(copy, 1);
  EXPECT_EQ(hashtable::get(copy, word_of("a")), 2);
  EXPECT_EQ(hashtable::get(copy, word_of("b")), -1);
  EXPECT_EQ(hashtable::get(table, word_of("a")), 0);
  EXPECT_EQ(hashtable::get(table, word_of("a"), {.last = true}), 2);
  EXPECT_EQ(hashtable::get(table, word_of("b")), 1);
}

// ---- node-keyed tables ----

class HashNodeTable : public testing::RuntimeTest {
 protected:
  static constexpr uint32_t extra = 3;
  static constexpr uint32_t cells_per_entry = extra + 1;

  NodeId table_ = no_node;
  std::vector<NodeId> keys_;

  void SetUp() override {
    RuntimeTest::SetUp();
    table_ = testing::hold(hashtable::make(4, no_node, 0, Kind::ownership, extra));
  }
  NodeId key(size_t i) {
    while (keys_.size() <= i) keys_.push_back(testing::hold(memory::new_byte_series(1)));
    return keys_[i];
  }
  void put(size_t i) {
    const uint32_t entry = hashtable::put_node(table_, key(i));
    Cell* cells = hashtable::entry_cells(table_, entry);
    for (uint32_t k = 0; k < extra; ++k) cells[k] = integer::make(static_cast<int32_t>(i * 10 + k));
  }
  // Whether key i is found with the cells written by `put`.
  ::testing::AssertionResult holds(size_t i) {
    const int32_t entry = hashtable::get_node(table_, key(i));
    if (entry < 0) return ::testing::AssertionFailure() << "key " << i << " not found";
    const Cell* cells = hashtable::entry_cells(table_, static_cast<uint32_t>(entry));
    for (uint32_t k = 0; k < extra; ++k)
      if (cells[k].w2 != i * 10 + k) return ::testing::AssertionFailure() << "key " << i << " cell " << k;
    return ::testing::AssertionSuccess();
  }
};

TEST_F(HashNodeTable, PutGetRemove) {
  put(0);
  put(1);
  EXPECT_EQ(size_of(table_), 2);
  EXPECT_TRUE(holds(0));
  EXPECT_TRUE(holds(1));
  EXPECT_EQ(hashtable::get_node(table_, key(2)), -1);

  // Putting a present key answers its entry and keeps its cells.
  const auto entry = static_cast<uint32_t>(hashtable::get_node(table_, key(1)));
  EXPECT_EQ(hashtable::put_node(table_, key(1)), entry);
  EXPECT_TRUE(holds(1));
  EXPECT_EQ(size_of(table_), 2);

  EXPECT_EQ(hashtable::remove_node(table_, key(1)), static_cast<int32_t>(entry));
  EXPECT_EQ(hashtable::get_node(table_, key(1)), -1);
  EXPECT_EQ(hashtable::remove_node(table_, key(1)), -1);
  EXPECT_EQ(size_of(table_), 1);
  EXPECT_TRUE(holds(0));
}

TEST_F(HashNodeTable, EntriesKeepTheirCellsAcrossGrowth) {
  constexpr size_t count = 50;
  for (size_t i = 0; i < count; ++i) put(i);
  EXPECT_EQ(size_of(table_), static_cast<int32_t>(count));
  EXPECT_GE(hashtable::record(table_).buckets, 64);
  for (size_t i = 0; i < count; ++i) EXPECT_TRUE(holds(i));

  for (size_t i = 0; i < count; i += 3) EXPECT_GE(hashtable::remove_node(table_, key(i)), 0);
  for (size_t i = count; i < 3 * count; ++i) put(i);  // grows again
  for (size_t i = 0; i < 3 * count; ++i) {
    if (i < count && i % 3 == 0) EXPECT_EQ(hashtable::get_node(table_, key(i)), -1) << i;
    else EXPECT_TRUE(holds(i));
  }
  EXPECT_EQ(size_of(table_), static_cast<int32_t>(3 * count - (count + 2) / 3));
}

TEST_F(HashNodeTable, GrowthDropsRemovedEntries) {
  // Five entries, four of them removed; then new ones until the table
  // reaches its upper bound and is rebuilt. (Whether a new key lands in a
  // removed entry's bucket depends on the node ids, so count puts rather
  // than predict the one that rebuilds.)
  for (size_t i = 0; i < 5; ++i) put(i);
  for (size_t i = 0; i < 4; ++i) hashtable::remove_node(table_, key(i));
  size_t next = 5;
  while (length_of(data_of(table_)) >= (next - 1) * cells_per_entry && next < 40) put(next++);
  const size_t live = next - 4;
  ASSERT_LT(next, 40u) << "the table never rebuilt";
  EXPECT_EQ(size_of(table_), static_cast<int32_t>(live));
  EXPECT_EQ(length_of(data_of(table_)), live * cells_per_entry) << "the rebuilt block holds live entries only";
  for (size_t i = 4; i < next; ++i) EXPECT_TRUE(holds(i));
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(hashtable::get_node(table_, key(i)), -1);
}

// ---- the symbol index ----

class HashSymbolIndex : public testing::RuntimeTest {
 protected:
  // Interns fresh names until the symbol index has grown.
  std::vector<uint32_t> grow_index() {
    const hashtable::Record before = hashtable::record(symbol::index());
    const int32_t count = before.upper - before.occupied + 10;
    std::vector<uint32_t> ids;
    for (int32_t i = 0; i < count; ++i) ids.push_back(symbol::make(numbered("name-", i)));
    EXPECT_GT(hashtable::record(symbol::index()).buckets, before.buckets);
    return ids;
  }
};

TEST_F(HashSymbolIndex, IdsSurviveGrowth) {
  const uint32_t early = symbol::make("early");
  const std::vector<uint32_t> ids = grow_index();
  const uint32_t symbols = symbol::count();
  for (size_t i = 0; i < ids.size(); ++i) ASSERT_EQ(symbol::make(numbered("name-", static_cast<int>(i))), ids[i]) << i;
  EXPECT_EQ(symbol::make("early"), early);
  EXPECT_EQ(symbol::make_caseless("NAME-5"), ids[5]);
  EXPECT_EQ(symbol::count(), symbols);  // nothing new interned
  EXPECT_EQ(hashtable::record(symbol::index()).size, static_cast<int32_t>(symbols));
}

TEST_F(HashSymbolIndex, CaseVariantsAliasTheCanonicalSymbol) {
  // A name whose probe starts in the index's last bucket: its second
  // variant wraps round to bucket 0, so growth re-adds that variant ahead
  // of the canonical symbol.
  const auto last_bucket = static_cast<uint32_t>(hashtable::record(symbol::index()).buckets - 1);
  std::string name;
  for (int i = 0; name.empty(); ++i)
    if ((hashtable::hash_name(numbered("alias-", i)) & last_bucket) == last_bucket) name = numbered("alias-", i);
  std::string upper_case = name, mixed_case = name;
  for (char& c : upper_case) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  mixed_case[0] = upper_case[0];

  const uint32_t canonical = symbol::make(name);
  const uint32_t second = symbol::make(upper_case);
  EXPECT_NE(second, canonical);
  EXPECT_EQ(symbol::alias_of(canonical), symbol::canonical);
  EXPECT_EQ(symbol::alias_of(second), canonical);
  grow_index();

  const uint32_t third = symbol::make(mixed_case);
  EXPECT_NE(third, canonical);
  EXPECT_NE(third, second);
  EXPECT_EQ(symbol::alias_of(third), canonical);
  EXPECT_EQ(symbol::make(upper_case), second);
  EXPECT_EQ(symbol::make(mixed_case), third);
  EXPECT_EQ(symbol::make(name), canonical);
  const uint32_t any = symbol::make_caseless(name);
  EXPECT_TRUE(any == canonical || any == second || any == third) << any;

  // Letters beyond ASCII in another case make another canonical symbol.
  const uint32_t lower = symbol::make("caf\xC3\xA9");
  const uint32_t upper = symbol::make("caf\xC3\x89");
  EXPECT_NE(lower, upper);
  EXPECT_EQ(symbol::alias_of(upper), symbol::canonical);
}

}  // namespace
}  // namespace kiv
