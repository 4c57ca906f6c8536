// The parse engine's view of its input: reading units of a block, a string
// or a binary, and the literal matches and searches over them. Nothing here
// allocates or runs Kiv code, so raw buffer pointers live only within one
// call.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"
#include "runtime/core/series.h"

namespace kiv::parse::input {

enum class Kind : uint8_t { block, string, binary };

Kind kind_of(TypeId type);

inline uint32_t total(const Cell& series) { return memory::buffer(series::node_of(series))->length(); }

// The unit at `index` of a string or binary (a code point or a byte).
inline uint32_t unit_at(const SeriesBuf* buf, uint32_t index) {
  const uint8_t* at = buf->head_ptr();
  switch (buf->unit()) {
    case 1: return at[index];
    case 2: return reinterpret_cast<const uint16_t*>(at)[index];
    default: return reinterpret_cast<const uint32_t*>(at)[index];
  }
}
inline const Cell* cells(const Cell& series) {
  return reinterpret_cast<const Cell*>(memory::buffer(series::node_of(series))->head_ptr());
}

// Folds a code point for a match without regard to case.
uint32_t fold(uint32_t code_point);

// Whether `rule` is a value that string or binary input can match
// literally: a char!, any string, a binary! or a bitset!.
bool is_text_literal(TypeId type);

// Matches the literal `rule` at `index` of string or binary input (whose
// matchable part ends at `end`): the index after the match, or -1.
int64_t match_text(const Cell& input, uint32_t index, uint32_t end, const Cell& rule, bool case_sensitive);

// Matches `rule` against the block element at `index` (below `end`): a
// datatype or typeset by the element's type, a lit-word or lit-path as the
// word or path it names, anything else by equality.
bool match_element(const Cell& input, uint32_t index, const Cell& rule, bool case_sensitive);

// A run of `rule` (a char! or bitset!) repeated over string or binary
// input from `index`: how many units match, at most `max` (-1: no most).
uint32_t count_run(const Cell& input, uint32_t index, uint32_t end, const Cell& rule, bool case_sensitive, int64_t max);

struct Found {
  bool found = false;
  uint32_t at = 0;     // where the match begins
  uint32_t after = 0;  // where it ends
};

// The first place from `index` where the single value `target` matches
// (`to` and `thru` of a value): an element of block input, a char, text or
// bitset character of string or binary input. A target that string input
// cannot search for raises script/parse-rule naming it.
Found search(const Cell& input, uint32_t index, uint32_t end, const Cell& target, bool case_sensitive);

}  // namespace kiv::parse::input
