// The argument stack: the home of every value the evaluator works on.
//
// A contiguous array of 20,000 cells that never moves. The current call's
// window starts at `base`: its arguments are the cells from base upward and
// its result goes into the cell at base (the result slot). `top` is the
// first free cell. The collector treats every cell below top as live, so a
// value pushed here is safe across any allocation (gc_safety.h).
//
// A push that would reach the end of the array lowers top by five cells, to
// leave the error handling room, and raises internal/stack-overflow.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"

namespace kiv::stack {

inline constexpr uint32_t argument_cells = 20000;

class ArgStack {
 public:
  static void init();

  static Val push_slot() {
    Cell* slot = top_;
    if (++top_ >= end_) overflow();
    slot->header = cell::header(TypeId::unset);
    return Val(slot);
  }
  static Val push(const Cell& value) {
    Cell* slot = top_;
    if (++top_ >= end_) overflow();
    *slot = value;
    return Val(slot);
  }
  static void pop(uint32_t count) { top_ = count >= depth() ? begin_ : top_ - count; }

  // The cell at `index` counted from the bottom of the stack.
  static Val at(uint32_t index) { return Val(begin_ + index); }
  static Val last() { return Val(top_ == begin_ ? begin_ : top_ - 1); }
  static Val result() { return Val(base_); }

  static uint32_t depth() { return static_cast<uint32_t>(top_ - begin_); }
  static uint32_t base_index() { return static_cast<uint32_t>(base_ - begin_); }
  // Drops the cells above `depth` (depth() when a stretch of work began).
  static void drop_to(uint32_t saved_depth) { top_ = begin_ + saved_depth; }
  static void set_base(uint32_t index) { base_ = begin_ + index; }

  // Drops the current window, result slot included.
  static void reset() { top_ = base_; }
  // Keeps only the result slot.
  static void keep() { top_ = base_ + 1; }
  static void set_last(const Cell& value) { *base_ = value; }
  static void set_result_keep(const Cell& value) {
    top_ = base_ + 1;
    *base_ = value;
  }

  // For the collector: the live cells.
  static const Cell* begin() { return begin_; }
  static const Cell* top() { return top_; }

 private:
  [[noreturn]] static void overflow();

  static Cell* begin_;
  static Cell* base_;
  static Cell* top_;
  static Cell* end_;
};

inline void init() { ArgStack::init(); }
inline Val push_slot() { return ArgStack::push_slot(); }
inline Val push(const Cell& value) { return ArgStack::push(value); }
inline void pop(uint32_t count) { ArgStack::pop(count); }
inline Val last() { return ArgStack::last(); }
inline Val result() { return ArgStack::result(); }
inline uint32_t depth() { return ArgStack::depth(); }
inline void drop_to(uint32_t saved_depth) { ArgStack::drop_to(saved_depth); }
inline void set_last(const Cell& value) { ArgStack::set_last(value); }

}  // namespace kiv::stack
