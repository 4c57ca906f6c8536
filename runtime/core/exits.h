// Non-local exits: break, continue, return, exit, throw and errors.
//
// An exit is identified by a 32-bit code. Every construct that stops exits
// (a loop, a function, `catch`, `try`, the top level) keeps a catch
// threshold: the highest code it handles. An exit travels outwards until the
// first construct whose threshold is at or above its code, compared unsigned.
//
// Exits travel two ways. Evaluation code returns normally with the code left
// pending in `runtime::state.pending` and every caller checks it after each
// step. Helpers deep inside C++ code that cannot return a status throw
// `Unwind` instead. A catching construct accepts both (see `catch_exits`).
// Whoever raises an exit has already unwound the Kiv stacks: destructors
// release only C++ resources while an `Unwind` passes.
#pragma once

#include <cstdint>

#include "runtime/core/state.h"

namespace kiv {

namespace exit_code {
inline constexpr uint32_t none = 0;
inline constexpr uint32_t error = 0x7FFFFFFF;
inline constexpr uint32_t break_loop = 0x7FFFFFFE;
inline constexpr uint32_t continue_loop = 0x7FFFFFFD;
inline constexpr uint32_t return_value = 0x7FFFFFFC;
inline constexpr uint32_t exit_function = 0x7FFFFFFB;
inline constexpr uint32_t user_throw = 0x7FFFFFFA;
// Raised by the page-memory wrappers; the memory manager catches them.
inline constexpr uint32_t os_alloc_failed = 0x7FFFFFF7;
inline constexpr uint32_t os_free_failed = 0x7FFFFFF6;
// The one code that ends the process quietly when it reaches the top.
inline constexpr uint32_t quiet_end = 0x0BADCAFE;
// An interrupt from the keyboard (interrupt.h): above every threshold but
// the top level's, so that only the top level stops it.
inline constexpr uint32_t interrupt = 0x80000001;
}  // namespace exit_code

namespace threshold {
inline constexpr uint32_t nothing = 0;
inline constexpr uint32_t catch_throw = 0x7FFFFFFA;  // `catch`
inline constexpr uint32_t loop = 0x7FFFFFFE;         // loops: break, continue
inline constexpr uint32_t try_error = 0x7FFFFFFF;    // `try`, function bodies
inline constexpr uint32_t everything = 0xFFFFFFFF;   // the top level
}  // namespace threshold

// The C++ form of an exit in flight. Deliberately not a std::exception: no
// generic handler may swallow it.
struct Unwind {
  uint32_t code;
};

// True when a construct with this threshold stops an exit with this code.
constexpr bool catches(uint32_t catch_threshold, uint32_t code) {
  return code <= catch_threshold;
}

namespace runtime {

// Makes `code` the pending code and throws it.
[[noreturn]] void raise_exit(uint32_t code);

// Throws the pending code; returns at once when no code is pending.
void throw_pending();

// Runs `body`. Returns 0 when it ends with no exit pending; otherwise the
// code of the exit it raised (thrown or left pending) when this construct's
// threshold stops it: the exit ends here and nothing is pending any more.
// Higher codes go on outwards unchanged: a thrown one is rethrown, a pending
// one stays pending.
template <class Body>
uint32_t catch_exits(uint32_t catch_threshold, Body&& body);

}  // namespace runtime
}  // namespace kiv

template <class Body>
uint32_t kiv::runtime::catch_exits(uint32_t catch_threshold, Body&& body) {
  try {
    body();
  } catch (const Unwind& unwind) {
    if (!catches(catch_threshold, unwind.code)) throw;
    state.pending = exit_code::none;
    return unwind.code;
  }
  const uint32_t code = state.pending;
  if (code == exit_code::none || !catches(catch_threshold, code)) return 0;
  state.pending = exit_code::none;
  return code;
}
