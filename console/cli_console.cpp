#include "console/cli_console.h"

#include <cerrno>
#include <csignal>
#include <string>
#include <string_view>
#include <unistd.h>

#include "console/line_reader.h"
#include "runtime/callbacks.h"
#include "runtime/console_output.h"
#include "runtime/core/exits.h"
#include "runtime/core/interrupt.h"
#include "runtime/core/stack.h"
#include "runtime/core/state.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/lexer.h"
#include "runtime/mold.h"
#include "runtime/os.h"

namespace kiv::console {
namespace {

// The status of a script that Ctrl-C stopped, as a shell reports one that
// SIGINT ended.
constexpr int status_interrupted = 130;
// An error that nothing caught: -2, in 8 bits.
constexpr int status_uncaught_error = 254;

void write_text(int fd, const std::string& text) {
  if (!os::write_all(fd, text.data(), text.size()) && fd == STDOUT_FILENO) output::standard_output_failed(errno);
}

// `print` and `prin` land here.
void print_hook(const Cell& value, bool newline) {
  std::string text = string::to_utf8(value);
  if (newline) text += '\n';
  write_text(STDOUT_FILENO, text);
}

// The runtime's own low-level text.
void text_hook(const char* text, int32_t length, int) {
  if (length > 0) write_text(STDERR_FILENO, std::string(text, static_cast<size_t>(length)));
}

// Ctrl-C asks the evaluator to stop at its next block. A second one before
// it did (a native that runs long, a blocking call) ends the process.
void on_interrupt(int) {
  if (interrupt::requested != 0) ::_exit(status_interrupted);
  interrupt::requested = 1;
}

void install_interrupt_handler() {
  struct sigaction action{};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a read waiting for input returns
  ::sigaction(SIGINT, &action, nullptr);
}

// The stacks as they were before an evaluation; the evaluation may run
// inside another (Tab completion runs while `ask` waits).
struct StackMark {
  uint32_t calls = stack::call_depth();
  uint32_t cells = stack::depth();
};

// Clears what an exit left behind, back to `mark`.
void reset_stacks(const StackMark& mark) {
  runtime::state.pending = 0;
  stack::unroll_to(mark.calls);
  stack::drop_to(mark.cells);
}

enum class Ending { normal, interrupted, error };

// The text of the error that ended an evaluation, for the report.
std::string g_failure;

// Takes the pending error's text; forming can fail in turn.
void note_failure() {
  g_failure.clear();
  try {
    Val error = stack::push(error_value::make_from_pending());
    Val out = string::push_new(64);
    mold::form_value(error, out, 1 << 16);
    g_failure = string::to_utf8(*out);
  } catch (const Unwind&) {
    g_failure = "(the error cannot be formed)";
  }
}

// Evaluates Kiv code given as text (with the extra values appended to it),
// leaving its value as the newest cell when it ends normally; the caller
// drops it (to `mark`).
Ending evaluate(const StackMark& mark, std::string_view code, std::initializer_list<Cell> extra = {}) {
  try {
    Val block = stack::push(*lexer::scan(code));
    for (const Cell& value : extra) block::append(block, value);
    const Flow flow = interpreter::eval_block(*block, false);
    if (flow == Flow::exit) {
      const uint32_t pending = runtime::state.pending;
      reset_stacks(mark);
      g_failure = "an exit that nothing caught";
      return pending == exit_code::interrupt ? Ending::interrupted : Ending::error;
    }
    return Ending::normal;
  } catch (const Unwind& unwind) {
    const bool interrupted = unwind.code == exit_code::interrupt;
    runtime::state.pending = 0;
    stack::unroll_to(mark.calls);
    if (unwind.code == exit_code::error) note_failure();
    reset_stacks(mark);
    return interrupted ? Ending::interrupted : Ending::error;
  }
}

// Whether the value `code` evaluates to is true (false when it fails).
bool holds(std::string_view code) {
  const StackMark mark;
  if (evaluate(mark, code) != Ending::normal) return false;
  const Cell value = *stack::last();
  stack::drop_to(mark.cells);
  return !cell::is(value, TypeId::none) && !(cell::is(value, TypeId::logic) && value.w1 == 0);
}

// Tab at the prompt: the console's completion, or nothing when it fails.
std::optional<line_reader::Completion> complete(const std::string& line, size_t cursor) noexcept {
  const StackMark mark;
  try {
    Val text = string::push_new(static_cast<uint32_t>(line.size()));
    string::append_utf8(text, line);
    const Cell at = integer::make(static_cast<int32_t>(cursor));
    if (evaluate(mark, "cli-console-ctx/complete", {*text, at}) != Ending::normal) return std::nullopt;
    const Cell result = *stack::last();
    if (!cell::is(result, TypeId::block) || block::count(result) < 3) {
      stack::drop_to(mark.cells);
      return std::nullopt;
    }
    line_reader::Completion completion;
    completion.line = string::to_utf8(*block::at(result, 0));
    const Cell caret = *block::at(result, 1);
    completion.cursor = cell::is(caret, TypeId::integer) && static_cast<int32_t>(caret.w2) >= 0 ? caret.w2 : 0;
    const Cell candidates = *block::at(result, 2);
    if (cell::is(candidates, TypeId::string)) completion.candidates = string::to_utf8(candidates);
    stack::drop_to(mark.cells);
    return completion;
  } catch (...) {
    reset_stacks(mark);
    return std::nullopt;
  }
}

// --help and --version among the leading options (before a script or a
// lone "--") answer at once.
bool answers_option(int argc, const char* const* argv, int* status) {
  for (int i = 0; i < argc && std::string_view(argv[i]).starts_with("--"); ++i) {
    const std::string_view option = argv[i];
    if (option == "--") return false;
    if (option == "--help") {
      write_text(STDOUT_FILENO,
                 "Usage: kiv [--cli] [--catch] [script [argument...]]\n"
                 "  (no script)  reads expressions at a prompt and prints their values\n"
                 "  script       runs a script file (\"-\" reads it from standard input)\n"
                 "  --cli        the terminal console, also when a display is available\n"
                 "  --catch      after the script, stays at the prompt\n"
                 "  --help       shows this text\n"
                 "  --version    shows the version\n");
      *status = 0;
      return true;
    }
    if (option == "--version") {
      const StackMark mark;
      if (evaluate(mark, "form system/version") == Ending::normal)
        write_text(STDOUT_FILENO, "Kiv " + string::to_utf8(*stack::last()) + "\n");
      stack::drop_to(mark.cells);
      *status = 0;
      return true;
    }
  }
  return false;
}

}  // namespace

int run_cli(int argc, const char* const* argv) {
  callbacks::register_hooks(print_hook, text_hook);
  int status = 0;
  if (answers_option(argc, argv, &status)) return status;
  install_interrupt_handler();
  line_reader::set_completer(&complete);
  // The console's own code catches every error a script or a command
  // raises; what ends up here is an interrupt, or a fault of that code.
  const StackMark top;
  Ending ending = evaluate(top, "cli-console-ctx/launch");
  while (ending == Ending::interrupted) {
    if (holds("cli-console-ctx/script-mode?")) {
      output::flush();
      return status_interrupted;
    }
    // Back to the prompt: what the scripts that were stopped changed is
    // given back, the pending input is dropped, as Escape does. At a
    // terminal the report starts a line of its own, after the "^C" the
    // terminal may have shown.
    if (line_reader::editing()) write_text(STDOUT_FILENO, "\n");
    ending = evaluate(top, "running-scripts/undo system/console/eval-command \"^(1B)\" system/console/run/no-banner");
  }
  if (ending == Ending::error) {
    write_text(STDERR_FILENO, "*** Error: the console stopped on an error\n" + g_failure + "\n");
    return status_uncaught_error;
  }
  stack::drop_to(top.cells);
  return 0;
}

}  // namespace kiv::console
