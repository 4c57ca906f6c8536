// The routines of the input/output layer that the script library binds at
// start-up: KIVBIN, the clipboard, HTTP, JSON and the image codecs. Every
// program that runs the library registers them first.
#pragma once

namespace kiv::io_routines {

void add_all();

}  // namespace kiv::io_routines
