// INFLATE of raw DEFLATE streams from outside, into a growing buffer and
// into fixed ones (measuring, too small, exact). What decodes must
// compress and decode back to itself.
#include <algorithm>
#include <vector>

#include "runtime/io/deflate.h"
#include "runtime/io/inflate.h"
#include "tests/fuzz/fuzz_runtime.h"

using namespace kiv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto input = fuzz::bytes(data, size);
  compress::ByteBuffer grown;
  const auto result = compress::inflate_append(grown, input, 16, uint64_t(1) << 24);
  if (result.consumed > input.size()) fuzz::fail("consumed more than the input");

  // The fixed-capacity form: measuring (capacity 0), one byte short, and
  // an exact fit, against what the growing form decoded.
  const size_t plain_size = result.result == compress::Result::done ? grown.size() : 4096;
  std::vector<uint8_t> out(plain_size);
  for (const size_t capacity : {size_t(0), plain_size > 0 ? plain_size - 1 : 0, plain_size}) {
    uint64_t length = capacity;
    const compress::Result fixed = compress::inflate(out.data(), length, input);
    if (result.result != compress::Result::done) continue;
    if (fixed != (capacity >= plain_size ? compress::Result::done : compress::Result::too_small) ||
        length != plain_size)
      fuzz::fail("the fixed buffer and the growing one disagree");
    if (capacity == plain_size && !std::equal(grown.begin(), grown.end(), out.begin()))
      fuzz::fail("the fixed buffer and the growing one differ");
  }
  if (result.result != compress::Result::done) return 0;

  const std::span<const uint8_t> plain(grown.data(), grown.size());
  std::vector<uint8_t> packed(compress::deflate_bound(plain.size()));
  uint64_t packed_length = packed.size();
  if (compress::deflate(packed.data(), packed_length, plain) != compress::Result::done)
    fuzz::fail("deflate of the output fails");
  std::vector<uint8_t> back(plain.size());
  uint64_t back_length = back.size();
  if (compress::inflate(back.data(), back_length, {packed.data(), size_t(packed_length)}) != compress::Result::done ||
      back_length != plain.size() || !std::equal(back.begin(), back.end(), plain.begin()))
    fuzz::fail("deflate then inflate changes the data");
  return 0;
}
