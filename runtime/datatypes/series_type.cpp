#include "runtime/datatypes/series_type.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/check.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/random.h"
#include "runtime/hashtable.h"
#include "runtime/ownership.h"

namespace kiv::series_type {
namespace {

using ownership::Change;
using ownership::ChangeReport;
using type_traits::is_any_block;
using type_traits::is_any_string;
using type_traits::is_series;

Cell integer_cell(int64_t value) { return Cell{cell::header(TypeId::integer), 0, static_cast<uint32_t>(value), 0}; }
Cell char_cell(uint32_t code_point) { return Cell{cell::header(TypeId::char_), 0, code_point, 0}; }

uint8_t* unit_address(NodeId node, uint32_t position) {
  SeriesBuf* buf = memory::buffer(node);
  return buf->head_ptr() + size_t{position} * buf->unit();
}

uint32_t read_code_point(NodeId node, uint32_t position) {
  uint32_t code_point = 0;
  std::memcpy(&code_point, unit_address(node, position), memory::buffer(node)->unit());
  return code_point;
}

// The word of a refinement, for error reports.
Cell refinement(std::string_view name) {
  return word::make(TypeId::refinement, no_node, symbol::make(name), word::unresolved);
}

[[noreturn]] void invalid_refine_arg(std::string_view name, const Cell& value) {
  error::raise(error_id::script::invalid_refine_arg, refinement(name), value);
}

int32_t integer_of(const Cell& value) { return static_cast<int32_t>(value.w2); }

int64_t clamp_position(int64_t position, const Cell& series) {
  return std::clamp<int64_t>(position, 0, total(series));
}

void swap_units(NodeId node, uint32_t a, uint32_t b) {
  const uint32_t unit = memory::buffer(node)->unit();
  uint8_t scratch[16];
  std::memcpy(scratch, unit_address(node, a), unit);
  std::memcpy(unit_address(node, a), unit_address(node, b), unit);
  std::memcpy(unit_address(node, b), scratch, unit);
}

// ---- position actions ----

void at(Val series, Val offset) {
  if (!cell::is(*offset, TypeId::integer)) error::raise(error_id::script::invalid_arg, *offset);
  const int64_t n = integer_of(*offset);
  const int64_t position = static_cast<int64_t>(series->w1) + (n >= 1 ? n - 1 : n);
  series->w1 = static_cast<uint32_t>(clamp_position(position, *series));
}

void skip(Val series, Val offset) {
  if (!cell::is(*offset, TypeId::integer)) error::raise(error_id::script::invalid_arg, *offset);
  series->w1 = static_cast<uint32_t>(clamp_position(static_cast<int64_t>(series->w1) + integer_of(*offset), *series));
}

void back(Val series) {
  if (series->w1 > 0) --series->w1;
}
void next(Val series) {
  if (series->w1 + 1 <= total(*series)) ++series->w1;
}
void to_head(Val series) { series->w1 = 0; }
void to_tail(Val series) { series->w1 = total(*series); }
bool at_head(Val series) { return series->w1 == 0; }
bool at_tail(Val series) { return series->w1 >= total(*series); }
int32_t index_of(Val series) { return static_cast<int32_t>(series->w1) + 1; }
int32_t length_of(Val series) { return static_cast<int32_t>(length(*series)); }

// ---- reading and writing units ----

// The position an index names from the head, when it is inside the series.
std::optional<uint32_t> indexed_position(const Cell& series, int32_t index) {
  if (index == 0) return std::nullopt;
  const int64_t position = static_cast<int64_t>(series.w1) + (index > 0 ? index - 1 : index);
  if (position < 0 || position >= total(series)) return std::nullopt;
  return static_cast<uint32_t>(position);
}

void poke(Val series, Val, int32_t position_index, Val value) {
  const auto position = indexed_position(*series, position_index);
  if (!position) error::raise(error_id::script::out_of_range, integer_cell(position_index));
  const TypeId type = cell::type_of(*series);
  const NodeId node = series::node_of(*series);
  if (is_any_block(type)) {
    ChangeReport report(series, Change::poke, *position, 1, value);
    reinterpret_cast<Cell*>(unit_address(node, *position))[0] = *value;
    report.done(*position, 1);
  } else if (is_any_string(type)) {
    if (!cell::is(*value, TypeId::char_)) error::raise(error_id::script::invalid_arg, *value);
    const uint32_t code_point = value->w2;
    ChangeReport report(series, Change::poke, *position, 1, value);
    string::widen(node, code_point <= 0xFF ? 1 : code_point <= 0xFFFF ? 2 : 4);
    std::memcpy(unit_address(node, *position), &code_point, memory::buffer(node)->unit());
    report.done(*position, 1);
  } else if (type == TypeId::binary) {
    const uint8_t byte = binary::poke_value(*value);
    ChangeReport report(series, Change::poke, *position, 1, value);
    *unit_address(node, *position) = byte;
    report.done(*position, 1);
  } else if (type == TypeId::vector) {
    ChangeReport report(series, Change::poke, *position, 1, value);
    vector::set_value(*series, *position, *value);
    report.done(*position, 1);
  } else {
    error::raise(error_id::internal::not_done);
  }
  *series = *value;
}

// ---- modifying actions ----

void clear(Val series) {
  const uint32_t from = head(*series);
  const uint32_t count = length(*series);
  if (count == 0) return;
  ChangeReport report(series, Change::clear, from, count);
  SeriesBuf* buf = memory::buffer(series::node_of(*series));
  buf->tail = buf->head + from * buf->unit();
  report.done(from, count);
}

void remove(Val series, std::optional<Val> part, std::optional<Val> key) {
  int64_t count = 1;
  if (part) count = part_count(*series, **part);
  if (count < 1) return;
  if (key) {
    // The key and the value after it go together; a missing key removes
    // nothing.
    Val found = stack::push(*series);
    const action::FindFn find = datatype::actions(cell::type_of(*series)).find;
    if (!find) error::raise(error_id::internal::not_done);
    find(found, *key, {});
    const bool missing = cell::is(*found, TypeId::none);
    const uint32_t at = found->w1;
    stack::pop(1);
    if (missing) return;
    series->w1 = at;
    ++count;
  }
  const uint32_t from = head(*series);
  if (from >= total(*series)) return;
  const auto removed = static_cast<uint32_t>(std::min<int64_t>(count, total(*series) - from));
  ChangeReport report(series, Change::remove, from, removed);
  remove_units(series::node_of(*series), from, removed);
  report.done(from, removed);
}

void reverse(Val series, std::optional<Val> part, std::optional<Val> skip_size) {
  const uint32_t from = head(*series);
  if (from >= total(*series)) return;
  int64_t count = part ? part_count(*series, **part) : length(*series);
  count = std::min<int64_t>(count, length(*series));
  if (count < 1) return;
  int64_t size = 1;
  if (skip_size) {
    if (!cell::is(**skip_size, TypeId::integer)) invalid_refine_arg("skip", **skip_size);
    size = integer_of(**skip_size);
    if (size == count) return;
    if (size < 1) error::raise(error_id::script::out_of_range, **skip_size);
    if (count < size || count % size != 0) invalid_refine_arg("skip", **skip_size);
  }
  ChangeReport report(series, Change::reverse, from, static_cast<uint32_t>(count));
  const NodeId node = series::node_of(*series);
  const auto records = static_cast<uint32_t>(count / size);
  for (uint32_t i = 0; i < records / 2; ++i)
    for (uint32_t u = 0; u < size; ++u)
      swap_units(node, from + i * static_cast<uint32_t>(size) + u, from + (records - 1 - i) * static_cast<uint32_t>(size) + u);
  report.done(from, static_cast<uint32_t>(count));
}

void take(Val series, std::optional<Val> part, bool, bool last) {
  const uint32_t from = head(*series);
  const uint32_t available = length(*series);
  if (available < 1) {
    *series = none::make();
    return;
  }
  const NodeId node = series::node_of(*series);
  if (!part) {
    const uint32_t position = last ? total(*series) - 1 : from;
    const Cell taken = unit_value(*series, position);
    ChangeReport report(series, Change::take, position, 1);
    remove_units(node, position, 1);
    report.done(position, 1);
    *series = taken;
    return;
  }
  int64_t n = part_count(*series, **part);
  if (!cell::is(**part, TypeId::integer)) {
    // A position: up to it from the head, or with /last from it to the
    // tail; a position before the head takes nothing.
    if (n < 0) n = 0;
    else if (last) n = static_cast<int64_t>(available) - n;
  }

  uint32_t start;
  uint32_t count;
  if (n >= 1) {
    count = static_cast<uint32_t>(std::min<int64_t>(n, available));
    start = last ? total(*series) - count : from;
  } else {
    // Backwards from the head: the units just before it. A count of zero
    // takes nothing.
    count = last ? 0 : static_cast<uint32_t>(std::min<int64_t>(-n, from));
    start = from - count;
  }
  Rooted<Cell> taken(copy_range(*series, start, count));
  if (count > 0) {
    ChangeReport report(series, Change::take, start, count);
    remove_units(node, start, count);
    report.done(start, count);
  }
  *series = taken.get();
}

void move(Val origin, Val target, int32_t part) {
  const TypeId target_type = cell::type_of(*target);
  if (!is_series(target_type)) check::raise_expect_arg(*target, 1);
  const uint32_t from = head(*origin);
  if (from >= total(*origin)) return;
  if (part != -1 && part < 1) return;
  const uint32_t count = part == -1 ? 1 : static_cast<uint32_t>(std::min<int64_t>(part, length(*origin)));
  const NodeId source = series::node_of(*origin);
  const NodeId destination = series::node_of(*target);
  const TypeId origin_type = cell::type_of(*origin);

  if (source != destination) {
    if (is_any_block(origin_type) != is_any_block(target_type))
      error::raise(error_id::script::move_bad, datatype::make(origin_type), datatype::make(target_type));
    const uint32_t source_unit = memory::buffer(source)->unit();
    const uint32_t target_unit = memory::buffer(destination)->unit();
    if (source_unit != target_unit && (!is_any_string(origin_type) || !is_any_string(target_type)))
      error::raise(error_id::script::move_bad, datatype::make(origin_type), datatype::make(target_type));
    // Strings of different widths: the destination takes the wider unit.
    if (source_unit > target_unit) string::widen(destination, source_unit);
    const uint32_t at = head(*target);
    const uint32_t source_total = total(*origin);
    const uint32_t target_total = total(*target);
    const bool owned = ownership::notify(*origin, Change::move, false, *origin, from, count);
    std::vector<uint32_t> code_points;
    std::vector<uint8_t> bytes;
    if (source_unit == memory::buffer(destination)->unit()) {
      bytes.assign(unit_address(source, from), unit_address(source, from) + size_t{count} * source_unit);
    } else {
      for (uint32_t i = 0; i < count; ++i) code_points.push_back(read_code_point(source, from + i));
    }
    const uint32_t unit = memory::buffer(destination)->unit();
    series::reserve_tail(destination, count * unit);
    uint8_t* gap = unit_address(destination, at);
    SeriesBuf* buf = memory::buffer(destination);
    std::memmove(gap + size_t{count} * unit, gap, static_cast<size_t>(buf->tail_ptr() - gap) - size_t{count} * unit);
    if (!bytes.empty()) std::memcpy(gap, bytes.data(), bytes.size());
    for (uint32_t i = 0; i < code_points.size(); ++i) std::memcpy(gap + size_t{i} * unit, &code_points[i], unit);
    remove_units(source, from, count);
    hash::note_change(*origin, source_total, from, count, 0);
    hash::note_change(*target, target_total, at, 0, count);
    if (owned) ownership::notify(*target, Change::move, true, *target, at, count);
    *origin = *target;
    return;
  }

  // Within one series. A destination inside the moved run is not a place.
  uint32_t to = std::min(head(*target), total(*origin));
  if (to == from) return;
  if (to > from && to < from + count) error::raise(error_id::script::out_of_range, integer_cell(static_cast<int64_t>(to) + 1));
  const bool owned = ownership::notify(*origin, Change::move, false, *origin, from, count);
  const uint32_t unit = memory::buffer(source)->unit();
  std::vector<uint8_t> run(unit_address(source, from), unit_address(source, from) + size_t{count} * unit);
  if (to > from) {
    // Forward: the units after the run, up to and including the
    // destination unit, move down; the run lands behind them.
    const uint32_t end = to >= total(*origin) ? total(*origin) : to + 1;
    std::memmove(unit_address(source, from), unit_address(source, from + count), size_t{end - from - count} * unit);
    std::memcpy(unit_address(source, end - count), run.data(), run.size());
  } else {
    std::memmove(unit_address(source, to + count), unit_address(source, to), size_t{from - to} * unit);
    std::memcpy(unit_address(source, to), run.data(), run.size());
  }
  const uint32_t moved_from = std::min(from, to);
  hash::note_change(*origin, total(*origin), moved_from, total(*origin) - moved_from, total(*origin) - moved_from);
  if (owned) ownership::notify(*target, Change::move, true, *target, to, count);
  *origin = *target;
}

void random(Val series, bool seed, bool secure, bool only) {
  const uint32_t from = head(*series);
  const NodeId node = series::node_of(*series);
  if (seed) {
    const SeriesBuf* buf = memory::buffer(node);
    const uint32_t start = std::min(from * buf->unit(), buf->used_bytes());
    random::mt_seed(hashtable::murmur3(buf->head_ptr() + start, buf->used_bytes() - start));
    *series = unset::make();
    return;
  }
  const uint32_t count = length(*series);
  if (only) {
    if (count < 1) {
      *series = none::make();
      return;
    }
    *series = unit_value(*series, from + static_cast<uint32_t>(random::int_range(secure, static_cast<int32_t>(count))) - 1);
    return;
  }
  ChangeReport report(series, Change::random, from, count);
  for (uint32_t i = from; i + 1 < total(*series); ++i) {
    const auto remaining = static_cast<int32_t>(total(*series) - i);
    swap_units(node, i, i + static_cast<uint32_t>(random::int_range(secure, remaining)) - 1);
  }
  report.done(from, count);
}

void copy(Val value, std::optional<Val> part, bool, std::optional<Val>) {
  int64_t start = head(*value);
  int64_t count = length(*value);
  if (part) {
    count = part_count(*value, **part);
    if (count < 0) {
      start += count;
      count = -count;
      if (start < 0) {
        start = 0;
        count = head(*value);
      }
    }
  }
  const int64_t all = total(*value);
  if (start > all) start = all, count = 0;
  if (start + count > all) count = all - start;
  *value = copy_range(*value, static_cast<uint32_t>(start), static_cast<uint32_t>(count));
}

// The spelling of a reflect or modify field word ("" for any other value).
std::string_view field_name(const Cell& field) {
  if (!type_traits::is_all_word(cell::type_of(field))) return {};
  return symbol::spelling(symbol::resolve(field.w2));
}

// reflect series 'owned: the object that owns the series, or none.
void reflect(Val value, Val field) {
  if (field_name(*field) != "owned") error::raise(error_id::internal::not_done);
  const std::optional<ownership::Owner> owner = ownership::owner_of(series::node_of(*value));
  *value = owner ? owner->object : none::make();
}

// modify series 'owned none: the series and what it holds are owned no
// more; 'owned [owner word]: `owner`'s field `word` owns them (a series
// owned already keeps its owner). Other fields change nothing. The value
// is the result.
void modify(Val target, Val field, Val value, bool) {
  if (field_name(*field) == "owned") {
    ownership::modify_owned(target, value);
  }
  *target = *value;
}

}  // namespace

Cell unit_value(const Cell& series, uint32_t position) {
  const TypeId type = cell::type_of(series);
  const NodeId node = series::node_of(series);
  if (is_any_block(type)) {
    Cell value = *reinterpret_cast<const Cell*>(unit_address(node, position));
    return value;
  }
  if (type == TypeId::binary) return integer_cell(*unit_address(node, position));
  if (type == TypeId::vector) return vector::get_value(series, position);
  if (type == TypeId::image) return image::pixel_at(series, position);
  return char_cell(read_code_point(node, position));
}

int64_t part_count(const Cell& series, const Cell& part) {
  if (cell::is(part, TypeId::integer)) return integer_of(part);
  if (is_series(cell::type_of(part)) && series::node_of(part) == series::node_of(series))
    return static_cast<int64_t>(head(part)) - head(series);
  invalid_refine_arg("part", part);
}

void pick(Val series, Val, int32_t index) {
  const auto position = indexed_position(*series, index);
  *series = position ? unit_value(*series, *position) : none::make();
}

void remove_units(NodeId node, uint32_t position, uint32_t count) {
  SeriesBuf* buf = memory::buffer(node);
  const uint32_t unit = buf->unit();
  uint8_t* at = buf->head_ptr() + size_t{position} * unit;
  const size_t removed = size_t{count} * unit;
  std::memmove(at, at + removed, static_cast<size_t>(buf->tail_ptr() - at) - removed);
  buf->tail -= static_cast<uint32_t>(removed);
}

Cell copy_range(const Cell& series, uint32_t start, uint32_t count) {
  const Cell source = series;  // `series` may lie in a buffer the copy moves
  const NodeId copy = series::copy_units(series::node_of(source), start, count);
  Cell result = source;
  result.w1 = 0;
  result.w2 = copy;
  if (!cell::is(source, TypeId::vector)) result.w3 = 0;  // a vector keeps its element type
  return result;
}

void register_types() {
  datatype::register_type({TypeId::series, TypeId::none_type, "series!",
                           {.random = random,
                            .reflect = reflect,
                            .at = at,
                            .back = back,
                            .clear = clear,
                            .copy = copy,
                            .head = to_head,
                            .head_q = at_head,
                            .index_q = index_of,
                            .length_q = length_of,
                            .move = move,
                            .next = next,
                            .pick = pick,
                            .poke = poke,
                            .remove = remove,
                            .reverse = reverse,
                            .skip = skip,
                            .tail = to_tail,
                            .tail_q = at_tail,
                            .take = take,
                            .modify = modify}});
}

}  // namespace kiv::series_type
