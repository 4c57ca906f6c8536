// The INFLATE decoder (RFC 1951) behind `decompress`: stored, fixed and
// dynamic Huffman blocks.
//
// It reads streams from anywhere, so every length, count, code and distance
// is checked before it is used: a malformed stream ends in a result code,
// never in a read or write outside the input and output, and every step
// consumes input, so no stream loops. A stream that stops before the end of
// its final block is refused (there is no checksum to catch it in a raw
// stream); bytes after the final block are left for the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include "runtime/io/byte_buffer.h"
#include "runtime/io/compression_result.h"

namespace kiv::compress {

// The largest output a stream may give: series lengths are 32-bit.
constexpr uint64_t max_output = 0x7FFFFFFF;

// Decodes into `out`. `length` holds the capacity on entry and, on return,
// the bytes the stream decodes to (done, too_small) or the bytes produced
// before the fault. When the capacity is too small, decoding goes on
// without storing, so a capacity of 0 measures. `consumed`, when given,
// gets the input bytes the stream took (as Inflated::consumed). Never
// allocates.
Result inflate(uint8_t* out, uint64_t& length, std::span<const uint8_t> input, size_t* consumed = nullptr);

// What a decode into a growing buffer did.
struct Inflated {
  Result result;
  // Input bytes the stream took, up to the byte that holds the end of its
  // final block: where a gzip member's trailer starts.
  size_t consumed;
};

// Decodes, appending to `out` (which grows as needed, starting from
// `size_hint` more bytes, trimmed at the end to what was decoded). More
// than `limit` bytes in `out`, or memory that cannot be had, gives
// too_large.
Inflated inflate_append(ByteBuffer& out, std::span<const uint8_t> input, uint64_t size_hint,
                        uint64_t limit = max_output);

}  // namespace kiv::compress
