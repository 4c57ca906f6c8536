// The lexer and the evaluator together: the input is loaded as Kiv code
// and evaluated with the script library defined, in the collector's
// stress mode (a collection at every allocating call, unless KIV_GC says
// otherwise), so that a value left unrooted across an allocation shows as
// a sanitizer report. The code runs in the sandbox of sandbox.h: no file
// changes, no processes, no network, and a CPU-time limit.
//
// The block runs three times, as a loop's body would: the walker runs it
// first, the second run compiles it, the third runs it compiled, with the
// walker checking every value compiled code works out in place
// (KIV_COMPILE=verify, unless set otherwise).
#include <cstdlib>
#include <string>

#include "runtime/core/collector.h"
#include "runtime/embedded.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/lexer.h"
#include "runtime/eval/library_loader.h"
#include "runtime/io/io_routines.h"
#include "tests/fuzz/fuzz_runtime.h"
#include "tests/fuzz/mold_text.h"
#include "tests/fuzz/sandbox.h"

using namespace kiv;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("KIV_COMPILE", "verify", 0);
  fuzz::start_runtime();
  io_routines::add_all();  // as the program does before the library runs
  library_loader::run(embedded::library_sources());
  // The stress mode from here on: the library's start-up is not the code
  // under test, and under it start-up alone would take minutes.
  const char* setting = std::getenv("KIV_GC");
  collector::set_stress(collector::parse_stress(setting != nullptr ? setting : "every=1"));
  fuzz::unset_os_words();
  fuzz::install_syscall_filter();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  fuzz::arm_step_limit(100);
  fuzz::run([&] {
    Val code = lexer::scan(text);
    for (int run = 0; run < 3; ++run) {
      const uint32_t depth = stack::depth();
      if (interpreter::eval_in_window(*code) != Flow::normal) break;
      if (run == 2) fuzz::mold_text(*stack::last(), 4096);
      stack::drop_to(depth);
    }
  });
  fuzz::disarm_step_limit();
  return 0;
}
