// The math natives (max, min, shift, to-hex, trigonometry, logarithms,
// exp, square-root) and the conversion natives (as, dehex, enhex, enbase,
// to-local-file).
#pragma once

#include <cstdint>

#include "runtime/eval/flow.h"

namespace kiv::natives {

// The bit shifts of `shift`: a count above 31 shifts everything out, a
// negative count shifts nothing.
enum class Shift { right, left, logical };
int32_t shift_bits(int32_t value, int32_t bits, Shift direction);

Flow native_max(const int32_t* refinements);
Flow native_min(const int32_t* refinements);
Flow native_shift(const int32_t* refinements);
Flow native_to_hex(const int32_t* refinements);

Flow native_sine(const int32_t* refinements);
Flow native_cosine(const int32_t* refinements);
Flow native_tangent(const int32_t* refinements);
Flow native_arcsine(const int32_t* refinements);
Flow native_arccosine(const int32_t* refinements);
Flow native_arctangent(const int32_t* refinements);
Flow native_arctangent2(const int32_t* refinements);

Flow native_log_2(const int32_t* refinements);
Flow native_log_10(const int32_t* refinements);
Flow native_log_e(const int32_t* refinements);
Flow native_exp(const int32_t* refinements);
Flow native_square_root(const int32_t* refinements);

Flow native_as(const int32_t* refinements);
Flow native_as_money(const int32_t* refinements);
Flow native_dehex(const int32_t* refinements);
Flow native_enhex(const int32_t* refinements);
Flow native_enbase(const int32_t* refinements);
Flow native_debase(const int32_t* refinements);
Flow native_to_local_file(const int32_t* refinements);

}  // namespace kiv::natives
