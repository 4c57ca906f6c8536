#include "runtime/eval/natives_compare.h"

#include <cmath>

#include "runtime/check.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/set_operations.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/compare.h"
#include "runtime/eval/native_args.h"

namespace kiv::natives {
namespace {

using native_args::answer;
using native_args::arg;
using native_args::refinement_arg;
using native_args::used;

// Whether two cells of the same datatype are the same value.
bool identical(const Cell& a, const Cell& b) {
  const TypeId type = cell::type_of(a);
  if (type_traits::is_series(type)) return a.w1 == b.w1 && a.w2 == b.w2;  // head index and buffer
  // The binding and the spelling: the index within the context is found
  // lazily, so one of two copies of a word may know it and the other not.
  if (type_traits::is_all_word(type)) return a.w1 == b.w1 && a.w2 == b.w2;
  switch (type) {
    case TypeId::none:
    case TypeId::unset: return true;
    case TypeId::datatype:
    case TypeId::logic:
    case TypeId::object: return a.w1 == b.w1;  // type id, truth, context
    case TypeId::char_:
    case TypeId::integer:
    case TypeId::bitset: return a.w2 == b.w2;
    // The bits of the double: 0.0 is not -0.0, and a NaN is the same as
    // the very same NaN.
    case TypeId::float_:
    case TypeId::percent:
    case TypeId::time: return a.w2 == b.w2 && a.w3 == b.w3;
    case TypeId::native:
    case TypeId::action: return a.w1 == b.w1 && a.w2 == b.w2;  // entry index and spec
    // The function an op wraps: its kind (header bits 16-23), then its
    // index or context and its spec.
    case TypeId::op: return ((a.header ^ b.header) & 0x00FF0000u) == 0 && a.w1 == b.w1 && a.w2 == b.w2;
    // The sign of an amount lives in the header.
    case TypeId::money: return ((a.header ^ b.header) & money::sign_flag) == 0 && a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3;
    default: return a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3;
  }
}

// The number argument of a predicate: a double, after checking that the
// value is one of the landed number types the predicates take.
double number_arg() {
  const Cell value = *arg(0);
  switch (cell::type_of(value)) {
    case TypeId::integer: return cell::get_int32(value);
    case TypeId::float_:
    case TypeId::percent:
    case TypeId::time: return cell::get_double(value);
    // Only the sign of an amount is asked.
    case TypeId::money: return money::signum(value);
    default: check::raise_expect_arg(value, 0);
  }
}

enum class TypeOfRefinement { word };
enum class SetOperationRefinement { case_, skip };

string::SetOp text_op(typeset::SetOp op) {
  switch (op) {
    case typeset::SetOp::unique: return string::SetOp::unique;
    case typeset::SetOp::union_: return string::SetOp::union_;
    case typeset::SetOp::intersect: return string::SetOp::intersect;
    case typeset::SetOp::exclude: return string::SetOp::exclude;
    default: return string::SetOp::difference;
  }
}

bool is_block_or_hash(TypeId type) { return type == TypeId::block || type == TypeId::hash; }

}  // namespace

// ---- comparison ----

template <CmpOp op>
Flow native_compare(const int32_t*) {
  return answer(logic::make(compare::test(*arg(0), *arg(1), op)));
}

native::Entry comparison_entry(CmpOp op) {
  switch (op) {
    case CmpOp::equal: return native_compare<CmpOp::equal>;
    case CmpOp::not_equal: return native_compare<CmpOp::not_equal>;
    case CmpOp::strict_equal: return native_compare<CmpOp::strict_equal>;
    case CmpOp::lesser: return native_compare<CmpOp::lesser>;
    case CmpOp::lesser_or_equal: return native_compare<CmpOp::lesser_or_equal>;
    case CmpOp::greater: return native_compare<CmpOp::greater>;
    case CmpOp::greater_or_equal: return native_compare<CmpOp::greater_or_equal>;
    default: return nullptr;
  }
}

template Flow native_compare<CmpOp::equal>(const int32_t*);
template Flow native_compare<CmpOp::not_equal>(const int32_t*);
template Flow native_compare<CmpOp::strict_equal>(const int32_t*);
template Flow native_compare<CmpOp::lesser>(const int32_t*);
template Flow native_compare<CmpOp::lesser_or_equal>(const int32_t*);
template Flow native_compare<CmpOp::greater>(const int32_t*);
template Flow native_compare<CmpOp::greater_or_equal>(const int32_t*);

Flow native_same_q(const int32_t*) {
  const Cell a = *arg(0);
  const Cell b = *arg(1);
  return answer(logic::make(cell::type_of(a) == cell::type_of(b) && identical(a, b)));
}

Flow native_not(const int32_t*) { return answer(logic::make(!logic::is_true(*arg(0)))); }

Flow native_type_q(const int32_t* refinements) {
  const TypeId type = cell::type_of(*arg(0));
  if (used(refinements, TypeOfRefinement::word)) return answer(word::make_global(datatype::info(type).symbol));
  return answer(datatype::make(type));
}

// ---- numeric predicates ----

Flow native_negative_q(const int32_t*) { return answer(logic::make(number_arg() < 0)); }

Flow native_positive_q(const int32_t*) { return answer(logic::make(number_arg() > 0)); }

// A NaN is neither below nor above zero: its sign is 0.
Flow native_sign_q(const int32_t*) {
  const double number = number_arg();
  return answer(integer::make(number < 0 ? -1 : number > 0 ? 1 : 0));
}

Flow native_zero_q(const int32_t*) {
  const Cell value = *arg(0);
  switch (cell::type_of(value)) {
    case TypeId::char_: return answer(logic::make(value.w2 == 0));
    case TypeId::pair: return answer(logic::make(value.w2 == 0 && value.w3 == 0));
    case TypeId::tuple: return answer(logic::make(tuple::is_zero(value)));
    case TypeId::point2d:
    case TypeId::point3d: {
      bool zero = true;
      for (int axis = 0; axis < point::axes(value); ++axis) zero = zero && point::get(value, axis) == 0.0f;
      return answer(logic::make(zero));
    }
    default: break;
  }
  return answer(logic::make(number_arg() == 0));
}

Flow native_nan_q(const int32_t*) { return answer(logic::make(std::isnan(number_arg()))); }

// ---- sets ----

template <typeset::SetOp op>
Flow native_set_operation(const int32_t* refinements) {
  constexpr bool two_sets = op != typeset::SetOp::unique;
  const TypeId first = cell::type_of(*arg(0));
  if (two_sets) {
    const TypeId second = cell::type_of(*arg(1));
    if (first != second && !(is_block_or_hash(first) && is_block_or_hash(second)))
      error::raise(error_id::script::expect_val, datatype::make(first), datatype::make(second));
  }
  using enum SetOperationRefinement;
  const bool case_sensitive = used(refinements, case_);
  const int32_t record_size = used(refinements, skip) ? cell::get_int32(*refinement_arg(refinements, skip)) : 1;
  const Val second_set = two_sets ? arg(1) : arg(0);
  if (is_block_or_hash(first)) return answer(set_operations::on_blocks(arg(0), second_set, op, case_sensitive, record_size));
  if (first == TypeId::string)
    return answer(string::set_operation(arg(0), second_set, text_op(op), case_sensitive, record_size));
  if (first == TypeId::typeset && two_sets) return answer(typeset::do_bitwise(*arg(0), *second_set, op));
  // Bits have no records and no case: /skip and /case change nothing.
  if (first == TypeId::bitset) return answer(bitset::set_operation(arg(0), second_set, op));
  // Two dates: the time between them.
  if (first == TypeId::date && two_sets) {
    date::difference(arg(0), arg(1));
    return answer(*arg(0));
  }
  check::raise_expect_arg(*arg(0), 0);
}

template Flow native_set_operation<typeset::SetOp::unique>(const int32_t*);
template Flow native_set_operation<typeset::SetOp::union_>(const int32_t*);
template Flow native_set_operation<typeset::SetOp::intersect>(const int32_t*);
template Flow native_set_operation<typeset::SetOp::exclude>(const int32_t*);
template Flow native_set_operation<typeset::SetOp::difference>(const int32_t*);

Flow native_complement_q(const int32_t*) {
  if (!cell::is(*arg(0), TypeId::bitset)) check::raise_expect_arg(*arg(0), 0);
  return answer(logic::make(bitset::is_negated(*arg(0))));
}

}  // namespace kiv::natives
