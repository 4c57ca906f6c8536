// Checksums and cryptographic digests of byte ranges.
//
// CRC-32, Adler-32 and the TCP checksum are our own code: the `checksum`
// native uses them, and so will the zlib and gzip framing of compression.
// The digests (MD5, SHA-1, SHA-256, SHA-384, SHA-512) and their HMACs come
// from OpenSSL's libcrypto through its EVP interface; nothing outside this
// module sees OpenSSL.
//
// Nothing here allocates series or raises Kiv errors: a failed digest is
// an empty optional, for the caller to report.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kiv::checksum {

using Bytes = std::span<const uint8_t>;

// CRC-32 of ISO 3309 and zlib: reflected, polynomial 0xEDB88320, initial
// value 0xFFFFFFFF, final complement. The empty range gives 0.
uint32_t crc32(Bytes data);

// Adler-32 of RFC 1950. The empty range gives 1.
uint32_t adler32(Bytes data);

// The ones' complement sum of the 16-bit big-endian words of the data,
// complemented, in 0..0xFFFF. An odd final byte is added as it is (0-255),
// not as the high byte of a padded word. The sum is kept in 64 bits and
// folded until it fits in 16, so any length gives the true ones'
// complement sum.
uint32_t tcp(Bytes data);

enum class Algorithm { md5, sha1, sha256, sha384, sha512 };

// Digest size in bytes: 16, 20, 32, 48 or 64.
size_t digest_size(Algorithm algorithm);

// Room for the largest digest; `size` bytes of it are the digest.
struct Digest {
  std::array<uint8_t, 64> bytes{};
  size_t size = 0;
  Bytes view() const { return {bytes.data(), size}; }
};

// The digest of the data, or nothing when libcrypto refuses (a digest
// disabled by the system's crypto policy, or no memory).
std::optional<Digest> digest(Algorithm algorithm, Bytes data);

// The HMAC (RFC 2104) of the data under the key, or nothing when
// libcrypto refuses. Any key length is allowed, the empty key too.
std::optional<Digest> hmac(Algorithm algorithm, Bytes data, Bytes key);

}  // namespace kiv::checksum
