#include "runtime/datatypes/block_sort.h"

#include <numeric>
#include <vector>

#include "runtime/core/memory.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/sort_support.h"
#include "runtime/eval/compare.h"
#include "runtime/ownership.h"
#include "runtime/record_sort.h"

namespace kiv::block {
namespace {

Cell* cells_of(const Cell& block) {
  return reinterpret_cast<Cell*>(memory::buffer(series::node_of(block))->head_ptr());
}

// The field order of two cells under `op`: values of types that cannot be
// compared go by their type ids.
int field_order(const Cell& x, const Cell& y, CmpOp op) {
  if (cell::is(x, TypeId::integer) && cell::is(y, TypeId::integer)) {
    const int32_t a = cell::get_int32(x);
    const int32_t b = cell::get_int32(y);
    return (a > b) - (a < b);
  }
  const int answer = compare::dispatch(x, y, op);
  if (answer != -2) return answer;
  const auto tx = static_cast<int>(cell::type_of(x));
  const auto ty = static_cast<int>(cell::type_of(y));
  return (tx > ty) - (tx < ty);
}

template <class T, class Order>
void run_sort(std::span<T> items, bool stable, Order&& compare) {
  if (stable)
    record_sort::stable(items, compare);
  else
    record_sort::unstable(items, compare);
}

}  // namespace

void sort(Val series, const SortOptions& options) {
  const sort_support::Plan plan = sort_support::plan(series, options);
  const uint32_t records = plan.records();
  if (records < 2) return;

  ownership::ChangeReport report(series, ownership::Change::sort, plan.from, plan.count);
  // An owner's handler may have shortened the series.
  if (plan.from + plan.count > series_type::total(*series)) {
    report.done(plan.from, 0);
    return;
  }
  const uint32_t depth = stack::depth();
  // The records are sorted in a private copy: a comparator that changes
  // the series cannot make the sort read outside it, and when a
  // comparator fails the series is left as it was.
  Val copy = stack::push(series::make(TypeId::block, series::copy_units(series::node_of(*series), plan.from, plan.count)));
  // The record numbers, to be put in sorted order (single cells compared
  // by field are sorted in the copy itself instead).
  std::vector<uint32_t> order(records);
  std::iota(order.begin(), order.end(), 0u);
  const uint32_t size = plan.size;

  if (plan.by_function) {
    sort_support::FunctionComparator comparator(**options.compare);
    if (options.all && options.skip) {
      // Whole records, each in a scratch block of its own for this sort
      // (a comparator that sorts records too has scratch of its own).
      Val first = block::push_new(size);
      Val second = block::push_new(size);
      for (uint32_t u = 0; u < size; ++u) {
        block::append(first, none::make());
        block::append(second, none::make());
      }
      const auto fill = [&](Val scratch, uint32_t record) {
        // Refilled cell by cell: the comparator may have changed it.
        const NodeId node = series::node_of(*scratch);
        memory::buffer(node)->tail = memory::buffer(node)->head;
        for (uint32_t u = 0; u < size; ++u) block::append(scratch, cells_of(*copy)[size_t{record} * size + u]);
      };
      run_sort(std::span<uint32_t>(order), options.stable, [&](uint32_t a, uint32_t b) {
        fill(first, a);
        fill(second, b);
        return comparator.order(*first, *second, options.reverse);
      });
    } else {
      run_sort(std::span<uint32_t>(order), options.stable, [&](uint32_t a, uint32_t b) {
        const Cell x = cells_of(*copy)[size_t{a} * size];
        const Cell y = cells_of(*copy)[size_t{b} * size];
        return comparator.order(x, y, options.reverse);
      });
    }
  } else if (size == 1) {
    // Single cells are sorted in the copy itself: compare::dispatch never
    // allocates, so the copy's cells stay put.
    const std::span<Cell> items(cells_of(*copy), records);
    const CmpOp op = options.case_ ? CmpOp::case_sort : CmpOp::sort;
    const auto ascending = [op](const Cell& a, const Cell& b) { return field_order(a, b, op); };
    const auto descending = [op](const Cell& a, const Cell& b) { return field_order(b, a, op); };
    if (options.reverse)
      run_sort(items, options.stable, descending);
    else
      run_sort(items, options.stable, ascending);
  } else {
    // compare::dispatch never allocates: the copy's cells stay put.
    const Cell* base = cells_of(*copy);
    const CmpOp op = options.case_ ? CmpOp::case_sort : CmpOp::sort;
    const uint32_t first_field = options.all ? 0 : plan.key;
    const uint32_t end_field = options.all ? size : plan.key + 1;
    const auto by_fields = [&](uint32_t a, uint32_t b) {
      for (uint32_t u = first_field; u < end_field; ++u) {
        const int answer = field_order(base[size_t{a} * size + u], base[size_t{b} * size + u], op);
        if (answer != 0) return answer;
      }
      return 0;
    };
    if (options.reverse)
      run_sort(std::span<uint32_t>(order), options.stable, [&](uint32_t a, uint32_t b) { return by_fields(b, a); });
    else
      run_sort(std::span<uint32_t>(order), options.stable, by_fields);
  }

  // A comparator may have changed the series: write what still fits.
  const uint32_t total = series_type::total(*series);
  const uint32_t room = total > plan.from ? std::min(total - plan.from, plan.count) : 0;
  Cell* target = reinterpret_cast<Cell*>(memory::buffer(series::node_of(*series))->head_ptr()) + plan.from;
  const Cell* source = cells_of(*copy);
  for (uint32_t i = 0, written = 0; i < records && written < room; ++i)
    for (uint32_t u = 0; u < size && written < room; ++u) target[written++] = source[size_t{order[i]} * size + u];
  stack::drop_to(depth);
  report.done(plan.from, room);
}

}  // namespace kiv::block
