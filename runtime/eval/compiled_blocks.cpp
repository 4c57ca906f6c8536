#include "runtime/eval/compiled_blocks.h"

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "runtime/check.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/exits.h"
#include "runtime/core/memory.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/state.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/handover.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/natives.h"
#include "runtime/eval/natives_words.h"
#include "runtime/eval/operator_fast_path.h"
#include "runtime/eval/trace.h"

namespace kiv::compiled {
namespace {

using interpreter::Code;
using interpreter::fast_operation;
using stack::ArgStack;
namespace handover = interpreter::handover;

// ---- the compiled form ----

enum class Kind : uint8_t {
  constant,  // a cell that stands for itself (a lit-word: its word)
  word,      // a word holding a value that is neither unset nor a function
  get_word,  // a get-word
  paren,     // a paren, its block compiled as `extra`
  set_word,  // a set-word; child 0: its value's expression
  call,      // a callable named by a word; children: its arguments
  function,  // a call of a function! whose arguments are all compiled
  native,    // a call of a native! or action! whose arguments are all compiled
  branch,    // if, unless or either of literal blocks; child 0: the condition
  condition, // all or any of a literal block of pure expressions (`extra`);
             // child 0: the block, for the call when one declines
  loop,      // loop (`fast` 0) or while (1) of literal blocks: its body is
             // `extra`, while's condition `other`; children: its arguments
  reduce,    // reduce of a literal block (`extra`); child 0: the block
  step,      // an operator (`cell`, named by `name`); child 0: its right operand
};

enum class Branch : uint8_t { if_, unless, either };

enum class Status : uint8_t { done, declined, exit };

struct Node;
class Runner;
using Eval = bool (*)(Runner&, const Node&, Cell&);
using Exec = Status (*)(Runner&, const Node&, uint32_t&);

struct Node {
  Exec exec = nullptr;     // runs it (see the handlers)
  Eval eval = nullptr;     // a pure node's value
  Eval head = nullptr;     // the value that starts a pure expression
  Eval checked = nullptr;  // in the verify mode: the eval it checks
  Kind kind = Kind::constant;
  uint8_t fast = 0;        // step: the operator's fast kind (operator_fast_path.h);
                           // condition: 0 all, 1 any; loop: 0 loop, 1 while;
                           // branch: bit 0 (1) set when its first (second)
                           // block is one pure expression
  Branch branch = Branch::if_;
  bool complete = true;    // call: the children are all its arguments
  bool takes = false;      // an expression that takes the operators after it:
                           // its steps follow its children
  bool check_end = false;  // a word follows it (takes): it may have become an
                           // operator since
  bool pure = false;       // worked out with no side effect and no error by
                           // `eval`, or declined
  bool global_word = false;  // its word is bound to the global context
  uint32_t block = 0;      // the block its cells lie in
  uint32_t start = 0;      // its first cell
  uint32_t end = 0;        // one past its last cell (call: past its last child)
  Cell cell{};             // constant: the value; word, get_word, set_word: the
                           // word; a call: the callable; step: the operator
  Cell name{};             // a call, step: the word naming it
  uint32_t first = 0;      // its children, in Unit::children
  uint32_t count = 0;
  uint32_t steps = 0;      // its operator steps, after the children
  uint32_t extra = 0;      // paren, condition, loop: its block; branch: its
                           // first block
  uint32_t other = 0;      // either: its second block; while: its condition
  uint32_t types = 0;      // function, native, loop: its argument typesets, in
                           // Unit::typesets
  uint32_t locals = 0;     // function: its /local cells
  // The value slot of its word (word, get_word: `cell`; a call or a step:
  // `name`) when that is a word of the global context, kept as
  // context::slot keeps that context's values: while no series moves.
  mutable const Cell* slot = nullptr;
  mutable uint64_t slot_relocations = ~uint64_t{0};
};

// A block of code that a unit compiled: the one it was made for, and each
// paren and branch in it.
struct Block {
  Cell cell{};           // the block or paren as the code gives it
  NodeId node = no_node;
  uint32_t index = 0;    // its head
  uint32_t length = 0;   // cells from its head to its tail
  uint32_t copy = 0;     // its cells' copy, in Unit::copies
  uint64_t checked = 0;  // the code epoch at which its cells last matched the copy
  uint32_t first = 0;    // its statements, in Unit::children
  uint32_t count = 0;
  uint32_t stop = 0;     // where the walker takes over (index + length: nowhere)
};

struct Unit {
  NodeId node = no_node;
  uint32_t index = 0;
  uint32_t users = 0;       // runs of it under way
  uint32_t recompiles = 0;  // times its block was found changed
  uint32_t misses = 0;      // guards missed that compiling again would mend
  std::vector<Block> blocks;
  std::vector<Node> nodes;
  std::vector<uint32_t> children;
  std::vector<const Node*> kids;  // the children by address
  std::vector<Cell> copies;
  std::vector<Cell> typesets;

  size_t bytes() const {
    return sizeof(Unit) + blocks.size() * sizeof(Block) + nodes.size() * sizeof(Node) +
           children.size() * sizeof(uint32_t) + kids.size() * sizeof(Node*) + (copies.size() + typesets.size()) * sizeof(Cell);
  }
};

// A buffer's `reserved` word names its unit: up to `runs_before` the
// count of the block's runs so far, `never` for a block not worth
// compiling, else the unit's index plus `first_unit`. A block is compiled
// on its run after `runs_before` (code run a few times only is not worth
// the compiler's time).
constexpr uint32_t runs_before = 3;
constexpr uint32_t never = runs_before + 1;
constexpr uint32_t first_unit = runs_before + 2;
// Units are dropped all together when there are this many: each is
// compiled again on its block's next runs.
constexpr size_t max_units = 8192;
// ... or when they take this many bytes.
constexpr size_t max_unit_bytes = size_t{64} << 20;
// A block longer than this is data more often than code: left to the walker.
constexpr uint32_t max_block_cells = 16384;
// A block found changed this many times runs in the walker from then on.
constexpr uint32_t max_recompiles = 4;
// A unit whose guards missed this many times, because a word of its code
// names another kind of value now, is compiled again for what they name.
constexpr uint32_t max_misses = 2;
// The compiler's limits: nesting of expressions and nodes a unit.
constexpr int max_depth = 48;
constexpr size_t max_nodes = 4096;
constexpr uint32_t max_arguments = 16;

std::vector<std::unique_ptr<Unit>> g_units;
size_t g_unit_bytes = 0;  // what the units of g_units take, about
// Units replaced while a run of them was under way: freed once unused.
std::vector<std::unique_ptr<Unit>> g_retired;
// The unit whose code runs now (see InUse).
Unit* g_running = nullptr;

// Counts a guard's miss against the unit that runs.
[[gnu::cold]] void missed() {
  if (g_running) ++g_running->misses;
}

const Cell* cells_of(NodeId node) { return reinterpret_cast<const Cell*>(memory::buffer(node)->head_ptr()); }
uint32_t cells_in(NodeId node) {
  const SeriesBuf* buf = memory::buffer(node);
  return (buf->tail - buf->head) / sizeof(Cell);
}

// A word's value slot, when the word is bound and resolved (else null).
inline const Cell* value_slot(const Cell& word) {
  if (word.w1 == no_node || word.w3 == word::unresolved) return nullptr;
  return context::slot(word.w1, word.w3);
}

// Whether two values are the same cell, flags aside.
inline bool same_value(const Cell& a, const Cell& b) {
  return cell::type_of(a) == cell::type_of(b) && a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3;
}

// The operator that `cell` (a cell of the code) names, if it names one.
inline const Cell* operator_named(const Cell& cell) {
  if (!cell::is(cell, TypeId::word)) return nullptr;
  const Cell* value = value_slot(cell);
  return value && cell::is(*value, TypeId::op) ? value : nullptr;
}

// Whether block `k`'s cells are still those kept in `copies`.
bool cells_unchanged(const Block& k, const Cell* copies) {
  return cells_in(k.node) == k.index + k.length &&
         std::memcmp(cells_of(k.node) + k.index, copies + k.copy, size_t{k.length} * sizeof(Cell)) == 0;
}

using handover::is_inert;
using handover::is_prefix_callable;
using handover::PositionKept;

// ---- the compiler ----

// Compiles from the cells as they are now and the words' values now. It
// reads and never allocates a series, so no collection runs meanwhile.
class Compiler {
 public:
  explicit Compiler(Unit& unit) : unit_(unit) {}

