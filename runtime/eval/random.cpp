#include "runtime/eval/random.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/core/error_raise.h"

namespace kiv::random {
namespace {

constexpr int state_size = 624;
constexpr int middle = 397;
constexpr uint32_t matrix = 0x9908B0DFu;
constexpr uint32_t upper_mask = 0x80000000u;
constexpr uint32_t lower_mask = 0x7FFFFFFFu;
constexpr uint32_t start_seed = 19650218u;

uint32_t g_state[state_size];
int g_index = state_size + 1;

void regenerate() {
  for (int i = 0; i < state_size; ++i) {
    const uint32_t y = (g_state[i] & upper_mask) | (g_state[(i + 1) % state_size] & lower_mask);
    g_state[i] = g_state[(i + middle) % state_size] ^ (y >> 1) ^ ((y & 1) ? matrix : 0);
  }
  g_index = 0;
}

// Reads `length` bytes from `read_some` (a function like read(2)), retrying
// after an interruption. False when the source fails or runs dry.
template <class Reader>
bool read_all(unsigned char* out, size_t length, Reader read_some) {
  size_t got = 0;
  while (got < length) {
    const ssize_t n = read_some(out + got, length - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

// The kernel's secure source: getrandom(2), or /dev/urandom where that call
// is missing. Never a partial or made-up value: false when neither serves.
bool secure_bytes(unsigned char* out, size_t length) {
  if (read_all(out, length, [](unsigned char* at, size_t n) { return ::getrandom(at, n, 0); })) return true;
  const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool read = read_all(out, length, [fd](unsigned char* at, size_t n) { return ::read(fd, at, n); });
  ::close(fd);
  return read;
}

}  // namespace

void init() { mt_seed(start_seed); }

void mt_seed(uint32_t seed) {
  g_state[0] = seed;
  for (int i = 1; i < state_size; ++i)
    g_state[i] = 1812433253u * (g_state[i - 1] ^ (g_state[i - 1] >> 30)) + static_cast<uint32_t>(i);
  g_index = state_size;
}

uint32_t mt_next() {
  if (g_index >= state_size) regenerate();
  uint32_t y = g_state[g_index++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  return y;
}

uint32_t crypt_next() {
  uint32_t bits = 0;
  auto* out = reinterpret_cast<unsigned char*>(&bits);
  if (!secure_bytes(out, sizeof bits)) error::raise(error_id::internal::feature_na);
  return bits & lower_mask;
}

uint32_t next31(bool secure) { return secure ? crypt_next() : (mt_next() & lower_mask); }

int32_t int_range(bool secure, int32_t n) {
  if (n == 0) return 0;
  if (n == INT32_MIN) return -1 - static_cast<int32_t>(next31(secure));
  const bool negative = n < 0;
  const uint32_t m = static_cast<uint32_t>(negative ? -n : n);
  const uint32_t limit = (lower_mask / m) * m;
  uint32_t draw;
  do draw = next31(secure);
  while (draw >= limit);
  const auto result = static_cast<int32_t>(draw % m) + 1;
  return negative ? -result : result;
}

}  // namespace kiv::random
