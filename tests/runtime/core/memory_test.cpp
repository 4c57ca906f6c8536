#include "runtime/core/memory.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "runtime/core/cell.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/exits.h"
#include "runtime/core/series.h"
#include "runtime/core/state.h"

namespace kiv {
namespace {

using memory::buffer;

// A datatype flag bit: the memory manager must carry it like any other.
constexpr uint32_t datatype_bit = 0x00080000;

class Memory : public ::testing::Test {
 protected:
  void SetUp() override {
    memory::init();
    memory::add_first_frames();
  }
  void TearDown() override {
    memory::release_all();
    runtime::state.pending = 0;
  }
};

// Runs `body`, which must raise a script error; returns the error's code.
uint16_t raised_code(const std::function<void()>& body) {
  try {
    body();
  } catch (const Unwind& unwind) {
    EXPECT_EQ(unwind.code, exit_code::error);
    runtime::state.pending = 0;
    return error::pending().code.value;
  }
  ADD_FAILURE() << "no error raised";
  return 0;
}

// Index in series_frames() of the frame holding `buf`, or -1.
int frame_of(const SeriesBuf* buf) {
  const auto* at = reinterpret_cast<const uint8_t*>(buf);
  const auto frames = memory::series_frames();
  for (size_t i = 0; i < frames.size(); ++i)
    if (at >= frames[i].first && at < frames[i].heap) return static_cast<int>(i);
  return -1;
}

// Every buffer of every series frame, walked as the collector walks them.
std::vector<SeriesBuf*> frame_buffers() {
  std::vector<SeriesBuf*> buffers;
  for (const auto& frame : memory::series_frames()) {
    for (uint8_t* at = frame.first; at < frame.heap;) {
      auto* buf = reinterpret_cast<SeriesBuf*>(at);
      buffers.push_back(buf);
      at += memory::buffer_overhead + buf->capacity;
    }
  }
  return buffers;
}

void write_bytes(NodeId node, const std::string& text) {
  SeriesBuf* buf = buffer(node);
  std::memcpy(buf->head_ptr(), text.data(), text.size());
  buf->tail = buf->head + static_cast<uint32_t>(text.size());
}

std::string bytes_of(NodeId node) {
  const SeriesBuf* buf = buffer(node);
  return std::string(reinterpret_cast<const char*>(buf->head_ptr()), buf->used_bytes());
}

// ---- sizes ----

struct SizeCase {
  const char* name;
  std::function<NodeId()> make;
  uint32_t unit;
  uint32_t capacity;
};

TEST_F(Memory, NewSeriesSizesAndHeader) {
  const SizeCase cases[] = {
      {"series 0 x 1", [] { return memory::new_series(0, 1); }, 1, 0},
      {"series 1 x 1", [] { return memory::new_series(1, 1); }, 1, 16},
      {"series 16 x 1", [] { return memory::new_series(16, 1); }, 1, 16},
      {"series 17 x 1", [] { return memory::new_series(17, 1); }, 1, 32},
      {"series 9 x 2", [] { return memory::new_series(9, 2); }, 2, 32},
      {"series 5 x 4", [] { return memory::new_series(5, 4); }, 4, 32},
      {"bytes 0", [] { return memory::new_byte_series(0); }, 1, 16},
      {"bytes 17", [] { return memory::new_byte_series(17); }, 1, 32},
      {"units 0 x 1", [] { return memory::new_unit_series(0, 1); }, 1, 16},
      {"units 0 x 2", [] { return memory::new_unit_series(0, 2); }, 2, 16},
      {"units 0 x 4", [] { return memory::new_unit_series(0, 4); }, 4, 16},
      {"units 3 x 2", [] { return memory::new_unit_series(3, 2); }, 2, 16},
      {"units 5 x 4", [] { return memory::new_unit_series(5, 4); }, 4, 32},
      {"cells 0", [] { return memory::new_cell_series(0); }, 16, 0},
      {"cells 3", [] { return memory::new_cell_series(3); }, 16, 48},
  };
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const NodeId node = c.make();
    ASSERT_TRUE(memory::is_live_node(node));
    const SeriesBuf* buf = buffer(node);
    EXPECT_EQ(buf->capacity, c.capacity);
    EXPECT_EQ(buf->unit(), c.unit);
    EXPECT_EQ(buf->flags & ~series_flag::unit_mask, series_flag::in_use | series_flag::fresh);
    EXPECT_EQ(buf->node, node);
    EXPECT_EQ(buf->head, 0u);
    EXPECT_EQ(buf->tail, 0u);
    EXPECT_NE(frame_of(buf), -1);
  }
  EXPECT_EQ(buffer(memory::new_unit_series(0, 2))->capacity / 2, 8u);
  EXPECT_EQ(buffer(memory::new_unit_series(0, 4))->capacity / 4, 4u);
}

TEST_F(Memory, BuffersLieBackToBackInTheirFrame) {
  const NodeId a = memory::new_series(0, 1);
  const NodeId b = memory::new_byte_series(40);
  const NodeId c = memory::new_cell_series(1);
  const auto* at = reinterpret_cast<const uint8_t*>(buffer(a));
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(buffer(b)), at + memory::buffer_overhead);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(buffer(c)), at + 2 * memory::buffer_overhead + 48);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer(c)->data()) % 16, 0u);
}