  // Compiles a block (or paren) and the blocks in it; answers its index.
  uint32_t block(const Cell& code) {
    const uint32_t b = static_cast<uint32_t>(unit_.blocks.size());
    Block k;
    k.cell = code;
    k.node = series::node_of(code);
    k.index = series::index_of(code);
    k.length = cells_in(k.node) - k.index;
    k.copy = static_cast<uint32_t>(unit_.copies.size());
    k.checked = detail::code_epoch;
    const Cell* cells = cells_of(k.node);
    unit_.copies.insert(unit_.copies.end(), cells + k.index, cells + k.index + k.length);
    unit_.blocks.push_back(k);
    std::vector<uint32_t> statements;
    uint32_t at = k.index;
    const uint32_t end = k.index + k.length;
    while (at < end) {
      const int64_t node = expression(b, at, true);
      if (node < 0) break;
      statements.push_back(static_cast<uint32_t>(node));
    }
    Block& done = unit_.blocks[b];
    done.stop = at;
    done.first = static_cast<uint32_t>(unit_.children.size());
    done.count = static_cast<uint32_t>(statements.size());
    unit_.children.insert(unit_.children.end(), statements.begin(), statements.end());
    return b;
  }

 private:
  Unit& unit_;
  int depth_ = 0;

  const Cell& cell_at(uint32_t b, uint32_t at) const { return cells_of(unit_.blocks[b].node)[at]; }
  // A block short enough to compile (a copy of its cells is kept).
  static bool compilable(const Cell& block) {
    const uint32_t cells = cells_in(series::node_of(block));
    return series::index_of(block) <= cells && cells - series::index_of(block) <= max_block_cells;
  }
  uint32_t end_of(uint32_t b) const { return unit_.blocks[b].index + unit_.blocks[b].length; }
  // Whether block `k` of the unit is one pure expression.
  bool pure_only(uint32_t k) const {
    const Block& block = unit_.blocks[k];
    return block.count == 1 && block.stop == block.index + block.length &&
           unit_.nodes[unit_.children[block.first]].pure;
  }
  // Whether node `n` is a block written in the code, short enough to
  // compile, with no operators after it.
  bool literal_block(uint32_t n) const {
    const Node& node = unit_.nodes[n];
    return node.kind == Kind::constant && node.steps == 0 && cell::is(node.cell, TypeId::block) &&
           compilable(node.cell);
  }

  uint32_t add(const Node& node, const std::vector<uint32_t>& children, const std::vector<uint32_t>& steps = {}) {
    Node made = node;
    made.first = static_cast<uint32_t>(unit_.children.size());
    made.count = static_cast<uint32_t>(children.size());
    made.steps = static_cast<uint32_t>(steps.size());
    unit_.children.insert(unit_.children.end(), children.begin(), children.end());
    unit_.children.insert(unit_.children.end(), steps.begin(), steps.end());
    unit_.nodes.push_back(made);
    return static_cast<uint32_t>(unit_.nodes.size() - 1);
  }

  // One expression at `at` of block `b`, with the operators after it when
  // `take_operators`: its node, `at` moved past it; or -1 when the
  // compiler does not know it (`at` unmoved).
  int64_t expression(uint32_t b, uint32_t& at, bool take_operators) {
    if (depth_ >= max_depth || unit_.nodes.size() >= max_nodes) return -1;
    ++depth_;
    const int64_t node = head(b, at, take_operators);
    --depth_;
    return node;
  }

  // The operators after an expression, each with its right operand.
  std::vector<uint32_t> operators(uint32_t b, uint32_t& at) {
    std::vector<uint32_t> steps;
    while (at + 1 < end_of(b)) {
      const Cell& name = cell_at(b, at);
      const Cell* op = operator_named(name);
      if (!op) break;
      handover::ArgumentKind kinds[2];
      uint32_t count = 0;
      if (!handover::argument_kinds(*op, kinds, 2, count) || count != 2 ||
          kinds[1] != handover::ArgumentKind::evaluated)
        break;
      uint32_t right_at = at + 1;
      const int64_t right = expression(b, right_at, false);
      if (right < 0) break;
      Node step;
      step.kind = Kind::step;
      step.block = b;
      step.start = at;
      step.end = right_at;
      step.cell = *op;
      step.name = name;
      step.fast = handover::fast_kind_of(*op);
      steps.push_back(add(step, {static_cast<uint32_t>(right)}));
      at = right_at;
    }
    return steps;
  }

  // A node with its children, and with `takes` its operators.
  int64_t finish(Node& node, uint32_t b, uint32_t& at, bool takes, const std::vector<uint32_t>& children) {
    at = node.end;
    std::vector<uint32_t> steps;
    node.pure = pure_head(node);
    if (takes) {
      node.takes = true;
      steps = operators(b, at);
      node.end = at;
      node.check_end = at < end_of(b) && cell::is(cell_at(b, at), TypeId::word);
      // Stopped at an operator whose operand it does not know: the walker
      // takes the operators from there.
      if (node.check_end && operator_named(cell_at(b, at))) node.pure = false;
      for (uint32_t step : steps) {
        const Node& made = unit_.nodes[step];
        if (made.fast <= interpreter::fast_none || !unit_.nodes[unit_.children[made.first]].pure) node.pure = false;
      }
    }
    return add(node, children, steps);
  }

