// The I/O actions of url!: open, read and write.
//
// A URL whose text starts with "http" (so also "https") belongs to the
// HTTP request service. Any other URL stands for a port: the library's
// url-parser/parse-url splits it into its parts, and that object is the
// spec of the port made for it (a URL the parser does not read raises
// script/invalid-arg with the URL). open makes the port and opens it;
// read and write call the port's own read and write with the same
// arguments.
#pragma once

#include "runtime/datatypes/actions.h"

namespace kiv::url_io {

// The HTTP request service's read and write, installed from the I/O layer
// (runtime/io/http_actions.h) at start-up; until then a read or write of
// an http URL raises internal/not-done.
struct HttpService {
  action::ReadFn read = nullptr;
  action::WriteFn write = nullptr;
};
void set_http_service(const HttpService& service);

// Gives url! its I/O actions; url! and port! must be registered.
void register_actions();

}  // namespace kiv::url_io
