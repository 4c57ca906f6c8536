// series!: the abstract parent of every value that is a position in an
// ordered buffer of units (blocks, strings, binaries, vectors, images).
//
// A series value's payload: w1 the head index in units from the buffer's
// start (it may lie beyond the tail after another reference shortened the
// series: readers then treat it as the tail), w2 the node, w3 per type.
// The actions here work on any unit size; children inherit them and
// override what they must.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/memory.h"
#include "runtime/core/series.h"

namespace kiv::series_type {

// Units in the buffer; the value's head clamped to them; units from the
// head to the tail. Inline: every series action asks them.
// An image's units are its pixels, which live outside its series (its
// size word, w3, gives their count).
inline uint32_t total(const Cell& value) {
  if (cell::type_of(value) == TypeId::image) return (value.w3 & 0xFFFF) * (value.w3 >> 16);
  return memory::buffer(series::node_of(value))->length();
}
inline uint32_t head(const Cell& value) { return std::min(value.w1, total(value)); }
inline uint32_t length(const Cell& value) { return total(value) - head(value); }

// The unit at `position` as a value: a block's cell, a string's char!.
Cell unit_value(const Cell& series, uint32_t position);

// pick of every series type that does not override it: the unit at
// `index` (1 the head, -1 the unit before it), or none! outside the
// series. `series` takes the result.
void pick(Val series, Val, int32_t index);

// The same for a cell series (an any-block!), without the dispatch: the
// cell at `index`, or none!.
inline Cell pick_cell(const Cell& block, int32_t index) {
  const SeriesBuf* buf = memory::buffer(series::node_of(block));
  const int64_t position = static_cast<int64_t>(block.w1) + (index > 0 ? index - 1 : index);
  if (index == 0 || position < 0 || position >= buf->length()) return Cell{cell::header(TypeId::none), 0, 0, 0};
  return reinterpret_cast<const Cell*>(buf->head_ptr())[position];
}

// Resolves a /part argument against a series at `head`: an integer! count,
// or a position in the same series (the distance to it). Anything else
// raises script/invalid-refine-arg. The count may be negative.
int64_t part_count(const Cell& series, const Cell& part);

// Removes `count` units at `position`, closing the gap.
void remove_units(NodeId node, uint32_t position, uint32_t count);
// A new series of `series`'s type holding `count` units from `start`.
Cell copy_range(const Cell& series, uint32_t start, uint32_t count);

void register_types();

}  // namespace kiv::series_type
