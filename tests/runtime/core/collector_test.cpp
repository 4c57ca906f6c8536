// The collector: what survives, what goes, and the heap checks of its
// stress mode. Every collection in these tests is verified (KIV_GC verify),
// so a damaged heap ends the test binary with a report.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "runtime/core/collector.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/handles.h"
#include "runtime/core/runtime_error.h"
#include "runtime/core/series.h"
#include "runtime/datatypes/block.h"
#include "runtime/hashtable.h"
#include "tests/runtime/series_fixture.h"

namespace kiv {
namespace {

using testing::eval_molded;
using testing::value_of;
using testing::str;

// A string that nothing keeps once made (`str` keeps its own to the end of
// the test): garbage, or a value that only the root under test holds.
// Collections run only when a test calls for them (the fixture below).
Cell loose(std::string_view utf8) {
  Val text = string::push_new(static_cast<uint32_t>(utf8.size()));
  string::append_utf8(text, utf8);
  const Cell made = *text;
  stack::pop(1);
  return made;
}

class Collector : public testing::RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    // These tests choose when collections run, whatever KIV_GC says; those
    // that want the collector switched on say so.
    runtime::state.collector_on = false;
    saved_ = collector::stress();
    collector::set_stress({.every = 0, .verify = true});
  }
  void TearDown() override {
    collector::set_stress(saved_);
    runtime::state.collector_on = false;
    RuntimeTest::TearDown();
  }

  // Strings that nothing keeps: the gaps that make live buffers move.
  static void garbage(int count) {
    for (int i = 0; i < count; ++i) loose(std::string(100, 'g'));
  }

 private:
  collector::StressOptions saved_;
};

const SeriesBuf* address(const Cell& series) { return memory::buffer(series::node_of(series)); }

TEST_F(Collector, EveryTypeIdHasAMarkingRule) {
  for (int id = 1; id < type_table_size; ++id) {
    const auto type = static_cast<TypeId>(id);
    if (!datatype::is_registered(type)) continue;
    EXPECT_NE(collector::rule_of(type), collector::Rule::unknown) << id;
  }
  EXPECT_EQ(collector::rule_of(TypeId::none_type), collector::Rule::unknown);
}

TEST_F(Collector, CyclicAndNestedDataSurvivesWithTheSameMold) {
  garbage(50);
  const std::vector<std::string> sources = {
      "b: [1 [2 [3 \"three\"]] x] append/only b b",
      "nested: [[[[[deep]]]] \"s\" (p a/b)]",
      "f: func [a /local c] [c: a * 2 reduce [c a \"local\"]]",
      "g: does [f 4]",
  };
  for (const std::string& source : sources) eval_molded(source);
  const std::vector<std::string> probes = {"b", "nested", ":f", ":g", "f 21", "g"};
  std::vector<std::string> before;
  for (const std::string& probe : probes) before.push_back(eval_molded(probe));
  ASSERT_EQ(before[0], "[1 [2 [3 \"three\"]] x [...]]");
  ASSERT_EQ(before[4], "[42 21 \"local\"]");

  Rooted<Cell> nested(value_of("nested"));
  const SeriesBuf* old_place = address(nested.get());

  // The first collection slides the data down over the garbage made before
  // it; the second must find it all again, every mark cleared.
  collector::collect();
  collector::collect();
  EXPECT_NE(address(nested.get()), old_place) << "the buffers did not move: the test shows nothing";
  for (size_t i = 0; i < probes.size(); ++i) EXPECT_EQ(eval_molded(probes[i]), before[i]) << probes[i];
}

// What only one kind of root holds must survive, and move, intact.
TEST_F(Collector, EachKindOfRootKeepsItsValue) {
  struct Case {
    const char* name;
    std::function<void(const Cell&)> hold;  // keeps the value in the root under test
    std::function<Cell()> get;
  };
  static Cell marker_cell{};
  const collector::Marker marker = [] { collector::mark_cell(marker_cell); };

  std::optional<Rooted<Cell>> cell_root;
  std::optional<Rooted<NodeId>> node_root;
  const std::vector<Case> cases = {
      {"a Rooted cell", [&](const Cell& v) { cell_root.emplace(v); }, [&] { return cell_root->get(); }},
      {"a Rooted node id", [&](const Cell& v) { node_root.emplace(series::node_of(v)); },
       [&] { return series::make(TypeId::string, node_root->get()); }},
      {"the argument stack", [](const Cell& v) { stack::push(v); }, [] { return *stack::last(); }},
      {"the pending error",
       [](const Cell& v) { (void)testing::raised_error([&] { error::raise(error_id::script::no_value, v); }); },
       [] { return error::pending().args[0]; }},
      {"a registered marker", [&](const Cell& v) { marker_cell = v; collector::register_marker(marker); },
       [] { return marker_cell; }},
  };
  for (const Case& c : cases) {
    garbage(20);
    const std::string text = std::string("held by ") + c.name;
    c.hold(loose(text));
    const SeriesBuf* old_place = address(c.get());
    garbage(20);
    collector::collect();
    EXPECT_NE(address(c.get()), old_place) << c.name;
    EXPECT_EQ(string::to_utf8(c.get()), text) << c.name;
  }
  collector::unregister_marker(marker);
}

