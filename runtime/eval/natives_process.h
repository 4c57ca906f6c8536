// The native that runs other programs.
#pragma once

#include <cstdint>

#include "runtime/eval/flow.h"

namespace kiv::natives {

// call cmd /wait /show /console /shell /input in /output out /error err:
// runs another program; answers its exit status after a wait, else its
// process id, or -1 when it could not be started.
Flow native_call(const int32_t* refinements);

}  // namespace kiv::natives
