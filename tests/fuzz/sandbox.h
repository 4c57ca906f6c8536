// A sandbox for a fuzz target that runs Kiv code from its input: the code
// must not change files, start processes or reach the network, and must
// not run for ever.
//
// 1. The words of the functions that reach the OS (files, processes,
//    environment, clipboard, waiting, quitting) are unset in the global
//    context, so that code from the input cannot name them.
// 2. A seccomp filter refuses, with EPERM, the system calls that change
//    files, start processes or open sockets, and every open for writing.
//    It also holds for any way around (1). libFuzzer cannot write crash
//    files under it: the scripts run such a target with inputs of at most
//    256 bytes, which libFuzzer prints as hex when one fails.
// 3. A CPU-time alarm ends an evaluation that runs too long: its handler
//    makes the evaluator's machine-stack check fail, so that the code ends
//    in a catchable internal error at its next evaluation step.
#pragma once

#include <cstdint>

namespace kiv::fuzz {

void unset_os_words();
void install_syscall_filter();

// Arms the alarm for `milliseconds` of CPU time; disarm it after the run.
void arm_step_limit(uint32_t milliseconds);
void disarm_step_limit();

}  // namespace kiv::fuzz
