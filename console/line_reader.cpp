#include "console/line_reader.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <histedit.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <string_view>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "runtime/core/interrupt.h"
#include "runtime/os.h"

namespace kiv::console::line_reader {
namespace {

constexpr int history_size = 1000;

// ---- UTF-8 ----

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Code points of UTF-8 text; a byte that starts no valid sequence stands
// for itself (as Latin-1), so that nothing typed is lost.
std::wstring wide_from_utf8(std::string_view text) {
  std::wstring out;
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    size_t length = byte < 0x80 ? 1 : (byte >> 5) == 6 ? 2 : (byte >> 4) == 14 ? 3 : (byte >> 3) == 30 ? 4 : 0;
    char32_t c = length == 1 ? byte : length == 2 ? byte & 0x1F : length == 3 ? byte & 0x0F : byte & 0x07;
    bool valid = length != 0 && i + length <= text.size();
    for (size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) valid = false;
      c = (c << 6) | (next & 0x3F);
    }
    if (!valid) {
      out += static_cast<wchar_t>(byte);
      ++i;
      continue;
    }
    out += static_cast<wchar_t>(c);
    i += length;
  }
  return out;
}

std::string utf8_from_wide(std::wstring_view text) {
  std::string out;
  for (const wchar_t c : text) append_utf8(out, static_cast<char32_t>(c));
  return out;
}

// ---- plain lines (standard input is no terminal, or hidden input) ----

struct PlainInput {
  std::string pending;
  bool at_end = false;
};
PlainInput g_plain;

// One byte from standard input: 1 read, 0 end, -1 interrupted.
// SIGINT stays blocked from the check of the flag until ppoll waits, which
// unblocks it atomically: a Ctrl-C that comes just before the wait is seen
// by the check or cuts the wait short, never lost until the next key.
int read_byte(unsigned char* byte) {
  sigset_t interrupt_only;
  sigemptyset(&interrupt_only);
  sigaddset(&interrupt_only, SIGINT);
  for (;;) {
    sigset_t usual;
    ::pthread_sigmask(SIG_BLOCK, &interrupt_only, &usual);
    if (interrupt::requested != 0) {
      interrupt::requested = 0;
      ::pthread_sigmask(SIG_SETMASK, &usual, nullptr);
      return -1;
    }
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = ::ppoll(&input, 1, nullptr, &usual);
    const int wait_error = errno;
    ::pthread_sigmask(SIG_SETMASK, &usual, nullptr);
    if (ready < 0) {
      if (wait_error == EINTR) continue;
      return 0;  // an unreadable input ends like an empty one
    }
    const ssize_t n = ::read(STDIN_FILENO, byte, 1);
    if (n == 1) return 1;
    if (n == 0) return 0;
    if (errno != EINTR && errno != EAGAIN) return 0;
  }
}

Result read_plain() {
  Result result;
  for (;;) {
    const size_t end = g_plain.pending.find('\n');
    if (end != std::string::npos) {
      result.text = g_plain.pending.substr(0, end);
      g_plain.pending.erase(0, end + 1);
      if (!result.text.empty() && result.text.back() == '\r') result.text.pop_back();
      result.status = Status::line;
      return result;
    }
    if (g_plain.at_end) {
      if (g_plain.pending.empty()) return result;
      result.text.swap(g_plain.pending);
      result.status = Status::line;
      return result;
    }
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n > 0) {
      g_plain.pending.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      g_plain.at_end = true;
    } else if (interrupt::requested != 0) {
      interrupt::requested = 0;
      result.status = Status::interrupted;
      return result;
    }
  }
}

// Reads a line with the terminal's echo off (a password); the line end
// the user typed is written afterwards.
Result read_hidden() {
  termios saved{};
  const bool terminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  const Result result = read_plain();
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    (void)os::write_all(STDOUT_FILENO, "\n", 1);
  }
  return result;
}

// ---- edited lines (libedit) ----

struct Editor {
  EditLine* line = nullptr;
  History* history = nullptr;
  std::string history_path;
  std::string prompt;
  bool interrupted = false;
  Completer completer = nullptr;
};
Editor g_editor;

const char* prompt_text(EditLine*) { return g_editor.prompt.c_str(); }

// libedit's reader: one character, decoded from UTF-8 here so that input
// does not depend on the locale. A Ctrl-C arrives as a signal that cuts
// the read short; it is handed on as the character ^C, which is bound to
// `kiv-interrupt`.
int read_char(EditLine*, wchar_t* out) {
  unsigned char byte = 0;
  const int got = read_byte(&byte);
  if (got <= 0) {
    if (got < 0) {
      *out = 3;
      return 1;
    }
    return 0;
  }
  size_t length = byte < 0x80 ? 1 : (byte >> 5) == 6 ? 2 : (byte >> 4) == 14 ? 3 : (byte >> 3) == 30 ? 4 : 1;
  char32_t c = length == 1 ? byte : length == 2 ? byte & 0x1F : length == 3 ? byte & 0x0F : byte & 0x07;
  for (size_t k = 1; k < length; ++k) {
    unsigned char next = 0;
    if (read_byte(&next) != 1 || (next & 0xC0) != 0x80) {
      c = 0xFFFD;
      break;
    }
    c = (c << 6) | (next & 0x3F);
  }
  *out = static_cast<wchar_t>(c);
  return 1;
}

unsigned char on_interrupt(EditLine*, int) {
  g_editor.interrupted = true;
  return CC_NEWLINE;
}

