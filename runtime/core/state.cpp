#include "runtime/core/state.h"

namespace kiv::runtime {

State state;

}  // namespace kiv::runtime
