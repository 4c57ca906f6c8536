#include "runtime/eval/interpreter.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <optional>
#include <vector>

#include "runtime/check.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/exits.h"
#include "runtime/core/interrupt.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/state.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/base_words.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/compare.h"
#include "runtime/eval/compiled_blocks.h"
#include "runtime/eval/handover.h"
#include "runtime/eval/fast_paths.h"
#include "runtime/eval/natives.h"
#include "runtime/eval/operator_fast_path.h"
#include "runtime/eval/trace.h"
#include "runtime/platform.h"
#include "runtime/root_block.h"

namespace kiv::interpreter {

Cell handover::detail::current_position{};

namespace {

using stack::ArgStack;

// Kinds of argument in an argument cache (bits 20-21 of the typeset cell).
enum class ArgKind : uint32_t { evaluated = 0, get_word = 1, lit_word = 2, returns = 3 };
constexpr uint32_t kind_shift = 20;
constexpr int max_refinements = 32;
// The refinement arguments of a native call that uses none (see
// native::Entry): -1 for each.
constexpr std::array<int32_t, max_refinements> no_refinements = [] {
  std::array<int32_t, max_refinements> unused{};
  unused.fill(-1);
  return unused;
}();

using handover::detail::current_position;
using handover::is_inert;
using handover::is_prefix_callable;
using handover::PositionKept;
Cell g_body_name{};  // names the frame of a block being evaluated

Cell* cells(SeriesBuf* buf) { return reinterpret_cast<Cell*>(buf->head_ptr()); }
const Cell* cells(const SeriesBuf* buf) { return reinterpret_cast<const Cell*>(buf->head_ptr()); }
Cell* cells(NodeId node) { return cells(memory::buffer(node)); }
uint32_t length(NodeId node) { return memory::buffer(node)->length(); }
// The length of a cell series, without the general unit arithmetic.
uint32_t cell_count(const SeriesBuf* buf) { return (buf->tail - buf->head) / sizeof(Cell); }

// The buffer of the block `code` runs in, read again only after a move.
inline SeriesBuf* code_buffer(Code& code) {
  if (code.relocations != memory::relocations) [[unlikely]] {
    code.buffer = memory::buffer(code.block);
    code.relocations = memory::relocations;
  }
  return code.buffer;
}
inline bool at_end(Code& code) { return code.index >= cell_count(code_buffer(code)); }

Cell name_word(uint32_t symbol_id) { return word::make(TypeId::word, no_node, symbol_id, word::unresolved); }

using handover::check_machine_stack;

// A cache's cells by index; valid until the next allocation.
inline const Cell& cache_cell(NodeId cache, uint32_t index) { return cells(cache)[index]; }

void put(const Cell& value, Into into) {
  if (into == Into::new_cell) ArgStack::push(value);
  else ArgStack::set_result_keep(value);
}

// ---- trace events (trace.h) ----
//
// Each point where the evaluator fires an event tests `trace::tracing`
// once; the work is out of line, here and in trace.cpp.

// The code that `block` (a node being walked) is, for the tracer: the
// block or paren being evaluated, at its head.
Cell traced_code(NodeId block) {
  if (!cell::is(current_position, TypeId::unset) && series::node_of(current_position) == block) {
    Cell code = current_position;
    code.w1 = 0;
    cell::clear_new_line(code);
    return code;
  }
  return series::make(TypeId::block, block);
}

[[gnu::noinline, gnu::cold]] void fire_in_code(trace::Event event, NodeId block, uint32_t index, const Cell& value,
                                              const Cell& ref) {
  trace::fire(event, traced_code(block), static_cast<int32_t>(index), value, ref);
}

// A value pushed or stored by the expression at `index`.
[[gnu::noinline, gnu::cold]] void fire_push(const Code& code, uint32_t index, Into into) {
  const Cell value = into == Into::new_cell ? *ArgStack::last() : *ArgStack::result();
  fire_in_code(trace::Event::push, code.block, index, value, none::make());
}

// A set-word at `index` has set its word to the expression's value.
[[gnu::noinline, gnu::cold]] void fire_set(const Code& code, uint32_t index, const Cell& set_word, Into into) {
  const Cell value = into == Into::new_cell ? *ArgStack::last() : *ArgStack::result();
  fire_in_code(trace::Event::set, code.block, index, value, set_word);
}

// The statement that started at the code position has given its value.
[[gnu::noinline, gnu::cold]] void fire_expr(const Cell& value) {
  trace::fire_at_code(trace::Event::expr, current_position, value, none::make());
}

// ---- argument caches ----

ArgKind kind_of(const Cell& typeset_entry) { return static_cast<ArgKind>((typeset_entry.header >> kind_shift) & 3); }

// The types a spec's type block accepts. A block nested in it adds none.
// A built-in's spec (`fixed`) means the runtime's own typesets by their
// names, whatever the words hold; a function's spec means the words' values.
Cell typeset_of(const Cell& types, bool fixed) {
  Cell set{cell::header(TypeId::typeset), 0, 0, 0};
  for (uint32_t i = 0; i < block::count(types); ++i) {
    Cell item = *block::at(types, i);
    if (cell::is(item, TypeId::word)) {
      const std::optional<Cell> own = fixed ? base_words::builtin_typeset(item.w2) : std::nullopt;
      item = own ? *own : *context::get(item);
    }
    if (cell::is(item, TypeId::datatype)) typeset::add(set, datatype::get(item));
    else if (cell::is(item, TypeId::typeset)) set.w1 |= item.w1, set.w2 |= item.w2, set.w3 |= item.w3;
    else if (!cell::is(item, TypeId::block)) error::raise(error_id::script::invalid_type_spec, item);
  }
  return set;
}

// Any value but unset!.
Cell default_typeset() {
  Cell set{cell::header(TypeId::typeset), 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  const auto unset_bit = static_cast<uint32_t>(TypeId::unset);
  typeset::bitmap_word(set, unset_bit / 32) &= ~typeset::type_bit(unset_bit);
  return set;
}

// An argument's typeset: from the type block after its word, unless that
// is missing or empty.
Cell argument_typeset(const Cell& spec, uint32_t i, ArgKind kind, bool fixed) {
  const bool typed = i + 1 < block::count(spec) && cell::is(*block::at(spec, i + 1), TypeId::block) &&
                     block::count(*block::at(spec, i + 1)) > 0;
  Cell set = typed ? typeset_of(*block::at(spec, i + 1), fixed) : default_typeset();
  set.header |= static_cast<uint32_t>(kind) << kind_shift;
  return set;
}

// A native or action whose calls may be answered in place (see
// answer_in_place): the kind is kept in bits 16-17 of the header of its
// argument cache's cell 0, which every call reads.
enum class InPlace : uint8_t { none, all, any, pick };
constexpr uint32_t in_place_shift = 16;

InPlace in_place_of(const Cell& callable) {
  if (cell::is(callable, TypeId::native)) {
    const natives::Condition kind = natives::condition_of(callable.w1);
    if (kind == natives::Condition::all) return InPlace::all;
    if (kind == natives::Condition::any) return InPlace::any;
  } else if (cell::is(callable, TypeId::action) && action_entries::is_pick(callable.w1)) {
    return InPlace::pick;
  }
  return InPlace::none;
}

// Builds a callable's argument cache from its spec. Cell 0 is the call's
// shape (see `Shape`); then one typeset per argument and one refinement
// per refinement, in spec order.
Cell build_cache(const Cell& callable, bool is_function) {
  const Cell spec = series::make(TypeId::block, callable.w2);
  const bool fixed = !is_function;
  Val cache = block::push_new(8);
  block::append(cache, Cell{cell::header(TypeId::integer), 0, 0, 0});
  uint32_t refinements = 0;
  uint32_t locals = 0;
  uint32_t leading = 0;  // entries before the first refinement
  for (uint32_t i = 0; i < block::count(spec); ++i) {
    const Cell item = *block::at(spec, i);
    switch (cell::type_of(item)) {
      case TypeId::word: block::append(cache, argument_typeset(spec, i, ArgKind::evaluated, fixed)); break;
      case TypeId::get_word: block::append(cache, argument_typeset(spec, i, ArgKind::get_word, fixed)); break;
      case TypeId::lit_word: block::append(cache, argument_typeset(spec, i, ArgKind::lit_word, fixed)); break;
      case TypeId::set_word:
        if (!symbol::equal_caseless(symbol::spelling(item.w2), "return")) error::raise(error_id::script::bad_func_def, item);
        block::append(cache, argument_typeset(spec, i, ArgKind::returns, fixed));
        break;
      case TypeId::refinement:
        if (symbol::equal_caseless(symbol::spelling(item.w2), "local")) {
          locals = 1;
          for (uint32_t k = i + 1; k < block::count(spec) && !cell::is(*block::at(spec, k), TypeId::set_word); ++k)
            if (cell::is(*block::at(spec, k), TypeId::word)) ++locals;
          i = block::count(spec);
          break;
        }
        {
          if (refinements == 0) leading = block::count(*cache) - 1;
          Cell refinement = item;
          refinement.w3 = ++refinements;
          block::append(cache, refinement);
        }
        break;
      default:
        break;
    }
  }
  if (refinements == 0) leading = block::count(*cache) - 1;
  if (!is_function && refinements > max_refinements) error::raise(error_id::script::bad_func_def, spec);
  const uint32_t in_place = static_cast<uint32_t>(in_place_of(callable)) << in_place_shift;
  *block::at(*cache, 0) = Cell{cell::header(TypeId::integer) | in_place, leading, is_function ? locals : 0, refinements};
  const Cell built = *cache;
  stack::pop(1);
  return built;
}

// Cell 0 of an argument cache.
struct Shape {
  uint32_t leading;      // entries before the first refinement
  uint32_t locals;       // a function's /local cells: its flag and words
  uint32_t refinements;
};

Shape shape_of(NodeId cache) {
  const Cell& head = cells(cache)[0];
  return {head.w1, head.w2, head.w3};
}

inline Cell* cache_slot(const Cell& callable) {
  if (cell::is(callable, TypeId::function) || cell::is(callable, TypeId::routine)) return function::metadata_slot(callable, function::meta::cache);
  return cells(callable.w3) + native::cache_cell;
}

// A callable's first call: its cache is built and kept.
[[gnu::noinline]] NodeId first_cache(const Cell& callable) {
  const bool with_flags = cell::is(callable, TypeId::function) || cell::is(callable, TypeId::routine);
  const Cell built = build_cache(callable, with_flags);
  *cache_slot(callable) = built;
  return series::node_of(built);
}

// Every call reads it: kept inline in each copy of the call path.
[[gnu::always_inline]] inline NodeId cache_of(const Cell& callable) {
  const Cell* slot = cache_slot(callable);
  if (cell::is(*slot, TypeId::block)) [[likely]] return series::node_of(*slot);
  return first_cache(callable);
}

// The word of argument `n` (0-based, refinements not counted) of a spec,
// for error messages.
Cell argument_word(const Cell& callable, uint32_t n) {
  const Cell spec = series::make(TypeId::block, callable.w2);
  uint32_t seen = 0;
  for (uint32_t i = 0; i < block::count(spec); ++i) {
    const Cell item = *block::at(spec, i);
    if (type_traits::is_argument_word(cell::type_of(item)) && seen++ == n) return item;
  }
  return none::make();
}

// ---- the number fast path of operators ----
//
// Arithmetic and comparison operators on two numbers are the bulk of most
// loops. When the right operand is a number written in the code, or a word
// holding one, and the operation cannot fail, the operator's work is done
// here without a call: no frame, no argument fetching. Anything else (other
// types, a division by zero, an integer overflow that turns into a float)
// takes the full call, so its errors and results are exactly the call's.

// What an operator does, learnt once per wrapped function (the kinds are
// operator_fast_path.h's).
uint8_t g_fast_actions[256];
uint8_t g_fast_natives[256];
// Whether a native or action only reads the series it is given (see
// may_write_code). 0: not known yet, 1: reads only, 2: may write.
uint8_t g_reading_natives[256];
uint8_t g_reading_actions[256];

// The tables are learnt again when the runtime starts again.
void forget_fast_operators() {
  std::fill(std::begin(g_reading_actions), std::end(g_reading_actions), 0);
  std::fill(std::begin(g_reading_natives), std::end(g_reading_natives), 0);
  std::fill(std::begin(g_fast_actions), std::end(g_fast_actions), fast_unknown);
  std::fill(std::begin(g_fast_natives), std::end(g_fast_natives), fast_unknown);
}

// The first meeting of an operator wrapping the action or native `op.w1`.
[[gnu::noinline]] uint8_t learn_fast_kind(const Cell& op, TypeId wrapped, uint8_t& known) {
  known = fast_none;
  if (wrapped == TypeId::action) {
    if (const auto math = action_entries::arithmetic_of(op.w1)) known = fast_math + static_cast<uint8_t>(*math);
  } else if (const auto comparison = natives::comparison_of(op.w1)) {
    known = fast_compare + static_cast<uint8_t>(*comparison);
  }
  return known;
}

inline uint8_t fast_kind(const Cell& op) {
  if (op.w1 >= 256) return fast_none;
  const TypeId wrapped = native::wrapped_type(op);
  uint8_t* table = wrapped == TypeId::action ? g_fast_actions : wrapped == TypeId::native ? g_fast_natives : nullptr;
  if (!table) return fast_none;
  uint8_t& known = table[op.w1];
  if (known != fast_unknown) [[likely]] return known;
  return learn_fast_kind(op, wrapped, known);
}

// ---- calls ----

struct Call {
  Cell callable;
  Cell name;
  const Cell* path;     // a path naming refinements after the callable, or null
  uint32_t path_index;  // the callable's element in the path
  bool infix;
  uint8_t fast = fast_none;  // an operator's number fast path (see fast_kind)
};

// A cell's value when the walker takes it with no evaluation step: the
// cell itself when it is inert (but an issue!, which may start #system
// code), a word's value when that is neither unset nor a function; else
// null.
inline const Cell* value_as_it_stands(const Cell& cell) {
  const TypeId type = cell::type_of(cell);
  if (type == TypeId::word) {
    if (cell.w1 == no_node || cell.w3 == word::unresolved) return nullptr;
    const Cell* value = context::slot(cell.w1, cell.w3);
    if (!value) return nullptr;
    const TypeId value_type = cell::type_of(*value);
    return value_type == TypeId::unset || type_traits::is_any_function(value_type) ? nullptr : value;
  }
  return type != TypeId::issue && is_inert(type) ? &cell : nullptr;
}

// The operator that `word` (a cell of the code) names, if it names one.
inline const Cell* operator_of(const Cell& word) {
  if (!cell::is(word, TypeId::word) || word.w1 == no_node || word.w3 == word::unresolved) return nullptr;
  const Cell* op_slot = context::slot(word.w1, word.w3);  // null: a context without values
  if (!op_slot || !cell::is(*op_slot, TypeId::op)) return nullptr;
  return op_slot;
}

// The right operand of an operator, when it is a number written in the
// code or a word holding one (else null).
inline const Cell* number_operand(const Cell& operand) {
  const Cell* right = &operand;
  if (cell::is(operand, TypeId::word)) {
    if (operand.w1 == no_node || operand.w3 == word::unresolved) return nullptr;
    right = context::slot(operand.w1, operand.w3);
    if (!right) return nullptr;
  }
  return is_integer_or_float(*right) ? right : nullptr;
}

// ---- parens of arithmetic ----
//
// A paren holding one operand (a number written in the code, or a word
// holding one) with number operators after it, each with a fast path, or
// such parens nested: the walker evaluates it without side effects and
// without errors. Worked out here, it costs no evaluation of a block, no
// frame and no stack cell; anything else answers false, having changed
// nothing, and takes the general path.

constexpr int max_paren_depth = 4;
// A paren (or a block of all and any, below) whose attempts failed this
// many times, a call inside it say, is not tried again: the general path
// is always right, only slower. The count is the buffer's code_hints.
constexpr uint32_t max_code_misses = 8;

inline bool paren_number(const Cell& paren, Cell& value, int depth);

// An operand: a paren of arithmetic, or else a value that the code gives
// as it stands (with `numbers`, a number only).
inline bool operand_in_code(const Cell& cell, Cell& value, int depth, bool numbers) {
  if (cell::is(cell, TypeId::paren)) return paren_number(cell, value, depth + 1);
  const Cell* held = numbers ? number_operand(cell) : value_as_it_stands(cell);
  if (!held) return false;
  value = *held;
  return true;
}

// An operand and the operators after it, from `at` up to a cell that is no
// operator (`at` is left there): every operator with a fast path, every
// operand a number, but the first, which with `any_first` may be any value
// that the code gives as it stands.
[[gnu::always_inline]] inline bool operator_chain(const Cell* code, uint32_t count, uint32_t& at, Cell& value, int depth,
                                                  bool any_first) {
  if (at >= count) return false;
  if (!operand_in_code(code[at], value, depth, !any_first)) return false;
  for (++at; at < count; at += 2) {
    const Cell* op = operator_of(code[at]);
    if (!op) return true;
    if (at + 1 >= count) return false;
    const uint8_t fast = fast_kind(*op);
    Cell right;
    // A comparison gives a logic! value, which no further operator of a
    // fast path takes.
    if (fast == fast_none || !is_integer_or_float(value) || !operand_in_code(code[at + 1], right, depth, true)) return false;
    if (!fast_operation(fast, value, right)) return false;
  }
  return true;
}

// A paren tried anew: its chain worked out, or its misses counted.
[[gnu::noinline]] bool paren_chain(SeriesBuf* inner, const Cell& paren, Cell& value, int depth) {
  const uint32_t count = cell_count(inner);
  uint32_t at = paren.w1;
  if (operator_chain(cells(inner), count, at, value, depth, false) && at == count) return true;
  ++inner->code_hints;
  return false;
}

// Inline: most parens that are not arithmetic are turned away here, by
// the count of their misses.
inline bool paren_number(const Cell& paren, Cell& value, int depth) {
  if (depth > max_paren_depth) return false;
  SeriesBuf* inner = memory::buffer(series::node_of(paren));
  if (inner->code_hints >= max_code_misses) return false;
  return paren_chain(inner, paren, value, depth);
}

// ---- calls answered in place ----
//
// A few natives and actions, in their commonest case, have no side effect
// and raise no error: a call of them there would show nowhere, neither its
// frame nor its evaluation steps. They are answered here, as the natives
// would answer:
// - `all` and `any` of a block (written in the code) whose expressions are
//   all chains as above, or whose answer comes before the first that is
//   not;
// - `pick` of a block (written in the code or held by a word) by an
//   integer (likewise): the cell at that position, or none.
// Any other case takes the call, having changed nothing. Which natives and
// actions these are, their argument caches tell (see in_place_of).

// The answer of `all` (or `any`) over the block's expressions.
bool condition_answer(const Cell& block, bool any, Cell& answer) {
  SeriesBuf* buf = memory::buffer(series::node_of(block));
  if (buf->code_hints >= max_code_misses) return false;
  const Cell* code = cells(buf);
  const uint32_t count = cell_count(buf);
  Cell last = none::make();
  for (uint32_t at = block.w1; at < count;) {
    Cell value;
    if (!operator_chain(code, count, at, value, 0, true)) {
      ++buf->code_hints;
      return false;
    }
    const bool truthy = logic::is_true(value);
    if (any && truthy) {
      answer = value;
      return true;
    }
    if (!any && !truthy) {
      answer = none::make();
      return true;
    }
    last = value;
  }
  answer = any ? none::make() : last;
  return true;
}

// The call of kind `kind` whose arguments start at the code position: its
// answer, the position moved past them; false leaves it to the call.
inline bool answer_in_place(InPlace kind, Code& code, Cell& answer) {
  const SeriesBuf* buf = code_buffer(code);
  const Cell* at = cells(buf) + code.index;
  const uint32_t left = cell_count(buf) - code.index;
  if (kind == InPlace::pick) {
    Cell series;
    Cell index;
    if (left < 2 || !operand_in_code(at[0], series, 0, false) || !operand_in_code(at[1], index, 0, false)) return false;
    if (!cell::is(index, TypeId::integer) || !action_entries::picks_cells(series)) return false;
    // An operator after the index would take it as its left operand.
    if (left > 2 && operator_of(at[2])) return false;
    answer = series_type::pick_cell(series, cell::get_int32(index));
    code.index += 2;
    return true;
  }
  // all, any: the block must not be the left operand of an operator.
  if (left == 0 || !cell::is(at[0], TypeId::block) || (left > 1 && operator_of(at[1]))) return false;
  if (!condition_answer(at[0], kind == InPlace::any, answer)) return false;
  ++code.index;
  return true;
}

// eval_expression without the test of the trace switch: for the untraced
// copies of the evaluator, which the switch cannot turn on midway (tracing
// starts at a block's or a body's start).
Flow eval_expression_untraced(Code& code, Into into, Infix infix, bool literal);

// The commonest arguments, a value written in the code or a word holding a
// value that is not a function, when no operator can follow: pushed
// without an evaluation step. False leaves the argument to eval_expression.
// Not while tracing: an argument's evaluation step has its events.
inline bool push_simple_argument(Code& code, const SeriesBuf* buf, bool no_infix) {
  const Cell* at = cells(buf) + code.index;
  if (!no_infix && code.index + 1 < cell_count(buf) && cell::is(at[1], TypeId::word)) return false;
  const Cell* value = value_as_it_stands(at[0]);
  if (!value) return false;
  ArgStack::push(*value);
  ++code.index;
  return true;
}

Flow fetch_argument(const Call& call, Code& code, ArgKind kind, const Cell& types, uint32_t arg_index) {
  const SeriesBuf* buf = code_buffer(code);
  if (code.index >= cell_count(buf)) [[unlikely]] {
    if (kind == ArgKind::lit_word && typeset::has(types, TypeId::unset)) {
      ArgStack::push(unset::make());
      return Flow::normal;
    }
    error::raise(error_id::script::no_arg, call.name, argument_word(call.callable, arg_index));
  }
  switch (kind) {
    case ArgKind::evaluated:
      if (!trace::tracing && push_simple_argument(code, buf, call.infix)) return Flow::normal;
      // An operator's right operand takes no operators of its own: they
      // apply left to right.
      return eval_expression(code, Into::new_cell, call.infix ? Infix::stop : Infix::take);
    case ArgKind::get_word:
      ArgStack::push(cells(code.block)[code.index++]);
      if (trace::tracing) [[unlikely]] fire_push(code, code.index - 1, Into::new_cell);
      return Flow::normal;
    default: {
      const Cell item = cells(code.block)[code.index++];
      switch (cell::type_of(item)) {
        case TypeId::paren: return eval_in_window(item);
        case TypeId::get_word: ArgStack::push(*context::get(item)); break;
        case TypeId::get_path: {
          Code one{code.block, code.index - 1};
          return eval_expression(one, Into::new_cell, Infix::stop);
        }
        default: ArgStack::push(item); break;
      }
      if (trace::tracing) [[unlikely]] fire_push(code, code.index - 1, Into::new_cell);
      return Flow::normal;
    }
  }
}

// An evaluated argument: the commonest ones pushed here, inline (but not
// while tracing); the rest evaluated. `traced` as in eval_expression: the
// untraced copy tests no switch.
template <bool traced>
[[gnu::always_inline]] inline Flow fetch_evaluated(const Call& call, Code& code, const Cell& types, uint32_t arg_index) {
  const SeriesBuf* buf = code_buffer(code);
  if (code.index >= cell_count(buf)) [[unlikely]] return fetch_argument(call, code, ArgKind::evaluated, types, arg_index);
  if constexpr (traced) {
    return eval_expression(code, Into::new_cell, call.infix ? Infix::stop : Infix::take);
  } else {
    if (push_simple_argument(code, buf, call.infix)) return Flow::normal;
    // An operator's right operand in parentheses takes no operators after
    // it: its value is the paren's, without an expression step around it.
    if (call.infix && cell::is(cells(buf)[code.index], TypeId::paren)) {
      const Cell paren = cells(buf)[code.index++];
      return eval_in_window(paren);
    }
    return eval_expression_untraced(code, Into::new_cell, call.infix ? Infix::stop : Infix::take, false);
  }
}

[[noreturn]] void raise_expect_arg(const Call& call, TypeId type, uint32_t arg_index) {
  error::raise(error_id::script::expect_arg, call.name, datatype::make(type), argument_word(call.callable, arg_index));
}

// An argument must be of its entry's types.
inline void check_argument(const Call& call, const Cell& types, uint32_t arg_index, const Cell& value) {
  const TypeId type = cell::type_of(value);
  if (!typeset::has(types, type)) [[unlikely]] raise_expect_arg(call, type, arg_index);
}

// Activates the refinements that the path names after the callable.
Flow apply_path_refinements(const Call& call, Code& code, NodeId cache_node, bool is_function, int32_t* refs) {
  const Cell cache = series::make(TypeId::block, cache_node);
  const Cell& path = *call.path;
  const uint32_t base = ArgStack::base_index();
  std::vector<uint32_t> used;
  for (uint32_t e = call.path_index + 1; e < block::count(path); ++e) {
    const Cell element = *block::at(path, e);
    if (!cell::is(element, TypeId::word) && !cell::is(element, TypeId::get_word))
      error::raise(error_id::script::bad_refine, element);
    if (cell::is(element, TypeId::get_word) && !logic::is_true(*context::get(element))) continue;
    // Find the refinement and where its arguments go.
    uint32_t flag_cell = 0;
    int64_t found = -1;
    for (uint32_t i = 1, cell_index = 0; i < block::count(cache); ++i) {
      const Cell entry = *block::at(cache, i);
      if (cell::is(entry, TypeId::refinement)) {
        if (symbol::resolve(entry.w2) == symbol::resolve(element.w2)) {
          found = i;
          flag_cell = cell_index;
          break;
        }
        if (is_function) ++cell_index;
      } else if (cell::is(entry, TypeId::typeset)) {
        ++cell_index;
      }
    }
    if (found < 0) error::raise(error_id::script::no_refine, call.name, element);
    for (uint32_t u : used)
      if (u == found) error::raise(error_id::script::dup_refine, element);
    used.push_back(static_cast<uint32_t>(found));
    const Cell refinement = *block::at(cache, static_cast<uint32_t>(found));
    uint32_t arg_index = 0;
    for (uint32_t i = 1; i < static_cast<uint32_t>(found); ++i)
      if (cell::is(*block::at(cache, i), TypeId::typeset)) ++arg_index;
    if (is_function) {
      *ArgStack::at(base + flag_cell) = logic::make(true);
      uint32_t target = base + flag_cell + 1;
      for (uint32_t i = static_cast<uint32_t>(found) + 1; i < block::count(cache); ++i, ++target, ++arg_index) {
        const Cell entry = *block::at(cache, i);
        if (!cell::is(entry, TypeId::typeset) || kind_of(entry) == ArgKind::returns) break;
        KIV_PROPAGATE(fetch_argument(call, code, kind_of(entry), entry, arg_index));
        check_argument(call, entry, arg_index, *ArgStack::last());
        *ArgStack::at(target) = *ArgStack::last();
        stack::pop(1);
      }
    } else {
      refs[refinement.w3 - 1] = static_cast<int32_t>(ArgStack::depth() - base);
      for (uint32_t i = static_cast<uint32_t>(found) + 1; i < block::count(cache); ++i, ++arg_index) {
        const Cell entry = *block::at(cache, i);
        if (!cell::is(entry, TypeId::typeset) || kind_of(entry) == ArgKind::returns) break;
        KIV_PROPAGATE(fetch_argument(call, code, kind_of(entry), entry, arg_index));
        check_argument(call, entry, arg_index, *ArgStack::last());
      }
    }
  }
  return Flow::normal;
}

// A function's body, once its window is its context's values and its
// frame the target of return and exit.
[[gnu::always_inline]] inline Flow run_function_body(const Cell& function) {
  const Cell body = function::metadata(function, function::meta::body);
  Flow flow = Flow::normal;
  if (cell::is(body, TypeId::block)) {
    // The body runs in the function's window, above its arguments and
    // locals; an exit that had to cross C++ code ends here if it is ours.
    try {
      flow = eval_in_window(body);
    } catch (const Unwind& unwind) {
      flow = exit_flow(unwind);
    }
    if (flow == Flow::normal) ArgStack::set_result_keep(*ArgStack::last());
  } else {
    ArgStack::set_result_keep(unset::make());
  }
  if (flow == Flow::exit) {
    const uint32_t code = runtime::state.pending;
    if (code != exit_code::return_value && code != exit_code::exit_function) return Flow::exit;
    runtime::state.pending = 0;  // the function's own frame is back on top with the value
  }
  return Flow::normal;
}

// The word naming the call of the top frame.
Cell top_frame_name() { return stack::frame_name(stack::top_frame()); }

// A function's body while a trace runs: under the function's own trace
// switch, between its prolog and epilog events.
[[gnu::noinline, gnu::cold]] Flow run_traced_body(const Cell& function) {
  trace::BodySwitch body_switch(function.header);
  const Cell name = top_frame_name();  // an exit may leave other frames on top
  if (trace::tracing) {
    const Cell body = function::metadata(function, function::meta::body);
    const Cell code = cell::is(body, TypeId::block) ? body : none::make();
    trace::fire_at_code(trace::Event::prolog, code, function, name);
  }
  const Flow flow = run_function_body(function);
  if (trace::tracing) {
    // An exit on its way out is kept while the tracer runs.
    const uint32_t pending = runtime::state.pending;
    runtime::state.pending = 0;
    const Cell result = flow == Flow::normal ? *ArgStack::result() : none::make();
    trace::fire_at_code(trace::Event::epilog, none::make(), result, name);
    runtime::state.pending = pending;
  }
  return flow;
}

Flow eval_function_body(const Cell& function) {
  context::set_values_base(function.w1, ArgStack::base_index());
  stack::set_return_target(true);
  if (trace::active) [[unlikely]] return run_traced_body(function);
  return run_function_body(function);
}

// The cells a function's window holds for its refinements when the call
// uses none of them: false for each flag, none for each of its arguments.
void push_unused_refinements(NodeId cache, uint32_t from) {
  for (uint32_t i = from; i < length(cache); ++i) {
    const Cell& entry = cache_cell(cache, i);
    if (cell::is(entry, TypeId::refinement)) ArgStack::push(logic::make(false));
    else if (cell::is(entry, TypeId::typeset) && kind_of(entry) != ArgKind::returns) ArgStack::push(none::make());
  }
}

// Whether a call of a native, action or routine (its arguments in the
// window) may write to a block's cells: one that writes any series given a
// value that holds code. Learnt once per native and action.
[[gnu::noinline]] uint8_t learn_reading(TypeId type, uint32_t index, uint8_t& known) {
  const bool reads = type == TypeId::action ? action_entries::reads_only(index) : natives::reads_only(index);
  known = reads ? 1 : 2;
  return known;
}

inline bool may_write_code(const Cell& callable, TypeId type) {
  if (type == TypeId::routine || callable.w1 >= 256) return true;
  uint8_t& known = type == TypeId::action ? g_reading_actions[callable.w1] : g_reading_natives[callable.w1];
  if ((known != 0 ? known : learn_reading(type, callable.w1, known)) == 1) return false;
  for (const Cell* value = ArgStack::result().get(); value < ArgStack::top(); ++value) {
    const TypeId held = cell::type_of(*value);
    if (type_traits::is_any_block(held) || type_traits::is_any_function(held) || held == TypeId::object ||
        held == TypeId::port || held == TypeId::map)
      return true;
  }
  return false;
}

// Runs a call whose arguments are in its window: a native's or action's
// entry with its refinement table, or a function's or routine's body once
// its locals are pushed (the /local flag, then none for each local).
[[gnu::always_inline]] inline Flow run_with_arguments(const Cell& callable, TypeId type, const int32_t* refs, uint32_t locals) {
  if (type != TypeId::function && may_write_code(callable, type)) compiled::code_may_change();
  if (type != TypeId::function && type != TypeId::routine) {
    const native::Entry entry = type == TypeId::action ? action_entries::entry(callable.w1) : natives::entry(callable.w1);
    return entry(refs);
  }
  if (locals > 0) {
    ArgStack::push(logic::make(false));
    for (uint32_t i = 1; i < locals; ++i) ArgStack::push(none::make());
  }
  if (type == TypeId::routine) return routine::body_of(callable)();
  return eval_function_body(callable);
}

// What names a call for the tracer: its path, its word, or for a function
// value called as it stands, the function itself.
Cell call_reference(const Call& call) {
  if (call.path) return *call.path;
  if (call.name.w2 == stack::anon_symbol()) return call.callable;
  return call.name;
}

// open (before the arguments), call (they are complete) and return (the
// call's value is in place), at `at`: where the callable stands in the
// code (its word, path or operator).
[[gnu::noinline, gnu::cold]] void fire_call_event(trace::Event event, const Call& call, NodeId block, uint32_t at,
                                                 const Cell& value) {
  const Cell ref = event == trace::Event::open ? none::make() : call_reference(call);
  fire_in_code(event, block, at, value, ref);
}

// The same for a call made by apply, whose callable stands in no code.
[[gnu::noinline, gnu::cold]] void fire_applied_call_event(trace::Event event, const Call& call, const Cell& value) {
  const Cell ref = event == trace::Event::open ? none::make() : call_reference(call);
  trace::fire(event, none::make(), -1, value, ref);
}

// Fetches the arguments of a call into the window of its (already pushed)
// frame and runs the callable; its result is left in the frame's base.
// `traced`: the copy that fires the call event (see call_value), with the
// callable at `at` in the code.
template <bool traced>
// `fetched`: the arguments already in the window (an operator's left
// operand, or those that compiled code fetched).
[[gnu::always_inline]] inline Flow fetch_and_run(const Call& call, Code& code, uint32_t at, NodeId known_cache,
                                                 uint32_t fetched) {
  const Cell& callable = call.callable;
  const TypeId type = cell::type_of(callable);
  const bool is_routine = type == TypeId::routine;
  const bool is_function = type == TypeId::function || is_routine;
  const uint32_t base = ArgStack::base_index();
  if (call.fast != fast_none && fetched == 1 && is_integer_or_float(*ArgStack::at(base))) {
    // An operator on numbers: with its right operand a number too, the
    // work is done here, without the argument cache or the dispatch.
    KIV_PROPAGATE(fetch_evaluated<traced>(call, code, callable, 1));
    fetched = 2;
    if (is_integer_or_float(*ArgStack::at(base + 1)) &&
        fast_operation(call.fast, *ArgStack::at(base), *ArgStack::at(base + 1))) {
      ArgStack::keep();
      return Flow::normal;
    }
  }
  const NodeId cache = known_cache != no_node ? known_cache : cache_of(callable);
  const Cell* entries = cells(cache);
  uint64_t entries_read = memory::relocations;
  const Shape shape{entries[0].w1, entries[0].w2, entries[0].w3};
  // The arguments before the first refinement. Fetching may move the
  // cache's buffer: its address is read again only after a move.
  for (uint32_t i = 1, arg_index = 0; i <= shape.leading; ++i) {
    if (entries_read != memory::relocations) [[unlikely]] {
      entries = cells(cache);
      entries_read = memory::relocations;
    }
    const Cell entry = entries[i];
    const ArgKind kind = kind_of(entry);
    if (kind == ArgKind::returns) [[unlikely]] continue;
    if (arg_index >= fetched) {
      if (kind == ArgKind::evaluated) KIV_PROPAGATE(fetch_evaluated<traced>(call, code, entry, arg_index));
      else KIV_PROPAGATE(fetch_argument(call, code, kind, entry, arg_index));
    }
    check_argument(call, entry, arg_index, *ArgStack::at(base + arg_index));
    ++arg_index;
  }
  if (is_function && shape.refinements > 0) push_unused_refinements(cache, shape.leading + 1);
  if (!call.path) {
    if constexpr (traced) fire_call_event(trace::Event::call, call, code.block, at, callable);
    return run_with_arguments(callable, type, no_refinements.data(), shape.locals);
  }
  int32_t refs[max_refinements];
  if (!is_function)
    for (uint32_t r = 0; r < shape.refinements; ++r) refs[r] = -1;
  KIV_PROPAGATE(apply_path_refinements(call, code, cache, is_function, refs));
  if constexpr (traced) fire_call_event(trace::Event::call, call, code.block, at, callable);
  return run_with_arguments(callable, type, refs, shape.locals);
}

// A call whose frame is marked and whose first `fetched` arguments are in
// its window: the rest fetched, the callable run, the frame popped and the
// result put where `into` says (from `slot` up for a new cell).
template <bool traced>
[[gnu::always_inline]] inline Flow complete_call(const Call& call, Code& code, Into into, uint32_t slot, uint32_t at,
                                                 NodeId cache, uint32_t fetched) {
  KIV_PROPAGATE(fetch_and_run<traced>(call, code, at, cache, fetched));
  const Cell result = *ArgStack::result();
  stack::pop_frame();
  if (into == Into::new_cell) {
    ArgStack::drop_to(slot);
    ArgStack::push(result);
  } else {
    ArgStack::set_result_keep(result);
  }
  if constexpr (traced) fire_call_event(trace::Event::return_, call, code.block, at, result);
  return Flow::normal;
}

// A call, in two copies as eval_expression's: the one that fires the
// open, call and return events, and the one that tests no switch.
template <bool traced>
[[gnu::always_inline]] inline Flow call_value_copy(const Call& call, Code& code, Into into) {
  // The callable (or the operator) is the cell before the arguments. An
  // operator's open event fired before its left operand left the stack.
  const uint32_t at = traced && code.index > 0 ? code.index - 1 : 0;
  if (traced && !call.infix) fire_call_event(trace::Event::open, call, code.block, at, call.callable);
  const uint32_t slot = ArgStack::depth();
  NodeId cache = no_node;  // read here once built: fetch_and_run reads it otherwise
  if (!call.infix) {
    ArgStack::push(call.callable);
    const Cell* built = cache_slot(call.callable);
    if (cell::is(*built, TypeId::block)) {
      cache = series::node_of(*built);
      const auto kind = static_cast<InPlace>((cells(cache)[0].header >> in_place_shift) & 3);
      if (!traced && kind != InPlace::none && !call.path) [[unlikely]] {
        Cell answer;
        if (answer_in_place(kind, code, answer)) {
          ArgStack::drop_to(slot);
          put(answer, into);
          return Flow::normal;
        }
      }
    }
  }
  handover::mark_frame(call.callable, call.name);
  // An infix call's left operand, just above the top, is its first
  // argument: take it back before anything else uses the stack.
  if (call.infix) ArgStack::drop_to(ArgStack::depth() + 1);
  return complete_call<traced>(call, code, into, slot, at, cache, call.infix ? 1 : 0);
}

[[gnu::noinline, gnu::cold]] Flow call_value_traced(const Call& call, Code& code, Into into) {
  return call_value_copy<true>(call, code, into);
}

Flow call_value(const Call& call, Code& code, Into into) {
  check_machine_stack();
  if (trace::tracing) [[unlikely]] return call_value_traced(call, code, into);
  return call_value_copy<false>(call, code, into);
}

// ---- paths ----

// A path evaluated (a function on it is called), set (set-path!) or got
// (get-path!: a function on it is an error).
enum class PathMode : uint8_t { evaluate, set, get };

// The enter and fetch events of a path, whose first element is `first`.
[[gnu::noinline, gnu::cold]] void fire_path_start(const Cell& path, const Cell& first) {
  trace::fire_for_block(trace::Event::enter, path, none::make());
  if (trace::tracing) trace::fire_at_code(trace::Event::fetch, path, first, none::make());
}

// `called` tells whether the path ended in a call of a function.
Flow eval_path_steps(const Cell& path, Code& code, Into into, PathMode mode, bool& called);

// A set-path changes a scalar (a date, a time, ...) in a copy on the stack:
// the copy is then stored back where it was read from, through the path
// setter of the value before it (which tells that value's owner), and so
// on back while that value is a scalar too (`d/time/hour: 5`), or into the
// word the path starts from. `chain` holds, for each step from 1 to `last`,
// the value before the step and its selector; `changed` is the value
// before step `last`, now changed.
void store_back(const Cell& first, uint32_t chain, Val changed, const Cell& path, uint32_t last) {
  Cell new_value = *changed;
  for (uint32_t step_index = last; step_index > 1; --step_index) {
    Val container = ArgStack::at(chain + 2 * (step_index - 2));
    Val selector = ArgStack::at(chain + 2 * (step_index - 2) + 1);
    // A container that is no scalar holds its values by reference: the
    // store is seen by everyone. (Its setter may leave anything in its cell.)
    const bool scalar = type_traits::is_scalar(cell::type_of(*container));
    const action::PathFn step_fn = datatype::actions(cell::type_of(*container)).eval_path;
    PathStep step{container, selector, &new_value, path, step_index - 1, true, false};
    step_fn(step);
    if (!scalar) return;
    new_value = *container;
  }
  Val word = ArgStack::push(first);
  Val value = ArgStack::push(new_value);
  context::set(word, value);
  stack::pop(2);
}

Flow eval_path(const Cell& path, Code& code, Into into, PathMode mode) {
  if (mode == PathMode::set) compiled::code_may_change();
  bool called = false;
  if (!trace::tracing) [[likely]] return eval_path_steps(path, code, into, mode, called);
  const uint32_t count = block::count(path);
  if (count == 0) error::raise(error_id::script::empty_path, path);
  if (!cell::is(*block::at(path, 0), TypeId::word)) error::raise(error_id::script::word_first, path);
  fire_path_start(path, *block::at(path, 0));
  KIV_PROPAGATE(eval_path_steps(path, code, into, mode, called));
  const Cell result = into == Into::new_cell ? *ArgStack::last() : *ArgStack::result();
  if (trace::tracing) trace::fire_for_block(trace::Event::exit, path, result);
  // The value a path leads to is pushed (a set-path's has its set event).
  if (trace::tracing && !called && mode != PathMode::set)
    fire_in_code(trace::Event::push, code.block, code.index > 0 ? code.index - 1 : 0, result, none::make());
  return Flow::normal;
}

Flow eval_path_steps(const Cell& path, Code& code, Into into, PathMode mode, bool& called) {
  const bool set_mode = mode == PathMode::set;
  const bool get_mode = mode == PathMode::get;
  const uint32_t count = block::count(path);
  if (count == 0) error::raise(error_id::script::empty_path, path);
  const Cell first = *block::at(path, 0);
  if (!cell::is(first, TypeId::word)) error::raise(error_id::script::word_first, path);
  const Cell start = *context::get(first);
  if (cell::is(start, TypeId::unset)) error::raise(error_id::script::unset_path, path, first);
  if (is_prefix_callable(cell::type_of(start))) {
    if (set_mode) error::raise(error_id::script::invalid_path_set, path);
    if (get_mode) error::raise(error_id::script::invalid_path_get, path);
    Cell refinements_path = path;
    cell::set_type(refinements_path, TypeId::path);
    called = true;
    return call_value({start, first, &refinements_path, 0, false}, code, into);
  }
  const Cell new_value = set_mode ? *ArgStack::last() : unset::make();
  Val value = ArgStack::push(start);
  const uint32_t chain = ArgStack::depth();  // set mode: the values met, for store_back
  for (uint32_t i = 1; i < count; ++i) {
    Cell selector = *block::at(path, i);
    if (cell::is(selector, TypeId::get_word)) selector = *context::get(selector);
    else if (cell::is(selector, TypeId::paren)) {
      KIV_PROPAGATE(eval_in_window(selector));
      selector = *ArgStack::last();
      stack::pop(1);
    }
    if (cell::is(selector, TypeId::unset)) error::raise(error_id::script::invalid_path, path, selector);
    const action::PathFn step_fn = datatype::actions(cell::type_of(*value)).eval_path;
    if (!step_fn) error::raise(error_id::script::bad_path_type, path, selector, datatype::make(cell::type_of(*value)));
    if (set_mode) {
      ArgStack::push(*value);
      ArgStack::push(selector);
    }
    Val selector_cell = ArgStack::push(selector);
    const bool last = i + 1 == count;
    const bool scalar_set = set_mode && last && type_traits::is_scalar(cell::type_of(*value));
    PathStep step{value, selector_cell, set_mode && last ? &new_value : nullptr, path, i, last, get_mode};
    step_fn(step);
    stack::pop(1);
    if (scalar_set) store_back(first, chain, value, path, i);
    if (!set_mode && !get_mode && is_prefix_callable(cell::type_of(*value))) {
      const Cell callable = *value;
      Cell refinements_path = path;
      cell::set_type(refinements_path, TypeId::path);
      stack::pop(1);
      called = true;
      return call_value({callable, selector, &refinements_path, i, false}, code, into);
    }
  }
  const Cell result = set_mode ? new_value : *value;
  ArgStack::drop_to(chain - 1);
  if (set_mode) stack::pop(1);  // the value to set, pushed by the caller
  put(result, into);
  return Flow::normal;
}

// ---- apply: arguments taken from a block ----

// One cell of an apply's block, evaluated as if the block ended after it.
Flow eval_one_cell(Code& code) {
  Val one = block::push_new(1);
  block::append(one, cells(code_buffer(code))[code.index++]);
  Code alone{series::node_of(*one), 0};
  KIV_PROPAGATE(eval_expression(alone, Into::new_cell, Infix::stop));
  const Cell value = *ArgStack::last();
  stack::pop(2);
  ArgStack::push(value);
  return Flow::normal;
}

// Pushes the next argument of an apply: none once the block is exhausted.
Flow fetch_applied(const Call& call, Code& code, const Cell& entry, uint32_t arg_index, bool one_cell) {
  if (at_end(code)) ArgStack::push(none::make());
  else if (one_cell && kind_of(entry) == ArgKind::evaluated) KIV_PROPAGATE(eval_one_cell(code));
  else KIV_PROPAGATE(fetch_argument(call, code, kind_of(entry), entry, arg_index));
  check_argument(call, entry, arg_index, *ArgStack::last());
  return Flow::normal;
}

// Passes over the block's value for an argument of a refinement that is
// off: evaluated and dropped, or with one_cell skipped.
Flow skip_applied(Code& code, bool one_cell) {
  if (at_end(code)) return Flow::normal;
  if (one_cell) {
    ++code.index;
    return Flow::normal;
  }
  KIV_PROPAGATE(eval_expression(code, Into::new_cell));
  stack::pop(1);
  return Flow::normal;
}

// The truth of the value that switches a refinement on or off.
Flow refinement_switch(Code& code, bool one_cell, bool& on) {
  on = false;
  if (at_end(code)) return Flow::normal;
  if (one_cell) KIV_PROPAGATE(eval_one_cell(code));
  else KIV_PROPAGATE(eval_expression(code, Into::new_cell));
  on = logic::is_true(*ArgStack::last());
  stack::pop(1);
  return Flow::normal;
}

// Fills the arguments of a refinement: into the cells after its flag for a
// function (`at`), at the window's end for a native or action.
Flow fill_refinement(const Call& call, Code& code, NodeId cache, uint32_t found, bool is_function, uint32_t at,
                     bool on, bool one_cell) {
  uint32_t arg_index = 0;
  for (uint32_t i = 1; i < found; ++i)
    if (cell::is(cache_cell(cache, i), TypeId::typeset) && kind_of(cache_cell(cache, i)) != ArgKind::returns) ++arg_index;
  for (uint32_t i = found + 1; i < length(cache); ++i, ++at, ++arg_index) {
    const Cell entry = cache_cell(cache, i);
    if (!cell::is(entry, TypeId::typeset) || kind_of(entry) == ArgKind::returns) break;
    if (!on) {
      KIV_PROPAGATE(skip_applied(code, one_cell));
      continue;
    }
    KIV_PROPAGATE(fetch_applied(call, code, entry, arg_index, one_cell));
    if (is_function) {
      *ArgStack::at(at) = *ArgStack::last();
      stack::pop(1);
    }
  }
  return Flow::normal;
}

// The refinements that an apply's block names, each as a refinement!
// followed by the value that switches it and then its arguments.
Flow apply_named_refinements(const Call& call, Code& code, NodeId cache, bool is_function, bool one_cell,
                             int32_t* refs) {
  const uint32_t base = ArgStack::base_index();
  std::vector<uint32_t> named;
  while (!at_end(code)) {
    const Cell element = cells(code_buffer(code))[code.index++];
    if (!cell::is(element, TypeId::refinement)) error::raise(error_id::script::bad_refine, element);
    uint32_t flag_cell = 0;
    int64_t found = -1;
    for (uint32_t i = 1, cell_index = 0; i < length(cache); ++i) {
      const Cell& entry = cache_cell(cache, i);
      if (cell::is(entry, TypeId::refinement)) {
        if (symbol::resolve(entry.w2) == symbol::resolve(element.w2)) {
          found = i;
          flag_cell = cell_index;
          break;
        }
        if (is_function) ++cell_index;
      } else if (cell::is(entry, TypeId::typeset) && kind_of(entry) != ArgKind::returns) {
        ++cell_index;
      }
    }
    if (found < 0) error::raise(error_id::script::no_refine, call.name, element);
    if (std::find(named.begin(), named.end(), static_cast<uint32_t>(found)) != named.end())
      error::raise(error_id::script::dup_refine, element);
    named.push_back(static_cast<uint32_t>(found));
    bool on = false;
    KIV_PROPAGATE(refinement_switch(code, one_cell, on));
    const uint32_t index = static_cast<uint32_t>(found);
    if (is_function) *ArgStack::at(base + flag_cell) = logic::make(on);
    else if (on) refs[cache_cell(cache, index).w3 - 1] = static_cast<int32_t>(ArgStack::depth() - base);
    KIV_PROPAGATE(fill_refinement(call, code, cache, index, is_function, base + flag_cell + 1, on, one_cell));
  }
  return Flow::normal;
}

// Fetches an apply's arguments into the window of its (already pushed)
// frame and runs the callable, as fetch_and_run does for code.
Flow apply_and_run(const Call& call, Code& code, uint32_t mode) {
  const bool all = (mode & apply_mode::all) != 0;
  const bool one_cell = (mode & apply_mode::one_cell) != 0;
  const bool as_is = (mode & apply_mode::as_is) != 0;
  const Cell& callable = call.callable;
  const TypeId type = cell::type_of(callable);
  const bool is_routine = type == TypeId::routine;
  const bool is_function = type == TypeId::function || is_routine;
  const uint32_t base = ArgStack::base_index();
  const NodeId cache = cache_of(callable);
  const Shape shape = shape_of(cache);
  int32_t refs[max_refinements];
  for (uint32_t r = 0; r < shape.refinements && r < max_refinements; ++r) refs[r] = -1;
  // The arguments in spec order: all of them with `all`, else those before
  // the first refinement.
  const uint32_t end = all ? length(cache) : shape.leading + 1;
  bool taking = true;  // false inside a refinement that is off
  for (uint32_t i = 1, arg_index = 0; i < end; ++i) {
    const Cell entry = cache_cell(cache, i);
    if (cell::is(entry, TypeId::refinement)) {
      if (as_is) taking = false;
      else KIV_PROPAGATE(refinement_switch(code, one_cell, taking));
      if (is_function) ArgStack::push(logic::make(taking));
      else if (taking) refs[entry.w3 - 1] = static_cast<int32_t>(ArgStack::depth() - base);
      continue;
    }
    if (!cell::is(entry, TypeId::typeset) || kind_of(entry) == ArgKind::returns) continue;
    if (taking && as_is) {
      ArgStack::push(at_end(code) ? none::make() : cells(code_buffer(code))[code.index++]);
      check_argument(call, entry, arg_index, *ArgStack::last());
    } else if (taking) {
      KIV_PROPAGATE(fetch_applied(call, code, entry, arg_index, one_cell));
    } else {
      if (!as_is) KIV_PROPAGATE(skip_applied(code, one_cell));
      if (is_function) ArgStack::push(none::make());
    }
    ++arg_index;
  }
  if (!all && is_function && shape.refinements > 0) push_unused_refinements(cache, shape.leading + 1);
  // The path's refinements take their arguments next, before those that
  // the block names.
  if (call.path) KIV_PROPAGATE(apply_path_refinements(call, code, cache, is_function, refs));
  if (!all && (mode & apply_mode::named)) KIV_PROPAGATE(apply_named_refinements(call, code, cache, is_function, one_cell, refs));
  if (trace::tracing) [[unlikely]] fire_applied_call_event(trace::Event::call, call, callable);
  return run_with_arguments(callable, type, refs, shape.locals);
}

// Where an error is raised: the word naming the running call, the
// expression being evaluated and the depth of the call stack, up to which
// the error's call trace is taken.
void locate_error(Cell& where, Cell& near, uint32_t& call_depth) {
  call_depth = stack::call_depth();
  if (call_depth > 0) where = stack::caller_name();
  // Outside any evaluation (the console showing a result) there is no
  // expression: near stays none.
  if (!cell::is(current_position, TypeId::unset)) near = current_position;
}

}  // namespace

void init() {
  forget_fast_operators();
  compiled::init();
  g_body_name = name_word(stack::body_symbol());
  current_position = unset::make();
  roots::add_permanent(&current_position);
  error::set_locator(&locate_error);
}

Cell code_position() { return current_position; }

Flow exit_flow(const Unwind& unwind) {
  if (unwind.code == exit_code::error || runtime::state.pending != unwind.code) throw;
  return Flow::exit;
}

namespace {

// The statements of a block, each stored into the result slot, in two
// copies as eval_expression's: with the trace events (enter, expr after
// each statement, exit) and without a test of the switch.
template <bool traced>
[[gnu::always_inline]] inline Flow run_statements(const Cell& block) {
  Code code{series::node_of(block), series::index_of(block)};
  if constexpr (traced) trace::fire_for_block(trace::Event::enter, block, none::make());
  if (at_end(code)) {
    ArgStack::set_result_keep(unset::make());
  } else {
    current_position = block;
    for (;;) {
      current_position.w1 = code.index;
      KIV_PROPAGATE(eval_expression(code, Into::result_slot));
      if constexpr (traced) fire_expr(*ArgStack::result());
      if (at_end(code)) break;
      ArgStack::reset();
    }
  }
  if constexpr (traced) trace::fire_for_block(trace::Event::exit, block, *ArgStack::result());
  return Flow::normal;
}

[[gnu::noinline, gnu::cold]] Flow run_statements_traced(const Cell& block) { return run_statements<true>(block); }

}  // namespace

Flow eval_block(const Cell& block, bool last) {
  check_machine_stack();
  PositionKept keep_position;
  stack::mark(g_body_name, stack::frame::body | stack::frame::interpreter);
  try {
    if (trace::tracing) [[unlikely]] KIV_PROPAGATE(run_statements_traced(block));
    else KIV_PROPAGATE(run_statements<false>(block));
  } catch (const Unwind& unwind) {
    return exit_flow(unwind);
  }
  if (last) stack::unwind_last();
  else stack::unwind();
  return Flow::normal;
}

Flow eval_next(const Cell& block, uint32_t& index) {
  check_machine_stack();
  PositionKept keep_position;
  stack::mark(g_body_name, stack::frame::body | stack::frame::interpreter);
  Code code{series::node_of(block), index};
  current_position = block;
  current_position.w1 = index;
  try {
    KIV_PROPAGATE(eval_expression(code, Into::result_slot));
  } catch (const Unwind& unwind) {
    return exit_flow(unwind);
  }
  index = code.index;
  stack::unwind();
  return Flow::normal;
}

namespace {

// eval_in_window's statements, in two copies as run_statements.
template <bool traced>
[[gnu::always_inline]] inline Flow run_in_window(const Cell& block, uint32_t from) {
  const uint32_t top = ArgStack::depth();
  Code code{series::node_of(block), from};
  if constexpr (traced) trace::fire_for_block(trace::Event::enter, block, none::make());
  if (at_end(code)) {
    ArgStack::push(unset::make());
  } else {
    current_position = block;
    for (;;) {
      current_position.w1 = code.index;
      KIV_PROPAGATE(eval_expression(code, Into::new_cell));
      if constexpr (traced) fire_expr(*ArgStack::last());
      if (at_end(code)) break;
      ArgStack::drop_to(top);
    }
  }
  if constexpr (traced) trace::fire_for_block(trace::Event::exit, block, *ArgStack::last());
  return Flow::normal;
}

[[gnu::noinline, gnu::cold]] Flow run_in_window_traced(const Cell& block) {
  return run_in_window<true>(block, series::index_of(block));
}

}  // namespace

Flow eval_in_window(const Cell& block) {
  check_machine_stack();
  PositionKept keep_position;
  if (trace::tracing) [[unlikely]] return run_in_window_traced(block);
  if (compiled::enabled()) [[likely]] {
    Flow flow;
    if (compiled::run(block, flow)) return flow;
  }
  return run_in_window<false>(block, series::index_of(block));
}

namespace {

// #system or #system-global followed by a block: code of the low-level
// dialect, which only the compiler can run.
bool starts_system_code(const Cell& issue, Code& code) {
  if (at_end(code) || !cell::is(cells(code_buffer(code))[code.index], TypeId::block)) return false;
  const std::string_view name = symbol::spelling(issue.w2);
  return symbol::equal_caseless(name, "system") || symbol::equal_caseless(name, "system-global");
}

// The heads that are rarer in hot code, or costly anyway (paths): out of
// line, so that the commonest keep eval_expression's frame small.
[[gnu::noinline]] Flow eval_head_rare(const Cell& value, Code& code, Into into, bool literal) {
  switch (cell::type_of(value)) {
    case TypeId::lit_word: {
      Cell word = value;
      put(cell::set_type(word, TypeId::word), into);
      break;
    }
    case TypeId::get_word:
      put(*context::get(value), into);
      break;
    case TypeId::native:
    case TypeId::action:
    case TypeId::function:
    case TypeId::routine:
      if (literal) {
        put(value, into);
        break;
      }
      return call_value({value, name_word(stack::anon_symbol()), nullptr, 0, false}, code, into);
    case TypeId::op:
      error::raise(error_id::internal::not_done);
    case TypeId::path:
      return eval_path(value, code, into, PathMode::evaluate);
    case TypeId::lit_path: {
      Cell path = value;
      cell::set_type(path, TypeId::path);
      path.w3 = 0;
      put(path, into);
      break;
    }
    case TypeId::set_path: {
      if (at_end(code)) error::raise(error_id::script::need_value, value);
      const uint32_t position = code.index - 1;
      KIV_PROPAGATE(eval_expression(code, Into::new_cell));
      KIV_PROPAGATE(eval_path(value, code, into, PathMode::set));
      if (trace::tracing) [[unlikely]] {
        const Cell set_value = into == Into::new_cell ? *ArgStack::last() : *ArgStack::result();
        fire_in_code(trace::Event::set, code.block, position, set_value, value);
      }
      return Flow::normal;
    }
    case TypeId::get_path:
      return eval_path(value, code, into, PathMode::get);
    case TypeId::issue:
      if (starts_system_code(value, code)) error::raise(error_id::internal::kiv_system);
      put(value, into);
      break;
    default:
      put(value, into);
      break;
  }
  // A value that stands for itself, or for a word's value.
  if (trace::tracing) [[unlikely]] fire_push(code, code.index - 1, into);
  return Flow::normal;
}

// Evaluates the value that starts an expression (the cell just taken from
// `code`), with its arguments when it names a call.
// Inlined into eval_expression, its one caller: a call of its own costs
// every expression a few percent.
// `traced`: the copy that fires the trace events (see eval_expression).
// `operators_taken`: set when the expression has already taken the
// operators after it (see eval_expression_copy).
template <bool traced>
[[gnu::always_inline]] inline Flow eval_head(const Cell& value, Code& code, Into into, bool literal,
                                             bool& operators_taken) {
  switch (cell::type_of(value)) {
    case TypeId::paren:
      if constexpr (!traced) {
        Cell number;
        if (paren_number(value, number, 0)) {
          put(number, into);
          return Flow::normal;
        }
      }
      return into == Into::new_cell ? eval_in_window(value) : eval_block(value, true);
    case TypeId::word: {
      const Cell target = *context::get(value);
      const TypeId type = cell::type_of(target);
      if (is_prefix_callable(type)) return call_value({target, value, nullptr, 0, false}, code, into);
      if (type == TypeId::unset) error::raise(error_id::script::no_value, value);
      if (type == TypeId::op) error::raise(error_id::script::no_op_arg, value);
      put(target, into);
      if constexpr (traced) fire_push(code, code.index - 1, into);
      return Flow::normal;
    }
    case TypeId::set_word: {
      if (at_end(code)) error::raise(error_id::script::need_value, value);
      const uint32_t position = code.index - 1;
      const uint32_t top = ArgStack::depth();
      if constexpr (traced) KIV_PROPAGATE(eval_expression(code, Into::new_cell));
      else KIV_PROPAGATE(eval_expression_untraced(code, Into::new_cell, Infix::take, false));
      if (context::set_direct(value, *ArgStack::last())) {
        // The value's expression stopped before a cell that is no
        // operator, and a direct store runs no code that could change that.
        operators_taken = true;
        if (into == Into::result_slot) ArgStack::set_result_keep(*ArgStack::last());
        if constexpr (traced) fire_set(code, position, value, into);
        return Flow::normal;
      }
      Val word = ArgStack::push(value);
      context::set(word, ArgStack::at(top));
      // Keep the resolved index in the code, so the next store is direct.
      Cell& in_code = cells(code_buffer(code))[position];
      if (in_code.w2 == word->w2 && in_code.w1 == word->w1) in_code.w3 = word->w3;
      const Cell result = *ArgStack::at(top);
      ArgStack::drop_to(top);
      put(result, into);
      if constexpr (traced) fire_set(code, position, value, into);
      return Flow::normal;
    }
    default:
      if (!is_inert(cell::type_of(value)) || cell::is(value, TypeId::issue)) return eval_head_rare(value, code, into, literal);
      put(value, into);
      if constexpr (traced) fire_push(code, code.index - 1, into);
      return Flow::normal;
  }
}

// An operator met after a value: its fetch and open events, while its left
// operand is still on the stack.
[[gnu::noinline, gnu::cold]] void fire_operator(const Code& code, const Cell& name, const Cell& op) {
  fire_in_code(trace::Event::fetch, code.block, code.index, name, none::make());
  if (trace::tracing) fire_in_code(trace::Event::open, code.block, code.index, op, none::make());
}

// The infix operators after a value (the newest cell, or the result
// slot): each takes the value so far as its left operand.
template <bool traced>
[[gnu::always_inline]] inline Flow take_operators(Code& code, Into into) {
  for (;;) {
    const SeriesBuf* buf = code_buffer(code);
    const uint32_t count = cell_count(buf);
    if (code.index >= count) break;
    const Cell* at = cells(buf) + code.index;
    const Cell* op_slot = operator_of(at[0]);
    if (!op_slot) break;
    // While tracing, every operator is a call, with its events.
    const uint8_t fast = traced ? fast_none : fast_kind(*op_slot);
    if (fast != fast_none && code.index + 1 < count) {
      Cell& left = *ArgStack::last();
      const Cell* right = is_integer_or_float(left) ? number_operand(at[1]) : nullptr;
      if (right && fast_operation(fast, left, *right)) {
        code.index += 2;
        continue;
      }
      // A paren of arithmetic on the right: worked out in place.
      Cell number;
      if (!right && cell::is(at[1], TypeId::paren) && is_integer_or_float(left) && paren_number(at[1], number, 0) &&
          is_integer_or_float(number) && fast_operation(fast, left, number)) {
        code.index += 2;
        continue;
      }
    }
    const Cell name = at[0];
    Cell function = *op_slot;
    if constexpr (traced) fire_operator(code, name, function);
    ++code.index;
    function.header = cell::header(native::wrapped_type(function));
    stack::pop(1);  // the left operand: re-taken as the first argument
    KIV_PROPAGATE(call_value({function, name, nullptr, 0, true, fast}, code, into));
  }
  return Flow::normal;
}

// One expression, in two copies: the one that fires the trace events, and
// the one that runs while tracing is off, which tests no switch.
template <bool traced>
[[gnu::always_inline]] inline Flow eval_expression_copy(Code& code, Into into, Infix infix, bool literal) {
  const Cell value = cells(code_buffer(code))[code.index++];
  if constexpr (traced) fire_in_code(trace::Event::fetch, code.block, code.index - 1, value, none::make());
  bool operators_taken = false;
  KIV_PROPAGATE(eval_head<traced>(value, code, into, literal, operators_taken));
  if (infix == Infix::stop || operators_taken) return Flow::normal;
  return take_operators<traced>(code, into);
}

[[gnu::noinline, gnu::cold]] Flow eval_expression_traced(Code& code, Into into, Infix infix, bool literal) {
  return eval_expression_copy<true>(code, into, infix, literal);
}

Flow eval_expression_untraced(Code& code, Into into, Infix infix, bool literal) {
  return eval_expression_copy<false>(code, into, infix, literal);
}

}  // namespace

Flow eval_expression(Code& code, Into into, Infix infix, bool literal) {
  if (trace::tracing) [[unlikely]] return eval_expression_traced(code, into, infix, literal);
  return eval_expression_untraced(code, into, infix, literal);
}

Flow call_function(const Cell& function) {
  KIV_PROPAGATE(eval_function_body(function));
  stack::set_return_target(false);  // the caller's frame may outlive the call
  return Flow::normal;
}

size_t push_arguments(const Cell& function, std::span<const Cell> args) {
  const Cell spec = series::make(TypeId::block, function.w2);
  size_t taken = 0;
  bool optional = false;
  for (uint32_t i = 0; i < block::count(spec); ++i) {
    const TypeId type = cell::type_of(*block::at(spec, i));
    if (type == TypeId::refinement) {
      optional = true;
      ArgStack::push(logic::make(false));
    } else if (type_traits::is_argument_word(type)) {
      ArgStack::push(!optional && taken < args.size() ? args[taken++] : none::make());
    }
  }
  return taken;
}

Flow get_path(const Cell& path) {
  Code code{series::node_of(path), length(series::node_of(path))};
  return eval_path(path, code, Into::new_cell, PathMode::get);
}

Flow set_path(const Cell& path, const Cell& value) {
  Code code{series::node_of(path), length(series::node_of(path))};
  ArgStack::push(value);  // taken by eval_path
  KIV_PROPAGATE(eval_path(path, code, Into::new_cell, PathMode::set));
  stack::pop(1);
  return Flow::normal;
}

Flow apply(const Cell& callable, const Cell& name, const Cell* path, uint32_t path_index, const Cell& args,
           uint32_t mode) {
  check_machine_stack();
  const Call call{callable, name, path, path_index, false};
  const uint32_t total = length(series::node_of(args));
  Code code{series::node_of(args), std::min(series::index_of(args), total)};
  if (trace::tracing) [[unlikely]] fire_applied_call_event(trace::Event::open, call, callable);
  ArgStack::push(callable);
  const TypeId type = cell::type_of(callable);
  if (type == TypeId::function || type == TypeId::routine)
    stack::mark_function(name, callable.w1, stack::frame::function | stack::frame::interpreter, callable.w2);
  else
    stack::mark(name, stack::frame::native | stack::frame::interpreter, callable.w2);
  KIV_PROPAGATE(apply_and_run(call, code, mode));
  const Cell result = *ArgStack::result();
  stack::pop_frame();
  ArgStack::set_result_keep(result);
  if (trace::tracing) [[unlikely]] fire_applied_call_event(trace::Event::return_, call, result);
  return Flow::normal;
}

}  // namespace kiv::interpreter

namespace kiv::interpreter::handover {

Flow rest_of_block(const Cell& block, uint32_t from) { return run_in_window<false>(block, from); }

Flow operators_from(Code& code) { return take_operators<false>(code, Into::new_cell); }

Flow finish_call(const Cell& callable, const Cell& name, bool infix, uint32_t slot, uint32_t fetched, Code& code) {
  Cell called = callable;
  if (infix) called.header = cell::header(native::wrapped_type(callable));
  const Call call{called, name, nullptr, 0, infix, fast_none};
  return complete_call<false>(call, code, Into::new_cell, slot, 0, no_node, fetched);
}

uint8_t fast_kind_of(const Cell& op) { return fast_kind(op); }

bool argument_kinds(const Cell& callable, ArgumentKind* kinds, uint32_t capacity, uint32_t& count) {
  // Read from the spec as build_cache reads it (an operator's cache may
  // never be built: its fast path needs none).
  const Cell spec = series::make(TypeId::block, callable.w2);
  count = 0;
  for (uint32_t i = 0; i < block::count(spec); ++i) {
    const Cell& item = *block::at(spec, i);
    ArgumentKind kind;
    switch (cell::type_of(item)) {
      case TypeId::word: kind = ArgumentKind::evaluated; break;
      case TypeId::get_word: kind = ArgumentKind::get_word; break;
      case TypeId::lit_word: kind = ArgumentKind::lit_word; break;
      case TypeId::refinement: return true;
      default: continue;
    }
    if (count == capacity) return false;
    kinds[count++] = kind;
  }
  return true;
}

bool call_entries(const Cell& callable, Cell* typesets, uint32_t capacity, CallEntries& entries) {
  const Cell* built = cache_slot(callable);
  if (!cell::is(*built, TypeId::block)) return false;
  const NodeId cache = series::node_of(*built);
  const Shape shape = shape_of(cache);
  entries = {0, shape.locals, shape.refinements};
  for (uint32_t i = 1; i <= shape.leading; ++i) {
    const Cell& entry = cache_cell(cache, i);
    if (kind_of(entry) == ArgKind::returns) continue;
    if (entries.count == capacity) return false;
    typesets[entries.count++] = entry;
  }
  return true;
}

Flow run_body(const Cell& function) { return eval_function_body(function); }

Flow run_native(const Cell& callable) {
  return run_with_arguments(callable, cell::type_of(callable), no_refinements.data(), 0);
}

}  // namespace kiv::interpreter::handover