  // Whether the value that starts an expression is worked out with no
  // side effect and no error: a value as it stands, or a paren holding one
  // such expression.
  bool pure_head(const Node& node) const {
    switch (node.kind) {
      case Kind::constant:
      case Kind::word:
      case Kind::get_word: return true;
      case Kind::paren: {
        const Block& k = unit_.blocks[node.extra];
        return k.count == 1 && k.stop == k.index + k.length && unit_.nodes[unit_.children[k.first]].pure;
      }
      default: return false;
    }
  }

  int64_t head(uint32_t b, uint32_t& at, bool takes) {
    const Cell& cell = cell_at(b, at);
    Node node;
    node.kind = Kind::constant;
    node.block = b;
    node.start = at;
    node.end = at + 1;
    node.cell = cell;
    const TypeId type = cell::type_of(cell);
    switch (type) {
      case TypeId::word: {
        const Cell* value = value_slot(cell);
        if (!value) return -1;
        const TypeId value_type = cell::type_of(*value);
        if (is_prefix_callable(value_type)) return call(node, b, at, takes, *value);
        if (value_type == TypeId::unset || value_type == TypeId::op) return -1;
        node.kind = Kind::word;
        break;
      }
      case TypeId::get_word:
        if (!value_slot(cell)) return -1;
        node.kind = Kind::get_word;
        break;
      case TypeId::lit_word:
        cell::set_type(node.cell, TypeId::word);
        break;
      case TypeId::set_word: {
        // Its value's expression takes the operators after it.
        if (!value_slot(cell) || at + 1 >= end_of(b)) return -1;
        uint32_t value_at = at + 1;
        const int64_t value = expression(b, value_at, true);
        if (value < 0) return -1;
        node.kind = Kind::set_word;
        node.end = value_at;
        at = value_at;
        return add(node, {static_cast<uint32_t>(value)});
      }
      case TypeId::paren:
        if (!compilable(cell)) return -1;
        node.kind = Kind::paren;
        node.extra = block(cell);
        return finish(node, b, at, takes, {});
      default:
        if (!is_inert(type) || type == TypeId::issue) return -1;
        break;
    }
    return finish(node, b, at, takes, {});
  }

  // A call of `callable`, named by the word at `node.start`.
  int64_t call(Node& node, uint32_t b, uint32_t& at, bool takes, const Cell& callable) {
    handover::ArgumentKind kinds[max_arguments];
    uint32_t count = 0;
    if (!handover::argument_kinds(callable, kinds, max_arguments, count)) return -1;
    node.kind = Kind::call;
    node.cell = callable;
    node.name = cell_at(b, node.start);
    // Which of the natives that compiled code runs itself this is.
    const natives::Condition kind =
        cell::is(callable, TypeId::native) ? natives::condition_of(callable.w1) : natives::Condition::other;
    if (kind == natives::Condition::if_ || kind == natives::Condition::unless || kind == natives::Condition::either)
      return branch(node, b, at, takes, kind);
    uint32_t next = node.start + 1;
    std::vector<uint32_t> arguments;
    for (uint32_t i = 0; i < count; ++i) {
      if (kinds[i] != handover::ArgumentKind::evaluated || next >= end_of(b)) break;
      const int64_t argument = expression(b, next, true);
      if (argument < 0) break;
      arguments.push_back(static_cast<uint32_t>(argument));
    }
    node.complete = arguments.size() == count;
    node.end = next;
    if (node.complete) condition(node, b, kind, arguments);
    const bool function = cell::is(callable, TypeId::function);
    const bool native = cell::is(callable, TypeId::native) || cell::is(callable, TypeId::action);
    Cell typesets[max_arguments];
    handover::CallEntries entries{};
    // The calls whose argument checks and run compiled code makes itself:
    // a function's without refinements, a native's or an action's.
    if (node.complete && node.kind == Kind::call && (function || native) &&
        handover::call_entries(callable, typesets, max_arguments, entries) && entries.count == count &&
        !(function && entries.refinements > 0)) {
      node.kind = function ? Kind::function : Kind::native;
      node.types = static_cast<uint32_t>(unit_.typesets.size());
      node.locals = function ? entries.locals : 0;
      unit_.typesets.insert(unit_.typesets.end(), typesets, typesets + count);
      loop(node, b, kind, arguments);
      if (kind == natives::Condition::reduce) reduce(node, b, arguments);
    }
    return finish(node, b, at, takes, arguments);
  }

  // all or any of a block written in the code whose expressions are all
  // pure: worked out without the call (see exec_condition).
  void condition(Node& node, uint32_t b, natives::Condition kind, const std::vector<uint32_t>& arguments) {
    if (kind != natives::Condition::all && kind != natives::Condition::any) return;
    if (arguments.size() != 1 || !literal_block(arguments[0])) return;
    const uint32_t inner = block(cell_at(b, unit_.nodes[arguments[0]].start));
    const Block& k = unit_.blocks[inner];
    if (k.stop != k.index + k.length) return;
    for (uint32_t i = 0; i < k.count; ++i)
      if (!unit_.nodes[unit_.children[k.first + i]].pure) return;
    node.kind = Kind::condition;
    node.extra = inner;
    node.fast = kind == natives::Condition::any ? 1 : 0;
  }

  // loop or while of blocks written in the code: run without the call's
  // fetching and dispatch (see exec_loop).
  void loop(Node& node, uint32_t b, natives::Condition kind, const std::vector<uint32_t>& arguments) {
    if (kind != natives::Condition::loop && kind != natives::Condition::while_) return;
    std::vector<uint32_t> blocks;
    for (uint32_t i = 0; i < arguments.size(); ++i) {
      if (i + 1 == arguments.size() || kind == natives::Condition::while_) {
        if (!literal_block(arguments[i])) return;
        blocks.push_back(unit_.nodes[arguments[i]].start);
      }
    }
    if (blocks.empty()) return;
    node.kind = Kind::loop;
    node.fast = kind == natives::Condition::while_ ? 1 : 0;
    if (node.fast == 1) node.other = block(cell_at(b, blocks.front()));
    node.extra = block(cell_at(b, blocks.back()));
  }

  // reduce of a block written in the code: its expressions compiled (see
  // exec_reduce).
  void reduce(Node& node, uint32_t b, const std::vector<uint32_t>& arguments) {
    if (!literal_block(arguments[0])) return;
    node.kind = Kind::reduce;
    node.extra = block(cell_at(b, unit_.nodes[arguments[0]].start));
  }

