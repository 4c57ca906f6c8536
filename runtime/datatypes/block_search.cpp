// Searching a block: the candidates are the record starts (every /skip-th
// cell from the head) in the direction asked, and at each one the pattern
// (one value, a run of values, or a set of datatypes) is tried.
//
// /skip records are counted from the head in every direction, so that
// /last and /reverse also look only at the first cell of each record.
// /part bounds the search: forward and with /last it is the last cell
// searched (head + N - 1); with /reverse, which searches the cells before
// the head, it is how many of them are searched.
#include "runtime/datatypes/block_search.h"

#include <algorithm>
#include <optional>

#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/compare.h"
#include "runtime/hashtable.h"
#include "runtime/ownership.h"

namespace kiv::block_search {
namespace {

using series_type::length;
using series_type::total;
using type_traits::is_any_block;

const Cell* cells(NodeId node) { return reinterpret_cast<const Cell*>(memory::buffer(node)->head_ptr()); }

[[noreturn]] void invalid_refine_arg(std::string_view name, const Cell& value) {
  const Cell refinement = word::make(TypeId::refinement, no_node, symbol::make(name), word::unresolved);
  error::raise(error_id::script::invalid_refine_arg, refinement, value);
}

// What is looked for at each candidate.
struct Pattern {
  enum class Kind : uint8_t { value, run, type, types };
  Kind kind = Kind::value;
  Cell value{};        // the value; a run's block; the datatype or typeset
  uint32_t width = 1;  // cells a match covers (a run's length)
};

Pattern pattern_of(const Cell& value, bool only) {
  const TypeId type = cell::type_of(value);
  if (!only && type == TypeId::datatype) return {Pattern::Kind::type, value, 1};
  if (!only && type == TypeId::typeset) return {Pattern::Kind::types, value, 1};
  if (!only && is_any_block(type)) return {Pattern::Kind::run, value, length(value)};
  return {Pattern::Kind::value, value, 1};
}

CmpOp comparison_of(const FindOptions& options) {
  if (options.same) return CmpOp::same;
  return options.case_ ? CmpOp::strict_equal : CmpOp::lookup;
}

bool equal(const Cell& a, const Cell& b, CmpOp op) {
  const int answer = compare::dispatch(a, b, op);
  return answer != -2 && compare::holds(answer, op);
}

// Whether the pattern matches at `position`, its cells ending no later
// than `bound` (exclusive). Never allocates.
bool matches_at(const Cell& series, const Pattern& pattern, int64_t position, int64_t bound, CmpOp op) {
  const Cell* data = cells(series::node_of(series));
  const Cell& item = data[position];
  switch (pattern.kind) {
    case Pattern::Kind::type: return cell::type_of(item) == datatype::get(pattern.value);
    case Pattern::Kind::types: return typeset::has(pattern.value, cell::type_of(item));
    case Pattern::Kind::value: return equal(item, pattern.value, op);
    case Pattern::Kind::run: break;
  }
  if (position + pattern.width > bound) return false;
  const Cell* run = cells(series::node_of(pattern.value)) + series_type::head(pattern.value);
  for (uint32_t k = 0; k < pattern.width; ++k)
    if (!equal(data[position + k], run[k], op)) return false;
  return true;
}

// The record size of /skip.
uint32_t record_size(const FindOptions& options) {
  if (!options.skip) return 1;
  const Cell size = **options.skip;
  if (!cell::is(size, TypeId::integer)) invalid_refine_arg("skip", size);
  if (cell::get_int32(size) < 1) error::raise(error_id::script::out_of_range, size);
  return static_cast<uint32_t>(cell::get_int32(size));
}

// A hash! is searched through its table (payload word 3) for one value,
// unless the comparison could call equal what the table's hashes keep
// apart: blocks and objects hash by identity, so only /same finds them
// there.
NodeId table_for(const Cell& series, const Pattern& pattern, const FindOptions& options) {
  if (!cell::is(series, TypeId::hash) || series.w3 == no_node || options.match) return no_node;
  const TypeId type = cell::type_of(pattern.value);
  switch (pattern.kind) {
    case Pattern::Kind::type:
    case Pattern::Kind::types:
    case Pattern::Kind::run: return no_node;
    case Pattern::Kind::value: break;
  }
  if ((is_any_block(type) || type == TypeId::object) && !options.same) return no_node;
  return series.w3;
}

// A match: the cell where it starts and the cells it covers.
struct Match {
  uint32_t start;
  uint32_t width;
};

std::optional<Match> search(const Cell& series, const Cell& value, const FindOptions& options) {
  const uint32_t all = total(series);
  const bool reverse = options.reverse && !options.last;
  if (all == 0 || (series.w1 >= all && !reverse)) return std::nullopt;
  const int64_t from = std::min(series.w1, all);
  const int64_t step = record_size(options);
  // Forward and /last search up to `bound` (exclusive); /reverse searches
  // the `before` cells before the head.
  int64_t bound = all;
  int64_t before = from;
  if (options.part) {
    const int64_t count = series_type::part_count(series, **options.part);
    if (count < 1) return std::nullopt;
    bound = std::min<int64_t>(from + count, all);
    before = std::min(before, count);
  }
  const Pattern pattern = pattern_of(value, options.only);
  const CmpOp op = comparison_of(options);
  const int64_t width = std::max<uint32_t>(pattern.width, 1);

  if (const NodeId table = table_for(series, pattern, options)) {
    // Record starts from the head on (forward), or the latest one from the
    // start of the range (/last: the buffer's start; /reverse: the cells
    // before the head).
    const int64_t lowest = reverse ? from - before / step * step : options.last ? from % step : from;
    const hashtable::Lookup lookup{.start = static_cast<uint32_t>(lowest),
                                   .end = static_cast<uint32_t>(reverse ? from : bound),
                                   .skip = static_cast<uint32_t>(step),
                                   .op = op,
                                   .last = options.last || reverse};
    const int32_t found = hashtable::get(table, value, lookup);
    if (found < 0) return std::nullopt;
    return Match{static_cast<uint32_t>(found), 1};
  }

  // Candidates: record starts p = from + k x step, tried from the first
  // one in the search's direction until the limit.
  const bool forward = !options.last && !reverse;
  const int64_t end = forward || options.last ? bound : from;  // a match ends by here
  int64_t position = from;
  int64_t limit = end - width;
  if (!forward) {
    const int64_t latest = end - width;  // the latest start from which the pattern fits
    if (latest < 0) return std::nullopt;
    position = latest >= from ? from + (latest - from) / step * step : from - (from - latest + step - 1) / step * step;
    limit = options.last ? 0 : from - before;
    if (position < 0) return std::nullopt;  // before the buffer's start
  }
  for (;;) {
    if (forward ? position > limit : position < limit) return std::nullopt;
    if (matches_at(series, pattern, position, end, op)) return Match{static_cast<uint32_t>(position), pattern.width};
    if (options.match) return std::nullopt;
    position += forward ? step : -step;
  }
}

}  // namespace

void find(Val series, Val value, const FindOptions& options) {
  const auto match = search(*series, *value, options);
  if (!match) {
    *series = none::make();
    return;
  }
  series->w1 = options.tail ? match->start + match->width : match->start;
}

void select(Val series, Val value, const FindOptions& options) {
  FindOptions plain = options;
  plain.tail = plain.match = false;
  const auto match = search(*series, *value, plain);
  const uint32_t after = match ? match->start + match->width : 0;
  if (!match || after >= total(*series)) {
    *series = none::make();
    return;
  }
  *series = cells(series::node_of(*series))[after];
}

void put(Val series, Val key, Val value, bool case_) {
  const auto match = search(*series, *key, {.case_ = case_});
  const NodeId node = series::node_of(*series);
  const Cell written = *value;
  if (match && match->start + match->width < total(*series)) {
    // The cell after the key changes only when it differs.
    const uint32_t at = match->start + match->width;
    if (!equal(cells(node)[at], written, CmpOp::lookup)) {
      ownership::ChangeReport report(series, ownership::Change::put, at, 1, value);
      reinterpret_cast<Cell*>(memory::buffer(node)->head_ptr())[at] = written;
      report.done(at, 1);
    }
  } else {
    // The value follows the key at the tail: both go there when the key
    // is missing (a run's cells, one by one), the value alone when the key
    // ends the block.
    const uint32_t at = total(*series);
    Val pending = block::push_new(2);
    if (!match) {
      if (is_any_block(cell::type_of(*key))) block::append_all(pending, key);
      else block::append(pending, *key);
    }
    block::append(pending, *value);
    const uint32_t added = length(*pending);
    ownership::ChangeReport report(series, ownership::Change::put, at, added, value);
    block::append_all(series, pending);
    report.done(at, added);
    stack::pop(1);
  }
  *series = *value;
}

// b/2 picks or pokes by position. Otherwise, reading: a word selects the
// value after the first word of any kind that spells it (case aside), any
// other selector is looked for as one value (select/only); writing: the
// selector is found as find finds it, and the cell after it is set (as
// poke at 2 from there, so a key in the last cell raises out-of-range).
void eval_path(PathStep& step) {
  const Cell selector = *step.selector;
  if (cell::is(selector, TypeId::integer)) {
    const int64_t n = cell::get_int32(selector);
    const Cell series = *step.value;
    const int64_t position = static_cast<int64_t>(series.w1) + (n > 0 ? n - 1 : n);
    const bool inside = n != 0 && position >= 0 && position < total(series);
    Cell* data = reinterpret_cast<Cell*>(memory::buffer(series::node_of(series))->head_ptr());
    if (step.new_value) {
      if (!inside) error::raise(error_id::script::out_of_range, selector);
      data[position] = *step.new_value;
    } else {
      *step.value = inside ? data[position] : none::make();
    }
    return;
  }
  if (step.new_value) {
    const auto match = search(*step.value, selector, {});
    if (!match) error::raise(error_id::script::bad_path_set, step.path, selector);
    const uint32_t at = match->start + match->width;
    // As poke at 2 from the key: a key that ends the block has no cell to set.
    if (at >= total(*step.value)) error::raise(error_id::script::out_of_range, integer::make(2));
    reinterpret_cast<Cell*>(memory::buffer(series::node_of(*step.value))->head_ptr())[at] = *step.new_value;
    return;
  }
  if (cell::is(selector, TypeId::word) && !cell::is(*step.value, TypeId::hash)) {
    const Cell series = *step.value;
    const Cell* data = cells(series::node_of(series));
    const uint32_t canonical = symbol::resolve(selector.w2);
    const uint32_t end = total(series);
    for (uint32_t i = series_type::head(series); i < end; ++i) {
      if (!type_traits::is_any_word(cell::type_of(data[i])) || symbol::resolve(data[i].w2) != canonical) continue;
      *step.value = i + 1 < end ? data[i + 1] : none::make();
      return;
    }
    *step.value = none::make();
    return;
  }
  const auto match = search(*step.value, selector, {.only = true});
  const uint32_t after = match ? match->start + match->width : 0;
  *step.value = match && after < total(*step.value) ? cells(series::node_of(*step.value))[after] : none::make();
}

}  // namespace kiv::block_search
