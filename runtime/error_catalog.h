// The error catalogue: category titles and message templates.
//
// Its one source is the Kiv data file library/errors.kiv, compiled into the
// executable and read at start-up, before any error is formed. Read, it is
// a block of pairs: a category's set-word and the category's block, in
// category order (the file's `Kiv [...]` header is dropped). A category
// block starts with `code:` and its integer (100 x the category's position)
// and `type:` and its title string; then come its ids, each a set-word
// followed by its message template (a string, a block of strings and
// get-words naming error fields, or a word naming the field that is the
// message). The block is kept for the whole run in a permanent root.
//
// C++ code raises errors by the constants of error_codes.h, which the build
// generates from the same file. `load` checks that the catalogue it reads
// has the shape above and each generated id at its code's position: the
// build's reader of the file and the runtime's must agree, or a code would
// name another id's message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/core/cell.h"
#include "runtime/core/error_codes.h"
#include "runtime/core/gc_safety.h"

namespace kiv::error_catalog {

// Reads the embedded catalogue (or `text`), checks it against the
// generated error_id::category_words and error_id::catalogue_words and keeps it. A
// catalogue that does not read or does not agree ends start-up as runtime
// error 98, after a line on standard error that names the problem. May
// collect.
void load();
void load(std::string_view text);

// Reads catalogue text into its block, pushed on the argument stack. A
// syntax error in the text is raised as usual. May collect.
Val read(std::string_view text);

// The first disagreement between a catalogue block and the generated
// tables, as a sentence; empty when the shapes are right and every
// category and id is at the same position in both. Never allocates.
std::string check(const Cell& catalogue);

// The loaded catalogue block (none before `load`).
const Cell& catalogue();

// Lookups in the loaded catalogue by category position or error code. The
// names are valid until the next allocation and empty when the catalogue
// has no such category or id; the cells are none then.
std::string_view category_name(uint32_t category);
std::string_view id_name(error_id::Code code);
Cell title(uint32_t category);
Cell message_template(error_id::Code code);

// Lookups by name, without regard to case: the position of the category
// named by `symbol`, and the position of the id named by `symbol` among
// its category's ids (counted from 0, as in codes); -1 when there is
// none. Never allocate.
int32_t find_category(uint32_t symbol);
int32_t find_id(uint32_t category, uint32_t symbol);
// The number of categories, and of the ids of a category (0 when there is
// no such category).
uint32_t category_count();
uint32_t id_count(uint32_t category);

}  // namespace kiv::error_catalog
