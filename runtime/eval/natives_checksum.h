// The `checksum` native, kept apart from the natives table.
#pragma once

#include <cstdint>

#include "runtime/eval/flow.h"

namespace kiv::natives {

// checksum data method /with spec: the checksum, digest, HMAC or table
// hash of `data` (a string! as UTF-8 from its index, a binary! from its
// index, a file! read whole). `method` is one of tcp, crc32, adler32 (an
// integer!), md5, sha1, sha256, sha384, sha512 (a binary! digest; with a
// string! or binary! key, its HMAC) or hash (with an integer! size, the
// hash tables' MurmurHash3 of the bytes, in 0..size-1), in any case.
// Raises script/invalid-arg for data, a method or a /with value of another
// kind, script/invalid-refine-arg for a /with value the method cannot use
// (and for hash without one), access/cannot-open for an unreadable file and
// internal/not-here for a digest the system's libcrypto refuses. May
// collect (the result); runs no Kiv code.
Flow native_checksum(const int32_t* refinements);

}  // namespace kiv::natives
