#include "runtime/datatypes/bitset.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "runtime/core/error_raise.h"
#include "runtime/core/memory.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/mold.h"
#include "runtime/ownership.h"

namespace kiv::bitset {
namespace {

using ownership::Change;
using ownership::ChangeReport;

// Bytes enough for every bit up to `max_bit`.
constexpr uint32_t max_bytes = static_cast<uint32_t>(max_bit >> 3) + 1;

// ---- the byte buffer ----
// Every bitset buffer keeps its head at offset 0: the stored bytes are
// data()[0, tail).

SeriesBuf* buffer_of(NodeId node) { return memory::buffer(node); }
uint32_t stored_bytes(NodeId node) { return buffer_of(node)->used_bytes(); }
bool negated(NodeId node) { return (buffer_of(node)->flags & not_flag) != 0; }
uint8_t* bytes_of(NodeId node) { return buffer_of(node)->head_ptr(); }

Cell make_cell(NodeId node) { return Cell{cell::header(TypeId::bitset), 0, node, 0}; }

// A new buffer of `count` bytes, each `fill`. May collect.
NodeId new_bytes(uint32_t count, uint8_t fill) {
  const NodeId node = memory::new_series(std::max(count, 1u), 1);
  SeriesBuf* buf = buffer_of(node);
  std::memset(buf->data(), fill, count);
  buf->tail = count;
  return node;
}

void set_negated(NodeId node, bool on) {
  SeriesBuf* buf = buffer_of(node);
  buf->flags = on ? (buf->flags | not_flag) : (buf->flags & ~not_flag);
}

// The byte a bit beyond the stored bytes reads as.
uint8_t tail_byte(NodeId node) { return negated(node) ? 0xFF : 0x00; }

// Extends the stored bytes to `count` with tail bytes, so that no
// membership changes. May collect.
void grow(NodeId node, uint32_t count) {
  const uint32_t stored = stored_bytes(node);
  if (count <= stored) return;
  if (buffer_of(node)->capacity < count) {
    const uint32_t doubled = std::min(buffer_of(node)->capacity * 2, max_bytes);
    memory::expand_copy_series(node, std::max(count, doubled));
  }
  SeriesBuf* buf = buffer_of(node);
  std::memset(buf->data() + stored, tail_byte(node), count - stored);
  buf->tail = count;
}

uint8_t mask_of(int64_t bit) { return static_cast<uint8_t>(0x80u >> (bit & 7)); }

bool test_bit(NodeId node, int64_t bit) {
  if (bit < 0) return false;
  if (static_cast<uint64_t>(bit >> 3) >= stored_bytes(node)) return negated(node);
  return (bytes_of(node)[bit >> 3] & mask_of(bit)) != 0;
}

// ---- the spec walk ----
// One walk serves every action: it measures the highest bit a spec names,
// sets or clears the bits, or tests them all.

enum class Mode : uint8_t { measure, set, test, clear };
// Who walks: decides the error for a value the walk cannot take.
enum class Caller : uint8_t { make, to, other };

class Walk {
 public:
  Walk(Mode mode, NodeId node, Caller caller) : mode_(mode), node_(node), caller_(caller) {}

  // Walks `spec`; answers false in test mode once a named bit is missing.
  bool value(const Cell& spec) {
    switch (cell::type_of(spec)) {
      case TypeId::char_: return range(spec.w2, spec.w2, spec);
      case TypeId::integer: return range(cell::get_int32(spec), cell::get_int32(spec), spec);
      case TypeId::float_: {
        const int64_t bit = truncated(cell::get_double(spec));
        return range(bit, bit, spec);
      }
      case TypeId::string: return text(spec);
      case TypeId::block: return list(spec);
      case TypeId::binary: error::raise(error_id::internal::not_done);
      default: unusable(spec);
    }
  }

  int64_t highest() const { return highest_; }

 private:
  // A float's bit, truncated; values beyond the bitset's range (a NaN
  // among them) are pinned just outside it.
  static int64_t truncated(double number) {
    if (std::isnan(number) || number <= -1.0) return -1;
    if (number >= static_cast<double>(max_bit + 1)) return max_bit + 1;
    return static_cast<int64_t>(number);
  }

