// port!: an object that stands for an outside resource reached through a
// scheme. The port itself does no I/O: each series and I/O action on it
// calls the function of the same name in its actor.
//
// Payload: as object! (w1 context, w2 class id, w3 change-handler record);
// a port's class id is 2. Its first three fields are fixed by position:
//   1 spec    the spec object
//   2 scheme  the scheme's name, a word
//   3 actor   an object! whose fields are functions named after actions, or
//             a handle! naming a native action table
// The other fields come from the prototype system/standard/port.
//
// Making a port (`make port! spec`): an object! spec is used as it is;
// a block is made into an object over system/standard/url-parts (whose
// first field is `scheme`); a url! or file! gives the spec
// [scheme: 'name  ref: spec], with the URL's scheme or `file`. The scheme
// word leads to the scheme object in system/schemes (a block of name and
// scheme pairs), whose fourth field (`actor`) becomes the port's actor.
//
// Forwarding: the actor's function receives the port, the action's own
// arguments, then, for each refinement of the action in order, a logic!
// flag followed by the refinement's arguments (none when it is not used).
// `read` and `write` are made of open, copy (and insert) and close.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/datatypes/actions.h"

namespace kiv::port {

inline constexpr uint32_t class_id = 2;

// Registers a native action table: a handle! whose value is the answer,
// put in a scheme's actor field, makes the ports of that scheme run the
// table's functions for actions 25 to 62 (append to write) in place of an
// actor object's. An empty entry raises access/no-port-action. The table
// must live as long as the process.
uint32_t add_native_actions(const ActionTable* table);

void register_types();

}  // namespace kiv::port
