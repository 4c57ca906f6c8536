#include "runtime/core/tracked_memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

#include "runtime/core/runtime_error.h"
#include "runtime/core/state.h"

namespace kiv::memory {
namespace {

static_assert(sizeof(TrackedHeader) % 16 == 0);

TrackedList g_list;

// Headers of the blocks on the list. The list keeps the order; the set lets
// `free` recognise a foreign address without reading memory in front of it.
std::unordered_set<const TrackedHeader*>& members() {
  static std::unordered_set<const TrackedHeader*> set;
  return set;
}

TrackedHeader* header_of(const void* block) {
  return reinterpret_cast<TrackedHeader*>(
      const_cast<char*>(static_cast<const char*>(block)) - sizeof(TrackedHeader));
}

void* block_of(TrackedHeader* header) { return header + 1; }

void link_last(TrackedHeader* header) {
  TrackedList& list = tracked_list();
  header->prev = list.last;
  header->next = nullptr;
  if (list.last) list.last->next = header;
  else list.first = header;
  list.last = header;
  members().insert(header);
}

void unlink(TrackedHeader* header) {
  TrackedList& list = tracked_list();
  if (header->prev) header->prev->next = header->next;
  else list.first = header->next;
  if (header->next) header->next->prev = header->prev;
  else list.last = header->prev;
  members().erase(header);
}

[[noreturn]] void out_of_memory(const void* call_site) {
  runtime::fatal(runtime::error_out_of_memory, reinterpret_cast<uintptr_t>(call_site));
}

bool total_size(size_t size, size_t* total) {
  return !__builtin_add_overflow(size, sizeof(TrackedHeader), total);
}

}  // namespace

TrackedList& tracked_list() {
  if (!runtime::state.tracked) runtime::state.tracked = &g_list;
  return *runtime::state.tracked;
}

__attribute__((noinline)) void* allocate(size_t size) {
  size_t total = 0;
  void* raw = total_size(size, &total) ? std::malloc(total) : nullptr;
  if (!raw) out_of_memory(__builtin_return_address(0));
  auto* header = static_cast<TrackedHeader*>(raw);
  header->size = size;
  header->reserved = 0;
  link_last(header);
  return block_of(header);
}

void* allocate_zeroed(size_t size) {
  void* block = allocate(size);
  std::memset(block, 0, size);
  return block;
}

__attribute__((noinline)) void* reallocate(void* block, size_t size) {
  if (!block) return allocate(size);
  if (size == 0) {
    free(block);
    return nullptr;
  }
  TrackedHeader* old_header = header_of(block);
  size_t total = 0;
  if (!total_size(size, &total)) out_of_memory(__builtin_return_address(0));
  // Take the block off the list before realloc may move or free it, and put
  // the (possibly moved) header back in the same place afterwards.
  TrackedHeader* prev = old_header->prev;
  TrackedHeader* next = old_header->next;
  members().erase(old_header);
  auto* header = static_cast<TrackedHeader*>(std::realloc(old_header, total));
  if (!header) {
    members().insert(old_header);
    out_of_memory(__builtin_return_address(0));
  }
  header->size = size;
  TrackedList& list = tracked_list();
  if (prev) prev->next = header;
  else list.first = header;
  if (next) next->prev = header;
  else list.last = header;
  members().insert(header);
  return block_of(header);
}

void free(void* block) {
  if (!block || !is_tracked(block)) return;
  TrackedHeader* header = header_of(block);
  unlink(header);
  std::free(header);
}

void free_all() {
  TrackedList& list = tracked_list();
  for (TrackedHeader* header = list.first; header;) {
    TrackedHeader* next = header->next;
    std::free(header);
    header = next;
  }
  list.first = list.last = nullptr;
  members().clear();
}

size_t tracked_count() { return members().size(); }

bool is_tracked(const void* block) {
  return block && members().count(header_of(block)) != 0;
}

void heap_report(void (*print_line)(const char* line)) {
  char line[64];
  print_line("-- Heap-allocations --");
  print_line("Asked   Real");
  size_t sum = 0;
  for (TrackedHeader* header = tracked_list().first; header; header = header->next) {
    const size_t real = header->size + sizeof(TrackedHeader);
    sum += real;
    std::snprintf(line, sizeof line, "%zu\t%zu", header->size, real);
    print_line(line);
  }
  std::snprintf(line, sizeof line, "-- Sum: %zu --", sum);
  print_line(line);
}

}  // namespace kiv::memory
