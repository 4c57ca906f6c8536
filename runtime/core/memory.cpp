#include "runtime/core/memory.h"

#include <algorithm>
#include <cstring>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

#include "runtime/core/arith.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/exits.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/pages.h"
#include "runtime/core/state.h"
#include "runtime/core/tracked_memory.h"

namespace kiv::memory {

namespace detail {
NodeFrame* node_directory[node_directory_size];
}

namespace {

using detail::NodeFrame;

constexpr size_t page_size = 4096;
// Pages requests the memory manager makes stop here: the page wrappers'
// failures are caught at this threshold and become internal errors.
constexpr uint32_t os_failure_threshold = 0x7FFFFFF8;

using detail::BigFrame;
using detail::SeriesFrame;

struct Root {
  size_t system_bytes = 0;  // in page blocks
  NodeFrame* node_head = nullptr;
  NodeFrame* node_tail = nullptr;
  NodeFrame* node_current = nullptr;
  SeriesFrame* series_head = nullptr;
  SeriesFrame* series_current = nullptr;
  SeriesFrame* series_tail = nullptr;
  size_t next_frame_size = first_series_frame_size;
  BigFrame* big_head = nullptr;
  std::vector<uint32_t> free_directory_slots;
  uint32_t next_directory_slot = 0;
  std::vector<NodeId> external_nodes;
  CollectFn collect = nullptr;
  uint32_t cycle = 0;  // collections so far, as the collector last told
  // The pause (memory.h): bytes of buffers taken since the last collection,
  // and how many it allows before a lack of room collects.
  size_t allocated = 0;
  size_t pause = min_pause_bytes;
  size_t external = 0;  // live bytes held outside the heap (note_external)
  // Series frames a collection emptied, kept for the next frames the heap
  // needs: a script that allocates steadily would otherwise give its pages
  // back and fault them in again after every collection.
  std::vector<std::pair<SeriesFrame*, size_t>> spare_frames;  // frame, block size
};

Root g;

// Page blocks. A failure of the page wrappers arrives as an exit code and
// leaves as the script error the language user can catch.
void* os_alloc(size_t size) {
  void* block = nullptr;
  if (runtime::catch_exits(os_failure_threshold, [&] { block = pages::allocate(size); }) != 0)
    error::raise(error_id::internal::no_memory);
  g.system_bytes += size;
  return block;
}

void os_free(void* block, size_t size) {
  for_collector::unpoison(block, size);  // the next block here starts clean
  if (runtime::catch_exits(os_failure_threshold, [&] { pages::release(block, size); }) != 0)
    error::raise(error_id::internal::wrong_mem);
  g.system_bytes -= size;
}

constexpr size_t node_frame_block_size() { return align_up(sizeof(NodeFrame), page_size); }

void collect_if_on() {
  if (runtime::state.collector_on && g.collect) g.collect();
}

// Out of room: a collection runs once the pause is over; before that the
// heap grows.
bool collection_due() { return g.allocated >= g.pause; }

// ---- node frames ----

uint32_t take_directory_slot() {
  if (!g.free_directory_slots.empty()) {
    const uint32_t slot = g.free_directory_slots.back();
    g.free_directory_slots.pop_back();
    return slot;
  }
  if (g.next_directory_slot >= detail::node_directory_size) error::raise(error_id::internal::no_memory);
  return g.next_directory_slot++;
}

NodeId make_id(uint32_t frame_index, uint32_t slot) { return (frame_index << node_slot_bits) | (slot + 1); }

NodeFrame* add_node_frame() {
  auto* frame = static_cast<NodeFrame*>(os_alloc(node_frame_block_size()));
  frame->next = nullptr;
  frame->prev = g.node_tail;
  frame->index = take_directory_slot();
  frame->node_count = nodes_per_frame;
  frame->used = 0;
  frame->created_cycle = g.cycle;
  frame->used_at_last_cycle = 0;
  frame->stability = 0;
  // Free list in slot order: each free slot holds the next free id, tagged.
  for (uint32_t slot = 0; slot < nodes_per_frame; ++slot) {
    const NodeId next = slot + 1 < nodes_per_frame ? make_id(frame->index, slot + 1) : no_node;
    frame->slots[slot] = (uintptr_t{next} << 1) | 1;
  }
  frame->free_head = make_id(frame->index, 0);
  detail::node_directory[frame->index] = frame;
  if (g.node_tail) g.node_tail->next = frame;
  else g.node_head = frame;
  g.node_tail = frame;
  if (!g.node_current) g.node_current = frame;
  return frame;
}

NodeFrame* frame_of(NodeId id) { return detail::node_directory[id >> node_slot_bits]; }

// ---- series frames ----

// A block for a frame of `size` bytes: a spare one when it is large enough.
SeriesFrame* take_frame_block(size_t size) {
  const size_t block_size = sizeof(SeriesFrame) + size;
  for (auto spare = g.spare_frames.begin(); spare != g.spare_frames.end(); ++spare) {
    const auto [frame, spare_size] = *spare;
    if (spare_size < block_size) continue;
    g.spare_frames.erase(spare);
    for_collector::unpoison(frame, spare_size);
    frame->block_size = spare_size;
    return frame;
  }
  auto* frame = static_cast<SeriesFrame*>(os_alloc(block_size));
  frame->block_size = block_size;
  return frame;
}

SeriesFrame* add_series_frame() {
  const size_t size = g.next_frame_size;
  if (g.next_frame_size < max_series_frame_size)
    g.next_frame_size = std::min(g.next_frame_size * 2, max_series_frame_size);
  SeriesFrame* frame = take_frame_block(size);
  const size_t block_size = frame->block_size;
  frame->heap = frame->first();
  for_collector::poison(frame->first(), size);
  frame->end = reinterpret_cast<uint8_t*>(frame) + block_size;
  frame->next = frame->prev = nullptr;

  // Keep the list in address order: the collector's compaction walks it so.
  if (!g.series_head) {
    g.series_head = g.series_tail = frame;
  } else if (frame < g.series_head) {
    frame->next = g.series_head;
    g.series_head->prev = frame;
    g.series_head = frame;
  } else {
    SeriesFrame* at = g.series_head;
    while (at->next && at < frame) at = at->next;
    if (at < frame) {  // past the last frame
      at->next = frame;
      frame->prev = at;
      g.series_tail = frame;
    } else {
      frame->prev = at->prev;
      frame->next = at;
      at->prev->next = frame;
      at->prev = frame;
    }
  }
  if (!g.series_current) g.series_current = frame;
  return frame;
}

// First frame, from the head, where `need` bytes fit strictly below its end.
SeriesFrame* find_series_frame(size_t need) {
  for (SeriesFrame* frame = g.series_head; frame; frame = frame->next)
    if (frame->room() > need) return frame;
  return nullptr;
}

SeriesFrame* frame_for(size_t need) {
  if (g.series_current && g.series_current->room() > need) return g.series_current;
  if (SeriesFrame* found = find_series_frame(need)) return g.series_current = found;
  SeriesFrame* found = nullptr;
  if (collection_due()) {
    collect_if_on();
    found = find_series_frame(need);
  }
  if (!found || found->room() < min_reusable_room) {
    if (need >= g.next_frame_size) g.next_frame_size = max_series_frame_size;
    found = add_series_frame();
  }
  return g.series_current = found;
}

// ---- big frames ----

SeriesBuf* new_big_buffer(size_t need) {
  const size_t block_size = align_up(sizeof(BigFrame) + need, page_size);
  auto* frame = static_cast<BigFrame*>(os_alloc(block_size));
  frame->next = nullptr;
  frame->block_size = block_size;
  frame->need = need;
  BigFrame** link = &g.big_head;
  while (*link) link = &(*link)->next;
  *link = frame;
  return frame->buffer();
}

void free_big_buffer(SeriesBuf* buffer) {
  for (BigFrame** link = &g.big_head; *link; link = &(*link)->next) {
    BigFrame* frame = *link;
    if (frame->buffer() != buffer) continue;
    *link = frame->next;
    os_free(frame, frame->block_size);
    return;
  }
}

// ---- buffers ----

uint64_t checked_capacity(uint64_t count, uint32_t unit) {
  const uint64_t bytes = align_up(count * unit, 16);
  if (bytes > max_capacity) error::raise(error_id::internal::no_memory);
  return bytes;
}

// A fresh buffer's header, at `at`, which has room for `capacity` bytes.
SeriesBuf* start_buffer(void* at, uint64_t capacity, uint32_t unit, uint32_t head_offset, uint32_t big_flag) {
  auto* buffer = static_cast<SeriesBuf*>(at);
  buffer->flags = unit | series_flag::in_use | series_flag::fresh | big_flag;
  buffer->node = no_node;
  buffer->capacity = static_cast<uint32_t>(capacity);
  buffer->head = buffer->tail = head_offset;
  buffer->gc_flags = 0;
  buffer->reserved = buffer->code_hints = 0;
  return buffer;
}

// new_buffer past its may_gc: any size, any frame, collecting when due.
[[gnu::noinline]] SeriesBuf* new_buffer_checked(uint32_t count, uint32_t unit, uint32_t head_offset) {
  const uint64_t capacity = checked_capacity(count, unit);
  const size_t need = capacity + buffer_overhead;
  void* at;
  uint32_t big_flag = 0;
  if (need >= max_series_frame_size) {
    if (collection_due()) collect_if_on();
    at = new_big_buffer(need);
    big_flag = series_flag::big;
  } else {
    SeriesFrame* frame = frame_for(need);
    at = frame->heap;
    frame->heap += need;
    for_collector::unpoison(at, need);
  }
  g.allocated += need;
  return start_buffer(at, capacity, unit, head_offset, big_flag);
}

SeriesBuf* new_buffer(uint32_t count, uint32_t unit, uint32_t head_offset) {
  gc::may_gc();
  return new_buffer_checked(count, unit, head_offset);
}

NodeId attach(SeriesBuf* buffer) {
  const NodeId node = take_node();
  detail::node_slot(node) = reinterpret_cast<uintptr_t>(buffer);
  buffer->node = node;
  return node;
}

// A buffer its series has left: unreachable from now on. Frame buffers wait
// for the collector's compaction; others go back at once.
void abandon(SeriesBuf* buffer) {
  if (buffer->flags & series_flag::external) std::erase(g.external_nodes, buffer->node);
  buffer->node = no_node;
  buffer->flags &= ~series_flag::in_use;
  if (buffer->flags & series_flag::big) {
    free_big_buffer(buffer);
  } else if (buffer->flags & series_flag::external) {
    memory::free(buffer);
  } else {
#ifdef KIV_DEBUG_CHECKS
    std::memset(buffer->data(), 0xDB, buffer->capacity);  // stale pointers read garbage
#endif
    for_collector::poison(buffer->data(), buffer->capacity + buffer_spare);
  }
}

enum class Keep { nothing, contents, contents_and_fill };

void expand(NodeId node, uint32_t new_size, Keep keep, uint8_t fill) {
  uint64_t size = new_size ? new_size : uint64_t{2} * buffer(node)->capacity;
  if (size == 0 || size > max_capacity) error::raise(error_id::internal::no_memory);
  const uint32_t unit = buffer(node)->unit();
  SeriesBuf* fresh = new_buffer(static_cast<uint32_t>(size / unit), unit, 0);
  SeriesBuf* old = buffer(node);  // the allocation may have moved it

  // The data from the old head on moves to the start of the new buffer.
  const uint32_t kept = std::min(old->capacity - old->head, fresh->capacity);
  if (keep != Keep::nothing) std::memcpy(fresh->data(), old->head_ptr(), kept);
  if (keep == Keep::contents_and_fill) std::memset(fresh->data() + kept, fill, fresh->capacity - kept);

  const uint32_t private_bits = series_flag::mark | series_flag::big | series_flag::external;
  fresh->flags = (old->flags & ~private_bits) | (fresh->flags & series_flag::big);
  fresh->gc_flags = old->gc_flags;
  fresh->tail = std::min(old->tail - old->head, fresh->capacity);
  fresh->head = 0;
  fresh->node = node;
  detail::node_slot(node) = reinterpret_cast<uintptr_t>(fresh);
  ++relocations;
  abandon(old);
}

}  // namespace

void init() {
  // Slots past those ever handed out are still null: clearing the whole
  // directory (2 MB) would cost every start-up its page faults.
  std::fill(detail::node_directory, detail::node_directory + g.next_directory_slot, nullptr);
  g = Root{};
}

void add_first_frames() {
  add_node_frame();
  add_series_frame();
}

void release_all() {
  ++relocations;  // every buffer goes
  for (NodeId node : g.external_nodes)
    if (is_live_node(node) && (buffer(node)->flags & series_flag::external)) memory::free(buffer(node));
  for (NodeFrame* frame = g.node_head; frame;) {
    NodeFrame* next = frame->next;
    detail::node_directory[frame->index] = nullptr;
    os_free(frame, node_frame_block_size());
    frame = next;
  }
  for (SeriesFrame* frame = g.series_head; frame;) {
    SeriesFrame* next = frame->next;
    os_free(frame, frame->block_size);
    frame = next;
  }
  for (BigFrame* frame = g.big_head; frame;) {
    BigFrame* next = frame->next;
    os_free(frame, frame->block_size);
    frame = next;
  }
  for (const auto& [frame, block_size] : g.spare_frames) os_free(frame, block_size);
  init();
}

NodeId take_node() {
  if (!g.node_current || g.node_current->free_head == no_node) {
    NodeFrame* frame = g.node_head;
    while (frame && frame->free_head == no_node) frame = frame->next;
    g.node_current = frame ? frame : add_node_frame();
  }
  NodeFrame* frame = g.node_current;
  const NodeId node = frame->free_head;
  uintptr_t& slot = detail::node_slot(node);
  frame->free_head = static_cast<NodeId>(slot >> 1);
  slot = 0;
  ++frame->used;
  return node;
}

void free_node(NodeId node) {
  ++relocations;  // the id may come back with another buffer
  NodeFrame* frame = frame_of(node);
  detail::node_slot(node) = (uintptr_t{frame->free_head} << 1) | 1;
  frame->free_head = node;
  --frame->used;
}

void set_collector(CollectFn collect) { g.collect = collect; }

// The common allocation, a short series, is a bump of the current frame's
// heap and the first free node of the current node frame; anything else
// (a big buffer, a full frame, no free node at hand) takes the general way.
NodeId new_series(uint32_t count, uint32_t unit, uint32_t head_offset) {
  gc::may_gc();
  const uint64_t capacity = align_up(uint64_t{count} * unit, 16);
  const uint64_t need = capacity + buffer_overhead;
  SeriesFrame* frame = g.series_current;
  NodeFrame* nodes = g.node_current;
  if (need >= max_series_frame_size || !frame || frame->room() <= need || !nodes || nodes->free_head == no_node)
    [[unlikely]] return attach(new_buffer_checked(count, unit, head_offset));
  void* at = frame->heap;
  frame->heap += need;
  for_collector::unpoison(at, need);
  g.allocated += need;
  SeriesBuf* buffer = start_buffer(at, capacity, unit, head_offset, 0);
  const NodeId node = nodes->free_head;
  uintptr_t& slot = detail::node_slot(node);
  nodes->free_head = static_cast<NodeId>(slot >> 1);
  slot = reinterpret_cast<uintptr_t>(buffer);
  ++nodes->used;
  buffer->node = node;
  return node;
}

NodeId new_cell_series(uint32_t count) { return new_series(count, sizeof(Cell)); }

NodeId new_unset_cells(uint32_t count) {
  const NodeId node = new_cell_series(count);
  SeriesBuf* buf = buffer(node);
  auto* cells = reinterpret_cast<Cell*>(buf->data());
  for (uint32_t i = 0; i < buf->capacity / sizeof(Cell); ++i) cells[i] = Cell{cell::header(TypeId::unset), 0, 0, 0};
  return node;
}

NodeId new_byte_series(uint32_t count) { return new_series(count == 0 ? 16 : count, 1); }

NodeId new_unit_series(uint32_t count, uint32_t unit) {
  return new_series(count == 0 ? 16 / unit : count, unit);
}

NodeId new_filled_bytes(uint32_t count, uint8_t byte) {
  const NodeId node = new_byte_series(count);
  SeriesBuf* buf = buffer(node);
  std::memset(buf->data(), byte, buf->capacity);
  return node;
}

NodeId new_external_series(uint32_t count, uint32_t unit, uint32_t head_offset) {
  const uint64_t capacity = checked_capacity(count, unit);
  auto* buf = static_cast<SeriesBuf*>(memory::allocate(sizeof(SeriesBuf) + capacity + buffer_spare));
  buf->flags = unit | series_flag::in_use | series_flag::fresh | series_flag::external;
  buf->capacity = static_cast<uint32_t>(capacity);
  buf->head = buf->tail = head_offset;
  buf->gc_flags = 0;
  buf->reserved = buf->code_hints = 0;
  const NodeId node = attach(buf);
  g.external_nodes.push_back(node);
  return node;
}

void expand_series(NodeId node, uint32_t new_size) { expand(node, new_size, Keep::nothing, 0); }
void expand_copy_series(NodeId node, uint32_t new_size) { expand(node, new_size, Keep::contents, 0); }
void expand_fill_series(NodeId node, uint32_t new_size, uint8_t byte) {
  expand(node, new_size, Keep::contents_and_fill, byte);
}

NodeId copy_series(NodeId node) {
  const uint32_t unit = buffer(node)->unit();
  const NodeId copy = new_series(buffer(node)->capacity / unit, unit);
  const SeriesBuf* from = buffer(node);
  SeriesBuf* to = buffer(copy);
  const uint32_t private_bits = series_flag::mark | series_flag::big | series_flag::external | series_flag::owned;
  to->flags = (from->flags & ~private_bits) | (to->flags & series_flag::big);
  to->gc_flags = from->gc_flags;
  to->head = from->head;
  to->tail = from->tail;
  std::memcpy(to->data(), from->data(), from->capacity);
  return copy;
}

Usage usage() {
  Usage result{};
  size_t node_bytes = 0;
  for (NodeFrame* frame = g.node_head; frame; frame = frame->next) {
    result.node_frames.push_back({frame->node_count - frame->used, frame->used, frame->node_count});
    node_bytes += sizeof(uintptr_t) * frame->used;
  }
  size_t series_bytes = 0;
  for (SeriesFrame* frame = g.series_head; frame; frame = frame->next) {
    const auto used = static_cast<size_t>(frame->heap - frame->first());
    const auto total = static_cast<size_t>(frame->end - frame->first());
    result.series_frames.push_back({frame->room(), used, total});
    series_bytes += used;
  }
  size_t big_bytes = 0;
  for (BigFrame* frame = g.big_head; frame; frame = frame->next) {
    result.big_buffers.push_back(frame->need);
    big_bytes += frame->need;
  }
  size_t c_heap = 0;
  for (TrackedHeader* header = tracked_list().first; header; header = header->next)
    c_heap += header->size + sizeof(TrackedHeader);
  result.in_use_bytes = node_bytes + series_bytes + big_bytes;
  result.c_heap_bytes = c_heap;
  result.system_bytes = c_heap + g.system_bytes;
  return result;
}

std::vector<SeriesFrameView> series_frames() {
  std::vector<SeriesFrameView> views;
  for (SeriesFrame* frame = g.series_head; frame; frame = frame->next)
    views.push_back({frame->first(), frame->heap, frame->end});
  return views;
}

size_t in_use_bytes() {
  size_t bytes = 0;
  for (NodeFrame* frame = g.node_head; frame; frame = frame->next) bytes += sizeof(uintptr_t) * frame->used;
  for (SeriesFrame* frame = g.series_head; frame; frame = frame->next)
    bytes += static_cast<size_t>(frame->heap - frame->first());
  for (BigFrame* frame = g.big_head; frame; frame = frame->next) bytes += frame->need;
  return bytes;
}

size_t pause_bytes() { return g.pause; }

void note_external(size_t bytes) {
  g.external += bytes;
  g.allocated += bytes;
  if (collection_due()) collect_if_on();
}

void release_external(size_t bytes) { g.external -= std::min(bytes, g.external); }
size_t allocated_since_collection() { return g.allocated; }

size_t node_frame_count() {
  size_t count = 0;
  for (NodeFrame* frame = g.node_head; frame; frame = frame->next) ++count;
  return count;
}

// ---- for the collector ----

namespace for_collector {

void poison(void* start, size_t bytes) {
#if defined(__SANITIZE_ADDRESS__)
  ASAN_POISON_MEMORY_REGION(start, bytes);
#else
  (void)start;
  (void)bytes;
#endif
}

void unpoison(void* start, size_t bytes) {
#if defined(__SANITIZE_ADDRESS__)
  ASAN_UNPOISON_MEMORY_REGION(start, bytes);
#else
  (void)start;
  (void)bytes;
#endif
}

NodeFrame* first_node_frame() { return g.node_head; }
SeriesFrame* first_series_frame() { return g.series_head; }
BigFrame* first_big_frame() { return g.big_head; }

void set_current_series_frame(SeriesFrame* frame) { g.series_current = frame; }

void release_series_frame(SeriesFrame* frame) {
  if (frame->prev) frame->prev->next = frame->next;
  else g.series_head = frame->next;
  if (frame->next) frame->next->prev = frame->prev;
  else g.series_tail = frame->prev;
  if (g.series_current == frame) g.series_current = g.series_head;
  if (g.spare_frames.size() < max_spare_frames) {
    g.spare_frames.emplace_back(frame, frame->block_size);
    for_collector::poison(frame, frame->block_size);
  } else {
    os_free(frame, frame->block_size);
  }
}

void release_big_frame(BigFrame* frame) { free_big_buffer(frame->buffer()); }

const std::vector<NodeId>& external_nodes() { return g.external_nodes; }

void pace_next_collection(size_t live_bytes) {
  g.allocated = 0;
  g.pause = std::max((live_bytes + g.external) * pause_ratio, min_pause_bytes);
}

void settle_node_frames(uint32_t cycle) {
  g.node_current = nullptr;
  size_t spare = 0;  // empty frames kept
  for (NodeFrame* frame = g.node_head; frame;) {
    NodeFrame* next = frame->next;
    // A few empty frames stay, free list and all: a program that makes and
    // drops many small series between collections would otherwise give
    // them back and take them again (page faults and a fresh free list).
    const bool kept = frame->used == 0 && frame != g.node_head && spare < max_spare_node_frames;
    if (kept) ++spare;
    if (frame->used == 0 && frame != g.node_head && !kept) {
      frame->prev->next = frame->next;
      if (frame->next) frame->next->prev = frame->prev;
      else g.node_tail = frame->prev;
      detail::node_directory[frame->index] = nullptr;
      g.free_directory_slots.push_back(frame->index);
      os_free(frame, node_frame_block_size());
    } else {
      if (!g.node_current && frame->free_head != no_node) g.node_current = frame;
      frame->stability = (frame->stability << 1) | (frame->used == frame->used_at_last_cycle ? 1 : 0);
      frame->used_at_last_cycle = frame->used;
    }
    frame = next;
  }
  if (!g.node_current) g.node_current = g.node_head;
  g.cycle = cycle;
}

}  // namespace for_collector

}  // namespace kiv::memory