  [[noreturn]] void unusable(const Cell& spec) const {
    switch (caller_) {
      case Caller::make: error::raise(error_id::script::bad_make_arg, datatype::make(TypeId::bitset), spec);
      case Caller::to: error::raise(error_id::script::bad_to_arg, datatype::make(TypeId::bitset), spec);
      case Caller::other: error::raise(error_id::script::invalid_arg, spec);
    }
    error::raise(error_id::script::invalid_arg, spec);
  }

  // The bits `from` to `to`, both included; `culprit` is the value named in
  // an out-of-range error.
  bool range(int64_t from, int64_t to, const Cell& culprit) {
    if (mode_ == Mode::test) {
      if (from < 0) return false;
      const int64_t stored_end = int64_t{stored_bytes(node_)} * 8;
      for (int64_t bit = from; bit <= to && bit < stored_end; ++bit)
        if (!test_bit(node_, bit)) return false;
      return to < stored_end || negated(node_);
    }
    if (from < 0 || to > max_bit) error::raise(error_id::script::out_of_range, culprit);
    switch (mode_) {
      case Mode::measure: highest_ = std::max(highest_, to); break;
      case Mode::set: write(from, to, true); break;
      case Mode::clear: write(from, to, false); break;
      case Mode::test: break;
    }
    return true;
  }

  // Setting a bit beyond the stored bytes of a negated bitset, or clearing
  // one beyond those of a plain bitset, changes nothing; otherwise the
  // buffer grows to hold the bits first.
  void write(int64_t from, int64_t to, bool member) {
    if (member == negated(node_)) {
      to = std::min(to, int64_t{stored_bytes(node_)} * 8 - 1);
    } else {
      grow(node_, static_cast<uint32_t>(to >> 3) + 1);
    }
    uint8_t* bytes = bytes_of(node_);
    for (int64_t bit = from; bit <= to; ++bit) {
      if (member) bytes[bit >> 3] |= mask_of(bit);
      else bytes[bit >> 3] &= static_cast<uint8_t>(~mask_of(bit));
    }
  }

  bool text(const Cell& spec) {
    const NodeId text_node = series::node_of(spec);
    const uint32_t end = series_type::total(spec);
    for (uint32_t i = series_type::head(spec); i < end; ++i) {
      const uint32_t code_point = string::char_at(text_node, i);
      if (!range(code_point, code_point, string::make_char(code_point))) return false;
    }
    return true;
  }

  static bool is_dash(const Cell& value) {
    return cell::is(value, TypeId::word) && symbol::spelling(symbol::resolve(value.w2)) == "-";
  }

  static int64_t number_of(const Cell& value) {
    return cell::is(value, TypeId::char_) ? int64_t{value.w2} : int64_t{cell::get_int32(value)};
  }

  // Each element in turn; a char! or integer! followed by the word - and a
  // value of its type is the range between them. Cells are copied out
  // before any growth: growing may move the block's buffer.
  bool list(const Cell& spec) {
    const uint32_t count = block::count(spec);
    for (uint32_t i = 0; i < count; ++i) {
      const Cell item = *block::at(spec, i);
      const bool ranged = (cell::is(item, TypeId::char_) || cell::is(item, TypeId::integer)) && i + 1 < count &&
                          is_dash(*block::at(spec, i + 1));
      if (!ranged) {
        if (!value(item)) return false;
        continue;
      }
      if (i + 2 >= count) error::raise(error_id::script::past_end);
      const Cell end = *block::at(spec, i + 2);
      if (cell::type_of(end) != cell::type_of(item)) error::raise(error_id::script::invalid_arg, end);
      if (number_of(end) < number_of(item)) error::raise(error_id::script::past_end);
      if (!range(number_of(item), number_of(end), number_of(item) < 0 ? item : end)) return false;
      i += 2;
    }
    return true;
  }

