// Source files compiled into the executable.
//
// Each function answers the bytes of one file of the source tree, as it
// was when the executable was built: the build generates its definition
// (cmake/Embed.cmake, `kiv_embed`), so the text lives only in its file.
#pragma once

#include <span>
#include <string_view>

namespace kiv::embedded {

// library/errors.kiv: the error catalogue.
std::string_view library_errors();

// One embedded source file: its name (without folder), its text, and its
// values as the lexer reads them, packed as KIVBIN at build time.
struct Source {
  std::string_view name;
  std::string_view (*text)();
  std::string_view (*packed)();
};

// library/*.kiv: the script library, in the order start-up runs it.
std::span<const Source> library_sources();

// console/*.kiv: the console's Kiv code, run after the library.
std::span<const Source> console_sources();

}  // namespace kiv::embedded
