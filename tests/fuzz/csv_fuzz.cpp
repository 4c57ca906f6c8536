// The library's CSV reader (`load-csv`) over text from outside. Rows it
// reads are written by `to-csv`, and that text must read as the same rows.
#include "tests/fuzz/library_check.h"

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
  fuzz::start_runtime_with_library();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!fuzz::check_gives_true(data, size, check)) fuzz::fail("load-csv raised, or to-csv then load-csv gives other rows");
  return 0;
}
