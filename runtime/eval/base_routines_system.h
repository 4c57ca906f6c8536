// The routines of the base environment that reach the operating system:
// the current directory, files, the OS description, the clipboard and
// standard output, and the float formatter's switches. Registered by
// base_routines::add_all, in the routines' definition order.
#pragma once

namespace kiv::base_routines {

// get-current-dir, set-current-dir, create-dir, exists?, os-info
void add_system();
// count-chars
void add_count_chars();
// read-clipboard, write-clipboard, write-stdout
void add_clipboard_and_stdout();
// float-switch (start-up only: system/options/float/on-change* keeps it)
void add_system_switches();

}  // namespace kiv::base_routines
