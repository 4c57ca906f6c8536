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

// ---- decoders ----

// Moves `i` past a comment that starts there (up to its line feed, which
// is then skipped as white space).
bool skip_comment(std::u32string_view text, size_t& i) {
  if (text[i] != ';') return false;
  while (i < text.size() && text[i] != '\n') ++i;
  return true;
}

// The white space that base 64 and base 58 text may hold between digits.
bool is_base64_space(char32_t c) { return c == 8 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32 || c == '\''; }

int digit_in(std::string_view digits, char32_t c) {
  if (c > 127) return -1;
  const size_t found = digits.find(static_cast<char>(c));
  return found == std::string_view::npos ? -1 : static_cast<int>(found);
}

std::optional<std::string> decode_base2(std::u32string_view text) {
  std::string out;
  uint32_t byte = 0;
  int bits = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] <= 32 || skip_comment(text, i)) continue;
    if (text[i] != '0' && text[i] != '1') return std::nullopt;
    byte = (byte << 1) | (text[i] - '0');
    if (++bits == 8) {
      out += static_cast<char>(byte);
      byte = 0;
      bits = 0;
    }
  }
  if (bits != 0) return std::nullopt;
  return out;
}

std::optional<std::string> decode_base16(std::u32string_view text) {
  constexpr std::string_view digits = "0123456789ABCDEF0123456789abcdef";
  std::string out;
  int high = -1;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] <= 32 || skip_comment(text, i)) continue;
    const int digit = digit_in(digits, text[i]);
    if (digit < 0) return std::nullopt;
    if (high < 0) {
      high = digit % 16;
    } else {
      out += static_cast<char>(high * 16 + digit % 16);
      high = -1;
    }
  }
  return out;
}

std::optional<std::string> decode_base64(std::u32string_view text) {
  std::string out;
  uint32_t group = 0;
  int count = 0;  // digits in the group so far
  for (size_t i = 0; i < text.size(); ++i) {
    if (is_base64_space(text[i]) || skip_comment(text, i)) continue;
    if (text[i] == '=') {
      if (count < 2) return std::nullopt;
      group <<= 6 * (4 - count);
      out += static_cast<char>(group >> 16);
      if (count == 3) out += static_cast<char>(group >> 8);
      return out;
    }
    const int digit = digit_in(base64_digits, text[i]);
    if (digit < 0) return std::nullopt;
    group = (group << 6) | static_cast<uint32_t>(digit);
    if (++count == 4) {
      out += static_cast<char>(group >> 16);
      out += static_cast<char>(group >> 8);
      out += static_cast<char>(group);
      group = 0;
      count = 0;
    }
  }
  return out;
}

// The digits make one number, multiplied out into big-endian bytes; each
// leading "1" (a zero digit) stands for one leading zero byte.
std::optional<std::string> decode_base58(std::u32string_view text) {
  std::vector<uint8_t> number;  // little-endian while it grows
  size_t zeros = 0;
  bool leading = true;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] > 127) break;
    if (is_base64_space(text[i]) || skip_comment(text, i)) continue;
    const int digit = digit_in(base58_digits, text[i]);
    if (digit < 0) return std::nullopt;
    if (leading && digit == 0) {
      ++zeros;
      continue;
    }
    leading = false;
    uint32_t carry = static_cast<uint32_t>(digit);
    for (uint8_t& byte : number) {
      carry += byte * 58u;
      byte = static_cast<uint8_t>(carry);
      carry >>= 8;
    }
    for (; carry != 0; carry >>= 8) number.push_back(static_cast<uint8_t>(carry));
  }
  std::string out(zeros, '\0');
  out.append(number.rbegin(), number.rend());
  return out;
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

std::optional<std::string> decode(int32_t base, std::u32string_view text) {
  switch (base) {
    case 2: return decode_base2(text);
    case 16: return decode_base16(text);
    case 58: return decode_base58(text);
    default: return decode_base64(text);
  }
}

}  // namespace kiv::base_encoding
