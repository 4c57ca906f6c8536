// The parse engine's state loop (parse.h gives the frame model).
//
// States, each a case of the loop in `Engine::run`:
//   fetch        read the next rule value of the current block; at its end
//                the block is done
//   dispatch     act on one rule value by its type (a keyword, a sub-rule,
//                a literal, a paren, a set-word or get-word, a count)
//   deliver      a rule has a result (`matched`): a command frame on top
//                applies it; else a success goes on with the next value and
//                a failure tries the block's next alternative
//   command      apply a result to the command frame on top
//   alternative  the current alternative failed: put the input back where
//                the block was entered and go on after the next `|`, or
//                end the block failed
//   block_done   a block ended: pop it and deliver its result outwards
//   finish       the outermost block ended: settle the answer
// A keyword that needs the rule after it pushes a command frame and goes on
// to fetch that rule; the rule's result comes back to the frame through
// `deliver`.
//
// Positions: `pos` indexes the current rule block's buffer and always
// points after the last rule value read; `in` is the current input with its
// index (w1) at the current position; the end of the matchable input is the
// lesser of its tail and the /part limit (`limit`, only on the outermost
// input).
#include "runtime/eval/parse.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "runtime/core/collector.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/exits.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/check.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/compare.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/lexer.h"
#include "runtime/eval/parse_input.h"

namespace kiv::parse {
namespace {

using stack::ArgStack;
using type_traits::is_any_block;
using type_traits::is_any_path;
using type_traits::is_any_string;
using type_traits::is_series;

// ---- keywords ----

enum class Kw : uint8_t {
  not_keyword = 0, any, break_, copy, end, fail, into, opt, not_, quote, case_, reject, set, skip, some, thru, to,
  none, bar, dash, if_, remove, while_, insert, only, collect, keep, pick, ahead, after, change, count_,
};
constexpr std::array<std::string_view, static_cast<size_t>(Kw::count_)> keyword_names = {
    "",    "any",    "break", "copy",   "end",   "fail",   "into", "opt",     "not",  "quote", "case",
    "reject", "set", "skip",  "some",   "thru",  "to",     "none", "|",       "-",    "if",    "remove",
    "while", "insert", "only", "collect", "keep", "pick", "ahead", "after", "change"};

uint32_t g_keyword_symbols[static_cast<size_t>(Kw::count_)];
constexpr uint8_t unknown_symbol = 0xFF;
// Keyword of each symbol id met so far (unknown_symbol until asked).
std::vector<uint8_t> g_keyword_of_symbol;

Kw keyword_of(const Cell& word) {
  const uint32_t id = word.w2;
  if (id < g_keyword_of_symbol.size() && g_keyword_of_symbol[id] != unknown_symbol)
    return static_cast<Kw>(g_keyword_of_symbol[id]);
  const uint32_t canonical = symbol::resolve(id);
  Kw found = Kw::not_keyword;
  for (size_t k = 1; k < keyword_names.size(); ++k)
    if (g_keyword_symbols[k] == canonical) found = static_cast<Kw>(k);
  if (id >= g_keyword_of_symbol.size()) g_keyword_of_symbol.resize(id + 1, unknown_symbol);
  g_keyword_of_symbol[id] = static_cast<uint8_t>(found);
  return found;
}

bool is_keyword(const Cell& value, Kw keyword) {
  return cell::is(value, TypeId::word) && keyword_of(value) == keyword;
}

// ---- trace events ----

enum class Event : uint8_t { push, pop, fetch, match, iterate, paren, end };
constexpr std::array<std::string_view, 7> event_names = {"push", "pop", "fetch", "match", "iterate", "paren", "end"};
Cell g_event_words[event_names.size()];
Cell g_callback_name;

// ---- frames ----

enum class Cmd : uint8_t { block, repeat, to, thru, copy, set, not_, into, remove, collect, keep, ahead, change, case_ };

enum class CollectMode : uint8_t { plain, set, into, after };

constexpr Cell no_value{cell::header(TypeId::none), 0, 0, 0};

struct Frame {
  Cell rules = no_value;     // block: the block entered; command: the block holding it
  Cell arg = no_value;       // copy, set, collect set/into/after: the word; into: the outer input
  Cell arg2 = no_value;      // collect: the target at its insertion point; into: the inner input
  uint32_t pos = 0;          // where matching resumes in `rules` while a deeper frame runs
  uint32_t start = 0;        // input index at entry
  uint32_t start_total = 0;  // input length then
  uint32_t iter = 0;         // repeat, to, thru: input index at this iteration's start
  uint32_t iter_total = 0;   // input length then
  uint32_t rule_pos = 0;     // command: where its rule begins
  uint32_t value_pos = 0;    // change: the value after the rule
  uint32_t saved_limit = 0;  // into: the outer input's limit
  int32_t min = 0;           // repeat: the counts
  int32_t max = 0;           //   (-1: no most)
  int32_t count = 0;         // repeat: iterations that matched
  Cmd cmd = Cmd::block;
  bool loop_always = false;  // repeat of `while`: no progress guard
  bool only = false;         // change only, keep pick
  bool saved_case = false;   // case: the mode before
  CollectMode collect_mode = CollectMode::plain;
};

uint32_t cells_of(const Frame& frame) { return frame.cmd == Cmd::block ? 2 : 3; }

// The frames of every run, nested runs above their caller's.
std::vector<Frame> g_frames;
uint32_t g_cells = 0;

void mark_frames() {
  for (const Frame& frame : g_frames) {
    collector::mark_cell(frame.rules);
    collector::mark_cell(frame.arg);
    collector::mark_cell(frame.arg2);
  }
}

// Drops a run's frames however the run ends.
class FrameGuard {
 public:
  FrameGuard() : size_(g_frames.size()), cells_(g_cells) {}
  ~FrameGuard() {
    g_frames.resize(size_, Frame{});
    g_cells = cells_;
  }
  size_t base() const { return size_; }
  FrameGuard(const FrameGuard&) = delete;
  FrameGuard& operator=(const FrameGuard&) = delete;

