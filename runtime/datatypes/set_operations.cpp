#include "runtime/datatypes/set_operations.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/compare.h"
#include "runtime/hashtable.h"

// Every operation walks the records of its sources once and asks two
// questions of each key: is it in the other set, is it in the result yet.
// Both are answered by hash tables (kind hash!, whose buckets keep equal
// keys together), so each operation is linear in the total size: one table
// over the result block, built as the result grows, and one over the other
// set (a hash! brings its own). Tables index cells by their position in
// the block's buffer, so positions here are counted from the buffer's
// start and records from each set's head.
//
// Keys of the any-block group hash by identity while they compare by
// content: they are looked for by scanning instead.
namespace kiv::set_operations {

namespace {

using typeset::SetOp;
using type_traits::is_any_block;

const Cell* cells(NodeId node) { return reinterpret_cast<const Cell*>(memory::buffer(node)->head_ptr()); }

bool keys_match(const Cell& a, const Cell& b, CmpOp op) {
  if (cell::type_of(a) != cell::type_of(b)) return false;
  const int answer = compare::dispatch(a, b, op);
  return answer != -2 && compare::holds(answer, op);
}

// The table of a hash! (payload word 3), or none.
NodeId own_table(const Cell& set) { return cell::is(set, TypeId::hash) ? set.w3 : no_node; }

// One set's records, findable by key: from `head` (a buffer position) to
// the tail, every `step` cells. The table is the set's own (a hash!) or
// one built here over its block on first use.
class Records {
 public:
  Records(NodeId node, uint32_t head, uint32_t step, CmpOp op, NodeId table)
      : node_(node), head_(head), step_(step), op_(op), table_(table) {}

  // Whether some record starts with `key`. May collect (the first call
  // builds the table).
  bool contains(const Cell& key) {
    if (is_any_block(cell::type_of(key))) return scan(key);
    if (table_.get() == no_node) {
      const uint32_t count = memory::buffer(node_)->length() - std::min(head_, memory::buffer(node_)->length());
      table_ = hashtable::make(count, node_, head_, hashtable::Kind::hash);
    }
    const hashtable::Lookup lookup{.start = head_, .skip = step_, .op = op_};
    return hashtable::get(table_.get(), key, lookup) >= 0;
  }

 private:
  bool scan(const Cell& key) const {
    const uint32_t end = memory::buffer(node_)->length();
    for (uint32_t at = head_; at < end; at += step_)
      if (keys_match(cells(node_)[at], key, op_)) return true;
    return false;
  }

  NodeId node_;
  uint32_t head_;
  uint32_t step_;
  CmpOp op_;
  Rooted<NodeId> table_;
};

enum class Test : uint8_t { none, present, absent };

// How many records ahead of its lookup a key's stored key is fetched (and
// twice as many, its buckets).
constexpr uint32_t prefetch_distance = 8;

[[noreturn]] void invalid_skip(int32_t skip) {
  const Cell name = word::make(TypeId::refinement, no_node, symbol::make("skip"), word::unresolved);
  error::raise(error_id::script::invalid_refine_arg, name, integer::make(skip));
}

}  // namespace

Cell on_blocks(Val first, Val second, SetOp op, bool case_sensitive, int32_t skip) {
  if (skip < 1) invalid_skip(skip);
  const auto step = static_cast<uint32_t>(skip);
  const CmpOp cmp = case_sensitive ? CmpOp::strict_equal : CmpOp::equal;
  const uint32_t capacity = block::count(*first) + (op == SetOp::union_ ? block::count(*second) : 0);
  Val result = block::push_new(std::max<uint32_t>(capacity, 1));
  const NodeId result_node = series::node_of(*result);
  Rooted<NodeId> result_table(hashtable::make(capacity, result_node, 0, hashtable::Kind::hash));
  std::vector<uint32_t> block_keys;  // result positions of any-block keys

  // Whether an any-block key is in the result already.
  const auto block_key_in_result = [&](const Cell& key) {
    return std::any_of(block_keys.begin(), block_keys.end(),
                       [&](uint32_t at) { return keys_match(cells(result_node)[at], key, cmp); });
  };

  // Appends the records of `from` whose key passes the test against
  // `other`, each key once.
  const auto pass = [&](Val from, Val other, Test test) {
    std::optional<Records> others;
    if (test != Test::none)
      others.emplace(series::node_of(*other), series_type::head(*other), step, cmp, own_table(*other));
    const NodeId from_node = series::node_of(*from);
    const uint32_t from_head = series_type::head(*from);
    for (uint32_t at = from_head; at < memory::buffer(from_node)->length(); at += step) {
      const Cell key = cells(from_node)[at];
      const uint32_t length = memory::buffer(from_node)->length();
      if (const uint64_t ahead = at + uint64_t{2 * prefetch_distance} * step; ahead < length)
        hashtable::prefetch(result_table.get(), cells(from_node)[ahead], hashtable::Prefetch::buckets);
      if (const uint64_t ahead = at + uint64_t{prefetch_distance} * step; ahead < length)
        hashtable::prefetch(result_table.get(), cells(from_node)[ahead], hashtable::Prefetch::key);
      if (others && others->contains(key) != (test == Test::present)) continue;
      const bool block_key = is_any_block(cell::type_of(key));
      if (block_key && block_key_in_result(key)) continue;
      // The record goes in, and its key into the result's table unless an
      // equal key is there already: then the record comes out again.
      const uint32_t start = memory::buffer(result_node)->length();
      const uint32_t end = std::min(at + step, memory::buffer(from_node)->length());
      for (uint32_t i = at; i < end; ++i) block::append(result, cells(from_node)[i]);
      if (block_key) {
        block_keys.push_back(start);
        (void)hashtable::put_key(result_table.get(), start);
      } else if (hashtable::put_if_absent(result_table.get(), start, {.skip = step, .op = cmp}) >= 0) {
        SeriesBuf* buf = memory::buffer(result_node);
        buf->tail = buf->head + start * static_cast<uint32_t>(sizeof(Cell));
      }
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
  Cell made = *result;
  // A hash! in gives a hash! out, over the table just built; otherwise the
  // table is dropped.
  const bool hashed = cell::is(*first, TypeId::hash) || (op != SetOp::unique && cell::is(*second, TypeId::hash));
  if (hashed) {
    // A hash! indexes every cell, not only the keys of records.
    if (step > 1) hashtable::rehash(result_table.get(), memory::buffer(result_node)->length());
    cell::set_type(made, TypeId::hash);
    made.w3 = result_table.get();
  } else {
    cell::set_type(made, cell::type_of(*first));
  }
  stack::pop(1);
  return made;
}

}  // namespace kiv::set_operations
