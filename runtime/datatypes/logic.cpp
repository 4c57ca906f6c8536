#include "runtime/datatypes/logic.h"

#include <cmath>

#include "runtime/check.h"
#include "runtime/core/error_raise.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/unset.h"
#include "runtime/eval/random.h"
#include "runtime/mold.h"

namespace kiv::logic {
namespace {

// `to logic!`: only none and false convert to false.
void to_value(Val result, Val spec, TypeId) {
  switch (cell::type_of(*spec)) {
    case TypeId::logic: *result = make(spec->w1 == 1); break;
    case TypeId::none: *result = make(false); break;
    default: *result = make(true); break;
  }
}

// `make logic!`: numbers count as true when not zero.
void make_value(Val result, Val spec, TypeId type) {
  switch (cell::type_of(*spec)) {
    case TypeId::integer:
      *result = make(cell::get_int32(*spec) != 0);
      break;
    case TypeId::float_:
    case TypeId::percent: {
      const double number = cell::get_double(*spec);
      *result = make(number != 0.0 || std::isnan(number));
      break;
    }
    default:
      to_value(result, spec, type);
  }
}

void random_value(Val value, bool seed, bool secure, bool) {
  if (seed) {
    random::mt_seed(value->w1);
    *value = unset::make();
    return;
  }
  *value = make(random::next31(secure) > 0x3FFFFFFF);
}

int32_t form(Val value, Val out, int32_t part) { return mold::emit(out, get(*value) ? "true" : "false", part); }

int32_t mold_value(Val value, Val out, const MoldOptions& options, int32_t part) {
  if (!options.all) return form(value, out, part);
  return mold::emit(out, get(*value) ? "#(true)" : "#(false)", part);
}

int compare(const Cell& a, const Cell& b, CmpOp op) {
  if (!cell::is(b, TypeId::logic) || !compares_unordered(op)) return -2;
  return static_cast<int>(a.w1) - static_cast<int>(b.w1);  // false sorts first
}

void complement(Val value) { value->w1 ^= 1; }

template <MathOp op>
void bitwise(Val left, Val right) {
  if (!cell::is(*right, TypeId::logic)) check::raise_expect_arg(*right, 1);
  const uint32_t a = left->w1;
  const uint32_t b = right->w1;
  const uint32_t result = op == MathOp::and_ ? (a & b) : op == MathOp::or_ ? (a | b) : (a ^ b);
  *left = make(result != 0);
}

}  // namespace

bool value_true(const Cell& value, bool check, const Cell& word) {
  if (check && cell::is(value, TypeId::unset)) error::raise(error_id::script::no_value, word);
  return is_true(value);
}

void raise_no_return() { error::raise(error_id::script::no_return); }

void register_types() {
  datatype::register_type({TypeId::logic, TypeId::none_type, "logic!",
                           {.make = make_value,
                            .random = random_value,
                            .to = to_value,
                            .form = form,
                            .mold = mold_value,
                            .compare = compare,
                            .and_ = bitwise<MathOp::and_>,
                            .complement = complement,
                            .or_ = bitwise<MathOp::or_>,
                            .xor_ = bitwise<MathOp::xor_>}});
}

}  // namespace kiv::logic
