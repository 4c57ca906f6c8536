#include "runtime/datatypes/map.h"

#include <algorithm>
#include <string_view>

#include "runtime/check.h"
#include "runtime/core/cycle.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/eval/compare.h"
#include "runtime/hashtable.h"
#include "runtime/mold.h"

namespace kiv::map {
namespace {

using hashtable::is_removed;

// ---- the data block ----

Cell* cells(NodeId data) { return reinterpret_cast<Cell*>(memory::buffer(data)->head_ptr()); }
uint32_t cell_total(NodeId data) { return memory::buffer(data)->length(); }

Cell make_cell(NodeId data, NodeId table) { return Cell{cell::header(TypeId::map), 0, data, table}; }

// A stored key as scripts see it: a set-word key as a word!.
Cell key_out(Cell key) {
  if (cell::is(key, TypeId::set_word)) cell::set_type(key, TypeId::word);
  cell::clear_new_line(key);
  return key;
}

Cell value_in(Cell value) {
  cell::clear_new_line(value);
  return value;
}

// A key made ready for storing, in place: words become set-words, strings
// and binaries private copies from their index. May collect.
void normalize_key(Val key) {
  const TypeId type = cell::type_of(*key);
  if (type_traits::is_any_word(type)) {
    cell::set_type(*key, TypeId::set_word);
  } else if (!type_traits::is_map_key(type)) {
    error::raise(error_id::script::invalid_path, datatype::make(type), *key);
  } else if (type_traits::is_any_string(type) || type == TypeId::binary) {
    *key = series_type::copy_range(*key, series_type::head(*key), series_type::length(*key));
  }
  cell::clear_new_line(*key);
}

// ---- lookup ----

enum class Match { live, any };

// Position of the key matching `key` under `op`: the first live one, or
// with Match::any, failing that, the first removed one. -1 when none.
// Does not allocate.
int32_t lookup(const Cell& map, const Cell& key, CmpOp op, Match match = Match::live) {
  const NodeId data = map.w2;
  int32_t removed = -1;
  int32_t live = -1;
  hashtable::any_match(map.w3, key, op, [&](int32_t position) {
    if (!is_removed(cells(data)[position + 1])) {
      live = position;
      return true;
    }
    if (removed < 0) removed = position;
    return false;
  });
  return live >= 0 || match == Match::live ? live : removed;
}

CmpOp key_op(bool case_sensitive) { return case_sensitive ? CmpOp::strict_equal : CmpOp::equal; }

// Stores `value` under `key`: over the value of a matching key (reviving a
// removed pair), else in a new pair at the end. May collect.
void set_pair(Val map, Val key, Val value, bool case_sensitive) {
  const NodeId data = map->w2;
  const NodeId table = map->w3;
  if (const int32_t found = lookup(*map, *key, key_op(case_sensitive), Match::any); found >= 0) {
    Cell& slot = cells(data)[found + 1];
    if (is_removed(slot)) ++hashtable::record(table).size;
    slot = value_in(*value);
    return;
  }
  Val stored = stack::push(*key);
  normalize_key(stored);
  const uint32_t at = cell_total(data);
  *series::append_slot(data) = *stored;
  *series::append_slot(data) = unset::make();  // a valid cell while the table grows
  hashtable::put_key(table, at);
  cells(data)[at + 1] = value_in(*value);
  stack::pop(1);
}

// Once removed pairs outnumber the live ones, the live pairs move down in
// order over the removed ones and the table indexes them afresh.
void compact_if_sparse(const Cell& map) {
  const NodeId data = map.w2;
  const uint32_t pairs = cell_total(data) / 2;
  const uint32_t live = count(map);
  const uint32_t removed = pairs - live;
  if (removed < compact_after || removed <= live) return;
  {
    NoGcScope no_gc;
    Cell* pair_cells = cells(data);
    uint32_t kept = 0;
    for (uint32_t i = 0; i < 2 * pairs; i += 2) {
      if (is_removed(pair_cells[i + 1])) continue;
      pair_cells[kept] = pair_cells[i];
      pair_cells[kept + 1] = pair_cells[i + 1];
      kept += 2;
    }
    SeriesBuf* buf = memory::buffer(data);
    buf->tail = buf->head + kept * static_cast<uint32_t>(sizeof(Cell));
  }
  hashtable::reindex_pairs(map.w3);
}

// A new empty map with room for `pairs` pairs. May collect.
Cell make_empty(uint32_t pairs) {
  Val data = block::push_new(2 * std::max<uint32_t>(pairs, 1));
  const NodeId table = hashtable::make(pairs, series::node_of(*data), 0, hashtable::Kind::map);
  const Cell map = make_cell(series::node_of(*data), table);
  stack::pop(1);
  return map;
}

// ---- make and to ----

void copy_value(Val value, std::optional<Val> part, bool deep, std::optional<Val> types);

void convert(Val result, Val spec, bool making) {
  switch (cell::type_of(*spec)) {
    case TypeId::block:
    case TypeId::paren:
    case TypeId::hash:
      make_from_block(result, spec);
      return;
    case TypeId::map:
      *result = *spec;
      copy_value(result, std::nullopt, false, std::nullopt);
      return;
    case TypeId::integer:
    case TypeId::float_: {
      if (!making) break;
      const double pairs = cell::is(*spec, TypeId::integer) ? cell::get_int32(*spec) : cell::get_double(*spec);
      if (!(pairs >= 0)) error::raise(error_id::script::out_of_range, *spec);
      if (!(pairs * 2 * sizeof(Cell) <= static_cast<double>(memory::max_capacity))) error::raise(error_id::internal::no_memory);
      *result = make_empty(static_cast<uint32_t>(pairs));
      return;
    }
    default:
      break;
  }
  error::raise(error_id::script::bad_to_arg, datatype::make(TypeId::map), *spec);
}

void make_value(Val result, Val spec, TypeId) { convert(result, spec, true); }
void to_value(Val result, Val spec, TypeId) { convert(result, spec, false); }

// ---- reflect ----

// reflect map 'words / 'values / 'body.
void reflect(Val value, Val field) {
  const std::string_view name = symbol::spelling(symbol::resolve(field->w2));
  if (name == "body") {
    *value = body_of(value);
    return;
  }
  const bool words = name == "words";
  if (!words && name != "values") error::raise(error_id::internal::not_done);
  Val out = block::push_new(std::max<uint32_t>(count(*value), 1));
  const NodeId data = value->w2;
  for (uint32_t i = 0; i + 1 < cell_total(data); i += 2) {
    if (is_removed(cells(data)[i + 1])) continue;
    block::append(out, words ? key_out(cells(data)[i]) : cells(data)[i + 1]);
  }
  *value = *out;
  stack::pop(1);
}

// ---- form and mold ----

// Writes the live pairs, each as the key's mold, a space and the value's
// mold, with what comes before each pair (`before`, first pair aside) and
// after it. Answers the budget left and whether a pair was written.
struct PairLayout {
  std::string_view first_before;
  std::string_view before;
  std::string_view after;
  int32_t indent_levels;
};

int32_t write_pairs(Val value, Val out, const MoldOptions& inner, const PairLayout& layout, int32_t part, bool* wrote) {
  const NodeId data = value->w2;
  bool first = true;
  for (uint32_t i = 0; i + 1 < cell_total(data) && part >= 1; i += 2) {
    if (is_removed(cells(data)[i + 1])) continue;
    part = mold::emit(out, first ? layout.first_before : layout.before, part);
    if (layout.indent_levels > 0) {
      mold::indent(out, layout.indent_levels);
      part -= 4 * layout.indent_levels;
    }
    Val key = stack::push(cells(data)[i]);
    Val item = stack::push(cells(data)[i + 1]);
    part = mold::mold_value(key, out, inner, part);
    part = mold::emit(out, " ", part);
    part = mold::mold_value(item, out, inner, part);
    stack::pop(2);
    part = mold::emit(out, layout.after, part);
    first = false;
    *wrote = true;
  }
  return part;
}

// "#[", then each live pair on a line of its own, one level deeper than
// the map, and "]" on a line at the map's level; /flat puts the pairs on
// one line, /only drops the brackets and the indentation.
int32_t mold_value(Val value, Val out, const MoldOptions& options, int32_t part) {
  if (mold::cycle_check(*value, out, part, true)) return part;
  const int32_t level = options.indent;
  if (!options.only) part = mold::emit(out, "#[", part);
  cycle::Guard guard;
  cycle::push(value->w2);
  MoldOptions inner = options;
  inner.only = false;
  inner.indent = level + 1;
  bool wrote = false;
  if (count(*value) > 0) {
    PairLayout layout{"", "", "", 0};
    if (options.flat) {
      layout.before = " ";
    } else if (options.only) {
      layout.before = "\n";
    } else {
      part = mold::emit(out, "\n", part);
      wrote = true;
      layout.after = "\n";
      layout.indent_levels = level + 1;
    }
    part = write_pairs(value, out, inner, layout, part, &wrote);
  }
  cycle::pop();
  if (options.only) return part;
  if (wrote && level >= 1) {
    mold::indent(out, level);
    part -= 4 * level;
  }
  return mold::emit(out, "]", part);
}

// The live pairs as mold shows them, a pair a line, without brackets.
int32_t form(Val value, Val out, int32_t part) {
  if (mold::cycle_check(*value, out, part, false)) return part;
  cycle::Guard guard;
  cycle::push(value->w2);
  bool wrote = false;
  part = write_pairs(value, out, {}, {"", "\n", "", 0}, part, &wrote);
  cycle::pop();
  return part;
}

// ---- paths ----

// m/key reads the key's value (none when absent); m/key: value stores it.
void eval_path(PathStep& step) {
  if (step.new_value) {
    Val fresh = stack::push(*step.new_value);
    set_pair(step.value, step.selector, fresh, false);
    *step.value = *fresh;
    stack::pop(1);
    return;
  }
  const int32_t found = lookup(*step.value, *step.selector, CmpOp::equal);
  *step.value = found < 0 ? none::make() : cells(step.value->w2)[found + 1];
}

// ---- compare ----

int sign(int64_t difference) { return difference < 0 ? -1 : difference > 0 ? 1 : 0; }

// Maps are equal when they hold the same number of live pairs and each
// key of the first has its value in the second: under strict equality the
// key strictly equal, else any key equal to it. Sorting orders maps by
// identity. Does not allocate.
int compare(const Cell& a, const Cell& b, CmpOp op) {
  if (!cell::is(b, TypeId::map)) return -2;
  if (op == CmpOp::sort || op == CmpOp::case_sort) return sign(static_cast<int64_t>(a.w2) - static_cast<int64_t>(b.w2));
  switch (op) {
    case CmpOp::equal:
    case CmpOp::not_equal:
    case CmpOp::strict_equal:
    case CmpOp::same:
    case CmpOp::lookup:
      break;
    default:
      return -2;
  }
  if (a.w2 == b.w2) return 0;
  if (op == CmpOp::same) return -1;
  if (cycle::find(a.w2)) return cycle::find(b.w2) ? 0 : -1;
  if (count(a) != count(b)) return 1;
  if (count(a) == 0) return 0;
  cycle::Guard guard;
  cycle::push(a.w2);
  cycle::push(b.w2);
  const bool strict = op == CmpOp::strict_equal;
  const CmpOp value_op = strict ? CmpOp::strict_equal : CmpOp::equal;
  const NodeId data_a = a.w2;
  const NodeId data_b = b.w2;
  for (uint32_t i = 0; i + 1 < cell_total(data_a); i += 2) {
    const Cell value = cells(data_a)[i + 1];
    if (is_removed(value)) continue;
    const bool found = hashtable::any_match(b.w3, cells(data_a)[i], value_op, [&](int32_t position) {
      const Cell& other = cells(data_b)[position + 1];
      return !is_removed(other) && compare::dispatch(value, other, value_op) == 0;
    });
    if (!found) return 1;
  }
  return 0;
}

// ---- series-like actions ----

void clear(Val value) { hashtable::clear(value->w3); }

int32_t length_of(Val value) { return static_cast<int32_t>(count(*value)); }

// copy: the pairs and the table; /deep copies the blocks held as values,
// /types the values of the types it names.
void copy_value(Val value, std::optional<Val>, bool deep, std::optional<Val> types) {
  const NodeId source = value->w2;
  if (deep && cycle::find(source)) error::raise(error_id::internal::no_cycle);
  cycle::Guard guard;
  if (deep) cycle::push(source);
  const NodeId fresh = memory::copy_series(source);
  Val copied = stack::push(make_cell(fresh, no_node));  // no table yet: only the block is traced
  const NodeId table = hashtable::copy(value->w3, fresh);
  copied->w3 = table;
  if (deep || types) {
    for (uint32_t i = 1; i < cell_total(fresh); i += 2) {
      const Cell item = cells(fresh)[i];
      const TypeId type = cell::type_of(item);
      if (types) {
        const bool copyable = type_traits::is_series(type) || type == TypeId::bitset || type == TypeId::object ||
                              type == TypeId::error || type == TypeId::map;
        if (!copyable || !typeset::has(**types, type)) continue;
      } else if (!type_traits::is_any_block(type)) {
        continue;
      }
      const action::CopyFn copy_fn = datatype::actions(type).copy;
      if (!copy_fn) continue;
      Val nested = stack::push(item);
      copy_fn(nested, std::nullopt, true, std::nullopt);
      cells(fresh)[i] = *nested;
      stack::pop(1);
    }
  }
  *value = *copied;
  stack::pop(1);
}

// find: the stored key (a word key as word!), or none. /same matches only
// the very key, /case matches strictly.
void find(Val series, Val key, const FindOptions& options) {
  const CmpOp op = options.same ? CmpOp::same : key_op(options.case_);
  const int32_t found = lookup(*series, *key, op);
  *series = found < 0 ? none::make() : key_out(cells(series->w2)[found]);
}

// select: the key's value, or none.
void select(Val series, Val key, const FindOptions& options) {
  const CmpOp op = options.same ? CmpOp::same : key_op(options.case_);
  const int32_t found = lookup(*series, *key, op);
  *series = found < 0 ? none::make() : cells(series->w2)[found + 1];
}

void put(Val series, Val key, Val value, bool case_sensitive) {
  set_pair(series, key, value, case_sensitive);
  *series = *value;
}

// remove/key: the pair of the key leaves the map, found as find finds it
// (by plain equality). The map is the result.
void remove(Val series, std::optional<Val>, std::optional<Val> key) {
  if (!key) error::raise(error_id::script::missing_arg);
  const int32_t found = lookup(*series, **key, CmpOp::equal);
  if (found < 0) return;
  hashtable::remove_key(series->w3, static_cast<uint32_t>(found));
  compact_if_sparse(*series);
}

}  // namespace

uint32_t count(const Cell& map) { return static_cast<uint32_t>(hashtable::record(map.w3).size); }

void make_from_block(Val result, Val spec) {
  const uint32_t length = series_type::length(*spec);
  if (length % 2 != 0) error::raise(error_id::script::invalid_arg, *spec);
  Val data = stack::push(series_type::copy_range(*spec, series_type::head(*spec), length));
  cell::set_type(*data, TypeId::block);
  const NodeId node = series::node_of(*data);
  for (uint32_t i = 0; i < length; ++i) {
    if (i % 2 == 1) {
      cell::clear_new_line(cells(node)[i]);
      continue;
    }
    Val key = stack::push(cells(node)[i]);
    normalize_key(key);
    cells(node)[i] = *key;
    stack::pop(1);
  }
  const NodeId table = hashtable::make(length / 2, node, 0, hashtable::Kind::map);
  *result = make_cell(node, table);
  stack::pop(1);
}

void adopt_block(Val result, Val pairs) {
  const NodeId node = series::node_of(*pairs);
  const uint32_t length = cell_total(node);
  for (uint32_t i = 0; i < length; ++i) {
    Cell& cell = cells(node)[i];
    if (i % 2 == 0 && type_traits::is_any_word(cell::type_of(cell))) cell::set_type(cell, TypeId::set_word);
    cell::clear_new_line(cell);
  }
  const NodeId table = hashtable::make(length / 2, node, 0, hashtable::Kind::map);
  *result = make_cell(node, table);
}

void extend(Val map, Val spec, bool case_sensitive) {
  const bool from_map = cell::is(*spec, TypeId::map);
  const uint32_t start = from_map ? 0 : series_type::head(*spec);
  const uint32_t length = from_map ? cell_total(spec->w2) : series_type::length(*spec);
  if (length % 2 != 0) error::raise(error_id::script::invalid_arg, *spec);
  for (uint32_t i = start; i + 1 < start + length; i += 2) {
    const NodeId source = series::node_of(*spec);
    if (i + 1 >= cell_total(source)) break;  // the spec shrank: it may be the map itself
    if (from_map && is_removed(cells(source)[i + 1])) continue;
    Val key = stack::push(cells(source)[i]);
    Val value = stack::push(cells(source)[i + 1]);
    set_pair(map, key, value, case_sensitive);
    stack::pop(2);
  }
}

Cell body_of(Val map) {
  Val out = block::push_new(2 * std::max<uint32_t>(count(*map), 1));
  const NodeId data = map->w2;
  for (uint32_t i = 0; i + 1 < cell_total(data); i += 2) {
    if (is_removed(cells(data)[i + 1])) continue;
    Cell key = cells(data)[i];
    key.header |= cell::new_line_flag;
    block::append(out, key);
    block::append(out, cells(data)[i + 1]);
  }
  const Cell body = *out;
  stack::pop(1);
  return body;
}

bool foreach_next(Val map, const Cell& words, uint32_t* position) {
  const bool many = cell::is(words, TypeId::block);
  const uint32_t width = many ? block::count(words) : 1;
  bool took = false;
  for (uint32_t k = 0; k < width; ++k) {
    Cell name = many ? *block::at(words, k) : words;
    if (!type_traits::is_any_word(cell::type_of(name))) error::raise(error_id::script::invalid_arg, name);
    cell::set_type(name, TypeId::word);
    const NodeId data = map->w2;
    while (*position % 2 == 0 && *position + 1 < cell_total(data) && is_removed(cells(data)[*position + 1])) *position += 2;
    Cell item = none::make();
    if (*position < cell_total(data)) {
      item = *position % 2 == 0 ? key_out(cells(data)[*position]) : cells(data)[*position];
      ++*position;
      took = true;
    }
    Val value = stack::push(item);
    Val target = stack::push(name);
    context::set(target, value);
    stack::pop(2);
  }
  return took;
}

// Slots: make, reflect, to, form, mold, eval-path, compare, clear, copy,
// find, length?, put, remove and select. A map is no series: every other
// action is unsupported.
void register_types() {
  datatype::register_type({TypeId::map, TypeId::none_type, "map!",
                           {.make = make_value,
                            .reflect = reflect,
                            .to = to_value,
                            .form = form,
                            .mold = mold_value,
                            .eval_path = eval_path,
                            .compare = compare,
                            .clear = clear,
                            .copy = copy_value,
                            .find = find,
                            .length_q = length_of,
                            .put = put,
                            .remove = remove,
                            .select = select}});
}

}  // namespace kiv::map
