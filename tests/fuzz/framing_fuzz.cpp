// zlib and gzip framing of data from outside: each input is read both ways.
// What decodes must encode and decode back to itself.
#include <algorithm>
#include <vector>

#include "runtime/io/compression_framing.h"
#include "runtime/io/deflate.h"
#include "tests/fuzz/fuzz_runtime.h"

using namespace kiv;

namespace {

using Decode = compress::Result (*)(uint8_t*, uint64_t&, std::span<const uint8_t>);

void check_round_trip(std::span<const uint8_t> plain, bool gzip) {
  // gzip input that is already a gzip member is passed through as it is.
  if (gzip && plain.size() > 2 && plain[0] == 0x1F && plain[1] == 0x8B && plain[2] == 0x08) return;
  const uint64_t overhead = gzip ? compress::gzip_overhead : compress::zlib_overhead;
  std::vector<uint8_t> framed(compress::deflate_bound(plain.size()) + overhead);
  uint64_t framed_length = framed.size();
  const auto encode = gzip ? compress::gzip_encode : compress::zlib_encode;
  if (encode(framed.data(), framed_length, plain) != compress::Result::done) fuzz::fail("encoding fails");
  std::vector<uint8_t> back(plain.size());
  uint64_t back_length = back.size();
  const Decode decode = gzip ? compress::gzip_decode : compress::zlib_decode;
  if (decode(back.data(), back_length, {framed.data(), size_t(framed_length)}) != compress::Result::done ||
      back_length != plain.size() || !std::equal(back.begin(), back.end(), plain.begin()))
    fuzz::fail("encoding then decoding changes the data");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto input = fuzz::bytes(data, size);
  for (const bool gzip : {false, true}) {
    compress::ByteBuffer grown;
    const compress::Result result =
        gzip ? compress::gzip_decode_append(grown, input) : compress::zlib_decode_append(grown, input, 16);
    // The fixed-capacity form: an exact fit gives the same bytes.
    const size_t plain_size = result == compress::Result::done ? grown.size() : 4096;
    std::vector<uint8_t> out(plain_size);
    uint64_t length = out.size();
    const Decode decode = gzip ? compress::gzip_decode : compress::zlib_decode;
    const compress::Result fixed = decode(out.data(), length, input);
    if (result != compress::Result::done) continue;
    if (fixed != compress::Result::done || length != grown.size() ||
        !std::equal(grown.begin(), grown.end(), out.begin()))
      fuzz::fail("the fixed buffer and the growing one differ");
    check_round_trip(grown.view(), gzip);
  }
  return 0;
}
