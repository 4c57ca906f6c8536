// hash!: a block whose cells are also entered in a hash table, so that
// searching it does not scan.
//
// Payload: a block's (w1 the head index, w2 the node of the cells) and w3
// the node of the table (hashtable.h, kind hash). The table indexes every
// cell of the block, from the buffer's start whatever the head, by its
// position; equal cells share one bucket through a list of positions.
//
// Every block action works on a hash! and the table follows its cells. The
// modifying actions run the block's own action, then bring the table in
// step over the cells that changed (`note_change`): the keys of the cells
// that went leave the table, the positions of the cells behind them shift,
// and the new cells are put in. Actions that reorder cells in place (sort,
// reverse, trim) re-enter every cell from the head. `move` and `swap`,
// whose second series may be a hash! too, call `note_change` from the
// block code for each side.
//
// A hash! cell always carries its table: code that makes one (copy, take,
// the set operations) gives it a table with `attach_table`.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"

namespace kiv::hash {

// Brings the table of `value` in step after its block changed: of the
// `old_total` cells it held, `removed` cells from `index` gave way to
// `added` new ones. Does nothing unless `value` is a hash!. May allocate.
void note_change(const Cell& value, uint32_t old_total, uint32_t index, uint32_t removed, uint32_t added);

// Gives the hash! `value` a new table over all the cells of its block.
// May collect.
void attach_table(Val value);

void register_types();

}  // namespace kiv::hash