  // if, unless or either, its blocks written in the code.
  int64_t branch(Node& node, uint32_t b, uint32_t& at, bool takes, natives::Condition condition) {
    node.kind = Kind::branch;
    node.branch = condition == natives::Condition::if_ ? Branch::if_
                  : condition == natives::Condition::unless ? Branch::unless
                                                            : Branch::either;
    const uint32_t blocks = node.branch == Branch::either ? 2 : 1;
    uint32_t next = node.start + 1;
    if (next >= end_of(b)) return -1;
    const int64_t condition_node = expression(b, next, true);
    if (condition_node < 0 || next + blocks > end_of(b)) return -1;
    for (uint32_t i = 0; i < blocks; ++i)
      if (!cell::is(cell_at(b, next + i), TypeId::block) || !compilable(cell_at(b, next + i))) return -1;
    node.extra = block(cell_at(b, next));
    if (blocks == 2) node.other = block(cell_at(b, next + 1));
    node.fast = static_cast<uint8_t>((pure_only(node.extra) ? 1 : 0) | (blocks == 2 && pure_only(node.other) ? 2 : 0));
    node.end = next + blocks;
    return finish(node, b, at, takes, {static_cast<uint32_t>(condition_node)});
  }
};

// ---- running it ----

// Runs the nodes of one unit. Each node runs through the handlers its
// kind was given when compiled (see set_handlers).
class Runner {
 public:
  explicit Runner(Unit& unit) : unit_(unit), kids_(unit.kids.data()), copies_(unit.copies.data()) {}

  const Node& kid(uint32_t index) const { return *kids_[index]; }

  // Whether block `k`'s cells are still those it was compiled from.
  bool fresh(Block& k) {
    if (k.checked == detail::code_epoch) [[likely]] return true;
    return check(k);
  }
  bool fresh(uint32_t b) { return fresh(unit_.blocks[b]); }

  // The statements of block `b`, their last value pushed.
  Flow block(uint32_t b) {
    Block& k = unit_.blocks[b];
    if (!fresh(k)) [[unlikely]] return handover::rest_of_block(k.cell, k.index);
    const uint32_t top = ArgStack::depth();
    if (k.length == 0) {
      ArgStack::push(unset::make());
      return Flow::normal;
    }
    Cell& position = handover::position();
    position = k.cell;
    const uint32_t end = k.index + k.length;
    for (uint32_t s = 0; s < k.count; ++s) {
      const Node& statement = kid(k.first + s);
      position.w1 = statement.start;
      uint32_t at = statement.start;
      const Status status = statement.exec(*this, statement, at);
      if (status == Status::exit) [[unlikely]] return Flow::exit;
      if (status == Status::declined) [[unlikely]] return handover::rest_of_block(k.cell, statement.start);
      if (at != statement.end || !fresh(k)) [[unlikely]] {
        if (at >= cells_in(k.node)) return Flow::normal;
        ArgStack::drop_to(top);
        return handover::rest_of_block(k.cell, at);
      }
      if (at == end) return Flow::normal;
      ArgStack::drop_to(top);
    }
    return handover::rest_of_block(k.cell, k.stop);
  }

  // The walker takes the operators from `at` on.
  [[gnu::noinline]] Status operators_from(uint32_t b, uint32_t& at) {
    Code code{unit_.blocks[b].node, at};
    const Flow flow = handover::operators_from(code);
    at = code.index;
    return flow == Flow::normal ? Status::done : Status::exit;
  }

  // The walker finishes a call whose frame is marked.
  [[gnu::noinline]] Status finish_call(const Node& node, bool infix, uint32_t slot, uint32_t fetched, uint32_t& at) {
    Code code{unit_.blocks[node.block].node, at};
    const Flow flow = handover::finish_call(node.cell, node.name, infix, slot, fetched, code);
    at = code.index;
    return flow == Flow::normal ? Status::done : Status::exit;
  }

  const Block& block_at(uint32_t b) const { return unit_.blocks[b]; }
  const Cell* typesets(uint32_t at) const { return unit_.typesets.data() + at; }

 private:
  Unit& unit_;
  const Node* const* kids_;
  const Cell* copies_;

