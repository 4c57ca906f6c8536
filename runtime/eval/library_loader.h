// Running the script library at start-up.
//
// The library is Kiv source compiled into the executable (library/*.kiv,
// runtime/embedded.h). Each file starts with a Kiv header; its code is
// bound to the global context and evaluated, one file after the other, in
// the order the build lists them: later files use what earlier ones define.
#pragma once

#include <span>
#include <string_view>

#include "runtime/core/gc_safety.h"
#include "runtime/embedded.h"

namespace kiv::library_loader {

// Appends the values of a source's packed form (KIVBIN, made at build
// time) to the block `into`: the KIVBIN decoder, which lies in a layer
// above this one and is handed in by the program.
using Unpack = void (*)(std::string_view packed, Val into);

// Evaluates every source in order. A source that fails to load or raises
// an error ends start-up as an error that nothing caught: its name and the
// error go to standard error and the process ends with status 254 (-2).
// A throw that leaves a source reaches the top handler (runtime error 95).
// Afterwards the word `builtin`, through which the library takes the
// runtime's routines, is unset. With `unpack`, sources that carry their
// packed values are decoded rather than lexed.
void run(std::span<const embedded::Source> sources, Unpack unpack = nullptr);

}  // namespace kiv::library_loader
