// The external handle table: classes, entries, their two chains, growth
// and the sweep after a collection's marking.
#include <gtest/gtest.h>

#include <vector>

#include "runtime/core/handles.h"
#include "runtime/core/runtime_error.h"

namespace kiv {
namespace {

std::vector<void*> g_released;
void record_release(void* pointer) { g_released.push_back(pointer); }

// Pointers that the release callback records; nothing is dereferenced.
void* pointer(uintptr_t n) { return reinterpret_cast<void*>(n * 16); }

class Handles : public ::testing::Test {
 protected:
  void SetUp() override {
    handles::init();
    g_released.clear();
    recorded = handles::register_class("recorded", record_release);
    silent = handles::register_class("silent", nullptr);
  }

  // Indexes of the in-use chain, from its head.
  static std::vector<int32_t> in_use() {
    std::vector<int32_t> chain;
    for (int32_t i = handles::in_use_head(); i != handles::end_of_chain; i = handles::entry(i).next) chain.push_back(i);
    return chain;
  }

  uint32_t recorded = 0;
  uint32_t silent = 0;
};

TEST_F(Handles, ClassesAreNumberedFromOneAndEntriesFromZero) {
  EXPECT_EQ(recorded, 1u);
  EXPECT_EQ(silent, 2u);
  EXPECT_STREQ(handles::class_name(2), "silent");
  EXPECT_EQ(handles::make(pointer(1), recorded), 0);
  EXPECT_EQ(handles::make(pointer(2), silent), 1);
  EXPECT_EQ(in_use(), (std::vector<int32_t>{1, 0}));  // newest first
  EXPECT_EQ(handles::entry(0).flags, recorded);
  EXPECT_EQ(handles::entry(1).pointer, pointer(2));
}

TEST_F(Handles, TheTableDoublesWhenItsLastFreeEntryIsTaken) {
  for (uint32_t i = 0; i + 1 < handles::initial_entries; ++i) handles::make(pointer(i), recorded);
  EXPECT_EQ(handles::capacity(), handles::initial_entries);
  EXPECT_EQ(handles::make(pointer(999), recorded), 999);
  EXPECT_EQ(handles::capacity(), 2 * handles::initial_entries);
  EXPECT_EQ(handles::make(pointer(1000), recorded), 1000);
  EXPECT_EQ(handles::entry(0).pointer, pointer(0));  // the old entries moved with the table
  EXPECT_EQ(in_use().size(), 1001u);
}

TEST_F(Handles, ReleasingKeepsBothChainsIntact) {
  for (uintptr_t i = 0; i < 4; ++i) handles::make(pointer(i), recorded);  // chain 3 2 1 0
  EXPECT_EQ(handles::release(3, true), handles::end_of_chain);           // the head
  EXPECT_EQ(handles::release(1, false), handles::end_of_chain);          // the middle
  EXPECT_EQ(in_use(), (std::vector<int32_t>{2, 0}));
  EXPECT_EQ(g_released, (std::vector<void*>{pointer(3)}));
  EXPECT_EQ(handles::entry(1).flags, handles::entry_flag::free);
  EXPECT_EQ(handles::entry(1).pointer, nullptr);
  EXPECT_EQ(handles::free_head(), 1);
  EXPECT_EQ(handles::make(pointer(9), recorded), 1);  // freed entries are taken again, newest first
  EXPECT_EQ(handles::make(pointer(9), recorded), 3);
  handles::release(1, true);
  handles::release(1, true);  // already free: nothing happens twice
  EXPECT_EQ(g_released.size(), 2u);
}

TEST_F(Handles, SettingAPointerReleasesTheOldOneOnlyWhenItChanges) {
  const int32_t index = handles::make(pointer(1), recorded);
  handles::set_pointer(index, pointer(1));
  EXPECT_TRUE(g_released.empty());
  handles::set_pointer(index, pointer(2));
  EXPECT_EQ(g_released, (std::vector<void*>{pointer(1)}));
  EXPECT_EQ(handles::entry(index).pointer, pointer(2));

  const int32_t quiet = handles::make(pointer(3), silent);  // no callback: never released
  handles::set_pointer(quiet, pointer(4));
  handles::release(quiet, true);
  EXPECT_EQ(g_released.size(), 1u);
}

TEST_F(Handles, SweepReleasesWhatWasNotMarked) {
  for (uintptr_t i = 0; i < 5; ++i) handles::make(pointer(i), recorded);
  EXPECT_TRUE(handles::mark(0));
  EXPECT_FALSE(handles::mark(0));  // already marked
  EXPECT_TRUE(handles::mark(4, pointer(40)));
  handles::mark(2);
  handles::sweep();
  EXPECT_EQ(g_released, (std::vector<void*>{pointer(3), pointer(1)}));
  EXPECT_EQ(in_use(), (std::vector<int32_t>{4, 2, 0}));
  for (int32_t kept : {0, 2, 4}) EXPECT_EQ(handles::entry(kept).flags, recorded) << kept;  // unmarked
  EXPECT_EQ(handles::entry(4).pointer, pointer(40));
  handles::sweep();  // nothing marked now: everything goes, each once
  EXPECT_EQ(g_released.size(), 5u);
  EXPECT_TRUE(in_use().empty());

  std::vector<void*> seen;
  static std::vector<void*>* out = &seen;
  handles::make(pointer(7), silent);
  handles::make(pointer(8), recorded);
  handles::each_of_class(silent, [](void* p) { out->push_back(p); });
  EXPECT_EQ(seen, (std::vector<void*>{pointer(7)}));
}

TEST_F(Handles, ATwentyFirstClassEndsTheProcess) {
  EXPECT_EXIT(
      {
        for (uint32_t i = 2; i <= handles::class_capacity; ++i) handles::register_class("more", nullptr);
        handles::register_class("one too many", nullptr);
      },
      ::testing::ExitedWithCode(runtime::error_assertion), "");
}

}  // namespace
}  // namespace kiv
