// The random generator behind every `random` action: MT19937 as published,
// seeded with 19650218 at start-up, and a secure source for /secure.
#pragma once

#include <cstdint>

namespace kiv::random {

void init();
void mt_seed(uint32_t seed);
uint32_t mt_next();
// 31 random bits from the system's secure source; raises
// internal/feature-na when the system has none to give.
uint32_t crypt_next();
// 31 random bits, secure or from the generator (top bit cleared).
uint32_t next31(bool secure);
// 1..n for n > 0, n..-1 for n < 0, 0 for 0; uniform.
int32_t int_range(bool secure, int32_t n);

}  // namespace kiv::random
