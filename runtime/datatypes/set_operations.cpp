#include "runtime/datatypes/set_operations.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "runtime/core/error_raise.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/compare.h"
#include "runtime/hashtable.h"

namespace kiv::set_operations {

namespace {

using typeset::SetOp;

// Keys of different types never match; like types compare under `op`.
bool keys_match(const Cell& a, const Cell& b, CmpOp op) {
  if (cell::type_of(a) != cell::type_of(b)) return false;
  const int answer = compare::dispatch(a, b, op);
  return answer != -2 && compare::holds(answer, op);
}

// The record starts of a block, by the hash of their key. Positions are
// counted from the block's head and stay valid while the block grows at
// its tail, so the index holds no cell and no address across collections.
// Keys of the any-block group hash by identity, not content: their record
// starts are kept in a list and scanned instead.
class RecordIndex {
 public:
  RecordIndex(Val block, uint32_t step, CmpOp op) : block_(block), step_(step), op_(op) {}

  void add_all() {
    const uint32_t count = block::count(*block_);
    for (uint32_t position = 0; position < count; position += step_) add(position);
  }

  void add(uint32_t position) {
    const Cell& key = *block::at(*block_, position);
    if (type_traits::is_any_block(cell::type_of(key))) {
      block_keys_.push_back(position);
      return;
    }
    table_.emplace(hashtable::hash_value(key, false), position);
  }

  // Whether some record of the block starts with `key`. Never allocates.
  bool contains(const Cell& key) const {
    if (type_traits::is_any_block(cell::type_of(key))) {
      return std::any_of(block_keys_.begin(), block_keys_.end(),
                         [&](uint32_t position) { return keys_match(*block::at(*block_, position), key, op_); });
    }
    const auto [begin, end] = table_.equal_range(hashtable::hash_value(key, false));
    for (auto it = begin; it != end; ++it) {
      if (keys_match(*block::at(*block_, it->second), key, op_)) return true;
    }
    return false;
  }

 private:
  Val block_;
  uint32_t step_;
  CmpOp op_;
  std::unordered_multimap<uint32_t, uint32_t> table_;
  std::vector<uint32_t> block_keys_;
};

enum class Test : uint8_t { none, present, absent };

}  // namespace

Cell on_blocks(Val first, Val second, SetOp op, bool case_sensitive, int32_t skip) {
  if (skip < 1) {
    const Cell name = word::make(TypeId::refinement, no_node, symbol::make("skip"), word::unresolved);
    error::raise(error_id::script::invalid_refine_arg, name, integer::make(skip));
  }
  const auto step = static_cast<uint32_t>(skip);
  const CmpOp cmp = case_sensitive ? CmpOp::strict_equal : CmpOp::equal;
  const uint32_t capacity = block::count(*first) + (op == SetOp::union_ ? block::count(*second) : 0);
  Val result = block::push_new(std::max<uint32_t>(capacity, 1));
  RecordIndex in_result(result, step, cmp);

  // Appends the records of `from` whose key passes the test against
  // `other`, each key once.
  const auto pass = [&](Val from, Val other, Test test) {
    RecordIndex in_other(other, step, cmp);
    if (test != Test::none) in_other.add_all();
    const uint32_t count = block::count(*from);
    for (uint32_t position = 0; position < count; position += step) {
      const Cell key = *block::at(*from, position);
      if (test != Test::none && in_other.contains(key) != (test == Test::present)) continue;
      if (in_result.contains(key)) continue;
      const uint32_t start = block::count(*result);
      const uint32_t end = std::min(position + step, count);
      for (uint32_t i = position; i < end; ++i) block::append(result, *block::at(*from, i));
      in_result.add(start);
    }
  };

  switch (op) {
    case SetOp::unique: pass(first, first, Test::none); break;
    case SetOp::union_:
      pass(first, second, Test::none);
      pass(second, first, Test::none);
      break;
    case SetOp::intersect: pass(first, second, Test::present); break;
    case SetOp::exclude: pass(first, second, Test::absent); break;
    case SetOp::difference:
      pass(first, second, Test::absent);
      pass(second, first, Test::absent);
      break;
    default: break;  // the bitwise codes have no meaning for blocks
  }
  const Cell made = *result;
  stack::pop(1);
  return made;
}

}  // namespace kiv::set_operations
