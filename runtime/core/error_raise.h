// Raising script errors from C++ code.
//
// Three names belong together: `error_id` holds the catalogue's ids
// (error_codes.h), `error` raises them (here), and `error_value` is the
// error! datatype that a caught error becomes (datatypes/error.h).
//
// `error::raise` records the error's catalogue code and up to three argument
// values, then sends the error exit outwards (exits.h) to the nearest
// construct that catches errors. The error! value itself is made from this
// record by whoever catches it, so that raising never allocates.
// `error::raise_value` sends an error! value that exists already (`do` of
// an error): the record then carries the value itself.
//
// The arguments are copied into the record before anything else happens, so
// they may point anywhere, even into a series buffer: raising is the one
// call that takes raw cells.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/error_codes.h"

namespace kiv::error {

struct Pending {
  error_id::Code code{0};
  uint8_t arg_count = 0;
  Cell args[3]{};  // roots of the collector while an error is in flight
  Cell where{};    // the word naming the call that raised it
  Cell near{};     // the block and index of the expression evaluated
  Cell value{};    // the error! value raised as it is, else none
  uint32_t call_depth = 0;  // the number of call frames when it was raised
};

// The error raised last.
const Pending& pending();
void clear_pending();
// Puts back a record taken from `pending` (code run in between, such as a
// tracer, may have raised and caught errors of its own). Its cells must
// have been kept alive meanwhile.
void restore_pending(const Pending& record);

// Finds where an error is raised: the word naming the running call, the
// block and index of the expression being evaluated and the depth of the
// call stack. The evaluator sets it; until then both cells are none and
// the depth 0.
using Locator = void (*)(Cell& where, Cell& near, uint32_t& call_depth);
void set_locator(Locator locator);

// Called with the new error's record in place, before the error leaves
// (the evaluation tracer's error event). It may run Kiv code; the record is
// put back afterwards, so the hook must keep its cells alive meanwhile. An
// exit it throws replaces the error.
using RaiseHook = void (*)();
void set_raise_hook(RaiseHook hook);

[[noreturn]] void raise(error_id::Code code);
[[noreturn]] void raise(error_id::Code code, const Cell& arg1);
[[noreturn]] void raise(error_id::Code code, const Cell& arg1, const Cell& arg2);
[[noreturn]] void raise(error_id::Code code, const Cell& arg1, const Cell& arg2, const Cell& arg3);
// Raises the error! value `error` itself, whose code is `code`.
[[noreturn]] void raise_value(const Cell& error, error_id::Code code);

}  // namespace kiv::error
