// The runtime's own text output to standard output.
//
// Standard output is UTF-8. Text in the string unit model (1, 2 or 4 bytes
// a code point) is encoded on the way out, in batches of about 1 KB a system
// call. Escape sequences are written unchanged: a terminal carries them out
// itself, and redirected output keeps them as they are. Line ends are LF.
//
// Every C string and every formatted number written here is also handed to
// the second hook list (callbacks.h), which is how a graphical console sees
// the runtime's low-level output.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::output {

// Chooses the descriptor written to (standard output by default) and notes
// whether it is a terminal.
void init(int fd = 1);
bool is_terminal();

// Writes the pending bytes.
void flush();

// Standard output could not be written (a full disk, a closed pipe when
// SIGPIPE is ignored): says so on standard error and ends the process with
// status 1, so that lost output never passes for success. `error_number`
// is the errno of the failed write.
[[noreturn]] void standard_output_failed(int error_number);

const char* print_cstring(const char* text);
// Writes up to `max_count` bytes of `text`, stopping at a NUL.
const char* print_counted(const char* text, size_t max_count);
char print_char(char c);
// Writes a character as the language writes a character literal:
// #"a", #"^/", #"^(80)".
void print_char_literal(uint8_t c);

void print_integer(int64_t value);
void print_unsigned(uint64_t value);
void print_hex_byte(uint32_t value);   // two upper-case digits
void print_hex_word(uint32_t value);   // eight upper-case digits
void print_hex_pointer(const void* address);
void print_float(double value);        // 16 significant digits
void print_float32(float value);       // 7 significant digits

// Text of `length` bytes in units of `unit` bytes (1 Latin-1, 2 UCS-2,
// 4 UCS-4), then a line end when `newline` is set. Any other unit size is
// runtime error 101.
void print_string(const void* text, size_t length, int unit, bool newline);

}  // namespace kiv::output
