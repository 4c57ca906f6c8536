// The program's entry point: the runtime starts, then the console runs.
#include "console/cli_console.h"
#include "runtime/init.h"

int main(int argc, char** argv) { kiv::runtime::start(argc, argv, &kiv::console::run_cli); }
