#include "runtime/io/http_request.h"

#include <cstdlib>
#include <memory>
#include <string_view>

#include "runtime/io/curl_library.h"

namespace kiv::http {
namespace {

constexpr long max_redirects = 10;
constexpr long default_connect_seconds = 60;
constexpr long default_stall_seconds = 30;

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_library::easy_cleanup(easy); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_library::slist_free_all(list); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;
using List = std::unique_ptr<curl_slist, ListDeleter>;

// Appends one line to a header list; false when curl has no memory.
bool add_line(List& list, const std::string& line) {
  curl_slist* grown = curl_library::slist_append(list.get(), line.c_str());
  if (grown == nullptr) return false;
  (void)list.release();
  list.reset(grown);
  return true;
}

// The script's headers as lines. A header given with an empty value goes
// out as "Name;", which is how curl sends an empty header rather than
// removing it.
bool header_lines(const Request& request, List& list) {
  const Headers& headers = request.headers ? *request.headers : default_headers();
  for (const auto& [name, value] : headers) {
    if (!add_line(list, value.empty() ? name + ";" : name + ": " + value)) return false;
  }
  // curl would add these two of its own; the request carries only what the
  // script gave (or the defaults, which name their own Content-Type).
  bool has_type = false;
  for (const auto& header : headers) {
    if (curl_library::same_text_caseless(header.first.c_str(), "Content-Type")) has_type = true;
  }
  if (!has_type && !add_line(list, "Content-Type:")) return false;
  return add_line(list, "Expect:");
}

// Collects the body; stops the transfer (by taking fewer bytes than given)
// once it would pass max_body.
size_t take_body(char* data, size_t size, size_t count, void* reply) {
  std::string& body = static_cast<Reply*>(reply)->body;
  const size_t bytes = size * count;
  if (body.size() + bytes > max_body) return 0;
  body.append(data, bytes);
  return bytes;
}

// Collects the header lines of the last response: a status line starts a
// new response (a redirect's or an interim one's lines are dropped) and is
// not kept itself.
size_t take_header(char* data, size_t size, size_t count, void* reply) {
  std::string& text = static_cast<Reply*>(reply)->header_text;
  const size_t bytes = size * count;
  const std::string_view line(data, bytes);
  if (line.starts_with("HTTP/")) {
    text.clear();
    return bytes;
  }
  if (line == "\r\n" || line == "\n") return bytes;
  if (text.size() + bytes > max_body) return 0;
  text.append(line);
  return bytes;
}

bool set_options(CURL* easy, const Request& request, const List& headers, Reply& reply, char* error_text) {
  const Limits timing = limits();
  bool ok = true;
  const auto set = [&ok](CURLcode code) { ok = ok && code == CURLE_OK; };
  set(curl_library::setopt(easy, CURLOPT_URL, request.url.c_str()));
  set(curl_library::setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https"));
  set(curl_library::setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
  // A redirect answered with 301, 302 or 303 turns a POST into a GET, as
  // browsers do; other verbs are kept.
  set(curl_library::setopt(easy, CURLOPT_FOLLOWLOCATION, 1L));
  set(curl_library::setopt(easy, CURLOPT_MAXREDIRS, max_redirects));
  set(curl_library::setopt(easy, CURLOPT_NOSIGNAL, 1L));
  set(curl_library::setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L));
  set(curl_library::setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L));
  set(curl_library::setopt(easy, CURLOPT_CONNECTTIMEOUT, timing.connect_seconds));
  set(curl_library::setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L));
  set(curl_library::setopt(easy, CURLOPT_LOW_SPEED_TIME, timing.stall_seconds));
  set(curl_library::setopt(easy, CURLOPT_HTTPHEADER, headers.get()));
  set(curl_library::setopt(easy, CURLOPT_ERRORBUFFER, error_text));
  set(curl_library::setopt(easy, CURLOPT_WRITEFUNCTION, take_body));
  set(curl_library::setopt(easy, CURLOPT_WRITEDATA, &reply));
  set(curl_library::setopt(easy, CURLOPT_HEADERFUNCTION, take_header));
  set(curl_library::setopt(easy, CURLOPT_HEADERDATA, &reply));

  const bool sends_body = request.body && request.verb != "GET" && request.verb != "HEAD";
  if (request.verb == "HEAD") {
    set(curl_library::setopt(easy, CURLOPT_NOBODY, 1L));
  } else if (request.verb == "POST" || sends_body) {
    // A POST always carries a body, empty when none was given.
    const std::string& body = sends_body ? *request.body : std::string();
    set(curl_library::setopt_large(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size())));
    set(curl_library::setopt(easy, CURLOPT_COPYPOSTFIELDS, body.c_str()));
    if (request.verb != "POST") set(curl_library::setopt(easy, CURLOPT_CUSTOMREQUEST, request.verb.c_str()));
  } else if (request.verb != "GET") {
    set(curl_library::setopt(easy, CURLOPT_CUSTOMREQUEST, request.verb.c_str()));
  }
  return ok;
}

long seconds_from_environment(long fallback) {
  const char* text = std::getenv("KIV_HTTP_TIMEOUT");
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const long seconds = std::strtol(text, &end, 10);
  if (*end != '\0' || seconds <= 0 || seconds > 86400) return fallback;
  return seconds;
}

}  // namespace

const Headers& default_headers() {
  static const Headers headers = {
      {"Content-Type", "application/x-www-form-urlencoded"},
      {"Accept-Charset", "UTF-8"},
      {"User-Agent", "Mozilla/5.0 (Windows NT 6.1; Win64; x64)"},
  };
  return headers;
}

Limits limits() {
  return {seconds_from_environment(default_connect_seconds), seconds_from_environment(default_stall_seconds)};
}

Reply perform(const Request& request) {
  Reply reply;
  if (!curl_library::load(reply.error)) return reply;
  Easy easy(curl_library::easy_init());
  List headers;
  if (!easy || !header_lines(request, headers)) {
    reply.error = "out of memory";
    return reply;
  }
  char error_text[CURL_ERROR_SIZE] = {};
  if (!set_options(easy.get(), request, headers, reply, error_text)) {
    reply.error = error_text[0] != '\0' ? error_text : "the request could not be set up";
    return reply;
  }
  const CURLcode code = curl_library::easy_perform(easy.get());
  if (code != CURLE_OK) {
    reply.error = error_text[0] != '\0' ? error_text : curl_library::easy_strerror(code);
    if (code == CURLE_WRITE_ERROR) reply.error = "the reply is too large";
    reply.body.clear();
    reply.header_text.clear();
    return reply;
  }
  long status = 0;
  curl_library::response_code(easy.get(), &status);
  reply.status = static_cast<int32_t>(status);
  reply.done = true;
  return reply;
}

}  // namespace kiv::http
