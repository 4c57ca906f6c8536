// The `transcode` native, kept apart from the natives table.
#pragma once

#include <cstdint>

#include "runtime/eval/flow.h"

namespace kiv::natives {

// transcode src /next /one /prescan /scan /part length /into dst /trace
// callback: scans `src` (string! or binary!, from its index) with the lexer.
// Answers the block of values, the value itself (/one), a block of the value
// and the source after it (/next), the datatype of the first token or none
// (/scan, /prescan), or `dst` with the values appended (/into). May collect;
// runs the /trace callback for each lexer event it asks for. Raises the
// lexer's syntax errors and script/not-same-type for a /part position in
// another series; exits out of the callback leave through it.
Flow native_transcode(const int32_t* refinements);

}  // namespace kiv::natives
