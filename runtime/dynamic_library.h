// Libraries opened when first needed rather than linked.
//
// Every library the program links is loaded, and its symbols resolved,
// before any script runs. Some pull in dozens of libraries of their own
// (libcurl) or are large (libcrypto) while few scripts use them: the
// modules that wrap them open them on first use instead, through this.
#pragma once

#include <span>
#include <string>

namespace kiv::dynamic_library {

// Opens the library `soname` and writes the address of the symbol
// names[i] to addresses[i]. False, with the reason in `why`, when the
// library or one of the symbols cannot be found (the addresses are then
// left as they were). The library stays loaded for the life of the process.
bool open(const char* soname, std::span<const char* const> names, std::span<void*> addresses, std::string& why);

}  // namespace kiv::dynamic_library
