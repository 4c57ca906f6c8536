#include "runtime/checksum.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <climits>
#include <mutex>
#include <string>

#include "runtime/dynamic_library.h"

namespace kiv::checksum {
namespace {

// Entry n is the CRC of the byte n alone: n shifted right eight times,
// XOR-ing the polynomial after each shift that dropped a 1 bit. Built by
// the compiler, so there is no first-use race to guard.
constexpr std::array<uint32_t, 256> crc_table = [] {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}();

// libcrypto, opened at the first digest (dynamic_library.h): most scripts
// never make one, and linking it made every start slower.
struct Crypto {
  const EVP_MD* (*md5)();
  const EVP_MD* (*sha1)();
  const EVP_MD* (*sha256)();
  const EVP_MD* (*sha384)();
  const EVP_MD* (*sha512)();
  int (*digest)(const void* data, size_t count, unsigned char* md, unsigned int* size, const EVP_MD* type,
                ENGINE* engine);
  unsigned char* (*hmac)(const EVP_MD* type, const void* key, int key_length, const unsigned char* data,
                         size_t count, unsigned char* md, unsigned int* md_length);
};

// The library's functions, or null when it cannot be loaded (every digest
// then fails, as one that libcrypto refused).
const Crypto* crypto() {
  static Crypto loaded{};
  static bool available = false;
  static std::once_flag once;
  std::call_once(once, [] {
    static constexpr const char* names[] = {"EVP_md5",    "EVP_sha1",   "EVP_sha256", "EVP_sha384",
                                            "EVP_sha512", "EVP_Digest", "HMAC"};
    std::string why;
    available = dynamic_library::open_functions("libcrypto.so.3", names, loaded, why);
  });
  return available ? &loaded : nullptr;
}

const EVP_MD* evp_of(const Crypto& library, Algorithm algorithm) {
  switch (algorithm) {
    case Algorithm::md5: return library.md5();
    case Algorithm::sha1: return library.sha1();
    case Algorithm::sha256: return library.sha256();
    case Algorithm::sha384: return library.sha384();
    case Algorithm::sha512: return library.sha512();
  }
  return nullptr;
}

// An empty span may have no address; libcrypto wants one even for no
// bytes (HMAC refuses a null key).
const uint8_t* address(Bytes bytes) {
  static constexpr uint8_t no_bytes[1] = {0};
  return bytes.empty() ? no_bytes : bytes.data();
}

// A digest whose reported size is not the algorithm's is treated as a
// failure too: the caller must never see bytes libcrypto did not write.
std::optional<Digest> checked(Algorithm algorithm, const Digest& result) {
  if (result.size != digest_size(algorithm)) return std::nullopt;
  return result;
}

}  // namespace

uint32_t crc32(Bytes data) {
  uint32_t c = 0xFFFFFFFFu;
  for (const uint8_t byte : data) c = crc_table[(c ^ byte) & 0xFF] ^ (c >> 8);
  return ~c;
}

uint32_t adler32(Bytes data) {
  constexpr uint32_t base = 65521;
  // The most bytes that can be summed before b may overflow 32 bits.
  constexpr size_t chunk = 5552;
  uint32_t a = 1, b = 0;
  for (size_t at = 0; at < data.size(); at += chunk) {
    const Bytes part = data.subspan(at, std::min(chunk, data.size() - at));
    for (const uint8_t byte : part) {
      a += byte;
      b += a;
    }
    a %= base;
    b %= base;
  }
  return (b << 16) | a;
}

uint32_t tcp(Bytes data) {
  uint64_t sum = 0;
  size_t i = 0;
  for (; i + 1 < data.size(); i += 2) sum += (uint32_t{data[i]} << 8) | data[i + 1];
  if (i < data.size()) sum += data[i];
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return ~static_cast<uint32_t>(sum) & 0xFFFF;
}

size_t digest_size(Algorithm algorithm) {
  switch (algorithm) {
    case Algorithm::md5: return 16;
    case Algorithm::sha1: return 20;
    case Algorithm::sha256: return 32;
    case Algorithm::sha384: return 48;
    case Algorithm::sha512: return 64;
  }
  return 0;
}

std::optional<Digest> digest(Algorithm algorithm, Bytes data) {
  const Crypto* library = crypto();
  if (!library) return std::nullopt;
  Digest result;
  unsigned int size = 0;
  const EVP_MD* type = evp_of(*library, algorithm);
  if (library->digest(address(data), data.size(), result.bytes.data(), &size, type, nullptr) != 1) return std::nullopt;
  result.size = size;
  return checked(algorithm, result);
}

std::optional<Digest> hmac(Algorithm algorithm, Bytes data, Bytes key) {
  if (key.size() > INT_MAX) {
    // HMAC takes an int length; a longer key stands for its digest, as
    // RFC 2104 has it for any key longer than the block.
    const std::optional<Digest> short_key = digest(algorithm, key);
    if (!short_key) return std::nullopt;
    return hmac(algorithm, data, short_key->view());
  }
  const Crypto* library = crypto();
  if (!library) return std::nullopt;
  Digest result;
  unsigned int size = 0;
  if (!library->hmac(evp_of(*library, algorithm), address(key), static_cast<int>(key.size()), address(data),
                     data.size(), result.bytes.data(), &size))
    return std::nullopt;
  result.size = size;
  return checked(algorithm, result);
}

}  // namespace kiv::checksum
