#include "runtime/core/handles.h"

#include "runtime/core/runtime_error.h"
#include "runtime/core/tracked_memory.h"

namespace kiv::handles {
namespace {

struct HandleClass {
  const char* name;
  ReleaseFn release;
};

struct Table {
  HandleClass classes[class_capacity]{};
  uint32_t class_count = 0;
  Entry* entries = nullptr;  // tracked block
  uint32_t capacity = 0;
  int32_t free_head = end_of_chain;
  int32_t in_use_head = end_of_chain;
};

Table g;

// Entries [from, to) become free and are chained in index order; the last
// one ends the chain.
void chain_free(uint32_t from, uint32_t to) {
  for (uint32_t i = from; i < to; ++i) {
    g.entries[i].flags = entry_flag::free;
    g.entries[i].pointer = nullptr;
    g.entries[i].next = i + 1 < to ? static_cast<int32_t>(i + 1) : end_of_chain;
  }
}

void grow() {
  const uint32_t old_capacity = g.capacity;
  g.capacity = old_capacity * 2;
  g.entries = static_cast<Entry*>(memory::reallocate(g.entries, sizeof(Entry) * g.capacity));
  chain_free(old_capacity, g.capacity);
  // The last old free entry is the free head: link the new half after it.
  g.entries[g.free_head].next = static_cast<int32_t>(old_capacity);
}

void release_pointer(uint32_t flags, void* pointer) {
  const uint32_t class_number = flags & entry_flag::class_mask;
  if (class_number == 0 || class_number > g.class_count) return;
  if (ReleaseFn release = g.classes[class_number - 1].release) release(pointer);
}

bool valid(int32_t index) { return index >= 0 && static_cast<uint32_t>(index) < g.capacity; }
bool in_use(int32_t index) { return valid(index) && !(g.entries[index].flags & entry_flag::free); }

// Frees an entry already unlinked from the in-use chain.
void put_on_free_chain(int32_t index) {
  Entry& entry = g.entries[index];
  entry.flags = entry_flag::free;
  entry.pointer = nullptr;
  entry.next = g.free_head;
  g.free_head = index;
}

}  // namespace

void init() {
  if (g.entries && memory::is_tracked(g.entries)) memory::free(g.entries);
  g = Table{};
  g.capacity = initial_entries;
  g.entries = static_cast<Entry*>(memory::allocate(sizeof(Entry) * g.capacity));
  chain_free(0, g.capacity);
  g.free_head = 0;
}

uint32_t register_class(const char* name, ReleaseFn release) {
  if (g.class_count == class_capacity)
    runtime::fatal(runtime::error_assertion, reinterpret_cast<uintptr_t>(&register_class));
  g.classes[g.class_count++] = {name, release};
  return g.class_count;
}

const char* class_name(uint32_t class_number) {
  if (class_number == 0 || class_number > g.class_count) return nullptr;
  return g.classes[class_number - 1].name;
}

int32_t make(void* pointer, uint32_t class_number) {
  if (g.entries[g.free_head].next == end_of_chain) grow();
  const int32_t index = g.free_head;
  Entry& entry = g.entries[index];
  g.free_head = entry.next;
  entry.flags = class_number & entry_flag::class_mask;
  entry.pointer = pointer;
  entry.next = g.in_use_head;
  g.in_use_head = index;
  return index;
}

void set_pointer(int32_t index, void* pointer) {
  if (!in_use(index)) return;
  Entry& entry = g.entries[index];
  void* old = entry.pointer;
  entry.pointer = pointer;
  if (old != pointer) release_pointer(entry.flags, old);
}

int32_t release(int32_t index, bool call_release) {
  if (!in_use(index)) return end_of_chain;
  if (call_release) release_pointer(g.entries[index].flags, g.entries[index].pointer);
  if (g.in_use_head == index) {
    g.in_use_head = g.entries[index].next;
  } else {
    int32_t previous = g.in_use_head;
    while (previous != end_of_chain && g.entries[previous].next != index) previous = g.entries[previous].next;
    if (previous != end_of_chain) g.entries[previous].next = g.entries[index].next;
  }
  put_on_free_chain(index);
  return end_of_chain;
}

bool mark(int32_t index, void* pointer) {
  if (!in_use(index)) return false;
  Entry& entry = g.entries[index];
  if (pointer) entry.pointer = pointer;
  const bool was_unmarked = !(entry.flags & entry_flag::mark);
  entry.flags |= entry_flag::mark;
  return was_unmarked;
}

void sweep() {
  int32_t previous = end_of_chain;
  for (int32_t index = g.in_use_head; index != end_of_chain;) {
    Entry& entry = g.entries[index];
    const int32_t next = entry.next;
    if (entry.flags & entry_flag::mark) {
      entry.flags &= ~entry_flag::mark;
      previous = index;
    } else {
      release_pointer(entry.flags, entry.pointer);
      if (previous == end_of_chain) g.in_use_head = next;
      else g.entries[previous].next = next;
      put_on_free_chain(index);
    }
    index = next;
  }
}

void each_of_class(uint32_t class_number, void (*callback)(void* pointer)) {
  for (int32_t index = g.in_use_head; index != end_of_chain; index = g.entries[index].next)
    if ((g.entries[index].flags & entry_flag::class_mask) == class_number) callback(g.entries[index].pointer);
}

uint32_t capacity() { return g.capacity; }
const Entry& entry(int32_t index) { return g.entries[index]; }
int32_t in_use_head() { return g.in_use_head; }
int32_t free_head() { return g.free_head; }

}  // namespace kiv::handles
