// The runtime state record: the few process-wide facts that every module of
// the runtime may need. One instance, `runtime::state`.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv {

namespace memory {
struct TrackedList;
}

namespace runtime {

struct State {
  // Command line as UTF-8 (the bytes the system gave us). `argv` has
  // `argc + 1` entries, the last null; the array and the strings are tracked
  // blocks.
  int argc = 0;
  char** argv = nullptr;

  // Code of the non-local exit in progress (see exits.h), 0 when none.
  uint32_t pending = 0;

  // Serialised boot data, when the executable carries any (none yet).
  const uint8_t* boot_data = nullptr;

  // Every block taken from the C heap through memory::allocate.
  memory::TrackedList* tracked = nullptr;

  // While set, words made global are also kept alive by the root block.
  bool boot_flag = false;
  // The collector runs only while this is set; start-up sets it once the
  // runtime is fully built.
  bool collector_on = false;
  // Set while start-up runs the script library: functions made then are
  // the library's own.
  bool loading_library = false;

  // Whether the last `print` or `prin` ended its output with a line end
  // (the library's `last-lf?` reads it).
  bool last_lf = false;

  // Bounds of the machine stack of the thread that runs Kiv code, used by
  // the evaluator's depth guard.
  uintptr_t stack_low = 0;
  uintptr_t stack_high = 0;
};

extern State state;

}  // namespace runtime
}  // namespace kiv
