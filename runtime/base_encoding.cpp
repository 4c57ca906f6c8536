#include "runtime/base_encoding.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace kiv::base_encoding {
namespace {

constexpr std::string_view hex_digits = "0123456789ABCDEF";
constexpr std::string_view base64_digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view base58_digits = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";

uint8_t byte_at(std::string_view bytes, size_t i) { return static_cast<uint8_t>(bytes[i]); }

void encode_base2(std::string_view bytes, std::string& out) {
  for (size_t i = 0; i < bytes.size(); ++i)
    for (int bit = 7; bit >= 0; --bit) out += ((byte_at(bytes, i) >> bit) & 1) ? '1' : '0';
}

void encode_base16(std::string_view bytes, std::string& out) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    out += hex_digits[byte_at(bytes, i) >> 4];
    out += hex_digits[byte_at(bytes, i) & 15];
  }
}

void encode_base64(std::string_view bytes, std::string& out) {
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t group = (byte_at(bytes, i) << 16) | (byte_at(bytes, i + 1) << 8) | byte_at(bytes, i + 2);
    for (int shift = 18; shift >= 0; shift -= 6) out += base64_digits[(group >> shift) & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest == 0) return;
  const uint32_t group = (byte_at(bytes, i) << 16) | (rest == 2 ? byte_at(bytes, i + 1) << 8 : 0);
  out += base64_digits[(group >> 18) & 63];
  out += base64_digits[(group >> 12) & 63];
  out += rest == 2 ? base64_digits[(group >> 6) & 63] : '=';
  out += '=';
}

// The bytes read as one big-endian number, divided by 58 again and again:
// each remainder is the next digit from the right.
void encode_base58(std::string_view bytes, std::string& out) {
  const size_t zeros = std::find_if(bytes.begin(), bytes.end(), [](char c) { return c != 0; }) - bytes.begin();
  std::vector<uint8_t> number(bytes.begin() + static_cast<std::ptrdiff_t>(zeros), bytes.end());
  std::string digits;
  size_t start = 0;  // the number's first nonzero byte
  while (start < number.size()) {
    uint32_t remainder = 0;
    for (size_t i = start; i < number.size(); ++i) {
      const uint32_t value = (remainder << 8) | number[i];
      number[i] = static_cast<uint8_t>(value / 58);
      remainder = value % 58;
    }
    digits += base58_digits[remainder];
    while (start < number.size() && number[start] == 0) ++start;
  }
  out.append(zeros, '1');
  out.append(digits.rbegin(), digits.rend());
}

}  // namespace

bool is_supported(int32_t base) { return base == 2 || base == 16 || base == 58 || base == 64; }

std::optional<uint32_t> encoded_size(int32_t base, uint64_t byte_count) {
  uint64_t size = 0;
  switch (base) {
    case 2: size = byte_count * 8; break;
    case 16: size = byte_count * 2; break;
    case 58: size = byte_count * 2; break;  // log 256 / log 58 is below 1.37
    case 64: size = (byte_count + 2) / 3 * 4; break;
    default: return std::nullopt;
  }
  if (size > std::numeric_limits<int32_t>::max()) return std::nullopt;
  return static_cast<uint32_t>(size);
}

std::string encode(int32_t base, std::string_view bytes) {
  std::string out;
  out.reserve(encoded_size(base, bytes.size()).value_or(0));
  switch (base) {
    case 2: encode_base2(bytes, out); break;
    case 16: encode_base16(bytes, out); break;
    case 58: encode_base58(bytes, out); break;
    default: encode_base64(bytes, out); break;
  }
  return out;
}

}  // namespace kiv::base_encoding
