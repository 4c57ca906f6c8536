// The base environment: the global words every script starts with before
// the library is defined: datatype names, typesets, logic constants.
#pragma once

namespace kiv::base_words {

void init();

}  // namespace kiv::base_words
