// find, select and the set operations on a hash!, through its table,
// against the same calls on the plain block (which scan): both must agree.
// The hash! values here are made by hand (a block cell retyped, with a
// table over its cells in payload word 3), as hash! itself would make them.
#include "runtime/datatypes/block_search.h"

#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/set_operations.h"
#include "runtime/hashtable.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

// The same cells seen as a plain block (mold shows a hash! as one).
Cell as_block(Cell value) {
  value.w3 = 0;
  return cell::set_type(value, TypeId::block);
}

class BlockSearch : public testing::RuntimeTest {
 protected:
  // A hash! over the cells of a new block made from `text`, at `index`.
  Cell hashed(std::string_view text, uint32_t index = 0) {
    Cell block = testing::value_of(text);
    testing::hold(series::node_of(block));
    const NodeId table = testing::hold(
        hashtable::make(memory::buffer(series::node_of(block))->length(), series::node_of(block), 0, hashtable::Kind::hash));
    block.w1 = index;
    block.w3 = table;
    return cell::set_type(block, TypeId::hash);
  }

  // The mold of what find (or select) answers for `series`.
  std::string search(const Cell& series, std::string_view value, const FindOptions& options, bool selecting = false) {
    Val result = stack::push(series);
    Val wanted = stack::push(testing::value_of(value));
    if (selecting) block_search::select(result, wanted, options);
    else block_search::find(result, wanted, options);
    // The position, so that equal cells at different places differ.
    std::string shown = cell::is(*result, TypeId::hash) || cell::is(*result, TypeId::block)
                            ? std::to_string(result->w1) + " " + testing::molded(as_block(*result))
                            : testing::molded(*result);
    stack::pop(2);
    return shown;
  }
};

TEST_F(BlockSearch, HashAndBlockAgree) {
  struct Case {
    uint32_t index;
    std::string_view value;  // Kiv text of the value looked for
    FindOptions options;
  };
  const Case cases[] = {
      {0, "'b", {}},
      {0, "'a", {.last = true}},
      {2, "'a", {.last = true}},
      {5, "'a", {.reverse = true}},
      {4, "'a", {.reverse = true}},
      {0, "'a", {.reverse = true}},
      {0, "'A", {}},
      {0, "'A", {.case_ = true}},
      {0, "'a", {.tail = true}},
      {0, "1", {}},
      {0, "1.0", {}},
      {0, "\"s\"", {}},
      {0, "\"S\"", {.case_ = true}},
      {1, "'a", {}},
      {0, "'c", {}},
  };
  const Cell hash = hashed("[a 1 b 2 a 3 A 4 \"s\" 5 a]");
  for (const Case& c : cases) {
    Cell at = hash;
    at.w1 = c.index;
    const Cell plain = as_block(at);
    EXPECT_EQ(search(at, c.value, c.options), search(plain, c.value, c.options)) << c.value << " at " << c.index;
    EXPECT_EQ(search(at, c.value, c.options, true), search(plain, c.value, c.options, true)) << c.value << " at " << c.index;
  }
}

TEST_F(BlockSearch, HashRecordsAndPartAgree) {
  const Cell hash = hashed("[a b b a a c b a]");
  Val skip2 = stack::push(testing::value_of("2"));
  Val part3 = stack::push(testing::value_of("3"));
  const FindOptions options[] = {
      {.skip = skip2},
      {.skip = skip2, .last = true},
      {.skip = skip2, .reverse = true},
      {.part = part3},
      {.part = part3, .last = true},
      {.part = part3, .reverse = true},
  };
  for (const uint32_t index : {0u, 1u, 4u, 7u}) {
    for (const FindOptions& o : options) {
      for (const std::string_view value : {"'a", "'b", "'c"}) {
        Cell at = hash;
        at.w1 = index;
        const Cell plain = as_block(at);
        EXPECT_EQ(search(at, value, o), search(plain, value, o))
            << value << " at " << index << " skip " << o.skip.has_value() << " part " << o.part.has_value()
            << " last " << o.last << " reverse " << o.reverse;
      }
    }
  }
}

TEST_F(BlockSearch, SetOperationsUseAHashAndAnswerOne) {
  Val plain = stack::push(testing::value_of("[a b c a d]"));
  Val hash = stack::push(hashed("[d b x]"));
  Val both = stack::push(set_operations::on_blocks(plain, hash, typeset::SetOp::intersect, false, 1));
  EXPECT_TRUE(cell::is(*both, TypeId::hash));
  EXPECT_EQ(testing::molded(as_block(*both)), "[b d]");
  // The answer's table finds its keys.
  Val answer = stack::push(*both);
  Val key = stack::push(testing::value_of("'d"));
  block_search::find(answer, key, {});
  EXPECT_EQ(answer->w1, 1u);
  // A hash! made of records indexes every cell, keys or not.
  Val records = stack::push(set_operations::on_blocks(plain, hash, typeset::SetOp::union_, false, 2));
  EXPECT_EQ(testing::molded(as_block(*records)), "[a b c a d x]");
  Val value = stack::push(testing::value_of("'b"));
  block_search::find(records, value, {});
  EXPECT_EQ(records->w1, 1u);
  const Cell unique = set_operations::on_blocks(plain, plain, typeset::SetOp::unique, false, 1);
  EXPECT_TRUE(cell::is(unique, TypeId::block));
  Val left = stack::push(set_operations::on_blocks(plain, hash, typeset::SetOp::exclude, false, 1));
  EXPECT_EQ(testing::molded(as_block(*left)), "[a c]");
}

}  // namespace
}  // namespace kiv
