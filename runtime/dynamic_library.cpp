#include "runtime/dynamic_library.h"

#include <dlfcn.h>

#include <vector>

namespace kiv::dynamic_library {

bool open(const char* soname, std::span<const char* const> names, std::span<void*> addresses, std::string& why) {
  void* library = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* reason = ::dlerror();
    why = std::string("cannot load ") + soname + (reason ? std::string(": ") + reason : std::string());
    return false;
  }
  std::vector<void*> found(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    found[i] = ::dlsym(library, names[i]);
    if (found[i] == nullptr) {
      why = std::string(soname) + " lacks " + names[i];
      return false;  // it stays open: unloading a library that ran its constructors is not worth the risk
    }
  }
  for (size_t i = 0; i < names.size() && i < addresses.size(); ++i) addresses[i] = found[i];
  return true;
}

}  // namespace kiv::dynamic_library
