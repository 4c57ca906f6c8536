// The routines that reach the JSON reader and writer from the library's
// load-json and to-json.
#pragma once

namespace kiv::json {

// Adds `json-decode` and `json-encode` to the routine
// table; call before the library binds the routines' words.
void add_routines();

}  // namespace kiv::json
