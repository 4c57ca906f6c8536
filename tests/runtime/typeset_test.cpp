// Typesets from C++: the sort order, which no script reaches before blocks
// sort.
#include <gtest/gtest.h>

#include <initializer_list>

#include "runtime/datatypes/typeset.h"
#include "runtime/eval/compare.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

class Typeset : public testing::RuntimeTest {};

Cell set_of(std::initializer_list<TypeId> types) {
  Cell set = typeset::make_empty();
  for (TypeId type : types) typeset::add(set, type);
  return set;
}

// Sorting goes by the number of types, whichever they are; equality needs
// the very same types.
TEST_F(Typeset, SortsByTheNumberOfTypes) {
  const Cell one = set_of({TypeId::string});
  const Cell two = set_of({TypeId::integer, TypeId::float_});
  const Cell other_two = set_of({TypeId::block, TypeId::word});
  EXPECT_EQ(compare::dispatch(one, two, CmpOp::sort), -1);
  EXPECT_EQ(compare::dispatch(two, one, CmpOp::sort), 1);
  EXPECT_EQ(compare::dispatch(two, other_two, CmpOp::sort), 0);
  EXPECT_NE(compare::dispatch(two, other_two, CmpOp::equal), 0);
  EXPECT_EQ(compare::dispatch(two, one, CmpOp::lesser), -2);
  // unique answers its first set as it is.
  EXPECT_EQ(compare::dispatch(typeset::do_bitwise(two, other_two, typeset::SetOp::unique), two, CmpOp::equal), 0);
}

}  // namespace
}  // namespace kiv
