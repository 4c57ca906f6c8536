// Typed print: lists of plain C++ values printed without the datatype
// machinery, for diagnostics and the runtime's low-level messages.
//
//   runtime::print_line("frames: ", count, " free: ", ratio);
//
// Values are printed back to back: booleans as "true"/"false", integers in
// decimal, a char as one byte, floats with 7 and doubles with 16 significant
// digits, C strings as they are, and any pointer in hexadecimal.
#pragma once

#include <concepts>
#include <cstdio>

#include "runtime/console_output.h"

namespace kiv::runtime {

namespace typed_print_detail {
inline void print_one(bool value) { output::print_cstring(value ? "true" : "false"); }
inline void print_one(char value) { output::print_char(value); }
inline void print_one(const char* value) { output::print_cstring(value); }
inline void print_one(float value) { output::print_float32(value); }
inline void print_one(double value) { output::print_float(value); }
inline void print_one(const void* value) { output::print_hex_pointer(value); }
template <std::signed_integral T>
  requires(!std::same_as<T, char>)
void print_one(T value) {
  output::print_integer(value);
}
template <std::unsigned_integral T>
  requires(!std::same_as<T, bool>)
void print_one(T value) {
  output::print_unsigned(value);
}
}  // namespace typed_print_detail

template <class... Values>
void print(const Values&... values) {
  (typed_print_detail::print_one(values), ...);
  output::flush();
  std::fflush(nullptr);
}

template <class... Values>
void print_line(const Values&... values) {
  print(values..., '\n');
}

}  // namespace kiv::runtime
