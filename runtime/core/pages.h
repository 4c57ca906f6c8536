// Page memory from the operating system: the frames of the memory manager.
#pragma once

#include <cstddef>

namespace kiv::pages {

// Fresh zeroed read-write pages. Failure raises the exit code
// `exit_code::os_alloc_failed`, which the memory manager catches.
void* allocate(size_t size);
// Gives pages back. Failure raises `exit_code::os_free_failed`.
void release(void* address, size_t size);

}  // namespace kiv::pages
