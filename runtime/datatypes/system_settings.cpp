#include "runtime/datatypes/system_settings.h"

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace kiv::system_settings {

Cell lookup(std::initializer_list<std::string_view> names) {
  const Cell* system = context::get(word::intern("system"));
  if (!system || !cell::is(*system, TypeId::object)) return none::make();
  Cell value = *system;
  for (const std::string_view name : names) {
    if (!cell::is(value, TypeId::object)) return none::make();
    value = object::select_value(value, symbol::make(name));
  }
  return value;
}

}  // namespace kiv::system_settings
