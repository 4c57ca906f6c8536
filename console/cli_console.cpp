#include "console/cli_console.h"

#include <cerrno>
#include <iostream>
#include <string>
#include <unistd.h>

#include "runtime/callbacks.h"
#include "runtime/console_output.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/exits.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/state.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/lexer.h"
#include "runtime/eval/script.h"
#include "runtime/mold.h"
#include "runtime/os.h"

namespace kiv::console {
namespace {

constexpr const char* prompt = ">> ";
constexpr const char* result_marker = "==";
constexpr uint32_t terminal_width = 120;

// Text of the console's own: results, errors, prompts. Output to standard
// output that cannot be written ends the process (console_output.h).
void write_text(int fd, const std::string& text) {
  if (!os::write_all(fd, text.data(), text.size()) && fd == STDOUT_FILENO) output::standard_output_failed(errno);
}

// `print` and `prin` land here.
void print_hook(const Cell& value, bool newline) {
  std::string text = string::to_utf8(value);
  if (newline) text += '\n';
  write_text(STDOUT_FILENO, text);
}

void text_hook(const char* text, int32_t length, int) { write_text(STDERR_FILENO, std::string(text, static_cast<size_t>(length))); }

std::string formed(const Cell& value, bool molding) {
  Val v = stack::push(value);
  Val out = string::push_new(32);
  if (molding) mold::mold_value(v, out, {}, 1 << 30);
  else mold::form_value(v, out, 1 << 30);
  std::string text = string::to_utf8(*out);
  stack::pop(2);
  return text;
}

enum class Outcome { value, error, failed_load };

// Evaluates a block at the top level: its value, or the error it raised,
// ends up in `result`. The error keeps the trace of the calls it was
// raised in, taken before they are unrolled.
Outcome evaluate(const Cell& code, Cell* result) {
  const uint32_t own_cells = stack::depth();
  try {
    const Flow flow = interpreter::eval_block(code, true);
    if (flow == Flow::exit) {
      // An exit nothing caught: only a quiet end may leave the top level.
      runtime::state.pending = 0;
      stack::unroll_to(0);
    }
    *result = *stack::result();
    return Outcome::value;
  } catch (const Unwind& unwind) {
    if (unwind.code != exit_code::error) throw;
    runtime::state.pending = 0;
    *result = error_value::make_from_pending_with_trace(own_cells);
    stack::unroll_to(0);
    return Outcome::error;
  }
}

// The block of a text, or the syntax error reading it raised.
Outcome load(const std::string& text, Cell* block) {
  try {
    *block = *lexer::scan(text);
    return Outcome::value;
  } catch (const Unwind& unwind) {
    if (unwind.code != exit_code::error) throw;
    stack::unroll_to(0);
    runtime::state.pending = 0;
    *block = error_value::make_from_pending();
    return Outcome::failed_load;
  }
}

// The result line: "== " and the molded value (a float formed), cut to the
// terminal's width.
void show_result(const Cell& value, Outcome outcome) {
  if (outcome != Outcome::value) {
    write_text(STDOUT_FILENO, formed(value, false) + "\n");
    return;
  }
  if (cell::is(value, TypeId::unset)) return;
  std::string text = formed(value, !cell::is(value, TypeId::float_));
  const size_t limit = terminal_width - 3;
  if (text.size() > limit) text = text.substr(0, limit - 3 - 1) + "...";
  write_text(STDOUT_FILENO, std::string(result_marker) + " " + text + "\n");
}

// Shows a value (or an error) as `show_result` does. Showing can fail
// itself (a value of a type that cannot be molded yet): the error that
// raises is shown in its place, and when even that cannot be shown, a
// fixed line says so; the console goes on either way.
void show_safely(const Cell& value, Outcome outcome) {
  Cell shown = value;
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      show_result(shown, outcome);
      return;
    } catch (const Unwind& unwind) {
      if (unwind.code != exit_code::error) throw;
      stack::unroll_to(0);
      stack::drop_to(0);
      runtime::state.pending = 0;
      shown = error_value::make_from_pending();
      outcome = Outcome::error;
    }
  }
  write_text(STDOUT_FILENO, "*** Error: the result cannot be shown\n");
}

// Whether the text left an opening bracket, paren or brace unclosed, so
// that more lines are needed.
bool incomplete(const std::string& text) {
  int depth = 0;
  bool in_quote = false;
  int braces = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_quote) {
      if (c == '^') ++i;
      else if (c == '"') in_quote = false;
      continue;
    }
    if (braces > 0) {
      if (c == '^') ++i;
      else if (c == '{') ++braces;
      else if (c == '}') --braces;
      continue;
    }
    switch (c) {
      case ';':
        while (i < text.size() && text[i] != '\n') ++i;
        break;
      case '"': in_quote = true; break;
      case '{': braces = 1; break;
      case '[':
      case '(': ++depth; break;
      case ']':
      case ')': --depth; break;
      default: break;
    }
  }
  return depth > 0 || braces > 0;
}

