// The ownership table from C++: what scripts cannot reach (releasing
// ownership of a series, the table's part in a collection).
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "runtime/core/collector.h"
#include "runtime/core/series.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/none.h"
#include "runtime/hashtable.h"
#include "runtime/ownership.h"
#include "tests/runtime/series_fixture.h"

namespace kiv {
namespace {

using testing::molded;
using testing::value_of;

class Ownership : public testing::RuntimeTest {
 protected:
  NodeId node_of(std::string_view expression) { return series::node_of(value_of(expression)); }
  bool flagged(NodeId node) { return (memory::buffer(node)->flags & series_flag::owned) != 0; }
  int32_t entries() { return hashtable::record(ownership::table()).size; }

  // An object `o` owning block `b` under field `x`; each report appends
  // the action word to `log`.
  void make_owner() {
    value_of(
        "log: copy [] b: copy [1 2]"
        " o: make object! [x: b on-deep-change*: func [owner word target action new index part] [append log action]]");
  }
};

TEST_F(Ownership, NotifyTellsOnlyTheOwnerOfAnOwnedSeries) {
  make_owner();
  Val owned = stack::push(value_of("b"));
  Val stranger = stack::push(value_of("copy [1 2]"));
  const Cell none = none::make();
  EXPECT_FALSE(ownership::notify(*stranger, ownership::Change::clear, false, none, 0, 2));
  // The owned flag alone, without an entry, tells nobody either.
  memory::buffer(series::node_of(*stranger))->flags |= series_flag::owned;
  EXPECT_FALSE(ownership::notify(*stranger, ownership::Change::clear, false, none, 0, 2));
  EXPECT_EQ(molded(value_of("log")), "[]");
  EXPECT_TRUE(ownership::notify(*owned, ownership::Change::clear, true, none, 0, 2));
  EXPECT_EQ(molded(value_of("log")), "[cleared]");
  stack::pop(2);
}

TEST_F(Ownership, SelfContainingBlockIsOwnedAndReleasedOnce) {
  value_of("b: copy [1] append/only b b append/only b reduce [b]");
  const int32_t before = entries();
  value_of("o: make object! [x: b on-deep-change*: func [owner word target action new index part] []]");
  const NodeId block = node_of("b");
  const NodeId nested = node_of("b/3");
  ASSERT_TRUE(ownership::owner_of(block).has_value());
  EXPECT_EQ(molded(ownership::owner_of(nested)->word), "x");
  EXPECT_EQ(entries(), before + 2);

  ownership::unset_deep(value_of("b"));
  EXPECT_FALSE(ownership::owner_of(block).has_value());
  EXPECT_FALSE(ownership::owner_of(nested).has_value());
  EXPECT_FALSE(flagged(block));
  EXPECT_FALSE(flagged(nested));
  EXPECT_EQ(entries(), before);
  EXPECT_EQ(cycle::depth(), 0u);
}

// The collector's pass, with hooks that say which nodes are alive.
std::set<NodeId> g_alive;
std::vector<NodeId> g_kept;
std::vector<Cell> g_marked;

TEST_F(Ownership, SweepDropsEntriesOfDeadSeriesAndDeadOwners) {
  value_of(
      "keep: copy [k] lost: copy [l] orphan: copy [p]"
      " handler: func [owner word target action new index part] []"
      " o1: make object! [a: keep b: lost on-deep-change*: :handler]"
      " o2: make object! [c: orphan on-deep-change*: :handler]");
  const NodeId keep = node_of("keep");
  const NodeId lost = node_of("lost");
  const NodeId orphan = node_of("orphan");
  g_alive = {keep, orphan, value_of("o1").w1};  // lost and o2 are garbage
  g_kept.clear();
  g_marked.clear();
  ownership::sweep_dead({[](NodeId node) { return g_alive.count(node) > 0; },
                         [](NodeId node) { g_kept.push_back(node); },
                         [](const Cell& value) { g_marked.push_back(value); }});

  EXPECT_TRUE(ownership::owner_of(keep).has_value());
  EXPECT_FALSE(ownership::owner_of(lost).has_value());
  EXPECT_FALSE(ownership::owner_of(orphan).has_value());
  // A series that outlived its owner can be owned again.
  EXPECT_FALSE(flagged(orphan));
  value_of("o3: make object! [d: orphan on-deep-change*: :handler]");
  EXPECT_EQ(molded(ownership::owner_of(orphan)->word), "d");

  EXPECT_EQ(g_kept.front(), ownership::table());
  const auto marked = [](NodeId node) {
    for (const Cell& value : g_marked)
      if (value.w1 == node || value.w2 == node) return true;
    return false;
  };
  EXPECT_TRUE(marked(keep));
  EXPECT_FALSE(marked(lost));
  EXPECT_FALSE(marked(orphan));
}

// The table holds no series alive: once the owner and its series are
// unreachable, a collection frees the series and forgets the entry.
TEST_F(Ownership, OwnedSeriesDieWithTheirOwner) {
  const int32_t before = entries();
  value_of(
      "o: make object! [x: copy [1 2] y: copy \"text\""
      " on-deep-change*: func [owner word target action new index part] []]");
  const NodeId block = node_of("o/x");
  EXPECT_EQ(entries(), before + 2);
  value_of("o: none");
  collector::collect();
  EXPECT_FALSE(memory::is_live_node(block) && flagged(block));
  EXPECT_EQ(entries(), before);
}

}  // namespace
}  // namespace kiv
