#include "runtime/io/compression_framing.h"

#include <algorithm>
#include <cstring>

#include "runtime/checksum.h"
#include "runtime/io/deflate.h"
#include "runtime/io/inflate.h"

namespace kiv::compress {
namespace {

using Bytes = std::span<const uint8_t>;

constexpr uint8_t gzip_header[10] = {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x04};

uint32_t load_le32(const uint8_t* at) {
  return uint32_t{at[0]} | (uint32_t{at[1]} << 8) | (uint32_t{at[2]} << 16) | (uint32_t{at[3]} << 24);
}

uint32_t load_be32(const uint8_t* at) {
  return (uint32_t{at[0]} << 24) | (uint32_t{at[1]} << 16) | (uint32_t{at[2]} << 8) | uint32_t{at[3]};
}

void store_le32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void store_be32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// Header, stream, trailer: the stream goes into the capacity left between
// header and trailer; `write_trailer` fills the trailer once all fits.
template <class WriteTrailer>
Result frame(uint8_t* out, uint64_t& length, Bytes input, Bytes header, uint64_t overhead,
             WriteTrailer write_trailer) {
  const uint64_t capacity = length;
  if (capacity < overhead) {
    length = input.size() + overhead;
    return Result::invalid;
  }
  std::memcpy(out, header.data(), header.size());
  uint64_t stream = capacity - header.size();
  const Result result = deflate(out + header.size(), stream, input);
  length = stream + overhead;
  if (result != Result::done) return result;
  if (length > capacity) return Result::too_small;
  write_trailer(out + header.size() + stream);
  return Result::done;
}

// The header's end, or 0 when the member's header is malformed.
size_t gzip_header_end(Bytes member) {
  if (member.size() < gzip_overhead || member[0] != 0x1F || member[1] != 0x8B || member[2] != 8) return 0;
  const uint8_t flags = member[3];
  if ((flags & 0xE0) != 0) return 0;
  size_t at = 10;
  if (flags & 0x04) {  // FEXTRA
    if (member.size() - at < 2) return 0;
    const size_t extra = member[at] | (size_t{member[at + 1]} << 8);
    at += 2;
    if (member.size() - at < extra) return 0;
    at += extra;
  }
  for (const uint8_t field : {uint8_t{0x08}, uint8_t{0x10}}) {  // FNAME, FCOMMENT
    if ((flags & field) == 0) continue;
    const auto zero = std::find(member.begin() + static_cast<ptrdiff_t>(at), member.end(), uint8_t{0});
    if (zero == member.end()) return 0;
    at = static_cast<size_t>(zero - member.begin()) + 1;
  }
  if (flags & 0x02) {  // FHCRC
    if (member.size() - at < 2) return 0;
    const uint32_t expected = member[at] | (uint32_t{member[at + 1]} << 8);
    if ((checksum::crc32(member.first(at)) & 0xFFFF) != expected) return 0;
    at += 2;
  }
  return at;
}

// What decoding one member's stream did.
struct Member {
  Result result;
  size_t consumed;    // input bytes of the stream
  uint64_t produced;  // bytes it decodes to
  // Its CRC-32, when its bytes were stored; else the check waits for a
  // second attempt with room enough.
  bool stored;
  uint32_t crc;
};

// Walks the members; `decode` inflates one stream.
template <class DecodeMember>
Result gzip_members(Bytes input, uint64_t& total, DecodeMember decode) {
  total = 0;
  bool all_stored = true;
  size_t at = 0;
  do {
    const Bytes member = input.subspan(at);
    const size_t header = gzip_header_end(member);
    if (header == 0) return Result::invalid;
    const Member decoded = decode(member.subspan(header));
    if (decoded.result != Result::done && decoded.result != Result::too_small) return decoded.result;
    const size_t trailer = header + decoded.consumed;
    if (member.size() - trailer < 8) return Result::invalid;
    if (load_le32(member.data() + trailer + 4) != static_cast<uint32_t>(decoded.produced)) return Result::invalid;
    if (decoded.stored && load_le32(member.data() + trailer) != decoded.crc) return Result::invalid;
    all_stored = all_stored && decoded.stored;
    total += decoded.produced;
    if (total > max_output) return Result::too_large;
    at += trailer + 8;
    // Zero bytes after the last member are padding.
  } while (at < input.size() && !std::all_of(input.begin() + static_cast<ptrdiff_t>(at), input.end(),
                                             [](uint8_t byte) { return byte == 0; }));
  return all_stored ? Result::done : Result::too_small;
}

bool zlib_header_ok(Bytes input) {
  if (input.size() < zlib_overhead) return false;
  const uint8_t cmf = input[0], flg = input[1];
  return (cmf * 256u + flg) % 31 == 0 && (cmf & 0x0F) == 8 && (cmf & 0x80) == 0 && (flg & 0x20) == 0;
}

Bytes zlib_body(Bytes input) { return input.subspan(2, input.size() - zlib_overhead); }

uint32_t zlib_trailer(Bytes input) { return load_be32(input.data() + input.size() - 4); }

}  // namespace

Result zlib_encode(uint8_t* out, uint64_t& length, Bytes input) {
  static constexpr uint8_t header[2] = {0x78, 0x01};
  return frame(out, length, input, header, zlib_overhead,
               [&](uint8_t* trailer) { store_be32(trailer, checksum::adler32(input)); });
}

Result gzip_encode(uint8_t* out, uint64_t& length, Bytes input) {
  if (input.size() > 2 && input[0] == 0x1F && input[1] == 0x8B && input[2] == 0x08) {
    const uint64_t capacity = length;
    length = input.size();
    if (capacity < input.size()) return Result::too_small;
    std::memcpy(out, input.data(), input.size());
    return Result::done;
  }
  return frame(out, length, input, gzip_header, gzip_overhead, [&](uint8_t* trailer) {
    store_le32(trailer, checksum::crc32(input));
    store_le32(trailer + 4, static_cast<uint32_t>(input.size()));
  });
}

Result zlib_decode(uint8_t* out, uint64_t& length, Bytes input) {
  if (!zlib_header_ok(input)) return Result::invalid;
  const Result result = inflate(out, length, zlib_body(input));
  if (result != Result::done) return result;
  if (checksum::adler32({out, static_cast<size_t>(length)}) != zlib_trailer(input)) return Result::invalid;
  return Result::done;
}

Result zlib_decode_append(ByteBuffer& out, Bytes input, uint64_t size_hint) {
  if (!zlib_header_ok(input)) return Result::invalid;
  const size_t start = out.size();
  const Inflated inflated = inflate_append(out, zlib_body(input), size_hint);
  if (inflated.result != Result::done) return inflated.result;
  if (checksum::adler32(out.view().subspan(start)) != zlib_trailer(input)) return Result::invalid;
  return Result::done;
}

Result gzip_decode(uint8_t* out, uint64_t& length, Bytes input) {
  const uint64_t capacity = length;
  uint64_t total = 0;
  const Result result = gzip_members(input, total, [&](Bytes stream) {
    const uint64_t at = std::min(total, capacity);
    uint64_t produced = capacity - at;
    size_t consumed = 0;
    const Result decoded = inflate(out + at, produced, stream, &consumed);
    const bool stored = decoded == Result::done && total + produced <= capacity;
    const uint32_t crc = stored ? checksum::crc32({out + at, static_cast<size_t>(produced)}) : 0;
    return Member{decoded, consumed, produced, stored, crc};
  });
  length = total;
  return result;
}

Result gzip_decode_append(ByteBuffer& out, Bytes input) {
  uint64_t total = 0;
  // The last member's size field sizes the first buffer, within what a
  // stream of this length can decode to (DEFLATE expands at most 1,032
  // times), so a forged size cannot make it allocate.
  uint64_t hint = input.size() >= 4 ? load_le32(input.data() + input.size() - 4) : 0;
  hint = std::min<uint64_t>(hint, input.size() * uint64_t{1032});
  return gzip_members(input, total, [&](Bytes stream) {
    const size_t start = out.size();
    const Inflated inflated = inflate_append(out, stream, hint);
    hint = 0;
    const bool stored = inflated.result == Result::done;
    const uint64_t produced = out.size() - start;
    const uint32_t crc = stored ? checksum::crc32(out.view().subspan(start)) : 0;
    return Member{inflated.result, inflated.consumed, produced, stored, crc};
  });
}

}  // namespace kiv::compress
