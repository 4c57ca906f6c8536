// The mold of a value as UTF-8 text, cut at a budget so that a small input
// cannot ask for a huge text (a block that holds another many times over).
#pragma once

#include <string>

#include "runtime/core/stack.h"
#include "runtime/datatypes/string.h"
#include "runtime/mold.h"

namespace kiv::fuzz {

inline std::string mold_text(const Cell& value, int32_t budget = 1 << 16) {
  const uint32_t base = stack::depth();
  Val held = stack::push(value);
  Val out = string::push_new(64);
  MoldOptions options;
  options.all = true;
  mold::mold_value(held, out, options, budget);
  std::string text = string::to_utf8(*out);
  stack::drop_to(base);
  return text;
}

}  // namespace kiv::fuzz
