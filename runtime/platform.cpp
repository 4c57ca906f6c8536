#include "runtime/platform.h"

#include <cstring>
#include <pthread.h>

#include "runtime/console_output.h"
#include "runtime/core/runtime_error.h"
#include "runtime/core/state.h"
#include "runtime/core/tracked_memory.h"

namespace kiv::runtime {
void record_stack_bounds() {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return;
  void* low = nullptr;
  size_t size = 0;
  if (pthread_attr_getstack(&attributes, &low, &size) == 0) {
    state.stack_low = reinterpret_cast<uintptr_t>(low);
    state.stack_high = state.stack_low + size;
  }
  pthread_attr_destroy(&attributes);
}

namespace {

// The arguments arrive as the bytes the system gave; on Linux that is UTF-8
// (or bytes of file names that are not, which must survive unchanged).
void copy_arguments(int argc, const char* const* argv) {
  auto** vector = static_cast<char**>(memory::allocate(sizeof(char*) * static_cast<size_t>(argc + 1)));
  for (int i = 0; i < argc; ++i) {
    const size_t size = std::strlen(argv[i]) + 1;
    vector[i] = static_cast<char*>(memory::allocate(size));
    std::memcpy(vector[i], argv[i], size);
  }
  vector[argc] = nullptr;
  state.argc = argc;
  state.argv = vector;
}

}  // namespace

void platform_start(int argc, const char* const* argv) {
  install_fault_handlers();
  record_stack_bounds();
  copy_arguments(argc, argv);
}

size_t stack_remaining() {
  const auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  if (here <= state.stack_low || here > state.stack_high) return 0;
  return here - state.stack_low;
}

void platform_init() { output::init(); }

}  // namespace kiv::runtime
