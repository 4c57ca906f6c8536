// The JSON writer behind `to-json`: Kiv values to JSON text.
//
// none is null, logic! true or false, integer! its digits, float! the
// shortest digits that read back to the same double (an infinity or NaN,
// which JSON cannot write, is null), percent! its fraction as a float.
// Strings are quoted with the short escapes for the quote, the backslash,
// backspace, form feed, LF, CR and tab, and \u with upper-case hex digits
// for the other characters outside the copied set (pairs of surrogates
// above U+FFFF). Blocks (and every any-block) are arrays; maps and objects
// are objects keyed by their words; other strings are formed and every
// other value is molded, then written as a string.
#pragma once

#include <string>

#include "runtime/core/gc_safety.h"

namespace kiv::json {

struct EmitOptions {
  // Pretty layout: a line per value, `indent` repeated once per level.
  bool pretty = false;
  std::u32string indent;
  // Only printable ASCII is written as it is; the rest is escaped.
  bool ascii = false;
};

// A new string! of `data` as JSON. Nesting deeper than the reader's limit
// (a block that holds itself, for one) raises internal/stack-overflow. May
// collect.
Cell encode(Val data, const EmitOptions& options);

}  // namespace kiv::json
