// The memory manager: nodes, series buffers and the frames that hold them.
//
// Every value that owns variable-length data (a block's cells, a string's
// characters, ...) keeps it in a series buffer, and refers to the buffer
// only through a node: a slot that holds the buffer's current address.
// Buffers move (growth replaces a buffer, the collector compacts frames),
// and every value sharing the node sees the move. A node is named by a
// 32-bit `NodeId`, which is what cells hold; node ids never change.
//
// Layout:
// - Node frames of 10,000 nodes. Node id = frame index << 14 | (slot + 1),
//   so finding a buffer is two loads through the node directory. A node in
//   use holds its buffer's address; a free node holds the id of the next
//   free node of its frame, tagged with bit 0.
// - Series frames: large page blocks holding buffers back to back, the
//   first of 1 MB, the later ones of 2 MB, kept in a list sorted by address.
//   Allocation bumps the current frame's heap.
// - Big frames: a page block of its own for each buffer of 2 MB or more.
// - External buffers, from the tracked C heap: never moved, never swept.
//
// A buffer: a 32-byte header (flags, node, capacity, head and tail as byte
// offsets from the data, so a move needs no fix-up), the data (capacity
// bytes, a multiple of 16), and 16 spare bytes.
//
// Any allocation may run the collector once it is switched on: raw pointers
// into buffers are valid only until the next allocating call (gc_safety.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kiv {

using NodeId = uint32_t;
inline constexpr NodeId no_node = 0;

// Flag bits of a buffer's flags word. Bits not named here belong to the
// datatypes.
namespace series_flag {
inline constexpr uint32_t unit_mask = 0x1F;  // unit size: 1, 2, 4, 8 or 16 bytes
inline constexpr uint32_t in_use = 0x80000000;
inline constexpr uint32_t fresh = 0x20000000;  // set on every new buffer
inline constexpr uint32_t mark = 0x08000000;   // the collector's mark
inline constexpr uint32_t big = 0x01000000;    // alone in a big frame
inline constexpr uint32_t external = 0x00100000;  // from the C heap
inline constexpr uint32_t owned = 0x00020000;     // owned by an object
}  // namespace series_flag

// Bits of a buffer's gc_flags word: what the collector must know of a
// buffer beyond its unit size.
namespace gc_flag {
// The series holds a hash table's record (hashtable.h), whose nodes the
// collector follows. Set by the hash tables; kept by copy and growth.
inline constexpr uint32_t hash_table = 0x1;
}  // namespace gc_flag

struct SeriesBuf {
  uint32_t flags;
  NodeId node;        // the node that points here; 0 once the series left it
  uint32_t capacity;  // bytes of data, a multiple of 16
  uint32_t head;      // byte offset of the first unit
  uint32_t tail;      // byte offset one past the last unit
  uint32_t gc_flags;  // gc_flag bits
  uint32_t reserved;
  // The evaluator's hints about the code the buffer holds (zero in a new
  // buffer; see interpreter.cpp). Never part of the series' value.
  uint32_t code_hints;

  uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
  const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(this + 1); }
  uint32_t unit() const { return flags & series_flag::unit_mask; }
  uint8_t* head_ptr() { return data() + head; }
  const uint8_t* head_ptr() const { return data() + head; }
  uint8_t* tail_ptr() { return data() + tail; }
  const uint8_t* tail_ptr() const { return data() + tail; }
  uint32_t used_bytes() const { return tail - head; }
  // Units between head and tail. Units are powers of two: a shift.
  uint32_t length() const { return (tail - head) >> __builtin_ctz(unit()); }
};
static_assert(sizeof(SeriesBuf) == 32);

