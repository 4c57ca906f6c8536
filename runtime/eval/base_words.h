// The base environment: the global words the runtime sets before the
// library is defined: datatype names, any-type!, none, true and false.
// The library's first file (library/routines.kiv) adds the routines, the
// logic synonyms and the typesets.
#pragma once

#include <cstdint>
#include <optional>

#include "runtime/core/cell.h"

namespace kiv::base_words {

// The typeset that the spec of a native, action or routine means by a
// typeset name (`number!`, `series!` ... by symbol id), or nothing for
// another name. Built-ins check their arguments against these fixed sets,
// whatever the library's words of the same names hold. Never allocates.
std::optional<Cell> builtin_typeset(uint32_t symbol);

void init();

}  // namespace kiv::base_words