TEST_F(Memory, NewUnsetCellsAndFilledBytesFillTheWholeCapacity) {
  const NodeId cells = memory::new_unset_cells(3);
  const SeriesBuf* buf = buffer(cells);
  ASSERT_EQ(buf->capacity, 48u);
  EXPECT_EQ(buf->tail, buf->head);
  const auto* cell = reinterpret_cast<const Cell*>(buf->data());
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(cell[i].header, cell::header(TypeId::unset));
    EXPECT_EQ(cell[i].w1 | cell[i].w2 | cell[i].w3, 0u);
  }

  const NodeId bytes = memory::new_filled_bytes(5, 0x5A);
  buf = buffer(bytes);
  ASSERT_EQ(buf->capacity, 16u);
  EXPECT_EQ(buf->tail, buf->head);
  for (uint32_t i = 0; i < buf->capacity; ++i) EXPECT_EQ(buf->data()[i], 0x5A) << i;
}

TEST_F(Memory, OversizedRequestsRaiseNoMemory) {
  struct Case {
    const char* name;
    std::function<void()> body;
  };
  const Case cases[] = {
      {"bytes above the largest capacity", [] { memory::new_series(0x7FFFFFF1, 1); }},
      {"count x unit past 32 bits", [] { memory::new_series(0x10000000, 16); }},
      {"external above the largest capacity", [] { memory::new_external_series(0x40000000, 2); }},
      {"expand above the largest capacity",
       [] { memory::expand_series(memory::new_byte_series(16), memory::max_capacity + 1); }},
      {"reserve past the largest capacity",
       [] {
         const NodeId node = memory::new_byte_series(16);
         series::reserve_tail(node, 10);
         series::reserve_tail(node, static_cast<uint32_t>(memory::max_capacity));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(raised_code(c.body), error_id::internal::no_memory.value);
  }
}

// ---- nodes ----

TEST_F(Memory, NodesSpillIntoASecondNodeFrame) {
  std::vector<NodeId> nodes;
  for (uint32_t i = 0; i < memory::nodes_per_frame; ++i) nodes.push_back(memory::new_series(0, 1));
  EXPECT_EQ(memory::node_frame_count(), 1u);

  // The first frame is full: freeing one of its nodes makes room again.
  const NodeId freed = nodes[1234];
  memory::free_node(freed);
  EXPECT_FALSE(memory::is_live_node(freed));
  EXPECT_EQ(memory::take_node(), freed);
  EXPECT_TRUE(memory::is_live_node(freed));
  EXPECT_EQ(memory::node_frame_count(), 1u);
  nodes[1234] = memory::new_series(0, 1);  // the only other free nodes are in a new frame

  for (int i = 0; i < 20; ++i) nodes.push_back(memory::new_series(0, 1));
  EXPECT_EQ(memory::node_frame_count(), 2u);
  const auto use = memory::usage().node_frames;
  ASSERT_EQ(use.size(), 2u);
  EXPECT_EQ(use[0].used_nodes, memory::nodes_per_frame);
  EXPECT_EQ(use[0].free_nodes, 0u);
  EXPECT_EQ(use[1].used_nodes, 21u);
  EXPECT_EQ(use[1].free_nodes + use[1].used_nodes, use[1].node_count);

  EXPECT_EQ(std::set<NodeId>(nodes.begin(), nodes.end()).size(), nodes.size());
  for (NodeId node : nodes) {
    ASSERT_TRUE(memory::is_live_node(node)) << node;
    ASSERT_EQ(buffer(node)->node, node);
  }
}

TEST_F(Memory, FreedNodesAreTakenAgainAndNotLive) {
  const NodeId a = memory::take_node();
  const NodeId b = memory::take_node();
  EXPECT_NE(a, b);
  EXPECT_TRUE(memory::is_live_node(a));
  memory::free_node(b);
  memory::free_node(a);
  EXPECT_EQ(memory::take_node(), a);
  EXPECT_EQ(memory::take_node(), b);

  memory::free_node(a);
  const NodeId not_live[] = {
      no_node,
      a,
      memory::nodes_per_frame + 1,        // past the frame's nodes
      (5u << memory::node_slot_bits) | 1,  // no such frame
  };
  for (NodeId node : not_live) EXPECT_FALSE(memory::is_live_node(node)) << node;
}

// ---- series frames ----

TEST_F(Memory, SeriesFramesGrowSortedAndKeepTheirBuffers) {
  ASSERT_EQ(memory::usage().series_frames.size(), 1u);
  EXPECT_EQ(memory::usage().series_frames[0].total_bytes, memory::first_series_frame_size);
  const size_t in_use_before = memory::usage().in_use_bytes;

  constexpr uint32_t size = 200000;
  std::vector<NodeId> nodes;
  for (int i = 0; i < 40; ++i) {
    const NodeId node = memory::new_byte_series(size);
    SeriesBuf* buf = buffer(node);
    std::memset(buf->data(), (i * 37 + 1) & 0xFF, size);
    buf->tail = size;
    nodes.push_back(node);
  }

  const auto use = memory::usage();
  ASSERT_GE(use.series_frames.size(), 4u);
  EXPECT_GE(use.in_use_bytes, in_use_before + 40 * size);
  int first_size_frames = 0;
  for (const auto& frame : use.series_frames) {
    if (frame.total_bytes == memory::first_series_frame_size) ++first_size_frames;
    else EXPECT_EQ(frame.total_bytes, memory::max_series_frame_size);
    EXPECT_EQ(frame.free_bytes + frame.used_bytes, frame.total_bytes);
  }
  EXPECT_EQ(first_size_frames, 1);
  const int first_buffer_frame = frame_of(buffer(nodes[0]));
  ASSERT_NE(first_buffer_frame, -1);
  EXPECT_EQ(use.series_frames[static_cast<size_t>(first_buffer_frame)].total_bytes, memory::first_series_frame_size);
  const auto frames = memory::series_frames();
  for (size_t i = 1; i < frames.size(); ++i) EXPECT_LE(frames[i - 1].end, frames[i].first) << i;

  for (int i = 0; i < 40; ++i) {
    const SeriesBuf* buf = buffer(nodes[i]);
    ASSERT_EQ(buf->node, nodes[i]);
    ASSERT_NE(frame_of(buf), -1);
    const uint8_t expected = (i * 37 + 1) & 0xFF;
    EXPECT_TRUE(std::all_of(buf->data(), buf->data() + size, [&](uint8_t b) { return b == expected; })) << i;
  }
}

TEST_F(Memory, SeriesFrameListStaysSortedWhateverOrderBlocksCome) {
  // The system places a new block in the highest free hole that fits: reserve
  // four holes, then free one before each new frame to choose where it lands.
  // Start with no frame, so that every place in the list can be chosen.
  memory::release_all();
  memory::init();
  constexpr size_t hole_size = memory::max_series_frame_size + 2 * 4096;
  std::vector<void*> holes;
  for (int i = 0; i < 4; ++i) {
    void* hole = ::mmap(nullptr, hole_size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(hole, MAP_FAILED);
    holes.push_back(hole);
  }
  std::sort(holes.begin(), holes.end());

  // The first frame, one above it, one below the head, one between two.
  constexpr size_t fill_order[] = {1, 3, 0, 2};
  constexpr uint32_t fills_a_frame = memory::max_series_frame_size - memory::buffer_overhead - 16;
  std::vector<NodeId> nodes;
  for (size_t hole : fill_order) {
    ASSERT_EQ(::munmap(holes[hole], hole_size), 0);
    const NodeId node = memory::new_byte_series(fills_a_frame);
    std::memset(buffer(node)->data(), static_cast<int>(hole + 1), fills_a_frame);
    nodes.push_back(node);
  }

  const auto frames = memory::series_frames();
  ASSERT_EQ(frames.size(), 4u);
  for (size_t i = 1; i < frames.size(); ++i) EXPECT_LT(frames[i - 1].end, frames[i].first) << i;
  for (size_t i = 0; i < nodes.size(); ++i) {
    const SeriesBuf* buf = buffer(nodes[i]);
    ASSERT_EQ(buf->node, nodes[i]);
    ASSERT_NE(frame_of(buf), -1);
    const auto expected = static_cast<uint8_t>(fill_order[i] + 1);
    EXPECT_TRUE(std::all_of(buf->data(), buf->data() + fills_a_frame, [&](uint8_t b) { return b == expected; }));
  }
}

TEST_F(Memory, BigBufferThreshold) {
  struct Case {
    uint32_t count, unit;
    bool big;
  };
  constexpr uint32_t at_limit = memory::max_series_frame_size - memory::buffer_overhead;
  const Case cases[] = {
      {at_limit, 1, true},
      {at_limit - 16, 1, false},
      {at_limit / 16, 16, true},
      {at_limit / 16 - 1, 16, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.count << " x " << c.unit);
    const size_t big_before = memory::usage().big_buffers.size();
    const NodeId node = memory::new_series(c.count, c.unit);
    const SeriesBuf* buf = buffer(node);
    EXPECT_EQ(buf->capacity, c.count * c.unit);
    EXPECT_EQ((buf->flags & series_flag::big) != 0, c.big);
    EXPECT_EQ(buf->node, node);
    const auto big_buffers = memory::usage().big_buffers;
    if (c.big) {
      ASSERT_EQ(big_buffers.size(), big_before + 1);
      EXPECT_EQ(big_buffers.back(), memory::max_series_frame_size);
      EXPECT_EQ(frame_of(buf), -1);
    } else {
      EXPECT_EQ(big_buffers.size(), big_before);
      EXPECT_NE(frame_of(buf), -1);
    }
  }
}

TEST_F(Memory, BufferEndingAtTheFrameEndDoesNotFit) {
  constexpr uint32_t room = 4096;
  auto frames = memory::series_frames();
  ASSERT_EQ(frames.size(), 1u);
  const memory::SeriesFrameView a = frames[0];
  memory::new_byte_series(static_cast<uint32_t>(a.end - a.heap) - room - memory::buffer_overhead);
  uint8_t* const a_heap = memory::series_frames()[0].heap;
  ASSERT_EQ(a.end - a_heap, room);

  // Exactly filling the room would end the buffer at the frame's end.
  const NodeId exact = memory::new_byte_series(room - memory::buffer_overhead);
  frames = memory::series_frames();
  ASSERT_EQ(frames.size(), 2u);
  const int b = frame_of(buffer(exact));
  ASSERT_NE(b, -1);
  EXPECT_NE(frames[b].first, a.first);

  // Leave the new frame too little room, so that only the first can take the
  // next request: 16 bytes less than the room fits.
  memory::new_byte_series(static_cast<uint32_t>(frames[b].end - frames[b].heap) - 16 - memory::buffer_overhead);
  const NodeId fits = memory::new_byte_series(room - 16 - memory::buffer_overhead);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(buffer(fits)), a_heap);
  EXPECT_EQ(memory::series_frames().size(), 2u);
  for (const auto& frame : memory::series_frames()) EXPECT_EQ(frame.end - frame.heap, 16);
}

// ---- growth ----

TEST_F(Memory, ExpandCopyMovesTheSeriesAndKeepsItsContents) {
  const NodeId node = memory::new_byte_series(32);
  write_bytes(node, "the quick brown fox");
  buffer(node)->flags |= datatype_bit | series_flag::owned | series_flag::mark;
  const Cell whole = series::make(TypeId::string, node, 0);
  const Cell later = series::make(TypeId::string, node, 4);
  const SeriesBuf* old = buffer(node);

  memory::expand_copy_series(node, 100);

  const SeriesBuf* now = buffer(node);
  EXPECT_NE(now, old);
  EXPECT_EQ(now->capacity, 112u);
  EXPECT_EQ(now->node, node);
  EXPECT_EQ(now->head, 0u);
  EXPECT_EQ(bytes_of(node), "the quick brown fox");
  EXPECT_EQ(now->flags & (series_flag::in_use | datatype_bit | series_flag::owned | series_flag::unit_mask),
            series_flag::in_use | datatype_bit | series_flag::owned | 1);
  EXPECT_EQ(now->flags & series_flag::mark, 0u);
  EXPECT_EQ(buffer(series::node_of(whole)), now);
  EXPECT_EQ(buffer(series::node_of(later)), now);
  EXPECT_EQ(series::length_from(later), 15u);

  // The left buffer stays in its frame until the collector takes it, marked as
  // belonging to no series.
  const auto buffers = frame_buffers();
  const auto left = std::find(buffers.begin(), buffers.end(), old);
  ASSERT_NE(left, buffers.end());
  EXPECT_EQ((*left)->node, no_node);
  EXPECT_EQ((*left)->flags & series_flag::in_use, 0u);
}

TEST_F(Memory, ExpandSizes) {
  struct Case {
    uint32_t count, unit, new_size, capacity;
  };
  const Case cases[] = {
      {48, 1, 0, 96},   // 0 doubles
      {2, 16, 0, 64},   // 0 doubles
      {16, 1, 40, 48},  // rounded up to 16
      {4, 16, 40, 32},  // whole cells only
      {64, 1, 16, 16},  // shrinking is allowed without a copy
      {0, 1, 20, 32},   // an empty buffer given a size
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.count << " x " << c.unit << " to " << c.new_size);
    const NodeId node = memory::new_series(c.count, c.unit);
    buffer(node)->tail = std::min<uint32_t>(c.unit, buffer(node)->capacity);
    memory::expand_series(node, c.new_size);
    const SeriesBuf* buf = buffer(node);
    EXPECT_EQ(buf->capacity, c.capacity);
    EXPECT_EQ(buf->unit(), c.unit);
    EXPECT_EQ(buf->node, node);
    EXPECT_EQ(buf->tail, std::min<uint32_t>({c.unit, c.count * c.unit, c.capacity}));
  }
}

TEST_F(Memory, ExpandWithoutAUsableSizeRaisesNoMemory) {
  const NodeId empty = memory::new_cell_series(0);
  const SeriesBuf* before = buffer(empty);
  EXPECT_EQ(raised_code([&] { memory::expand_series(empty, 0); }), error_id::internal::no_memory.value);
  EXPECT_EQ(raised_code([&] { memory::expand_copy_series(empty, 0); }), error_id::internal::no_memory.value);
  EXPECT_EQ(buffer(empty), before);

  // Doubling 1 GB would pass the largest capacity.
  const NodeId huge = memory::new_byte_series(0x40000000);
  before = buffer(huge);
  EXPECT_EQ(raised_code([&] { memory::expand_series(huge, 0); }), error_id::internal::no_memory.value);
  EXPECT_EQ(buffer(huge), before);
}

TEST_F(Memory, ExpandFillFillsOnlyTheNewRoom) {
  const NodeId node = memory::new_filled_bytes(16, 'x');
  write_bytes(node, "abc");
  memory::expand_fill_series(node, 64, '#');
  const SeriesBuf* buf = buffer(node);
  ASSERT_EQ(buf->capacity, 64u);
  EXPECT_EQ(bytes_of(node), "abc");
  const std::string data(reinterpret_cast<const char*>(buf->data()), buf->capacity);
  EXPECT_EQ(data, "abc" + std::string(13, 'x') + std::string(48, '#'));
}

TEST_F(Memory, LeftBigAndExternalBuffersAreFreedAtOnce) {
  const size_t c_heap_before = memory::usage().c_heap_bytes;

  const NodeId external = memory::new_external_series(10, 1);
  EXPECT_EQ(buffer(external)->flags, series_flag::in_use | series_flag::fresh | series_flag::external | 1);
  EXPECT_EQ(buffer(external)->node, external);
  EXPECT_EQ(frame_of(buffer(external)), -1);
  EXPECT_GT(memory::usage().c_heap_bytes, c_heap_before);
  write_bytes(external, "0123456789");
  memory::expand_copy_series(external, 64);
  EXPECT_EQ(buffer(external)->flags & series_flag::external, 0u);
  EXPECT_NE(frame_of(buffer(external)), -1);
  EXPECT_EQ(bytes_of(external), "0123456789");
  EXPECT_EQ(memory::usage().c_heap_bytes, c_heap_before);

  // Into a big frame and out of it again; a tail past the new capacity is cut.
  const NodeId node = memory::new_byte_series(5000);
  std::string text(5000, ' ');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
  write_bytes(node, text);
  memory::expand_copy_series(node, memory::max_series_frame_size);
  EXPECT_NE(buffer(node)->flags & series_flag::big, 0u);
  EXPECT_EQ(memory::usage().big_buffers.size(), 1u);
  EXPECT_EQ(bytes_of(node), text);
  memory::expand_copy_series(node, 4096);
  EXPECT_EQ(buffer(node)->flags & series_flag::big, 0u);
  EXPECT_TRUE(memory::usage().big_buffers.empty());
  EXPECT_EQ(bytes_of(node), text.substr(0, 4096));
}

TEST_F(Memory, CopySeriesCopiesAllButTheOwnedFlag) {
  const NodeId node = memory::new_series(8, 4, 16);
  SeriesBuf* buf = buffer(node);
  for (uint32_t i = 0; i < buf->capacity; ++i) buf->data()[i] = static_cast<uint8_t>(i * 7);
  buf->tail = 28;
  buf->flags |= datatype_bit | series_flag::owned;

  const NodeId copy = memory::copy_series(node);
  ASSERT_NE(copy, node);
  const SeriesBuf* from = buffer(node);
  const SeriesBuf* to = buffer(copy);
  EXPECT_NE(to, from);
  EXPECT_EQ(to->node, copy);
  EXPECT_EQ(to->capacity, from->capacity);
  EXPECT_EQ(to->head, 16u);
  EXPECT_EQ(to->tail, 28u);
  EXPECT_EQ(to->flags, from->flags & ~series_flag::owned);
  EXPECT_EQ(std::memcmp(to->data(), from->data(), from->capacity), 0);

  const NodeId empty_copy = memory::copy_series(memory::new_cell_series(0));
  EXPECT_EQ(buffer(empty_copy)->capacity, 0u);
  EXPECT_EQ(buffer(empty_copy)->unit(), 16u);
}

TEST_F(Memory, ReleaseAllFreesTheExternalBuffersStillHeld) {
  const size_t c_heap_before = memory::usage().c_heap_bytes;
  memory::new_external_series(100, 1);
  const NodeId moved = memory::new_external_series(16, 1);
  memory::expand_series(moved, 64);  // now in a frame: not the C heap's any more
  memory::new_external_series(32, 16);
  memory::new_byte_series(memory::max_series_frame_size);
  ASSERT_GT(memory::usage().c_heap_bytes, c_heap_before);

  memory::release_all();
  EXPECT_EQ(memory::usage().c_heap_bytes, c_heap_before);
}

// ---- series primitives ----

TEST_F(Memory, AppendSlotWritesACleanUnsetCellAndGrows) {
  const NodeId dirty = memory::new_cell_series(2);
  std::memset(buffer(dirty)->data(), 0xFF, buffer(dirty)->capacity);
  const Cell* slot = series::append_slot(dirty);
  EXPECT_EQ(slot->header, cell::header(TypeId::unset));
  EXPECT_EQ(slot->w1 | slot->w2 | slot->w3, 0u);

  const NodeId node = memory::new_cell_series(0);
  for (uint32_t i = 0; i < 5; ++i) {
    Cell* cell = series::append_slot(node);
    EXPECT_EQ(cell->header, cell::header(TypeId::unset));
    cell->w1 = i + 1;
    if (i == 0) {
      EXPECT_EQ(buffer(node)->capacity, 64u);  // room for a few cells at once
    }
  }
  const SeriesBuf* buf = buffer(node);
  EXPECT_EQ(buf->capacity, 128u);
  ASSERT_EQ(buf->length(), 5u);
  const auto* cells = reinterpret_cast<const Cell*>(buf->head_ptr());
  for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(cells[i].w1, i + 1);
}

TEST_F(Memory, ReserveTail) {
  struct Case {
    uint32_t count, tail, bytes, capacity;
  };
  const Case cases[] = {
      {16, 0, 10, 16},     // room enough
      {16, 10, 6, 16},     // exactly enough
      {16, 10, 7, 32},     // doubles
      {16, 10, 100, 112},  // more than double
      {0, 0, 1, 16},       // from nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.count << " tail " << c.tail << " + " << c.bytes);
    const NodeId node = memory::new_series(c.count, 1);
    const std::string kept = std::string("0123456789").substr(0, c.tail);
    write_bytes(node, kept);
    EXPECT_EQ(series::reserve_tail(node, c.bytes), c.tail);
    const SeriesBuf* buf = buffer(node);
    EXPECT_EQ(buf->capacity, c.capacity);
    EXPECT_EQ(buf->tail, c.tail + c.bytes);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buf->data()), c.tail), kept);
  }
}