namespace memory {

inline constexpr uint32_t nodes_per_frame = 10000;
inline constexpr uint32_t node_slot_bits = 14;  // ids per node frame: 16,384
inline constexpr size_t first_series_frame_size = 0x100000;
inline constexpr size_t max_series_frame_size = 0x200000;  // also the big-buffer limit
// A frame with less free room than this is not reused after a collection.
inline constexpr size_t min_reusable_room = 0xCCCC;
// The pause between collections. A collection that finds L bytes alive
// lets the heap take max(L * pause_ratio, min_pause_bytes) bytes of new
// buffers before running out of room collects again; until then a full heap
// grows by a frame instead. Each collection's work is about L, so the total
// work stays in proportion to what a script allocates however large its live
// heap grows (a fixed frame's worth between collections would mark the whole
// heap once per frame: quadratic).
inline constexpr size_t pause_ratio = 1;
// Emptied series frames kept for reuse rather than given back to the system.
inline constexpr size_t max_spare_frames = 4;
// Empty node frames kept after a collection rather than given back.
inline constexpr size_t max_spare_node_frames = 4;
inline constexpr size_t min_pause_bytes = first_series_frame_size;
inline constexpr uint32_t buffer_spare = 16;
// Bytes a buffer of capacity C takes in its frame: C + buffer_overhead.
inline constexpr uint32_t buffer_overhead = sizeof(SeriesBuf) + buffer_spare;
// Largest capacity of a buffer in bytes; larger requests raise
// internal/no-memory.
inline constexpr uint64_t max_capacity = 0x7FFFFFF0;

namespace detail {
inline constexpr uint32_t node_slot_mask = (1u << node_slot_bits) - 1;
inline constexpr size_t node_directory_size = size_t{1} << (32 - node_slot_bits);

struct NodeFrame {
  NodeFrame* next;
  NodeFrame* prev;
  uint32_t index;          // in the node directory
  uint32_t node_count;
  NodeId free_head;        // first free node, 0 when full
  uint32_t used;
  uint32_t created_cycle;  // collector cycle when made
  uint32_t used_at_last_cycle;
  uint32_t stability;      // a bit per collection: 1 when `used` did not change
  uint32_t reserved;
  uintptr_t slots[nodes_per_frame];  // buffer address, or next free id << 1 | 1
};

extern NodeFrame* node_directory[node_directory_size];

// A series frame: a page block holding buffers back to back from first()
// to heap.
struct SeriesFrame {
  SeriesFrame* next;
  SeriesFrame* prev;
  size_t block_size;  // bytes of the page block, header included
  uint8_t* heap;      // first free byte
  uint8_t* end;       // one past the frame
  size_t reserved[3];

  uint8_t* first() { return reinterpret_cast<uint8_t*>(this + 1); }
  size_t room() const { return static_cast<size_t>(end - heap); }
};
static_assert(sizeof(SeriesFrame) % 16 == 0);

// A page block holding one big buffer right after this header.
struct BigFrame {
  BigFrame* next;
  size_t block_size;
  size_t need;  // bytes of the buffer, header and spare included
  size_t reserved;

