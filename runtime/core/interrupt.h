// Interrupts from the keyboard (Ctrl-C).
//
// A signal handler may only set a flag; the evaluator looks at the flag
// each time it starts a block (every function body, branch and loop round
// passes there) and, when it is set, raises the interrupt exit. Its code
// lies above every catch threshold a Kiv construct keeps, so no `try`,
// `catch` or loop stops it: it unwinds to the top level, where the console
// takes it back to the prompt or ends a script.
#pragma once

#include <csignal>

namespace kiv::interrupt {

// Set by a signal handler; cleared when the interrupt is raised.
extern volatile std::sig_atomic_t requested;

// Clears the request and raises the interrupt exit (exit_code::interrupt).
[[noreturn]] void raise();

// Raises the interrupt when one was requested.
inline void check() {
  if (requested != 0) [[unlikely]]
    raise();
}

}  // namespace kiv::interrupt
