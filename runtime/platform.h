// Platform start: what the process needs before any runtime module runs.
#pragma once

#include <cstddef>

namespace kiv::runtime {

// Installs the fault handlers for the calling thread, records the bounds of
// its machine stack, and copies the command line into the runtime state
// record as tracked UTF-8 strings. Called on the thread that runs Kiv code.
void platform_start(int argc, const char* const* argv);

// Notes the bounds of the calling thread's machine stack (platform_start
// does it for the Kiv thread).
void record_stack_bounds();

// Bytes of machine stack left below the caller's frame on the Kiv thread.
size_t stack_remaining();

// The platform step of runtime start-up: the output layer.
void platform_init();

}  // namespace kiv::runtime
