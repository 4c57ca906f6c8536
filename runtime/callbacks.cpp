#include "runtime/callbacks.h"

#include <cstring>

#include "runtime/core/tracked_memory.h"

namespace kiv::callbacks {
namespace {

constexpr size_t growth = 5;

// A list of function pointers in a tracked array.
template <class Hook>
struct HookList {
  Hook* entries = nullptr;
  size_t count = 0;
  size_t capacity = 0;

  void release() {
    memory::free(entries);
    entries = nullptr;
    count = capacity = 0;
  }

  void reset() {
    release();
    entries = static_cast<Hook*>(memory::allocate(growth * sizeof(Hook)));
    capacity = growth;
  }

  void add(Hook hook) {
    if (!hook) return;
    if (!entries) reset();
    if (count == capacity) {
      auto* grown = static_cast<Hook*>(memory::allocate((capacity + growth) * sizeof(Hook)));
      std::memcpy(grown, entries, count * sizeof(Hook));
      memory::free(entries);
      entries = grown;
      capacity += growth;
    }
    entries[count++] = hook;
  }

  void remove(Hook hook) {
    for (size_t i = 0; i < count; ++i) {
      if (entries[i] != hook) continue;
      std::memmove(entries + i, entries + i + 1, (count - i - 1) * sizeof(Hook));
      --count;
      return;
    }
  }
};

HookList<PrintHook> g_print_hooks;
HookList<TextHook> g_text_hooks;

}  // namespace

void init() {
  // Both old lists go before either new one is made: after a free_all
  // (shutdown, tests) they are stale, and a new first list could take the
  // second's old address, which the second's free would then release.
  g_print_hooks.release();
  g_text_hooks.release();
  g_print_hooks.reset();
  g_text_hooks.reset();
}

void register_hooks(PrintHook print_hook, TextHook text_hook) {
  g_print_hooks.add(print_hook);
  g_text_hooks.add(text_hook);
}

void unregister_hooks(PrintHook print_hook, TextHook text_hook) {
  g_print_hooks.remove(print_hook);
  g_text_hooks.remove(text_hook);
}

void run_first(const Cell& value, bool newline) {
  for (size_t i = 0; i < g_print_hooks.count; ++i) g_print_hooks.entries[i](value, newline);
}

void run_second(const char* text, int32_t length, int flag) {
  for (size_t i = 0; i < g_text_hooks.count; ++i) g_text_hooks.entries[i](text, length, flag);
}

size_t print_hook_count() { return g_print_hooks.count; }
size_t print_hook_capacity() { return g_print_hooks.capacity; }
size_t text_hook_count() { return g_text_hooks.count; }
size_t text_hook_capacity() { return g_text_hooks.capacity; }

}  // namespace kiv::callbacks
