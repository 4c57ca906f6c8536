#include "runtime/datatypes/file.h"

#include <algorithm>
#include <climits>

#include "runtime/core/series.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "runtime/unicode.h"

namespace kiv::file {
namespace {

// The characters of 127 and above never call for quotes; below it, those
// that a molded URL does not hold as they are do.
bool needs_quotes(uint32_t c) { return c < 127 && !url::keeps_in_mold(static_cast<uint8_t>(c)); }

// "%" and two hexadecimal digits for the byte a character holds (all
// such characters are below 128, or raw bytes).
std::u32string escaped(uint32_t c) {
  constexpr char32_t hex_digits[] = U"0123456789ABCDEF";
  const uint32_t byte = c & 0xFF;
  return {U'%', hex_digits[byte >> 4], hex_digits[byte & 15]};
}

std::u32string text_of(const Cell& file, uint32_t count) {
  std::u32string text;
  const NodeId node = series::node_of(file);
  const uint32_t from = series_type::head(file);
  for (uint32_t i = 0; i < count; ++i) text += static_cast<char32_t>(string::char_at(node, from + i));
  return text;
}

// What the quoted form cannot hold: inside the quotes nothing is escaped,
// so a double quote would end the name and a line break or another control
// character would break the literal; and a raw byte has no character.
bool needs_escape(uint32_t c) { return c == '"' || c < 32 || c == 127 || is_raw_byte(c); }

// "%" and the path as it is, in double quotes when a character of it could
// not stand in a bare file name; "%" and two double quotes for an empty
// file. A path that the quotes cannot hold is written bare, with those
// characters, the raw bytes and the characters that would call for quotes
// as %XX escapes of their UTF-8 bytes, which the lexer decodes. Answers the
// budget less the characters written and 1.
int32_t mold_value(Val value, Val out, const MoldOptions&, int32_t part) {
  const uint32_t count = part < 0 ? 0 : std::min(series_type::length(*value), static_cast<uint32_t>(part));
  const std::u32string text = text_of(*value, count);
  std::u32string molded = U"%";
  if (text.empty()) {
    molded += U"\"\"";
  } else if (std::any_of(text.begin(), text.end(), needs_escape)) {
    for (const char32_t c : text) {
      if (needs_escape(c) || needs_quotes(c)) molded += escaped(c);
      else molded += c;
    }
  } else if (std::any_of(text.begin(), text.end(), needs_quotes)) {
    molded += U'"';
    molded += text;
    molded += U'"';
  } else {
    molded += text;
  }
  for (const char32_t c : molded) string::append_char(out, c);
  return part - static_cast<int32_t>(count) - 1;
}

}  // namespace

std::string os_path(const Cell& path) {
  std::string bytes;
  const NodeId node = series::node_of(path);
  char encoded[4];
  for (uint32_t i = series_type::head(path); i < series_type::total(path); ++i) {
    const uint32_t c = string::char_at(node, i);
    if (is_raw_byte(c)) bytes += static_cast<char>(c & 0xFF);
    else bytes.append(encoded, static_cast<size_t>(unicode::encode_utf8(c, encoded)));
  }
  return bytes;
}

std::u32string from_os_bytes(std::string_view bytes) {
  std::u32string text;
  for (size_t at = 0; at < bytes.size();) {
    uint32_t code_point = 0;
    const int size = unicode::decode_utf8_strict(bytes.substr(at), code_point);
    if (size > 0) {
      text += static_cast<char32_t>(code_point);
      at += static_cast<size_t>(size);
    } else {
      text += static_cast<char32_t>(raw_byte_base + static_cast<uint8_t>(bytes[at]));
      ++at;
    }
  }
  return text;
}

void register_types() {
  ActionSlots slots;
  const ActionTable& parent = datatype::actions(TypeId::url);
#define KIV_INHERIT_SUPPORTED(number, name, Fn) \
  if (parent.name) slots.name = inherit;
  KIV_ACTIONS(KIV_INHERIT_SUPPORTED)
#undef KIV_INHERIT_SUPPORTED
  slots.mold = mold_value;
  datatype::register_type({TypeId::file, TypeId::url, "file!", slots});
}

}  // namespace kiv::file
