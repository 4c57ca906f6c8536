// Reading the console's input lines from standard input.
//
// At a terminal, lines are edited with libedit (the BSD editline library,
// whose BSD licence suits any licence the project may choose): cursor keys,
// a history kept in the XDG state folder ($XDG_STATE_HOME/kiv/history, else
// ~/.local/state/kiv/history), Tab completion through a completer the
// console sets. Otherwise plain lines are read and no prompt is written.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace kiv::console::line_reader {

enum class Status { line, end, interrupted };

struct Result {
  Status status = Status::end;
  std::string text;  // UTF-8, without its line end
};

// Whether standard input is a terminal, so that lines are edited.
bool editing();

// Reads one line, after `prompt` when editing. With `hide`, what is typed
// is not echoed and stays out of the history. A Ctrl-C while waiting gives
// `interrupted`; Ctrl-D on an empty line, or the end of the input, `end`.
Result read(const std::string& prompt, bool hide);

// Reads the rest of standard input (a script given as "-").
std::string read_all();

// Adds a line to the edited history and its file (nothing when not
// editing).
void remember(const std::string& line);

// What Tab does to the line: the new line, where the cursor goes in it (in
// characters), and candidates to show above it (empty for none).
struct Completion {
  std::string line;
  size_t cursor = 0;
  std::string candidates;
};
// `line` and `cursor` (in characters) in; nothing to complete gives
// nullopt. Called from inside libedit: it must not throw.
using Completer = std::optional<Completion> (*)(const std::string& line, size_t cursor) noexcept;
void set_completer(Completer completer);

}  // namespace kiv::console::line_reader
