#include "runtime/eval/base_words.h"

#include <string_view>
#include <utility>

#include "runtime/check.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"

namespace kiv::base_words {
namespace {

void set_global(std::string_view name, const Cell& value) {
  Val word = stack::push(word::intern(name));
  Val content = stack::push(value);
  context::set(word, content);
  stack::pop(2);
}

// any-type!: every type. The natives' specs name it; the library's
// typesets (number!, series! ...) are defined with the routines, in Kiv.
void define_any_type() {
  Cell any_type = typeset::make_empty();
  for (int id = 1; id < type_table_size; ++id) typeset::add(any_type, static_cast<TypeId>(id));
  set_global("any-type!", any_type);
}

// The typesets of the language by name, their members the families of the
// type traits table; library/routines.kiv makes the words of the same names
// (and tests/kiv/library/routines.kiv checks they agree).
using F = type_traits::Family;
constexpr std::pair<std::string_view, F> typesets[] = {
    {"number!", F::number},         {"planar!", F::planar},         {"any-point!", F::any_point},
    {"scalar!", F::scalar},         {"any-word!", F::any_word},     {"all-word!", F::all_word},
    {"any-list!", F::any_list},     {"any-path!", F::any_path},     {"any-block!", F::any_block},
    {"any-function!", F::any_function}, {"any-object!", F::any_object}, {"any-string!", F::any_string},
    {"series!", F::series},         {"immediate!", F::immediate},
};

}  // namespace

std::optional<Cell> builtin_typeset(uint32_t symbol_id) {
  const std::string_view name = symbol::spelling(symbol::resolve(symbol_id));
  for (const auto& [typeset_name, family] : typesets) {
    if (!symbol::equal_caseless(name, typeset_name)) continue;
    Cell set = typeset::make_empty();
    for (int id = 1; id < type_table_size; ++id)
      if (type_traits::is_in(static_cast<TypeId>(id), family)) typeset::add(set, static_cast<TypeId>(id));
    return set;
  }
  return std::nullopt;
}

void init() {
  for (int id = 1; id <= static_cast<int>(TypeId::event); ++id) {
    const auto type = static_cast<TypeId>(id);
    set_global(datatype::info(type).name, datatype::make(type));
  }
  define_any_type();
  set_global("none", none::make());
  set_global("true", logic::make(true));
  set_global("false", logic::make(false));
}

}  // namespace kiv::base_words
