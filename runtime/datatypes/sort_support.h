// What the sort actions of blocks and strings share: resolving the
// refinements and calling a comparator function.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/datatypes/actions.h"

namespace kiv::sort_support {

// The stretch to sort and how its records are compared.
struct Plan {
  uint32_t from = 0;   // first unit sorted
  uint32_t count = 0;  // units sorted
  uint32_t size = 1;   // units per record (/skip)
  uint32_t key = 0;    // the unit of a record that orders it (an integer /compare)
  bool by_function = false;
  uint32_t records() const { return count / size; }
};

// Resolves /part, /skip, /all and /compare against `series`, raising the
// errors of bad combinations. A negative /part sorts the units before the
// head and moves the head of `series` back to the first of them.
Plan plan(Val series, const SortOptions& options);

// Calls a comparator function with two values. Its cells live on the
// argument stack from construction: build it after anything the caller
// pushes for the whole sort, and drop it with them.
class FunctionComparator {
 public:
  explicit FunctionComparator(const Cell& function);
  // The order of record a against record b (above 0: a goes after b).
  // The function is asked whether b goes first, with (b, a), or with
  // (a, b) under /reverse. Runs Kiv code: it may collect, and an exit or
  // error raised inside is thrown.
  int order(const Cell& a, const Cell& b, bool reverse);

 private:
  Val function_;
  Val arguments_;  // a private block of the two values
  Cell name_;
};

// Reads a comparator's answer about (x, y) as the order of y against x:
// true (x goes first) 1, false -1; an integer i -i and a float its sign
// negated (so a comparator answering x - y sorts ascending); none -1;
// anything else 1.
int answer_order(const Cell& answer);

}  // namespace kiv::sort_support
