#include "runtime/error_raise.h"

#include <initializer_list>

#include "runtime/datatypes/block.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/stack.h"
#include "runtime/exits.h"
#include "runtime/series.h"

namespace kiv::error {
namespace {

Pending g_pending;

[[noreturn]] void raise_with(err::Code code, std::initializer_list<const Cell*> args) {
  Pending record;
  record.code = code;
  for (const Cell* arg : args) record.args[record.arg_count++] = *arg;
  for (uint8_t i = record.arg_count; i < 3; ++i) record.args[i] = Cell{cell::header(TypeId::none), 0, 0, 0};
  record.where = stack::call_depth() > 0 ? stack::caller_name() : Cell{cell::header(TypeId::none), 0, 0, 0};
  record.near = interpreter::code_position();
  g_pending = record;
  runtime::raise_exit(exit_code::error);
}

}  // namespace

const Pending& pending() { return g_pending; }

Cell make_value() {
  const Pending record = g_pending;
  Val fields = block::push_new(6);
  block::append(fields, Cell{cell::header(TypeId::integer), 0, record.code.value, 0});
  for (const Cell& arg : record.args) block::append(fields, arg);
  block::append(fields, record.near);
  block::append(fields, record.where);
  const Cell value{cell::header(TypeId::error), 0, series::node_of(*fields), 0};
  stack::pop(1);
  return value;
}
void clear_pending() { g_pending = Pending{}; }

void raise(err::Code code) { raise_with(code, {}); }
void raise(err::Code code, const Cell& arg1) { raise_with(code, {&arg1}); }
void raise(err::Code code, const Cell& arg1, const Cell& arg2) { raise_with(code, {&arg1, &arg2}); }
void raise(err::Code code, const Cell& arg1, const Cell& arg2, const Cell& arg3) {
  raise_with(code, {&arg1, &arg2, &arg3});
}

}  // namespace kiv::error
