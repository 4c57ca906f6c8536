// block!: the series of value cells on which the language rests (code,
// data, argument lists, specs); paren! is a block that evaluates.
//
// A block is a series (series_type.h) whose buffer has 16-byte units: each
// unit is a cell. A cell's new-line marker records that a line break came
// before it in the source; mold lays the block out by it.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/memory.h"

namespace kiv::block {

// A new empty block with room for `capacity` cells (at least one). May
// collect.
Cell make_new(uint32_t capacity, TypeId type = TypeId::block);
Val push_new(uint32_t capacity, TypeId type = TypeId::block);

// Cells from the head to the tail.
uint32_t count(const Cell& block);
// Cell `index` counted from the head; valid until the next allocation.
Cell* at(const Cell& block, uint32_t index);

// Appends a copy of `value` at the tail. May collect.
void append(Val block, Cell value);
// Appends copies of the cells of `source` from its head (it may be `block`
// itself). May collect.
void append_all(Val block, Val source);

// Copies the cells of a block into a new block of the same type; with
// `deep`, nested series are copied too.
Cell copy(Val block, bool deep);

// block! (after series!); paren! registers later in the order of types.
void register_types();
void register_paren();
// path!, lit-path!, set-path!, get-path!.
void register_paths();

}  // namespace kiv::block
