// Contexts: the namespaces that give words their values.
//
// A context is a cell series of exactly two cells, known by its node:
//   cell 0, the context cell (type context!):
//     header bits 11-12  kind: 0 plain (the global context), 1 function,
//                        2 object
//     header 0x10000     the object owns series (ownership table)
//     header 0x400000    values live on the argument stack (functions)
//     header 0x1000000   made by an object constructor
//     w1  the symbol store: a symbol-keyed hash table whose data block is
//         the words series, one word! entry per name (w1 the context, w2 the
//         symbol as added, w3 its value index)
//     w2  stored values: node of a cell series parallel to the words;
//         stack values: argument-stack cell index of the running call's
//         first argument + 1, or 0 when no call runs
//   cell 1, the self cell: what `self` means inside (a copy of the object
//   or function value; unset! for plain contexts)
//
// Lookups by name are caseless: the word FOO binds to a context holding
// foo. In the global context, case variants added exactly share the value
// slot of the first variant (their entries name that slot in w3).
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"

namespace kiv::context {

enum class Kind : uint32_t { plain = 0, function = 1, object = 2 };

namespace flag {
inline constexpr uint32_t kind_shift = 11;
inline constexpr uint32_t kind_mask = 0x1800;
inline constexpr uint32_t owner = 0x10000;
inline constexpr uint32_t values_on_stack = cell::context_values_on_stack;
inline constexpr uint32_t object_made = 0x1000000;
// On a word entry of an object context: a value was stored through it.
inline constexpr uint32_t word_set = 0x2000;
}  // namespace flag

inline constexpr uint32_t global_size = 4000;

struct Options {
  bool values_on_stack = false;
  bool object_made = false;
  Kind kind = Kind::plain;
};

// A new context with room for `size` words (at least one). With a source
// context, it starts with the source's words (values not copied).
NodeId make(uint32_t size, const Options& options, NodeId source = no_node);
// A context holding, once each, the words, get-words, lit-words and
// refinements of the block from `index` on (function specs).
NodeId make_from_words(NodeId block, uint32_t index, const Options& options);
// A new context with the words of `value`'s context (w1), of `kind`; the
// value then names the new context. Values are not copied.
void duplicate(Val value, Kind kind);

namespace detail {
// The cells of the context last asked for, kept until a series moves or a
// node is freed: a running function asks for its own context again and
// again (its words, its frame's values pointer).
inline NodeId last_context = no_node;
inline Cell* last_context_cells = nullptr;
inline uint64_t last_context_relocations = 0;
}  // namespace detail

// The two cells; valid until the next allocation.
inline Cell& context_cell(NodeId context) {
  if (context == detail::last_context && detail::last_context_relocations == memory::relocations)
    return detail::last_context_cells[0];
  Cell* cells = reinterpret_cast<Cell*>(memory::buffer(context)->head_ptr());
  detail::last_context = context;
  detail::last_context_cells = cells;
  detail::last_context_relocations = memory::relocations;
  return cells[0];
}
inline Cell& self_cell(NodeId context) { return reinterpret_cast<Cell*>(memory::buffer(context)->head_ptr())[1]; }
Kind kind_of(NodeId context);
NodeId words_node(NodeId context);
uint32_t word_count(NodeId context);
bool values_on_stack(NodeId context);
bool has_values(NodeId context);

// Index of `symbol` (caseless or exact), or -1.
int32_t find_symbol(NodeId context, uint32_t symbol, bool caseless);
// Index of `symbol`, adding a word entry when it is absent (a stored
// context also gets an unset! value). `added` tells which happened.
uint32_t add_symbol(NodeId context, uint32_t symbol, bool caseless, bool* added = nullptr);
// The word entry at `index`, by value.
Cell word_at(NodeId context, uint32_t index);
// The value slot at `index` (null for a context without values); valid
// until the next allocation.
Cell* slot_uncached(NodeId context, uint32_t index);
namespace detail {
// The global context's values buffer as last read: most words are global.
inline NodeId cached_context = no_node;
inline SeriesBuf* cached_values = nullptr;
inline uint64_t cached_relocations = 0;
}  // namespace detail

inline Cell* slot(NodeId context, uint32_t index) {
  if (context == detail::cached_context && detail::cached_relocations == memory::relocations)
    return reinterpret_cast<Cell*>(detail::cached_values->head_ptr()) + index;
  const Cell& header = context_cell(context);
  if ((header.header & flag::values_on_stack) && header.w2 != 0) return stack::ArgStack::at(header.w2 - 1 + index).get();
  return slot_uncached(context, index);
}

// Points a function context's values at the argument-stack window starting
// at cell `stack_index` (no call: `stop_values`).
inline void set_values_base(NodeId context, uint32_t stack_index) { context_cell(context).w2 = stack_index + 1; }
inline void stop_values(NodeId context) { context_cell(context).w2 = 0; }

// Stores `value` through `word` into `context`, resolving the word's index
// on first use. In an object context the entry is marked set and the
// object's change handler, if any, runs.
void store_word(Val word, Val value, NodeId context, bool notify);
// Stores through the word's own binding.
void set(Val word, Val value);
// The store of `set` for a resolved word of the global context (plain,
// always with values) while its kept values buffer is valid; false
// leaves the store to `set`. Never allocates.
inline bool set_direct(const Cell& word, const Cell& value) {
  if (word.w1 != detail::cached_context || word.w3 == 0xFFFFFFFF || detail::cached_relocations != memory::relocations)
    return false;
  reinterpret_cast<Cell*>(detail::cached_values->head_ptr())[word.w3] = value;
  return true;
}
// The word's value cell, through its binding; valid until the next
// allocation. Raises script/not-defined (no context), script/not-in-context
// (a context without values) or script/no-value (never resolved).
Cell* get_slow(const Cell& word);
inline Cell* get(const Cell& word) {
  if (word.w1 != no_node && word.w3 != 0xFFFFFFFF) {
    if (Cell* value = slot(word.w1, word.w3)) return value;
  }
  return get_slow(word);
}

// Binds a word to `context` when the context holds its name: answers the
// index, or -1 (the word is left alone).
int32_t bind_word(NodeId context, Cell& word);
// Binds every word of a block, deep, to `context`. With `self`, plain
// `self` words are bound to the context itself.
void bind_block(NodeId context, NodeId block, uint32_t index, bool self);
// Adds the names of the block's set-words (top level, from `index`);
// answers whether the context gained any.
bool collect_set_words(NodeId context, NodeId block, uint32_t index);

// The global context.
void init_global();
NodeId global();

void register_types();

}  // namespace kiv::context