TEST_F(Memory, CopyUnitsClampsAndDropsTheOwnedFlag) {
  // Eight 16-bit units 100..107 behind a head offset.
  const NodeId source = memory::new_series(16, 2, 4);
  SeriesBuf* buf = buffer(source);
  auto* units = reinterpret_cast<uint16_t*>(buf->head_ptr());
  for (uint16_t i = 0; i < 8; ++i) units[i] = static_cast<uint16_t>(100 + i);
  buf->tail = buf->head + 16;
  buf->flags |= datatype_bit | series_flag::owned;

  struct Case {
    uint32_t start, count, length;
  };
  const Case cases[] = {{0, 8, 8}, {2, 3, 3}, {5, 10, 3}, {8, 1, 0}, {20, 4, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "from " << c.start << " count " << c.count);
    const NodeId copy = series::copy_units(source, c.start, c.count);
    const SeriesBuf* to = buffer(copy);
    EXPECT_EQ(to->node, copy);
    EXPECT_EQ(to->unit(), 2u);
    EXPECT_EQ(to->head, 0u);
    ASSERT_EQ(to->length(), c.length);
    EXPECT_NE(to->flags & datatype_bit, 0u);
    EXPECT_EQ(to->flags & series_flag::owned, 0u);
    const auto* copied = reinterpret_cast<const uint16_t*>(to->head_ptr());
    for (uint32_t i = 0; i < c.length; ++i) EXPECT_EQ(copied[i], 100 + c.start + i);
  }
}

TEST(MemorySeries, FillRepeatRepeatsTheLeadingBytes) {
  struct Case {
    uint32_t bytes, times;
  };
  const Case cases[] = {{3, 0}, {3, 1}, {3, 2}, {3, 5}, {1, 16}, {5, 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bytes << " x " << c.times);
    std::vector<uint8_t> data(64, '.');
    for (uint32_t i = 0; i < c.bytes; ++i) data[i] = static_cast<uint8_t>('a' + i);
    series::fill_repeat(data.data(), c.bytes, c.times);
    const uint32_t filled = c.bytes * std::max(c.times, 1u);
    for (uint32_t i = 0; i < data.size(); ++i)
      EXPECT_EQ(data[i], i < filled ? 'a' + i % c.bytes : '.') << i;
  }
}

}  // namespace
}  // namespace kiv
