// Triples from C++: no script makes one (the parse engine does), so their
// text is tested here.
#include <gtest/gtest.h>

#include <cstdint>

#include "runtime/datatypes/triple.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

class Triple : public testing::RuntimeTest {};

TEST_F(Triple, KeepsThreeSignedIntegers) {
  const Cell value = triple::make(INT32_MIN, -2, INT32_MAX);
  EXPECT_EQ(triple::first(value), INT32_MIN);
  EXPECT_EQ(triple::second(value), -2);
  EXPECT_EQ(triple::third(value), INT32_MAX);
}

// Form and mold write the same text and lower the budget by its length.
TEST_F(Triple, FormsAndMoldsAlike) {
  struct Case {
    Cell value;
    const char* text;
  };
  const Case cases[] = {
      {triple::make(1, -2, 3), "make triple! [1 -2 3]"},
      {triple::make(INT32_MIN, INT32_MIN, INT32_MIN), "make triple! [-2147483648 -2147483648 -2147483648]"},
      {triple::make(0, 0, 0), "make triple! [0 0 0]"},
  };
  for (const Case& c : cases) {
    const testing::Text formed = testing::form_of(c.value, 100);
    const testing::Text molded = testing::mold_of(c.value, {}, 100);
    EXPECT_EQ(formed.text, c.text);
    EXPECT_EQ(molded.text, c.text);
    EXPECT_EQ(molded.budget, 100 - static_cast<int32_t>(std::string(c.text).size())) << c.text;
  }
  EXPECT_EQ(testing::molded(triple::make(4, 5, 6)), "make triple! [4 5 6]");
}

}  // namespace
}  // namespace kiv
