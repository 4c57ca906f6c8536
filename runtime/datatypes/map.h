// map!: a dictionary of key/value pairs, kept in insertion order.
//
// Payload: w1 0, w2 the node of the data block, w3 the node of its hash
// table (hashtable.h, kind map). The data block holds pairs, a key cell
// then its value cell; the table indexes the keys by their cell position.
// Every map! cell that names a map shares both nodes, so a map changes in
// place and never trades its table or its block for others.
//
// Keys are stored normalised: a word of any kind as a set-word, a string or
// binary as a private copy from its index, the other key types as given;
// any other type is refused (script/invalid-path). Word keys come back to
// scripts as word!.
//
// A removed pair stays in the block with the table's removed-pair marker
// in its value cell (hashtable::removed_value), and its key stays indexed:
// putting the key again revives the pair in its first place. The live
// count is the table's size. Once removed pairs outnumber the live ones
// (and number at least `compact_after`), the block is compacted and the
// table indexed afresh, so a map whose keys come and go does not grow
// without bound.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"

namespace kiv::map {

inline constexpr uint32_t compact_after = 16;

// The number of live pairs.
uint32_t count(const Cell& map);

// Makes `result` a new map over the key/value pairs of the block `spec`
// from its index (a shallow copy of its cells; a key given twice keeps
// the later value in the first place). Raises script/invalid-arg for an
// odd number of cells, script/invalid-path for a key of a refused type.
// May collect.
void make_from_block(Val result, Val spec);

// The same over `pairs`, a new block! of an even length that nothing else
// refers to, whose string keys are not shared either (a reader's own
// output): its buffer becomes the map's data block without a copy. May
// collect.
void adopt_block(Val result, Val pairs);

// Adds the pairs of the block `spec` to `map`, replacing the value of a key
// that is there already (matched strictly with `case_sensitive`, else by
// plain equality). Raises script/invalid-arg for an odd number of cells.
// May collect.
void extend(Val map, Val spec, bool case_sensitive);

// A new block of key, value, key, value ... of the live pairs, each key on
// a new line. May collect.
Cell body_of(Val map);

// For foreach: sets the words of `words` (a word, or a block of any-words)
// to the cells of the live pairs from cell `*position` on, keys as word!,
// and moves `*position` past them; words left over once the pairs run out
// are set to none. Answers whether a word was set from the map. Raises
// script/invalid-arg for an element of `words` that is not an any-word.
bool foreach_next(Val map, const Cell& words, uint32_t* position);

void register_types();

}  // namespace kiv::map