TEST_F(Collector, DroppedDataIsReclaimed) {
  const std::string fill = "kept: copy [] loop 200 [append kept reduce [copy \"abc\" [a b c] copy [1 2]]]";
  eval_molded(fill);  // first run: the words and the natives' argument caches stay
  eval_molded("kept: none");
  const uint32_t depth = stack::depth();
  collector::collect();
  const size_t baseline = memory::in_use_bytes();
  const uint32_t nodes_before = memory::usage().node_frames[0].used_nodes;

  eval_molded(fill);
  stack::push(series::make(TypeId::string, memory::new_byte_series(memory::max_series_frame_size)));
  collector::collect();
  EXPECT_GT(memory::in_use_bytes(), baseline + memory::max_series_frame_size);
  EXPECT_EQ(memory::usage().big_buffers.size(), 1u);

  eval_molded("kept: none");
  stack::drop_to(depth);
  collector::collect();
  EXPECT_EQ(memory::in_use_bytes(), baseline);
  EXPECT_EQ(memory::usage().node_frames[0].used_nodes, nodes_before);
  EXPECT_TRUE(memory::usage().big_buffers.empty());
  EXPECT_EQ(collector::stats().in_use_after_last, baseline);
}

TEST_F(Collector, LiveDataPacksDownAndEmptiedFramesGoBack) {
  // Three frames or more: dropped strings with a few kept ones among them.
  Rooted<Cell> kept(block::make_new(8));
  for (int i = 0; i < 3000; ++i) {
    const Cell text = loose(std::string(1000, static_cast<char>('a' + i % 26)));
    if (i % 1000 == 999) block::append(kept.val(), text);
  }
  ASSERT_GE(memory::usage().series_frames.size(), 3u);
  collector::collect();
  EXPECT_EQ(memory::usage().series_frames.size(), 1u);
  ASSERT_EQ(block::count(kept.get()), 3u);
  for (uint32_t i = 0; i < 3; ++i)
    EXPECT_EQ(string::to_utf8(*block::at(kept.get(), i)), std::string(1000, static_cast<char>('a' + (999 + 1000 * i) % 26)));
}

// A hash table is a byte series whose record names other series: held only
// by its node id, it keeps its vectors and data block, and a node-keyed
// table the keys and cells of its live entries (not of removed ones).
TEST_F(Collector, HashTablesKeepWhatTheirRecordNames) {
  Rooted<NodeId> table(hashtable::make(4, no_node, 0, hashtable::Kind::node_keyed, 1));
  collector::collect();
  const size_t baseline = memory::in_use_bytes();

  garbage(20);
  const NodeId key = series::node_of(loose("the key"));
  const uint32_t entry = hashtable::put_node(table.get(), key);
  hashtable::entry_cells(table.get(), entry)[0] = loose("the value");
  const SeriesBuf* old_place = memory::buffer(key);
  garbage(20);
  collector::collect();
  EXPECT_NE(memory::buffer(key), old_place);
  EXPECT_EQ(string::to_utf8(series::make(TypeId::string, key)), "the key");
  ASSERT_EQ(hashtable::get_node(table.get(), key), static_cast<int32_t>(entry));
  EXPECT_EQ(string::to_utf8(hashtable::entry_cells(table.get(), entry)[0]), "the value");

  hashtable::remove_node(table.get(), key);
  collector::collect();
  EXPECT_EQ(memory::in_use_bytes(), baseline);
}

