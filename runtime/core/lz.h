// The runtime's own LZ77 bit-stream format, used for data stored
// compressed (compressed KIVBIN payloads).
//
// A block is two little-endian words, the payload size P (bytes after the
// 8-byte header) and the uncompressed size U, then chunks until the next
// chunk would start at offset P or more. A chunk is a 32-bit length L
// (1..1 MiB) and a bit stream that decodes to exactly L bytes, padded to a
// whole byte. Chunks are independent: a copy never reaches before the
// start of its own chunk.
//
// Nothing here allocates series or raises Kiv errors; failures are empty
// optionals for the caller to report.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kiv::lz {

inline constexpr uint32_t max_chunk = 0x100000;    // 1 MiB per chunk
inline constexpr uint32_t max_distance = 1u << 18;  // 262,144 bytes back
inline constexpr uint32_t min_copy = 3;
inline constexpr uint32_t max_copy = 566;

// Decodes a whole block. The input may hold more bytes than the block;
// only 8 + P of them are read, and never more than the input holds. The
// result is empty when the block is malformed: a short header or
// payload, a bad chunk length, more output than U, or a copy that reaches
// before its chunk or past its end. Memory grows with the chunks actually
// decoded, never from U alone.
std::optional<std::vector<uint8_t>> decompress(std::span<const uint8_t> block);

// Encodes data into one block. Inputs of 127 bytes or less are not
// compressed, and the block must come out smaller than the input: both
// give an empty result, for the caller to store the data as it is.
std::optional<std::vector<uint8_t>> compress(std::span<const uint8_t> data);

}  // namespace kiv::lz
