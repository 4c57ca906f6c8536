#include "runtime/io/http_actions.h"

#include <cctype>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/file_io.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/url_io.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/http_reply.h"
#include "runtime/io/http_request.h"
#include "runtime/mold.h"

namespace kiv::http_actions {
namespace {

// ---- the request ----

// The URL as it goes on the wire: its text in UTF-8, with the bytes that
// may not appear in a URL (blanks, controls, non-ASCII, and " < > \ ^ ` {
// | }) percent-encoded. A url! holds its text decoded (the lexer decodes
// %20 into a blank), and this puts the escapes back; "%", "[" and "]" stay
// as they are, for escapes already in the text and IPv6 hosts.
std::string wire_url(const Cell& url) {
  static constexpr char digits[] = "0123456789ABCDEF";
  constexpr std::string_view refused = "\"<>\\^`{|}";
  std::string wire;
  for (const char c : string::to_utf8(url)) {
    const auto byte = static_cast<uint8_t>(c);
    if (byte <= 0x20 || byte >= 0x7F || refused.find(c) != std::string_view::npos) {
      wire += '%';
      wire += digits[byte >> 4];
      wire += digits[byte & 15];
    } else {
      wire += c;
    }
  }
  return wire;
}

// The UTF-8 text of a value formed (a string! as it is). May collect.
std::string formed(Val value) {
  if (cell::is(*value, TypeId::string)) return string::to_utf8(*value);
  const uint32_t depth = stack::depth();
  Val out = string::push_new(32);
  mold::form_value(value, out, 0x7FFFFFFF);
  std::string text = string::to_utf8(*out);
  stack::drop_to(depth);
  return text;
}

std::string name_text(Val name) {
  switch (cell::type_of(*name)) {
    case TypeId::word:
    case TypeId::set_word:
    case TypeId::get_word:
    case TypeId::lit_word:
      return std::string(symbol::spelling(name->w2));
    default:
      return formed(name);
  }
}

// A header line may not hold a line break or a NUL: either would let the
// script's data start a header (or a request) of its own.
bool safe_header_text(std::string_view text) { return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos; }

// The pairs of a header block, walked two cells at a time. A name without
// a value, an empty or unsafe name and an unsafe value raise
// script/invalid-arg.
http::Headers headers_of(Val block) {
  const uint32_t count = block::count(*block);
  if (count % 2 != 0) error::raise(error_id::script::invalid_arg, *block);
  http::Headers headers;
  const uint32_t depth = stack::depth();
  for (uint32_t i = 0; i < count; i += 2) {
    Val name = stack::push(*block::at(*block, i));
    Val value = stack::push(*block::at(*block, i + 1));
    std::string name_bytes = name_text(name);
    std::string value_bytes = formed(value);
    if (name_bytes.empty() || name_bytes.find(':') != std::string::npos || !safe_header_text(name_bytes))
      error::raise(error_id::script::invalid_arg, *name);
    if (!safe_header_text(value_bytes)) error::raise(error_id::script::invalid_arg, *value);
    headers.emplace_back(std::move(name_bytes), std::move(value_bytes));
    stack::drop_to(depth);
  }
  return headers;
}

// The verb of a method word: its canonical spelling in upper case.
std::string verb_of(const Cell& method) {
  std::string verb(symbol::spelling(symbol::resolve(method.w2)));
  for (char& c : verb) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return verb;
}

// ---- the reply ----

Cell text_word(std::string_view name) {
  return word::make(TypeId::word, no_node, symbol::make(name), word::unresolved);
}

// A new string! of UTF-8 text, pushed.
Val push_string(std::string_view utf8) {
  Val text = string::push_new(static_cast<uint32_t>(utf8.size()));
  string::append_utf8(text, utf8);
  return text;
}

// The header map: a word! per name (its case kept); a string! value, or a
// block! of them in order for a name that comes again. Names match without
// case, as HTTP's do. May collect.
Cell header_map(const std::vector<http::HeaderLine>& lines) {
  const uint32_t depth = stack::depth();
  std::vector<size_t> firsts;  // the first line of each name, in order
  for (size_t i = 0; i < lines.size(); ++i) {
    bool seen = false;
    for (const size_t first : firsts) seen = seen || http::same_name(lines[first].name, lines[i].name);
    if (!seen) firsts.push_back(i);
  }
  Val pairs = block::push_new(static_cast<uint32_t>(firsts.size() * 2));
  for (const size_t first : firsts) {
    block::append(pairs, text_word(lines[first].name));
    std::vector<size_t> same;
    for (size_t i = first; i < lines.size(); ++i) {
      if (http::same_name(lines[first].name, lines[i].name)) same.push_back(i);
    }
    if (same.size() == 1) {
      block::append(pairs, *push_string(lines[first].value));
      stack::pop(1);
      continue;
    }
    Val values = block::push_new(static_cast<uint32_t>(same.size()));
    for (const size_t i : same) {
      block::append(values, *push_string(lines[i].value));
      stack::pop(1);
    }
    block::append(pairs, *values);
    stack::pop(1);
  }
  Val made = stack::push(none::make());
  map::make_from_block(made, pairs);
  const Cell map = *made;
  stack::drop_to(depth);
  return map;
}

Cell body_value(const http::Reply& reply, const std::vector<http::HeaderLine>& lines, ReplyShape shape) {
  if (shape.binary) return binary::make(reply.body);
  const std::string text = http::text_to_utf8(reply.body, http::charset_of(lines));
  if (shape.lines) return file_io::lines_to_block(text);
  return string::load(text, string::Encoding::utf8);
}

}  // namespace

Cell reply_value(const http::Reply& reply, ReplyShape shape) {
  const uint32_t depth = stack::depth();
  const std::vector<http::HeaderLine> lines = http::header_lines(reply.header_text);
  Val body = stack::push(body_value(reply, lines, shape));
  if (!shape.info) {
    const Cell value = *body;
    stack::drop_to(depth);
    return value;
  }
  Val info = block::push_new(3);
  block::append(info, integer::make(reply.status));
  Val map = stack::push(header_map(lines));
  block::append(info, *map);
  block::append(info, *body);
  const Cell value = *info;
  stack::drop_to(depth);
  return value;
}

namespace {

// The result of a request, left in `url`; raises access/no-connect when
// no reply came. May collect.
void request(Val url, const std::string& verb, std::optional<Val> headers, std::optional<Val> data, ReplyShape shape) {
  http::Request request{.verb = verb, .url = wire_url(*url), .headers = std::nullopt, .body = std::nullopt};
  if (headers) request.headers = headers_of(*headers);
  if (data && cell::is(**data, TypeId::binary)) request.body = binary::bytes_from_index(**data);
  else if (data && cell::is(**data, TypeId::string)) request.body = string::to_utf8(**data);

  http::Reply reply = http::perform(request);
  if (!reply.done) {
    Val reason = push_string(reply.error);
    error::raise(error_id::access::no_connect, *url, *reason);
  }

  *url = reply_value(reply, shape);
}

// ---- write's request block ----

struct WriteRequest {
  std::string verb = "POST";
  std::optional<Val> headers;
  std::optional<Val> data;
};

// [] | [method] | [method [headers]] | [method [headers] data] | [method data]
// is not accepted: the element after the method must be the header block.
WriteRequest request_of_block(Val spec) {
  WriteRequest parsed;
  const uint32_t count = block::count(*spec);
  if (count == 0) {
    parsed.verb = "GET";
    return parsed;
  }
  Val method = stack::push(*block::at(*spec, 0));
  if (!cell::is(*method, TypeId::word)) error::raise(error_id::script::invalid_arg, *method);
  parsed.verb = verb_of(*method);
  if (count > 1) {
    Val headers = stack::push(*block::at(*spec, 1));
    if (!cell::is(*headers, TypeId::block)) error::raise(error_id::script::invalid_arg, *headers);
    parsed.headers = headers;
  }
  if (count > 2) parsed.data = stack::push(*block::at(*spec, 2));
  return parsed;
}

// Data that a request can carry: none, a string! or a binary!. A block!
// has no byte form of its own, and sending nothing for it would lose the
// script's data without a word, so it is refused like any other type.
void check_data(Val data) {
  const TypeId type = cell::type_of(*data);
  if (type != TypeId::none && type != TypeId::string && type != TypeId::binary)
    error::raise(error_id::script::invalid_arg, *data);
}

// ---- the actions ----

void read(Val url, const ReadOptions& options) {
  if (options.part || options.seek || options.as) error::raise(error_id::internal::not_done);
  request(url, "GET", std::nullopt, std::nullopt, {options.binary, options.lines, options.info});
}

void write(Val url, Val value, const WriteOptions& options) {
  if (options.seek || options.allow || options.as) error::raise(error_id::internal::not_done);
  const uint32_t depth = stack::depth();
  WriteRequest parsed;
  if (cell::is(*value, TypeId::block)) parsed = request_of_block(value);
  else parsed.data = value;
  if (parsed.data) check_data(*parsed.data);
  request(url, parsed.verb, parsed.headers, parsed.data, {options.binary, options.lines, options.info});
  stack::drop_to(depth);
}

}  // namespace

void install() { url_io::set_http_service({.read = read, .write = write}); }

}  // namespace kiv::http_actions