// Regression: a node-keyed table that rebuilds while collections run must
// keep the keys of the entries it has not copied yet, and none of its
// removed entries (cells of header 0) may reach the heap check.
TEST_F(Collector, NodeKeyedTableRebuildsUnderACollectionAtEveryAllocation) {
  Rooted<NodeId> table(hashtable::make(4, no_node, 0, hashtable::Kind::node_keyed, 1));
  std::vector<NodeId> keys;  // held by the table alone
  const auto put = [&](int i) {
    Val key = stack::push(loose("key " + std::to_string(i)));  // until the table has it
    keys.push_back(series::node_of(*key));
    const uint32_t entry = hashtable::put_node(table.get(), keys.back());
    const Cell value = loose("value " + std::to_string(i));
    hashtable::entry_cells(table.get(), entry)[0] = value;
    stack::pop(1);
  };
  for (int i = 0; i < 8; ++i) put(i);
  for (int i = 0; i < 8; i += 2) hashtable::remove_node(table.get(), keys[static_cast<size_t>(i)]);
  runtime::state.collector_on = true;
  collector::set_stress({.every = 1, .verify = true});
  for (int i = 8; i < 60; ++i) put(i);  // rebuilds more than once
  collector::set_stress({.every = 0, .verify = true});
  EXPECT_EQ(hashtable::record(table.get()).size, 56);
  for (size_t i = 0; i < keys.size(); ++i) {
    if (i < 8 && i % 2 == 0) continue;  // freed: a later key may have its node id
    const int32_t entry = hashtable::get_node(table.get(), keys[i]);
    ASSERT_GE(entry, 0) << i;
    EXPECT_EQ(string::to_utf8(series::make(TypeId::string, keys[i])), "key " + std::to_string(i));
    EXPECT_EQ(string::to_utf8(hashtable::entry_cells(table.get(), static_cast<uint32_t>(entry))[0]),
              "value " + std::to_string(i));
  }
}

// Marking follows a work list: nesting deeper than any machine stack could
// recurse is marked and kept whole.
TEST_F(Collector, DeepNestingIsMarkedWithoutRecursion) {
  constexpr uint32_t levels = 300000;
  Rooted<Cell> outer(block::make_new(1));
  for (uint32_t i = 1; i < levels; ++i) {
    Val inner = block::push_new(1);
    block::append(inner, outer.get());
    outer = *inner;
    stack::pop(1);
  }
  collector::collect();
  uint32_t depth = 1;
  for (Cell at = outer.get(); block::count(at) == 1; at = *block::at(at, 0)) ++depth;
  EXPECT_EQ(depth, levels);
}

// External buffers live outside the frames; a mark left on one would stop
// the next collection from looking inside, and what only it holds would go.
TEST_F(Collector, ExternalBuffersAreUnmarkedAfterEachCollection) {
  Rooted<NodeId> external(memory::new_external_series(4, sizeof(Cell)));
  *series::append_slot(external.get()) = loose("only the external block holds me");
  for (int round = 0; round < 3; ++round) {
    garbage(20);
    collector::collect();
    EXPECT_EQ(memory::buffer(external.get())->flags & series_flag::mark, 0u);
  }
  const Cell held = *reinterpret_cast<const Cell*>(memory::buffer(external.get())->head_ptr());
  EXPECT_EQ(string::to_utf8(held), "only the external block holds me");
}

int g_released = 0;
void count_release(void*) { ++g_released; }

TEST_F(Collector, HandlesLiveAsLongAsAValueNamesThem) {
  const uint32_t counting = handles::register_class("counting", count_release);
  const int32_t named = handles::make(&g_released, counting);
  const int32_t unnamed = handles::make(&g_released, counting);
  g_released = 0;
  stack::push(Cell{cell::header(TypeId::handle), 0, 0, static_cast<uint32_t>(named)});
  stack::push(Cell{cell::header(TypeId::handle), 0, 0, 0xFFFFFFFF});  // names no entry
  collector::collect();
  EXPECT_EQ(g_released, 1);
  EXPECT_TRUE(handles::entry(unnamed).flags & handles::entry_flag::free);
  EXPECT_EQ(handles::entry(named).flags, counting);  // in use, unmarked again
  stack::pop(2);
  collector::collect();
  EXPECT_EQ(g_released, 2);
  EXPECT_EQ(handles::in_use_head(), handles::end_of_chain);
}

TEST_F(Collector, StressSettings) {
  struct Case {
    const char* setting;
    uint32_t every;
    bool verify;
  };
  const Case cases[] = {
      {"every=1,verify", 1, true}, {"verify", 0, true},   {"every=13", 13, false},
      {"", 0, false},              {"every=0", 0, false}, {"every=x,verify,fast", 0, true},
  };
  for (const Case& c : cases) {
    const collector::StressOptions options = collector::parse_stress(c.setting);
    EXPECT_EQ(options.every, c.every) << c.setting;
    EXPECT_EQ(options.verify, c.verify) << c.setting;
  }
}

// Under every=1 each allocating call collects and moves what is live: the
// evaluator and the series actions must hold nothing but rooted values and
// (node, index) positions across them.
TEST_F(Collector, KivCodeRunsUnderACollectionAtEveryAllocation) {
  runtime::state.collector_on = true;
  collector::set_stress({.every = 1, .verify = true});
  const uint64_t before = collector::stats().collections;
  EXPECT_EQ(eval_molded("acc: copy [] repeat i 20 [append acc reduce [i copy \"x\" [n]]] length? acc"), "60");
  EXPECT_EQ(eval_molded("h: func [n] [either n < 2 [n] [(h n - 1) + (h n - 2)]] h 10"), "55");
  EXPECT_EQ(eval_molded("s: copy [] foreach w [a bb ccc] [append s mold w] s"), "[\"a\" \"bb\" \"ccc\"]");
  EXPECT_GT(collector::stats().collections, before + 100);
}

