// money!: an exact decimal amount with 17 integer and 5 fraction digits,
// optionally in a currency.
//
// Cell layout: header 49, bit 14 the sign (1 negative); byte 4 (the low
// byte of w1) the currency, 0 for none or the 1-based index of its code in
// the currency list; bytes 5-15 22 packed decimal digits, most significant
// first, two to a byte, the higher position in the high nibble. Positions
// 1-17 are the integer part, 18-22 the fraction. The sign of a zero amount
// means nothing: it forms as $0.00 and equals $0.
//
// The arithmetic is exact: sums and products are truncated toward zero at
// the fifth fraction digit; a result past 17 integer digits, or a non-zero
// product or quotient that truncates to zero, raises script/type-limit
// (money!). Converting from a float! reads its shortest round-trip digits,
// so 0.1 is exactly $0.1.
//
// Text: form groups the integer digits ($1'234.50) and mold does not; both
// show system/options/money-digits fraction digits (2 by default), cut and
// not rounded, so `mold $1.23456` is "$1.23" and does not load back as the
// same amount. mold/all shows all five digits and always loads back.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/datatypes/actions.h"

namespace kiv::money {

inline constexpr uint32_t sign_flag = 0x4000;

// The 1-based index of a currency code (any case) in the currency list
// (system/locale/currencies/list, or the built-in list before the system
// object exists); 0 when it is not there or past the 255 a cell can name.
uint8_t currency_index(std::string_view code);
// `amount` in the currency of index `currency`.
Cell with_currency(Cell amount, uint8_t currency);

// -1, 0 or 1.
int signum(const Cell& value);

// The exact amount of an integer.
Cell from_integer(int32_t number);
// The amount of a float's shortest decimal digits. Raises
// script/bad-make-arg (money!, the float) for infinities, NaN, magnitudes
// from 1e17 on or below 0.00001 (zero excepted), and, when `strict`, for
// more than 5 fraction digits (which are otherwise truncated).
Cell from_float(double number, bool strict);
// The integer part; script/type-limit (integer!) past 32 bits.
int32_t to_integer(const Cell& value);
double to_float(const Cell& value);

// The arithmetic shared with integer! and float!: `left` op `right` into
// `left`, where either side is money!.
void do_math(Val left, Val right, MathOp op);
// Compares money `a` with `b` (money!, integer!, float!).
int compare(const Cell& a, const Cell& b, CmpOp op);

void register_types();

}  // namespace kiv::money
