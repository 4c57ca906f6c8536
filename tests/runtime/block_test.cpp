// block! and paren! from C++: where mold's walk stops when its budget is
// spent, and the comparison a block has with no other type. What scripts
// reach (the series actions, mold and form, comparison) is in
// tests/kiv/datatypes/block.kiv.
#include <gtest/gtest.h>

#include "tests/runtime/series_fixture.h"

namespace kiv {
namespace {

using testing::blk;
using testing::letters;
using testing::molded;

class Blocks : public testing::RuntimeTest {};

// The walk stops once the budget is spent (`mold/part` then cuts the text).
TEST_F(Blocks, MoldStopsWhenItsBudgetIsSpent) {
  EXPECT_EQ(molded(letters("abcdef"), {}, 5), "[a b c]");
}

TEST_F(Blocks, NoComparisonWithAParen) {
  EXPECT_EQ(datatype::actions(TypeId::block).compare(letters("a"), blk({}, TypeId::paren), CmpOp::equal), -2);
}

}  // namespace
}  // namespace kiv
