#include "runtime/core/gc_safety.h"

#include "runtime/core/runtime_error.h"

namespace kiv {
namespace roots {
namespace {
RootLink* g_newest = nullptr;
std::vector<Cell*> g_permanent_cells;
std::vector<NodeId*> g_permanent_nodes;

template <class T>
void add_once(std::vector<T*>& list, T* item) {
  for (T* known : list)
    if (known == item) return;
  list.push_back(item);
}
}  // namespace

void add_permanent(Cell* cell) { add_once(g_permanent_cells, cell); }
void add_permanent(NodeId* node) { add_once(g_permanent_nodes, node); }
const std::vector<Cell*>& permanent_cells() { return g_permanent_cells; }
const std::vector<NodeId*>& permanent_nodes() { return g_permanent_nodes; }

void clear_permanent() {
  for (Cell* cell : g_permanent_cells) *cell = Cell{cell::header(TypeId::unset), 0, 0, 0};
  for (NodeId* node : g_permanent_nodes) *node = no_node;
}

RootLink* newest() { return g_newest; }

void push(RootLink* link) {
  link->prev = g_newest;
  g_newest = link;
}

void pop(RootLink* link) {
  // Roots live in C++ scopes, so they end in reverse order of creation.
  if (g_newest != link) runtime::fatal(runtime::error_assertion, reinterpret_cast<uintptr_t>(link));
  g_newest = link->prev;
}

}  // namespace roots

namespace gc {

#ifdef KIV_DEBUG_CHECKS
int no_gc_depth = 0;
#endif

void set_stress_hook(StressHook hook) { detail::stress_hook = hook; }

void detail::allocation_in_no_gc_scope() {
  runtime::fatal(runtime::error_assertion, reinterpret_cast<uintptr_t>(&allocation_in_no_gc_scope));
}

}  // namespace gc
}  // namespace kiv
