#include "runtime/datatypes/coordinates.h"

#include <string>

#include "runtime/core/exits.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/eval/lexer.h"

namespace kiv::coordinates {

int axis_of_word(const Cell& word, int axes) {
  if (!type_traits::is_all_word(cell::type_of(word))) return 0;
  const std::string_view name = symbol::spelling(symbol::resolve(word.w2));
  static constexpr std::string_view names[] = {"x", "y", "z"};
  for (int axis = 0; axis < axes && axis < 3; ++axis)
    if (symbol::equal_caseless(name, names[axis])) return axis + 1;
  return 0;
}

std::optional<Cell> load_one(const Cell& text) {
  const std::string utf8 = string::to_utf8(text);
  const uint32_t depth = stack::depth();
  Cell value = unset::make();
  bool one = false;
  // A syntax error is only "no value" here: the caller raises its own
  // conversion error.
  const uint32_t code = runtime::catch_exits(threshold::try_error, [&] {
    Val values = lexer::scan(utf8);
    if (block::count(*values) == 1) {
      value = *block::at(*values, 0);
      one = true;
    }
  });
  stack::ArgStack::drop_to(depth);
  if (code != 0 && code != exit_code::error) runtime::raise_exit(code);
  if (!one) return std::nullopt;
  return value;
}

bool fits_int32(double number) { return number > -2147483649.0 && number < 2147483648.0; }

double number_of(const Cell& value) {
  switch (cell::type_of(value)) {
    case TypeId::integer:
    case TypeId::char_:
      return cell::get_int32(value);
    default:
      return cell::get_double(value);
  }
}

}  // namespace kiv::coordinates
