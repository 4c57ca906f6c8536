#include "runtime/core/runtime_error.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "runtime/core/tracked_memory.h"
#include "runtime/platform.h"

namespace kiv::runtime {
namespace {

TEST(RuntimeError, MessagesByNumber) {
  const std::pair<int, const char*> cases[] = {
      {1, "access violation"},
      {6, "float denormal operan"},
      {19, "stack error or overflow"},
      {34, "Bus error"},
      {94, "out of memory"},
      {95, "no CATCH for THROW"},
      {101, "no value matched in SWITCH"},
      {35, "unknown error code!"},
      {0, "unknown error code!"},
  };
  for (const auto& [number, text] : cases) EXPECT_STREQ(error_message(number), text) << number;
}

TEST(RuntimeError, ReportText) {
  char text[256];
  format_error_report(text, sizeof text, 94, 0x4A3Fu);
  EXPECT_STREQ(text, "*** Runtime Error 94: out of memory\n*** at: 00004A3Fh");
  format_error_report(text, sizeof text, 1, 0x7F0012345678u);
  EXPECT_STREQ(text, "*** Runtime Error 1: access violation\n*** at: 7F0012345678h");
  // A short buffer cuts the text but keeps it terminated.
  EXPECT_EQ(format_error_report(text, 8, 1, 0), 7u);
  EXPECT_STREQ(text, "*** Run");
}

TEST(RuntimeError, FaultSignalsMapToNumbers) {
  struct Case {
    int signal_number;
    int code;
    bool overflow;
    int expected;
  };
  const Case cases[] = {
      {SIGSEGV, SEGV_MAPERR, false, 1},  {SIGSEGV, SEGV_ACCERR, true, 19},
      {SIGBUS, BUS_ADRALN, false, 2},    {SIGBUS, 99, false, 34},
      {SIGILL, ILL_ILLOPC, false, 17},   {SIGILL, ILL_PRVOPC, false, 15},
      {SIGFPE, FPE_INTDIV, false, 13},   {SIGFPE, FPE_FLTINV, false, 9},
      {SIGFPE, 99, false, 33},           {SIGTRAP, TRAP_BRKPT, false, 3},
      {SIGTRAP, TRAP_TRACE, false, 4},   {SIGINT, 0, false, 0},
      {SIGUSR1, 0, false, 99},
  };
  for (const Case& c : cases)
    EXPECT_EQ(fault_error_number(c.signal_number, c.code, c.overflow), c.expected)
        << c.signal_number << "/" << c.code;
}

// Written so that neither sanitizer intercepts the store first: the test is
// about the runtime's own fault handler.
__attribute__((noinline, no_sanitize("address", "undefined"))) void write_through(int* target) {
  asm volatile("" : "+r"(target));  // the compiler may not assume the address
  *target = 1;
}

__attribute__((noinline, no_sanitize("undefined"))) int divide(int a, int b) {
  asm volatile("" : "+r"(a), "+r"(b));
  const int quotient = a / b;
  asm volatile("" : : "r"(quotient));
  return quotient;
}

__attribute__((noinline)) int recurse_forever(int depth) {
  if (depth < 0) return 0;
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  return recurse_forever(depth + 1) + frame[0];
}

TEST(RuntimeErrorDeath, NullWriteIsRuntimeError1) {
  EXPECT_EXIT(
      {
        install_fault_handlers();
        write_through(nullptr);
      },
      ::testing::ExitedWithCode(1),
      "^\\*\\*\\* Runtime Error 1: access violation\n\\*\\*\\* at: [0-9A-F]{8,}h\n$");
}

TEST(RuntimeErrorDeath, StackOverflowIsRuntimeError19) {
  EXPECT_EXIT(
      {
        install_fault_handlers();
        recurse_forever(0);
      },
      ::testing::ExitedWithCode(19), "Runtime Error 19: stack error or overflow");
}

TEST(RuntimeErrorDeath, IntegerDivisionByZeroIsRuntimeError13) {
  EXPECT_EXIT(
      {
        install_fault_handlers();
        divide(1, 0);
      },
      ::testing::ExitedWithCode(13), "Runtime Error 13: integer divide by zero");
}

TEST(RuntimeErrorDeath, QuietEndFreesTrackedBlocksWithoutText) {
  EXPECT_EXIT(
      {
        memory::allocate(64);
        fatal(error_quiet, 0);
      },
      ::testing::ExitedWithCode(0), "^$");
}

TEST(RuntimeErrorDeath, UnknownNumberHasItsOwnText) {
  EXPECT_EXIT(fatal(57, 0x1234), ::testing::ExitedWithCode(57),
              "^\\*\\*\\* Runtime Error 57: unknown error code!\n\\*\\*\\* at: 00001234h\n$");
}

}  // namespace
}  // namespace kiv::runtime
