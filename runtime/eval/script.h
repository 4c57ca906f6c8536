// Script files: source text that starts with a Kiv header.
//
// A header is the word Kiv (or Kiv/System), white space, then a block of
// fields; the code follows it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"

namespace kiv::script {

// Where the header starts in `text`, or std::string::npos.
size_t find_header(std::string_view text);

// Reads a file's text; raises access/cannot-open.
std::string read_file(const std::string& path);

// Loads a script's text: pushes the block of its code (after the header).
// Raises syntax/no-header when there is no header.
Val load(std::string_view text);

// Moves the block of a script's values (as the lexer gave it, from the
// header on) past its header. Raises syntax/no-header when it starts with
// no header.
void skip_header(Val code);

}  // namespace kiv::script
