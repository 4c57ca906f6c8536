#include "runtime/core/runtime_error.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include "runtime/core/exits.h"
#include "runtime/core/tracked_memory.h"

namespace kiv::runtime {
namespace {

struct NumberedMessage {
  int number;
  const char* text;
};

constexpr NumberedMessage messages[] = {
    {1, "access violation"},
    {2, "invalid alignment"},
    {3, "breakpoint"},
    {4, "single step"},
    {5, "bounds exceeded"},
    {6, "float denormal operan"},
    {7, "float divide by zero"},
    {8, "float inexact result"},
    {9, "float invalid operation"},
    {10, "float overflow"},
    {11, "float stack check"},
    {12, "float underflow"},
    {13, "integer divide by zero"},
    {14, "integer overflow"},
    {15, "privileged instruction"},
    {16, "invalid virtual address"},
    {17, "illegal instruction"},
    {18, "non-continuable exception"},
    {19, "stack error or overflow"},
    {20, "invalid disposition"},
    {21, "guard page"},
    {22, "invalid handle"},
    {23, "illegal operand"},
    {24, "illegal addressing mode"},
    {25, "illegal trap"},
    {26, "coprocessor error"},
    {27, "non-existent physical address"},
    {28, "object specific hardware error"},
    {29, "hardware memory error consumed AR"},
    {30, "hardware memory error consumed AO"},
    {31, "privileged register"},
    {32, "segmentation fault"},
    {33, "FPU error"},
    {34, "Bus error"},
    {94, "out of memory"},
    {95, "no CATCH for THROW"},
    {98, "assertion failed"},
    {99, "unknown error"},
    {100, "no value matched in CASE"},
    {101, "no value matched in SWITCH"},
};

// A bounded writer that never allocates: usable inside a signal handler.
struct ReportWriter {
  char* out;
  size_t capacity;
  size_t length = 0;

