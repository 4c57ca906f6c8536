// The value cell: every Kiv value is one 16-byte cell.
//
// Word 0 (`header`) holds the datatype id in bits 0-7 and flags above it
// (bit 30 is the new-line marker a block keeps in front of a value).
// Words 1-3 hold the payload; their meaning belongs to the datatype. A payload
// word never holds a machine address: series are named by 32-bit node ids,
// tables by indexes, so a cell is the same 16 bytes on every platform.
#pragma once

#include <cstdint>

namespace kiv {

struct Cell {
  uint32_t header;
  uint32_t w1;
  uint32_t w2;
  uint32_t w3;
};

static_assert(sizeof(Cell) == 16, "a value cell is four 32-bit words");

}  // namespace kiv
