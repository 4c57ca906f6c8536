// The lexer over text from outside, as `load` and `transcode` run it: load
// mode (values built), the scan and prescan modes (tokens only), and one
// value at a time. The values loaded are molded, which walks them all.
#include <string_view>

#include "runtime/eval/lexer.h"
#include "tests/fuzz/fuzz_runtime.h"
#include "tests/fuzz/mold_text.h"

using namespace kiv;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::start_runtime();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // the scan allocates
  for (const lexer::Mode mode : {lexer::Mode::load, lexer::Mode::scan, lexer::Mode::prescan}) {
    fuzz::run([&] {
      Val out = stack::push_slot();
      lexer::Options options;
      options.mode = mode;
      lexer::scan_utf8(out, text, options);
      if (mode == lexer::Mode::load) fuzz::mold_text(*out);
    });
  }
  fuzz::run([&] {
    Val out = stack::push_slot();
    lexer::Options options;
    options.one = true;
    const lexer::Result result = lexer::scan_utf8(out, text, options);
    if (result.consumed < 0 || uint64_t(result.consumed) > text.size()) fuzz::fail("consumed past the text");
  });
  return 0;
}
