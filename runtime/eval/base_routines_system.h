// The routines of the base environment that reach the operating system:
// the current directory, files, the OS description, standard output, and
// the float formatter's switches (the clipboard's are in
// runtime/io/clipboard.h). Registered by
// base_routines::add_all, in the routines' definition order.
#pragma once

namespace kiv::base_routines {

// get-current-dir, set-current-dir, create-dir, exists?, os-info
void add_system();
// count-chars
void add_count_chars();
// write-stdout
void add_stdout();
// float-switch (start-up only: system/options/float/on-change* keeps it)
void add_system_switches();

}  // namespace kiv::base_routines
