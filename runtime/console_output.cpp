#include "runtime/console_output.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "runtime/callbacks.h"
#include "runtime/core/runtime_error.h"
#include "runtime/os.h"
#include "runtime/unicode_utf8.h"

namespace kiv::output {
namespace {

constexpr size_t buffer_size = 1024;
// Flushed when more than this is pending, so that one more code point
// (at most 4 bytes) always fits.
constexpr size_t flush_threshold = 1020;

int g_fd = STDOUT_FILENO;
bool g_terminal = false;
char g_buffer[buffer_size];
size_t g_pending = 0;

void write_all(const char* data, size_t length) {
  if (os::write_all(g_fd, data, length)) return;
  if (g_fd == STDOUT_FILENO) standard_output_failed(errno);
  // Another descriptor (standard error): there is nowhere to report it.
}

void put_code_point(uint32_t code_point) {
  g_pending += static_cast<size_t>(unicode::encode_utf8(code_point, g_buffer + g_pending));
  if (g_pending > flush_threshold) flush();
}

// Writes formatted number text and shows it to the low-level hooks.
void emit_number(const char* text, size_t length) {
  flush();
  write_all(text, length);
  callbacks::run_second(text, static_cast<int32_t>(length), 0);
}

template <class T>
void emit_formatted(T value) {
  char text[32];
  auto result = std::to_chars(text, text + sizeof text, value);
  emit_number(text, static_cast<size_t>(result.ptr - text));
}

void emit_float(double value, int precision) {
  char text[40];
  auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general, precision);
  emit_number(text, static_cast<size_t>(result.ptr - text));
}

void emit_hex(uint64_t value, int digits) {
  char text[20];
  int length = 0;
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
    text[length++] = "0123456789ABCDEF"[(value >> shift) & 0xF];
  emit_number(text, static_cast<size_t>(length));
}

// A runtime error ends the process: what is buffered here is written first,
// whether or not `init` ran (the flush function is set once, at load time).
[[maybe_unused]] const bool flush_at_exit = (runtime::set_output_flush(&flush), true);

}  // namespace

void init(int fd) {
  flush();
  g_fd = fd;
  g_terminal = ::isatty(fd) == 1;
}

bool is_terminal() { return g_terminal; }

void standard_output_failed(int error_number) {
  g_pending = 0;  // what is buffered cannot be written either
  const std::string line =
      std::string("*** Error: cannot write to standard output: ") + std::strerror(error_number) + "\n";
  (void)os::write_all(STDERR_FILENO, line.data(), line.size());
  runtime::cleanup();
  std::_Exit(1);
}

void flush() {
  if (g_pending == 0) return;
  write_all(g_buffer, g_pending);
  g_pending = 0;
}

const char* print_cstring(const char* text) {
  const size_t length = std::strlen(text);
  flush();
  write_all(text, length);
  callbacks::run_second(text, static_cast<int32_t>(length), 0);
  return text;
}

const char* print_counted(const char* text, size_t max_count) {
  flush();
  write_all(text, strnlen(text, max_count));
  return text;
}

char print_char(char c) {
  const char text[2] = {c, '\0'};
  print_cstring(text);
  return c;
}

void print_char_literal(uint8_t c) {
  char text[12] = "#\"";
  size_t length = 2;
  auto put = [&](const char* part) {
    while (*part) text[length++] = *part++;
  };
  if (c == 0) put("^@");
  else if (c == 9) put("^-");
  else if (c == 10) put("^/");
  else if (c < 32) {
    text[length++] = '^';
    text[length++] = static_cast<char>(64 + c);
  } else if (c >= 128) {
    text[length++] = '^';
    text[length++] = '(';
    text[length++] = "0123456789ABCDEF"[c >> 4];
    text[length++] = "0123456789ABCDEF"[c & 0xF];
    text[length++] = ')';
  } else {
    text[length++] = static_cast<char>(c);
  }
  text[length++] = '"';
  text[length] = '\0';
  print_cstring(text);
}

void print_integer(int64_t value) { emit_formatted(value); }
void print_unsigned(uint64_t value) { emit_formatted(value); }
void print_hex_byte(uint32_t value) { emit_hex(value & 0xFF, 2); }
void print_hex_word(uint32_t value) { emit_hex(value, 8); }
void print_hex_pointer(const void* address) {
  emit_hex(reinterpret_cast<uintptr_t>(address), sizeof(uintptr_t) * 2);
}
void print_float(double value) { emit_float(value, 16); }
void print_float32(float value) { emit_float(static_cast<double>(value), 7); }

void print_string(const void* text, size_t length, int unit, bool newline) {
  const auto* bytes = static_cast<const uint8_t*>(text);
  switch (unit) {
    case 1:
      for (size_t i = 0; i < length; ++i) put_code_point(bytes[i]);
      break;
    case 2:
      for (size_t i = 0; i + 1 < length; i += 2) put_code_point(bytes[i] | (bytes[i + 1] << 8));
      break;
    case 4:
      for (size_t i = 0; i + 3 < length; i += 4) {
        uint32_t code_point;
        std::memcpy(&code_point, bytes + i, 4);
        put_code_point(code_point);
      }
      break;
    default:
      runtime::fatal(runtime::error_no_switch_match, reinterpret_cast<uintptr_t>(&print_string));
  }
  if (newline) put_code_point('\n');
  flush();
}

}  // namespace kiv::output
