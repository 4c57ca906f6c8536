#include "runtime/eval/compare.h"

#include "runtime/core/error_raise.h"
#include "runtime/datatypes/datatype.h"

namespace kiv::compare {
namespace {

int sign(int64_t difference) { return difference < 0 ? -1 : difference > 0 ? 1 : 0; }

}  // namespace

int dispatch(const Cell& a, const Cell& b, CmpOp op) {
  const TypeId type = cell::type_of(a);
  const TypeId other = cell::type_of(b);
  switch (type) {
    case TypeId::native:
    case TypeId::action:
    case TypeId::op:
      if (other != type) return -2;
      return sign(static_cast<int64_t>(a.w1) - static_cast<int64_t>(b.w1));
    case TypeId::function:
    case TypeId::routine:
      if (other != type) return -2;
      return sign(static_cast<int64_t>(a.w3) - static_cast<int64_t>(b.w3));
    default:
      break;
  }
  const action::CompareFn compare_fn = datatype::actions(type).compare;
  return compare_fn ? compare_fn(a, b, op) : -2;
}

bool holds(int answer, CmpOp op) {
  switch (op) {
    case CmpOp::not_equal: return answer != 0;
    case CmpOp::lesser: return answer < 0;
    case CmpOp::lesser_or_equal: return answer <= 0;
    case CmpOp::greater: return answer > 0;
    case CmpOp::greater_or_equal: return answer >= 0;
    default: return answer == 0;
  }
}

bool test(const Cell& a, const Cell& b, CmpOp op) {
  const int answer = dispatch(a, b, op);
  if (answer == -2) {
    if (is_equality(op)) return op == CmpOp::not_equal;
    error::raise(error_id::script::invalid_compare, a, b);
  }
  return holds(answer, op);
}

}  // namespace kiv::compare
