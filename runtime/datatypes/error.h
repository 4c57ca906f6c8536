// error!: a script error as a value, an object of ten fixed fields.
//
// error! is a child type of object!, and its cell is an object's:
//   w1  node of the context: an object context of the ten fields below, in
//       this order, whose self cell holds a copy of the error
//   w2  class id, always 1
//   w3  0: an error has no change handlers
//
//   code        integer!: 100 x the category's position + the id's position
//               in the error catalogue (error_catalog.h, error_codes.h)
//   type, id    the words of the category and of the id
//   arg1..arg3  the message's arguments
//   near        the code near the failure: the block at the expression that
//               was being evaluated
//   where       the word (or a text) naming the call that failed
//   stack       the depth of the call stack when the error was raised
//               (integer!); once the trace is captured (`capture_trace`),
//               a block of the names of the calls
//   files       the source files being run when the trace was captured
//               (block!), else none
//
// Every error starts as a copy of the standard error, whose fields are all
// none. A raised error is made by whoever catches it, from the record that
// raising left (error_raise.h): raising itself never allocates.
//
// An error forms as its message and where it happened:
//
//   *** Script Error: x has no value
//   *** Where: foo
//   *** Near : x + 1
//   *** Stack: f g
//
// The category's title and the message come from the catalogue by the type
// and id words; a type or id that the catalogue lacks forms as an
// internal/invalid-error naming that word. The message is the template with
// the fields it names molded in (formed and cut at 80 characters in syntax
// errors); Where is the failing call ("???" when there is none), Near the
// code from the failing expression on, on one line, cut at 40 characters.
// The Stack line is there while the trace option is a positive integer: the
// captured trace, or for an error whose trace was not captured, the calls
// still running below the depth where it was raised. A Files line follows
// when `files` is a block.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"

namespace kiv::error_value {

enum Field : uint32_t { code, type, id, arg1, arg2, arg3, near, where, stack, files, field_count };

// Every error! value has this class id.
inline constexpr uint32_t class_id = 1;

void register_types();

// Builds the standard error and the trace options. Start-up, once the
// catalogue is loaded.
void init();

// Runtime options of the call traces. The script library's system object
// exposes them as system/state/stack-trace and system/state/source-files;
// until it exists they live here, and once it does these are the cells it
// must read and write.
//
// The trace level: an integer above 0 shows the Stack line when an error
// is formed, and is the level of the traces captured (1: only calls of
// function! values, 2 or more: every named call); anything else shows no
// Stack line and captures at level 1. Starts as 1.
Cell& stack_trace_option();
// The source files being run: a block that, when not empty, an error copies
// into its `files` field when its trace is captured. Starts as none.
Cell& source_files_option();
// From now on the two options are the fields stack-trace and source-files
// of `state` (system/state, an object! with both fields; else nothing
// changes). The object is kept alive. May collect.
void attach_options(const Cell& state);

// An error! of catalogue code `number`, as `make error!` of an integer
// makes it. Raises script/out-of-range for a code the catalogue lacks.
// May collect.
Cell make_from_code(int32_t number);

// A field of an error!, by value.
Cell field(const Cell& error, Field which);

// An error! value made from the pending error: for an error! value that
// was raised as it is, that value, its `where` set when it had none and its
// `stack` set to the depth where it was raised unless it holds a trace.
// May collect.
Cell make_from_pending();

// The same, its call trace captured: `stack` becomes a block of the names
// of the calls the error was raised in (at the level the trace option
// gives, 1 when it gives none), and `files` a copy of the source files
// when there are any. For `try/keep` and the console, which keep the
// trace of what they catch: they call it before they unroll the frames of
// the calls the error left, which the trace reads. It cuts the argument
// stack back to `kept_depth`, the catching construct's own cells, before
// it allocates (the cells above belong to the abandoned calls). May
// collect.
Cell make_from_pending_with_trace(uint32_t kept_depth);

// Raises the error! value itself (the `do` of an error).
[[noreturn]] void fire(const Cell& error);

}  // namespace kiv::error_value