int run_lines() {
  std::string buffer;
  std::string line;
  write_text(STDOUT_FILENO, prompt);
  while (std::getline(std::cin, line)) {
    buffer += line;
    buffer += '\n';
    if (incomplete(buffer)) continue;
    Cell code;
    Outcome outcome = load(buffer, &code);
    buffer.clear();
    if (outcome == Outcome::value) {
      Val kept = stack::push(code);
      Cell result;
      outcome = evaluate(*kept, &result);
      stack::drop_to(0);
      code = result;
    }
    Val kept = stack::push(code);
    show_safely(*kept, outcome);
    stack::drop_to(0);
    write_text(STDOUT_FILENO, prompt);
  }
  write_text(STDOUT_FILENO, "\n");
  return 0;
}

// The field `name` of system/options, or null when the library built no
// system object. Valid until the next allocation.
Cell* option_slot(std::string_view name) {
  const Cell system_word = word::intern("system");
  const uint32_t options_symbol = word::intern("options").w2;
  const uint32_t field_symbol = word::intern(name).w2;
  const Cell system = *context::get(system_word);
  if (!cell::is(system, TypeId::object)) return nullptr;
  const Cell options = object::select_value(system, options_symbol);
  if (!cell::is(options, TypeId::object)) return nullptr;
  const int32_t index = object::find_field(options, field_symbol);
  return index < 0 ? nullptr : context::slot(options.w1, static_cast<uint32_t>(index));
}

// The script named on the command line becomes system/options/script, and
// system/options/args keeps only the arguments after it.
void set_script_options(const std::string& path, const char* const* arguments, int count) {
  Val script = string::push_new(static_cast<uint32_t>(path.size()));
  string::append_utf8(script, path);
  cell::set_type(*script, TypeId::file);
  Val args = block::push_new(static_cast<uint32_t>(count) + 1);
  for (int i = 0; i < count; ++i) {
    Val text = string::push_new(16);
    string::append_utf8(text, arguments[i]);
    block::append(args, *text);
    stack::pop(1);
  }
  if (Cell* slot = option_slot("script")) *slot = *script;
  if (Cell* slot = option_slot("args")) *slot = *args;
  stack::pop(2);
}

// The process's directory as system/options/path: a file! holding the
// name's bytes, set in place (the directory is the process's already).
void sync_options_path() {
  std::string directory = os::current_dir();
  if (directory.empty() || directory.back() != '/') directory += '/';
  const std::u32string name = file::from_os_bytes(directory);
  Val path = string::push_new(static_cast<uint32_t>(name.size()));
  for (const char32_t code_point : name) string::append_char(path, code_point);
  cell::set_type(*path, TypeId::file);
  if (Cell* slot = option_slot("path")) *slot = *path;
  stack::pop(1);
}

// Runs a script file from its own folder; an uncaught error is printed
// and ends it with status 254.
int run_script(const std::string& path) {
  std::string text;
  try {
    text = script::read_file(path);
  } catch (const Unwind&) {
    runtime::state.pending = 0;
    write_text(STDOUT_FILENO, "*** Error: cannot open " + path + "\n");
    return 1;
  }
  if (script::find_header(text) == std::string::npos) {
    write_text(STDOUT_FILENO, "*** Error: Kiv header not found!\n");
    return 1;
  }
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && os::set_current_dir(path.substr(0, slash + 1).c_str())) sync_options_path();
  Cell code;
  try {
    code = *script::load(text);
  } catch (const Unwind& unwind) {
    if (unwind.code != exit_code::error) throw;
    runtime::state.pending = 0;
    stack::unroll_to(0);
    if (error::pending().code == error_id::syntax::no_header) {
      write_text(STDOUT_FILENO, "*** Error: not a Kiv program!\n");
      return 1;
    }
    show_safely(error_value::make_from_pending(), Outcome::error);
    return 254;
  }
  Val kept = stack::push(code);
  Cell result;
  if (evaluate(*kept, &result) == Outcome::error) {
    Val error = stack::push(result);
    show_safely(*error, Outcome::error);
    return 254;
  }
  return 0;
}

}  // namespace

int run_cli(int argc, const char* const* argv) {
  callbacks::register_hooks(print_hook, text_hook);
  // Leading options up to a lone "--"; then the script and its arguments.
  int i = 0;
  while (i < argc && std::string_view(argv[i]).starts_with("--")) {
    if (std::string_view(argv[i]) == "--") {
      ++i;
      break;
    }
    ++i;
  }
  if (i < argc) {
    set_script_options(argv[i], argv + i + 1, argc - i - 1);
    return run_script(argv[i]);
  }
  return run_lines();
}

}  // namespace kiv::console
