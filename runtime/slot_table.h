// The value slot table: values kept alive under a small number.
//
// Code outside the language's values (the windowing layer) stores a value
// here and keeps only its slot number, say in a native window's user data.
// The slots are the cells of one block!, a permanent root, so whatever is
// stored stays alive until its slot is freed.
//
// Slot numbers start at 1. A free slot is an integer! cell holding the
// index of the next free slot (-1 ends the chain); the block's tail always
// stands at its capacity. The table starts with 100 slots and doubles.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"

namespace kiv::slot_table {

inline constexpr uint32_t initial_slots = 100;

void init();
// Copies the value into a free slot, growing the table when none is free
// (which may collect); returns the slot number.
uint32_t store(Val value);
// The slot's cell; valid until the next allocation. Only numbers that
// `store` returned are accepted.
Cell* get(uint32_t slot);
// Frees a slot; 0 does nothing.
void free(uint32_t slot);

uint32_t capacity();
// The block that holds the slots.
const Cell& block();

}  // namespace kiv::slot_table
