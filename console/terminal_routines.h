// The routines through which the console's Kiv code reaches the terminal:
// input lines, the terminal's size, standard error, the window title.
// console/terminal.kiv binds them while the library loads.
#pragma once

namespace kiv::console {

// Registers the routines; before the library loads.
void add_terminal_routines();

}  // namespace kiv::console
