// The JSON reader behind `load-json`: JSON text to Kiv values.
//
// Objects become map! values (a key that reads as one word becomes a word!,
// any other a string!), arrays block! values, strings string! values,
// true/false logic!, null none!. A number without fraction or exponent that
// fits 32 bits is an integer!, every other number a float!.
//
// The reader walks the text once with an explicit stack of open
// containers, so nesting costs no machine stack; nesting is still bounded
// (`max_depth`) because every later walk of the value (mold, to-json,
// equality) recurses.
//
// The text is invalid JSON when it is not one value with optional white
// space around it. The reader then reports where it got to, in the terms of
// the error text `load-json` makes: `mark` is the position after the last
// item read (a value, a key with its colon, or a line feed), `line` counts
// line feeds from 1, and `line_start` is the position after the last line
// feed. Positions are characters from the string's index.
#pragma once

#include <cstdint>

#include "runtime/core/gc_safety.h"

namespace kiv::json {

inline constexpr uint32_t max_depth = 1000;

struct Failure {
  uint32_t mark = 0;
  uint32_t line = 1;
  uint32_t line_start = 0;
  bool too_deep = false;
};

// Reads the string `input` from its index. Answers true with the value in
// `result`, or false with `failure` filled. A string literal whose escapes
// name a high surrogate without its low surrogate raises script/invalid-data
// with the literal's text. May collect.
bool decode(Val input, Val result, Failure& failure);

}  // namespace kiv::json
