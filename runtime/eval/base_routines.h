// Routines of the base environment: C++ bodies the library calls by name.
#pragma once

namespace kiv::base_routines {

// Adds them to the routine table (before the table's words are defined).
void add_all();

}  // namespace kiv::base_routines
