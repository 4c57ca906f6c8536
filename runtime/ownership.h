// Change reports for series that objects own.
//
// An object may own the series in its fields; a change to such a series,
// however deep, is reported to the object's on-deep-change* handler. Every
// modifying series action reports twice, through one `ChangeReport`: before
// the change with the action's word (`append`) and after it with the past
// form (`appended`); the second report goes out only when the first found
// an owner.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/gc_safety.h"

namespace kiv::ownership {

// The modifying actions and their report words.
enum class Change : uint8_t {
  random, clear, poke, remove, reverse, take, move, append, insert, change, put, sort, swap, trim,
  uppercase, lowercase,
};

// Tells the owner of `modified`'s series, if any, about a change; answers
// whether there was an owner to tell.
bool notify(const Cell& modified, Change change, bool done, const Cell& new_value, uint32_t index, uint32_t count);

class ChangeReport {
 public:
  ChangeReport(Val series, Change change, uint32_t index, uint32_t count);
  // The "after" report, with the position and size of what changed.
  void done(uint32_t index, uint32_t count);

 private:
  Val series_;
  Change change_;
  bool owned_;
};

}  // namespace kiv::ownership
