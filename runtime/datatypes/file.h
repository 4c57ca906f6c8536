// file!: a url! under its own type id, naming a file by a path in the
// language's own syntax ("/" between segments, POSIX paths on this system).
//
// Raw bytes. A file name on Linux is any run of bytes, not always UTF-8.
// A byte of such a name that is not part of well-formed UTF-8 is held in
// the file! as the code point U+DC00 + byte (U+DC80-U+DCFF: lone surrogates,
// which no text decoded from UTF-8 contains), and turned back into the byte
// when the path goes to the system. Such a file molds in its unquoted form
// with those code points as %XX, which the lexer reads back as raw bytes.
// A url! keeps escaped bytes that are not UTF-8 the same way, so that
// http://a/%FF molds back to itself.
#pragma once

#include <string>
#include <string_view>

#include "runtime/core/cell.h"

namespace kiv::file {

inline constexpr uint32_t raw_byte_base = 0xDC00;

// Whether `code_point` stands for a raw byte of a file name.
inline bool is_raw_byte(uint32_t code_point) { return code_point >= 0xDC80 && code_point <= 0xDCFF; }

// The bytes of a file! or string! path (from its index) for the system's
// calls: UTF-8, with raw-byte code points as their bytes.
std::string os_path(const Cell& path);

// The code points of a name given by the system: UTF-8 where it is well
// formed, raw-byte code points for the other bytes.
std::u32string from_os_bytes(std::string_view bytes);

void register_types();

}  // namespace kiv::file