  Mode mode_;
  NodeId node_;
  Caller caller_;
  int64_t highest_ = -1;
};

// ---- make and to ----

bool is_not_word(const Cell& value) {
  return cell::is(value, TypeId::word) && symbol::equal_caseless(symbol::spelling(value.w2), "not");
}

// The stored bytes of a binary! from its index, complemented under `not`.
NodeId from_binary(const Cell& binary, bool complemented) {
  const uint32_t count = series_type::length(binary);
  if (count > max_bytes) error::raise(error_id::script::out_of_range, binary);
  const NodeId node = new_bytes(count, 0);
  const uint8_t* from = memory::buffer(series::node_of(binary))->head_ptr() + series_type::head(binary);
  uint8_t* to = bytes_of(node);
  for (uint32_t i = 0; i < count; ++i) to[i] = complemented ? static_cast<uint8_t>(~from[i]) : from[i];
  set_negated(node, complemented);
  return node;
}

NodeId copy_of(NodeId node) { return series::copy_units(node, 0, stored_bytes(node)); }

template <Caller caller>
void make_value(Val result, Val spec, TypeId) {
  Cell given = *spec;
  bool complemented = false;
  if (cell::is(given, TypeId::block) && block::count(given) > 0 && is_not_word(*block::at(given, 0))) {
    complemented = true;
    ++given.w1;  // the rest of the block, a copy of the cell: the spec keeps its head
    if (block::count(given) > 0 && cell::is(*block::at(given, 0), TypeId::binary)) given = *block::at(given, 0);
  }
  const TypeId type = cell::type_of(given);
  if (type == TypeId::integer || type == TypeId::float_) {
    if (caller == Caller::to) error::raise(error_id::script::bad_to_arg, datatype::make(TypeId::bitset), given);
    const double size = type == TypeId::integer ? cell::get_int32(given) : cell::get_double(given);
    if (!(size >= 0 && size <= static_cast<double>(max_bit + 1))) error::raise(error_id::script::out_of_range, given);
    *result = make_cell(new_bytes((static_cast<uint32_t>(size) + 7) / 8, 0));
    return;
  }
  if (type == TypeId::bitset) {
    *result = make_cell(copy_of(series::node_of(given)));
    return;
  }
  if (type == TypeId::binary) {
    *result = make_cell(from_binary(given, complemented));
    return;
  }
  // A block's rest must stay reachable while the buffer is allocated.
  Val rooted = stack::push(given);
  Walk measure(Mode::measure, no_node, caller);
  measure.value(given);
  const auto count = std::max(static_cast<uint32_t>((measure.highest() + 8) / 8), 1u);
  const NodeId node = new_bytes(count, complemented ? 0xFF : 0x00);
  set_negated(node, complemented);
  *result = make_cell(node);
  Walk(complemented ? Mode::clear : Mode::set, node, caller).value(*rooted);
  stack::pop(1);
}

// ---- form and mold: the same text ----

// "make bitset! #{F0}", or under the not flag "make bitset! [not #{F0}]"
// with the bytes shown complemented: the members that `not` leaves out.
int32_t mold_value(Val value, Val out, const MoldOptions&, int32_t part) {
  const NodeId node = series::node_of(*value);
  const bool complemented = negated(node);
  std::string digits;
  digits.reserve(size_t{stored_bytes(node)} * 2);
  static constexpr char hex[] = "0123456789ABCDEF";
  for (uint32_t i = 0; i < stored_bytes(node); ++i) {
    const uint8_t byte = complemented ? static_cast<uint8_t>(~bytes_of(node)[i]) : bytes_of(node)[i];
    digits += hex[byte >> 4];
    digits += hex[byte & 0xF];
  }
  part = mold::emit(out, "make bitset! ", part);
  if (complemented) part = mold::emit(out, "[not ", part);
  part = mold::emit(out, "#{", part);
  if (part <= 0) return part;
  part = mold::emit(out, std::string_view(digits).substr(0, static_cast<size_t>(part)), part);
  if (part <= 0) return part;
  part = mold::emit(out, "}", part);
  if (complemented) part = mold::emit(out, "]", part);
  return part;
}

int32_t form(Val value, Val out, int32_t part) { return mold_value(value, out, {}, part); }

// ---- compare ----

// A shorter array is lower; then, with equal not flags, the bytes from the
// last decide; the one without the not flag is lower than the one with it.
int compare(const Cell& a, const Cell& b, CmpOp op) {
  if (!cell::is(b, TypeId::bitset)) return -2;
  const NodeId left = series::node_of(a);
  const NodeId right = series::node_of(b);
  if (op == CmpOp::same) return left == right ? 0 : 1;
  const uint32_t length_a = stored_bytes(left);
  const uint32_t length_b = stored_bytes(right);
  if (length_a != length_b) return length_a < length_b ? -1 : 1;
  if (negated(left) != negated(right)) return negated(left) ? 1 : -1;
  for (uint32_t i = length_a; i-- > 0;) {
    const uint8_t x = bytes_of(left)[i];
    const uint8_t y = bytes_of(right)[i];
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

// ---- bitwise actions ----

template <typeset::SetOp op>
void bitwise(Val left, Val right) {
  *left = set_operation(left, right, op);
}

// complement and negate: every stored byte inverted, the not flag toggled.
void complement(Val value) {
  const NodeId node = copy_of(series::node_of(*value));
  uint8_t* bytes = bytes_of(node);
  for (uint32_t i = 0; i < stored_bytes(node); ++i) bytes[i] = static_cast<uint8_t>(~bytes[i]);
  set_negated(node, !negated(node));
  *value = make_cell(node);
}

// ---- reading and writing bits ----

bool test(Val bits, const Cell& spec) {
  return Walk(Mode::test, series::node_of(*bits), Caller::other).value(spec);
}

// Sets or clears the bits `spec` names, with the ownership reports of
// `change` around it.
void change_bits(Val bits, Val spec, bool member, Change change) {
  ChangeReport report(bits, change, 0, 0, spec);
  Walk(member ? Mode::set : Mode::clear, series::node_of(*bits), Caller::other).value(*spec);
  report.done(0, 0);
}

void insert(Val bits, Val value, int32_t, bool, int32_t) { change_bits(bits, value, true, Change::insert); }
void append(Val bits, Val value, int32_t, bool, int32_t) { change_bits(bits, value, true, Change::append); }

void pick(Val bits, Val index, int32_t) { *bits = logic::make(test(bits, *index)); }

// none, false and zero clear the bits; any other value sets them. The
// value is the result.
void poke(Val bits, Val index, int32_t, Val value) {
  const Cell given = *value;
  const bool clears = cell::is(given, TypeId::none) || (cell::is(given, TypeId::logic) && !logic::get(given)) ||
                      (cell::is(given, TypeId::integer) && cell::get_int32(given) == 0) ||
                      (cell::is(given, TypeId::float_) && cell::get_double(given) == 0.0);
  change_bits(bits, index, !clears, Change::poke);
  *bits = given;
}

void find(Val bits, Val value, const FindOptions&) {
  *bits = test(bits, *value) ? logic::make(true) : none::make();
}

// b/5 and b/#"a" read as pick and write as poke.
void eval_path(PathStep& step) {
  const Cell selector = *step.selector;
  if (!cell::is(selector, TypeId::integer) && !cell::is(selector, TypeId::char_))
    error::raise(error_id::script::invalid_type, datatype::make(cell::type_of(selector)));
  if (!step.new_value) {
    pick(step.value, step.selector, 0);
    return;
  }
  Val new_value = stack::push(*step.new_value);
  poke(step.value, step.selector, 0, new_value);
  stack::pop(1);
}

// remove/key: the key's bits stop being members (on a negated bitset too:
// clearing grows it with member bytes first).
void remove(Val bits, std::optional<Val>, std::optional<Val> key) {
  if (!key) error::raise(error_id::script::missing_arg);
  change_bits(bits, *key, false, Change::remove);
}

// Every stored byte back to the tail byte: no stored bit is a member,
// unless the bitset is negated, when all are; the flag stays.
void clear(Val bits) {
  ChangeReport report(bits, Change::clear, 0, 0);
  const NodeId node = series::node_of(*bits);
  std::memset(bytes_of(node), tail_byte(node), stored_bytes(node));
  report.done(0, 0);
}

void copy(Val value, std::optional<Val>, bool, std::optional<Val>) {
  *value = make_cell(copy_of(series::node_of(*value)));
}

int32_t length(Val bits) { return static_cast<int32_t>(stored_bytes(series::node_of(*bits)) * 8); }

uint8_t combine(uint8_t x, uint8_t y, typeset::SetOp op) {
  switch (op) {
    case typeset::SetOp::or_:
    case typeset::SetOp::union_: return x | y;
    case typeset::SetOp::and_:
    case typeset::SetOp::intersect: return x & y;
    case typeset::SetOp::xor_:
    case typeset::SetOp::difference: return x ^ y;
    case typeset::SetOp::exclude: return static_cast<uint8_t>(x & ~y);
    case typeset::SetOp::unique: return x;
  }
  return x;
}

}  // namespace

bool is_negated(const Cell& bits) { return negated(series::node_of(bits)); }

bool has(const Cell& bits, uint32_t code_point) { return test_bit(series::node_of(bits), code_point); }

// Each operand reads as its stored bytes followed by its tail bytes, and
// the not flags combine as the bytes do: the result is the set the
// operation names even for negated operands.
Cell set_operation(Val first, Val second, typeset::SetOp op) {
  if (!cell::is(*second, TypeId::bitset))
    error::raise(error_id::script::invalid_type, datatype::make(cell::type_of(*second)));
  if (op == typeset::SetOp::unique) return *first;
  const NodeId a = series::node_of(*first);
  const NodeId b = series::node_of(*second);
  const uint32_t length_a = stored_bytes(a);
  const uint32_t length_b = stored_bytes(b);
  uint32_t count = std::max(length_a, length_b);
  // and~ ends at the common length when the shorter operand has nothing
  // beyond it: the result's bytes past it would all be 0.
  const bool shorter_negated = length_a < length_b ? negated(a) : negated(b);
  if (op == typeset::SetOp::and_ && !shorter_negated) count = std::min(length_a, length_b);
  const NodeId node = new_bytes(count, 0);
  uint8_t* out = bytes_of(node);
  const uint8_t* x = bytes_of(a);
  const uint8_t* y = bytes_of(b);
  for (uint32_t i = 0; i < count; ++i)
    out[i] = combine(i < length_a ? x[i] : tail_byte(a), i < length_b ? y[i] : tail_byte(b), op);
  set_negated(node, combine(tail_byte(a), tail_byte(b), op) != 0);
  return make_cell(node);
}

// Slots: make, reflect, to, form, mold, eval-path, compare, negate, and~,
// complement, or~, xor~, append, clear, copy, find, insert, length?, pick,
// poke, remove and modify; every other action is unsupported. reflect and
// modify ('owned) work as for series.
void register_types() {
  const ActionTable& series_actions = datatype::actions(TypeId::series);
  datatype::register_type({TypeId::bitset, TypeId::none_type, "bitset!",
                           {.make = make_value<Caller::make>,
                            .reflect = series_actions.reflect,
                            .to = make_value<Caller::to>,
                            .form = form,
                            .mold = mold_value,
                            .eval_path = eval_path,
                            .compare = compare,
                            .negate = complement,
                            .and_ = bitwise<typeset::SetOp::and_>,
                            .complement = complement,
                            .or_ = bitwise<typeset::SetOp::or_>,
                            .xor_ = bitwise<typeset::SetOp::xor_>,
                            .append = append,
                            .clear = clear,
                            .copy = copy,
                            .find = find,
                            .insert = insert,
                            .length_q = length,
                            .pick = pick,
                            .poke = poke,
                            .remove = remove,
                            .modify = series_actions.modify}});
}

}  // namespace kiv::bitset
