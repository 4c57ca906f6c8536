#include "runtime/eval/base_routines.h"

#include <cstdlib>

#include "runtime/console_output.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/routine.h"

namespace kiv::base_routines {
namespace {

// Ends the process at once with the status, without freeing memory.
Flow quit_return() {
  const int32_t status = cell::get_int32(*stack::result());
  output::flush();
  std::exit(status & 0xFF);
}

}  // namespace

void add_all() {
  routine::add("quit-return",
               R"~("Stops evaluation and exits the program with a given status"
                   status [integer!] "Process termination value to return")~",
               quit_return);
}

}  // namespace kiv::base_routines
