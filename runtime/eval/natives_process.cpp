// call: runs another program (os_process.h does the system's part).
//
// What goes in and out. A string! given as input is sent as its UTF-8 from
// its index, a binary! as its bytes from its index, a file! names a file
// to read. Captured output is added at the tail of the string! (decoded
// from UTF-8) or binary! given for it; a file! given for an output gets it
// added at its end. Without /output or /error that stream goes to the null
// device; without /input the child reads our standard input.
#include "runtime/eval/natives_process.h"

#include <optional>
#include <string>

#include "runtime/core/error_raise.h"
#include "runtime/core/memory.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/native_args.h"
#include "runtime/os_process.h"

namespace kiv::natives {
namespace {

using namespace native_args;
namespace process = os::process;

enum class CallRefinement { wait, show, console, shell, input, output, error };

// The bytes of a path or a command for the system (a file! keeps the raw
// bytes of names that are not UTF-8). A name with NUL in it reaches no
// file; the open then fails as for any missing file.
std::string os_text(const Cell& value) { return file::os_path(value); }

process::Input input_from(const Cell& value) {
  process::Input input;
  if (cell::is(value, TypeId::file)) {
    input.from = process::InputFrom::file;
    input.path = os_text(value);
  } else {
    input.from = process::InputFrom::data;
    input.data = cell::is(value, TypeId::binary) ? binary::bytes_from_index(value) : string::to_utf8(value);
  }
  return input;
}

process::Output output_to(std::optional<Val> target) {
  process::Output output;
  if (!target) return output;
  if (cell::is(**target, TypeId::file)) {
    output.to = process::OutputTo::file;
    output.path = os_text(**target);
  } else {
    output.to = process::OutputTo::capture;
  }
  return output;
}

// Adds captured bytes at the tail of the target: a binary! takes them as
// they are, a string! as UTF-8 text. Both add after what the target holds,
// so that outputs gathered over several calls keep their order.
void add_captured(Val target, const std::string& bytes) {
  if (bytes.empty()) return;
  if (bytes.size() > memory::max_capacity) error::raise(error_id::internal::no_memory);
  if (cell::is(*target, TypeId::binary)) {
    binary::append_bytes(target, bytes);
  } else {
    string::append_utf8(target, bytes);
  }
}

}  // namespace

// An empty command runs nothing and succeeds at once. /show has nothing to
// do here: a child's windows are its own business on this system.
Flow native_call(const int32_t* refinements) {
  using enum CallRefinement;
  const Cell command = *arg(0);
  if (series::length_from(command) == 0) return answer(integer::make(0));
  // The system has no console of its own to hand to the child.
  if (used(refinements, console)) error::raise(error_id::internal::not_done);

  process::Request request;
  request.command = os_text(command);
  request.shell = used(refinements, shell);
  request.wait = used(refinements, wait);
  if (const auto in = refinement_if_used(refinements, input)) request.input = input_from(**in);
  const auto out = refinement_if_used(refinements, output);
  const auto err = refinement_if_used(refinements, error);
  request.output = output_to(out);
  request.error = output_to(err);

  const process::Result result = process::run(request);
  if (request.output.to == process::OutputTo::capture) add_captured(*out, request.output.captured);
  if (request.error.to == process::OutputTo::capture) add_captured(*err, request.error.captured);
  // The status of a child fits 32 bits; so does a process id.
  return answer(integer::make(static_cast<int32_t>(result.value)));
}

}  // namespace kiv::natives
