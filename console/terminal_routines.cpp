#include "console/terminal_routines.h"

#include <cerrno>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

#include "console/line_reader.h"
#include "runtime/console_output.h"
#include "runtime/core/interrupt.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/native_args.h"
#include "runtime/os.h"

namespace kiv::console {
namespace {

using native_args::answer;
using native_args::arg;

// The size when standard output is no terminal: wide enough for most
// results, and the same everywhere, so that output does not depend on
// the terminal a test ran in.
constexpr int default_columns = 120;
constexpr int default_rows = 50;

Flow answer_text(const std::string& text) {
  Val value = string::push_new(static_cast<uint32_t>(text.size()));
  string::append_utf8(value, text);
  return answer(*value);
}

// terminal-read-line prompt hide?: the line typed, or none at the end of
// the input; a Ctrl-C while waiting interrupts the evaluation.
Flow read_line() {
  const std::string prompt = string::to_utf8(*arg(0));
  const bool hide = cell::is(*arg(1), TypeId::logic) && arg(1)->w1 != 0;
  output::flush();
  const line_reader::Result result = line_reader::read(prompt, hide);
  switch (result.status) {
    case line_reader::Status::line: return answer_text(result.text);
    case line_reader::Status::end: return answer(none::make());
    case line_reader::Status::interrupted: interrupt::raise();
  }
  return answer(none::make());
}

Flow read_all() { return answer_text(line_reader::read_all()); }

// Whether the line went to the history: only lines typed at a terminal do.
Flow remember() {
  if (!line_reader::editing()) return answer(logic::make(false));
  line_reader::remember(string::to_utf8(*arg(0)));
  return answer(logic::make(true));
}

// Columns x rows of the terminal on standard output.
Flow size() {
  winsize window{};
  if (::isatty(STDOUT_FILENO) == 1 && ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &window) == 0 && window.ws_col > 0 &&
      window.ws_row > 0)
    return answer(pair::make(window.ws_col, window.ws_row));
  return answer(pair::make(default_columns, default_rows));
}

// A line on standard error, after what standard output still holds.
Flow write_error() {
  output::flush();
  const std::string text = string::to_utf8(*arg(0)) + "\n";
  (void)os::write_all(STDERR_FILENO, text.data(), text.size());
  return answer(unset::make());
}

// The title of the terminal window, when standard output is one (an
// xterm control sequence). A title that cannot be set changes nothing.
Flow set_title() {
  if (::isatty(STDOUT_FILENO) == 1) {
    output::flush();
    std::string title = string::to_utf8(*arg(0));
    for (char& c : title)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';  // no control sequence of its own
    const std::string sequence = "\x1b]0;" + title + "\x07";
    if (!os::write_all(STDOUT_FILENO, sequence.data(), sequence.size())) output::standard_output_failed(errno);
  }
  return answer(unset::make());
}

// The console's own objects: calls of their functions stay out of the
// traces of the errors that commands and scripts raise.
Flow hide_calls() {
  stack::hide_calls_of(arg(0)->w1);
  return answer(unset::make());
}

}  // namespace

void add_terminal_routines() {
  routine::add("terminal-read-line", R"~("Internal Use Only: reads a line of input" prompt [string!] hide [logic!]
                   return: [string! none!])~", read_line);
  routine::add("terminal-read-all", R"~("Internal Use Only: reads the rest of standard input" return: [string!])~",
               read_all);
  routine::add("terminal-remember", R"~("Internal Use Only: adds a line to the terminal's history" line [string!]
                   return: [logic!])~",
               remember);
  routine::add("terminal-size", R"~("Internal Use Only: columns and rows of the terminal" return: [pair!])~", size);
  routine::add("terminal-error", R"~("Internal Use Only: writes a line on standard error" text [string!])~",
               write_error);
  routine::add("hide-calls", R"~("Internal Use Only: leaves an object's calls out of call traces" ctx [object!])~",
               hide_calls);
  routine::add("terminal-title", R"~("Internal Use Only: sets the terminal's title" str [string!])~", set_title);
}

}  // namespace kiv::console
