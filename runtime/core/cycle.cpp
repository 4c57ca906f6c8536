#include "runtime/core/cycle.h"

#include "runtime/core/error_raise.h"

namespace kiv::cycle {
namespace {

NodeId g_entries[capacity];
uint32_t g_depth = 0;

}  // namespace

void push(NodeId node) {
  g_entries[g_depth++] = node;
  if (g_depth == capacity) {
    g_depth = 0;
    error::raise(error_id::internal::too_deep);
  }
}

void pop() {
  if (g_depth > 0) --g_depth;
}

void drop(uint32_t count) { g_depth = count >= g_depth ? 0 : g_depth - count; }

void reset() { g_depth = 0; }

bool find(NodeId node) {
  for (uint32_t i = 0; i < g_depth; ++i)
    if (g_entries[i] == node) return true;
  return false;
}

uint32_t depth() { return g_depth; }

std::string_view elision(TypeId type, bool molding) {
  if (!molding) return "...";
  switch (type) {
    case TypeId::block:
    case TypeId::hash: return "[...]";
    case TypeId::paren: return "(...)";
    case TypeId::map: return "#[...]";
    case TypeId::object: return "make object! [...]";
    default: return "...";
  }
}

}  // namespace kiv::cycle
