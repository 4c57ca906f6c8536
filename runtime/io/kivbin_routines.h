// The routines that reach the KIVBIN encoder and decoder from Kiv code.
#pragma once

namespace kiv::kivbin {

// Adds `kivbin-encode-cp` and `kivbin-decode` to the routine table; call
// before the library binds the routines' words.
void add_routines();

}  // namespace kiv::kivbin