unsigned char on_complete(EditLine* el, int) {
  if (g_editor.completer == nullptr) return CC_NORM;
  const LineInfoW* info = el_wline(el);
  const std::wstring_view wide(info->buffer, static_cast<size_t>(info->lastchar - info->buffer));
  const auto cursor = static_cast<size_t>(info->cursor - info->buffer);
  const std::optional<Completion> completion = g_editor.completer(utf8_from_wide(wide), cursor);
  if (!completion) return CC_NORM;
  const std::wstring replaced = wide_from_utf8(completion->line);
  // The whole line is replaced: cursor to its end, everything deleted.
  el_cursor(el, static_cast<int>(wide.size() - cursor));
  el_wdeletestr(el, static_cast<int>(wide.size()));
  if (!replaced.empty()) el_winsertstr(el, replaced.c_str());
  const size_t new_cursor = std::min(completion->cursor, replaced.size());
  el_cursor(el, static_cast<int>(new_cursor) - static_cast<int>(replaced.size()));
  if (completion->candidates.empty()) return CC_REFRESH;
  const std::string shown = "\n" + completion->candidates + "\n";
  (void)os::write_all(STDOUT_FILENO, shown.data(), shown.size());
  return CC_REDISPLAY;
}

// The history file's path; empty when there is no home to put it in.
std::string history_path() {
  std::string base;
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/') {
    base = state;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.local/state";
  } else {
    return {};
  }
  // The folders are made one by one, as mkdir -p does; failures show when
  // the history is written, and are ignored there.
  std::string folder = base + "/kiv";
  for (size_t slash = 1; slash != std::string::npos; slash = folder.find('/', slash + 1))
    ::mkdir(folder.substr(0, slash).c_str(), 0700);
  ::mkdir(folder.c_str(), 0700);
  return folder + "/history";
}

void start_editor() {
  if (g_editor.line != nullptr) return;
  // Characters are shown in the user's encoding; without one, in UTF-8.
  if (std::setlocale(LC_CTYPE, "") == nullptr || MB_CUR_MAX == 1) std::setlocale(LC_CTYPE, "C.UTF-8");
  HistEvent event;
  g_editor.history = history_init();
  history(g_editor.history, &event, H_SETSIZE, history_size);
  history(g_editor.history, &event, H_SETUNIQUE, 1);
  g_editor.history_path = history_path();
  if (!g_editor.history_path.empty()) history(g_editor.history, &event, H_LOAD, g_editor.history_path.c_str());

  EditLine* el = el_init("kiv", stdin, stdout, stderr);
  el_set(el, EL_EDITOR, "emacs");
  el_set(el, EL_SIGNAL, 0);
  el_set(el, EL_PROMPT, prompt_text);
  el_set(el, EL_HIST, history, g_editor.history);
  el_set(el, EL_GETCFN, read_char);
  el_set(el, EL_ADDFN, "kiv-complete", "Complete the word before the cursor", on_complete);
  el_set(el, EL_BIND, "^I", "kiv-complete", nullptr);
  el_set(el, EL_ADDFN, "kiv-interrupt", "Drop the input", on_interrupt);
  el_set(el, EL_BIND, "^C", "kiv-interrupt", nullptr);
  el_source(el, nullptr);  // the user's own ~/.editrc
  g_editor.line = el;
}

Result read_edited(const std::string& prompt) {
  start_editor();
  g_editor.prompt = prompt;
  g_editor.interrupted = false;
  int count = 0;
  // The terminal goes into editing mode before the prompt shows: libedit
  // would print the prompt first, and a Ctrl-D typed in between would reach
  // the cooked terminal as an end of file and be lost to the editor.
  el_set(g_editor.line, EL_PREP_TERM, 1);
  const char* text = el_gets(g_editor.line, &count);
  el_set(g_editor.line, EL_PREP_TERM, 0);
  Result result;
  if (g_editor.interrupted) {
    result.status = Status::interrupted;
    return result;
  }
  if (text == nullptr || count <= 0) {
    (void)os::write_all(STDOUT_FILENO, "\n", 1);
    return result;
  }
  result.text.assign(text, static_cast<size_t>(count));
  while (!result.text.empty() && (result.text.back() == '\n' || result.text.back() == '\r')) result.text.pop_back();
  result.status = Status::line;
  return result;
}

}  // namespace

bool editing() {
  static const bool terminal = ::isatty(STDIN_FILENO) == 1 && ::isatty(STDOUT_FILENO) == 1;
  return terminal;
}

Result read(const std::string& prompt, bool hide) {
  if (!editing()) return read_plain();
  if (hide) {
    (void)os::write_all(STDOUT_FILENO, prompt.data(), prompt.size());
    return read_hidden();
  }
  return read_edited(prompt);
}

std::string read_all() {
  std::string text;
  text.swap(g_plain.pending);
  char buffer[65536];
  while (!g_plain.at_end) {
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
    else if (n == 0 || errno != EINTR) g_plain.at_end = true;
    else if (interrupt::requested != 0) interrupt::raise();
  }
  return text;
}

void remember(const std::string& line) {
  if (!editing() || line.empty()) return;
  start_editor();
  HistEvent event;
  history(g_editor.history, &event, H_ENTER, line.c_str());
  if (!g_editor.history_path.empty()) history(g_editor.history, &event, H_SAVE, g_editor.history_path.c_str());
}

void set_completer(Completer completer) { g_editor.completer = completer; }

}  // namespace kiv::console::line_reader
