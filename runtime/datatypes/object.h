// object!: the record type. A context whose words are its fields, a class
// id, and an optional change-handler record.
//
// Payload:
//   w1  node of the context (kind object, values stored, object-made flag);
//       the context's self cell always holds a copy of the object cell, so
//       `self` and the context lead back to the object
//   w2  class id: objects made from the same prototype without new fields
//       share it; every other object made at run time takes a new one from
//       a counter that starts above 1,000,000
//   w3  node of the change-handler record, or 0 when the object has none
//
// Change-handler record: a cell series of two pair! cells, the first for
// on-change*, the second for on-deep-change*. Each holds in w2 the field
// index of its handler << 16 OR the number of /local words of the
// handler's spec (an index of 0xFFFF: no such handler). The record is built
// once the fields are final (make, copy); it exists when either field does.
// The handlers' functions are read from the fields at each call, so a new
// function stored into a handler field is the one called from then on.
//
// Change handlers:
//   on-change* word old new: after every store into a field (a set-word in
//     the object's context, a path assignment, `set` on the object, `put`),
//     called with the field word, the old and the new value;
//   on-deep-change* owner word target action new index part: when a series
//     held (however deeply) in one of its fields changes in place; the
//     object owns those series from its making on (ownership.h).
//
// Each field's word entry carries the "set" flag of contexts, raised by
// every store; making an object clears them all once its spec has run, so
// that `reflect obj 'changed` lists the fields assigned since.
#pragma once

#include <cstdint>
#include <optional>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/memory.h"

namespace kiv::object {

// Run-time class ids are taken from this counter, incremented before use.
inline constexpr uint32_t class_counter_start = 1000000;
// A record descriptor's index when the handler does not exist.
inline constexpr uint32_t no_handler = 0xFFFF;

inline Cell make(NodeId context, uint32_t class_id, NodeId record) {
  return Cell{cell::header(TypeId::object), context, class_id, record};
}

// A class id not used before.
uint32_t new_class_id();

// Pushes a new object over an empty object context with room for `size`
// fields: class 0, no record, stored in its self cell. May collect.
Val push_new(uint32_t size);

// The index of the field named by `symbol` (any case), or -1.
int32_t find_field(const Cell& object, uint32_t symbol);
// The field's value, or none when there is no such field.
Cell select_value(const Cell& object, uint32_t symbol);
uint32_t field_count(const Cell& object);

// A new block holding a copy of the object's values. May collect.
Cell values_of(Val object);

// The object's fields as a new block of set-word / value pairs (its `body`
// reflection, and what `to block!` makes of it): each set-word is bound to
// the object and starts a new line; a word! value is given as a lit-word!
// and a path! as a lit-path!, so that the block evaluates back to the
// values. May collect.
Cell body_of(Val object);

// Whether a store into `context`, an object context, must call on-change*.
bool notifies(NodeId context);

// Calls `object`'s on-change* with (word, old, new) when it has one; `word`
// is rebound to the object first when it is not. Runs Kiv code; raises
// script/invalid-obj-evt when the handler field holds no function.
void fire_on_set(Val object, Val word, Val old_value, Val new_value);
// The same for a store through a word into an object context.
void fire_on_set_in(NodeId context, Val word, Val old_value, Val new_value);
// Calls `owner`'s on-deep-change* with (owner, word, target, action, new
// value, index, part). Raises script/invalid-obj-evt when the owner has no
// record; does nothing when it has no such handler. Runs Kiv code.
void fire_on_deep_change(Val owner, Val word, Val target, Val action, Val new_value, const Cell& index,
                         const Cell& part);

// `construct`: an object from a spec block without evaluating it, on a copy
// of `prototype` when given. Each run of set-words takes the value that
// follows it (none at the end); unless `only`, the words true, yes, on,
// false, no, off and none stand for their values. The result has no
// change-handler record. May collect.
void construct(Val result, Val spec, std::optional<Val> prototype, bool only);

struct SetOptions {
  bool any = false;   // unset! values may be stored
  bool only = false;  // store the value itself into every field
  bool some = false;  // a none value leaves its field alone
};
// `set` on an object: the values of a block (by position) or of an object
// (by field name) into its fields, or one value into all of them. Every
// store but those into the handler fields calls on-change*. Raises
// script/need-value for an unset! value without `any`. Runs Kiv code.
void set_many(Val object, Val value, const SetOptions& options);

// Clears the "set" flag of every field.
void clear_set_flags(NodeId context);

void register_types();

}  // namespace kiv::object
