// A server's reply turned into the values scripts see, without the network:
// the input is the header text up to its first empty line (each line ended
// by CR LF, as the transfer keeps them), then the body. The header lines
// are split into names and values, the charset found, the body decoded by
// it, and the reply shaped as read/info, read/info/lines and read/binary
// give it.
#include <string>
#include <string_view>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/io/http_actions.h"
#include "runtime/io/http_reply.h"
#include "tests/fuzz/fuzz_runtime.h"
#include "tests/fuzz/mold_text.h"

using namespace kiv;

namespace {

bool valid_utf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<uint8_t>(text[i]);
    size_t more = 0;
    uint32_t code = 0, least = 0;
    if (lead < 0x80) more = 0, code = lead;
    else if ((lead & 0xE0) == 0xC0) more = 1, code = lead & 0x1F, least = 0x80;
    else if ((lead & 0xF0) == 0xE0) more = 2, code = lead & 0x0F, least = 0x800;
    else if ((lead & 0xF8) == 0xF0) more = 3, code = lead & 0x07, least = 0x10000;
    else return false;
    if (more > text.size() - i - 1) return false;
    for (size_t k = 1; k <= more; ++k) {
      const auto next = static_cast<uint8_t>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += more + 1;
  }
  return true;
}

void check_lines(std::string_view header_text, const std::vector<http::HeaderLine>& lines) {
  const auto inside = [&](std::string_view part) {
    return part.data() >= header_text.data() && part.data() + part.size() <= header_text.data() + header_text.size();
  };
  for (const http::HeaderLine& line : lines) {
    if (line.name.empty() || !inside(line.name) || !inside(line.value)) fuzz::fail("a header line outside the text");
    if (line.name.find_first_of(":\r\n") != std::string_view::npos) fuzz::fail("a header name holds a separator");
    if (line.value.find_first_of("\r\n") != std::string_view::npos) fuzz::fail("a header value holds a line end");
    if (!line.value.empty() && (line.value.front() == ' ' || line.value.front() == '\t'))
      fuzz::fail("a header value starts with a blank");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::start_runtime();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t blank = input.find("\r\n\r\n");
  http::Reply reply;
  reply.done = true;
  reply.status = 200;
  reply.header_text = input.substr(0, blank == std::string_view::npos ? size : blank + 2);
  reply.body = blank == std::string_view::npos ? std::string() : std::string(input.substr(blank + 4));

  const std::vector<http::HeaderLine> lines = http::header_lines(reply.header_text);
  check_lines(reply.header_text, lines);
  const std::string charset = http::charset_of(lines);
  for (const char c : charset)
    if ((c >= 'A' && c <= 'Z') || c == ';') fuzz::fail("the charset is not lower-cased or holds a ;");
  const std::string text = http::text_to_utf8(reply.body, charset);
  if (text != reply.body && !valid_utf8(text)) fuzz::fail("a body decoded by its charset is not UTF-8");

  // Invalid UTF-8 in a text body raises an error: an answer, not a fault.
  for (const http_actions::ReplyShape shape : {http_actions::ReplyShape{.info = true},
                                               http_actions::ReplyShape{.lines = true, .info = true}})
    fuzz::run([&] {
      Val value = stack::push(http_actions::reply_value(reply, shape));
      if (!cell::is(*value, TypeId::block) || block::count(*value) != 3) fuzz::fail("/info is not [status headers body]");
      fuzz::mold_text(*value);
    });
  fuzz::run([&] {
    Val value = stack::push(http_actions::reply_value(reply, {.binary = true}));
    if (binary::bytes_from_index(*value) != reply.body) fuzz::fail("/binary changes the body");
  });
  return 0;
}
