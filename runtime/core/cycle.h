// The cycle stack: the series that a deep walk (mold, form, copy/deep,
// binding, ownership marking, comparison) is inside of right now.
//
// A walk pushes the node of each series it descends into and pops it on the
// way out; finding a node already on the stack means the data contains
// itself, and the walk stops there (mold writes "[...]" and the like).
// The stack holds 1,000 entries: the 1,000th nested push empties it and
// raises internal/too-deep.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

namespace kiv::cycle {

inline constexpr uint32_t capacity = 1000;

void push(NodeId node);
void pop();
void drop(uint32_t count);
void reset();
bool find(NodeId node);
uint32_t depth();

// Restores the stack's depth when a walk ends, by return or by an error, so
// that an error caught in the middle of a walk leaves no stale entries.
class Guard {
 public:
  Guard() : depth_(cycle::depth()) {}
  ~Guard() { drop(cycle::depth() > depth_ ? cycle::depth() - depth_ : 0); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  uint32_t depth_;
};

// What mold (or form) writes in place of a value of `type` whose series is
// already being walked.
std::string_view elision(TypeId type, bool molding);

}  // namespace kiv::cycle
