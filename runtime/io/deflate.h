// The DEFLATE compressor (RFC 1951) behind `compress`.
//
// The stream is one final block with the fixed Huffman codes, and its bytes
// are fixed: a single pass over the input finds earlier occurrences through
// a 3-byte hash into 1,024 buckets of 4 positions, takes the first
// candidate that matches (not the longest) and tries no lazy matching. The
// zlib and gzip framings wrap the same stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "runtime/io/compression_result.h"

namespace kiv::compress {

// The most bytes the stream for `input_length` bytes can take: every byte a
// 9-bit literal (no match ever costs more per byte), the 3-bit header, the
// 7-bit end code and the padding.
constexpr uint64_t deflate_bound(uint64_t input_length) { return (input_length * 9 + 3 + 7 + 7) / 8; }

// Compresses `input` into `out`. `length` holds the capacity of `out` on
// entry and the full length of the stream on return, whether it fitted
// (done) or not (too_small: only the first `capacity` bytes were stored).
// An input of 2^32 - 1 bytes or more, whose positions the hash table cannot
// hold, is invalid. Never allocates.
Result deflate(uint8_t* out, uint64_t& length, std::span<const uint8_t> input);

}  // namespace kiv::compress
