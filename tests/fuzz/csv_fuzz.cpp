// The library's CSV reader (`load-csv`) over text from outside. Rows it
// reads are written by `to-csv`, and that text must read as the same rows.
#include <string>

#include "runtime/embedded.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/lexer.h"
#include "runtime/eval/library_loader.h"
#include "runtime/io/io_routines.h"
#include "tests/fuzz/fuzz_runtime.h"

using namespace kiv;

namespace {

// Evaluated after `fuzz-input:` is set to the input bytes; yields true
// when the rows read back the same. Text that is not UTF-8, and text the
// reader refuses (it answers an error! value), have nothing to compare;
// load-csv raising an error, or to-csv failing on rows it was given, is a
// fault.
constexpr const char* check = R"~(
    either all [
        text: attempt [to string! fuzz-input]
        block? rows: load-csv text
    ][
        again: attempt [load-csv to-csv rows]
        equal? mold/all rows mold/all again
    ][
        true
    ]
)~";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::start_runtime();
  io_routines::add_all();
  library_loader::run(embedded::library_sources());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string source = "fuzz-input: #{" + fuzz::hex(data, size) + "}" + check;
  bool same = false;
  fuzz::run([&] {
    Val code = lexer::scan(source);
    if (interpreter::eval_block(*code, true) == Flow::normal) {
      const Cell& result = *stack::last();
      same = cell::is(result, TypeId::logic) && result.w1 != 0;
    }
  });
  if (!same) fuzz::fail("load-csv raised, or to-csv then load-csv gives other rows");
  return 0;
}
