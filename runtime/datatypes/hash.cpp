#include "runtime/datatypes/hash.h"

#include <algorithm>

#include "runtime/check.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/hashtable.h"
#include "runtime/mold.h"

namespace kiv::hash {
namespace {

const ActionTable& block_actions() { return datatype::actions(TypeId::block); }

uint32_t cells_in(NodeId node) { return memory::buffer(node)->length(); }

// The table's upkeep for one change (see note_change). Positions are
// counted from the buffer's start, as the table counts them.
void keep_in_step(NodeId table, uint32_t old_total, uint32_t index, uint32_t removed, uint32_t added) {
  if (table == no_node) return;
  const uint32_t now = cells_in(hashtable::record(table).data);
  if (index > old_total || removed > old_total - index ||
      static_cast<int64_t>(old_total) - removed + added != static_cast<int64_t>(now)) {
    // The block changed otherwise than this change says (a change handler
    // changed it meanwhile): the table is built again over what is there.
    hashtable::rehash(table, now);
    return;
  }
  // The table finds a cell's key by its position alone, so the keys of the
  // cells that went can leave it after the block changed.
  for (uint32_t position = index; position < index + removed; ++position) hashtable::remove_key(table, position);
  const uint32_t behind = old_total - index - removed;
  if (added != removed && behind > 0) {
    const int32_t offset = static_cast<int32_t>(added) - static_cast<int32_t>(removed);
    if (hashtable::shift_keys(table, behind, index + removed, offset, true) == 1) {
      // Too many positions to shift one by one: the table is built again.
      hashtable::rehash(table, cells_in(hashtable::record(table).data));
      return;
    }
  }
  for (uint32_t position = index; position < index + added; ++position)
    if (hashtable::put_key(table, position) == 2) return;  // rebuilt: every cell is in
}

// Every cell from `from` on is re-entered: for changes that move cells
// about in place, or whose extent the caller cannot tell.
void from_on(NodeId table, NodeId node, uint32_t old_total, uint32_t from) {
  const uint32_t new_total = cells_in(node);
  from = std::min({from, old_total, new_total});
  keep_in_step(table, old_total, from, old_total - from, new_total - from);
}

// What a modifying action starts from: the hash!'s cells, its table and
// its length, read before the block action runs.
struct Before {
  NodeId node;
  NodeId table;
  uint32_t total;
  uint32_t head;

