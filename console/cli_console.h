// The terminal console: what `kiv --cli` runs.
//
// With a script file, checks its Kiv header and runs it, printing an
// uncaught error; without one, reads expressions from standard input and
// prints their results after ">> " prompts, until the input ends.
#pragma once

namespace kiv::console {

// Runs the console with the command line's arguments after `--cli`;
// answers the process exit status.
int run_cli(int argc, const char* const* argv);

}  // namespace kiv::console
