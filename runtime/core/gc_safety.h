// Keeping values alive and in place across allocation.
//
// The collector finds live values from its roots: the root block, the
// argument stack, the call stack, and the C++ values registered here. It may
// run inside any call that allocates a series, and it moves buffers. Hence
// the rule that every C++ function of the runtime follows:
//
//   A function that may allocate or evaluate takes its value inputs as `Val`:
//   a cell on the argument stack or in a `Rooted<Cell>`, never a pointer into
//   a series buffer. A raw pointer into series data (`Cell*`, `uint8_t*`,
//   `SeriesBuf*`) is valid only until the next call that may allocate; keep
//   positions as (node, index) and derive the pointer again after the call.
//
// For example, appending the first cell of block `b` to block `c`:
//
//   Cell* first = block::at(b, 0);          // points into b's buffer
//   block::append(c, first);                // does not compile: may allocate
//   Val copy = stack::push(*first);         // a 16-byte copy, rooted
//   block::append(c, copy);                 // right: growing c cannot move it
//
// `NoGcScope` marks a stretch of code that holds raw pointers and must not
// allocate; in checked builds an allocation inside one ends the process as
// runtime error 98 "assertion failed".
#pragma once

#include <cstdint>
#include <type_traits>
#include <vector>

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

namespace kiv {

namespace stack {
class ArgStack;
}

// A cell that the collector sees and that never moves: an argument-stack
// slot or the cell of a `Rooted<Cell>`. Only those can make one.
class Val {
 public:
  Cell* get() const { return cell_; }
  Cell* operator->() const { return cell_; }
  Cell& operator*() const { return *cell_; }

 private:
  explicit Val(Cell* cell) : cell_(cell) {}
  Cell* cell_;

  friend class stack::ArgStack;
  template <class T>
  friend class Rooted;
};

namespace roots {

enum class RootKind : uint8_t { cell, node };

// A registered C++ root: one entry of a LIFO chain.
struct RootLink {
  RootLink* prev;
  RootKind kind;
  void* target;  // Cell* or NodeId*
#ifdef KIV_DEBUG_CHECKS
  const char* file;
  int line;
#endif
};

// Newest registered root; the collector walks the chain to its end.
RootLink* newest();
void push(RootLink* link);
void pop(RootLink* link);

// Cells and node ids that live as long as the runtime (module state such as
// the value slot table's block): registered once, marked by every
// collection.
void add_permanent(Cell* cell);
void add_permanent(NodeId* node);
const std::vector<Cell*>& permanent_cells();
const std::vector<NodeId*>& permanent_nodes();
// Empties every registered cell and node id: a runtime started again (the
// tests start one per case) must not mark what the previous one left there.
void clear_permanent();

}  // namespace roots

// A C++ value kept alive (and, for a node, followed) by the collector while
// this object lives. Roots are released in reverse order of creation.
template <class T>
class Rooted {
  static_assert(std::is_same_v<T, Cell> || std::is_same_v<T, NodeId>, "a cell or a node id");

 public:
  explicit Rooted(const T& initial = T{}, const char* file = __builtin_FILE(), int line = __builtin_LINE())
      : value_(initial) {
    link_.kind = std::is_same_v<T, Cell> ? roots::RootKind::cell : roots::RootKind::node;
    link_.target = &value_;
#ifdef KIV_DEBUG_CHECKS
    link_.file = file;
    link_.line = line;
#else
    (void)file;
    (void)line;
#endif
    roots::push(&link_);
  }
  ~Rooted() { roots::pop(&link_); }
  Rooted(const Rooted&) = delete;
  Rooted& operator=(const Rooted&) = delete;

  T& get() { return value_; }
  const T& get() const { return value_; }
  Rooted& operator=(const T& value) {
    value_ = value;
    return *this;
  }
  Val val()
    requires std::is_same_v<T, Cell>
  {
    return Val(&value_);
  }

 private:
  T value_;
  roots::RootLink link_{};
};

namespace gc {

#ifdef KIV_DEBUG_CHECKS
extern int no_gc_depth;
#endif

// The stress mode's hook, run by every `may_gc` (null: none).
using StressHook = void (*)();
void set_stress_hook(StressHook hook);

namespace detail {
inline StressHook stress_hook = nullptr;
[[noreturn]] void allocation_in_no_gc_scope();
}  // namespace detail

// Called at the start of every function that may allocate a series: the
// checked build's guard against allocation inside a `NoGcScope`, and the
// place where the collector's stress mode hooks in. Inline: the allocation
// fast paths (a series with room left) run it on every call.
inline void may_gc() {
#ifdef KIV_DEBUG_CHECKS
  if (no_gc_depth != 0) detail::allocation_in_no_gc_scope();
#endif
  if (detail::stress_hook) detail::stress_hook();
}

}  // namespace gc

// While one lives, no series may be allocated (checked builds).
class NoGcScope {
 public:
#ifdef KIV_DEBUG_CHECKS
  NoGcScope() { ++gc::no_gc_depth; }
  ~NoGcScope() { --gc::no_gc_depth; }
#else
  NoGcScope() {}  // user-provided: a scope object is never "unused"
  ~NoGcScope() {}
#endif
  NoGcScope(const NoGcScope&) = delete;
  NoGcScope& operator=(const NoGcScope&) = delete;
};

}  // namespace kiv
