// Primitives over series buffers that every series datatype uses.
//
// A series value is a cell with the head index in w1 and the node in w2.
// Functions here take the node: a node id stays valid across allocation,
// a buffer address does not (gc_safety.h).
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/memory.h"

namespace kiv::series {

inline NodeId node_of(const Cell& value) { return value.w2; }
inline uint32_t index_of(const Cell& value) { return value.w1; }

// A series cell of `type` on `node`, at `index`.
inline Cell make(TypeId type, NodeId node, uint32_t index = 0) { return Cell{cell::header(type), index, node, 0}; }

// Units from the value's index to the tail (0 when the index is past it).
inline uint32_t length_from(const Cell& value) {
  const SeriesBuf* buf = memory::buffer(node_of(value));
  const uint32_t length = buf->length();
  return value.w1 >= length ? 0 : length - value.w1;
}

// Appends an unset! cell (no flags) at the tail of a cell series, growing
// it when full; returns the new cell, valid until the next allocation.
Cell* append_slot(NodeId node);

// reserve_tail when the buffer lacks room: grows it, then reserves.
uint32_t reserve_tail_growing(NodeId node, uint32_t bytes);

// Makes room for `bytes` more at the tail and moves the tail past them;
// returns the byte offset (from the data start) of the old tail. May
// collect (the stress mode counts it even when there is room). Inline: a
// buffer with room left, the common case, costs a compare and an add.
inline uint32_t reserve_tail(NodeId node, uint32_t bytes) {
  gc::may_gc();
  SeriesBuf* buf = memory::buffer(node);
  if (buf->capacity - buf->tail < bytes) [[unlikely]]
    return reserve_tail_growing(node, bytes);
  const uint32_t old_tail = buf->tail;
  buf->tail += bytes;
  return old_tail;
}

// A new series of the same unit size holding `count` units of `node` from
// unit `start` on (count clamped to what is there). The datatype flag bits
// are copied; the owned flag is not.
NodeId copy_units(NodeId node, uint32_t start, uint32_t count);

// Repeats the first `bytes` bytes of the data `times` times in place (the
// original is the first copy), doubling the copied run at each step. The
// buffer must have room for bytes x times.
void fill_repeat(uint8_t* data, uint32_t bytes, uint32_t times);

}  // namespace kiv::series