 private:
  size_t size_;
  uint32_t cells_;
};

Cell none_cell() { return none::make(); }

// ---- reading rules ----

const Cell& rule_at(const Cell& rules, uint32_t pos) { return input::cells(rules)[pos]; }
uint32_t rules_tail(const Cell& rules) { return input::total(rules); }

// The position after one whole rule starting at `pos` (for a count of 0,
// which skips its rule, and for the value after `change`'s rule).
uint32_t rule_end(const Cell& rules, uint32_t pos) {
  const uint32_t tail = rules_tail(rules);
  while (pos < tail) {
    const Cell value = rule_at(rules, pos);
    if (cell::is(value, TypeId::integer)) {
      ++pos;
      if (pos < tail && cell::is(rule_at(rules, pos), TypeId::integer)) ++pos;
      continue;
    }
    if (!cell::is(value, TypeId::word)) return pos + 1;
    switch (keyword_of(value)) {
      case Kw::any: case Kw::some: case Kw::opt: case Kw::while_: case Kw::not_: case Kw::ahead:
      case Kw::to: case Kw::thru: case Kw::remove: case Kw::into:
        ++pos;
        continue;
      case Kw::copy: case Kw::set: case Kw::case_:
        pos += 2;
        continue;
      case Kw::quote: case Kw::if_:
        return std::min(pos + 2, tail);
      case Kw::collect:
        ++pos;
        if (pos < tail && (is_keyword(rule_at(rules, pos), Kw::set) || is_keyword(rule_at(rules, pos), Kw::into) ||
                           is_keyword(rule_at(rules, pos), Kw::after)))
          pos += 2;
        continue;
      case Kw::keep:
        ++pos;
        if (pos < tail && is_keyword(rule_at(rules, pos), Kw::pick)) ++pos;
        continue;
      case Kw::insert:
        ++pos;
        if (pos < tail && is_keyword(rule_at(rules, pos), Kw::only)) ++pos;
        return std::min(pos + 1, tail);
      case Kw::change:
        ++pos;
        if (pos < tail && is_keyword(rule_at(rules, pos), Kw::only)) ++pos;
        return std::min(rule_end(rules, pos) + 1, tail);
      default:
        return pos + 1;
    }
  }
  return tail;
}

// ---- the engine ----

enum class State : uint8_t { fetch, deliver, command, alternative, block_done, finish };

class Engine {
 public:
  Engine(Val input, Val rules, const Options& options, size_t base)
      : in_(*input), rules_(*rules), limit_(options.limit), case_(options.case_sensitive),
        tracer_(options.tracer), base_(base) {
    kind_ = input::kind_of(cell::type_of(in_));
    tracing_ = cell::is(tracer_, TypeId::function);
    seek(std::min(index(), total()));
  }

  Flow run(Val result);

 private:
  // -- input --
  uint32_t index() const { return in_.w1; }
  void seek(uint32_t index) { in_.w1 = index; }
  uint32_t total() const { return input::total(in_); }
  uint32_t end() const { return std::min(total(), limit_); }
  bool at_end() const { return index() >= end(); }
  // Keeps the index within the tail after the input may have shrunk:
  // `before` is its length when the index was last right.
  void remeasure(uint32_t before) {
    const uint32_t now = total();
    if (now < before && index() > now) seek(index() - std::min(index(), before - now));
    if (index() > now) seek(now);
  }

  // -- frames --
  Frame& top() { return g_frames.back(); }
  bool has_frames() const { return g_frames.size() > base_; }
  void push_frame(const Frame& frame) {
    g_cells += cells_of(frame);
    if (g_cells > stack_limit_cells) error::raise(error_id::script::parse_stack);
    g_frames.push_back(frame);
  }
  void pop_frame() {
    g_cells -= cells_of(g_frames.back());
    g_frames.pop_back();
  }

  Flow enter_block(const Cell& block);
  Flow push_command(Frame frame);
  Flow dispatch(const Cell& value, State& next);
  Flow keyword(Kw keyword, const Cell& word, State& next);
  Flow apply_command(State& next);
  Flow finish_command(State& next);
  Flow end_repetition(bool reject, State& next);
  void match_literal(const Cell& value);
  void match_scanned(const Cell& type);
  Flow match_count(const Cell& first, State& next);
  Flow repeat(Frame frame, State& next);
  bool repeat_in_place(int32_t min, int32_t max);
  Flow to_thru(bool thru, State& next);

  Flow value_after(Cell& value);
  Flow eval_paren(const Cell& paren, Cell* value);
  Cell word_value(const Cell& word);
  bool position_word(const Cell& value, uint32_t& at);
  void need_rule(const Cell& keyword_word);
  void set_word(const Cell& word, const Cell& value);
  Frame* innermost_collect();
  void emit(Frame& collect, const Cell& value, bool pick);
  void keep_range(uint32_t start, uint32_t stop, bool pick);
  Cell edit(const Cell& at_series, const Cell& value, int32_t part, bool only, bool change);
  void remove_range(uint32_t from, uint32_t count);

  Flow fire(Event event);
  Flow call_tracer(Event event);

