#include "runtime/core/exits.h"

namespace kiv::runtime {

void raise_exit(uint32_t code) {
  state.pending = code;
  throw Unwind{code};
}

void throw_pending() {
  if (state.pending == exit_code::none) return;
  throw Unwind{state.pending};
}

}  // namespace kiv::runtime
