// The two sorts behind the sort action: a stable natural merge sort
// (Powersort merge policy) and an in-place unstable quicksort.
//
// Both sort an array of values of a copyable type T: the records
// themselves when comparing them runs no Kiv code, or record numbers, so
// that a comparator that runs Kiv code (which may collect and move
// buffers) finds its records again on every call. The comparator
// `order(a, b)` answers above 0 when a goes after b, 0 when they are equal
// and below 0 otherwise.
//
// Whatever the comparator answers, even when it contradicts itself, the
// sorts read and write only inside `items` and their own scratch, and
// `items` keeps every value it held; so it does when the comparator throws
// (merges copy their scratch back while unwinding, and everything else
// moves values by swaps).
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace kiv::record_sort {

namespace detail {

// Records up to this many are sorted by insertion in the quicksort.
inline constexpr size_t kInsertionLimit = 7;
// A run of the merge sort shorter than this is extended by insertion.
inline constexpr size_t kMinRun = 24;

// Insertion sort of [low, high), of which [low, sorted_end) is in order:
// each record moves left past every record that goes after it, so equal
// records keep their order. It moves by swaps, so that the array holds
// every record whenever the comparator may throw.
template <class T, class Order>
void insertion(std::span<T> items, size_t low, size_t sorted_end, size_t high, Order& order) {
  for (size_t i = std::max(sorted_end, low + 1); i < high; ++i)
    for (size_t j = i; j > low && order(items[j - 1], items[j]) > 0; --j) std::swap(items[j - 1], items[j]);
}

// The end of the maximal run that starts at `start`, after reversing it
// when it was strictly descending. Equal neighbours never extend a
// descending run, which keeps the merge sort stable.
template <class T, class Order>
size_t find_run(std::span<T> items, size_t start, Order& order) {
  const size_t n = items.size();
  size_t end = start + 1;
  if (end >= n) return n;
  if (order(items[start], items[end]) > 0) {
    ++end;
    while (end < n && order(items[end - 1], items[end]) > 0) ++end;
    std::reverse(items.begin() + static_cast<ptrdiff_t>(start), items.begin() + static_cast<ptrdiff_t>(end));
  } else {
    ++end;
    while (end < n && order(items[end - 1], items[end]) <= 0) ++end;
  }
  return end;
}

// A run from `start`, extended to kMinRun records (or the end) by
// insertion.
template <class T, class Order>
size_t next_run(std::span<T> items, size_t start, Order& order) {
  const size_t end = find_run(items, start, order);
  const size_t wanted = std::min(items.size(), start + kMinRun);
  if (end >= wanted) return end;
  insertion(items, start, end, wanted, order);
  return wanted;
}

// Merges the sorted neighbours [start, middle) and [middle, end) stably,
// through `scratch` (at least the shorter run's length).
template <class T, class Order>
void merge(std::span<T> items, size_t start, size_t middle, size_t end, std::vector<T>& scratch,
           Order& order) {
  T* const a = items.data();
  T* const s = scratch.data();
  if (end - middle < middle - start) {
    // The right run in the scratch; fill from the back.
    const size_t right = end - middle;
    std::copy(a + middle, a + end, s);
    size_t i = middle;  // one past the next left record
    size_t j = right;   // one past the next scratch record
    size_t k = end;
    // The rest of the scratch belongs just after the left records left.
    struct Tail {
      T* s;
      T* a;
      size_t& i;
      size_t& j;
      ~Tail() { std::copy(s, s + j, a + i); }
    } tail{s, a, i, j};
    while (i > start && j > 0) {
      if (order(a[i - 1], s[j - 1]) > 0)
        a[--k] = a[--i];
      else
        a[--k] = s[--j];
    }
  } else {
    const size_t left = middle - start;
    std::copy(a + start, a + middle, s);
    size_t i = 0;       // next scratch record
    size_t j = middle;  // next right record
    size_t k = start;
    struct Tail {
      T* s;
      size_t left;
      size_t& i;
      size_t& k;
      T* a;
      ~Tail() { std::copy(s + i, s + left, a + k); }
    } tail{s, left, i, k, a};
    while (i < left && j < end) {
      if (order(s[i], a[j]) > 0)
        a[k++] = a[j++];
      else
        a[k++] = s[i++];
    }
  }
}

// The Powersort power of the boundary between the runs [a, b) and [b, c)
// of n records: the depth in the binary split of [0, n) at which their
// midpoints part.
inline uint32_t boundary_power(size_t a, size_t b, size_t c, size_t n) {
  uint64_t l = uint64_t{a} + b;
  uint64_t r = uint64_t{b} + c;
  uint32_t power = 0;
  while ((l < n) == (r < n)) {
    ++power;
    if (l >= n) {
      l -= n;
      r -= n;
    }
    l *= 2;
    r *= 2;
  }
  return power + 1;
}

// ---- the quicksort ----

template <class T, class Order>
void sift_down(std::span<T> items, size_t low, size_t root, size_t count, Order& order) {
  for (;;) {
    size_t child = 2 * root + 1;
    if (child >= count) return;
    if (child + 1 < count && order(items[low + child + 1], items[low + child]) > 0) ++child;
    if (order(items[low + child], items[low + root]) <= 0) return;
    std::swap(items[low + root], items[low + child]);
    root = child;
  }
}

// The fallback when the quicksort keeps choosing poor pivots.
template <class T, class Order>
void heap_sort(std::span<T> items, size_t low, size_t high, Order& order) {
  const size_t count = high - low;
  for (size_t i = count / 2; i-- > 0;) sift_down(items, low, i, count, order);
  for (size_t end = count; end > 1; --end) {
    std::swap(items[low], items[low + end - 1]);
    sift_down(items, low, 0, end - 1, order);
  }
}

// The position among x, y, z holding the middle record.
template <class T, class Order>
size_t median_of_three(std::span<T> items, size_t x, size_t y, size_t z, Order& order) {
  if (order(items[x], items[y]) > 0) std::swap(x, y);
  if (order(items[y], items[z]) <= 0) return y;
  return order(items[x], items[z]) > 0 ? x : z;
}

template <class T, class Order>
size_t choose_pivot(std::span<T> items, size_t low, size_t high, Order& order) {
  const size_t n = high - low;
  const size_t mid = low + n / 2;
  if (n < 64) return median_of_three(items, low, mid, high - 1, order);
  // The median of three medians, over a spread sample.
  const size_t step = n / 8;
  return median_of_three(items, median_of_three(items, low, low + step, low + 2 * step, order),
                         median_of_three(items, mid - step, mid, mid + step, order),
                         median_of_three(items, high - 1 - 2 * step, high - 1 - step, high - 1, order), order);
}

// Splits [low, high) around the pivot at `low`: the records before it
// go before the pivot, the others after. Answers the pivot's new place.
template <class T, class Order>
size_t partition_right(std::span<T> items, size_t low, size_t high, Order& order) {
  const T pivot = items[low];
  size_t i = low + 1;
  size_t j = high - 1;
  for (;;) {
    while (i <= j && order(items[i], pivot) < 0) ++i;
    while (i <= j && order(items[j], pivot) >= 0) --j;
    if (i >= j) break;
    std::swap(items[i++], items[j--]);
  }
  std::swap(items[low], items[i - 1]);
  return i - 1;
}

// Splits [low, high) into the records that do not go after the pivot at
// `low` and those that do; answers where the second group starts. Used
// when the pivot equals the record before the range, which goes before
// every record of the range: the first group is then all equal records,
// already in their place.
template <class T, class Order>
size_t partition_left(std::span<T> items, size_t low, size_t high, Order& order) {
  const T pivot = items[low];
  size_t i = low + 1;
  size_t j = high - 1;
  for (;;) {
    while (i <= j && order(items[j], pivot) > 0) --j;
    while (i <= j && order(items[i], pivot) <= 0) ++i;
    if (i >= j) break;
    std::swap(items[i++], items[j--]);
  }
  std::swap(items[low], items[i - 1]);
  return i;
}

// Sorts [low, high). Unless the range starts the array (`leftmost`), the
// record before it goes before all of its records; a pivot equal to that
// record gathers every record equal to it at once, so many equal keys
// cost little. The smaller side recurses and the larger one loops, which
// bounds the depth; a run of poor pivots hands over to the heap sort.
template <class T, class Order>
void quick(std::span<T> items, size_t low, size_t high, uint32_t budget, bool leftmost, Order& order) {
  while (high - low > kInsertionLimit) {
    if (budget-- == 0) {
      heap_sort(items, low, high, order);
      return;
    }
    std::swap(items[low], items[choose_pivot(items, low, high, order)]);
    if (!leftmost && order(items[low - 1], items[low]) >= 0) {
      low = partition_left(items, low, high, order);
      continue;
    }
    const size_t middle = partition_right(items, low, high, order);
    if (middle - low < high - middle) {
      quick(items, low, middle, budget, leftmost, order);
      low = middle + 1;
      leftmost = false;
    } else {
      quick(items, middle + 1, high, budget, false, order);
      high = middle;
    }
  }
  insertion(items, low, low, high, order);
}

}  // namespace detail

// Stable: equal records keep their order. Sorted or reversed input takes
// one pass (natural runs).
template <class T, class Order>
void stable(std::span<T> items, Order order) {
  using namespace detail;
  const size_t n = items.size();
  if (n < 2) return;
  std::vector<T> scratch(n / 2 + 1);
  struct Pending {
    size_t start;
    uint32_t power;
  };
  std::vector<Pending> stack;
  size_t start = 0;
  size_t end = next_run(items, 0, order);
  while (end < n) {
    const size_t next_end = next_run(items, end, order);
    const uint32_t power = boundary_power(start, end, next_end, n);
    while (!stack.empty() && stack.back().power > power) {
      merge(items, stack.back().start, start, end, scratch, order);
      start = stack.back().start;
      stack.pop_back();
    }
    stack.push_back({start, power});
    start = end;
    end = next_end;
  }
  while (!stack.empty()) {
    merge(items, stack.back().start, start, n, scratch, order);
    start = stack.back().start;
    stack.pop_back();
  }
}

// Unstable, in place: a sorted or reversed leading run is kept (reversed
// first), and done when it covers everything; the rest is a
// quicksort with a heap sort fallback.
template <class T, class Order>
void unstable(std::span<T> items, Order order) {
  using namespace detail;
  const size_t n = items.size();
  if (n < 2) return;
  // The leading run: the first unequal pair fixes its direction; equal
  // pairs do not end it.
  int direction = 0;
  size_t run = 1;
  for (; run < n; ++run) {
    const int answer = order(items[run - 1], items[run]);
    const int sign = (answer > 0) - (answer < 0);
    if (sign == 0) continue;
    if (direction == 0)
      direction = sign;
    else if (sign != direction)
      break;
  }
  if (run == n) {
    if (direction > 0) std::reverse(items.begin(), items.end());
    return;
  }
  uint32_t budget = 2;
  for (size_t m = n; m > 1; m /= 2) budget += 2;
  quick(items, 0, n, budget, true, order);
}

}  // namespace kiv::record_sort
