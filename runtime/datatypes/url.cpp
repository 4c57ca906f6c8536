#include "runtime/datatypes/url.h"

#include <climits>

#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/string.h"
#include "runtime/mold.h"
#include "runtime/unicode.h"

namespace kiv::url {
namespace {

constexpr char hex_digits[] = "0123456789ABCDEF";

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The byte of a well-formed %XX escape at `at`, or -1.
int escape_at(std::string_view bytes, size_t at) {
  if (at + 2 >= bytes.size() || bytes[at] != '%') return -1;
  const int high = hex_value(bytes[at + 1]);
  const int low = hex_value(bytes[at + 2]);
  return high < 0 || low < 0 ? -1 : high * 16 + low;
}

// Bytes in the UTF-8 sequence that `lead` starts (1 for any other byte).
size_t sequence_length(int lead) { return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1; }

// The code points of a text value from its head.
std::u32string text_of(const Cell& text) {
  std::u32string out;
  const NodeId node = series::node_of(text);
  for (uint32_t i = series_type::head(text); i < series_type::total(text); ++i) out += static_cast<char32_t>(string::char_at(node, i));
  return out;
}

// A new value of `type` holding `text`. May collect.
Cell make_text(std::u32string_view text, TypeId type) {
  Val out = string::push_new(static_cast<uint32_t>(text.size()));
  for (const char32_t c : text) string::append_char(out, c);
  Cell made = *out;
  stack::pop(1);
  return cell::set_type(made, type);
}

// The formed text of `value`. May collect.
std::u32string formed(Val value) {
  Val out = string::push_new(16);
  mold::form_value(value, out, INT32_MAX);
  std::u32string text = text_of(*out);
  stack::pop(1);
  return text;
}

// ---- mold ----

// The UTF-8 of the text from its head (a raw byte as itself), every byte
// that `keeps_in_mold` refuses as %XX; no prefix and no quotes. With /part, writing stops once the budget
// is used up.
int32_t mold_value(Val value, Val out, const MoldOptions&, int32_t part) {
  std::string text;
  for (const char byte : file::os_path(*value)) {
    const auto c = static_cast<uint8_t>(byte);
    if (keeps_in_mold(c)) {
      text += byte;
    } else {
      text += '%';
      text += hex_digits[c >> 4];
      text += hex_digits[c & 15];
    }
  }
  if (part < 0) text.clear();
  else if (text.size() > static_cast<size_t>(part)) text.resize(static_cast<size_t>(part));
  string::append_latin1(out, text);
  return part - static_cast<int32_t>(text.size());
}

// ---- make and to ----

// A URL from a block: scheme "://" host, then ":" port when the third part
// is an integer!, then the other parts each after "/" (after "#" for an
// issue!). May collect.
Cell from_block(Val block) {
  const uint32_t count = series_type::length(*block);
  if (count == 0) error::raise(error_id::script::bad_to_arg, datatype::make(TypeId::url), *block);
  std::u32string text;
  for (uint32_t i = 0; i < count && i < block::count(*block); ++i) {
    Val part = stack::push(*block::at(*block, i));
    if (i == 1) text += U"://";
    else if (i == 2 && cell::is(*part, TypeId::integer)) text += U':';
    else if (i >= 2) text += cell::is(*part, TypeId::issue) ? U'#' : U'/';
    text += formed(part);
    stack::pop(1);
  }
  if (count == 1) text += U"://";
  return make_text(text, TypeId::url);
}

void to_value(Val result, Val spec, TypeId type) {
  if (type == TypeId::url && cell::is(*spec, TypeId::block)) {
    *result = from_block(spec);
    return;
  }
  datatype::actions(TypeId::string).to(result, spec, type);
}

void make_value(Val result, Val spec, TypeId type) {
  if (type == TypeId::url && cell::is(*spec, TypeId::block)) {
    *result = from_block(spec);
    return;
  }
  datatype::actions(TypeId::string).make(result, spec, type);
}

// ---- paths ----

void eval_path(PathStep& step) {
  if (step.new_value) error::raise(error_id::script::bad_path_set, step.path, *step.selector);
  *step.value = join(step.value, step.selector);
}

}  // namespace

bool keeps(uint8_t c, KeptSet set) {
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  const std::string_view kept = set == KeptSet::url ? "-._~!#$&'()*+,/:=?@" : "-._~";
  return c != 0 && kept.find(static_cast<char>(c)) != std::string_view::npos;
}

bool keeps_in_mold(uint8_t c) { return c != '(' && c != ')' && keeps(c, KeptSet::url); }

std::string encode(std::string_view bytes, KeptSet set) {
  std::string out;
  out.reserve(bytes.size());
  for (const char byte : bytes) {
    const auto c = static_cast<uint8_t>(byte);
    if (keeps(c, set)) {
      out += byte;
    } else {
      out += '%';
      out += hex_digits[c >> 4];
      out += hex_digits[c & 15];
    }
  }
  return out;
}

std::u32string decode(std::string_view bytes, bool raw_bytes) {
  std::u32string out;
  size_t at = 0;
  while (at < bytes.size()) {
    const int byte = escape_at(bytes, at);
    if (byte < 0) {
      out += static_cast<char32_t>(unicode::decode_utf8(bytes, at));
      continue;
    }
    // The escapes of one UTF-8 sequence, while they are well formed.
    const size_t need = sequence_length(byte);
    std::string sequence(1, static_cast<char>(byte));
    size_t next = at + 3;
    for (int more; sequence.size() < need && (more = escape_at(bytes, next)) >= 0; next += 3) sequence += static_cast<char>(more);
    uint32_t code_point = 0;
    if (need > 1 && unicode::decode_utf8_strict(sequence, code_point) == static_cast<int>(need)) {
      out += static_cast<char32_t>(code_point);
      at = next;
    } else {
      out += static_cast<char32_t>(raw_bytes && byte >= 0x80 ? file::raw_byte_base + static_cast<uint32_t>(byte) : static_cast<uint32_t>(byte));
      at += 3;
    }
  }
  return out;
}

Cell join(Val url, Val element) {
  std::u32string tail = formed(element);
  std::u32string text = text_of(*url);
  const bool url_slash = !text.empty() && text.back() == U'/';
  const bool element_slash = !tail.empty() && tail.front() == U'/';
  if (url_slash && element_slash) text.pop_back();
  else if (!url_slash && !element_slash) text += U'/';
  return make_text(text + tail, cell::type_of(*url));
}

void register_types() {
  ActionSlots slots = string::inherited_slots();
  slots.make = make_value;
  slots.random = {};
  slots.reflect = {};
  slots.to = to_value;
  slots.mold = mold_value;
  slots.eval_path = eval_path;
  slots.sort = {};
  slots.trim = {};
  datatype::register_type({TypeId::url, TypeId::string, "url!", slots});
}

}  // namespace kiv::url
