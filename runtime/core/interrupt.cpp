#include "runtime/core/interrupt.h"

#include "runtime/core/exits.h"

namespace kiv::interrupt {

volatile std::sig_atomic_t requested = 0;

void raise() {
  requested = 0;
  runtime::raise_exit(exit_code::interrupt);
}

}  // namespace kiv::interrupt
