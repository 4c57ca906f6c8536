#include "runtime/datatypes/url_io.h"

#include <string>

#include "runtime/core/error_raise.h"
#include "runtime/core/exits.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/interpreter.h"

namespace kiv::url_io {
namespace {

HttpService http_service;

bool served_by_http(const Cell& url) { return string::to_utf8(url).starts_with("http"); }

// The object of parts that url-parser/parse-url makes of `url`, or
// whatever else it answers, as the newest cell. Runs Kiv code.
Val push_parts(Val url) {
  const Cell owner = word::intern("url-parser");
  const Cell parser = *context::get(owner);
  const Cell function =
      cell::is(parser, TypeId::object) ? object::select_value(parser, symbol::make("parse-url")) : none::make();
  if (!cell::is(function, TypeId::function)) error::raise(error_id::script::no_value, owner);
  Val callee = stack::push(function);
  const Cell arguments[] = {*url};
  stack::mark_function(word::intern("parse-url"), callee->w1, stack::frame::function);
  interpreter::push_arguments(*callee, arguments);
  if (interpreter::call_function(*callee) != Flow::normal) runtime::throw_pending();
  stack::unwind();
  return stack::last();
}

// Replaces the URL in `slot` by the port made for it, not opened yet.
void make_port(Val slot) {
  const uint32_t depth = stack::depth();
  Val parts = push_parts(slot);
  if (!cell::is(*parts, TypeId::object)) error::raise(error_id::script::invalid_arg, *slot);
  Val port = stack::push(none::make());
  datatype::actions(TypeId::port).make(port, parts, TypeId::port);
  *slot = *port;
  stack::drop_to(depth);
}

void open(Val url, const OpenOptions& options) {
  make_port(url);
  datatype::actions(TypeId::port).open(url, options);
}

void read(Val source, const ReadOptions& options) {
  if (served_by_http(*source)) {
    if (http_service.read == nullptr) error::raise(error_id::internal::not_done);
    return http_service.read(source, options);
  }
  make_port(source);
  datatype::actions(TypeId::port).read(source, options);
}

void write(Val destination, Val data, const WriteOptions& options) {
  if (served_by_http(*destination)) {
    if (http_service.write == nullptr) error::raise(error_id::internal::not_done);
    return http_service.write(destination, data, options);
  }
  make_port(destination);
  datatype::actions(TypeId::port).write(destination, data, options);
}

}  // namespace

void set_http_service(const HttpService& service) { http_service = service; }

void register_actions() {
  datatype::supply_actions(TypeId::url, {.open = open, .read = read, .write = write});
}

}  // namespace kiv::url_io
