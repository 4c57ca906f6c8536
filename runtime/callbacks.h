// The two output-hook lists.
//
// List 1 receives what `print` and `prin` print: the string value and the
// new-line flag. List 2 receives the runtime's own low-level text (C strings
// and formatted numbers): UTF-8 bytes, their length and a flag (0 from every
// caller). A console that shows output somewhere other than standard output
// registers a hook on each list.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/core/cell.h"

namespace kiv::callbacks {

using PrintHook = void (*)(const Cell& value, bool newline);
using TextHook = void (*)(const char* text, int32_t length, int flag);

// Empties both lists (capacity 5 each); a first step of runtime start-up.
void init();

// Appends each non-null hook to its list; a full list grows by 5 entries.
void register_hooks(PrintHook print_hook, TextHook text_hook);
// Removes the first equal entry from each list; an absent hook changes
// nothing.
void unregister_hooks(PrintHook print_hook, TextHook text_hook);

// Calls every hook of list 1, in order of registration.
void run_first(const Cell& value, bool newline);
// Calls every hook of list 2, in order of registration.
void run_second(const char* text, int32_t length, int flag);

size_t print_hook_count();
size_t print_hook_capacity();
size_t text_hook_count();
size_t text_hook_capacity();

}  // namespace kiv::callbacks
