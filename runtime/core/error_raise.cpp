#include "runtime/core/error_raise.h"

#include <initializer_list>

#include "runtime/core/exits.h"

namespace kiv::error {
namespace {

Pending g_pending;
Locator g_locator = nullptr;
RaiseHook g_raise_hook = nullptr;

constexpr Cell none_cell{cell::header(TypeId::none), 0, 0, 0};

[[noreturn]] void raise_with(error_id::Code code, std::initializer_list<const Cell*> args, const Cell& value) {
  Pending record;
  record.code = code;
  for (const Cell* arg : args) record.args[record.arg_count++] = *arg;
  for (uint8_t i = record.arg_count; i < 3; ++i) record.args[i] = none_cell;
  record.where = record.near = none_cell;
  record.value = value;
  if (g_locator) g_locator(record.where, record.near, record.call_depth);
  g_pending = record;
  if (g_raise_hook) {
    g_raise_hook();
    g_pending = record;
  }
  runtime::raise_exit(exit_code::error);
}

}  // namespace

const Pending& pending() { return g_pending; }

void set_locator(Locator locator) { g_locator = locator; }
void clear_pending() { g_pending = Pending{}; }
void restore_pending(const Pending& record) { g_pending = record; }
void set_raise_hook(RaiseHook hook) { g_raise_hook = hook; }

void raise(error_id::Code code) { raise_with(code, {}, none_cell); }
void raise(error_id::Code code, const Cell& arg1) { raise_with(code, {&arg1}, none_cell); }
void raise(error_id::Code code, const Cell& arg1, const Cell& arg2) { raise_with(code, {&arg1, &arg2}, none_cell); }
void raise(error_id::Code code, const Cell& arg1, const Cell& arg2, const Cell& arg3) {
  raise_with(code, {&arg1, &arg2, &arg3}, none_cell);
}
void raise_value(const Cell& error, error_id::Code code) { raise_with(code, {}, error); }

}  // namespace kiv::error
