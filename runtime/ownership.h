// Ownership: series that objects own, and the reports of their changes.
//
// An object may own the series in its fields; a change to such a series,
// however deep inside nested blocks, is reported to the object's
// on-deep-change* handler with the word of the field that holds it.
//
// Ownership lives outside the values, in one process-wide node-keyed hash
// table (kind ownership): series node -> three cells, the value as it was
// registered, the owner object, and the owner's field word. An owned
// series also carries the `owned` flag in its buffer, so that the common
// case, a series nobody owns, is answered without a lookup. The owner
// object's context carries the `owner` flag once it has taken ownership of
// its own fields.
//
// What can be owned: block!, paren!, hash! and the path types, deeply (every
// cell from the value's index on); string!, file!, url!, tag!, email!,
// ref!, binary!, vector!, bitset! and image! (through its record; an image
// without pixels has none), flatly. An object! met inside an owned
// value passes ownership on to its own fields (under their own words),
// unless it is an owner itself. A block that contains itself is visited
// once (cycle stack).
//
// The table is weak: it never keeps a series or an owner alive. The
// collector calls `sweep_dead` once it has marked everything else.
//
// Every modifying series action reports twice, through one `ChangeReport`:
// before the change with the action's word (`append`) and after it with the
// past form (`appended`); the second report goes out only when the first
// found an owner.
#pragma once

#include <cstdint>
#include <optional>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/memory.h"

namespace kiv::ownership {

// The modifying actions and their report words.
enum class Change : uint8_t {
  random, clear, poke, remove, reverse, take, move, append, insert, change, put, sort, swap, trim,
  uppercase, lowercase,
};

// Creates the ownership table (runtime start-up).
void init();
// The table's node (no_node before `init`).
NodeId table();

// Marks `value`'s series as owned by `owner`'s field `word` and records
// them; recurses as the header says. A series owned already keeps its
// first owner. May collect.
void set_deep(Val value, Val owner, Val word);
// `set_deep`, then flags `owner`'s context as an owner.
void set_owner(Val value, Val owner, Val word);
// Removes the ownership of `value`'s series and of what it contains. Does
// not allocate.
void unset_deep(const Cell& value);
// `modify value 'owned spec`: none takes the ownership of `value`'s series
// away (deeply); a block [owner word] hands them to `owner`'s field `word`
// (a series owned already keeps its owner). Any other spec raises
// script/invalid-arg. May collect.
void modify_owned(Val value, Val spec);
// `unset_deep` on `count` cells of the block series `block` from `index`.
void unset_range(NodeId block, uint32_t index, uint32_t count);

struct Owner {
  Cell object;  // the owner
  Cell word;    // its field that holds the series
};
// The owner recorded for a series node, if any.
std::optional<Owner> owner_of(NodeId series);

// Tells the owner of `modified`'s series, if any, about a change: calls its
// on-deep-change* with (owner, field word, modified, the action's word or,
// when `done`, its past form, new value, index, count). Answers whether
// there was an owner with a handler record to tell. Runs Kiv code.
bool notify(const Cell& modified, Change change, bool done, const Cell& new_value, uint32_t index, uint32_t count);

class ChangeReport {
 public:
  // The "before" report. Without a new value (a removal, a reordering),
  // the handler gets none.
  ChangeReport(Val series, Change change, uint32_t index, uint32_t count);
  ChangeReport(Val series, Change change, uint32_t index, uint32_t count, Val new_value);
  // The "after" report, with the position and size of what changed.
  void done(uint32_t index, uint32_t count);

 private:
  Val series_;
  std::optional<Val> new_value_;
  Change change_;
  bool owned_;
};

// ---- For the collector ----

struct CollectorHooks {
  // Whether the buffer of a node has been marked in this collection.
  bool (*is_marked)(NodeId node);
  // Keeps a buffer without following what it holds.
  void (*keep_buffer)(NodeId node);
  // Marks a value and whatever it leads to.
  void (*mark_value)(const Cell& value);
};

// The collector's pass over the ownership table, to be called after every
// other root has been marked and before anything is swept:
// 1. keeps the table's own buffers (record, bucket vectors, entry block)
//    without following the entries' cells;
// 2. deletes every entry whose series or owner is not marked; a series
//    that survives its owner loses its owned flag;
// 3. marks the cells of the surviving entries (it finds nothing new: their
//    series and owners are marked already, but the cells must stay valid).
// Does not allocate.
void sweep_dead(const CollectorHooks& hooks);

}  // namespace kiv::ownership
