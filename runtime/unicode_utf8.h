// UTF-8 encoding and decoding of single code points: `encode_utf8` and
// `decode_utf8` now live in the Unicode module with the rest of the
// runtime's text encodings.
#pragma once

#include "runtime/unicode.h"
