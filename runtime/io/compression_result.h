// The result codes shared by the compression coders and their framings.
//
// Every encoder and decoder writes into a caller's buffer of a given
// capacity and, when the data does not fit, keeps going without storing and
// reports the size it needed, so that a caller can measure first and fill
// second. Nothing here allocates, raises or calls Kiv code.
#pragma once

#include <cstdint>

namespace kiv::compress {

enum class Result : int {
  done = 0,
  // The output did not fit; the length now holds the size needed.
  too_small = 1,
  // Invalid input: the input ended before the stream did, a bad header or
  // checksum, or a capacity below a framing's minimum.
  invalid = 2,
  // A stored block's length runs past the end of the input.
  stored_overrun = 3,
  // A block of the reserved type 3.
  reserved_block = 4,
  // A distance reaches before the start of the output.
  bad_distance = 5,
  // A malformed code: code lengths that form no prefix code, a repeat
  // before the first length or past the last one, a symbol the stream
  // cannot hold, a stored block whose NLEN is not the complement of LEN.
  bad_code = 6,
  // The output would pass the caller's limit.
  too_large = 7,
};

}  // namespace kiv::compress
