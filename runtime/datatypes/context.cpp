#include "runtime/datatypes/context.h"

#include "runtime/core/cycle.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/hashtable.h"
#include "runtime/keywords.h"

namespace kiv::context {
namespace {

constexpr uint32_t unresolved = 0xFFFFFFFF;

NodeId g_global = no_node;

Cell* cells(NodeId node) { return reinterpret_cast<Cell*>(memory::buffer(node)->head_ptr()); }

NodeId store_of(NodeId context) { return context_cell(context).w1; }

Cell unset_cell() { return Cell{cell::header(TypeId::unset), 0, 0, 0}; }

// Appends a word entry for `symbol` naming value slot `index` and indexes
// it; answers the entry's position.
uint32_t append_entry(NodeId context, uint32_t symbol, uint32_t index) {
  const NodeId store = store_of(context);
  const NodeId words = hashtable::record(store).data;
  *series::append_slot(words) = word::make(TypeId::word, context, symbol, index);
  const uint32_t position = memory::buffer(words)->length() - 1;
  hashtable::put_key(store, position);
  return position;
}

void append_value(NodeId context) {
  if (values_on_stack(context)) return;
  *series::append_slot(context_cell(context).w2) = unset_cell();
}

// Every word entry names its own context: after copying entries from
// another context, point them here.
void claim_entries(NodeId context) {
  const NodeId words = words_node(context);
  Cell* entries = cells(words);
  for (uint32_t i = 0; i < memory::buffer(words)->length(); ++i) entries[i].w1 = context;
}

// The words that binding changes: all-word! but issue!, which keeps the
// binding it was made with.
bool is_bindable_word(TypeId type) { return type_traits::is_all_word(type) && type != TypeId::issue; }

// What one binding found in its context for each symbol met, remembered
// for the rest of the binding (the context does not change meanwhile): a
// block of code names the same few words again and again, and each lookup
// is a probe of the context's hash table.
class BindMemo {
 public:
  // The word's index in the context, or -1 when the context lacks it.
  int32_t find(NodeId context, uint32_t symbol) {
    Entry& entry = entries_[symbol % size];
    if (entry.symbol != symbol) entry = {symbol, find_symbol(context, symbol, true)};
    return entry.index;
  }

