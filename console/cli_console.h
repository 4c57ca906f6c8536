// The terminal console: what `kiv --cli` runs.
//
// The console itself is Kiv code (console/engine.kiv, the `system/console`
// engine, and console/terminal.kiv, its terminal glue). This side installs
// the output hooks (print to standard output, the runtime's own text to
// standard error), answers --help and --version, turns Ctrl-C into an
// interrupt of the running evaluation, and starts the engine.
#pragma once

namespace kiv::console {

// Runs the console with the command line's arguments after the program
// name; answers the process exit status.
int run_cli(int argc, const char* const* argv);

}  // namespace kiv::console
