#include "runtime/slot_table.h"

#include "runtime/core/memory.h"
#include "runtime/core/series.h"

namespace kiv::slot_table {
namespace {

Cell g_block{};
int32_t g_free_head = -1;

Cell* cells() { return reinterpret_cast<Cell*>(memory::buffer(series::node_of(g_block))->data()); }

Cell free_cell(int32_t next) { return Cell{cell::header(TypeId::integer), 0, static_cast<uint32_t>(next), 0}; }

// Chains the cells from `first` to the end of the buffer as free.
void chain_free(uint32_t first) {
  SeriesBuf* buf = memory::buffer(series::node_of(g_block));
  const uint32_t count = buf->capacity / sizeof(Cell);
  Cell* slots = cells();
  for (uint32_t i = first; i < count; ++i) slots[i] = free_cell(i + 1 < count ? static_cast<int32_t>(i + 1) : -1);
  g_free_head = static_cast<int32_t>(first);
  buf->tail = buf->capacity;
}

}  // namespace

void init() {
  g_block = series::make(TypeId::block, memory::new_cell_series(initial_slots));
  roots::add_permanent(&g_block);
  chain_free(0);
}

uint32_t store(Val value) {
  if (g_free_head < 0) {
    const uint32_t old_count = capacity();
    memory::expand_copy_series(series::node_of(g_block), old_count * 2 * sizeof(Cell));
    chain_free(old_count);
  }
  const auto index = static_cast<uint32_t>(g_free_head);
  Cell* slot = cells() + index;
  g_free_head = static_cast<int32_t>(slot->w2);
  *slot = *value;
  return index + 1;
}

Cell* get(uint32_t slot) { return cells() + (slot - 1); }

void free(uint32_t slot) {
  if (slot == 0) return;
  cells()[slot - 1] = free_cell(g_free_head);
  g_free_head = static_cast<int32_t>(slot - 1);
}

uint32_t capacity() { return memory::buffer(series::node_of(g_block))->capacity / sizeof(Cell); }

const Cell& block() { return g_block; }

}  // namespace kiv::slot_table
