#include "runtime/error_raise.h"

#include <initializer_list>

#include "runtime/exits.h"

namespace kiv::error {
namespace {

Pending g_pending;

[[noreturn]] void raise_with(err::Code code, std::initializer_list<const Cell*> args) {
  Pending record;
  record.code = code;
  for (const Cell* arg : args) record.args[record.arg_count++] = *arg;
  g_pending = record;
  runtime::raise_exit(exit_code::error);
}

}  // namespace

const Pending& pending() { return g_pending; }
void clear_pending() { g_pending = Pending{}; }

void raise(err::Code code) { raise_with(code, {}); }
void raise(err::Code code, const Cell& arg1) { raise_with(code, {&arg1}); }
void raise(err::Code code, const Cell& arg1, const Cell& arg2) { raise_with(code, {&arg1, &arg2}); }
void raise(err::Code code, const Cell& arg1, const Cell& arg2, const Cell& arg3) {
  raise_with(code, {&arg1, &arg2, &arg3});
}

}  // namespace kiv::error
