#include "runtime/core/series.h"

#include <algorithm>
#include <cstring>

#include "runtime/core/gc_safety.h"

namespace kiv::series {

Cell* append_slot(NodeId node) {
  gc::may_gc();  // may allocate: the collector's stress mode counts it even with room left
  SeriesBuf* buf = memory::buffer(node);
  if (buf->tail + sizeof(Cell) > buf->capacity) {
    // Doubling an empty buffer would give nothing: start with a few cells.
    const uint32_t grown = std::max<uint32_t>(buf->capacity * 2, 4 * sizeof(Cell));
    memory::expand_copy_series(node, grown);
    buf = memory::buffer(node);
  }
  auto* slot = reinterpret_cast<Cell*>(buf->tail_ptr());
  *slot = Cell{cell::header(TypeId::unset), 0, 0, 0};
  buf->tail += sizeof(Cell);
  return slot;
}

uint32_t reserve_tail_growing(NodeId node, uint32_t bytes) {
  SeriesBuf* buf = memory::buffer(node);
  if (buf->capacity - buf->tail < bytes) {
    const uint64_t needed = uint64_t{buf->tail - buf->head} + bytes;
    const uint64_t grown = std::max<uint64_t>(uint64_t{buf->capacity} * 2, needed);
    memory::expand_copy_series(node, static_cast<uint32_t>(std::min<uint64_t>(grown, memory::max_capacity)));
    buf = memory::buffer(node);
    if (buf->capacity - buf->tail < bytes) memory::expand_copy_series(node, 0);  // raises when too large
  }
  const uint32_t old_tail = buf->tail;
  buf->tail += bytes;
  return old_tail;
}

NodeId copy_units(NodeId node, uint32_t start, uint32_t count) {
  const SeriesBuf* from = memory::buffer(node);
  const uint32_t unit = from->unit();
  const uint32_t available = start >= from->length() ? 0 : from->length() - start;
  count = std::min(count, available);
  const NodeId copy = memory::new_series(count, unit);
  from = memory::buffer(node);  // the allocation may have moved it
  SeriesBuf* to = memory::buffer(copy);
  const uint32_t kept_bits = ~(series_flag::owned | series_flag::mark | series_flag::big | series_flag::external);
  to->flags = (from->flags & kept_bits) | (to->flags & series_flag::big);
  std::memcpy(to->data(), from->head_ptr() + start * unit, size_t{count} * unit);
  to->tail = count * unit;
  return copy;
}

void fill_repeat(uint8_t* data, uint32_t bytes, uint32_t times) {
  const uint64_t total = uint64_t{bytes} * times;
  uint64_t done = bytes;
  while (done < total) {
    const uint64_t chunk = std::min(done, total - done);
    std::memcpy(data + done, data, chunk);
    done += chunk;
  }
}

}  // namespace kiv::series
