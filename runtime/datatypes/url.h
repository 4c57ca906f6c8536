// url!: a string! under its own type id that names a resource. It adds a
// source form (percent-encoded), path access that builds longer names and
// the conversion from a block of parts. file! (file.h) is a url! in turn.
//
// Percent-encoding writes every byte of the UTF-8 form outside a table of
// kept ASCII characters as "%" and two upper-case hexadecimal digits:
//   url set        ! # $ & ' ( ) * + , - . / 0-9 : = ? @ A-Z _ a-z ~
//                  (url! mold, enhex of any text type but string!)
//   unreserved     - . 0-9 A-Z _ a-z ~   (enhex of a string!)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"

namespace kiv::url {

enum class KeptSet : uint8_t { url, unreserved };

// Whether percent-encoding keeps the byte `c` as it is.
bool keeps(uint8_t c, KeptSet set);

// Whether a molded url! or file! writes `c` as it is: the url set but the
// parentheses, which the lexer takes for the start and the end of a paren!
// and which would cut the name in two.
bool keeps_in_mold(uint8_t c);

// The percent-encoded text of UTF-8 `bytes`.
std::string encode(std::string_view bytes, KeptSet set);

// Percent-decodes the UTF-8 text `bytes` into code points: the escapes of a
// well-formed UTF-8 sequence give its one code point; any other escaped
// byte gives the code point of that byte (or, with `raw_bytes`, a byte of
// 128 and above gives the escape code point of a raw byte, see file.h);
// everything else, a "%" without two hexadecimal digits included, is read
// as UTF-8 and kept.
std::u32string decode(std::string_view bytes, bool raw_bytes = false);

// The path step `url/word`: a new value of the URL's type with the formed
// element joined to the URL's text by exactly one "/". May collect.
Cell join(Val url, Val element);

void register_types();

}  // namespace kiv::url
