// The natives table and the action entries: the built-in functions that
// native! and action! values call, by index.
#pragma once

#include <cstdint>

#include "runtime/datatypes/native.h"

namespace kiv::natives {

// Entry `index` (from 1), or null when there is none.
native::Entry entry(uint32_t index);
uint32_t count();

// Makes every native! value from its spec and sets its global word.
void init();

}  // namespace kiv::natives

namespace kiv::actions {

// The generic entry of action `number` (1-62), or null (set-path has none).
native::Entry entry(uint32_t number);

// Makes every action! value and sets its global word.
void init();
// Makes the infix operators (+, =, ...) of the actions and natives.
void init_operators();

}  // namespace kiv::actions