  void put(char c) {
    if (length + 1 < capacity) out[length++] = c;
  }
  void put(const char* text) {
    while (*text) put(*text++);
  }
  void put_decimal(int value) {
    char digits[12];
    int count = 0;
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
      digits[count++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude);
    if (value < 0) put('-');
    while (count) put(digits[--count]);
  }
  void put_hex(uintptr_t value, int min_digits) {
    char digits[sizeof(uintptr_t) * 2];
    int count = 0;
    do {
      digits[count++] = "0123456789ABCDEF"[value & 0xF];
      value >>= 4;
    } while (value);
    for (int pad = count; pad < min_digits; ++pad) put('0');
    while (count) put(digits[--count]);
  }
};

void write_all(int fd, const char* text, size_t length) {
  while (length > 0) {
    const ssize_t written = ::write(fd, text, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    text += written;
    length -= static_cast<size_t>(written);
  }
}

// The report goes to standard error, always. A graphical host may add a
// dialog box of its own later.
void show_report(int number, uintptr_t address) {
  char text[512];
  size_t length = format_error_report(text, sizeof text - 1, number, address);
  text[length++] = '\n';
  write_all(STDERR_FILENO, text, length);
}

// A fault close below the interrupted stack pointer is a stack overflow:
// the guard page under the stack was hit.
bool near_stack_pointer(uintptr_t fault_address, uintptr_t stack_pointer) {
  constexpr uintptr_t below = 1u << 20;
  constexpr uintptr_t above = 1u << 12;
  return fault_address + below >= stack_pointer && fault_address <= stack_pointer + above;
}

void on_fault(int signal_number, siginfo_t* info, void* context) {
  uintptr_t pc = 0;
  uintptr_t sp = 0;
#if defined(__x86_64__)
  const auto* machine = &static_cast<ucontext_t*>(context)->uc_mcontext;
  pc = static_cast<uintptr_t>(machine->gregs[REG_RIP]);
  sp = static_cast<uintptr_t>(machine->gregs[REG_RSP]);
#else
  (void)context;
#endif
  const bool overflow = signal_number == SIGSEGV &&
                        near_stack_pointer(reinterpret_cast<uintptr_t>(info->si_addr), sp);
  const int number = fault_error_number(signal_number, info->si_code, overflow);
  // Neither the tracked list nor stdio may be touched here: the fault may
  // have struck inside malloc. The system takes the memory back anyway.
  if (number != error_quiet) show_report(number, pc);
  _exit(number);
}

}  // namespace

const char* error_message(int number) {
  for (const NumberedMessage& message : messages)
    if (message.number == number) return message.text;
  return "unknown error code!";
}

size_t format_error_report(char* out, size_t capacity, int number, uintptr_t address) {
  if (capacity == 0) return 0;
  ReportWriter writer{out, capacity};
  writer.put("*** Runtime Error ");
  writer.put_decimal(number);
  writer.put(": ");
  writer.put(error_message(number));
  writer.put("\n*** at: ");
  writer.put_hex(address, 8);
  writer.put('h');
  out[writer.length] = '\0';
  return writer.length;
}

namespace {
void (*g_output_flush)() = nullptr;
}

void set_output_flush(void (*flush)()) { g_output_flush = flush; }

void cleanup() { memory::free_all(); }

void fatal(int number, uintptr_t address) {
  if (g_output_flush) g_output_flush();
  if (number != error_quiet) show_report(number, address);
  cleanup();
  std::exit(number);
}

__attribute__((noinline)) void top_handler() {
  if (state.pending == exit_code::quiet_end) fatal(error_quiet, 0);
  fatal(error_no_catch, reinterpret_cast<uintptr_t>(&top_handler));
}

int fault_error_number(int signal_number, int signal_code, bool stack_overflow) {
  switch (signal_number) {
    case SIGSEGV:
      return stack_overflow ? error_stack_overflow : error_access_violation;
    case SIGBUS:
      switch (signal_code) {
        case BUS_ADRALN: return 2;
        case BUS_ADRERR: return 27;
        case BUS_OBJERR: return 28;
        case BUS_MCEERR_AR: return 29;
        case BUS_MCEERR_AO: return 30;
        default: return 34;
      }
    case SIGILL:
      switch (signal_code) {
        case ILL_ILLOPC: return 17;
        case ILL_ILLOPN: return 23;
        case ILL_ILLADR: return 24;
        case ILL_ILLTRP: return 25;
        case ILL_PRVOPC: return 15;
        case ILL_PRVREG: return 31;
        case ILL_COPROC: return 26;
        case ILL_BADSTK: return error_stack_overflow;
        default: return 17;
      }
    case SIGFPE:
      switch (signal_code) {
        case FPE_INTDIV: return 13;
        case FPE_INTOVF: return 14;
        case FPE_FLTDIV: return 7;
        case FPE_FLTOVF: return 10;
        case FPE_FLTUND: return 12;
        case FPE_FLTRES: return 8;
        case FPE_FLTINV: return 9;
        case FPE_FLTSUB: return 5;
        default: return 33;
      }
    case SIGTRAP:
      return signal_code == TRAP_TRACE ? 4 : 3;
    case SIGINT:
      return error_quiet;
    default:
      return error_unknown_fault;
  }
}

void install_fault_handlers() {
  // The alternate stack belongs to the calling thread: the thread that runs
  // Kiv code must call this itself. It is never freed: the handler may need
  // it until the process ends.
  constexpr size_t alt_size = 64 * 1024;
  void* alt = ::mmap(nullptr, alt_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (alt != MAP_FAILED) {
    stack_t stack{};
    stack.ss_sp = alt;
    stack.ss_size = alt_size;
    ::sigaltstack(&stack, nullptr);
  }
  struct sigaction action{};
  action.sa_sigaction = on_fault;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGINT})
    ::sigaction(signal_number, &action, nullptr);
}

}  // namespace kiv::runtime
