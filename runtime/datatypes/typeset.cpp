#include "runtime/datatypes/typeset.h"

#include "runtime/core/error_raise.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/word.h"
#include "runtime/mold.h"

namespace kiv::typeset {
namespace {

// The map alone, without header flags (a function's argument cache keeps
// its argument kind in header bits 20-21 of the same cells).
Cell bits_of(const Cell& set) { return Cell{cell::header(TypeId::typeset), set.w1, set.w2, set.w3}; }

bool same_bits(const Cell& a, const Cell& b) { return a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3; }

// ---- make and to (one function) ----

void make_value(Val result, Val spec, TypeId) {
  const Cell value = *spec;
  if (cell::is(value, TypeId::typeset)) {
    *result = bits_of(value);
    return;
  }
  if (!cell::is(value, TypeId::block)) error::raise(error_id::script::bad_to_arg, datatype::make(TypeId::typeset), value);
  Cell set = make_empty();
  for (uint32_t i = 0; i < block::count(value); ++i) add_value(set, *block::at(value, i));
  *result = set;
}

// ---- form and mold: the same text ----

// "make typeset! [integer! float!]"; with /only just the names. Writing
// stops once the budget is spent.
int32_t mold_value(Val value, Val out, const MoldOptions& options, int32_t part) {
  const Cell set = *value;
  if (!options.only) part = mold::emit(out, "make typeset! [", part);
  bool first = true;
  const auto highest = static_cast<uint32_t>(datatype::highest());
  for (uint32_t t = 1; t <= highest && part > 0; ++t) {
    const auto type = static_cast<TypeId>(t);
    if (!has(set, type)) continue;
    if (!first) part = mold::emit(out, " ", part);
    part = mold::emit(out, datatype::info(type).name, part);
    first = false;
  }
  if (!options.only) part = mold::emit(out, "]", part);
  return part;
}

int32_t form(Val value, Val out, int32_t part) { return mold_value(value, out, {}, part); }

// ---- compare ----

// Equal exactly when the same types are present; the sort orders go by the
// number of types.
int compare(const Cell& a, const Cell& b, CmpOp op) {
  if (!cell::is(b, TypeId::typeset)) return -2;
  switch (op) {
    case CmpOp::equal:
    case CmpOp::not_equal:
    case CmpOp::strict_equal:
    case CmpOp::same:
    case CmpOp::lookup:
      return same_bits(a, b) ? 0 : 1;
    case CmpOp::sort:
    case CmpOp::case_sort: {
      const uint32_t ca = count(a);
      const uint32_t cb = count(b);
      return ca < cb ? -1 : ca > cb ? 1 : 0;
    }
    default:
      return -2;
  }
}

// ---- bitwise actions and find ----

template <SetOp op>
void bitwise(Val left, Val right) {
  *left = do_bitwise(*left, *right, op);
}

void complement(Val value) {
  *value = Cell{cell::header(TypeId::typeset), ~value->w1, ~value->w2, ~value->w3};
}

// find typeset datatype: whether the type is in the set.
void find(Val set, Val value, const FindOptions&) {
  if (!cell::is(*value, TypeId::datatype)) error::raise(error_id::script::invalid_arg, *value);
  *set = logic::make(has(*set, datatype::get(*value)));
}

}  // namespace

void add_value(Cell& set, const Cell& value) {
  const Cell item = cell::is(value, TypeId::word) ? *context::get(value) : value;
  if (cell::is(item, TypeId::datatype)) {
    add(set, datatype::get(item));
  } else if (cell::is(item, TypeId::typeset)) {
    set.w1 |= item.w1;
    set.w2 |= item.w2;
    set.w3 |= item.w3;
  } else {
    error::raise(error_id::script::invalid_arg, value);
  }
}

uint32_t count(const Cell& set) {
  uint32_t present = 0;
  const auto highest = static_cast<uint32_t>(datatype::highest());
  for (uint32_t t = 1; t <= highest; ++t) present += has(set, static_cast<TypeId>(t)) ? 1 : 0;
  return present;
}

void to_block(const Cell& set, Val block) {
  const auto highest = static_cast<uint32_t>(datatype::highest());
  for (uint32_t t = 1; t <= highest; ++t) {
    const auto type = static_cast<TypeId>(t);
    if (has(set, type)) block::append(block, word::make_global(datatype::info(type).symbol));
  }
}

Cell do_bitwise(const Cell& left, const Cell& right, SetOp op) {
  Cell other = make_empty();
  if (cell::is(right, TypeId::typeset)) other = right;
  else if (cell::is(right, TypeId::datatype)) add(other, datatype::get(right));
  else error::raise(error_id::script::invalid_arg, right);
  Cell result = bits_of(left);
  switch (op) {
    case SetOp::or_:
    case SetOp::union_:
      result.w1 |= other.w1, result.w2 |= other.w2, result.w3 |= other.w3;
      break;
    case SetOp::and_:
    case SetOp::intersect:
      result.w1 &= other.w1, result.w2 &= other.w2, result.w3 &= other.w3;
      break;
    case SetOp::xor_:
    case SetOp::difference:
      result.w1 ^= other.w1, result.w2 ^= other.w2, result.w3 ^= other.w3;
      break;
    case SetOp::exclude:
      result.w1 &= ~other.w1, result.w2 &= ~other.w2, result.w3 &= ~other.w3;
      break;
    case SetOp::unique:
      break;
  }
  return result;
}

// Slots: make, to, form, mold, compare, and~, complement, or~, xor~ and
// find; every other action is unsupported.
void register_types() {
  datatype::register_type({TypeId::typeset, TypeId::none_type, "typeset!",
                           {.make = make_value,
                            .to = make_value,
                            .form = form,
                            .mold = mold_value,
                            .compare = compare,
                            .and_ = bitwise<SetOp::and_>,
                            .complement = complement,
                            .or_ = bitwise<SetOp::or_>,
                            .xor_ = bitwise<SetOp::xor_>,
                            .find = find}});
}

}  // namespace kiv::typeset
