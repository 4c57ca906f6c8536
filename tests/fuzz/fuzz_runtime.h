// What every fuzz target shares: the runtime started once per process, and
// one input run with the argument stack and the pending exit put back
// afterwards, so that the next input starts from the same state.
//
// A Kiv error raised by the code under test is an answer, not a fault: the
// targets look for sanitizer reports, crashes, hangs and broken round
// trips (reported through `fuzz::fail`, which aborts).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "runtime/core/cycle.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/exits.h"
#include "runtime/core/stack.h"
#include "runtime/core/state.h"
#include "runtime/init.h"
#include "runtime/platform.h"

namespace kiv::fuzz {

// Starts the runtime with the collector on, as scripts run. The stack
// bounds are noted so that the evaluator's depth guard works on this
// thread.
inline void start_runtime() {
  runtime::state = runtime::State{};
  runtime::record_stack_bounds();
  runtime::init();
  runtime::state.boot_flag = false;
  runtime::state.collector_on = true;
}

// Runs `body`; an error or other exit it raises is dropped. Answers
// whether it ran to the end.
template <class Body>
bool run(Body&& body) {
  const uint32_t base = stack::depth();
  bool finished = false;
  try {
    body();
    finished = true;
  } catch (const Unwind&) {
  }
  runtime::state.pending = 0;
  error::clear_pending();
  stack::drop_to(base);
  cycle::reset();
  return finished;
}

// A property of the code under test that does not hold: printed, then the
// process aborts so that libFuzzer keeps the input.
[[noreturn]] inline void fail(std::string_view what) {
  std::fprintf(stderr, "fuzz property failed: %.*s\n", int(what.size()), what.data());
  std::abort();
}

// The bytes as hex digits, for a binary! literal in Kiv source.
inline std::string hex(const uint8_t* data, size_t size) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    text += digits[data[i] >> 4];
    text += digits[data[i] & 15];
  }
  return text;
}

inline std::span<const uint8_t> bytes(const uint8_t* data, size_t size) { return {data, size}; }

}  // namespace kiv::fuzz
