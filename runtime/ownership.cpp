#include "runtime/ownership.h"

#include <iterator>
#include <vector>

#include "runtime/core/collector.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/cycle.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/hashtable.h"

namespace kiv::ownership {
namespace {

constexpr uint32_t table_size = 1000;
// The cells of an entry besides its key: value, owner, field word.
constexpr uint32_t entry_extra = 3;
enum EntryCell : uint32_t { value_cell = 0, owner_cell = 1, word_cell = 2 };

NodeId g_table = no_node;

bool owned_deeply(TypeId type) { return type_traits::is_any_block(type); }
bool owned_flatly(TypeId type) {
  return type_traits::is_any_string(type) || type == TypeId::binary || type == TypeId::vector ||
         type == TypeId::bitset || type == TypeId::image;
}
// An image is owned through its record, which an image without pixels
// does not have.
bool ownable(const Cell& value) {
  const TypeId type = cell::type_of(value);
  if (type == TypeId::image) return series::node_of(value) != no_node;
  return owned_deeply(type) || owned_flatly(type);
}

uint32_t& flags_of(NodeId node) { return memory::buffer(node)->flags; }
bool flagged(NodeId node) { return (flags_of(node) & series_flag::owned) != 0; }

Cell* block_cells(NodeId node) { return reinterpret_cast<Cell*>(memory::buffer(node)->head_ptr()); }

// The field word of an object context's entry `position`, without the
// entry's own flags.
Cell field_word(NodeId context, uint32_t position) {
  const Cell entry = context::word_at(context, position);
  return word::make(TypeId::word, context, entry.w2, entry.w3);
}

bool is_owner(NodeId context) { return (context::context_cell(context).header & context::flag::owner) != 0; }

// Forgets the entry of `node`, if there is one.
void drop_entry(NodeId node) {
  const int32_t entry = hashtable::get_node(g_table, node);
  if (entry < 0) return;
  Cell* cells = hashtable::entry_cells(g_table, static_cast<uint32_t>(entry));
  for (uint32_t i = 0; i < entry_extra; ++i) cells[i] = unset::make();
  hashtable::remove_node(g_table, node);
}

// The words a change is reported with: before, after.
struct ReportWords {
  const char* before;
  const char* after;
};
constexpr ReportWords report_words[] = {
    {"random", "randomized"}, {"clear", "cleared"},    {"poke", "poked"},       {"remove", "removed"},
    {"reverse", "reversed"},  {"take", "taken"},       {"move", "moved"},       {"append", "appended"},
    {"insert", "inserted"},   {"change", "changed"},   {"put", "put-ed"},       {"sort", "sorted"},
    {"swap", "swaped"},       {"trim", "trimmed"},     {"uppercase", "uppercase"}, {"lowercase", "lowercase"},
};
static_assert(std::size(report_words) == static_cast<size_t>(Change::lowercase) + 1);

Cell integer_cell(uint32_t value) { return Cell{cell::header(TypeId::integer), 0, value, 0}; }

}  // namespace

namespace {
// The table is weak: the collector sweeps it once everything else is marked.
void sweep_for_collector() { sweep_dead({&collector::is_marked, &collector::mark_only, &collector::mark_cell}); }
}  // namespace

void init() {
  g_table = hashtable::make(table_size, no_node, 0, hashtable::Kind::ownership, entry_extra);
  collector::register_weak_sweeper(&sweep_for_collector);
}

NodeId table() { return g_table; }

void set_deep(Val value, Val owner, Val word) {
  const TypeId type = cell::type_of(*value);
  if (ownable(*value)) {
    const NodeId node = series::node_of(*value);
    if (!flagged(node)) {
      const uint32_t entry = hashtable::put_node(g_table, node);
      Cell* cells = hashtable::entry_cells(g_table, entry);
      cells[value_cell] = *value;
      cells[owner_cell] = *owner;
      cells[word_cell] = *word;
      flags_of(node) |= series_flag::owned;
    }
    if (!owned_deeply(type) || cycle::find(node)) return;
    cycle::Guard guard;
    cycle::push(node);
    for (uint32_t i = series::index_of(*value); i < memory::buffer(node)->length(); ++i) {
      Val item = stack::push(block_cells(node)[i]);
      set_deep(item, owner, word);
      stack::pop(1);
    }
    return;
  }
  if (type != TypeId::object) return;
  const NodeId context = value->w1;
  if (is_owner(context) || cycle::find(context)) return;
  cycle::Guard guard;
  cycle::push(context);
  for (uint32_t i = 0; i < context::word_count(context); ++i) {
    const Cell field = field_word(context, i);
    const Cell field_value = *context::slot(context, field.w3);
    if (cell::is(field_value, TypeId::object) && field_value.w1 == owner->w1) continue;
    Val item = stack::push(field_value);
    Val item_word = stack::push(field);
    set_deep(item, owner, item_word);
    stack::pop(2);
  }
}

void set_owner(Val value, Val owner, Val word) {
  set_deep(value, owner, word);
  context::context_cell(owner->w1).header |= context::flag::owner;
}

void unset_deep(const Cell& value) {
  const TypeId type = cell::type_of(value);
  if (ownable(value)) {
    const NodeId node = series::node_of(value);
    flags_of(node) &= ~series_flag::owned;
    drop_entry(node);
    if (!owned_deeply(type) || cycle::find(node)) return;
    cycle::Guard guard;
    cycle::push(node);
    unset_range(node, series::index_of(value), memory::buffer(node)->length());
    return;
  }
  if (type != TypeId::object) return;
  const NodeId context = value.w1;
  if (is_owner(context) || cycle::find(context)) return;
  cycle::Guard guard;
  cycle::push(context);
  for (uint32_t i = 0; i < context::word_count(context); ++i) unset_deep(*context::slot(context, i));
}

void modify_owned(Val value, Val spec) {
  if (cell::is(*spec, TypeId::none)) {
    unset_deep(*value);
    return;
  }
  const bool well_formed = cell::is(*spec, TypeId::block) && block::count(*spec) >= 2 &&
                           cell::is(*block::at(*spec, 0), TypeId::object) &&
                           type_traits::is_all_word(cell::type_of(*block::at(*spec, 1)));
  if (!well_formed) error::raise(error_id::script::invalid_arg, *spec);
  Val owner = stack::push(*block::at(*spec, 0));
  Val word = stack::push(*block::at(*spec, 1));
  set_deep(value, owner, word);
  stack::pop(2);
}

void unset_range(NodeId block, uint32_t index, uint32_t count) {
  for (uint32_t i = index; i < memory::buffer(block)->length() && i - index < count; ++i) {
    const Cell item = block_cells(block)[i];
    unset_deep(item);
  }
}

std::optional<Owner> owner_of(NodeId series) {
  if (g_table == no_node) return std::nullopt;
  const int32_t entry = hashtable::get_node(g_table, series);
  if (entry < 0) return std::nullopt;
  const Cell* cells = hashtable::entry_cells(g_table, static_cast<uint32_t>(entry));
  return Owner{cells[owner_cell], cells[word_cell]};
}

bool notify(const Cell& modified, Change change, bool done, const Cell& new_value, uint32_t index, uint32_t count) {
  if (g_table == no_node) return false;
  const TypeId type = cell::type_of(modified);
  NodeId key = no_node;
  if (type == TypeId::object) {
    key = modified.w1;
  } else if (ownable(modified)) {
    key = series::node_of(modified);
    if (!flagged(key)) return false;  // the common case: nobody owns it
  } else {
    return false;
  }
  const std::optional<Owner> found = owner_of(key);
  if (!found || found->object.w3 == 0) return false;

  // Everything the handler gets goes on the stack before anything allocates.
  const uint32_t depth = stack::depth();
  Val owner = stack::push(found->object);
  Val word = stack::push(found->word);
  Val target = stack::push(modified);
  Val action = stack::push(none::make());
  Val fresh = stack::push(cell::is(new_value, TypeId::unset) ? none::make() : new_value);
  const ReportWords& words = report_words[static_cast<size_t>(change)];
  *action = word::make_global(symbol::make(done ? words.after : words.before));
  object::fire_on_deep_change(owner, word, target, action, fresh, integer_cell(index), integer_cell(count));
  stack::drop_to(depth);
  return true;
}

namespace {

// The length and unit size of a series' buffer, which the action about to
// change it has worked its positions out from.
struct Shape {
  uint32_t length;
  uint32_t unit;
  bool operator==(const Shape&) const = default;
};

Shape shape_of(const Cell& series) {
  const SeriesBuf* buf = memory::buffer(series::node_of(series));
  return {buf->length(), buf->unit()};
}

// Only an owned series has handlers that can run before its change.
bool has_owner(const Cell& value) { return ownable(value) && flagged(series::node_of(value)); }

// A handler of the "before" report that resized the series (or widened a
// string) leaves the action with positions that no longer hold: the
// change is refused rather than made at a place that is gone.
void refuse_if_reshaped(const Cell& series, const Shape& before) {
  if (!(shape_of(series) == before)) error::raise(error_id::script::past_end);
}

}  // namespace

ChangeReport::ChangeReport(Val series, Change change, uint32_t index, uint32_t count)
    : series_(series), change_(change), owned_(false) {
  const bool owned_series = has_owner(*series);
  const Shape before = owned_series ? shape_of(*series) : Shape{};
  owned_ = notify(*series, change, false, none::make(), index, count);
  if (owned_ && owned_series) refuse_if_reshaped(*series, before);
}

ChangeReport::ChangeReport(Val series, Change change, uint32_t index, uint32_t count, Val new_value)
    : series_(series), new_value_(new_value), change_(change), owned_(false) {
  const bool owned_series = has_owner(*series);
  const Shape before = owned_series ? shape_of(*series) : Shape{};
  owned_ = notify(*series, change, false, *new_value, index, count);
  if (owned_ && owned_series) refuse_if_reshaped(*series, before);
}

void ChangeReport::done(uint32_t index, uint32_t count) {
  if (!owned_) return;
  notify(*series_, change_, true, new_value_ ? **new_value_ : none::make(), index, count);
}

void sweep_dead(const CollectorHooks& hooks) {
  if (g_table == no_node) return;
  const hashtable::Record& record = hashtable::record(g_table);
  hooks.keep_buffer(g_table);
  hooks.keep_buffer(record.flags);
  hooks.keep_buffer(record.keys);
  hooks.keep_buffer(record.data);

  const NodeId data = record.data;
  const uint32_t entry_bytes = record.aux;
  const uint32_t entries = memory::buffer(data)->used_bytes() / entry_bytes;
  const auto entry_at = [&](uint32_t i) {
    return reinterpret_cast<Cell*>(memory::buffer(data)->data() + size_t{i} * entry_bytes);
  };
  std::vector<uint32_t> survivors;
  for (uint32_t i = 0; i < entries; ++i) {
    const Cell* entry = entry_at(i);
    // A deleted entry has a zero header; a live one an unset! key cell.
    if (entry->header != cell::header(TypeId::unset) || entry->w1 == no_node) continue;
    const NodeId node = entry->w1;
    const bool series_live = hooks.is_marked(node);
    const bool owner_live = hooks.is_marked(entry[1 + owner_cell].w1);
    if (series_live && owner_live) {
      survivors.push_back(i);
      continue;
    }
    // A series that outlives its owner can be owned again later.
    if (series_live) flags_of(node) &= ~series_flag::owned;
    Cell* cells = entry_at(i) + 1;
    for (uint32_t k = 0; k < entry_extra; ++k) cells[k] = unset::make();
    hashtable::remove_node(g_table, node);
  }
  for (uint32_t i : survivors) {
    const Cell* cells = entry_at(i) + 1;
    for (uint32_t k = 0; k < entry_extra; ++k) hooks.mark_value(cells[k]);
  }
}

}  // namespace kiv::ownership
