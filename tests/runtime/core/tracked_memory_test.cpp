#include "runtime/core/tracked_memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "runtime/core/runtime_error.h"

namespace kiv::memory {
namespace {

// The list as the blocks the caller sees, head to tail.
std::vector<void*> listed_blocks() {
  std::vector<void*> blocks;
  for (TrackedHeader* header = tracked_list().first; header; header = header->next)
    blocks.push_back(header + 1);
  return blocks;
}

bool links_consistent() {
  const TrackedList& list = tracked_list();
  TrackedHeader* prev = nullptr;
  for (TrackedHeader* header = list.first; header; header = header->next) {
    if (header->prev != prev) return false;
    prev = header;
  }
  return list.last == prev;
}

// Other modules of this process (output hooks, handles, big series
// buffers) keep tracked blocks from one test to the next: a test here
// neither frees nor counts them. The list keeps them in front, and each
// test frees the blocks it allocated.
class TrackedMemory : public ::testing::Test {
 protected:
  void SetUp() override { before_ = listed_blocks(); }
  void TearDown() override {
    for (void* block : mine()) free(block);
  }

  // The blocks allocated since the test began, head to tail.
  std::vector<void*> mine() const {
    const std::vector<void*> all = listed_blocks();
    const bool kept = all.size() >= before_.size() && std::equal(before_.begin(), before_.end(), all.begin());
    EXPECT_TRUE(kept) << "the earlier blocks keep their place";
    if (!kept) return {};
    return std::vector<void*>(all.begin() + static_cast<ptrdiff_t>(before_.size()), all.end());
  }

  std::vector<void*> before_;
};

TEST_F(TrackedMemory, AllocateLinksAtTailAndFreeUnlinksAnywhere) {
  void* a = allocate(10);
  void* b = allocate_zeroed(20);
  void* c = allocate(30);
  EXPECT_EQ(mine(), (std::vector<void*>{a, b, c}));
  for (size_t i = 0; i < 20; ++i) EXPECT_EQ(static_cast<char*>(b)[i], 0);

  free(b);  // middle
  EXPECT_EQ(mine(), (std::vector<void*>{a, c}));
  free(a);
  EXPECT_EQ(mine(), (std::vector<void*>{c}));
  EXPECT_TRUE(links_consistent());
  free(c);  // the last block
  EXPECT_EQ(listed_blocks(), before_);
  EXPECT_TRUE(links_consistent());
}

TEST_F(TrackedMemory, ReallocateKeepsPlaceAndContents) {
  void* a = allocate(8);
  auto* b = static_cast<char*>(allocate(8));
  void* c = allocate(8);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<char>('a' + i);

  auto* grown = static_cast<char*>(reallocate(b, 1 << 20));
  EXPECT_EQ(mine(), (std::vector<void*>{a, grown, c}));
  EXPECT_TRUE(links_consistent());
  for (int i = 0; i < 8; ++i) EXPECT_EQ(grown[i], 'a' + i);

  // The last block moves too: the list's last word follows it.
  void* c2 = reallocate(c, 1 << 20);
  EXPECT_EQ(mine(), (std::vector<void*>{a, grown, c2}));
  EXPECT_TRUE(links_consistent());
}

TEST_F(TrackedMemory, ReallocateEdgeSizes) {
  void* fresh = reallocate(nullptr, 16);  // null allocates
  EXPECT_TRUE(is_tracked(fresh));
  EXPECT_EQ(reallocate(fresh, 0), nullptr);  // zero frees
  EXPECT_EQ(tracked_count(), before_.size());
}

TEST_F(TrackedMemory, FreeOfForeignAddressDoesNothing) {
  void* a = allocate(8);
  int on_stack = 0;
  free(&on_stack);
  free(nullptr);
  EXPECT_EQ(mine(), (std::vector<void*>{a}));
}

// free_all hands back every block of the process, those of the other
// modules too: as at the end of the program, it runs in a process of its
// own.
TEST(TrackedMemoryDeath, FreeAllEmptiesTheList) {
  EXPECT_EXIT(
      {
        free_all();
        free_all();  // empty list: nothing happens
        for (int i = 0; i < 5; ++i) allocate(100);
        const bool five = tracked_count() == 5;
        free_all();
        const bool empty = tracked_count() == 0 && !tracked_list().first && !tracked_list().last;
        std::exit(five && empty ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(TrackedMemoryDeath, FailedAllocationIsRuntimeError94) {
  EXPECT_EXIT(allocate(SIZE_MAX / 2), ::testing::ExitedWithCode(runtime::error_out_of_memory),
              "\\*\\*\\* Runtime Error 94: out of memory\n\\*\\*\\* at: [0-9A-F]{8,}h\n$");
  EXPECT_EXIT(allocate(SIZE_MAX), ::testing::ExitedWithCode(94), "Runtime Error 94");
}

}  // namespace
}  // namespace kiv::memory
