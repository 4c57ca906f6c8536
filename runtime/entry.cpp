// The program's entry point.
#include "runtime/init.h"

int main(int argc, char** argv) { kiv::runtime::start(argc, argv); }
