// Numbered runtime errors: failures that no script can catch.
//
// A runtime error ends the process. Its report is
//   "*** Runtime Error N: message\n*** at: ADDRESSh"
// on standard error, the address in upper-case hexadecimal of at least eight
// digits, and the process exit status is N. Processor faults arrive through
// signal handlers and are reported the same way.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::runtime {

inline constexpr int error_quiet = 0;
inline constexpr int error_access_violation = 1;
inline constexpr int error_stack_overflow = 19;
inline constexpr int error_out_of_memory = 94;
inline constexpr int error_no_catch = 95;
inline constexpr int error_assertion = 98;
inline constexpr int error_unknown_fault = 99;
inline constexpr int error_no_case_match = 100;
inline constexpr int error_no_switch_match = 101;

// The message of runtime error `number`, or "unknown error code!".
const char* error_message(int number);

// Writes the report text of error `number` at `address` into `out` (NUL
// terminated, cut to `capacity`); returns its length. Safe in a signal
// handler: it neither allocates nor locks.
size_t format_error_report(char* out, size_t capacity, int number, uintptr_t address);

// Ends the process as runtime error `number`. Number 0 is the quiet end:
// no report. Every tracked block is freed first.
[[noreturn]] void fatal(int number, uintptr_t address);

// Sets the function that writes what the output layer still holds; it runs
// before a report is written and the process ends.
void set_output_flush(void (*flush)());

// Frees every tracked block; called just before the process ends.
void cleanup();

// The handler at the bottom of the stack, reached by an exit that nothing
// caught: the quiet-end code ends the process with status 0, anything else
// is runtime error 95 "no CATCH for THROW".
[[noreturn]] void top_handler();

// Runtime error number for a processor fault: signal number and its
// `si_code`; `stack_overflow` tells a fault in the stack's guard area.
// Returns 0 for an interrupt from the keyboard (a quiet end).
int fault_error_number(int signal_number, int signal_code, bool stack_overflow);

// Installs the fault handlers, with an alternate signal stack for the
// calling thread so that a stack overflow is reported too.
void install_fault_handlers();

}  // namespace kiv::runtime
