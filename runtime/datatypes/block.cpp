#include "runtime/datatypes/block.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/check.h"
#include "runtime/core/cycle.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block_search.h"
#include "runtime/datatypes/block_sort.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/vector.h"
#include "runtime/eval/compare.h"
#include "runtime/eval/lexer.h"
#include "runtime/mold.h"
#include "runtime/ownership.h"

namespace kiv::block {
namespace {

using ownership::Change;
using ownership::ChangeReport;
using series_type::head;
using series_type::length;
using series_type::total;
using type_traits::is_all_word;
using type_traits::is_any_block;
using type_traits::is_number;
using type_traits::is_series;

Cell* cells(NodeId node) { return reinterpret_cast<Cell*>(memory::buffer(node)->head_ptr()); }

// Space for `count` more cells at `position`: later cells move up.
void open_gap(NodeId node, uint32_t position, uint32_t count) {
  series::reserve_tail(node, count * sizeof(Cell));
  Cell* data = cells(node);
  const uint32_t moved = memory::buffer(node)->length() - count - position;
  std::memmove(data + position + count, data + position, size_t{moved} * sizeof(Cell));
}

// The cells a value contributes: a block's cells from its head (unless
// `only`), else the value itself. Copied out, so that the source may be
// the very block being changed.
std::vector<Cell> source_cells(const Cell& value, bool only) {
  if (!only && is_any_block(cell::type_of(value))) {
    const Cell* first = cells(series::node_of(value)) + head(value);
    return std::vector<Cell>(first, first + length(value));
  }
  return {value};
}

uint32_t checked_total(size_t count, int32_t dup) {
  const uint64_t cells_needed = uint64_t{count} * static_cast<uint64_t>(std::max(dup, 1));
  if (cells_needed * sizeof(Cell) > memory::max_capacity) error::raise(error_id::internal::no_memory);
  return static_cast<uint32_t>(cells_needed);
}

// Writes `run` `dup` times from cell `position`.
void write_run(NodeId node, uint32_t position, const std::vector<Cell>& run, int32_t dup) {
  Cell* at = cells(node) + position;
  std::memcpy(at, run.data(), run.size() * sizeof(Cell));
  if (dup > 1) series::fill_repeat(reinterpret_cast<uint8_t*>(at), static_cast<uint32_t>(run.size() * sizeof(Cell)), static_cast<uint32_t>(dup));
}

// ---- make and to ----

void to_value(Val result, Val spec, TypeId type);

void make_value(Val result, Val spec, TypeId type) {
  const TypeId spec_type = cell::type_of(*spec);
  if (is_any_block(spec_type)) {
    *result = copy(spec, false);
    cell::set_type(*result, type);
    return;
  }
  if (spec_type == TypeId::integer) {
    *result = make_new(static_cast<uint32_t>(std::max(cell::get_int32(*spec), 1)), type);
    return;
  }
  if (spec_type == TypeId::float_) {
    const double size = cell::get_double(*spec);
    *result = make_new(size >= 1.0 && size < 1e9 ? static_cast<uint32_t>(size) : 1, type);
    return;
  }
  if (spec_type == TypeId::object) {
    *result = object::body_of(spec);
    cell::set_type(*result, type);
    return;
  }
  if (spec_type == TypeId::map) {
    *result = map::body_of(spec);
    cell::set_type(*result, type);
    return;
  }
  if (spec_type == TypeId::vector) {
    to_value(result, spec, type);
    return;
  }
  error::raise(error_id::script::bad_make_arg, datatype::make(type), *spec);
}

void to_value(Val result, Val spec, TypeId type) {
  const TypeId spec_type = cell::type_of(*spec);
  if (is_any_block(spec_type)) {
    *result = copy(spec, false);
  } else if (spec_type == TypeId::string) {
    lexer::scan_series(result, *spec, -1);
  } else if (spec_type == TypeId::object) {
    *result = object::body_of(spec);
  } else if (spec_type == TypeId::map) {
    *result = map::body_of(spec);
  } else if (spec_type == TypeId::vector) {
    // One value per element.
    *result = make_new(std::max(vector::length(*spec), 1u), type);
    vector::to_block(spec, result);
  } else if (spec_type == TypeId::typeset) {
    const Cell set = *spec;
    *result = make_new(typeset::count(set), type);
    typeset::to_block(set, result);
  } else {
    const Cell value = *spec;
    *result = make_new(1, type);
    append(result, value);
  }
  cell::set_type(*result, type);
}

// ---- form and mold ----

bool ends_a_line(const Cell& out) {
  const SeriesBuf* buf = memory::buffer(series::node_of(out));
  if (buf->used_bytes() == 0) return false;
  uint32_t last = 0;
  std::memcpy(&last, buf->tail_ptr() - buf->unit(), buf->unit());
  return last == '\t' || last == '\n' || last == '\r';
}

int32_t form(Val value, Val out, int32_t part) {
  if (mold::cycle_check(*value, out, part, false)) return part;
  cycle::Guard guard;
  const NodeId node = series::node_of(*value);
  cycle::push(node);
  const uint32_t first = head(*value);
  for (uint32_t i = first; i < memory::buffer(node)->length() && part >= 1; ++i) {
    if (i > first && !ends_a_line(*out)) part = mold::emit(out, " ", part);
    Val item = stack::push(cells(node)[i]);
    part = mold::form_value(item, out, part);
    stack::pop(1);
  }
  cycle::pop();
  return part;
}

int32_t indentation(Val out, int32_t levels, int32_t part) {
  mold::indent(out, levels);
  return part - 4 * levels;
}

int32_t mold_value(Val value, Val out, const MoldOptions& options, int32_t part) {
  if (mold::cycle_check(*value, out, part, true)) return part;
  const bool paren = cell::is(*value, TypeId::paren);
  if (!options.only) part = mold::emit(out, paren ? "(" : "[", part);
  cycle::Guard guard;
  const NodeId node = series::node_of(*value);
  cycle::push(node);
  MoldOptions inner = options;
  inner.only = false;
  bool close_line = false;
  const uint32_t first = head(*value);
  for (uint32_t i = first; i < memory::buffer(node)->length(); ++i) {
    if (part < 1) break;
    const Cell item = cells(node)[i];
    if (cell::has_new_line(item) && !options.flat) {
      if (i == first && !options.only) {
        ++inner.indent;
        close_line = true;
      }
      if (!(i == first && options.only)) part = mold::emit(out, "\n", part);
      part = indentation(out, inner.indent, part);
    } else if (i != first) {
      part = mold::emit(out, " ", part);
    }
    Val element = stack::push(item);
    part = mold::mold_value(element, out, inner, part);
    stack::pop(1);
  }
  cycle::pop();
  if (close_line) {
    part = mold::emit(out, "\n", part);
    part = indentation(out, inner.indent - 1, part);
  }
  if (!options.only) part = mold::emit(out, paren ? ")" : "]", part);
  return part;
}

// ---- compare ----

bool paths_alike(TypeId a, TypeId b, CmpOp op) {
  const bool lookup = op == CmpOp::find_word || op == CmpOp::find_word_case;
  return lookup && ((a == TypeId::path && b == TypeId::lit_path) || (a == TypeId::lit_path && b == TypeId::path));
}

int compare(const Cell& a, const Cell& b, CmpOp op) {
  const TypeId ta = cell::type_of(a);
  const TypeId tb = cell::type_of(b);
  if (ta != tb && !paths_alike(ta, tb, op)) return -2;
  const NodeId na = series::node_of(a);
  const NodeId nb = series::node_of(b);
  if (op == CmpOp::same) return na == nb && a.w1 == b.w1 ? 0 : -1;
  if (na == nb && a.w1 == b.w1) return 0;
  if (cycle::find(na)) return cycle::find(nb) ? 0 : -1;
  const uint32_t la = length(a);
  const uint32_t lb = length(b);
  const auto by_length = [&] { return la < lb ? -1 : la > lb ? 1 : 0; };
  if (la != lb && is_equality(op)) return 1;
  if (la == 0 || lb == 0) return by_length();
  cycle::Guard guard;
  cycle::push(na);
  cycle::push(nb);
  const uint32_t ha = head(a);
  const uint32_t hb = head(b);
  for (uint32_t i = 0; i < std::min(la, lb); ++i) {
    const Cell x = cells(na)[ha + i];
    const Cell y = cells(nb)[hb + i];
    const TypeId tx = cell::type_of(x);
    const TypeId ty = cell::type_of(y);
    if (tx == ty || (is_all_word(tx) && is_all_word(ty)) || (is_number(tx) && is_number(ty))) {
      const int answer = compare::dispatch(x, y, op);
      if (answer != 0) return answer;
    } else {
      return tx < ty ? -1 : 1;
    }
  }
  return by_length();
}

// ---- insertion and change ----

void insert_values(Val series, Val value, int32_t part, bool only, int32_t dup, bool append_at_tail) {
  std::vector<Cell> run = source_cells(*value, only);
  if (part >= 0 && static_cast<size_t>(part) < run.size()) run.resize(static_cast<size_t>(part));
  if (run.empty() || dup < 1) return;
  const NodeId node = series::node_of(*series);
  if (series->w1 > total(*series)) series->w1 = total(*series);
  const uint32_t at = append_at_tail ? total(*series) : series->w1;
  const uint32_t added = checked_total(run.size(), dup);
  ChangeReport report(series, append_at_tail ? Change::append : Change::insert, at, added, value);
  open_gap(node, at, added);
  write_run(node, at, run, dup);
  report.done(at, added);
  if (append_at_tail) series->w1 = 0;
  else series->w1 = std::min(at + added, total(*series));
}

void append_values(Val series, Val value, int32_t part, bool only, int32_t dup) {
  insert_values(series, value, part, only, dup, true);
}

void insert_at_head(Val series, Val value, int32_t part, bool only, int32_t dup) {
  insert_values(series, value, part, only, dup, false);
}

void change(Val series, Val value, int32_t part, bool only, int32_t dup) {
  if (series->w1 > total(*series)) series->w1 = total(*series);
  const uint32_t at = series->w1;
  const std::vector<Cell> run = source_cells(*value, only);
  const uint32_t written = checked_total(run.size(), dup);
  const uint32_t after = total(*series) - at;
  const uint32_t replaced = part >= 0 ? std::min(static_cast<uint32_t>(part), after) : std::min(written, after);
  const NodeId node = series::node_of(*series);
  ChangeReport report(series, Change::change, at, written, value);
  if (written > replaced) {
    open_gap(node, at + replaced, written - replaced);
  } else if (written < replaced) {
    series_type::remove_units(node, at + written, replaced - written);
  }
  if (written > 0) write_run(node, at, run, dup);
  report.done(at, written);
  series->w1 = std::min(at + written, total(*series));
}

// ---- copy, take, swap, trim ----

// Replaces every series cell of `block` by its copy (deep for blocks);
// with a type filter, only the selected types, series or not.
void copy_nested(NodeId node, const Cell* types) {
  for (uint32_t i = 0; i < memory::buffer(node)->length(); ++i) {
    const Cell item = cells(node)[i];
    const TypeId type = cell::type_of(item);
    if (types) {
      const bool copyable = is_series(type) || type == TypeId::bitset || type == TypeId::object ||
                            type == TypeId::error || type == TypeId::map;
      if (!copyable || !typeset::has(*types, type)) continue;
    } else if (!is_series(type)) {
      continue;
    }
    const action::CopyFn copy_fn = datatype::actions(type).copy;
    if (!copy_fn) continue;
    Val nested = stack::push(item);
    copy_fn(nested, std::nullopt, true, std::nullopt);
    cells(node)[i] = *nested;
    stack::pop(1);
  }
}

void copy_value(Val value, std::optional<Val> part, bool deep, std::optional<Val> types) {
  const NodeId source = series::node_of(*value);
  if (deep && cycle::find(source)) error::raise(error_id::internal::no_cycle);
  cycle::Guard guard;
  if (deep) cycle::push(source);
  const action::CopyFn shallow = datatype::actions(TypeId::series).copy;
  shallow(value, part, false, std::nullopt);
  if (deep || types) {
    Rooted<Cell> copied(*value);
    copy_nested(series::node_of(copied.get()), types ? types->get() : nullptr);
    *value = copied.get();
  }
}

void take(Val series, std::optional<Val> part, bool deep, bool last) {
  datatype::actions(TypeId::series).take(series, part, false, last);
  if (!deep) return;
  if (part && is_any_block(cell::type_of(*series))) {
    copy_nested(series::node_of(*series), nullptr);
  } else if (is_series(cell::type_of(*series))) {
    if (const action::CopyFn copy_fn = datatype::actions(cell::type_of(*series)).copy)
      copy_fn(series, std::nullopt, true, std::nullopt);
  }
}

void swap(Val series, Val other) {
  if (!is_any_block(cell::type_of(*other))) error::raise(error_id::script::invalid_arg, *other);
  if (length(*series) == 0 || length(*other) == 0) return;
  const uint32_t a = head(*series);
  const uint32_t b = head(*other);
  ChangeReport first(series, Change::swap, a, 1);
  ChangeReport second(other, Change::swap, b, 1);
  std::swap(cells(series::node_of(*series))[a], cells(series::node_of(*other))[b]);
  hash::note_change(*series, total(*series), a, 1, 1);
  hash::note_change(*other, total(*other), b, 1, 1);
  first.done(a, 1);
  second.done(b, 1);
}

void trim(Val series, const TrimOptions&) {
  const NodeId node = series::node_of(*series);
  const uint32_t from = head(*series);
  ChangeReport report(series, Change::trim, from, length(*series));
  Cell* data = cells(node);
  uint32_t kept = from;
  for (uint32_t i = from; i < total(*series); ++i)
    if (!cell::is(data[i], TypeId::none)) data[kept++] = data[i];
  memory::buffer(node)->tail = memory::buffer(node)->head + kept * sizeof(Cell);
  report.done(from, kept - from);
}

// ---- path! and its kinds ----

int32_t form_path(Val value, Val out, int32_t part) {
  if (mold::cycle_check(*value, out, part, false)) return part;
  cycle::Guard guard;
  const NodeId node = series::node_of(*value);
  cycle::push(node);
  for (uint32_t i = head(*value); i < memory::buffer(node)->length() && part >= 1; ++i) {
    if (i > head(*value)) part = mold::emit(out, "/", part);
    Val item = stack::push(cells(node)[i]);
    part = mold::form_value(item, out, part);
    stack::pop(1);
  }
  cycle::pop();
  return part;
}

int32_t mold_path(Val value, Val out, const MoldOptions& options, int32_t part) {
  if (mold::cycle_check(*value, out, part, true)) return part;
  const TypeId type = cell::type_of(*value);
  if (type == TypeId::lit_path) part = mold::emit(out, "'", part);
  if (type == TypeId::get_path) part = mold::emit(out, ":", part);
  cycle::Guard guard;
  const NodeId node = series::node_of(*value);
  cycle::push(node);
  for (uint32_t i = head(*value); i < memory::buffer(node)->length() && part >= 1; ++i) {
    if (i > head(*value)) part = mold::emit(out, "/", part);
    Val item = stack::push(cells(node)[i]);
    part = mold::mold_value(item, out, options, part);
    stack::pop(1);
  }
  cycle::pop();
  if (type == TypeId::set_path) part = mold::emit(out, ":", part);
  return part;
}

void make_path(Val result, Val spec, TypeId type) {
  const TypeId spec_type = cell::type_of(*spec);
  if (spec_type == TypeId::float_ || spec_type == TypeId::percent) {
    const double size = cell::get_double(*spec);
    *result = make_new(size >= 1.0 && size < 1e9 ? static_cast<uint32_t>(size) : 1, type);
    return;
  }
  make_value(result, spec, type);
}

// A child's slots: every slot the parent fills, inherited.
ActionSlots inheriting(ActionSlots slots) {
#define KIV_INHERIT_ALL(number, name, Fn) \
  if (slots.name.fn || slots.name.inherits) slots.name = inherit;
  KIV_ACTIONS(KIV_INHERIT_ALL)
#undef KIV_INHERIT_ALL
  return slots;
}

ActionSlots block_slots() {
  return {.make = make_value,
          .random = inherit,
          .reflect = inherit,
          .to = to_value,
          .form = form,
          .mold = mold_value,
          .eval_path = block_search::eval_path,
          .compare = compare,
          .append = append_values,
          .at = inherit,
          .back = inherit,
          .change = change,
          .clear = inherit,
          .copy = copy_value,
          .find = block_search::find,
          .head = inherit,
          .head_q = inherit,
          .index_q = inherit,
          .insert = insert_at_head,
          .length_q = inherit,
          .move = inherit,
          .next = inherit,
          .pick = inherit,
          .poke = inherit,
          .put = block_search::put,
          .remove = inherit,
          .reverse = inherit,
          .select = block_search::select,
          .sort = sort,
          .skip = inherit,
          .swap = swap,
          .tail = inherit,
          .tail_q = inherit,
          .take = take,
          .trim = trim,
          .modify = inherit};
}

}  // namespace

Cell make_new(uint32_t capacity, TypeId type) {
  return series::make(type, memory::new_cell_series(std::max<uint32_t>(capacity, 1)));
}

Val push_new(uint32_t capacity, TypeId type) { return stack::push(make_new(capacity, type)); }

uint32_t count(const Cell& block) { return length(block); }

Cell* at(const Cell& block, uint32_t index) { return cells(series::node_of(block)) + head(block) + index; }

void append(Val block, Cell value) { *series::append_slot(series::node_of(*block)) = value; }

void append_all(Val block, Val source) {
  for (const Cell& item : source_cells(*source, false)) append(block, item);
}

Cell copy(Val block, bool deep) {
  Val result = stack::push(*block);
  copy_value(result, std::nullopt, deep, std::nullopt);
  const Cell copied = *result;
  stack::pop(1);
  return copied;
}

void register_types() {
  datatype::register_type({TypeId::block, TypeId::series, "block!", block_slots()});
}

void register_paths() {
  ActionSlots slots = inheriting(block_slots());
  slots.make = make_path;
  slots.form = form_path;
  slots.mold = mold_path;
  slots.random = {};
  slots.sort = {};
  slots.trim = {};
  datatype::register_type({TypeId::path, TypeId::block, "path!", slots});
  const ActionSlots kinds = inheriting(slots);
  datatype::register_type({TypeId::lit_path, TypeId::path, "lit-path!", kinds});
  datatype::register_type({TypeId::set_path, TypeId::path, "set-path!", kinds});
  datatype::register_type({TypeId::get_path, TypeId::path, "get-path!", kinds});
}

void register_paren() {
  datatype::register_type({TypeId::paren, TypeId::block, "paren!", inheriting(block_slots())});
}

}  // namespace kiv::block
