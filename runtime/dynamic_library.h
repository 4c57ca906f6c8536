// Libraries opened when first needed rather than linked.
//
// Every library the program links is loaded, and its symbols resolved,
// before any script runs. Some pull in dozens of libraries of their own
// (libcurl) or are large (libcrypto) while few scripts use them: the
// modules that wrap them open them on first use instead, through this.
#pragma once

#include <cstring>
#include <span>
#include <string>

namespace kiv::dynamic_library {

// Opens the library `soname` and writes the address of the symbol
// names[i] to addresses[i]. False, with the reason in `why`, when the
// library or one of the symbols cannot be found (the addresses are then
// left as they were). The library stays loaded for the life of the process.
bool open(const char* soname, std::span<const char* const> names, std::span<void*> addresses, std::string& why);

// The same into `functions`, a struct of function pointers declared in the
// order of `names`, one for each name (POSIX makes a symbol's address a
// valid function pointer).
template <typename Functions, size_t count>
bool open_functions(const char* soname, const char* const (&names)[count], Functions& functions, std::string& why) {
  static_assert(count * sizeof(void*) == sizeof(Functions), "a name for each function");
  void* found[count] = {};
  if (!open(soname, names, found, why)) return false;
  std::memcpy(&functions, found, sizeof found);
  return true;
}

}  // namespace kiv::dynamic_library
