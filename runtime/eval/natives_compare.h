// The comparison, identity and predicate natives, and the set natives.
#pragma once

#include <cstdint>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/eval/flow.h"

namespace kiv::natives {

// equal?, not-equal?, strict-equal?, lesser?, greater?, lesser-or-equal?
// and greater-or-equal?: value1 value2, answered by the first value's
// datatype. An ordering of values that cannot be ordered raises
// script/invalid-compare.
template <CmpOp op>
Flow native_compare(const int32_t* refinements);

// The entry of the comparison native of `op`, or nullptr for an operation
// that has no native.
native::Entry comparison_entry(CmpOp op);

// same? value1 value2: identity, read from the two cells.
Flow native_same_q(const int32_t* refinements);

// not value: true for none and false.
Flow native_not(const int32_t* refinements);

// type? value /word: the value's datatype, or its name as a word.
Flow native_type_q(const int32_t* refinements);

// negative?, positive?, sign?, zero? and NaN? of a number. A value outside
// the native's types raises script/expect-arg.
Flow native_negative_q(const int32_t* refinements);
Flow native_positive_q(const int32_t* refinements);
Flow native_sign_q(const int32_t* refinements);
Flow native_zero_q(const int32_t* refinements);
Flow native_nan_q(const int32_t* refinements);

// union, intersect, unique, difference and exclude, with /case and /skip
// size. The two sets must be alike (a block goes with a block or a hash,
// anything else with its own type), else script/expect-val; a first set of
// a type the operation does not take raises script/expect-arg.
template <typeset::SetOp op>
Flow native_set_operation(const int32_t* refinements);

// complement? bits: whether a bitset is stored complemented.
Flow native_complement_q(const int32_t* refinements);

}  // namespace kiv::natives