// A long loop that allocates much more than the heap holds runs in the
// first frames: the collector reclaims each round's garbage.
TEST_F(Collector, AnAllocatingLoopRunsInBoundedMemory) {
  runtime::state.collector_on = true;
  collector::set_stress({});  // collections only when memory runs short
  eval_molded("loop 3000 [b: copy [] loop 40 [append b copy [1 2 3 4]] c: reduce [b copy b]]");  // 25 MB in all
  EXPECT_GT(collector::stats().collections, 0u);
  const auto use = memory::usage();
  size_t frame_bytes = 0;
  for (const auto& frame : use.series_frames) frame_bytes += frame.total_bytes;
  EXPECT_LE(frame_bytes, 3 * memory::max_series_frame_size);
}

// A live heap that keeps growing is collected a logarithmic number of
// times: a collection that finds L bytes alive lets the heap take L more
// before the next one, so the marking work stays in proportion to what is
// allocated. Once the heap shrinks, the next collection gives the frames
// back and the pause shrinks with it.
TEST_F(Collector, ThePauseIsInProportionToTheLiveHeap) {
  runtime::state.collector_on = true;
  collector::set_stress({});  // collections only when memory runs short
  collector::collect();
  struct Seen {
    size_t allocated;    // since the collection before
    size_t live_before;  // what that one found alive
  };
  static std::vector<Seen> seen;  // filled by a marker: a plain function
  seen.clear();
  const collector::Marker record = [] {
    seen.push_back({memory::allocated_since_collection(), collector::stats().in_use_after_last});
  };
  collector::register_marker(record);

  constexpr int count = 400000;  // about 40 MB of strings, cells and nodes
  size_t live = 0;
  {
    Rooted<Cell> kept(block::make_new(8));
    for (int i = 0; i < count; ++i) {
      Val text = string::push_new(1);
      string::append_latin1(text, "a");
      block::append(kept.val(), *text);
      stack::pop(1);
    }
    live = memory::in_use_bytes();
    ASSERT_GT(live, 16 * memory::max_series_frame_size);
    // A collection per frame would be over sixteen; doubling pauses take
    // about log2(live / 1 MB).
    EXPECT_LE(seen.size(), 8u) << "collections: " << seen.size();
    for (const Seen& at : seen) EXPECT_GE(at.allocated, at.live_before * memory::pause_ratio);
    EXPECT_EQ(block::count(kept.get()), static_cast<uint32_t>(count));
  }

  // The block is gone: garbage fills the pause, then a collection finds
  // little alive and the frames go back.
  const size_t collected = seen.size();
  while (seen.size() == collected) garbage(1000);
  collector::unregister_marker(record);
  size_t frame_bytes = 0;
  for (const auto& frame : memory::usage().series_frames) frame_bytes += frame.total_bytes;
  EXPECT_LE(frame_bytes, 2 * memory::max_series_frame_size);
  EXPECT_LT(memory::pause_bytes(), live / 10);
}

// The verifying mode ends the process with a report at the first damage.
class CollectorDeathTest : public testing::RuntimeTest {};

TEST_F(CollectorDeathTest, DamageIsReported) {
  struct Case {
    const char* name;
    void (*damage)(Val block);
    const char* report;
  };
  static const auto held = [](Val block) { return series::node_of(*block::at(*block, 0)); };
  const Case cases[] = {
      {"a stale mark", [](Val block) { memory::buffer(held(block))->flags |= series_flag::mark; },
       "keeps a mark outside a collection"},
      {"a broken back-pointer", [](Val block) { memory::buffer(held(block))->node += 1; }, "does not point back"},
      {"a reference to a freed node",
       [](Val block) {
         const NodeId dropped = memory::new_byte_series(4);
         collector::collect();
         block::at(*block, 0)->w2 = dropped;
       },
       "is not in use"},
      {"a cell of no type", [](Val block) { block::at(*block, 0)->header = 0xEE; }, "type id 238"},
  };
  for (const Case& c : cases) {
    EXPECT_EXIT(
        {
          Val block = block::push_new(2);
          block::append(block, str("x"));
          c.damage(block);
          collector::verify_heap();
          std::exit(0);
        },
        ::testing::ExitedWithCode(runtime::error_assertion), c.report)
        << c.name;
  }
}

}  // namespace
}  // namespace kiv
