// KIVBIN: the binary form of values, shared by the encoder and decoder.
//
// An 8-byte header ("KIVBIN", a version byte, a flags byte), then the body
// in one of two layouts of one record model: compact (bytes and LEB128
// varints) or fixed (32-bit words). A series, object or function met a
// second time is written as the path of indexes that reaches its first
// record from the root, so shared structure and cycles survive.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/core/cell.h"

namespace kiv::kivbin {

inline constexpr char magic[6] = {'K', 'I', 'V', 'B', 'I', 'N'};
inline constexpr uint8_t version = 2;
inline constexpr size_t header_size = 8;

namespace flag {
inline constexpr uint8_t compact = 1;
inline constexpr uint8_t compressed = 2;
inline constexpr uint8_t symbols = 4;
}  // namespace flag

// Compact layout: record bytes that are not typed headers.
namespace byte {
inline constexpr uint8_t new_line = 0xC0;    // prefix: the new-line marker
inline constexpr uint8_t reference = 0xC1;   // prefix: data replaced by a path
inline constexpr uint8_t true_ = 0xC2;
inline constexpr uint8_t false_ = 0xC3;
inline constexpr uint8_t set_value = 0xC4;   // prefix: boot data only
inline constexpr uint8_t small_int = 0x80;   // 0x80-0xBF: integers 0..63
inline constexpr uint8_t copy = 0xFF;        // a copy of the cell at a path
inline constexpr uint8_t type_flag = 0x40;   // bit 6 of a typed header
inline constexpr uint8_t type_mask = 0x3F;
inline constexpr uint8_t type_escape = 63;
}  // namespace byte

// Context flag byte of the compact layout.
namespace context_flag {
inline constexpr uint8_t kind_mask = 0x03;
inline constexpr uint8_t on_stack = 0x04;
inline constexpr uint8_t maker = 0x08;
inline constexpr uint8_t values = 0x10;
}  // namespace context_flag

// Fixed layout: bits of a record's 32-bit header word. A header word of
// 0 is padding, written so that a double starts 8-byte aligned.
namespace fixed {
inline constexpr uint32_t type_mask = 0xFF;
inline constexpr uint32_t unit_shift = 8;        // unit size, tuple length
inline constexpr uint32_t wrapped_shift = 16;    // op!: the wrapped type
inline constexpr uint32_t reference = 1u << 19;  // a reference record follows
inline constexpr uint32_t negative = 1u << 22;   // money!
inline constexpr uint32_t complemented = 1u << 23;  // bitset!
inline constexpr uint32_t handlers = 1u << 24;   // object!: change handlers
inline constexpr uint32_t global = 1u << 25;     // words: bound to the global context
inline constexpr uint32_t kind_shift = 26;       // context!: kind in bits 26-27
inline constexpr uint32_t maker = 1u << 28;
inline constexpr uint32_t on_stack = 1u << 29;
inline constexpr uint32_t values = 1u << 30;
inline constexpr uint32_t new_line = 1u << 31;
inline constexpr uint32_t reference_type = 255;  // a path record
}  // namespace fixed

// Containers nested deeper than this are neither written nor read: paths
// grow with the depth, and hostile data must not exhaust the machine stack.
inline constexpr uint32_t max_depth = 1000;

// Cell bits the records carry: a tuple's byte count, a date's has-time
// bit, money's sign.
inline constexpr uint32_t tuple_length_shift = 19;
inline constexpr uint32_t date_has_time = 0x10000;
inline constexpr uint32_t money_negative = 0x4000;

// A path is 1 to 65,536 indexes.
inline constexpr uint32_t max_path = 65536;

// The record families that share a payload shape.
inline bool is_block_type(TypeId type) {
  switch (type) {
    case TypeId::block: case TypeId::paren: case TypeId::path: case TypeId::lit_path:
    case TypeId::set_path: case TypeId::get_path: case TypeId::hash:
      return true;
    default:
      return false;
  }
}

inline bool is_string_type(TypeId type) {
  switch (type) {
    case TypeId::string: case TypeId::file: case TypeId::url: case TypeId::tag:
    case TypeId::email: case TypeId::ref:
      return true;
    default:
      return false;
  }
}

inline bool is_word_type(TypeId type) { return type >= TypeId::word && type <= TypeId::refinement; }

// Series records: a reference check by node, data or a path.
inline bool is_series_record(TypeId type) {
  return is_block_type(type) || is_string_type(type) || type == TypeId::binary || type == TypeId::bitset ||
         type == TypeId::map || type == TypeId::vector || type == TypeId::image;
}

// An image side is 16 bits of the image's size word.
inline constexpr uint32_t max_image_side = 0xFFFF;

// Unit code of a string record: 0, 1, 2 for 1, 2, 4 bytes a unit.
inline uint32_t unit_code(uint32_t unit) { return unit == 1 ? 0 : unit == 2 ? 1 : 2; }

// Unit code of a vector record: 0-3 for 1, 2, 4, 8 bytes an element.
inline uint32_t vector_unit_code(uint32_t unit) { return unit == 8 ? 3 : unit_code(unit); }

inline void put_varint(std::vector<uint8_t>& out, uint32_t value) {
  while (value >= 0x80) {
    out.push_back(uint8_t(value | 0x80));
    value >>= 7;
  }
  out.push_back(uint8_t(value));
}

inline uint32_t zigzag(int32_t n) { return (uint32_t(n) << 1) ^ uint32_t(n >> 31); }
inline int32_t unzigzag(uint32_t v) { return int32_t((v >> 1) ^ (0u - (v & 1))); }

inline void put_svarint(std::vector<uint8_t>& out, int32_t value) { put_varint(out, zigzag(value)); }

inline void put_word(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

}  // namespace kiv::kivbin
