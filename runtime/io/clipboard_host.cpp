#include "runtime/io/clipboard_host.h"

#include <optional>
#include <utility>

namespace kiv::clipboard {
namespace {

Host* given_host = nullptr;

ProcessHost& process_host() {
  static ProcessHost own;
  return own;
}

bool unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The bytes of a percent-encoded text; a "%" without two hexadecimal
// digits stays as it is.
std::string percent_decoded(std::string_view text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = hex_digit(text[i + 1]);
      const int low = hex_digit(text[i + 2]);
      if (high >= 0 && low >= 0) {
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    bytes += text[i];
  }
  return bytes;
}

bool starts_with_caseless(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    const char a = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
    if (a != prefix[i]) return false;
  }
  return true;
}

// The local path of one URI: file:///path or file://localhost/path.
std::optional<std::string> local_path(std::string_view uri) {
  if (!starts_with_caseless(uri, "file://")) return std::nullopt;
  std::string_view rest = uri.substr(7);
  if (starts_with_caseless(rest, "localhost/")) rest.remove_prefix(9);
  if (rest.empty() || rest.front() != '/') return std::nullopt;  // another host
  std::string path = percent_decoded(rest);
  if (path.find('\0') != std::string::npos) return std::nullopt;
  return path;
}

}  // namespace

Host& host() { return given_host != nullptr ? *given_host : process_host(); }

void set_host(Host* given) { given_host = given; }

bool ProcessHost::open() {
  if (open_) return false;
  open_ = true;
  return true;
}

void ProcessHost::close() { open_ = false; }

Fetched ProcessHost::fetch(std::string_view type) {
  for (const Item& item : items_) {
    if (item.type == type) return {Fetched::State::present, item.bytes};
  }
  return {};
}

bool ProcessHost::replace(std::vector<Item> items) {
  items_ = std::move(items);
  return true;
}

std::string encode_uri_list(const std::vector<std::string>& paths) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string list;
  for (const std::string& path : paths) {
    list += "file://";
    for (const char c : path) {
      const auto byte = static_cast<unsigned char>(c);
      if (unreserved(byte) || c == '/') {
        list += c;
      } else {
        list += '%';
        list += digits[byte >> 4];
        list += digits[byte & 15];
      }
    }
    list += "\r\n";
  }
  return list;
}

std::vector<std::string> decode_uri_list(std::string_view list) {
  std::vector<std::string> paths;
  while (!list.empty()) {
    const size_t end = list.find('\n');
    std::string_view line = list.substr(0, end);
    list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    if (std::optional<std::string> path = local_path(line)) paths.push_back(std::move(*path));
  }
  return paths;
}

}  // namespace kiv::clipboard
