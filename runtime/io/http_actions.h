// read and write of http and https URLs: the url! actions
// (runtime/datatypes/url_io.h) hand a URL whose text starts with "http" to
// this service, which makes one synchronous request (http_request.h):
//   read        GET, no headers of the script's, no body.
//   write url value
//               a block! value describes the request: [] is a GET;
//               otherwise [method [headers] data], the method a word! (sent
//               upper-cased: 'patch goes out as PATCH), the header block and
//               the data optional; any other value is the data of a POST.
//               Data is none, a string! (sent as UTF-8) or a binary!.
//               Header names that are words go out as their spelling, other
//               names and values formed (a string! value as it is).
//   /binary     the body as a binary!; /lines a block! of its lines;
//               otherwise a string! decoded by the reply's charset (UTF-8
//               when it names none, or one the system does not know).
//   /info       [status headers body]: the status an integer!, the headers
//               a map! of word! names to string! values (a block! of them,
//               in order, for a name that comes more than once).
// The status is not examined: a 404 reply gives its body like a 200 one.
// When no reply comes (no connection, a bad URL, a scheme other than http
// and https, a time-out, TLS refused) access/no-connect is raised with the
// URL, and curl's reason as its second argument.
#pragma once

#include "runtime/core/gc_safety.h"
#include "runtime/io/http_request.h"

namespace kiv::http_actions {

struct ReplyShape {
  bool binary = false, lines = false, info = false;
};

// The value a reply gives a script, shaped by the refinements above: the
// body, or [status headers body] with `info`. May collect.
Cell reply_value(const http::Reply& reply, ReplyShape shape);

// Installs the service under url!'s read and write.
void install();

}  // namespace kiv::http_actions
