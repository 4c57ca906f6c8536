// For the targets that run library code on their input: the runtime
// started with the library defined, and a check written in Kiv run on
// each input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/embedded.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/lexer.h"
#include "runtime/eval/library_loader.h"
#include "runtime/io/io_routines.h"
#include "tests/fuzz/fuzz_runtime.h"

namespace kiv::fuzz {

// The runtime, its input/output routines and the script library.
inline void start_runtime_with_library() {
  start_runtime();
  io_routines::add_all();
  library_loader::run(embedded::library_sources());
}

// Runs `check` (Kiv code) with the word `fuzz-input` set to the input's
// bytes; true when it ran to the end and gave true.
inline bool check_gives_true(const uint8_t* data, size_t size, const char* check) {
  const std::string source = "fuzz-input: #{" + hex(data, size) + "}" + check;
  bool gave_true = false;
  run([&] {
    Val code = lexer::scan(source);
    if (interpreter::eval_block(*code, true) == Flow::normal) {
      const Cell& result = *stack::last();
      gave_true = cell::is(result, TypeId::logic) && result.w1 != 0;
    }
  });
  return gave_true;
}

}  // namespace kiv::fuzz
