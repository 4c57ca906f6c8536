#include "runtime/root_block.h"

#include "runtime/core/gc_safety.h"
#include "runtime/core/series.h"

namespace kiv::root_block {
namespace {
NodeId g_node = no_node;
}

void init() {
  g_node = memory::new_external_series(initial_cells, sizeof(Cell));
  roots::add_permanent(&g_node);
}

uint32_t append(const Cell& value) {
  const Cell copy = value;  // `value` may lie in a buffer that growing moves
  *series::append_slot(g_node) = copy;
  return length() - 1;
}

Cell at(uint32_t position) { return reinterpret_cast<const Cell*>(memory::buffer(g_node)->head_ptr())[position]; }

uint32_t length() { return memory::buffer(g_node)->length(); }

NodeId node() { return g_node; }

}  // namespace kiv::root_block