 private:
  static constexpr uint32_t size = 128;
  struct Entry {
    uint32_t symbol = 0;  // symbols count from 1: 0 is an empty entry
    int32_t index = -1;
  };
  Entry entries_[size];
};

void bind_cells(NodeId context, NodeId block, uint32_t index, bool self, BindMemo& memo) {
  cycle::push(block);
  for (uint32_t i = index; i < memory::buffer(block)->length(); ++i) {
    Cell& item = cells(block)[i];
    const TypeId type = cell::type_of(item);
    if (type_traits::is_any_block(type)) {
      const NodeId inner = series::node_of(item);
      if (!cycle::find(inner)) bind_cells(context, inner, series::index_of(item), self, memo);
    } else if (self && type == TypeId::word && item.w2 == kw::self) {
      item.w1 = context;
      item.w3 = unresolved;
    } else if (is_bindable_word(type)) {
      if (const int32_t found = memo.find(context, item.w2); found >= 0) {
        item.w1 = context;
        item.w3 = static_cast<uint32_t>(found);
      }
    }
  }
  cycle::pop();
}

}  // namespace


Kind kind_of(NodeId context) {
  return static_cast<Kind>((context_cell(context).header & flag::kind_mask) >> flag::kind_shift);
}

NodeId words_node(NodeId context) { return hashtable::record(store_of(context)).data; }
uint32_t word_count(NodeId context) { return memory::buffer(words_node(context))->length(); }
bool values_on_stack(NodeId context) { return (context_cell(context).header & flag::values_on_stack) != 0; }
bool has_values(NodeId context) { return context_cell(context).w2 != 0; }

NodeId make(uint32_t size, const Options& options, NodeId source) {
  size = std::max<uint32_t>(size, 1);
  Rooted<NodeId> context(memory::new_cell_series(2));
  *series::append_slot(context.get()) = unset_cell();
  *series::append_slot(context.get()) = unset_cell();
  uint32_t header = cell::header(TypeId::context) | (static_cast<uint32_t>(options.kind) << flag::kind_shift);
  if (options.object_made) header |= flag::object_made;
  if (options.values_on_stack) header |= flag::values_on_stack;
  context_cell(context.get()).header = header;

  const NodeId source_store = source != no_node ? store_of(source) : no_node;
  const NodeId store = hashtable::make(size, no_node, 0, hashtable::Kind::symbols, source_store ? 2 : 0, source_store);
  context_cell(context.get()).w1 = store;
  if (source != no_node) claim_entries(context.get());
  if (!options.values_on_stack) {
    const NodeId values = memory::new_unset_cells(size);
    context_cell(context.get()).w2 = values;
  }
  return context.get();
}

NodeId make_from_words(NodeId block, uint32_t index, const Options& options) {
  const uint32_t length = memory::buffer(block)->length();
  Rooted<NodeId> context(make(length > index ? length - index : 0, options));
  for (uint32_t i = index; i < memory::buffer(block)->length(); ++i) {
    const Cell item = cells(block)[i];
    const TypeId type = cell::type_of(item);
    if (type_traits::is_argument_word(type) || type == TypeId::refinement) add_symbol(context.get(), item.w2, true);
  }
  return context.get();
}

void duplicate(Val value, Kind kind) {
  const NodeId source = value->w1;
  const uint32_t header = context_cell(source).header;
  const Options options{(header & flag::values_on_stack) != 0, (header & flag::object_made) != 0, kind};
  value->w1 = make(word_count(source), options, source);
}

int32_t find_symbol(NodeId context, uint32_t symbol, bool caseless) {
  const int32_t position = hashtable::find_word(store_of(context), symbol, caseless);
  if (position < 0) return -1;
  return static_cast<int32_t>(cells(words_node(context))[position].w3);
}

uint32_t add_symbol(NodeId context, uint32_t symbol, bool caseless, bool* added) {
  if (const int32_t found = find_symbol(context, symbol, caseless); found >= 0) {
    if (added) *added = false;
    return static_cast<uint32_t>(found);
  }
  // An exact addition to the global context next to a case variant shares
  // the variant's slot; every other entry names its own.
  uint32_t index = word_count(context);
  if (!caseless && context == g_global) {
    if (const int32_t variant = find_symbol(context, symbol, true); variant >= 0) index = static_cast<uint32_t>(variant);
  }
  append_entry(context, symbol, index);
  append_value(context);
  if (added) *added = true;
  return index;
}

Cell word_at(NodeId context, uint32_t index) { return cells(words_node(context))[index]; }



void store_word(Val word, Val value, NodeId context, bool notify) {
  if (context == no_node) error::raise(error_id::script::not_defined, *word);
  if (word->w3 == unresolved) {
    int32_t index = find_symbol(context, word->w2, false);
    if (index < 0) {
      // A function's words are fixed by its spec: nothing joins them.
      if (values_on_stack(context)) error::raise(error_id::script::not_defined, *word);
      index = static_cast<int32_t>(add_symbol(context, word->w2, true));
    }
    word->w3 = static_cast<uint32_t>(index);
  }
  if (!has_values(context)) error::raise(error_id::script::not_defined, *word);
  if (kind_of(context) == Kind::object) {
    const int32_t position = hashtable::find_word(store_of(context), word->w2, true);
    if (position >= 0) cells(words_node(context))[position].header |= flag::word_set;
    // An object with an on-change* handler hears of the store afterwards.
    if (notify && object::notifies(context)) {
      Rooted<Cell> old(*slot(context, word->w3));
      *slot(context, word->w3) = *value;
      object::fire_on_set_in(context, word, old.val(), value);
      return;
    }
  }
  *slot(context, word->w3) = *value;
}

void set(Val word, Val value) {
  if (set_direct(*word, *value)) return;
  store_word(word, value, word->w1, true);
}

Cell* get_slow(const Cell& word) {
  const NodeId context = word.w1;
  if (context == no_node) error::raise(error_id::script::not_defined, word);
  if (word.w3 != unresolved) {
    if (!has_values(context)) error::raise(error_id::script::not_in_context, word);
    return slot(context, word.w3);
  }
  if (word.w2 == kw::self) return &self_cell(context);
  error::raise(error_id::script::no_value, word);
}

int32_t bind_word(NodeId context, Cell& word) {
  const int32_t index = find_symbol(context, word.w2, true);
  if (index >= 0) {
    word.w1 = context;
    word.w3 = static_cast<uint32_t>(index);
  }
  return index;
}

void bind_block(NodeId context, NodeId block, uint32_t index, bool self) {
  cycle::Guard guard;
  NoGcScope no_allocation;  // binding moves nothing: raw cells stay valid
  BindMemo memo;
  bind_cells(context, block, index, self, memo);
}

bool collect_set_words(NodeId context, NodeId block, uint32_t index) {
  bool gained = false;
  for (uint32_t i = index; i < memory::buffer(block)->length(); ++i) {
    const Cell item = cells(block)[i];
    if (!cell::is(item, TypeId::set_word)) continue;
    bool added = false;
    add_symbol(context, item.w2, true, &added);
    gained |= added;
  }
  return gained;
}

void init_global() {
  detail::cached_context = no_node;
  detail::last_context = no_node;
  g_global = make(global_size, {});
  roots::add_permanent(&g_global);
}

NodeId global() { return g_global; }

Cell* slot_uncached(NodeId context, uint32_t index) {
  const Cell& header = context_cell(context);
  if (header.w2 == 0) return nullptr;
  if (header.header & flag::values_on_stack) return stack::ArgStack::at(header.w2 - 1 + index).get();
  SeriesBuf* values = memory::buffer(header.w2);
  if (context == g_global) {
    detail::cached_context = context;
    detail::cached_values = values;
    detail::cached_relocations = memory::relocations;
  }
  return reinterpret_cast<Cell*>(values->head_ptr()) + index;
}

void register_types() { datatype::register_type({TypeId::context, TypeId::none_type, "context!", {}}); }

}  // namespace kiv::context
