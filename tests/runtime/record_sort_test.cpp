#include "runtime/record_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <stdexcept>
#include <vector>

namespace kiv {
namespace {

// Keys for records 0..n-1 in several shapes: random with few or many
// distinct values, sorted, reversed, sorted with noise, organ pipe.
std::vector<int> make_keys(size_t n, int shape, std::mt19937& random) {
  std::vector<int> keys(n);
  for (size_t i = 0; i < n; ++i) {
    const int k = static_cast<int>(i);
    switch (shape) {
      case 0: keys[i] = static_cast<int>(random() % 5); break;
      case 1: keys[i] = static_cast<int>(random() % 1000000); break;
      case 2: keys[i] = k / 3; break;
      case 3: keys[i] = -k / 3; break;
      case 4: keys[i] = random() % 50 == 0 ? static_cast<int>(random() % 1000) : k; break;
      default: keys[i] = k < static_cast<int>(n / 2) ? k : static_cast<int>(n) - k; break;
    }
  }
  return keys;
}

std::vector<uint32_t> identity(size_t n) {
  std::vector<uint32_t> items(n);
  std::iota(items.begin(), items.end(), 0u);
  return items;
}

TEST(RecordSort, StableMatchesTheStandardStableSort) {
  std::mt19937 random(12345);
  for (size_t n : {0u, 1u, 2u, 7u, 8u, 23u, 24u, 25u, 100u, 1000u, 20000u}) {
    for (int shape = 0; shape < 6; ++shape) {
      const std::vector<int> keys = make_keys(n, shape, random);
      const auto order = [&](uint32_t a, uint32_t b) { return (keys[a] > keys[b]) - (keys[a] < keys[b]); };
      std::vector<uint32_t> items = identity(n);
      record_sort::stable(std::span<uint32_t>(items), order);
      std::vector<uint32_t> expected = identity(n);
      std::stable_sort(expected.begin(), expected.end(), [&](uint32_t a, uint32_t b) { return keys[a] < keys[b]; });
      EXPECT_EQ(expected, items) << "n " << n << " shape " << shape;
    }
  }
}

TEST(RecordSort, UnstableOrdersEveryShape) {
  std::mt19937 random(54321);
  for (size_t n : {0u, 1u, 2u, 7u, 8u, 63u, 64u, 512u, 20000u}) {
    for (int shape = 0; shape < 6; ++shape) {
      const std::vector<int> keys = make_keys(n, shape, random);
      std::vector<uint32_t> items = identity(n);
      record_sort::unstable(std::span<uint32_t>(items),
                            [&](uint32_t a, uint32_t b) { return (keys[a] > keys[b]) - (keys[a] < keys[b]); });
      std::vector<uint32_t> seen = items;
      std::sort(seen.begin(), seen.end());
      EXPECT_EQ(identity(n), seen) << "a permutation, n " << n << " shape " << shape;
      EXPECT_TRUE(std::is_sorted(items.begin(), items.end(), [&](uint32_t a, uint32_t b) { return keys[a] < keys[b]; }))
          << "n " << n << " shape " << shape;
    }
  }
}

// A comparator that contradicts itself must not make the sorts leave their
// arrays (the sanitizer build checks the accesses) or lose records.
TEST(RecordSort, InconsistentComparatorsKeepAPermutation) {
  for (auto sort : {+[](std::span<uint32_t> s, std::mt19937& r) {
                      record_sort::stable(s, [&](uint32_t, uint32_t) { return static_cast<int>(r() % 3) - 1; });
                    },
                    +[](std::span<uint32_t> s, std::mt19937& r) {
                      record_sort::unstable(s, [&](uint32_t, uint32_t) { return static_cast<int>(r() % 3) - 1; });
                    },
                    +[](std::span<uint32_t> s, std::mt19937&) { record_sort::unstable(s, [](uint32_t, uint32_t) { return 1; }); },
                    +[](std::span<uint32_t> s, std::mt19937&) { record_sort::stable(s, [](uint32_t, uint32_t) { return -1; }); }}) {
    std::mt19937 random(7);
    for (size_t n : {5u, 100u, 5000u}) {
      std::vector<uint32_t> items = identity(n);
      sort(std::span<uint32_t>(items), random);
      std::sort(items.begin(), items.end());
      EXPECT_EQ(identity(n), items);
    }
  }
}

// A comparator that throws (a Kiv error or exit) leaves a permutation,
// also when it throws in the middle of a merge.
TEST(RecordSort, AThrowingComparatorLeavesAPermutation) {
  std::mt19937 random(99);
  const std::vector<int> keys = make_keys(3000, 1, random);
  for (int limit : {1, 30, 200, 3000, 20000}) {
    for (bool stable : {true, false}) {
      std::vector<uint32_t> items = identity(keys.size());
      int calls = 0;
      const auto order = [&](uint32_t a, uint32_t b) {
        if (++calls == limit) throw std::runtime_error("comparator failed");
        return (keys[a] > keys[b]) - (keys[a] < keys[b]);
      };
      try {
        if (stable)
          record_sort::stable(std::span<uint32_t>(items), order);
        else
          record_sort::unstable(std::span<uint32_t>(items), order);
      } catch (const std::runtime_error&) {
      }
      std::sort(items.begin(), items.end());
      EXPECT_EQ(identity(keys.size()), items) << "limit " << limit << (stable ? " stable" : " unstable");
    }
  }
}

TEST(RecordSort, PresortedInputTakesOnePass) {
  for (int direction : {1, -1}) {
    std::vector<uint32_t> items = identity(10000);
    size_t calls = 0;
    const auto order = [&](uint32_t a, uint32_t b) {
      ++calls;
      return direction * ((a > b) - (a < b));
    };
    record_sort::stable(std::span<uint32_t>(items), order);
    EXPECT_LT(calls, 10000u);
    calls = 0;
    items = identity(10000);
    record_sort::unstable(std::span<uint32_t>(items), order);
    EXPECT_LT(calls, 10000u);
    EXPECT_EQ(direction > 0 ? 0u : 9999u, items.front());
  }
}

}  // namespace
}  // namespace kiv
