#include "runtime/core/pages.h"

#include <sys/mman.h>

#include "runtime/core/exits.h"

namespace kiv::pages {

void* allocate(size_t size) {
  void* pages = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pages == MAP_FAILED) runtime::raise_exit(exit_code::os_alloc_failed);
  return pages;
}

void release(void* address, size_t size) {
  if (::munmap(address, size) != 0) runtime::raise_exit(exit_code::os_free_failed);
}

}  // namespace kiv::pages
