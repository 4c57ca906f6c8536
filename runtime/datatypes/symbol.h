// The symbol table: every word name, interned once.
//
// A symbol is a `symbol!` cell in the symbol table (a cell series that
// only grows); its id is its 1-based position. Cell layout:
//   w1  alias: 0xFFFFFFFF for a canonical symbol; for a case variant, the
//       id of the canonical symbol with the same letters
//   w2  node of the spelling as a string!, made on first request (0 before)
//   w3  node of a byte series holding the spelling in UTF-8 as first given,
//       followed by a NUL byte outside its length
// Words compare and bind through the canonical symbol (`resolve`), so "foo",
// "Foo" and "FOO" are one word with three spellings. Only ASCII letters
// fold: names differing in the case of other letters are different words.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

namespace kiv::symbol {

inline constexpr uint32_t initial_capacity = 4000;
inline constexpr uint32_t canonical = 0xFFFFFFFF;

// Makes the symbol table and its index.
void init();

// The id of `name`: the exact spelling when known, else a new symbol (an
// alias when a case variant exists). May collect.
uint32_t make(std::string_view name);
// The id of any case variant of `name`, else a new canonical symbol.
uint32_t make_caseless(std::string_view name);

// The canonical symbol of `id`.
uint32_t resolve(uint32_t id);
// The alias word as stored (`canonical` for a canonical symbol).
uint32_t alias_of(uint32_t id);

// The UTF-8 spelling; valid until the next allocation.
std::string_view spelling(uint32_t id);
std::string_view spelling_of_cell(const Cell& symbol_cell);

// Orders two spellings code point by code point, folding ASCII case unless
// `exact`: -1, 0 or 1.
int compare_spellings(std::string_view a, std::string_view b, bool exact);

// ASCII-only caseless equality of two names.
bool equal_caseless(std::string_view a, std::string_view b);

// The spelling as a string! node, made once and shared. May collect.
NodeId spelling_string(uint32_t id);

uint32_t count();
NodeId table();
NodeId index();

void register_types();

namespace detail {
// Appends a new symbol cell with its spelling; answers its position.
uint32_t append(std::string_view name, int32_t alias);
}  // namespace detail

}  // namespace kiv::symbol
