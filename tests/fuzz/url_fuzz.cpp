// The library's URL parser (`decode-url`) over text from outside. A URL
// it reads is written back by `encode-url`, and that text must read as
// the same parts (all but `ref`, the text itself).
#include "tests/fuzz/library_check.h"

using namespace kiv;

namespace {

// Evaluated after `fuzz-input:` is set to the input bytes; yields false
// when the parts read back differ.
constexpr const char* check = R"~(
    ; Every part but `ref`, which holds the text that was read. encode-url
    ; leaves out a path of %./ (as "ph:." has), which then reads as none.
    fields: func [o] [
        mold/all reduce [o/scheme o/user-info o/host o/port either %./ = o/path [none] [o/path] o/target o/query o/fragment]
    ]
    all [
        url: attempt [to url! to string! fuzz-input]
        parts: attempt [decode-url url]
        object? parts
        again: attempt [decode-url encode-url parts]
        object? again
        not equal? fields parts fields again
    ]
)~";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::start_runtime_with_library();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (fuzz::check_gives_true(data, size, check)) fuzz::fail("encode-url then decode-url gives other parts");
  return 0;
}
