// Helpers shared by the small composite scalars: pair!, point2D!,
// point3D! and tuple!. Each names its parts by index (and the first three
// by the words x, y and z), converts from text through the lexer and
// truncates floats into 32-bit components.
#pragma once

#include <cstdint>
#include <optional>

#include "runtime/core/cell.h"

namespace kiv::coordinates {

// 1, 2 or 3 for the words x, y and z (case folded), when that many axes
// exist; 0 for any other value.
int axis_of_word(const Cell& word, int axes);

// The one value that `text` (an any-string!) loads as, or nothing when it
// holds no value, more than one, or does not load. May collect.
std::optional<Cell> load_one(const Cell& text);

// Whether `number` truncates to an int32 (NaN and infinities do not).
bool fits_int32(double number);

// The number of an integer! or float! cell as a double.
double number_of(const Cell& value);

}  // namespace kiv::coordinates
