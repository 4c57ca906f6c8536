// The value cell: every Kiv value is one 16-byte cell.
//
// Word 0 (`header`) holds the datatype id in bits 0-7 and flags above it;
// words 1-3 hold the payload, whose meaning belongs to the datatype. A
// payload word never holds a machine address: a series is named by its
// 32-bit node id, tables by indexes, so a cell is the same 16 bytes on every
// platform and serialises bit for bit.
//
// Header flags shared by every type:
//   bit 30  new-line marker: a line break comes before this value when the
//           block holding it is molded. Changing a cell's type keeps it.
// Other header bits belong to the types (money sign, op's function type,
// tuple length, ...); see each datatype's file.
//
// Payload of the common shapes:
//   series (block!, string!, ...)  w1 head index, w2 node, w3 per type
//   integer!, char!                w2 the value
//   float!, percent!, time!        w2-w3 an IEEE double, low word first
//   logic!                         w1 0 or 1
//   datatype!                      w1 the type id
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace kiv {

struct Cell {
  uint32_t header;
  uint32_t w1;
  uint32_t w2;
  uint32_t w3;
};

static_assert(sizeof(Cell) == 16, "a value cell is four 32-bit words");

// Datatype ids. The numbers are part of the serialised form of values.
enum class TypeId : uint8_t {
  none_type = 0,  // no type: never registered
  datatype = 1,
  unset = 2,
  none = 3,
  logic = 4,
  block = 5,
  paren = 6,
  string = 7,
  file = 8,
  url = 9,
  char_ = 10,
  integer = 11,
  float_ = 12,
  symbol = 13,
  context = 14,
  word = 15,
  set_word = 16,
  lit_word = 17,
  get_word = 18,
  refinement = 19,
  issue = 20,
  native = 21,
  action = 22,
  op = 23,
  function = 24,
  path = 25,
  lit_path = 26,
  set_path = 27,
  get_path = 28,
  routine = 29,
  bitset = 30,
  triple = 31,
  object = 32,
  typeset = 33,
  error = 34,
  vector = 35,
  hash = 36,
  pair = 37,
  percent = 38,
  tuple = 39,
  map = 40,
  binary = 41,
  series = 42,
  time = 43,
  tag = 44,
  email = 45,
  handle = 46,
  date = 47,
  port = 48,
  money = 49,
  ref = 50,
  point2d = 51,
  point3d = 52,
  image = 53,
  event = 54,
};

// Room in the type tables: ids 0 to 56 (55 and 56 are keys private to the
// hash tables and never appear in values).
inline constexpr int type_table_size = 57;

namespace cell {

inline constexpr uint32_t type_mask = 0xFF;
inline constexpr uint32_t new_line_flag = 0x40000000;

inline TypeId type_of(const Cell& value) { return static_cast<TypeId>(value.header & type_mask); }
inline bool is(const Cell& value, TypeId type) { return type_of(value) == type; }

// A header word of `type` with no flags.
constexpr uint32_t header(TypeId type) { return static_cast<uint32_t>(type); }

// Changes the type and keeps every flag.
inline Cell& set_type(Cell& value, TypeId type) {
  value.header = (value.header & ~type_mask) | static_cast<uint32_t>(type);
  return value;
}

// Header bits of two types that decide what their payload words hold; the
// collector reads them, knowing no datatype.
//   context!: its values live on the argument stack (w2 an index there,
//             not a node)
//   op!:      bits 16-23 the type of the function it wraps
inline constexpr uint32_t context_values_on_stack = 0x400000;
inline constexpr uint32_t op_wrapped_type_shift = 16;
inline TypeId op_wrapped_type(const Cell& op) { return static_cast<TypeId>((op.header >> op_wrapped_type_shift) & 0xFF); }

inline void clear_new_line(Cell& value) { value.header &= ~new_line_flag; }
inline bool has_new_line(const Cell& value) { return (value.header & new_line_flag) != 0; }

inline Cell& copy(const Cell& source, Cell& target) {
  if (&source != &target) target = source;
  return target;
}

// The double of a float!, percent! or time! cell (words 2-3).
inline double get_double(const Cell& value) {
  const uint64_t bits = static_cast<uint64_t>(value.w2) | (static_cast<uint64_t>(value.w3) << 32);
  return std::bit_cast<double>(bits);
}
inline void set_double(Cell& value, double number) {
  const auto bits = std::bit_cast<uint64_t>(number);
  value.w2 = static_cast<uint32_t>(bits);
  value.w3 = static_cast<uint32_t>(bits >> 32);
}

inline int32_t get_int32(const Cell& value) { return static_cast<int32_t>(value.w2); }

}  // namespace cell
}  // namespace kiv