  [[gnu::noinline]] bool check(Block& k) {
    // Tracing switched on: the walker, which fires the events, goes on.
    if (trace::tracing) return false;
    if (!cells_unchanged(k, copies_)) return false;
    k.checked = detail::code_epoch;
    return true;
  }
};

// ---- the handlers ----

// `left op right` into `left` by the operators' number fast path, when
// both are numbers and the operation cannot fail.
inline bool operate(uint8_t kind, Cell& left, const Cell& right) {
  return kind > interpreter::fast_none && interpreter::is_integer_or_float(left) &&
         interpreter::is_integer_or_float(right) &&
         fast_operation(kind, left, right);
}

bool follows_operator(const Block& k, uint32_t at) {
  if (!operator_named(cells_of(k.node)[at])) [[likely]] return false;
  missed();
  return true;
}

// The value slot of a node's word (see Node::slot).
inline const Cell* slot_of(const Node& node, const Cell& word) {
  if (!node.global_word) return value_slot(word);
  if (node.slot_relocations == memory::relocations) [[likely]] return node.slot;
  const Cell* slot = value_slot(word);
  node.slot = slot;
  node.slot_relocations = slot ? memory::relocations : ~uint64_t{0};
  return slot;
}

// The guard of an operator or a call: the word names the value it was
// compiled for.
inline bool still_names(const Node& node) {
  const Cell* value = slot_of(node, node.name);
  if (value && same_value(*value, node.cell)) [[likely]] return true;
  missed();
  return false;
}

// Pure values (Node::eval): worked out without a stack cell; false
// declines (a word holding another kind of value, an operator redefined,
// an operation that the fast path leaves to the call), having changed
// nothing.

bool eval_constant(Runner&, const Node& node, Cell& value) {
  value = node.cell;
  return true;
}

bool eval_word(Runner&, const Node& node, Cell& value) {
  const Cell* slot = slot_of(node, node.cell);
  if (!slot) [[unlikely]] return false;
  const TypeId type = cell::type_of(*slot);
  if (type == TypeId::unset) [[unlikely]] return false;
  if (type_traits::is_any_function(type)) [[unlikely]] {
    missed();  // a call now
    return false;
  }
  value = *slot;
  return true;
}

bool eval_get_word(Runner&, const Node& node, Cell& value) {
  const Cell* slot = slot_of(node, node.cell);
  if (!slot) return false;
  value = *slot;
  return true;
}

bool eval_paren(Runner& runner, const Node& node, Cell& value) {
  const Block& k = runner.block_at(node.extra);
  if (!runner.fresh(node.extra)) return false;
  const Node& only = runner.kid(k.first);
  return only.eval(runner, only, value);
}

// An expression with operators: its head's value, then each operator's.
bool eval_chain(Runner& runner, const Node& node, Cell& value) {
  if (!node.head(runner, node, value)) return false;
  const uint32_t last = node.first + node.count + node.steps;
  for (uint32_t i = node.first + node.count; i < last; ++i) {
    const Node& step = runner.kid(i);
    if (!still_names(step)) [[unlikely]] return false;
    const Node& right = runner.kid(step.first);
    Cell operand;
    if (!right.eval(runner, right, operand) || !operate(step.fast, value, operand)) [[unlikely]] return false;
  }
  return !node.check_end || !follows_operator(runner.block_at(node.block), node.end);
}

// Statements and operands (Node::exec): the value pushed and `at` moved
// past the expression, or declined with nothing changed, or an exit.

Status exec_pure(Runner& runner, const Node& node, uint32_t& at) {
  Cell value;
  if (!node.eval(runner, node, value)) [[unlikely]] return Status::declined;
  ArgStack::push(value);
  at = node.end;
  return Status::done;
}

Status operators(Runner& runner, const Node& node, uint32_t& at);

// A call's node done, its value the newest cell: then the operators after
// it, if it takes them.
[[gnu::always_inline]] inline Status then_operators(Runner& runner, const Node& node, Status status, uint32_t& at) {
  if (status != Status::done || !node.takes) return status;
  // Commonly no operator follows, nor a word that could have become one.
  if (node.steps == 0 && !node.check_end && runner.fresh(node.block)) [[likely]] return Status::done;
  return operators(runner, node, at);
}

// A call answered without being made: its value pushed, `at` past it,
// then its operators.
[[gnu::always_inline]] inline Status answered(Runner& runner, const Node& node, const Cell value, uint32_t end, uint32_t& at) {
  ArgStack::push(value);
  at = end;
  return then_operators(runner, node, Status::done, at);
}

// The end of a call that compiled code ran itself: its frame popped and
// its value in the callable's cell, at `slot`.
[[gnu::always_inline]] inline void end_call(uint32_t slot, const Cell result) {
  stack::pop_frame();
  ArgStack::drop_to(slot);
  ArgStack::push(result);
}

// A block of the unit run as eval_in_window runs it: its value pushed.
Flow run_nested(Runner& runner, uint32_t b) {
  handover::check_machine_stack();
  if (trace::tracing) [[unlikely]] return interpreter::eval_in_window(runner.block_at(b).cell);
  PositionKept kept;
  return runner.block(b);
}

Status exec_paren(Runner& runner, const Node& node, uint32_t& at) {
  if (run_nested(runner, node.extra) != Flow::normal) return Status::exit;
  at = node.start + 1;
  return then_operators(runner, node, Status::done, at);
}

Status exec_set_word(Runner& runner, const Node& node, uint32_t& at) {
  const uint32_t top = ArgStack::depth();
  const Node& value = runner.kid(node.first);
  at = value.start;
  if (value.pure) {
    Cell result;
    if (!value.eval(runner, value, result)) [[unlikely]] return Status::declined;
    at = value.end;
    ArgStack::push(result);
    if (context::set_direct(node.cell, result)) return Status::done;
  } else {
    const Status status = value.exec(runner, value, at);
    if (status != Status::done) return status;
    if (context::set_direct(node.cell, *ArgStack::last())) return Status::done;
  }
  // The store may run an object's change handler: the walker's own store.
  Val word = ArgStack::push(node.cell);
  context::set(word, ArgStack::at(top));
  const Cell result = *ArgStack::at(top);
  ArgStack::drop_to(top);
  ArgStack::push(result);
  // After a store that ran code, a word after it may have become an
  // operator: the walker looks.
  return runner.operators_from(node.block, at);
}

// Marks the frame of an operator whose left operand is the newest cell,
// which stays its first argument; answers that cell's slot, where the
// result goes.
uint32_t open_operator_frame(const Node& step) {
  handover::check_machine_stack();
  const uint32_t slot = ArgStack::depth() - 1;
  ArgStack::drop_to(slot);
  handover::mark_frame(step.cell, step.name);
  ArgStack::drop_to(slot + 1);  // the left operand back as the first argument
  return slot;
}

// An operator whose right operand is pure: worked out in place when it can
// be, else called as the walker calls it.
Status pure_step(Runner& runner, const Node& step, const Node& right, uint32_t& at) {
  Cell operand;
  if (!right.eval(runner, right, operand)) [[unlikely]] {
    at = step.start;
    return runner.operators_from(step.block, at);
  }
  at = step.end;
  Cell& left = *ArgStack::last();
  if (operate(step.fast, left, operand)) [[likely]] return Status::done;
  const uint32_t slot = open_operator_frame(step);
  ArgStack::push(operand);
  return runner.finish_call(step, true, slot, 2, at);
}

// An operator whose right operand may call or fail: evaluated inside the
// operator's frame, as the walker does.
Status step_in_frame(Runner& runner, const Node& step, const Node& right, uint32_t& at) {
  const uint32_t slot = open_operator_frame(step);
  at = right.start;
  const Status status = right.exec(runner, right, at);
  if (status == Status::exit) return status;
  if (status == Status::declined) {
    at = right.start;
    return runner.finish_call(step, true, slot, 1, at);
  }
  if (at == right.end && runner.fresh(step.block) &&
      operate(step.fast, *ArgStack::at(slot), *ArgStack::last())) {
    end_call(slot, *ArgStack::at(slot));
    return Status::done;
  }
  return runner.finish_call(step, true, slot, 2, at);
}

// The operators after an expression whose value is the newest cell.
Status operators(Runner& runner, const Node& node, uint32_t& at) {
  const uint32_t last = node.first + node.count + node.steps;
  for (uint32_t i = node.first + node.count; i < last; ++i) {
    const Node& step = runner.kid(i);
    if (at != step.start || !runner.fresh(node.block) || !still_names(step)) [[unlikely]]
      return runner.operators_from(node.block, at);
    const Node& right = runner.kid(step.first);
    const Status status = right.pure ? pure_step(runner, step, right, at) : step_in_frame(runner, step, right, at);
    if (status != Status::done) return status;
    if (at != step.end) [[unlikely]] return runner.operators_from(node.block, at);
  }
  // A word after the expression that has become an operator since.
  if (!runner.fresh(node.block) || (node.check_end && follows_operator(runner.block_at(node.block), at))) [[unlikely]]
    return runner.operators_from(node.block, at);
  return Status::done;
}

// Pushes the callable, marks its frame and fetches the compiled
// arguments: done when all are in the window (`at` past them); else the
// walker has finished the call (`by_walker`).
[[gnu::always_inline]] inline Status start_call(Runner& runner, const Node& node, uint32_t slot, uint32_t& at, bool& by_walker) {
  handover::check_machine_stack();
  ArgStack::push(node.cell);
  handover::mark_frame(node.cell, node.name);
  by_walker = true;
  at = node.start + 1;
  for (uint32_t i = 0; i < node.count; ++i) {
    const Node& argument = runner.kid(node.first + i);
    at = argument.start;
    if (argument.pure) {
      // A pure argument calls nothing: the block cannot have changed.
      Cell value;
      if (!argument.eval(runner, argument, value)) [[unlikely]] return runner.finish_call(node, false, slot, i, at);
      ArgStack::push(value);
      at = argument.end;
      continue;
    }
    const Status status = argument.exec(runner, argument, at);
    if (status == Status::exit) [[unlikely]] return status;
    if (status == Status::declined) [[unlikely]] return runner.finish_call(node, false, slot, i, at);
    if (at != argument.end || !runner.fresh(node.block)) [[unlikely]]
      return runner.finish_call(node, false, slot, i + 1, at);
  }
  by_walker = false;
  return Status::done;
}

Status exec_call(Runner& runner, const Node& node, uint32_t& at) {
  if (!still_names(node)) [[unlikely]] return Status::declined;
  const uint32_t slot = ArgStack::depth();
  bool by_walker = false;
  Status status = start_call(runner, node, slot, at, by_walker);
  if (!by_walker) status = runner.finish_call(node, false, slot, node.count, at);
  return then_operators(runner, node, status, at);
}

// The start of a call that compiled code runs itself: the guard, then the
// callable pushed, its frame marked, its arguments fetched and checked
// against its typesets. False when the call is over already (declined,
// finished by the walker, which raises a wrong argument's error, or an
// exit): `status` says how.
[[gnu::always_inline]] inline bool open_call(Runner& runner, const Node& node, uint32_t& slot, uint32_t& at, Status& status) {
  if (!still_names(node)) [[unlikely]] {
    status = Status::declined;
    return false;
  }
  slot = ArgStack::depth();
  bool by_walker = false;
  status = start_call(runner, node, slot, at, by_walker);
  if (!by_walker) [[likely]] {
    const Cell* typesets = runner.typesets(node.types);
    bool typed = true;
    for (uint32_t i = 0; i < node.count; ++i)
      typed = typed && typeset::has(typesets[i], cell::type_of(*ArgStack::at(slot + 1 + i)));
    if (typed) [[likely]] return true;
    status = runner.finish_call(node, false, slot, node.count, at);
  }
  status = then_operators(runner, node, status, at);
  return false;
}

// A function's call: its arguments checked, its locals pushed and its
// body run, as the walker does.
Status exec_function(Runner& runner, const Node& node, uint32_t& at) {
  uint32_t slot = 0;
  Status status = Status::done;
  if (!open_call(runner, node, slot, at, status)) return status;
  if (node.locals > 0) {
    ArgStack::push(logic::make(false));
    for (uint32_t i = 1; i < node.locals; ++i) ArgStack::push(none::make());
  }
  if (handover::run_body(node.cell) != Flow::normal) return Status::exit;
  end_call(slot, *ArgStack::result());
  return then_operators(runner, node, Status::done, at);
}

// all or any whose expressions are all pure: a call that would show
// nowhere, answered here as the native answers; when an expression
// declines, the call is made.
Status exec_condition(Runner& runner, const Node& node, uint32_t& at) {
  if (!still_names(node)) [[unlikely]] return Status::declined;
  if (runner.fresh(node.extra)) [[likely]] {
    const Block& k = runner.block_at(node.extra);
    const bool any = node.fast == 1;
    Cell answer = none::make();
    bool known = true;
    for (uint32_t i = 0; i < k.count; ++i) {
      const Node& expression = runner.kid(k.first + i);
      Cell value;
      if (!expression.eval(runner, expression, value)) [[unlikely]] {
        known = false;
        break;
      }
      const bool truth = logic::is_true(value);
      if (any ? truth : !truth) {
        answer = any ? value : none::make();
        break;
      }
      if (!any) answer = value;
    }
    if (known) [[likely]] return answered(runner, node, answer, runner.kid(node.first).end, at);
  }
  return exec_call(runner, node, at);
}

// A native's or action's call: its arguments checked and its entry run,
// as the walker does.
Status exec_native(Runner& runner, const Node& node, uint32_t& at) {
  uint32_t slot = 0;
  Status status = Status::done;
  if (!open_call(runner, node, slot, at, status)) return status;
  if (handover::run_native(node.cell) != Flow::normal) return Status::exit;
  end_call(slot, *ArgStack::result());
  return then_operators(runner, node, Status::done, at);
}

// return of a pure expression: its exit made without the call, which
// would show nowhere; else (or with no function to return from, an
// error) the call is made.
Status exec_return(Runner& runner, const Node& node, uint32_t& at) {
  const Node& argument = runner.kid(node.first);
  Cell value;
  if (still_names(node) && argument.pure && argument.eval(runner, argument, value) && stack::return_from_code(value))
    [[likely]]
    return Status::exit;
  return exec_native(runner, node, at);
}

// One round of a loop's body (or while's condition): its value in the
// loop frame's result slot. An exit that had to cross C++ code ends here
// as an ordinary exit, for the loop to see.
Flow run_round(Runner& runner, uint32_t b) {
  try {
    const Flow flow = run_nested(runner, b);
    if (flow == Flow::normal) ArgStack::set_result_keep(*ArgStack::last());
    return flow;
  } catch (const Unwind& unwind) {
    return interpreter::exit_flow(unwind);
  }
}

// One round of a loop's body: false when the loop is over, `exited` when
// by an exit that passes outwards.
bool next_round(Runner& runner, uint32_t body, bool& exited) {
  natives::Round round;
  exited = natives::loop_round(run_round(runner, body), &round) != Flow::normal;
  return !exited && round == natives::Round::next;
}

// loop and while as their natives run them, in the native's frame, with
// the loop's own frame for break and continue.
Status exec_loop(Runner& runner, const Node& node, uint32_t& at) {
  uint32_t slot = 0;
  Status status = Status::done;
  if (!open_call(runner, node, slot, at, status)) return status;
  Cell result = unset::make();
  bool exited = false;
  if (node.fast == 0) {
    const int64_t count = natives::loop_count(*ArgStack::at(slot + 1));
    if (count < 1) {
      result = none::make();
    } else {
      natives::open_loop();
      for (int64_t i = 0; i < count; ++i)
        if (!next_round(runner, node.extra, exited)) break;
      if (exited) return Status::exit;
      stack::unwind_last();
      result = *ArgStack::result();
    }
  } else {
    natives::open_loop();
    for (;;) {
      if (run_round(runner, node.other) != Flow::normal) {
        natives::Round round;
        if (natives::loop_round(Flow::exit, &round) != Flow::normal) return Status::exit;
        error::raise(error_id::throw_::while_cond);
      }
      if (!logic::is_true(*ArgStack::result()) || !next_round(runner, node.extra, exited)) break;
    }
    if (exited) return Status::exit;
    stack::unwind();
    stack::pop(1);
  }
  end_call(slot, result);
  return then_operators(runner, node, Status::done, at);
}

// pick of a block by an integer, both arguments pure: the cell at that
// position (or none), as the action answers, with no side effect and no
// error, so without the call; any other case makes the call.
Status exec_pick(Runner& runner, const Node& node, uint32_t& at) {
  if (!still_names(node)) [[unlikely]] return Status::declined;
  const Node& series = runner.kid(node.first);
  const Node& index = runner.kid(node.first + 1);
  Cell from;
  Cell position;
  if (series.eval(runner, series, from) && index.eval(runner, index, position) &&
      cell::is(position, TypeId::integer) && action_entries::picks_cells(from)) [[likely]] {
    return answered(runner, node, series_type::pick_cell(from, cell::get_int32(position)), index.end, at);
  }
  return exec_native(runner, node, at);
}

// reduce of a block written in the code, as the native reduces it, in its
// frame: the compiled expressions pushed one by one, the walker taking
// the rest where they stop (natives_words.h). The expressions are not
// statements: the code position stays the call's.
Status exec_reduce(Runner& runner, const Node& node, uint32_t& at) {
  uint32_t slot = 0;
  Status status = Status::done;
  if (!open_call(runner, node, slot, at, status)) return status;
  const Block& k = runner.block_at(node.extra);
  const uint32_t cells = cells_in(k.node);
  const uint32_t most = cells - std::min(k.index, cells);
  Val result = ArgStack::push(none::make());
  const uint32_t first = ArgStack::depth();
  uint32_t rest = k.index;  // where the walker goes on
  if (runner.fresh(node.extra)) [[likely]] {
    rest = k.stop;
    for (uint32_t i = 0; i < k.count; ++i) {
      const Node& expression = runner.kid(k.first + i);
      uint32_t end = expression.start;
      const Status done = expression.exec(runner, expression, end);
      if (done == Status::exit) [[unlikely]] return done;
      if (done == Status::declined) [[unlikely]] {
        rest = expression.start;
        break;
      }
      natives::reduce_collected(result, first, most);
      if (end != expression.end || !runner.fresh(node.extra)) [[unlikely]] {
        rest = end;
        break;
      }
    }
  }
  if (natives::reduce_rest(result, first, k.node, rest, most) != Flow::normal) return Status::exit;
  end_call(slot, *result);
  return then_operators(runner, node, Status::done, at);
}

// The block a conditional runs for its condition's truth: 0 or 1, or -1
// for none.
int chosen_block(Branch branch, bool truth) {
  switch (branch) {
    case Branch::if_: return truth ? 0 : -1;
    case Branch::unless: return truth ? -1 : 0;
    case Branch::either: return truth ? 0 : 1;
  }
  return -1;
}

// The value of block `b` (of a branch node), when it was compiled as one
// pure expression (see Compiler::branch) and that gives it.
bool pure_block_value(Runner& runner, uint32_t b, Cell& value) {
  if (!runner.fresh(b)) return false;
  const Node& only = runner.kid(runner.block_at(b).first);
  return only.eval(runner, only, value);
}

// if, unless, either: the condition fetched, the blocks pushed as their
// arguments, and the chosen block run in the native's frame.
Status exec_branch(Runner& runner, const Node& node, uint32_t& at) {
  if (!still_names(node)) [[unlikely]] return Status::declined;
  const uint32_t blocks = node.branch == Branch::either ? 2 : 1;
  const Node& condition = runner.kid(node.first);
  const uint32_t slot = ArgStack::depth();
  int chosen = -1;
  Cell truth;
  if (condition.pure && condition.eval(runner, condition, truth) && !cell::is(truth, TypeId::unset)) [[likely]] {
    // A condition that can neither fail nor call: a call that runs no
    // block shows nowhere, and is answered here.
    chosen = chosen_block(node.branch, logic::is_true(truth));
    if (chosen < 0) return answered(runner, node, none::make(), condition.end + blocks, at);
    // A block of one pure expression: its value is the call's, and the
    // call shows nowhere either.
    Cell value;
    if ((node.fast & (1u << chosen)) && pure_block_value(runner, chosen == 0 ? node.extra : node.other, value))
      return answered(runner, node, value, condition.end + blocks, at);
    at = condition.end + blocks;
    handover::check_machine_stack();
    ArgStack::push(node.cell);
    handover::mark_frame(node.cell, node.name);
    ArgStack::push(truth);
  } else {
    bool by_walker = false;
    const Status status = start_call(runner, node, slot, at, by_walker);
    if (by_walker) return then_operators(runner, node, status, at);
    at = condition.end + blocks;
    chosen = chosen_block(node.branch, logic::arg_true(*ArgStack::at(slot + 1)));
  }
  ArgStack::push(runner.block_at(node.extra).cell);
  if (blocks == 2) ArgStack::push(runner.block_at(node.other).cell);
  Cell result = none::make();
  if (chosen >= 0) {
    if (run_nested(runner, chosen == 0 ? node.extra : node.other) != Flow::normal) return Status::exit;
    result = *ArgStack::last();
  }
  end_call(slot, result);
  return then_operators(runner, node, Status::done, at);
}

// A value as it stands followed by operators that are not all pure:
// pushed, then its operators.
Status exec_value_then_operators(Runner& runner, const Node& node, uint32_t& at) {
  Cell value;
  if (!node.head(runner, node, value)) [[unlikely]] return Status::declined;
  ArgStack::push(value);
  at = node.start + 1;
  return operators(runner, node, at);
}

// ---- the verify mode ----

bool g_verify = false;  // KIV_COMPILE=verify

[[noreturn]] void report_difference(const Block& k, const Node& node, const char* what) {
  std::fprintf(stderr, "kiv: compiled code and the walker differ (%s) at cell %u of a block of %u cells\n", what,
               node.start, k.index + k.length);
  std::abort();
}

// A pure node's eval, then the walker's evaluation of the same cells: the
// two must give the same value and end at the same cell. A pure
// expression has no side effect, so evaluating it twice changes nothing.
bool eval_verified(Runner& runner, const Node& node, Cell& value) {
  if (!node.checked(runner, node, value)) return false;
  // Near the end of either stack the walker's evaluation would overflow
  // where the compiled one did not: no check there.
  const auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  if (ArgStack::depth() + 64 > stack::argument_cells ||
      (runtime::state.stack_high != 0 && here < runtime::state.stack_low + 2 * handover::stack_reserve))
    return true;
  const Block& k = runner.block_at(node.block);
  const uint32_t top = ArgStack::depth();
  Code code{k.node, node.start};
  detail::verifying = true;
  try {
    if (interpreter::eval_expression(code, interpreter::Into::new_cell,
                                     node.takes ? interpreter::Infix::take : interpreter::Infix::stop) != Flow::normal)
      report_difference(k, node, "an exit");
  } catch (...) {
    report_difference(k, node, "an error");
  }
  detail::verifying = false;
  if (code.index != node.end) report_difference(k, node, "where the expression ends");
  if (!same_value(*ArgStack::last(), value)) report_difference(k, node, "the value");
  ArgStack::drop_to(top);
  return true;
}

// Whether a native node is pick of two pure arguments.
bool picks(const Unit& unit, const Node& node) {
  return cell::is(node.cell, TypeId::action) && action_entries::is_pick(node.cell.w1) && node.count == 2 &&
         unit.nodes[unit.children[node.first]].pure && unit.nodes[unit.children[node.first + 1]].pure;
}

// Whether a native node is return.
bool returns(const Node& node) {
  return cell::is(node.cell, TypeId::native) && node.count == 1 &&
         natives::condition_of(node.cell.w1) == natives::Condition::return_;
}

// Gives every node of a unit its handlers, and its children by address.
void set_handlers(Unit& unit) {
  unit.kids.clear();
  for (uint32_t child : unit.children) unit.kids.push_back(&unit.nodes[child]);
  const NodeId global = context::global();
  for (Node& node : unit.nodes) {
    const bool named = node.kind == Kind::word || node.kind == Kind::get_word;
    node.global_word = (named ? node.cell : node.name).w1 == global && global != no_node;
    Eval head = nullptr;
    switch (node.kind) {
      case Kind::constant: head = eval_constant; break;
      case Kind::word: head = eval_word; break;
      case Kind::get_word: head = eval_get_word; break;
      case Kind::paren: head = eval_paren; break;
      default: break;
    }
    if (node.pure) {
      node.head = head;
      node.eval = node.steps > 0 || node.check_end ? eval_chain : head;
      node.exec = exec_pure;
      if (g_verify) {
        node.checked = node.eval;
        node.eval = eval_verified;
      }
      continue;
    }
    switch (node.kind) {
      case Kind::paren: node.exec = exec_paren; break;
      case Kind::set_word: node.exec = exec_set_word; break;
      case Kind::call: node.exec = exec_call; break;
      case Kind::function: node.exec = exec_function; break;
      case Kind::native: node.exec = picks(unit, node) ? exec_pick : returns(node) ? exec_return : exec_native; break;
      case Kind::branch: node.exec = exec_branch; break;
      case Kind::condition: node.exec = exec_condition; break;
      case Kind::loop: node.exec = exec_loop; break;
      case Kind::reduce: node.exec = exec_reduce; break;
      default:
        // A value as it stands followed by operators that are not all
        // pure: pushed, then its operators.
        node.head = head;
        node.exec = exec_value_then_operators;
        break;
    }
  }
}

// ---- units ----

// Frees the replaced units that no run uses any more.
void free_retired() {
  std::erase_if(g_retired, [](const std::unique_ptr<Unit>& unit) { return unit->users == 0; });
}

void retire(std::unique_ptr<Unit>& unit) {
  if (unit) g_unit_bytes -= unit->bytes();
  if (unit && unit->users > 0) g_retired.push_back(std::move(unit));
  unit.reset();
}

void drop_all_units() {
  for (auto& unit : g_units) retire(unit);
  g_units.clear();
  g_unit_bytes = 0;
}

// Compiles `block` into slot `index` of the table (a new slot when
// `index` is the table's size). Null when there is nothing to gain.
Unit* compile(const Cell& block, size_t index, uint32_t recompiles) {
  free_retired();
  auto unit = std::make_unique<Unit>();
  unit->node = series::node_of(block);
  unit->index = series::index_of(block);
  unit->recompiles = recompiles;
  Compiler(*unit).block(block);
  if (unit->blocks[0].count == 0) return nullptr;
  set_handlers(*unit);
  if (index == g_units.size()) g_units.emplace_back();
  retire(g_units[index]);
  g_unit_bytes += unit->bytes();
  g_units[index] = std::move(unit);
  return g_units[index].get();
}

// A run of a unit: kept while it lasts, and the one running.
class InUse {
 public:
  explicit InUse(Unit& unit) : unit_(unit), outer_(g_running) {
    ++unit_.users;
    g_running = &unit;
  }
  ~InUse() {
    --unit_.users;
    g_running = outer_;
  }
  InUse(const InUse&) = delete;
  InUse& operator=(const InUse&) = delete;

