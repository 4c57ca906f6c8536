#include "runtime/io/http_reply.h"

#include <iconv.h>

#include <cctype>
#include <cerrno>
#include <memory>

namespace kiv::http {

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

std::vector<HeaderLine> header_lines(std::string_view text) {
  std::vector<HeaderLine> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (const size_t cr = line.find('\r'); cr != std::string_view::npos) line = line.substr(0, cr);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) continue;
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    lines.push_back({line.substr(0, colon), value});
  }
  return lines;
}

std::string charset_of(const std::vector<HeaderLine>& lines) {
  std::string charset;
  for (const HeaderLine& line : lines) {
    if (!same_name(line.name, "Content-Type")) continue;
    std::string value(line.value);
    for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t at = value.find("charset=");
    if (at == std::string::npos) continue;
    std::string_view rest = std::string_view(value).substr(at + 8);
    rest = rest.substr(0, rest.find(';'));
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.remove_suffix(1);
    if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') rest = rest.substr(1, rest.size() - 2);
    charset = rest;
  }
  return charset;
}

namespace {

struct IconvCloser {
  void operator()(void* handle) const { iconv_close(static_cast<iconv_t>(handle)); }
};

}  // namespace

std::string text_to_utf8(const std::string& bytes, const std::string& charset) {
  if (charset.empty() || charset == "utf-8" || charset == "utf8") return bytes;
  const iconv_t opened = iconv_open("UTF-8", charset.c_str());
  if (opened == reinterpret_cast<iconv_t>(-1)) return bytes;
  const std::unique_ptr<void, IconvCloser> converter(opened);
  std::string text(bytes.size() + bytes.size() / 2 + 16, '\0');
  char* in = const_cast<char*>(bytes.data());  // iconv's signature; it does not write there
  size_t in_left = bytes.size();
  size_t written = 0;
  // Converts the input, then writes what a stateful charset still holds;
  // the output grows when it runs out of room.
  for (;;) {
    char* out = text.data() + written;
    size_t out_left = text.size() - written;
    const bool flushing = in_left == 0;
    const size_t converted = flushing ? iconv(opened, nullptr, nullptr, &out, &out_left)
                                      : iconv(opened, &in, &in_left, &out, &out_left);
    written = text.size() - out_left;
    if (converted == static_cast<size_t>(-1)) {
      if (errno != E2BIG) return bytes;
      text.resize(text.size() * 2);
    } else if (flushing) {
      break;
    }
  }
  text.resize(written);
  return text;
}

}  // namespace kiv::http
