// KIVBIN decoding of data from outside, in both layouts. What decodes must
// encode again (compact and fixed) and decode to a value of the same mold.
#include <vector>

#include "runtime/core/series.h"
#include "runtime/datatypes/block.h"
#include "runtime/io/kivbin_decoder.h"
#include "runtime/io/kivbin_encoder.h"
#include "tests/fuzz/fuzz_runtime.h"
#include "tests/fuzz/mold_text.h"

using namespace kiv;

namespace {

const Cell none_cell{cell::header(TypeId::none), 0, 0, 0};

// The decoded roots, in a new block on the argument stack.
Val decoded(std::span<const uint8_t> data) {
  Val block = block::push_new(1);
  kivbin::decode(data, block, none_cell);
  return block;
}

void round_trip(Val first, std::vector<uint8_t> (*encode)(const Cell&), const char* layout) {
  std::vector<uint8_t> again;
  // Deeper than the encoder writes is refused: then there is nothing to compare.
  if (!fuzz::run([&] { again = encode(*first); })) return;
  const std::string expected = fuzz::mold_text(*first);
  std::string actual;
  // The roots were encoded as one block: the single root decoded is it.
  if (!fuzz::run([&] {
        Val roots = decoded(again);
        if (block::count(*roots) != 1) fuzz::fail("not one root");
        actual = fuzz::mold_text(*block::at(*roots, 0));
      }))
    fuzz::fail(std::string("encoded data does not decode: ") + layout);
  if (actual != expected) fuzz::fail(std::string("round trip changes the value: ") + layout);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::start_runtime();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> input(data, data + size);  // decoding allocates
  fuzz::run([&] {
    Val first = decoded(input);
    round_trip(first, kivbin::encode_compact, "compact");
    round_trip(first, kivbin::encode_fixed, "fixed");
  });
  return 0;
}