  SeriesBuf* buffer() { return reinterpret_cast<SeriesBuf*>(this + 1); }
};
static_assert(sizeof(BigFrame) % 16 == 0);

inline uintptr_t& node_slot(NodeId id) {
  return node_directory[id >> node_slot_bits]->slots[(id & node_slot_mask) - 1];
}
}  // namespace detail

// The buffer of node `id`. Valid until the next allocating call.
inline SeriesBuf* buffer(NodeId id) { return reinterpret_cast<SeriesBuf*>(detail::node_slot(id)); }

// Counts every move of a live series to another buffer (growth, the
// collector's compaction, an exchange) and every freed node (whose id may
// come back with another buffer). A node's buffer address read when the
// count was N stays valid while the count is still N, so a hot lookup can
// keep it instead of asking the node directory every time.
inline uint64_t relocations = 0;  // 64 bits: it never wraps back to a kept value

// Sets up the memory manager's records; makes no frame.
void init();
// The first node frame and series frame, made once the types exist.
void add_first_frames();
// Gives every frame back to the system (the runtime's shutdown).
void release_all();

// New series of `count` units of `unit` bytes, head and tail at `head_offset`
// bytes. May collect.
NodeId new_series(uint32_t count, uint32_t unit, uint32_t head_offset = 0);
NodeId new_cell_series(uint32_t count);
// A cell series whose whole capacity is unset! cells; tail stays at head.
NodeId new_unset_cells(uint32_t count);
// Count 0 gives room for 16 bytes.
NodeId new_byte_series(uint32_t count);
// Count 0 gives room for 16 bytes' worth of units.
NodeId new_unit_series(uint32_t count, uint32_t unit);
// Whole capacity filled with `byte`; tail stays at head.
NodeId new_filled_bytes(uint32_t count, uint8_t byte);
// A series in the tracked C heap: never moved by the collector, never swept.
NodeId new_external_series(uint32_t count, uint32_t unit, uint32_t head_offset = 0);

// Gives the series of `node` a new buffer of `new_size` bytes (0: twice the
// capacity); head and tail keep their offsets. The contents are not copied.
// Raises internal/no-memory when the size is not above 0 or too large.
void expand_series(NodeId node, uint32_t new_size);
// Same, copying the old contents (as much as fits).
void expand_copy_series(NodeId node, uint32_t new_size);
// Same, filling the new room past the old capacity with `byte`.
void expand_fill_series(NodeId node, uint32_t new_size, uint8_t byte);
// A new series with a copy of the buffer: same capacity, unit, head and tail.
NodeId copy_series(NodeId node);

// Swaps the buffers of two nodes (a series rebuilt in a scratch series
// takes the new buffer; the scratch node keeps the old one).
inline void exchange_buffers(NodeId a, NodeId b) {
  SeriesBuf* buffer_a = buffer(a);
  SeriesBuf* buffer_b = buffer(b);
  detail::node_slot(a) = reinterpret_cast<uintptr_t>(buffer_b);
  detail::node_slot(b) = reinterpret_cast<uintptr_t>(buffer_a);
  buffer_b->node = a;
  buffer_a->node = b;
  ++relocations;
}

// Takes a free node (its slot set to 0) and frees one. The collector and
// `new_series` use these.
NodeId take_node();
void free_node(NodeId node);
// Whether `node` names a node in use. Inline: the collector asks it of
// every reference it follows.
inline bool is_live_node(NodeId node) {
  if (node == no_node) return false;
  const detail::NodeFrame* frame = detail::node_directory[node >> node_slot_bits];
  const uint32_t slot = node & detail::node_slot_mask;
  if (!frame || slot == 0 || slot > frame->node_count) return false;
  return (frame->slots[slot - 1] & 1) == 0;
}

// The collector calls this when the memory manager needs room and the
// collector is switched on. Null until the collector exists.
using CollectFn = void (*)();
void set_collector(CollectFn collect);

// How much memory the manager holds; read by `stats`.
struct NodeFrameUse {
  uint32_t free_nodes, used_nodes, node_count;
};
struct SeriesFrameUse {
  size_t free_bytes, used_bytes, total_bytes;
};
struct Usage {
  std::vector<NodeFrameUse> node_frames;
  std::vector<SeriesFrameUse> series_frames;  // in address order
  std::vector<size_t> big_buffers;            // bytes of each big frame
  size_t in_use_bytes;                        // nodes + series data + big buffers
  size_t system_bytes;                        // everything taken from the system
  size_t c_heap_bytes;                        // tracked C-heap blocks
};
Usage usage();

// Bytes in use, as `usage().in_use_bytes` counts them, without building
// the whole report.
size_t in_use_bytes();

// The pause: bytes of new buffers the heap takes after a collection before
// a lack of room collects again, and those taken since the last collection.
size_t pause_bytes();
size_t allocated_since_collection();

// Memory that series hold outside the heap (an image's pixels): it counts
// toward the next collection as new buffers do, and as live memory when the
// pause is set after one. `note_external` may collect; `release_external`
// (called when the memory goes, even from inside a collection) never does.
void note_external(size_t bytes);
void release_external(size_t bytes);

// Frames as the collector walks them (address order for series frames).
struct SeriesFrameView {
  uint8_t* first;  // first buffer
  uint8_t* heap;   // first free byte
  uint8_t* end;
};
std::vector<SeriesFrameView> series_frames();
size_t node_frame_count();

// ---- For the collector ----
//
// The collector (collector.cpp) sweeps and compacts what the memory manager
// owns: it walks the frame lists, moves buffers inside and between series
// frames, and gives back frames that end up empty. Nothing else uses these.
namespace for_collector {

detail::NodeFrame* first_node_frame();
// Series frames in ascending address order.
detail::SeriesFrame* first_series_frame();
detail::BigFrame* first_big_frame();

// The buffer that follows `buf` in its series frame.
inline SeriesBuf* next_buffer(SeriesBuf* buf) {
  return reinterpret_cast<SeriesBuf*>(reinterpret_cast<uint8_t*>(buf) + buffer_overhead + buf->capacity);
}

// In address-sanitized builds, the free room of the series frames is
// poisoned, so that a stale pointer into it is reported where it is used.
// Elsewhere these do nothing.
void poison(void* start, size_t bytes);
void unpoison(void* start, size_t bytes);

// Points node `node` at `buf`, a buffer that has moved.
inline void repoint(NodeId node, SeriesBuf* buf) {
  detail::node_slot(node) = reinterpret_cast<uintptr_t>(buf);
  ++relocations;
}

// The frame where allocation goes on.
void set_current_series_frame(detail::SeriesFrame* frame);
// Unlinks the frame and gives it back to the system; the current frame, if
// it was this one, falls back to the head of the list.
void release_series_frame(detail::SeriesFrame* frame);
// Unlinks the big frame and gives it back.
void release_big_frame(detail::BigFrame* frame);

// Series whose buffers come from the tracked C heap: never moved, never
// swept, unmarked by the collector after each collection.
const std::vector<NodeId>& external_nodes();

// After each collection, whatever ran it: the heap held `live_bytes`
// (in_use_bytes()) once it ended, which sets the pause before the next one.
void pace_next_collection(size_t live_bytes);

// Node-frame upkeep after a collection: empty frames other than the first
// go back to the system, the first frame with a free node becomes current,
// and each frame's stability history takes one more bit.
void settle_node_frames(uint32_t cycle);

}  // namespace for_collector
}  // namespace memory
}  // namespace kiv
