#include "runtime/core/stack.h"

#include "runtime/core/cycle.h"
#include "runtime/core/error_raise.h"

namespace kiv::stack {

Cell* ArgStack::begin_ = nullptr;
Cell* ArgStack::base_ = nullptr;
Cell* ArgStack::top_ = nullptr;
Cell* ArgStack::end_ = nullptr;

namespace {
Cell g_cells[argument_cells];
}

void ArgStack::init() {
  begin_ = g_cells;
  base_ = top_ = begin_;
  end_ = begin_ + argument_cells;
}

void ArgStack::overflow() {
  // Leave five cells of room so that handling the error can push values.
  top_ = top_ - 5 < begin_ ? begin_ : top_ - 5;
  cycle::reset();
  error::raise(error_id::internal::stack_overflow);
}

}  // namespace kiv::stack
