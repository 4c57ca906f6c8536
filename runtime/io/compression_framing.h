// The zlib (RFC 1950) and gzip (RFC 1952) framings of the DEFLATE stream.
//
// The encoders write a fixed header: zlib 78 01, gzip 1F 8B 08 00 00 00 00
// 00 04 04 (no flags, time 0, extra flags 4, system 4), then the stream of
// `deflate`, then the checksum trailer. The decoders check every header
// field and both checksums; gzip input may hold several members one after
// the other (their outputs are joined) and zero padding at the end.
//
// The fixed-capacity forms follow the contract of compression_result.h:
// `length` is the capacity on entry and the bytes written or needed on
// return; nothing allocates. The append forms decode into a growing vector,
// for callers that do not know the size in advance.
#pragma once

#include <cstdint>
#include <span>
#include "runtime/io/byte_buffer.h"
#include "runtime/io/compression_result.h"

namespace kiv::compress {

constexpr uint64_t zlib_overhead = 6;
constexpr uint64_t gzip_overhead = 18;

// A capacity below 6 gives invalid with length = input + 6. A stream or
// trailer that does not fit gives too_small with length = stream + 6.
Result zlib_encode(uint8_t* out, uint64_t& length, std::span<const uint8_t> input);

// Input of more than 2 bytes that already starts 1F 8B 08 is copied as it
// is (too_small when it does not fit). Otherwise as zlib_encode, with 18
// bytes of framing.
Result gzip_encode(uint8_t* out, uint64_t& length, std::span<const uint8_t> input);

// A header other than method 8 with a window of at most 32 KB, no preset
// dictionary and a valid check, a stream that does not decode, or an
// Adler-32 that differs from the trailer's gives a non-zero result.
Result zlib_decode(uint8_t* out, uint64_t& length, std::span<const uint8_t> input);
Result zlib_decode_append(ByteBuffer& out, std::span<const uint8_t> input, uint64_t size_hint);

// Each member: magic 1F 8B, method 8, no reserved flag, the optional
// fields inside the input, a header CRC when flagged, a stream that
// decodes, and a trailer whose CRC-32 and size match its output.
Result gzip_decode(uint8_t* out, uint64_t& length, std::span<const uint8_t> input);
Result gzip_decode_append(ByteBuffer& out, std::span<const uint8_t> input);

}  // namespace kiv::compress
