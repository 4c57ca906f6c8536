// How evaluation code reports a non-local exit.
//
// Every function that evaluates Kiv code answers a `Flow`. `exit` means a
// break, continue, return, exit or throw is on its way out: the code that
// raised it has already unwound the Kiv stacks to its target and left the
// exit's code pending (runtime::state.pending). The caller returns `exit` at
// once, touching neither stack, until the construct the exit aims at takes
// it. Errors travel as C++ exceptions instead (exits.h).
#pragma once

#include <cstdint>

namespace kiv {

enum class [[nodiscard]] Flow : uint8_t { normal = 0, exit = 1 };

}  // namespace kiv

// Returns from the enclosing function when `expr` reports an exit.
#define KIV_PROPAGATE(expr)                                        \
  do {                                                             \
    if ((expr) != ::kiv::Flow::normal) return ::kiv::Flow::exit;   \
  } while (0)
