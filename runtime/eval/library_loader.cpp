#include "runtime/eval/library_loader.h"

#include <cstdlib>
#include <string>

#include "runtime/console_output.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/exits.h"
#include "runtime/core/stack.h"
#include "runtime/core/state.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/error_catalog.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/script.h"
#include "runtime/mold.h"
#include "runtime/os.h"

namespace kiv::library_loader {
namespace {

// The status of an error that nothing caught: -2, in 8 bits.
constexpr int status_uncaught_error = 254;

[[noreturn]] void fail(std::string_view source_name, const std::string& why) {
  output::flush();
  const std::string text = "*** Library error in " + std::string(source_name) + ":\n" + why + "\n";
  (void)os::write_all(2, text.data(), text.size());
  std::exit(status_uncaught_error);
}

// The formed text of the pending error. Forming can fail in turn (a value
// in its `near` that cannot be molded yet): the error's category and id
// then stand for it.
std::string pending_error_text() {
  runtime::state.pending = 0;
  stack::unroll_to(0);
  const error_id::Code code = error::pending().code;
  try {
    Val error = stack::push(error_value::make_from_pending());
    Val out = string::push_new(64);
    mold::form_value(error, out, 1 << 20);
    return string::to_utf8(*out);
  } catch (const Unwind&) {
    runtime::state.pending = 0;
    stack::unroll_to(0);
    return "*** " + std::string(error_catalog::category_name(static_cast<uint32_t>(code.category()))) + "/" +
           std::string(error_catalog::id_name(code)) + " (the error cannot be formed)";
  }
}

// A source's code after its header: decoded from its packed values when
// the build packed them (kiv-pack checked they are the lexer's), else
// lexed from its text.
Val load(const embedded::Source& source, Unpack unpack) {
  const std::string_view packed = source.packed && unpack ? source.packed() : std::string_view();
  if (packed.empty()) return script::load(source.text());
  Val values = block::push_new(1);
  unpack(packed, values);
  Val code = stack::push(*block::at(*values, 0));
  script::skip_header(code);
  return code;
}

void run_one(const embedded::Source& source, Unpack unpack) {
  try {
    Val code = load(source, unpack);
    const Flow flow = interpreter::eval_block(*code, true);
    if (flow != Flow::normal) fail(source.name, "a non-local exit left the file");
  } catch (const Unwind& unwind) {
    // A throw, break or return that nothing caught goes on to the top
    // handler, which reports it as the runtime does for any script.
    if (unwind.code != exit_code::error) throw;
    fail(source.name, pending_error_text());
  }
  stack::drop_to(0);
}

}  // namespace

void run(std::span<const embedded::Source> sources, Unpack unpack) {
  runtime::state.loading_library = true;
  for (const embedded::Source& source : sources) run_one(source, unpack);
  runtime::state.loading_library = false;
  // `builtin` hands out the runtime's routines to the library alone.
  Val word = stack::push(word::intern("builtin"));
  Val nothing = stack::push(unset::make());
  context::set(word, nothing);
  stack::drop_to(0);
}

}  // namespace kiv::library_loader