  explicit Before(const Cell& hash)
      : node(series::node_of(hash)), table(hash.w3), total(series_type::total(hash)), head(series_type::head(hash)) {}
};

// ---- make and to ----

// A new hash! of `cells` (a block value of another type, or a hash! whose
// table is not its own) with its table.
void become_hash(Val value) {
  cell::set_type(*value, TypeId::hash);
  attach_table(value);
}

void to_value(Val result, Val spec, TypeId) {
  if (cell::is(*spec, TypeId::hash)) {
    *result = block::copy(spec, false);
    become_hash(result);
    return;
  }
  block_actions().to(result, spec, TypeId::block);
  become_hash(result);
}

// make hash! N gives an empty hash with room for N cells; a block, its
// copy; anything else converts as `to` does.
void make_value(Val result, Val spec, TypeId type) {
  const TypeId spec_type = cell::type_of(*spec);
  if (spec_type == TypeId::integer || spec_type == TypeId::float_) {
    block_actions().make(result, spec, TypeId::block);
    become_hash(result);
    return;
  }
  to_value(result, spec, type);
}

// ---- mold ----

int32_t mold_value(Val value, Val out, const MoldOptions& options, int32_t part) {
  if (!options.only) part = mold::emit(out, "make hash! ", part);
  return block_actions().mold(value, out, options, part);
}

// ---- paths ----

// h/2: value and h/key: value write a cell; reading is the block's.
void eval_path(PathStep& step) {
  if (!step.new_value) {
    block_actions().eval_path(step);
    return;
  }
  const Before before(*step.value);
  const Cell selector = *step.selector;
  block_actions().eval_path(step);
  if (cell::is(selector, TypeId::integer)) {
    const int32_t n = cell::get_int32(selector);
    const int64_t position = static_cast<int64_t>(before.head) + (n > 0 ? n - 1 : n);
    keep_in_step(before.table, before.total, static_cast<uint32_t>(position), 1, 1);
  } else {
    from_on(before.table, before.node, before.total, before.head);
  }
}

// ---- the modifying block actions ----

void append_values(Val series, Val value, int32_t part, bool only, int32_t dup) {
  const Before before(*series);
  block_actions().append(series, value, part, only, dup);
  keep_in_step(before.table, before.total, before.total, 0, cells_in(before.node) - before.total);
}

void insert_values(Val series, Val value, int32_t part, bool only, int32_t dup) {
  const Before before(*series);
  block_actions().insert(series, value, part, only, dup);
  keep_in_step(before.table, before.total, before.head, 0, cells_in(before.node) - before.total);
}

// change leaves the series just past the cells it wrote.
void change_values(Val series, Val value, int32_t part, bool only, int32_t dup) {
  const Before before(*series);
  block_actions().change(series, value, part, only, dup);
  const uint32_t after = cells_in(before.node);
  const int64_t written = static_cast<int64_t>(series->w1) - before.head;
  const int64_t replaced = written - (static_cast<int64_t>(after) - before.total);
  if (written < 0 || replaced < 0 || replaced > before.total - before.head) {
    from_on(before.table, before.node, before.total, before.head);
    return;
  }
  keep_in_step(before.table, before.total, before.head, static_cast<uint32_t>(replaced), static_cast<uint32_t>(written));
}

void clear(Val series) {
  const Before before(*series);
  block_actions().clear(series);
  if (before.table == no_node) return;
  if (before.head == 0) hashtable::clear(before.table);
  else keep_in_step(before.table, before.total, before.head, before.total - before.head, 0);
}

void poke(Val series, Val index, int32_t position, Val value) {
  const Before before(*series);
  block_actions().poke(series, index, position, value);  // raises for a position outside
  const int64_t at = static_cast<int64_t>(before.head) + (position > 0 ? position - 1 : position);
  keep_in_step(before.table, before.total, static_cast<uint32_t>(at), 1, 1);
}

void remove(Val series, std::optional<Val> part, std::optional<Val> key) {
  const Before before(*series);
  block_actions().remove(series, part, key);
  if (key) from_on(before.table, before.node, before.total, before.head);
  else keep_in_step(before.table, before.total, before.head, before.total - cells_in(before.node), 0);
}

// take leaves the taken cells (a series of them with /part) as the result;
// a hash! of taken cells gets a table of its own.
void take(Val series, std::optional<Val> part, bool deep, bool last) {
  const Before before(*series);
  const bool backward = part && !last && cell::is(**part, TypeId::integer) && cell::get_int32(**part) < 0;
  block_actions().take(series, part, deep, last);
  const uint32_t taken = before.total - cells_in(before.node);
  const uint32_t start = last ? before.total - taken : backward ? before.head - taken : before.head;
  keep_in_step(before.table, before.total, start, taken, 0);
  if (part && cell::is(*series, TypeId::hash)) attach_table(series);
}

void reverse(Val series, std::optional<Val> part, std::optional<Val> skip) {
  const Before before(*series);
  block_actions().reverse(series, part, skip);
  from_on(before.table, before.node, before.total, before.head);
}

void put(Val series, Val key, Val value, bool case_sensitive) {
  const action::PutFn block_put = block_actions().put;
  if (!block_put) check::raise_expect_arg(*series, 0);
  const Before before(*series);
  block_put(series, key, value, case_sensitive);
  from_on(before.table, before.node, before.total, before.head);
}

// sort and trim: the block's action, then the cells from the head are
// entered again in their new order.
void sort(Val series, const SortOptions& options) {
  const action::SortFn block_sort = block_actions().sort;
  if (!block_sort) check::raise_expect_arg(*series, 0);
  const Before before(*series);
  block_sort(series, options);
  from_on(before.table, before.node, before.total, before.head);
}

void trim(Val series, const TrimOptions& options) {
  const Before before(*series);
  block_actions().trim(series, options);
  from_on(before.table, before.node, before.total, before.head);
}

// copy: a copy of the whole hash takes a copy of its table; any other copy
// gets a table built over its cells.
void copy_value(Val value, std::optional<Val> part, bool deep, std::optional<Val> types) {
  const bool whole = value->w1 == 0 && !part && !deep && !types;
  Rooted<Cell> source(*value);  // its table, until the copy has its own
  block_actions().copy(value, part, deep, types);
  cell::set_type(*value, TypeId::hash);
  value->w3 = no_node;
  if (!whole || source.get().w3 == no_node) {
    attach_table(value);
    return;
  }
  const NodeId table = hashtable::copy(source.get().w3, series::node_of(*value));
  value->w3 = table;
}

}  // namespace

void note_change(const Cell& value, uint32_t old_total, uint32_t index, uint32_t removed, uint32_t added) {
  if (!cell::is(value, TypeId::hash)) return;
  keep_in_step(value.w3, old_total, index, removed, added);
}

void attach_table(Val value) {
  const NodeId node = series::node_of(*value);
  value->w3 = no_node;
  const uint32_t room = memory::buffer(node)->capacity / sizeof(Cell);
  const NodeId table = hashtable::make(std::max(room, cells_in(node)), node, 0, hashtable::Kind::hash);
  value->w3 = table;
}

// Slots: make, to, mold, copy, sort and trim of its own; the block's
// modifying actions wrapped to keep the table in step; the rest inherited
// from block!. random, set-path and the scalar and port actions are
// unsupported.
void register_types() {
  datatype::register_type({TypeId::hash, TypeId::block, "hash!",
                           {.make = make_value,
                            .reflect = inherit,
                            .to = to_value,
                            .form = inherit,
                            .mold = mold_value,
                            .eval_path = eval_path,
                            .compare = inherit,
                            .append = append_values,
                            .at = inherit,
                            .back = inherit,
                            .change = change_values,
                            .clear = clear,
                            .copy = copy_value,
                            .find = inherit,
                            .head = inherit,
                            .head_q = inherit,
                            .index_q = inherit,
                            .insert = insert_values,
                            .length_q = inherit,
                            .move = inherit,
                            .next = inherit,
                            .pick = inherit,
                            .poke = poke,
                            .put = put,
                            .remove = remove,
                            .reverse = reverse,
                            .select = inherit,
                            .sort = sort,
                            .skip = inherit,
                            .swap = inherit,
                            .tail = inherit,
                            .tail_q = inherit,
                            .take = take,
                            .trim = trim,
                            .modify = inherit}});
}

}  // namespace kiv::hash
