#include "runtime/state.h"

namespace kiv::runtime {

State state;

}  // namespace kiv::runtime
