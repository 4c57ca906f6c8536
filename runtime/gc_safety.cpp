#include "runtime/gc_safety.h"

#include "runtime/runtime_error.h"

namespace kiv {
namespace roots {
namespace {
RootLink* g_newest = nullptr;
std::vector<Cell*> g_permanent;
}

void add_permanent(Cell* cell) {
  for (Cell* known : g_permanent)
    if (known == cell) return;
  g_permanent.push_back(cell);
}

const std::vector<Cell*>& permanent() { return g_permanent; }

RootLink* newest() { return g_newest; }

void push(RootLink* link) {
  link->prev = g_newest;
  g_newest = link;
}

void pop(RootLink* link) {
  // Roots live in C++ scopes, so they end in reverse order of creation.
  if (g_newest != link) runtime::error(runtime::error_assertion, reinterpret_cast<uintptr_t>(link));
  g_newest = link->prev;
}

}  // namespace roots

namespace gc {

#ifdef KIV_DEBUG_CHECKS
int no_gc_depth = 0;
#endif

void may_gc() {
#ifdef KIV_DEBUG_CHECKS
  if (no_gc_depth != 0) runtime::error(runtime::error_assertion, reinterpret_cast<uintptr_t>(&may_gc));
#endif
}

}  // namespace gc
}  // namespace kiv