 private:
  Unit& unit_;
  Unit* outer_;
};

// The unit of `block`, compiled now when it is worth it; null leaves the
// block to the walker.
Unit* unit_of(const Cell& block, SeriesBuf* buf) {
  const uint32_t tag = buf->reserved;
  if (tag < runs_before) {
    buf->reserved = tag + 1;
    return nullptr;
  }
  if (tag == never) return nullptr;
  const NodeId node = series::node_of(block);
  const uint32_t index = series::index_of(block);
  if (tag >= first_unit && tag - first_unit < g_units.size()) {
    const size_t slot = tag - first_unit;
    Unit* unit = g_units[slot].get();
    if (unit && unit->node == node) {
      Block& root = unit->blocks[0];
      if (unit->misses < max_misses && unit->index == index) {
        if (root.checked == detail::code_epoch) return unit;
        if (cells_unchanged(root, unit->copies.data())) {
          root.checked = detail::code_epoch;
          return unit;
        }
      }
      // Changed since, run from another head or missing its guards:
      // compiled again, up to a limit.
      if (unit->recompiles + 1 >= max_recompiles) {
        buf->reserved = never;
        return nullptr;
      }
      Unit* fresh = compile(block, slot, unit->recompiles + 1);
      if (!fresh) memory::buffer(node)->reserved = never;
      return fresh;
    }
  }
  if (cells_in(node) - index > max_block_cells) {
    buf->reserved = never;
    return nullptr;
  }
  if (g_units.size() >= max_units || g_unit_bytes >= max_unit_bytes) drop_all_units();
  const size_t slot = g_units.size();
  Unit* unit = compile(block, slot, 0);
  memory::buffer(node)->reserved = unit ? static_cast<uint32_t>(slot) + first_unit : never;
  return unit;
}

}  // namespace

void init() {
  const char* setting = std::getenv("KIV_COMPILE");
  detail::enabled = !(setting && std::string_view(setting) == "off");
  g_verify = setting && std::string_view(setting) == "verify";
  detail::verifying = false;
  drop_all_units();
}

bool run(const Cell& block, Flow& flow) {
  SeriesBuf* buf = memory::buffer(series::node_of(block));
  if (series::index_of(block) >= (buf->tail - buf->head) / sizeof(Cell)) return false;
  Unit* unit = unit_of(block, buf);
  if (!unit) return false;
  InUse in_use(*unit);
  flow = Runner(*unit).block(0);
  return true;
}

}  // namespace kiv::compiled
