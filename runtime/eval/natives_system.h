// The natives that talk to the system: the clock, the environment, files
// and processes, and compress and decompress, whose C++ lives with the
// coders in runtime/io/.
#pragma once

#include <cstdint>

#include "runtime/eval/flow.h"

namespace kiv::natives {

// list-env: the environment as a map! of names to values.
Flow native_list_env(const int32_t* refinements);
// now with its ten refinements: the date, the time or one field of them.
Flow native_now(const int32_t* refinements);
// size? file: the size of a file in bytes, none for a directory.
Flow native_size_q(const int32_t* refinements);
// browse url-or-file: opens it with the desktop's default application.
Flow native_browse(const int32_t* refinements);
// compress data method; decompress data method /size sz (defined in
// runtime/io/natives_compression.cpp).
Flow native_compress(const int32_t* refinements);
Flow native_decompress(const int32_t* refinements);

}  // namespace kiv::natives
