// Tracked allocation: every block the runtime takes from the C heap.
//
// Each block carries a header that links it into one list, so that the
// whole heap can be handed back in one sweep (`free_all`) at the orderly ends
// of the process. Blocks are linked at the tail; unlinking is O(1).
//
// Allocation failure is fatal: the process ends as runtime error 94
// "out of memory".
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::memory {

struct TrackedHeader {
  TrackedHeader* prev;
  TrackedHeader* next;
  size_t size;      // bytes the caller asked for, header not included
  size_t reserved;  // keeps the block 16-byte aligned
};

struct TrackedList {
  TrackedHeader* first = nullptr;
  TrackedHeader* last = nullptr;
};

// The tracked list of the runtime state record, set up on first use.
TrackedList& tracked_list();

void* allocate(size_t size);
void* allocate_zeroed(size_t size);
// A null block allocates; a zero size frees and returns null. The block
// keeps its place on the list when it moves.
void* reallocate(void* block, size_t size);
// A block that is not on the list is left alone.
void free(void* block);
void free_all();

size_t tracked_count();
bool is_tracked(const void* block);

// Diagnostic listing of every tracked block, a line at a time (without the
// line end) to `print_line`, such as the runtime's output.
void heap_report(void (*print_line)(const char* line));

}  // namespace kiv::memory
