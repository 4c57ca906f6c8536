// One synchronous HTTP or HTTPS request over libcurl, in plain C++ terms
// (no Kiv values): the url! actions (url_io.h) build a Request from a
// script's values and turn the Reply back into values.
//
// What goes on the wire:
// - the verb as given (GET, HEAD, POST or any other upper-case word);
// - the script's headers exactly, or, when it gave none, the three default
//   headers (default_headers); curl's own Content-Type and Expect headers
//   are suppressed, its Host and Accept headers are kept;
// - the body only for verbs other than GET and HEAD, and only when given.
// Redirects are followed (at most 10, to http and https only); TLS peers
// and host names are verified against the system's certificates; the body
// comes back as it was sent (no content decoding).
//
// Time limits: connecting may take `connect_seconds`, and a transfer that
// moves no byte for `stall_seconds` is given up, as a browser's request
// object does (60 s and 30 s). The environment variable KIV_HTTP_TIMEOUT,
// a whole number of seconds, replaces both when set (tests use it).
//
// Runs no Kiv code and allocates no series: safe to call with raw cells
// held elsewhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kiv::http {

using Headers = std::vector<std::pair<std::string, std::string>>;

struct Request {
  std::string verb;    // "GET", "HEAD", "POST", "PUT", ...
  std::string url;
  std::optional<Headers> headers;  // none: the default headers
  std::optional<std::string> body;
};

struct Reply {
  bool done = false;   // false: no reply came; `error` says why
  std::string error;
  int32_t status = 0;
  // The header lines of the last response (after redirects), each ended by
  // CR LF, without its status line.
  std::string header_text;
  std::string body;
};

// The headers sent when a request gives none, in order.
const Headers& default_headers();

struct Limits {
  long connect_seconds;
  long stall_seconds;
};
Limits limits();

// Bodies longer than this are refused (a binary! counts with 32 bits).
inline constexpr uint64_t max_body = 0x7FFFFFFF;

Reply perform(const Request& request);

}  // namespace kiv::http
