// hash! from C++: after every block action a hash! goes through, its table
// must index each cell once, at its position (hashtable::check_positions).
// Scripts cannot see the table itself; what they see of a hash! is in
// tests/kiv/datatypes/hash.kiv.
#include <gtest/gtest.h>

#include <string>

#include "runtime/hashtable.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

using testing::eval_molded;
using testing::value_of;

class HashTables : public testing::RuntimeTest {
 protected:
  // "" when the hash! that `name` holds has its table in step.
  static std::string fault_of(std::string_view name) {
    const Cell hash = value_of(name);  // held by its word
    if (!cell::is(hash, TypeId::hash)) return std::string(name) + " is no hash!";
    if (hash.w3 == no_node) return std::string(name) + " has no table";
    return hashtable::check_positions(hash.w3);
  }
};

struct Case {
  const char* code;  // runs with h: make hash! [a b c a d b a] and g: make hash! [x a y]
  const char* h;     // the mold of h afterwards
};

TEST_F(HashTables, EveryBlockActionKeepsTheTableInStep) {
  const Case cases[] = {
      {"append h 'e", "make hash! [a b c a d b a e]"},
      {"append/dup h [x a] 3", "make hash! [a b c a d b a x a x a x a]"},
      {"insert h 'a", "make hash! [a a b c a d b a]"},
      {"insert at h 3 [q a q]", "make hash! [a b q a q c a d b a]"},
      {"insert/part at h 5 [x y z] 2", "make hash! [a b c a x y d b a]"},
      {"change h 'z", "make hash! [z b c a d b a]"},
      {"change at h 2 [x y z w]", "make hash! [a x y z w b a]"},
      {"change/part at h 2 'q 4", "make hash! [a q b a]"},
      {"change/part h [a a a] 1", "make hash! [a a a b c a d b a]"},
      {"remove h", "make hash! [b c a d b a]"},
      {"remove/part at h 3 3", "make hash! [a b b a]"},
      {"take h", "make hash! [b c a d b a]"},
      {"take/last h", "make hash! [a b c a d b]"},
      {"take/part at h 2 3", "make hash! [a d b a]"},
      {"take/part at h 4 -2", "make hash! [a a d b a]"},
      {"take/last/part h 3", "make hash! [a b c a]"},
      {"clear h", "make hash! []"},
      {"clear at h 4", "make hash! [a b c]"},
      {"poke h 2 'a", "make hash! [a a c a d b a]"},
      {"poke h 7 'z", "make hash! [a b c a d b z]"},
      {"h/3: 'b", "make hash! [a b b a d b a]"},
      {"h/c: 'q", "make hash! [a b c q d b a]"},
      {"reverse h", "make hash! [a b d a c b a]"},
      {"reverse/part at h 2 3", "make hash! [a a c b d b a]"},
      {"swap h at h 4", "make hash! [a b c a d b a]"},
      {"swap at h 2 at h 3", "make hash! [a c b a d b a]"},
      {"swap h g", "make hash! [x b c a d b a]"},
      {"swap h [z]", "make hash! [z b c a d b a]"},
      {"move h at h 4", "make hash! [b c a a d b a]"},
      {"move/part at h 5 h 2", "make hash! [d b a b c a a]"},
      {"move/part h tail h 2", "make hash! [c a d b a a b]"},
      {"move/part h g 2", "make hash! [c a d b a]"},
      {"move/part g h 2", "make hash! [x a a b c a d b a]"},
      {"move/part [p q] h 2", "make hash! [p q a b c a d b a]"},
      {"h: make hash! reduce ['a none 'b none] trim h", "make hash! [a b]"},
      {"h: copy at h 3", "make hash! [c a d b a]"},
      {"h: copy/part h 3", "make hash! [a b c]"},
      {"h: copy h append h 'z", "make hash! [a b c a d b a z]"},
      {"h: make hash! 2 loop 50 [append h 'k append h 1]", nullptr},
      {"h: take/part h 4", "make hash! [a b c a]"},
  };
  for (const Case& c : cases) {
    value_of("h: make hash! [a b c a d b a] g: make hash! [x a y]");
    value_of(c.code);
    if (c.h) {
      EXPECT_EQ(eval_molded("h"), c.h) << c.code;
    }
    EXPECT_EQ(fault_of("h"), "") << c.code;
    EXPECT_EQ(fault_of("g"), "") << c.code;
  }
}

// Past 30,000 cells the positions behind a change are not shifted one by
// one: the table is built again.
TEST_F(HashTables, AChangeBeforeManyCellsRebuildsTheTable) {
  value_of("h: make hash! 40000 repeat i 40000 [append h i] insert h 'a remove next h");
  EXPECT_EQ(fault_of("h"), "");
  EXPECT_EQ(value_of("length? h").w2, 40000u);
}

}  // namespace
}  // namespace kiv