  Cell in_;
  Cell rules_;
  uint32_t pos_ = 0;
  uint32_t limit_;
  input::Kind kind_;
  bool case_;
  bool matched_ = true;
  bool tracing_;
  bool stopped_ = false;  // the tracer asked to stop
  Cell tracer_;
  size_t base_;
  Rooted<Cell> collected_{none_cell()};  // the block of a top-level collect
};

// ---- tracing ----

Flow Engine::fire(Event event) {
  if (!tracing_ || stopped_) return Flow::normal;
  return call_tracer(event);
}

// Calls the tracer with the event, the match flag, the rules at the
// current position, the input at its position and a block of the frames'
// rule positions (innermost last). A false answer stops the run.
Flow Engine::call_tracer(Event event) {
  const uint32_t depth = stack::depth();
  Val frames = block::push_new(static_cast<uint32_t>(g_frames.size() - base_ + 1));
  for (size_t i = base_; i < g_frames.size(); ++i) {
    const Frame frame = g_frames[i];
    Cell at = frame.rules;
    at.w1 = i + 1 == g_frames.size() ? std::min(pos_, rules_tail(frame.rules)) : frame.pos;
    block::append(frames, at);
  }
  Cell rule = rules_;
  rule.w1 = std::min(pos_, rules_tail(rules_));
  const Cell args[] = {g_event_words[static_cast<size_t>(event)], logic::make(matched_), rule, in_, *frames};
  const Cell callback = tracer_;
  const uint32_t before = total();
  stack::mark_function(g_callback_name, callback.w1, stack::frame::function);
  (void)interpreter::push_arguments(callback, args);
  if (interpreter::call_function(callback) != Flow::normal) return Flow::exit;
  const Cell answer = *ArgStack::result();
  stack::pop_frame();
  stack::drop_to(depth);
  remeasure(before);  // the tracer may have changed the input or the rules
  pos_ = std::min(pos_, rules_tail(rules_));
  if (!logic::is_true(answer)) stopped_ = true;
  return Flow::normal;
}

// ---- helpers ----

// Evaluates a paren; its value goes to `value` when asked for. The input
// may change meanwhile: the index is kept within the input.
Flow Engine::eval_paren(const Cell& paren, Cell* value) {
  const uint32_t depth = stack::depth();
  const uint32_t before = total();
  if (interpreter::eval_block(paren, false) != Flow::normal) return Flow::exit;
  if (value) *value = *ArgStack::last();
  stack::drop_to(depth);
  remeasure(before);
  pos_ = std::min(pos_, rules_tail(rules_));  // the paren may have shortened the rules
  return fire(Event::paren);
}

Cell Engine::word_value(const Cell& word) {
  const Cell value = *context::get(word);
  if (cell::is(value, TypeId::unset)) error::raise(error_id::script::no_value, word);
  return value;
}

// Whether `value` is a word or get-word whose value is this input at some
// position (`at`).
bool Engine::position_word(const Cell& value, uint32_t& at) {
  if (!cell::is(value, TypeId::word) && !cell::is(value, TypeId::get_word)) return false;
  if (cell::is(value, TypeId::word) && keyword_of(value) != Kw::not_keyword) return false;
  const Cell* held = context::get(value);
  if (cell::type_of(*held) != cell::type_of(in_) || series::node_of(*held) != series::node_of(in_)) return false;
  at = std::min(held->w1, total());
  return true;
}

// The value that insert and change put in: the rule value at pos_ (a
// paren's result, a word's value, anything else as written).
Flow Engine::value_after(Cell& value) {
  if (pos_ >= rules_tail(rules_)) error::raise(error_id::script::parse_end, rule_at(rules_, pos_ - 1));
  const Cell written = rule_at(rules_, pos_++);
  if (cell::is(written, TypeId::paren)) return eval_paren(written, &value);
  if (cell::is(written, TypeId::word)) {
    value = word_value(written);
    return Flow::normal;
  }
  if (is_any_path(cell::type_of(written))) error::raise(error_id::script::parse_rule, written);
  value = written;
  return Flow::normal;
}

void Engine::need_rule(const Cell& keyword_word) {
  if (pos_ >= rules_tail(rules_)) error::raise(error_id::script::parse_end, keyword_word);
}

void Engine::set_word(const Cell& word, const Cell& value) {
  if (context::set_direct(word, value)) return;
  const uint32_t depth = stack::depth();
  Val item = stack::push(value);
  Val target = stack::push(word);
  context::set(target, item);
  stack::drop_to(depth);
}

Frame* Engine::innermost_collect() {
  for (size_t i = g_frames.size(); i > base_; --i)
    if (g_frames[i - 1].cmd == Cmd::collect) return &g_frames[i - 1];
  return nullptr;
}

// Inserts a series edit: `value` at `at_series`'s position (replacing
// `part` units when changing). Answers the series after the edit, at the
// end of what was written. May collect.
Cell Engine::edit(const Cell& at_series, const Cell& value, int32_t part, bool only, bool change) {
  const uint32_t depth = stack::depth();
  Val target = stack::push(at_series);
  Val item = stack::push(value);
  const ActionTable& actions = datatype::actions(cell::type_of(at_series));
  const action::InsertFn fn = change ? actions.change : actions.insert;
  if (!fn) error::raise(error_id::script::parse_rule, at_series);
  fn(target, item, part, only, 1);
  const Cell after = *target;
  stack::drop_to(depth);
  return after;
}

void Engine::remove_range(uint32_t from, uint32_t count) {
  if (count == 0) return;
  const uint32_t depth = stack::depth();
  Cell at = in_;
  at.w1 = from;
  Val target = stack::push(at);
  Val part = stack::push(integer::make(static_cast<int32_t>(count)));
  const action::RemoveFn fn = datatype::actions(cell::type_of(at)).remove;
  if (!fn) error::raise(error_id::script::parse_rule, at);
  Val held = stack::push(in_);
  fn(target, part, std::nullopt);
  in_ = *held;
  stack::drop_to(depth);
}

// Adds a kept value to a collect frame's target, at its insertion point.
void Engine::emit(Frame& collect, const Cell& value, bool pick) {
  const size_t index = static_cast<size_t>(&collect - g_frames.data());
  if (pick && is_any_block(cell::type_of(value))) {
    const uint32_t depth = stack::depth();
    Val each = stack::push(value);
    for (uint32_t i = series_type::head(*each); i < input::total(*each); ++i) {
      const Cell item = input::cells(*each)[i];
      g_frames[index].arg2 = edit(g_frames[index].arg2, item, -1, true, false);
    }
    stack::drop_to(depth);
    return;
  }
  g_frames[index].arg2 = edit(g_frames[index].arg2, value, -1, true, false);
}

// keep of the input from `start` to `stop`: one unit as itself, more as a
// new series of the input's type, each unit by itself with pick.
void Engine::keep_range(uint32_t start, uint32_t stop, bool pick) {
  stop = std::min(stop, total());
  Frame* collect = innermost_collect();
  if (!collect || stop <= start) return;
  const size_t at = static_cast<size_t>(collect - g_frames.data());
  if (pick || stop - start == 1) {
    for (uint32_t i = start; i < stop; ++i) emit(g_frames[at], series_type::unit_value(in_, i), false);
    return;
  }
  const uint32_t depth = stack::depth();
  Val held = stack::push(in_);
  Val part = stack::push(series_type::copy_range(*held, start, stop - start));
  emit(g_frames[at], *part, false);
  stack::drop_to(depth);
}

// ---- entering rules ----

Flow Engine::enter_block(const Cell& block) {
  if (has_frames()) top().pos = pos_;
  Frame frame;
  frame.rules = block;
  frame.start = index();
  frame.start_total = total();
  push_frame(frame);
  rules_ = block;
  pos_ = series_type::head(block);
  return fire(Event::push);
}

// Pushes a command over the rule at pos_ (which must exist).
Flow Engine::push_command(Frame frame) {
  need_rule(rule_at(rules_, pos_ - 1));
  if (has_frames()) top().pos = pos_;
  frame.rules = rules_;
  frame.rule_pos = pos_;
  frame.start = frame.iter = index();
  frame.start_total = frame.iter_total = total();
  push_frame(frame);
  return fire(Event::push);
}

// A repetition of one char, bitset or `skip` runs over the input in one
// loop, with no frame: the same answer as iterating, without the cost.
// False when the rule is of another kind (or a tracer watches each step).
bool Engine::repeat_in_place(int32_t min, int32_t max) {
  if (tracing_) return false;
  Cell rule = rule_at(rules_, pos_);
  uint32_t count = 0;
  if (cell::is(rule, TypeId::word)) {
    if (keyword_of(rule) == Kw::skip) {
      const uint32_t room = end() > index() ? end() - index() : 0;
      count = max < 0 ? room : std::min(room, static_cast<uint32_t>(max));
    } else if (keyword_of(rule) == Kw::not_keyword && kind_ != input::Kind::block) {
      rule = word_value(rule);
      if (!cell::is(rule, TypeId::char_) && !cell::is(rule, TypeId::bitset)) return false;
      count = input::count_run(in_, index(), end(), rule, case_, max);
    } else {
      return false;
    }
  } else if (kind_ != input::Kind::block && (cell::is(rule, TypeId::char_) || cell::is(rule, TypeId::bitset))) {
    count = input::count_run(in_, index(), end(), rule, case_, max);
  } else {
    return false;
  }
  ++pos_;
  matched_ = count >= static_cast<uint32_t>(min);
  if (matched_) seek(index() + count);
  return true;
}

// A repetition command over the rule at pos_.
Flow Engine::repeat(Frame frame, State& next) {
  need_rule(rule_at(rules_, pos_ - 1));
  if (repeat_in_place(frame.min, frame.max)) {
    next = State::deliver;
    return Flow::normal;
  }
  frame.cmd = Cmd::repeat;
  next = State::fetch;
  return push_command(frame);
}

// `N rule` or `N M rule`: a repetition between the counts.
Flow Engine::match_count(const Cell& first, State& next) {
  int32_t min = cell::get_int32(first);
  int32_t max = min;
  if (pos_ < rules_tail(rules_) && cell::is(rule_at(rules_, pos_), TypeId::integer)) max = cell::get_int32(rule_at(rules_, pos_++));
  if (min < 0 || max < min) error::raise(error_id::script::parse_rule, first);
  need_rule(first);
  if (max == 0) {
    pos_ = rule_end(rules_, pos_);
    matched_ = true;
    next = State::deliver;
    return Flow::normal;
  }
  Frame frame;
  frame.min = min;
  frame.max = max;
  return repeat(frame, next);
}

// A literal rule value against the current input position.
void Engine::match_literal(const Cell& value) {
  if (kind_ == input::Kind::block) {
    matched_ = !at_end() && input::match_element(in_, index(), value, case_);
    if (matched_) seek(index() + 1);
    return;
  }
  if (!input::is_text_literal(cell::type_of(value))) error::raise(error_id::script::parse_rule, value);
  const int64_t after = input::match_text(in_, index(), end(), value, case_);
  matched_ = after >= 0;
  if (matched_) seek(static_cast<uint32_t>(after));
}

// A datatype or typeset against binary input: the lexer types the next
// token of the bytes, and a match consumes it.
void Engine::match_scanned(const Cell& type) {
  matched_ = false;
  if (at_end()) return;
  const uint32_t depth = stack::depth();
  Val out = stack::push(none_cell());
  lexer::Options options;
  options.mode = lexer::Mode::scan;
  options.one = true;
  const lexer::Result scanned = lexer::scan_series(out, in_, end() - index(), options);
  stack::drop_to(depth);
  if (scanned.type <= 0 || scanned.consumed <= 0) return;
  const auto found = static_cast<TypeId>(scanned.type);
  matched_ = cell::is(type, TypeId::datatype) ? found == datatype::get(type) : typeset::has(type, found);
  if (matched_) seek(index() + static_cast<uint32_t>(std::min<int64_t>(scanned.consumed, end() - index())));
}

// to or thru: `end`, a single value searched for directly, or a rule tried
// at each position.
Flow Engine::to_thru(bool thru, State& next) {
  need_rule(rule_at(rules_, pos_ - 1));
  Cell target = rule_at(rules_, pos_);
  if (cell::is(target, TypeId::word)) {
    const Kw word = keyword_of(target);
    if (word == Kw::end) {
      ++pos_;
      seek(std::max(index(), end()));
      matched_ = true;
      next = State::deliver;
      return fire(Event::match);
    }
    if (word == Kw::not_keyword) target = word_value(target);
  }
  const TypeId type = cell::type_of(target);
  if (kind_ != input::Kind::block && type == TypeId::integer) error::raise(error_id::script::parse_rule, target);
  const bool searchable = !cell::is(target, TypeId::word) && !is_any_block(type) && type != TypeId::paren &&
                          !is_any_path(type) &&
                          (kind_ == input::Kind::block || (type != TypeId::datatype && type != TypeId::typeset));
  if (searchable) {
    ++pos_;
    const input::Found found = input::search(in_, index(), end(), target, case_);
    matched_ = found.found;
    if (found.found) seek(thru ? found.after : found.at);
    next = State::deliver;
    return fire(Event::match);
  }
  if (is_any_path(type)) error::raise(error_id::script::parse_rule, target);
  Frame frame;
  frame.cmd = thru ? Cmd::thru : Cmd::to;
  next = State::fetch;
  return push_command(frame);
}

// ---- dispatch of one rule value ----

Flow Engine::dispatch(const Cell& value, State& next) {
  switch (cell::type_of(value)) {
    case TypeId::block:
      next = State::fetch;
      return enter_block(value);
    case TypeId::word: {
      const Kw word = keyword_of(value);
      if (word != Kw::not_keyword) return keyword(word, value, next);
      const Cell meaning = word_value(value);
      if (cell::is(meaning, TypeId::block)) {
        next = State::fetch;
        return enter_block(meaning);
      }
      switch (cell::type_of(meaning)) {
        case TypeId::integer:
          return match_count(meaning, next);  // a count held by a word
        case TypeId::word:
          break;  // a word held by a word is matched as it is
        case TypeId::paren:
        case TypeId::set_word:
        case TypeId::get_word:
        case TypeId::path:
        case TypeId::set_path:
        case TypeId::get_path:
          error::raise(error_id::script::parse_rule, value);
        default:
          return dispatch(meaning, next);
      }
      match_literal(meaning);
      next = State::deliver;
      return fire(Event::match);
    }
    case TypeId::set_word: {
      Cell here = in_;
      set_word(value, here);
      next = State::fetch;
      return Flow::normal;
    }
    case TypeId::get_word: {
      const Cell target = *context::get(value);
      if (cell::type_of(target) != cell::type_of(in_) || series::node_of(target) != series::node_of(in_))
        error::raise(error_id::script::parse_invalid_ref);
      seek(std::min(target.w1, total()));
      next = State::fetch;
      return Flow::normal;
    }
    case TypeId::integer:
      return match_count(value, next);
    case TypeId::paren:
      next = State::fetch;
      return eval_paren(value, nullptr);
    case TypeId::path:
    case TypeId::lit_path:
    case TypeId::set_path:
    case TypeId::get_path:
      if (!cell::is(value, TypeId::lit_path) || kind_ != input::Kind::block)
        error::raise(error_id::script::parse_rule, value);
      break;
    case TypeId::datatype:
    case TypeId::typeset:
      if (kind_ == input::Kind::string) error::raise(error_id::script::parse_unsupported);
      if (kind_ == input::Kind::binary) {
        match_scanned(value);
        next = State::deliver;
        return fire(Event::match);
      }
      break;
    default:
      break;
  }
  match_literal(value);
  next = State::deliver;
  return fire(Event::match);
}

// ---- keywords ----

Flow Engine::keyword(Kw word, const Cell& keyword_word, State& next) {
  next = State::deliver;
  const uint32_t tail = rules_tail(rules_);
  switch (word) {
    case Kw::bar:
      // Reached after a successful alternative: the block has matched.
      if (g_frames.back().cmd != Cmd::block) error::raise(error_id::script::parse_rule, keyword_word);
      pos_ = tail;
      matched_ = true;
      next = State::fetch;
      return Flow::normal;
    case Kw::skip:
      matched_ = !at_end();
      if (matched_) seek(index() + 1);
      return fire(Event::match);
    case Kw::end:
      matched_ = at_end();
      return fire(Event::match);
    case Kw::none:
      matched_ = true;
      return fire(Event::match);
    case Kw::fail:
      matched_ = false;
      return fire(Event::match);
    case Kw::any: case Kw::some: case Kw::opt: case Kw::while_: {
      Frame frame;
      frame.min = word == Kw::some ? 1 : 0;
      frame.max = word == Kw::opt ? 1 : -1;
      frame.loop_always = word == Kw::while_;
      return repeat(frame, next);
    }
    case Kw::to:
    case Kw::thru:
      return to_thru(word == Kw::thru, next);
    case Kw::copy:
    case Kw::set: {
      need_rule(keyword_word);
      const Cell target = rule_at(rules_, pos_);
      if (!cell::is(target, TypeId::word)) error::raise(error_id::script::parse_rule, target);
      ++pos_;
      need_rule(target);
      Frame frame;
      frame.cmd = word == Kw::copy ? Cmd::copy : Cmd::set;
      frame.arg = target;
      next = State::fetch;
      return push_command(frame);
    }
    case Kw::not_:
    case Kw::ahead: {
      Frame frame;
      frame.cmd = word == Kw::not_ ? Cmd::not_ : Cmd::ahead;
      next = State::fetch;
      return push_command(frame);
    }
    case Kw::quote:
      need_rule(keyword_word);
      {
        const Cell value = rule_at(rules_, pos_++);
        if (kind_ == input::Kind::block) {
          matched_ = !at_end() && compare::dispatch(input::cells(in_)[index()], value,
                                                    case_ ? CmpOp::strict_equal : CmpOp::equal) == 0;
          if (matched_) seek(index() + 1);
        } else {
          match_literal(value);
        }
      }
      return fire(Event::match);
    case Kw::into: {
      if (kind_ != input::Kind::block) error::raise(error_id::script::parse_block, in_);
      need_rule(keyword_word);
      Cell rule = rule_at(rules_, pos_);
      if (cell::is(rule, TypeId::word)) rule = word_value(rule);
      if (!cell::is(rule, TypeId::block)) error::raise(error_id::script::parse_end, keyword_word);
      const Cell element = at_end() ? none_cell() : input::cells(in_)[index()];
      const TypeId type = cell::type_of(element);
      if (!is_series(type) || !(is_any_block(type) || is_any_string(type) || type == TypeId::binary)) {
        ++pos_;
        matched_ = false;
        return fire(Event::match);
      }
      Frame frame;
      frame.cmd = Cmd::into;
      frame.arg = in_;
      frame.arg2 = element;
      frame.saved_limit = limit_;
      Flow flow = push_command(frame);
      in_ = element;
      seek(std::min(element.w1, total()));
      limit_ = UINT32_MAX;
      kind_ = input::kind_of(type);
      top().start = top().iter = index();
      top().start_total = top().iter_total = total();
      next = State::fetch;
      return flow;
    }
    case Kw::remove: {
      need_rule(keyword_word);
      uint32_t at = 0;
      if (position_word(rule_at(rules_, pos_), at)) {
        ++pos_;
        const uint32_t from = std::min(at, index());
        remove_range(from, std::max(at, index()) - from);
        seek(from);
        matched_ = true;
        return fire(Event::match);
      }
      Frame frame;
      frame.cmd = Cmd::remove;
      next = State::fetch;
      return push_command(frame);
    }
    case Kw::insert: {
      need_rule(keyword_word);
      bool only = false;
      if (is_keyword(rule_at(rules_, pos_), Kw::only)) {
        only = true;
        ++pos_;
      }
      need_rule(keyword_word);
      uint32_t at = index();
      bool positioned = false;
      if (pos_ + 1 < tail && position_word(rule_at(rules_, pos_), at)) {
        positioned = true;
        ++pos_;
      }
      Rooted<Cell> value(none_cell());
      if (value_after(value.get()) != Flow::normal) return Flow::exit;
      const uint32_t before = total();
      Cell where = in_;
      where.w1 = at;
      const Cell after = edit(where, value.get(), -1, only, false);
      const uint32_t added = total() - before;
      if (!positioned) seek(after.w1);
      else if (at <= index()) seek(index() + added);
      matched_ = true;
      return fire(Event::match);
    }
    case Kw::change: {
      need_rule(keyword_word);
      bool only = false;
      if (is_keyword(rule_at(rules_, pos_), Kw::only)) {
        only = true;
        ++pos_;
      }
      need_rule(keyword_word);
      uint32_t at = 0;
      if (position_word(rule_at(rules_, pos_), at)) {
        ++pos_;
        Rooted<Cell> value(none_cell());
        if (value_after(value.get()) != Flow::normal) return Flow::exit;
        const uint32_t from = std::min(at, index());
        Cell where = in_;
        where.w1 = from;
        const Cell after = edit(where, value.get(), static_cast<int32_t>(std::max(at, index()) - from), only, true);
        seek(after.w1);
        matched_ = true;
        return fire(Event::match);
      }
      Frame frame;
      frame.cmd = Cmd::change;
      frame.only = only;
      frame.value_pos = rule_end(rules_, pos_);
      if (frame.value_pos >= tail) error::raise(error_id::script::parse_end, keyword_word);
      next = State::fetch;
      return push_command(frame);
    }
    case Kw::collect: {
      need_rule(keyword_word);
      Frame frame;
      frame.cmd = Cmd::collect;
      const Cell mode = rule_at(rules_, pos_);
      if (is_keyword(mode, Kw::set) || is_keyword(mode, Kw::into) || is_keyword(mode, Kw::after)) {
        ++pos_;
        need_rule(mode);
        const Cell target = rule_at(rules_, pos_++);
        if (!cell::is(target, TypeId::word)) error::raise(error_id::script::parse_rule, target);
        need_rule(target);
        frame.arg = target;
        frame.collect_mode = is_keyword(mode, Kw::set) ? CollectMode::set
                             : is_keyword(mode, Kw::into) ? CollectMode::into : CollectMode::after;
      }
      if (frame.collect_mode == CollectMode::into || frame.collect_mode == CollectMode::after) {
        Cell series = word_value(frame.arg);
        const TypeId type = cell::type_of(series);
        if (!is_series(type) || !(is_any_block(type) || is_any_string(type) || type == TypeId::binary) ||
            series::node_of(series) == series::node_of(in_))
          error::raise(error_id::script::parse_into_bad, frame.arg);
        const bool fits = is_any_block(type) || (is_any_string(type) && kind_ == input::Kind::string) ||
                          (type == TypeId::binary && kind_ == input::Kind::binary);
        if (!fits) error::raise(error_id::script::parse_into_type, frame.arg);
        if (frame.collect_mode == CollectMode::after) series.w1 = input::total(series);
        frame.arg2 = series;
      } else {
        frame.arg2 = block::make_new(8);
      }
      next = State::fetch;
      return push_command(frame);
    }
    case Kw::keep: {
      need_rule(keyword_word);
      if (!innermost_collect()) error::raise(error_id::script::parse_keep);
      bool pick = false;
      if (is_keyword(rule_at(rules_, pos_), Kw::pick)) {
        pick = true;
        ++pos_;
        need_rule(keyword_word);
      }
      const Cell rule = rule_at(rules_, pos_);
      if (cell::is(rule, TypeId::paren)) {
        ++pos_;
        Rooted<Cell> value(none_cell());
        if (eval_paren(rule, &value.get()) != Flow::normal) return Flow::exit;
        emit(*innermost_collect(), value.get(), pick);
        matched_ = true;
        return Flow::normal;
      }
      Frame frame;
      frame.cmd = Cmd::keep;
      frame.only = pick;
      next = State::fetch;
      return push_command(frame);
    }
    case Kw::if_: {
      need_rule(keyword_word);
      const Cell test = rule_at(rules_, pos_);
      if (!cell::is(test, TypeId::paren)) error::raise(error_id::script::parse_rule, test);
      ++pos_;
      Cell value = none_cell();
      if (eval_paren(test, &value) != Flow::normal) return Flow::exit;
      matched_ = logic::is_true(value);
      return fire(Event::match);
    }
    case Kw::case_: {
      need_rule(keyword_word);
      const Cell mode = rule_at(rules_, pos_);
      if (!cell::is(mode, TypeId::word)) error::raise(error_id::script::parse_rule, mode);
      ++pos_;
      need_rule(mode);
      Frame frame;
      frame.cmd = Cmd::case_;
      frame.saved_case = case_;
      const Flow flow = push_command(frame);
      case_ = logic::is_true(word_value(mode));
      next = State::fetch;
      return flow;
    }
    case Kw::break_:
    case Kw::reject:
      return end_repetition(word == Kw::reject, next);
    default:
      // - (reserved), and only, pick and after outside their commands.
      error::raise(error_id::script::parse_rule, keyword_word);
  }
}

// break and reject: drop the frames above the innermost repetition and end
// it, succeeding (break) or failing (reject). With no repetition the
// innermost block ends so.
Flow Engine::end_repetition(bool reject, State& next) {
  size_t target = g_frames.size();
  while (target > base_ && g_frames[target - 1].cmd != Cmd::repeat) --target;
  if (target == base_) {
    matched_ = !reject;
    while (top().cmd != Cmd::block) {
      if (top().cmd == Cmd::case_) case_ = top().saved_case;
      if (top().cmd == Cmd::into) {
        in_ = top().arg;
        limit_ = top().saved_limit;
        kind_ = input::kind_of(cell::type_of(in_));
      }
      pop_frame();
    }
    if (reject) seek(top().start);
    pos_ = rules_tail(top().rules);
    rules_ = top().rules;
    next = State::fetch;
    return Flow::normal;
  }
  while (g_frames.size() > target) {
    const Frame& frame = top();
    if (frame.cmd == Cmd::case_) case_ = frame.saved_case;
    if (frame.cmd == Cmd::into) {
      in_ = frame.arg;
      limit_ = frame.saved_limit;
      kind_ = input::kind_of(cell::type_of(in_));
    }
    pop_frame();
    if (fire(Event::pop) != Flow::normal) return Flow::exit;
  }
  Frame& repeat = top();
  rules_ = repeat.rules;
  pos_ = rule_end(rules_, repeat.rule_pos);
  if (reject) seek(repeat.start);
  matched_ = !reject;
  pop_frame();
  next = State::deliver;
  return fire(Event::pop);
}

// ---- applying a command's result ----

Flow Engine::apply_command(State& next) {
  Frame& frame = top();
  switch (frame.cmd) {
    case Cmd::repeat: {
      if (matched_) {
        ++frame.count;
        const bool progressed = index() != frame.iter || total() < frame.iter_total;
        if (!progressed && !frame.loop_always) {
          // The rule matches without consuming: it would match forever.
          matched_ = true;
          return finish_command(next);
        }
        if (frame.max < 0 || frame.count < frame.max) {
          frame.iter = index();
          frame.iter_total = total();
          pos_ = frame.rule_pos;
          next = State::fetch;
          return fire(Event::iterate);
        }
        matched_ = true;
        return finish_command(next);
      }
      seek(std::min(frame.iter, total()));
      matched_ = frame.count >= frame.min;
      return finish_command(next);
    }
    case Cmd::to:
    case Cmd::thru:
      if (matched_) {
        if (frame.cmd == Cmd::to) seek(frame.iter);
        return finish_command(next);
      }
      if (frame.iter >= end()) {
        seek(std::min(frame.start, total()));
        return finish_command(next);
      }
      frame.iter += 1;
      seek(frame.iter);
      pos_ = frame.rule_pos;
      next = State::fetch;
      return Flow::normal;
    case Cmd::copy:
      if (matched_) {
        const uint32_t from = std::min(frame.start, index());
        const Cell word = frame.arg;
        const uint32_t depth = stack::depth();
        Val held = stack::push(in_);
        Val part = stack::push(series_type::copy_range(*held, from, index() - from));
        set_word(word, *part);
        stack::drop_to(depth);
      }
      return finish_command(next);
    case Cmd::set:
      if (matched_) {
        const Cell word = frame.arg;
        const bool consumed = index() > frame.start && frame.start < total();
        set_word(word, consumed ? series_type::unit_value(in_, frame.start) : none_cell());
      }
      return finish_command(next);
    case Cmd::not_:
      matched_ = !matched_;
      seek(std::min(frame.start, total()));
      return finish_command(next);
    case Cmd::ahead:
      if (matched_) seek(std::min(frame.start, total()));
      return finish_command(next);
    case Cmd::into: {
      const bool whole = matched_ && at_end();
      in_ = frame.arg;
      limit_ = frame.saved_limit;
      kind_ = input::kind_of(cell::type_of(in_));
      matched_ = whole;
      if (whole) seek(std::min(index() + 1, total()));
      return finish_command(next);
    }
    case Cmd::remove:
      if (matched_) {
        const uint32_t from = std::min(frame.start, index());
        remove_range(from, index() - from);
        seek(from);
      }
      return finish_command(next);
    case Cmd::keep:
      if (matched_) keep_range(frame.start, index(), frame.only);
      return finish_command(next);
    case Cmd::change: {
      const uint32_t value_pos = frame.value_pos;
      const uint32_t from = std::min(frame.start, index());
      const bool only = frame.only;
      pos_ = value_pos;
      if (matched_) {
        Rooted<Cell> value(none_cell());
        if (value_after(value.get()) != Flow::normal) return Flow::exit;
        Cell where = in_;
        where.w1 = from;
        const Cell after = edit(where, value.get(), static_cast<int32_t>(index() - from), only, true);
        seek(after.w1);
      } else {
        ++pos_;
      }
      top().value_pos = pos_;
      return finish_command(next);
    }
    case Cmd::collect: {
      Cell collected = frame.arg2;
      collected.w1 = 0;  // a block of its own: from its head
      const CollectMode mode = frame.collect_mode;
      const Cell word = frame.arg;
      const size_t at = g_frames.size() - 1;
      if (mode == CollectMode::set) {
        if (matched_) set_word(word, collected);
      } else if (mode == CollectMode::plain) {
        Frame* outer = nullptr;
        for (size_t i = at; i > base_; --i)
          if (g_frames[i - 1].cmd == Cmd::collect) {
            outer = &g_frames[i - 1];
            break;
          }
        if (outer) {
          if (matched_) {
            Rooted<Cell> held(collected);
            emit(*outer, held.get(), false);
          }
        } else if (cell::is(collected_.get(), TypeId::none)) {
          collected_ = collected;
        }
      }
      return finish_command(next);
    }
    case Cmd::case_:
      case_ = frame.saved_case;
      return finish_command(next);
    case Cmd::block:
      break;
  }
  next = State::deliver;
  return Flow::normal;
}

// Pops the command on top; matching goes on after its rule.
Flow Engine::finish_command(State& next) {
  const Frame& frame = top();
  if (frame.cmd == Cmd::change) {
    pos_ = frame.value_pos;
  }
  rules_ = frame.rules;
  pop_frame();
  next = State::deliver;
  return fire(Event::pop);
}

// ---- the loop ----

Flow Engine::run(Val result) {
  State state = State::fetch;
  KIV_PROPAGATE(enter_block(rules_));
  bool completed = false;
  for (bool done = false; !done && !stopped_;) {
    switch (state) {
      case State::fetch: {
        if (pos_ >= rules_tail(rules_)) {
          if (top().cmd != Cmd::block) error::raise(error_id::script::parse_end, rules_);
          state = State::block_done;
          break;
        }
        const Cell value = rule_at(rules_, pos_++);
        if (tracing_) {
          --pos_;
          KIV_PROPAGATE(fire(Event::fetch));
          ++pos_;
          if (stopped_) break;
        }
        KIV_PROPAGATE(dispatch(value, state));
        break;
      }
      case State::deliver:
        if (top().cmd != Cmd::block) state = State::command;
        else state = matched_ ? State::fetch : State::alternative;
        break;
      case State::command:
        KIV_PROPAGATE(apply_command(state));
        break;
      case State::alternative: {
        const Frame& frame = top();
        seek(std::min(frame.start, total()));
        const uint32_t tail = rules_tail(rules_);
        while (pos_ < tail && !is_keyword(rule_at(rules_, pos_), Kw::bar)) ++pos_;
        if (pos_ < tail) {
          ++pos_;
          matched_ = true;
          state = State::fetch;
        } else {
          state = State::block_done;
        }
        break;
      }
      case State::block_done: {
        pop_frame();
        KIV_PROPAGATE(fire(Event::pop));
        if (!has_frames()) {
          completed = true;
          state = State::finish;
          break;
        }
        rules_ = top().rules;
        pos_ = std::min(top().pos, rules_tail(rules_));
        state = State::deliver;
        break;
      }
      case State::finish:
        done = true;
        break;
    }
  }
  if (completed) matched_ = matched_ && at_end();
  KIV_PROPAGATE(fire(Event::end));
  if (!cell::is(collected_.get(), TypeId::none)) *result = collected_.get();
  else *result = logic::make(matched_);
  return Flow::normal;
}

}  // namespace

void init() {
  for (size_t k = 1; k < keyword_names.size(); ++k)
    g_keyword_symbols[k] = symbol::resolve(symbol::make(keyword_names[k]));
  g_keyword_of_symbol.assign(g_keyword_of_symbol.size(), unknown_symbol);
  for (size_t e = 0; e < event_names.size(); ++e) g_event_words[e] = word::unbound(event_names[e]);
  g_callback_name = word::unbound("<parse-callback>");
  g_frames.clear();
  g_frames.reserve(64);
  g_cells = 0;
  collector::unregister_marker(mark_frames);
  collector::register_marker(mark_frames, "the parse frames");
}

Flow run(Val input, Val rules, const Options& options, Val result) {
  FrameGuard guard;
  Engine engine(input, rules, options, guard.base());
  return engine.run(result);
}

}  // namespace kiv::parse
